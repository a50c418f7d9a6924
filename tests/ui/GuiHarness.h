// Drives windows of this process the way a user does, through their messages, and reads them back the same
// way. No test waits on a modal box: a session closes every message box and records what it said.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

class TApplication;

namespace gui {

// A message box (or another system dialog) that a session closed, and what it showed.
struct TShownBox {
    std::wstring Caption;
    std::wstring Text;
};

enum TModifier : unsigned { kShift = 1, kControl = 2, kAlt = 4 };

// One GUI test's driver. While it lives, the application's message boxes are recorded instead of shown,
// and any system dialog box that opens on this thread is recorded and closed at once.
class TGuiSession {
public:
    explicit TGuiSession(TApplication& app);
    ~TGuiSession();
    TGuiSession(const TGuiSession&) = delete;
    TGuiSession& operator=(const TGuiSession&) = delete;

    TApplication& App() { return app_; }

    // Handles what is waiting now, then returns.
    void ProcessPending();
    // Handles messages for ms milliseconds.
    void PumpFor(int ms);
    // Handles messages until done() or timeoutMs; answers done() at the end.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

    // BM_CLICK, as a click on the button; runs any modal loop that the click opens inside this call.
    void Click(HWND button);
    // Posted WM_LBUTTONDOWN and WM_LBUTTONUP at the centre of the window (or a client point), then pumped.
    void MouseClick(HWND window);
    void MouseClickAt(HWND window, POINT client);
    // The tab of a tab control, clicked with the mouse.
    void SelectTab(HWND tabControl, int index);
    // WM_CHAR for every character, to the focused window.
    void TypeText(const std::wstring& text);
    // WM_KEYDOWN and WM_KEYUP (WM_SYSKEY* with Alt) to the focused window, the modifiers held; the toolkit's
    // loop translates them into WM_CHAR as the system would.
    void PressKey(WORD virtualKey, unsigned modifiers = 0);
    // The window that keys go to. When another process took the foreground (other tests run beside this
    // one on the same display), this thread has no focus any more; the window that had it last gets it back.
    HWND KeyTarget();

    // Runs action on the first window that find answers, from inside whichever loop pumps next (a modal
    // dialog's loop included). A watcher that finds nothing within timeoutMs is recorded as a failure.
    void WhenWindowAppears(std::function<HWND()> find, std::function<void(HWND)> action, int timeoutMs = 5000);
    bool WatchersDone() const;
    const std::vector<std::wstring>& WatcherFailures() const { return watcherFailures_; }

    const std::vector<TShownBox>& ShownBoxes() const { return boxes_; }
    void ClearShownBoxes() { boxes_.clear(); }

private:
    struct Watcher {
        std::function<HWND()> find;
        std::function<void(HWND)> action;
        ULONGLONG deadline;
        bool done;
    };
    static LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK BoxHookProc(int code, WPARAM wParam, LPARAM lParam);
    void CheckWatchers();
    void CloseSystemDialog(HWND dialog);

    TApplication& app_;
    HWND watchWindow_ = nullptr;
    HHOOK boxHook_ = nullptr;
    std::vector<Watcher> watchers_;
    std::vector<std::wstring> watcherFailures_;
    std::vector<TShownBox> boxes_;
    std::set<HWND> closedDialogs_;
    HWND lastFocus_ = nullptr;
};

// Looking windows up.
HWND FindTopLevel(const wchar_t* className, const wchar_t* caption, DWORD processId = 0);
HWND FindDescendant(HWND parent, const wchar_t* className, const wchar_t* text = nullptr);
// The text of a message box's message.
std::wstring MessageBoxText(HWND box);

// Reading windows back.
std::wstring Text(HWND window);
bool IsEnabled(HWND window);
// The window's own visible style (whether it would show when its parents do).
bool HasVisibleStyle(HWND window);
// Visible on the screen: the window and all its parents.
bool IsShown(HWND window);
SIZE ClientSize(HWND window);
RECT RectInParent(HWND window);
bool HasStyle(HWND window, DWORD style);
bool HasExStyle(HWND window, DWORD exStyle);

int TabCount(HWND tabControl);
std::wstring TabCaption(HWND tabControl, int index);
int CurrentTab(HWND tabControl);

int ColumnCount(HWND listView);
std::wstring ColumnCaption(HWND listView, int column);
int ColumnWidth(HWND listView, int column);
int RowCount(HWND listView);
std::wstring CellText(HWND listView, int row, int column);
// The caption and every further column of a row.
std::vector<std::wstring> RowTexts(HWND listView, int row);
bool RowChecked(HWND listView, int row);
bool RowSelected(HWND listView, int row);
std::vector<int> SelectedRows(HWND listView);
int FocusedRow(HWND listView);
DWORD ListExtendedStyle(HWND listView);

// Saves a PNG picture of the window (the whole screen for null) into the folder named by the environment
// variable MENDREL_ARTIFACTS (the temporary folder without it); answers the file's path.
std::wstring SaveScreenshot(HWND window, const std::wstring& name);
// The folder itself, as a Windows path.
std::wstring ArtifactsFolder();

} // namespace gui
