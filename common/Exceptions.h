// The exception family of both programs: every error is an exception that carries a message.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <exception>

// The base exception: an 8-bit message in the user's ANSI code page.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    std::wstring WideMessage() const;

private:
    std::string message_;
};

// Raised by Check and CheckFmt.
class ECheckError : public Exception {
public:
    using Exception::Exception;
};

// An internal invariant that failed; the message is "%s (%s, line %d)".
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const std::string& text, const std::string& unit, int line);
};

// An operating-system error with the system's 32-bit error code.
class EOSError : public Exception {
public:
    EOSError(std::string message, DWORD errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    DWORD ErrorCode;
};

// A failed COM call, with its HRESULT.
class EOleError : public Exception {
public:
    EOleError(std::string message, HRESULT errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    HRESULT ErrorCode;
};

// Raises EAssertionFailed naming the unit and line; internal invariants only.
[[noreturn]] void AssertionFailed(const char* text, const char* unit, int line);
inline void Assert(bool condition, const char* text, const char* unit, int line)
{
    if (!condition)
        AssertionFailed(text, unit, line);
}

// Raises EOleError with the system's text for a failed HRESULT; returns hr otherwise.
HRESULT OleCheck(HRESULT hr, const char* what = nullptr);
