#include "StandinServer.h"

#include "Strings.h"
#include "WinTools.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

std::string IniString(const std::wstring& path, const wchar_t* key)
{
    wchar_t buffer[1024] = {};
    GetPrivateProfileStringW(L"Remote", key, L"", buffer, ARRAYSIZE(buffer), path.c_str());
    return WideToAnsi(buffer);
}

std::string LocalTimeText()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return Format("%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

THttpResponse Page(int code, const char* reason, const std::string& body)
{
    THttpResponse response;
    response.Code = code;
    response.Reason = reason;
    response.Body = body;
    return response;
}

constexpr size_t kMaxRequestHead = 16384;
constexpr DWORD kClientTimeoutMs = 5000;

} // namespace

TStandinSettings ReadStandinSettings(const std::wstring& iniPath)
{
    // The profile functions look keys and sections up without regard to case.
    TStandinSettings settings;
    std::string enabled = Lower(Trim(IniString(iniPath, L"Enabled")));
    settings.Enabled = enabled == "1" || enabled == "true" || enabled == "yes";
    std::string port = Trim(IniString(iniPath, L"Port"));
    if (!port.empty()) {
        char* end = nullptr;
        long value = std::strtol(port.c_str(), &end, 10);
        if (end && *end == '\0' && value >= 0 && value <= 65535)
            settings.Port = static_cast<int>(value);
    }
    settings.Login = IniString(iniPath, L"Login");
    settings.Password = IniString(iniPath, L"Password");
    settings.ListenAddress = Trim(IniString(iniPath, L"ListenAddress"));
    return settings;
}

std::wstring FileBesideProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring result(path, n);
    size_t slash = result.find_last_of(L"\\/");
    result.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return result + name;
}

std::optional<THttpRequest> ParseHttpRequest(const std::string& head)
{
    std::istringstream in(head);
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    std::istringstream first(Trim(line));
    THttpRequest request;
    std::string version;
    if (!(first >> request.Method >> request.Path >> version) || version.compare(0, 5, "HTTP/") != 0 ||
        request.Path.empty() || request.Path[0] != '/')
        return std::nullopt;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty())
            break;
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        request.Headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
    }
    size_t query = request.Path.find('?');
    if (query != std::string::npos)
        request.Path.resize(query);
    return request;
}

std::string THttpResponse::Serialize() const
{
    std::string out = Format("HTTP/1.0 %d %s\r\nContent-Type: %s\r\nContent-Length: %u\r\n"
                             "Cache-Control: no-cache\r\nConnection: close\r\n",
                             Code, Reason.c_str(), ContentType.c_str(), static_cast<unsigned>(Body.size()));
    for (const auto& [name, value] : Headers)
        out += name + ": " + value + "\r\n";
    return out + "\r\n" + Body;
}

std::string Base64Decode(const std::string& text)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        size_t v = kAlphabet.find(c);
        if (v == std::string::npos)
            return {};
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

TMemoryFigures CurrentMemoryFigures()
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    TMemoryFigures figures;
    if (GlobalMemoryStatusEx(&status)) {
        figures.PhysicalFreeMB = status.ullAvailPhys / (1024 * 1024);
        figures.TotalFreeMB = status.ullAvailPageFile / (1024 * 1024);
    }
    return figures;
}

TStandinService::TStandinService(TStandinSettings settings, std::wstring rebootLogPath,
                                 std::function<TMemoryFigures()> memory)
    : settings_(std::move(settings)), rebootLogPath_(std::move(rebootLogPath)), memory_(std::move(memory))
{
}

bool TStandinService::Authorized(const THttpRequest& request) const
{
    auto it = request.Headers.find("authorization");
    if (it == request.Headers.end() || Lower(it->second.substr(0, 6)) != "basic ")
        return false;
    return Base64Decode(Trim(it->second.substr(6))) == settings_.Login + ":" + settings_.Password;
}

THttpResponse TStandinService::Handle(const THttpRequest& request, const std::string& peer)
{
    if (request.Method != "GET")
        return Page(405, "Method Not Allowed", "<html><body>Only GET is served.</body></html>");
    if (!Authorized(request)) {
        THttpResponse response = Page(401, "Unauthorized", "<html><body>401 Unauthorized</body></html>");
        response.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"Mendrel\"");
        return response;
    }
    if (request.Path == "/Report")
        return Report();
    if (request.Path == "/Reboot")
        return Reboot(peer);
    if (request.Path == "/")
        return Page(200, "OK",
                    "<html><head><title>Mendrel</title></head><body><h1>Mendrel</h1>"
                    "<p><a href=\"/Report\">Report</a></p></body></html>");
    return Page(404, "Not Found", "<html><body>404 Not Found</body></html>");
}

