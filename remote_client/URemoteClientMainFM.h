// The remote monitoring client's main window: the status list, the server and site lists, and the program's
// start.
#pragma once

#include "Application.h"
#include "ComCtrls.h"
#include "CommonOptions.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UCheckHistory.h"
#include "UCheckRunner.h"
#include "UCheckSettings.h"
#include "UMessageDialogFM.h"
#include "UNetworkState.h"
#include "URebootWatch.h"
#include "UStatusRows.h"
#include "UTrayIcon.h"
#include "UUtils.h"

#include <commctrl.h>

#include <wrl/client.h>

#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

inline const wchar_t kRemoteClientTitle[] = L"Mendrel Remote Client";
inline const wchar_t kRemoteClientCaption[] = L"Dravex Mendrel Remote Client";

// The window's own messages; their numbers are part of the program's interface (the tray posts them).
inline constexpr UINT kHideToTrayMessage = WM_USER + 1;
inline constexpr UINT kShowFromTrayMessage = WM_USER + 2;
// Posted from the system's thread when an IP interface of the computer changed.
inline constexpr UINT kNetworkChangedMessage = WM_USER + 3;
// Posted to itself: the rest of the checks that a timer tick found due (wParam: the tick's number).
inline constexpr UINT kContinueTickMessage = WM_USER + 4;
// Posted to itself: the status list's columns are to take the widths that its rows now ask for.
inline constexpr UINT kColumnWidthsMessage = WM_USER + 5;
// The item "Hide to tray" of the window's system menu.
inline constexpr UINT kHideToTrayCommand = 0x0010;

inline void DestroyImageList(HIMAGELIST list) { ::ImageList_Destroy(list); }
using UniqueImageList = Unique<HIMAGELIST, &DestroyImageList>;

// Settings.xml in the client's folder below the user's roaming application-data folder, or in the folder that
// the environment variable MENDREL_REMOTE_CLIENT_SETTINGS_FOLDER names (a portable or scripted set-up, and the
// tests, which must never touch the user's own settings).
inline constexpr wchar_t kSettingsFolderVariable[] = L"MENDREL_REMOTE_CLIENT_SETTINGS_FOLDER";
std::wstring GetSettingsFileName();

// What the window's checks go by: the local time of the scheduler and the status objects (the system's when
// empty), and the bounds of every retrieval.
struct TRemoteClientEnvironment {
    TClock Clock;
    TRetrieveOptions Retrieval;
    // Whether the computer itself has a working network; ComputerHasNetwork when not set.
    std::function<bool()> NetworkAvailable;
};

class TfmRemoteClientMain : public TForm {
public:
    // The program's window: the process's command line and GetSettingsFileName().
    explicit TfmRemoteClientMain(TApplication& app);
    // args as ParamList gives them (argument 0 the program); settingsFileName the file to load and save.
    TfmRemoteClientMain(TApplication& app, const std::vector<std::string>& args, std::wstring settingsFileName,
                        TRemoteClientEnvironment environment = {});
    ~TfmRemoteClientMain() override;

    const std::wstring& SettingsFileName() const { return settingsFileName_; }
    void LoadSettings();
    void SaveSettings();
    void LoadServers();
    void LoadSites();
    void SaveServers();
    void SaveSites();
    void HideToTray();
    void ShowFromTray();

    // The status list: one row per active item, each with a status object of its own.
    void RebuildStatusList();
    void ShowServerStatus(TListItem row, const std::shared_ptr<TCheckServerSettings>& settings);
    void ShowSiteStatus(TListItem row, const std::shared_ptr<TCheckSiteSettings>& settings);
    void StartCheck(TListItem row);
    void ServerCheckDone(TStatusRow row, ICheckStatus* status);
    void SiteCheckDone(TStatusRow row, ICheckStatus* status);
    void UpdateStatusButtons();
    void UpdateTrayState();
    // The status object behind a status row, or null.
    std::shared_ptr<TCheckStatus> StatusOfRow(const TListItem& row) const;
    // The recent checks of a status row's item, or null. A rebuild keeps an item's history while its element
    // name and URL stay the same.
    const TCheckHistory* HistoryOfRow(const TListItem& row) const;
    // The reboot of a status row's server that is (or was, until the next rebuild) followed, or null.
    const TRebootWatch* RebootOfRow(const TListItem& row) const;
    // What the tip of a status row says.
    std::wstring StatusTipText(const TListItem& row) const;
    // The tip that follows the mouse over the status list, and the row it was last written for (-1: none).
    HWND StatusTipWindow() const { return statusTip_; }
    int StatusTipRow() const { return tipRow_; }

