// The asynchronous check runner: the worker pool and the dispatcher of the callbacks on the main thread.
#include "UCheckRunner.h"

#include "Exceptions.h"
#include "Unique.h"
#include "WinTools.h"
#include "XmlTools.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_set>

namespace {

constexpr const char* kUnit = "UCheckRunner";
constexpr UINT kDeliverCheck = WM_APP + 1;

struct TCheckJob {
    uint64_t TargetId = 0;
    TStatusRow Row = nullptr;
    std::shared_ptr<TCheckStatus> Status;
    TCheckStatusCallback Callback;
    // False when the check raised: the status is handed back without the callback.
    bool CallBack = true;
    // Set when the worker waits for the callback; the worker owns the event.
    HANDLE Delivered = nullptr;
};

// The hidden window on the main thread through which every callback arrives, and the targets that may still
// receive one. Never destroyed: workers may post to it until the process ends.
class TCheckDispatcher {
public:
    static TCheckDispatcher& Instance()
    {
        static TCheckDispatcher* instance = new TCheckDispatcher;
        return *instance;
    }

    uint64_t Register()
    {
        AssertMainThread();
        uint64_t id = nextId_++;
        targets_.insert(id);
        return id;
    }
    void Revoke(uint64_t id)
    {
        AssertMainThread();
        targets_.erase(id);
    }
    bool IsMainThread() const { return GetCurrentThreadId() == mainThread_; }
    bool Post(TCheckJob* job)
    {
        return PostMessageW(window_, kDeliverCheck, 0, reinterpret_cast<LPARAM>(job)) != FALSE;
    }

private:
    TCheckDispatcher() : mainThread_(GetCurrentThreadId())
    {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &TCheckDispatcher::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = L"MendrelCheckDispatcher";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
        if (!window_)
            throw ELastWin32Error();
    }
    void AssertMainThread() const
    {
        Assert(IsMainThread(), "Check callback targets belong to the main thread", kUnit, __LINE__);
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == kDeliverCheck) {
            Instance().Deliver(reinterpret_cast<TCheckJob*>(lParam));
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    // The status reference is released here, on the main thread, so that a status object (and the settings it
    // holds) that its owner has already dropped is freed where the owner lives.
    void Deliver(TCheckJob* raw) noexcept
    {
        std::unique_ptr<TCheckJob> job(raw);
        HANDLE delivered = job->Delivered;
        job->Status->EndAsyncCheck();
        if (job->CallBack && targets_.count(job->TargetId)) {
            try {
                job->Callback(job->Row, job->Status->CheckStatus());
            } catch (const std::exception& e) {
                OutputDebugStringA(e.what());
            }
        }
        job.reset();
        if (delivered)
            SetEvent(delivered);
    }

    DWORD mainThread_;
    HWND window_ = nullptr;
    std::unordered_set<uint64_t> targets_;
    uint64_t nextId_ = 1;
};

// At most kMaxWorkers checks run at once; the others wait in the order they were started, and a worker that
// finishes takes the next one at once. Creating a thread costs the main thread more than anything else a start
// does, so the main thread creates at most one worker at a time and each new worker creates the next one while
// checks are waiting. Never destroyed, like the dispatcher.
class TCheckPool {
public:
    static TCheckPool& Instance()
    {
        static TCheckPool* instance = new TCheckPool;
        return *instance;
    }

    void Submit(TCheckJob* job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            waiting_.push_back(job);
            if (!ClaimSpawn())
                return;
        }
        if (!Spawn()) {
            DWORD error = GetLastError();
            std::lock_guard<std::mutex> lock(mutex_);
            // With no worker left there is nobody to run it, unless a worker that has just finished took it.
            auto it = std::find(waiting_.begin(), waiting_.end(), job);
            if (workers_ == 0 && it != waiting_.end()) {
                waiting_.erase(it);
                throw ELastWin32Error(error);
            }
        }
    }

    TCheckRunnerStats Stats()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        TCheckRunnerStats stats;
        stats.Waiting = waiting_.size();
        stats.Workers = workers_;
        stats.PeakWorkers = peak_;
        return stats;
    }
    void ResetPeak()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        peak_ = workers_;
    }

