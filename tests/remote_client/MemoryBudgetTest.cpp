// The process-wide bound on what checks hold: the budget itself, a retrieval that cannot get its lease, and
// checks of oversized bodies, which still end with their outcome and their callback.
#include "TestSupport.h"
#include "UCheckRunner.h"
#include "UMemoryBudget.h"
#include "UServerStatus.h"
#include "USiteStatus.h"
#include "UUtils.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

ULONGLONG In(DWORD ms) { return GetTickCount64() + ms; }

// Holds the whole of the checks' budget while it lives, so that no large body can be leased meanwhile.
class TBudgetSpent {
public:
    TBudgetSpent() : held_(TMemoryBudget::Checks().Acquire(TMemoryBudget::Checks().Capacity(), In(30000))) {}
    ~TBudgetSpent()
    {
        if (held_)
            TMemoryBudget::Checks().Release(TMemoryBudget::Checks().Capacity());
    }
    bool Held() const { return held_; }

private:
    bool held_;
};

} // namespace

TEST(MemoryBudget, TakesWhatIsFreeAndRefusesMoreAtTheDeadline)
{
    TMemoryBudget budget(1000);
    EXPECT_TRUE(budget.Acquire(600, In(0)));
    EXPECT_TRUE(budget.Acquire(400, In(0)));
    EXPECT_EQ(budget.InUse(), 1000u);

    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(budget.Acquire(1, In(300)));
    ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(budget.InUse(), 1000u) << "a refusal takes nothing";

    budget.Release(400);
    EXPECT_EQ(budget.InUse(), 600u);
    EXPECT_EQ(budget.PeakInUse(), 1000u);
    // More than the whole budget can never be had: refused at once, not at the deadline.
    start = GetTickCount64();
    EXPECT_FALSE(budget.Acquire(1001, In(5000)));
    EXPECT_LT(GetTickCount64() - start, 1000u);
}

TEST(MemoryBudget, AWaiterGetsWhatAnotherReleases)
{
    TMemoryBudget budget(100);
    ASSERT_TRUE(budget.Acquire(100, In(0)));
    bool got = false;
    ULONGLONG waited = 0;
    std::thread waiter([&] {
        ULONGLONG start = GetTickCount64();
        got = budget.Acquire(70, In(20000));
        waited = GetTickCount64() - start;
    });
    Sleep(300);
    budget.Release(50);
    Sleep(100);
    EXPECT_EQ(budget.InUse(), 50u) << "50 free is not yet the 70 asked for";
    budget.Release(50);
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_LT(waited, 5000u);
    EXPECT_EQ(budget.InUse(), 70u);
}

TEST(MemoryBudget, LeaseHoldsItsLargestClaimAndGivesAllBack)
{
    TMemoryBudget budget(100);
    {
        TMemoryLease lease(budget);
        EXPECT_TRUE(lease.HoldAtLeast(40, In(0)));
        EXPECT_TRUE(lease.HoldAtLeast(30, In(0)));
        EXPECT_EQ(lease.Held(), 40u);
        EXPECT_TRUE(lease.HoldAtLeast(90, In(0)));
        EXPECT_EQ(budget.InUse(), 90u);
        EXPECT_FALSE(lease.HoldAtLeast(101, In(0)));
        EXPECT_EQ(lease.Held(), 90u) << "a refused claim keeps what was held";
    }
    EXPECT_EQ(budget.InUse(), 0u);
}

TEST(MemoryBudget, ChecksBudgetBoundsTheLargeBodiesOfTheProcess)
{
    TMemoryBudget& checks = TMemoryBudget::Checks();
    // Every one of the workers at its size limit, with the copies of its body, could never be held at once...
    EXPECT_LT(checks.Capacity() / (kMaxBodyBytes * kLeasedCopiesPerBody), TCheckStatusAsync::kMaxWorkers);
    // ...but several large bodies can, and so can all the workers' small ones beside them, in a 32-bit process.
    EXPECT_GE(checks.Capacity() / (kMaxBodyBytes * kLeasedCopiesPerBody), 4u);
    EXPECT_LE(checks.Capacity() + TCheckStatusAsync::kMaxWorkers * kFreeBodyBytes * kLeasedCopiesPerBody, size_t(1)
                                                                                                              << 30);
}

