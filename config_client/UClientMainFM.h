// The configuration client's main window: the settings frames with the save and service buttons on one
// page, the stress test on the other.
#pragma once

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "FrameBar.h"
#include "Forms.h"
#include "SkinManager.h"
#include "StdCtrls.h"
#include "UEatMemory.h"
#include "UEatProcessor.h"
#include "UServiceSelfCheck.h"
#include "USettingsFrame.h"
#include "UserRights.h"

#include <memory>
#include <string>

class TApplication;

constexpr const wchar_t* kApplicationTitle = L"Dravex Mendrel";

// The text of the box that shows an error of a window handler: the message, with a full stop appended when
// its last character sorts after ".".
std::wstring HandlerErrorText(const std::wstring& message);
// What the program sets up on its application before any window: the title and the error box of handlers.
void InitializeApplication(TApplication& app);

// What the main window takes from outside. The program passes none of it; tests replace the system's parts.
struct TfmMainOptions {
    // The administrator test and the credential request; null takes the system's, with the program's own
    // credentials dialog as the fallback.
    TUserRightsSystem* UserRights = nullptr;
    // The settings file; empty takes "DravexMendrel.ini" beside the program.
    std::wstring SettingsPath;
    // What the memory stress test may take, and from whom.
    uint64_t MemoryLimit = TMemoryBlocks::kNoLimit;
    TMemoryBlockAllocator* MemoryAllocator = nullptr;
    // How the skin is switched for one window; empty takes SetWindowTheme.
    TSkinManager::TSetWindowTheme SetWindowTheme;
    // How the check after "Save and restart service" looks at the service, and how long it may take; none
    // takes the system's.
    std::optional<TSelfCheckProbes> SelfCheckProbes;
    DWORD SelfCheckBoundMs = kSelfCheckBoundMs;
};

// A page control whose access keys only switch pages: the key of the page already shown goes on to the
// controls on that page, so the "&Settings" page does not swallow the S of its "&Service start" item.
class TMainPageControl : public TPageControl {
public:
    using TPageControl::TPageControl;
    bool HandleMnemonic(wchar_t key) override;
};

class TfmMain : public TForm {
public:
    static constexpr int kItemBehaviour = 0;
    static constexpr int kItemServiceStart = 1;
    static constexpr int kItemMemoryOverflow = 2;
    static constexpr int kItemRemote = 3;

    explicit TfmMain(TApplication& app, TfmMainOptions options = {});
    ~TfmMain() override;

    // Saves every open frame into the image, then writes the file.
    void SaveAllSettings();
    void UpdateServiceButtons();
    void UpdateStressButtons();
    // Stops the service, waiting for it, then starts it again.
    void RestartService();
    // Saves the open frames into the image and judges the settings that cannot work: a refusal is shown, a
    // question asked. True when the file may be written.
    bool ConfirmSettingsToSave();
    // Starts the check that the restarted service runs and answers; its line goes into LabelSelfCheck.
    void StartSelfCheck();
    void SelfCheckDone(const TSelfCheckResult& result);
    void CancelSelfCheck();

    void bbSaveClick();
    void bbSaveAndRestartClick();
    void bbStopStartServiceClick();
    void bbRestartServiceClick();
    void bbEatMemoryClick();
    void bbReleaseMemoryClick();
    void bbEatProcessorClick();
    void bbReleaseProcessorClick();

    void FrameBarItems0CreateFrame(TFrameBar& sender, TWinControl& parent, std::unique_ptr<TWinControl>& frame);
    void FrameBarItems1CreateFrame(TFrameBar& sender, TWinControl& parent, std::unique_ptr<TWinControl>& frame);
    void FrameBarItems2CreateFrame(TFrameBar& sender, TWinControl& parent, std::unique_ptr<TWinControl>& frame);
    void FrameBarItems3CreateFrame(TFrameBar& sender, TWinControl& parent, std::unique_ptr<TWinControl>& frame);
    void FrameBarItems0FrameDestroy(TFrameBar& sender, TWinControl& frame, bool& allowDestroy);
    void FrameBarItems1FrameDestroy(TFrameBar& sender, TWinControl& frame, bool& allowDestroy);
    void FrameBarItems2FrameDestroy(TFrameBar& sender, TWinControl& frame, bool& allowDestroy);
    void FrameBarItems3FrameDestroy(TFrameBar& sender, TWinControl& frame, bool& allowDestroy);

private:
    TfmMainOptions options_;
    TUserRightsSystem systemRights_;

public:
    // The image of the settings file: absent until the administrator check has let the window go on;
    // written only by SaveAllSettings, and freed after the controls without being written.
    std::unique_ptr<TSettingsImage> SettingsFile;

    TPanel PanelMain;
    TMainPageControl pgMain;
    TTabSheet tsSettings;
    TPanel PanelSettings;
    TFrameBar FrameBar;
    // Under the buttons: the outcome of the check after a restart.
    TPanel PanelSelfCheck;
    TLabel LabelSelfCheck;
    TPanel PanelButtons;
    TButton bbSave;
    TButton bbSaveAndRestart;
    TButton bbStopStartService;
    TButton bbRestartService;
    TTabSheet tsTest;
    TPanel sPanel2;
    TButton bbEatMemory;
    TButton bbReleaseMemory;
    TButton bbEatProcessor;
    TButton bbReleaseProcessor;
    TSkinManager SkinManager;

    // The stress test's loads: absent while nothing is consumed.
    std::unique_ptr<TMemoryBlocks> MemoryBlocks;
    std::unique_ptr<TEatProcessorThreadList> ProcessorThreads;

    // The settings file's bytes before the last "Save and restart service" wrote it: what the service ran with.
    std::optional<TKeptSettings> KeptSettings;
    TSelfCheckRunner SelfCheck;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void LayOut();
    void ConnectHandlers();
    void LoadFrame(TWinControl& frame);
    void SaveFrame(TWinControl& frame, bool& allowDestroy);
    void SaveFramesIntoImage();
    int ShowMessage(const std::wstring& text, UINT type);
};
