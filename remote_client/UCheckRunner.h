// The asynchronous check runner: a check of a status object runs on a worker, its callback on the main thread.
#pragma once

#include "UUtils.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

using TStatusRow = void*;
// Run on the main thread after the check, with the row and the status it was started for.
using TCheckStatusCallback = std::function<void(TStatusRow row, ICheckStatus* status)>;

// Where callbacks may be delivered: a window creates one on the main thread and destroys it with itself; a
// callback whose target is gone is dropped. Neither copyable nor movable.
class TCheckCallbackTarget {
public:
    TCheckCallbackTarget();
    ~TCheckCallbackTarget();
    TCheckCallbackTarget(const TCheckCallbackTarget&) = delete;
    TCheckCallbackTarget& operator=(const TCheckCallbackTarget&) = delete;
    uint64_t Id() const { return id_; }

private:
    uint64_t id_;
};

struct TCheckRunnerStats {
    size_t Waiting = 0;     // checks waiting for a free worker
    size_t Workers = 0;     // worker threads alive now
    size_t PeakWorkers = 0; // most worker threads alive at once
};

// Runs one check of a status object on a worker and delivers the callback on the main thread.
// The main window owns a TCheckCallbackTarget, starts every check with it, skips a row whose status reports
// CheckRunning() (at a tick, a refresh and a reboot), and ends the program with ExitProcess after its message
// loop while checks may still be in flight, rather than waiting for them.
class TCheckStatusAsync {
public:
    static constexpr size_t kMaxWorkers = 256;
    static constexpr size_t kWorkerStackBytes = 64 * 1024;

    // Starts the check now, or as soon as a worker is free; the runner keeps status (and so its settings)
    // alive until the callback has run or been dropped. Main thread only; status must not have a check running.
    static void Start(TCheckCallbackTarget& target, TStatusRow row, std::shared_ptr<TCheckStatus> status,
                      TCheckStatusCallback callback);
    static TCheckRunnerStats Stats();
    // Sets the peak back to the workers alive now (benchmarks).
    static void ResetPeak();
};
