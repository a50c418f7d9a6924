#include "UEatMemory.h"
#include "UEatProcessor.h"
#include "Unique.h"

#include <gtest/gtest.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

namespace {

// The process's committed private memory.
uint64_t CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

bool TokenHoldsLockMemoryPrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    UniqueHandle owned(token);
    LUID luid;
    LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &luid);
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size))
        return false;
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        if (privileges->Privileges[i].Luid.LowPart == luid.LowPart &&
            privileges->Privileges[i].Luid.HighPart == luid.HighPart)
            return true;
    return false;
}

// Real memory from the system, with a bound on how much it hands out and the calls it got recorded.
class RecordingAllocator : public TMemoryBlockAllocator {
public:
    size_t refuseAfter = 1000;
    bool lockSucceeds = true;
    std::vector<SIZE_T> sizes;
    std::vector<bool> largePages;
    std::vector<void*> released;
    int locks = 0, unlocks = 0;

    void* Allocate(SIZE_T size, bool large) override
    {
        sizes.push_back(size);
        largePages.push_back(large);
        if (sizes.size() > refuseAfter)
            return nullptr;
        return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    }
    bool Lock(void*, SIZE_T) override
    {
        ++locks;
        return lockSucceeds;
    }
    void Unlock(void*, SIZE_T) override { ++unlocks; }
    void Release(void* block) override
    {
        released.push_back(block);
        VirtualFree(block, 0, MEM_RELEASE);
    }
};

bool FilledWithPattern(const void* block, SIZE_T size)
{
    auto* bytes = static_cast<const unsigned char*>(block);
    for (SIZE_T i = 0; i < size; ++i)
        if (bytes[i] != static_cast<unsigned char>(i % 256))
            return false;
    return true;
}

bool AllZero(const void* block, SIZE_T size)
{
    auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

} // namespace

TEST(MemoryStress, PrivilegeIsEnabledExactlyWhenTheAccountHoldsIt)
{
    EXPECT_EQ(EnableLockMemoryPrivilege(), TokenHoldsLockMemoryPrivilege());
}

TEST(MemoryStress, BlocksAreFilledAndGivenBackToTheStartingLevel)
{
    constexpr uint64_t kBound = 8u << 20;
    for (int run = 0; run < 2; ++run) { // "Consume memory" can be used again after a release
        TMemoryBlocks blocks(kBound);
        const uint64_t before = CommittedBytes();
        blocks.Consume(false);

        EXPECT_EQ(blocks.BlockSize(), 131072u);
        EXPECT_EQ(blocks.Count(), kBound / 131072);
        EXPECT_GE(CommittedBytes(), before + kBound - (1u << 20));
        for (void* block : blocks.Blocks()) {
            MEMORY_BASIC_INFORMATION info = {};
            VirtualQuery(block, &info, sizeof(info));
            EXPECT_EQ(info.AllocationBase, block);
            EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
            EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
            EXPECT_TRUE(FilledWithPattern(block, blocks.BlockSize()));
        }

        blocks.Release();
        EXPECT_EQ(blocks.Count(), 0u);
        EXPECT_LE(CommittedBytes(), before + (256u << 10)) << "run " << run;
    }
}

TEST(MemoryStress, BlockSizeFollowsThePrivilege)
{
    struct Case {
        bool privilege;
        SIZE_T size;
    };
    const Case cases[] = {{false, 131072}, {true, 2097152}};
    for (const auto& c : cases) {
        RecordingAllocator allocator;
        allocator.refuseAfter = 3;
        TMemoryBlocks blocks(TMemoryBlocks::kNoLimit, &allocator);
        blocks.Consume(c.privilege);
        EXPECT_EQ(blocks.BlockSize(), c.size);
        EXPECT_EQ(blocks.Count(), 3u);
        for (size_t i = 0; i < allocator.sizes.size(); ++i) {
            EXPECT_EQ(allocator.sizes[i], c.size);
            EXPECT_EQ(allocator.largePages[i], c.privilege);
        }
    }
}

TEST(MemoryStress, TakesBlocksUntilTheSystemRefusesOrTheBoundIsReached)
{
    RecordingAllocator refusing;
    refusing.refuseAfter = 5;
    TMemoryBlocks blocks(TMemoryBlocks::kNoLimit, &refusing);
    blocks.Consume(false); // the refusal ends the loop without an error
    EXPECT_EQ(blocks.Count(), 5u);
    EXPECT_EQ(refusing.sizes.size(), 6u);

    RecordingAllocator plenty;
    TMemoryBlocks bounded(7 * 131072 + 1, &plenty);
    bounded.Consume(false);
    EXPECT_EQ(bounded.Count(), 7u);
    EXPECT_EQ(bounded.Bytes(), 7u * 131072);
}

TEST(MemoryStress, BlockThatCannotBeLockedStaysUntouched)
{
    RecordingAllocator allocator;
    allocator.refuseAfter = 2;
    allocator.lockSucceeds = false;
    TMemoryBlocks blocks(TMemoryBlocks::kNoLimit, &allocator);
    blocks.Consume(false);
    ASSERT_EQ(blocks.Count(), 2u);
    for (void* block : blocks.Blocks())
        EXPECT_TRUE(AllZero(block, blocks.BlockSize()));
    EXPECT_EQ(allocator.unlocks, 0);

    RecordingAllocator locking;
    locking.refuseAfter = 2;
    TMemoryBlocks locked(TMemoryBlocks::kNoLimit, &locking);
    locked.Consume(false);
    EXPECT_EQ(locking.locks, 2);
    EXPECT_EQ(locking.unlocks, 2);
    EXPECT_TRUE(FilledWithPattern(locked.Blocks()[1], locked.BlockSize()));
}

