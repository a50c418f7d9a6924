// Winsock before the Windows headers.
#include <winsock2.h>

#include "E2ESupport.h"

#include "ShellFolders.h"

#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <climits>
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
    folder_ = GetAppDataFolder() + L"MendrelRemoteClient";
    backup_ = folder_ + L".e2e-backup";
    RemoveTree(backup_);
    if (GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES)
        MoveFileW(folder_.c_str(), backup_.c_str());
}

TSettingsFolderGuard::~TSettingsFolderGuard()
{
    RemoveTree(folder_);
    if (GetFileAttributesW(backup_.c_str()) != INVALID_FILE_ATTRIBUTES)
        MoveFileW(backup_.c_str(), folder_.c_str());
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
        const bool right = e.left >= l.right - 2 && e.top < l.bottom + 4 && e.bottom > l.top - 4;
        const bool below = e.top >= l.bottom - 2 && e.top - l.bottom < 30 && e.left < l.right;
        if (!right && !below)
            continue;
        long distance = right ? e.left - l.right : 1000 + (e.top - l.bottom);
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
        if (header && SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == 7)
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
