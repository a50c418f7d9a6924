#include "LiteTools.h"

#include "Strings.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstring>
#include <memory>

namespace {

constexpr const char* kUnit = "common\\LiteTools";

// The first match from the end wins; the last argument is never taken as a name.
std::string FindParamValue(const std::vector<std::string>& args, const std::string& name)
{
    for (size_t i = args.empty() ? 0 : args.size() - 1; i-- > 1;) {
        if (SameTextAscii(args[i], name))
            return args[i + 1];
    }
    throw Exception(Format("Parameter name \"%s\" not found in application path", name.c_str()));
}

bool SameTextLocale(const std::wstring& a, const wchar_t* b)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b, -1) ==
           CSTR_EQUAL;
}

// A small generator for the self-check's test data; any sequence serves.
class TestBytes {
public:
    explicit TestBytes(uint32_t seed) : state_(seed | 1) {}
    uint8_t Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state_ >> 24);
    }

private:
    uint32_t state_;
};

} // namespace

std::vector<std::string> ParamList()
{
    std::vector<std::string> result;
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    result.push_back(WideToAnsi(path));
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv) {
        for (int i = 1; i < count; ++i)
            result.push_back(WideToAnsi(argv[i]));
        LocalFree(argv);
    }
    return result;
}

bool ParamExists(const std::vector<std::string>& args, const std::string& name)
{
    for (size_t i = args.size(); i-- > 1;) {
        if (SameTextAscii(args[i], name))
            return true;
    }
    return false;
}

std::string GetParamValue(const std::vector<std::string>& args, const std::string& name)
{
    return FindParamValue(args, name);
}

std::string GetParamValueDef(const std::vector<std::string>& args, const std::string& name, const std::string& def)
{
    return ParamExists(args, name) ? GetParamValue(args, name) : def;
}

bool ParamExists(const std::string& name) { return ParamExists(ParamList(), name); }
std::string GetParamValue(const std::string& name) { return GetParamValue(ParamList(), name); }
std::string GetParamValueDef(const std::string& name, const std::string& def)
{
    return GetParamValueDef(ParamList(), name, def);
}

bool TextToBool(const std::wstring& text, bool def)
{
    static const wchar_t* const kWords[] = {L"False", L"True", L"0", L"1", L"F", L"T"};
    for (int i = 0; i < 6; ++i) {
        if (SameTextLocale(text, kWords[i]))
            return i % 2 == 1;
    }
    return def;
}

bool TextToBool(const std::string& text, bool def) { return TextToBool(AnsiToWide(text), def); }

std::string BoolToText(bool value) { return value ? "True" : "False"; }

int CountChar(wchar_t ch, const std::wstring& text)
{
    int n = 0;
    for (wchar_t c : text)
        n += c == ch;
    return n;
}

std::string NewGuidText()
{
    GUID guid;
    Assert(SUCCEEDED(CoCreateGuid(&guid)), "Assertion failure", kUnit, 1067);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    std::string result;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p != L'{' && *p != L'}' && *p != L'-')
            result.push_back(static_cast<char>(*p));
    }
    return result;
}

char NibbleToHex(int value)
{
    if (value >= 0 && value <= 9)
        return static_cast<char>('0' + value);
    if (value >= 10 && value <= 15)
        return static_cast<char>('A' + value - 10);
    throw Exception(Format("Failed to make HEX from %d", value));
}

int HexToNibble(char ch)
{
    int code = static_cast<unsigned char>(ch);
    int value = code > '9' ? code - 55 : code - 48;
    if (value < 0 || value > 15)
        throw Exception(Format("Failed to extract HEX from %c. Extracted: %d", ch, value));
    return value;
}

std::string BufToHex(const void* buffer, size_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::string result;
    result.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        result.push_back(NibbleToHex(bytes[i] >> 4));
        result.push_back(NibbleToHex(bytes[i] & 15));
    }
    return result;
}

std::string StrToHex(const std::string& text) { return BufToHex(text.data(), text.size()); }

std::string HexToStr(const std::string& text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')))
            return text;
    }
    std::string result(text.size() / 2, '\0');
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<char>(HexToNibble(text[2 * i]) * 16 + HexToNibble(text[2 * i + 1]));
    return result;
}

void HexToBuf(const std::string& text, void* buffer, size_t count)
{
    CheckFmt(text.size() / 2 == count, "Wrong memory size: Awaiting %d but found %d in string %s",
             static_cast<int>(count), static_cast<int>(text.size() / 2), text.c_str());
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(HexToNibble(text[2 * i]) * 16 + HexToNibble(text[2 * i + 1]));
}

uint32_t ByteSum(const void* buffer, size_t count)
{
    uint32_t sum = 0;
    for (auto *p = static_cast<const uint8_t*>(buffer), *end = p + count; p != end; ++p)
        sum += *p;
    return sum;
}

uint32_t ByteSumIndexed(const void* buffer, size_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i = i + 1)
        sum = sum + static_cast<uint32_t>(bytes[i]);
    return sum;
}

void Check(bool condition, const std::string& message)
{
    if (!condition)
        throw ECheckError(message);
}

void CheckFmt(bool condition, const char* format, ...)
{
    if (condition)
        return;
    va_list args;
    va_start(args, format);
    std::string message = FormatV(format, args);
    va_end(args);
    throw ECheckError(message);
}

void RunSelfCheck()
{
    constexpr size_t kSize = 16384;
    TestBytes random(GetTickCount());
    auto first = std::make_unique<uint8_t[]>(kSize);
    auto second = std::make_unique<uint8_t[]>(kSize);

    for (size_t i = 0; i < kSize; ++i)
        first[i] = random.Next();
    Assert(ByteSum(first.get(), kSize) == ByteSumIndexed(first.get(), kSize), "Assertion failure", kUnit, 1219);

    const std::string probe = "Test string !!!";
    Assert(HexToStr(StrToHex(probe)) == probe, "Assertion failure", kUnit, 1227);

    for (size_t i = 0; i < kSize; ++i)
        first[i] = random.Next();
    HexToBuf(BufToHex(first.get(), kSize), second.get(), kSize);
    Assert(std::memcmp(first.get(), second.get(), kSize) == 0, "Assertion failure", kUnit, 1243);
}
