#include "UStatusRows.h"

#include "Strings.h"

std::wstring UserTimeSeparator()
{
    wchar_t buffer[8] = {};
    int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STIME, buffer, ARRAYSIZE(buffer));
    if (length <= 1)
        return L":";
    return std::wstring(buffer, static_cast<size_t>(length - 1));
}

std::wstring FormatStatusTime(TDateTime time, const std::wstring& separator)
{
    SYSTEMTIME st = DateTimeToSystemTime(time);
    return FormatW(L"%02u", static_cast<unsigned>(st.wHour)) + separator +
           FormatW(L"%02u", static_cast<unsigned>(st.wMinute));
}

// Truncating division, so that a downtime that wrapped below zero still prints both parts.
std::wstring FormatDowntime(int32_t minutes) { return FormatW(L"%4d:%2d", minutes / 60, minutes % 60); }

TStatusRowView ViewOfStatus(const std::wstring& type, TCheckStatus& status, const std::wstring& separator)
{
    TStatusRowView view;
    view.Type = type;
    std::wstring url = status.CheckStatus()->GetURL();
    view.SubItems = {url,
                     status.StatusText,
                     FormatStatusTime(status.LastCheckTime, separator),
                     FormatStatusTime(status.LastSuccessTime, separator),
                     FormatStatusTime(status.NextCheckTime, separator),
                     FormatDowntime(status.Downtime)};
    view.Tray.LastCheckTime = status.LastCheckTime;
    view.Tray.StatusOk = status.StatusOk;
    view.Tray.URL = url;
    view.LastSuccessTime = status.LastSuccessTime;
    view.NextCheckTime = status.NextCheckTime;
    view.Downtime = status.Downtime;
    view.Separator = separator;
    return view;
}

bool ViewIsCurrent(const TStatusRowView& view, const std::wstring& type, TCheckStatus& status,
                   const std::wstring& separator)
{
    return view.SubItems.size() == 6 && view.Type == type && view.Tray.LastCheckTime == status.LastCheckTime &&
           view.Tray.StatusOk == status.StatusOk && view.LastSuccessTime == status.LastSuccessTime &&
           view.NextCheckTime == status.NextCheckTime && view.Downtime == status.Downtime &&
           view.Separator == separator && view.SubItems[1] == status.StatusText &&
           view.Tray.URL == status.CheckStatus()->GetURL();
}

COLORREF StatusRowColor(bool selected, bool focused, bool hot, const TTrayRow& row)
{
    if (selected || focused || hot || row.LastCheckTime == 0)
        return RGB(255, 255, 255);
    return row.StatusOk ? RGB(0, 255, 0) : RGB(255, 0, 0);
}

bool IsCheckDue(bool active, TDateTime now, TDateTime nextCheckTime) { return active && now >= nextCheckTime; }

TStatusButtons StatusButtonStates(bool rowSelected, bool serverRow)
{
    TStatusButtons buttons;
    buttons.RefreshNow = rowSelected;
    buttons.Reboot = rowSelected && serverRow;
    return buttons;
}
