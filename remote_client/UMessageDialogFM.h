// The client's own message dialog: a message, a caption, an optional picture, any subset of eleven buttons and
// an optional help link; it sizes itself to the buttons it shows and answers the result of the closing button.
#pragma once

#include "Application.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "Unique.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TMsgDlgType : uint8_t { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Custom = 4 };

// The button set: one bit per button.
using TMsgDlgButtons = uint16_t;
enum TMsgDlgBtn : TMsgDlgButtons {
    mbYes = 0x1,
    mbNo = 0x2,
    mbOK = 0x4,
    mbCancel = 0x8,
    mbAbort = 0x10,
    mbRetry = 0x20,
    mbIgnore = 0x40,
    mbAll = 0x80,
    mbNoToAll = 0x100,
    mbYesToAll = 0x200,
    mbHelp = 0x400,
};

inline void DestroyIconHandle(HICON icon) { ::DestroyIcon(icon); }
using UniqueIcon = Unique<HICON, &DestroyIconHandle>;

// One of the program's icons or pictures (IDI_*) at the given size in pixels, from the running executable.
UniqueIcon LoadPicture(int resourceId, int size);

// A panel as the parent of another panel (a panel argument alone would pick the deleted copy constructor).
inline TWinControl& AsParent(TWinControl& control) { return control; }

class TfmMessageDlg : public TForm {
public:
    // Translated under its class name; PanelButtons is then as wide as all eleven buttons.
    TfmMessageDlg(TApplication& app, TForm* owner);

    // Picture, buttons, caption, message and size for one showing.
    void Prepare(TMsgDlgType kind, TMsgDlgButtons buttons, const std::wstring& message, const std::wstring& caption);
    // Reads the help link attribute of the button and hands it to OnShowHelp.
    void HelpClick(TButton& button);

    // The width of PanelButtons with every button showing, in design units.
    int FullButtonsWidth() const { return fullButtonsWidth_; }
    // The buttons in their order on the screen.
    std::vector<TButton*> ButtonsOnScreen();
    TButton* ButtonFor(TMsgDlgBtn button);

    // The help viewer of the program unless a test puts another in its place.
    std::function<void(const std::wstring& link)> OnShowHelp;

    TPanel PanelBottom{*this};
    TPanel PanelMessage{*this};
    TPanel PanelImages{AsParent(PanelMessage)};
    TImage ImageInfo{PanelImages};
    TImage ImageExclamation{PanelImages};
    TImage ImageQuestion{PanelImages};
    TPanel PanelRight{AsParent(PanelMessage)};
    TPanel PanelCenter{AsParent(PanelMessage)};
    TLabel LabelCaption{PanelCenter};
    TPanel PanelButtons{AsParent(PanelBottom)};
    // Declared in their order on the screen, which is also the order of the Tab key.
    TButton sbYes{PanelButtons, L"Yes"};
    TButton sbNo{PanelButtons, L"No"};
    TButton sbOk{PanelButtons, L"OK"};
    TButton sbCancel{PanelButtons, L"Cancel"};
    TButton sbAbort{PanelButtons, L"Abort"};
    TButton sbIgnore{PanelButtons, L"Ignore"};
    TButton sbAll{PanelButtons, L"All"};
    TButton sbNoToAll{PanelButtons, L"No to all"};
    TButton sbYesToAll{PanelButtons, L"Yes to all"};
    TButton sbHelp{PanelButtons, L"Help"};
    TButton sbRetry{PanelButtons, L"Retry"};

private:
    void LayOutButtons();
    int MessageHeight(const std::wstring& message, int widthUnits);

    int fullButtonsWidth_ = 0;
    UniqueIcon infoIcon_;
    UniqueIcon exclamationIcon_;
    UniqueIcon questionIcon_;
};

// Shows the dialog modally and answers the result code of the closing button (mrCancel, 2, for the system
// close). owner 0 means the application's main form, or the desktop without one. An empty button set shows
// OK captioned "Close"; a help link adds Help.
int ShowMessageDlg(TApplication& app, HWND owner, TMsgDlgType kind, TMsgDlgButtons buttons, const std::wstring& message,
                   const std::wstring& caption, const std::wstring& helpLink);
