// The program as a process: its command line decides whether its window shows, and a failed start shows
// its message in a box and ends with a non-zero exit code before any window.
#include "GuiHarness.h"
#include "MainWindowSupport.h"

#include "ShellFolders.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#ifndef MENDREL_REMOTE_CLIENT_EXE
#error "MENDREL_REMOTE_CLIENT_EXE names the program under test; the build defines it"
#endif

namespace {

const wchar_t kMainCaption[] = L"Dravex Mendrel Remote Client";

std::wstring ProgramPath()
{
    std::string path = MENDREL_REMOTE_CLIENT_EXE;
    std::wstring wide(path.begin(), path.end());
    if (!wide.empty() && wide[0] == L'/') {
        // The build runs on the Unix side of Wine; its Z: drive is the Unix root.
        wide = L"Z:" + wide;
        std::replace(wide.begin(), wide.end(), L'/', L'\\');
    }
    return wide;
}

// The started program; ended by force at the end of the test if it is still running.
class TProgram {
public:
    explicit TProgram(const std::wstring& arguments)
    {
        std::wstring line = L"\"" + ProgramPath() + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            throw std::runtime_error("The program did not start");
        process_.reset(info.hProcess);
        ::CloseHandle(info.hThread);
        id_ = info.dwProcessId;
    }
    ~TProgram()
    {
        if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_.get(), 99);
            ::WaitForSingleObject(process_.get(), 10000);
        }
    }
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    DWORD Id() const { return id_; }
    // The first top-level window of the program with that class and caption, waiting up to timeoutMs.
    HWND WaitForWindow(const wchar_t* className, const wchar_t* caption, int timeoutMs = 20000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (HWND window = gui::FindTopLevel(className, caption, id_))
                return window;
            if (::WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0)
                return gui::FindTopLevel(className, caption, id_);
        }
        return nullptr;
    }
    void WaitUntilIdle() const { ::WaitForInputIdle(process_.get(), 20000); }
    // The exit code, or STILL_ACTIVE when it did not end within timeoutMs.
    DWORD WaitForExit(int timeoutMs = 20000) const
    {
        ::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeoutMs));
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

TEST(RemoteClientProgram, HideAsTheLastWordShowsTheErrorAndExitsNonZero)
{
    TProgram program(L"Hide");
    HWND box = program.WaitForWindow(L"#32770", L"Mendrel Remote Client");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui::MessageBoxText(box), L"Parameter name \"Hide\" not found in application path");
    EXPECT_EQ(gui::FindTopLevel(nullptr, kMainCaption, program.Id()), nullptr);

    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DWORD code = program.WaitForExit();
    EXPECT_NE(code, STILL_ACTIVE);
    EXPECT_NE(code, 0u);
}

TEST(RemoteClientProgram, HideWordDecidesWhetherTheWindowShows)
{
    struct Case {
        const wchar_t* arguments;
        bool shown;
    };
    const Case cases[] = {{L"", true}, {L"Hide True", false}, {L"Hide No", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "arguments \"" << std::string(c.arguments, c.arguments + wcslen(c.arguments))
                                        << "\"");
        TProgram program(c.arguments);
        HWND window = program.WaitForWindow(nullptr, kMainCaption);
        ASSERT_NE(window, nullptr);
        program.WaitUntilIdle();
        bool shown = false;
        for (int waited = 0; waited < 3000 && !shown; waited += 50) {
            shown = ::IsWindowVisible(window) != FALSE;
            ::Sleep(50);
        }
        EXPECT_EQ(shown, c.shown);

        // Closing the window, shown or not, ends the program normally.
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.WaitForExit(), 0u);
    }
}

// A settings folder of the test's own, named to the started program through the settings-folder variable; the
// user's own settings are never touched.
class TUserSettingsGuard {
public:
    TUserSettingsGuard() : folder_(scratch_.File(L"MendrelRemoteClient"))
    {
        ::SetEnvironmentVariableW(kSettingsFolderVariable, folder_.c_str());
    }
    ~TUserSettingsGuard() { ::SetEnvironmentVariableW(kSettingsFolderVariable, nullptr); }
    TUserSettingsGuard(const TUserSettingsGuard&) = delete;
    TUserSettingsGuard& operator=(const TUserSettingsGuard&) = delete;

    void Write(const std::string& content) const
    {
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        std::wstring file = folder_ + L"\\Settings.xml";
        HANDLE h =
            ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        ::CloseHandle(h);
    }

private:
    TTestFolder scratch_;
    std::wstring folder_;
};

BOOL CALLBACK AddListRowCount(HWND child, LPARAM rows)
{
    wchar_t name[32] = {};
    ::GetClassNameW(child, name, 32);
    if (::lstrcmpiW(name, WC_LISTVIEWW) == 0)
        reinterpret_cast<std::vector<int>*>(rows)->push_back(gui::RowCount(child));
    return TRUE;
}

TEST(RemoteClientProgram, ClosingWithChecksHangingEndsTheProgramAtOnce)
{
    TUserSettingsGuard settings;
    std::vector<TServerItem> servers;
    for (int i = 0; i < 30; ++i)
        servers.push_back({"Item" + std::to_string(i), TTestServers::Get().Hang(), true, 10, "", ""});
    settings.Write(SettingsXml(servers, {{"Item30", TTestServers::Get().Hang(L"/page"), true, 10, "Welcome"}}));

    TProgram program(L"");
    HWND window = program.WaitForWindow(nullptr, kMainCaption);
    ASSERT_NE(window, nullptr);
    program.WaitUntilIdle();
    // The three lists: the servers, the sites and a status row for each of them.
    std::vector<int> rows;
    ::EnumChildWindows(window, AddListRowCount, reinterpret_cast<LPARAM>(&rows));
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<int>{1, 30, 31}));

    // Each of these checks would wait a minute for its answer; the program does not wait for them.
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(15000), 0u);
}

} // namespace
