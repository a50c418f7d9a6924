// The small pop-up near the notification area that announces a change of the overall state and closes by
// itself after a few seconds.
#pragma once

#include "Application.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UMessageDialogFM.h"

#include <windows.h>

#include <string>

// The text that hides the pop-up instead of showing it.
inline constexpr wchar_t kCleanupNotifyIconText[] = L"CleanupNotifyIcon7C20D36E30214DF7A9C2449BCBCF0AF5";

class TfmTrayNotification : public TForm {
public:
    // Captioned with the application title; hidden until the first notification.
    TfmTrayNotification(TApplication& app, TForm& owner);

    // Shows text for seconds seconds with the picture of kind (0 none, 1 information, 2 and 3 exclamation,
    // others keep the last one), sized to the text, near the notification area, without taking the focus.
    void ShowNotification(const std::wstring& text, int seconds, int kind);
    void HideTrayNotification();
    // One second of the count-down.
    void TimerForFormHideTimer();

    int SecondsLeft() const { return secondsLeft_; }
    // The window's size in pixels as it was made, the base of every resizing.
    SIZE InitialSize() const { return initialSize_; }

    TPanel PanelMain{*this};
    TImage ImageInformation{PanelMain};
    TImage ImageExclamation{PanelMain};
    TLabel LabelInformation{PanelMain};
    TTimer TimerForFormHide{*this, 1000, false};

private:
    void PlaceNearNotificationArea(SIZE size);

    SIZE initialSize_{};
    SIZE initialPanel_{};
    RECT labelMargins_{};
    int secondsLeft_ = 0;
    UniqueIcon informationIcon_;
    UniqueIcon exclamationIcon_;
};

// The run's pop-up, made on first use and owned by the application's main form (which must exist), shows the
// text; the cleanup text hides it instead. Returns at once.
void ShowTrayNotification(TApplication& app, const std::wstring& text, int seconds, int kind);
// Makes the run's pop-up, hidden, where the main form exists and it does not yet: the main window does so before
// its first checks start, so that the first notification, which comes among thousands of callbacks, only shows
// it.
void PrepareTrayNotification(TApplication& app);
// The run's pop-up, or null before the first notification (or preparation).
TfmTrayNotification* FindTrayNotification(TApplication& app);
