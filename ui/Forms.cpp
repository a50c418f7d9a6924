#include "Forms.h"

#include "Application.h"
#include "ComCtrls.h"
#include "StdCtrls.h"

#include <algorithm>

namespace {

using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

TAdjustWindowRectExForDpi BindAdjustWindowRectExForDpi()
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    FARPROC entry = user32 ? ::GetProcAddress(user32, "AdjustWindowRectExForDpi") : nullptr;
    return reinterpret_cast<TAdjustWindowRectExForDpi>(reinterpret_cast<void (*)()>(entry));
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi)
{
    static const TAdjustWindowRectExForDpi adjust = BindAdjustWindowRectExForDpi();
    if (adjust)
        adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi));
    else
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Tahoma where it is installed; MS Shell Dlg is the system's alias for the dialog face otherwise.
std::wstring DefaultFontFace()
{
    bool found = false;
    HDC screen = ::GetDC(nullptr);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(wanted.lfFaceName, L"Tahoma", LF_FACESIZE);
    ::EnumFontFamiliesExW(screen, &wanted, &NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found ? L"Tahoma" : L"MS Shell Dlg";
}

RECT WorkAreaOf(HWND window)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    if (monitor && ::GetMonitorInfoW(monitor, &info))
        return info.rcWork;
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

} // namespace

TForm::TForm(TApplication& app, TForm* owner) : TWinControl(nullptr), app_(app), owner_(owner)
{
    fontFace_ = DefaultFontFace();
    CreateOwnWindow(WindowStyle(), WindowExStyle(), L"", owner ? owner->Handle() : nullptr, nullptr);
    dpi_ = DpiForWindow(Handle());
    RecreateFont();
    if (!owner_ && !app_.MainForm())
        app_.SetMainForm(this);
}

TForm::~TForm()
{
    // Destroyed here, not in the base, so that WM_DESTROY still reaches this form's handler.
    DestroyHandle();
    app_.FormDestroyed(this);
}

DWORD TForm::WindowStyle() const
{
    DWORD style = WS_CLIPCHILDREN | WS_CAPTION;
    switch (borderStyle_) {
    case TBorderStyle::Sizeable:
    case TBorderStyle::SizeToolWin: style |= WS_THICKFRAME; break;
    case TBorderStyle::Single: style |= WS_BORDER; break;
    case TBorderStyle::Dialog: break;
    }
    if (borderIcons_ & biSystemMenu)
        style |= WS_SYSMENU;
    if (borderStyle_ == TBorderStyle::Sizeable || borderStyle_ == TBorderStyle::Single) {
        if (borderIcons_ & biMinimize)
            style |= WS_MINIMIZEBOX;
        if (borderIcons_ & biMaximize)
            style |= WS_MAXIMIZEBOX;
    }
    if (::IsWindow(Handle()) && (::GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_VISIBLE))
        style |= WS_VISIBLE;
    return style;
}

DWORD TForm::WindowExStyle() const
{
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (borderStyle_ == TBorderStyle::Dialog)
        exStyle |= WS_EX_DLGMODALFRAME;
    if (borderStyle_ == TBorderStyle::SizeToolWin)
        exStyle |= WS_EX_TOOLWINDOW;
    if (appWindow_)
        exStyle |= WS_EX_APPWINDOW;
    return exStyle;
}

void TForm::ApplyStyles()
{
    // The topmost state is a place in the z-order that only SetWindowPos changes, not a style bit.
    bool topmost = (::GetWindowLongPtrW(Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, static_cast<LONG_PTR>(WindowStyle()));
    ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, static_cast<LONG_PTR>(WindowExStyle() | (topmost ? WS_EX_TOPMOST : 0)));
    UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED;
    if (topmost == stayOnTop_)
        flags |= SWP_NOZORDER;
    ::SetWindowPos(Handle(), stayOnTop_ ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, flags);
    ApplyClientSize();
}

void TForm::SetClientSize(int width, int height)
{
    clientWidth_ = width;
    clientHeight_ = height;
    ApplyClientSize();
}

