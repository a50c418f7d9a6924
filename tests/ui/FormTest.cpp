// Forms: geometry at 96 DPI and after a DPI change, layout of aligned and anchored children, the keyboard,
// modal showing, the application's loop and the error handling at the window procedure's edge.
#include "GuiHarness.h"

#include "Application.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>

namespace {

class FormTest : public ::testing::Test {
protected:
    TApplication app;
    gui::TGuiSession session{app};
};

RECT Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }

void ExpectRect(HWND window, RECT expected)
{
    RECT actual = gui::RectInParent(window);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
}

int FontHeight(HWND window)
{
    auto font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW info{};
    ::GetObjectW(font, sizeof info, &info);
    return info.lfHeight;
}

TEST_F(FormTest, CaptionClientSizeAndPosition)
{
    TForm form(app);
    form.SetCaption(L"Geometry");
    form.SetClientSize(670, 288);
    form.SetPosition(TPosition::Designed, 0, 0);
    form.Show();

    ASSERT_EQ(form.Dpi(), 96);
    EXPECT_EQ(gui::Text(form.Handle()), L"Geometry");
    SIZE client = gui::ClientSize(form.Handle());
    EXPECT_EQ(client.cx, 670);
    EXPECT_EQ(client.cy, 288);
    RECT window{};
    ::GetWindowRect(form.Handle(), &window);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(window.left, work.left);
    EXPECT_EQ(window.top, work.top);

    form.SetPosition(TPosition::ScreenCenter);
    ::GetWindowRect(form.Handle(), &window);
    EXPECT_LE(std::abs((window.left + window.right) / 2 - (work.left + work.right) / 2), 1);
    EXPECT_LE(std::abs((window.top + window.bottom) / 2 - (work.top + work.bottom) / 2), 1);
}

TEST_F(FormTest, BorderStylesAndTaskbarButton)
{
    TForm form(app);
    EXPECT_TRUE(gui::HasStyle(form.Handle(), WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU));
    EXPECT_FALSE(gui::HasExStyle(form.Handle(), WS_EX_APPWINDOW));

    form.SetBorderStyle(TBorderStyle::Single);
    form.SetBorderIcons(biSystemMenu);
    form.SetAppWindow(true);
    EXPECT_FALSE(gui::HasStyle(form.Handle(), WS_THICKFRAME));
    EXPECT_FALSE(gui::HasStyle(form.Handle(), WS_MINIMIZEBOX));
    EXPECT_FALSE(gui::HasStyle(form.Handle(), WS_MAXIMIZEBOX));
    EXPECT_TRUE(gui::HasStyle(form.Handle(), WS_SYSMENU));
    EXPECT_TRUE(gui::HasExStyle(form.Handle(), WS_EX_APPWINDOW));

    form.SetStayOnTop(true);
    EXPECT_TRUE(gui::HasExStyle(form.Handle(), WS_EX_TOPMOST));
    form.SetBorderStyle(TBorderStyle::Dialog);
    EXPECT_TRUE(gui::HasExStyle(form.Handle(), WS_EX_TOPMOST | WS_EX_DLGMODALFRAME));
    form.SetStayOnTop(false);
    EXPECT_FALSE(gui::HasExStyle(form.Handle(), WS_EX_TOPMOST));
}

TEST_F(FormTest, ClientSizeSurvivesAStyleChange)
{
    TForm form(app);
    form.SetClientSize(563, 416);
    form.SetBorderStyle(TBorderStyle::Single);
    SIZE client = gui::ClientSize(form.Handle());
    EXPECT_EQ(client.cx, 563);
    EXPECT_EQ(client.cy, 416);
}

