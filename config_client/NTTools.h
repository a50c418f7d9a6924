// Control of the Mendrel Windows service through the service control manager, the decision behind the main
// window's service buttons, the command-line switches, and the computer's name.
#pragma once

#include "InterfaceObjects.h"
#include "Unique.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

constexpr const wchar_t* kServiceName = L"Mendrel";

// Access rights, as the platform defines them.
constexpr DWORD kServiceManagerAllAccess = 0x10000000;
constexpr DWORD kServiceQueryAccess = 0x0004;
constexpr DWORD kServiceStartAccess = 0x0014;
constexpr DWORD kServiceStopAccess = 0x0020;

// Service states, as the platform defines them.
constexpr DWORD kServiceStopped = 1;
constexpr DWORD kServiceRunning = 4;

inline void CloseServiceHandleQuiet(SC_HANDLE h) { ::CloseServiceHandle(h); }
using UniqueServiceHandle = Unique<SC_HANDLE, &CloseServiceHandleQuiet>;

// How long the waits sleep between polls; tests shorten it, the program keeps ::Sleep.
using TSleepProc = std::function<void(DWORD milliseconds)>;

class TNTServiceControlManager : public TObject {
public:
    // Opens the service control manager; empty names mean the local computer and its default database.
    // A failure raises ELastWin32Error.
    TNTServiceControlManager(const std::wstring& machineName, const std::wstring& databaseName, DWORD desiredAccess);
    // Closes the handle if Close has not; a destructor never raises.
    ~TNTServiceControlManager() override;

    // Closes the handle; a failure raises the system error "System Error.  Code: %d.\r\n%s".
    void Close();

    // True when the service opens for a status query; any failure gives false.
    bool ServiceExists(const std::wstring& serviceName) const;
    // The current state code; a failure of the open or the query raises ELastWin32Error.
    DWORD GetServiceState(const std::wstring& serviceName) const;
    // Asks the service to start and polls up to 50 times for it to run; "already running" counts as success.
    void StartService(const std::wstring& serviceName) const;
    // Sends the stop control without waiting; its failure raises only with raiseOnError.
    void StopService(const std::wstring& serviceName, bool raiseOnError) const;

    SC_HANDLE Handle() const { return handle_.get(); }
    void SetSleep(TSleepProc sleep) { sleep_ = std::move(sleep); }
    void Sleep(DWORD milliseconds) const { sleep_(milliseconds); }

private:
    UniqueServiceHandle handle_;
    TSleepProc sleep_;
};

// The process-wide instance for the local computer with all access, created on first use. A failed creation keeps
// nothing, and the next call tries again.
TNTServiceControlManager& ServiceControlManager();
// Frees the process-wide instance (program end, tests).
void FreeServiceControlManager();
// How the process-wide instance is made (tests only); the default opens the local manager with all access.
using TServiceControlManagerFactory = std::function<std::unique_ptr<TNTServiceControlManager>()>;
void SetServiceControlManagerFactory(TServiceControlManagerFactory factory);

// Starts "Mendrel" if it is installed and waits for it to run (up to 60 polls of 500 ms after the start's own wait).
void StartServiceAndWait();
// Stops "Mendrel" if it is installed and waits for it to stop (up to 60 polls of 500 ms). A refused stop is ignored.
void StopServiceAndWait();
void RestartService();
// The stop-or-start button's command: stops a running service without waiting, starts a stopped one, and leaves
// a service in any other state alone.
void StopOrStartService();

// What the service buttons show for a state; no state means that the service does not exist.
struct TServiceButtons {
    bool SaveAndRestartEnabled = false;
    bool StopStartEnabled = false;
    bool RestartEnabled = false;
    std::optional<std::wstring> StopStartCaption; // none: leave the caption as it is
};
TServiceButtons ServiceButtonsFor(std::optional<DWORD> state);
// Reads the service's state from the process-wide instance and decides the buttons.
TServiceButtons QueryServiceButtons();

// The window-free start of the program: "/StartService" (which wins) or "/StopService" run and give the exit code;
// none means neither switch is present and the main window is to be created. An error is shown through the box
// and gives exit code 1.
using TApplicationErrorBox = std::function<void(const std::wstring& text)>;
std::optional<int> RunServiceSwitches(const std::vector<std::string>& args, const TApplicationErrorBox& box);
std::optional<int> RunServiceSwitches(const std::vector<std::string>& args);
// The text of the box for an error that ends the program: the error's kind and its message.
std::wstring ApplicationErrorText(const std::exception& error);
// The standard box titled "Application Error".
void ShowApplicationErrorBox(const std::wstring& text);

// The computer's name; a failure raises ELastWin32Error.
std::wstring GetLocalComputerName();
