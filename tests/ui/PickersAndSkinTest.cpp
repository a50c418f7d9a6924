// The shell's pickers as the frames use them (a remembered choice is where the next pick starts), and the
// skin switched for a window and everything in it.
#include "GuiHarness.h"

#include "Application.h"
#include "Dialogs.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "SkinManager.h"
#include "StdCtrls.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// A folder of the test's own with one file in it, removed at the end. It stands at the root of the system
// drive: the folder picker finds it by walking the shell's tree from the desktop, and the user's profile (whose
// Desktop and Documents are links under Wine) and its Temp folder, where other tests make and remove folders
// meanwhile, are no part of that walk.
class TScratch {
public:
    TScratch()
    {
        wchar_t windows[MAX_PATH]{};
        ::GetWindowsDirectoryW(windows, MAX_PATH);
        folder = std::wstring(windows, 3) + L"mendrel-pickers-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(folder.c_str(), nullptr);
        file = folder + L"\\picked.pem";
        HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ::CloseHandle(h);
    }
    ~TScratch()
    {
        ::DeleteFileW(file.c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
    std::wstring folder, file;
};

class PickersTest : public ::testing::Test {
protected:
    PickersTest()
    {
        form.SetClientSize(300, 200);
        form.Show();
    }
    TApplication app;
    gui::TGuiSession session{app};
    TForm form{app};
    TScratch scratch;
};

// The session confirms every system dialog with its default button, as a user who accepts what the dialog
// offers: a picker that starts from the remembered choice then hands that choice back.
TEST_F(PickersTest, OpenDialogStartsFromTheLastFileChosen)
{
    TOpenDialog dialog;
    dialog.Options = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
    wchar_t before[MAX_PATH]{};
    ::GetCurrentDirectoryW(MAX_PATH, before);

    dialog.FileName = scratch.file;
    ASSERT_TRUE(dialog.Execute(form.Handle()));
    EXPECT_EQ(::lstrcmpiW(dialog.FileName.c_str(), scratch.file.c_str()), 0);
    ASSERT_FALSE(session.ShownBoxes().empty());

    wchar_t after[MAX_PATH]{};
    ::GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, before);
}

TEST_F(PickersTest, PathDialogStartsFromTheLastFolderChosen)
{
    TPathDialog dialog;
    dialog.Path = scratch.folder;
    ASSERT_TRUE(dialog.Execute(form.Handle()));
    EXPECT_EQ(::lstrcmpiW(dialog.Path.c_str(), scratch.folder.c_str()), 0)
        << WideToUtf8(dialog.Path) << " picked, " << WideToUtf8(scratch.folder) << " remembered";
}

TEST(SkinManager, SwitchesEveryWindowOfTheFormAndThoseMadeLater)
{
    TApplication app;
    gui::TGuiSession session(app);
    TForm form(app);
    TPanel panel(form);
    TButton button(panel, L"Button");
    TEdit edit(form);
    std::map<HWND, std::wstring> themes;
    TSkinManager skin(form, [&](HWND window, LPCWSTR app, LPCWSTR ids) {
        themes[window] = app ? std::wstring(L"[") + app + L"|" + (ids ? ids : L"?") + L"]" : L"own";
        return S_OK;
    });
    EXPECT_TRUE(skin.Active());

    skin.SetActive(false);
    EXPECT_FALSE(skin.Active());
    for (HWND window : {form.Handle(), panel.Handle(), button.Handle(), edit.Handle()})
        EXPECT_EQ(themes[window], L"[|]");

    TButton later(form, L"Later");
    skin.Apply(later.Handle());
    EXPECT_EQ(themes[later.Handle()], L"[|]");

    skin.SetActive(true);
    for (HWND window : {form.Handle(), panel.Handle(), button.Handle(), edit.Handle(), later.Handle()})
        EXPECT_EQ(themes[window], L"own");
}

} // namespace
