#include "LoopbackServer.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace e2e {

TLoopbackServer::TLoopbackServer(THandler handler) : handler_(std::move(handler))
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 64) != 0)
        throw std::runtime_error("cannot listen on loopback");
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TLoopbackServer::~TLoopbackServer()
{
    stop_ = true;
    closesocket(listener_);
    acceptor_.join();
    for (auto& w : workers_)
        w.join();
    WSACleanup();
}

std::wstring TLoopbackServer::BaseURL() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

void TLoopbackServer::AcceptLoop()
{
    while (!stop_) {
        SOCKET connection = accept(listener_, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            return;
        ++connections_;
        workers_.emplace_back([this, connection] {
            // The request line and headers, up to the empty line (bounded).
            std::string request;
            char buffer[2048];
            DWORD timeout = 10000;
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
                int n = recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
            }
            size_t start = request.find(' ');
            size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
            std::string path = end == std::string::npos ? "/" : request.substr(start + 1, end - start - 1);
            handler_(path, connection, stop_);
            shutdown(connection, SD_BOTH);
            closesocket(connection);
        });
    }
}

bool TLoopbackServer::SendAll(SOCKET connection, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        int n = send(connection, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string TLoopbackServer::Response(const std::string& body, const std::string& contentType)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace e2e
