// A small HTTP server inside the test program, on 127.0.0.1 and a port of its own, whose answers a scenario
// chooses per path: the report peers that misbehave.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

class TLoopbackServer {
public:
    // Writes the whole answer for a request path to the connection; returns when done or when stopping.
    using THandler = std::function<void(const std::string& path, SOCKET connection, const std::atomic<bool>& stop)>;

    explicit TLoopbackServer(THandler handler);
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    int Port() const { return port_; }
    std::wstring BaseURL() const;
    int Connections() const { return connections_.load(); }

    // Helpers for handlers: the whole buffer, or false when the peer went away.
    static bool SendAll(SOCKET connection, const std::string& data);
    static std::string Response(const std::string& body, const std::string& contentType = "text/xml");

private:
    void AcceptLoop();

    THandler handler_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

} // namespace e2e
