// Service control against the system's service control manager. Each test installs the stand-in service
// MendrelTestService.exe under the name "Mendrel" as it needs it and removes it at the end, so the system's
// services are left as they were found.
#include "NTTools.h"
#include "Strings.h"
#include "WinTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kTestServiceExe = L"MendrelTestService.exe";
constexpr const wchar_t* kReleaseEventName = L"Global\\MendrelTestServiceRelease";
constexpr ULONGLONG kSettleLimitMs = 60000;

std::wstring TestServicePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + kTestServiceExe;
}

// Polls a condition every 50 ms until it holds or the limit has passed.
template <typename F>
bool WaitUntil(F condition, ULONGLONG limitMs = 30000)
{
    ULONGLONG end = GetTickCount64() + limitMs;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(50);
    }
    return true;
}

class ServiceControl : public testing::Test {
protected:
    void SetUp() override
    {
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << GetLastError();
        release_.reset(CreateEventW(nullptr, TRUE, FALSE, kReleaseEventName));
        ASSERT_TRUE(release_);
        ASSERT_TRUE(WaitUntil([&] { return NoServiceIsPending(); }, kSettleLimitMs))
            << "the system's own services did not settle";
        RemoveLeftoverTestService();
        ASSERT_FALSE(Exists()) << "a \"Mendrel\" service that is not the tests' own is installed";

        FreeServiceControlManager();
        SetServiceControlManagerFactory(nullptr);
        // The waits keep their poll counts and asked durations; the test sleeps briefly for real, so that the
        // service moves on meanwhile.
        ServiceControlManager().SetSleep([this](DWORD ms) {
            sleeps_.push_back(ms);
            ::Sleep(std::min<DWORD>(ms, 20));
        });
    }

    void TearDown() override
    {
        FreeServiceControlManager();
        SetServiceControlManagerFactory(nullptr);
        Remove();
        EXPECT_FALSE(Exists()) << "the test service was not removed";
    }

    void Install(const std::wstring& options = L"")
    {
        std::wstring command = L"\"" + TestServicePath() + L"\"" + (options.empty() ? L"" : L" " + options);
        UniqueServiceHandle service(CreateServiceW(
            manager_.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << "CreateServiceW failed: " << GetLastError();
    }

    bool Exists() const
    {
        return static_cast<bool>(UniqueServiceHandle(OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_STATUS)));
    }

    SERVICE_STATUS_PROCESS Status() const
    {
        SERVICE_STATUS_PROCESS status = {};
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_STATUS));
        DWORD needed = 0;
        if (service)
            QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof(status), &needed);
        return status;
    }
    DWORD State() const { return Status().dwCurrentState; }

    // Starts the service without the code under test and waits until it reached the state.
    void StartDirectly(DWORD until)
    {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(service);
        ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_TRUE(WaitUntil([&] { return State() == until; })) << "state " << State();
    }

    void ReleaseHolds() { SetEvent(release_.get()); }

    void Remove()
    {
        ReleaseHolds();
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_ALL_ACCESS));
        if (!service)
            return;
        WaitUntil([&] {
            DWORD s = State();
            return s == SERVICE_STOPPED || s == SERVICE_RUNNING;
        });
        SERVICE_STATUS status = {};
        if (State() != SERVICE_STOPPED)
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitUntil([&] { return State() == SERVICE_STOPPED; });
        DeleteService(service.get());
        service.reset();
        WaitUntil([&] { return !Exists(); });
    }

    bool NoServiceIsPending() const
    {
        DWORD needed = 0, count = 0, resume = 0;
        EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0,
                              &needed, &count, &resume, nullptr);
        std::vector<BYTE> buffer(needed + 1024);
        resume = 0;
        if (!EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                   buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr))
            return true;
        auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            DWORD s = services[i].ServiceStatusProcess.dwCurrentState;
            if (s == SERVICE_START_PENDING || s == SERVICE_STOP_PENDING)
                return false;
        }
        return true;
    }

    // A run that died half-way may have left the tests' own service behind; anything else is left alone.
    void RemoveLeftoverTestService()
    {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_CONFIG));
        if (!service)
            return;
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + 16);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed) &&
            std::wstring(config->lpBinaryPathName).find(kTestServiceExe) != std::wstring::npos) {
            service.reset();
            Remove();
        }
    }

    int Count(DWORD ms) const { return static_cast<int>(std::count(sleeps_.begin(), sleeps_.end(), ms)); }

    UniqueServiceHandle manager_;
    UniqueHandle release_;
    std::vector<DWORD> sleeps_;
};