TEST(MemoryStress, ReleaseGoesFromTheLastBlockToTheFirst)
{
    RecordingAllocator allocator;
    allocator.refuseAfter = 4;
    std::vector<void*> taken;
    {
        TMemoryBlocks blocks(TMemoryBlocks::kNoLimit, &allocator);
        blocks.Consume(false);
        taken = blocks.Blocks();
        blocks.Release();
        std::vector<void*> reversed(taken.rbegin(), taken.rend());
        EXPECT_EQ(allocator.released, reversed);

        // Freeing the list gives back what it still holds.
        allocator.released.clear();
        allocator.sizes.clear();
        allocator.refuseAfter = 2;
        blocks.Consume(false);
    }
    EXPECT_EQ(allocator.released.size(), 2u);
}

TEST(ProcessorStress, ThreadsCountUntilToldToStop)
{
    auto threads = std::make_unique<TEatProcessorThreadList>();
    threads->Start(TEatProcessorThreadList::kThreadCount, 20);
    ASSERT_EQ(threads->Count(), 64u);
    Sleep(500);
    for (size_t i = 0; i < threads->Count(); ++i)
        EXPECT_FALSE(threads->Thread(i).Finished()) << i;

    threads->TerminateAll();
    for (size_t i = 0; i < threads->Count(); ++i) {
        threads->Thread(i).WaitFor();
        EXPECT_TRUE(threads->Thread(i).Finished());
        EXPECT_GT(threads->Thread(i).Steps(), 0u) << i;
    }
    threads.reset();
}

TEST(ProcessorStress, ReleaseWithinTheFirstTwoSecondsEndsEveryThread)
{
    auto threads = std::make_unique<TEatProcessorThreadList>();
    ULONGLONG started = GetTickCount64();
    threads->Start();
    ASSERT_EQ(threads->Count(), 64u);
    std::vector<TEatProcessorThread*> seen;
    for (size_t i = 0; i < threads->Count(); ++i)
        seen.push_back(&threads->Thread(i));
    threads->TerminateAll();
    for (auto* thread : seen)
        thread->WaitFor();
    ULONGLONG waited = GetTickCount64() - started;
    for (auto* thread : seen)
        EXPECT_EQ(thread->Steps(), 0u); // each ended after its first sleep, without counting
    // All sleep at once, so the whole wait is about one sleep, not one per thread.
    EXPECT_GE(waited, 1900u);
    EXPECT_LT(waited, 2000u * 8);
    threads.reset();
}

// The ids of this process's threads as the system lists them; an ended thread leaves the list.
std::set<DWORD> ThreadsOfThisProcess()
{
    std::set<DWORD> ids;
    UniqueHandle snapshot(NullIfInvalid(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0)));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    }
    return ids;
}

// The threads that are in the second list and not in the first.
std::set<DWORD> Added(const std::set<DWORD>& before, const std::set<DWORD>& after)
{
    std::set<DWORD> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
    return added;
}

// Those of the threads that the system still lists.
std::set<DWORD> StillRunning(const std::set<DWORD>& threads)
{
    std::set<DWORD> running;
    const std::set<DWORD> now = ThreadsOfThisProcess();
    std::set_intersection(threads.begin(), threads.end(), now.begin(), now.end(),
                          std::inserter(running, running.end()));
    return running;
}

TEST(ProcessorStress, FreeingTheListStopsAndWaitsForEveryThread)
{
    const std::set<DWORD> before = ThreadsOfThisProcess();
    ASSERT_FALSE(before.empty());
    auto single = std::make_unique<TEatProcessorThread>(10);
    Sleep(50);
    const std::set<DWORD> one = Added(before, ThreadsOfThisProcess());
    EXPECT_EQ(one.size(), 1u);
    single.reset(); // the destructor asks the thread to stop and waits
    EXPECT_TRUE(StillRunning(one).empty()) << "the thread outlived its object";

    auto threads = std::make_unique<TEatProcessorThreadList>();
    threads->Start(8, 10);
    Sleep(50);
    const std::set<DWORD> eight = Added(before, ThreadsOfThisProcess());
    EXPECT_EQ(eight.size(), 8u);
    threads.reset();
    EXPECT_TRUE(StillRunning(eight).empty()) << "threads outlived the list";
}

TEST(StressButtons, EachLoadHasItsPairOfButtons)
{
    struct Case {
        bool memory, processor;
        TStressButtons buttons;
    };
    const Case cases[] = {
        {false, false, {true, false, true, false}},
        {true, false, {false, true, true, false}},
        {false, true, {true, false, false, true}},
        {true, true, {false, true, false, true}},
    };
    for (const auto& c : cases) {
        TStressButtons b = StressButtonsFor(c.memory, c.processor);
        EXPECT_EQ(b.EatMemoryEnabled, c.buttons.EatMemoryEnabled);
        EXPECT_EQ(b.ReleaseMemoryEnabled, c.buttons.ReleaseMemoryEnabled);
        EXPECT_EQ(b.EatProcessorEnabled, c.buttons.EatProcessorEnabled);
        EXPECT_EQ(b.ReleaseProcessorEnabled, c.buttons.ReleaseProcessorEnabled);
    }
}
