#include "URemoteClientMainFM.h"

#include "LiteTools.h"
#include "SpecialFolders.h"

namespace {

// A page's client size in design units, for laying its controls out from its edges.
SIZE DesignSize(const TWinControl& control)
{
    RECT client{};
    ::GetClientRect(control.Handle(), &client);
    return {::MulDiv(client.right, 96, control.Dpi()), ::MulDiv(client.bottom, 96, control.Dpi())};
}

// The links under a list stand left to right, each as wide as its text.
void PlaceLinks(TWinControl& page, std::initializer_list<TLinkLabel*> links)
{
    SIZE size = DesignSize(page);
    int left = 8;
    for (TLinkLabel* link : links) {
        link->SetAutoSize(true);
        link->SetBounds(left, size.cy - 20, link->Bounds().Width, link->Bounds().Height);
        link->SetAnchors(akLeft | akBottom);
        left += link->Bounds().Width + 16;
    }
}

} // namespace

std::wstring GetSettingsFileName() { return GetAppDataFolder() + L"MendrelRemoteClient\\Settings.xml"; }

TfmRemoteClientMain::TfmRemoteClientMain(TApplication& app)
    : TfmRemoteClientMain(app, ParamList(), GetSettingsFileName())
{
}

TfmRemoteClientMain::TfmRemoteClientMain(TApplication& app, const std::vector<std::string>& args,
                                         std::wstring settingsFileName)
    : TForm(app), settingsFileName_(std::move(settingsFileName))
{
    BuildLayout();
    ReadStartMode(args);
    LoadSettings();
}

// The window goes first, with its controls and rows; the objects that the rows showed follow.
TfmRemoteClientMain::~TfmRemoteClientMain()
{
    DestroyHandle();
    StatusObjectList.clear();
    ServerSettingsList.clear();
    SiteSettingsList.clear();
    Store.Reset();
}

void TfmRemoteClientMain::BuildLayout()
{
    SetCaption(kRemoteClientCaption);
    SetClientSize(670, 288);
    SetPosition(TPosition::Designed, 0, 0);
    SetAppWindow(true);

    pgMain.SetAlign(TAlign::Client);
    pgMain.SetActivePage(tsCurrentStatus);

    SIZE status = DesignSize(tsCurrentStatus);
    lvStatus.SetColumns({{L"Type", 50, true},
                         {L"Link", 150, true},
                         {L"Status", 150, true},
                         {L"Last check time", 90, true},
                         {L"Last success", 80, true},
                         {L"Next check time", 90, true},
                         {L"Downtime", 60, true}});
    lvStatus.SetBounds(0, 0, status.cx, status.cy - 36);
    lvStatus.SetAnchors(akLeft | akTop | akRight | akBottom);
    const int buttonTop = status.cy - 31;
    bbConnect.SetBounds(4, buttonTop, 90, 27);
    bbDisconnect.SetBounds(98, buttonTop, 90, 27);
    bbRefreshNow.SetBounds(status.cx - 188, buttonTop, 90, 27);
    bbReboot.SetBounds(status.cx - 94, buttonTop, 90, 27);
    bbConnect.SetAnchors(akLeft | akBottom);
    bbDisconnect.SetAnchors(akLeft | akBottom);
    bbRefreshNow.SetAnchors(akRight | akBottom);
    bbReboot.SetAnchors(akRight | akBottom);
    bbConnect.SetEnabled(false);
    CheckTimer.OnTimer = [this] { CheckTimerTimer(); };

    SIZE servers = DesignSize(tsServers);
    lvServers.SetColumns({{L"Host:port", 220}, {L"Check interval, minutes", 150}, {L"Login", 130}, {L"Password", 130}});
    lvServers.SetBounds(0, 0, servers.cx, servers.cy - 26);
    lvServers.SetAnchors(akLeft | akTop | akRight | akBottom);
    PlaceLinks(tsServers, {&LabelServerAdd, &LabelServerEdit, &LabelServerDelete});
    LabelServerAdd.OnClick = [this] { LabelServerAddClick(); };
    LabelServerEdit.OnClick = [this] { LabelServerEditClick(); };
    LabelServerDelete.OnClick = [this] { LabelServerDeleteClick(); };

    SIZE sites = DesignSize(tsSites);
    lvSites.SetColumns({{L"URL", 300}, {L"Check interval, minutes", 150}, {L"Code to check", 180}});
    lvSites.SetBounds(0, 0, sites.cx, sites.cy - 26);
    lvSites.SetAnchors(akLeft | akTop | akRight | akBottom);
    PlaceLinks(tsSites, {&LabelSiteAdd, &LabelSiteEdit, &LabelDelete});
    LabelSiteAdd.OnClick = [this] { LabelSiteAddClick(); };
    LabelSiteEdit.OnClick = [this] { LabelSiteEditClick(); };
    LabelDelete.OnClick = [this] { LabelDeleteClick(); };
}

// The start mode takes effect when messages are next handled, not here: the message is posted.
void TfmRemoteClientMain::ReadStartMode(const std::vector<std::string>& args)
{
    bool hide = TextToBool(GetParamValueDef(args, "Hide", "false"), false);
    if (hide)
        Application().SetShowMainForm(false);
    ::PostMessageW(Handle(), hide ? kHideToTrayMessage : kShowFromTrayMessage, 0, 0);
}

void TfmRemoteClientMain::LoadSettings() {}

void TfmRemoteClientMain::SaveSettings() {}

void TfmRemoteClientMain::HideToTray() { Hide(); }

void TfmRemoteClientMain::ShowFromTray()
{
    Show();
    BringToFront();
}

void TfmRemoteClientMain::CheckTimerTimer() {}

void TfmRemoteClientMain::LabelServerAddClick() {}

void TfmRemoteClientMain::LabelServerEditClick() {}

void TfmRemoteClientMain::LabelServerDeleteClick() {}

void TfmRemoteClientMain::LabelSiteAddClick() {}

void TfmRemoteClientMain::LabelSiteEditClick() {}

void TfmRemoteClientMain::LabelDeleteClick() {}

LRESULT TfmRemoteClientMain::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kHideToTrayMessage: HideToTray(); return 0;
    case kShowFromTrayMessage: ShowFromTray(); return 0;
    default: return TForm::WindowProc(message, wParam, lParam);
    }
}

int RunRemoteClient(TApplication& app, const std::vector<std::string>& args,
                    const std::optional<std::wstring>& settingsFileName)
{
    app.SetShowMainForm(true);
    app.SetTitle(kRemoteClientTitle);
    std::unique_ptr<TfmRemoteClientMain> form;
    try {
        form = std::make_unique<TfmRemoteClientMain>(app, args,
                                                     settingsFileName ? *settingsFileName : GetSettingsFileName());
    } catch (...) {
        app.ShowException(std::current_exception());
        return 1;
    }
    app.Run();
    return 0;
}
