// A multi-reader/single-writer lock that its holders may take again.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <unordered_map>

// Any number of readers or one writer. Re-entrant for its holders: a reader may read again, a writer may
// write and read again. A thread that holds only the read side must not ask for the write side (an
// assertion failure, since two such threads would wait for each other forever). Waiting writers keep new
// readers out, so that a stream of readers cannot starve a writer; a thread that already reads is let in.
class TReadWriteLock {
public:
    TReadWriteLock() = default;
    TReadWriteLock(const TReadWriteLock&) = delete;
    TReadWriteLock& operator=(const TReadWriteLock&) = delete;

    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

    // Whether the calling thread holds the write side.
    bool IsWriter();
    // How many writers wait for the lock at this moment (what the tests wait for).
    int WaitingWriters();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    DWORD writer_ = 0;
    int writeDepth_ = 0;
    int waitingWriters_ = 0;
    // Read depth per thread; the writer's own reads are counted here too.
    std::unordered_map<DWORD, int> readers_;
};

class TReadLockGuard {
public:
    explicit TReadLockGuard(TReadWriteLock& lock) : lock_(lock) { lock_.BeginRead(); }
    ~TReadLockGuard() { lock_.EndRead(); }
    TReadLockGuard(const TReadLockGuard&) = delete;
    TReadLockGuard& operator=(const TReadLockGuard&) = delete;

private:
    TReadWriteLock& lock_;
};

class TWriteLockGuard {
public:
    explicit TWriteLockGuard(TReadWriteLock& lock) : lock_(lock) { lock_.BeginWrite(); }
    ~TWriteLockGuard() { lock_.EndWrite(); }
    TWriteLockGuard(const TWriteLockGuard&) = delete;
    TWriteLockGuard& operator=(const TWriteLockGuard&) = delete;

private:
    TReadWriteLock& lock_;
};
