// Service control against the system's service control manager. Each test installs the stand-in service
// MendrelTestService.exe under the name "Mendrel" as it needs it and removes it at the end, so the system's
// services are left as they were found.
#include "NTTools.h"
#include "TestServiceHost.h"
#include "Strings.h"
#include "WinTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class ServiceControl : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(host.SetUp());
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
        host.TearDown();
    }

    int Count(DWORD ms) const { return static_cast<int>(std::count(sleeps_.begin(), sleeps_.end(), ms)); }

    TTestServiceHost host;
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
    host.Install();
    ASSERT_EQ(host.State(), SERVICE_STOPPED);

    StartServiceAndWait();
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    DWORD firstProcess = host.Status().dwProcessId;

    StopServiceAndWait();
    EXPECT_EQ(host.State(), SERVICE_STOPPED);

    StartServiceAndWait();
    ASSERT_EQ(host.State(), SERVICE_RUNNING);
    DWORD secondProcess = host.Status().dwProcessId;
    RestartService();
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    EXPECT_NE(host.Status().dwProcessId, secondProcess); // stopped and started again, not left running
    EXPECT_NE(secondProcess, firstProcess);
}

TEST_F(ServiceControl, StartOfARunningServiceCountsAsDone)
{
    host.Install();
    host.StartDirectly(SERVICE_RUNNING);
    DWORD process = host.Status().dwProcessId;
    EXPECT_NO_THROW(ServiceControlManager().StartService(kServiceName)); // answered with 1056
    EXPECT_NO_THROW(StartServiceAndWait());
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    EXPECT_EQ(host.Status().dwProcessId, process);
    EXPECT_TRUE(sleeps_.empty()); // already running: no wait
}

TEST_F(ServiceControl, RefusedStopRaisesOnlyWhenAsked)
{
    host.Install();
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
    EXPECT_EQ(host.State(), SERVICE_STOPPED);
}

TEST_F(ServiceControl, ServiceThatDoesNotComeUpEndsTheWaitsSilently)
{
    host.Install(L"/HoldStart");
    EXPECT_NO_THROW(StartServiceAndWait());
    EXPECT_EQ(host.State(), SERVICE_START_PENDING);
    // 50 polls of 500 ms in the start itself, then 60 more of 500 ms.
    EXPECT_EQ(Count(500), 50 + 60);
    EXPECT_EQ(sleeps_.size(), 110u);

    // A service that stays stop-pending: 60 polls, then the wait gives up without an error.
    host.ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return host.State() == SERVICE_RUNNING; }));
    host.Remove();
    host.ArmHolds();
    host.Install(L"/HoldStop");
    host.StartDirectly(SERVICE_RUNNING);
    sleeps_.clear();
    EXPECT_NO_THROW(StopServiceAndWait());
    EXPECT_EQ(host.State(), SERVICE_STOP_PENDING);
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
    host.Install(L"/HoldStart /HoldStop");
    check("stopped", {false, true, false, L"S&tart service"});

    host.StartDirectly(SERVICE_START_PENDING);
    check("start pending", {false, true, false, L"S&tart service"});
    StopOrStartService(); // pending: nothing is done
    EXPECT_EQ(host.State(), SERVICE_START_PENDING);

    host.ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return host.State() == SERVICE_RUNNING; }));
    check("running", {true, true, true, L"S&top service"});

    host.ArmHolds();
    StopOrStartService(); // running: the stop is sent and not waited for
    EXPECT_TRUE(sleeps_.empty());
    ASSERT_TRUE(WaitUntil([&] { return host.State() == SERVICE_STOP_PENDING; }));
    check("stop pending", {false, true, false, L"S&tart service"});
    StopOrStartService();
    EXPECT_EQ(host.State(), SERVICE_STOP_PENDING);

    host.ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return host.State() == SERVICE_STOPPED; }));
    StopOrStartService(); // stopped: started, with the start's own wait
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
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
    EXPECT_FALSE(host.Exists());
}

TEST_F(ServiceControl, SwitchesStartOrStopTheService)
{
    host.Install();
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
        EXPECT_EQ(host.State(), c.state) << what;
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
