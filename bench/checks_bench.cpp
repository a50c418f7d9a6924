// Figures of the check runner against loopback servers, as the main window would drive it.
//   checks_bench first-checks COUNT BASE_URL      every first check of COUNT servers until it has called back
//   checks_bench hanging COUNT URL SECONDS         COUNT servers that never answer, watched for SECONDS
//   checks_bench sequential COUNT BASE_URL [PROFILE]  COUNT server checks one after the other on one thread
//                                                  (PROFILE: also where the thread's time went, x86_64 only)
//   checks_bench floor COUNT URL                   COUNT bare WinHTTP GETs of URL on one session, the floor of
//                                                  this platform that a check is compared with
#include "BenchResult.h"
#include "ProcessTimes.h"
#include "StackSampler.h"
#include "Startup.h"
#include "Strings.h"
#include "UCheckRunner.h"
#include "UServerStatus.h"
#include "XmlTools.h"

#include <windows.h>
#include <psapi.h>
#include <winhttp.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kProbe = WM_APP + 20;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(to.QuadPart - from.QuadPart) / double(f.QuadPart);
}

LARGE_INTEGER Stamp()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

size_t ProcessThreads()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    size_t n = 0;
    DWORD self = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self)
            ++n;
    CloseHandle(snapshot);
    return n;
}

// Address space in use (reserved or committed).
size_t VirtualSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t total = 0;
    auto* p = static_cast<BYTE*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION mbi;
    while (p < info.lpMaximumApplicationAddress && VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi)) {
        if (mbi.State != MEM_FREE)
            total += mbi.RegionSize;
        p = static_cast<BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    }
    return total;
}

size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// The UI thread's side: a window that receives probes stamped by another thread and keeps the longest delay.
class TLatencyProbe {
public:
    TLatencyProbe()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &TLatencyProbe::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ChecksBenchProbe";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        sender_ = std::thread([this] {
            while (!stop_) {
                auto* stamp = new LARGE_INTEGER(Stamp());
                if (!PostMessageW(window_, kProbe, 0, reinterpret_cast<LPARAM>(stamp)))
                    delete stamp;
                Sleep(10);
            }
        });
    }
    ~TLatencyProbe()
    {
        stop_ = true;
        sender_.join();
        MSG msg;
        while (PeekMessageW(&msg, window_, kProbe, kProbe, PM_REMOVE))
            delete reinterpret_cast<LARGE_INTEGER*>(msg.lParam);
        DestroyWindow(window_);
    }
    double WorstMs() const { return worst_ * 1000.0; }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l)
    {
        if (m == kProbe) {
            auto* self = reinterpret_cast<TLatencyProbe*>(GetWindowLongPtrW(h, GWLP_USERDATA));
            std::unique_ptr<LARGE_INTEGER> stamp(reinterpret_cast<LARGE_INTEGER*>(l));
            if (self)
                self->worst_ = std::max(self->worst_, Seconds(*stamp, Stamp()));
            return 0;
        }
        return DefWindowProcW(h, m, w, l);
    }
    HWND window_ = nullptr;
    std::thread sender_;
    std::atomic<bool> stop_{false};
    double worst_ = 0;
};

