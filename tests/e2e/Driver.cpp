#include "Driver.h"

#include "WinTools.h"

#include <commctrl.h>

#include <thread>

namespace e2e {

namespace {

// Memory inside the target process, for the control messages that carry pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : size_(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        Win32Check(process_.get() != nullptr);
        address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        Win32Check(address_ != nullptr);
    }
    ~RemoteBuffer() { VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    char* Address() const { return static_cast<char*>(address_); }
    void Write(size_t offset, const void* data, size_t n)
    {
        Win32Check(WriteProcessMemory(process_.get(), Address() + offset, data, n, nullptr));
    }
    void Read(size_t offset, void* data, size_t n)
    {
        Win32Check(ReadProcessMemory(process_.get(), Address() + offset, data, n, nullptr));
    }

private:
    UniqueHandle process_;
    void* address_ = nullptr;
    size_t size_;
};

void PostClickAt(HWND window, int x, int y)
{
    LPARAM at = MAKELPARAM(x, y);
    PostMessageW(window, WM_MOUSEMOVE, 0, at);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

} // namespace

std::wstring BuildDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    // The test program lives in <build>/tests/e2e/.
    for (int i = 0; i < 3; ++i)
        dir = dir.substr(0, dir.find_last_of(L"\\/"));
    return dir;
}

std::wstring ProgramPath(const wchar_t* relative) { return BuildDir() + L"\\" + relative; }

Process Process::Start(const std::wstring& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/"));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    Win32Check(
        CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    Process p;
    p.process_.reset(pi.hProcess);
    p.id_ = pi.dwProcessId;
    return p;
}

bool Process::Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

DWORD Process::Wait(std::chrono::milliseconds timeout)
{
    if (!process_)
        return 0;
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

void Process::Stop()
{
    if (!Running())
        return;
    for (HWND w : TopWindows(id_))
        PostMessageW(w, WM_CLOSE, 0, 0);
    if (Wait(5s) == STILL_ACTIVE) {
        TerminateProcess(process_.get(), 99);
        Wait(5s);
    }
}

Process::~Process() { Stop(); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        std::this_thread::sleep_for(step);
    }
}

