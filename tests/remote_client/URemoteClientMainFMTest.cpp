// The main window in-process: its layout and controls, the start mode from the command line, the tray
// messages, start failures and the order of destruction.
#include "URemoteClientMainFM.h"

#include "GuiHarness.h"

#include "Exceptions.h"
#include "ShellFolders.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const char kProgram[] = "C:\\Program Files\\Mendrel\\MendrelRemoteClient.exe";

class RemoteClientMainTest : public ::testing::Test {
protected:
    std::unique_ptr<TfmRemoteClientMain> MakeWindow(std::vector<std::string> args = {kProgram})
    {
        return std::make_unique<TfmRemoteClientMain>(app, args, settingsFile);
    }

    static std::vector<std::wstring> Columns(HWND list)
    {
        std::vector<std::wstring> captions;
        for (int i = 0; i < gui::ColumnCount(list); ++i)
            captions.push_back(gui::ColumnCaption(list, i));
        return captions;
    }

    static void ExpectReportList(HWND list, bool checkBoxes, bool multiSelect)
    {
        EXPECT_TRUE(gui::HasStyle(list, LVS_REPORT));
        EXPECT_EQ(gui::HasStyle(list, LVS_SINGLESEL), !multiSelect);
        EXPECT_FALSE(gui::HasStyle(list, LVS_EDITLABELS));
        DWORD extended = gui::ListExtendedStyle(list);
        EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
        EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
        EXPECT_EQ((extended & LVS_EX_CHECKBOXES) != 0, checkBoxes);
    }

    TApplication app;
    gui::TGuiSession session{app};
    std::wstring settingsFile = L"C:\\no such folder\\MendrelRemoteClient\\Settings.xml";
};

TEST_F(RemoteClientMainTest, WindowCaptionSizePlaceAndTaskbarButton)
{
    auto window = MakeWindow();
    session.ProcessPending();

    EXPECT_EQ(gui::Text(window->Handle()), L"Dravex Mendrel Remote Client");
    SIZE client = gui::ClientSize(window->Handle());
    EXPECT_EQ(client.cx, 670);
    EXPECT_EQ(client.cy, 288);
    RECT frame{};
    ::GetWindowRect(window->Handle(), &frame);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(frame.left, work.left);
    EXPECT_EQ(frame.top, work.top);
    EXPECT_TRUE(gui::HasExStyle(window->Handle(), WS_EX_APPWINDOW));
    EXPECT_EQ(app.MainForm(), window.get());
}

TEST_F(RemoteClientMainTest, ThreePagesInOrderWithCurrentStatusActive)
{
    auto window = MakeWindow();
    session.ProcessPending();
    HWND tabs = window->pgMain.TabHandle();
    ASSERT_EQ(gui::TabCount(tabs), 3);
    EXPECT_EQ(gui::TabCaption(tabs, 0), L"Current s&tatus");
    EXPECT_EQ(gui::TabCaption(tabs, 1), L"&Servers");
    EXPECT_EQ(gui::TabCaption(tabs, 2), L"S&ites");
    EXPECT_EQ(gui::CurrentTab(tabs), 0);
    EXPECT_TRUE(gui::IsShown(window->lvStatus.Handle()));
    EXPECT_FALSE(gui::IsShown(window->lvServers.Handle()));
    EXPECT_FALSE(gui::IsShown(window->lvSites.Handle()));

    RECT page{};
    ::GetClientRect(window->pgMain.Handle(), &page);
    SIZE client = gui::ClientSize(window->Handle());
    EXPECT_EQ(page.right, client.cx);
    EXPECT_EQ(page.bottom, client.cy);
}

TEST_F(RemoteClientMainTest, StatusPageListButtonsAndTimer)
{
    auto window = MakeWindow();
    HWND list = window->lvStatus.Handle();
    EXPECT_EQ(Columns(list), (std::vector<std::wstring>{L"Type", L"Link", L"Status", L"Last check time",
                                                        L"Last success", L"Next check time", L"Downtime", L"History"}));
    ExpectReportList(list, false, false);
    EXPECT_EQ(::GetParent(list), window->tsCurrentStatus.Handle());

    // Sorted by the first column: server rows stand before site rows.
    window->lvStatus.Add(L"Site");
    window->lvStatus.Add(L"Server");
    EXPECT_EQ(gui::CellText(list, 0, 0), L"Server");
    EXPECT_EQ(gui::CellText(list, 1, 0), L"Site");

    struct Case {
        TButton& button;
        const wchar_t* caption;
        bool enabled;
    };
    const Case buttons[] = {{window->bbConnect, L"&Connect", false},
                            {window->bbDisconnect, L"&Disconnect", true},
                            {window->bbRefreshNow, L"&Refresh now", true},
                            {window->bbReboot, L"&Reboot", true}};
    for (const Case& c : buttons) {
        SCOPED_TRACE(testing::Message() << "button " << std::string(c.caption, c.caption + wcslen(c.caption)));
        EXPECT_EQ(gui::Text(c.button.Handle()), c.caption);
        EXPECT_EQ(gui::IsEnabled(c.button.Handle()), c.enabled);
        EXPECT_EQ(::GetParent(c.button.Handle()), window->tsCurrentStatus.Handle());
    }
    EXPECT_EQ(window->CheckTimer.Interval(), 10000u);
    EXPECT_TRUE(window->CheckTimer.Enabled());
}