THttpResponse TStandinService::Report() const
{
    TMemoryFigures memory = memory_();
    THttpResponse response;
    response.ContentType = "text/xml";
    response.Body = Format("<?xml version=\"1.0\"?>\r\n<Report><CurrentTime>%s</CurrentTime><Memory>"
                           "<PhysicalFree>%llu</PhysicalFree><TotalFree>%llu</TotalFree></Memory></Report>",
                           LocalTimeText().c_str(), static_cast<unsigned long long>(memory.PhysicalFreeMB),
                           static_cast<unsigned long long>(memory.TotalFreeMB));
    return response;
}

// The order is recorded, never carried out.
THttpResponse TStandinService::Reboot(const std::string& peer)
{
    std::lock_guard<std::mutex> lock(rebootMutex_);
    std::ofstream log(std::filesystem::path(rebootLogPath_), std::ios::app);
    log << LocalTimeText() << " reboot ordered by " << peer << "\n";
    if (!log)
        return Page(500, "Internal Server Error", "<html><body>The order could not be recorded.</body></html>");
    return Page(200, "OK", "<html><body>Reboot initiated</body></html>");
}

void TStandinServer::Start(int port, const std::string& listenAddress)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw ELastWin32Error(ERROR_NOT_READY);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        throw ELastWin32Error(static_cast<DWORD>(WSAGetLastError()));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!listenAddress.empty() && inet_pton(AF_INET, listenAddress.c_str(), &address.sin_addr) != 1) {
        closesocket(s);
        throw ELastWin32Error(static_cast<DWORD>(WSAEADDRNOTAVAIL));
    }
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(s, SOMAXCONN) != 0) {
        DWORD error = static_cast<DWORD>(WSAGetLastError());
        closesocket(s);
        throw ELastWin32Error(error);
    }
    int size = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    listener_ = s;
    stopping_ = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

// Closing the listener ends the accept loop; open connections are shut down so that their threads end at once.
// Their threads are joined, not merely counted down: a thread that has said it is done may still be on its way
// out, and the server (often on the caller's stack) must outlive it.
void TStandinServer::Stop()
{
    if (listener_ == INVALID_SOCKET)
        return;
    stopping_ = true;
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::map<std::thread::id, std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (SOCKET client : clients_)
            shutdown(client, SD_BOTH);
        threads.swap(clientThreads_);
        finishedClients_.clear();
    }
    for (auto& [id, thread] : threads)
        thread.join();
    WSACleanup();
}

void TStandinServer::JoinFinishedClients()
{
    std::vector<std::thread> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::thread::id id : finishedClients_) {
            auto it = clientThreads_.find(id);
            if (it != clientThreads_.end()) {
                finished.push_back(std::move(it->second));
                clientThreads_.erase(it);
            }
        }
        finishedClients_.clear();
    }
    for (std::thread& thread : finished)
        thread.join();
}

void TStandinServer::AcceptLoop()
{
    SOCKET listener = listener_;
    while (!stopping_) {
        sockaddr_in peer = {};
        int size = sizeof(peer);
        SOCKET client = accept(listener, reinterpret_cast<sockaddr*>(&peer), &size);
        if (client == INVALID_SOCKET) {
            if (stopping_)
                break;
            Sleep(10);
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text));
        JoinFinishedClients();
        // The thread is recorded under the lock, before it can report itself finished.
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.insert(client);
        std::thread thread([this, client, name = std::string(text)] { Serve(client, name); });
        std::thread::id id = thread.get_id();
        clientThreads_.emplace(id, std::move(thread));
    }
}

void TStandinServer::Serve(SOCKET client, std::string peer)
{
    DWORD timeout = kClientTimeoutMs;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string head;
    char buffer[4096];
    ULONGLONG deadline = GetTickCount64() + kClientTimeoutMs;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
        // Short waits, so that a stop does not wait for a client that sends nothing.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval slice = {0, 100000};
        int ready = select(0, &readable, nullptr, nullptr, &slice);
        if (ready < 0 || stopping_ || GetTickCount64() >= deadline)
            break;
        if (ready == 0)
            continue;
        int n = recv(client, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        head.append(buffer, static_cast<size_t>(n));
    }
    if (head.find("\r\n\r\n") != std::string::npos) {
        std::optional<THttpRequest> request = ParseHttpRequest(head);
        THttpResponse response = request ? service_.Handle(*request, peer)
                                         : Page(400, "Bad Request", "<html><body>Bad request</body></html>");
        std::string out = response.Serialize();
        size_t sent = 0;
        while (sent < out.size()) {
            int n = send(client, out.data() + sent, static_cast<int>(out.size() - sent), 0);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
    }
    shutdown(client, SD_SEND);
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(client);
    closesocket(client);
    finishedClients_.push_back(std::this_thread::get_id());
}
