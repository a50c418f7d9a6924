// The dialog that edits one monitored site, and tests the entered values at once.
#pragma once

#include "Application.h"
#include "ComCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UEditDialogTools.h"

#include <string>

class TfmEditSite : public TForm {
public:
    explicit TfmEditSite(TApplication& app, TForm* owner = nullptr);

    // Keeps the row and loads the fields from it: check mark, caption, interval, code.
    void SetItem(TListItem row);
    TListItem Item() const { return item_; }
    // Writes the fields to the row's settings object and to the row.
    void SaveToItem();

    void bbOkClick();
    void bbOpenURLClick();
    void bbCheckCodeClick();
    void ShowCheckMessage(const std::wstring& text, COLORREF color);

    TShellOpenURL ShellOpen = &ShellOpenURL;

    TCheckBox cbActive{*this, L"Use this rule"};
    TLabel LabelURL{*this, L"URL to check:"};
    TEdit editURL{*this};
    TButton bbOpenURL{*this, L"&Navigate"};
    TLabel LabelMinutes{*this, L"Check every minutes:"};
    TSpinEdit editMinutes{*this};
    TLabel LabelCode{*this, L"Check for this string:"};
    TEdit editCode{*this};
    TButton bbCheckCode{*this, L"&Check now"};
    TLabel LabelMessage{*this};
    // How long the last "&Check now" took, beside its message.
    TLabel LabelResponseTime{*this};
    TButton bbOk{*this, L"OK"};
    TButton bbCancel{*this, L"Cancel"};

private:
    TEditDialogParts Parts() { return {cbActive, editURL, editMinutes, LabelMessage, bbOk, bbCancel}; }
    TListItem item_;
};
