// The memory that the checks of one process may hold at once: their bodies and the copies made of them.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>

// A count of bytes that many threads draw on; a thread that finds too few free waits for them, up to a
// deadline. Neither copyable nor movable.
class TMemoryBudget {
public:
    explicit TMemoryBudget(size_t capacity) : capacity_(capacity) {}
    TMemoryBudget(const TMemoryBudget&) = delete;
    TMemoryBudget& operator=(const TMemoryBudget&) = delete;

    // Takes bytes once they are free, or takes nothing and answers false when deadline (a GetTickCount64 time)
    // comes first or bytes is more than the whole budget.
    bool Acquire(size_t bytes, ULONGLONG deadline);
    void Release(size_t bytes);

    size_t Capacity() const { return capacity_; }
    size_t InUse() const;
    size_t PeakInUse() const;

    // The process's budget for what its checks hold.
    static TMemoryBudget& Checks();

private:
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable freed_;
    size_t inUse_ = 0;
    size_t peak_ = 0;
};

// What one check holds of a budget: taken at once, given back whole when the lease ends. Neither copyable nor
// movable.
class TMemoryLease {
public:
    explicit TMemoryLease(TMemoryBudget& budget) : budget_(budget) {}
    ~TMemoryLease() { budget_.Release(held_); }
    TMemoryLease(const TMemoryLease&) = delete;
    TMemoryLease& operator=(const TMemoryLease&) = delete;

    // Makes the lease hold at least bytes, waiting at most until deadline; false (holding what it held) when the
    // budget cannot give them by then.
    bool HoldAtLeast(size_t bytes, ULONGLONG deadline);
    size_t Held() const { return held_; }

private:
    TMemoryBudget& budget_;
    size_t held_ = 0;
};

// What a check may hold of a body without a lease: small bodies, and the copies made of them, come and go
// freely, so that the everyday checks never wait for each other.
constexpr size_t kFreeBodyBytes = 256u * 1024u;
// A large body is leased whole, at its size limit times this: the body, its UTF-16 copy (twice its size) and
// the parser's own copies of it. A lease is taken all at once, so a check never waits while holding part of
// one, and checks cannot stall each other for good.
constexpr size_t kLeasedCopiesPerBody = 5;
