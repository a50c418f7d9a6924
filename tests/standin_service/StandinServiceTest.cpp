#include "StandinServer.h"

#include "TestSupport.h"
#include "UServerStatus.h"
#include "Unique.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

namespace fs = std::filesystem;

// A folder of its own below the temporary folder, removed with the object.
class TTempFolder {
public:
    TTempFolder()
    {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        path_ = fs::path(base) / (L"mendrel-standin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(GetTickCount64()));
        fs::create_directories(path_);
    }
    ~TTempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }
    void Write(const wchar_t* name, const std::string& text) const { std::ofstream(path_ / name) << text; }
    std::string Read(const wchar_t* name) const
    {
        std::ifstream in(path_ / name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path path_;
};

// A loopback port that nothing listens on right now.
int FreePort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int size = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(s);
    WSACleanup();
    return ntohs(address.sin_port);
}

std::string IniText(int port, const char* login = "monitor", const char* password = "pa55")
{
    return std::string("[Behaviour]\r\nDisableShutdown=0\r\n[remote]\r\nenabled=1\r\nPORT=") + std::to_string(port) +
           "\r\nLogin=" + login + "\r\npassword=" + password + "\r\nListenAddress=127.0.0.1\r\n";
}

std::shared_ptr<TCheckServerSettings> ServerAt(int port, const wchar_t* user, const wchar_t* password)
{
    return ServerSettings(L"http://127.0.0.1:" + std::to_wstring(port), user, password);
}

const std::wregex kReportText(LR"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: Physical free: \d+ MB, Total free: \d+ MB\.)");

// Checks the server at port as the remote client does, until it answers or the time is up.
std::wstring CheckUntilAnswered(int port, DWORD timeoutMs)
{
    TCheckServerStatus status(ServerAt(port, L"monitor", L"pa55"));
    status.Retrieval.DeadlineMs = 3000;
    ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        status.RunCheck();
        if (status.StatusText != L"Failed to connect")
            break;
        Sleep(200);
    } while (GetTickCount64() < end);
    return status.StatusText;
}

std::wstring ServiceExe() { return DosPath(MENDREL_SERVICE_EXE); }

void CloseService(SC_HANDLE h) { CloseServiceHandle(h); }
using UniqueService = Unique<SC_HANDLE, &CloseService>;

DWORD ServiceState(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs)
{
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (ServiceState(service) != state) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(100);
    }
    return true;
}

std::wstring ServiceBinary(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!needed || !QueryServiceConfigW(service, config, needed, &needed) || !config->lpBinaryPathName)
        return {};
    return config->lpBinaryPathName;
}

void RemoveService(SC_HANDLE service)
{
    for (int i = 0; i < 100 && ServiceState(service) == SERVICE_START_PENDING; ++i)
        Sleep(100);
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitForState(service, SERVICE_STOPPED, 10000);
    DeleteService(service);
}

} // namespace

TEST(StandinSettings, ReadsTheRemoteSectionWithoutRegardToCase)
{
    struct Case {
        const char* ini;
        bool enabled;
        int port;
        const char* login;
        const char* password;
    };
    const Case cases[] = {
        {"[Remote]\r\nEnabled=1\r\nPort=8080\r\nLogin=a\r\nPassword=b\r\n", true, 8080, "a", "b"},
        {"[Remote]\r\nenabled=yes\r\nport= 0 \r\nlistenaddress=127.0.0.1\r\n", true, 0, "", ""},
        {"[REMOTE]\r\nENABLED=1\r\nlogin=x\r\n", true, kDefaultStandinPort, "x", ""},
        {"[Remote]\r\nEnabled=0\r\nPort=99999\r\n", false, kDefaultStandinPort, "", ""},
        {"[Remote]\r\nEnabled=true\r\nPort=abc\r\n", true, kDefaultStandinPort, "", ""},
        {"[Other]\r\nEnabled=1\r\n", false, kDefaultStandinPort, "", ""},
        {"", false, kDefaultStandinPort, "", ""},
    };
    TTempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        folder.Write(L"DravexMendrel.ini", c.ini);
        TStandinSettings settings = ReadStandinSettings((folder.Path() / L"DravexMendrel.ini").wstring());
        EXPECT_EQ(settings.Enabled, c.enabled);
        EXPECT_EQ(settings.Port, c.port);
        EXPECT_EQ(settings.Login, c.login);
        EXPECT_EQ(settings.Password, c.password);
    }
}

TEST(StandinHttp, ParsesRequestHeads)
{
    auto request = ParseHttpRequest("GET /Report?x=1 HTTP/1.1\r\nHost: h\r\nAUTHORIZATION:  Basic YTpi \r\n\r\n");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->Method, "GET");
    EXPECT_EQ(request->Path, "/Report");
    EXPECT_EQ(request->Headers["authorization"], "Basic YTpi");
    for (const char* bad :
         {"", "GET\r\n\r\n", "GET /x\r\n\r\n", "GET x HTTP/1.0\r\n\r\n", "GET / HTTP/1.0\r\nNoColon\r\n\r\n"})
        EXPECT_FALSE(ParseHttpRequest(bad).has_value()) << bad;
    EXPECT_EQ(Base64Decode("YWRtaW46czNjcmV0"), "admin:s3cret");
    EXPECT_EQ(Base64Decode("Og=="), ":");
    EXPECT_EQ(Base64Decode("!!"), "");
}

