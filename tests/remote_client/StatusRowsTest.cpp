// What a status row shows of its status object, its colour, and when an item is due.
#include "TestSupport.h"
#include "UServerStatus.h"
#include "UStatusRows.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

TEST(StatusRows, TimesAsHoursAndMinutesWithTheSeparator)
{
    struct Case {
        TDateTime time;
        const wchar_t* separator;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, L":", L"00:00"},
        {At(2024, 5, 1, 9, 5, 59), L":", L"09:05"},
        {At(2024, 5, 1, 23, 59, 59), L":", L"23:59"},
        {At(2024, 5, 1, 0, 0), L".", L"00.00"},
        {At(2024, 5, 1, 14, 30), L".", L"14.30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "time " << c.time);
        EXPECT_EQ(FormatStatusTime(c.time, c.separator), c.text);
    }
    EXPECT_FALSE(UserTimeSeparator().empty());
}

TEST(StatusRows, DowntimeAsHoursAndMinutesPaddedWithBlanks)
{
    struct Case {
        int32_t minutes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, L"   0: 0"},  {75, L"   1:15"},      {605, L"  10: 5"},
        {59, L"   0:59"}, {600000, L"10000: 0"}, {-75, L"  -1:-15"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minutes << " minutes");
        EXPECT_EQ(FormatDowntime(c.minutes), c.text);
    }
}

TEST(StatusRows, ViewOfAStatusObject)
{
    auto settings = std::make_shared<TCheckServerSettings>(nullptr, "Item1");
    settings->URL = L"http://host:3745";
    TTestClock clock(At(2024, 5, 1, 9, 5));
    TCheckServerStatus status(settings, clock.Function());

    TStatusRowView fresh = ViewOfStatus(L"Server", status, L":");
    EXPECT_EQ(fresh.Type, L"Server");
    EXPECT_EQ(fresh.SubItems, (std::vector<std::wstring>{L"http://host:3745", L"Initial state", L"09:05", L"00:00",
                                                         L"00:00", L"   0: 0"}));
    EXPECT_EQ(fresh.Tray.LastCheckTime, At(2024, 5, 1, 9, 5));
    EXPECT_TRUE(fresh.Tray.StatusOk);
    EXPECT_EQ(fresh.Tray.URL, L"http://host:3745");

    status.StatusText = L"Failed to connect";
    status.StatusOk = false;
    status.LastCheckTime = At(2024, 5, 1, 10, 20);
    status.LastSuccessTime = At(2024, 5, 1, 8, 0);
    status.NextCheckTime = At(2024, 5, 1, 10, 30);
    status.Downtime = 75;
    settings->URL = L"http://other:1";
    TStatusRowView failed = ViewOfStatus(L"Server", status, L".");
    EXPECT_EQ(failed.SubItems, (std::vector<std::wstring>{L"http://other:1", L"Failed to connect", L"10.20", L"08.00",
                                                          L"10.30", L"   1:15"}));
    EXPECT_FALSE(failed.Tray.StatusOk);
    EXPECT_EQ(failed.Tray.URL, L"http://other:1");
}

// A view counts as current only while every value it was made from is unchanged: each change below must
// make the row be written again.
TEST(StatusRows, ViewIsCurrentUntilAnyValueItShowsChanges)
{
    auto settings = std::make_shared<TCheckServerSettings>(nullptr, "Item1");
    settings->URL = L"http://host:3745";
    TTestClock clock(At(2024, 5, 1, 9, 5));
    TCheckServerStatus status(settings, clock.Function());
    status.StatusText = L"12:00: Physical free: 512 MB, Total free: 2048 MB.";
    status.LastSuccessTime = At(2024, 5, 1, 9, 5);
    status.NextCheckTime = At(2024, 5, 1, 9, 15);
    const TStatusRowView view = ViewOfStatus(L"Server", status, L":");
    EXPECT_TRUE(ViewIsCurrent(view, L"Server", status, L":"));

    struct Case {
        const char* change;
        std::function<void(TCheckServerStatus&)> apply;
        const wchar_t* type = L"Server";
        const wchar_t* separator = L":";
    };
    const Case cases[] = {
        {"status text", [](TCheckServerStatus& s) { s.StatusText = L"Bad response"; }},
        {"outcome", [](TCheckServerStatus& s) { s.StatusOk = false; }},
        {"last check", [](TCheckServerStatus& s) { s.LastCheckTime += 1.0 / 86400; }},
        {"last success", [](TCheckServerStatus& s) { s.LastSuccessTime = 0; }},
        {"next check", [](TCheckServerStatus& s) { s.NextCheckTime += 1.0 / 1440; }},
        {"downtime", [](TCheckServerStatus& s) { s.Downtime = 1; }},
        {"URL", [](TCheckServerStatus& s) { s.Settings->URL = L"http://host:3746"; }},
        {"type", [](TCheckServerStatus&) {}, L"Site"},
        {"time separator", [](TCheckServerStatus&) {}, L"Server", L"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        TCheckServerStatus changed(settings, clock.Function());
        changed.StatusText = status.StatusText;
        changed.StatusOk = status.StatusOk;
        changed.LastCheckTime = status.LastCheckTime;
        changed.LastSuccessTime = status.LastSuccessTime;
        changed.NextCheckTime = status.NextCheckTime;
        changed.Downtime = status.Downtime;
        EXPECT_TRUE(ViewIsCurrent(view, L"Server", changed, L":"));
        c.apply(changed);
        EXPECT_FALSE(ViewIsCurrent(view, c.type, changed, c.separator));
        settings->URL = L"http://host:3745";
    }
}

TEST(StatusRows, RowColourFromStateAndLastCheck)
{
    const COLORREF white = RGB(255, 255, 255), lime = RGB(0, 255, 0), red = RGB(255, 0, 0);
    const TDateTime checked = At(2024, 5, 1, 9, 0);
    struct Case {
        bool selected, focused, hot;
        TDateTime lastCheck;
        bool ok;
        COLORREF colour;
    };
    const Case cases[] = {
        {false, false, false, checked, true, lime},  {false, false, false, checked, false, red},
        {false, false, false, 0, false, white},      {false, false, false, 0, true, white},
        {true, false, false, checked, false, white}, {false, true, false, checked, true, white},
        {false, false, true, checked, false, white},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "selected " << c.selected << " focused " << c.focused << " hot " << c.hot
                                        << " checked " << (c.lastCheck != 0) << " ok " << c.ok);
        TTrayRow row{c.lastCheck, c.ok, L"http://x"};
        EXPECT_EQ(StatusRowColor(c.selected, c.focused, c.hot, row), c.colour);
    }
}

TEST(StatusRows, AnActiveItemIsDueOnceItsNextCheckHasCome)
{
    const TDateTime next = At(2024, 5, 1, 10, 5, 30);
    struct Case {
        bool active;
        TDateTime now;
        TDateTime nextCheck;
        bool due;
    };
    const Case cases[] = {
        {true, next - 1.0 / 86400, next, false},
        {true, next, next, true},
        {true, next + 1.0 / 86400, next, true},
        {false, next + 1, next, false},
        // A new status object has never been checked and is due at once.
        {true, At(2024, 5, 1, 0, 0), 0, true},
        {false, At(2024, 5, 1, 0, 0), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "active " << c.active << " now " << c.now << " next " << c.nextCheck);
        EXPECT_EQ(IsCheckDue(c.active, c.now, c.nextCheck), c.due);
    }
}
