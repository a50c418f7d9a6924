// The waves of checks, and when a wave says that the computer itself cannot reach any host.
#include "UNetworkState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CheckWaves, AWaveEndsWithTheCallbackOfItsLastCheck)
{
    int a = 0, b = 0, c = 0, d = 0;
    TCheckWaves waves;
    waves.NewWave();
    waves.Started(&a, 5);
    waves.Started(&b, 0);
    waves.NewWave();
    waves.Started(&c, 7);

    EXPECT_FALSE(waves.Done(&d, L"h", true)) << "a check that never started";
    EXPECT_FALSE(waves.Done(&a, L"h1", true));
    auto second = waves.Done(&c, L"h3", false);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->size(), 1u);
    EXPECT_EQ((*second)[0].DowntimeBefore, 7);
    auto first = waves.Done(&b, L"h2", true);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 2u);
    EXPECT_EQ((*first)[0].Row, &a);
    EXPECT_EQ((*first)[0].Host, L"h1");
    EXPECT_EQ((*first)[0].DowntimeBefore, 5);
    EXPECT_EQ((*first)[1].Row, &b);
    EXPECT_FALSE(waves.Done(&b, L"h2", true)) << "called back twice";

    // Rows that a rebuild removed never call back: their wave goes with them.
    waves.NewWave();
    waves.Started(&a, 0);
    waves.Started(&b, 0);
    waves.Clear();
    waves.Started(&c, 0);
    auto after = waves.Done(&c, L"h", true);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size(), 1u);
}

TEST(CheckWaves, FailsEverywhereOnlyWhenEveryCheckFailedToConnectOnTwoHostsOrMore)
{
    struct Case {
        const char* name;
        std::vector<TWaveCheck> checks;
        bool everywhere;
    };
    const Case cases[] = {
        {"two hosts", {{nullptr, L"a", true, 0}, {nullptr, L"b", true, 0}}, true},
        {"one host twice", {{nullptr, L"a", true, 0}, {nullptr, L"a", true, 0}}, false},
        {"one answered", {{nullptr, L"a", true, 0}, {nullptr, L"b", true, 0}, {nullptr, L"c", false, 0}}, false},
        {"one check", {{nullptr, L"a", true, 0}}, false},
        {"none", {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WaveFailedEverywhere(c.checks), c.everywhere) << c.name;
}

// The machine's own routing table, read through the drive that maps the Unix root: with an IPv4 default route,
// the computer has a network with a gateway.
TEST(NetworkState, ComputerWithADefaultRouteHasANetwork)
{
    HANDLE file =
        ::CreateFileW(L"Z:\\proc\\net\\route", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no routing table to compare with (not under Wine)";
    std::string table;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        table.append(buffer, read);
    ::CloseHandle(file);
    bool defaultRoute = table.find("\t00000000\t") != std::string::npos;
    if (!defaultRoute)
        GTEST_SKIP() << "this machine has no IPv4 default route";
    EXPECT_TRUE(ComputerHasNetwork());
}
