// The main window on a settings file of the test's own, with a settable clock, short retrievals and the
// loopback servers: what the window tests share.
#pragma once

#include "URemoteClientMainFM.h"

#include "GuiHarness.h"
#include "StoreTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline const char kTestProgram[] = "C:\\Program Files\\Mendrel\\MendrelRemoteClient.exe";

// Element texts for a settings file written by hand.
struct TServerItem {
    std::string Name;
    std::wstring URL;
    bool Active = true;
    int Interval = 10;
    std::string Username;
    std::string Password;
};

struct TSiteItem {
    std::string Name;
    std::wstring URL;
    bool Active = true;
    int Interval = 10;
    std::string Code;
};

inline std::string SettingsXml(const std::vector<TServerItem>& servers, const std::vector<TSiteItem>& sites)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Options>";
    if (!servers.empty()) {
        xml += "<Servers>";
        for (const auto& s : servers)
            xml += "<" + s.Name + "><Active>" + (s.Active ? "True" : "False") + "</Active><URL>" + WideToUtf8(s.URL) +
                   "</URL><CheckIntevalMinutes>" + std::to_string(s.Interval) + "</CheckIntevalMinutes><Username>" +
                   s.Username + "</Username><Password>" + s.Password + "</Password></" + s.Name + ">";
        xml += "</Servers>";
    }
    if (!sites.empty()) {
        xml += "<Sites>";
        for (const auto& s : sites)
            xml += "<" + s.Name + "><Active>" + (s.Active ? "True" : "False") + "</Active><URL>" + WideToUtf8(s.URL) +
                   "</URL><CheckIntevalMinutes>" + std::to_string(s.Interval) + "</CheckIntevalMinutes><CodeToCheck>" +
                   s.Code + "</CodeToCheck></" + s.Name + ">";
        xml += "</Sites>";
    }
    return xml + "</Options>\r\n";
}

// No test leaves a check behind: a check that outlives its test would still count as a running worker in
// the next one.
inline bool WaitForIdleChecks(int timeoutMs = 30000)
{
    return PumpUntil([] { return TCheckStatusAsync::Stats().Workers == 0 && TCheckStatusAsync::Stats().Waiting == 0; },
                     static_cast<DWORD>(timeoutMs));
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
    {
        environment.Clock = clock.Function();
        environment.Retrieval.DeadlineMs = 3000;
        // The computer's own network as the window sees it: present, unless a test says otherwise.
        environment.NetworkAvailable = [this] { return network; };
    }

    void TearDown() override
    {
        window.reset();
        EXPECT_TRUE(WaitForIdleChecks());
    }

    std::wstring Folder() const { return folder.File(L"MendrelRemoteClient"); }
    std::wstring SettingsPath() const { return Folder() + L"\\Settings.xml"; }

    void WriteSettings(const std::string& content)
    {
        ::CreateDirectoryW(Folder().c_str(), nullptr);
        HANDLE file = ::CreateFileW(SettingsPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    std::string ReadSettings() const
    {
        HANDLE file = ::CreateFileW(SettingsPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string content;
        char buffer[4096];
        DWORD read = 0;
        while (file != INVALID_HANDLE_VALUE && ::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
            content.append(buffer, read);
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
        return content;
    }

    TfmRemoteClientMain& Open(std::vector<std::string> args = {kTestProgram})
    {
        window = std::make_unique<TfmRemoteClientMain>(app, args, SettingsPath(), environment);
        return *window;
    }

    // Every status row's check has called back.
    bool ChecksDone() const
    {
        for (int i = 0; i < window->lvStatus.Count(); ++i) {
            std::shared_ptr<TCheckStatus> status = window->StatusOfRow(window->lvStatus.Item(i));
            if (status && status->CheckRunning())
                return false;
        }
        return true;
    }
    bool WaitForChecks(int timeoutMs = 20000)
    {
        return session.PumpUntil([&] { return ChecksDone(); }, timeoutMs);
    }

    std::vector<std::wstring> StatusRow(int row) const { return gui::RowTexts(window->lvStatus.Handle(), row); }
    std::vector<std::vector<std::wstring>> Rows(HWND list) const
    {
        std::vector<std::vector<std::wstring>> rows;
        for (int i = 0; i < gui::RowCount(list); ++i)
            rows.push_back(gui::RowTexts(list, i));
        return rows;
    }
    // The time form of the status list on the clock's present time.
    std::wstring ShortTime(TDateTime t) const { return FormatStatusTime(t, UserTimeSeparator()); }

    TApplication app;
    gui::TGuiSession session{app};
    TTestFolder folder;
    TTestClock clock{At(2024, 5, 1, 9, 5)};
    TRemoteClientEnvironment environment;
    bool network = true;
    std::unique_ptr<TfmRemoteClientMain> window;
};
