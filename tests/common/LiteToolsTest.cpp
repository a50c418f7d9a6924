#include "LiteTools.h"
#include "ShellFolders.h"
#include "Strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

std::vector<std::string> Args(std::initializer_list<const char*> words)
{
    std::vector<std::string> args{"C:\\prog.exe"};
    for (const char* w : words)
        args.emplace_back(w);
    return args;
}

} // namespace

TEST(TextToBool, WordsAndDefaults)
{
    struct Case {
        const char* text;
        bool def;
        bool expected;
    };
    const Case cases[] = {
        {"t", false, true},      {"1", false, true},      {"T", false, true}, {"TRUE", false, true},
        {"true", false, true},   {"f", true, false},      {"0", true, false}, {"false", true, false},
        {"yes", false, false},   {"yes", true, true},     {"", false, false}, {"", true, true},
        {" True", false, false}, {"True ", false, false}, {"no", true, true}, {"10", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextToBool(std::string(c.text), c.def), c.expected) << '"' << c.text << "\" def " << c.def;
        EXPECT_EQ(TextToBool(AnsiToWide(c.text), c.def), c.expected) << "wide \"" << c.text << '"';
    }
    EXPECT_EQ(BoolToText(true), "True");
    EXPECT_EQ(BoolToText(false), "False");
}

TEST(CommandLine, ValueLookup)
{
    struct Case {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {Args({"Hide", "true"}), "true"},
        {Args({"HIDE", "1", "hide", "0"}), "0"}, // the last match wins
        {Args({}), "false"},                     // empty command line: the default
        {Args({"/Hide", "true"}), "false"},      // a prefixed word is another name
        {Args({"Hide", "No"}), "No"},
        {Args({"other", "Hide", "T", "x"}), "T"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetParamValueDef(c.args, "Hide", "false"), c.expected);
}

TEST(CommandLine, NameAsLastArgumentRaisesNotFound)
{
    for (const auto& args : {Args({"x", "Hide"}), Args({"Hide"})}) {
        try {
            GetParamValueDef(args, "Hide", "false");
            FAIL() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Parameter name \"Hide\" not found in application path");
        }
    }
    EXPECT_THROW(GetParamValue(Args({}), "Hide"), Exception);
}

TEST(CommandLine, ParamExistsIgnoresCaseOfWholeArguments)
{
    EXPECT_TRUE(ParamExists(Args({"/startservice"}), "/StartService"));
    EXPECT_TRUE(ParamExists(Args({"a", "/STARTSERVICE", "b"}), "/StartService"));
    EXPECT_FALSE(ParamExists(Args({"/StartService=1"}), "/StartService"));
    EXPECT_FALSE(ParamExists(Args({"-StartService"}), "/StartService"));
    // Argument 0 is the program path, never a switch.
    EXPECT_FALSE(ParamExists(std::vector<std::string>{"/StartService"}, "/StartService"));
}

TEST(NewGuidText, ThirtyTwoUpperHexDigitsFreshEachTime)
{
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string text = NewGuidText();
        ASSERT_EQ(text.size(), 32u);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(Hex, TextAndNibbles)
{
    EXPECT_EQ(HexToStr("4142"), "AB");
    EXPECT_EQ(HexToStr("41g2"), "41g2"); // a character outside digits and A-Z: unchanged
    EXPECT_EQ(HexToStr("414"), "A");     // an odd last character is ignored
    try {
        HexToStr("4G");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Failed to extract HEX from G. Extracted: 16");
    }
    EXPECT_EQ(StrToHex("AB\x01\xff"), "414201FF");
    EXPECT_EQ(NibbleToHex(10), 'A');
    EXPECT_THROW(NibbleToHex(16), Exception);
    EXPECT_THROW(HexToNibble('a'), Exception); // lower case is rejected
    try {
        NibbleToHex(-1);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Failed to make HEX from -1");
    }
}

TEST(Hex, BufferRoundTripAndSizeCheck)
{
    unsigned char in[300], out[300];
    for (int i = 0; i < 300; ++i)
        in[i] = static_cast<unsigned char>(i * 7);
    std::string text = BufToHex(in, sizeof in);
    HexToBuf(text, out, sizeof out);
    EXPECT_EQ(std::memcmp(in, out, sizeof in), 0);
    try {
        HexToBuf("4142", out, 3);
        FAIL() << "no error";
    } catch (const ECheckError& e) {
        EXPECT_STREQ(e.what(), "Wrong memory size: Awaiting 3 but found 2 in string 4142");
    }
}

TEST(ByteSum, BothImplementationsAgreeAndWrap)
{
    // More bytes of 255 than a 32-bit sum holds: both wrap alike, modulo 2^32.
    const uint64_t count = 0x100000000ull / 255 + 4097;
    std::vector<unsigned char> bytes(static_cast<size_t>(count), 255);
    const uint32_t wrapped = static_cast<uint32_t>(count * 255);
    ASSERT_LT(wrapped, 255u * 4097u) << "the sum does not pass 2^32";
    EXPECT_EQ(ByteSum(bytes.data(), bytes.size()), wrapped);
    EXPECT_EQ(ByteSumIndexed(bytes.data(), bytes.size()), wrapped);
    EXPECT_EQ(ByteSum(bytes.data(), 0), 0u);
}

TEST(Checks, MessagesAndAssertionForm)
{
    EXPECT_NO_THROW(Check(true, "x"));
    try {
        CheckFmt(false, "value %d of %s", 5, "x");
        FAIL();
    } catch (const ECheckError& e) {
        EXPECT_STREQ(e.what(), "value 5 of x");
    }
    try {
        Assert(false, "Assertion failure", "common\\LiteTools", 1067);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Assertion failure (common\\LiteTools, line 1067)");
    }
}

TEST(CountChar, CodeUnits)
{
    EXPECT_EQ(CountChar(L'\r', L"a\rb\r\rc"), 3);
    EXPECT_EQ(CountChar(L'x', L"abc"), 0);
    EXPECT_EQ(CountChar(L'x', L""), 0);
}

TEST(SelfCheck, PassesOnThisSystem) { EXPECT_NO_THROW(RunSelfCheck()); }

TEST(SpecialFolders, AppDataEndsWithBackslashAndExists)
{
    std::wstring path = GetAppDataFolder();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), L'\\');
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    try {
        GetSpecialFolderPath(0x7F); // no such folder id
        FAIL();
    } catch (const ECheckError& e) {
        EXPECT_STREQ(e.what(), "Failed to find folder path");
    }
}
