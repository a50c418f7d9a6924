#include "UTrayNotificationLayout.h"

#include <gtest/gtest.h>

namespace {

// A window of 345 x 102 whose client area (the panel) is 335 x 80, a font with W 11 and lines 18 wide.
TNotificationMetrics Metrics()
{
    TNotificationMetrics m;
    m.WWidth = 11;
    m.LineHeight = 18;
    m.Initial = {345, 102};
    m.InitialPanel = {335, 80};
    return m;
}

} // namespace

TEST(NotificationLayout, SizesForShortLongAndMultiLineTexts)
{
    const TNotificationMetrics m = Metrics();
    struct Case {
        const char* what;
        std::wstring text;
        LONG width, height;
    };
    const Case cases[] = {
        // 56 + (11 * 5 + 64) = 175 fits in 335: the initial size.
        {"short", L"hello", 345, 102},
        {"empty", L"", 345, 102},
        // 56 + 11 * 20 + 64 = 340 > 335: grows by 5.
        {"a little too wide", std::wstring(20, L'x'), 350, 102},
        // Far too wide: capped at one and a half times 345 (integer halving), one line high.
        {"long", std::wstring(200, L'x'), 517, 102},
        // Three carriage returns make room for four lines: 8 + 18 * 4 + 16 = 96 > 80, 16 more.
        {"three CRs", L"a\r\nb\r\nc\r\nd", 345, 118},
        // Two lines: 8 + 36 + 16 = 60 fits.
        {"two lines", L"a\r\nb", 345, 102},
    };
    for (const auto& c : cases) {
        SIZE s = NotificationSize(c.text, m);
        EXPECT_EQ(s.cx, c.width) << c.what;
        EXPECT_EQ(s.cy, c.height) << c.what;
    }
}

TEST(NotificationLayout, ATextTallerThanTheLimitKeepsItsFirstLinesAndCountsTheRest)
{
    const TNotificationMetrics m = Metrics();
    auto lines = [](int n) {
        std::wstring text;
        for (int i = 1; i <= n; ++i)
            text += (i > 1 ? L"\r\n" : L"") + std::to_wstring(i);
        return text;
    };
    // Five lines: 8 + 18 * 5 + 16 = 114 > 80, a window of 102 + 34 = 136.
    struct Case {
        const char* what;
        std::wstring text;
        int maxHeight;
        std::wstring shown;
    };
    const Case cases[] = {
        {"fits exactly", lines(5), 136, lines(5)},
        {"one line too many", lines(5), 135, L"1\r\n2\r\n3\r\n... and 2 more"},
        {"thousands", lines(5000), 136, L"1\r\n2\r\n3\r\n4\r\n... and 4996 more"},
        {"room for less than two lines", lines(3), 10, L"1\r\n... and 2 more"},
        {"one long line", std::wstring(500, L'x'), 10, std::wstring(500, L'x')},
        {"two lines", L"1\r\n2", 10, L"1\r\n2"},
    };
    for (const auto& c : cases) {
        std::wstring shown = FitNotificationText(c.text, m, c.maxHeight);
        EXPECT_EQ(shown, c.shown) << c.what;
        if (c.maxHeight >= 102) {
            EXPECT_LE(NotificationSize(shown, m).cy, c.maxHeight) << c.what;
        }
    }
}

TEST(NotificationLayout, PlacedAboveABottomTaskbarOrInTheWorkAreaCorner)
{
    const SIZE window = {345, 102};
    const SIZE desktop = {1280, 1024};
    const RECT bottom = {0, 984, 1280, 1024};
    const RECT work = {0, 0, 1280, 984};
    POINT p = NotificationPosition(window, desktop, &bottom, work);
    EXPECT_EQ(p.x, 1280 - 345 - 20);
    EXPECT_EQ(p.y, 1024 - 40 - 102 - 5);

    // No taskbar at all, or one on the left: the bottom right corner of the work area.
    const RECT noBarWork = {0, 0, 1280, 1024};
    p = NotificationPosition(window, desktop, nullptr, noBarWork);
    EXPECT_EQ(p.x, 1280 - 345 - 20);
    EXPECT_EQ(p.y, 1024 - 102 - 5);
    const RECT left = {0, 0, 60, 1024};
    const RECT leftWork = {60, 0, 1280, 1024};
    p = NotificationPosition(window, desktop, &left, leftWork);
    EXPECT_EQ(p.x, 1280 - 345 - 20);
    EXPECT_EQ(p.y, 1024 - 102 - 5);
    // A taskbar at the top does not push the pop-up off the bottom.
    const RECT top = {0, 0, 1280, 40};
    const RECT topWork = {0, 40, 1280, 1024};
    p = NotificationPosition(window, desktop, &top, topWork);
    EXPECT_EQ(p.y, 1024 - 102 - 5);
}