    // The overall state as the tray shows it: tooltip and picture index. A tooltip whose new text is still
    // waiting for the next refresh is brought up to date first.
    const std::wstring& TrayHint();
    int TrayIconIndex() const { return trayIndex_; }
    void TrayIconClick();
    // The button beside the tabs and the system menu's item: to the tray.
    void sSkinProviderTitleButtons0MouseUp();

    // Starts the checks of the rows that are due: up to 1,000 at once, the others a thousand a turn of the message
    // loop, so that a tick that finds thousands due leaves the window answering meanwhile.
    void CheckTimerTimer();
    // The computer's network may have come back: when the client had said that it had none and it has one
    // now, every item is checked at once.
    void NetworkChanged();
    // The last wave failed everywhere while the computer had no network, and it has not come back since.
    bool Offline() const { return offline_; }
    void bbConnectClick();
    void bbDisconnectClick();
    void bbRefreshNowClick();
    void bbRebootClick();
    void lvStatusAdvancedCustomDrawItem(TListItemDrawInfo& info);
    void lvStatusPostPaintItem(int index, HDC dc);
    void lvStatusMouseMessage(const MSG& message);
    void lvStatusClick();
    void lvStatusKeyUp(WORD key);
    void lvStatusSelectItem(TListItem item, bool selected);
    void LabelServerAddClick();
    void LabelServerEditClick();
    void LabelServerDeleteClick();
    void LabelSiteAddClick();
    void LabelSiteEditClick();
    void LabelDeleteClick();

    TPageControl pgMain{*this};
    TTabSheet tsCurrentStatus{pgMain, L"Current s&tatus"};
    TTabSheet tsServers{pgMain, L"&Servers"};
    TTabSheet tsSites{pgMain, L"S&ites"};

    TListView lvStatus{tsCurrentStatus, {false, true, true, false, true}};
    TButton bbConnect{tsCurrentStatus, L"&Connect"};
    TButton bbDisconnect{tsCurrentStatus, L"&Disconnect"};
    TButton bbRefreshNow{tsCurrentStatus, L"&Refresh now"};
    TButton bbReboot{tsCurrentStatus, L"&Reboot"};
    TTimer CheckTimer{*this, 10000, true};
    // A burst of callbacks rewrites the tooltip once, when the burst is over or at the latest after this
    // interval, since the tooltip lists every row.
    TTimer TrayTextTimer{*this, 250, false};

    TListView lvServers{tsServers, {true, true, true, true, true}};
    TLinkLabel LabelServerAdd{tsServers, L"&Add"};
    TLinkLabel LabelServerEdit{tsServers, L"&Edit"};
    TLinkLabel LabelServerDelete{tsServers, L"&Delete"};

    TListView lvSites{tsSites, {true, true, true, true, true}};
    TLinkLabel LabelSiteAdd{tsSites, L"&Add"};
    TLinkLabel LabelSiteEdit{tsSites, L"&Edit"};
    TLinkLabel LabelDelete{tsSites, L"&Delete"};

    // The hide-to-tray button's padlock, drawn at the size that the window's DPI asks for; it outlives the button.
    UniqueIcon HideToTrayIcon;
    // Beside the tabs, where the window has no caption-bar button of its own.
    TButton sbHideToTray{*this, L"Hide to tray"};
    // The padlock alone, with a green check mark, with a red stop mark.
    UniqueImageList TrayIconImageList;
    TTrayIcon TrayIcon;

    std::vector<std::shared_ptr<TObject>> StatusObjectList;
    std::vector<std::shared_ptr<TCheckServerSettings>> ServerSettingsList;
    std::vector<std::shared_ptr<TCheckSiteSettings>> SiteSettingsList;
    Microsoft::WRL::ComPtr<IXMLOptions> Store;
    TClock Clock;
    // Given to every status object that a rebuild makes.
    TRetrieveOptions CheckRetrieval;

