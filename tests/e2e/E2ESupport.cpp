// Winsock before the Windows headers.
#include <winsock2.h>

#include "E2ESupport.h"

#include "ShellFolders.h"

#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace e2e {

namespace {

void RemoveTree(const std::wstring& path)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    std::wstring from = path + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

} // namespace

std::wstring RemoteClientExe() { return ProgramPath(L"remote_client\\MendrelRemoteClient.exe"); }
std::wstring ConfigClientExe() { return ProgramPath(L"config_client\\MendrelClient.exe"); }
std::wstring ServiceExe() { return ProgramPath(L"standin_service\\MendrelService.exe"); }

TSettingsFolderGuard::TSettingsFolderGuard()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    parent_ = std::wstring(temp) + L"mendrel-settings-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(parent_.c_str(), nullptr);
    folder_ = parent_ + L"\\MendrelRemoteClient";
    SetEnvironmentVariableW(L"MENDREL_REMOTE_CLIENT_SETTINGS_FOLDER", folder_.c_str());
}

TSettingsFolderGuard::~TSettingsFolderGuard()
{
    SetEnvironmentVariableW(L"MENDREL_REMOTE_CLIENT_SETTINGS_FOLDER", nullptr);
    RemoveTree(parent_);
}

void TSettingsFolderGuard::Write(const std::string& content)
{
    CreateDirectoryW(folder_.c_str(), nullptr);
    WriteFileBytes(File(), content);
}

std::string TSettingsFolderGuard::Read() const { return ReadFileBytes(File()); }

TBox WaitForBox(DWORD processId, std::chrono::milliseconds timeout)
{
    TBox box;
    WaitUntil(
        [&] {
            for (HWND w : TopWindows(processId)) {
                wchar_t cls[32] = {};
                GetClassNameW(w, cls, 32);
                if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w)) {
                    box.Window = w;
                    return true;
                }
            }
            return false;
        },
        timeout);
    if (!box.Window)
        return box;
    box.Caption = Text(box.Window);
    // The text is the static control with the id 0xFFFF.
    if (HWND text = GetDlgItem(box.Window, 0xFFFF))
        box.Text = Text(text);
    return box;
}

void AnswerBox(HWND box, int buttonId)
{
    if (HWND button = GetDlgItem(box, buttonId))
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(buttonId), 0);
}

TScratchFolder::TScratchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"mendrel-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
    CreateDirectoryW(path_.c_str(), nullptr);
}

TScratchFolder::~TScratchFolder() { RemoveTree(path_); }

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace e2e

namespace e2e {

HWND FindFieldBeside(HWND parent, const std::wstring& labelText)
{
    HWND label = FindChild(parent, labelText, L"Static");
    if (!label)
        return nullptr;
    RECT l;
    GetWindowRect(label, &l);
    HWND best = nullptr;
    long bestDistance = LONG_MAX;
    for (int i = 0;; ++i) {
        HWND edit = FindChildOfClass(parent, L"Edit", i);
        if (!edit)
            break;
        if (!IsWindowVisible(edit))
            continue;
        RECT e;
        GetWindowRect(edit, &e);
        // Right: on the label's line, its middle within the label's height.
        const long middle = (e.top + e.bottom) / 2;
        const bool right = e.left >= l.right - 2 && middle > l.top - 4 && middle < l.bottom + 4;
        // Below: under the label and overlapping it sideways, so that the field of a label beside it is not taken.
        const bool below = e.top >= l.bottom - 2 && e.top - l.bottom < 30 && e.left < l.right && e.right > l.left;
        if (!right && !below)
            continue;
        long distance = right ? e.left - l.right : 1000 + (e.top - l.bottom) + labs(e.left - l.left);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = edit;
        }
    }
    return best;
}

bool PortOpen(int port)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    bool open = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    WSACleanup();
    return open;
}

int FreeLoopbackPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    WSACleanup();
    return ntohs(address.sin_port);
}

