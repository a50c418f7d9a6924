#include "Strings.h"

#include <windows.h>

#include <vector>

namespace {

std::wstring ToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

std::string FromWide(UINT codePage, std::wstring_view text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}

} // namespace

std::wstring AnsiToWide(std::string_view text) { return ToWide(CP_ACP, text); }
std::string WideToAnsi(std::wstring_view text) { return FromWide(CP_ACP, text); }
std::wstring Utf8ToWide(std::string_view text) { return ToWide(CP_UTF8, text); }
std::string WideToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string result(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(n));
    return result;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = FormatV(format, args);
    va_end(args);
    return result;
}

std::wstring FormatW(const wchar_t* format, ...)
{
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = _vsnwprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}
