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

namespace e2e {

// The edit field that stands beside a label (to its right, or just below it), found by geometry.
HWND FindFieldBeside(HWND parent, const std::wstring& labelText);
// True when something accepts connections on 127.0.0.1:port.
bool PortOpen(int port);
int FreeLoopbackPort();

// The stand-in Mendrel service registered with the prefix's service control manager for one scenario:
// stopped and deleted at the end, so the prefix's services are left as found.
class TRegisteredService {
public:
    explicit TRegisteredService(const std::wstring& exePath);
    ~TRegisteredService();
    bool Start();
    bool Stop();
    // 1 stopped, 4 running; 0 when it cannot be queried.
    DWORD State() const;
    bool WaitForState(DWORD state, std::chrono::milliseconds timeout) const;

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

} // namespace e2e

namespace e2e {
// The remote client's status list: its list view with seven columns (null until the window has built it).
HWND StatusList(HWND main);
// The status list's rows once the window has them, waiting until done(rows) or the time is up.
std::vector<ListRow> WaitForStatusRows(HWND main, const std::function<bool(const std::vector<ListRow>&)>& done,
                                       std::chrono::milliseconds timeout);
} // namespace e2e
