// The message dialog shown modally and driven through its messages: which buttons show and where, its size,
// caption and picture, the result of each way of closing it, the help link, and its translation.
#include "GuiHarness.h"
#include "LayoutCheck.h"

#include "UMessageDialogFM.h"

#include "ClassesHooks.h"
#include "LangTools.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// At 96 pixels per inch: a button is 60 wide with 4 on either side.
constexpr int kButtonPitch = 68;
constexpr int kButtonMargin = 4;
constexpr int kPicturePanel = 2 * 20 + 54;
constexpr int kRightPanel = 38;
constexpr int kMinimumMessage = 160;

BOOL CALLBACK FindShownMessageDialog(HWND window, LPARAM data)
{
    auto* dialog = dynamic_cast<TfmMessageDlg*>(TWindowBase::FromHandle(window));
    if (dialog && ::IsWindowVisible(window)) {
        *reinterpret_cast<TfmMessageDlg**>(data) = dialog;
        return FALSE;
    }
    return TRUE;
}

TfmMessageDlg* ShownMessageDialog()
{
    TfmMessageDlg* found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindShownMessageDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct TShownButton {
    std::wstring Caption;
    RECT Rect;
};

// The visible buttons from left to right.
std::vector<TShownButton> VisibleButtons(TfmMessageDlg& dialog)
{
    std::vector<TShownButton> shown;
    for (TButton* button : dialog.ButtonsOnScreen()) {
        if (gui::HasVisibleStyle(button->Handle()))
            shown.push_back({button->Caption(), gui::RectInParent(button->Handle())});
    }
    std::sort(shown.begin(), shown.end(),
              [](const TShownButton& a, const TShownButton& b) { return a.Rect.left < b.Rect.left; });
    return shown;
}

std::vector<std::wstring> Captions(const std::vector<TShownButton>& buttons)
{
    std::vector<std::wstring> captions;
    for (const auto& b : buttons)
        captions.push_back(b.Caption);
    return captions;
}

class MessageDialogTest : public ::testing::Test {
protected:
    MessageDialogTest()
    {
        app.SetTitle(L"Mendrel Remote Client");
        mainForm.SetCaption(L"Main");
        mainForm.SetClientSize(600, 400);
        mainForm.Show();
    }

    // Shows the dialog and runs look on it once it is up; look closes it (or it is closed with the system
    // close command). Answers the dialog's result.
    int Show(TMsgDlgType kind, TMsgDlgButtons buttons, const std::wstring& message, const std::wstring& caption,
             const std::function<void(TfmMessageDlg&)>& look, const std::wstring& helpLink = {}, HWND owner = nullptr)
    {
        session.WhenWindowAppears(
            [] {
                auto* d = ShownMessageDialog();
                return d ? d->Handle() : nullptr;
            },
            [&](HWND window) {
                auto* dialog = dynamic_cast<TfmMessageDlg*>(TWindowBase::FromHandle(window));
                look(*dialog);
                if (gui::IsShown(window))
                    ::PostMessageW(window, WM_CLOSE, 0, 0);
            });
        int result = ShowMessageDlg(app, owner, kind, buttons, message, caption, helpLink);
        EXPECT_TRUE(session.WatcherFailures().empty());
        return result;
    }

    TApplication app;
    gui::TGuiSession session{app};
    TForm mainForm{app};
};

TEST_F(MessageDialogTest, ButtonSetsShowTheirButtonsInScreenOrderWithoutGapsCentred)
{
    struct Case {
        const char* name;
        TMsgDlgButtons buttons;
        std::vector<std::wstring> captions;
    };
    const Case cases[] = {
        {"yes and no", mbYes | mbNo, {L"Yes", L"No"}},
        {"retry after cancel", mbRetry | mbCancel, {L"Cancel", L"Retry"}},
        {"retry after help", mbRetry | mbHelp | mbOK, {L"OK", L"Help", L"Retry"}},
        {"gaps closed", mbYes | mbAbort | mbYesToAll, {L"Yes", L"Abort", L"Yes to all"}},
        {"all eleven",
         0x7FF,
         {L"Yes", L"No", L"OK", L"Cancel", L"Abort", L"Ignore", L"All", L"No to all", L"Yes to all", L"Help",
          L"Retry"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(TMsgDlgType::Information, c.buttons, L"Question?", L"Buttons", [&](TfmMessageDlg& dialog) {
            std::vector<TShownButton> shown = VisibleButtons(dialog);
            EXPECT_EQ(Captions(shown), c.captions);
            for (size_t i = 0; i < shown.size(); ++i) {
                EXPECT_EQ(shown[i].Rect.left, kButtonMargin + static_cast<int>(i) * kButtonPitch) << i;
                EXPECT_EQ(shown[i].Rect.right - shown[i].Rect.left, 60);
            }
            int w = static_cast<int>(shown.size()) * kButtonPitch;
            RECT buttons = gui::RectInParent(dialog.PanelButtons.Handle());
            EXPECT_EQ(buttons.right - buttons.left, w);
            SIZE bottom = gui::ClientSize(dialog.PanelBottom.Handle());
            EXPECT_EQ(buttons.left, std::max(0, (static_cast<int>(bottom.cx) - w) / 2));
            SIZE client = gui::ClientSize(dialog.Handle());
            EXPECT_EQ(client.cx, std::max(w, kPicturePanel + kRightPanel + kMinimumMessage));
            EXPECT_EQ(dialog.FullButtonsWidth(), 11 * kButtonPitch);
        });
    }
}

TEST_F(MessageDialogTest, EachButtonAndTheSystemCloseAnswerTheirResult)
{
    struct Case {
        const char* name;
        TMsgDlgButtons buttons;
        const wchar_t* press; // caption of the button to click, or null for the system close
        int result;
    };
    const Case cases[] = {
        {"OK", mbOK | mbCancel, L"OK", 1},
        {"Cancel", mbOK | mbCancel, L"Cancel", 2},
        {"Abort", mbAbort | mbRetry | mbIgnore, L"Abort", 3},
        {"Retry", mbAbort | mbRetry | mbIgnore, L"Retry", 4},
        {"Ignore", mbAbort | mbRetry | mbIgnore, L"Ignore", 5},
        {"Yes", mbYes | mbNo, L"Yes", 6},
        {"No", mbYes | mbNo, L"No", 7},
        {"All", mbAll, L"All", 8},
        {"No to all", mbNoToAll, L"No to all", 9},
        {"Yes to all", mbYesToAll, L"Yes to all", 10},
        {"system close with Yes and No", mbYes | mbNo, nullptr, 2},
        {"system close with OK only", mbOK, nullptr, 2},
        {"empty set: Close", 0, L"Close", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int result = Show(TMsgDlgType::Confirmation, c.buttons, L"Sure?", L"Results", [&](TfmMessageDlg& dialog) {
            if (!c.press) {
                ::PostMessageW(dialog.Handle(), WM_CLOSE, 0, 0);
                return;
            }
            std::vector<TShownButton> shown = VisibleButtons(dialog);
            auto it =
                std::find_if(shown.begin(), shown.end(), [&](const TShownButton& b) { return b.Caption == c.press; });
            ASSERT_NE(it, shown.end());
            for (TButton* button : dialog.ButtonsOnScreen()) {
                if (button->Caption() == c.press && gui::HasVisibleStyle(button->Handle()))
                    session.Click(button->Handle());
            }
        });
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(MessageDialogTest, AnEmptySetShowsOnlyOkCaptionedClose)
{
    std::vector<std::wstring> captions;
    Show(TMsgDlgType::Information, 0, L"Done", L"Empty",
         [&](TfmMessageDlg& dialog) { captions = Captions(VisibleButtons(dialog)); });
    EXPECT_EQ(captions, std::vector<std::wstring>{L"Close"});
}

TEST_F(MessageDialogTest, CaptionIsTheGivenOneOrTheApplicationTitle)
{
    const std::pair<std::wstring, std::wstring> cases[] = {{L"Details", L"Details"}, {L"", L"Mendrel Remote Client"}};
    for (const auto& [given, shown] : cases) {
        std::wstring caption;
        Show(TMsgDlgType::Custom, mbOK, L"Text", given,
             [&](TfmMessageDlg& dialog) { caption = gui::Text(dialog.Handle()); });
        EXPECT_EQ(caption, shown);
    }
}

TEST_F(MessageDialogTest, KindsShowTheirPictureAtTheTopOrNone)
{
    struct Case {
        const char* name;
        TMsgDlgType kind;
        TImage* (*picture)(TfmMessageDlg&);
    };
    const Case cases[] = {
        {"warning", TMsgDlgType::Warning, [](TfmMessageDlg& d) { return &d.ImageExclamation; }},
        {"error", TMsgDlgType::Error, [](TfmMessageDlg& d) { return &d.ImageExclamation; }},
        {"information", TMsgDlgType::Information, [](TfmMessageDlg& d) { return &d.ImageInfo; }},
        {"confirmation", TMsgDlgType::Confirmation, [](TfmMessageDlg& d) { return &d.ImageQuestion; }},
        {"custom", TMsgDlgType::Custom, [](TfmMessageDlg&) -> TImage* { return nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(c.kind, mbOK, L"Look at the picture", L"Kinds", [&](TfmMessageDlg& dialog) {
            TImage* expected = c.picture(dialog);
            for (TImage* image : {&dialog.ImageInfo, &dialog.ImageExclamation, &dialog.ImageQuestion})
                EXPECT_EQ(gui::HasVisibleStyle(image->Handle()), image == expected);
            int panelWidth = gui::ClientSize(dialog.PanelImages.Handle()).cx;
            if (expected) {
                EXPECT_NE(expected->Icon(), nullptr);
                RECT rect = gui::RectInParent(expected->Handle());
                EXPECT_EQ(rect.top, gui::RectInParent(dialog.ImageInfo.Handle()).top);
                EXPECT_EQ(rect.top, 13);
                EXPECT_EQ(panelWidth, kPicturePanel);
            } else {
                EXPECT_EQ(panelWidth, gui::ClientSize(dialog.PanelRight.Handle()).cx);
            }
        });
    }
}

TEST_F(MessageDialogTest, HeightMakesRoomForEveryLineOfTheMessage)
{
    int lineHeight = 0;
    auto measure = [&](const std::wstring& message) {
        int height = 0;
        Show(TMsgDlgType::Custom, mbOK, message, L"Lines", [&](TfmMessageDlg& dialog) {
            height = gui::ClientSize(dialog.Handle()).cy;
            EXPECT_EQ(gui::Text(dialog.LabelCaption.Handle()), message);
            // The label shows the whole wrapped text.
            HDC dc = ::GetDC(dialog.LabelCaption.Handle());
            HGDIOBJ old = ::SelectObject(dc, dialog.LabelCaption.Font());
            TEXTMETRICW metrics{};
            ::GetTextMetricsW(dc, &metrics);
            lineHeight = metrics.tmHeight;
            SIZE label = gui::ClientSize(dialog.LabelCaption.Handle());
            RECT need{0, 0, label.cx, 0};
            ::DrawTextW(dc, message.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
            ::SelectObject(dc, old);
            ::ReleaseDC(dialog.LabelCaption.Handle(), dc);
            EXPECT_GE(label.cy, need.bottom);
        });
        return height;
    };
    // Below the text: the buttons' panel; above it: the picture's height and its top margin twice.
    const int fixedPart = 34 + 50 + 2 * 13;
    int one = measure(L"Failed to connect");
    EXPECT_EQ(one - fixedPart, lineHeight);
    int three = measure(L"127.0.0.1\r\nA connection with the server could not be established\r\nFailed to connect");
    EXPECT_GE(three - fixedPart, 3 * lineHeight);
    int wrapped = measure(std::wstring(20, L'x') + L" " + std::wstring(20, L'y') + L" " + std::wstring(20, L'z'));
    EXPECT_EQ(wrapped - fixedPart, 3 * lineHeight);
}

TEST_F(MessageDialogTest, AMessageTallerThanTheScreenKeepsTheButtonsOnIt)
{
    std::wstring message;
    for (int i = 0; i < 500; ++i)
        message += L"Line " + std::to_wstring(i) + L"\r\n";
    Show(TMsgDlgType::Custom, mbOK, message, L"Tall", [&](TfmMessageDlg& dialog) {
        RECT window{}, work{};
        ::GetWindowRect(dialog.Handle(), &window);
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_GE(window.top, work.top);
        EXPECT_LE(window.bottom, work.bottom);
        EXPECT_TRUE(gui::IsShown(dialog.sbOk.Handle()));
    });
}

TEST_F(MessageDialogTest, AmpersandsInTheMessageAreShown)
{
    Show(TMsgDlgType::Custom, mbOK, L"GET /Report?a=1&b=2", L"Data",
         [&](TfmMessageDlg& dialog) { EXPECT_TRUE(gui::HasStyle(dialog.LabelCaption.Handle(), SS_NOPREFIX)); });
}

TEST_F(MessageDialogTest, OwnedByTheGivenWindowOrTheMainFormWhichIsDisabledMeanwhile)
{
    TForm other(app);
    other.SetCaption(L"Other");
    other.SetClientSize(300, 200);
    other.Show();
    struct Case {
        const char* name;
        HWND given;
        HWND owner;
    };
    const Case cases[] = {
        {"no owner: the main form", nullptr, mainForm.Handle()},
        {"a form", other.Handle(), other.Handle()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND owner = nullptr;
        bool ownerEnabled = true;
        Show(
            TMsgDlgType::Custom, mbOK, L"Owned", L"Owner",
            [&](TfmMessageDlg& dialog) {
                owner = ::GetWindow(dialog.Handle(), GW_OWNER);
                ownerEnabled = ::IsWindowEnabled(c.owner) != FALSE;
                EXPECT_TRUE(gui::HasExStyle(dialog.Handle(), WS_EX_TOPMOST));
            },
            {}, c.given);
        EXPECT_EQ(owner, c.owner);
        EXPECT_FALSE(ownerEnabled);
        EXPECT_TRUE(::IsWindowEnabled(c.owner));
    }
}

TEST(MessageDialogWithoutMainForm, IsOwnedByNobodyAndDoesNotBecomeTheMainForm)
{
    TApplication app;
    gui::TGuiSession session(app);
    HWND owner = reinterpret_cast<HWND>(1);
    session.WhenWindowAppears(
        [] {
            auto* d = ShownMessageDialog();
            return d ? d->Handle() : nullptr;
        },
        [&](HWND window) {
            owner = ::GetWindow(window, GW_OWNER);
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
    EXPECT_EQ(ShowMessageDlg(app, nullptr, TMsgDlgType::Custom, mbOK, L"Alone", L"Alone", L""), mrCancel);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(app.MainForm(), nullptr);
}

TEST_F(MessageDialogTest, HelpLinkHangsOnTheHelpButtonWhichAsksTheViewerAndStaysOpen)
{
    std::vector<std::wstring> asked;
    bool stillOpen = false;
    std::wstring attribute;
    std::vector<std::wstring> captions;
    int result = Show(
        TMsgDlgType::Information, mbOK, L"Need help?", L"Help",
        [&](TfmMessageDlg& dialog) {
            captions = Captions(VisibleButtons(dialog));
            auto* attr = dynamic_cast<TStringAttr*>(dialog.sbHelp.FindComponent("AttrHelpLink"));
            ASSERT_NE(attr, nullptr);
            attribute = AnsiToWide(attr->Value);
            dialog.OnShowHelp = [&](const std::wstring& link) { asked.push_back(link); };
            session.Click(dialog.sbHelp.Handle());
            stillOpen = gui::IsShown(dialog.Handle()) && dialog.ModalResult() == mrNone;
            session.Click(dialog.sbOk.Handle());
        },
        L"checks/details.htm");
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(captions, (std::vector<std::wstring>{L"OK", L"Help"}));
    EXPECT_EQ(attribute, L"checks/details.htm");
    EXPECT_EQ(asked, std::vector<std::wstring>{L"checks/details.htm"});
    EXPECT_TRUE(stillOpen);
}

TEST_F(MessageDialogTest, WithoutAHelpLinkTheHelpButtonStaysHidden)
{
    bool helpShown = true;
    Show(TMsgDlgType::Information, mbOK, L"No help", L"Help", [&](TfmMessageDlg& dialog) {
        helpShown = gui::HasVisibleStyle(dialog.sbHelp.Handle());
        EXPECT_EQ(dialog.sbHelp.FindComponent("AttrHelpLink"), nullptr);
    });
    EXPECT_FALSE(helpShown);
}

// Records what the dialog asks of the locale data and answers its own texts.
class TRecordingLocale : public TCustomLocaleData {
public:
    std::vector<std::string>* translated;
    std::string GetText(const std::string& id, const std::string& def) override
    {
        return id == "UMessageDialogFM_Close" ? "Shut" : def;
    }
    std::wstring GetWideText(const std::string&, const std::wstring& def) override { return def; }
    void TranslateComponent(const std::string& name, TComponent*) override { translated->push_back(name); }
};

TEST_F(MessageDialogTest, TranslatedAtConstructionAndCloseTakesTheLocaleText)
{
    std::vector<std::string> translated;
    auto locale = std::make_unique<TRecordingLocale>();
    locale->translated = &translated;
    LocaleManager().SetCurrent(std::move(locale));
    std::vector<std::wstring> captions;
    Show(TMsgDlgType::Information, 0, L"Translated", L"Locale",
         [&](TfmMessageDlg& dialog) { captions = Captions(VisibleButtons(dialog)); });
    LocaleManager().SetCurrent(std::make_unique<TNeutralLocaleData>());
    EXPECT_EQ(translated, std::vector<std::string>{"TfmMessageDlg"});
    EXPECT_EQ(captions, std::vector<std::wstring>{L"Shut"});
}

// A warning with three buttons, and the details box: every text with room, the buttons inside the dialog (the
// pictures go to the artifacts).
TEST_F(MessageDialogTest, TextsAndButtonsAreShownWithinTheDialog)
{
    const wchar_t text[] = L"127.0.0.1\r\nA connection with the server could not be established\r\nFailed to connect";
    Show(TMsgDlgType::Warning, mbYes | mbNo | mbCancel, text, L"Details", [&](TfmMessageDlg& dialog) {
        session.PumpFor(100);
        EXPECT_EQ(VisibleButtons(dialog).size(), 3u);
        EXPECT_EQ(gui::LayoutFaultsText(dialog.Handle()), "") << "warning:";
        gui::SaveScreenshot(dialog.Handle(), L"message-dialog");
    });
    Show(TMsgDlgType::Custom, mbOK, text, L"Details", [&](TfmMessageDlg& dialog) {
        session.PumpFor(100);
        EXPECT_EQ(VisibleButtons(dialog).size(), 1u);
        EXPECT_EQ(gui::LayoutFaultsText(dialog.Handle()), "") << "details:";
        gui::SaveScreenshot(dialog.Handle(), L"message-dialog-details");
    });
}

} // namespace
