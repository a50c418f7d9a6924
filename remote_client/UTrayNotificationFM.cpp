#include "UTrayNotificationFM.h"

#include "Exceptions.h"
#include "UTrayNotificationLayout.h"

#include "../resources/ResourceIds.h"

#include <memory>

namespace {

constexpr const char* kUnit = "UTrayNotificationFM";
constexpr const char* kComponentName = "fmTrayNotification";

// Designed at 120 pixels per inch; the toolkit lays out in units of 96.
constexpr int Design(int value) { return (value * 96 + 60) / 120; }

constexpr COLORREF kBackground = RGB(242, 239, 223);
constexpr int kClientWidth = Design(345);
constexpr int kClientHeight = Design(102);
constexpr int kImageLeft = Design(10);
constexpr int kImageTop = Design(10);
constexpr int kImageSize = Design(37);
constexpr int kLabelLeft = Design(56);
constexpr int kLabelTop = Design(8);
constexpr int kLabelRight = Design(8);
constexpr int kLabelBottom = Design(8);
constexpr int kFontHeight = Design(15);

SIZE WindowSize(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

SIZE ClientSize(HWND window)
{
    RECT rect{};
    ::GetClientRect(window, &rect);
    return {rect.right, rect.bottom};
}

} // namespace

TfmTrayNotification::TfmTrayNotification(TApplication& app, TForm& owner) : TForm(app, &owner)
{
    SetCaption(L"Notification");
    SetBorderStyle(TBorderStyle::SizeToolWin);
    SetFont(L"Tahoma", kFontHeight);
    SetColor(kBackground);
    SetClientSize(kClientWidth, kClientHeight);

    PanelMain.SetAlign(TAlign::Client);
    informationIcon_ = LoadPicture(IDI_PICTURE_INFORMATION, kImageSize);
    exclamationIcon_ = LoadPicture(IDI_PICTURE_EXCLAMATION, kImageSize);
    ImageInformation.SetIcon(informationIcon_.get());
    ImageExclamation.SetIcon(exclamationIcon_.get());
    for (TImage* image : {&ImageInformation, &ImageExclamation}) {
        image->SetBounds(kImageLeft, kImageTop, kImageSize, kImageSize);
        image->SetCenter(true);
        image->SetProportional(true);
        image->Hide();
    }

    LabelInformation.SetBounds(kLabelLeft, kLabelTop, kClientWidth - kLabelLeft - kLabelRight,
                               kClientHeight - kLabelTop - kLabelBottom);
    LabelInformation.SetAnchors(akLeft | akTop | akRight | akBottom);
    LabelInformation.SetWordWrap(true);
    // The message is data: an ampersand in it is shown, not taken for an access key.
    ::SetWindowLongPtrW(LabelInformation.Handle(), GWL_STYLE,
                        ::GetWindowLongPtrW(LabelInformation.Handle(), GWL_STYLE) | SS_NOPREFIX);
    LabelInformation.SetFontHeight(kFontHeight);
    LabelInformation.SetTextColor(RGB(0, 0, 0));
    LabelInformation.SetTransparent(true);

    TimerForFormHide.OnTimer = [this] { TimerForFormHideTimer(); };
    // The close button stops the count-down as a hide request does.
    OnClose = [this](TCloseAction& action) {
        action = TCloseAction::None;
        HideTrayNotification();
    };

    SetCaption(app.Title());
    initialSize_ = WindowSize(Handle());
    initialPanel_ = ClientSize(PanelMain.Handle());
    RECT label{};
    ::GetWindowRect(LabelInformation.Handle(), &label);
    ::MapWindowPoints(nullptr, PanelMain.Handle(), reinterpret_cast<POINT*>(&label), 2);
    labelMargins_ = {label.left, label.top, initialPanel_.cx - label.right, initialPanel_.cy - label.bottom};
}

void TfmTrayNotification::ShowNotification(const std::wstring& text, int seconds, int kind)
{
    switch (kind) {
    case 0:
        ImageInformation.Hide();
        ImageExclamation.Hide();
        break;
    case 1:
        ImageInformation.Show();
        ImageExclamation.Hide();
        break;
    case 2:
    case 3:
        ImageExclamation.Show();
        ImageInformation.Hide();
        break;
    default: break;
    }
    TNotificationMetrics metrics;
    HDC dc = ::GetDC(LabelInformation.Handle());
    HGDIOBJ oldFont = ::SelectObject(dc, LabelInformation.Font());
    SIZE w{}, jj{};
    ::GetTextExtentPoint32W(dc, L"W", 1, &w);
    ::GetTextExtentPoint32W(dc, L"jJ", 2, &jj);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(LabelInformation.Handle(), dc);
    metrics.WWidth = w.cx;
    metrics.LineHeight = jj.cy;
    metrics.Initial = initialSize_;
    metrics.InitialPanel = initialPanel_;
    metrics.LabelLeft = labelMargins_.left;
    metrics.LabelTop = labelMargins_.top;
    metrics.LabelRight = labelMargins_.right;
    metrics.LabelBottom = labelMargins_.bottom;
    // Within the work area, 5 pixels from its edges: a longer text shows its first lines.
    RECT workArea{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0))
        ::GetClientRect(::GetDesktopWindow(), &workArea);
    std::wstring shown = FitNotificationText(text, metrics, (workArea.bottom - workArea.top) - 10);
    LabelInformation.SetCaption(shown);
    SIZE size = NotificationSize(shown, metrics);