    // The fonts and sizes after a change of DPI, and the hide-to-tray button fitted to the new tab row.
    void ScaleChanged() override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The tick's checks still to start, a slice a turn of the message loop; dropping them (a new tick, a rebuild).
    void ContinueTick();
    void DropTick();

    void BuildLayout();
    void BuildTray();
    void BuildStatusTip();
    // The tip's text for the row under the mouse.
    void WriteStatusTip();
    void FitHideToTrayButton();
    // The pop-up that announces a new overall state.
    void AnnounceTrayState(const std::wstring& text, int seconds, int kind);
    void ReadStartMode(const std::vector<std::string>& args);
    void ClearStatusRows();
    void WriteStatusRow(TListItem& row, const wchar_t* type, TCheckStatus& status);
    // The tooltip computed from every row, and set when it differs.
    void RefreshTrayText();
    void CheckDone(TStatusRow row, const wchar_t* type);
    // After a reboot order, each check of the server: the short cycle, the Status text while it is down, and
    // the end of the watch (the pop-up's text and kind; empty text while the watch goes on).
    std::pair<std::wstring, int> FollowReboot(const TListItem& row, TCheckStatus& status);
    // A wave whose every check failed to connect, on two hosts or more, while the computer has no network.
    void EndWave(std::vector<TWaveCheck> checks);
    // The history that a new status row of these settings continues (a new one when there is none).
    void AttachHistory(const TObject* data, const wchar_t* type, const std::string& itemName, const std::wstring& url);
    bool CheckRunningOn(const TListItem& row) const;
    void StartAsyncCheck(const std::shared_ptr<TCheckStatus>& status, TCheckStatusCallback callback);

    std::wstring settingsFileName_;
    // Revoked first when the window goes: a check that calls back later finds nobody.
    std::unique_ptr<TCheckCallbackTarget> checkTarget_;
    // The size of HideToTrayIcon; none loaded yet while 0.
    int hideToTrayIconSize_ = 0;
    // What each status row shows, keyed by its status object.
    std::unordered_map<const TObject*, TStatusRowView> rowViews_;
    // The status objects of StatusObjectList by the object that a row carries as its data.
    std::unordered_map<const TObject*, std::shared_ptr<TCheckStatus>> statusOfData_;
    // The histories of the items, by type, element name and URL; the rows' own, by their data.
    std::unordered_map<std::wstring, TCheckHistory> histories_;
    std::unordered_map<const TObject*, TCheckHistory*> historyOfData_;
    TCheckWaves waves_;
    bool offline_ = false;
    std::function<bool()> networkAvailable_;
    std::unique_ptr<TNetworkChangeNotification> networkNotification_;
    // The reboots ordered since the last rebuild, by the rows' data.
    std::unordered_map<const TObject*, TRebootWatch> reboots_;
    HWND statusTip_ = nullptr;
    int tipRow_ = -1;
    // How many rows' last checks failed, kept as rows are written, so that the icon's state costs nothing.
    int failingRows_ = 0;
    // A row changed what the tooltip lists since it was last computed; the refresh is due (the timer runs).
    bool trayTextStale_ = false;
    bool trayTextDue_ = false;
    int trayIndex_ = 0;
    // The picture of TrayIconImageList that the icon shows once its index has changed.
    UniqueIcon trayPicture_;
    HWND hideToTrayTip_ = nullptr;
    bool destroying_ = false;
    // The rows, by their data, that the last tick found due and has not started yet; the next one to start; the
    // tick's number, which a rebuild also moves on; whether the tick started a check.
    std::vector<const TObject*> tickRows_;
    size_t tickNext_ = 0;
    unsigned tickNumber_ = 0;
    bool tickStarted_ = false;
    // Where a rebuild in progress collects the checks it starts once the list is filled.
    std::vector<std::pair<std::shared_ptr<TCheckStatus>, TCheckStatusCallback>>* deferredChecks_ = nullptr;
};

// The program from the application's set-up to the end of its message loop. A failure while the window is
// made is shown in a box captioned with the application title and ends the program before any window
// shows. Answers the exit code.
int RunRemoteClient(TApplication& app, const std::vector<std::string>& args,
                    const std::optional<std::wstring>& settingsFileName = std::nullopt);
