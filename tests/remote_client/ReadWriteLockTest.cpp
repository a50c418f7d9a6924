#include "ReadWriteLock.h"

#include "Exceptions.h"
#include "StoreTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// Runs the action on another thread and tells whether it finished within the time.
bool FinishesWithin(DWORD ms, std::function<void()> action, std::thread& worker)
{
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    worker = std::thread([action, done] {
        action();
        SetEvent(done);
    });
    bool finished = WaitForSingleObject(done, ms) == WAIT_OBJECT_0;
    CloseHandle(done);
    return finished;
}

} // namespace

TEST(ReadWriteLock, ReadersShareAndWriterWaitsForThem)
{
    TReadWriteLock lock;
    lock.BeginRead();
    std::thread reader, writer;
    EXPECT_TRUE(FinishesWithin(
        2000,
        [&] {
            lock.BeginRead();
            lock.EndRead();
        },
        reader));
    std::atomic<bool> written{false};
    EXPECT_FALSE(FinishesWithin(
        200,
        [&] {
            lock.BeginWrite();
            written = true;
            lock.EndWrite();
        },
        writer));
    EXPECT_FALSE(written);
    lock.EndRead();
    writer.join();
    reader.join();
    EXPECT_TRUE(written);
}

TEST(ReadWriteLock, WriterKeepsOthersOut)
{
    TReadWriteLock lock;
    lock.BeginWrite();
    std::thread reader, writer;
    std::atomic<int> entered{0};
    EXPECT_FALSE(FinishesWithin(
        200,
        [&] {
            lock.BeginRead();
            ++entered;
            lock.EndRead();
        },
        reader));
    EXPECT_FALSE(FinishesWithin(
        200,
        [&] {
            lock.BeginWrite();
            ++entered;
            lock.EndWrite();
        },
        writer));
    EXPECT_EQ(entered, 0);
    lock.EndWrite();
    reader.join();
    writer.join();
    EXPECT_EQ(entered, 2);
}

TEST(ReadWriteLock, HoldersMayTakeItAgain)
{
    TReadWriteLock lock;
    lock.BeginWrite();
    lock.BeginWrite();
    lock.BeginRead();
    EXPECT_TRUE(lock.IsWriter());
    lock.EndRead();
    lock.EndWrite();
    EXPECT_TRUE(lock.IsWriter());
    lock.EndWrite();
    EXPECT_FALSE(lock.IsWriter());

    // A reader reads again although a writer waits: that writer waits for the reader, not the other way.
    std::thread writer, scenario;
    bool finished = FinishesWithin(
        5000,
        [&] {
            lock.BeginRead();
            writer = std::thread([&] {
                lock.BeginWrite();
                lock.EndWrite();
            });
            // The writer is queued behind our read before we read again.
            for (int i = 0; i < 500 && lock.WaitingWriters() == 0; ++i)
                Sleep(10);
            EXPECT_EQ(lock.WaitingWriters(), 1);
            lock.BeginRead();
            lock.EndRead();
            lock.EndRead();
        },
        scenario);
    if (!finished) {
        ADD_FAILURE() << "a reader waited for a writer that waited for it";
        std::_Exit(1);
    }
    scenario.join();
    writer.join();
}

TEST(ReadWriteLock, MisuseIsAnAssertion)
{
    TReadWriteLock lock;
    EXPECT_THROW(lock.EndWrite(), EAssertionFailed);
    EXPECT_THROW(lock.EndRead(), EAssertionFailed);
    lock.BeginRead();
    EXPECT_THROW(lock.BeginWrite(), EAssertionFailed);
    lock.EndRead();
}

// Readers on other threads never see the middle of a group of changes made between BeginWrite and EndWrite.
TEST(ReadWriteLock, StoreReadersSeeGroupsWhole)
{
    TTestFolder folder;
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("Group/Value", L"0");
    store->SetValue("Group/Tmp", L"0");

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            for (int i = 0; i < 200000 && !stop; ++i) {
                auto list = store->GetChildList("Group");
                if (!list || list->size() != 2 || (*list)[1].rfind("Tmp=", 0) != 0)
                    ++bad;
                if (store->GetValue("Group/Value").IsMissing())
                    ++bad;
                ++reads;
            }
        });
    for (int i = 0; i < 300; ++i) {
        store->BeginWrite();
        store->DeleteChild("Group/Tmp");
        store->RemoveNode("Group/Value");
        store->SetValue("Group/Value", std::to_wstring(i));
        store->SetValue("Group/Tmp", std::to_wstring(i));
        store->EndWrite();
    }
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(*store->GetChildList("Group"), (std::vector<std::string>{"Value=299", "Tmp=299"}));
}
