#include "GuiHarness.h"

#include "Application.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace gui {

namespace {

const wchar_t kWatchClass[] = L"MendrelGuiWatch";
const UINT_PTR kWatchTimer = 1;
const UINT kWatchInterval = 20;
// The static control that carries a message box's text.
const int kMessageBoxTextId = 0xFFFF;

thread_local TGuiSession* t_session = nullptr;

std::wstring ClassOf(HWND window)
{
    wchar_t name[64]{};
    ::GetClassNameW(window, name, 64);
    return name;
}

void PumpOnce(TApplication& app)
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Keep the quit request for the loop that owns it.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        app.HandleMessage(message);
    }
}

} // namespace

TGuiSession::TGuiSession(TApplication& app) : app_(app)
{
    if (t_session)
        throw std::logic_error("One GUI session per thread");
    t_session = this;
    app_.SetMessageBoxHook([this](HWND, const std::wstring& text, const std::wstring& caption, UINT type) {
        boxes_.push_back({caption, text});
        UINT buttons = type & MB_TYPEMASK;
        return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
    });

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TGuiSession::WatchWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWatchClass;
    ::RegisterClassExW(&wc);
    watchWindow_ = ::CreateWindowExW(0, kWatchClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(watchWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    boxHook_ = ::SetWindowsHookExW(WH_CBT, &TGuiSession::BoxHookProc, nullptr, ::GetCurrentThreadId());
}

TGuiSession::~TGuiSession()
{
    if (boxHook_)
        ::UnhookWindowsHookEx(boxHook_);
    if (watchWindow_)
        ::DestroyWindow(watchWindow_);
    app_.SetMessageBoxHook(nullptr);
    t_session = nullptr;
}

void TGuiSession::ProcessPending() { PumpOnce(app_); }

void TGuiSession::PumpFor(int ms)
{
    ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0, ms));
    for (;;) {
        PumpOnce(app_);
        ULONGLONG now = ::GetTickCount64();
        if (now >= end)
            break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
}

bool TGuiSession::PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0, timeoutMs));
    for (;;) {
        PumpOnce(app_);
        if (done())
            return true;
        ULONGLONG now = ::GetTickCount64();
        if (now >= end)
            return done();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
}

void TGuiSession::Click(HWND button)
{
    ::SendMessageW(button, BM_CLICK, 0, 0);
    ProcessPending();
}

void TGuiSession::MouseClick(HWND window)
{
    RECT client{};
    ::GetClientRect(window, &client);
    MouseClickAt(window, {client.right / 2, client.bottom / 2});
}

void TGuiSession::MouseClickAt(HWND window, POINT client)
{
    LPARAM where = MAKELPARAM(client.x, client.y);
    ::PostMessageW(window, WM_MOUSEMOVE, 0, where);
    ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::PostMessageW(window, WM_LBUTTONUP, 0, where);
    ProcessPending();
}

void TGuiSession::SelectTab(HWND tabControl, int index)
{
    RECT item{};
    if (!::SendMessageW(tabControl, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)))
        throw std::runtime_error("No such tab");
    MouseClickAt(tabControl, {(item.left + item.right) / 2, (item.top + item.bottom) / 2});
}

HWND TGuiSession::KeyTarget()
{
    HWND focus = ::GetFocus();
    if (!focus && lastFocus_ && ::IsWindow(lastFocus_)) {
        ::SetFocus(lastFocus_);
        focus = ::GetFocus();
    }
    if (!focus)
        throw std::runtime_error("No window has the focus");
    return focus;
}

void TGuiSession::TypeText(const std::wstring& text)
{
    HWND focus = KeyTarget();
    for (wchar_t ch : text)
        ::PostMessageW(focus, WM_CHAR, ch, 1);
    ProcessPending();
}

void TGuiSession::PressKey(WORD virtualKey, unsigned modifiers)
{
    HWND focus = KeyTarget();
    BYTE saved[256];
    ::GetKeyboardState(saved);
    BYTE held[256];
    std::copy(std::begin(saved), std::end(saved), std::begin(held));
    auto press = [&](int key) { held[key] = 0x80; };
    if (modifiers & kShift) {
        press(VK_SHIFT);
        press(VK_LSHIFT);
    }
    if (modifiers & kControl) {
        press(VK_CONTROL);
        press(VK_LCONTROL);
    }
    if (modifiers & kAlt) {
        press(VK_MENU);
        press(VK_LMENU);
    }
    ::SetKeyboardState(held);
    bool alt = (modifiers & kAlt) != 0;
    UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
    LPARAM up = down | (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
    ::PostMessageW(focus, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, down);
    ::PostMessageW(focus, alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, up);
    ProcessPending();
    ::SetKeyboardState(saved);
}

void TGuiSession::WhenWindowAppears(std::function<HWND()> find, std::function<void(HWND)> action, int timeoutMs)
{
    watchers_.push_back({std::move(find), std::move(action),
                         ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0, timeoutMs)), false});
    ::SetTimer(watchWindow_, kWatchTimer, kWatchInterval, nullptr);
}

