#include "E2ESupport.h"

#include "SpecialFolders.h"

#include <shellapi.h>

#include <filesystem>
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
