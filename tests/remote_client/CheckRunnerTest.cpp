#include "Exceptions.h"
#include "TestSupport.h"
#include "UCheckRunner.h"
#include "UServerStatus.h"
#include "USiteStatus.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

size_t DefaultStackReserve()
{
    auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return static_cast<size_t>(nt->OptionalHeader.SizeOfStackReserve);
}

bool WaitForIdleRunner(DWORD timeoutMs)
{
    return PumpUntil([] { return TCheckStatusAsync::Stats().Workers == 0; }, timeoutMs);
}

// A status whose check is a stand-in: it records its start and then waits for a permit, or raises.
class TScriptedStatus : public TCheckStatusOf<ICheckStatus> {
public:
    struct TScript {
        std::mutex Mutex;
        std::vector<int> Starts;
        UniqueHandle Permits{CreateSemaphoreW(nullptr, 0, 100000, nullptr)};
        std::atomic<size_t> StackBytes{0};
        bool Raise = false;
    };
    TScriptedStatus(std::shared_ptr<TScript> script, int index)
        : TCheckStatusOf<ICheckStatus>(TClock{}), script_(std::move(script)), index_(index)
    {
    }
    bool STDMETHODCALLTYPE GetActive() override { return true; }
    std::wstring STDMETHODCALLTYPE GetURL() override { return L""; }
    TCredentials CheckCredentials() override { return {}; }
    void STDMETHODCALLTYPE RunCheck() override
    {
        ULONG_PTR low = 0, high = 0;
        GetCurrentThreadStackLimits(&low, &high);
        script_->StackBytes = high - low;
        {
            std::lock_guard<std::mutex> lock(script_->Mutex);
            script_->Starts.push_back(index_);
        }
        if (script_->Raise)
            throw Exception("the check failed");
        WaitForSingleObject(script_->Permits.get(), 30000);
        StatusText = L"done";
    }

protected:
    TCheckRequest ReadRequest() const override { return {}; }

private:
    std::shared_ptr<TScript> script_;
    int index_;
};

// The part of a main window that the runner meets: its rows, its callback and its end.
class TFakeWindow {
public:
    struct TCounts {
        int Found = 0;
        int Missed = 0;
    };
    explicit TFakeWindow(std::shared_ptr<TCounts> counts) : counts_(std::move(counts)) {}

    void AddServerRow(const std::wstring& url, DWORD deadlineMs)
    {
        auto settings = ServerSettings(url);
        auto status = std::make_shared<TCheckServerStatus>(settings);
        status->Retrieval.DeadlineMs = deadlineMs;
        Settings.push_back(settings);
        Rows.push_back(status);
        TCheckStatusAsync::Start(target_, status.get(), status,
                                 [this](TStatusRow row, ICheckStatus*) { CheckDone(row); });
    }
    void CheckDone(TStatusRow row)
    {
        bool found = std::any_of(Rows.begin(), Rows.end(), [row](const auto& s) { return s.get() == row; });
        ++(found ? counts_->Found : counts_->Missed);
    }

    std::vector<std::shared_ptr<TCheckServerSettings>> Settings;
    std::vector<std::shared_ptr<TCheckStatus>> Rows;

private:
    std::shared_ptr<TCounts> counts_;
    TCheckCallbackTarget target_;
};

} // namespace

TEST(CheckRunner, CallbackRunsOnTheMainThreadAfterTheCheck)
{
    TCheckCallbackTarget target;
    auto settings = SiteSettings(TTestServers::Get().Http(L"/page"), L"Welcome");
    auto status = std::make_shared<TCheckSiteStatus>(settings);
    int row = 7;
    int calls = 0;
    DWORD callbackThread = 0;
    std::wstring textSeen;
    bool runningSeen = true;
    TCheckStatusAsync::Start(target, &row, status, [&](TStatusRow r, ICheckStatus* check) {
        ++calls;
        callbackThread = GetCurrentThreadId();
        EXPECT_EQ(r, &row);
        EXPECT_EQ(check, status->CheckStatus());
        textSeen = status->StatusText;
        runningSeen = status->CheckRunning();
    });
    EXPECT_TRUE(status->CheckRunning());
    // The settings were read when the check started: an edit now does not reach it.
    settings->CodeToCheck = L"nowhere on the page";
    // A second check of the same object while the first runs is refused.
    EXPECT_THROW(TCheckStatusAsync::Start(target, &row, status, [](TStatusRow, ICheckStatus*) {}), EAssertionFailed);
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 20000));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(callbackThread, GetCurrentThreadId());
    EXPECT_EQ(textSeen, L"Code found");
    EXPECT_FALSE(runningSeen);
    EXPECT_TRUE(WaitForIdleRunner(10000));
    EXPECT_EQ(calls, 1);
}

