#include "ExtCtrls.h"

#include "Application.h"
#include "WinTools.h"

#include <algorithm>

TPanel::TPanel(TWinControl& parent) : TWinControl(&parent) { CreateContainer(WS_VISIBLE, 0); }

// ---------------------------------------------------------------------------------------------------------

TGroupBox::TGroupBox(TWinControl& parent, const std::wstring& caption) : TWinControl(&parent)
{
    CreateContainer(WS_VISIBLE, 0, caption);
}

void TGroupBox::SetText(const std::wstring& text)
{
    TWinControl::SetText(text);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

LRESULT TGroupBox::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (auto answer = SelfPaintMessage(message, wParam, lParam, [this](HDC dc) { Paint(dc); }))
        return *answer;
    return TWinControl::WindowProc(message, wParam, lParam);
}

void TGroupBox::Paint(HDC dc)
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    HGDIOBJ oldFont = ::SelectObject(dc, Font());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT frame = client;
    frame.top += metrics.tmHeight / 2;
    ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    std::wstring caption = Text();
    if (!caption.empty()) {
        RECT text{client.left + Scale(8), client.top, client.right - Scale(8), client.top + metrics.tmHeight};
        HBRUSH background = BackgroundBrush();
        LOGBRUSH brush{};
        ::GetObjectW(background, sizeof brush, &brush);
        RECT measured = text;
        ::DrawTextW(dc, caption.c_str(), -1, &measured, DT_SINGLELINE | DT_CALCRECT);
        measured.left -= Scale(2);
        measured.right += Scale(2);
        ::FillRect(dc, &measured, background);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::GetSysColor(IsWindowEnabled(Handle()) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
        ::DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE);
    }
    ::SelectObject(dc, oldFont);
}

// ---------------------------------------------------------------------------------------------------------

TImage::TImage(TWinControl& parent) : TWinControl(&parent) { CreateOwnChild(WS_VISIBLE, 0); }

void TImage::SetIcon(HICON icon)
{
    icon_ = icon;
    bitmap_ = nullptr;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::SetBitmap(HBITMAP bitmap)
{
    bitmap_ = bitmap;
    icon_ = nullptr;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::SetCenter(bool center)
{
    center_ = center;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::SetProportional(bool proportional)
{
    proportional_ = proportional;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TImage::SetStretch(bool stretch)
{
    stretch_ = stretch;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

SIZE IconSize(HICON icon)
{
    SIZE size{0, 0};
    ICONINFO info{};
    if (icon && ::GetIconInfo(icon, &info)) {
        BITMAP mask{};
        ::GetObjectW(info.hbmMask, sizeof mask, &mask);
        size = {mask.bmWidth, info.hbmColor ? mask.bmHeight : mask.bmHeight / 2};
        if (info.hbmColor)
            ::DeleteObject(info.hbmColor);
        if (info.hbmMask)
            ::DeleteObject(info.hbmMask);
    }
    return size;
}

SIZE TImage::PictureSize() const
{
    SIZE size{0, 0};
    if (bitmap_) {
        BITMAP info{};
        if (::GetObjectW(bitmap_, sizeof info, &info))
            size = {info.bmWidth, info.bmHeight};
    } else if (icon_) {
        size = IconSize(icon_);
    }
    return size;
}

LRESULT TImage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (auto answer = SelfPaintMessage(message, wParam, lParam, [this](HDC dc) { Paint(dc); }))
        return *answer;
    return TWinControl::WindowProc(message, wParam, lParam);
}

void TImage::Paint(HDC dc)
{
    SIZE picture = PictureSize();
    if (picture.cx <= 0 || picture.cy <= 0)
        return;
    RECT client{};
    ::GetClientRect(Handle(), &client);
    int areaWidth = client.right;
    int areaHeight = client.bottom;
    // Pictures are designed at 96 DPI like the layout.
    int width = Scale(picture.cx);
    int height = Scale(picture.cy);
    bool tooBig = width > areaWidth || height > areaHeight;
    if (stretch_ || (proportional_ && tooBig)) {
        if (proportional_) {
            if (static_cast<long long>(areaWidth) * height < static_cast<long long>(areaHeight) * width) {
                height = ::MulDiv(height, areaWidth, width);
                width = areaWidth;
            } else {
                width = ::MulDiv(width, areaHeight, height);
                height = areaHeight;
            }
        } else {
            width = areaWidth;
            height = areaHeight;
        }
    }
    int left = center_ ? (areaWidth - width) / 2 : 0;
    int top = center_ ? (areaHeight - height) / 2 : 0;
    if (icon_) {
        ::DrawIconEx(dc, left, top, icon_, width, height, 0, nullptr, DI_NORMAL);
    } else {
        HDC source = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(source, bitmap_);
        ::SetStretchBltMode(dc, HALFTONE);
        ::StretchBlt(dc, left, top, width, height, source, 0, 0, picture.cx, picture.cy, SRCCOPY);
        ::SelectObject(source, old);
        ::DeleteDC(source);
    }
}

// ---------------------------------------------------------------------------------------------------------

namespace {
const UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TWinControl& owner, UINT interval, bool enabled) : owner_(owner), interval_(interval), enabled_(enabled)
{
    CreateOwnWindow(0, 0, L"", HWND_MESSAGE, nullptr);
    Restart();
}

TTimer::~TTimer()
{
    if (Handle())
        ::KillTimer(Handle(), kTimerId);
    DestroyHandle();
}

void TTimer::SetInterval(UINT interval)
{
    interval_ = interval;
    Restart();
}

void TTimer::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    Restart();
}

void TTimer::Restart()
{
    ::KillTimer(Handle(), kTimerId);
    if (enabled_ && interval_ > 0) {
        if (!::SetTimer(Handle(), kTimerId, interval_, nullptr))
            throw ELastWin32Error();
    }
}

LRESULT TTimer::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kTimerId) {
        if (enabled_ && OnTimer)
            OnTimer();
        return 0;
    }
    return TWindowBase::WindowProc(message, wParam, lParam);
}

void TTimer::HandleException(const std::exception_ptr& error) noexcept
{
    if (TApplication* app = owner_.App())
        app->HandleException(error);
    else
        TWindowBase::HandleException(error);
}
