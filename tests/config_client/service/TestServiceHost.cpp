#include "TestServiceHost.h"

#include "NTTools.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr const wchar_t* kTestServiceExe = L"MendrelTestService.exe";
constexpr const wchar_t* kReleaseEventName = L"Global\\MendrelTestServiceRelease";
// A new prefix's own services may still be starting when the first test runs.
constexpr ULONGLONG kSettleLimitMs = 60000;

std::wstring TestServicePath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + kTestServiceExe;
}

} // namespace

void TTestServiceHost::SetUp()
{
    manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager_) << ::GetLastError();
    release_.reset(::CreateEventW(nullptr, TRUE, FALSE, kReleaseEventName));
    ASSERT_TRUE(release_);
    ASSERT_TRUE(WaitUntil([&] { return NoServiceIsPending(); }, kSettleLimitMs))
        << "the system's own services did not settle";
    Remove();
    ASSERT_FALSE(Exists()) << "a \"Mendrel\" service that is not the tests' own is installed";
}

void TTestServiceHost::TearDown()
{
    if (!manager_)
        return;
    Remove();
    EXPECT_FALSE(Exists()) << "the test service was not removed";
}

void TTestServiceHost::Install(const std::wstring& options)
{
    std::wstring command = L"\"" + TestServicePath() + L"\"" + (options.empty() ? L"" : L" " + options);
    UniqueServiceHandle service(::CreateServiceW(manager_.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                 command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << "CreateServiceW failed: " << ::GetLastError();
}

bool TTestServiceHost::Exists() const
{
    return static_cast<bool>(UniqueServiceHandle(::OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_STATUS)));
}

SERVICE_STATUS_PROCESS TTestServiceHost::Status() const
{
    SERVICE_STATUS_PROCESS status = {};
    UniqueServiceHandle service(::OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_STATUS));
    DWORD needed = 0;
    if (service)
        ::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                               &needed);
    return status;
}

void TTestServiceHost::StartDirectly(DWORD until)
{
    UniqueServiceHandle service(::OpenServiceW(manager_.get(), kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);
    ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << ::GetLastError();
    ASSERT_TRUE(WaitUntil([&] { return State() == until; })) << "state " << State();
}

void TTestServiceHost::ReleaseHolds() { ::SetEvent(release_.get()); }

void TTestServiceHost::ArmHolds() { ::ResetEvent(release_.get()); }

void TTestServiceHost::Remove()
{
    ReleaseHolds();
    if (IsOwnService()) {
        UniqueServiceHandle service(::OpenServiceW(manager_.get(), kServiceName, SERVICE_ALL_ACCESS));
        WaitUntil([&] {
            DWORD s = State();
            return s == SERVICE_STOPPED || s == SERVICE_RUNNING;
        });
        SERVICE_STATUS status = {};
        if (State() != SERVICE_STOPPED)
            ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitUntil([&] { return State() == SERVICE_STOPPED; });
        ::DeleteService(service.get());
        service.reset();
        WaitUntil([&] { return !Exists(); });
    }
    ArmHolds();
}

bool TTestServiceHost::IsOwnService() const
{
    UniqueServiceHandle service(::OpenServiceW(manager_.get(), kServiceName, SERVICE_QUERY_CONFIG));
    if (!service)
        return false;
    DWORD needed = 0;
    ::QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 16);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    return ::QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed) &&
           std::wstring(config->lpBinaryPathName).find(kTestServiceExe) != std::wstring::npos;
}

bool TTestServiceHost::NoServiceIsPending() const
{
    DWORD needed = 0, count = 0, resume = 0;
    ::EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed,
                            &count, &resume, nullptr);
    std::vector<BYTE> buffer(needed + 1024);
    resume = 0;
    if (!::EnumServicesStatusExW(manager_.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr))
        return true;
    auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        DWORD s = services[i].ServiceStatusProcess.dwCurrentState;
        if (s == SERVICE_START_PENDING || s == SERVICE_STOP_PENDING)
            return false;
    }
    return true;
}
