// Text helpers: conversions between the user's ANSI code page, UTF-8 and UTF-16, and printf-style formatting.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

std::string Format(const char* format, ...);
std::string FormatV(const char* format, va_list args);
std::wstring FormatW(const wchar_t* format, ...);

// Compares without regard to the case of the letters A-Z only.
bool SameTextAscii(std::string_view a, std::string_view b);
