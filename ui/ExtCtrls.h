// Containers and helpers: panels, group boxes, images and timers.
#pragma once

#include "WinControl.h"

#include <functional>

// A child container; without a colour of its own it takes its parent's background.
class TPanel : public TWinControl {
public:
    explicit TPanel(TWinControl& parent);
};

// A container with an etched frame and a caption.
class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TWinControl& parent, const std::wstring& caption = {});

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    void SetText(const std::wstring& text) override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
};

// An icon's size in pixels (a monochrome icon's mask holds the picture and its mask one above the other);
// zero for no icon.
SIZE IconSize(HICON icon);

// Draws an icon or a bitmap that somebody else owns (shared resources need no freeing).
class TImage : public TWinControl {
public:
    explicit TImage(TWinControl& parent);

    void SetIcon(HICON icon);
    void SetBitmap(HBITMAP bitmap);
    HICON Icon() const { return icon_; }
    HBITMAP Bitmap() const { return bitmap_; }
    // Centred in the control; proportional shrinks a picture that is too big, keeping its shape; stretched
    // fills the control, keeping the shape when proportional too.
    void SetCenter(bool center);
    void SetProportional(bool proportional);
    void SetStretch(bool stretch);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
    SIZE PictureSize() const;

    HICON icon_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    bool center_ = false;
    bool proportional_ = false;
    bool stretch_ = false;
};

// Calls OnTimer every Interval milliseconds while enabled, on the thread that made it (SetTimer on a
// message-only window of its own).
class TTimer : public TWindowBase {
public:
    // The owner's application handles what OnTimer raises.
    explicit TTimer(TWinControl& owner, UINT interval = 1000, bool enabled = true);
    ~TTimer() override;

    UINT Interval() const { return interval_; }
    void SetInterval(UINT interval);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    std::function<void()> OnTimer;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void HandleException(const std::exception_ptr& error) noexcept override;

private:
    void Restart();

    TWinControl& owner_;
    UINT interval_;
    bool enabled_;
};