TEST(CheckRunner, ServerAndTlsChecksFitTheWorkerStack)
{
    TCheckCallbackTarget target;
    const TTestServers& s = TTestServers::Get();
    std::vector<std::shared_ptr<TCheckStatus>> statuses = {
        std::make_shared<TCheckServerStatus>(ServerSettings(s.Http(L"/ok"))),
        std::make_shared<TCheckServerStatus>(ServerSettings(s.Https(L"/ok"))),
        std::make_shared<TCheckSiteStatus>(SiteSettings(s.Https(L"/big"), L"NEEDLE-IN-PAGE")),
    };
    int calls = 0;
    for (auto& status : statuses)
        TCheckStatusAsync::Start(target, nullptr, status, [&](TStatusRow, ICheckStatus*) { ++calls; });
    ASSERT_TRUE(PumpUntil([&] { return calls == 3; }, 30000));
    EXPECT_EQ(statuses[0]->StatusText, L"12:00: Physical free: 512 MB, Total free: 2048 MB.");
    EXPECT_EQ(statuses[1]->StatusText, L"12:00: Physical free: 512 MB, Total free: 2048 MB.");
    EXPECT_EQ(statuses[2]->StatusText, L"Code found");
}

TEST(CheckRunner, CheckThatRaisesEndsWithoutCallback)
{
    TCheckCallbackTarget target;
    auto script = std::make_shared<TScriptedStatus::TScript>();
    script->Raise = true;
    auto status = std::make_shared<TScriptedStatus>(script, 0);
    TDateTime lastCheck = status->LastCheckTime;
    int calls = 0;
    TCheckStatusAsync::Start(target, nullptr, status, [&](TStatusRow, ICheckStatus*) { ++calls; });
    ASSERT_TRUE(PumpUntil([&] { return !status->CheckRunning(); }, 10000));
    EXPECT_TRUE(WaitForIdleRunner(10000));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(status->StatusText, L"Initial state");
    EXPECT_EQ(status->NextCheckTime, 0.0);
    EXPECT_EQ(status->LastCheckTime, lastCheck);
}

TEST(CheckRunner, CallbackForARevokedTargetIsDroppedAndTheStatusReleased)
{
    auto target = std::make_unique<TCheckCallbackTarget>();
    auto status = std::make_shared<TCheckServerStatus>(ServerSettings(TTestServers::Get().Hang()));
    status->Retrieval.DeadlineMs = 1000;
    std::weak_ptr<TCheckStatus> alive = status;
    std::weak_ptr<TCheckServerSettings> settingsAlive = status->Settings;
    int calls = 0;
    TCheckStatusAsync::Start(*target, nullptr, status, [&](TStatusRow, ICheckStatus*) { ++calls; });
    status.reset();
    target.reset();
    // The runner keeps the status and its settings until the check is over.
    EXPECT_FALSE(alive.expired());
    EXPECT_FALSE(settingsAlive.expired());
    ASSERT_TRUE(PumpUntil([&] { return alive.expired(); }, 20000));
    EXPECT_TRUE(settingsAlive.expired());
    EXPECT_EQ(calls, 0);
}