std::vector<HWND> TopWindows(DWORD processId)
{
    struct Search {
        DWORD pid;
        std::vector<HWND> found;

        static BOOL CALLBACK Visit(HWND w, LPARAM p)
        {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == s->pid)
                s->found.push_back(w);
            return TRUE;
        }
    } search{processId, {}};
    EnumWindows(Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopWindow(DWORD processId, const std::wstring& caption, std::chrono::milliseconds timeout)
{
    HWND result = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : TopWindows(processId)) {
                if ((caption.empty() && IsWindowVisible(w)) || (!caption.empty() && Text(w) == caption)) {
                    result = w;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return result;
}

HWND FindChild(HWND parent, const std::wstring& caption, const wchar_t* className)
{
    struct Search {
        const std::wstring& caption;
        const wchar_t* className;
        HWND found;

        static BOOL CALLBACK Visit(HWND w, LPARAM p)
        {
            auto* s = reinterpret_cast<Search*>(p);
            if (Text(w) == s->caption && (!s->className || _wcsicmp(ClassOf(w).c_str(), s->className) == 0)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        }
    } search{caption, className, nullptr};
    EnumChildWindows(parent, Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindChildOfClass(HWND parent, const wchar_t* className, int index)
{
    struct Search {
        const wchar_t* className;
        int index;
        HWND found;

        static BOOL CALLBACK Visit(HWND w, LPARAM p)
        {
            auto* s = reinterpret_cast<Search*>(p);
            if (_wcsicmp(ClassOf(w).c_str(), s->className) == 0 && s->index-- == 0) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        }
    } search{className, index, nullptr};
    EnumChildWindows(parent, Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindVisibleChild(HWND parent, const std::wstring& caption, const wchar_t* className)
{
    struct Search {
        const std::wstring& caption;
        const wchar_t* className;
        HWND found;

        static BOOL CALLBACK Visit(HWND w, LPARAM p)
        {
            auto* s = reinterpret_cast<Search*>(p);
            if (IsWindowVisible(w) && Text(w) == s->caption &&
                (!s->className || _wcsicmp(ClassOf(w).c_str(), s->className) == 0)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        }
    } search{caption, className, nullptr};
    EnumChildWindows(parent, Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> ChildrenOfClass(HWND parent, const wchar_t* className)
{
    std::vector<HWND> found;
    for (int i = 0;; ++i) {
        HWND child = FindChildOfClass(parent, className, i);
        if (!child)
            return found;
        found.push_back(child);
    }
}

std::wstring ClassName(HWND window) { return ClassOf(window); }

std::wstring Text(HWND window)
{
    // WM_GETTEXT is marshalled between processes by the system.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000,
                        &copied);
    text.resize(copied);
    return text;
}

void SetText(HWND window, const std::wstring& text)
{
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    // Tell the owner as an edit control would after typing.
    PostMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), EN_CHANGE),
                 reinterpret_cast<LPARAM>(window));
}

bool Enabled(HWND window) { return IsWindowEnabled(window) != FALSE; }
bool Visible(HWND window) { return IsWindowVisible(window) != FALSE; }

void Click(HWND control)
{
    // Posted, not sent: a click that opens a modal dialog must not block the driver.
    if (_wcsicmp(ClassOf(control).c_str(), L"Button") == 0) {
        PostMessageW(control, BM_CLICK, 0, 0);
        return;
    }
    RECT r;
    GetClientRect(control, &r);
    PostClickAt(control, (r.right - r.left) / 2, (r.bottom - r.top) / 2);
}

void SetChecked(HWND checkBox, bool checked)
{
    if ((SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED) != checked)
        Click(checkBox);
}

std::vector<ListRow> ListRows(HWND listView)
{
    constexpr size_t kTextChars = 1024;
    RemoteBuffer remote(listView, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    HWND header = reinterpret_cast<HWND>(SendMessageW(listView, LVM_GETHEADER, 0, 0));
    int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    int count = static_cast<int>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    std::vector<ListRow> rows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < std::max(columns, 1); ++c) {
            LVITEMW item = {};
            item.iSubItem = c;
            item.cchTextMax = kTextChars;
            item.pszText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(LVITEMW));
            remote.Write(0, &item, sizeof item);
            auto n = static_cast<size_t>(
                SendMessageW(listView, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote.Address())));
            std::wstring text(std::min(n, kTextChars - 1), L'\0');
            if (!text.empty())
                remote.Read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t));
            rows[static_cast<size_t>(i)].cells.push_back(text);
        }
        auto state =
            static_cast<UINT>(SendMessageW(listView, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK | LVIS_SELECTED));
        rows[static_cast<size_t>(i)].checked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
        rows[static_cast<size_t>(i)].selected = (state & LVIS_SELECTED) != 0;
    }
    return rows;
}

void SelectListRow(HWND listView, int index)
{
    RemoteBuffer remote(listView, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    remote.Write(0, &item, sizeof item);
    SendMessageW(listView, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.Address()));
}

RECT ListRowScreenRect(HWND listView, int index)
{
    RemoteBuffer remote(listView, sizeof(RECT));
    RECT r = {};
    r.left = LVIR_BOUNDS;
    remote.Write(0, &r, sizeof r);
    if (!SendMessageW(listView, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(remote.Address())))
        return {};
    remote.Read(0, &r, sizeof r);
    MapWindowPoints(listView, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

namespace {

// TTTOOLINFOW as a 64-bit process lays it out: a 32-bit driver reads the tooltips of the shell's notification
// area, which a 64-bit explorer keeps (WoW64), in that layout.
struct ToolInfo64 {
    UINT cbSize;
    UINT uFlags;
    UINT64 hwnd;
    UINT64 uId;
    RECT rect;
    UINT64 hinst;
    UINT64 lpszText;
    UINT64 lParam;
    UINT64 lpReserved;
};
static_assert(sizeof(ToolInfo64) == 72, "the 64-bit TTTOOLINFOW is 72 bytes");

UINT64 AsNumber(const void* p) { return reinterpret_cast<ULONG_PTR>(p); }
UINT64 AsNumber(UINT64 n) { return n; }
void SetText(TTTOOLINFOW& info, wchar_t* text) { info.lpszText = text; }
void SetText(ToolInfo64& info, wchar_t* text) { info.lpszText = AsNumber(text); }

// Whether the window belongs to a 64-bit process while this one is 32-bit.
bool WiderProcess(HWND window)
{
    if (sizeof(void*) == 8)
        return false;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    BOOL mine = FALSE, theirs = FALSE;
    return process && IsWow64Process(GetCurrentProcess(), &mine) && mine && IsWow64Process(process.get(), &theirs) &&
           !theirs;
}

template <class TInfo>
std::vector<ToolTipTool> ToolTipToolsAs(HWND tooltip)
{
    constexpr size_t kTextChars = 1024;
    RemoteBuffer remote(tooltip, sizeof(TInfo) + kTextChars * sizeof(wchar_t));
    auto* textAddress = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(TInfo));
    std::vector<ToolTipTool> tools;
    int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TInfo info = {};
        info.cbSize = sizeof info;
        SetText(info, textAddress);
        remote.Write(0, &info, sizeof info);
        std::wstring text(kTextChars, L'\0');
        remote.Write(sizeof(TInfo), text.data(), sizeof(wchar_t));
        if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.Address())))
            continue;
        remote.Read(0, &info, sizeof info);
        ToolTipTool tool;
        tool.window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(AsNumber(info.hwnd)));
        tool.id = static_cast<UINT_PTR>(info.uId);
        // The control copies a text of its own into the buffer; a callback or resource text is not read.
        if (AsNumber(info.lpszText) == AsNumber(textAddress)) {
            remote.Read(sizeof(TInfo), text.data(), (kTextChars - 1) * sizeof(wchar_t));
            tool.text = text.c_str();
        }
        tools.push_back(tool);
    }
    return tools;
}

} // namespace

std::vector<ToolTipTool> ToolTipTools(HWND tooltip)
{
    return WiderProcess(tooltip) ? ToolTipToolsAs<ToolInfo64>(tooltip) : ToolTipToolsAs<TTTOOLINFOW>(tooltip);
}

void SelectTab(HWND tabControl, int index)
{
    RemoteBuffer remote(tabControl, sizeof(RECT));
    SendMessageW(tabControl, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.Address()));
    RECT r;
    remote.Read(0, &r, sizeof r);
    PostClickAt(tabControl, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

} // namespace e2e
