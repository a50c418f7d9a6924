#include "WinControl.h"

#include "Application.h"
#include "Forms.h"
#include "WinTools.h"

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <unordered_map>

namespace {

const wchar_t kWindowClass[] = L"MendrelWindow";

// Every window of the toolkit leads back to its object, whatever its class, so that a notification's source
// window finds its control. The record is kept in this process's memory rather than as a window property:
// reading a property is a round trip to the window server under Wine, and every notification asks.
class TWindowObjects {
public:
    static TWindowObjects& Instance()
    {
        static TWindowObjects objects;
        return objects;
    }
    void Set(HWND window, TWindowBase* object)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_[window] = object;
    }
    void Remove(HWND window)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        objects_.erase(window);
    }
    // Windows that went with their parent before their object: none may lead to an object that is gone.
    void RemoveObject(const TWindowBase* object)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = objects_.begin(); it != objects_.end();)
            it = it->second == object ? objects_.erase(it) : std::next(it);
    }
    TWindowBase* Find(HWND window)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = objects_.find(window);
        return it == objects_.end() ? nullptr : it->second;
    }

private:
    std::mutex mutex_;
    std::unordered_map<HWND, TWindowBase*> objects_;
};

void SetWindowObject(HWND window, TWindowBase* object) { TWindowObjects::Instance().Set(window, object); }

void RemoveWindowObject(HWND window) { TWindowObjects::Instance().Remove(window); }

using TGetDpiForWindow = UINT(WINAPI*)(HWND);

TGetDpiForWindow BindGetDpiForWindow()
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    FARPROC entry = user32 ? ::GetProcAddress(user32, "GetDpiForWindow") : nullptr;
    return reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void (*)()>(entry));
}

void RegisterWindowClass()
{
    // One class for every own window of the process; registering is idempotent, so a second call only
    // finds the class that is there.
    static const ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&wc);
    }();
    (void)atom;
}

} // namespace

int DpiForWindow(HWND window)
{
    static const TGetDpiForWindow getDpiForWindow = BindGetDpiForWindow();
    if (getDpiForWindow && window) {
        if (UINT dpi = getDpiForWindow(window))
            return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

std::optional<LRESULT> TWinControl::SelfPaintMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                                     const std::function<void(HDC)>& paint)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(Handle(), &ps);
        paint(dc);
        ::EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        TWinControl::WindowProc(message, wParam, lParam);
        paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SIZE: ::InvalidateRect(Handle(), nullptr, TRUE); break;
    default: break;
    }
    return std::nullopt;
}

wchar_t MnemonicOf(const std::wstring& caption)
{
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != L'&')
            continue;
        if (caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return static_cast<wchar_t>(std::towlower(caption[i + 1]));
    }
    return 0;
}

bool MatchesMnemonic(const std::wstring& caption, wchar_t key)
{
    return key != 0 && MnemonicOf(caption) == static_cast<wchar_t>(std::towlower(key));
}

// ---------------------------------------------------------------------------------------------------------

TWindowBase::~TWindowBase()
{
    DestroyHandle();
    TWindowObjects::Instance().RemoveObject(this);
}

TWindowBase* TWindowBase::FromHandle(HWND window) { return window ? TWindowObjects::Instance().Find(window) : nullptr; }

void TWindowBase::CreateOwnWindow(DWORD style, DWORD exStyle, const std::wstring& text, HWND parent, HMENU menuOrId)
{
    RegisterWindowClass();
    ownClass_ = true;
    // The class's procedure is DefWindowProc so that a window made by someone else with our class name does
    // nothing; ours switch to the thunk right after creation, before any message of interest.
    HWND window = ::CreateWindowExW(exStyle, kWindowClass, text.c_str(), style, 0, 0, 0, 0, parent, menuOrId,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (!window)
        throw ELastWin32Error();
    handle_ = window;
    SetWindowObject(window, this);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWindowBase::StaticWindowProc));
}

