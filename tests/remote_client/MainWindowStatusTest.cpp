// The status list against real loopback servers: what the rows show and how they are coloured, the
// scheduler's ticks, the four buttons, and checks that outlive their rows or the window.
// Winsock before anything that brings in windows.h.
#include "StandinServer.h"

#include "LayoutCheck.h"
#include "MainWindowSupport.h"
#include "UTrayNotificationFM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <regex>
#include <utility>

namespace {

const wchar_t kReport[] = L"12:00: Physical free: 512 MB, Total free: 2048 MB.";

class MainWindowStatus : public MainWindowTest {
protected:
    // The reboot orders that the http server has counted for a path below it.
    static int RebootsOf(const std::string& base)
    {
        std::optional<std::string> body = RetrieveURL(TTestServers::Get().Http(L"/reboots"), nullptr);
        if (!body)
            return -1;
        std::string key = "('" + base + "', ";
        size_t at = body->find(key);
        return at == std::string::npos ? 0 : std::atoi(body->c_str() + at + key.size());
    }

    COLORREF RowPixel(int row)
    {
        HWND list = window->lvStatus.Handle();
        RECT item{};
        item.left = LVIR_LABEL;
        ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        HDC dc = ::GetDC(list);
        COLORREF pixel = ::GetPixel(dc, item.right - 3, (item.top + item.bottom) / 2);
        ::ReleaseDC(list, dc);
        return pixel;
    }
    void Repaint()
    {
        ::InvalidateRect(window->lvStatus.Handle(), nullptr, TRUE);
        ::UpdateWindow(window->lvStatus.Handle());
        session.PumpFor(50);
    }
    void Select(int row)
    {
        for (int i = 0; i < window->lvStatus.Count(); ++i)
            window->lvStatus.Item(i).SetSelected(i == row);
    }
    bool Enabled(TButton& button) const { return gui::IsEnabled(button.Handle()); }
};

TEST_F(MainWindowStatus, RowsShowTheOutcomeOfEachCheck)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml(
        {{"Item1", s.Http(L"/ok"), true, 10, "", ""},
         {"Item2", s.Refused(), true, 5, "", ""},
         {"Item3", s.Http(L"/ok/sub"), false, 10, "", ""}},
        {{"Item4", s.Http(L"/page"), true, 10, "Welcome"}, {"Item5", s.Http(L"/page"), true, 1, "Farewell"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());

    std::wstring now = ShortTime(clock.Now());
    std::wstring never = ShortTime(0);
    EXPECT_EQ(Rows(window->lvStatus.Handle()),
              (std::vector<std::vector<std::wstring>>{{L"Server", s.Http(L"/ok"), kReport, now, now,
                                                       ShortTime(AddMinutes(clock.Now(), 10)), L"   0: 0", L""},
                                                      {L"Server", s.Refused(), L"Failed to connect", now, never,
                                                       ShortTime(AddMinutes(clock.Now(), 5)), L"   0: 0", L""},
                                                      {L"Site", s.Http(L"/page"), L"Code found", now, now,
                                                       ShortTime(AddMinutes(clock.Now(), 10)), L"   0: 0", L""},
                                                      {L"Site", s.Http(L"/page"), L"Code not found", now, never,
                                                       ShortTime(AddMinutes(clock.Now(), 1)), L"   0: 0", L""}}));

    // The Status column fits the report's text once the callbacks' burst is over.
    app.ProcessMessages();
    HWND list = window->lvStatus.Handle();
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE report{};
    ::GetTextExtentPoint32W(dc, kReport, static_cast<int>(std::wcslen(kReport)), &report);
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    EXPECT_FALSE(window->lvStatus.ColumnWidthsStale());
    EXPECT_GE(gui::ColumnWidth(list, 2), report.cx);
}

TEST_F(MainWindowStatus, RowsAreGreenWhenTheirCheckPassedAndRedWhenItFailed)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml(
        {{"Item1", s.Http(L"/ok"), true, 10, "", ""},
         {"Item2", s.Refused(), true, 10, "", ""},
         {"Item3", s.Http(L"/html"), true, 10, "", ""}},
        {{"Item4", s.Http(L"/page"), true, 10, "Welcome"}, {"Item5", s.Http(L"/page"), true, 10, "Farewell"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    window->BringToFront();
    Repaint();

    struct Case {
        int row;
        const wchar_t* status;
        COLORREF colour;
    };
    const Case cases[] = {{0, kReport, RGB(0, 255, 0)},
                          {1, L"Failed to connect", RGB(255, 0, 0)},
                          {2, L"Bad response", RGB(255, 0, 0)},
                          {3, L"Code found", RGB(0, 255, 0)},
                          {4, L"Code not found", RGB(255, 0, 0)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row);
        EXPECT_EQ(StatusRow(c.row)[2], c.status);
        EXPECT_EQ(RowPixel(c.row), c.colour);
    }
    gui::SaveScreenshot(window->Handle(), L"remote-main-status-colours");

    // A selected row is not painted in the colour of its outcome.
    Select(1);
    Repaint();
    gui::SaveScreenshot(window->Handle(), L"remote-main-status-selected");
    EXPECT_NE(RowPixel(1), RGB(255, 0, 0));
    EXPECT_EQ(RowPixel(0), RGB(0, 255, 0));
}

TEST_F(MainWindowStatus, TimerTicksCheckDueItemsAndFailuresAddUpDowntime)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(
        SettingsXml({{"Item1", s.Refused(), true, 1, "", ""}, {"Item2", s.Http(L"/ok"), true, 0, "", ""}}, {}));
    const TDateTime start = clock.Now();
    Open();
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0)[5], ShortTime(AddMinutes(start, 1)));

    // Nothing is due yet but the item checked every 0 minutes.
    window->CheckTimerTimer();
    EXPECT_FALSE(window->StatusOfRow(window->lvStatus.Item(0))->CheckRunning());
    EXPECT_TRUE(window->StatusOfRow(window->lvStatus.Item(1))->CheckRunning());
    ASSERT_TRUE(WaitForChecks());

    // Seventy-five minutes later the failing server is due; its check is charged the whole span.
    clock.Set(AddMinutes(start, 75));
    window->CheckTimerTimer();
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0),
              (std::vector<std::wstring>{L"Server", s.Refused(), L"Failed to connect", ShortTime(clock.Now()),
                                         ShortTime(0), ShortTime(AddMinutes(clock.Now(), 1)), L"   1:15", L""}));
    EXPECT_EQ(StatusRow(1)[3], ShortTime(clock.Now()));
    EXPECT_EQ(StatusRow(1)[6], L"   0: 0");

    clock.Set(AddMinutes(start, 75 + 545));
    window->CheckTimerTimer();
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0)[6], L"  10:20");
}

