// Page controls: tabs in the order of their pages, the first active, and only the active page's controls
// in sight whichever way the user switches.
#include "GuiHarness.h"

#include "Application.h"
#include "ComCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <gtest/gtest.h>

namespace {

class TPagesForm : public TForm {
public:
    explicit TPagesForm(TApplication& app) : TForm(app)
    {
        SetClientSize(400, 200);
        SetPosition(TPosition::ScreenCenter);
        pgMain.SetAlign(TAlign::Client);
        bbFirst.SetBounds(8, 8, 75, 25);
        bbSecond.SetBounds(8, 8, 75, 25);
        editThird.SetBounds(8, 8, 100, 21);
        pgMain.OnChange = [this] { ++changes; };
    }

    TPageControl pgMain{*this};
    TTabSheet tsFirst{pgMain, L"Current s&tatus"};
    TTabSheet tsSecond{pgMain, L"&Servers"};
    TTabSheet tsThird{pgMain, L"S&ites"};
    TButton bbFirst{tsFirst, L"First"};
    TButton bbSecond{tsSecond, L"Second"};
    TEdit editThird{tsThird};
    int changes = 0;
};

class PageControlTest : public ::testing::Test {
protected:
    PageControlTest() { form.Show(); }

    void ExpectOnlyPageShown(int page)
    {
        EXPECT_EQ(gui::CurrentTab(form.pgMain.TabHandle()), page);
        EXPECT_EQ(gui::IsShown(form.bbFirst.Handle()), page == 0);
        EXPECT_EQ(gui::IsShown(form.bbSecond.Handle()), page == 1);
        EXPECT_EQ(gui::IsShown(form.editThird.Handle()), page == 2);
    }

    TApplication app;
    gui::TGuiSession session{app};
    TPagesForm form{app};
};

TEST_F(PageControlTest, TabsInPageOrderWithTheFirstActive)
{
    HWND tab = form.pgMain.TabHandle();
    ASSERT_EQ(gui::TabCount(tab), 3);
    EXPECT_EQ(gui::TabCaption(tab, 0), L"Current s&tatus");
    EXPECT_EQ(gui::TabCaption(tab, 1), L"&Servers");
    EXPECT_EQ(gui::TabCaption(tab, 2), L"S&ites");
    EXPECT_EQ(form.pgMain.ActivePage(), &form.tsFirst);
    ExpectOnlyPageShown(0);

    // The page fills the tab control's display area.
    RECT display{};
    ::GetClientRect(tab, &display);
    ::SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    RECT page = gui::RectInParent(form.tsFirst.Handle());
    EXPECT_EQ(page.left, display.left);
    EXPECT_EQ(page.bottom, display.bottom);
}

TEST_F(PageControlTest, UserSwitchesPagesByMouseCtrlTabAndAccessKey)
{
    session.SelectTab(form.pgMain.TabHandle(), 1);
    ExpectOnlyPageShown(1);
    EXPECT_EQ(form.changes, 1);

    form.bbSecond.SetFocus();
    session.PressKey(VK_TAB, gui::kControl);
    ExpectOnlyPageShown(2);
    session.PressKey(VK_TAB, gui::kControl);
    ExpectOnlyPageShown(0);
    session.PressKey(VK_TAB, gui::kControl | gui::kShift);
    ExpectOnlyPageShown(2);

    session.PressKey('S', gui::kAlt);
    ExpectOnlyPageShown(1);
    session.PressKey('T', gui::kAlt);
    ExpectOnlyPageShown(0);
    EXPECT_EQ(form.changes, 6);
}

TEST_F(PageControlTest, ProgramSwitchMovesTheFocusOffTheHiddenPage)
{
    form.editThird.SetFocus();
    form.pgMain.SetActivePageIndex(2);
    form.editThird.SetFocus();
    form.pgMain.SetActivePage(form.tsFirst);
    ExpectOnlyPageShown(0);
    EXPECT_NE(::GetFocus(), form.editThird.Handle());
    EXPECT_EQ(form.changes, 0);
}

TEST_F(PageControlTest, RenamedPageRenamesItsTab)
{
    form.tsSecond.SetCaption(L"&Hosts");
    EXPECT_EQ(gui::TabCaption(form.pgMain.TabHandle(), 1), L"&Hosts");
    EXPECT_EQ(form.tsSecond.PageIndex(), 1);
}

} // namespace
