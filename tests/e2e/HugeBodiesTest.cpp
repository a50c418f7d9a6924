// Many hostile peers at once: 60 sites whose pages and 25 servers whose reports are 100 MiB each, all due when
// the remote client starts. Every row gets the outcome that the size limit decides, the window keeps answering,
// and the process's address space stays bounded, since its checks share one budget for the bodies they hold.
// Winsock before the Windows headers.
#include "LoopbackServer.h"

#include "E2ESupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>

using namespace e2e;

namespace {

constexpr int kSites = 60;
constexpr int kServers = 25;
constexpr size_t kBodyBytes = size_t(100) << 20;
// Where the site's code stands: at the very end of the page, far beyond what the client reads.
const std::string kCode = "CODE-AT-THE-END";

std::atomic<size_t> g_bytesSent{0};

// 100 MiB announced, sent in 64 KiB pieces until the client lets the connection go (or the test ends).
void SendHuge(SOCKET s, const std::string& start, const std::string& end, const std::atomic<bool>& stop)
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(kBodyBytes) +
                       "\r\nConnection: close\r\n\r\n" + start;
    if (!TLoopbackServer::SendAll(s, head))
        return;
    const std::string chunk(size_t(1) << 16, 'x');
    size_t sent = start.size();
    while (!stop && sent + chunk.size() + end.size() <= kBodyBytes) {
        if (!TLoopbackServer::SendAll(s, chunk))
            return;
        sent += chunk.size();
        g_bytesSent += chunk.size();
    }
    if (!stop)
        TLoopbackServer::SendAll(s, std::string(kBodyBytes - sent - end.size(), 'x') + end);
}

void Answer(const std::string& path, SOCKET s, const std::atomic<bool>& stop)
{
    if (path.rfind("/site/", 0) == 0)
        SendHuge(s, "<html><body>", kCode + "</body></html>", stop);
    else if (path.rfind("/server/", 0) == 0)
        SendHuge(s, "<Report><CurrentTime>", "</CurrentTime></Report>", stop);
}

std::string Item(const std::string& name, const std::string& url, const std::string& extra)
{
    return "<" + name + "><Active>True</Active><URL>" + url + "</URL><CheckIntevalMinutes>10</CheckIntevalMinutes>" +
           extra + "</" + name + ">";
}

// The process's address space that holds memory (committed), as Windows shows it; and all that is not free.
// Under Wine the second counts the areas that Wine keeps reserved for later allocations too (in a 32-bit
// large-address-aware process some 3 GB at the start, most of which VirtualAlloc can still hand out), so the
// bound is held against the first.
struct TAddressSpace {
    SIZE_T Committed = 0;
    SIZE_T NotFree = 0;
};

TAddressSpace AddressSpace(HANDLE process)
{
    TAddressSpace space;
    MEMORY_BASIC_INFORMATION info = {};
    for (auto* address = static_cast<BYTE*>(nullptr);
         VirtualQueryEx(process, address, &info, sizeof info) == sizeof info; address += info.RegionSize) {
        if (info.State == MEM_COMMIT)
            space.Committed += info.RegionSize;
        if (info.State != MEM_FREE)
            space.NotFree += info.RegionSize;
        if (reinterpret_cast<ULONG_PTR>(address) + info.RegionSize < reinterpret_cast<ULONG_PTR>(address))
            break;
    }
    return space;
}

} // namespace