TEST_F(MainWindowStatus, RowsWhoseCheckHasNotCalledBackAreLeftAlone)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Hang(), true, 0, "", ""}}, {}));
    Open();
    TListItem row = window->lvStatus.Item(0);
    std::shared_ptr<TCheckStatus> status = window->StatusOfRow(row);
    ASSERT_TRUE(status->CheckRunning());
    Select(0);
    clock.Set(AddMinutes(clock.Now(), 30));

    window->CheckTimerTimer();
    session.Click(window->bbRefreshNow.Handle());
    session.Click(window->bbReboot.Handle());
    EXPECT_TRUE(session.ShownBoxes().empty());
    EXPECT_EQ(StatusRow(0)[2], L"Initial state");

    // Once the check has called back, the row is due again at the next tick.
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0)[2], L"Failed to connect");
    EXPECT_EQ(window->StatusOfRow(row), status);
    window->CheckTimerTimer();
    EXPECT_TRUE(status->CheckRunning());
}

// Thousands due at one tick: the first thousand start in the tick, the others a thousand a turn of the message loop,
// each once; the tray state follows the last of them.
TEST_F(MainWindowStatus, ATickThatFindsThousandsDueStartsThemAThousandATurnOfTheLoop)
{
    std::vector<TServerItem> servers;
    for (int i = 0; i < 2500; ++i)
        servers.push_back(
            {"Item" + std::to_string(i), TTestServers::Get().Refused(L"/" + std::to_wstring(i)), true, 10, "", ""});
    WriteSettings(SettingsXml(servers, {}));
    Open();
    ASSERT_TRUE(WaitForChecks(120000));
    auto running = [&] {
        std::vector<int> rows;
        for (int i = 0; i < window->lvStatus.Count(); ++i)
            if (window->StatusOfRow(window->lvStatus.Item(i))->CheckRunning())
                rows.push_back(i);
        return rows;
    };
    ASSERT_TRUE(running().empty());

    clock.Set(AddMinutes(clock.Now(), 11));
    window->CheckTimerTimer();
    std::vector<int> first = running();
    ASSERT_EQ(first.size(), 1000u);
    EXPECT_EQ(first.front(), 0);
    EXPECT_EQ(first.back(), 999);

    // Every row checked once more, at the tick's time.
    auto allChecked = [&] {
        for (int i = 0; i < window->lvStatus.Count(); ++i) {
            std::shared_ptr<TCheckStatus> status = window->StatusOfRow(window->lvStatus.Item(i));
            if (status->CheckRunning() || status->LastCheckTime != clock.Now())
                return false;
        }
        return true;
    };
    ASSERT_TRUE(session.PumpUntil(allChecked, 120000));
    EXPECT_EQ(StatusRow(2499)[3], ShortTime(clock.Now()));
    EXPECT_EQ(window->TrayIconIndex(), 2);
    // Nothing is due now: a tick starts nothing, and no turn of the loop does either.
    window->CheckTimerTimer();
    session.PumpFor(200);
    EXPECT_TRUE(running().empty());
}

