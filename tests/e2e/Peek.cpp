// mendrel_peek: waits for the remote client's status rows, prints them and saves a screenshot.
// mendrel_peek [--rows N] [--timeout SECONDS] [--screenshot FILE.png]
#include "Driver.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

using namespace e2e;

namespace {

HWND FindMainWindow() { return FindWindowW(nullptr, L"Dravex Mendrel Remote Client"); }

// The status list is the list view with the status columns.
HWND FindStatusList(HWND main)
{
    for (int i = 0;; ++i) {
        HWND list = FindChildOfClass(main, WC_LISTVIEWW, i);
        if (!list)
            return nullptr;
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        if (header && SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == e2e::kStatusColumns)
            return list;
    }
}

bool Checked(const std::vector<ListRow>& rows)
{
    for (const auto& row : rows) {
        if (row.cells.size() < 3 || row.cells[2] == L"Initial state")
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int wantRows = 1;
    int timeoutSeconds = 60;
    std::wstring shot;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring a = argv[i];
        if (a == L"--rows")
            wantRows = _wtoi(argv[i + 1]);
        else if (a == L"--timeout")
            timeoutSeconds = _wtoi(argv[i + 1]);
        else if (a == L"--screenshot")
            shot = argv[i + 1];
    }
    HWND main = nullptr;
    HWND list = nullptr;
    std::vector<ListRow> rows;
    bool done = WaitUntil(
        [&] {
            if (!main)
                main = FindMainWindow();
            if (main && !list)
                list = FindStatusList(main);
            if (!list)
                return false;
            rows = ListRows(list);
            return static_cast<int>(rows.size()) >= wantRows && Checked(rows);
        },
        std::chrono::seconds(timeoutSeconds), 250ms);
    if (!main) {
        fwprintf(stderr, L"The remote client's window did not appear\n");
        return 2;
    }
    Sleep(500); // let the row colours paint
    for (const auto& row : rows) {
        std::wstring line;
        for (const auto& cell : row.cells)
            line += (line.empty() ? L"" : L" | ") + cell;
        wprintf(L"%ls\n", line.c_str());
    }
    if (!shot.empty()) {
        if (SaveScreenshot(shot))
            wprintf(L"Screenshot: %ls\n", shot.c_str());
        else
            fwprintf(stderr, L"Could not save %ls\n", shot.c_str());
    }
    return done ? 0 : 1;
}
