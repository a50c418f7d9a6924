// The remote client through whole scenarios, as a user meets them: a server added through its dialog against
// the stand-in service, the service going away and coming back, a reboot order, sites judged by their pages,
// and a start in the tray. Each scenario ends with its processes gone and leaves the prefix's services and
// the user's settings folder as it found them.
#include "E2ESupport.h"

#include "ShellFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>
#include <set>

using namespace e2e;

namespace {

const wchar_t kMainCaption[] = L"Dravex Mendrel Remote Client";
// The badges of the tray pictures: a green check mark, a red stop mark.
const COLORREF kBadgeGreen = RGB(20, 160, 40);
const COLORREF kBadgeRed = RGB(210, 30, 30);

enum TColumn { kType, kLink, kStatus, kLastCheck, kLastSuccess, kNextCheck, kDowntime, kHistory };

// URLs and codes of these scenarios are ASCII.
std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A text as a failure message shows it, line breaks visible.
std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c == L'\r'   ? std::string("\\r")
               : c == L'\n' ? std::string("\\n")
                            : std::string(1, char(c < 128 ? c : '?'));
    return out;
}

// What a scenario must leave as it found it: the service "Mendrel" and the user's settings folder.
struct TPrefixState {
    bool service = false;
    bool folder = false;
    std::string settings;
};

TPrefixState PrefixState()
{
    const std::wstring folder = GetAppDataFolder() + L"MendrelRemoteClient";
    TPrefixState state;
    state.service = ServiceRegistered(L"Mendrel");
    state.folder = FileExists(folder);
    state.settings = ReadFileBytes(folder + L"\\Settings.xml");
    return state;
}

class RemoteClientScenario : public testing::Test {
protected:
    void SetUp() override
    {
        before_ = PrefixState();
        settings_.emplace();
    }
    void TearDown() override
    {
        settings_.reset();
        TPrefixState after = PrefixState();
        EXPECT_EQ(after.service, before_.service) << "the service \"Mendrel\" is not as it was";
        EXPECT_EQ(after.folder, before_.folder) << "the settings folder is not as it was";
        EXPECT_EQ(after.settings, before_.settings) << "Settings.xml is not as it was";
    }
    TSettingsFolderGuard& Settings() { return *settings_; }

private:
    TPrefixState before_;
    std::optional<TSettingsFolderGuard> settings_;
};

std::string SettingsWith(const std::string& servers, const std::string& sites = {})
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><Options>";
    if (!servers.empty())
        xml += "<Servers>" + servers + "</Servers>";
    if (!sites.empty())
        xml += "<Sites>" + sites + "</Sites>";
    return xml + "</Options>";
}

std::string ServerItem(const std::string& name, const std::wstring& url, const std::string& user,
                       const std::string& password, int minutes)
{
    return "<" + name + "><Active>True</Active><URL>" + Ascii(url) + "</URL><CheckIntevalMinutes>" +
           std::to_string(minutes) + "</CheckIntevalMinutes><Username>" + user + "</Username><Password>" + password +
           "</Password></" + name + ">";
}

bool IsReportText(const std::wstring& text)
{
    static const std::wregex report(LR"(.+: Physical free: \d+ MB, Total free: \d+ MB\.)");
    return std::regex_match(text, report);
}

// "hh:nn" with the locale's separator.
bool IsClockText(const std::wstring& text)
{
    static const std::wregex clock(LR"(\d\d\D\d\d)");
    return std::regex_match(text, clock);
}

// The whole minutes of a Downtime cell ("%4d:%2d" of hours and minutes), or -1 when it has another form.
int DowntimeMinutes(const std::wstring& cell)
{
    int hours = 0, minutes = 0;
    if (swscanf(cell.c_str(), L"%d:%d", &hours, &minutes) != 2)
        return -1;
    wchar_t again[32];
    swprintf(again, 32, L"%4d:%2d", hours, minutes);
    return cell == again && minutes < 60 ? hours * 60 + minutes : -1;
}

const ListRow* RowOf(const std::vector<ListRow>& rows, const std::wstring& link)
{
    for (const ListRow& row : rows) {
        if (row.cells.size() == static_cast<size_t>(kStatusColumns) && row.cells[kLink] == link)
            return &row;
    }
    return nullptr;
}

std::wstring Cell(const std::vector<ListRow>& rows, const std::wstring& link, int column)
{
    const ListRow* row = RowOf(rows, link);
    return row ? row->cells[static_cast<size_t>(column)] : L"";
}