TEST_F(MainWindowStatus, ButtonsFollowTheSelection)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Refused(), true, 10, "", ""}}, {{"Item2", s.Refused(), true, 10, "x"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    EXPECT_FALSE(Enabled(window->bbConnect));
    EXPECT_TRUE(Enabled(window->bbDisconnect));
    EXPECT_TRUE(Enabled(window->bbRefreshNow));
    EXPECT_TRUE(Enabled(window->bbReboot));

    // With nothing selected the two buttons do nothing.
    session.Click(window->bbRefreshNow.Handle());
    session.Click(window->bbReboot.Handle());
    EXPECT_TRUE(ChecksDone());
    EXPECT_EQ(StatusRow(0)[2], L"Failed to connect");

    struct Case {
        int selected;
        bool refresh;
        bool reboot;
    };
    const Case cases[] = {{1, true, false}, {0, true, true}, {-1, false, false}, {1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "selected row " << c.selected);
        Select(c.selected);
        EXPECT_EQ(Enabled(window->bbRefreshNow), c.refresh);
        EXPECT_EQ(Enabled(window->bbReboot), c.reboot);
    }

    // A click on a row with the mouse does the same.
    RECT item{};
    item.left = LVIR_BOUNDS;
    ::SendMessageW(window->lvStatus.Handle(), LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    window->BringToFront();
    session.MouseClickAt(window->lvStatus.Handle(), {item.left + 20, (item.top + item.bottom) / 2});
    EXPECT_EQ(gui::SelectedRows(window->lvStatus.Handle()), (std::vector<int>{0}));
    EXPECT_TRUE(Enabled(window->bbReboot));
}

TEST_F(MainWindowStatus, RefreshNowChecksTheSelectedRowAtOnce)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(
        SettingsXml({{"Item1", s.Http(L"/ok"), true, 60, "", ""}, {"Item2", s.Http(L"/ok"), true, 60, "", ""}}, {}));
    const TDateTime start = clock.Now();
    Open();
    ASSERT_TRUE(WaitForChecks());
    session.Click(window->bbDisconnect.Handle());

    // Not due and the timer stopped: the check runs all the same, for the selected row only.
    clock.Set(AddMinutes(start, 20));
    Select(1);
    session.Click(window->bbRefreshNow.Handle());
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(1)[3], ShortTime(clock.Now()));
    EXPECT_EQ(StatusRow(1)[5], ShortTime(AddMinutes(clock.Now(), 60)));
    EXPECT_EQ(StatusRow(0)[3], ShortTime(start));
}

