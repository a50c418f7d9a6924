// The memory stress test: blocks taken from the system until it refuses one, each filled while locked in
// physical memory, and released together.
#pragma once

#include "InterfaceObjects.h"

#include <windows.h>

#include <cstdint>
#include <limits>
#include <vector>

constexpr SIZE_T kLargeMemoryBlockSize = 2097152; // large pages, with the lock-memory privilege
constexpr SIZE_T kMemoryBlockSize = 131072;
constexpr size_t kMemoryBlockListCapacity = 262144;

// Enables the lock-memory privilege in the process's token; true exactly when the account holds it.
bool EnableLockMemoryPrivilege();

// How blocks are taken from and given back to the system; tests replace it.
class TMemoryBlockAllocator {
public:
    virtual ~TMemoryBlockAllocator() = default;
    // A read/write block anywhere in the address space, reserved and committed (as large pages when asked);
    // null when the system refuses.
    virtual void* Allocate(SIZE_T size, bool largePages);
    virtual bool Lock(void* block, SIZE_T size);
    virtual void Unlock(void* block, SIZE_T size);
    virtual void Release(void* block);
};

// The blocks taken by one run of the memory stress test.
class TMemoryBlocks : public TObject {
public:
    static constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

    // maxBytes bounds what Consume takes (the program takes all it can get; tests pass a bound).
    explicit TMemoryBlocks(uint64_t maxBytes = kNoLimit, TMemoryBlockAllocator* allocator = nullptr);
    // Gives back every block still held.
    ~TMemoryBlocks() override;

    // Takes blocks of the size for the privilege until the system refuses one or the bound is reached. A block
    // that can be locked gets byte i = i mod 256 and is unlocked again; one that cannot stays untouched.
    void Consume(bool lockMemoryPrivilege);
    // Gives every block back, from the last to the first.
    void Release();

    SIZE_T BlockSize() const { return blockSize_; }
    size_t Count() const { return blocks_.size(); }
    uint64_t Bytes() const { return static_cast<uint64_t>(blocks_.size()) * blockSize_; }
    const std::vector<void*>& Blocks() const { return blocks_; }

private:
    uint64_t maxBytes_;
    TMemoryBlockAllocator* allocator_;
    SIZE_T blockSize_ = kMemoryBlockSize;
    std::vector<void*> blocks_;
};