HWND TWindowBase::CreateSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const std::wstring& text,
                                     HWND parent, HMENU menuOrId)
{
    HWND window = ::CreateWindowExW(exStyle, className, text.c_str(), style, 0, 0, 0, 0, parent, menuOrId,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (!window)
        throw ELastWin32Error();
    handle_ = window;
    ownClass_ = false;
    SetWindowObject(window, this);
    return window;
}

void TWindowBase::AttachPart(HWND part) { SetWindowObject(part, this); }

void TWindowBase::DetachPart(HWND part) { RemoveWindowObject(part); }

void TWindowBase::DestroyHandle()
{
    HWND window = handle_;
    if (!window)
        return;
    if (!ownClass_) {
        RemoveWindowObject(window);
        handle_ = nullptr;
    }
    // An own window clears handle_ itself at WM_NCDESTROY.
    ::DestroyWindow(window);
    handle_ = nullptr;
}

LRESULT TWindowBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcW(handle_, message, wParam, lParam);
}

void TWindowBase::HandleException(const std::exception_ptr& error) noexcept
{
    // Without an application the message still reaches the user rather than vanishing.
    std::wstring text = TApplication::ExceptionMessage(error);
    ::MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

LRESULT CALLBACK TWindowBase::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TWindowBase*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    try {
        result = self->WindowProc(message, wParam, lParam);
    } catch (...) {
        self->HandleException(std::current_exception());
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowObject(window);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->handle_ = nullptr;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------

TWinControl::TWinControl(TWinControl* parent) : parent_(parent)
{
    if (parent_)
        parent_->children_.push_back(this);
}

TWinControl::~TWinControl()
{
    DestroyHandle();
    for (TWinControl* child : children_)
        child->parent_ = nullptr;
    if (parent_) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

TForm* TWinControl::Form()
{
    TWinControl* top = this;
    while (top->parent_)
        top = top->parent_;
    return dynamic_cast<TForm*>(top);
}

TApplication* TWinControl::App()
{
    TForm* form = Form();
    return form ? &form->Application() : nullptr;
}

TWinControl* TWinControl::ControlFromHandle(HWND window) { return dynamic_cast<TWinControl*>(FromHandle(window)); }

int TWinControl::Dpi() const { return parent_ ? parent_->Dpi() : DpiForWindow(Handle()); }

HFONT TWinControl::Font() const { return parent_ ? parent_->Font() : nullptr; }

HWND TWinControl::ParentHandle() const { return parent_ ? parent_->Handle() : nullptr; }

HMENU TWinControl::NextControlId()
{
    TForm* form = Form();
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(form ? form->NextControlId() : 0));
}

void TWinControl::CreateChild(const wchar_t* className, DWORD style, DWORD exStyle, const std::wstring& text)
{
    CreateSystemWindow(className, style | WS_CHILD, exStyle, text, ParentHandle(), NextControlId());
    ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    PlaceSelf();
}

void TWinControl::CreateContainer(DWORD style, DWORD exStyle, const std::wstring& text)
{
    CreateOwnWindow(style | WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, exStyle | WS_EX_CONTROLPARENT, text,
                    ParentHandle(), NextControlId());
    PlaceSelf();
}

void TWinControl::CreateOwnChild(DWORD style, DWORD exStyle, const std::wstring& text)
{
    CreateOwnWindow(style | WS_CHILD | WS_CLIPSIBLINGS, exStyle, text, ParentHandle(), NextControlId());
    PlaceSelf();
}

void TWinControl::SetBounds(int left, int top, int width, int height)
{
    bounds_ = {left, top, width, height};
    PlaceSelf();
}

void TWinControl::SetAlign(TAlign align)
{
    align_ = align;
    PlaceSelf();
}

void TWinControl::SetAnchors(unsigned anchors)
{
    anchors_ = anchors;
    if (parent_ && parent_->Handle()) {
        RECT client{};
        ::GetClientRect(parent_->Handle(), &client);
        int dpi = Dpi();
        rightGap_ = ::MulDiv(client.right, 96, dpi) - (bounds_.Left + bounds_.Width);
        bottomGap_ = ::MulDiv(client.bottom, 96, dpi) - (bounds_.Top + bounds_.Height);
    }
    PlaceSelf();
}

RECT TWinControl::LayoutRect(const RECT& area) const
{
    int dpi = Dpi();
    int left = ScaleForDpi(bounds_.Left, dpi);
    int top = ScaleForDpi(bounds_.Top, dpi);
    int width = ScaleForDpi(bounds_.Width, dpi);
    int height = ScaleForDpi(bounds_.Height, dpi);
    int areaWidth = area.right - area.left;
    int areaHeight = area.bottom - area.top;
    if (anchors_ & akRight) {
        int gap = ScaleForDpi(rightGap_, dpi);
        if (anchors_ & akLeft)
            width = std::max(0, areaWidth - gap - left);
        else
            left = areaWidth - gap - width;
    }
    if (anchors_ & akBottom) {
        int gap = ScaleForDpi(bottomGap_, dpi);
        if (anchors_ & akTop)
            height = std::max(0, areaHeight - gap - top);
        else
            top = areaHeight - gap - height;
    }
    return {area.left + left, area.top + top, area.left + left + width, area.top + top + height};
}

void TWinControl::PlaceSelf()
{
    if (!parent_ || !parent_->Handle() || !Handle())
        return;
    if (align_ != TAlign::None) {
        parent_->Realign();
        return;
    }
    RECT client{};
    ::GetClientRect(parent_->Handle(), &client);
    PlaceWindow(LayoutRect(client));
}

void TWinControl::PlaceWindow(const RECT& rect)
{
    if (Handle())
        ::SetWindowPos(Handle(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT TWinControl::AlignArea() const
{
    RECT client{};
    if (Handle())
        ::GetClientRect(Handle(), &client);
    return client;
}

void TWinControl::ApplyAlignment()
{
    if (!Handle())
        return;
    RECT area = AlignArea();
    int dpi = Dpi();
    const TAlign order[] = {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client};
    for (TAlign pass : order) {
        for (TWinControl* child : children_) {
            if (child->align_ != pass || !child->Visible())
                continue;
            RECT rect = area;
            switch (pass) {
            case TAlign::Top:
                rect.bottom = std::min(area.bottom, area.top + ScaleForDpi(child->bounds_.Height, dpi));
                area.top = rect.bottom;
                break;
            case TAlign::Bottom:
                rect.top = std::max(area.top, area.bottom - ScaleForDpi(child->bounds_.Height, dpi));
                area.bottom = rect.top;
                break;
            case TAlign::Left:
                rect.right = std::min(area.right, area.left + ScaleForDpi(child->bounds_.Width, dpi));
                area.left = rect.right;
                break;
            case TAlign::Right:
                rect.left = std::max(area.left, area.right - ScaleForDpi(child->bounds_.Width, dpi));
                area.right = rect.left;
                break;
            default: break;
            }
            child->PlaceWindow(rect);
        }
    }
    RECT client{};
    ::GetClientRect(Handle(), &client);
    for (TWinControl* child : children_) {
        if (child->align_ == TAlign::None)
            child->PlaceWindow(child->LayoutRect(client));
    }
}

void TWinControl::Realign() { ApplyAlignment(); }

void TWinControl::ScaleChanged()
{
    if (Handle() && !OwnClass())
        ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
    for (TWinControl* child : children_)
        child->ScaleChanged();
    Realign();
}

bool TWinControl::Visible() const { return Handle() && (::GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_VISIBLE) != 0; }

void TWinControl::SetVisible(bool visible)
{
    if (!Handle() || Visible() == visible)
        return;
    ::ShowWindow(Handle(), visible ? SW_SHOWNA : SW_HIDE);
    if (align_ != TAlign::None && parent_)
        parent_->Realign();
}

bool TWinControl::Enabled() const { return Handle() && ::IsWindowEnabled(Handle()); }

void TWinControl::SetEnabled(bool enabled)
{
    if (Handle())
        ::EnableWindow(Handle(), enabled ? TRUE : FALSE);
}

std::wstring TWinControl::Text() const
{
    if (!Handle())
        return {};
    int length = ::GetWindowTextLengthW(Handle());
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = ::GetWindowTextW(Handle(), text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(0, copied)));
    return text;
}

void TWinControl::SetText(const std::wstring& text)
{
    if (Handle())
        ::SetWindowTextW(Handle(), text.c_str());
}

void TWinControl::SetFocus()
{
    if (Handle())
        ::SetFocus(Handle());
}

bool TWinControl::Focused() const { return Handle() && ::GetFocus() == Handle(); }

HBRUSH TWinControl::BackgroundBrush() const
{
    if (hasColor_)
        return colorBrush_.get();
    return parent_ ? parent_->BackgroundBrush() : ::GetSysColorBrush(COLOR_BTNFACE);
}

void TWinControl::SetColor(COLORREF color)
{
    hasColor_ = true;
    color_ = color;
    colorBrush_.reset(::CreateSolidBrush(color));
    if (Handle())
        ::InvalidateRect(Handle(), nullptr, TRUE);
}

bool TWinControl::PreTranslateMessage(MSG&) { return false; }

bool TWinControl::HandleMnemonic(wchar_t) { return false; }

bool TWinControl::HandleCommand(WORD) { return false; }

bool TWinControl::HandleNotify(NMHDR*, LRESULT&) { return false; }

HBRUSH TWinControl::HandleControlColor(HDC) { return nullptr; }

HCURSOR TWinControl::Cursor() const { return nullptr; }

void TWinControl::HandleDestroyed() { ForgetHandle(); }

void TWinControl::PaintBackground(HDC dc, const RECT& rect) { ::FillRect(dc, &rect, BackgroundBrush()); }

// Statics and buttons paint their background themselves with the brush that their parent answers; the
// colour of that brush also goes behind their text.
HBRUSH TWinControl::PrepareChildBackground(HWND, HDC dc)
{
    HBRUSH background = BackgroundBrush();
    LOGBRUSH brush{};
    if (::GetObjectW(background, sizeof brush, &brush) == sizeof brush)
        ::SetBkColor(dc, brush.lbColor);
    return background;
}

LRESULT TWinControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (lParam) {
            if (TWinControl* control = ControlFromHandle(reinterpret_cast<HWND>(lParam))) {
                if (control->HandleCommand(HIWORD(wParam)))
                    return 0;
            }
        }
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (TWinControl* control = ControlFromHandle(header->hwndFrom)) {
            LRESULT result = 0;
            if (control->HandleNotify(header, result))
                return result;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX: {
        auto dc = reinterpret_cast<HDC>(wParam);
        auto child = reinterpret_cast<HWND>(lParam);
        TWinControl* control = ControlFromHandle(child);
        if (control) {
            if (HBRUSH brush = control->HandleControlColor(dc))
                return reinterpret_cast<LRESULT>(brush);
        }
        if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) {
            // A read-only edit asks with WM_CTLCOLORSTATIC too; it keeps the system's colours.
            wchar_t className[16]{};
            ::GetClassNameW(child, className, 16);
            if (::lstrcmpiW(className, L"Edit") != 0)
                return reinterpret_cast<LRESULT>(PrepareChildBackground(child, dc));
        }
        break;
    }
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) != Handle() && LOWORD(lParam) == HTCLIENT) {
            if (TWinControl* control = ControlFromHandle(reinterpret_cast<HWND>(wParam))) {
                if (HCURSOR cursor = control->Cursor()) {
                    ::SetCursor(cursor);
                    return TRUE;
                }
            }
        }
        break;
    case WM_ERASEBKGND: {
        RECT client{};
        ::GetClientRect(Handle(), &client);
        PaintBackground(reinterpret_cast<HDC>(wParam), client);
        return 1;
    }
    case WM_PRINTCLIENT: {
        RECT client{};
        ::GetClientRect(Handle(), &client);
        PaintBackground(reinterpret_cast<HDC>(wParam), client);
        return 0;
    }
    case WM_SIZE: Realign(); return 0;
    case WM_NCDESTROY:
        // The children went before their parent; the handles of standard controls are gone with them.
        for (TWinControl* child : children_) {
            if (child->Handle() && !child->OwnClass())
                child->HandleDestroyed();
        }
        break;
    default: break;
    }
    return TWindowBase::WindowProc(message, wParam, lParam);
}

void TWinControl::HandleException(const std::exception_ptr& error) noexcept
{
    if (TApplication* app = App())
        app->HandleException(error);
    else
        TWindowBase::HandleException(error);
}