bool TGuiSession::WatchersDone() const
{
    return std::all_of(watchers_.begin(), watchers_.end(), [](const Watcher& w) { return w.done; });
}

void TGuiSession::CheckWatchers()
{
    // An action may open a modal loop that comes back here; each watcher is marked done before it acts.
    for (size_t i = 0; i < watchers_.size(); ++i) {
        if (watchers_[i].done)
            continue;
        HWND found = watchers_[i].find();
        if (!found) {
            if (::GetTickCount64() > watchers_[i].deadline) {
                watchers_[i].done = true;
                watcherFailures_.push_back(L"A watched window did not appear");
            }
            continue;
        }
        watchers_[i].done = true;
        auto action = watchers_[i].action;
        try {
            action(found);
        } catch (const std::exception& e) {
            std::string what = e.what();
            watcherFailures_.push_back(std::wstring(what.begin(), what.end()));
        }
    }
    if (WatchersDone())
        ::KillTimer(watchWindow_, kWatchTimer);
}

LRESULT CALLBACK TGuiSession::WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kWatchTimer) {
        if (auto* session = reinterpret_cast<TGuiSession*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
            session->CheckWatchers();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void TGuiSession::CloseSystemDialog(HWND dialog)
{
    if (!closedDialogs_.insert(dialog).second)
        return;
    boxes_.push_back({Text(dialog), MessageBoxText(dialog)});
    LRESULT defaultId = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
    WPARAM id = HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : IDCANCEL;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

LRESULT CALLBACK TGuiSession::BoxHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_SETFOCUS && t_session && wParam)
        t_session->lastFocus_ = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && t_session) {
        auto dialog = reinterpret_cast<HWND>(wParam);
        if (ClassOf(dialog) == L"#32770")
            t_session->CloseSystemDialog(dialog);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------------------

HWND FindTopLevel(const wchar_t* className, const wchar_t* caption, DWORD processId)
{
    struct Search {
        const wchar_t* className;
        const wchar_t* caption;
        DWORD processId;
        HWND found;

        static BOOL CALLBACK Visit(HWND window, LPARAM data)
        {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (s->processId && owner != s->processId)
                return TRUE;
            if (s->className && ClassOf(window) != s->className)
                return TRUE;
            if (s->caption && Text(window) != s->caption)
                return TRUE;
            s->found = window;
            return FALSE;
        }
    } search{className, caption, processId, nullptr};
    ::EnumWindows(Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindDescendant(HWND parent, const wchar_t* className, const wchar_t* text)
{
    struct Search {
        const wchar_t* className;
        const wchar_t* text;
        HWND found;

        static BOOL CALLBACK Visit(HWND window, LPARAM data)
        {
            auto* s = reinterpret_cast<Search*>(data);
            if (s->className && ::lstrcmpiW(ClassOf(window).c_str(), s->className) != 0)
                return TRUE;
            if (s->text && Text(window) != s->text)
                return TRUE;
            s->found = window;
            return FALSE;
        }
    } search{className, text, nullptr};
    ::EnumChildWindows(parent, Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring MessageBoxText(HWND box)
{
    HWND text = ::GetDlgItem(box, kMessageBoxTextId);
    return text ? Text(text) : std::wstring();
}

std::wstring Text(HWND window)
{
    LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(0, copied)));
    return text;
}

bool IsEnabled(HWND window) { return ::IsWindowEnabled(window) != FALSE; }

bool HasVisibleStyle(HWND window) { return HasStyle(window, WS_VISIBLE); }

bool IsShown(HWND window) { return ::IsWindowVisible(window) != FALSE; }

SIZE ClientSize(HWND window)
{
    RECT client{};
    ::GetClientRect(window, &client);
    return {client.right, client.bottom};
}

RECT RectInParent(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool HasStyle(HWND window, DWORD style)
{
    return (static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)) & style) == style;
}

bool HasExStyle(HWND window, DWORD exStyle)
{
    return (static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE)) & exStyle) == exStyle;
}

int TabCount(HWND tabControl) { return static_cast<int>(::SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0)); }

