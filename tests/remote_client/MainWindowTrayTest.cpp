// The main window and its notification-area icon: going to the tray and coming back, and the overall state
// that the icon, its tooltip and the pop-ups show.
#include "MainWindowSupport.h"

#include "UTrayNotificationFM.h"

#include <gtest/gtest.h>

namespace {

class MainWindowTray : public MainWindowTest {
protected:
    // Whether the shell holds the window's icon: changing nothing on an icon that it does not hold fails.
    bool ShellHoldsIcon() const
    {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = window->TrayIcon.Handle();
        data.uID = TTrayIcon::kIconId;
        return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    }
    // What the shell sends when the user clicks the icon.
    void IconEvent(UINT event)
    {
        ::SendMessageW(window->TrayIcon.Handle(), TTrayIcon::kCallbackMessage, MAKEWPARAM(100, 100),
                       MAKELPARAM(event, TTrayIcon::kIconId));
        session.ProcessPending();
    }
    bool InTray() const { return !gui::IsShown(window->Handle()) && window->TrayIcon.Visible() && ShellHoldsIcon(); }
    bool OnDesktop() const
    {
        return gui::IsShown(window->Handle()) && !window->TrayIcon.Visible() && !ShellHoldsIcon() &&
               ::GetForegroundWindow() == window->Handle();
    }
    void ExpectOnDesktop() const
    {
        EXPECT_TRUE(gui::IsShown(window->Handle()));
        EXPECT_FALSE(window->TrayIcon.Visible());
        EXPECT_FALSE(ShellHoldsIcon());
        HWND foreground = ::GetForegroundWindow();
        wchar_t name[64] = {};
        ::GetClassNameW(foreground, name, 64);
        EXPECT_EQ(foreground, window->Handle()) << "in front: " << WideToUtf8(name);
    }
};

TEST_F(MainWindowTray, StartWithHideTrueStaysInTheTrayUntilTheIconIsClicked)
{
    Open({kTestProgram, "Hide", "True"});
    EXPECT_TRUE(InTray());
    EXPECT_FALSE(app.ShowMainForm());
    session.ProcessPending();
    EXPECT_TRUE(InTray());

    // The session's shell shows its icons in a window of its own; a person clicks the padlock there.
    HWND tray = nullptr;
    ASSERT_TRUE(session.PumpUntil([&] { return (tray = ::FindWindowW(nullptr, L"Wine System Tray")) != nullptr; }));
    session.PumpFor(200);
    gui::SaveScreenshot(nullptr, L"remote-tray-icon-on-screen");
    POINT icon{(::GetSystemMetrics(SM_CXSMICON) + 4) / 2, (::GetSystemMetrics(SM_CYSMICON) + 4) / 2};
    ::ClientToScreen(tray, &icon);
    ::SetCursorPos(icon.x, icon.y);
    INPUT click[2] = {};
    click[0].type = click[1].type = INPUT_MOUSE;
    click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, click, sizeof(INPUT));
    EXPECT_TRUE(session.PumpUntil([&] { return OnDesktop(); }));
}

TEST_F(MainWindowTray, UsualStartShowsTheWindowAndNoIcon)
{
    Open();
    session.ProcessPending();
    EXPECT_TRUE(gui::IsShown(window->Handle()));
    EXPECT_FALSE(window->TrayIcon.Visible());
    EXPECT_FALSE(ShellHoldsIcon());
    EXPECT_EQ(window->TrayIconIndex(), 0);
    EXPECT_EQ(window->TrayHint(), L"");
}

TEST_F(MainWindowTray, ToTheTrayAndBack)
{
    Open();
    session.ProcessPending();
    HMENU menu = ::GetSystemMenu(window->Handle(), FALSE);
    wchar_t item[64] = {};
    ::GetMenuStringW(menu, kHideToTrayCommand, item, 64, MF_BYCOMMAND);
    EXPECT_STREQ(item, L"Hide to tray");

    struct Way {
        const char* what;
        std::function<void()> hide;
        UINT iconEvent;
    };
    const Way ways[] = {
        {"the button beside the tabs, then a click", [&] { session.Click(window->sbHideToTray.Handle()); },
         WM_LBUTTONUP},
        {"the system menu, then a double click",
         [&] { ::SendMessageW(window->Handle(), WM_SYSCOMMAND, kHideToTrayCommand, 0); }, WM_LBUTTONDBLCLK},
        {"the private message, then the keyboard", [&] { ::SendMessageW(window->Handle(), kHideToTrayMessage, 0, 0); },
         NIN_KEYSELECT},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        way.hide();
        EXPECT_TRUE(InTray());
        // The shell's tray window comes up with the icon and takes the focus; the person clicks after that.
        session.PumpFor(300);
        // An empty status list: the emblem alone and no tooltip.
        EXPECT_EQ(window->TrayIconIndex(), 0);
        EXPECT_EQ(window->TrayHint(), L"");
        IconEvent(way.iconEvent);
        ExpectOnDesktop();
    }
    // The button sits in the tab row, at the right end of the window.
    RECT button = gui::RectInParent(window->sbHideToTray.Handle());
    EXPECT_EQ(::GetParent(window->sbHideToTray.Handle()), window->Handle());
    EXPECT_EQ(gui::ClientSize(window->Handle()).cx - button.right, 2);
    EXPECT_LT(button.bottom, 26);
}

