// The check after "Save and restart service": its course over the service's states and answers, the report asked
// for as the remote client asks (against the loopback test servers, over HTTP and HTTPS), the kept settings put
// back, the settings that cannot work, and the window's line and question.
#include "MainWindowSupport.h"

#include "NTTools.h"
#include "UBehaviourFrame.h"
#include "URemoteFrame.h"
#include "UServiceSelfCheck.h"

#include "../remote_client/TestSupport.h"

#include <deque>

namespace {

// A service whose states and answers are scripted, on a clock that moves only when the check sleeps or asks.
struct TScriptedService {
    std::deque<DWORD> states; // the last one stays
    std::deque<TReportAnswer> answers;
    DWORD requestMs = 100;
    ULONGLONG now = 0;
    int asked = 0;

    TSelfCheckProbes Probes()
    {
        TSelfCheckProbes probes;
        probes.ServiceState = [this] {
            DWORD state = states.front();
            if (states.size() > 1)
                states.pop_front();
            return state;
        };
        probes.AskReport = [this](const TSelfCheckTarget&, DWORD timeoutMs) {
            ++asked;
            now += std::min(requestMs, timeoutMs);
            TReportAnswer answer = answers.front();
            if (answers.size() > 1)
                answers.pop_front();
            return answer;
        };
        probes.Sleep = [this](DWORD ms) { now += ms; };
        probes.Ticks = [this] { return now; };
        return probes;
    }
};

const TReportAnswer kSilence{false, false, L"Failed to connect"};
const TReportAnswer kReport{true, true, L"12:00: Physical free: 512 MB, Total free: 2048 MB."};
const TReportAnswer kNotReport{true, false, L"Bad response"};

} // namespace

TEST(ServiceSelfCheck, OutcomeFollowsTheServiceWithinTheBound)
{
    struct Case {
        const char* name;
        std::deque<DWORD> states;
        std::deque<TReportAnswer> answers;
        bool remote;
        TSelfCheckOutcome outcome;
        bool asks;
    };
    const Case cases[] = {
        {"running, report", {4}, {kReport}, true, TSelfCheckOutcome::Answers, true},
        {"pending, then running, silent, then report",
         {2, 2, 4},
         {kSilence, kSilence, kReport},
         true,
         TSelfCheckOutcome::Answers,
         true},
        {"stopped", {1}, {kReport}, true, TSelfCheckOutcome::NotStarted, false},
        {"pending for ever", {2}, {kReport}, true, TSelfCheckOutcome::NotStarted, false},
        {"state unreadable", {0}, {kReport}, true, TSelfCheckOutcome::NotStarted, false},
        {"running, silent for ever", {4}, {kSilence}, true, TSelfCheckOutcome::NoAnswer, true},
        {"running, something else answers", {4}, {kNotReport}, true, TSelfCheckOutcome::NotReport, true},
        {"running, remote control off", {4}, {kSilence}, false, TSelfCheckOutcome::Runs, false},
    };
    for (const Case& c : cases) {
        TScriptedService service{c.states, c.answers};
        TSelfCheckTarget target;
        target.RemoteEnabled = c.remote;
        target.Port = 8089;
        std::atomic<bool> cancel{false};
        TSelfCheckResult result = RunServiceSelfCheck(target, service.Probes(), cancel, 20000);
        EXPECT_EQ(result.Outcome, c.outcome) << c.name;
        EXPECT_EQ(result.Port, 8089) << c.name;
        EXPECT_EQ(service.asked > 0, c.asks) << c.name;
        EXPECT_LE(service.now, 20000u) << c.name;
    }
}

TEST(ServiceSelfCheck, CancelledCheckEndsWithoutOutcome)
{
    TScriptedService service{{2}, {kReport}};
    std::atomic<bool> cancel{false};
    TSelfCheckProbes probes = service.Probes();
    probes.Sleep = [&](DWORD ms) {
        service.now += ms;
        cancel = true;
    };
    TSelfCheckTarget target;
    target.RemoteEnabled = true;
    target.Port = 8089;
    TSelfCheckResult result = RunServiceSelfCheck(target, probes, cancel, 20000);
    EXPECT_EQ(result.Outcome, TSelfCheckOutcome::Cancelled);
    EXPECT_FALSE(SelfCheckFailed(result));
    EXPECT_LT(service.now, 1000u);
}

