#include "UMessageDialogFM.h"

#include "ClassesHooks.h"
#include "HTMLHelpApi.h"
#include "LangTools.h"
#include "Strings.h"

#include "../resources/ResourceIds.h"

#include <algorithm>

namespace {

// The dialog is designed at 120 pixels per inch; the toolkit lays out in units of 96.
constexpr int Design(int value) { return (value * 96 + 60) / 120; }

constexpr int kClientWidth = Design(946);
constexpr int kClientHeight = Design(258);
constexpr int kImagesWidth = Design(120);
constexpr int kRightWidth = Design(48);
constexpr int kBottomHeight = Design(43);
constexpr int kButtonsTop = Design(6);
constexpr int kButtonsHeight = Design(35);
constexpr int kButtonWidth = Design(75);
constexpr int kButtonHeight = Design(29);
constexpr int kButtonMargin = Design(5);
constexpr int kButtonTop = (kButtonsHeight - kButtonHeight) / 2;
constexpr int kImageLeft = Design(25);
constexpr int kImageWidth = Design(67);
constexpr int kImageHeight = Design(62);
constexpr int kMinimumMessageWidth = Design(200);
constexpr int kFormFontHeight = Design(13);
constexpr int kMessageFontHeight = Design(12);

// The pictures are drawn at the size that fits their box at 96 pixels per inch; the toolkit scales them.
constexpr int kPictureSize = 48;

RECT WorkAreaOf(HWND window)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    if (monitor && ::GetMonitorInfoW(monitor, &info))
        return info.rcWork;
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

} // namespace

UniqueIcon LoadPicture(int resourceId, int size)
{
    return UniqueIcon(static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size, 0)));
}

TfmMessageDlg::TfmMessageDlg(TApplication& app, TForm* owner) : TForm(app, owner)
{
    SetCaption(L"Message");
    SetBorderStyle(TBorderStyle::Dialog);
    SetBorderIcons(biSystemMenu);
    SetStayOnTop(true);
    SetFont(L"Tahoma", kFormFontHeight);
    SetClientSize(kClientWidth, kClientHeight);

    PanelBottom.SetBounds(0, 0, 0, kBottomHeight);
    PanelBottom.SetAlign(TAlign::Bottom);
    PanelMessage.SetAlign(TAlign::Client);
    PanelImages.SetBounds(0, 0, kImagesWidth, 0);
    PanelImages.SetAlign(TAlign::Left);
    PanelRight.SetBounds(0, 0, kRightWidth, 0);
    PanelRight.SetAlign(TAlign::Right);
    PanelCenter.SetAlign(TAlign::Client);

    infoIcon_ = LoadPicture(IDI_PICTURE_INFORMATION, kPictureSize);
    exclamationIcon_ = LoadPicture(IDI_PICTURE_EXCLAMATION, kPictureSize);
    questionIcon_ = LoadPicture(IDI_PICTURE_QUESTION, kPictureSize);
    const struct {
        TImage& image;
        HICON icon;
        int top;
    } images[] = {{ImageInfo, infoIcon_.get(), Design(16)},
                  {ImageExclamation, exclamationIcon_.get(), Design(81)},
                  {ImageQuestion, questionIcon_.get(), Design(145)}};
    for (const auto& entry : images) {
        entry.image.SetBounds(kImageLeft, entry.top, kImageWidth, kImageHeight);
        entry.image.SetCenter(true);
        entry.image.SetProportional(true);
        entry.image.SetIcon(entry.icon);
        entry.image.Hide();
    }

    // The message is data, not a caption: an ampersand in it is shown, not taken for an access key.
    LONG_PTR style = ::GetWindowLongPtrW(LabelCaption.Handle(), GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
    ::SetWindowLongPtrW(LabelCaption.Handle(), GWL_STYLE, style | SS_CENTER | SS_NOPREFIX);
    LabelCaption.SetFontHeight(kMessageFontHeight);
    LabelCaption.SetTextColor(RGB(0, 0, 0));
    LabelCaption.SetBounds(0, 0, kClientWidth - kImagesWidth - kRightWidth, kClientHeight - kBottomHeight);

    const std::pair<TButton*, int> results[] = {
        {&sbOk, mrOk},           {&sbCancel, mrCancel},    {&sbAbort, mrAbort}, {&sbRetry, mrRetry},
        {&sbIgnore, mrIgnore},   {&sbYes, mrYes},          {&sbNo, mrNo},       {&sbAll, mrAll},
        {&sbNoToAll, mrNoToAll}, {&sbYesToAll, mrYesToAll}};
    for (const auto& [button, result] : results)
        button->SetModalResult(result);
    sbCancel.SetCancel(true);
    sbHelp.OnClick = [this] { HelpClick(sbHelp); };
    OnShowHelp = [](const std::wstring& link) { HelpViewer().ShowTopic(link); };

    PanelButtons.SetBounds(0, kButtonsTop, 0, kButtonsHeight);
    LayOutButtons();

    TranslateForm(this);
    fullButtonsWidth_ = PanelButtons.Bounds().Width;
}

std::vector<TButton*> TfmMessageDlg::ButtonsOnScreen()
{
    return {&sbYes, &sbNo, &sbOk, &sbCancel, &sbAbort, &sbIgnore, &sbAll, &sbNoToAll, &sbYesToAll, &sbHelp, &sbRetry};
}

TButton* TfmMessageDlg::ButtonFor(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return &sbYes;
    case mbNo: return &sbNo;
    case mbOK: return &sbOk;
    case mbCancel: return &sbCancel;
    case mbAbort: return &sbAbort;
    case mbRetry: return &sbRetry;
    case mbIgnore: return &sbIgnore;
    case mbAll: return &sbAll;
    case mbNoToAll: return &sbNoToAll;
    case mbYesToAll: return &sbYesToAll;
    case mbHelp: return &sbHelp;
    }
    return nullptr;
}