TEST_F(MainWindowStatus, HistoryKeepsEveryCheckOfAnItemAcrossRebuildsWhileItsNameAndUrlStay)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/late"), true, 60, "", ""}, {"Item2", s.Refused(), true, 60, "", ""}},
                              {{"Item3", s.Http(L"/page"), true, 60, "Welcome"}}));
    const TDateTime start = clock.Now();
    TStopwatch watch;
    Open();
    ASSERT_TRUE(WaitForChecks());
    const uint32_t elapsed = watch.Milliseconds();

    const TCheckHistory* late = window->HistoryOfRow(window->lvStatus.Item(0));
    ASSERT_NE(late, nullptr);
    ASSERT_EQ(late->Size(), 1u);
    EXPECT_TRUE(late->Last().Passed);
    EXPECT_EQ(late->Last().Time, start);
    // The server waits 0.4 s before it answers: the response time is that, and no more than the test saw.
    EXPECT_GE(late->Last().ResponseMs, 400u);
    EXPECT_LE(late->Last().ResponseMs, elapsed);
    const TCheckHistory* refused = window->HistoryOfRow(window->lvStatus.Item(1));
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->Passed(), 0u);
    EXPECT_EQ(refused->LastFailureText(), L"Failed to connect");

    clock.Set(AddMinutes(start, 5));
    Select(0);
    session.Click(window->bbRefreshNow.Handle());
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(late->Size(), 2u);
    EXPECT_EQ(late->Last().Time, clock.Now());

    // A rebuild keeps the histories of items whose element name and URL stay; a new URL starts afresh.
    window->SiteSettingsList[0]->URL = s.Http(L"/page/");
    window->RebuildStatusList();
    EXPECT_EQ(window->HistoryOfRow(window->lvStatus.Item(0)), late);
    EXPECT_EQ(late->Size(), 2u);
    EXPECT_EQ(window->HistoryOfRow(window->lvStatus.Item(1)), refused);
    const TCheckHistory* site = window->HistoryOfRow(window->lvStatus.Item(2));
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->Checks(), 0u);
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(late->Size(), 3u);
    EXPECT_EQ(site->Checks(), 1u);
    EXPECT_EQ(window->StatusTipText(window->lvStatus.Item(2)).rfind(L"Last response: ", 0), 0u);
}

TEST_F(MainWindowStatus, HistoryColumnDrawsEachCheckAndTheTipFollowsTheMouse)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/ok"), true, 60, "", ""}, {"Item2", s.Refused(), true, 60, "", ""}},
                              {{"Item3", s.Http(L"/page"), true, 60, "Farewell"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    // Forty more checks of every row; the first server fails now and then, as a flapping host would.
    const int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        window->ServerSettingsList[0]->URL = round % 7 == 3 || round % 11 == 5 ? s.Refused() : s.Http(L"/ok");
        for (int row = 0; row < window->lvStatus.Count(); ++row)
            window->StartCheck(window->lvStatus.Item(row));
        ASSERT_TRUE(WaitForChecks());
    }
    // Wide enough to show the last column without scrolling, as a user would size it.
    window->SetClientSize(1180, 288);
    window->BringToFront();
    Repaint();
    gui::SaveScreenshot(window->Handle(), L"remote-main-history");
    RECT historyCell = window->lvStatus.CellRect(0, 7);
    RECT listClient{};
    ::GetClientRect(window->lvStatus.Handle(), &listClient);
    ASSERT_LE(historyCell.right, listClient.right) << "the history column is outside the list";

    HWND list = window->lvStatus.Handle();
    EXPECT_EQ(gui::ColumnCount(list), 8);
    auto pixel = [&](int row, int fromRight) {
        RECT cell = window->lvStatus.CellRect(row, 7);
        HDC dc = ::GetDC(list);
        COLORREF colour = ::GetPixel(dc, cell.right - fromRight, (cell.top + cell.bottom) / 2);
        ::ReleaseDC(list, dc);
        return colour;
    };
    const int bar = window->Scale(1);
    // Newest at the right: the k-th check from the newest stands 2k bar widths further left; left of the oldest
    // and between the bars, the cell's white ground, whatever the row's colour.
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        std::vector<TCheckRecord> records = window->HistoryOfRow(window->lvStatus.Item(row))->Records();
        ASSERT_EQ(records.size(), static_cast<size_t>(rounds + 1));
        for (int k = 0; k < static_cast<int>(records.size()); ++k) {
            COLORREF expected = records[records.size() - 1 - k].Passed ? kHistoryPassedColor : kHistoryFailedColor;
            ASSERT_EQ(pixel(row, 2 * bar + 2 * k * bar + 1), expected) << "check " << k << " from the newest";
            ASSERT_EQ(pixel(row, 2 * bar + 2 * k * bar + bar + 1), RGB(255, 255, 255)) << "gap " << k;
        }
        EXPECT_EQ(pixel(row, 2 * bar + 2 * (rounds + 1) * bar + 1), RGB(255, 255, 255));
    }
    EXPECT_NE(window->HistoryOfRow(window->lvStatus.Item(0))->Passed(), 0u);
    EXPECT_TRUE(window->HistoryOfRow(window->lvStatus.Item(0))->HasFailed());

    // The tip is written for the row under the mouse, and emptied where there is none.
    auto moveTo = [&](POINT point) {
        ::PostMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
        session.ProcessPending();
    };
    auto tipText = [&] {
        std::vector<wchar_t> buffer(4096);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = window->Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(list);
        tool.lpszText = buffer.data();
        ::SendMessageW(window->StatusTipWindow(), TTM_GETTEXTW, buffer.size(), reinterpret_cast<LPARAM>(&tool));
        return std::wstring(buffer.data());
    };
    ASSERT_NE(window->StatusTipWindow(), nullptr);
    RECT second = window->lvStatus.CellRect(1, 1);
    moveTo({second.left + 5, (second.top + second.bottom) / 2});
    EXPECT_EQ(window->StatusTipRow(), 1);
    std::wstring tip = tipText();
    EXPECT_EQ(tip, window->StatusTipText(window->lvStatus.Item(1)));
    EXPECT_EQ(tip.rfind(L"Last response: ", 0), 0u) << WideToUtf8(tip);
    EXPECT_NE(tip.find(L"Passed since " + ShortTime(clock.Now()) + L": 0 % (0 of 41 checks)"), std::wstring::npos)
        << WideToUtf8(tip);
    EXPECT_NE(tip.find(L"Last failure: " + ShortTime(clock.Now()) + L", Failed to connect"), std::wstring::npos)
        << WideToUtf8(tip);

    // Another check of the row under the mouse brings its tip up to date at once.
    window->StartCheck(window->lvStatus.Item(1));
    ASSERT_TRUE(WaitForChecks());
    EXPECT_NE(tipText().find(L"(0 of 42 checks)"), std::wstring::npos) << WideToUtf8(tipText());

    RECT client{};
    ::GetClientRect(list, &client);
    moveTo({client.right / 2, client.bottom - 3});
    EXPECT_EQ(window->StatusTipRow(), -1);
    EXPECT_EQ(tipText(), L"");
}

