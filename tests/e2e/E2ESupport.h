// What the end-to-end scenarios share: the built programs, the user's settings folder of the test prefix, and
// the start-failure box of a program.
#pragma once

#include "Driver.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

std::wstring RemoteClientExe();
std::wstring ConfigClientExe();
std::wstring ServiceExe();

// The remote client's settings folder for the programs that this process starts: a folder of its own below the
// Temp folder, named to them through the settings-folder variable, absent at first and removed at the end. The
// user's own settings folder is never touched.
class TSettingsFolderGuard {
public:
    TSettingsFolderGuard();
    ~TSettingsFolderGuard();
    const std::wstring& Folder() const { return folder_; }
    std::wstring File() const { return folder_ + L"\\Settings.xml"; }
    void Write(const std::string& content);
    std::string Read() const;

private:
    std::wstring parent_;
    std::wstring folder_;
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

namespace e2e {

// Where a scenario leaves its screenshots: $MENDREL_ARTIFACTS, or the working folder.
std::wstring ArtifactPath(const std::wstring& fileName);
// A Linux path as this process sees it (Z:\...); other paths unchanged.
std::wstring DosPath(const std::string& path);
bool ServiceRegistered(const wchar_t* name);

// The loopback test servers of tests/servers (started by the test run), by the names in their ports file.
class TTestServers {
public:
    // Reads the file that MENDREL_TEST_SERVERS names; Available() is false without it.
    TTestServers();
    bool Available() const { return !ports_.empty(); }
    int Port(const std::string& name) const;
    std::wstring URL(const std::wstring& path) const;

private:
    std::vector<std::pair<std::string, int>> ports_;
};

// The stand-in Mendrel service in a folder of its own, registered as the service "Mendrel" and listening on
// 127.0.0.1 with Basic authentication; started and stopped as often as a scenario likes, on the same port.
// At the end it is stopped, deleted and its folder removed.
class TStandinHost {
public:
    TStandinHost(const std::string& login, const std::string& password);
    bool Start();
    bool Stop();
    int Port() const { return port_; }
    std::wstring BaseURL() const;
    // The file where the stand-in records every reboot order.
    std::wstring RebootLog() const;

private:
    TScratchFolder folder_;
    int port_ = 0;
    std::unique_ptr<TRegisteredService> service_;
};

// The notification area as Wine's X11 driver keeps it without a system tray on the display: a window
// "Wine System Tray" holding one child window per icon, each with a tooltip of the icon's text. A click on
// such a window is told to the icon's owner with the owner's callback message, as the shell does.
std::vector<HWND> TrayIconWindows();
std::wstring TrayIconTip(HWND iconWindow);
void ClickTrayIcon(HWND iconWindow);
// The share (0 to 1) of the icon's pixels on the screen that are near the colour.
double ScreenColourShare(const RECT& rect, COLORREF colour, int tolerance = 40);

} // namespace e2e

namespace e2e {
// The remote client's status rows as their background shows them: green (0, 255, 0), red (255, 0, 0), or
// neither (selected, never checked, or hidden).
enum class TRowColour { Other, Green, Red };
TRowColour StatusRowColour(HWND statusList, int index);
const char* RowColourName(TRowColour colour);
// The text of the remote client's tray pop-up while it shows, else empty.
std::wstring TrayPopupText(DWORD processId);
} // namespace e2e
