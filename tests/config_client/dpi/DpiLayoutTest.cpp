// The configuration client's window at the DPI of this display, on each settings item and on the stress
// page: every control inside its parent, none over another, every text with room in its own font, the window
// within the work area; and its pictures, named after the DPI (config-main-remote-dpi144.png).
#include "MainWindowSupport.h"

#include "LayoutCheck.h"
#include "Strings.h"

#include <cstdlib>

namespace {

std::wstring ShotName(const wchar_t* what, HWND window)
{
    return std::wstring(what) + L"-dpi" + std::to_wstring(gui::WindowDpi(window));
}

const char kIni[] = "[Behaviour]\r\nDisableShutdown=True\r\n\r\n[Remote]\r\nEnabled=True\r\nPort=8088\r\n"
                    "Login=admin\r\nPassword=secret\r\nUseSSL=False\r\n\r\n";

TEST_F(MainWindowTest, SettingsItemsAndStressPageAreLaidOutAtThisDpi)
{
    WriteIni(kIni);
    TfmMain& main = Open();
    if (const char* asked = std::getenv("MENDREL_DPI")) {
        EXPECT_EQ(gui::WindowDpi(main.Handle()), std::atoi(asked)) << "the prefix's DPI did not take";
    }
    main.FrameBar.SetAnimated(false);
    const wchar_t* names[] = {L"config-main-behaviour", L"config-main-service-start", L"config-main-memory-overflow",
                              L"config-main-remote"};
    for (int item = 0; item < 4; ++item) {
        SCOPED_TRACE(WideToUtf8(names[item]));
        if (main.FrameBar.OpenIndex() != item)
            OpenItem(item);
        session.PumpFor(50);
        EXPECT_EQ(gui::LayoutFaultsText(main.Handle()), "");
        gui::SaveScreenshot(main.Handle(), ShotName(names[item], main.Handle()));
    }
    // The last item scrolled to its end, as a user reads the remote settings on a small screen.
    main.FrameBar.ScrollTo(main.FrameBar.ScrollRange());
    session.ProcessPending();
    EXPECT_EQ(gui::LayoutFaultsText(main.Handle()), "") << "scrolled:";
    gui::SaveScreenshot(main.Handle(), ShotName(L"config-main-remote-scrolled", main.Handle()));
    session.SelectTab(main.pgMain.TabHandle(), 1);
    session.PumpFor(50);
    EXPECT_EQ(gui::LayoutFaultsText(main.Handle()), "") << "stress page:";
    gui::SaveScreenshot(main.Handle(), ShotName(L"config-main-stress-test", main.Handle()));
}

} // namespace
