#include "UMemoryBudget.h"

#include <algorithm>
#include <chrono>

bool TMemoryBudget::Acquire(size_t bytes, ULONGLONG deadline)
{
    if (bytes > capacity_)
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (capacity_ - inUse_ >= bytes) {
            inUse_ += bytes;
            peak_ = std::max(peak_, inUse_);
            return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        freed_.wait_for(lock, std::chrono::milliseconds(deadline - now));
    }
}

void TMemoryBudget::Release(size_t bytes)
{
    if (bytes == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inUse_ -= std::min(bytes, inUse_);
    }
    freed_.notify_all();
}

size_t TMemoryBudget::InUse() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return inUse_;
}

size_t TMemoryBudget::PeakInUse() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
}

// A 32-bit process has 2 to 4 GB of address space for everything: its code, a stack for each of up to 256
// workers, the windows, and the bodies. 512 MiB of leased bodies (six large checks at once) leaves the rest
// room to spare; a 64-bit process keeps the same bound, so that both builds judge alike.
TMemoryBudget& TMemoryBudget::Checks()
{
    static TMemoryBudget* budget = new TMemoryBudget(512u * 1024u * 1024u);
    return *budget;
}

bool TMemoryLease::HoldAtLeast(size_t bytes, ULONGLONG deadline)
{
    if (bytes <= held_)
        return true;
    if (!budget_.Acquire(bytes - held_, deadline))
        return false;
    held_ = bytes;
    return true;
}
