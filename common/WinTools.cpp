#include "WinTools.h"

#include "LangTools.h"
#include "Strings.h"

namespace {
constexpr const char* kUnit = "common\\WinTools";
}

TOSPlatform OSPlatformFromId(DWORD platformId)
{
    switch (platformId) {
    case 0: return ospWin32s;
    case 1: return ospWin32Windows;
    case 2: return ospWin32NT;
    default: throw Exception(Format("Unknown platform id: %d", static_cast<int>(platformId)));
    }
}

TOSPlatform GetOSPlatform()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info); // 148 bytes
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL ok = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    Assert(ok != FALSE, "Failed to detect OS version", kUnit, 194);
    return OSPlatformFromId(info.dwPlatformId);
}

std::string SysErrorText(DWORD code)
{
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof(buffer), nullptr);
    std::string text(buffer, n);
    while (!text.empty()) {
        unsigned char c = static_cast<unsigned char>(text.back());
        if (c <= ' ' || c == '.')
            text.pop_back();
        else
            break;
    }
    return text;
}

std::string Win32ErrorMessage(DWORD code)
{
    std::string format =
        CurrentLocaleData().GetText("WinTools_OSErrorOccured", "Win32 error code %d message \"%s\" occured");
    return Format(format.c_str(), static_cast<int>(code), SysErrorText(code).c_str());
}

ELastWin32Error::ELastWin32Error() : ELastWin32Error(GetLastError()) {}

ELastWin32Error::ELastWin32Error(DWORD code) : EOSError(Win32ErrorMessage(code), code) {}
