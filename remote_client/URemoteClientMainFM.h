// The remote monitoring client's main window: the status list, the server and site lists, and the program's
// start.
#pragma once

#include "Application.h"
#include "ComCtrls.h"
#include "CommonOptions.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UCheckSettings.h"

#include <wrl/client.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

inline const wchar_t kRemoteClientTitle[] = L"Mendrel Remote Client";
inline const wchar_t kRemoteClientCaption[] = L"Dravex Mendrel Remote Client";

// The window's own messages; their numbers are part of the program's interface (the tray posts them).
inline constexpr UINT kHideToTrayMessage = WM_USER + 1;
inline constexpr UINT kShowFromTrayMessage = WM_USER + 2;

// Settings.xml in the client's folder below the user's roaming application-data folder.
std::wstring GetSettingsFileName();

class TfmRemoteClientMain : public TForm {
public:
    // The program's window: the process's command line and GetSettingsFileName().
    explicit TfmRemoteClientMain(TApplication& app);
    // args as ParamList gives them (argument 0 the program); settingsFileName the file to load and save.
    TfmRemoteClientMain(TApplication& app, const std::vector<std::string>& args, std::wstring settingsFileName);
    ~TfmRemoteClientMain() override;

    const std::wstring& SettingsFileName() const { return settingsFileName_; }
    void LoadSettings();
    void SaveSettings();
    void HideToTray();
    void ShowFromTray();

    void CheckTimerTimer();
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

    TListView lvServers{tsServers, {true, true, true, true, true}};
    TLinkLabel LabelServerAdd{tsServers, L"&Add"};
    TLinkLabel LabelServerEdit{tsServers, L"&Edit"};
    TLinkLabel LabelServerDelete{tsServers, L"&Delete"};

    TListView lvSites{tsSites, {true, true, true, true, true}};
    TLinkLabel LabelSiteAdd{tsSites, L"&Add"};
    TLinkLabel LabelSiteEdit{tsSites, L"&Edit"};
    TLinkLabel LabelDelete{tsSites, L"&Delete"};

    std::vector<std::shared_ptr<TObject>> StatusObjectList;
    std::vector<std::shared_ptr<TCheckServerSettings>> ServerSettingsList;
    std::vector<std::shared_ptr<TCheckSiteSettings>> SiteSettingsList;
    Microsoft::WRL::ComPtr<IXMLOptions> Store;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void BuildLayout();
    void ReadStartMode(const std::vector<std::string>& args);

    std::wstring settingsFileName_;
};

// The program from the application's set-up to the end of its message loop. A failure while the window is
// made is shown in a box captioned with the application title and ends the program before any window
// shows. Answers the exit code.
int RunRemoteClient(TApplication& app, const std::vector<std::string>& args,
                    const std::optional<std::wstring>& settingsFileName = std::nullopt);