TEST(StandinHttp, AnswersBehindBasicAuthentication)
{
    TTempFolder folder;
    TStandinSettings settings;
    settings.Enabled = true;
    settings.Login = "admin";
    settings.Password = "s3cret";
    TStandinService service(settings, (folder.Path() / L"RebootOrders.log").wstring(), [] {
        return TMemoryFigures{512, 2048};
    });
    struct Case {
        const char* method;
        const char* path;
        const char* authorization;
        int code;
        const char* body;
    };
    const Case cases[] = {
        {"GET", "/Report", nullptr, 401, "Unauthorized"},
        {"GET", "/Report", "Basic YWRtaW46d3Jvbmc=", 401, "Unauthorized"}, // admin:wrong
        {"GET", "/Report", "Digest YWRtaW46czNjcmV0", 401, "Unauthorized"},
        {"GET", "/Report", "Basic YWRtaW46czNjcmV0", 200,
         "<PhysicalFree>512</PhysicalFree><TotalFree>2048</TotalFree>"},
        {"GET", "/Report", "basic YWRtaW46czNjcmV0", 200, "<Report><CurrentTime>"},
        {"GET", "/", "Basic YWRtaW46czNjcmV0", 200, "<h1>Mendrel</h1>"},
        {"GET", "/Other", "Basic YWRtaW46czNjcmV0", 404, "Not Found"},
        {"POST", "/Reboot", "Basic YWRtaW46czNjcmV0", 405, "Only GET"},
        {"GET", "/Reboot", "Basic YWRtaW46czNjcmV0", 200, "Reboot initiated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.method << " " << c.path << " "
                                        << (c.authorization ? c.authorization : ""));
        THttpRequest request;
        request.Method = c.method;
        request.Path = c.path;
        if (c.authorization)
            request.Headers["authorization"] = c.authorization;
        THttpResponse response = service.Handle(request, "127.0.0.1");
        EXPECT_EQ(response.Code, c.code);
        EXPECT_THAT(response.Body, HasSubstr(c.body));
        if (c.code == 401) {
            ASSERT_EQ(response.Headers.size(), 1u);
            EXPECT_EQ(response.Headers[0].first, "WWW-Authenticate");
            EXPECT_THAT(response.Headers[0].second, StartsWith("Basic "));
        }
    }
    // Only the one authorised reboot order was recorded.
    std::string log = folder.Read(L"RebootOrders.log");
    EXPECT_THAT(log, HasSubstr("reboot ordered by 127.0.0.1"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST(StandinServer, ServesTheRemoteClientAndStopsPromptly)
{
    TTempFolder folder;
    TStandinSettings settings;
    settings.Enabled = true;
    settings.Login = "monitor";
    settings.Password = "pa55";
    TStandinService service(settings, (folder.Path() / L"RebootOrders.log").wstring());
    TStandinServer server(service);
    server.Start(0, "127.0.0.1");
    int port = server.Port();

    TCheckServerStatus status(ServerAt(port, L"monitor", L"pa55"));
    status.RunCheck();
    EXPECT_TRUE(std::regex_match(status.StatusText, kReportText)) << WideToUtf8(status.StatusText);
    EXPECT_TRUE(status.StatusOk);
    status.Reboot();
    EXPECT_EQ(status.StatusText, L"Reboot initiated");
    EXPECT_THAT(folder.Read(L"RebootOrders.log"), HasSubstr("reboot ordered by 127.0.0.1"));

    TCheckServerStatus wrong(ServerAt(port, L"monitor", L"guess"));
    wrong.RunCheck();
    EXPECT_EQ(wrong.StatusText, L"Bad response");

    // A client that connects and says nothing does not hold the stop up.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET idle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    Sleep(200);
    ULONGLONG start = GetTickCount64();
    server.Stop();
    EXPECT_LT(GetTickCount64() - start, 2000u);
    closesocket(idle);
    WSACleanup();
    TCheckServerStatus after(ServerAt(port, L"monitor", L"pa55"));
    after.RunCheck();
    EXPECT_EQ(after.StatusText, L"Failed to connect");
}

TEST(StandinProgram, ConsoleModeServesFromTheIniBesideIt)
{
    TTempFolder folder;
    fs::copy_file(ServiceExe(), folder.Path() / L"MendrelService.exe");
    int port = FreePort();
    folder.Write(L"DravexMendrel.ini", IniText(port));
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + (folder.Path() / L"MendrelService.exe").wstring() + L"\" /console";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               folder.Path().c_str(), &si, &pi));
    UniqueHandle process(pi.hProcess);
    CloseHandle(pi.hThread);
    std::wstring text = CheckUntilAnswered(port, 20000);
    EXPECT_TRUE(std::regex_match(text, kReportText)) << WideToUtf8(text);
    TCheckServerStatus status(ServerAt(port, L"monitor", L"pa55"));
    status.Reboot();
    EXPECT_EQ(status.StatusText, L"Reboot initiated");
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 10000);
    EXPECT_THAT(folder.Read(L"RebootOrders.log"), HasSubstr("reboot ordered by"));
}