TEST(ServiceSelfCheck, LineInTheSystemsWords)
{
    struct Case {
        TSelfCheckOutcome outcome;
        const wchar_t* status;
        const wchar_t* line;
        bool failed;
    };
    const Case cases[] = {
        {TSelfCheckOutcome::Answers, L"12:00: Physical free: 512 MB, Total free: 2048 MB.",
         L"The service runs and answers on port 8089: 12:00: Physical free: 512 MB, Total free: 2048 MB.", false},
        {TSelfCheckOutcome::NotStarted, L"", L"The service did not start", true},
        {TSelfCheckOutcome::NoAnswer, L"", L"The service runs but does not answer on port 8089", true},
        {TSelfCheckOutcome::NotReport, L"Bad response", L"The service answers on port 8089 but not with its report",
         true},
        {TSelfCheckOutcome::Runs, L"", L"The service runs", false},
    };
    for (const Case& c : cases) {
        TSelfCheckResult result{c.outcome, 8089, c.status};
        EXPECT_EQ(SelfCheckLine(result), c.line);
        EXPECT_EQ(SelfCheckFailed(result), c.failed) << WideToAnsi(c.line);
    }
}

// The loopback test servers serve the report at the root behind the account admin / s3cret, over HTTP and over
// HTTPS with a self-made certificate, as the service would.
TEST(ServiceSelfCheck, AsksForTheReportAsTheRemoteClientDoes)
{
    const TTestServers& servers = TTestServers::Get();
    struct Case {
        const char* name;
        const char* server;
        bool ssl;
        const wchar_t* password;
        bool answered, report;
    };
    const Case cases[] = {
        {"http", "http", false, L"s3cret", true, true},
        {"https, self-made certificate", "https", true, L"s3cret", true, true},
        {"wrong password", "http", false, L"wrong", true, false},
        {"http to the https port", "https", false, L"s3cret", false, false},
        {"nothing listens", "refused", false, L"s3cret", false, false},
    };
    for (const Case& c : cases) {
        TSelfCheckTarget target{true, servers.Port(c.server), c.ssl, L"admin", c.password};
        TReportAnswer answer = AskServiceReport(target, 10000);
        EXPECT_EQ(answer.Answered, c.answered) << c.name << ": " << WideToAnsi(answer.StatusText);
        EXPECT_EQ(answer.IsReport, c.report) << c.name << ": " << WideToAnsi(answer.StatusText);
        if (c.report) {
            EXPECT_EQ(answer.StatusText, L"12:00: Physical free: 512 MB, Total free: 2048 MB.") << c.name;
        }
    }
}

TEST(ServiceSelfCheck, WholeCheckOverHttpsAgainstALoopbackServer)
{
    const TTestServers& servers = TTestServers::Get();
    TSelfCheckProbes probes = SystemSelfCheckProbes();
    probes.ServiceState = [] { return kServiceRunning; };
    TSelfCheckTarget target{true, servers.Port("https"), true, L"admin", L"s3cret"};
    std::atomic<bool> cancel{false};
    TSelfCheckResult result = RunServiceSelfCheck(target, probes, cancel);
    EXPECT_EQ(SelfCheckLine(result), L"The service runs and answers on port " + std::to_wstring(servers.Port("https")) +
                                         L": 12:00: Physical free: 512 MB, Total free: 2048 MB.");
}

