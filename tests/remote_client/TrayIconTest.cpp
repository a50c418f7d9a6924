// The notification-area icon against the shell of the session: shown, changed, lost with the taskbar and
// given back, removed; and the shell's messages about clicks.
#include "UTrayIcon.h"

#include "../../resources/ResourceIds.h"

#include <gtest/gtest.h>

namespace {

HICON Picture(int id)
{
    return static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_SHARED));
}

// Whether the shell holds the icon: changing nothing on an icon that it does not hold fails.
bool ShellHolds(const TTrayIcon& icon)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = icon.Handle();
    data.uID = TTrayIcon::kIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void ShellForgets(const TTrayIcon& icon)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = icon.Handle();
    data.uID = TTrayIcon::kIconId;
    ::Shell_NotifyIconW(NIM_DELETE, &data);
}

} // namespace

TEST(TrayIcon, ShownChangedAndRemoved)
{
    auto icon = std::make_unique<TTrayIcon>(Picture(IDI_PADLOCK));
    EXPECT_FALSE(icon->Visible());
    EXPECT_FALSE(ShellHolds(*icon));
    HWND owner = icon->Handle();
    // The owner is a hidden top-level window, which the taskbar broadcast reaches.
    EXPECT_EQ(::GetParent(owner), nullptr);
    EXPECT_EQ(::GetAncestor(owner, GA_PARENT), ::GetDesktopWindow());
    EXPECT_FALSE(::IsWindowVisible(owner));

    icon->Show();
    EXPECT_TRUE(icon->Visible());
    ASSERT_TRUE(icon->Added()) << "the session has no notification area";
    EXPECT_TRUE(ShellHolds(*icon));

    icon->SetIcon(Picture(IDI_PADLOCK_FAIL));
    icon->SetHint(std::wstring(300, L'x'));
    EXPECT_EQ(icon->Hint().size(), 300u);
    EXPECT_TRUE(ShellHolds(*icon));

    icon->Hide();
    EXPECT_FALSE(ShellHolds(*icon));
    icon->Show();
    EXPECT_TRUE(ShellHolds(*icon));
    icon.reset();
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = TTrayIcon::kIconId;
    EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &data));
}

TEST(TrayIcon, AddedAgainWhenTheTaskbarComesBack)
{
    TTrayIcon icon(Picture(IDI_PADLOCK));
    icon.Show();
    ASSERT_TRUE(ShellHolds(icon));
    // A restarted shell has lost every icon and says so to all top-level windows.
    ShellForgets(icon);
    ASSERT_FALSE(ShellHolds(icon));
    ::SendMessageW(icon.Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHolds(icon));
    // A second announcement while the shell still holds it changes nothing.
    ::SendMessageW(icon.Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(icon.Added());
    EXPECT_TRUE(ShellHolds(icon));

    // A hidden icon stays away.
    icon.Hide();
    ::SendMessageW(icon.Handle(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_FALSE(ShellHolds(icon));
}

TEST(TrayIcon, ClicksAsTheShellReportsThem)
{
    TTrayIcon icon(Picture(IDI_PADLOCK));
    int clicks = 0, doubleClicks = 0;
    icon.OnClick = [&] { ++clicks; };
    icon.OnDblClick = [&] { ++doubleClicks; };
    icon.Show();
    struct Case {
        UINT event;
        int clicks;
        int doubleClicks;
    };
    const Case cases[] = {{WM_LBUTTONDOWN, 0, 0}, {WM_LBUTTONUP, 1, 0}, {NIN_SELECT, 1, 0},  {WM_LBUTTONDBLCLK, 1, 1},
                          {NIN_KEYSELECT, 2, 1},  {WM_RBUTTONUP, 2, 1}, {WM_MOUSEMOVE, 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "event " << c.event);
        ::SendMessageW(icon.Handle(), TTrayIcon::kCallbackMessage, MAKEWPARAM(10, 10),
                       MAKELPARAM(c.event, TTrayIcon::kIconId));
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_EQ(doubleClicks, c.doubleClicks);
    }
}
