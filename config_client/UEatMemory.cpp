#include "UEatMemory.h"

#include "Unique.h"

namespace {

TMemoryBlockAllocator& SystemAllocator()
{
    static TMemoryBlockAllocator allocator;
    return allocator;
}

} // namespace

// An account without the privilege still gets a successful adjustment, with ERROR_NOT_ALL_ASSIGNED as the last
// error: only a last error of 0 means that the privilege is now enabled.
bool EnableLockMemoryPrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    UniqueHandle owned(token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid))
        return false;
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}

void* TMemoryBlockAllocator::Allocate(SIZE_T size, bool largePages)
{
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | (largePages ? MEM_LARGE_PAGES : 0), PAGE_READWRITE);
}

bool TMemoryBlockAllocator::Lock(void* block, SIZE_T size) { return VirtualLock(block, size) != FALSE; }

void TMemoryBlockAllocator::Unlock(void* block, SIZE_T size) { VirtualUnlock(block, size); }

void TMemoryBlockAllocator::Release(void* block) { VirtualFree(block, 0, MEM_RELEASE); }

TMemoryBlocks::TMemoryBlocks(uint64_t maxBytes, TMemoryBlockAllocator* allocator)
    : maxBytes_(maxBytes), allocator_(allocator ? allocator : &SystemAllocator())
{
    blocks_.reserve(kMemoryBlockListCapacity);
}

TMemoryBlocks::~TMemoryBlocks() { Release(); }

// The end of the loop is the first refused allocation, which is not an error. A block whose address cannot be
// kept is given back before the error goes on, so that nothing is lost track of.
void TMemoryBlocks::Consume(bool lockMemoryPrivilege)
{
    blockSize_ = lockMemoryPrivilege ? kLargeMemoryBlockSize : kMemoryBlockSize;
    while (Bytes() + blockSize_ <= maxBytes_) {
        void* block = allocator_->Allocate(blockSize_, lockMemoryPrivilege);
        if (!block)
            break;
        if (allocator_->Lock(block, blockSize_)) {
            auto* bytes = static_cast<unsigned char*>(block);
            for (SIZE_T i = 0; i < blockSize_; ++i)
                bytes[i] = static_cast<unsigned char>(i);
            allocator_->Unlock(block, blockSize_);
        }
        try {
            blocks_.push_back(block);
        } catch (...) {
            allocator_->Release(block);
            throw;
        }
    }
}

void TMemoryBlocks::Release()
{
    while (!blocks_.empty()) {
        allocator_->Release(blocks_.back());
        blocks_.pop_back();
    }
}