private:
    // Under the lock: whether the caller is to create a worker, which is then already counted.
    bool ClaimSpawn()
    {
        if (spawnPending_ || workers_ >= TCheckStatusAsync::kMaxWorkers || waiting_.empty())
            return false;
        spawnPending_ = true;
        ++workers_;
        peak_ = std::max(peak_, workers_);
        return true;
    }
    bool Spawn()
    {
        HANDLE thread = CreateThread(nullptr, TCheckStatusAsync::kWorkerStackBytes, &TCheckPool::WorkerProc, nullptr,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread) {
            CloseHandle(thread);
            return true;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        spawnPending_ = false;
        --workers_;
        return false;
    }

    // The next waiting check, or none: then the worker is no longer counted. A worker that has just started
    // first lets the next one be created if checks are still waiting for it.
    TCheckJob* Next(bool starting)
    {
        bool spawn = false;
        TCheckJob* job = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (starting)
                spawnPending_ = false;
            if (waiting_.empty()) {
                --workers_;
                return nullptr;
            }
            job = waiting_.front();
            waiting_.pop_front();
            spawn = ClaimSpawn();
        }
        if (spawn)
            Spawn();
        return job;
    }

    // Checks are background work: below the user interface, so that a burst of them does not starve it.
    static DWORD WINAPI WorkerProc(void*)
    {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
        // A check uses COM only for MSXML's DOM, which lives in any apartment: the multithreaded one needs no
        // hidden window per worker, which every one of hundreds of workers would otherwise make and destroy.
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            // A worker judges report after report: their documents come from one class object.
            TDomClassScope documents;
            UniqueHandle delivered(CreateEventW(nullptr, FALSE, FALSE, nullptr));
            TCheckPool& pool = Instance();
            for (TCheckJob* job = pool.Next(true); job; job = pool.Next(false))
                RunJob(job, delivered.get());
        }
        if (SUCCEEDED(com))
            CoUninitialize();
        return 0;
    }

    // An exception from the check ends it without the callback: the row keeps its values and, since the next
    // check time did not move, the item is due again at the next pass.
    static void RunJob(TCheckJob* job, HANDLE delivered)
    {
        try {
            job->Status->CheckStatus()->RunCheck();
        } catch (...) {
            job->CallBack = false;
        }
        bool wait = job->CallBack && delivered;
        job->Delivered = wait ? delivered : nullptr;
        if (!TCheckDispatcher::Instance().Post(job)) {
            job->Status->EndAsyncCheck();
            delete job;
            return;
        }
        if (wait)
            WaitForSingleObject(delivered, INFINITE);
    }

    std::mutex mutex_;
    std::deque<TCheckJob*> waiting_;
    size_t workers_ = 0;
    size_t peak_ = 0;
    bool spawnPending_ = false;
};

} // namespace

TCheckCallbackTarget::TCheckCallbackTarget() : id_(TCheckDispatcher::Instance().Register()) {}

TCheckCallbackTarget::~TCheckCallbackTarget() { TCheckDispatcher::Instance().Revoke(id_); }

void TCheckStatusAsync::Start(TCheckCallbackTarget& target, TStatusRow row, std::shared_ptr<TCheckStatus> status,
                              TCheckStatusCallback callback)
{
    Assert(status != nullptr, "A check needs a status object", kUnit, __LINE__);
    Assert(TCheckDispatcher::Instance().IsMainThread(), "Checks are started on the main thread", kUnit, __LINE__);
    Assert(!status->CheckRunning(), "One check at a time per status object", kUnit, __LINE__);
    status->BeginAsyncCheck();
    auto* job = new TCheckJob;
    job->TargetId = target.Id();
    job->Row = row;
    job->Status = status;
    job->Callback = std::move(callback);
    try {
        TCheckPool::Instance().Submit(job);
    } catch (...) {
        status->EndAsyncCheck();
        delete job;
        throw;
    }
}

TCheckRunnerStats TCheckStatusAsync::Stats() { return TCheckPool::Instance().Stats(); }

void TCheckStatusAsync::ResetPeak() { TCheckPool::Instance().ResetPeak(); }
