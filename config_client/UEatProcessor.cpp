#include "UEatProcessor.h"

#include "WinTools.h"

#include <limits>

TEatProcessorThread::TEatProcessorThread(DWORD startDelayMs) : startDelayMs_(startDelayMs)
{
    // Every member is set before the thread starts, since it reads them at once.
    thread_ = UniqueHandle(CreateThread(nullptr, 0, &TEatProcessorThread::ThreadProc, this, 0, nullptr));
    if (!thread_)
        throw ELastWin32Error();
}

TEatProcessorThread::~TEatProcessorThread()
{
    Terminate();
    WaitFor();
}

void TEatProcessorThread::WaitFor() const
{
    if (thread_)
        WaitForSingleObject(thread_.get(), INFINITE);
}

bool TEatProcessorThread::Finished() const
{
    return !thread_ || WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0;
}

DWORD WINAPI TEatProcessorThread::ThreadProc(void* self)
{
    static_cast<TEatProcessorThread*>(self)->Execute();
    return 0;
}

// The counter wraps from the largest to the smallest value instead of overflowing.
void TEatProcessorThread::Execute()
{
    ::Sleep(startDelayMs_);
    int64_t counter = 0;
    uint64_t steps = 0;
    while (!Terminated()) {
        counter = counter == std::numeric_limits<int64_t>::max() ? std::numeric_limits<int64_t>::min() : counter + 1;
        ++steps;
    }
    steps_.store(steps);
}

TEatProcessorThreadList::~TEatProcessorThreadList()
{
    TerminateAll();
    threads_.clear();
}

void TEatProcessorThreadList::Start(int count, DWORD startDelayMs)
{
    threads_.reserve(threads_.size() + static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        threads_.push_back(std::make_unique<TEatProcessorThread>(startDelayMs));
}

void TEatProcessorThreadList::TerminateAll()
{
    for (auto& thread : threads_)
        thread->Terminate();
}

TStressButtons StressButtonsFor(bool memoryConsumed, bool processorConsumed)
{
    return {!memoryConsumed, memoryConsumed, !processorConsumed, processorConsumed};
}
