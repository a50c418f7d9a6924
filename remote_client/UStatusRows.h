// What a row of the status list shows of a status object, and the rules the scheduler and the status
// buttons follow. No windows here: the main window writes these values into its controls.
#pragma once

#include "InterfaceObjects.h"
#include "UTrayState.h"
#include "UUtils.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The user's time separator (":" where the locale says nothing).
std::wstring UserTimeSeparator();
// Hour (0 to 23) and minute, two digits each, joined by the separator; the date is not shown, so 0 (never)
// gives 00 and 00.
std::wstring FormatStatusTime(TDateTime time, const std::wstring& separator);
// Hours right-aligned in four places, a colon, minutes right-aligned in two, padded with blanks.
std::wstring FormatDowntime(int32_t minutes);

// A row of the status list as it was written: the texts of its columns and what its colour and the tray
// state are computed from. The window keeps this copy, so that it never reads a status object while a check
// writes it on a worker.
struct TStatusRowView {
    std::wstring Type;
    // Link, Status, Last check time, Last success, Next check time, Downtime.
    std::vector<std::wstring> SubItems;
    TTrayRow Tray;
    // What the texts were made from, besides the URL and the status text that they hold as they are.
    TDateTime LastSuccessTime = 0;
    TDateTime NextCheckTime = 0;
    int32_t Downtime = 0;
    std::wstring Separator;
};

// The view of a status object whose check is not running. type is "Server" or "Site".
TStatusRowView ViewOfStatus(const std::wstring& type, TCheckStatus& status, const std::wstring& separator);
// Whether view is what ViewOfStatus would make now, found without formatting anything: a check that starts
// rewrites its row from a status that has mostly not changed since its last callback.
bool ViewIsCurrent(const TStatusRowView& view, const std::wstring& type, TCheckStatus& status,
                   const std::wstring& separator);

// White for a row that is selected, focused or under the mouse, and for a row never checked; otherwise lime
// when its last check passed and red when it failed.
COLORREF StatusRowColor(bool selected, bool focused, bool hot, const TTrayRow& row);

// An active item is due once its next check time has come; a new status (next check 0) is due at once.
bool IsCheckDue(bool active, TDateTime now, TDateTime nextCheckTime);

struct TStatusButtons {
    bool RefreshNow = false;
    bool Reboot = false;
};
// "Refresh now" works on any selected row, "Reboot" on a selected server row only.
TStatusButtons StatusButtonStates(bool rowSelected, bool serverRow);
