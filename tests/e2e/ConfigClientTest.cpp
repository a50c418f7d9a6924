// The configuration client beside a registered stand-in service: a changed port saved with a restart, the
// remote client's check of the new port, the command-line switches, an ini file of random bytes, and the check
// after "Save and restart service" with its question and the settings that cannot work.
#include <winsock2.h>

#include "E2ESupport.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <cstdio>
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

// ---------------------------------------------------------------------------------------------------------
// The check after "Save and restart service", against the stand-in registered as "Mendrel".

namespace {

// The line under the settings buttons once it starts with "The service", or empty after the time-out.
std::wstring WaitForSelfCheckLine(HWND main, std::chrono::milliseconds timeout)
{
    std::wstring line;
    WaitUntil(
        [&] {
            for (HWND label : ChildrenOfClass(main, L"Static")) {
                std::wstring text = Text(label);
                if (text.rfind(L"The service", 0) == 0) {
                    line = text;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return line;
}

// A running client on the folder's file with its "&Remote control" item open; the port field, or null.
HWND OpenRemoteControl(Process& client, HWND& main)
{
    main = FindTopWindow(client.Id(), kConfigCaption, 30s);
    if (!main || !OpenFrame(main, L"&Remote control"))
        return nullptr;
    HWND port = nullptr;
    WaitUntil([&] { return (port = FindFieldBeside(main, L"Port to listen to:")) != nullptr; }, 10s);
    return port;
}

// Holds 127.0.0.1:port as a listener that never answers.
class TPortHolder {
public:
    explicit TPortHolder(int port)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        held_ = bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(socket_, 1) == 0;
    }
    ~TPortHolder()
    {
        closesocket(socket_);
        WSACleanup();
    }
    TPortHolder(const TPortHolder&) = delete;
    TPortHolder& operator=(const TPortHolder&) = delete;
    bool Held() const { return held_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool held_ = false;
};

} // namespace

TEST(ConfigClient, SaveAndRestartShowsThatTheServiceAnswersOnTheNewPort)
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

    Process client = Process::Start(folder.client);
    HWND main = nullptr;
    HWND port = OpenRemoteControl(client, main);
    ASSERT_NE(port, nullptr);
    SetText(port, std::to_wstring(newPort));
    HWND saveRestart = FindChild(main, L"Save and &restart service", L"Button");
    ASSERT_NE(saveRestart, nullptr);
    const auto clicked = std::chrono::steady_clock::now();
    Click(saveRestart);
    const std::wstring line = WaitForSelfCheckLine(main, 120s);
    const auto shown = std::chrono::steady_clock::now();
    const std::wstring expected = L"The service runs and answers on port " + std::to_wstring(newPort) + L": ";
    EXPECT_EQ(line.rfind(expected, 0), 0u) << WideToAnsi(line);
    EXPECT_NE(line.find(L": Physical free: "), std::wstring::npos) << WideToAnsi(line);
    std::printf("[ figure ] click to self-check line: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(shown - clicked).count()));
    EXPECT_EQ(WaitForBox(client.Id(), 1s).Window, nullptr) << "no question after a good restart";
    client.Stop();
}

TEST(ConfigClient, PortHeldByAnotherListenerAsksAndYesRestoresTheOldFile)
{
    TServiceFolder folder;
    const int oldPort = FreeLoopbackPort();
    int heldPort = FreeLoopbackPort();
    while (heldPort == oldPort)
        heldPort = FreeLoopbackPort();
    // Odd spellings that a rewrite of the image would change: the old file must come back byte for byte.
    const std::string oldIni =
        "; the service's settings\r\n" + Ini(oldPort) + "[remote]\r\nport = " + std::to_string(oldPort) + "\r\n";
    WriteFileBytes(folder.ini, oldIni);
    TRegisteredService service(folder.service);
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(WaitUntil([&] { return PortOpen(oldPort); }, 20s));
    TPortHolder holder(heldPort);
    ASSERT_TRUE(holder.Held());

    Process client = Process::Start(folder.client);
    HWND main = nullptr;
    HWND port = OpenRemoteControl(client, main);
    ASSERT_NE(port, nullptr);
    SetText(port, std::to_wstring(heldPort));
    Click(FindChild(main, L"Save and &restart service", L"Button"));

    TBox question = WaitForBox(client.Id(), 120s);
    ASSERT_NE(question.Window, nullptr);
    EXPECT_EQ(question.Text, L"Restore the settings that the service ran with before, and restart it?");
    const std::wstring line = WaitForSelfCheckLine(main, 5s);
    EXPECT_TRUE(line == L"The service did not start" ||
                line == L"The service runs but does not answer on port " + std::to_wstring(heldPort))
        << WideToAnsi(line);
    EXPECT_NE(ReadFileBytes(folder.ini), oldIni);
    AnswerBox(question.Window, IDYES);

    // The old file, byte for byte, and the service answering on the old port again.
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(folder.ini) == oldIni; }, 30s));
    const std::wstring again = L"The service runs and answers on port " + std::to_wstring(oldPort) + L": ";
    EXPECT_TRUE(WaitUntil([&] { return WaitForSelfCheckLine(main, 1s).rfind(again, 0) == 0; }, 120s))
        << WideToAnsi(WaitForSelfCheckLine(main, 1s));
    EXPECT_TRUE(PortOpen(oldPort));
    client.Stop();
}

TEST(ConfigClient, InputThatCannotWorkLeavesTheFileUntouched)
{
    struct Case {
        const char* name;
        std::string remote;
        const wchar_t* mentions;
        int answer;
    };
    const Case cases[] = {
        {"port 0", "Enabled=True\r\nPort=0\r\nUseSSL=False\r\n", L"Port to listen to", IDOK},
        {"port 65536", "Enabled=True\r\nPort=65536\r\nUseSSL=False\r\n", L"Port to listen to", IDOK},
        {"missing certificate", "Enabled=True\r\nPort=4443\r\nUseSSL=True\r\nCertFile=missing.cer\r\n", L"missing.cer",
         IDNO},
    };
    TServiceFolder folder;
    for (const Case& c : cases) {
        const std::string ini = "[Remote]\r\n" + c.remote + "Login=admin\r\nPassword=secret\r\n";
        WriteFileBytes(folder.ini, ini);
        Process client = Process::Start(folder.client);
        HWND main = nullptr;
        ASSERT_NE(OpenRemoteControl(client, main), nullptr) << c.name;
        for (const wchar_t* button : {L"Save and &restart service", L"&Save only"}) {
            HWND b = FindChild(main, button, L"Button");
            ASSERT_NE(b, nullptr) << c.name;
            // Without the service "Save and restart" is disabled; its handler is reached through the button anyway.
            PostMessageW(GetParent(b), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(b), BN_CLICKED),
                         reinterpret_cast<LPARAM>(b));
            TBox box = WaitForBox(client.Id(), 10s);
            ASSERT_NE(box.Window, nullptr) << c.name;
            EXPECT_NE(box.Text.find(c.mentions), std::wstring::npos) << c.name << ": " << WideToAnsi(box.Text);
            AnswerBox(box.Window, c.answer);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box.Window); }, 10s));
            EXPECT_EQ(ReadFileBytes(folder.ini), ini) << c.name;
        }
        client.Stop();
    }
}