TEST_F(RemoteClientMainTest, WideningTheWindowMovesTheRightButtonsAndWidensTheList)
{
    auto window = MakeWindow();
    auto rightGap = [&](TWinControl& control) {
        RECT rect = gui::RectInParent(control.Handle());
        return gui::ClientSize(window->tsCurrentStatus.Handle()).cx - rect.right;
    };
    int rebootGap = rightGap(window->bbReboot);
    int refreshGap = rightGap(window->bbRefreshNow);
    RECT connect = gui::RectInParent(window->bbConnect.Handle());
    int listWidth = gui::ClientSize(window->lvStatus.Handle()).cx;

    window->SetClientSize(800, 400);

    EXPECT_EQ(rightGap(window->bbReboot), rebootGap);
    EXPECT_EQ(rightGap(window->bbRefreshNow), refreshGap);
    RECT movedConnect = gui::RectInParent(window->bbConnect.Handle());
    EXPECT_EQ(movedConnect.left, connect.left);
    EXPECT_EQ(movedConnect.top, connect.top + 112);
    EXPECT_EQ(gui::ClientSize(window->lvStatus.Handle()).cx, listWidth + 130);
}

TEST_F(RemoteClientMainTest, ServerAndSiteListsWithTheirLinks)
{
    auto window = MakeWindow();
    EXPECT_EQ(Columns(window->lvServers.Handle()),
              (std::vector<std::wstring>{L"Host:port", L"Check interval, minutes", L"Login", L"Password"}));
    EXPECT_EQ(Columns(window->lvSites.Handle()),
              (std::vector<std::wstring>{L"URL", L"Check interval, minutes", L"Code to check"}));
    ExpectReportList(window->lvServers.Handle(), true, true);
    ExpectReportList(window->lvSites.Handle(), true, true);

    struct Links {
        TTabSheet& page;
        TLinkLabel* links[3];
        const wchar_t* captions[3];
    };
    const Links pages[] = {
        {window->tsServers,
         {&window->LabelServerAdd, &window->LabelServerEdit, &window->LabelServerDelete},
         {L"&Add", L"&Edit", L"&Delete"}},
        {window->tsSites,
         {&window->LabelSiteAdd, &window->LabelSiteEdit, &window->LabelDelete},
         {L"&Add", L"&Edit", L"&Delete"}},
    };
    for (const Links& p : pages) {
        int left = -1;
        for (int i = 0; i < 3; ++i) {
            HWND link = p.links[i]->Handle();
            EXPECT_EQ(gui::Text(link), p.captions[i]);
            EXPECT_EQ(::GetParent(link), p.page.Handle());
            RECT rect = gui::RectInParent(link);
            EXPECT_GT(rect.left, left);
            left = rect.right;
            auto font = reinterpret_cast<HFONT>(::SendMessageW(link, WM_GETFONT, 0, 0));
            LOGFONTW info{};
            ::GetObjectW(font, sizeof info, &info);
            EXPECT_TRUE(info.lfUnderline);
        }
    }

    window->lvSites.Add(L"https://b.example");
    window->lvSites.Add(L"https://a.example");
    EXPECT_EQ(gui::CellText(window->lvSites.Handle(), 0, 0), L"https://a.example");
}

TEST_F(RemoteClientMainTest, StartModeFromTheHideWord)
{
    struct Case {
        std::vector<std::string> args;
        bool hidden;
    };
    const Case cases[] = {
        {{kProgram}, false},
        {{kProgram, "Hide", "True"}, true},
        {{kProgram, "hide", "1"}, true},
        {{kProgram, "HIDE", "t"}, true},
        {{kProgram, "Hide", "No"}, false},
        {{kProgram, "Hide", "yes"}, false},
        {{kProgram, "/Hide", "True"}, false},
        {{kProgram, "Hide", "False", "Other"}, false},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& word : c.args)
            line += word + " ";
        SCOPED_TRACE(line);
        app.SetShowMainForm(true);
        auto window = MakeWindow(c.args);
        // Posted, and handled when the status list is first built, at the end of the construction.
        EXPECT_EQ(gui::IsShown(window->Handle()), !c.hidden);
        session.ProcessPending();
        EXPECT_EQ(gui::IsShown(window->Handle()), !c.hidden);
        EXPECT_EQ(app.ShowMainForm(), !c.hidden);
    }
}

