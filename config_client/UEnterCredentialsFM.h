// The program's own credentials dialog, shown when the system has no credential prompt.
#pragma once

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <string>

class TfmEnterCredentials : public TForm {
public:
    TfmEnterCredentials(TApplication& app, TForm* owner);

    // Shows the dialog modally, filled with the caption, the message, the computer name and the buffers'
    // current contents. OK copies the two fields back into the buffers and gives true; Cancel gives false
    // and leaves the buffers alone. Matches TCredentialsDialogProc.
    static bool ShowCredentialsDialog(HWND owner, const std::string& caption, std::string& password,
                                      std::string& userName, const std::string& computerName,
                                      const std::string& message);

    TGroupBox GroupBox;
    TLabel LabelMessage;
    TLabel LabelDomainCaption;
    TEdit EditDomain;
    TLabel LabelUserNameCaption;
    TEdit EditUserName;
    TLabel LabelPasswordCaption;
    TEdit EditPassword;
    TPanel PanelButtons;
    TButton bbOk;
    TButton bbCancel;
};
