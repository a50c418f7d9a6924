// A top-level window laid out in code: caption, client size, position, border, font, modal showing.
#pragma once

#include "WinControl.h"

#include <functional>

class TApplication;
class TButton;

// The result codes of a modal form; the message dialog's button results use the same numbers.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

enum class TPosition {
    Designed,     // the left and top given, in 96-DPI units from the top left of the work area
    ScreenCenter, // centred on the work area
    OwnerCenter,  // centred on the owner form, or on the screen without a visible owner
};

enum class TBorderStyle {
    Sizeable,    // thick frame, minimise and maximise buttons
    Single,      // thin fixed frame
    Dialog,      // dialog frame, fixed
    SizeToolWin, // thick frame with the small caption of a tool window
};

enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

enum class TCloseAction { None, Hide };

class TForm : public TWinControl {
public:
    // A form without an owner becomes the application's main form if there is none yet.
    explicit TForm(TApplication& app, TForm* owner = nullptr);
    ~TForm() override;

    TApplication& Application() const { return app_; }
    TForm* Owner() const { return owner_; }

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    // The client area in 96-DPI units.
    void SetClientSize(int width, int height);
    SIZE ClientSizeDesign() const { return {clientWidth_, clientHeight_}; }
    void SetPosition(TPosition position, int left = 0, int top = 0);
    void SetBorderStyle(TBorderStyle style);
    void SetBorderIcons(unsigned icons);
    // The form carries its own taskbar button.
    void SetAppWindow(bool appWindow);
    void SetStayOnTop(bool onTop);
    // The face and the height in pixels at 96 DPI; the default is Tahoma (or MS Shell Dlg) of 11 pixels.
    void SetFont(const std::wstring& face, int height);
    HFONT Font() const override { return font_.get(); }
    LOGFONTW FontInfo() const;
    int Dpi() const override { return dpi_; }

    void SetVisible(bool visible) override;
    void BringToFront();
    // Asks the form to close, as the close button does.
    void Close();

    // Shows the form with its owner disabled and runs a message loop until the modal result is set.
    int ShowModal();
    bool Modal() const { return modal_; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }

    // Enter clicks the default button (or the focused button), Esc the cancel button.
    void SetDefaultButton(TButton* button) { defaultButton_ = button; }
    void SetCancelButton(TButton* button) { cancelButton_ = button; }
    TButton* DefaultButton() const { return defaultButton_; }
    TButton* CancelButton() const { return cancelButton_; }

    std::function<void(TCloseAction& action)> OnClose;
    std::function<void()> OnDestroy;

    // Tab, Enter, Esc and access keys for the controls of this form; true when the key was used.
    bool HandleDialogKey(MSG& message);
    int NextControlId() { return nextControlId_++; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    DWORD WindowStyle() const;
    DWORD WindowExStyle() const;
    void ApplyStyles();
    void ApplyClientSize();
    void ApplyPosition();
    void RecreateFont();
    bool DispatchMnemonic(wchar_t key);
    void FocusControl(HWND control);

    TApplication& app_;
    TForm* owner_;
    int dpi_ = 96;
    int clientWidth_ = 0;
    int clientHeight_ = 0;
    TPosition position_ = TPosition::Designed;
    int designLeft_ = 0;
    int designTop_ = 0;
    bool positioned_ = false;
    TBorderStyle borderStyle_ = TBorderStyle::Sizeable;
    unsigned borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    bool appWindow_ = false;
    bool stayOnTop_ = false;
    std::wstring fontFace_;
    int fontHeight_ = 11;
    UniqueFont font_;
    bool modal_ = false;
    int modalResult_ = mrNone;
    TButton* defaultButton_ = nullptr;
    TButton* cancelButton_ = nullptr;
    HWND lastFocus_ = nullptr;
    int nextControlId_ = 100;
};