void TForm::ApplyClientSize()
{
    if (clientWidth_ <= 0 && clientHeight_ <= 0)
        return;
    RECT rect{0, 0, ScaleForDpi(clientWidth_, dpi_), ScaleForDpi(clientHeight_, dpi_)};
    AdjustForDpi(rect, static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_STYLE)),
                 static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_EXSTYLE)), dpi_);
    ::SetWindowPos(Handle(), nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetPosition(TPosition position, int left, int top)
{
    position_ = position;
    designLeft_ = left;
    designTop_ = top;
    positioned_ = false;
    ApplyPosition();
}

void TForm::ApplyPosition()
{
    RECT window{};
    ::GetWindowRect(Handle(), &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    RECT area = WorkAreaOf(Handle());
    int left = area.left + ScaleForDpi(designLeft_, dpi_);
    int top = area.top + ScaleForDpi(designTop_, dpi_);
    RECT around = area;
    if (position_ == TPosition::OwnerCenter && owner_ && ::IsWindowVisible(owner_->Handle()))
        ::GetWindowRect(owner_->Handle(), &around);
    if (position_ != TPosition::Designed) {
        left = around.left + (around.right - around.left - width) / 2;
        top = around.top + (around.bottom - around.top - height) / 2;
        // Keep the caption on the work area, so the form can always be moved.
        left = std::max(static_cast<int>(area.left), std::min(left, static_cast<int>(area.right) - width));
        top = std::max(static_cast<int>(area.top), std::min(top, static_cast<int>(area.bottom) - height));
    }
    ::SetWindowPos(Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    positioned_ = true;
}

void TForm::SetBorderStyle(TBorderStyle style)
{
    borderStyle_ = style;
    if (style != TBorderStyle::Sizeable)
        borderIcons_ &= ~static_cast<unsigned>(biMaximize);
    ApplyStyles();
}

void TForm::SetBorderIcons(unsigned icons)
{
    borderIcons_ = icons;
    ApplyStyles();
}

void TForm::SetAppWindow(bool appWindow)
{
    appWindow_ = appWindow;
    ApplyStyles();
}

void TForm::SetStayOnTop(bool onTop)
{
    stayOnTop_ = onTop;
    ApplyStyles();
}

void TForm::SetFont(const std::wstring& face, int height)
{
    fontFace_ = face;
    fontHeight_ = height;
    RecreateFont();
}

LOGFONTW TForm::FontInfo() const
{
    LOGFONTW info{};
    info.lfHeight = -ScaleForDpi(fontHeight_, dpi_);
    info.lfWeight = FW_NORMAL;
    info.lfCharSet = DEFAULT_CHARSET;
    info.lfQuality = DEFAULT_QUALITY;
    ::lstrcpynW(info.lfFaceName, fontFace_.c_str(), LF_FACESIZE);
    return info;
}

void TForm::RecreateFont()
{
    LOGFONTW info = FontInfo();
    // The old font stays alive until every control has been handed the new one.
    UniqueFont old(font_.release());
    font_.reset(::CreateFontIndirectW(&info));
    ScaleChanged();
}

void TForm::SetVisible(bool visible)
{
    if (!Handle())
        return;
    if (visible) {
        if (!::IsWindowVisible(Handle()) && (!positioned_ || position_ != TPosition::Designed))
            ApplyPosition();
        ::ShowWindow(Handle(), SW_SHOW);
    } else {
        ::ShowWindow(Handle(), SW_HIDE);
    }
}

void TForm::BringToFront()
{
    if (!Handle())
        return;
    if (::IsIconic(Handle()))
        ::ShowWindow(Handle(), SW_RESTORE);
    ::BringWindowToTop(Handle());
    ::SetForegroundWindow(Handle());
}

void TForm::Close()
{
    if (Handle())
        ::SendMessageW(Handle(), WM_CLOSE, 0, 0);
}

int TForm::ShowModal()
{
    HWND owner = owner_ ? owner_->Handle() : nullptr;
    bool ownerEnabled = owner && ::IsWindowEnabled(owner);
    // The owner comes back before this form hides, so that the system activates it and not another window.
    struct OwnerGuard {
        HWND owner;
        bool enable;
        ~OwnerGuard()
        {
            if (enable)
                ::EnableWindow(owner, TRUE);
        }
    };
    modalResult_ = mrNone;
    modal_ = true;
    int result = mrCancel;
    {
        OwnerGuard guard{owner, ownerEnabled};
        if (ownerEnabled)
            ::EnableWindow(owner, FALSE);
        Show();
        BringToFront();
        while (modalResult_ == mrNone) {
            if (app_.Terminated()) {
                modalResult_ = mrCancel;
                break;
            }
            MSG message;
            BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {
                // The quit request belongs to the outer loop.
                ::PostQuitMessage(got == 0 ? static_cast<int>(message.wParam) : 0);
                modalResult_ = mrCancel;
                break;
            }
            app_.HandleMessage(message);
        }
        result = modalResult_;
    }
    modal_ = false;
    Hide();
    if (owner && ::IsWindowVisible(owner))
        ::SetActiveWindow(owner);
    return result;
}

LRESULT TForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: {
        if (modal_) {
            if (modalResult_ == mrNone)
                modalResult_ = mrCancel;
            return 0;
        }
        TCloseAction action = TCloseAction::Hide;
        if (OnClose)
            OnClose(action);
        if (action == TCloseAction::None)
            return 0;
        Hide();
        if (app_.MainForm() == this)
            app_.Terminate();
        return 0;
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        RecreateFont();
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(Handle(), focus))
                lastFocus_ = focus;
        } else if (!HIWORD(wParam)) {
            // A focus that is already on one of this form's controls stays where it is.
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(Handle(), focus))
                return 0;
            HWND target = lastFocus_;
            if (!target || !::IsChild(Handle(), target) || !::IsWindowVisible(target) || !::IsWindowEnabled(target))
                target = ::GetNextDlgTabItem(Handle(), nullptr, FALSE);
            ::SetFocus(target ? target : Handle());
        }
        return 0;
    case WM_DESTROY:
        if (OnDestroy)
            OnDestroy();
        break;
    default: break;
    }
    return TWinControl::WindowProc(message, wParam, lParam);
}

