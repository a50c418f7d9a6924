#include "SkinManager.h"

#include "WinControl.h"

#include <uxtheme.h>

TSkinManager::TSkinManager(TWinControl& window, TSetWindowTheme setWindowTheme)
    : window_(window), setWindowTheme_(std::move(setWindowTheme))
{
    if (!setWindowTheme_)
        setWindowTheme_ = [](HWND w, LPCWSTR app, LPCWSTR ids) { return ::SetWindowTheme(w, app, ids); };
}

void TSkinManager::SetActive(bool active)
{
    active_ = active;
    HWND root = window_.Handle();
    if (!root)
        return;
    Apply(root);
    ::RedrawWindow(root, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TSkinManager::Apply(HWND root) const
{
    if (!root)
        return;
    ApplyTo(root);
    ::EnumChildWindows(root, &TSkinManager::ApplyToChild, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK TSkinManager::ApplyToChild(HWND child, LPARAM self)
{
    reinterpret_cast<const TSkinManager*>(self)->ApplyTo(child);
    return TRUE;
}

// Empty names match no theme class, so the control draws itself in the classic way; null names restore the
// control's own theme.
void TSkinManager::ApplyTo(HWND window) const
{
    if (active_)
        setWindowTheme_(window, nullptr, nullptr);
    else
        setWindowTheme_(window, L"", L"");
}
