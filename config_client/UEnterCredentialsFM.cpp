#include "UEnterCredentialsFM.h"

#include "Application.h"
#include "Strings.h"
#include "UserRights.h"

#include <optional>

TfmEnterCredentials::TfmEnterCredentials(TApplication& app, TForm* owner)
    : TForm(app, owner),
      GroupBox(*this),
      LabelMessage(GroupBox),
      LabelDomainCaption(GroupBox, L"Local domain or computer name:"),
      EditDomain(GroupBox),
      LabelUserNameCaption(GroupBox, L"User name"),
      EditUserName(GroupBox),
      LabelPasswordCaption(GroupBox, L"Password"),
      EditPassword(GroupBox),
      PanelButtons(*this),
      bbOk(PanelButtons, L"OK"),
      bbCancel(PanelButtons, L"Cancel")
{
    SetBorderStyle(TBorderStyle::Dialog);
    SetBorderIcons(biSystemMenu);
    SetFont(L"Tahoma", 13);
    SetClientSize(448, 317);
    SetPosition(TPosition::ScreenCenter);

    PanelButtons.SetBounds(0, 0, 0, 46);
    PanelButtons.SetAlign(TAlign::Bottom);
    GroupBox.SetBounds(8, 6, 432, 265);

    LabelMessage.SetBounds(14, 22, 404, 48);
    LabelMessage.SetWordWrap(true);
    LabelDomainCaption.SetBounds(14, 80, 404, 16);
    EditDomain.SetBounds(14, 98, 404, 21);
    EditDomain.SetReadOnly(true);
    // The name cannot be changed, so the first key press goes to the user name.
    ::SetWindowLongPtrW(EditDomain.Handle(), GWL_STYLE,
                        ::GetWindowLongPtrW(EditDomain.Handle(), GWL_STYLE) & ~static_cast<LONG_PTR>(WS_TABSTOP));
    LabelUserNameCaption.SetBounds(14, 132, 404, 16);
    EditUserName.SetBounds(14, 150, 404, 21);
    EditUserName.SetMaxLength(static_cast<int>(kMaxUserNameLength));
    LabelPasswordCaption.SetBounds(14, 184, 404, 16);
    EditPassword.SetBounds(14, 202, 404, 21);
    EditPassword.SetMaxLength(static_cast<int>(kMaxPasswordLength));
    EditPassword.SetPasswordChar(L'*');

    bbOk.SetBounds(270, 8, 80, 28);
    bbOk.SetModalResult(mrOk);
    bbOk.SetDefault(true);
    bbCancel.SetBounds(358, 8, 80, 28);
    bbCancel.SetModalResult(mrCancel);
    bbCancel.SetCancel(true);
}

bool TfmEnterCredentials::ShowCredentialsDialog(HWND owner, const std::string& caption, std::string& password,
                                                std::string& userName, const std::string& computerName,
                                                const std::string& message)
{
    // The dialog belongs to the owner's application; without a window of this program as owner (before
    // any window exists) it runs on an application of its own.
    auto* ownerForm = dynamic_cast<TForm*>(TWinControl::ControlFromHandle(owner));
    std::optional<TApplication> ownApp;
    TApplication& app = ownerForm ? ownerForm->Application() : ownApp.emplace();

    TfmEnterCredentials dialog(app, ownerForm);
    dialog.SetCaption(AnsiToWide(caption));
    dialog.LabelMessage.SetCaption(AnsiToWide(message));
    dialog.EditDomain.SetText(AnsiToWide(computerName));
    dialog.EditUserName.SetText(AnsiToWide(userName));
    dialog.EditPassword.SetText(AnsiToWide(password));
    // Asked for before the main window shows, the dialog needs its own taskbar button to be found.
    if (!ownerForm || !::IsWindowVisible(ownerForm->Handle()))
        dialog.SetAppWindow(true);
    if (dialog.ShowModal() != mrOk)
        return false;
    userName = WideToAnsi(dialog.EditUserName.Text());
    password = WideToAnsi(dialog.EditPassword.Text());
    return true;
}
