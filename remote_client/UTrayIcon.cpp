#include "UTrayIcon.h"

#include <algorithm>
#include <cwchar>

// The owner is a hidden top-level window, not a message-only one: only top-level windows receive the
// "TaskbarCreated" broadcast that says the shell has lost its icons.
TTrayIcon::TTrayIcon(HICON icon) : icon_(icon), taskbarCreated_(::RegisterWindowMessageW(L"TaskbarCreated"))
{
    CreateOwnWindow(WS_POPUP, WS_EX_TOOLWINDOW, L"", nullptr, nullptr);
}

TTrayIcon::~TTrayIcon()
{
    Remove();
    DestroyHandle();
}

NOTIFYICONDATAW TTrayIcon::IconData(UINT flags) const
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = Handle();
    data.uID = kIconId;
    data.uFlags = flags;
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = icon_;
    // As much of the hint as the shell takes, cut at a whole character.
    size_t length = std::min(hint_.size(), ARRAYSIZE(data.szTip) - 1);
    if (length > 0 && length < hint_.size() && IS_HIGH_SURROGATE(hint_[length - 1]))
        --length;
    std::wmemcpy(data.szTip, hint_.c_str(), length);
    data.szTip[length] = 0;
    data.uVersion = NOTIFYICON_VERSION_4;
    return data;
}

// A shell that is not there (no taskbar yet) refuses the icon; it is added when the taskbar comes. One that
// still holds it (a second "TaskbarCreated") refuses the addition but takes the icon's present state.
void TTrayIcon::Add()
{
    NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    added_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE || ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    if (added_)
        ::Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void TTrayIcon::Modify(UINT flags)
{
    if (!visible_)
        return;
    if (!added_) {
        Add();
        return;
    }
    NOTIFYICONDATAW data = IconData(flags | NIF_SHOWTIP);
    if (!::Shell_NotifyIconW(NIM_MODIFY, &data))
        Add();
}

void TTrayIcon::Remove()
{
    if (!added_)
        return;
    NOTIFYICONDATAW data = IconData(0);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    added_ = false;
}

void TTrayIcon::SetVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    if (visible)
        Add();
    else
        Remove();
}

void TTrayIcon::SetIcon(HICON icon)
{
    icon_ = icon;
    Modify(NIF_ICON);
}

void TTrayIcon::SetHint(const std::wstring& hint)
{
    hint_ = hint;
    Modify(NIF_TIP);
}

LRESULT TTrayIcon::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kCallbackMessage) {
        // With version 4 the event is the low word, the icon's id the high word.
        switch (LOWORD(lParam)) {
        case WM_LBUTTONUP:
        case NIN_KEYSELECT:
            if (OnClick)
                OnClick();
            break;
        case WM_LBUTTONDBLCLK:
            if (OnDblClick)
                OnDblClick();
            break;
        default: break;
        }
        return 0;
    }
    if (taskbarCreated_ != 0 && message == taskbarCreated_) {
        if (visible_)
            Add();
        return 0;
    }
    return TWindowBase::WindowProc(message, wParam, lParam);
}

void TTrayIcon::HandleException(const std::exception_ptr& error) noexcept
{
    if (OnError) {
        try {
            OnError(error);
            return;
        } catch (...) {
        }
    }
    TWindowBase::HandleException(error);
}
