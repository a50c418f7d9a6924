// How deep the real checks go into a worker's stack. Wine raises every stack reservation below 1 MiB to 1 MiB,
// so a check that would overflow the workers' 64 KiB on Windows runs on here: the test measures the deepest
// point each check reaches (the stack below is painted with a pattern first, and committed pages are counted
// too) and holds it against the reservation with a margin.
#include "TestSupport.h"
#include "UCheckRunner.h"
#include "UServerStatus.h"
#include "USiteStatus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr BYTE kPaint = 0xA5;
// Left unpainted just below the painter's own frame, which it must not overwrite.
constexpr size_t kPainterRoom = 1024;
// What a check must leave free of the reservation: room for the system's own callbacks and exception dispatch.
constexpr size_t kStackMargin = 16 * 1024;

struct TRange {
    BYTE* Low;
    BYTE* High;
};

// The committed, writable pages of this thread's stack between low and high (no guard pages).
std::vector<TRange> WritableStack(BYTE* low, BYTE* high)
{
    std::vector<TRange> ranges;
    MEMORY_BASIC_INFORMATION info = {};
    for (BYTE* p = low; p < high && VirtualQuery(p, &info, sizeof info) == sizeof info;
         p = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize) {
        BYTE* end = std::min(high, static_cast<BYTE*>(info.BaseAddress) + info.RegionSize);
        if (info.State == MEM_COMMIT && !(info.Protect & PAGE_GUARD) && (info.Protect & PAGE_READWRITE))
            ranges.push_back({p, end});
    }
    return ranges;
}

BYTE* LowestCommitted(BYTE* low, BYTE* high)
{
    std::vector<TRange> ranges = WritableStack(low, high);
    return ranges.empty() ? high : ranges.front().Low;
}

// The bytes of this thread's stack in use at the deepest point that run reached, counted from the stack's top.
size_t DeepestStackUse(const std::function<void()>& run)
{
    ULONG_PTR lowLimit = 0, highLimit = 0;
    GetCurrentThreadStackLimits(&lowLimit, &highLimit);
    auto* low = reinterpret_cast<BYTE*>(lowLimit);
    auto* high = reinterpret_cast<BYTE*>(highLimit);
    volatile BYTE here = 0;
    auto* paintTop = reinterpret_cast<BYTE*>(reinterpret_cast<ULONG_PTR>(&here) - kPainterRoom);
    std::vector<TRange> painted = WritableStack(low, paintTop);
    for (const TRange& r : painted)
        for (volatile BYTE* p = r.Low; p < r.High; ++p)
            *p = kPaint;
    BYTE* committedBefore = LowestCommitted(low, high);

    run();

    BYTE* deepest = paintTop;
    for (const TRange& r : painted) {
        BYTE* p = r.Low;
        while (p < r.High && *p == kPaint)
            ++p;
        if (p < r.High) {
            deepest = std::min(deepest, p);
            break;
        }
    }
    // Where pages are committed as the stack grows (Windows), a page committed since is as deep as it went.
    BYTE* committedAfter = LowestCommitted(low, high);
    if (committedAfter < committedBefore)
        deepest = std::min(deepest, committedAfter);
    return static_cast<size_t>(high - deepest);
}

// A check that measures how deep its real check goes.
template <class TStatus>
class TMeasured : public TStatus {
public:
    using TStatus::TStatus;
    void STDMETHODCALLTYPE RunCheck() override
    {
        StackBytes = DeepestStackUse([this] { TStatus::RunCheck(); });
    }
    size_t StackBytes = 0;
};

// A check that needs more than the reservation: a frame of 96 KiB, written through.
class TDeepStatus : public TCheckStatusOf<ICheckStatus> {
public:
    TDeepStatus() : TCheckStatusOf<ICheckStatus>(TClock{}) {}
    bool STDMETHODCALLTYPE GetActive() override { return true; }
    std::wstring STDMETHODCALLTYPE GetURL() override { return L""; }
    TCredentials CheckCredentials() override { return {}; }
    void STDMETHODCALLTYPE RunCheck() override
    {
        StackBytes = DeepestStackUse([this] { StatusText = Deep(96 * 1024 / 4096); });
    }
    size_t StackBytes = 0;

protected:
    TCheckRequest ReadRequest() const override { return {}; }

private:
    // 4 KiB a level, each page touched, so that Windows commits it as it would for any deep frame.
    static std::wstring Deep(int levels)
    {
        volatile BYTE page[4096];
        for (size_t i = 0; i < sizeof page; i += 512)
            page[i] = static_cast<BYTE>(levels);
        if (levels == 0)
            return L"deep";
        std::wstring below = Deep(levels - 1);
        return page[0] == levels ? below : std::wstring();
    }
};

template <class TStatus>
std::shared_ptr<TStatus> RunOnWorker(std::shared_ptr<TStatus> status)
{
    TCheckCallbackTarget target;
    bool called = false;
    TCheckStatusAsync::Start(target, nullptr, status, [&](TStatusRow, ICheckStatus*) { called = true; });
    EXPECT_TRUE(PumpUntil([&] { return called; }, 30000));
    return status;
}

} // namespace

TEST(WorkerStack, RealChecksLeaveAMarginOfTheReservation)
{
    const TTestServers& s = TTestServers::Get();
    using TServer = TMeasured<TCheckServerStatus>;
    using TSite = TMeasured<TCheckSiteStatus>;
    struct Case {
        const char* what;
        std::function<std::pair<size_t, std::wstring>()> run;
    };
    auto server = [](const std::wstring& url) {
        return [url] {
            auto status = RunOnWorker(std::make_shared<TServer>(ServerSettings(url)));
            return std::make_pair(status->StackBytes, status->StatusText);
        };
    };
    auto site = [](const std::wstring& url, const wchar_t* code) {
        return [url, code] {
            auto status = RunOnWorker(std::make_shared<TSite>(SiteSettings(url, code)));
            return std::make_pair(status->StackBytes, status->StatusText);
        };
    };
    const Case cases[] = {
        {
            "report over HTTP, parsed",
            server(s.Http(L"/ok")),
        },
        {"report over TLS, parsed", server(s.Https(L"/ok"))},
        {"page over TLS, searched", site(s.Https(L"/big"), L"NEEDLE-IN-PAGE")},
    };
    for (const Case& c : cases) {
        auto [bytes, text] = c.run();
        std::printf("%zu-bit worker, %s: %zu KiB of the %zu KiB reserved\n", sizeof(void*) * 8, c.what, bytes / 1024,
                    TCheckStatusAsync::kWorkerStackBytes / 1024);
        EXPECT_NE(text, L"Failed to connect") << c.what;
        EXPECT_GT(bytes, 0u) << c.what;
        EXPECT_LE(bytes + kStackMargin, TCheckStatusAsync::kWorkerStackBytes) << c.what;
    }
}

// The measure itself: a check that would overflow the workers' reservation on Windows is seen to.
TEST(WorkerStack, ACheckBeyondTheReservationIsSeen)
{
    auto status = RunOnWorker(std::make_shared<TDeepStatus>());
    EXPECT_EQ(status->StatusText, L"deep");
    EXPECT_GT(status->StackBytes, TCheckStatusAsync::kWorkerStackBytes);
}
