// A reboot order followed to its end: down and back, never down, not back in time, and the texts it gives.
#include "TestSupport.h"
#include "URebootWatch.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const TDateTime kOrder = At(2024, 5, 1, 10, 20);

TDateTime SecondsAfterOrder(int seconds) { return kOrder + seconds / 86400.0; }

} // namespace

TEST(RebootWatch, EndsWhenTheHostIsBackDidNotGoDownOrIsNotBackInTime)
{
    using TOutcome = TRebootWatch::TOutcome;
    struct Case {
        const char* name;
        std::vector<std::pair<int, bool>> checks; // seconds after the order, passed
        TOutcome outcome;
        std::wstring end;
    };
    const Case cases[] = {
        {"down and back", {{15, false}, {30, false}, {45, true}}, TOutcome::Back, L"http://h:3745: back after 00:45"},
        {"still up at first, then down and back",
         {{15, true}, {30, false}, {75, true}},
         TOutcome::Back,
         L"http://h:3745: back after 01:15"},
        {"up for two minutes",
         {{15, true}, {60, true}, {120, true}},
         TOutcome::NotDown,
         L"http://h:3745: the reboot did not happen; the host answered throughout the first 2 minutes"},
        {"up so far", {{15, true}, {105, true}}, TOutcome::Watching, L""},
        {"down for half an hour",
         {{15, false}, {900, false}, {1800, false}},
         TOutcome::NotBack,
         L"http://h:3745: not back 30 minutes after the reboot order"},
        {"still down", {{15, false}, {1785, false}}, TOutcome::Watching, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRebootWatch watch(kOrder);
        for (const auto& [seconds, passed] : c.checks)
            watch.Note(SecondsAfterOrder(seconds), passed);
        EXPECT_EQ(watch.Outcome(), c.outcome);
        EXPECT_EQ(watch.EndText(L"http://h:3745"), c.end);
        // An ended watch stays as it ended.
        if (c.outcome != TOutcome::Watching) {
            TDateTime ended = watch.EndedAt();
            watch.Note(SecondsAfterOrder(4000), !c.checks.back().second);
            EXPECT_EQ(watch.Outcome(), c.outcome);
            EXPECT_EQ(watch.EndedAt(), ended);
        }
    }
}

TEST(RebootWatch, TextsOfTheRowAndOfItsTip)
{
    TRebootWatch watch(kOrder);
    EXPECT_EQ(watch.NextCheck(SecondsAfterOrder(30)), SecondsAfterOrder(45));
    EXPECT_EQ(watch.TipLine(SecondsAfterOrder(10), L":"), L"Reboot ordered at 10:20: waiting for the host to go down");
    watch.Note(SecondsAfterOrder(15), false);
    EXPECT_EQ(watch.DownSince(), SecondsAfterOrder(15));
    EXPECT_EQ(watch.StatusText(SecondsAfterOrder(240), L":"), L"Rebooting since 10:20 (04:00)");
    EXPECT_EQ(watch.StatusText(SecondsAfterOrder(75), L"."), L"Rebooting since 10.20 (01:15)");
    EXPECT_EQ(watch.TipLine(SecondsAfterOrder(75), L":"), L"Rebooting since 10:20 (01:15)");
    watch.Note(SecondsAfterOrder(95), true);
    EXPECT_EQ(watch.TipLine(SecondsAfterOrder(300), L":"), L"Reboot ordered at 10:20: back after 01:35");

    struct Case {
        int64_t seconds;
        const wchar_t* text;
    };
    const Case spans[] = {{0, L"00:00"}, {45, L"00:45"}, {75, L"01:15"}, {4500, L"75:00"}, {-3, L"00:00"}};
    for (const Case& c : spans)
        EXPECT_EQ(FormatMinutesSeconds(c.seconds), c.text) << c.seconds;
}
