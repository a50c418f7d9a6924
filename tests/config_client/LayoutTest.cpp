// Every frame and the credentials dialog laid out tidily with the fonts of this system: no text clipped by
// its control, no control over another, everything inside its group box.
#include "MainWindowSupport.h"

#include "UEnterCredentialsFM.h"

#include "Strings.h"

#include <string>
#include <vector>

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t name[32]{};
    ::GetClassNameW(window, name, 32);
    return name;
}

// The room a static or button caption needs, in the control's font, within the control's width.
SIZE TextNeeds(HWND control, bool wraps, int width)
{
    std::wstring text = gui::Text(control);
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT rect{0, 0, wraps ? width : 0, 0};
    ::DrawTextW(dc, text.c_str(), -1, &rect, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return {rect.right, rect.bottom};
}

RECT RectIn(HWND window, HWND reference)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Checks the controls directly inside a container (a group box, or a form's panel).
void ExpectTidy(HWND container, const std::string& what)
{
    std::vector<HWND> controls;
    for (HWND child = ::GetWindow(container, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (gui::HasVisibleStyle(child))
            controls.push_back(child);
    }
    ASSERT_FALSE(controls.empty()) << what;
    RECT inside{};
    ::GetClientRect(container, &inside);
    for (HWND control : controls) {
        std::string name = what + ": " + WideToAnsi(gui::Text(control));
        RECT rect = RectIn(control, container);
        EXPECT_GE(rect.left, inside.left) << name;
        EXPECT_GE(rect.top, inside.top) << name;
        EXPECT_LE(rect.right, inside.right) << name;
        EXPECT_LE(rect.bottom, inside.bottom) << name;
        std::wstring kind = ClassOf(control);
        if (kind == L"Static") {
            bool wraps = (::GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK) == SS_LEFT;
            SIZE need = TextNeeds(control, wraps, rect.right - rect.left);
            EXPECT_LE(need.cx, rect.right - rect.left) << name;
            EXPECT_LE(need.cy, rect.bottom - rect.top) << name;
        } else if (kind == L"Button" && (::GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
            // The box and its gap take about 20 pixels before the text.
            EXPECT_LE(TextNeeds(control, false, 0).cx + 18, rect.right - rect.left) << name;
        }
        for (HWND other : controls) {
            if (other == control)
                continue;
            RECT overlap{};
            RECT second = RectIn(other, container);
            EXPECT_FALSE(::IntersectRect(&overlap, &rect, &second))
                << name << " overlaps " << WideToAnsi(gui::Text(other));
        }
    }
}

HWND GroupBoxOf(TWinControl& frame) { return ::GetWindow(frame.Handle(), GW_CHILD); }

TEST_F(MainWindowTest, FramesAreLaidOutTidily)
{
    Open();
    const char* names[] = {"behaviour", "service start", "memory overflow", "remote control"};
    for (int item = 0; item < 4; ++item) {
        if (form->FrameBar.OpenIndex() != item)
            OpenItem(item);
        TWinControl* frame = form->FrameBar.Item(item).Frame();
        ASSERT_NE(frame, nullptr);
        ExpectTidy(GroupBoxOf(*frame), names[item]);
    }
    ExpectTidy(form->PanelButtons.Handle(), "settings buttons");
    ExpectTidy(form->sPanel2.Handle(), "stress buttons");
}

TEST(CredentialsDialogLayout, IsTidy)
{
    TApplication app;
    gui::TGuiSession session(app);
    TfmEnterCredentials dialog(app, nullptr);
    dialog.LabelMessage.SetCaption(L"Please enter into administrative priveleges account to proceed with install.");
    dialog.EditDomain.SetText(L"HOST");
    dialog.Show();
    session.ProcessPending();
    ExpectTidy(dialog.GroupBox.Handle(), "group");
    ExpectTidy(dialog.PanelButtons.Handle(), "buttons");
}

} // namespace
