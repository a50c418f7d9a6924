// A minimal stand-in for the watchdog service, registered by the service-control tests under the name "Mendrel".
// Options on its command line (in the service's binary path):
//   /HoldStart   stay start-pending until the release event is set
//   /HoldStop    stay stop-pending, after a stop request, until the release event is set
// Every hold ends by itself after kHoldLimitMs, so a test that dies never leaves a service stuck.
#include <windows.h>

#include <cwchar>

namespace {

constexpr DWORD kHoldLimitMs = 20000;
constexpr const wchar_t* kReleaseEventName = L"Global\\MendrelTestServiceRelease";

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stopEvent = nullptr;
HANDLE g_releaseEvent = nullptr;
bool g_holdStart = false;
bool g_holdStop = false;

void Report(DWORD state)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) ? kHoldLimitMs : 0;
    ++g_status.dwCheckPoint;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(L"Mendrel", Handler, nullptr);
    if (!g_statusHandle)
        return;
    Report(SERVICE_START_PENDING);
    if (g_holdStart)
        WaitForSingleObject(g_releaseEvent, kHoldLimitMs);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopEvent, INFINITE);
    if (g_holdStop)
        WaitForSingleObject(g_releaseEvent, kHoldLimitMs);
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/HoldStart") == 0)
            g_holdStart = true;
        else if (_wcsicmp(argv[i], L"/HoldStop") == 0)
            g_holdStop = true;
    }
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_releaseEvent = CreateEventW(nullptr, TRUE, FALSE, kReleaseEventName);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L"Mendrel"), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