TEST_F(FormTest, AlignedChildrenShareTheClientAreaInOrder)
{
    TForm form(app);
    form.SetClientSize(400, 300);
    TPanel top(form), bottom(form), left(form), rest(form);
    top.SetBounds(0, 0, 0, 30);
    top.SetAlign(TAlign::Top);
    bottom.SetBounds(0, 0, 0, 52);
    bottom.SetAlign(TAlign::Bottom);
    left.SetBounds(0, 0, 120, 0);
    left.SetAlign(TAlign::Left);
    rest.SetAlign(TAlign::Client);

    ExpectRect(top.Handle(), Rect(0, 0, 400, 30));
    ExpectRect(bottom.Handle(), Rect(0, 248, 400, 300));
    ExpectRect(left.Handle(), Rect(0, 30, 120, 248));
    ExpectRect(rest.Handle(), Rect(120, 30, 400, 248));

    // A hidden aligned child takes no room.
    top.Hide();
    ExpectRect(rest.Handle(), Rect(120, 0, 400, 248));
}

TEST_F(FormTest, AnchorsKeepTheirDistancesWhenTheFormGrows)
{
    TForm form(app);
    form.SetClientSize(400, 300);
    TButton right(form, L"Right");
    right.SetBounds(310, 260, 80, 25);
    right.SetAnchors(akRight | akBottom);
    TListView stretched(form);
    stretched.SetBounds(10, 10, 380, 240);
    stretched.SetAnchors(akLeft | akTop | akRight | akBottom);
    TButton fixed(form, L"Fixed");
    fixed.SetBounds(10, 260, 80, 25);

    form.SetClientSize(500, 350);

    ExpectRect(right.Handle(), Rect(410, 310, 490, 335));
    ExpectRect(stretched.Handle(), Rect(10, 10, 490, 300));
    ExpectRect(fixed.Handle(), Rect(10, 260, 90, 285));
}

TEST_F(FormTest, DpiChangeTakesTheSuggestedRectangleAndScalesLayoutAndFonts)
{
    TForm form(app);
    form.SetClientSize(300, 200);
    TButton button(form, L"Scaled");
    button.SetBounds(10, 20, 100, 30);
    TButton anchored(form, L"Anchored");
    anchored.SetBounds(210, 160, 80, 30);
    anchored.SetAnchors(akRight | akBottom);
    TLabel label(form, L"Big");
    label.SetBounds(10, 60, 100, 20);
    label.SetFontHeight(15);
    ASSERT_EQ(FontHeight(button.Handle()), -11);
    ASSERT_EQ(FontHeight(label.Handle()), -15);

    RECT suggested{50, 60, 50 + 480, 60 + 360};
    ::SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));

    EXPECT_EQ(form.Dpi(), 144);
    RECT window{};
    ::GetWindowRect(form.Handle(), &window);
    EXPECT_EQ(window.left, 50);
    EXPECT_EQ(window.top, 60);
    EXPECT_EQ(window.right - window.left, 480);
    ExpectRect(button.Handle(), Rect(15, 30, 165, 75));
    SIZE client = gui::ClientSize(form.Handle());
    // The anchored button keeps 10 design units (15 pixels) to the right and bottom edges.
    ExpectRect(anchored.Handle(), Rect(client.cx - 15 - 120, client.cy - 15 - 45, client.cx - 15, client.cy - 15));
    EXPECT_EQ(FontHeight(button.Handle()), -17);
    EXPECT_EQ(FontHeight(label.Handle()), -23);
}

class TKeyboardForm : public TForm {
public:
    explicit TKeyboardForm(TApplication& app) : TForm(app)
    {
        SetClientSize(300, 200);
        editFirst.SetBounds(8, 8, 100, 21);
        cbOption.SetBounds(8, 36, 100, 20);
        bbOther.SetBounds(8, 64, 75, 25);
        bbOk.SetBounds(100, 160, 75, 25);
        bbCancel.SetBounds(200, 160, 75, 25);
        LabelLink.SetBounds(120, 8, 60, 16);
        bbOk.SetDefault(true);
        bbCancel.SetCancel(true);
        bbOk.OnClick = [this] { pressed += L"ok "; };
        bbCancel.OnClick = [this] { pressed += L"cancel "; };
        bbOther.OnClick = [this] { pressed += L"other "; };
        LabelLink.OnClick = [this] { pressed += L"link "; };
    }

