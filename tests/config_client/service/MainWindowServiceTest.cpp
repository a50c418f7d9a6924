// The main window's service buttons against the system's service control manager, with the tests' stand-in
// service registered as "Mendrel" while a test needs it.
#include "MainWindowSupport.h"

#include "NTTools.h"
#include "UBehaviourFrame.h"

#include <algorithm>
#include <string>

namespace {

constexpr const wchar_t* kTestServiceExe = L"MendrelTestService.exe";
constexpr const wchar_t* kReleaseEventName = L"Global\\MendrelTestServiceRelease";

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

class MainWindowService : public MainWindowTest {
protected:
    void SetUp() override
    {
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_);
        release_.reset(CreateEventW(nullptr, TRUE, FALSE, kReleaseEventName));
        RemoveTestService();
        ASSERT_FALSE(Exists()) << "a \"Mendrel\" service that is not the tests' own is installed";
        FreeServiceControlManager();
        SetServiceControlManagerFactory(nullptr);
        // The waits keep their poll counts; each poll sleeps briefly for real so that the service moves on.
        ServiceControlManager().SetSleep([](DWORD ms) { ::Sleep(std::min<DWORD>(ms, 20)); });
    }

    void TearDown() override
    {
        form.reset();
        FreeServiceControlManager();
        RemoveTestService();
        EXPECT_FALSE(Exists());
    }

    static std::wstring TestServicePath()
    {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring folder(path);
        return folder.substr(0, folder.find_last_of(L'\\') + 1) + kTestServiceExe;
    }

    void Install(const std::wstring& options = L"")
    {
        std::wstring command = L"\"" + TestServicePath() + L"\" " + options;
        UniqueServiceHandle service(CreateServiceW(
            manager_.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service) << GetLastError();
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

    void StartDirectly()
    {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_RUNNING; }));
    }

    // Only the tests' own service is ever removed. Its holds are released for the removal, and armed again
    // for the next test.
    void RemoveTestService()
    {
        SetEvent(release_.get());
        RemoveHeldTestService();
        ResetEvent(release_.get());
    }

    void RemoveHeldTestService()
    {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), kServiceName, SERVICE_ALL_ACCESS));
        if (!service)
            return;
        DWORD needed = 0;
        QueryServiceConfigW(service.get(), nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + 16);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed) ||
            std::wstring(config->lpBinaryPathName).find(kTestServiceExe) == std::wstring::npos)
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

    struct Buttons {
        bool saveAndRestart, stopStart, restart;
        const wchar_t* caption;
    };
    void ExpectButtons(const char* what, Buttons expected)
    {
        EXPECT_TRUE(gui::IsEnabled(form->bbSave.Handle())) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbSaveAndRestart.Handle()), expected.saveAndRestart) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbStopStartService.Handle()), expected.stopStart) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbRestartService.Handle()), expected.restart) << what;
        EXPECT_EQ(gui::Text(form->bbStopStartService.Handle()), expected.caption) << what;
    }

    UniqueServiceHandle manager_;
    UniqueHandle release_;
};

TEST_F(MainWindowService, ButtonsFollowTheServiceThroughTheStopStartButton)
{
    TfmMain& main = Open();
    ExpectButtons("absent", {false, false, false, L"S&top service"});

    Install(L"/HoldStop");
    session.Click(main.bbSave.Handle()); // every button command ends by refreshing the buttons
    ExpectButtons("stopped", {false, true, false, L"S&tart service"});

    session.Click(main.bbStopStartService.Handle());
    EXPECT_EQ(State(), SERVICE_RUNNING);
    ExpectButtons("started", {true, true, true, L"S&top service"});

    // The stop is sent and the buttons refreshed at once, without waiting for the service.
    session.Click(main.bbStopStartService.Handle());
    EXPECT_EQ(State(), SERVICE_STOP_PENDING);
    ExpectButtons("stop pending", {false, true, false, L"S&tart service"});
    session.Click(main.bbStopStartService.Handle()); // pending: nothing is done
    EXPECT_EQ(State(), SERVICE_STOP_PENDING);

    SetEvent(release_.get());
    ASSERT_TRUE(WaitUntil([&] { return State() == SERVICE_STOPPED; }));
    session.Click(main.bbSave.Handle());
    ExpectButtons("stopped again", {false, true, false, L"S&tart service"});
    EXPECT_TRUE(session.ShownBoxes().empty());
}

TEST_F(MainWindowService, SaveAndRestartWritesTheFileThenRestartsTheService)
{
    Install();
    StartDirectly();
    DWORD before = Status().dwProcessId;
    TfmMain& main = Open();
    ExpectButtons("running", {true, true, true, L"S&top service"});

    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    session.Click(main.bbSaveAndRestart.Handle());
    EXPECT_EQ(ReadIni(), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
    EXPECT_EQ(State(), SERVICE_RUNNING);
    EXPECT_NE(Status().dwProcessId, before); // stopped and started again
    ExpectButtons("restarted", {true, true, true, L"S&top service"});
}

TEST_F(MainWindowService, RestartButtonRestartsTheServiceWithoutSaving)
{
    Install();
    StartDirectly();
    DWORD before = Status().dwProcessId;
    TfmMain& main = Open();
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    session.Click(main.bbRestartService.Handle());
    EXPECT_EQ(State(), SERVICE_RUNNING);
    EXPECT_NE(Status().dwProcessId, before);
    EXPECT_FALSE(TTestFolder::Exists(IniPath()));
    ExpectButtons("restarted", {true, true, true, L"S&top service"});
}

TEST_F(MainWindowService, FailedSaveDoesNotRestartTheService)
{
    Install();
    StartDirectly();
    DWORD before = Status().dwProcessId;
    TfmMainOptions options;
    options.SettingsPath = folder.File(L"missing\\DravexMendrel.ini");
    TfmMain& main = Open(options);
    session.Click(main.bbSaveAndRestart.Handle());
    ASSERT_EQ(session.ShownBoxes().size(), 1u);
    EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Dravex Mendrel");
    EXPECT_EQ(Status().dwProcessId, before);
    EXPECT_EQ(State(), SERVICE_RUNNING);
}

} // namespace
