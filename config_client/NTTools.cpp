#include "NTTools.h"

#include "LangTools.h"
#include "LiteTools.h"
#include "Strings.h"
#include "WinTools.h"

#include <typeinfo>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif
#include <cstdlib>

namespace {

constexpr int kStartPolls = 50;
constexpr DWORD kStartPollFailedMs = 250;
constexpr DWORD kStartPollMs = 500;
constexpr int kWaitPolls = 60;
constexpr DWORD kWaitPollMs = 500;
constexpr DWORD kErrorServiceAlreadyRunning = 1056;

std::unique_ptr<TNTServiceControlManager> g_manager;

std::unique_ptr<TNTServiceControlManager> OpenLocalManager()
{
    return std::make_unique<TNTServiceControlManager>(L"", L"", kServiceManagerAllAccess);
}

TServiceControlManagerFactory& Factory()
{
    static TServiceControlManagerFactory factory = OpenLocalManager;
    return factory;
}

const wchar_t* NameOrNull(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

UniqueServiceHandle OpenServiceOrRaise(SC_HANDLE manager, const std::wstring& name, DWORD access)
{
    UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), access));
    if (!service)
        throw ELastWin32Error();
    return service;
}

// The bare class name of an exception, for the box that ends the program.
std::string KindName(const std::exception& error)
{
    std::string name = typeid(error).name();
#if defined(__GNUC__)
    int status = 0;
    if (char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status)) {
        name = plain;
        std::free(plain);
    }
#endif
    if (name.compare(0, 6, "class ") == 0)
        name.erase(0, 6);
    size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

} // namespace

TNTServiceControlManager::TNTServiceControlManager(const std::wstring& machineName, const std::wstring& databaseName,
                                                   DWORD desiredAccess)
    : handle_(OpenSCManagerW(NameOrNull(machineName), NameOrNull(databaseName), desiredAccess)),
      sleep_([](DWORD ms) { ::Sleep(ms); })
{
    if (!handle_)
        throw ELastWin32Error();
}

TNTServiceControlManager::~TNTServiceControlManager() = default;

void TNTServiceControlManager::Close()
{
    if (!handle_)
        return;
    if (!CloseServiceHandle(handle_.release())) {
        DWORD code = GetLastError();
        throw EOSError(Format("System Error.  Code: %d.\r\n%s", static_cast<int>(code), SysErrorText(code).c_str()),
                       code);
    }
}

bool TNTServiceControlManager::ServiceExists(const std::wstring& serviceName) const
{
    return static_cast<bool>(
        UniqueServiceHandle(OpenServiceW(handle_.get(), serviceName.c_str(), kServiceQueryAccess)));
}

DWORD TNTServiceControlManager::GetServiceState(const std::wstring& serviceName) const
{
    UniqueServiceHandle service = OpenServiceOrRaise(handle_.get(), serviceName, kServiceQueryAccess);
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.get(), &status))
        throw ELastWin32Error();
    return status.dwCurrentState;
}

// Reaching the end of the polls without the running state is not an error: the caller shows what was reached.
void TNTServiceControlManager::StartService(const std::wstring& serviceName) const
{
    UniqueServiceHandle service = OpenServiceOrRaise(handle_.get(), serviceName, kServiceStartAccess);
    if (!::StartServiceW(service.get(), 0, nullptr) && GetLastError() != kErrorServiceAlreadyRunning)
        throw ELastWin32Error();
    for (int poll = 0; poll < kStartPolls; ++poll) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service.get(), &status))
            Sleep(kStartPollFailedMs);
        else if (status.dwCurrentState == kServiceRunning)
            break;
        else
            Sleep(kStartPollMs);
    }
}

void TNTServiceControlManager::StopService(const std::wstring& serviceName, bool raiseOnError) const
{
    UniqueServiceHandle service = OpenServiceOrRaise(handle_.get(), serviceName, kServiceStopAccess);
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status) && raiseOnError)
        throw ELastWin32Error();
}

