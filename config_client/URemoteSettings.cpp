#include "URemoteSettings.h"

#include "USettingsFrame.h"

#include <shellapi.h>

uint32_t TRandomGenerator::Next(uint32_t range)
{
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(seed_) * range) >> 32);
}

uint32_t FreshRandomSeed()
{
    LARGE_INTEGER counter;
    if (QueryPerformanceCounter(&counter))
        return static_cast<uint32_t>(counter.QuadPart);
    return GetTickCount();
}

std::wstring GenerateRandomText(std::wstring_view alphabet, uint32_t seed)
{
    TRandomGenerator random(seed);
    uint32_t length = 8 + random.Next(4);
    std::wstring text;
    text.reserve(length);
    for (uint32_t i = 0; i < length; ++i)
        text.push_back(alphabet[random.Next(static_cast<uint32_t>(alphabet.size()))]);
    return text;
}

std::wstring GenerateUserName() { return GenerateUserName(FreshRandomSeed()); }
std::wstring GenerateUserName(uint32_t seed) { return GenerateRandomText(kUserNameAlphabet, seed); }
std::wstring GeneratePassword() { return GeneratePassword(FreshRandomSeed()); }
std::wstring GeneratePassword(uint32_t seed) { return GenerateRandomText(kPasswordAlphabet, seed); }

std::wstring LocalServiceAddress(int port, bool useSSL)
{
    return (useSSL ? L"https://localhost:" : L"http://localhost:") + std::to_wstring(port);
}

std::wstring LocalServiceAddress(std::wstring_view portText, bool useSSL)
{
    return LocalServiceAddress(SettingKeys::Port.Range.ValueFromText(portText), useSSL);
}

std::wstring CertificateToolAddress() { return L"https://www.google.com/search?q=SSL+Buddy+certificate"; }

void OpenInBrowser(HWND owner, const std::wstring& address)
{
    ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
