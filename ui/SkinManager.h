// The skin of a window: the platform's visual styles, switched off and on for the window and every control
// in it.
#pragma once

#include <windows.h>

#include <functional>

class TWinControl;

class TSkinManager {
public:
    // SetWindowTheme, or a stand-in that records what it is asked.
    using TSetWindowTheme = std::function<HRESULT(HWND window, LPCWSTR subAppName, LPCWSTR subIdList)>;

    // The skin starts switched on, which is how every window is born.
    explicit TSkinManager(TWinControl& window, TSetWindowTheme setWindowTheme = {});

    bool Active() const { return active_; }
    // Switches the skin of the window and everything in it, then redraws the whole window.
    void SetActive(bool active);
    // Gives a window made later (and everything in it) the skin's current state.
    void Apply(HWND root) const;

private:
    static BOOL CALLBACK ApplyToChild(HWND child, LPARAM self);
    void ApplyTo(HWND window) const;

    TWinControl& window_;
    TSetWindowTheme setWindowTheme_;
    bool active_ = true;
};