// The shown buttons stand one after another from the left, each with its margins; hidden ones take no room.
void TfmMessageDlg::LayOutButtons()
{
    int x = 0;
    for (TButton* button : ButtonsOnScreen()) {
        if (!button->Visible())
            continue;
        x += kButtonMargin;
        button->SetBounds(x, kButtonTop, kButtonWidth, kButtonHeight);
        x += kButtonWidth + kButtonMargin;
    }
    TBounds panel = PanelButtons.Bounds();
    PanelButtons.SetBounds(panel.Left, panel.Top, x, panel.Height);
}

// The height in design units of the message wrapped into the width: whole lines of the label's font.
int TfmMessageDlg::MessageHeight(const std::wstring& message, int widthUnits)
{
    HDC dc = ::GetDC(LabelCaption.Handle());
    HGDIOBJ oldFont = ::SelectObject(dc, LabelCaption.Font());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT rect{0, 0, std::max(1, Scale(widthUnits)), 0};
    if (!message.empty())
        ::DrawTextW(dc, message.c_str(), static_cast<int>(message.size()), &rect,
                    DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX | DT_EXPANDTABS);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(LabelCaption.Handle(), dc);

    int lineHeight = std::max(1, static_cast<int>(metrics.tmHeight));
    int lines = std::max(1, static_cast<int>((rect.bottom + lineHeight - 1) / lineHeight));
    // A message too long for the screen is cut at the bottom rather than pushing the buttons off it.
    RECT window{}, client{};
    ::GetWindowRect(Handle(), &window);
    ::GetClientRect(Handle(), &client);
    int frameHeight = (window.bottom - window.top) - client.bottom;
    RECT work = WorkAreaOf(Handle());
    int fixedPixels = Scale(kBottomHeight + kImageHeight + 2 * ImageInfo.Bounds().Top);
    int roomPixels = (work.bottom - work.top) - frameHeight - fixedPixels;
    lines = std::max(1, std::min(lines, roomPixels / lineHeight));
    int dpi = Dpi();
    return (lines * lineHeight * 96 + dpi - 1) / dpi;
}

