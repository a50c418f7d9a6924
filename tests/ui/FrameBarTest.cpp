// The frame bar: one open item, frames made when an item opens and offered for destruction when it has
// closed, the layout under the titles, the slide, access keys, and scrolling of a frame taller than its room.
#include "GuiHarness.h"

#include "Application.h"
#include "ExtCtrls.h"
#include "FrameBar.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A frame with a design height and one field at its bottom edge.
class TTestFrame : public TPanel {
public:
    TTestFrame(TWinControl& parent, int index, int height) : TPanel(parent), index(index), field(*this)
    {
        SetBounds(0, 0, 300, height);
        field.SetBounds(10, height - 30, 100, 21);
    }
    int index;
    TEdit field;
};

class FrameBarTest : public ::testing::Test {
protected:
    FrameBarTest()
    {
        form.SetClientSize(400, 300);
        form.SetPosition(TPosition::ScreenCenter);
        bar.SetAlign(TAlign::Client);
        for (const wchar_t* caption : {L"&First", L"&Second", L"T&hird"}) {
            TFrameBarItem& item = bar.AddItem(caption);
            int index = item.Index();
            item.OnCreateFrame = [this, index](TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame) {
                events.push_back("create " + std::to_string(index));
                if (failCreate == index)
                    throw std::runtime_error("no frame");
                frame = std::make_unique<TTestFrame>(parent, index, heights[index]);
            };
            item.OnFrameDestroy = [this, index](TFrameBar&, TWinControl&, bool& allow) {
                events.push_back("destroy " + std::to_string(index));
                allow = allowDestroy;
            };
        }
        form.Show();
    }

    TTestFrame* FrameOf(int index) { return dynamic_cast<TTestFrame*>(bar.Item(index).Frame()); }
    void ClickTitle(int index)
    {
        session.Click(bar.Item(index).TitleHandle());
        ASSERT_TRUE(session.PumpUntil([&] { return !bar.Animating(); }));
    }

    TApplication app;
    gui::TGuiSession session{app};
    TForm form{app};
    TFrameBar bar{form};
    std::vector<std::string> events;
    int heights[3] = {50, 50, 50};
    int failCreate = -1;
    bool allowDestroy = true;
};

using Events = std::vector<std::string>;

TEST_F(FrameBarTest, OneItemOpenAndFramesOnlyWhileOpen)
{
    bar.SetAnimated(false);
    EXPECT_EQ(bar.OpenIndex(), -1);
    bar.OpenItem(0, false);
    EXPECT_EQ(events, (Events{"create 0"}));
    ASSERT_NE(FrameOf(0), nullptr);

    ClickTitle(2);
    // The new frame is made (and loaded) before the old one is offered for destruction.
    EXPECT_EQ(events, (Events{"create 0", "create 2", "destroy 0"}));
    EXPECT_EQ(bar.OpenIndex(), 2);
    EXPECT_EQ(FrameOf(0), nullptr);
    ASSERT_NE(FrameOf(2), nullptr);
    EXPECT_TRUE(gui::IsShown(FrameOf(2)->Handle()));

    events.clear();
    ClickTitle(2); // the open item's title
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(bar.OpenIndex(), 2);
}

TEST_F(FrameBarTest, OpenFrameFillsTheRoomUnderItsTitle)
{
    bar.OpenItem(1, false);
    const int title = TFrameBar::kDefaultTitleHeight;
    RECT first = gui::RectInParent(bar.Item(0).TitleHandle());
    RECT second = gui::RectInParent(bar.Item(1).TitleHandle());
    RECT third = gui::RectInParent(bar.Item(2).TitleHandle());
    EXPECT_EQ(first.top, 0);
    EXPECT_EQ(second.top, title);
    EXPECT_EQ(third.bottom, 300); // the titles after the open item stand at the bottom
    EXPECT_EQ(third.right, 400);

    HWND frame = FrameOf(1)->Handle();
    POINT origin{0, 0};
    ::MapWindowPoints(frame, bar.Handle(), &origin, 1);
    SIZE size = gui::ClientSize(frame);
    EXPECT_EQ(origin.y, 2 * title);
    EXPECT_EQ(size.cx, 400);
    EXPECT_EQ(size.cy, 300 - 3 * title);
    EXPECT_EQ(bar.ScrollRange(), 0);
}

TEST_F(FrameBarTest, SlideKeepsBothFramesUntilItEnds)
{
    bar.OpenItem(0, false);
    // Long enough that the click's own pumping, which goes on while steps of the slide are waiting (every 15 ms, and
    // a step may take longer than that on a loaded machine), cannot see the slide to its end.
    bar.SetAnimationTime(2000);
    session.Click(bar.Item(1).TitleHandle());
    ASSERT_TRUE(bar.Animating());
    EXPECT_NE(FrameOf(0), nullptr);
    EXPECT_NE(FrameOf(1), nullptr);
    EXPECT_EQ(events, (Events{"create 0", "create 1"}));

    ASSERT_TRUE(session.PumpUntil([&] { return !bar.Animating(); }, 10000));
    EXPECT_EQ(events, (Events{"create 0", "create 1", "destroy 0"}));
    EXPECT_EQ(FrameOf(0), nullptr);
    EXPECT_EQ(gui::ClientSize(FrameOf(1)->Handle()).cy, 300 - 3 * TFrameBar::kDefaultTitleHeight);

    // A switch asked for during a slide ends that slide first.
    session.Click(bar.Item(2).TitleHandle());
    bar.OpenItem(0, false);
    EXPECT_EQ(events, (Events{"create 0", "create 1", "destroy 0", "create 2", "destroy 1", "create 0", "destroy 2"}));
    EXPECT_FALSE(bar.Animating());
}