void TForm::FocusControl(HWND control)
{
    ::SetFocus(control);
    if (::SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        ::SendMessageW(control, EM_SETSEL, 0, -1);
}

bool TForm::DispatchMnemonic(wchar_t key)
{
    // Depth first in creation order, over what the user can see and reach.
    std::function<bool(TWinControl&)> visit = [&](TWinControl& control) {
        for (TWinControl* child : control.Children()) {
            if (!child->Handle() || !::IsWindowVisible(child->Handle()) || !::IsWindowEnabled(child->Handle()))
                continue;
            if (child->HandleMnemonic(key) || visit(*child))
                return true;
        }
        return false;
    };
    return visit(*this);
}

bool TForm::HandleDialogKey(MSG& message)
{
    HWND focus = ::GetFocus();
    if (focus && focus != Handle() && !::IsChild(Handle(), focus))
        focus = nullptr;
    auto dialogCode = [&] {
        return focus ? static_cast<UINT>(
                           ::SendMessageW(focus, WM_GETDLGCODE, message.wParam, reinterpret_cast<LPARAM>(&message)))
                     : 0u;
    };
    const UINT wantsAll = DLGC_WANTALLKEYS | DLGC_WANTMESSAGE;
    switch (message.message) {
    case WM_KEYDOWN:
        switch (message.wParam) {
        case VK_TAB: {
            if (dialogCode() & (wantsAll | DLGC_WANTTAB))
                return false;
            bool shift = ::GetKeyState(VK_SHIFT) < 0;
            if (::GetKeyState(VK_CONTROL) < 0) {
                for (TWinControl* c = ControlFromHandle(focus); c; c = c->Parent()) {
                    if (auto* pages = dynamic_cast<TPageControl*>(c)) {
                        pages->SelectNextPage(!shift);
                        return true;
                    }
                }
                return false;
            }
            if (HWND next = ::GetNextDlgTabItem(Handle(), focus == Handle() ? nullptr : focus, shift ? TRUE : FALSE))
                FocusControl(next);
            return true;
        }
        case VK_RETURN: {
            if (dialogCode() & wantsAll)
                return false;
            if (auto* button = dynamic_cast<TButton*>(ControlFromHandle(focus))) {
                button->Click();
                return true;
            }
            if (defaultButton_ && defaultButton_->CanClick()) {
                defaultButton_->Click();
                return true;
            }
            return false;
        }
        case VK_ESCAPE:
            if (dialogCode() & wantsAll)
                return false;
            if (cancelButton_ && cancelButton_->CanClick()) {
                cancelButton_->Click();
                return true;
            }
            return false;
        default: return false;
        }
    case WM_SYSCHAR: return DispatchMnemonic(static_cast<wchar_t>(message.wParam));
    case WM_CHAR:
        // A plain letter works as an access key where the focused control takes no typing (a button).
        if (focus && !(dialogCode() & (wantsAll | DLGC_WANTCHARS | DLGC_HASSETSEL)) && message.wParam > L' ')
            return DispatchMnemonic(static_cast<wchar_t>(message.wParam));
        return false;
    default: return false;
    }
}