TEST_F(MainWindowStatus, RebootWritesItsOutcomeIntoTheStatusColumnOnly)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/ok"), true, 10, "", ""}, {"Item2", s.Refused(), true, 10, "", ""}},
                              {{"Item3", s.Http(L"/page"), true, 10, "Welcome"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    window->UpdateTrayState();
    window->BringToFront();
    std::wstring hint = window->TrayHint();
    int before = RebootsOf("/ok");

    struct Case {
        int row;
        const wchar_t* status;
        COLORREF colour;
        int reboots;
    };
    const Case cases[] = {{0, L"Reboot initiated", RGB(0, 255, 0), 1},
                          {1, L"Failed to connect", RGB(255, 0, 0), 0},
                          {2, L"Code found", RGB(0, 255, 0), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row);
        std::vector<std::wstring> texts = StatusRow(c.row);
        int reboots = RebootsOf("/ok");
        Select(c.row);
        session.Click(window->bbReboot.Handle());
        Select(-1);
        texts[2] = c.status;
        EXPECT_EQ(StatusRow(c.row), texts);
        EXPECT_EQ(RebootsOf("/ok"), reboots + c.reboots);
        Repaint();
        EXPECT_EQ(RowPixel(c.row), c.colour);
        EXPECT_EQ(window->TrayHint(), hint);
    }
    EXPECT_EQ(RebootsOf("/ok"), before + 1);
    EXPECT_TRUE(session.ShownBoxes().empty());
}

TEST_F(MainWindowStatus, RebootIsFollowedUntilTheServerAnswersAgain)
{
    TStandinSettings settings;
    settings.Enabled = true;
    TStandinService service(settings, L"NUL", [] { return TMemoryFigures{512, 4096}; });
    auto standin = std::make_unique<TStandinServer>(service);
    standin->Start(0, "127.0.0.1");
    const int port = standin->Port();
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port);
    const std::wregex report(L"[^:]+:\\d{2}:\\d{2}: Physical free: 512 MB, Total free: 4096 MB\\.");
    WriteSettings(SettingsXml({{"Item1", url, true, 60, "", ""}}, {}));
    const TDateTime start = clock.Now();
    Open();
    ASSERT_TRUE(WaitForChecks());
    ASSERT_TRUE(std::regex_match(StatusRow(0)[2], report)) << WideToUtf8(StatusRow(0)[2]);
    window->BringToFront();

    Select(0);
    session.Click(window->bbReboot.Handle());
    Select(-1);
    EXPECT_EQ(StatusRow(0)[2], L"Reboot initiated");
    // The host goes down.
    standin.reset();

    // The clock some seconds after the order, then a tick of the timer: what the row says then, and whether
    // a check ran.
    auto at = [&](int seconds) {
        clock.Set(start + seconds / 86400.0);
        window->CheckTimerTimer();
        bool checked = window->StatusOfRow(window->lvStatus.Item(0))->CheckRunning();
        EXPECT_TRUE(WaitForChecks());
        return std::make_pair(checked, StatusRow(0)[2]);
    };
    const std::wstring since = L"Rebooting since " + ShortTime(start);
    EXPECT_EQ(at(10), std::make_pair(false, std::wstring(L"Reboot initiated")));
    EXPECT_EQ(at(15), std::make_pair(true, since + L" (00:15)"));
    Repaint();
    EXPECT_EQ(RowPixel(0), RGB(255, 0, 0));
    EXPECT_EQ(at(25), std::make_pair(false, since + L" (00:15)"));
    EXPECT_EQ(at(30), std::make_pair(true, since + L" (00:30)"));
    EXPECT_NE(window->StatusTipText(window->lvStatus.Item(0)).find(since + L" (00:30)"), std::wstring::npos);
    Repaint();
    gui::SaveScreenshot(window->Handle(), L"remote-reboot-rebooting");

    // Back on its port: the report again, green, and a pop-up that says how long it took.
    standin = std::make_unique<TStandinServer>(service);
    standin->Start(port, "127.0.0.1");
    auto back = at(45);
    EXPECT_TRUE(back.first);
    EXPECT_TRUE(std::regex_match(back.second, report)) << WideToUtf8(back.second);
    Repaint();
    EXPECT_EQ(RowPixel(0), RGB(0, 255, 0));
    TfmTrayNotification* popUp = FindTrayNotification(app);
    ASSERT_NE(popUp, nullptr);
    EXPECT_TRUE(gui::IsShown(popUp->Handle()));
    EXPECT_EQ(popUp->LabelInformation.Caption(), url + L": back after 00:45");
    EXPECT_EQ(gui::LayoutFaultsText(popUp->Handle()), "");
    gui::SaveScreenshot(popUp->Handle(), L"remote-reboot-back");
    EXPECT_NE(window->StatusTipText(window->lvStatus.Item(0))
                  .find(L"Reboot ordered at " + ShortTime(start) + L": back after 00:45"),
              std::wstring::npos);
    popUp->HideTrayNotification();

    // The watch is over: the item is due again after its own interval.
    EXPECT_FALSE(at(60).first);
    EXPECT_TRUE(at(45 + 60 * 60 + 1).first);
}

