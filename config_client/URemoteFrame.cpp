#include "URemoteFrame.h"

#include "Forms.h"
#include "UFrameSettings.h"
#include "URemoteSettings.h"

#include <algorithm>

namespace {

const int kCaptionLeft = 14;
const int kColumnGap = 8;
const int kButtonWidth = 75;
const int kFieldHeight = 21;
const int kButtonHeight = 23;
const int kMaxFieldWidth = 230;
const int kRightMargin = 12;

// The width of a caption in design units, as its label sizes itself to it.
int CaptionWidth(TLabel& label)
{
    label.SetAutoSize(true);
    return label.Bounds().Width;
}

int CheckBoxWidth(TCheckBox& box, TLabel& measure)
{
    // The box itself and its gap come before the text.
    measure.SetCaption(box.Caption());
    return CaptionWidth(measure) + 22;
}

} // namespace

TFrRemote::TFrRemote(TWinControl& parent)
    : TSettingsFramePanel(parent),
      // In tab order; each label stands where the user reads it.
      GroupBox(*this, L"&Remote control"),
      cbEnableRemoteControl(GroupBox, L"Enable remote control"),
      LabelOpenInBrowser(GroupBox, L"Open in the browser"),
      LabelPort(GroupBox, L"Port to listen to:"),
      editPort(GroupBox),
      LabelPortHint(GroupBox, L"* Port number for HTTP(s) server. Don't forget to open it in the Windows firewall."),
      LabelUserName(GroupBox, L"User name:"),
      EditUserName(GroupBox),
      bbGenerateUserName(GroupBox, L"&Generate"),
      LabelUserNameHint(GroupBox, L"* Name of generic user, able to control this service remotely."),
      LabelPassword(GroupBox, L"Password:"),
      EditPassword(GroupBox),
      bbGeneratePassword(GroupBox, L"&Generate"),
      LabelPasswordHint(GroupBox, L"* Please, use hard to predict password."),
      cbUseSSL(GroupBox, L"Use SSL"),
      LabelUseSSLHint(GroupBox, L"* Connect to this service using HTTPS instead of HTTP."),
      LabelRootCertFile(GroupBox, L"Root server certificate file:"),
      editRootCertFile(GroupBox),
      bbRootCertFileBrowse(GroupBox, L"&Browse"),
      LabelRootCertFileHint(GroupBox, L"* You can use free SSL Buddy to create generic certificate."),
      LabelCertFile(GroupBox, L"Server certificate file:"),
      editCertFile(GroupBox),
      bbCertFileBrowse(GroupBox, L"&Browse"),
      LabelKeyFile(GroupBox, L"* Server key file:"),
      editKeyFile(GroupBox),
      bbKeyFileBrowse(GroupBox, L"&Browse"),
      LabelPagesFolder(GroupBox, L"Page templates folder:"),
      editPagesFolder(GroupBox),
      bbTemplatesFolderBrowse(GroupBox, L"&Browse"),
      LabelPagesFolderHint(GroupBox, L"* Can be both full and relative path."),
      OpenDialog(std::make_unique<TOpenDialog>()),
      PathDialog(std::make_unique<TPathDialog>()),
      OpenUrl(&OpenInBrowser)
{
    LayOut();

    OpenDialog->Options = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
    PathDialog->RootFolder = CSIDL_DRIVES;

    bbGenerateUserName.OnClick = [this] { bbGenerateUserNameClick(); };
    bbGeneratePassword.OnClick = [this] { bbGeneratePasswordClick(); };
    bbRootCertFileBrowse.OnClick = [this] { bbRootCertFileBrowseClick(); };
    bbCertFileBrowse.OnClick = [this] { bbCertFileBrowseClick(); };
    bbKeyFileBrowse.OnClick = [this] { bbKeyFileBrowseClick(); };
    bbTemplatesFolderBrowse.OnClick = [this] { bbTemplatesFolderBrowseClick(); };
    LabelOpenInBrowser.OnClick = [this] { LabelOpenInBrowserClick(); };
    LabelRootCertFileHint.OnClick = [this] { LabelRootCertFileHintClick(); };
}