int IndexOf(const std::vector<ListRow>& rows, const std::wstring& link)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (&rows[i] == RowOf(rows, link))
            return static_cast<int>(i);
    }
    return -1;
}

// The row's colour once it is painted.
TRowColour WaitForRowColour(HWND main, int index, TRowColour wanted)
{
    TRowColour colour = TRowColour::Other;
    WaitUntil(
        [&] {
            colour = StatusRowColour(StatusList(main), index);
            return colour == wanted;
        },
        5s, 100ms);
    return colour;
}

// A page of the main window, as a click on its tab opens it: 0 status, 1 servers, 2 sites.
void ShowPage(HWND main, int index) { SelectTab(FindChildOfClass(main, L"SysTabControl32"), index); }

// "&Add" under the page's list opens the edit dialog of a new item.
HWND OpenAddDialog(DWORD processId, HWND main, int page, const wchar_t* caption)
{
    ShowPage(main, page);
    HWND add = nullptr;
    if (!WaitUntil([&] { return (add = FindVisibleChild(main, L"&Add", L"Static")) != nullptr; }, 10s))
        return nullptr;
    Click(add);
    return FindTopWindow(processId, caption, 10s);
}

// "&Check now" in an edit dialog; the message that ends the check (done), or empty after the time-out.
std::wstring PressCheckNow(HWND dialog, const std::function<bool(const std::wstring&)>& done)
{
    HWND button = FindChild(dialog, L"&Check now", L"Button");
    if (!button)
        return {};
    // The click is posted: blank what an earlier check wrote first, or the wait could read that text before the
    // dialog has even seen the click.
    for (HWND label : ChildrenOfClass(dialog, L"Static"))
        if (done(Text(label)))
            SendMessageW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    Click(button);
    std::wstring message;
    WaitUntil(
        [&] {
            for (HWND label : ChildrenOfClass(dialog, L"Static")) {
                std::wstring text = Visible(label) ? Text(label) : L"";
                if (done(text)) {
                    message = text;
                    return true;
                }
            }
            return false;
        },
        30s, 100ms);
    return message;
}

bool ConfirmDialog(HWND dialog)
{
    HWND ok = FindChild(dialog, L"OK", L"Button");
    if (!ok)
        return false;
    Click(ok);
    return WaitUntil([&] { return !IsWindow(dialog); }, 10s);
}

// The button whose tooltip says "Hide to tray": the client's stand-in for the caption-bar button.
HWND HideToTrayButton(DWORD processId)
{
    for (HWND w : TopWindows(processId)) {
        if (ClassName(w) != L"tooltips_class32")
            continue;
        for (const ToolTipTool& tool : ToolTipTools(w)) {
            if (tool.text == L"Hide to tray")
                return reinterpret_cast<HWND>(tool.id);
        }
    }
    return nullptr;
}

HWND NewTrayIcon(const std::vector<HWND>& before)
{
    for (HWND icon : TrayIconWindows()) {
        if (std::find(before.begin(), before.end(), icon) == before.end())
            return icon;
    }
    return nullptr;
}

bool TrayIconGone(HWND icon)
{
    std::vector<HWND> icons = TrayIconWindows();
    return std::find(icons.begin(), icons.end(), icon) == icons.end();
}

RECT WindowRect(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// Closing the main window ends the program, with exit code 0.
void CloseClient(Process& client, HWND main)
{
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(client.Wait(15s), 0u);
    EXPECT_FALSE(client.Running());
}

} // namespace

