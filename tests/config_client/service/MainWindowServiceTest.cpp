// The main window's service buttons against the system's service control manager, with the tests' stand-in
// service registered as "Mendrel" while a test needs it.
#include "MainWindowSupport.h"

#include "NTTools.h"
#include "TestServiceHost.h"
#include "UBehaviourFrame.h"

#include <algorithm>
#include <string>

namespace {

class MainWindowService : public MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(host.SetUp());
        FreeServiceControlManager();
        SetServiceControlManagerFactory(nullptr);
        // The waits keep their poll counts; each poll sleeps briefly for real so that the service moves on.
        ServiceControlManager().SetSleep([](DWORD ms) { ::Sleep(std::min<DWORD>(ms, 20)); });
    }

    void TearDown() override
    {
        form.reset();
        FreeServiceControlManager();
        host.TearDown();
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

    TTestServiceHost host;
};

TEST_F(MainWindowService, ButtonsFollowTheServiceThroughTheStopStartButton)
{
    TfmMain& main = Open();
    ExpectButtons("absent", {false, false, false, L"S&top service"});

    host.Install(L"/HoldStop");
    session.Click(main.bbSave.Handle()); // every button command ends by refreshing the buttons
    ExpectButtons("stopped", {false, true, false, L"S&tart service"});

    session.Click(main.bbStopStartService.Handle());
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    ExpectButtons("started", {true, true, true, L"S&top service"});

    // The stop is sent and the buttons refreshed at once, without waiting for the service.
    session.Click(main.bbStopStartService.Handle());
    EXPECT_EQ(host.State(), SERVICE_STOP_PENDING);
    ExpectButtons("stop pending", {false, true, false, L"S&tart service"});
    session.Click(main.bbStopStartService.Handle()); // pending: nothing is done
    EXPECT_EQ(host.State(), SERVICE_STOP_PENDING);

    host.ReleaseHolds();
    ASSERT_TRUE(WaitUntil([&] { return host.State() == SERVICE_STOPPED; }));
    session.Click(main.bbSave.Handle());
    ExpectButtons("stopped again", {false, true, false, L"S&tart service"});
    EXPECT_TRUE(session.ShownBoxes().empty());
}

TEST_F(MainWindowService, SaveAndRestartWritesTheFileThenRestartsTheService)
{
    host.Install();
    host.StartDirectly();
    DWORD before = host.Status().dwProcessId;
    TfmMain& main = Open();
    ExpectButtons("running", {true, true, true, L"S&top service"});

    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    session.Click(main.bbSaveAndRestart.Handle());
    EXPECT_EQ(ReadIni(), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    EXPECT_NE(host.Status().dwProcessId, before); // stopped and started again
    ExpectButtons("restarted", {true, true, true, L"S&top service"});
}

TEST_F(MainWindowService, RestartButtonRestartsTheServiceWithoutSaving)
{
    host.Install();
    host.StartDirectly();
    DWORD before = host.Status().dwProcessId;
    TfmMain& main = Open();
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    session.Click(main.bbRestartService.Handle());
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
    EXPECT_NE(host.Status().dwProcessId, before);
    EXPECT_FALSE(TTestFolder::Exists(IniPath()));
    ExpectButtons("restarted", {true, true, true, L"S&top service"});
}

TEST_F(MainWindowService, FailedSaveDoesNotRestartTheService)
{
    host.Install();
    host.StartDirectly();
    DWORD before = host.Status().dwProcessId;
    TfmMainOptions options;
    options.SettingsPath = folder.File(L"missing\\DravexMendrel.ini");
    TfmMain& main = Open(options);
    session.Click(main.bbSaveAndRestart.Handle());
    ASSERT_EQ(session.ShownBoxes().size(), 1u);
    EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Dravex Mendrel");
    EXPECT_EQ(host.Status().dwProcessId, before);
    EXPECT_EQ(host.State(), SERVICE_RUNNING);
}

} // namespace
