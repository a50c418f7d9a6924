// The overall state of the monitored items as the tray icon shows it: tooltip text and icon index.
#pragma once

#include "InterfaceObjects.h"

#include <string>
#include <vector>

struct TTrayRow {
    TDateTime LastCheckTime = 0;
    bool StatusOk = true;
    std::wstring URL;
};

struct TTrayState {
    std::wstring Text;
    // 0: no rows; 1: every checked item passed; 2: at least one failed.
    int Index = 0;
};

// Over the rows where they are kept, so that thousands of them are not copied.
TTrayState ComputeTrayState(const std::vector<const TTrayRow*>& rows);

// The icon index of ComputeTrayState from the number of rows and of rows whose last check failed.
int TrayIndexOf(int rows, int failingRows);
// Whether the tooltip's line for a row (or its absence, for a row never checked) differs between the two.
bool TrayLineDiffers(const TTrayRow& a, const TTrayRow& b);

// The pop-up that announces a change of the icon index; none when the index stays or becomes 0.
struct TTrayAnnouncement {
    bool Show = false;
    int Seconds = 0;
    int Kind = 0;
};
TTrayAnnouncement AnnounceTrayChange(int oldIndex, int newIndex);