// A fresh user adds a server through "Edit server", checks it at once and confirms; the scheduler then follows
// the stand-in service down and up again, and the tray follows the status list.
TEST_F(RemoteClientScenario, ServerAddedThroughItsDialogFollowsTheServiceDownAndUpAgain)
{
    TStandinHost standin("admin", "s3cret");
    ASSERT_TRUE(standin.Start());
    const std::wstring url = standin.BaseURL();
    ASSERT_FALSE(FileExists(Settings().Folder()));
    const std::vector<HWND> iconsBefore = TrayIconWindows();

    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), kMainCaption);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Visible(main); }, 10s));

    // The dialog of a new server opens empty, with the interval at 1.
    HWND dialog = OpenAddDialog(client.Id(), main, 1, L"Edit server");
    ASSERT_NE(dialog, nullptr);
    HWND urlField = FindFieldBeside(dialog, L"Server URL to check:");
    HWND userField = FindFieldBeside(dialog, L"Username:");
    HWND passwordField = FindFieldBeside(dialog, L"Password:");
    HWND minutesField = FindFieldBeside(dialog, L"Check every minutes:");
    HWND active = FindChild(dialog, L"Use this rule", L"Button");
    ASSERT_TRUE(urlField && userField && passwordField && minutesField && active);
    ASSERT_EQ(std::set<HWND>({urlField, userField, passwordField, minutesField}).size(), 4u);
    EXPECT_EQ(Text(urlField), L"");
    EXPECT_EQ(Text(minutesField), L"1");
    EXPECT_EQ(SendMessageW(active, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SetChecked(active, true);
    SetText(urlField, url);
    SetText(userField, L"admin");
    SetText(passwordField, L"wrong");
    SetText(minutesField, L"1");

    // "&Check now" asks the stand-in with the credentials as typed: a wrong password gets the refusal page,
    // which is no report; the right one gets the short report text.
    auto checkDone = [](const std::wstring& text) {
        return text.find(L": Total free: ") != std::wstring::npos || text == L"Failed to connect" ||
               text == L"Bad response";
    };
    EXPECT_EQ(PressCheckNow(dialog, checkDone), L"Bad response");
    SetText(passwordField, L"s3cret");
    std::wstring message = PressCheckNow(dialog, checkDone);
    EXPECT_TRUE(std::regex_match(message, std::wregex(LR"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: Total free: \d+ MB)")))
        << Narrow(message);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-edit-server-checked.png"), dialog);
    EXPECT_FALSE(FileExists(Settings().File())) << "the check saved something";
    ASSERT_TRUE(ConfirmDialog(dialog));

    // The status row turns green with the report, and the folder and the file appear with the server.
    ShowPage(main, 0);
    auto rows = WaitForStatusRows(
        main, [&](const std::vector<ListRow>& r) { return IsReportText(Cell(r, url, kStatus)); }, 30s);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(IsReportText(Cell(rows, url, kStatus))) << Narrow(Cell(rows, url, kStatus));
    EXPECT_EQ(Cell(rows, url, kType), L"Server");
    EXPECT_TRUE(IsClockText(Cell(rows, url, kLastCheck))) << Narrow(Cell(rows, url, kLastCheck));
    EXPECT_EQ(Cell(rows, url, kLastSuccess), Cell(rows, url, kLastCheck));
    EXPECT_TRUE(IsClockText(Cell(rows, url, kNextCheck)));
    EXPECT_EQ(Cell(rows, url, kDowntime), L"   0: 0");
    EXPECT_EQ(WaitForRowColour(main, 0, TRowColour::Green), TRowColour::Green);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-server-green.png"), main);
    const std::wstring greenAt = Cell(rows, url, kLastSuccess);

    ASSERT_TRUE(FileExists(Settings().File()));
    const std::string xml = Settings().Read();
    // One item named "Item" and a GUID, its values in the file's order (the layout may indent them).
    EXPECT_TRUE(std::regex_search(
        xml, std::regex(R"(<Servers>\s*<(Item[0-9A-F]{32})>\s*<Active>True</Active>\s*<URL>)" +
                        std::regex_replace(Ascii(url), std::regex(R"(\.)"), R"(\.)") +
                        R"(</URL>\s*<CheckIntevalMinutes>1</CheckIntevalMinutes>\s*<Username>admin</Username>)"
                        R"(\s*<Password>s3cret</Password>\s*</\1>\s*</Servers>)")))
        << xml;
    EXPECT_EQ(xml.find("<Sites"), std::string::npos) << xml;

    // The service stops: the next due check (a minute after the last, on a 10-second tick) fails.
    ASSERT_TRUE(standin.Stop());
    std::wstring popup;
    auto watchPopup = [&] {
        std::wstring text = TrayPopupText(client.Id());
        if (text.find(L"Check failed") != std::wstring::npos)
            popup = text;
    };
    rows = WaitForStatusRows(
        main,
        [&](const std::vector<ListRow>& r) {
            watchPopup();
            return Cell(r, url, kStatus) == L"Failed to connect";
        },
        100s);
    ASSERT_EQ(Cell(rows, url, kStatus), L"Failed to connect");
    // The pop-up shows the failing server's line for a few seconds.
    WaitUntil(
        [&] {
            watchPopup();
            return !popup.empty();
        },
        5s, 100ms);
    EXPECT_EQ(popup, url + L": Check failed\r\n") << Narrow(popup);
    // The first failure is charged the minute since the last check; the last success stays.
    const int firstDowntime = DowntimeMinutes(Cell(rows, url, kDowntime));
    EXPECT_GE(firstDowntime, 1) << Narrow(Cell(rows, url, kDowntime));
    EXPECT_LE(firstDowntime, 2) << Narrow(Cell(rows, url, kDowntime));
    EXPECT_EQ(Cell(rows, url, kLastSuccess), greenAt);
    EXPECT_EQ(WaitForRowColour(main, 0, TRowColour::Red), TRowColour::Red);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-server-red.png"), main);

    // Hidden to the tray, the window goes and the icon shows the failure in its picture and its tooltip.
    HWND hide = HideToTrayButton(client.Id());
    ASSERT_NE(hide, nullptr);
    Click(hide);
    ASSERT_TRUE(WaitUntil([&] { return !Visible(main); }, 10s));
    HWND icon = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (icon = NewTrayIcon(iconsBefore)) != nullptr; }, 10s))
        << "no icon in Wine's system tray";
    EXPECT_TRUE(WaitUntil([&] { return TrayIconTip(icon) == url + L": Check failed\r\n"; }, 5s))
        << Narrow(TrayIconTip(icon));
    EXPECT_TRUE(WaitUntil([&] { return ScreenColourShare(WindowRect(icon), kBadgeRed) > 0.05; }, 5s));
    EXPECT_LT(ScreenColourShare(WindowRect(icon), kBadgeGreen), 0.01);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-tray-red.png"));

    // The next failing check adds the minute since the previous one.
    rows = WaitForStatusRows(
        main, [&](const std::vector<ListRow>& r) { return DowntimeMinutes(Cell(r, url, kDowntime)) > firstDowntime; },
        100s);
    const int grownDowntime = DowntimeMinutes(Cell(rows, url, kDowntime));
    EXPECT_GT(grownDowntime, firstDowntime) << Narrow(Cell(rows, url, kDowntime));
    EXPECT_EQ(Cell(rows, url, kStatus), L"Failed to connect");
    EXPECT_FALSE(Visible(main));

    // The service comes back on the same port: green again at the next due check, and the tray follows.
    ASSERT_TRUE(standin.Start());
    popup.clear();
    auto watchOkPopup = [&] {
        std::wstring text = TrayPopupText(client.Id());
        if (text.find(L"Status Ok") != std::wstring::npos)
            popup = text;
    };
    rows = WaitForStatusRows(
        main,
        [&](const std::vector<ListRow>& r) {
            watchOkPopup();
            return IsReportText(Cell(r, url, kStatus));
        },
        100s);
    ASSERT_TRUE(IsReportText(Cell(rows, url, kStatus))) << Narrow(Cell(rows, url, kStatus));
    EXPECT_EQ(DowntimeMinutes(Cell(rows, url, kDowntime)), grownDowntime) << "a success adds no downtime";
    EXPECT_EQ(Cell(rows, url, kLastSuccess), Cell(rows, url, kLastCheck));
    WaitUntil(
        [&] {
            watchOkPopup();
            return !popup.empty();
        },
        3s, 100ms);
    EXPECT_EQ(popup, url + L": Status Ok\r\n") << Narrow(popup);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconTip(icon) == url + L": Status Ok\r\n"; }, 5s))
        << Narrow(TrayIconTip(icon));
    EXPECT_TRUE(WaitUntil([&] { return ScreenColourShare(WindowRect(icon), kBadgeGreen) > 0.05; }, 5s));
    EXPECT_LT(ScreenColourShare(WindowRect(icon), kBadgeRed), 0.01);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-tray-green.png"));

    // A click on the icon brings the window back and takes the icon away.
    ClickTrayIcon(icon);
    EXPECT_TRUE(WaitUntil([&] { return Visible(main); }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return TrayIconGone(icon); }, 10s));
    EXPECT_EQ(WaitForRowColour(main, 0, TRowColour::Green), TRowColour::Green);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-server-green-again.png"), main);

    CloseClient(client, main);
}