    TEdit editFirst{*this};
    TCheckBox cbOption{*this, L"&Option"};
    TButton bbOther{*this, L"Ot&her"};
    TButton bbOk{*this, L"OK"};
    TButton bbCancel{*this, L"Cancel"};
    TLinkLabel LabelLink{*this, L"&Link"};
    std::wstring pressed;
};

TEST_F(FormTest, TabMovesTheFocusInCreationOrderAndBack)
{
    TKeyboardForm form(app);
    form.Show();
    form.editFirst.SetFocus();

    const HWND order[] = {form.cbOption.Handle(), form.bbOther.Handle(), form.bbOk.Handle(), form.bbCancel.Handle(),
                          form.editFirst.Handle()};
    for (HWND expected : order) {
        session.PressKey(VK_TAB);
        EXPECT_EQ(::GetFocus(), expected);
    }
    session.PressKey(VK_TAB, gui::kShift);
    EXPECT_EQ(::GetFocus(), form.bbCancel.Handle());
}

TEST_F(FormTest, EnterEscapeAndAccessKeys)
{
    struct Case {
        const char* name;
        HWND (*focus)(TKeyboardForm&);
        WORD key;
        unsigned modifiers;
        const wchar_t* pressed;
    };
    const Case cases[] = {
        {"Enter in an edit clicks the default button", [](TKeyboardForm& f) { return f.editFirst.Handle(); }, VK_RETURN,
         0, L"ok "},
        {"Enter on a button clicks that button", [](TKeyboardForm& f) { return f.bbOther.Handle(); }, VK_RETURN, 0,
         L"other "},
        {"Esc clicks the cancel button", [](TKeyboardForm& f) { return f.editFirst.Handle(); }, VK_ESCAPE, 0,
         L"cancel "},
        {"Alt and a button's letter clicks it", [](TKeyboardForm& f) { return f.editFirst.Handle(); }, 'H', gui::kAlt,
         L"other "},
        {"Alt and a link's letter clicks it", [](TKeyboardForm& f) { return f.editFirst.Handle(); }, 'L', gui::kAlt,
         L"link "},
        {"A plain letter on a button works as its access key", [](TKeyboardForm& f) { return f.bbOk.Handle(); }, 'H', 0,
         L"other "},
        {"A plain letter in an edit is typing", [](TKeyboardForm& f) { return f.editFirst.Handle(); }, 'H', 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TKeyboardForm form(app);
        form.Show();
        ::SetFocus(c.focus(form));
        session.PressKey(c.key, c.modifiers);
        EXPECT_EQ(form.pressed, c.pressed);
    }
}

TEST_F(FormTest, AccessKeyTogglesACheckBoxAndSkipsDisabledControls)
{
    TKeyboardForm form(app);
    form.Show();
    form.editFirst.SetFocus();
    session.PressKey('O', gui::kAlt);
    EXPECT_TRUE(form.cbOption.Checked());

    form.bbOther.SetEnabled(false);
    session.PressKey('H', gui::kAlt);
    EXPECT_EQ(form.pressed, L"");
}

TEST_F(FormTest, DisabledDefaultButtonIgnoresEnter)
{
    TKeyboardForm form(app);
    form.Show();
    form.bbOk.SetEnabled(false);
    form.editFirst.SetFocus();
    session.PressKey(VK_RETURN);
    EXPECT_EQ(form.pressed, L"");
}

class TDialog : public TForm {
public:
    TDialog(TApplication& app, TForm& owner) : TForm(app, &owner)
    {
        SetCaption(L"Modal dialog");
        SetClientSize(200, 80);
        SetPosition(TPosition::OwnerCenter);
        SetBorderStyle(TBorderStyle::Dialog);
        bbOk.SetBounds(20, 40, 75, 25);
        bbCancel.SetBounds(105, 40, 75, 25);
        bbOk.SetModalResult(mrOk);
        bbOk.SetDefault(true);
        bbCancel.SetModalResult(mrCancel);
        bbCancel.SetCancel(true);
    }
    TEdit editValue{*this};
    TButton bbOk{*this, L"OK"};
    TButton bbCancel{*this, L"Cancel"};
};

TEST_F(FormTest, ShowModalDisablesTheOwnerAndAnswersTheClosingButton)
{
    TForm owner(app);
    owner.SetClientSize(400, 300);
    owner.Show();
    auto findDialog = [] {
        HWND window = gui::FindTopLevel(nullptr, L"Modal dialog", ::GetCurrentProcessId());
        return window && gui::IsShown(window) ? window : nullptr;
    };
    const std::pair<const char*, std::function<void(TDialog&)>> closers[] = {
        {"OK button", [&](TDialog& d) { session.MouseClick(d.bbOk.Handle()); }},
        {"Enter",
         [&](TDialog& d) {
             d.editValue.SetFocus();
             session.PressKey(VK_RETURN);
         }},
        {"Esc",
         [&](TDialog& d) {
             d.editValue.SetFocus();
             session.PressKey(VK_ESCAPE);
         }},
        {"close button", [&](TDialog& d) { ::PostMessageW(d.Handle(), WM_CLOSE, 0, 0); }},
    };
    const int expected[] = {mrOk, mrOk, mrCancel, mrCancel};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(closers[i].first);
        TDialog dialog(app, owner);
        bool ownerDisabled = false;
        session.WhenWindowAppears(findDialog, [&](HWND) {
            ownerDisabled = !::IsWindowEnabled(owner.Handle());
            closers[i].second(dialog);
        });
        EXPECT_EQ(dialog.ShowModal(), expected[i]);
        EXPECT_TRUE(ownerDisabled);
        EXPECT_TRUE(::IsWindowEnabled(owner.Handle()));
        EXPECT_FALSE(gui::IsShown(dialog.Handle()));
        EXPECT_TRUE(session.WatcherFailures().empty());
    }
}