// The rows are laid out from the texts' own sizes, so that no caption is clipped and no hint runs into the
// next row whatever the font; the frame is as tall as its rows, and the frame bar scrolls it when needed.
void TFrRemote::LayOut()
{
    PlaceGroupBox(GroupBox);
    const int groupWidth = GroupBox.Bounds().Width;

    TLabel measure(GroupBox);
    measure.Hide();
    int captions = 0;
    for (TLabel* caption : {&LabelPort, &LabelUserName, &LabelPassword, &LabelRootCertFile, &LabelCertFile,
                            &LabelKeyFile, &LabelPagesFolder})
        captions = std::max(captions, CaptionWidth(*caption));
    captions = std::max(captions, CheckBoxWidth(cbEnableRemoteControl, measure));
    captions = std::max(captions, CheckBoxWidth(cbUseSSL, measure));
    const int fieldLeft = kCaptionLeft + captions + kColumnGap;
    const int right = groupWidth - kRightMargin;
    const int fieldWidth = std::min(kMaxFieldWidth, right - fieldLeft - 6 - kButtonWidth);
    const int buttonLeft = fieldLeft + fieldWidth + 6;
    const int hintWidth = right - fieldLeft;

    int y = 22;
    auto captionAt = [&](TLabel& caption, int top) { caption.SetBounds(kCaptionLeft, top + 3, captions, 16); };
    auto hintUnder = [&](TLabel& hint) {
        PlaceLabel(hint, fieldLeft, y, hintWidth);
        y += hint.Bounds().Height + 5;
    };
    auto row = [&](TLabel& caption, TEdit& field, TButton& button) {
        captionAt(caption, y);
        field.SetBounds(fieldLeft, y, fieldWidth, kFieldHeight);
        button.SetBounds(buttonLeft, y - 1, kButtonWidth, kButtonHeight);
        y += kButtonHeight + 2;
    };

    cbEnableRemoteControl.SetBounds(kCaptionLeft, y, captions, 19);
    LabelOpenInBrowser.SetTextColor(kLinkColor);
    PlaceLabel(LabelOpenInBrowser, fieldLeft, y + 2);
    y += 27;

    captionAt(LabelPort, y);
    editPort.SetBounds(fieldLeft, y, 90, kFieldHeight);
    editPort.SetRange(SettingKeys::Port.Range.MinValue, SettingKeys::Port.Range.MaxValue);
    PlaceLabel(LabelPortHint, fieldLeft + 98, y + 3, hintWidth - 98);
    y += std::max(kButtonHeight + 4, LabelPortHint.Bounds().Height + 8);

    row(LabelUserName, EditUserName, bbGenerateUserName);
    hintUnder(LabelUserNameHint);
    row(LabelPassword, EditPassword, bbGeneratePassword);
    hintUnder(LabelPasswordHint);

    y += 2;
    cbUseSSL.SetBounds(kCaptionLeft, y, captions, 19);
    PlaceLabel(LabelUseSSLHint, fieldLeft, y + 2, hintWidth);
    y += std::max(26, LabelUseSSLHint.Bounds().Height + 9);

    row(LabelRootCertFile, editRootCertFile, bbRootCertFileBrowse);
    LabelRootCertFileHint.SetTextColor(kLinkColor);
    hintUnder(LabelRootCertFileHint);
    row(LabelCertFile, editCertFile, bbCertFileBrowse);
    y += 3;
    row(LabelKeyFile, editKeyFile, bbKeyFileBrowse);
    y += 3;
    row(LabelPagesFolder, editPagesFolder, bbTemplatesFolderBrowse);
    hintUnder(LabelPagesFolderHint);

    // The frame takes the height of its rows; the group box follows through its anchors.
    TBounds frame = Bounds();
    SetBounds(frame.Left, frame.Top, frame.Width, y + 10);
}

void TFrRemote::LoadSettings(TSettingsImage& image)
{
    TRemoteValues values = LoadRemoteValues(image);
    cbEnableRemoteControl.SetChecked(values.Enabled);
    editPort.SetValue(values.Port);
    EditUserName.SetText(values.Login);
    EditPassword.SetText(values.Password);
    editPagesFolder.SetText(values.PagesFolder);
    cbUseSSL.SetChecked(values.UseSSL);
    editRootCertFile.SetText(values.RootCertFile);
    editCertFile.SetText(values.CertFile);
    editKeyFile.SetText(values.KeyFile);
}

void TFrRemote::SaveSettings(TSettingsImage& image)
{
    TRemoteValues values;
    values.Enabled = cbEnableRemoteControl.Checked();
    values.Port = editPort.Value();
    values.Login = EditUserName.Text();
    values.Password = EditPassword.Text();
    values.PagesFolder = editPagesFolder.Text();
    values.UseSSL = cbUseSSL.Checked();
    values.RootCertFile = editRootCertFile.Text();
    values.CertFile = editCertFile.Text();
    values.KeyFile = editKeyFile.Text();
    SaveRemoteValues(image, values);
}

void TFrRemote::bbGenerateUserNameClick() { EditUserName.SetText(GenerateUserName()); }

void TFrRemote::bbGeneratePasswordClick() { EditPassword.SetText(GeneratePassword()); }

void TFrRemote::bbRootCertFileBrowseClick() { PickFileInto(editRootCertFile); }

void TFrRemote::bbCertFileBrowseClick() { PickFileInto(editCertFile); }

void TFrRemote::bbKeyFileBrowseClick() { PickFileInto(editKeyFile); }

void TFrRemote::bbTemplatesFolderBrowseClick()
{
    if (PathDialog->Execute(DialogOwner()))
        editPagesFolder.SetText(PathDialog->Path);
}

// The controls' current contents decide the address, not what was saved.
void TFrRemote::LabelOpenInBrowserClick()
{
    OpenUrl(Handle(), LocalServiceAddress(editPort.Text(), cbUseSSL.Checked()));
}

void TFrRemote::LabelRootCertFileHintClick() { OpenUrl(Handle(), CertificateToolAddress()); }

void TFrRemote::PickFileInto(TEdit& field)
{
    if (OpenDialog->Execute(DialogOwner()))
        field.SetText(OpenDialog->FileName);
}

// A modal dialog belongs to the top-level window, which it disables while it is open.
HWND TFrRemote::DialogOwner()
{
    TForm* form = Form();
    return form ? form->Handle() : Handle();
}