// "&Reboot" on the selected server row sends the order to the stand-in, which records it; the Status column
// says so and the other columns stay.
TEST_F(RemoteClientScenario, RebootOfTheSelectedServerReachesTheService)
{
    TStandinHost standin("operator", "pa55");
    ASSERT_TRUE(standin.Start());
    const std::wstring url = standin.BaseURL();
    Settings().Write(SettingsWith(ServerItem("ItemReboot", url, "operator", "pa55", 10)));

    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), kMainCaption);
    ASSERT_NE(main, nullptr);
    auto rows = WaitForStatusRows(
        main, [&](const std::vector<ListRow>& r) { return IsReportText(Cell(r, url, kStatus)); }, 30s);
    ASSERT_TRUE(IsReportText(Cell(rows, url, kStatus))) << Narrow(Cell(rows, url, kStatus));
    EXPECT_FALSE(FileExists(standin.RebootLog()));

    HWND list = StatusList(main);
    SelectListRow(list, 0);
    HWND reboot = FindChild(main, L"&Reboot", L"Button");
    ASSERT_NE(reboot, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Enabled(reboot); }, 5s));
    Click(reboot);
    auto after = WaitForStatusRows(
        main, [&](const std::vector<ListRow>& r) { return Cell(r, url, kStatus) == L"Reboot initiated"; }, 30s);
    ASSERT_EQ(Cell(after, url, kStatus), L"Reboot initiated");
    // Only the Status column shows the order; no question was asked.
    for (int column : {kType, kLink, kLastCheck, kLastSuccess, kNextCheck, kDowntime})
        EXPECT_EQ(Cell(after, url, column), Cell(rows, url, column)) << "column " << column;
    EXPECT_EQ(WaitForBox(client.Id(), 500ms).Window, nullptr);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-reboot.png"), main);

    // The stand-in has the order in its log, once, from the loopback address.
    std::string log;
    EXPECT_TRUE(WaitUntil(
        [&] {
            log = ReadFileBytes(standin.RebootLog());
            return !log.empty();
        },
        10s));
    EXPECT_TRUE(
        std::regex_match(log, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d reboot ordered by 127\.0\.0\.1\r?\n)")))
        << log;

    // With the service gone the order cannot be sent, and the Status column says so.
    ASSERT_TRUE(standin.Stop());
    SelectListRow(list, 0);
    Click(reboot);
    after = WaitForStatusRows(
        main, [&](const std::vector<ListRow>& r) { return Cell(r, url, kStatus) == L"Failed to connect"; }, 30s);
    EXPECT_EQ(Cell(after, url, kStatus), L"Failed to connect");
    EXPECT_EQ(Cell(after, url, kDowntime), Cell(rows, url, kDowntime));
    EXPECT_EQ(ReadFileBytes(standin.RebootLog()), log);

    CloseClient(client, main);
}

