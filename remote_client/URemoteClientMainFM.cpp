#include "URemoteClientMainFM.h"

#include "Exceptions.h"
#include "LiteTools.h"
#include "ShellFolders.h"
#include "Strings.h"
#include "UEditServerFM.h"
#include "UEditSiteFM.h"
#include "UServerStatus.h"
#include "UUrlParts.h"
#include "USettingsIO.h"
#include "USiteStatus.h"
#include "UTrayNotificationFM.h"
#include "WinTools.h"

#include "../resources/ResourceIds.h"

#include <windowsx.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

using Microsoft::WRL::ComPtr;

namespace {

// The hide-to-tray button's height at most, in 96-DPI units: the tab row's height at 96 DPI, less its top.
const int kHideToTrayHeight = 21;

constexpr const char* kUnit = "URemoteClientMainFM";
// The status list's last column: the bars of the recent checks, a pixel each with a pixel between them.
constexpr int kHistoryColumn = 7;
constexpr int kHistoryColumnWidth = 2 * static_cast<int>(TCheckHistory::kKept) + 8;

// The host a check goes to, as the wire names it; the URL itself when it has none.
std::wstring HostOfUrl(const std::wstring& url)
{
    DWORD error = 0;
    std::optional<TUrlParts> parts = SplitRequestURL(url, error);
    return parts ? parts->Host : url;
}
const wchar_t kServerType[] = L"Server";
const wchar_t kSiteType[] = L"Site";

// Repainting of a list stays suspended for the life of this object, also when an error passes.
class TListUpdate {
public:
    explicit TListUpdate(TListView& list) : list_(list) { list_.BeginUpdate(); }
    ~TListUpdate() { list_.EndUpdate(); }
    TListUpdate(const TListUpdate&) = delete;
    TListUpdate& operator=(const TListUpdate&) = delete;

private:
    TListView& list_;
};

void FillServerRow(TListItem& row, const TCheckServerSettings& settings)
{
    row.SetCaption(settings.URL);
    row.SetChecked(settings.Active);
    row.SetSubItems({std::to_wstring(settings.CheckIntevalMinutes), settings.Username, settings.Password});
}

void FillSiteRow(TListItem& row, const TCheckSiteSettings& settings)
{
    row.SetCaption(settings.URL);
    row.SetChecked(settings.Active);
    row.SetSubItems({std::to_wstring(settings.CheckIntevalMinutes), settings.CodeToCheck});
}

// The size of the notification area's pictures: 16 pixels at 96 DPI, more on a larger system DPI.
int SmallIconSize() { return ::GetSystemMetrics(SM_CXSMICON); }

// One of the program's icons at the system's small-icon size; shared, so nobody frees it.
HICON SmallIcon(int id)
{
    int size = SmallIconSize();
    auto icon = static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
    if (!icon)
        throw ELastWin32Error();
    return icon;
}

// Takes a settings object out of its list; the list's reference was the window's last.
template <typename T>
void RemoveSettings(std::vector<std::shared_ptr<T>>& list, const TObject* object)
{
    list.erase(std::remove_if(list.begin(), list.end(), [object](const auto& item) { return item.get() == object; }),
               list.end());
}

// A new row and its settings object, shown in the edit dialog; they become an item only with OK, and any other
// end of the dialog (also an error) takes both away again. Only a confirmed item is saved.
template <typename TDialog, typename TSettings>
void AddItem(TfmRemoteClientMain& window, TListView& list, std::vector<std::shared_ptr<TSettings>>& settingsList)
{
    TDialog dialog(window.Application(), &window);
    TListItem row = list.Add();
    dialog.SetItem(row);
    auto settings = std::make_shared<TSettings>(window.Store, "Item" + NewGuidText());
    settingsList.push_back(settings);
    row.SetData(settings.get());
    auto discard = [&] {
        if (row)
            row.Delete();
        RemoveSettings(settingsList, settings.get());
    };
    int result = mrCancel;
    try {
        result = dialog.ShowModal();
    } catch (...) {
        discard();
        throw;
    }
    if (result != mrOk) {
        discard();
        return;
    }
    window.SaveSettings();
}

// The row with the list's focus mark, selected or not.
template <typename TDialog>
void EditItem(TfmRemoteClientMain& window, TListView& list)
{
    TListItem row = list.FocusedItem();
    if (!row)
        return;
    TDialog dialog(window.Application(), &window);
    dialog.SetItem(row);
    if (dialog.ShowModal() == mrOk)
        window.SaveSettings();
}

// Every selected row goes with its settings object, from the last row to the first; the file is written even
// when nothing was selected.
template <typename TSettings>
void DeleteItems(TfmRemoteClientMain& window, TListView& list, std::vector<std::shared_ptr<TSettings>>& settingsList)
{
    std::unordered_set<const TObject*> deleted;
    {
        TListUpdate update(list);
        for (TListItem& row : list.SelectedItems())
            deleted.insert(row.Data());
        for (int i = list.Count() - 1; i >= 0 && !deleted.empty(); --i) {
            TListItem row = list.Item(i);
            if (deleted.count(row.Data()))
                row.Delete();
        }
    }
    settingsList.erase(std::remove_if(settingsList.begin(), settingsList.end(),
                                      [&](const auto& item) { return deleted.count(item.get()) != 0; }),
                       settingsList.end());
    window.SaveSettings();
}

// The settings objects in the order of the list's rows, which is the order the file keeps.
template <typename T>
std::vector<std::shared_ptr<T>> InRowOrder(TListView& list, const std::vector<std::shared_ptr<T>>& objects)
{
    std::unordered_map<const TObject*, std::shared_ptr<T>> byRow;
    for (const auto& object : objects)
        byRow.emplace(object.get(), object);
    std::vector<std::shared_ptr<T>> ordered;
    for (int i = 0, count = list.Count(); i < count; ++i) {
        auto it = byRow.find(list.Item(i).Data());
        if (it != byRow.end())
            ordered.push_back(it->second);
    }
    return ordered;
}

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

std::wstring GetSettingsFileName()
{
    wchar_t folder[MAX_PATH] = {};
    DWORD length = ::GetEnvironmentVariableW(kSettingsFolderVariable, folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::wstring file(folder, length);
        if (file.back() != L'\\' && file.back() != L'/')
            file += L'\\';
        return file + L"Settings.xml";
    }
    return GetAppDataFolder() + L"MendrelRemoteClient\\Settings.xml";
}

TfmRemoteClientMain::TfmRemoteClientMain(TApplication& app)
    : TfmRemoteClientMain(app, ParamList(), GetSettingsFileName())
{
}

TfmRemoteClientMain::TfmRemoteClientMain(TApplication& app, const std::vector<std::string>& args,
                                         std::wstring settingsFileName, TRemoteClientEnvironment environment)
    : TForm(app),
      TrayIcon(SmallIcon(IDI_PADLOCK)),
      Clock(environment.Clock ? std::move(environment.Clock) : TClock(&Now)),
      CheckRetrieval(environment.Retrieval),
      settingsFileName_(std::move(settingsFileName)),
      checkTarget_(std::make_unique<TCheckCallbackTarget>())
{
    networkAvailable_ = environment.NetworkAvailable ? std::move(environment.NetworkAvailable)
                                                     : std::function<bool()>(&ComputerHasNetwork);
    BuildLayout();
    BuildTray();
    BuildStatusTip();
    networkNotification_ = std::make_unique<TNetworkChangeNotification>(
        [window = Handle()] { ::PostMessageW(window, kNetworkChangedMessage, 0, 0); });
    ReadStartMode(args);
    LoadSettings();
}

// The window goes first, with its controls and rows; the objects that the rows showed follow. Checks still
// running keep their own status and settings objects and are not waited for: their callbacks are dropped.
TfmRemoteClientMain::~TfmRemoteClientMain()
{
    destroying_ = true;
    networkNotification_.reset();
    checkTarget_.reset();
    DestroyHandle();
    rowViews_.clear();
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
                         {L"Downtime", 60, true},
                         {L"History", kHistoryColumnWidth}});
    lvStatus.SetBounds(0, 0, status.cx, status.cy - 36);
    lvStatus.SetAnchors(akLeft | akTop | akRight | akBottom);
    // Callbacks come in bursts: the columns take the widths that a burst's rows ask for once, after it, in a
    // message of their own (a new width costs the list of thousands of rows tens of milliseconds).
    lvStatus.DeferColumnWidths(true);
    lvStatus.OnColumnWidthsStale = [this] { ::PostMessageW(Handle(), kColumnWidthsMessage, 0, 0); };
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
    bbConnect.OnClick = [this] { bbConnectClick(); };
    bbDisconnect.OnClick = [this] { bbDisconnectClick(); };
    bbRefreshNow.OnClick = [this] { bbRefreshNowClick(); };
    bbReboot.OnClick = [this] { bbRebootClick(); };
    lvStatus.OnCustomDrawItem = [this](TListItemDrawInfo& info) { lvStatusAdvancedCustomDrawItem(info); };
    lvStatus.OnPostPaintItem = [this](int index, HDC dc) { lvStatusPostPaintItem(index, dc); };
    lvStatus.OnMouseMessage = [this](const MSG& message) { lvStatusMouseMessage(message); };
    lvStatus.OnClick = [this] { lvStatusClick(); };
    lvStatus.OnKeyUp = [this](WORD key) { lvStatusKeyUp(key); };
    lvStatus.OnSelectItem = [this](TListItem item, bool selected) { lvStatusSelectItem(item, selected); };
    CheckTimer.OnTimer = [this] { CheckTimerTimer(); };
    TrayTextTimer.OnTimer = [this] { RefreshTrayText(); };

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

