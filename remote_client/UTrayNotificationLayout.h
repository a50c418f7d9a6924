// Size and place of the tray pop-up, apart from its window.
#pragma once

#include <windows.h>

#include <string>

struct TNotificationMetrics {
    int WWidth = 0;         // width of one "W" in the label's font (the estimate takes n of them)
    int LineHeight = 0;     // height of "jJ" in the label's font
    SIZE Initial = {};      // the window's size at creation
    SIZE InitialPanel = {}; // the panel's (client area's) size at creation
    int LabelLeft = 56, LabelTop = 8, LabelRight = 8, LabelBottom = 8;
};

// The window size for the text: the width grows to fit the estimate up to 1.5 times the initial width, the
// height grows by whole lines for every carriage return.
SIZE NotificationSize(const std::wstring& text, const TNotificationMetrics& m);

// The text as the pop-up shows it in a window at most maxHeight high. A text of more lines than fit (the list of
// thousands of items) keeps its first lines, and its last line counts the others: "... and 1940 more". Lines end
// at carriage returns, as the size counts them.
std::wstring FitNotificationText(const std::wstring& text, const TNotificationMetrics& m, int maxHeight);

// 20 pixels from the right edge and 5 above a taskbar at the bottom; where there is no taskbar, or it is not
// at the bottom, the bottom right corner of the work area.
POINT NotificationPosition(SIZE window, SIZE desktopClient, const RECT* taskbar, const RECT& workArea);
