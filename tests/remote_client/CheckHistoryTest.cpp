// An item's recent checks: what is kept, the figures of the row's tip, and the bars of the history cell.
#include "TestSupport.h"
#include "UCheckHistory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const TDateTime kMorning = At(2024, 5, 1, 10, 2);

TCheckHistory HistoryOf(const std::vector<TCheckRecord>& records)
{
    TCheckHistory history(kMorning);
    for (const TCheckRecord& record : records)
        history.Add(record, record.Passed ? L"Code found" : L"Failed to connect");
    return history;
}

} // namespace

TEST(CheckHistory, KeepsTheLastSixtyChecksOldestFirstAndCountsEveryCheck)
{
    TCheckHistory history(kMorning);
    for (int i = 0; i < 75; ++i)
        history.Add({kMorning + i / 1440.0, i % 3 != 0, static_cast<uint32_t>(i)}, L"check " + std::to_wstring(i));

    std::vector<TCheckRecord> kept = history.Records();
    ASSERT_EQ(kept.size(), TCheckHistory::kKept);
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i].ResponseMs, 15 + i) << "record " << i;
    EXPECT_EQ(history.Last().ResponseMs, 74u);
    EXPECT_EQ(history.Checks(), 75u);
    EXPECT_EQ(history.Passed(), 50u);
    // The last failure is remembered with its text, however many checks passed after it.
    history.Add({kMorning + 80 / 1440.0, true, 1}, L"Code found");
    EXPECT_EQ(history.LastFailureTime(), kMorning + 72 / 1440.0);
    EXPECT_EQ(history.LastFailureText(), L"check 72");
}

TEST(CheckHistory, MedianOfTheKeptResponseTimes)
{
    struct Case {
        std::vector<uint32_t> times;
        uint32_t median;
    };
    const Case cases[] = {
        {{}, 0}, {{5}, 5}, {{30, 10, 20}, 20}, {{40, 10, 30, 20}, 20}, {{7, 7, 7, 1000}, 7},
    };
    for (const Case& c : cases) {
        TCheckHistory history;
        for (uint32_t ms : c.times)
            history.Add({kMorning, true, ms}, L"");
        EXPECT_EQ(history.MedianResponseMs(), c.median) << testing::PrintToString(c.times);
    }
    // Only the kept checks count: sixty fast ones push a slow start out.
    TCheckHistory history;
    for (int i = 0; i < 10; ++i)
        history.Add({kMorning, true, 5000}, L"");
    for (size_t i = 0; i < TCheckHistory::kKept; ++i)
        history.Add({kMorning, true, 12}, L"");
    EXPECT_EQ(history.MedianResponseMs(), 12u);
}

TEST(CheckHistory, TipSaysTheFiguresOfTheKeptChecks)
{
    const TDateTime now = At(2024, 5, 1, 10, 30);
    struct Case {
        const char* name;
        std::vector<TCheckRecord> records;
        std::vector<std::wstring> extra;
        std::wstring text;
    };
    const Case cases[] = {
        {"never checked", {}, {}, L"Not checked yet"},
        {"all passed",
         {{At(2024, 5, 1, 10, 2), true, 20}, {At(2024, 5, 1, 10, 12), true, 35}},
         {},
         L"Last response: 35 ms\r\nMedian of the last 2 checks: 20 ms\r\nPassed since 10:02: 100 % (2 of 2 "
         L"checks)\r\nNo failure since 10:02"},
        {"one failure",
         {{At(2024, 5, 1, 10, 2), true, 30}, {At(2024, 5, 1, 10, 14), false, 1500}, {At(2024, 5, 1, 10, 24), true, 35}},
         {L"Rebooting since 10:20 (04:00)"},
         L"Last response: 35 ms\r\nMedian of the last 3 checks: 35 ms\r\nPassed since 10:02: 66 % (2 of 3 "
         L"checks)\r\nLast failure: 10:14, Failed to connect\r\nRebooting since 10:20 (04:00)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HistoryTipText(HistoryOf(c.records), now, L":", c.extra), c.text);
    }
    // A failure on another day says its day.
    TCheckHistory old(At(2024, 4, 29, 8, 0));
    old.Add({At(2024, 4, 30, 23, 50), false, 3000}, L"Bad response");
    std::wstring tip = HistoryTipText(old, now, L":");
    EXPECT_NE(tip.find(L"Last failure: "), std::wstring::npos);
    EXPECT_EQ(tip.find(L"Last failure: 23:50"), std::wstring::npos) << WideToUtf8(tip);
    EXPECT_NE(tip.find(L" 23:50, Bad response"), std::wstring::npos) << WideToUtf8(tip);
}

TEST(CheckHistory, BarsStandNewestAtTheRightOnePerCheckInsideTheCell)
{
    std::vector<TCheckRecord> records;
    for (int i = 0; i < 60; ++i)
        records.push_back({kMorning, i % 10 != 9, 0});
    const RECT cell{100, 20, 228, 37};

    std::vector<THistoryBar> bars = HistoryBars(cell, records, 1);
    ASSERT_EQ(bars.size(), 60u);
    for (size_t i = 0; i < bars.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "bar " << i);
        EXPECT_EQ(bars[i].Passed, records[i].Passed);
        EXPECT_EQ(bars[i].Rect.right - bars[i].Rect.left, 1);
        EXPECT_GE(bars[i].Rect.left, cell.left);
        EXPECT_LE(bars[i].Rect.right, cell.right);
        EXPECT_GT(bars[i].Rect.bottom, bars[i].Rect.top);
        if (i > 0) {
            EXPECT_EQ(bars[i].Rect.left, bars[i - 1].Rect.right + 1);
        }
    }
    EXPECT_EQ(bars.back().Rect.right, cell.right - 2);

    // A narrow cell shows the newest checks that fit; twice the scale, twice the bars' width.
    std::vector<THistoryBar> narrow = HistoryBars(RECT{0, 0, 24, 17}, records, 1);
    ASSERT_EQ(narrow.size(), 10u);
    EXPECT_FALSE(narrow.back().Passed);
    std::vector<THistoryBar> scaled = HistoryBars(RECT{0, 0, 256, 34}, records, 2);
    ASSERT_EQ(scaled.size(), 60u);
    EXPECT_EQ(scaled.front().Rect.right - scaled.front().Rect.left, 2);
    EXPECT_TRUE(HistoryBars(cell, {}, 1).empty());
}