// The icon shows the program's own picture until the overall state first changes; from then on the list's.
void TfmRemoteClientMain::BuildTray()
{
    TrayIconImageList.reset(::ImageList_Create(SmallIconSize(), SmallIconSize(), ILC_COLOR32 | ILC_MASK, 3, 0));
    if (!TrayIconImageList.get())
        throw ELastWin32Error();
    for (int id : {IDI_PADLOCK, IDI_PADLOCK_OK, IDI_PADLOCK_FAIL}) {
        if (::ImageList_AddIcon(TrayIconImageList.get(), SmallIcon(id)) < 0)
            throw ELastWin32Error();
    }
    TrayIcon.OnClick = [this] { TrayIconClick(); };
    TrayIcon.OnDblClick = [this] { TrayIconClick(); };
    TrayIcon.OnError = [this](const std::exception_ptr& error) { Application().HandleException(error); };

    // Where the window system offers no extra caption-bar button, a small one stands at the end of the tab row,
    // and the system menu has the same command.
    HWND button = sbHideToTray.Handle();
    ::SetWindowLongPtrW(button, GWL_STYLE, ::GetWindowLongPtrW(button, GWL_STYLE) | BS_ICON);
    sbHideToTray.SetBounds(ClientSizeDesign().cx - 26, 1, 24, kHideToTrayHeight);
    sbHideToTray.SetAnchors(akRight | akTop);
    FitHideToTrayButton();
    ::SetWindowPos(button, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    sbHideToTray.OnClick = [this] { sSkinProviderTitleButtons0MouseUp(); };
    hideToTrayTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                       Handle(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (hideToTrayTip_) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(button);
        tool.lpszText = const_cast<wchar_t*>(L"Hide to tray");
        ::SendMessageW(hideToTrayTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (HMENU menu = ::GetSystemMenu(Handle(), FALSE)) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, kHideToTrayCommand, L"Hide to tray");
    }
}

// The start mode takes effect when messages are next handled, not here: the message is posted.
void TfmRemoteClientMain::ReadStartMode(const std::vector<std::string>& args)
{
    bool hide = TextToBool(GetParamValueDef(args, "Hide", "false"), false);
    if (hide)
        Application().SetShowMainForm(false);
    ::PostMessageW(Handle(), hide ? kHideToTrayMessage : kShowFromTrayMessage, 0, 0);
}

// The sites are read before the servers; a file that cannot be read or converted stops here, before the
// status list (and so the window, which the first pumping of messages shows) comes up.
void TfmRemoteClientMain::LoadSettings()
{
    Store = OpenSettingsStore(settingsFileName_);
    LoadSites();
    LoadServers();
    RebuildStatusList();
}

void TfmRemoteClientMain::SaveSettings()
{
    SaveServers();
    SaveSites();
    ForceFileFolder(settingsFileName_);
    Store->Save();
    RebuildStatusList();
}

// The status rows go with the status objects they show, so that no row is left with an object that is freed.
void TfmRemoteClientMain::LoadServers()
{
    ClearStatusRows();
    TListUpdate update(lvServers);
    lvServers.Clear();
    ServerSettingsList.clear();
    ServerSettingsList = LoadServerSettings(Store);
    for (const auto& settings : ServerSettingsList) {
        TListItem row = lvServers.Add(settings->URL, settings.get());
        FillServerRow(row, *settings);
    }
}

void TfmRemoteClientMain::LoadSites()
{
    ClearStatusRows();
    TListUpdate update(lvSites);
    lvSites.Clear();
    SiteSettingsList.clear();
    SiteSettingsList = LoadSiteSettings(Store);
    for (const auto& settings : SiteSettingsList) {
        TListItem row = lvSites.Add(settings->URL, settings.get());
        FillSiteRow(row, *settings);
    }
}

void TfmRemoteClientMain::SaveServers() { SaveServerSettings(*Store.Get(), InRowOrder(lvServers, ServerSettingsList)); }

void TfmRemoteClientMain::SaveSites() { SaveSiteSettings(*Store.Get(), InRowOrder(lvSites, SiteSettingsList)); }

void TfmRemoteClientMain::ScaleChanged()
{
    TForm::ScaleChanged();
    FitHideToTrayButton();
}

// The button stands in the tab row and must not reach the pages' frame below it. The row does not grow in
// proportion to the DPI (the tabs' padding stays), so the height comes from the row as the tabs lay it out.
void TfmRemoteClientMain::FitHideToTrayButton()
{
    HWND tabs = pgMain.TabHandle();
    if (!tabs || !sbHideToTray.Handle())
        return;
    RECT display{};
    ::GetClientRect(tabs, &display);
    TabCtrl_AdjustRect(tabs, FALSE, &display);
    const TBounds& bounds = sbHideToTray.Bounds();
    int height = kHideToTrayHeight;
    while (height > 8 && Scale(bounds.Top) + Scale(height) > display.top)
        --height;
    if (height != bounds.Height)
        sbHideToTray.SetBounds(bounds.Left, bounds.Top, bounds.Width, height);

    // The picture grows with the DPI as far as the button's face leaves room (a frame of 3 pixels each side).
    RECT face{};
    ::GetClientRect(sbHideToTray.Handle(), &face);
    int size = std::max(16, std::min(Scale(16), static_cast<int>(face.bottom) - 6));
    if (size != hideToTrayIconSize_) {
        UniqueIcon icon = LoadPicture(IDI_PADLOCK, size);
        if (!icon)
            throw ELastWin32Error();
        ::SendMessageW(sbHideToTray.Handle(), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon.get()));
        HideToTrayIcon = std::move(icon);
        hideToTrayIconSize_ = size;
    }
}

