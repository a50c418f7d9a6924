// Drives the built programs from the outside: separate processes, found by their windows, worked through
// window messages as a user's clicks and keys would, read back through the controls' own messages.
#pragma once

#include "Unique.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

// The status list has these columns: Type, Link, Status, Last check time, Last success, Next check time,
// Downtime and History (drawn, without text).
constexpr int kStatusColumns = 8;

// The folder of the built exes of this build (build/x86_64/...), from the test program's own location.
std::wstring BuildDir();
std::wstring ProgramPath(const wchar_t* relative);

class Process {
public:
    Process() = default;
    // Starts the exe with the command line (program path quoted first); the working folder is the exe's.
    static Process Start(const std::wstring& exe, const std::wstring& arguments = L"");
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }
    bool Running() const;
    // Waits for the exit; returns its code, or STILL_ACTIVE after the time-out.
    DWORD Wait(std::chrono::milliseconds timeout);
    // Closes its windows, then terminates what is left.
    void Stop();
    ~Process();
    Process(Process&&) = default;
    Process& operator=(Process&&) = default;

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Polls until the condition holds or the time is up; pumps this thread's messages meanwhile.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = 50ms);

// A top-level window of the process whose caption is the text (empty: any), or null after the time-out.
HWND FindTopWindow(DWORD processId, const std::wstring& caption, std::chrono::milliseconds timeout = 10s);
std::vector<HWND> TopWindows(DWORD processId);
// A descendant whose caption equals the text (with its "&"), optionally of the window class.
HWND FindChild(HWND parent, const std::wstring& caption, const wchar_t* className = nullptr);
// The n-th descendant of the class, in creation order.
HWND FindChildOfClass(HWND parent, const wchar_t* className, int index = 0);
// As FindChild, but only a descendant that shows (one of several with the caption, on the page in front).
HWND FindVisibleChild(HWND parent, const std::wstring& caption, const wchar_t* className = nullptr);
// Every descendant of the class, in creation order.
std::vector<HWND> ChildrenOfClass(HWND parent, const wchar_t* className);
std::wstring ClassName(HWND window);

std::wstring Text(HWND window);
void SetText(HWND window, const std::wstring& text);
bool Enabled(HWND window);
bool Visible(HWND window);
// A click as the button control itself receives it from the mouse.
void Click(HWND button);
void SetChecked(HWND checkBox, bool checked);

// List views of another process, read through memory placed in that process.
struct ListRow {
    std::vector<std::wstring> cells;
    bool checked = false;
    bool selected = false;
};
std::vector<ListRow> ListRows(HWND listView);
void SelectListRow(HWND listView, int index);
// The row's whole rectangle, in screen coordinates.
RECT ListRowScreenRect(HWND listView, int index);
// The tab control's page by index, as a click on its tab.
void SelectTab(HWND tabControl, int index);

// A tooltip control of another process: the window and the text of each of its tools.
struct ToolTipTool {
    HWND window = nullptr;
    UINT_PTR id = 0;
    std::wstring text;
};
std::vector<ToolTipTool> ToolTipTools(HWND tooltip);

} // namespace e2e

namespace e2e {
// The pixels of a rectangle of the screen, row by row, as COLORREF values (what the user sees there).
std::vector<COLORREF> ScreenPixels(const RECT& rect);
// Saves the whole screen (or one window) as a PNG; returns false when it could not be written.
bool SaveScreenshot(const std::wstring& path, HWND window = nullptr);
} // namespace e2e