TEST_F(FormTest, ClosingTheMainFormEndsRun)
{
    TForm form(app);
    ASSERT_EQ(app.MainForm(), &form);
    bool shownAtClose = false;
    form.OnClose = [&](TCloseAction&) { shownAtClose = gui::IsShown(form.Handle()); };
    ::PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    app.Run();
    EXPECT_TRUE(app.Terminated());
    EXPECT_TRUE(shownAtClose);
    EXPECT_FALSE(gui::IsShown(form.Handle()));
}

TEST_F(FormTest, RunKeepsTheMainFormHiddenWhenAsked)
{
    TForm form(app);
    app.SetShowMainForm(false);
    bool shownAtClose = true;
    form.OnClose = [&](TCloseAction&) { shownAtClose = gui::IsShown(form.Handle()); };
    ::PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    app.Run();
    EXPECT_FALSE(shownAtClose);
}

TEST_F(FormTest, CloseActionNoneKeepsTheFormOpen)
{
    TForm form(app);
    form.Show();
    form.OnClose = [](TCloseAction& action) { action = TCloseAction::None; };
    form.Close();
    EXPECT_TRUE(gui::IsShown(form.Handle()));
    EXPECT_FALSE(app.Terminated());
}

TEST_F(FormTest, ErrorsInHandlersReachTheApplicationAndTheFormGoesOn)
{
    app.SetTitle(L"Toolkit test");
    TKeyboardForm form(app);
    form.Show();
    int calls = 0;
    form.bbOther.OnClick = [&] {
        if (++calls == 1)
            throw Exception("Parameter name \"Hide\" not found in application path");
        throw std::runtime_error("Plain library error");
    };

    session.MouseClick(form.bbOther.Handle());
    session.MouseClick(form.bbOther.Handle());
    ASSERT_EQ(session.ShownBoxes().size(), 2u);
    EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Toolkit test");
    EXPECT_EQ(session.ShownBoxes()[0].Text, L"Parameter name \"Hide\" not found in application path");
    EXPECT_EQ(session.ShownBoxes()[1].Text, L"Plain library error");

    std::wstring handled;
    app.SetExceptionHandler(
        [&](TApplication&, const std::exception_ptr& error) { handled = TApplication::ExceptionMessage(error); });
    session.MouseClick(form.bbOther.Handle());
    EXPECT_EQ(handled, L"Plain library error");
    EXPECT_EQ(session.ShownBoxes().size(), 2u);
}

} // namespace