TEST_F(MainWindowTray, ScreenshotOfTheWindowWithItsTrayButton)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/ok"), true, 10, "", ""}, {"Item2", s.Refused(), true, 10, "", ""}},
                              {{"Item3", s.Http(L"/page"), true, 10, "Welcome"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    window->BringToFront();
    session.PumpFor(50);
    gui::SaveScreenshot(window->Handle(), L"remote-main-status-with-tray-button");
    EXPECT_EQ(window->TrayIconIndex(), 2);
    EXPECT_EQ(window->TrayHint(), s.Refused() + L": Check failed\r\n");
}

TEST_F(MainWindowTray, OverallStateOfTwoServersAndThePopUpsThatAnnounceIt)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(
        SettingsXml({{"Item1", s.Http(L"/ok"), true, 1, "", ""}, {"Item2", s.Http(L"/ok/sub"), true, 1, "", ""}}, {}));
    Open();
    ASSERT_TRUE(WaitForChecks());

    struct Shown {
        bool Visible = false;
        std::wstring Text;
        bool Exclamation = false;
        int SecondsLeft = 0;
    };
    auto popUp = [&] {
        Shown shown;
        if (TfmTrayNotification* p = FindTrayNotification(app)) {
            shown.Visible = gui::IsShown(p->Handle());
            shown.Text = p->LabelInformation.Caption();
            shown.Exclamation = gui::HasVisibleStyle(p->ImageExclamation.Handle()) &&
                                !gui::HasVisibleStyle(p->ImageInformation.Handle());
            shown.SecondsLeft = p->SecondsLeft();
        }
        return shown;
    };
    auto hidePopUp = [&] {
        if (TfmTrayNotification* p = FindTrayNotification(app))
            p->HideTrayNotification();
    };
    // The next checks of both servers, due a minute later.
    auto nextChecks = [&] {
        hidePopUp();
        clock.Set(AddMinutes(clock.Now(), 1));
        window->CheckTimerTimer();
        ASSERT_TRUE(WaitForChecks());
    };

    // Both fine: every line passes, announced for three seconds with the information picture.
    const std::wstring bothOk = s.Http(L"/ok") + L": Status Ok\r\n" + s.Http(L"/ok/sub") + L": Status Ok\r\n";
    EXPECT_EQ(window->TrayIconIndex(), 1);
    EXPECT_EQ(window->TrayHint(), bothOk);
    Shown first = popUp();
    EXPECT_TRUE(first.Visible);
    EXPECT_EQ(first.Text, bothOk);
    EXPECT_FALSE(first.Exclamation);
    EXPECT_GT(first.SecondsLeft, 0);
    EXPECT_LE(first.SecondsLeft, 3);
    HICON passing = window->TrayIcon.Icon();

    // One fails: only its line, for five seconds with the exclamation picture.
    window->ServerSettingsList[1]->URL = s.Refused(L"/b");
    nextChecks();
    const std::wstring oneFails = s.Refused(L"/b") + L": Check failed\r\n";
    EXPECT_EQ(window->TrayIconIndex(), 2);
    EXPECT_EQ(window->TrayHint(), oneFails);
    Shown failed = popUp();
    EXPECT_TRUE(failed.Visible);
    EXPECT_EQ(failed.Text, oneFails);
    EXPECT_TRUE(failed.Exclamation);
    EXPECT_GT(failed.SecondsLeft, 3);
    EXPECT_LE(failed.SecondsLeft, 5);
    EXPECT_NE(window->TrayIcon.Icon(), passing);
    session.Click(window->sbHideToTray.Handle());
    session.PumpFor(300);
    gui::SaveScreenshot(nullptr, L"remote-tray-failing-with-pop-up");
    if (TfmTrayNotification* p = FindTrayNotification(app))
        gui::SaveScreenshot(p->Handle(), L"remote-tray-pop-up-failed");
    IconEvent(WM_LBUTTONUP);

    // It fails again: the state stays, so nothing is announced.
    nextChecks();
    EXPECT_EQ(window->TrayIconIndex(), 2);
    EXPECT_EQ(window->TrayHint(), oneFails);
    EXPECT_FALSE(popUp().Visible);

    // The other fails too: the tooltip lists both, still without a pop-up.
    window->ServerSettingsList[0]->URL = s.Refused(L"/a");
    nextChecks();
    const std::wstring bothFail = s.Refused(L"/a") + L": Check failed\r\n" + oneFails;
    EXPECT_EQ(window->TrayIconIndex(), 2);
    EXPECT_EQ(window->TrayHint(), bothFail);
    EXPECT_FALSE(popUp().Visible);

    // All deleted: the icon keeps its state until it is next computed, which clears it silently.
    session.SelectTab(window->pgMain.TabHandle(), 1);
    for (int i = 0; i < window->lvServers.Count(); ++i)
        window->lvServers.Item(i).SetSelected(true);
    session.MouseClick(window->LabelServerDelete.Handle());
    session.ProcessPending();
    ASSERT_EQ(window->lvStatus.Count(), 0);
    EXPECT_EQ(window->TrayIconIndex(), 2);
    EXPECT_EQ(window->TrayHint(), bothFail);
    session.Click(window->sbHideToTray.Handle());
    EXPECT_EQ(window->TrayIconIndex(), 0);
    EXPECT_EQ(window->TrayHint(), L"");
    EXPECT_FALSE(popUp().Visible);
    EXPECT_TRUE(InTray());
}

} // namespace
