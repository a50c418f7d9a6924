// Whether this computer itself can reach a network, and the checks of a wave that tell when it cannot: when
// every item that a wave checked failed to connect, on two hosts or more, and the computer has no working
// network, the client says so once instead of listing every item, and charges the hosts no downtime for it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

inline constexpr wchar_t kNoNetworkText[] = L"No network on this computer: the checks cannot reach any host";

// A connected adapter other than the loopback, with a default gateway, and no word from the network list that
// none of the networks reaches the internet. When the adapters or the list cannot be read, that part counts as
// yes: the client never claims that the computer is offline without knowing it.
bool ComputerHasNetwork();

// Calls changed, on a thread of the system's, whenever an IP interface of the computer changes (the owner posts
// to its window from there). Without the notification (an older system), nothing calls back.
class TNetworkChangeNotification {
public:
    explicit TNetworkChangeNotification(std::function<void()> changed);
    ~TNetworkChangeNotification();
    TNetworkChangeNotification(const TNetworkChangeNotification&) = delete;
    TNetworkChangeNotification& operator=(const TNetworkChangeNotification&) = delete;
    bool Active() const { return handle_ != nullptr; }

private:
    std::function<void()> changed_;
    HANDLE handle_ = nullptr;
};

// One check of a wave as it called back.
struct TWaveCheck {
    const void* Row = nullptr;
    // The host the check went to (the window records the URL and works the host out when it needs it).
    std::wstring Host;
    bool FailedToConnect = false;
    // The item's downtime when its check started.
    int32_t DowntimeBefore = 0;
};

// The checks started together (a tick of the timer, a rebuild, "Refresh now", the network coming back) form a
// wave, which ends with the callback of its last check.
class TCheckWaves {
public:
    // The checks started from now on belong to a new wave.
    void NewWave() { ++current_; }
    void Started(const void* row, int32_t downtimeBefore);
    // A check called back: the checks of its wave once this was the last of them, else nothing.
    std::optional<std::vector<TWaveCheck>> Done(const void* row, const std::wstring& host, bool failedToConnect);
    // Rows that were removed never call back: their waves are dropped.
    void Clear();

private:
    struct TWave {
        size_t Started = 0;
        std::vector<TWaveCheck> Done;
    };
    uint64_t current_ = 1;
    std::unordered_map<uint64_t, TWave> waves_;
    // The wave of each running check, with its downtime at the start.
    std::unordered_map<const void*, std::pair<uint64_t, int32_t>> running_;
};

// Every check of the wave failed to connect, and they went to two hosts or more.
bool WaveFailedEverywhere(const std::vector<TWaveCheck>& checks);
