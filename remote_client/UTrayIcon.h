// The program's icon in the notification area: one object owns it from its first showing to its end.
#pragma once

#include "WinControl.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

class TTrayIcon : public TWindowBase {
public:
    // The message that the shell sends to Handle() about the icon.
    static constexpr UINT kCallbackMessage = WM_APP + 1;
    static constexpr UINT kIconId = 1;

    // icon is not owned; it must live as long as it is the icon's picture.
    explicit TTrayIcon(HICON icon);
    ~TTrayIcon() override;

    // Shown: the icon stands in the notification area (as far as the shell took it).
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Whether the shell holds the icon now.
    bool Added() const { return added_; }

    HICON Icon() const { return icon_; }
    void SetIcon(HICON icon);
    // The whole tooltip; the shell shows as much of it as it can.
    const std::wstring& Hint() const { return hint_; }
    void SetHint(const std::wstring& hint);

    // A click and a double click on the icon, or its selection with the keyboard (a click).
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    // Where an error of the handlers goes; without it, the toolkit's default.
    std::function<void(const std::exception_ptr&)> OnError;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void HandleException(const std::exception_ptr& error) noexcept override;

private:
    NOTIFYICONDATAW IconData(UINT flags) const;
    void Add();
    void Modify(UINT flags);
    void Remove();

    HICON icon_;
    std::wstring hint_;
    bool visible_ = false;
    bool added_ = false;
    UINT taskbarCreated_ = 0;
};
