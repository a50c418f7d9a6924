// Bad input from outside: report servers that answer with a DOCTYPE, with 100 MiB, or one byte a second. The
// remote client judges each, stays responsive, and its memory stays bounded.
// Winsock before the Windows headers.
#include "LoopbackServer.h"

#include "E2ESupport.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace e2e;

namespace {

const std::string kReport = "<Report><CurrentTime>12:00</CurrentTime><Memory><PhysicalFree>512</PhysicalFree>"
                            "<TotalFree>2048</TotalFree></Memory></Report>";

// How much of the 100 MiB body the peer got rid of before the client stopped reading.
std::atomic<size_t> g_hugeBytesSent{0};

void Answer(const std::string& path, SOCKET s, const std::atomic<bool>& stop)
{
    if (path.rfind("/good/", 0) == 0) {
        TLoopbackServer::SendAll(s, TLoopbackServer::Response(kReport));
    } else if (path.rfind("/doctype/", 0) == 0) {
        TLoopbackServer::SendAll(
            s, TLoopbackServer::Response("<?xml version=\"1.0\"?><!DOCTYPE Report [<!ENTITY t \"12:00\">]>"
                                         "<Report><CurrentTime>&t;</CurrentTime></Report>"));
    } else if (path.rfind("/huge/", 0) == 0) {
        // 100 MiB announced and sent until the client stops reading.
        const size_t total = 100u << 20;
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(total) +
                           "\r\nConnection: close\r\n\r\n<Report><CurrentTime>";
        if (!TLoopbackServer::SendAll(s, head))
            return;
        std::string chunk(1 << 16, 'x');
        for (size_t sent = head.size(); sent < total && !stop; sent += chunk.size()) {
            if (!TLoopbackServer::SendAll(s, chunk))
                return;
            g_hugeBytesSent += chunk.size();
        }
    } else if (path.rfind("/trickle/", 0) == 0) {
        std::string answer = TLoopbackServer::Response(kReport);
        // Headers at once, then one byte a second: far beyond any sane wait.
        size_t headerEnd = answer.find("\r\n\r\n") + 4;
        if (!TLoopbackServer::SendAll(s, answer.substr(0, headerEnd)))
            return;
        for (size_t i = headerEnd; i < answer.size() && !stop; ++i) {
            if (!TLoopbackServer::SendAll(s, answer.substr(i, 1)))
                return;
            for (int t = 0; t < 10 && !stop; ++t)
                Sleep(100);
        }
    }
}

std::string Server(const std::wstring& base, const char* name)
{
    std::string url(base.begin(), base.end());
    url += "/";
    url += name;
    url += "/";
    return std::string("<") + name + "><Active>True</Active><URL>" + url +
           "</URL><CheckIntevalMinutes>10</CheckIntevalMinutes><Username>u</Username><Password>p</Password></" + name +
           ">";
}

SIZE_T WorkingSet(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

} // namespace

TEST(BadPeers, ReportsThatMisbehaveAreJudgedAndTheClientStaysWell)
{
    TSettingsFolderGuard settings;
    TLoopbackServer server(Answer);
    const std::wstring base = server.BaseURL();
    settings.Write("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><Options><Servers>" +
                   Server(base, "good") + Server(base, "doctype") + Server(base, "huge") + Server(base, "trickle") +
                   "</Servers></Options>");

    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), L"Dravex Mendrel Remote Client");
    ASSERT_NE(main, nullptr);

    std::map<std::wstring, std::wstring> byLink;
    auto judged = [&] {
        byLink.clear();
        HWND status = StatusList(main);
        if (!status)
            return false;
        for (const auto& row : ListRows(status)) {
            if (row.cells.size() >= 3)
                byLink[row.cells[1]] = row.cells[2];
        }
        if (byLink.size() != 4)
            return false;
        for (const auto& [link, text] : byLink) {
            if (text == L"Initial state")
                return false;
        }
        return true;
    };
    // The trickling report is cut by the client's whole-request deadline (one minute).
    bool allJudged = WaitUntil(
        [&] {
            // The window answers at once all the while.
            DWORD_PTR ignored = 0;
            EXPECT_NE(SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored), 0);
            return judged();
        },
        120s, 500ms);
    ASSERT_TRUE(allJudged);

    auto url = [&](const char* name) { return base + L"/" + std::wstring(name, name + strlen(name)) + L"/"; };
    EXPECT_EQ(byLink[url("good")], L"12:00: Physical free: 512 MB, Total free: 2048 MB.");
    EXPECT_EQ(byLink[url("doctype")], L"Bad response");
    EXPECT_EQ(byLink[url("huge")], L"Bad response");
    EXPECT_EQ(byLink[url("trickle")], L"Bad response");
    // The client stops reading at 16 MiB and lets the connection go: the peer never gets most of its 100 MiB
    // out (socket buffers take a few MiB more), and the client's memory stays bounded.
    EXPECT_LT(g_hugeBytesSent.load(), size_t(40) << 20);
    const SIZE_T peak = WorkingSet(client.Handle());
    std::printf("100 MiB peer: %zu MiB sent before the client let go; client peak working set %zu MiB\n",
                g_hugeBytesSent.load() >> 20, static_cast<size_t>(peak >> 20));
    EXPECT_LT(peak, SIZE_T(400) << 20);
    SaveScreenshot(std::wstring(_wgetenv(L"MENDREL_ARTIFACTS") ? _wgetenv(L"MENDREL_ARTIFACTS") : L".") +
                   L"\\e2e-bad-peers.png");
    client.Stop();
}
