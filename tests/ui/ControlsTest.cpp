// The standard controls through their messages: edit options, label colours and links, spin fields,
// timers and images.
#include "GuiHarness.h"

#include "Application.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

class ControlsTest : public ::testing::Test {
protected:
    ControlsTest()
    {
        form.SetClientSize(320, 240);
        form.SetPosition(TPosition::ScreenCenter);
        form.Show();
    }

    TApplication app;
    gui::TGuiSession session{app};
    TForm form{app};
};

TEST_F(ControlsTest, EditOptions)
{
    TEdit edit(form);
    edit.SetBounds(8, 8, 150, 21);
    edit.SetFocus();

    edit.SetMaxLength(3);
    session.TypeText(L"abcdef");
    EXPECT_EQ(gui::Text(edit.Handle()), L"abc");

    edit.SetText(L"");
    edit.SetMaxLength(0);
    edit.SetDigitsOnly(true);
    session.TypeText(L"1a2");
    EXPECT_EQ(gui::Text(edit.Handle()), L"12");

    edit.SetPasswordChar(L'*');
    EXPECT_EQ(::SendMessageW(edit.Handle(), EM_GETPASSWORDCHAR, 0, 0), L'*');
    edit.SetPasswordChar(0);
    EXPECT_EQ(::SendMessageW(edit.Handle(), EM_GETPASSWORDCHAR, 0, 0), 0);

    edit.SetReadOnly(true);
    EXPECT_TRUE(gui::HasStyle(edit.Handle(), ES_READONLY));
    session.TypeText(L"9");
    EXPECT_EQ(gui::Text(edit.Handle()), L"12");
}