TNTServiceControlManager& ServiceControlManager()
{
    if (!g_manager)
        g_manager = Factory()();
    return *g_manager;
}

void FreeServiceControlManager() { g_manager.reset(); }

void SetServiceControlManagerFactory(TServiceControlManagerFactory factory)
{
    Factory() = factory ? std::move(factory) : TServiceControlManagerFactory(OpenLocalManager);
}

void StartServiceAndWait()
{
    TNTServiceControlManager& manager = ServiceControlManager();
    if (!manager.ServiceExists(kServiceName))
        return;
    manager.StartService(kServiceName);
    for (int poll = 0; poll < kWaitPolls; ++poll) {
        if (manager.GetServiceState(kServiceName) == kServiceRunning)
            break;
        manager.Sleep(kWaitPollMs);
    }
}

void StopServiceAndWait()
{
    TNTServiceControlManager& manager = ServiceControlManager();
    if (!manager.ServiceExists(kServiceName))
        return;
    manager.StopService(kServiceName, false);
    for (int poll = 0; poll < kWaitPolls; ++poll) {
        if (manager.GetServiceState(kServiceName) == kServiceStopped)
            break;
        manager.Sleep(kWaitPollMs);
    }
}

void RestartService()
{
    StopServiceAndWait();
    StartServiceAndWait();
}

void StopOrStartService()
{
    TNTServiceControlManager& manager = ServiceControlManager();
    if (!manager.ServiceExists(kServiceName))
        return;
    DWORD state = manager.GetServiceState(kServiceName);
    if (state == kServiceRunning)
        manager.StopService(kServiceName, false);
    else if (state == kServiceStopped)
        manager.StartService(kServiceName);
}

TServiceButtons ServiceButtonsFor(std::optional<DWORD> state)
{
    TServiceButtons buttons;
    if (!state)
        return buttons;
    bool running = *state == kServiceRunning;
    buttons.SaveAndRestartEnabled = running;
    buttons.StopStartEnabled = true;
    buttons.RestartEnabled = running;
    buttons.StopStartCaption = running
                                   ? CurrentLocaleData().GetWideText("UClientMainFM_StopService", L"S&top service")
                                   : CurrentLocaleData().GetWideText("UClientMainFM_StartService", L"S&tart service");
    return buttons;
}

TServiceButtons QueryServiceButtons()
{
    TNTServiceControlManager& manager = ServiceControlManager();
    if (!manager.ServiceExists(kServiceName))
        return ServiceButtonsFor(std::nullopt);
    return ServiceButtonsFor(manager.GetServiceState(kServiceName));
}

std::optional<int> RunServiceSwitches(const std::vector<std::string>& args, const TApplicationErrorBox& box)
{
    try {
        if (ParamExists(args, "/StartService")) {
            StartServiceAndWait();
            return 0;
        }
        if (ParamExists(args, "/StopService")) {
            StopServiceAndWait();
            return 0;
        }
        return std::nullopt;
    } catch (const std::exception& error) {
        box(ApplicationErrorText(error));
        return 1;
    }
}

std::optional<int> RunServiceSwitches(const std::vector<std::string>& args)
{
    return RunServiceSwitches(args, ShowApplicationErrorBox);
}

std::wstring ApplicationErrorText(const std::exception& error)
{
    std::wstring module(MAX_PATH, L'\0');
    module.resize(GetModuleFileNameW(nullptr, module.data(), MAX_PATH));
    size_t slash = module.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        module.erase(0, slash + 1);
    return L"Exception " + AnsiToWide(KindName(error)) + L" in module " + module + L".\r\n" + AnsiToWide(error.what());
}

void ShowApplicationErrorBox(const std::wstring& text)
{
    MessageBoxW(nullptr, text.c_str(), L"Application Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::wstring GetLocalComputerName()
{
    wchar_t name[261] = {};
    DWORD size = 261;
    if (!GetComputerNameW(name, &size))
        throw ELastWin32Error();
    return std::wstring(name, size);
}
