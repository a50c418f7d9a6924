// The tray pop-up: one window for the run owned by the main form, its size for short, long and multi-line
// texts, its pictures, its count-down, the cleanup text, its place on the screen and the focus it leaves alone.
#include "GuiHarness.h"
#include "LayoutCheck.h"

#include "UTrayNotificationFM.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

class TrayNotificationTest : public ::testing::Test {
protected:
    TrayNotificationTest()
    {
        app.SetTitle(L"Mendrel Remote Client");
        mainForm.SetCaption(L"Main");
        mainForm.SetClientSize(400, 300);
    }

    TfmTrayNotification& Popup()
    {
        TfmTrayNotification* popup = FindTrayNotification(app);
        if (!popup)
            throw std::runtime_error("no pop-up");
        return *popup;
    }

    SIZE WindowSize(HWND window)
    {
        RECT rect{};
        ::GetWindowRect(window, &rect);
        return {rect.right - rect.left, rect.bottom - rect.top};
    }

    int LineHeight(TfmTrayNotification& popup)
    {
        HDC dc = ::GetDC(popup.LabelInformation.Handle());
        HGDIOBJ old = ::SelectObject(dc, popup.LabelInformation.Font());
        SIZE jj{};
        ::GetTextExtentPoint32W(dc, L"jJ", 2, &jj);
        ::SelectObject(dc, old);
        ::ReleaseDC(popup.LabelInformation.Handle(), dc);
        return jj.cy;
    }

    TApplication app;
    gui::TGuiSession session{app};
    TForm mainForm{app};
};

TEST_F(TrayNotificationTest, OneWindowForTheRunOwnedByTheMainFormCaptionedWithTheTitle)
{
    EXPECT_EQ(FindTrayNotification(app), nullptr);
    ShowTrayNotification(app, L"All servers are fine", 3, 1);
    TfmTrayNotification* first = FindTrayNotification(app);
    ASSERT_NE(first, nullptr);
    ShowTrayNotification(app, L"A server failed", 5, 2);
    EXPECT_EQ(FindTrayNotification(app), first);
    EXPECT_EQ(mainForm.ComponentCount(), 1u);

    HWND window = first->Handle();
    EXPECT_TRUE(gui::IsShown(window));
    EXPECT_EQ(::GetWindow(window, GW_OWNER), mainForm.Handle());
    EXPECT_EQ(gui::Text(window), L"Mendrel Remote Client");
    EXPECT_TRUE(gui::HasExStyle(window, WS_EX_TOOLWINDOW));
    EXPECT_TRUE(gui::HasStyle(window, WS_THICKFRAME));
    EXPECT_EQ(gui::Text(first->LabelInformation.Handle()), L"A server failed");
    EXPECT_EQ(first->Color(), RGB(242, 239, 223));
    EXPECT_EQ(first->LabelInformation.TextColor(), RGB(0, 0, 0));
}

// Made ahead, the pop-up stays hidden until the first notification, which shows that same window.
TEST_F(TrayNotificationTest, APreparedPopUpIsHiddenAndTheOneThatTheFirstNotificationShows)
{
    PrepareTrayNotification(app);
    TfmTrayNotification* prepared = FindTrayNotification(app);
    ASSERT_NE(prepared, nullptr);
    EXPECT_FALSE(gui::IsShown(prepared->Handle()));
    PrepareTrayNotification(app);
    EXPECT_EQ(mainForm.ComponentCount(), 1u);

    ShowTrayNotification(app, L"A server failed", 5, 2);
    EXPECT_EQ(FindTrayNotification(app), prepared);
    EXPECT_TRUE(gui::IsShown(prepared->Handle()));
    EXPECT_EQ(gui::Text(prepared->LabelInformation.Handle()), L"A server failed");
}