// Samples threads and address space on a thread of its own, so that the sampling is not measured as UI latency.
class TSampler {
public:
    TSampler()
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                PeakThreads = std::max(PeakThreads.load(), ProcessThreads());
                PeakVirtual = std::max(PeakVirtual.load(), VirtualSize());
                PeakPrivate = std::max(PeakPrivate.load(), PrivateBytes());
                Sleep(200);
            }
        });
    }
    ~TSampler() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::atomic<size_t> PeakThreads{0}, PeakVirtual{0}, PeakPrivate{0};

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// Pumps the UI thread until done() or the time is up.
bool Pump(const std::function<bool()>& done, double seconds)
{
    LARGE_INTEGER start = Stamp();
    while (!done()) {
        if (Seconds(start, Stamp()) > seconds)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

std::shared_ptr<TCheckServerStatus> NewServer(const std::wstring& url, int index)
{
    auto settings = std::make_shared<TCheckServerSettings>(nullptr, "Server" + std::to_string(index));
    settings->Active = true;
    settings->URL = url;
    settings->CheckIntevalMinutes = 5;
    return std::make_shared<TCheckServerStatus>(settings);
}

double Mb(size_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

int FirstChecks(int count, const std::wstring& base)
{
    TCheckCallbackTarget target;
    TLatencyProbe probe;
    std::vector<std::shared_ptr<TCheckServerStatus>> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(NewServer(base, i));
    size_t threadsBefore = ProcessThreads();
    TCheckStatusAsync::ResetPeak();
    int done = 0, ok = 0;
    TSampler samples;
    LARGE_INTEGER start = Stamp();
    for (auto& row : rows)
        TCheckStatusAsync::Start(target, row.get(), row, [&](TStatusRow r, ICheckStatus*) {
            ++done;
            ok += static_cast<TCheckServerStatus*>(r)->StatusOk ? 1 : 0;
        });
    bool finished = Pump([&] { return done == count; }, 120);
    double elapsed = Seconds(start, Stamp());
    samples.Stop();
    std::printf("first-checks: %d servers, %d called back (%d ok) in %.2f s%s\n", count, done, ok, elapsed,
                finished ? "" : " (gave up)");
    std::printf("first-checks: peak workers %zu (limit %zu), peak process threads %zu (%zu before)\n",
                TCheckStatusAsync::Stats().PeakWorkers, TCheckStatusAsync::kMaxWorkers, samples.PeakThreads.load(),
                threadsBefore);
    std::map<std::wstring, int> outcomes;
    for (auto& row : rows)
        ++outcomes[row->StatusText];
    for (const auto& [text, n] : outcomes)
        std::printf("first-checks:   %5d x %s\n", n, WideToUtf8(text).c_str());
    std::printf("first-checks: longest UI message latency %.1f ms\n", probe.WorstMs());
    std::string figure = Format("%d first checks: time until all called back", count);
    PrintResultValue(figure.c_str(), "<= 10 s", elapsed, "%.2f s", finished && elapsed <= 10.0);
    size_t peak = TCheckStatusAsync::Stats().PeakWorkers;
    figure = Format("%d first checks: peak workers", count);
    PrintResultValue(figure.c_str(), "<= 256", peak, "%zu", peak <= 256);
    figure = Format("%d first checks: longest UI latency", count);
    PrintResultValue(figure.c_str(), "<= 100 ms", probe.WorstMs(), "%.0f ms", probe.WorstMs() <= 100.0);
    return finished ? 0 : 1;
}

int Hanging(int count, const std::wstring& url, double seconds)
{
    TCheckCallbackTarget target;
    TLatencyProbe probe;
    std::vector<std::shared_ptr<TCheckServerStatus>> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(NewServer(url, i));
    size_t virtualBefore = VirtualSize(), privateBefore = PrivateBytes();
    TCheckStatusAsync::ResetPeak();
    int failed = 0, other = 0;
    TSampler samples;
    LARGE_INTEGER start = Stamp();
    for (auto& row : rows)
        TCheckStatusAsync::Start(target, row.get(), row, [&](TStatusRow r, ICheckStatus*) {
            auto* status = static_cast<TCheckServerStatus*>(r);
            ++(status->StatusText == L"Failed to connect" ? failed : other);
        });
    double marks[] = {kDefaultRetrieveDeadlineMs / 1000.0 + 5, 2 * kDefaultRetrieveDeadlineMs / 1000.0 + 5, seconds};
    int failedAfterTwoDeadlines = -1;
    for (double mark : marks) {
        if (mark > seconds)
            continue;
        double now = Seconds(start, Stamp());
        Pump([&] { return failed + other == count; }, std::max(0.0, mark - now));
        if (mark == marks[1])
            failedAfterTwoDeadlines = failed;
        TCheckRunnerStats stats = TCheckStatusAsync::Stats();
        std::printf("hanging: after %.0f s: %d rows \"Failed to connect\", %d other, %zu running, %zu waiting\n",
                    Seconds(start, Stamp()), failed, other, stats.Workers, stats.Waiting);
        if (mark == seconds)
            break;
    }
    samples.Stop();
    std::printf("hanging: %d servers, peak workers %zu (limit %zu), peak process threads %zu\n", count,
                TCheckStatusAsync::Stats().PeakWorkers, TCheckStatusAsync::kMaxWorkers, samples.PeakThreads.load());
    std::printf("hanging: address space in use %.0f MB at peak (%.0f MB before), committed %.0f MB (%.0f MB "
                "before)\n",
                Mb(samples.PeakVirtual), Mb(virtualBefore), Mb(samples.PeakPrivate), Mb(privateBefore));
    std::printf("hanging: longest UI message latency %.1f ms\n", probe.WorstMs());
    size_t peak = TCheckStatusAsync::Stats().PeakWorkers;
    std::string figure = Format("%d never-answering: peak workers", count);
    PrintResultValue(figure.c_str(), "<= 256", peak, "%zu", peak <= 256);
    figure = Format("%d never-answering: peak virtual size", count);
    PrintResultValue(figure.c_str(), "< 1024 MB", Mb(samples.PeakVirtual), "%.0f MB", Mb(samples.PeakVirtual) < 1024);
    figure = Format("%d never-answering: longest UI latency", count);
    PrintResultValue(figure.c_str(), "<= 100 ms", probe.WorstMs(), "%.0f ms", probe.WorstMs() <= 100.0);
    figure = Format("%d never-answering: rows \"Failed to connect\" after two deadlines", count);
    if (failedAfterTwoDeadlines < 0)
        PrintResult(figure.c_str(), "512", "not watched long enough", false);
    else
        PrintResultValue(figure.c_str(), "512", failedAfterTwoDeadlines, "%d", failedAfterTwoDeadlines == 512);
    std::fflush(stdout);
    // The checks still hanging are not waited for, as the program does at its end.
    ExitProcess(0);
}

int Sequential(int count, const std::wstring& base, const char* profile)
{
    auto status = NewServer(base, 0);
    // The checks run on this thread as on a check worker, which keeps the DOM's class object.
    TDomClassScope documents;
    // The sampler watches this thread.
    std::unique_ptr<TStackSampler> sampler = profile ? std::make_unique<TStackSampler>(GetCurrentThreadId()) : nullptr;
    double cpu = CpuSeconds();
    LARGE_INTEGER start = Stamp();
    int ok = 0;
    for (int i = 0; i < count; ++i) {
        status->RunCheck();
        ok += status->StatusOk ? 1 : 0;
    }
    double elapsed = Seconds(start, Stamp());
    if (sampler) {
        sampler->Stop();
        sampler->Write(profile);
        std::printf("profile: %d samples in %s\n", sampler->Samples(), profile);
    }
    cpu = CpuSeconds() - cpu;
    std::printf("sequential: %d server checks (%d ok) in %.3f s, %.2f ms each (process CPU %.2f ms each)\n", count, ok,
                elapsed, elapsed * 1000.0 / count, cpu * 1000.0 / count);
    std::printf("sequential-seconds=%.3f\n", elapsed);
    return ok == count ? 0 : 1;
}

// The least a check can cost here: a GET on one WinHTTP session (its connections kept alive), the body read
// and dropped; no COM, no parsing, no deadline.
// With connectEach, every GET has a connection handle of its own, as every check has.
int Floor(int count, const std::wstring& url, bool connectEach = false)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
        return 2;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
    if (!connection)
        return 2;
    double cpu = CpuSeconds();
    LARGE_INTEGER start = Stamp();
    int ok = 0;
    std::vector<char> buffer(64 * 1024);
    for (int i = 0; i < count; ++i) {
        HINTERNET own = connectEach ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
        HINTERNET request = WinHttpOpenRequest(own ? own : connection, L"GET", path.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
        bool done = request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0) &&
                    WinHttpReceiveResponse(request, nullptr);
        DWORD read = 0;
        while (done && WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read > 0)
            ;
        ok += done ? 1 : 0;
        if (request)
            WinHttpCloseHandle(request);
        if (own)
            WinHttpCloseHandle(own);
    }
    double elapsed = Seconds(start, Stamp());
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    cpu = CpuSeconds() - cpu;
    const char* mode = connectEach ? "floor-connect" : "floor";
    std::printf("%s: %d bare GETs (%d ok) in %.3f s, %.3f ms each (process CPU %.2f ms each)\n", mode, count, ok,
                elapsed, elapsed * 1000.0 / count, cpu * 1000.0 / count);
    std::printf("%s-seconds=%.3f\n", mode, elapsed);
    return ok == count ? 0 : 1;
}

int SequentialRetrievals(int count, const std::wstring& url)
{
    LARGE_INTEGER start = Stamp();
    int ok = 0;
    for (int i = 0; i < count; ++i)
        ok += RetrieveURL(url, nullptr).has_value() ? 1 : 0;
    double elapsed = Seconds(start, Stamp());
    std::printf("sequential: %d retrievals without callback (%d ok) in %.3f s, %.2f ms each\n", count, ok, elapsed,
                elapsed * 1000.0 / count);
    start = Stamp();
    for (int i = 0; i < count; ++i)
        JudgeServerReport("<Report><CurrentTime>12:00</CurrentTime></Report>");
    elapsed = Seconds(start, Stamp());
    std::printf("sequential: %d report judgements in %.3f s, %.2f ms each\n", count, elapsed, elapsed * 1000.0 / count);
    {
        // As a check worker judges: with the DOM's class object kept.
        TDomClassScope documents;
        const std::string report = "<?xml version=\"1.0\"?>\r\n<Report><CurrentTime>12:00</CurrentTime><Memory>"
                                   "<PhysicalFree>512</PhysicalFree><TotalFree>2048</TotalFree></Memory></Report>";
        start = Stamp();
        for (int i = 0; i < count; ++i)
            JudgeServerReport(report);
        elapsed = Seconds(start, Stamp());
        std::printf("sequential: %d report judgements as on a check worker in %.3f s, %.3f ms each\n", count, elapsed,
                    elapsed * 1000.0 / count);
    }
    return ok == count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: checks_bench first-checks|hanging|sequential|floor COUNT URL [SECONDS]\n");
        return 2;
    }
    OleInitialize(nullptr);
    TFoundation foundation;
    std::string mode = argv[1];
    int count = std::atoi(argv[2]);
    std::wstring url = Utf8ToWide(argv[3]);
    int result = 2;
    if (mode == "first-checks")
        result = FirstChecks(count, url);
    else if (mode == "hanging")
        result = Hanging(count, url, argc > 4 ? std::atof(argv[4]) : 130);
    else if (mode == "sequential")
        result = Sequential(count, url, argc > 4 ? argv[4] : nullptr);
    else if (mode == "floor")
        result = Floor(count, url);
    else if (mode == "floor-connect")
        result = Floor(count, url, true);
    else if (mode == "retrievals")
        result = SequentialRetrievals(count, url);
    std::fflush(stdout);
    // Checks may still run on workers: end at once rather than wait for them.
    ExitProcess(static_cast<UINT>(result));
}