TRegisteredService::TRegisteredService(const std::wstring& exePath)
{
    // A new prefix keeps its service database locked for a while after it is made.
    WaitUntil(
        [&] {
            manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            if (!manager_)
                return false;
            std::wstring command = L"\"" + exePath + L"\"";
            service_ = CreateServiceW(manager_, L"Mendrel", L"Mendrel", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
            if (service_)
                return true;
            CloseServiceHandle(manager_);
            manager_ = nullptr;
            return false;
        },
        60s, 500ms);
}

TRegisteredService::~TRegisteredService()
{
    if (service_) {
        Stop();
        DeleteService(service_);
        CloseServiceHandle(service_);
    }
    if (manager_) {
        // Deletion completes once no handle is open; wait until the name is free again.
        WaitUntil(
            [&] {
                SC_HANDLE s = OpenServiceW(manager_, L"Mendrel", SERVICE_QUERY_STATUS);
                if (s)
                    CloseServiceHandle(s);
                return s == nullptr;
            },
            10s);
        CloseServiceHandle(manager_);
    }
}

bool TRegisteredService::Start()
{
    if (!service_)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (StartServiceW(service_, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            return WaitForState(SERVICE_RUNNING, 30s);
        Sleep(1000);
    }
    return false;
}

bool TRegisteredService::Stop()
{
    SERVICE_STATUS status;
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    return WaitForState(SERVICE_STOPPED, 30s);
}

DWORD TRegisteredService::State() const
{
    SERVICE_STATUS status = {};
    return service_ && QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
}

bool TRegisteredService::WaitForState(DWORD state, std::chrono::milliseconds timeout) const
{
    return WaitUntil([&] { return State() == state; }, timeout, 200ms);
}

} // namespace e2e

namespace e2e {

HWND StatusList(HWND main)
{
    for (int i = 0;; ++i) {
        HWND list = FindChildOfClass(main, L"SysListView32", i);
        if (!list)
            return nullptr;
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        if (header && SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == kStatusColumns)
            return list;
    }
}

std::vector<ListRow> WaitForStatusRows(HWND main, const std::function<bool(const std::vector<ListRow>&)>& done,
                                       std::chrono::milliseconds timeout)
{
    std::vector<ListRow> rows;
    WaitUntil(
        [&] {
            HWND list = StatusList(main);
            if (!list)
                return false;
            rows = ListRows(list);
            return done(rows);
        },
        timeout, 250ms);
    return rows;
}

} // namespace e2e

namespace e2e {

std::wstring ArtifactPath(const std::wstring& fileName)
{
    const wchar_t* folder = _wgetenv(L"MENDREL_ARTIFACTS");
    std::wstring path = folder && *folder ? DosPath(std::string(folder, folder + wcslen(folder))) : L".";
    return path + L"\\" + fileName;
}

std::wstring DosPath(const std::string& path)
{
    std::wstring wide(path.begin(), path.end());
    if (path.empty() || path[0] != '/')
        return wide;
    using TConvert = WCHAR*(CDECL*)(LPCSTR);
    auto convert = reinterpret_cast<TConvert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR* dos = convert ? convert(path.c_str()) : nullptr;
    if (!dos)
        return wide;
    std::wstring result = dos;
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
}

bool ServiceRegistered(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

TTestServers::TTestServers()
{
    const char* file = std::getenv("MENDREL_TEST_SERVERS");
    if (!file)
        return;
    std::string text = ReadFileBytes(DosPath(file));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            ports_.emplace_back(line.substr(0, eq), std::atoi(line.c_str() + eq + 1));
    }
}

int TTestServers::Port(const std::string& name) const
{
    for (const auto& [key, port] : ports_) {
        if (key == name)
            return port;
    }
    return 0;
}

std::wstring TTestServers::URL(const std::wstring& path) const
{
    return L"http://127.0.0.1:" + std::to_wstring(Port("http")) + path;
}

TStandinHost::TStandinHost(const std::string& login, const std::string& password) : port_(FreeLoopbackPort())
{
    const std::wstring exe = folder_.Path() + L"\\MendrelService.exe";
    CopyFileW(ServiceExe().c_str(), exe.c_str(), FALSE);
    WriteFileBytes(folder_.Path() + L"\\DravexMendrel.ini",
                   "[Remote]\r\nEnabled=True\r\nListenAddress=127.0.0.1\r\nPort=" + std::to_string(port_) +
                       "\r\nLogin=" + login + "\r\nPassword=" + password + "\r\nUseSSL=False\r\n");
    service_ = std::make_unique<TRegisteredService>(exe);
}

bool TStandinHost::Start()
{
    return service_->Start() && WaitUntil([&] { return PortOpen(port_); }, 20s);
}

bool TStandinHost::Stop()
{
    return service_->Stop() && WaitUntil([&] { return !PortOpen(port_); }, 20s);
}

std::wstring TStandinHost::BaseURL() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

std::wstring TStandinHost::RebootLog() const { return folder_.Path() + L"\\RebootOrders.log"; }

std::vector<HWND> TrayIconWindows()
{
    std::vector<HWND> icons;
    for (HWND tray = FindWindowExW(nullptr, nullptr, L"__winex11_standalone_tray", nullptr); tray;
         tray = FindWindowExW(nullptr, tray, L"__winex11_standalone_tray", nullptr)) {
        for (HWND icon : ChildrenOfClass(tray, L"__winex11_tray_icon"))
            icons.push_back(icon);
    }
    return icons;
}

std::wstring TrayIconTip(HWND iconWindow)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(iconWindow, &pid);
    for (HWND w : TopWindows(pid)) {
        if (ClassName(w) != L"tooltips_class32")
            continue;
        for (const ToolTipTool& tool : ToolTipTools(w)) {
            if (tool.window == iconWindow)
                return tool.text;
        }
    }
    return {};
}

void ClickTrayIcon(HWND iconWindow)
{
    RECT r;
    GetClientRect(iconWindow, &r);
    LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(iconWindow, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(iconWindow, WM_LBUTTONUP, 0, at);
}

double ScreenColourShare(const RECT& rect, COLORREF colour, int tolerance)
{
    std::vector<COLORREF> pixels = ScreenPixels(rect);
    if (pixels.empty())
        return 0;
    size_t matching = 0;
    for (COLORREF p : pixels) {
        if (abs(GetRValue(p) - GetRValue(colour)) <= tolerance && abs(GetGValue(p) - GetGValue(colour)) <= tolerance &&
            abs(GetBValue(p) - GetBValue(colour)) <= tolerance)
            ++matching;
    }
    return static_cast<double>(matching) / static_cast<double>(pixels.size());
}

TRowColour StatusRowColour(HWND statusList, int index)
{
    RECT row = ListRowScreenRect(statusList, index);
    // The background fills most of a row; letters and grid lines take the rest.
    if (ScreenColourShare(row, RGB(0, 255, 0), 0) > 0.4)
        return TRowColour::Green;
    if (ScreenColourShare(row, RGB(255, 0, 0), 0) > 0.4)
        return TRowColour::Red;
    return TRowColour::Other;
}

const char* RowColourName(TRowColour colour)
{
    switch (colour) {
    case TRowColour::Green: return "green";
    case TRowColour::Red: return "red";
    default: return "other";
    }
}

std::wstring TrayPopupText(DWORD processId)
{
    for (HWND w : TopWindows(processId)) {
        if (!IsWindowVisible(w) || Text(w) != L"Mendrel Remote Client")
            continue;
        for (HWND label : ChildrenOfClass(w, L"Static")) {
            std::wstring text = Text(label);
            if (!text.empty())
                return text;
        }
    }
    return {};
}

} // namespace e2e
