// The optional operating-system entry points, bound by name at start-up.
#pragma once

#include <windows.h>
#include <wincred.h>

using TCredUIPromptForCredentialsA = DWORD(WINAPI*)(PCREDUI_INFOA, PCSTR, PCtxtHandle, DWORD, PSTR, ULONG, PSTR, ULONG,
                                                    BOOL*, DWORD);
using TIsUserAnAdmin = BOOL(WINAPI*)();

struct TEntryPoints {
    TCredUIPromptForCredentialsA CredUIPromptForCredentialsA = nullptr;
    TIsUserAnAdmin IsUserAnAdmin = nullptr;
};

// How the binding reaches the system; tests replace it to simulate missing libraries and entries.
struct TLibraryLoader {
    virtual ~TLibraryLoader() = default;
    virtual HMODULE Load(const char* name) { return ::LoadLibraryA(name); }
    virtual FARPROC Find(HMODULE module, const char* entry) { return ::GetProcAddress(module, entry); }
    virtual void Free(HMODULE module) { ::FreeLibrary(module); }
};

// The process-wide table; empty entries mean the caller takes its fallback.
const TEntryPoints& EntryPoints();
// Replaces the table (tests only: the seam for the administrator test and the credential prompt).
void SetEntryPoints(const TEntryPoints& table);

void BindEntryPoints(TLibraryLoader& loader);
void BindEntryPoints();
// Releases every library handle that the binding obtained and empties the table.
void ReleaseEntryPoints();