std::vector<std::string> Args(std::initializer_list<const char*> words)
{
    std::vector<std::string> args{"C:\\MendrelClient.exe"};
    for (const char* w : words)
        args.emplace_back(w);
    return args;
}

} // namespace

TEST_F(ServiceControl, StartStopAndRestart)
{
    Install();
    ASSERT_EQ(State(), SERVICE_STOPPED);

    StartServiceAndWait();
    EXPECT_EQ(State(), SERVICE_RUNNING);
    DWORD firstProcess = Status().dwProcessId;

    StopServiceAndWait();
    EXPECT_EQ(State(), SERVICE_STOPPED);

    StartServiceAndWait();
    ASSERT_EQ(State(), SERVICE_RUNNING);
    DWORD secondProcess = Status().dwProcessId;
    RestartService();
    EXPECT_EQ(State(), SERVICE_RUNNING);
    EXPECT_NE(Status().dwProcessId, secondProcess); // stopped and started again, not left running
    EXPECT_NE(secondProcess, firstProcess);
}

TEST_F(ServiceControl, StartOfARunningServiceCountsAsDone)
{
    Install();
    StartDirectly(SERVICE_RUNNING);
    DWORD process = Status().dwProcessId;
    EXPECT_NO_THROW(ServiceControlManager().StartService(kServiceName)); // answered with 1056
    EXPECT_NO_THROW(StartServiceAndWait());
    EXPECT_EQ(State(), SERVICE_RUNNING);
    EXPECT_EQ(Status().dwProcessId, process);
    EXPECT_TRUE(sleeps_.empty()); // already running: no wait
}

TEST_F(ServiceControl, RefusedStopRaisesOnlyWhenAsked)
{
    Install();
    TNTServiceControlManager& manager = ServiceControlManager();
    EXPECT_NO_THROW(manager.StopService(kServiceName, false));
    try {
        manager.StopService(kServiceName, true);
        FAIL() << "stopping a stopped service did not raise";
    } catch (const ELastWin32Error& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
        EXPECT_EQ(e.Message(), Win32ErrorMessage(ERROR_SERVICE_NOT_ACTIVE));
    }
    EXPECT_NO_THROW(StopServiceAndWait());
    EXPECT_EQ(State(), SERVICE_STOPPED);
}

TEST_F(ServiceControl, ServiceThatDoesNotComeUpEndsTheWaitsSilently)
{
    Install(L"/HoldStart");
    EXPECT_NO_THROW(StartServiceAndWait());
    EXPECT_EQ(State(), SERVICE_START_PENDING);
    // 50 polls of 500 ms in the start itself, then 60 more of 500 ms.
    EXPECT_EQ(Count(500), 50 + 60);
    EXPECT_EQ(sleeps_.size(), 110u);

    // A service that stays stop-pending: 60 polls, then the wait gives up without an error.
    ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_RUNNING; }));
    Remove();
    ResetEvent(release_.get());
    Install(L"/HoldStop");
    StartDirectly(SERVICE_RUNNING);
    sleeps_.clear();
    EXPECT_NO_THROW(StopServiceAndWait());
    EXPECT_EQ(State(), SERVICE_STOP_PENDING);
    EXPECT_EQ(Count(500), 60);
    EXPECT_EQ(sleeps_.size(), 60u);
}

TEST_F(ServiceControl, ButtonsFollowTheServiceState)
{
    const std::wstring stop = L"S&top service", start = L"S&tart service";
    struct Expected {
        bool saveAndRestart, stopStart, restart;
        const wchar_t* caption;
    };
    auto check = [&](const char* what, const Expected& e) {
        TServiceButtons b = QueryServiceButtons();
        EXPECT_EQ(b.SaveAndRestartEnabled, e.saveAndRestart) << what;
        EXPECT_EQ(b.StopStartEnabled, e.stopStart) << what;
        EXPECT_EQ(b.RestartEnabled, e.restart) << what;
        EXPECT_EQ(b.StopStartCaption.has_value(), e.caption != nullptr) << what;
        if (e.caption && b.StopStartCaption) {
            EXPECT_EQ(*b.StopStartCaption, e.caption) << what;
        }
    };

    check("absent", {false, false, false, nullptr});
    Install(L"/HoldStart /HoldStop");
    check("stopped", {false, true, false, L"S&tart service"});

    StartDirectly(SERVICE_START_PENDING);
    check("start pending", {false, true, false, L"S&tart service"});
    StopOrStartService(); // pending: nothing is done
    EXPECT_EQ(State(), SERVICE_START_PENDING);

    ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_RUNNING; }));
    check("running", {true, true, true, L"S&top service"});

    ResetEvent(release_.get());
    StopOrStartService(); // running: the stop is sent and not waited for
    EXPECT_TRUE(sleeps_.empty());
    ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_STOP_PENDING; }));
    check("stop pending", {false, true, false, L"S&tart service"});
    StopOrStartService();
    EXPECT_EQ(State(), SERVICE_STOP_PENDING);

    ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_STOPPED; }));
    StopOrStartService(); // stopped: started, with the start's own wait
    EXPECT_EQ(State(), SERVICE_RUNNING);
    check("running again", {true, true, true, L"S&top service"});

    // The decision itself, for the states that the service above does not pass through.
    for (DWORD state : {5u, 6u, 7u}) {
        TServiceButtons b = ServiceButtonsFor(state);
        EXPECT_FALSE(b.SaveAndRestartEnabled);
        EXPECT_TRUE(b.StopStartEnabled);
        EXPECT_EQ(b.StopStartCaption.value_or(L""), start);
    }
    EXPECT_EQ(ServiceButtonsFor(4u).StopStartCaption.value_or(L""), stop);
}

