// common\WinTools: the platform test and the Win32 error exception.
#pragma once

#include "Exceptions.h"

#include <string>

enum TOSPlatform { ospWin32s, ospWin32Windows, ospWin32NT };

TOSPlatform GetOSPlatform();
// Maps a platform id from the version record; separate so that every id can be tested.
TOSPlatform OSPlatformFromId(DWORD platformId);

// The system's message text for a code, without trailing blanks, control characters and full stops.
std::string SysErrorText(DWORD code);
std::string Win32ErrorMessage(DWORD code);

// Raised right after a failed Win32 call: ErrorCode is the calling thread's last error.
class ELastWin32Error : public EOSError {
public:
    ELastWin32Error();
    explicit ELastWin32Error(DWORD code);
};

// Raises ELastWin32Error when a BOOL-returning call failed.
inline void Win32Check(BOOL ok)
{
    if (!ok)
        throw ELastWin32Error();
}
