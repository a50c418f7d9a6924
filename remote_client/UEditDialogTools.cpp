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

void PrepareEditDialogParts(const TEditDialogParts& parts, std::function<void()> okClick)
{
    parts.Minutes.SetRange(1, 1000000);
    parts.Minutes.SetValue(1);
    // Messages are data: an ampersand in an error text is shown, not taken for an access key.
    HWND message = parts.Message.Handle();
    ::SetWindowLongPtrW(message, GWL_STYLE, ::GetWindowLongPtrW(message, GWL_STYLE) | SS_NOPREFIX);
    parts.Message.Hide();
    parts.Ok.OnClick = std::move(okClick);
    parts.Ok.SetDefault(true);
    parts.Cancel.SetModalResult(mrCancel);
    parts.Cancel.SetCancel(true);
}

int LoadEditDialogParts(const TEditDialogParts& parts, TListItem row)
{
    parts.Active.SetChecked(row.Checked());
    parts.URL.SetText(row.Caption());
    int count = row.SubItemCount();
    if (count > 0)
        parts.Minutes.SetValue(MinutesFromRowText(row.SubItem(0)));
    return count;
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