TEST_F(MainWindowStatus, WithoutANetworkTheComputerIsBlamedOnceAndTheHostsAreChargedNothing)
{
    const TTestServers& s = TTestServers::Get();
    network = false;
    // Two host names of the loopback, neither listening on the port.
    const std::wstring otherHost = L"http://localhost:" + std::to_wstring(s.Port("refused")) + L"/";
    WriteSettings(SettingsXml({{"Item1", s.Refused(), true, 1, "", ""}, {"Item2", otherHost, true, 1, "", ""}},
                              {{"Item3", s.Refused(L"/shop"), true, 1, "Welcome"}}));
    const TDateTime start = clock.Now();
    Open();
    ASSERT_TRUE(WaitForChecks());

    EXPECT_TRUE(window->Offline());
    TfmTrayNotification* popUp = FindTrayNotification(app);
    ASSERT_NE(popUp, nullptr);
    EXPECT_TRUE(gui::IsShown(popUp->Handle()));
    EXPECT_EQ(popUp->LabelInformation.Caption(), kNoNetworkText);
    EXPECT_EQ(window->TrayHint(), kNoNetworkText);
    EXPECT_EQ(window->TrayIconIndex(), 2);
    // The rows still show their own outcome.
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(StatusRow(row)[2], L"Failed to connect") << row;
    popUp->HideTrayNotification();

    // Half an hour later, still offline: no downtime is charged and nothing new is announced.
    clock.Set(AddMinutes(start, 30));
    window->CheckTimerTimer();
    ASSERT_TRUE(WaitForChecks());
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(StatusRow(row)[6], L"   0: 0") << row;
    EXPECT_FALSE(gui::IsShown(popUp->Handle()));
    EXPECT_EQ(window->TrayHint(), kNoNetworkText);

    // The network comes back: every item is checked at once, and failures are the hosts' own again.
    network = true;
    clock.Set(AddMinutes(start, 40));
    window->NetworkChanged();
    EXPECT_FALSE(window->Offline());
    for (int row = 0; row < 3; ++row)
        EXPECT_TRUE(window->StatusOfRow(window->lvStatus.Item(row))->CheckRunning()) << row;
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0)[6], L"   0:10");
    EXPECT_NE(window->TrayHint().find(s.Refused() + L": Check failed"), std::wstring::npos)
        << WideToUtf8(window->TrayHint());
}

