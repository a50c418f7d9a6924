#include "UEditDialogTools.h"

#include <shellapi.h>

#include <cerrno>
#include <climits>
#include <cwchar>
#include <cwctype>

// An empty field is not handed on: the shell would open the program's working folder for it.
void ShellOpenURL(HWND window, const std::wstring& url)
{
    if (url.find_first_not_of(L" \t") == std::wstring::npos)
        return;
    ::ShellExecuteW(window, nullptr, url.c_str(), nullptr, nullptr, SW_SHOW);
}

int MinutesFromRowText(const std::wstring& text)
{
    const wchar_t* start = text.c_str();
    while (std::iswspace(*start))
        ++start;
    wchar_t* end = nullptr;
    errno = 0;
    long long value = std::wcstoll(start, &end, 10);
    if (end == start || errno != 0 || value < INT_MIN || value > INT_MAX)
        return 1;
    while (std::iswspace(*end))
        ++end;
    return *end == 0 ? static_cast<int>(value) : 1;
}

TBlockingCheck::TBlockingCheck() : previousCursor_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}

TBlockingCheck::~TBlockingCheck()
{
    const struct {
        UINT first, last;
    } input[] = {{WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}, {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
    MSG message;
    for (const auto& range : input) {
        while (::PeekMessageW(&message, nullptr, range.first, range.last, PM_REMOVE | PM_NOYIELD)) {}
    }
    ::SetCursor(previousCursor_);
}
