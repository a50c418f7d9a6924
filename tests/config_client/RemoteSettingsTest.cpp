#include "URemoteSettings.h"

#include <gtest/gtest.h>

#include <set>

TEST(Generators, ExactSequenceForASeed)
{
    // Worked out by hand from seed := seed * 134775813 + 1 and draw = high half of seed * range.
    struct Case {
        uint32_t seed;
        const wchar_t* userName;
        const wchar_t* password;
    };
    const Case cases[] = {
        {0, L"b1mqPtkx", L"c-rx6BoG"},
        {1, L"1mqPtkxA", L"-rx6BoGL"},
        {12345, L"reINvBec5", L"zgW3DMgc."},
        {0xFFFFFFFFu, L"mGi2bD6tVQ2", L"rTl;cP<B%7;"},
        {0xDEADBEEFu, L"kKJ5ZCX7Q", L"pZX._O*>7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GenerateUserName(c.seed), c.userName) << c.seed;
        EXPECT_EQ(GeneratePassword(c.seed), c.password) << c.seed;
    }

    TRandomGenerator random(0);
    EXPECT_EQ(random.Next(4), 0u);
    EXPECT_EQ(random.Seed(), 1u);
    EXPECT_EQ(random.Next(0x10000), 2056u); // 134775814 * 65536 >> 32
    EXPECT_EQ(random.Seed(), 134775814u);
}

TEST(Generators, AlphabetsAndLengths)
{
    EXPECT_EQ(kUserNameAlphabet.size(), 62u);
    EXPECT_EQ(kPasswordAlphabet.size(), 87u);
    EXPECT_EQ(kPasswordAlphabet.substr(0, 62), kUserNameAlphabet);
    EXPECT_EQ(kPasswordAlphabet.substr(62), L"!@#$%^&*()_+-=;'\",./<>?`~");

    std::set<size_t> lengths;
    std::set<wchar_t> passwordCharacters;
    for (uint32_t seed = 0; seed < 2000; ++seed) {
        std::wstring user = GenerateUserName(seed * 2654435761u);
        std::wstring password = GeneratePassword(seed * 2654435761u);
        EXPECT_EQ(user.find_first_not_of(kUserNameAlphabet), std::wstring::npos) << seed;
        EXPECT_EQ(password.find_first_not_of(kPasswordAlphabet), std::wstring::npos) << seed;
        lengths.insert(user.size());
        lengths.insert(password.size());
        passwordCharacters.insert(password.begin(), password.end());
    }
    EXPECT_EQ(lengths, (std::set<size_t>{8, 9, 10, 11}));
    EXPECT_EQ(passwordCharacters.size(), 87u); // every character can come up, the first and the last included

    // Fresh seeds: two clicks in a row give two different texts.
    std::wstring first = GeneratePassword();
    Sleep(2);
    EXPECT_NE(GeneratePassword(), first);
}

TEST(LocalServicePage, AddressFromPortAndSSL)
{
    struct Case {
        const wchar_t* port;
        bool ssl;
        const wchar_t* address;
    };
    const Case cases[] = {
        {L"3745", true, L"https://localhost:3745"},   {L"3745", false, L"http://localhost:3745"},
        {L"", false, L"http://localhost:0"},          {L"abc", true, L"https://localhost:0"},
        {L"99999", false, L"http://localhost:99999"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalServiceAddress(c.port, c.ssl), c.address);
    EXPECT_EQ(LocalServiceAddress(80, false), L"http://localhost:80");
}
