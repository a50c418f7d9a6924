#include "UTrayState.h"

#include <gtest/gtest.h>

TEST(TrayState, TextAndIndexFromRows)
{
    struct Case {
        const char* what;
        std::vector<TTrayRow> rows;
        std::wstring text;
        int index;
    };
    const Case cases[] = {
        {"no rows", {}, L"", 0},
        {"both fine",
         {{1, true, L"http://a:1"}, {1, true, L"http://b:2"}},
         L"http://a:1: Status Ok\r\nhttp://b:2: Status Ok\r\n",
         1},
        {"one failing lists only the failing",
         {{1, true, L"http://a:1"}, {1, false, L"http://b:2"}},
         L"http://b:2: Check failed\r\n",
         2},
        {"more failing",
         {{1, false, L"http://a:1"}, {1, false, L"http://b:2"}},
         L"http://a:1: Check failed\r\nhttp://b:2: Check failed\r\n",
         2},
        {"never checked rows are skipped",
         {{0, false, L"http://a:1"}, {1, true, L"http://b:2"}},
         L"http://b:2: Status Ok\r\n",
         1},
        {"rows but none checked yet", {{0, true, L"http://a:1"}}, L"", 1},
    };
    for (const auto& c : cases) {
        std::vector<const TTrayRow*> rows;
        for (const TTrayRow& row : c.rows)
            rows.push_back(&row);
        TTrayState state = ComputeTrayState(rows);
        EXPECT_EQ(state.Text, c.text) << c.what;
        EXPECT_EQ(state.Index, c.index) << c.what;
    }
}

TEST(TrayState, PopUpOnlyOnAChangeOfIndex)
{
    struct Case {
        int from, to;
        bool show;
        int seconds, kind;
    };
    const Case cases[] = {
        {0, 1, true, 3, 1},  {1, 2, true, 5, 2},  {2, 2, false, 0, 0}, {2, 1, true, 3, 1},
        {1, 0, false, 0, 0}, {0, 0, false, 0, 0}, {0, 2, true, 5, 2},
    };
    for (const auto& c : cases) {
        TTrayAnnouncement a = AnnounceTrayChange(c.from, c.to);
        EXPECT_EQ(a.Show, c.show) << c.from << "->" << c.to;
        EXPECT_EQ(a.Seconds, c.seconds) << c.from << "->" << c.to;
        EXPECT_EQ(a.Kind, c.kind) << c.from << "->" << c.to;
    }
}