TEST_F(MainWindowStatus, OnlyAWaveThatFailsOnSeveralHostsWithoutANetworkBlamesTheComputer)
{
    const TTestServers& s = TTestServers::Get();
    const std::wstring otherHost = L"http://localhost:" + std::to_wstring(s.Port("refused")) + L"/";
    struct Case {
        const char* name;
        bool network;
        std::vector<TServerItem> servers;
    };
    const Case cases[] = {
        {"the computer has a network",
         true,
         {{"Item1", s.Refused(), true, 1, "", ""}, {"Item2", otherHost, true, 1, "", ""}}},
        {"one host only",
         false,
         {{"Item1", s.Refused(L"/a"), true, 1, "", ""}, {"Item2", s.Refused(L"/b"), true, 1, "", ""}}},
        {"one item answers",
         false,
         {{"Item1", s.Refused(), true, 1, "", ""},
          {"Item2", otherHost, true, 1, "", ""},
          {"Item3", s.Http(L"/ok"), true, 1, "", ""}}},
        {"a failure other than the connection",
         false,
         {{"Item1", s.Refused(), true, 1, "", ""}, {"Item2", s.Http(L"/html"), true, 1, "", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        network = c.network;
        WriteSettings(SettingsXml(c.servers, {}));
        Open();
        ASSERT_TRUE(WaitForChecks());
        EXPECT_FALSE(window->Offline());
        EXPECT_NE(window->TrayHint(), kNoNetworkText);
        window.reset();
        ASSERT_TRUE(WaitForIdleChecks());
    }
}

TEST_F(MainWindowStatus, DisconnectedARebuildChecksEachItemOnceAndConnectResumes)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(
        SettingsXml({{"Item1", s.Http(L"/ok"), true, 0, "", ""}}, {{"Item2", s.Http(L"/page"), true, 0, "Welcome"}}));
    Open();
    window->CheckTimer.SetInterval(50);
    ASSERT_TRUE(WaitForChecks());

    session.Click(window->bbDisconnect.Handle());
    EXPECT_FALSE(window->CheckTimer.Enabled());
    EXPECT_TRUE(Enabled(window->bbConnect));
    EXPECT_FALSE(Enabled(window->bbDisconnect));

    // An edit saves and rebuilds: each active item is checked once, with new status objects.
    clock.Set(AddMinutes(clock.Now(), 10));
    window->SiteSettingsList[0]->CodeToCheck = L"shop";
    window->SaveSettings();
    EXPECT_EQ(StatusRow(1)[2], L"Initial state");
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(1)[2], L"Code found");
    std::wstring checked = ShortTime(clock.Now());
    EXPECT_EQ(StatusRow(0)[3], checked);

    // Due at every tick, but no tick comes until Connect.
    clock.Set(AddMinutes(clock.Now(), 10));
    session.PumpFor(400);
    EXPECT_TRUE(ChecksDone());
    EXPECT_EQ(StatusRow(0)[3], checked);
    EXPECT_EQ(StatusRow(1)[3], checked);

    session.Click(window->bbConnect.Handle());
    EXPECT_TRUE(window->CheckTimer.Enabled());
    EXPECT_FALSE(Enabled(window->bbConnect));
    EXPECT_TRUE(Enabled(window->bbDisconnect));
    EXPECT_TRUE(session.PumpUntil(
        [&] { return StatusRow(0)[3] == ShortTime(clock.Now()) && StatusRow(1)[3] == ShortTime(clock.Now()); }, 10000));
    session.Click(window->bbDisconnect.Handle());
}

TEST_F(MainWindowStatus, LateCallbackFindsNoRowButRecomputesTheTrayState)
{
    const TTestServers& s = TTestServers::Get();
    environment.Retrieval.DeadlineMs = 1500;
    WriteSettings(
        SettingsXml({{"Item1", s.Hang(), true, 10, "", ""}, {"Item2", s.Http(L"/ok"), true, 10, "", ""}}, {}));
    Open();
    ASSERT_TRUE(session.PumpUntil([&] { return StatusRow(1)[2] == kReport; }));
    EXPECT_EQ(window->TrayHint(), s.Hang() + L": Status Ok\r\n" + s.Http(L"/ok") + L": Status Ok\r\n");
    std::weak_ptr<TCheckStatus> hanging = window->StatusOfRow(window->lvStatus.Item(0));

    // The rebuild leaves the hanging check to run on its old status object; the new one hangs longer.
    window->CheckRetrieval.DeadlineMs = 6000;
    window->ServerSettingsList[1]->Active = false;
    window->SaveSettings();
    ASSERT_EQ(window->lvStatus.Count(), 1);
    EXPECT_FALSE(hanging.expired());
    EXPECT_NE(window->StatusOfRow(window->lvStatus.Item(0)), hanging.lock());

    ASSERT_TRUE(session.PumpUntil([&] { return hanging.expired(); }, 10000));
    EXPECT_EQ(StatusRow(0)[2], L"Initial state");
    EXPECT_EQ(window->TrayHint(), s.Hang() + L": Status Ok\r\n");
}

TEST_F(MainWindowStatus, FiftyHangingChecksOutliveRebuildDeleteAndClose)
{
    const int kServers = 50;
    std::vector<TServerItem> servers;
    for (int i = 0; i < kServers; ++i)
        servers.push_back(
            {"Item" + std::to_string(i), TTestServers::Get().Hang(L"/" + std::to_wstring(i)), true, 10, "", ""});
    WriteSettings(SettingsXml(servers, {}));
    Open();
    ASSERT_EQ(window->lvStatus.Count(), kServers);
    std::vector<std::weak_ptr<TObject>> statuses(window->StatusObjectList.begin(), window->StatusObjectList.end());

    window->SaveSettings();
    statuses.insert(statuses.end(), window->StatusObjectList.begin(), window->StatusObjectList.end());

    // Deleting rows frees their settings objects in the window while their checks still use them.
    std::vector<std::weak_ptr<TCheckServerSettings>> deleted;
    for (int i = window->lvServers.Count() - 1; i >= 0; i -= 2) {
        TListItem row = window->lvServers.Item(i);
        auto& list = window->ServerSettingsList;
        auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.get() == row.Data(); });
        deleted.push_back(*it);
        list.erase(it);
        row.Delete();
    }
    window->SaveSettings();
    EXPECT_EQ(window->lvStatus.Count(), kServers / 2);
    statuses.insert(statuses.end(), window->StatusObjectList.begin(), window->StatusObjectList.end());
    EXPECT_TRUE(std::none_of(deleted.begin(), deleted.end(), [](const auto& w) { return w.expired(); }));
    EXPECT_TRUE(std::none_of(statuses.begin(), statuses.end(), [](const auto& w) { return w.expired(); }));

    window.reset();
    EXPECT_TRUE(session.PumpUntil(
        [&] { return std::all_of(statuses.begin(), statuses.end(), [](const auto& w) { return w.expired(); }); },
        30000));
    EXPECT_TRUE(std::all_of(deleted.begin(), deleted.end(), [](const auto& w) { return w.expired(); }));
    EXPECT_TRUE(session.ShownBoxes().empty());
}

