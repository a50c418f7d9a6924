// What the remote-control frame computes without a window: the generated user name and password, and the
// address of the service's local start page.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::wstring_view kUserNameAlphabet = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::wstring_view kPasswordAlphabet =
    L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!@#$%^&*()_+-=;'\",./<>?`~";

// The 32-bit linear congruential generator: seed := seed * 134775813 + 1, then the high half of seed * range.
class TRandomGenerator {
public:
    explicit TRandomGenerator(uint32_t seed) : seed_(seed) {}
    // A draw in 0 .. range - 1.
    uint32_t Next(uint32_t range);
    uint32_t Seed() const { return seed_; }

private:
    uint32_t seed_;
};

// The low 32 bits of the performance counter, or the tick count when that counter is unavailable.
uint32_t FreshRandomSeed();

// 8 to 11 characters of the alphabet, drawn from a generator started at the seed.
std::wstring GenerateRandomText(std::wstring_view alphabet, uint32_t seed);

std::wstring GenerateUserName();
std::wstring GenerateUserName(uint32_t seed);
std::wstring GeneratePassword();
std::wstring GeneratePassword(uint32_t seed);

// "http://localhost:" or "https://localhost:" followed by the port in decimal.
std::wstring LocalServiceAddress(int port, bool useSSL);
// The same for the port field's text: an empty or invalid text is port 0.
std::wstring LocalServiceAddress(std::wstring_view portText, bool useSSL);

// The web search that leads to the certificate tool named in the frame's hint.
std::wstring CertificateToolAddress();

// Asks the shell to open the address in the default browser; its answer is not checked.
void OpenInBrowser(HWND owner, const std::wstring& address);