TEST_F(ServiceControl, AbsentServiceIsLeftAlone)
{
    TNTServiceControlManager& manager = ServiceControlManager();
    EXPECT_FALSE(manager.ServiceExists(kServiceName));
    try {
        manager.GetServiceState(kServiceName);
        FAIL() << "the state of a missing service did not raise";
    } catch (const ELastWin32Error& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    EXPECT_THROW(manager.StartService(kServiceName), ELastWin32Error);
    EXPECT_THROW(manager.StopService(kServiceName, false), ELastWin32Error); // the open always raises

    int boxes = 0;
    auto box = [&](const std::wstring&) { ++boxes; };
    EXPECT_EQ(RunServiceSwitches(Args({"/StartService"}), box), 0);
    EXPECT_EQ(RunServiceSwitches(Args({"/StopService"}), box), 0);
    EXPECT_NO_THROW(StopOrStartService());
    EXPECT_EQ(boxes, 0);
    EXPECT_TRUE(sleeps_.empty());
    EXPECT_FALSE(Exists());
}

TEST_F(ServiceControl, SwitchesStartOrStopTheService)
{
    Install();
    int boxes = 0;
    auto box = [&](const std::wstring&) { ++boxes; };

    struct Case {
        std::vector<std::string> args;
        std::optional<int> exitCode;
        DWORD state;
    };
    const Case cases[] = {
        {Args({"-StartService"}), std::nullopt, SERVICE_STOPPED}, // not the switch: the window's path
        {Args({"/StartService=1"}), std::nullopt, SERVICE_STOPPED},
        {Args({"x", "/startSERVICE", "y"}), 0, SERVICE_RUNNING}, // any case, any position
        {Args({"/STOPSERVICE"}), 0, SERVICE_STOPPED},
        {Args({"/StopService", "/StartService"}), 0, SERVICE_RUNNING}, // the start wins
        {Args({"/StartService", "/StopService"}), 0, SERVICE_RUNNING},
        {Args({"/stopservice"}), 0, SERVICE_STOPPED},
    };
    for (const auto& c : cases) {
        std::string what;
        for (size_t i = 1; i < c.args.size(); ++i)
            what += c.args[i] + " ";
        EXPECT_EQ(RunServiceSwitches(c.args, box), c.exitCode) << what;
        EXPECT_EQ(State(), c.state) << what;
    }
    EXPECT_EQ(boxes, 0);
}

TEST_F(ServiceControl, ErrorOnASwitchPathShowsTheBoxAndGivesExitCodeOne)
{
    FreeServiceControlManager();
    int attempts = 0;
    SetServiceControlManagerFactory([&]() -> std::unique_ptr<TNTServiceControlManager> {
        ++attempts;
        throw ELastWin32Error(ERROR_ACCESS_DENIED);
    });
    std::vector<std::wstring> texts;
    auto box = [&](const std::wstring& text) { texts.push_back(text); };
    EXPECT_EQ(RunServiceSwitches(Args({"/StopService"}), box), 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find(L"ELastWin32Error"), std::wstring::npos) << WideToAnsi(texts[0]);
    EXPECT_NE(texts[0].find(AnsiToWide(Win32ErrorMessage(ERROR_ACCESS_DENIED))), std::wstring::npos);

    // The failed creation kept nothing: the next use tries again and then keeps the instance.
    EXPECT_EQ(RunServiceSwitches(Args({"/StartService"}), box), 1);
    EXPECT_EQ(attempts, 2);
    SetServiceControlManagerFactory(nullptr);
    TNTServiceControlManager& first = ServiceControlManager();
    EXPECT_EQ(&ServiceControlManager(), &first);
    EXPECT_NE(first.Handle(), nullptr);
}
