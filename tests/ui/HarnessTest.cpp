// The harness on one tiny window: input reaches the controls as a user's would, texts and states read back,
// boxes never block, and screenshots land in the artifacts folder.
#include "GuiHarness.h"

#include "Application.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class TTinyForm : public TForm {
public:
    explicit TTinyForm(TApplication& app) : TForm(app)
    {
        SetCaption(L"Tiny window");
        SetClientSize(240, 90);
        SetPosition(TPosition::ScreenCenter);
        editName.SetBounds(8, 8, 150, 21);
        bbGo.SetBounds(8, 40, 75, 25);
        bbGo.OnClick = [this] { ++clicks; };
        LabelResult.SetBounds(100, 44, 130, 16);
    }

    TEdit editName{*this};
    TButton bbGo{*this, L"&Go"};
    TLabel LabelResult{*this, L"Nothing yet"};
    int clicks = 0;
};

class HarnessTest : public ::testing::Test {
protected:
    TApplication app;
    gui::TGuiSession session{app};
};

TEST_F(HarnessTest, ClicksReachTheButtonByMessageAndByMouse)
{
    TTinyForm form(app);
    form.Show();
    session.ProcessPending();

    session.Click(form.bbGo.Handle());
    EXPECT_EQ(form.clicks, 1);
    session.MouseClick(form.bbGo.Handle());
    EXPECT_EQ(form.clicks, 2);
}

TEST_F(HarnessTest, TypedTextAndKeysGoToTheFocusedControl)
{
    TTinyForm form(app);
    form.Show();
    form.editName.SetFocus();
    session.TypeText(L"abc");
    session.PressKey('D', gui::kShift);
    EXPECT_EQ(gui::Text(form.editName.Handle()), L"abcD");

    session.PressKey(VK_TAB);
    EXPECT_EQ(::GetFocus(), form.bbGo.Handle());
    session.PressKey(VK_RETURN);
    EXPECT_EQ(form.clicks, 1);
}

TEST_F(HarnessTest, ReadsTextsAndStatesBack)
{
    TTinyForm form(app);
    form.Show();
    form.bbGo.SetEnabled(false);
    form.LabelResult.Hide();

    HWND found = gui::FindTopLevel(nullptr, L"Tiny window", ::GetCurrentProcessId());
    EXPECT_EQ(found, form.Handle());
    EXPECT_EQ(gui::FindDescendant(form.Handle(), L"Button", L"&Go"), form.bbGo.Handle());
    EXPECT_FALSE(gui::IsEnabled(form.bbGo.Handle()));
    EXPECT_TRUE(gui::IsShown(form.editName.Handle()));
    EXPECT_FALSE(gui::HasVisibleStyle(form.LabelResult.Handle()));
    EXPECT_EQ(gui::Text(form.LabelResult.Handle()), L"Nothing yet");
}

TEST_F(HarnessTest, MessageBoxesAreRecordedAndNeverBlock)
{
    TTinyForm form(app);
    form.Show();
    // One through the application, one straight from the system: neither waits for a user.
    app.ShowMessageBox(L"Through the application", L"Caption one", MB_OK);
    ::MessageBoxW(form.Handle(), L"Straight from the system", L"Caption two", MB_OK | MB_ICONERROR);

    ASSERT_EQ(session.ShownBoxes().size(), 2u);
    EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Caption one");
    EXPECT_EQ(session.ShownBoxes()[0].Text, L"Through the application");
    EXPECT_EQ(session.ShownBoxes()[1].Caption, L"Caption two");
    EXPECT_EQ(session.ShownBoxes()[1].Text, L"Straight from the system");
}

TEST_F(HarnessTest, WatcherActsInsideAModalLoop)
{
    TTinyForm owner(app);
    owner.Show();
    TTinyForm dialog(app);
    dialog.SetCaption(L"Tiny dialog");
    dialog.bbGo.SetModalResult(mrOk);

    session.WhenWindowAppears(
        [&] {
            HWND window = gui::FindTopLevel(nullptr, L"Tiny dialog", ::GetCurrentProcessId());
            return window && gui::IsShown(window) ? window : nullptr;
        },
        [&](HWND) { session.MouseClick(dialog.bbGo.Handle()); });
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_TRUE(session.WatchersDone());
    EXPECT_TRUE(session.WatcherFailures().empty());
}

TEST_F(HarnessTest, ScreenshotIsAPngFileInTheArtifactsFolder)
{
    TTinyForm form(app);
    form.Show();
    form.BringToFront();
    session.PumpFor(200);

    std::wstring path = gui::SaveScreenshot(form.Handle(), L"harness-tiny-window");
    EXPECT_EQ(path.rfind(gui::ArtifactsFolder(), 0), 0u);
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    ASSERT_TRUE(file.good());
    char signature[8]{};
    file.read(signature, 8);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
}

// The pictures show what a person sees on Windows only with the system's own fonts: Marlett draws the caption
// buttons (without it they read "0 1 r"), Tahoma is the dialog font. A missing face is substituted silently, so
// the face that a font of that name really gets is compared.
TEST(TestPrefix, HasTheFontsOfTheCaptionButtonsAndTheDialogs)
{
    HDC dc = ::GetDC(nullptr);
    for (const wchar_t* face : {L"Marlett", L"Tahoma"}) {
        LOGFONTW wanted{};
        wanted.lfHeight = -12;
        wanted.lfCharSet = DEFAULT_CHARSET;
        ::lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
        HFONT font = ::CreateFontIndirectW(&wanted);
        HGDIOBJ old = ::SelectObject(dc, font);
        wchar_t got[LF_FACESIZE] = {};
        ::GetTextFaceW(dc, LF_FACESIZE, got);
        ::SelectObject(dc, old);
        ::DeleteObject(font);
        EXPECT_STREQ(got, face) << "the prefix lacks the font";
    }
    ::ReleaseDC(nullptr, dc);
}

} // namespace