TEST(ServiceSelfCheck, KeptBytesComeBackExactlyAndAnAbsentFileGoesAgain)
{
    TTestFolder folder;
    const std::wstring path = folder.File(L"DravexMendrel.ini");
    const std::string odd = "[remote]\r\nport = 4000\n\r\n\xff\x01;comment\r\n[Custom]\r\nKeep=me";
    TTestFolder::WriteBytes(path, odd);
    TKeptSettings kept = KeepSettingsFile(path);
    ASSERT_TRUE(kept.has_value());
    TTestFolder::WriteBytes(path, "[Remote]\r\nPort=5000\r\n");
    RestoreSettingsFile(path, kept);
    EXPECT_EQ(TTestFolder::ReadBytes(path), odd);
    EXPECT_EQ(GetFileAttributesW((path + L".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    const std::wstring absent = folder.File(L"absent.ini");
    TKeptSettings none = KeepSettingsFile(absent);
    EXPECT_FALSE(none.has_value());
    TTestFolder::WriteBytes(absent, "[Remote]\r\n");
    RestoreSettingsFile(absent, none);
    EXPECT_EQ(GetFileAttributesW(absent.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ServiceSelfCheck, SettingsThatCannotWork)
{
    TTestFolder folder;
    TTestFolder::WriteBytes(folder.File(L"here.cer"), "cert");
    TTestFolder::WriteBytes(folder.File(L"here.key"), "key");
    const std::wstring absoluteCert = folder.File(L"here.cer");
    struct Case {
        const char* name;
        std::string remote;
        bool refused;
        bool asked;
    };
    const Case cases[] = {
        {"port 0", "Enabled=True\r\nPort=0\r\nUseSSL=False", true, false},
        {"port 65536", "Enabled=True\r\nPort=65536\r\nUseSSL=False", true, false},
        {"negative port", "Enabled=True\r\nPort=-1\r\nUseSSL=False", true, false},
        {"port 1", "Enabled=True\r\nPort=1\r\nUseSSL=False", false, false},
        {"port 65535", "Enabled=True\r\nPort=65535\r\nUseSSL=False", false, false},
        {"remote control off, port 0", "Enabled=False\r\nPort=0\r\nUseSSL=True\r\nCertFile=none.cer", false, false},
        {"missing certificate", "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=none.cer\r\nKeyFile=here.key",
         false, true},
        {"missing key", "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=here.cer\r\nKeyFile=none.key", false,
         true},
        {"relative files in the service's folder",
         "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=here.cer\r\nKeyFile=here.key", false, false},
        {"absolute certificate",
         "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=" + WideToAnsi(absoluteCert) + "\r\nKeyFile=here.key",
         false, false},
        {"SSL off, files missing", "Enabled=True\r\nPort=80\r\nUseSSL=False\r\nCertFile=none.cer", false, false},
    };
    for (const Case& c : cases) {
        TSettingsImage image;
        image.SetText("[Remote]\r\n" + c.remote + "\r\n");
        TSettingsProblems problems = FindSettingsProblems(image, folder.Path());
        EXPECT_EQ(!problems.Refusal.empty(), c.refused) << c.name;
        EXPECT_EQ(!problems.Question.empty(), c.asked) << c.name;
        if (c.refused) {
            EXPECT_NE(problems.Refusal.find(L"Port to listen to"), std::wstring::npos) << c.name;
        }
        if (c.asked) {
            EXPECT_NE(problems.Question.find(L"none."), std::wstring::npos) << c.name;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// The window: the line under the buttons, the question, and what each answer does to the file.

namespace {

class SelfCheckWindowTest : public MainWindowTest {
protected:
    struct Box {
        std::wstring text;
        UINT type;
    };

    // The window with a check whose service is scripted; every box is recorded and answered from answers.
    TfmMain& OpenScripted(std::deque<DWORD> states, std::deque<TReportAnswer> reportAnswers = {kReport})
    {
        service.states = std::move(states);
        service.answers = std::move(reportAnswers);
        app.SetMessageBoxHook([this](HWND, const std::wstring& text, const std::wstring&, UINT type) {
            boxes.push_back({text, type});
            int answer = answers.empty() ? IDNO : answers.front();
            if (!answers.empty())
                answers.pop_front();
            return answer;
        });
        TfmMainOptions options;
        TSelfCheckProbes probes = service.Probes();
        // The worker's clock is its own; the script's counter is not shared with the window's thread.
        probes.Sleep = [](DWORD) { ::Sleep(1); };
        probes.Ticks = [] { return ::GetTickCount64(); };
        options.SelfCheckProbes = probes;
        options.SelfCheckBoundMs = 2000;
        return Open(std::move(options));
    }

    bool WaitForLine(const std::wstring& line)
    {
        return session.PumpUntil([&] { return form->LabelSelfCheck.Caption() == line; }, 10000);
    }

    TScriptedService service;
    std::deque<int> answers;
    std::vector<Box> boxes;
};

const char kOldIni[] = "[behaviour]\r\ndisableshutdown = false\r\n[Remote]\r\nEnabled=True\r\nPort=4000\r\n"
                       "UseSSL=False\r\nLogin=admin\r\nPassword=s3cret\r\n";

} // namespace

TEST_F(SelfCheckWindowTest, GoodRestartShowsTheLineAndAsksNothing)
{
    WriteIni(kOldIni);
    TfmMain& main = OpenScripted({2, 4});
    main.bbSaveAndRestartClick();
    ASSERT_TRUE(WaitForLine(L"The service runs and answers on port 4000: 12:00: Physical free: 512 MB, Total free: "
                            L"2048 MB."))
        << WideToAnsi(main.LabelSelfCheck.Caption());
    EXPECT_TRUE(boxes.empty());
    // The line lies under the buttons.
    EXPECT_GE(gui::RectInParent(main.PanelSelfCheck.Handle()).top,
              gui::RectInParent(main.PanelButtons.Handle()).bottom);
}

TEST_F(SelfCheckWindowTest, FailedRestartAsksAndYesPutsTheOldBytesBack)
{
    WriteIni(kOldIni);
    answers = {IDYES, IDNO};
    TfmMain& main = OpenScripted({1});
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    main.bbSaveAndRestartClick();
    EXPECT_NE(ReadIni(), kOldIni);
    ASSERT_TRUE(session.PumpUntil([&] { return boxes.size() == 2; }, 10000));
    EXPECT_EQ(boxes[0].text, L"Restore the settings that the service ran with before, and restart it?");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(ReadIni(), kOldIni);
    EXPECT_EQ(main.LabelSelfCheck.Caption(), L"The service did not start");
    // The window shows the settings put back, so that the next save does not write the failed ones again.
    EXPECT_EQ(SendMessageW(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(SelfCheckWindowTest, NoLeavesTheNewFile)
{
    WriteIni(kOldIni);
    answers = {IDNO};
    TfmMain& main = OpenScripted({4}, {kNotReport});
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    main.bbSaveAndRestartClick();
    const std::string saved = ReadIni();
    ASSERT_TRUE(WaitForLine(L"The service answers on port 4000 but not with its report"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ReadIni(), saved);
}

TEST_F(SelfCheckWindowTest, SaveOnlyDoesNotCheck)
{
    WriteIni(kOldIni);
    TfmMain& main = OpenScripted({1});
    session.Click(main.bbSave.Handle());
    session.ProcessPending();
    EXPECT_EQ(main.LabelSelfCheck.Caption(), L"");
    EXPECT_FALSE(main.SelfCheck.Running());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SelfCheckWindowTest, InputThatCannotWorkIsRefusedOrQuestionedBeforeWriting)
{
    struct Case {
        const char* name;
        std::string remote;
        int answer;
        bool written;
        const wchar_t* mentions;
    };
    const Case cases[] = {
        {"port 0", "Enabled=True\r\nPort=0\r\nUseSSL=False", IDOK, false, L"Port to listen to"},
        {"port 70000", "Enabled=True\r\nPort=70000\r\nUseSSL=False", IDOK, false, L"Port to listen to"},
        {"missing certificate, No", "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=none.cer", IDNO, false,
         L"none.cer"},
        {"missing certificate, Yes", "Enabled=True\r\nPort=443\r\nUseSSL=True\r\nCertFile=none.cer", IDYES, true,
         L"none.cer"},
    };
    for (const Case& c : cases) {
        const std::string ini = "[Remote]\r\n" + c.remote + "\r\nLogin=a\r\nPassword=b\r\n";
        WriteIni(ini);
        boxes.clear();
        answers = {c.answer};
        TfmMain& main = OpenScripted({4});
        OpenFrame<TFrRemote>(TfmMain::kItemRemote);
        main.bbSaveAndRestartClick();
        session.ProcessPending();
        ASSERT_FALSE(boxes.empty()) << c.name;
        EXPECT_NE(boxes[0].text.find(c.mentions), std::wstring::npos) << c.name;
        EXPECT_EQ(ReadIni() != ini, c.written) << c.name;
        // "&Save only" judges the same way.
        if (!c.written) {
            boxes.clear();
            answers = {c.answer};
            main.bbSaveClick();
            EXPECT_EQ(boxes.size(), 1u) << c.name;
            EXPECT_EQ(ReadIni(), ini) << c.name;
        }
        form.reset();
    }
}