TEST(HugeBodies, EveryRowGetsItsOutcomeWithinBoundedMemory)
{
    TSettingsFolderGuard settings;
    TLoopbackServer server(Answer);
    const std::wstring wideBase = server.BaseURL();
    const std::string base(wideBase.begin(), wideBase.end());
    std::string servers, sites;
    for (int i = 0; i < kServers; ++i)
        servers += Item("Server" + std::to_string(i), base + "/server/" + std::to_string(i) + "/",
                        "<Username>u</Username><Password>p</Password>");
    for (int i = 0; i < kSites; ++i)
        sites += Item("Site" + std::to_string(i), base + "/site/" + std::to_string(i),
                      "<CodeToCheck>" + kCode + "</CodeToCheck>");
    settings.Write("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><Options><Servers>" + servers +
                   "</Servers><Sites>" + sites + "</Sites></Options>");

    const ULONGLONG start = GetTickCount64();
    Process client = Process::Start(RemoteClientExe());
    HWND main = FindTopWindow(client.Id(), L"Dravex Mendrel Remote Client");
    ASSERT_NE(main, nullptr);
    const TAddressSpace atStart = AddressSpace(client.Handle());
    TAddressSpace peak = atStart;
    int polls = 0;
    int unanswered = 0;
    bool crashed = false;
    ULONGLONG silentSince = 0;
    DWORD slowestAnswer = 0;
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
        if (byLink.size() != size_t(kSites + kServers))
            return false;
        for (const auto& [link, text] : byLink) {
            if (text == L"Initial state")
                return false;
        }
        return true;
    };
    // Each check ends by its one-minute deadline at the latest, whether it waited for memory or not.
    bool allJudged = false;
    WaitUntil(
        [&] {
            // A program that crashed is held by Wine's debugger, and anything asked of it would wait for ever.
            BOOL debugged = FALSE;
            if (!client.Running() || (CheckRemoteDebuggerPresent(client.Handle(), &debugged) && debugged)) {
                crashed = true;
                return true;
            }
            // A sweep over another process's regions costs that process time, so only one a second.
            if (++polls % 4 == 0) {
                TAddressSpace now = AddressSpace(client.Handle());
                peak.Committed = std::max(peak.Committed, now.Committed);
                peak.NotFree = std::max(peak.NotFree, now.NotFree);
            }
            DWORD_PTR ignored = 0;
            ULONGLONG asked = GetTickCount64();
            if (!SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored)) {
                // Its rows cannot be read either (that would wait for it); a window silent for ten seconds ends
                // the wait.
                ++unanswered;
                if (!silentSince)
                    silentSince = asked;
                return GetTickCount64() - silentSince > 10000;
            }
            silentSince = 0;
            slowestAnswer = std::max(slowestAnswer, static_cast<DWORD>(GetTickCount64() - asked));
            return allJudged = judged();
        },
        150s, 250ms);
    const double seconds = (GetTickCount64() - start) / 1000.0;

    std::map<std::wstring, int> outcomes;
    for (const auto& [link, text] : byLink)
        ++outcomes[text];
    std::printf("%d sites and %d servers of 100 MiB: all judged %s after %.1f s; committed address space %zu MiB "
                "at the start, %zu MiB at the peak (not free: %zu MiB at the start, %zu MiB at the peak); slowest "
                "WM_NULL %lu ms; %zu MiB sent in all\n",
                kSites, kServers, allJudged ? "yes" : "NO", seconds, size_t(atStart.Committed >> 20),
                size_t(peak.Committed >> 20), size_t(atStart.NotFree >> 20), size_t(peak.NotFree >> 20),
                static_cast<unsigned long>(slowestAnswer), g_bytesSent.load() >> 20);
    for (const auto& [text, count] : outcomes)
        std::printf("  %3d rows: %ls\n", count, text.c_str());
    ASSERT_FALSE(crashed) << "the program crashed";
    EXPECT_EQ(unanswered, 0) << "the window stopped answering";
    ASSERT_TRUE(allJudged);

    for (int i = 0; i < kSites; ++i) {
        std::wstring link = server.BaseURL() + L"/site/" + std::to_wstring(i);
        EXPECT_EQ(byLink[link], L"Code not found") << "site " << i;
    }
    for (int i = 0; i < kServers; ++i) {
        std::wstring link = server.BaseURL() + L"/server/" + std::to_wstring(i) + L"/";
        EXPECT_EQ(byLink[link], L"Bad response") << "server " << i;
    }
    // A 32-bit program has at most 4 GB, 2 GB without the large-address flag.
    if (sizeof(void*) == 4) {
        EXPECT_LT(peak.Committed, SIZE_T(1536) << 20);
    }
    SaveScreenshot(ArtifactPath(L"e2e-huge-bodies.png"));
    client.Stop();
}