TEST_F(FrameBarTest, FrameKeptByItsDestroyEventServesTheNextOpening)
{
    bar.OpenItem(0, false);
    TTestFrame* first = FrameOf(0);
    allowDestroy = false;
    bar.OpenItem(1, false);
    EXPECT_EQ(FrameOf(0), first);
    EXPECT_FALSE(gui::IsShown(first->Handle()));

    allowDestroy = true;
    bar.OpenItem(0, false);
    EXPECT_EQ(FrameOf(0), first);
    EXPECT_EQ(events, (Events{"create 0", "create 1", "destroy 0", "destroy 1"})); // no second creation
}

TEST_F(FrameBarTest, FailedCreationLeavesTheOpenItemAsItWas)
{
    bar.OpenItem(0, false);
    failCreate = 1;
    EXPECT_THROW(bar.OpenItem(1, false), std::runtime_error);
    EXPECT_EQ(bar.OpenIndex(), 0);
    EXPECT_NE(FrameOf(0), nullptr);
    EXPECT_EQ(FrameOf(1), nullptr);
    EXPECT_EQ(events, (Events{"create 0", "create 1"}));

    // Through a click the error reaches the application's error handling, and the bar stays usable.
    session.Click(bar.Item(1).TitleHandle());
    ASSERT_EQ(session.ShownBoxes().size(), 1u);
    EXPECT_EQ(session.ShownBoxes()[0].Text, L"no frame");
    failCreate = -1;
    ClickTitle(1);
    EXPECT_EQ(bar.OpenIndex(), 1);
}

TEST_F(FrameBarTest, AccessKeysOpenTheirItems)
{
    bar.OpenItem(0, false);
    bar.SetAnimated(false);
    ::SetFocus(FrameOf(0)->field.Handle());
    session.PressKey('H', gui::kAlt);
    EXPECT_EQ(bar.OpenIndex(), 2);
    // The focus left the closed frame for the title of the item that opened.
    EXPECT_EQ(::GetFocus(), bar.Item(2).TitleHandle());
    session.PressKey('S', gui::kAlt);
    EXPECT_EQ(bar.OpenIndex(), 1);
    session.PressKey('F', gui::kAlt);
    EXPECT_EQ(bar.OpenIndex(), 0);
}

TEST_F(FrameBarTest, TallFrameScrollsAndTheFocusedFieldComesIntoView)
{
    heights[2] = 500;
    bar.OpenItem(2, false);
    const int title = TFrameBar::kDefaultTitleHeight;
    EXPECT_EQ(bar.ScrollRange(), 3 * title + 500 - 300);
    EXPECT_TRUE(gui::HasStyle(bar.Handle(), WS_VSCROLL));
    EXPECT_EQ(bar.ScrollPosition(), 0);

    HWND field = FrameOf(2)->field.Handle();
    ::SetFocus(field);
    session.ProcessPending();
    RECT rect = gui::RectInParent(field);
    ::MapWindowPoints(::GetParent(field), bar.Handle(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.bottom, 300); // scrolled just far enough
    int scrolled = bar.ScrollPosition();
    EXPECT_GT(scrolled, 0);

    ::SendMessageW(bar.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(bar.ScrollPosition(), scrolled - 60);
    ::SendMessageW(bar.Handle(), WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(bar.ScrollPosition(), 0);
    EXPECT_EQ(gui::RectInParent(bar.Item(0).TitleHandle()).top, 0);

    // A frame that fits needs no scrolling.
    bar.OpenItem(0, false);
    EXPECT_EQ(bar.ScrollRange(), 0);
    EXPECT_FALSE(gui::HasStyle(bar.Handle(), WS_VSCROLL));
}

TEST_F(FrameBarTest, FramesGoWithTheBarWithoutTheirDestroyEvent)
{
    auto form2 = std::make_unique<TForm>(app);
    auto bar2 = std::make_unique<TFrameBar>(*form2);
    int destroyed = 0;
    TFrameBarItem& item = bar2->AddItem(L"Only");
    item.OnCreateFrame = [](TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame) {
        frame = std::make_unique<TTestFrame>(parent, 0, 50);
    };
    item.OnFrameDestroy = [&](TFrameBar&, TWinControl&, bool&) { ++destroyed; };
    bar2->OpenItem(0, false);
    ASSERT_NE(item.Frame(), nullptr);
    bar2.reset();
    form2.reset();
    EXPECT_EQ(destroyed, 0);
}

} // namespace