TEST_F(TrayNotificationTest, SizeFollowsTheTextFromTheInitialSizeEveryTime)
{
    ShowTrayNotification(app, L"OK", 3, 1);
    TfmTrayNotification& popup = Popup();
    const SIZE initial = popup.InitialSize();
    const LONG cap = initial.cx + initial.cx / 2;
    struct Case {
        const char* name;
        std::wstring text;
        LONG width; // 0: whatever the estimate gives
        int lines;  // lines the label must have room for; 0: the window keeps its initial height
    };
    const Case cases[] = {
        {"short", L"OK", initial.cx, 0},
        {"long, one line", std::wstring(300, L'x'), cap, 0},
        {"short after long", L"Fine", initial.cx, 0},
        {"three carriage returns", L"a\r\nb\r\nc\r\nd", initial.cx, 4},
        {"six carriage returns", L"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7", 0, 7},
        {"one line after seven", L"one", initial.cx, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShowTrayNotification(app, c.text, 3, 1);
        SIZE size = WindowSize(popup.Handle());
        if (c.width) {
            EXPECT_EQ(size.cx, c.width);
        }
        EXPECT_LE(size.cx, cap);
        if (c.lines == 0) {
            EXPECT_EQ(size.cy, initial.cy);
        } else {
            EXPECT_GE(gui::ClientSize(popup.LabelInformation.Handle()).cy, c.lines * LineHeight(popup));
        }
        // The message area follows the window, inside the label's margins.
        SIZE panel = gui::ClientSize(popup.PanelMain.Handle());
        RECT label = gui::RectInParent(popup.LabelInformation.Handle());
        EXPECT_EQ(label.left, 45);
        EXPECT_EQ(label.top, 6);
        EXPECT_EQ(panel.cx - label.right, 6);
        EXPECT_EQ(panel.cy - label.bottom, 6);
    }
}

TEST_F(TrayNotificationTest, PicturesByKindAndOtherKindsKeepTheLastOne)
{
    ShowTrayNotification(app, L"start", 3, 0);
    TfmTrayNotification& popup = Popup();
    struct Step {
        int kind;
        bool information, exclamation;
    };
    const Step steps[] = {{1, true, false}, {7, true, false}, {2, false, true},  {-1, false, true},
                          {3, false, true}, {1, true, false}, {0, false, false}, {9, false, false}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.kind);
        ShowTrayNotification(app, L"kind", 3, s.kind);
        EXPECT_EQ(gui::IsShown(popup.ImageInformation.Handle()), s.information);
        EXPECT_EQ(gui::IsShown(popup.ImageExclamation.Handle()), s.exclamation);
    }
    EXPECT_EQ(gui::RectInParent(popup.ImageInformation.Handle()).left,
              gui::RectInParent(popup.ImageExclamation.Handle()).left);
    EXPECT_EQ(gui::RectInParent(popup.ImageInformation.Handle()).top,
              gui::RectInParent(popup.ImageExclamation.Handle()).top);
}

