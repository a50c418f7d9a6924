// The remote client's windows at the DPI of this display: every control inside its parent, none over
// another, every text with room in its own font, the window within the work area; and their pictures, named
// after the DPI (remote-main-dpi144.png).
#include "MainWindowSupport.h"

#include "ExtCtrls.h"
#include "LayoutCheck.h"
#include "UEditServerFM.h"
#include "UEditSiteFM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The DPI that the run asked the prefix for (MENDREL_DPI), so that a setting that did not take is a failure.
void ExpectAskedDpi(HWND window)
{
    if (const char* asked = std::getenv("MENDREL_DPI")) {
        EXPECT_EQ(gui::WindowDpi(window), std::atoi(asked)) << "the prefix's DPI did not take";
    }
}

std::wstring ShotName(const wchar_t* what, HWND window)
{
    return std::wstring(what) + L"-dpi" + std::to_wstring(gui::WindowDpi(window));
}

class RemoteClientAtDpi : public MainWindowTest {
protected:
    void OpenWithRows()
    {
        const TTestServers& s = TTestServers::Get();
        WriteSettings(SettingsXml(
            {{"Item1", s.Http(L"/ok"), true, 10, "admin", "secret"}, {"Item2", s.Refused(), true, 5, "", ""}},
            {{"Item3", s.Http(L"/page"), true, 10, "Welcome"}, {"Item4", s.Http(L"/page"), true, 1, "Farewell"}}));
        Open();
        ASSERT_TRUE(WaitForChecks());
        window->BringToFront();
        session.PumpFor(100);
    }
};

TEST_F(RemoteClientAtDpi, MainWindowPagesAreLaidOut)
{
    OpenWithRows();
    ExpectAskedDpi(window->Handle());
    const wchar_t* names[] = {L"remote-main-status", L"remote-main-servers", L"remote-main-sites"};
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(WideToUtf8(names[page]));
        session.SelectTab(window->pgMain.TabHandle(), page);
        session.PumpFor(50);
        EXPECT_EQ(gui::LayoutFaultsText(window->Handle()), "");
        gui::SaveScreenshot(window->Handle(), ShotName(names[page], window->Handle()));
    }
}

// The padlock on the hide-to-tray button grows with the DPI as far as the button's face allows; a picture left
// at 16 pixels is lost in the button at 144 DPI.
TEST_F(RemoteClientAtDpi, HideToTrayPictureFollowsTheDpi)
{
    OpenWithRows();
    HWND button = window->sbHideToTray.Handle();
    auto icon = reinterpret_cast<HICON>(::SendMessageW(button, BM_GETIMAGE, IMAGE_ICON, 0));
    ASSERT_NE(icon, nullptr);
    SIZE picture = IconSize(icon);
    RECT face{};
    ::GetClientRect(button, &face);
    int wanted = std::min(::MulDiv(16, gui::WindowDpi(button), 96), static_cast<int>(face.bottom) - 6);
    EXPECT_GE(picture.cx, std::max(16, wanted));
    EXPECT_LE(picture.cx, face.right) << "the picture is wider than the button";
}

// The notification area's pictures have the system's small-icon size, which grows with the DPI.
TEST_F(RemoteClientAtDpi, TrayPicturesHaveTheSmallIconSize)
{
    OpenWithRows();
    int width = 0, height = 0;
    ASSERT_TRUE(::ImageList_GetIconSize(window->TrayIconImageList.get(), &width, &height));
    EXPECT_EQ(width, ::GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(height, ::GetSystemMetrics(SM_CYSMICON));
    if (gui::WindowDpi(window->Handle()) >= 144) {
        EXPECT_GT(width, 16) << "the pictures stay at 96 DPI's size";
    }
}

TEST_F(RemoteClientAtDpi, EditDialogsAreLaidOut)
{
    OpenWithRows();
    session.SelectTab(window->pgMain.TabHandle(), 1);
    {
        TfmEditServer server(app, window.get());
        server.SetItem(window->lvServers.Item(0));
        server.Show();
        session.Click(server.bbCheckCode.Handle());
        session.PumpFor(100);
        ExpectAskedDpi(server.Handle());
        EXPECT_EQ(gui::LayoutFaultsText(server.Handle()), "") << "edit server:";
        gui::SaveScreenshot(server.Handle(), ShotName(L"edit-server", server.Handle()));
    }
    {
        TfmEditSite site(app, window.get());
        site.SetItem(window->lvSites.Item(0));
        site.Show();
        session.Click(site.bbCheckCode.Handle());
        session.PumpFor(100);
        EXPECT_EQ(gui::LayoutFaultsText(site.Handle()), "") << "edit site:";
        gui::SaveScreenshot(site.Handle(), ShotName(L"edit-site", site.Handle()));
    }
}

} // namespace