std::wstring TabCaption(HWND tabControl, int index)
{
    wchar_t buffer[256]{};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 256;
    ::SendMessageW(tabControl, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return item.pszText ? item.pszText : L"";
}

int CurrentTab(HWND tabControl) { return static_cast<int>(::SendMessageW(tabControl, TCM_GETCURSEL, 0, 0)); }

int ColumnCount(HWND listView)
{
    HWND header = reinterpret_cast<HWND>(::SendMessageW(listView, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::wstring ColumnCaption(HWND listView, int column)
{
    wchar_t buffer[256]{};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = buffer;
    info.cchTextMax = 256;
    ::SendMessageW(listView, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
    return buffer;
}

int ColumnWidth(HWND listView, int column)
{
    return static_cast<int>(::SendMessageW(listView, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

int RowCount(HWND listView) { return static_cast<int>(::SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring CellText(HWND listView, int row, int column)
{
    std::wstring buffer(512, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    LRESULT length =
        ::SendMessageW(listView, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    buffer.resize(static_cast<size_t>(std::max<LRESULT>(0, length)));
    return buffer;
}

std::vector<std::wstring> RowTexts(HWND listView, int row)
{
    std::vector<std::wstring> texts;
    for (int column = 0, count = ColumnCount(listView); column < count; ++column)
        texts.push_back(CellText(listView, row, column));
    return texts;
}

bool RowChecked(HWND listView, int row)
{
    auto state =
        static_cast<UINT>(::SendMessageW(listView, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

bool RowSelected(HWND listView, int row)
{
    return (::SendMessageW(listView, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

std::vector<int> SelectedRows(HWND listView)
{
    std::vector<int> rows;
    int row = -1;
    while ((row = static_cast<int>(
                ::SendMessageW(listView, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) >= 0)
        rows.push_back(row);
    return rows;
}

int FocusedRow(HWND listView)
{
    return static_cast<int>(::SendMessageW(listView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

DWORD ListExtendedStyle(HWND listView)
{
    return static_cast<DWORD>(::SendMessageW(listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

// ---------------------------------------------------------------------------------------------------------

namespace {

// Wine gives Unix paths to its processes as they are; its Z: drive is the Unix root.
std::wstring WindowsPath(const std::wstring& path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    std::wstring result = L"Z:" + path;
    std::replace(result.begin(), result.end(), L'/', L'\\');
    return result;
}

class TGdiPlus {
public:
    TGdiPlus()
    {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok)
            throw std::runtime_error("GDI+ did not start");
    }
    ~TGdiPlus() { Gdiplus::GdiplusShutdown(token_); }
    TGdiPlus(const TGdiPlus&) = delete;
    TGdiPlus& operator=(const TGdiPlus&) = delete;

private:
    ULONG_PTR token_ = 0;
};

CLSID PngEncoder()
{
    UINT count = 0;
    UINT size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == L"image/png")
            return codecs[i].Clsid;
    }
    throw std::runtime_error("No PNG encoder");
}

} // namespace

std::wstring ArtifactsFolder()
{
    wchar_t buffer[MAX_PATH]{};
    DWORD length = ::GetEnvironmentVariableW(L"MENDREL_ARTIFACTS", buffer, MAX_PATH);
    std::wstring folder;
    if (length > 0 && length < MAX_PATH) {
        folder = WindowsPath(buffer);
    } else {
        ::GetTempPathW(MAX_PATH, buffer);
        folder = std::wstring(buffer) + L"mendrel-artifacts";
    }
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring SaveScreenshot(HWND window, const std::wstring& name)
{
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (window)
        ::GetWindowRect(window, &area);
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        throw std::runtime_error("Nothing to take a picture of");
    if (window) {
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        ::GdiFlush();
    }

    // A window is read from its own DC: what it painted is there at once, while the screen (under Wine, the
    // X server) may not have caught up yet.
    HDC source = window ? ::GetWindowDC(window) : ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(source);
    HBITMAP picture = ::CreateCompatibleBitmap(source, width, height);
    HGDIOBJ old = ::SelectObject(memory, picture);
    ::BitBlt(memory, 0, 0, width, height, source, window ? 0 : area.left, window ? 0 : area.top, SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(window, source);

    std::wstring path = ArtifactsFolder() + L"\\" + name + L".png";
    Gdiplus::Status status;
    {
        TGdiPlus gdiPlus;
        Gdiplus::Bitmap bitmap(picture, nullptr);
        CLSID png = PngEncoder();
        status = bitmap.Save(path.c_str(), &png, nullptr);
    }
    ::DeleteObject(picture);
    if (status != Gdiplus::Ok)
        throw std::runtime_error("The picture was not saved");
    return path;
}

} // namespace gui
