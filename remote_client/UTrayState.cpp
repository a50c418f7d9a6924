#include "UTrayState.h"

#include "Strings.h"

TTrayState ComputeTrayState(const std::vector<const TTrayRow*>& rows)
{
    std::wstring passing, failing;
    bool allPassed = true;
    for (const TTrayRow* row : rows) {
        // An item that has never been checked says nothing about the state.
        if (row->LastCheckTime == 0)
            continue;
        allPassed = allPassed && row->StatusOk;
        // Appended piece by piece: with thousands of rows a formatted line each was most of the cost.
        std::wstring& text = row->StatusOk ? passing : failing;
        text.append(row->URL).append(row->StatusOk ? L": Status Ok\r\n" : L": Check failed\r\n");
    }
    TTrayState state;
    state.Text = allPassed ? passing : failing;
    state.Index = rows.empty() ? 0 : allPassed ? 1 : 2;
    return state;
}

int TrayIndexOf(int rows, int failingRows) { return rows == 0 ? 0 : failingRows == 0 ? 1 : 2; }

bool TrayLineDiffers(const TTrayRow& a, const TTrayRow& b)
{
    bool checkedA = a.LastCheckTime != 0;
    bool checkedB = b.LastCheckTime != 0;
    if (checkedA != checkedB)
        return true;
    return checkedA && (a.StatusOk != b.StatusOk || a.URL != b.URL);
}

TTrayAnnouncement AnnounceTrayChange(int oldIndex, int newIndex)
{
    if (oldIndex == newIndex)
        return {};
    if (newIndex == 1)
        return {true, 3, 1};
    if (newIndex == 2)
        return {true, 5, 2};
    return {};
}
