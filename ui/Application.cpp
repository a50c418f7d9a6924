#include "Application.h"

#include "Exceptions.h"
#include "Forms.h"
#include "Strings.h"

#include <commctrl.h>

TApplication::TApplication()
{
    INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&init);
}

TApplication::~TApplication()
{
    // A quit request that nobody read must not end the next loop of this thread.
    MSG message;
    while (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
}

void TApplication::Run()
{
    if (!mainForm_)
        return;
    if (showMainForm_)
        mainForm_->Show();
    while (!terminated_) {
        MSG message;
        BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            terminated_ = true;
            break;
        }
        HandleMessage(message);
    }
}

void TApplication::ProcessMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            terminated_ = true;
            break;
        }
        HandleMessage(message);
    }
}

void TApplication::Terminate()
{
    terminated_ = true;
    ::PostQuitMessage(0);
}

void TApplication::HandleMessage(MSG& message)
{
    try {
        if (TWinControl* control = TWinControl::ControlFromHandle(message.hwnd)) {
            if (control->PreTranslateMessage(message))
                return;
        }
        if (message.hwnd && message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) {
            HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
            if (auto* form = dynamic_cast<TForm*>(TWinControl::ControlFromHandle(root))) {
                if (form->HandleDialogKey(message))
                    return;
            }
        }
    } catch (...) {
        HandleException(std::current_exception());
        return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void TApplication::HandleException(const std::exception_ptr& error) noexcept
{
    try {
        if (exceptionHandler_)
            exceptionHandler_(*this, error);
        else
            ShowException(error);
    } catch (...) {
        // The error handling itself failed; there is nobody left to tell.
    }
}

void TApplication::ShowException(const std::exception_ptr& error)
{
    ShowMessageBox(ExceptionMessage(error), title_, MB_OK | MB_ICONERROR);
}

std::wstring TApplication::ExceptionMessage(const std::exception_ptr& error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.WideMessage();
    } catch (const std::exception& e) {
        return AnsiToWide(e.what());
    } catch (...) {
        return L"Unknown error";
    }
}

int TApplication::ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type)
{
    HWND owner = ActiveWindow();
    if (messageBoxHook_)
        return messageBoxHook_(owner, text, caption, type);
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

HWND TApplication::ActiveWindow() const
{
    HWND active = ::GetActiveWindow();
    if (active && TWinControl::ControlFromHandle(active))
        return active;
    if (mainForm_ && mainForm_->Handle() && ::IsWindowVisible(mainForm_->Handle()))
        return mainForm_->Handle();
    return nullptr;
}

void TApplication::FormDestroyed(TForm* form)
{
    if (mainForm_ == form)
        mainForm_ = nullptr;
}