TEST(StandinProgram, RunsAsTheMendrelServiceAndStopsPromptly)
{
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    if (UniqueService existing(OpenServiceW(manager.get(), L"Mendrel", SERVICE_ALL_ACCESS)); existing) {
        // Only a registration that an interrupted run of this test left behind is removed; any other one stays.
        if (ServiceBinary(existing.get()).find(L"\\mendrel-standin-") == std::wstring::npos)
            GTEST_SKIP() << "a service named Mendrel is registered already; it is left as it is";
        RemoveService(existing.get());
    }

    TTempFolder folder;
    fs::path exe = folder.Path() / L"MendrelService.exe";
    fs::copy_file(ServiceExe(), exe);
    int port = FreePort();
    folder.Write(L"DravexMendrel.ini", IniText(port));
    std::wstring binary = L"\"" + exe.wstring() + L"\"";
    UniqueService service(CreateServiceW(manager.get(), L"Mendrel", L"Mendrel", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    DWORD createError = GetLastError();
    // From here on the registration is removed whatever happens.
    struct TRemoveOnExit {
        SC_HANDLE service;
        ~TRemoveOnExit()
        {
            if (service)
                RemoveService(service);
        }
    } remove{service.get()};
    ASSERT_TRUE(service) << "CreateServiceW: " << createError;
    EXPECT_EQ(ServiceBinary(service.get()).find(exe.wstring()) != std::wstring::npos, true);

    // In a new Wine prefix the manager keeps its database locked while it starts its own automatic services,
    // and the first processes it starts may miss its start time-out: both are waited out.
    BOOL started = FALSE;
    DWORD startError = 0;
    int timeouts = 0;
    for (int attempt = 0; attempt < 600 && !started; ++attempt) {
        started = StartServiceW(service.get(), 0, nullptr);
        startError = started ? 0 : GetLastError();
        if (startError == ERROR_SERVICE_REQUEST_TIMEOUT && ++timeouts < 4)
            WaitForState(service.get(), SERVICE_STOPPED, 30000);
        else if (startError != ERROR_SERVICE_DATABASE_LOCKED)
            break;
        Sleep(100);
    }
    ASSERT_TRUE(started) << "StartServiceW: " << startError;
    ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, 20000));
    std::wstring text = CheckUntilAnswered(port, 20000);
    EXPECT_TRUE(std::regex_match(text, kReportText)) << WideToUtf8(text);

    SERVICE_STATUS status = {};
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, 5000));
    EXPECT_LT(GetTickCount64() - start, 3000u);
    EXPECT_EQ(CheckUntilAnswered(port, 0), L"Failed to connect");
}

// Servers on the stack, each stopped and destroyed while a client keeps making short connections to it: a thread
// that serves a connection must be out of the server before Stop returns. The loop is bounded by its rounds.
TEST(StandinServer, StopsUnderALoopOfShortConnections)
{
    TTempFolder folder;
    TStandinSettings settings;
    settings.Enabled = true;
    settings.Login = "monitor";
    settings.Password = "pa55";
    TStandinService service(settings, (folder.Path() / L"RebootOrders.log").wstring());
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    int served = 0;
    for (int round = 0; round < 40; ++round) {
        std::atomic<bool> done{false};
        std::atomic<int> answers{0};
        int port = 0;
        {
            TStandinServer server(service);
            server.Start(0, "127.0.0.1");
            port = server.Port();
            std::thread client([&] {
                const std::string request = "GET /Report HTTP/1.0\r\nAuthorization: Basic bW9uaXRvcjpwYTU1\r\n\r\n";
                for (int i = 0; i < 200 && !done; ++i) {
                    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
                    sockaddr_in address = {};
                    address.sin_family = AF_INET;
                    address.sin_port = htons(static_cast<u_short>(port));
                    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
                        send(s, request.data(), static_cast<int>(request.size()), 0);
                        char buffer[512];
                        if (i % 2 == 0 && recv(s, buffer, sizeof(buffer), 0) > 0)
                            ++answers;
                    }
                    closesocket(s);
                }
            });
            Sleep(static_cast<DWORD>(5 + round % 7 * 3));
            ULONGLONG start = GetTickCount64();
            server.Stop();
            EXPECT_LT(GetTickCount64() - start, 5000u) << "round " << round;
            done = true;
            client.join();
        }
        served += answers;
    }
    WSACleanup();
    EXPECT_GT(served, 0);
}
