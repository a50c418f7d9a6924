// What the end-to-end scenarios share: the built programs, the user's settings folder of the test prefix, and
// the start-failure box of a program.
#pragma once

#include "Driver.h"

#include <string>

namespace e2e {

std::wstring RemoteClientExe();
std::wstring ConfigClientExe();
std::wstring ServiceExe();

// The remote client's settings folder in this prefix; a scenario starts with it absent and leaves it as found.
class TSettingsFolderGuard {
public:
    TSettingsFolderGuard();
    ~TSettingsFolderGuard();
    const std::wstring& Folder() const { return folder_; }
    std::wstring File() const { return folder_ + L"\\Settings.xml"; }
    void Write(const std::string& content);
    std::string Read() const;

private:
    std::wstring folder_;
    std::wstring backup_;
};

// A message box of the process (a #32770 dialog): its caption and text, and a way to answer it.
struct TBox {
    HWND Window = nullptr;
    std::wstring Caption;
    std::wstring Text;
};
TBox WaitForBox(DWORD processId, std::chrono::milliseconds timeout = 10s);
void AnswerBox(HWND box, int buttonId = IDOK);

// A scratch folder of its own under the temporary folder, removed with everything in it.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

} // namespace e2e
