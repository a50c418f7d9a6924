#include "ReadWriteLock.h"

#include "Exceptions.h"

namespace {
constexpr const char* kUnit = "XmlTools";
}

void TReadWriteLock::BeginRead()
{
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(mutex_);
    auto it = readers_.find(self);
    if (writer_ == self || it != readers_.end()) {
        // Already inside: waiting here for a queued writer would wait for ourselves.
        ++readers_[self];
        return;
    }
    changed_.wait(guard, [this] { return writer_ == 0 && waitingWriters_ == 0; });
    readers_[self] = 1;
}

void TReadWriteLock::EndRead()
{
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(mutex_);
    auto it = readers_.find(self);
    Assert(it != readers_.end(), "EndRead without BeginRead", kUnit, __LINE__);
    if (--it->second == 0) {
        readers_.erase(it);
        guard.unlock();
        changed_.notify_all();
    }
}

void TReadWriteLock::BeginWrite()
{
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(mutex_);
    if (writer_ == self) {
        ++writeDepth_;
        return;
    }
    Assert(readers_.find(self) == readers_.end(), "Write lock requested while holding the read lock", kUnit, __LINE__);
    ++waitingWriters_;
    changed_.wait(guard, [this] { return writer_ == 0 && readers_.empty(); });
    --waitingWriters_;
    writer_ = self;
    writeDepth_ = 1;
}

int TReadWriteLock::WaitingWriters()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return waitingWriters_;
}

void TReadWriteLock::EndWrite()
{
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(mutex_);
    Assert(writer_ == self, "EndWrite without BeginWrite", kUnit, __LINE__);
    if (--writeDepth_ == 0) {
        writer_ = 0;
        guard.unlock();
        changed_.notify_all();
    }
}

bool TReadWriteLock::IsWriter()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return writer_ == GetCurrentThreadId();
}