TEST_F(TrayNotificationTest, CountDownHidesWhenTheSecondsAreUsed)
{
    struct Case {
        int seconds;
        int ticksShown; // ticks after which it is still visible
    };
    const Case cases[] = {{3, 2}, {1, 0}, {0, 0}, {-4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        ShowTrayNotification(app, L"Counting", c.seconds, 1);
        TfmTrayNotification& popup = Popup();
        EXPECT_TRUE(gui::IsShown(popup.Handle()));
        EXPECT_TRUE(popup.TimerForFormHide.Enabled());
        for (int i = 0; i < c.ticksShown; ++i) {
            popup.TimerForFormHideTimer();
            EXPECT_TRUE(gui::IsShown(popup.Handle()));
        }
        popup.TimerForFormHideTimer();
        EXPECT_FALSE(gui::IsShown(popup.Handle()));
        EXPECT_FALSE(popup.TimerForFormHide.Enabled());
    }
}

TEST_F(TrayNotificationTest, TheTimerRunsTheCountDown)
{
    ShowTrayNotification(app, L"One second", 1, 1);
    HWND window = Popup().Handle();
    EXPECT_TRUE(gui::IsShown(window));
    EXPECT_TRUE(session.PumpUntil([&] { return !gui::IsShown(window); }, 4000));
}

TEST_F(TrayNotificationTest, ANewNotificationStartsTheCountDownAgain)
{
    ShowTrayNotification(app, L"first", 2, 1);
    TfmTrayNotification& popup = Popup();
    popup.TimerForFormHideTimer();
    ShowTrayNotification(app, L"second", 2, 1);
    EXPECT_EQ(popup.SecondsLeft(), 2);
    popup.TimerForFormHideTimer();
    EXPECT_TRUE(gui::IsShown(popup.Handle()));
}

TEST_F(TrayNotificationTest, CleanupTextHidesThePopupAndChangesNothingElse)
{
    ShowTrayNotification(app, kCleanupNotifyIconText, 3, 1);
    EXPECT_EQ(FindTrayNotification(app), nullptr);

    ShowTrayNotification(app, L"Visible", 5, 2);
    TfmTrayNotification& popup = Popup();
    ShowTrayNotification(app, L"CleanupNotifyIcon7C20D36E30214DF7A9C2449BCBCF0AF5", 3, 1);
    EXPECT_FALSE(gui::IsShown(popup.Handle()));
    EXPECT_FALSE(popup.TimerForFormHide.Enabled());
    EXPECT_EQ(gui::Text(popup.LabelInformation.Handle()), L"Visible");
    EXPECT_TRUE(gui::HasVisibleStyle(popup.ImageExclamation.Handle()));
}

TEST_F(TrayNotificationTest, TheCloseButtonHidesItAndStopsTheCountDown)
{
    ShowTrayNotification(app, L"Close me", 5, 1);
    TfmTrayNotification& popup = Popup();
    ::SendMessageW(popup.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(gui::IsShown(popup.Handle()));
    EXPECT_FALSE(popup.TimerForFormHide.Enabled());
    EXPECT_FALSE(app.Terminated());
    EXPECT_TRUE(::IsWindow(popup.Handle()));
}

TEST_F(TrayNotificationTest, SitsAtTheBottomRightAboveTheTaskbar)
{
    ShowTrayNotification(app, L"Where am I?", 3, 1);
    RECT window{};
    ::GetWindowRect(Popup().Handle(), &window);
    HWND desktop = ::GetShellWindow() ? ::GetShellWindow() : ::GetDesktopWindow();
    SIZE screen = gui::ClientSize(desktop);
    RECT taskbar{};
    HWND tray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    if (tray && ::GetWindowRect(tray, &taskbar) && taskbar.top > 0 && taskbar.left <= 0 && taskbar.right >= screen.cx &&
        taskbar.bottom >= screen.cy) {
        EXPECT_EQ(window.right, screen.cx - 20);
        EXPECT_EQ(window.bottom, screen.cy - (taskbar.bottom - taskbar.top) - 5);
    } else {
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_EQ(window.right, work.right - 20);
        EXPECT_EQ(window.bottom, work.bottom - 5);
    }
}

TEST_F(TrayNotificationTest, ShowingLeavesTheFocusWhereItIs)
{
    TEdit edit(mainForm);
    edit.SetBounds(10, 10, 200, 21);
    mainForm.Show();
    mainForm.BringToFront();
    edit.SetFocus();
    session.ProcessPending();
    HWND active = ::GetActiveWindow();
    ASSERT_EQ(active, mainForm.Handle());

    ShowTrayNotification(app, L"Something changed", 3, 2);
    session.ProcessPending();
    EXPECT_TRUE(gui::IsShown(Popup().Handle()));
    EXPECT_EQ(::GetActiveWindow(), active);
    EXPECT_EQ(::GetFocus(), edit.Handle());
}

TEST(TrayNotificationOwner, GoesWithTheMainForm)
{
    TApplication app;
    gui::TGuiSession session(app);
    HWND popup = nullptr;
    {
        TForm mainForm(app);
        ShowTrayNotification(app, L"Short-lived", 3, 1);
        popup = FindTrayNotification(app)->Handle();
        EXPECT_TRUE(::IsWindow(popup));
    }
    EXPECT_FALSE(::IsWindow(popup));
    EXPECT_EQ(FindTrayNotification(app), nullptr);
}

TEST(TrayNotificationOwner, NeedsAMainForm)
{
    TApplication app;
    gui::TGuiSession session(app);
    EXPECT_THROW(ShowTrayNotification(app, L"Nobody to own it", 3, 1), EAssertionFailed);
}

// The pop-up of one failure and the pop-up of several lines: every line with room, the pop-up on the screen's work
// area (the pictures go to the artifacts).
TEST_F(TrayNotificationTest, TextsAreShownWithinThePopUp)
{
    ShowTrayNotification(app, L"Failed: http://127.0.0.1:3745 (Failed to connect)", 5, 2);
    session.PumpFor(100);
    EXPECT_TRUE(gui::IsShown(Popup().Handle()));
    EXPECT_EQ(gui::LayoutFaultsText(Popup().Handle()), "") << "one line:";
    gui::SaveScreenshot(Popup().Handle(), L"tray-notification");
    ShowTrayNotification(app, L"All items are fine\r\nServers: 2\r\nSites: 1\r\nChecked 12:00", 5, 1);
    session.PumpFor(100);
    EXPECT_EQ(gui::LayoutFaultsText(Popup().Handle()), "") << "lines:";
    gui::SaveScreenshot(Popup().Handle(), L"tray-notification-lines");
}

// The pop-up of thousands of items: on the screen, the first lines and a count of the others, every line with room.
TEST_F(TrayNotificationTest, AListTallerThanTheScreenShowsItsFirstLinesOnTheScreen)
{
    std::wstring text;
    for (int i = 1; i <= 2000; ++i)
        text += (i > 1 ? L"\r\n" : L"") + std::wstring(L"http://host") + std::to_wstring(i) + L".example: Status Ok";
    ShowTrayNotification(app, text, 5, 1);
    session.PumpFor(100);
    TfmTrayNotification& popup = Popup();
    EXPECT_TRUE(gui::IsShown(popup.Handle()));
    RECT window{}, workArea{};
    ::GetWindowRect(popup.Handle(), &window);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    EXPECT_GE(window.top, workArea.top);
    EXPECT_LE(window.bottom, workArea.bottom);

    std::wstring shown = popup.LabelInformation.Caption();
    int lines = 1 + static_cast<int>(std::count(shown.begin(), shown.end(), L'\r'));
    EXPECT_GT(lines, 10);
    EXPECT_EQ(shown.rfind(L"http://host1.example: Status Ok\r\nhttp://host2.example: Status Ok\r\n", 0), 0u);
    EXPECT_EQ(shown.substr(shown.rfind(L'\n') + 1), L"... and " + std::to_wstring(2000 - (lines - 1)) + L" more");
    EXPECT_GE(gui::ClientSize(popup.LabelInformation.Handle()).cy, lines * LineHeight(popup));
    EXPECT_EQ(gui::LayoutFaultsText(popup.Handle()), "");
    gui::SaveScreenshot(popup.Handle(), L"tray-notification-thousands");

    // A short text after it has the whole text and the window of its own size again.
    ShowTrayNotification(app, L"OK", 3, 1);
    EXPECT_EQ(popup.LabelInformation.Caption(), L"OK");
    EXPECT_EQ(WindowSize(popup.Handle()).cy, popup.InitialSize().cy);
}

} // namespace
