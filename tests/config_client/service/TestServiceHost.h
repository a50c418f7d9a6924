// The tests' stand-in service (MendrelTestService.exe, beside the test program) registered as "Mendrel" with
// the system's service control manager while a test needs it. Only the tests' own service is ever removed,
// so the system's services are left as they were found.
#pragma once

#include "NTTools.h"
#include "Unique.h"

#include <windows.h>

#include <string>

// Polls a condition every 50 ms until it holds or the limit has passed.
template <typename F>
bool WaitUntil(F condition, ULONGLONG limitMs = 30000)
{
    ULONGLONG end = ::GetTickCount64() + limitMs;
    while (!condition()) {
        if (::GetTickCount64() > end)
            return false;
        ::Sleep(50);
    }
    return true;
}

class TTestServiceHost {
public:
    // Opens the manager, waits (bounded) until the system's own services have settled, and removes what a
    // run that died half-way left of the tests' service. Fails when someone else's "Mendrel" is installed.
    // Call through ASSERT_NO_FATAL_FAILURE.
    void SetUp();
    // Removes the tests' service and checks that it is gone.
    void TearDown();

    // Registers the service, demand start; options go to its command line (/HoldStart, /HoldStop).
    void Install(const std::wstring& options = L"");
    bool Exists() const;
    SERVICE_STATUS_PROCESS Status() const;
    DWORD State() const { return Status().dwCurrentState; }
    // Starts the service without the code under test and waits until it has reached the state.
    void StartDirectly(DWORD until = SERVICE_RUNNING);

    // The holds of /HoldStart and /HoldStop last until they are released; ArmHolds makes them hold again.
    void ReleaseHolds();
    void ArmHolds();
    // Stops and deletes the tests' service (releasing its holds for that) and arms the holds again.
    void Remove();

private:
    bool NoServiceIsPending() const;
    bool IsOwnService() const;

    UniqueServiceHandle manager_;
    UniqueHandle release_;
};