    secondsLeft_ = seconds;
    TimerForFormHide.SetEnabled(true);
    PlaceNearNotificationArea(size);
}

// Shown without activation, so that whatever the user is typing into keeps the focus.
void TfmTrayNotification::PlaceNearNotificationArea(SIZE size)
{
    HWND desktop = ::GetShellWindow();
    if (!desktop)
        desktop = ::GetDesktopWindow();
    RECT desktopClient{};
    ::GetClientRect(desktop, &desktopClient);
    RECT taskbar{};
    HWND tray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    bool haveTaskbar = tray && ::GetWindowRect(tray, &taskbar);
    RECT workArea{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0))
        workArea = desktopClient;
    POINT at = NotificationPosition(size, {desktopClient.right, desktopClient.bottom}, haveTaskbar ? &taskbar : nullptr,
                                    workArea);
    ::SetWindowPos(Handle(), HWND_TOP, at.x, at.y, size.cx, size.cy, SWP_NOACTIVATE);
    ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
    ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TfmTrayNotification::HideTrayNotification()
{
    TimerForFormHide.SetEnabled(false);
    Hide();
}

void TfmTrayNotification::TimerForFormHideTimer()
{
    --secondsLeft_;
    if (secondsLeft_ <= 0)
        HideTrayNotification();
}

TfmTrayNotification* FindTrayNotification(TApplication& app)
{
    TForm* mainForm = app.MainForm();
    return mainForm ? dynamic_cast<TfmTrayNotification*>(mainForm->FindComponent(kComponentName)) : nullptr;
}

namespace {

TfmTrayNotification& CreateTrayNotification(TApplication& app, TForm& mainForm)
{
    auto created = std::make_unique<TfmTrayNotification>(app, mainForm);
    created->SetName(kComponentName);
    return *static_cast<TfmTrayNotification*>(mainForm.InsertComponent(std::move(created)));
}

} // namespace

void ShowTrayNotification(TApplication& app, const std::wstring& text, int seconds, int kind)
{
    TfmTrayNotification* popup = FindTrayNotification(app);
    if (text == kCleanupNotifyIconText) {
        if (popup)
            popup->HideTrayNotification();
        return;
    }
    if (!popup) {
        TForm* mainForm = app.MainForm();
        Assert(mainForm != nullptr, "The tray notification needs the main form", kUnit, __LINE__);
        popup = &CreateTrayNotification(app, *mainForm);
    }
    popup->ShowNotification(text, seconds, kind);
}

void PrepareTrayNotification(TApplication& app)
{
    if (TForm* mainForm = app.MainForm(); mainForm && !FindTrayNotification(app))
        CreateTrayNotification(app, *mainForm);
}
