// MendrelService: the stand-in Mendrel service. Registered with the service control manager as "Mendrel" it runs
// as a service; "/console" runs the same server in the console until Ctrl+C.
#include "StandinServer.h"

#include "Exceptions.h"
#include "Strings.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace {

constexpr wchar_t kServiceName[] = L"Mendrel";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

struct TRunningServer {
    std::unique_ptr<TStandinService> Service;
    std::unique_ptr<TStandinServer> Server;
};

// The settings are read once, at the start, as the real service does.
TRunningServer StartServer()
{
    TRunningServer running;
    TStandinSettings settings = ReadStandinSettings(FileBesideProgram(L"DravexMendrel.ini"));
    running.Service = std::make_unique<TStandinService>(settings, FileBesideProgram(L"RebootOrders.log"));
    if (settings.Enabled) {
        running.Server = std::make_unique<TStandinServer>(*running.Service);
        running.Server->Start(settings.Port, settings.ListenAddress);
    }
    return running;
}

void ReportServiceState(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ServiceControl(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        ReportServiceState(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, &ServiceControl, nullptr);
    if (!g_statusHandle)
        return;
    ReportServiceState(SERVICE_START_PENDING);
    try {
        TRunningServer running = StartServer();
        ReportServiceState(SERVICE_RUNNING);
        WaitForSingleObject(g_stopEvent, INFINITE);
        if (running.Server)
            running.Server->Stop();
        ReportServiceState(SERVICE_STOPPED);
    } catch (const EOSError& e) {
        ReportServiceState(SERVICE_STOPPED, e.ErrorCode ? e.ErrorCode : ERROR_SERVICE_SPECIFIC_ERROR);
    } catch (const std::exception&) {
        ReportServiceState(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    }
}

BOOL WINAPI ConsoleControl(DWORD)
{
    SetEvent(g_stopEvent);
    return TRUE;
}

int RunConsole()
{
    SetConsoleCtrlHandler(&ConsoleControl, TRUE);
    TRunningServer running = StartServer();
    if (running.Server)
        std::printf("Mendrel stand-in listening on port %d\n", running.Server->Port());
    else
        std::printf("Mendrel stand-in: the remote control is disabled\n");
    std::fflush(stdout);
    WaitForSingleObject(g_stopEvent, INFINITE);
    if (running.Server)
        running.Server->Stop();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    try {
        if (argc > 1 && (_wcsicmp(argv[1], L"/console") == 0 || _wcsicmp(argv[1], L"-console") == 0))
            return RunConsole();
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), &ServiceMain}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) {
            std::fprintf(stderr, "MendrelService: run it as the service \"Mendrel\", or with /console\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "MendrelService: %s\n", e.what());
        return 1;
    }
}