// A check's start and callback rewrite their row alone: the list messages and text measurements of one refresh
// are the same in a list of 2,000 rows as in a list of 20.
TEST_F(MainWindowStatus, OneRefreshCostsTheSameWhateverTheNumberOfRows)
{
    struct Cost {
        uint64_t Messages = 0;
        uint64_t Measured = 0;
    };
    auto costOfOneRefresh = [&](int rows) {
        std::vector<TServerItem> servers;
        for (int i = 0; i < rows; ++i)
            servers.push_back(
                {"Item" + std::to_string(i), TTestServers::Get().Refused(L"/" + std::to_wstring(i)), true, 10, "", ""});
        WriteSettings(SettingsXml(servers, {}));
        Open();
        EXPECT_TRUE(WaitForChecks(120000));
        clock.Set(AddMinutes(clock.Now(), 3));
        Select(rows / 2);
        TListView& list = window->lvStatus;
        Cost before{list.ControlMessages(), list.MeasuredTexts()};
        window->bbRefreshNowClick();
        EXPECT_TRUE(WaitForChecks());
        Cost cost{list.ControlMessages() - before.Messages, list.MeasuredTexts() - before.Measured};
        EXPECT_EQ(StatusRow(rows / 2)[3], ShortTime(clock.Now()));
        window.reset();
        EXPECT_TRUE(WaitForIdleChecks());
        return cost;
    };
    Cost small = costOfOneRefresh(20);
    Cost large = costOfOneRefresh(2000);
    EXPECT_LE(small.Messages, 16u);
    EXPECT_LE(small.Measured, 8u);
    EXPECT_LE(large.Messages, small.Messages + 2);
    EXPECT_LE(large.Measured, small.Measured + 2);
}

} // namespace
