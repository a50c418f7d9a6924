// What the edit-server and edit-site dialogs share: the colours of their check messages, the browser hand-off,
// the interval of a row and the behaviour of a dialog while a check blocks it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// In the platform's blue-green-red order.
inline constexpr COLORREF kCheckFailedColor = 255;
inline constexpr COLORREF kCheckSucceededColor = 0x8000;
inline constexpr COLORREF kCheckProgressColor = 0;

// Hands a URL to the shell's open operation; the dialogs call it through a member that tests replace.
using TShellOpenURL = std::function<void(HWND window, const std::wstring& url)>;
void ShellOpenURL(HWND window, const std::wstring& url);

// The interval that a row's first sub-item gives: the whole number it holds, or 1.
int MinutesFromRowText(const std::wstring& text);

// Lives as long as a check blocks the main thread: shows the wait cursor, and at its end drops the keys and
// clicks that arrived meanwhile, so that the dialog has not answered input while it was busy.
class TBlockingCheck {
public:
    TBlockingCheck();
    ~TBlockingCheck();
    TBlockingCheck(const TBlockingCheck&) = delete;
    TBlockingCheck& operator=(const TBlockingCheck&) = delete;

private:
    HCURSOR previousCursor_;
};