void TfmRemoteClientMain::HideToTray()
{
    if (!TrayIcon.Visible())
        TrayIcon.Show();
    Hide();
    UpdateTrayState();
    // The tooltip is what the user looks at now.
    if (trayTextDue_)
        RefreshTrayText();
}

void TfmRemoteClientMain::ShowFromTray()
{
    Show();
    if (TrayIcon.Visible())
        TrayIcon.Hide();
    BringToFront();
}

void TfmRemoteClientMain::TrayIconClick() { ShowFromTray(); }

void TfmRemoteClientMain::sSkinProviderTitleButtons0MouseUp() { HideToTray(); }

// A tooltip refresh that was due still shows the rows it was due for.
void TfmRemoteClientMain::ClearStatusRows()
{
    if (trayTextDue_)
        RefreshTrayText();
    lvStatus.Clear();
    rowViews_.clear();
    statusOfData_.clear();
    historyOfData_.clear();
    reboots_.clear();
    waves_.Clear();
    DropTick();
    tipRow_ = -1;
    StatusObjectList.clear();
    failingRows_ = 0;
    trayTextStale_ = true;
}

// Messages that wait are handled first: the start mode posted at construction, and callbacks of checks that
// are over, which then still find their rows. Checks that still run keep their old status objects; their
// callbacks find no row.
void TfmRemoteClientMain::RebuildStatusList()
{
    Application().ProcessMessages();
    if (destroying_ || !Handle())
        return;
    std::vector<std::pair<std::shared_ptr<TCheckStatus>, TCheckStatusCallback>> checks;
    {
        TListUpdate update(lvStatus);
        ClearStatusRows();
        deferredChecks_ = &checks;
        try {
            for (const auto& settings : ServerSettingsList) {
                if (settings->Active)
                    ShowServerStatus(lvStatus.Add(kServerType), settings);
            }
            for (const auto& settings : SiteSettingsList) {
                if (settings->Active)
                    ShowSiteStatus(lvStatus.Add(kSiteType), settings);
            }
        } catch (...) {
            deferredChecks_ = nullptr;
            throw;
        }
        deferredChecks_ = nullptr;
    }
    // The histories of items that are gone, inactive or have a new URL go with them.
    std::unordered_set<const TCheckHistory*> kept;
    for (const auto& [data, history] : historyOfData_)
        kept.insert(history);
    for (auto it = histories_.begin(); it != histories_.end();)
        it = kept.count(&it->second) ? std::next(it) : histories_.erase(it);
    // The filled list shows before its checks start: its first paint (a tenth of a second with thousands of rows
    // under Wine) would otherwise come among the first callbacks.
    if (::IsWindowVisible(lvStatus.Handle()))
        ::RedrawWindow(lvStatus.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    // So is the pop-up that the first change of the tray state shows: made while the workers are still
    // few, it takes a thirtieth of a second instead of up to half a second.
    if (!checks.empty())
        PrepareTrayNotification(Application());
    waves_.NewWave();
    for (auto& [status, callback] : checks)
        StartAsyncCheck(status, std::move(callback));
}

std::shared_ptr<TCheckStatus> TfmRemoteClientMain::StatusOfRow(const TListItem& row) const
{
    const TObject* data = row.Data();
    if (!data)
        return nullptr;
    auto it = statusOfData_.find(data);
    return it != statusOfData_.end() ? it->second : nullptr;
}

bool TfmRemoteClientMain::CheckRunningOn(const TListItem& row) const
{
    std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
    return status && status->CheckRunning();
}

// Only while no check runs on the status: the worker writes the record until its callback.
// The tally of failing rows moves with the row, and the tooltip becomes stale only when the row changed
// what the tooltip says of it.
void TfmRemoteClientMain::WriteStatusRow(TListItem& row, const wchar_t* type, TCheckStatus& status)
{
    std::wstring separator = UserTimeSeparator();
    auto current = rowViews_.find(row.Data());
    if (current != rowViews_.end() && ViewIsCurrent(current->second, type, status, separator) &&
        row.Caption() == current->second.Type)
        return;
    TStatusRowView view = ViewOfStatus(type, status, separator);
    if (row.Caption() != view.Type)
        row.SetCaption(view.Type);
    row.SetSubItems(view.SubItems);
    auto failing = [](const TTrayRow& tray) { return tray.LastCheckTime != 0 && !tray.StatusOk; };
    auto [it, added] = rowViews_.try_emplace(row.Data());
    const TTrayRow& before = it->second.Tray;
    const TTrayRow& after = view.Tray;
    if (added || TrayLineDiffers(before, after))
        trayTextStale_ = true;
    if (!added && failing(before))
        --failingRows_;
    if (failing(after))
        ++failingRows_;
    it->second = std::move(view);
}

void TfmRemoteClientMain::ShowServerStatus(TListItem row, const std::shared_ptr<TCheckServerSettings>& settings)
{
    std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
    if (!status) {
        Assert(settings != nullptr, "A new status row needs its settings", kUnit, __LINE__);
        auto created = std::make_shared<TCheckServerStatus>(settings, Clock);
        created->Retrieval = CheckRetrieval;
        StatusObjectList.push_back(created);
        row.SetData(created.get());
        statusOfData_[created.get()] = created;
        AttachHistory(created.get(), kServerType, settings->ItemName, settings->URL);
        status = created;
    } else {
        auto* server = dynamic_cast<TCheckServerStatus*>(status.get());
        Assert(server && (!settings || server->Settings == settings), "The row shows other settings", kUnit, __LINE__);
    }
    WriteStatusRow(row, kServerType, *status);
    StartAsyncCheck(status, [this](TStatusRow done, ICheckStatus* check) { ServerCheckDone(done, check); });
}

void TfmRemoteClientMain::ShowSiteStatus(TListItem row, const std::shared_ptr<TCheckSiteSettings>& settings)
{
    std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
    if (!status) {
        Assert(settings != nullptr, "A new status row needs its settings", kUnit, __LINE__);
        auto created = std::make_shared<TCheckSiteStatus>(settings, Clock);
        created->Retrieval = CheckRetrieval;
        StatusObjectList.push_back(created);
        row.SetData(created.get());
        statusOfData_[created.get()] = created;
        AttachHistory(created.get(), kSiteType, settings->ItemName, settings->URL);
        status = created;
    } else {
        auto* site = dynamic_cast<TCheckSiteStatus*>(status.get());
        Assert(site && (!settings || site->Settings == settings), "The row shows other settings", kUnit, __LINE__);
    }
    WriteStatusRow(row, kSiteType, *status);
    StartAsyncCheck(status, [this](TStatusRow done, ICheckStatus* check) { SiteCheckDone(done, check); });
}

// While a rebuild fills the list, its checks wait until every row is there: workers that start meanwhile
// would only take the processor from the filling.
void TfmRemoteClientMain::StartAsyncCheck(const std::shared_ptr<TCheckStatus>& status, TCheckStatusCallback callback)
{
    if (deferredChecks_) {
        deferredChecks_->emplace_back(status, std::move(callback));
        return;
    }
    waves_.Started(static_cast<TObject*>(status.get()), status->Downtime);
    TCheckStatusAsync::Start(*checkTarget_, static_cast<TObject*>(status.get()), status, std::move(callback));
}

void TfmRemoteClientMain::StartCheck(TListItem row)
{
    std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
    if (auto* server = dynamic_cast<TCheckServerStatus*>(status.get()))
        ShowServerStatus(row, server->Settings);
    else if (auto* site = dynamic_cast<TCheckSiteStatus*>(status.get()))
        ShowSiteStatus(row, site->Settings);
}

// The row is looked up again: a rebuild may have removed it while the check ran.
void TfmRemoteClientMain::CheckDone(TStatusRow row, const wchar_t* type)
{
    std::pair<std::wstring, int> rebootEnd;
    std::optional<std::vector<TWaveCheck>> waveEnded;
    TListItem item = lvStatus.FindData(static_cast<const TObject*>(row));
    if (item) {
        if (std::shared_ptr<TCheckStatus> status = StatusOfRow(item)) {
            auto history = historyOfData_.find(item.Data());
            if (history != historyOfData_.end())
                history->second->Add({status->CheckStarted, status->StatusOk, status->ResponseMs}, status->StatusText);
            // The URL for now; its host is worked out only for a wave that failed everywhere.
            waveEnded = waves_.Done(row, status->CheckStatus()->GetURL(), status->StatusText == L"Failed to connect");
            rebootEnd = FollowReboot(item, *status);
            WriteStatusRow(item, type, *status);
            if (tipRow_ >= 0 && item.Index() == tipRow_)
                WriteStatusTip();
        }
    }
    UpdateTrayState();
    if (waveEnded)
        EndWave(std::move(*waveEnded));
    // After the state's own pop-up, so that the end of a reboot is what the pop-up shows.
    if (!rebootEnd.first.empty())
        AnnounceTrayState(rebootEnd.first, 5, rebootEnd.second);
}

// Said once while the computer stays offline; each such wave's hosts are charged no downtime for it.
void TfmRemoteClientMain::EndWave(std::vector<TWaveCheck> checks)
{
    if (std::any_of(checks.begin(), checks.end(), [](const TWaveCheck& check) { return !check.FailedToConnect; }))
        return;
    for (TWaveCheck& check : checks)
        check.Host = HostOfUrl(check.Host);
    if (!WaveFailedEverywhere(checks) || networkAvailable_())
        return;
    for (const TWaveCheck& check : checks) {
        auto status = statusOfData_.find(static_cast<const TObject*>(check.Row));
        if (status == statusOfData_.end() || status->second->CheckRunning())
            continue;
        status->second->Downtime = check.DowntimeBefore;
        TListItem item = lvStatus.FindData(static_cast<const TObject*>(check.Row));
        if (item) {
            std::wstring type = item.Caption();
            WriteStatusRow(item, type.c_str(), *status->second);
        }
    }
    if (offline_)
        return;
    offline_ = true;
    RefreshTrayText();
    AnnounceTrayState(kNoNetworkText, 5, 2);
}

void TfmRemoteClientMain::NetworkChanged()
{
    if (!offline_ || !networkAvailable_())
        return;
    offline_ = false;
    trayTextStale_ = true;
    RefreshTrayText();
    waves_.NewWave();
    for (int i = 0, count = lvStatus.Count(); i < count; ++i) {
        TListItem row = lvStatus.Item(i);
        if (!CheckRunningOn(row))
            StartCheck(row);
    }
    UpdateTrayState();
}

std::pair<std::wstring, int> TfmRemoteClientMain::FollowReboot(const TListItem& row, TCheckStatus& status)
{
    auto it = reboots_.find(row.Data());
    if (it == reboots_.end() || !it->second.Watching())
        return {};
    TRebootWatch& watch = it->second;
    TDateTime now = Clock();
    switch (watch.Note(now, status.StatusOk)) {
    case TRebootWatch::TOutcome::Watching:
        status.NextCheckTime = watch.NextCheck(now);
        if (!status.StatusOk)
            status.StatusText = watch.StatusText(now, UserTimeSeparator());
        return {};
    case TRebootWatch::TOutcome::Back: return {watch.EndText(status.CheckStatus()->GetURL()), 1};
    default: return {watch.EndText(status.CheckStatus()->GetURL()), 2};
    }
}

void TfmRemoteClientMain::ServerCheckDone(TStatusRow row, ICheckStatus*) { CheckDone(row, kServerType); }

void TfmRemoteClientMain::SiteCheckDone(TStatusRow row, ICheckStatus*) { CheckDone(row, kSiteType); }

// The icon's state comes from the tally of failing rows. The tooltip lists every row, so it is computed at
// once only when the state changes (the pop-up shows it); otherwise a burst of callbacks refreshes it once.
void TfmRemoteClientMain::UpdateTrayState()
{
    int index = TrayIndexOf(lvStatus.Count(), failingRows_);
    if (index == trayIndex_) {
        if (trayTextStale_ && !trayTextDue_) {
            trayTextDue_ = true;
            TrayTextTimer.SetEnabled(true);
        }
        return;
    }
    RefreshTrayText();
    TTrayState state{TrayIcon.Hint(), index};
    TTrayAnnouncement announcement = AnnounceTrayChange(trayIndex_, state.Index);
    trayIndex_ = state.Index;
    UniqueIcon picture(::ImageList_GetIcon(TrayIconImageList.get(), trayIndex_, ILD_NORMAL));
    if (picture.get()) {
        TrayIcon.SetIcon(picture.get());
        trayPicture_ = std::move(picture);
    }
    // Offline, the one line that said so stands; the states of the items are not announced.
    if (announcement.Show && !offline_)
        AnnounceTrayState(state.Text, announcement.Seconds, announcement.Kind);
}

void TfmRemoteClientMain::RefreshTrayText()
{
    trayTextDue_ = false;
    trayTextStale_ = false;
    TrayTextTimer.SetEnabled(false);
    if (offline_) {
        if (TrayIcon.Hint() != kNoNetworkText)
            TrayIcon.SetHint(kNoNetworkText);
        return;
    }
    static const TTrayRow unchecked;
    std::vector<const TTrayRow*> rows;
    rows.reserve(static_cast<size_t>(lvStatus.Count()));
    for (int i = 0, count = lvStatus.Count(); i < count; ++i) {
        auto view = rowViews_.find(lvStatus.Item(i).Data());
        rows.push_back(view != rowViews_.end() ? &view->second.Tray : &unchecked);
    }
    TTrayState state = ComputeTrayState(rows);
    if (state.Text != TrayIcon.Hint())
        TrayIcon.SetHint(state.Text);
}

const std::wstring& TfmRemoteClientMain::TrayHint()
{
    if (trayTextDue_)
        RefreshTrayText();
    return TrayIcon.Hint();
}

void TfmRemoteClientMain::AnnounceTrayState(const std::wstring& text, int seconds, int kind)
{
    ShowTrayNotification(Application(), text, seconds, kind);
}

void TfmRemoteClientMain::UpdateStatusButtons()
{
    TListItem selected = lvStatus.SelectedItem();
    bool server = false;
    if (selected) {
        ComPtr<IUnknown> object = GetObjectInterface(selected.Data());
        ComPtr<ICheckServerStatus> check;
        server = object && SUCCEEDED(object->QueryInterface(IID_ICheckServerStatus, &check));
    }
    TStatusButtons buttons = StatusButtonStates(static_cast<bool>(selected), server);
    bbRefreshNow.SetEnabled(buttons.RefreshNow);
    bbReboot.SetEnabled(buttons.Reboot);
}

// Rows whose check has not called back yet are left for a later tick; their next check time is still the
// old one.
void TfmRemoteClientMain::CheckTimerTimer()
{
    // The change notification may not come (or not be had at all): offline, each tick asks again.
    if (offline_)
        NetworkChanged();
    waves_.NewWave();
    DropTick();
    TDateTime now = Clock();
    for (int i = 0, count = lvStatus.Count(); i < count; ++i) {
        TListItem row = lvStatus.Item(i);
        std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
        if (!status || status->CheckRunning())
            continue;
        ICheckStatus* check = status->CheckStatus();
        if (IsCheckDue(check->GetActive(), now, check->GetNextCheckTime()))
            tickRows_.push_back(row.Data());
    }
    ContinueTick();
}

// A continuation still posted for the dropped tick finds another number and does nothing.
void TfmRemoteClientMain::DropTick()
{
    tickRows_.clear();
    tickNext_ = 0;
    ++tickNumber_;
    tickStarted_ = false;
}

// A row that a rebuild removed meanwhile has taken the tick's rows with it; one whose check was started since (by
// "&Refresh now") is left alone. The tray state follows the tick's last check.
void TfmRemoteClientMain::ContinueTick()
{
    constexpr size_t kTickSlice = 1000;
    size_t end = std::min(tickRows_.size(), tickNext_ + kTickSlice);
    for (; tickNext_ < end; ++tickNext_) {
        TListItem row = lvStatus.FindData(tickRows_[tickNext_]);
        if (!row || CheckRunningOn(row))
            continue;
        StartCheck(row);
        tickStarted_ = true;
    }
    if (tickNext_ < tickRows_.size()) {
        ::PostMessageW(Handle(), kContinueTickMessage, tickNumber_, 0);
        return;
    }
    tickRows_.clear();
    tickNext_ = 0;
    if (tickStarted_) {
        tickStarted_ = false;
        UpdateTrayState();
    }
}

void TfmRemoteClientMain::bbConnectClick()
{
    CheckTimer.SetEnabled(true);
    bbConnect.SetEnabled(false);
    bbDisconnect.SetEnabled(true);
}

void TfmRemoteClientMain::bbDisconnectClick()
{
    CheckTimer.SetEnabled(false);
    bbConnect.SetEnabled(true);
    bbDisconnect.SetEnabled(false);
}

void TfmRemoteClientMain::bbRefreshNowClick()
{
    waves_.NewWave();
    for (TListItem& row : lvStatus.SelectedItems()) {
        if (!CheckRunningOn(row))
            StartCheck(row);
    }
}

// The reboot order blocks until its request is over; only the Status column shows its outcome.
void TfmRemoteClientMain::bbRebootClick()
{
    for (TListItem& row : lvStatus.SelectedItems()) {
        ComPtr<IUnknown> object = GetObjectInterface(row.Data());
        ComPtr<ICheckServerStatus> server;
        if (!object || FAILED(object->QueryInterface(IID_ICheckServerStatus, &server)) || CheckRunningOn(row))
            continue;
        server->Reboot();
        std::shared_ptr<TCheckStatus> status = StatusOfRow(row);
        if (!status)
            continue;
        // An accepted order is followed: the server is checked on a short cycle until it is back.
        if (status->StatusOk) {
            TDateTime now = Clock();
            TRebootWatch& watch = reboots_.insert_or_assign(row.Data(), TRebootWatch(now)).first->second;
            status->NextCheckTime = watch.NextCheck(now);
        }
        std::vector<std::wstring> subItems = row.SubItems();
        subItems.resize(std::max<size_t>(subItems.size(), 2));
        subItems[1] = status->StatusText;
        row.SetSubItems(subItems);
        auto view = rowViews_.find(row.Data());
        if (view != rowViews_.end())
            view->second.SubItems = subItems;
    }
}

void TfmRemoteClientMain::lvStatusAdvancedCustomDrawItem(TListItemDrawInfo& info)
{
    auto view = rowViews_.find(lvStatus.Item(info.Index).Data());
    if (view != rowViews_.end())
        info.Background = StatusRowColor(info.Selected, info.Focused, info.Hot, view->second.Tray);
}

void TfmRemoteClientMain::lvStatusPostPaintItem(int index, HDC dc)
{
    auto history = historyOfData_.find(lvStatus.Item(index).Data());
    if (history == historyOfData_.end())
        return;
    RECT cell = lvStatus.CellRect(index, kHistoryColumn);
    if (cell.right > cell.left)
        DrawHistoryCell(dc, cell, *history->second, Scale(1));
}

// The tip is written when the mouse comes to another row, and again when the row's history grows under it; the
// tooltip shows it after its usual delay and hides where the text is empty. The tooltip gets the list's mouse
// messages from here rather than by subclassing the list, which would cost every message to the list a look-up
// of the subclass (a window property, a server round trip under Wine).
void TfmRemoteClientMain::lvStatusMouseMessage(const MSG& message)
{
    if (message.message == WM_MOUSEMOVE) {
        int index = lvStatus.IndexAt(POINT{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)});
        if (index != tipRow_) {
            tipRow_ = index;
            WriteStatusTip();
        }
    }
    if (statusTip_) {
        MSG relayed = message;
        ::SendMessageW(statusTip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
}

void TfmRemoteClientMain::WriteStatusTip()
{
    if (!statusTip_)
        return;
    std::wstring text = tipRow_ >= 0 ? StatusTipText(lvStatus.Item(tipRow_)) : std::wstring();
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(lvStatus.Handle());
    tool.lpszText = text.data();
    ::SendMessageW(statusTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    if (text.empty())
        ::SendMessageW(statusTip_, TTM_POP, 0, 0);
}

void TfmRemoteClientMain::BuildStatusTip()
{
    statusTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0,
                                   0, 0, 0, Handle(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!statusTip_)
        return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(lvStatus.Handle());
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(statusTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // Several lines; long enough to read them.
    ::SendMessageW(statusTip_, TTM_SETMAXTIPWIDTH, 0, Scale(420));
    ::SendMessageW(statusTip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
}

void TfmRemoteClientMain::AttachHistory(const TObject* data, const wchar_t* type, const std::string& itemName,
                                        const std::wstring& url)
{
    std::wstring key = std::wstring(type) + L"\n" + Utf8ToWide(itemName) + L"\n" + url;
    auto [it, added] = histories_.try_emplace(std::move(key), Clock());
    historyOfData_[data] = &it->second;
}

const TCheckHistory* TfmRemoteClientMain::HistoryOfRow(const TListItem& row) const
{
    auto history = historyOfData_.find(row.Data());
    return history != historyOfData_.end() ? history->second : nullptr;
}

std::wstring TfmRemoteClientMain::StatusTipText(const TListItem& row) const
{
    const TCheckHistory* history = HistoryOfRow(row);
    if (!history)
        return {};
    std::vector<std::wstring> extra;
    if (const TRebootWatch* reboot = RebootOfRow(row))
        extra.push_back(reboot->TipLine(Clock(), UserTimeSeparator()));
    return HistoryTipText(*history, Clock(), UserTimeSeparator(), extra);
}

const TRebootWatch* TfmRemoteClientMain::RebootOfRow(const TListItem& row) const
{
    auto reboot = reboots_.find(row.Data());
    return reboot != reboots_.end() ? &reboot->second : nullptr;
}

void TfmRemoteClientMain::lvStatusClick() { UpdateStatusButtons(); }

void TfmRemoteClientMain::lvStatusKeyUp(WORD) { UpdateStatusButtons(); }

void TfmRemoteClientMain::lvStatusSelectItem(TListItem, bool) { UpdateStatusButtons(); }

void TfmRemoteClientMain::LabelServerAddClick() { AddItem<TfmEditServer>(*this, lvServers, ServerSettingsList); }

void TfmRemoteClientMain::LabelServerEditClick() { EditItem<TfmEditServer>(*this, lvServers); }

void TfmRemoteClientMain::LabelServerDeleteClick() { DeleteItems(*this, lvServers, ServerSettingsList); }

void TfmRemoteClientMain::LabelSiteAddClick() { AddItem<TfmEditSite>(*this, lvSites, SiteSettingsList); }

void TfmRemoteClientMain::LabelSiteEditClick() { EditItem<TfmEditSite>(*this, lvSites); }

void TfmRemoteClientMain::LabelDeleteClick() { DeleteItems(*this, lvSites, SiteSettingsList); }

LRESULT TfmRemoteClientMain::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY: destroying_ = true; break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kHideToTrayCommand) {
            sSkinProviderTitleButtons0MouseUp();
            return 0;
        }
        break;
    case kHideToTrayMessage: HideToTray(); return 0;
    case kShowFromTrayMessage: ShowFromTray(); return 0;
    case kNetworkChangedMessage: NetworkChanged(); return 0;
    case kContinueTickMessage:
        if (wParam == tickNumber_ && !tickRows_.empty())
            ContinueTick();
        return 0;
    case kColumnWidthsMessage: lvStatus.UpdateColumnWidths(); return 0;
    default: break;
    }
    return TForm::WindowProc(message, wParam, lParam);
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