// Sites added through "Edit site": a page with the code turns green with "Code found", one without it red with
// "Code not found"; a page behind the stand-in's credentials is judged on its refusal page, since a site check
// sends no credentials.
TEST_F(RemoteClientScenario, SitesTurnGreenWhenTheCodeIsOnThePageAndRedWhenNot)
{
    TTestServers servers;
    ASSERT_TRUE(servers.Available()) << "MENDREL_TEST_SERVERS names no ports file of tests/servers";
    TStandinHost standin("admin", "s3cret");
    ASSERT_TRUE(standin.Start());
    struct TSite {
        std::wstring url;
        std::wstring code;
        std::wstring checkNow;
        std::wstring status;
        TRowColour colour;
    };
    const TSite sites[] = {
        {servers.URL(L"/page"), L"Welcome to the shop", L"Code found", L"Code found", TRowColour::Green},
        {servers.URL(L"/page?closed"), L"Closed for good", L"Code not found", L"Code not found", TRowColour::Red},
        {standin.BaseURL() + L"/", L"<h1>Mendrel</h1>", L"Code not found", L"Code not found", TRowColour::Red},
    };

    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), kMainCaption);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Visible(main); }, 10s));
    for (const TSite& site : sites) {
        HWND dialog = OpenAddDialog(client.Id(), main, 2, L"Edit site");
        ASSERT_NE(dialog, nullptr) << Narrow(site.url);
        HWND urlField = FindFieldBeside(dialog, L"URL to check:");
        HWND codeField = FindFieldBeside(dialog, L"Check for this string:");
        HWND minutesField = FindFieldBeside(dialog, L"Check every minutes:");
        HWND active = FindChild(dialog, L"Use this rule", L"Button");
        ASSERT_TRUE(urlField && codeField && minutesField && active);
        SetChecked(active, true);
        SetText(urlField, site.url);
        SetText(codeField, site.code);
        SetText(minutesField, L"5");
        std::wstring message = PressCheckNow(dialog, [](const std::wstring& text) {
            return text == L"Code found" || text == L"Code not found" || text == L"Failed to connect";
        });
        EXPECT_EQ(message, site.checkNow) << Narrow(site.url);
        ASSERT_TRUE(ConfirmDialog(dialog));
    }

    ShowPage(main, 0);
    auto rows = WaitForStatusRows(
        main,
        [&](const std::vector<ListRow>& r) {
            return r.size() == std::size(sites) && std::all_of(std::begin(sites), std::end(sites), [&](const TSite& s) {
                       return Cell(r, s.url, kStatus) == s.status;
                   });
        },
        30s);
    ASSERT_EQ(rows.size(), std::size(sites));
    for (const TSite& site : sites) {
        EXPECT_EQ(Cell(rows, site.url, kType), L"Site") << Narrow(site.url);
        EXPECT_EQ(Cell(rows, site.url, kStatus), site.status) << Narrow(site.url);
        const int index = IndexOf(rows, site.url);
        ASSERT_GE(index, 0);
        TRowColour colour = WaitForRowColour(main, index, site.colour);
        EXPECT_EQ(colour, site.colour) << Narrow(site.url) << ": " << RowColourName(colour);
        // A site that passed has its last success now; a failing one has none yet.
        if (site.colour == TRowColour::Green)
            EXPECT_EQ(Cell(rows, site.url, kLastSuccess), Cell(rows, site.url, kLastCheck));
        else
            EXPECT_TRUE(std::regex_match(Cell(rows, site.url, kLastSuccess), std::wregex(LR"(00\D00)")));
    }
    SaveScreenshot(ArtifactPath(L"e2e-scenario-sites.png"), main);

    // The file holds the three sites, and no servers.
    const std::string xml = Settings().Read();
    EXPECT_EQ(xml.find("<Servers"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<CodeToCheck>Welcome to the shop</CodeToCheck>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<CodeToCheck>&lt;h1&gt;Mendrel&lt;/h1&gt;</CodeToCheck>"), std::string::npos) << xml;

    CloseClient(client, main);
}

// "Hide True": the window stays hidden while the checks run, the icon stands in the tray with the state in its
// tooltip, and a click on it brings the window back and takes the icon away.
TEST_F(RemoteClientScenario, HiddenStartLivesInTheTrayUntilTheIconIsClicked)
{
    TStandinHost standin("admin", "s3cret");
    ASSERT_TRUE(standin.Start());
    const std::wstring url = standin.BaseURL();
    Settings().Write(SettingsWith(ServerItem("ItemTray", url, "admin", "s3cret", 10)));
    const std::vector<HWND> iconsBefore = TrayIconWindows();

    Process client = Process::Start(RemoteClientExe(), L"Hide True");
    HWND main = FindTopWindow(client.Id(), kMainCaption);
    ASSERT_NE(main, nullptr);
    HWND icon = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (icon = NewTrayIcon(iconsBefore)) != nullptr; }, 20s))
        << "no icon in Wine's system tray";

    // The check runs and is announced while the window stays hidden.
    std::wstring popup;
    auto rows = WaitForStatusRows(
        main,
        [&](const std::vector<ListRow>& r) {
            if (popup.empty())
                popup = TrayPopupText(client.Id());
            EXPECT_FALSE(Visible(main));
            return IsReportText(Cell(r, url, kStatus));
        },
        30s);
    ASSERT_TRUE(IsReportText(Cell(rows, url, kStatus)));
    WaitUntil(
        [&] {
            if (popup.empty())
                popup = TrayPopupText(client.Id());
            return !popup.empty();
        },
        3s, 100ms);
    EXPECT_EQ(popup, url + L": Status Ok\r\n") << Narrow(popup);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconTip(icon) == url + L": Status Ok\r\n"; }, 5s))
        << Narrow(TrayIconTip(icon));
    EXPECT_TRUE(WaitUntil([&] { return ScreenColourShare(WindowRect(icon), kBadgeGreen) > 0.05; }, 5s));
    SaveScreenshot(ArtifactPath(L"e2e-scenario-hidden-start.png"));
    // A while later it is still hidden.
    EXPECT_FALSE(WaitUntil([&] { return Visible(main); }, 2s));

    ClickTrayIcon(icon);
    EXPECT_TRUE(WaitUntil([&] { return Visible(main); }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return TrayIconGone(icon); }, 10s));
    EXPECT_EQ(WaitForRowColour(main, 0, TRowColour::Green), TRowColour::Green);
    SaveScreenshot(ArtifactPath(L"e2e-scenario-hidden-start-shown.png"), main);

    CloseClient(client, main);
}