TEST_F(RemoteClientMainTest, TrayMessagesHideAndShowTheWindow)
{
    auto window = MakeWindow();
    session.ProcessPending();
    ASSERT_TRUE(gui::IsShown(window->Handle()));

    ::SendMessageW(window->Handle(), 1025, 0, 0);
    EXPECT_FALSE(gui::IsShown(window->Handle()));
    ::SendMessageW(window->Handle(), 1026, 0, 0);
    EXPECT_TRUE(gui::IsShown(window->Handle()));
    EXPECT_EQ(::GetForegroundWindow(), window->Handle());
}

TEST_F(RemoteClientMainTest, HideAsTheLastWordStopsTheStart)
{
    try {
        MakeWindow({kProgram, "Hide"});
        ADD_FAILURE() << "the window was made";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Parameter name \"Hide\" not found in application path");
    }

    EXPECT_NE(RunRemoteClient(app, {kProgram, "Hide"}, settingsFile), 0);
    ASSERT_EQ(session.ShownBoxes().size(), 1u);
    EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Mendrel Remote Client");
    EXPECT_EQ(session.ShownBoxes()[0].Text, L"Parameter name \"Hide\" not found in application path");
    EXPECT_EQ(gui::FindTopLevel(nullptr, L"Dravex Mendrel Remote Client", ::GetCurrentProcessId()), nullptr);
    EXPECT_EQ(app.MainForm(), nullptr);
}

TEST_F(RemoteClientMainTest, ProgramRunsUntilTheWindowCloses)
{
    bool wasShown = false;
    session.WhenWindowAppears(
        [] {
            HWND window = gui::FindTopLevel(nullptr, L"Dravex Mendrel Remote Client", ::GetCurrentProcessId());
            return window && gui::IsShown(window) ? window : nullptr;
        },
        [&](HWND window) {
            wasShown = true;
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
    EXPECT_EQ(RunRemoteClient(app, {kProgram}, settingsFile), 0);
    EXPECT_TRUE(wasShown);
    EXPECT_EQ(app.Title(), L"Mendrel Remote Client");
    EXPECT_TRUE(session.ShownBoxes().empty());
}

// The settings file of the program: below the roaming application-data folder, unless the process names a folder of
// its own (with or without its last backslash); an empty name counts as none.
TEST_F(RemoteClientMainTest, SettingsFileIsTheUsersUnlessTheProcessNamesAFolder)
{
    const std::wstring users = GetAppDataFolder() + L"MendrelRemoteClient\\Settings.xml";
    struct Case {
        const wchar_t* variable;
        std::wstring file;
    };
    const Case cases[] = {
        {nullptr, users},
        {L"", users},
        {L"C:\\Portable\\Mendrel", L"C:\\Portable\\Mendrel\\Settings.xml"},
        {L"C:\\Portable\\Mendrel\\", L"C:\\Portable\\Mendrel\\Settings.xml"},
    };
    for (const auto& c : cases) {
        ::SetEnvironmentVariableW(kSettingsFolderVariable, c.variable);
        EXPECT_EQ(GetSettingsFileName(), c.file) << (c.variable ? WideToUtf8(c.variable) : "(none)");
    }
    ::SetEnvironmentVariableW(kSettingsFolderVariable, nullptr);
    auto window = MakeWindow();
    EXPECT_EQ(window->SettingsFileName(), settingsFile);
}

// A status object that notes whether the window still existed when it was freed.
class TProbeObject : public TObject {
public:
    TProbeObject(HWND window, bool& windowAlive) : window_(window), windowAlive_(windowAlive) {}
    ~TProbeObject() override { windowAlive_ = ::IsWindow(window_) != FALSE; }

private:
    HWND window_;
    bool& windowAlive_;
};

TEST_F(RemoteClientMainTest, WindowGoesBeforeTheObjectsItShows)
{
    bool windowAlive = true;
    auto window = MakeWindow();
    HWND handle = window->Handle();
    window->StatusObjectList.push_back(std::make_shared<TProbeObject>(handle, windowAlive));
    window->lvStatus.Add(L"Server", window->StatusObjectList.back().get());
    window.reset();
    EXPECT_FALSE(windowAlive);
}

} // namespace
