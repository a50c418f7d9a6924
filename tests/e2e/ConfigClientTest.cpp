// The configuration client beside a registered stand-in service: a changed port saved with a restart, the
// remote client's check of the new port, the command-line switches, and an ini file of random bytes.
#include "E2ESupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace e2e;

namespace {

const wchar_t kConfigCaption[] = L"Dravex Mendrel";

std::string Ini(int port)
{
    return "[Behaviour]\r\nDisableShutdown=False\r\n\r\n[Remote]\r\nEnabled=True\r\nListenAddress=127.0.0.1\r\nPort=" +
           std::to_string(port) +
           "\r\nLogin=admin\r\nPassword=secret\r\nUseSSL=False\r\n\r\n[Custom]\r\nKeep=me\r\n\r\n";
}

// A service folder: the stand-in service and the configuration client side by side, as installed.
struct TServiceFolder {
    TScratchFolder folder;
    std::wstring service = folder.Path() + L"\\MendrelService.exe";
    std::wstring client = folder.Path() + L"\\MendrelClient.exe";
    std::wstring ini = folder.Path() + L"\\DravexMendrel.ini";
    TServiceFolder()
    {
        CopyFileW(ServiceExe().c_str(), service.c_str(), FALSE);
        CopyFileW(ConfigClientExe().c_str(), client.c_str(), FALSE);
    }
};

HWND OpenFrame(HWND main, const wchar_t* title)
{
    HWND button = FindChild(main, title, L"Button");
    if (button)
        Click(button);
    return button;
}

} // namespace

TEST(ConfigClient, NewPortSavedWithRestartServesAndTheRemoteClientSeesIt)
{
    TServiceFolder folder;
    const int oldPort = FreeLoopbackPort();
    int newPort = FreeLoopbackPort();
    while (newPort == oldPort)
        newPort = FreeLoopbackPort();
    WriteFileBytes(folder.ini, Ini(oldPort));

    TRegisteredService service(folder.service);
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(WaitUntil([&] { return PortOpen(oldPort); }, 20s));

    {
        Process client = Process::Start(folder.client);
        HWND main = FindTopWindow(client.Id(), kConfigCaption, 30s);
        ASSERT_NE(main, nullptr);
        HWND stopStart = FindChild(main, L"S&top service", L"Button");
        ASSERT_NE(stopStart, nullptr) << "a running service offers to stop";
        EXPECT_TRUE(Enabled(stopStart));

        ASSERT_NE(OpenFrame(main, L"&Remote control"), nullptr);
        HWND port = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (port = FindFieldBeside(main, L"Port to listen to:")) != nullptr; }, 10s));
        EXPECT_EQ(Text(port), std::to_wstring(oldPort));
        SetText(port, std::to_wstring(newPort));

        HWND saveRestart = FindChild(main, L"Save and &restart service", L"Button");
        ASSERT_NE(saveRestart, nullptr);
        Click(saveRestart);
        // The service comes back on the new port and the old one is closed.
        ASSERT_TRUE(WaitUntil([&] { return PortOpen(newPort); }, 120s));
        EXPECT_FALSE(PortOpen(oldPort));
        EXPECT_TRUE(WaitUntil(
            [&] {
                DWORD_PTR ignored;
                return SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &ignored) != 0;
            },
            60s));
        std::string ini = ReadFileBytes(folder.ini);
        EXPECT_NE(ini.find("Port=" + std::to_string(newPort) + "\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("[Custom]\r\nKeep=me\r\n"), std::string::npos) << ini;
        client.Stop();
    }

    // The remote client's check of the new port turns green.
    TSettingsFolderGuard settings;
    settings.Write("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><Options><Servers><ItemA>"
                   "<Active>True</Active><URL>http://127.0.0.1:" +
                   std::to_string(newPort) +
                   "</URL><CheckIntevalMinutes>10</CheckIntevalMinutes><Username>admin</Username>"
                   "<Password>secret</Password></ItemA></Servers></Options>");
    Process remote = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(remote.Id(), L"Dravex Mendrel Remote Client");
    ASSERT_NE(main, nullptr);
    std::wstring text;
    auto rows = WaitForStatusRows(
        main,
        [&](const std::vector<ListRow>& rows) {
            text = rows.size() == 1 && rows[0].cells.size() > 2 ? rows[0].cells[2] : L"";
            return text.find(L"Physical free") != std::wstring::npos;
        },
        30s);
    EXPECT_NE(text.find(L"Physical free"), std::wstring::npos) << "status: " << std::string(text.begin(), text.end());
    remote.Stop();
}

TEST(ConfigClient, SwitchesStopAndStartTheServiceWithoutAWindow)
{
    TServiceFolder folder;
    const int port = FreeLoopbackPort();
    WriteFileBytes(folder.ini, Ini(port));
    const std::string before = ReadFileBytes(folder.ini);
    TRegisteredService service(folder.service);
    ASSERT_TRUE(service.Start());

    Process stop = Process::Start(folder.client, L"/StopService");
    EXPECT_EQ(stop.Wait(90s), 0u);
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(TopWindows(stop.Id()).empty() || !stop.Running());

    Process start = Process::Start(folder.client, L"/startservice");
    EXPECT_EQ(start.Wait(90s), 0u);
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(WaitUntil([&] { return PortOpen(port); }, 20s));
    // The switch paths never touch the settings file.
    EXPECT_EQ(ReadFileBytes(folder.ini), before);
}

TEST(ConfigClient, IniOfRandomBytesOpensWithDefaultsAndKeepsItsLinesOnSave)
{
    TServiceFolder folder;
    std::mt19937 random(20261210);
    std::string bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.push_back(static_cast<char>(random() % 256));
    // A line that the tolerant reader keeps: it must survive the save in its section.
    bytes += "\r\n[Junk]\r\nkeep=this line\r\n";
    WriteFileBytes(folder.ini, bytes);

    Process client = Process::Start(folder.client);
    HWND main = FindTopWindow(client.Id(), kConfigCaption, 30s);
    ASSERT_NE(main, nullptr);
    // "&Behaviour" is open at start and shows its default.
    HWND disable = FindChild(main, L"&Disable shutdown", L"Button");
    ASSERT_NE(disable, nullptr);
    EXPECT_EQ(SendMessageW(disable, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    HWND save = FindChild(main, L"&Save only", L"Button");
    ASSERT_NE(save, nullptr);
    Click(save);
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(folder.ini) != bytes; }, 10s));
    std::string saved = ReadFileBytes(folder.ini);
    EXPECT_NE(saved.find("[Junk]\r\nkeep=this line\r\n"), std::string::npos);
    EXPECT_NE(saved.find("[Behaviour]\r\nDisableShutdown=False\r\n"), std::string::npos);
    client.Stop();
}