TEST(MemoryBudgetRetrieval, LargeBodyLeasesItsLimitUntilTheRetrievalEnds)
{
    TMemoryLease lease(TMemoryBudget::Checks());
    TRetrieveOptions options;
    options.Lease = &lease;
    std::optional<std::string> body = RetrieveURL(TTestServers::Get().Http(L"/endless"), nullptr, options);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->size(), kMaxBodyBytes);
    EXPECT_EQ(lease.Held(), kMaxBodyBytes * kLeasedCopiesPerBody) << "the caller's lease covers the copies too";

    // A body within the free part takes no lease.
    TMemoryLease small(TMemoryBudget::Checks());
    options.Lease = &small;
    options.MaxBodyBytes = kFreeBodyBytes;
    body = RetrieveURL(TTestServers::Get().Http(L"/endless"), nullptr, options);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->size(), kFreeBodyBytes);
    EXPECT_EQ(small.Held(), 0u);
}

TEST(MemoryBudgetRetrieval, BodyWithoutMemoryEndsAfterItsFreePartAtTheDeadline)
{
    TBudgetSpent spent;
    ASSERT_TRUE(spent.Held());
    TRetrieveOptions options;
    options.DeadlineMs = 2000;
    ULONGLONG start = GetTickCount64();
    std::optional<std::string> body = RetrieveURL(TTestServers::Get().Http(L"/endless"), nullptr, options);
    ULONGLONG elapsed = GetTickCount64() - start;
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->size(), kFreeBodyBytes);
    EXPECT_GE(elapsed, 1500u);
    EXPECT_LT(elapsed, 8000u);
}

// Oversized bodies, with memory and without: every check calls back with the outcome its body decides, and a
// site keeps only the head of its page.
TEST(MemoryBudgetChecks, OversizedBodiesEndWithTheirOutcomeAndCallback)
{
    struct Case {
        const char* what;
        bool budgetSpent;
    };
    const Case cases[] = {{"memory to spare", false}, {"budget spent", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<TBudgetSpent> spent;
        if (c.budgetSpent) {
            spent = std::make_unique<TBudgetSpent>();
            ASSERT_TRUE(spent->Held());
        }
        auto site = std::make_shared<TCheckSiteStatus>(
            SiteSettings(TTestServers::Get().Http(L"/endless"), L"NEEDLE-NOT-IN-THE-STREAM"));
        auto server = std::make_shared<TCheckServerStatus>(ServerSettings(TTestServers::Get().Http(L"/endless")));
        for (TCheckStatus* status : {static_cast<TCheckStatus*>(site.get()), static_cast<TCheckStatus*>(server.get())})
            status->Retrieval.DeadlineMs = 5000;
        TCheckCallbackTarget target;
        std::vector<ICheckStatus*> called;
        TCheckStatusAsync::Start(target, nullptr, site, [&](TStatusRow, ICheckStatus* s) { called.push_back(s); });
        TCheckStatusAsync::Start(target, nullptr, server, [&](TStatusRow, ICheckStatus* s) { called.push_back(s); });
        ASSERT_TRUE(PumpUntil([&] { return called.size() == 2; }, 60000));
        EXPECT_EQ(site->StatusText, L"Code not found");
        EXPECT_FALSE(site->StatusOk);
        EXPECT_EQ(site->PageText.size(), kKeptPageBytes);
        EXPECT_EQ(server->StatusText, L"Bad response");
        EXPECT_FALSE(server->StatusOk);
        EXPECT_NE(site->NextCheckTime, 0.0) << "the check cycle moved on";
        EXPECT_NE(server->NextCheckTime, 0.0);
    }
    EXPECT_EQ(TMemoryBudget::Checks().InUse(), 0u) << "every lease was given back";
}
