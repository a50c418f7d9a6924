// The "&Remote control" item's frame: the service's remote-control server, its account, its certificates
// and its page templates.
#pragma once

#include "Dialogs.h"
#include "USettingsFramePanel.h"

#include <functional>
#include <memory>
#include <string>

class TFrRemote : public TSettingsFramePanel {
public:
    explicit TFrRemote(TWinControl& parent);

    void STDMETHODCALLTYPE LoadSettings(TSettingsImage& image) override;
    void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) override;

    void bbGenerateUserNameClick();
    void bbGeneratePasswordClick();
    void bbRootCertFileBrowseClick();
    void bbCertFileBrowseClick();
    void bbKeyFileBrowseClick();
    void bbTemplatesFolderBrowseClick();
    void LabelOpenInBrowserClick();
    void LabelRootCertFileHintClick();

    TGroupBox GroupBox;
    TCheckBox cbEnableRemoteControl;
    TLinkLabel LabelOpenInBrowser;
    TLabel LabelPort;
    TSpinEdit editPort;
    TLabel LabelPortHint;
    TLabel LabelUserName;
    TEdit EditUserName;
    TButton bbGenerateUserName;
    TLabel LabelUserNameHint;
    TLabel LabelPassword;
    TEdit EditPassword;
    TButton bbGeneratePassword;
    TLabel LabelPasswordHint;
    TCheckBox cbUseSSL;
    TLabel LabelUseSSLHint;
    TLabel LabelRootCertFile;
    TEdit editRootCertFile;
    TButton bbRootCertFileBrowse;
    TLinkLabel LabelRootCertFileHint;
    TLabel LabelCertFile;
    TEdit editCertFile;
    TButton bbCertFileBrowse;
    TLabel LabelKeyFile;
    TEdit editKeyFile;
    TButton bbKeyFileBrowse;
    TLabel LabelPagesFolder;
    TEdit editPagesFolder;
    TButton bbTemplatesFolderBrowse;
    TLabel LabelPagesFolderHint;

    // One open-file dialog for the three file buttons, and the folder picker; both keep their last pick
    // while the frame exists. Tests put stand-ins here.
    std::unique_ptr<TOpenDialog> OpenDialog;
    std::unique_ptr<TPathDialog> PathDialog;
    // Opens an address in the default browser; tests put a stand-in here.
    std::function<void(HWND owner, const std::wstring& address)> OpenUrl;

private:
    void LayOut();
    void PickFileInto(TEdit& field);
    HWND DialogOwner();
};