TEST_F(ControlsTest, CheckBoxClickTogglesAndNotifies)
{
    TCheckBox box(form, L"Use this rule");
    box.SetBounds(8, 8, 150, 20);
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    session.MouseClick(box.Handle());
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(clicks, 1);
    box.SetChecked(false);
    EXPECT_EQ(::SendMessageW(box.Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(ControlsTest, LabelPaintsInItsColourOnItsParentsBackground)
{
    TPanel panel(form);
    panel.SetBounds(0, 0, 320, 100);
    panel.SetColor(RGB(242, 239, 223));
    TLabel label(panel, L"Message");
    label.SetBounds(8, 8, 200, 16);
    label.SetTextColor(RGB(255, 0, 0));
    label.SetTransparent(true);

    HDC dc = ::CreateCompatibleDC(nullptr);
    auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(
        panel.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label.Handle())));
    EXPECT_EQ(::GetTextColor(dc), RGB(255, 0, 0));
    EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
    LOGBRUSH info{};
    ASSERT_TRUE(::GetObjectW(brush, sizeof info, &info));
    EXPECT_EQ(info.lbColor, RGB(242, 239, 223));
    ::DeleteDC(dc);
}

TEST_F(ControlsTest, LabelSizesItselfToItsText)
{
    TLabel label(form, L"W");
    label.SetBounds(8, 8, 10, 10);
    label.SetAutoSize(true);
    int narrow = label.Bounds().Width;
    label.SetCaption(L"WWWWWWWWWW");
    EXPECT_GT(label.Bounds().Width, narrow * 5);
    EXPECT_EQ(gui::RectInParent(label.Handle()).right - 8, label.Bounds().Width);
}

TEST_F(ControlsTest, LinkLabelIsUnderlinedWithAHandCursorAndClicks)
{
    TLinkLabel link(form, L"&Add");
    link.SetBounds(8, 8, 40, 16);
    int clicks = 0;
    link.OnClick = [&] { ++clicks; };

    session.MouseClick(link.Handle());
    EXPECT_EQ(clicks, 1);

    auto font = reinterpret_cast<HFONT>(::SendMessageW(link.Handle(), WM_GETFONT, 0, 0));
    LOGFONTW info{};
    ::GetObjectW(font, sizeof info, &info);
    EXPECT_TRUE(info.lfUnderline);
    EXPECT_EQ(link.TextColor(), kLinkColor);

    LRESULT handled = ::SendMessageW(form.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(link.Handle()),
                                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_TRUE(handled);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
}

TEST_F(ControlsTest, SpinEditKeepsItsValueInRange)
{
    struct Case {
        int min, max;
        const wchar_t* text;
        int value;
        const wchar_t* shownAfterLeaving;
    };
    const Case cases[] = {
        {1, 1000000, L"25", 25, L"25"},
        {1, 1000000, L"0", 1, L"1"},
        {1, 1000000, L"2000000", 1000000, L"1000000"},
        {1, 1000000, L"", 1, L"1"},
        {0, 2000000000, L"99999999999", 0, L"0"},
        {0, 0, L"3745", 3745, L"3745"},
        {0, 0, L"2147483647", INT_MAX, L"2147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " text " << c.text);
        TSpinEdit spin(form);
        spin.SetBounds(8, 8, 120, 21);
        spin.SetRange(c.min, c.max);
        TButton other(form, L"Other");
        other.SetBounds(8, 40, 75, 25);
        spin.SetFocus();
        spin.SetText(c.text);
        EXPECT_EQ(spin.Value(), c.value);
        other.SetFocus();
        session.ProcessPending();
        EXPECT_EQ(gui::Text(spin.Handle()), c.shownAfterLeaving);
    }
}

TEST_F(ControlsTest, SpinEditClampsOnSetAndStepsWithArrowsAndKeys)
{
    TSpinEdit spin(form);
    spin.SetBounds(8, 8, 120, 21);
    spin.SetRange(0, 2000000000);
    spin.SetIncrement(65536);

    spin.SetValue(-5);
    EXPECT_EQ(gui::Text(spin.Handle()), L"0");
    spin.SetValue(2100000000);
    EXPECT_EQ(spin.Value(), 2000000000);

    spin.SetValue(10240000);
    RECT arrows{};
    ::GetClientRect(spin.UpDownHandle(), &arrows);
    session.MouseClickAt(spin.UpDownHandle(), {arrows.right / 2, arrows.bottom / 4});
    EXPECT_EQ(spin.Value(), 10240000 + 65536);
    session.MouseClickAt(spin.UpDownHandle(), {arrows.right / 2, arrows.bottom * 3 / 4});
    EXPECT_EQ(spin.Value(), 10240000);

    spin.SetFocus();
    session.PressKey(VK_UP);
    EXPECT_EQ(spin.Value(), 10240000 + 65536);
    spin.SetValue(1999999999);
    session.PressKey(VK_UP);
    EXPECT_EQ(spin.Value(), 2000000000);

    EXPECT_TRUE(gui::HasStyle(spin.Handle(), ES_NUMBER));
    spin.SetVisible(false);
    EXPECT_FALSE(gui::HasVisibleStyle(spin.UpDownHandle()));
}

TEST_F(ControlsTest, TimerTicksWhileEnabledAndHandsErrorsToTheApplication)
{
    TTimer timer(form, 20, false);
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 3)
            throw Exception("Tick failed");
    };
    session.PumpFor(100);
    EXPECT_EQ(ticks, 0);

    timer.SetEnabled(true);
    EXPECT_TRUE(session.PumpUntil([&] { return ticks >= 3; }));
    timer.SetEnabled(false);
    int stopped = ticks;
    session.PumpFor(100);
    EXPECT_EQ(ticks, stopped);
    ASSERT_EQ(session.ShownBoxes().size(), 1u);
    EXPECT_EQ(session.ShownBoxes()[0].Text, L"Tick failed");
}

TEST_F(ControlsTest, ImageDrawsItsIconCentredOnTheBackground)
{
    TPanel panel(form);
    panel.SetBounds(0, 0, 100, 100);
    panel.SetColor(RGB(0, 0, 255));
    TImage image(panel);
    image.SetBounds(10, 10, 60, 60);
    image.SetCenter(true);
    image.SetIcon(::LoadIconW(nullptr, IDI_ERROR));
    form.BringToFront();
    session.PumpFor(100);
    ::UpdateWindow(form.Handle());

    // Read from the window's own DC, which holds what it painted even before the screen shows it.
    HDC dc = ::GetDC(panel.Handle());
    COLORREF background = ::GetPixel(dc, 12, 12);
    COLORREF middle = ::GetPixel(dc, 40, 40);
    ::ReleaseDC(panel.Handle(), dc);
    EXPECT_EQ(background, RGB(0, 0, 255));
    EXPECT_NE(middle, RGB(0, 0, 255));

    image.Hide();
    EXPECT_FALSE(gui::HasVisibleStyle(image.Handle()));
}

TEST_F(ControlsTest, GroupBoxHoldsItsControls)
{
    TGroupBox group(form, L"&Remote control");
    group.SetBounds(8, 8, 300, 200);
    TCheckBox box(group, L"Use SSL");
    box.SetBounds(10, 20, 100, 20);
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    session.MouseClick(box.Handle());
    EXPECT_EQ(::GetParent(box.Handle()), group.Handle());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(gui::Text(group.Handle()), L"&Remote control");
}

} // namespace
