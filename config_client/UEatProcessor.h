// The processor stress test: busy threads that each count on their own until told to stop.
#pragma once

#include "InterfaceObjects.h"
#include "Unique.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// One busy thread: started at once at the normal priority; it sleeps first, then counts until asked to stop.
class TEatProcessorThread : public TObject {
public:
    static constexpr DWORD kStartDelayMs = 2000;

    explicit TEatProcessorThread(DWORD startDelayMs = kStartDelayMs);
    // Asks the thread to stop and waits for it.
    ~TEatProcessorThread() override;

    // Asks the thread to stop; it ends after its first sleep at the latest.
    void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
    void WaitFor() const;
    bool Finished() const;
    // How many counting steps the thread made before it ended (valid once Finished).
    uint64_t Steps() const { return steps_.load(); }

protected:
    void Execute();

private:
    static DWORD WINAPI ThreadProc(void* self);

    const DWORD startDelayMs_;
    std::atomic<bool> terminated_{false};
    std::atomic<uint64_t> steps_{0};
    UniqueHandle thread_;
};

// The owning list of the stress threads. Freeing it first tells every thread to stop and then waits for each in
// list order, so the wait is about the longest single stop, not the sum.
class TEatProcessorThreadList : public TObject {
public:
    static constexpr int kThreadCount = 64;

    TEatProcessorThreadList() = default;
    ~TEatProcessorThreadList() override;

    // Creates and appends the threads, whatever the number of processors.
    void Start(int count = kThreadCount, DWORD startDelayMs = TEatProcessorThread::kStartDelayMs);
    void TerminateAll();

    size_t Count() const { return threads_.size(); }
    TEatProcessorThread& Thread(size_t index) const { return *threads_[index]; }

private:
    std::vector<std::unique_ptr<TEatProcessorThread>> threads_;
};

// Which stress buttons are enabled: a load that runs can only be released, one that does not can only start.
struct TStressButtons {
    bool EatMemoryEnabled = true;
    bool ReleaseMemoryEnabled = false;
    bool EatProcessorEnabled = true;
    bool ReleaseProcessorEnabled = false;
};
TStressButtons StressButtonsFor(bool memoryConsumed, bool processorConsumed);
