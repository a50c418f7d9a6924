// The application object: title, main form, the message loop with the forms' keyboard handling, and the
// default error handling of everything that runs in a window procedure.
#pragma once

#include "InterfaceObjects.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

class TForm;

class TApplication : public TObject {
public:
    // Replaces the default error handling (a message box with the message, captioned with the title).
    using TExceptionHandler = std::function<void(TApplication& app, const std::exception_ptr& error)>;
    // Replaces the system's message box for everything that the application shows; answers a button id.
    using TMessageBoxHook =
        std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)>;

    TApplication();
    ~TApplication() override;

    const std::wstring& Title() const { return title_; }
    void SetTitle(std::wstring title) { title_ = std::move(title); }
    // The first form made without an owner becomes the main form; closing it ends Run.
    TForm* MainForm() const { return mainForm_; }
    void SetMainForm(TForm* form) { mainForm_ = form; }
    bool ShowMainForm() const { return showMainForm_; }
    void SetShowMainForm(bool show) { showMainForm_ = show; }

    // Shows the main form unless told not to, then runs the message loop until Terminate.
    void Run();
    // Handles every message that is waiting, then returns.
    void ProcessMessages();
    void Terminate();
    bool Terminated() const { return terminated_; }

    // One message through the toolkit: the control's and the form's keyboard handling, then dispatch.
    void HandleMessage(MSG& message);

    // Where the window procedures hand what they caught; never raises.
    void HandleException(const std::exception_ptr& error) noexcept;
    void SetExceptionHandler(TExceptionHandler handler) { exceptionHandler_ = std::move(handler); }
    // The default error handling: the message in a box captioned with the title.
    void ShowException(const std::exception_ptr& error);
    static std::wstring ExceptionMessage(const std::exception_ptr& error);

    int ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type);
    void SetMessageBoxHook(TMessageBoxHook hook) { messageBoxHook_ = std::move(hook); }
    // The window that boxes are owned by: the active form of this thread, else the main form.
    HWND ActiveWindow() const;

private:
    friend class TForm;
    void FormDestroyed(TForm* form);

    std::wstring title_;
    TForm* mainForm_ = nullptr;
    bool showMainForm_ = true;
    bool terminated_ = false;
    TExceptionHandler exceptionHandler_;
    TMessageBoxHook messageBoxHook_;
};
