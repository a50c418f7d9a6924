// The remote client started as a user starts it: its start failures and its start modes.
#include "E2ESupport.h"

#include "Strings.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {
const wchar_t kMainCaption[] = L"Dravex Mendrel Remote Client";
}

TEST(RemoteClientStart, MalformedSettingsFileStopsWithTheMessageAndNoWindow)
{
    TSettingsFolderGuard settings;
    // The box says what is wrong with the file, so that a file that cannot be opened at all, or any other
    // failure, does not pass for a malformed one. The parser's own words differ between MSXML's builds (this
    // platform's says only "error"); they are never a system error's text.
    struct Case {
        const char* what;
        std::string content;
        std::wstring text;
    };
    const Case cases[] = {
        {"not well-formed", "<?xml version=\"1.0\"?><Options><Servers></Options>", L""},
        {"a DOCTYPE", "<?xml version=\"1.0\"?><!DOCTYPE Options [<!ENTITY x \"y\">]><Options/>", L"DTD is prohibited"},
        {"an interval that is no number",
         "<Options><Servers><Item1><CheckIntevalMinutes>ten</CheckIntevalMinutes></Item1></Servers></Options>",
         L"Could not convert variant of type (UnicodeString) into type (Integer)"},
    };
    for (const auto& c : cases) {
        settings.Write(c.content);
        Process client = Process::Start(RemoteClientExe());
        TBox box = WaitForBox(client.Id());
        ASSERT_NE(box.Window, nullptr) << c.what;
        EXPECT_EQ(box.Caption, L"Mendrel Remote Client") << c.what;
        EXPECT_FALSE(box.Text.empty()) << c.what;
        EXPECT_NE(box.Text.find(c.text), std::wstring::npos) << c.what << ": " << WideToUtf8(box.Text);
        EXPECT_EQ(box.Text.find(L"Win32 error"), std::wstring::npos) << c.what << ": " << WideToUtf8(box.Text);
        EXPECT_EQ(FindWindowW(nullptr, kMainCaption), nullptr) << c.what << ": the window showed";
        AnswerBox(box.Window);
        DWORD code = client.Wait(10s);
        EXPECT_NE(code, 0u) << c.what;
        EXPECT_NE(code, static_cast<DWORD>(STILL_ACTIVE)) << c.what;
        // The file the user wrote is left as it was.
        EXPECT_EQ(settings.Read(), c.content) << c.what;
    }
}

TEST(RemoteClientStart, HideAsTheLastWordIsAStartFailure)
{
    TSettingsFolderGuard settings;
    Process client = Process::Start(RemoteClientExe(), L"Hide");
    TBox box = WaitForBox(client.Id());
    ASSERT_NE(box.Window, nullptr);
    EXPECT_EQ(box.Text, L"Parameter name \"Hide\" not found in application path");
    AnswerBox(box.Window);
    EXPECT_NE(client.Wait(10s), 0u);
}

TEST(RemoteClientStart, FreshUserStartsWithEmptyListsAndWritesNothing)
{
    TSettingsFolderGuard settings;
    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), kMainCaption);
    ASSERT_NE(main, nullptr);
    // The window exists before it shows: it is shown once its settings are loaded.
    EXPECT_TRUE(WaitUntil([&] { return Visible(main); }, 10s));
    for (int i = 0; i < 3; ++i) {
        HWND list = FindChildOfClass(main, L"SysListView32", i);
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(ListRows(list).empty());
    }
    client.Stop();
    // Nothing is saved at exit, and the folder is made only by the first save.
    EXPECT_FALSE(FileExists(settings.Folder()));
}
