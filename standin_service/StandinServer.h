// The stand-in service's remote-control server: settings from its ini file, the HTTP exchange and the listener.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

constexpr int kDefaultStandinPort = 3745;

// The "Remote" section of "DravexMendrel.ini".
struct TStandinSettings {
    bool Enabled = false;
    int Port = kDefaultStandinPort;
    std::string Login;
    std::string Password;
    // "ListenAddress": an IPv4 address to listen on; empty for every address.
    std::string ListenAddress;
};
TStandinSettings ReadStandinSettings(const std::wstring& iniPath);
// "DravexMendrel.ini" (or another name) beside the running program.
std::wstring FileBesideProgram(const wchar_t* name);

struct THttpRequest {
    std::string Method;
    std::string Path;
    std::map<std::string, std::string> Headers; // names in lower case
};
// The request line and headers up to the blank line; nothing when they are not HTTP.
std::optional<THttpRequest> ParseHttpRequest(const std::string& head);

struct THttpResponse {
    int Code = 200;
    std::string Reason = "OK";
    std::string ContentType = "text/html";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Serialize() const;
};

std::string Base64Decode(const std::string& text);

struct TMemoryFigures {
    uint64_t PhysicalFreeMB = 0;
    uint64_t TotalFreeMB = 0;
};
TMemoryFigures CurrentMemoryFigures();

// What the service answers, apart from the sockets.
class TStandinService {
public:
    TStandinService(TStandinSettings settings, std::wstring rebootLogPath,
                    std::function<TMemoryFigures()> memory = &CurrentMemoryFigures);
    THttpResponse Handle(const THttpRequest& request, const std::string& peer);
    const TStandinSettings& Settings() const { return settings_; }

private:
    bool Authorized(const THttpRequest& request) const;
    THttpResponse Report() const;
    THttpResponse Reboot(const std::string& peer);

    TStandinSettings settings_;
    std::wstring rebootLogPath_;
    std::function<TMemoryFigures()> memory_;
    std::mutex rebootMutex_;
};

// Listens on one address or every address and serves each connection on a thread of its own; Stop returns promptly.
class TStandinServer {
public:
    explicit TStandinServer(TStandinService& service) : service_(service) {}
    ~TStandinServer() { Stop(); }
    TStandinServer(const TStandinServer&) = delete;
    TStandinServer& operator=(const TStandinServer&) = delete;

    // Port 0 lets the system choose; an empty address listens on every one. Raises ELastWin32Error when the
    // address or port cannot be had.
    void Start(int port, const std::string& address = {});
    int Port() const { return port_; }
    void Stop();

private:
    void AcceptLoop();
    void Serve(SOCKET client, std::string peer);
    void JoinFinishedClients();

    TStandinService& service_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::set<SOCKET> clients_;
    // The threads that serve connections, joined once they have said that they are done (or by Stop): a joined
    // thread touches nothing of the server any more.
    std::map<std::thread::id, std::thread> clientThreads_;
    std::vector<std::thread::id> finishedClients_;
};
