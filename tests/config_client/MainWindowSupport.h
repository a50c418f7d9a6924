// The main window in-process, on a settings file of the test's own, driven through its messages.
#pragma once

#include "GuiHarness.h"
#include "TestFolder.h"

#include "Application.h"
#include "UClientMainFM.h"
#include "UserRights.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// An account that is an administrator: no prompt, no logon.
class TAdministratorRights : public TUserRightsSystem {
public:
    bool IsNTPlatform() override { return true; }
    bool IsUserAnAdmin() override { return true; }
};

class MainWindowTest : public testing::Test {
protected:
    MainWindowTest() { InitializeApplication(app); }

    std::wstring IniPath() const { return folder.File(L"DravexMendrel.ini"); }
    void WriteIni(const std::string& text) const { TTestFolder::WriteBytes(IniPath(), text); }
    std::string ReadIni() const { return TTestFolder::ReadBytes(IniPath()); }

    // The window on the test's settings file, shown and settled.
    TfmMain& Open(TfmMainOptions options = {})
    {
        if (options.SettingsPath.empty())
            options.SettingsPath = IniPath();
        if (!options.UserRights)
            options.UserRights = &rights;
        form = std::make_unique<TfmMain>(app, std::move(options));
        form->Show();
        session.ProcessPending();
        return *form;
    }

    // A click on an item's title, as the user makes it, waited for until the switch has finished.
    void OpenItem(int index)
    {
        session.Click(form->FrameBar.Item(index).TitleHandle());
        ASSERT_TRUE(session.PumpUntil([&] { return !form->FrameBar.Animating(); }));
        ASSERT_EQ(form->FrameBar.OpenIndex(), index);
    }

    template <typename Frame>
    Frame& OpenFrame(int index)
    {
        if (form->FrameBar.OpenIndex() != index)
            OpenItem(index);
        auto* frame = dynamic_cast<Frame*>(form->FrameBar.Item(index).Frame());
        if (!frame)
            throw std::runtime_error("the item has no frame of that kind");
        return *frame;
    }

    // Replaces a field's text the way typing does: focus, select everything, type.
    void Type(HWND field, const std::wstring& text)
    {
        ::SetFocus(field);
        ::SendMessageW(field, EM_SETSEL, 0, -1);
        if (text.empty())
            ::SendMessageW(field, WM_CLEAR, 0, 0);
        session.TypeText(text);
    }

    TApplication app;
    gui::TGuiSession session{app};
    TTestFolder folder;
    TAdministratorRights rights;
    std::unique_ptr<TfmMain> form;
};
