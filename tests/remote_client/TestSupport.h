// Helpers of the check tests: the loopback servers, a settable clock and a message pump with a bound.
#pragma once

#include "InterfaceObjects.h"
#include "Strings.h"
#include "UCheckSettings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

// A Unix path as the Windows side sees it (the programs run under Wine); other paths are returned as they are.
inline std::wstring DosPath(const std::string& path)
{
    using TConvert = WCHAR*(CDECL*)(LPCSTR);
    if (path.empty() || path[0] != '/')
        return Utf8ToWide(path);
    auto convert = reinterpret_cast<TConvert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!convert)
        return Utf8ToWide(path);
    WCHAR* dos = convert(path.c_str());
    if (!dos)
        return Utf8ToWide(path);
    std::wstring result = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}

// The ports of the loopback servers that tests/servers/launch.py started (see tests/remote_client/CMakeLists.txt).
class TTestServers {
public:
    static const TTestServers& Get()
    {
        static TTestServers servers;
        return servers;
    }
    int Port(const std::string& name) const
    {
        auto it = ports_.find(name);
        if (it == ports_.end())
            throw std::runtime_error("no test server " + name);
        return it->second;
    }
    std::wstring Http(const std::wstring& path) const { return Url(L"http", Port("http"), path); }
    std::wstring Https(const std::wstring& path) const { return Url(L"https", Port("https"), path); }
    std::wstring Hang(const std::wstring& path = L"/") const { return Url(L"http", Port("hang"), path); }
    std::wstring Refused(const std::wstring& path = L"/") const { return Url(L"http", Port("refused"), path); }

private:
    TTestServers()
    {
        const char* file = std::getenv("MENDREL_TEST_SERVERS");
        if (!file)
            throw std::runtime_error("MENDREL_TEST_SERVERS is not set: start the servers with "
                                     "tests/servers/launch.py start DIR and point it at DIR/ports.txt");
        std::ifstream in(std::filesystem::path(DosPath(file)));
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                ports_[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
        }
        if (ports_.empty())
            throw std::runtime_error(std::string("no ports in ") + file);
    }
    static std::wstring Url(const std::wstring& scheme, int port, const std::wstring& path)
    {
        return scheme + L"://127.0.0.1:" + std::to_wstring(port) + path;
    }
    std::map<std::string, int> ports_;
};

// Settings objects of active items, as the settings file would give them.
inline std::shared_ptr<TCheckSiteSettings> SiteSettings(const std::wstring& url, const std::wstring& code,
                                                        int interval = 5)
{
    auto settings = std::make_shared<TCheckSiteSettings>(nullptr, "Site");
    settings->Active = true;
    settings->URL = url;
    settings->CodeToCheck = code;
    settings->CheckIntevalMinutes = interval;
    return settings;
}

inline std::shared_ptr<TCheckServerSettings> ServerSettings(const std::wstring& url, const std::wstring& user = L"",
                                                            const std::wstring& password = L"")
{
    auto settings = std::make_shared<TCheckServerSettings>(nullptr, "Server");
    settings->Active = true;
    settings->URL = url;
    settings->Username = user;
    settings->Password = password;
    settings->CheckIntevalMinutes = 5;
    return settings;
}

// A clock that tests set by hand.
class TTestClock {
public:
    explicit TTestClock(TDateTime start) : now_(std::make_shared<TDateTime>(start)) {}
    std::function<TDateTime()> Function() const
    {
        auto now = now_;
        return [now] { return *now; };
    }
    void Set(TDateTime t) { *now_ = t; }
    void AdvanceSeconds(double seconds) { *now_ += seconds / 86400.0; }
    TDateTime Now() const { return *now_; }

private:
    std::shared_ptr<TDateTime> now_;
};

// A date-time from its parts.
inline TDateTime At(int year, int month, int day, int hour, int minute, int second = 0)
{
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return SystemTimeToDateTime(st);
}

// Dispatches the main thread's messages until done() or the time is up; true when done() became true.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)),
                                  QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}