void TfmMessageDlg::Prepare(TMsgDlgType kind, TMsgDlgButtons buttons, const std::wstring& message,
                            const std::wstring& caption)
{
    TImage* picture = nullptr;
    switch (kind) {
    case TMsgDlgType::Warning:
    case TMsgDlgType::Error: picture = &ImageExclamation; break;
    case TMsgDlgType::Information: picture = &ImageInfo; break;
    case TMsgDlgType::Confirmation: picture = &ImageQuestion; break;
    case TMsgDlgType::Custom: break;
    }
    for (TImage* image : {&ImageInfo, &ImageExclamation, &ImageQuestion}) {
        if (image != picture)
            image->Hide();
    }
    int imagesWidth = PanelRight.Bounds().Width;
    if (picture) {
        TBounds b = picture->Bounds();
        picture->SetBounds(b.Left, ImageInfo.Bounds().Top, b.Width, b.Height);
        picture->Show();
        imagesWidth = 2 * b.Left + b.Width;
    }
    PanelImages.SetBounds(0, 0, imagesWidth, 0);

    int w = fullButtonsWidth_;
    const TMsgDlgBtn all[] = {mbYes,    mbNo,  mbOK,      mbCancel,   mbAbort, mbRetry,
                              mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp};
    for (TMsgDlgBtn bit : all) {
        TButton* button = ButtonFor(bit);
        bool wanted = (buttons & bit) != 0;
        button->SetVisible(wanted);
        if (!wanted)
            w -= button->Bounds().Width + 2 * kButtonMargin;
    }
    LayOutButtons();

    SetCaption(caption.empty() ? Application().Title() : caption);
    LabelCaption.SetCaption(message);

    // The sizes are those of the client area, so that the borders never cut into the buttons or the text.
    int rightWidth = PanelRight.Bounds().Width;
    int width = std::max(w, imagesWidth + rightWidth + kMinimumMessageWidth);
    int messageWidth = width - imagesWidth - rightWidth;
    int textHeight = MessageHeight(message, messageWidth);
    int height = PanelBottom.Bounds().Height + ImageInfo.Bounds().Height + 2 * ImageInfo.Bounds().Top + textHeight;
    SetClientSize(width, height);

    TBounds buttonsBounds = PanelButtons.Bounds();
    PanelButtons.SetBounds(std::max(0, (width - w) / 2), buttonsBounds.Top, w, buttonsBounds.Height);
    int centerHeight = height - PanelBottom.Bounds().Height;
    LabelCaption.SetBounds(0, std::max(0, (centerHeight - textHeight) / 2), messageWidth,
                           std::min(textHeight, centerHeight));

    // Centred on the main form while it shows, else on the work area.
    RECT window{};
    ::GetWindowRect(Handle(), &window);
    int windowWidth = window.right - window.left;
    int windowHeight = window.bottom - window.top;
    RECT work = WorkAreaOf(Handle());
    RECT around = work;
    TForm* mainForm = Application().MainForm();
    if (mainForm && mainForm != this && mainForm->Handle() && ::IsWindowVisible(mainForm->Handle()))
        ::GetWindowRect(mainForm->Handle(), &around);
    int left = around.left + (around.right - around.left - windowWidth) / 2;
    int top = around.top + (around.bottom - around.top - windowHeight) / 2;
    left = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - windowWidth));
    top = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - windowHeight));
    SetPosition(TPosition::Designed, 0, 0);
    ::SetWindowPos(Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfmMessageDlg::HelpClick(TButton& button)
{
    auto* attr = dynamic_cast<TStringAttr*>(button.FindComponent("AttrHelpLink"));
    if (attr && OnShowHelp)
        OnShowHelp(AnsiToWide(attr->Value));
}

namespace {

// A window of another kind than the toolkit's forms is disabled by hand while the dialog is up.
class TForeignOwnerGuard {
public:
    explicit TForeignOwnerGuard(HWND owner) : owner_(owner && ::IsWindowEnabled(owner) ? owner : nullptr)
    {
        if (owner_)
            ::EnableWindow(owner_, FALSE);
    }
    ~TForeignOwnerGuard()
    {
        if (owner_)
            ::EnableWindow(owner_, TRUE);
    }
    TForeignOwnerGuard(const TForeignOwnerGuard&) = delete;
    TForeignOwnerGuard& operator=(const TForeignOwnerGuard&) = delete;

private:
    HWND owner_;
};

} // namespace

int ShowMessageDlg(TApplication& app, HWND owner, TMsgDlgType kind, TMsgDlgButtons buttons, const std::wstring& message,
                   const std::wstring& caption, const std::wstring& helpLink)
{
    bool okIsClose = buttons == 0;
    if (okIsClose)
        buttons = mbOK;
    if (!helpLink.empty())
        buttons |= mbHelp;

    TForm* mainForm = app.MainForm();
    HWND desktop = ::GetDesktopWindow();
    if (!owner)
        owner = mainForm && mainForm->Handle() ? mainForm->Handle() : desktop;
    HWND root = owner == desktop ? desktop : ::GetAncestor(owner, GA_ROOT);
    auto* ownerForm = dynamic_cast<TForm*>(TWinControl::ControlFromHandle(root));

    TfmMessageDlg dialog(app, ownerForm);
    // A dialog shown before there is a main form must not become it.
    if (app.MainForm() == &dialog)
        app.SetMainForm(mainForm);
    HWND foreignOwner = !ownerForm && root && root != desktop ? root : nullptr;
    if (foreignOwner)
        ::SetWindowLongPtrW(dialog.Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(foreignOwner));

    dialog.Prepare(kind, buttons, message, caption);
    if (okIsClose && dialog.sbOk.Visible())
        dialog.sbOk.SetCaption(AnsiToWide(CurrentLocaleData().GetText("UMessageDialogFM_Close", "Close")));
    if (dialog.sbHelp.Visible())
        FindOrCreateStringAttr(&dialog.sbHelp, "AttrHelpLink")->Value = WideToAnsi(helpLink);

    TForeignOwnerGuard guard(foreignOwner);
    return dialog.ShowModal();
}
