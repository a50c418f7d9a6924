// What the edit-server and edit-site dialogs share: the colours of their check messages, the browser hand-off,
// the interval of a row, the controls both have and the behaviour of a dialog while a check blocks it.
#pragma once

#include "ComCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

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

// The controls both dialogs have.
struct TEditDialogParts {
    TCheckBox& Active;
    TEdit& URL;
    TSpinEdit& Minutes;
    TLabel& Message;
    TButton& Ok;
    TButton& Cancel;
};

// Wires them alike: the interval from 1, the message hidden until a check and showing an "&" as it is, OK
// that runs okClick (which saves and then closes, so that a failing save keeps the dialog open), Cancel;
// Enter and Esc press OK and Cancel.
void PrepareEditDialogParts(const TEditDialogParts& parts, std::function<void()> okClick);

// Loads the check mark, URL and interval of a row into them; returns how many sub-items the row has.
int LoadEditDialogParts(const TEditDialogParts& parts, TListItem row);

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