TEST(CheckRunner, HangingChecksSurviveRebuildDeleteAndClose)
{
    const int kRows = 50;
    auto counts = std::make_shared<TFakeWindow::TCounts>();
    auto window = std::make_unique<TFakeWindow>(counts);
    for (int i = 0; i < kRows; ++i)
        window->AddServerRow(TTestServers::Get().Hang(), 2000);
    std::vector<std::weak_ptr<TCheckStatus>> first(window->Rows.begin(), window->Rows.end());

    // Rebuild: the rows and their status objects go, new ones are made and checked.
    window->Rows.clear();
    std::vector<std::shared_ptr<TCheckServerSettings>> kept = window->Settings;
    window->Settings.clear();
    for (int i = 0; i < kRows; ++i)
        window->AddServerRow(TTestServers::Get().Hang(), 4000);
    std::vector<std::weak_ptr<TCheckStatus>> second(window->Rows.begin(), window->Rows.end());
    // Delete: the settings of the first rows go while their checks still run.
    std::vector<std::weak_ptr<TCheckServerSettings>> deleted(kept.begin(), kept.end());
    kept.clear();
    EXPECT_TRUE(std::none_of(first.begin(), first.end(), [](const auto& w) { return w.expired(); }));
    EXPECT_TRUE(std::none_of(deleted.begin(), deleted.end(), [](const auto& w) { return w.expired(); }));

    // The first checks call back into the rebuilt list and find no row.
    ASSERT_TRUE(PumpUntil([&] { return counts->Missed == kRows; }, 30000));
    EXPECT_EQ(counts->Found, 0);
    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](const auto& w) { return w.expired(); }));
    EXPECT_TRUE(std::all_of(deleted.begin(), deleted.end(), [](const auto& w) { return w.expired(); }));

    // Close: the window goes with the second checks in flight; their callbacks are dropped.
    window.reset();
    EXPECT_TRUE(std::none_of(second.begin(), second.end(), [](const auto& w) { return w.expired(); }));
    ASSERT_TRUE(PumpUntil(
        [&] { return std::all_of(second.begin(), second.end(), [](const auto& w) { return w.expired(); }); }, 30000));
    EXPECT_EQ(counts->Found, 0);
    EXPECT_EQ(counts->Missed, kRows);
    EXPECT_TRUE(WaitForIdleRunner(10000));
}

TEST(CheckRunner, AtMostTheWorkerLimitRunAndTheRestWaitInOrder)
{
    ASSERT_TRUE(WaitForIdleRunner(10000));
    TCheckStatusAsync::ResetPeak();
    const int kChecks = static_cast<int>(TCheckStatusAsync::kMaxWorkers) + 40;
    TCheckCallbackTarget target;
    auto script = std::make_shared<TScriptedStatus::TScript>();
    std::vector<std::shared_ptr<TScriptedStatus>> statuses;
    int calls = 0;
    for (int i = 0; i < kChecks; ++i) {
        statuses.push_back(std::make_shared<TScriptedStatus>(script, i));
        TCheckStatusAsync::Start(target, nullptr, statuses.back(), [&](TStatusRow, ICheckStatus*) { ++calls; });
    }
    auto starts = [&] {
        std::lock_guard<std::mutex> lock(script->Mutex);
        return script->Starts;
    };
    ASSERT_TRUE(PumpUntil([&] { return starts().size() == TCheckStatusAsync::kMaxWorkers; }, 30000));
    TCheckRunnerStats stats = TCheckStatusAsync::Stats();
    EXPECT_EQ(stats.Workers, TCheckStatusAsync::kMaxWorkers);
    EXPECT_EQ(stats.Waiting, 40u);
    // Workers reserve less than the program's default stack (Wine raises small reservations to 1 MiB).
    EXPECT_LT(script->StackBytes.load(), DefaultStackReserve());
    EXPECT_LE(script->StackBytes.load(), 1024u * 1024u);

    // Each check that ends frees a worker, which takes the oldest waiting check at once.
    for (int next = static_cast<int>(TCheckStatusAsync::kMaxWorkers); next < kChecks; ++next) {
        ReleaseSemaphore(script->Permits.get(), 1, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return starts().size() == static_cast<size_t>(next) + 1; }, 10000));
        EXPECT_EQ(starts().back(), next);
    }
    ReleaseSemaphore(script->Permits.get(), static_cast<LONG>(TCheckStatusAsync::kMaxWorkers), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return calls == kChecks; }, 30000));
    EXPECT_TRUE(WaitForIdleRunner(10000));
    EXPECT_EQ(TCheckStatusAsync::Stats().PeakWorkers, TCheckStatusAsync::kMaxWorkers);
    EXPECT_TRUE(std::all_of(statuses.begin(), statuses.end(), [](const auto& s) { return s->StatusText == L"done"; }));
}
