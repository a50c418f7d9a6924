// The socket headers go before anything that brings in windows.h.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "UNetworkState.h"

#include <netlistmgr.h>
#include <wrl/client.h>

#include <set>
#include <vector>

namespace {

// Windows' own verdict: connected, but to no network with internet access. Unknown (no network list, no COM on
// this thread) is not a no.
bool NetworkListSaysNoInternet()
{
    Microsoft::WRL::ComPtr<INetworkListManager> networks;
    if (FAILED(::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&networks))))
        return false;
    NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    if (FAILED(networks->GetConnectivity(&connectivity)))
        return false;
    return (connectivity & (NLM_CONNECTIVITY_IPV4_INTERNET | NLM_CONNECTIVITY_IPV6_INTERNET)) == 0;
}

bool HasAdapterWithGateway()
{
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_UNSPEC,
                                        GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                            GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA)
        return false;
    if (result != NO_ERROR)
        return true;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK || adapter->OperStatus != IfOperStatusUp)
            continue;
        if (adapter->FirstGatewayAddress)
            return true;
    }
    return false;
}

} // namespace

bool ComputerHasNetwork() { return HasAdapterWithGateway() && !NetworkListSaysNoInternet(); }

namespace {

void WINAPI InterfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE)
{
    auto* changed = static_cast<std::function<void()>*>(context);
    if (changed && *changed)
        (*changed)();
}

} // namespace

TNetworkChangeNotification::TNetworkChangeNotification(std::function<void()> changed) : changed_(std::move(changed))
{
    HANDLE handle = nullptr;
    if (::NotifyIpInterfaceChange(AF_UNSPEC, &InterfaceChanged, &changed_, FALSE, &handle) == NO_ERROR)
        handle_ = handle;
}

// Cancelling waits for a callback in progress, so none runs once this returns.
TNetworkChangeNotification::~TNetworkChangeNotification()
{
    if (handle_)
        ::CancelMibChangeNotify2(handle_);
}

void TCheckWaves::Started(const void* row, int32_t downtimeBefore)
{
    ++waves_[current_].Started;
    running_[row] = {current_, downtimeBefore};
}

std::optional<std::vector<TWaveCheck>> TCheckWaves::Done(const void* row, const std::wstring& host,
                                                         bool failedToConnect)
{
    auto running = running_.find(row);
    if (running == running_.end())
        return std::nullopt;
    auto [id, downtimeBefore] = running->second;
    running_.erase(running);
    auto wave = waves_.find(id);
    if (wave == waves_.end())
        return std::nullopt;
    wave->second.Done.push_back({row, host, failedToConnect, downtimeBefore});
    if (wave->second.Done.size() < wave->second.Started)
        return std::nullopt;
    std::vector<TWaveCheck> checks = std::move(wave->second.Done);
    waves_.erase(wave);
    return checks;
}

void TCheckWaves::Clear()
{
    waves_.clear();
    running_.clear();
}

bool WaveFailedEverywhere(const std::vector<TWaveCheck>& checks)
{
    std::set<std::wstring> hosts;
    for (const TWaveCheck& check : checks) {
        if (!check.FailedToConnect)
            return false;
        hosts.insert(check.Host);
    }
    return hosts.size() >= 2;
}
