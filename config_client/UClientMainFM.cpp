#include "UClientMainFM.h"

#include "Application.h"
#include "NTTools.h"
#include "UBehaviourFrame.h"
#include "UEnterCredentialsFM.h"
#include "UMemoryOverflowFrame.h"
#include "URemoteFrame.h"
#include "UServiceStartFrame.h"
#include "USettingsFramePanel.h"

#include <array>

namespace {

const int kSettingsButtonWidth = 121;
const int kSettingsButtonHeight = 44;
const int kSettingsButtonMargin = 10;
const int kStressButtonWidth = 137;
const int kStressButtonHeight = 41;
const int kSelfCheckLineHeight = 20;

// The service waits block the window; the wait cursor says so.
class TWaitCursor {
public:
    TWaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~TWaitCursor() { ::SetCursor(previous_); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// Captions that do not fit on one line of a settings button break onto a second.
void AllowTwoLines(TButton& button)
{
    ::SetWindowLongPtrW(button.Handle(), GWL_STYLE, ::GetWindowLongPtrW(button.Handle(), GWL_STYLE) | BS_MULTILINE);
}

} // namespace

std::wstring HandlerErrorText(const std::wstring& message)
{
    if (!message.empty() && message.back() > L'.')
        return message + L".";
    return message;
}

void InitializeApplication(TApplication& app)
{
    app.SetTitle(kApplicationTitle);
    app.SetExceptionHandler([](TApplication& application, const std::exception_ptr& error) {
        application.ShowMessageBox(HandlerErrorText(TApplication::ExceptionMessage(error)), application.Title(),
                                   MB_OK | MB_ICONERROR);
    });
}

bool TMainPageControl::HandleMnemonic(wchar_t key)
{
    if (TTabSheet* active = ActivePage()) {
        if (MatchesMnemonic(active->Caption(), key))
            return false;
    }
    return TPageControl::HandleMnemonic(key);
}

// ---------------------------------------------------------------------------------------------------------

TfmMain::TfmMain(TApplication& app, TfmMainOptions options)
    : TForm(app),
      options_(std::move(options)),
      systemRights_(&TfmEnterCredentials::ShowCredentialsDialog),
      PanelMain(*this),
      pgMain(PanelMain),
      tsSettings(pgMain, L"&Settings"),
      PanelSettings(tsSettings),
      FrameBar(PanelSettings),
      PanelSelfCheck(static_cast<TWinControl&>(PanelSettings)),
      LabelSelfCheck(PanelSelfCheck),
      PanelButtons(static_cast<TWinControl&>(PanelSettings)),
      bbSave(PanelButtons, L"&Save only"),
      bbSaveAndRestart(PanelButtons, L"Save and &restart service"),
      bbStopStartService(PanelButtons, L"S&top service"),
      bbRestartService(PanelButtons, L"R&estart service"),
      tsTest(pgMain, L"Stress &test"),
      sPanel2(tsTest),
      bbEatMemory(sPanel2, L"Consume &memory"),
      bbReleaseMemory(sPanel2, L"&Release memory"),
      bbEatProcessor(sPanel2, L"&Consume processor"),
      bbReleaseProcessor(sPanel2, L"Re&lease processor"),
      SkinManager(*this, options_.SetWindowTheme),
      SelfCheck(options_.SelfCheckProbes ? *options_.SelfCheckProbes : SystemSelfCheckProbes())
{
    LayOut();
    ConnectHandlers();

    TUserRightsSystem& rights = options_.UserRights ? *options_.UserRights : systemRights_;
    if (!IsAdministrator(rights) && !RequestAdministratorRights(Handle(), rights)) {
        Application().Terminate();
        return;
    }
    SettingsFile =
        std::make_unique<TSettingsImage>(options_.SettingsPath.empty() ? SettingsFilePath() : options_.SettingsPath);
    SkinManager.SetActive(true);
    pgMain.SetActivePageIndex(0);
    FrameBar.OpenItem(kItemBehaviour, false);
    UpdateServiceButtons();
    UpdateStressButtons();
}

// The threads are stopped and the block list dropped before the windows go; any open frame goes with the
// windows unsaved, and the image goes last, unwritten.
TfmMain::~TfmMain()
{
    ProcessorThreads.reset();
    MemoryBlocks.reset();
    DestroyHandle();
}

void TfmMain::LayOut()
{
    SetCaption(kApplicationTitle);
    SetBorderStyle(TBorderStyle::Single);
    SetBorderIcons(biSystemMenu);
    SetAppWindow(true);
    SetFont(L"Tahoma", 13);
    SetClientSize(563, 416);
    SetPosition(TPosition::ScreenCenter);

    PanelMain.SetAlign(TAlign::Client);
    pgMain.SetAlign(TAlign::Client);
    PanelSettings.SetAlign(TAlign::Client);
    PanelButtons.SetBounds(0, 0, 0, 52);
    PanelButtons.SetAlign(TAlign::Bottom);
    FrameBar.SetAlign(TAlign::Client);
    // Made before PanelButtons, so that it lies below them.
    PanelSelfCheck.SetBounds(0, 0, 0, kSelfCheckLineHeight);
    PanelSelfCheck.SetAlign(TAlign::Bottom);
    LabelSelfCheck.SetBounds(kSettingsButtonMargin, 0, 563 - 2 * kSettingsButtonMargin, kSelfCheckLineHeight - 4);
    FrameBar.AddItem(L"&Behaviour");
    FrameBar.AddItem(L"&Service start");
    FrameBar.AddItem(L"Memory &overflow");
    FrameBar.AddItem(L"&Remote control");

    int left = kSettingsButtonMargin;
    for (TButton* button : {&bbSave, &bbSaveAndRestart, &bbStopStartService, &bbRestartService}) {
        button->SetBounds(left, (52 - kSettingsButtonHeight) / 2, kSettingsButtonWidth, kSettingsButtonHeight);
        AllowTwoLines(*button);
        left += kSettingsButtonWidth + kSettingsButtonMargin;
    }

    sPanel2.SetAlign(TAlign::Client);
    bbEatMemory.SetBounds(24, 24, kStressButtonWidth, kStressButtonHeight);
    bbReleaseMemory.SetBounds(200, 24, kStressButtonWidth, kStressButtonHeight);
    bbEatProcessor.SetBounds(24, 112, kStressButtonWidth, kStressButtonHeight);
    bbReleaseProcessor.SetBounds(200, 112, kStressButtonWidth, kStressButtonHeight);
}

void TfmMain::ConnectHandlers()
{
    bbSave.OnClick = [this] { bbSaveClick(); };
    bbSaveAndRestart.OnClick = [this] { bbSaveAndRestartClick(); };
    bbStopStartService.OnClick = [this] { bbStopStartServiceClick(); };
    bbRestartService.OnClick = [this] { bbRestartServiceClick(); };
    bbEatMemory.OnClick = [this] { bbEatMemoryClick(); };
    bbReleaseMemory.OnClick = [this] { bbReleaseMemoryClick(); };
    bbEatProcessor.OnClick = [this] { bbEatProcessorClick(); };
    bbReleaseProcessor.OnClick = [this] { bbReleaseProcessorClick(); };

    using namespace std::placeholders;
    FrameBar.Item(kItemBehaviour).OnCreateFrame = std::bind(&TfmMain::FrameBarItems0CreateFrame, this, _1, _2, _3);
    FrameBar.Item(kItemServiceStart).OnCreateFrame = std::bind(&TfmMain::FrameBarItems1CreateFrame, this, _1, _2, _3);
    FrameBar.Item(kItemMemoryOverflow).OnCreateFrame = std::bind(&TfmMain::FrameBarItems2CreateFrame, this, _1, _2, _3);
    FrameBar.Item(kItemRemote).OnCreateFrame = std::bind(&TfmMain::FrameBarItems3CreateFrame, this, _1, _2, _3);
    FrameBar.Item(kItemBehaviour).OnFrameDestroy = std::bind(&TfmMain::FrameBarItems0FrameDestroy, this, _1, _2, _3);
    FrameBar.Item(kItemServiceStart).OnFrameDestroy = std::bind(&TfmMain::FrameBarItems1FrameDestroy, this, _1, _2, _3);
    FrameBar.Item(kItemMemoryOverflow).OnFrameDestroy =
        std::bind(&TfmMain::FrameBarItems2FrameDestroy, this, _1, _2, _3);
    FrameBar.Item(kItemRemote).OnFrameDestroy = std::bind(&TfmMain::FrameBarItems3FrameDestroy, this, _1, _2, _3);
}

void TfmMain::SaveAllSettings()
{
    std::array<ISettingsFrame*, 4> frames{};
    for (int i = 0; i < FrameBar.ItemCount() && i < static_cast<int>(frames.size()); ++i) {
        if (TWinControl* frame = FrameBar.Item(i).Frame())
            frames[static_cast<size_t>(i)] = &SettingsFrameOf(*frame);
    }
    ::SaveAllSettings(*SettingsFile, frames);
}

void TfmMain::UpdateServiceButtons()
{
    TServiceButtons buttons = QueryServiceButtons();
    bbSaveAndRestart.SetEnabled(buttons.SaveAndRestartEnabled);
    bbStopStartService.SetEnabled(buttons.StopStartEnabled);
    if (buttons.StopStartCaption)
        bbStopStartService.SetCaption(*buttons.StopStartCaption);
    bbRestartService.SetEnabled(buttons.RestartEnabled);
}

// A button that is disabled while it has the focus hands the focus to its partner, so that the keyboard keeps
// working on the page. Every button that is to be enabled is enabled first: a disabled partner cannot take the
// focus, which would then be lost.
void TfmMain::UpdateStressButtons()
{
    TStressButtons buttons = StressButtonsFor(MemoryBlocks != nullptr, ProcessorThreads != nullptr);
    struct TPair {
        TButton& button;
        bool enabled;
        TButton& partner;
    };
    const TPair pairs[] = {{bbReleaseMemory, buttons.ReleaseMemoryEnabled, bbEatMemory},
                           {bbEatMemory, buttons.EatMemoryEnabled, bbReleaseMemory},
                           {bbReleaseProcessor, buttons.ReleaseProcessorEnabled, bbEatProcessor},
                           {bbEatProcessor, buttons.EatProcessorEnabled, bbReleaseProcessor}};
    for (const TPair& pair : pairs) {
        if (pair.enabled)
            pair.button.SetEnabled(true);
    }
    for (const TPair& pair : pairs) {
        if (pair.enabled)
            continue;
        if (pair.button.Focused() && pair.partner.Enabled())
            pair.partner.SetFocus();
        pair.button.SetEnabled(false);
    }
}

void TfmMain::RestartService()
{
    TWaitCursor wait;
    ::RestartService();
}

int TfmMain::ShowMessage(const std::wstring& text, UINT type)
{
    return Application().ShowMessageBox(text, kApplicationTitle, type);
}

void TfmMain::SaveFramesIntoImage()
{
    for (int i = 0; i < FrameBar.ItemCount(); ++i) {
        if (TWinControl* frame = FrameBar.Item(i).Frame())
            SettingsFrameOf(*frame).SaveSettings(*SettingsFile);
    }
}

// Relative file names of the settings are the service's, taken from its folder, which is the settings file's.
bool TfmMain::ConfirmSettingsToSave()
{
    SaveFramesIntoImage();
    const std::wstring& path = SettingsFile->FileName();
    TSettingsProblems problems = FindSettingsProblems(*SettingsFile, path.substr(0, path.find_last_of(L"\\/") + 1));
    if (!problems.Refusal.empty()) {
        ShowMessage(problems.Refusal, MB_OK | MB_ICONERROR);
        return false;
    }
    return problems.Question.empty() || ShowMessage(problems.Question, MB_YESNO | MB_ICONWARNING) == IDYES;
}

void TfmMain::StartSelfCheck()
{
    LabelSelfCheck.SetCaption(L"Checking the service...");
    SelfCheck.Start(
        Handle(), SelfCheckTargetFrom(*SettingsFile), [this](const TSelfCheckResult& result) { SelfCheckDone(result); },
        options_.SelfCheckBoundMs);
}

// The question comes only when the previous bytes were kept; putting them back takes the image and the open
// frame back to them too, so that a later save does not write the failed settings again.
void TfmMain::SelfCheckDone(const TSelfCheckResult& result)
{
    LabelSelfCheck.SetCaption(SelfCheckLine(result));
    if (!SelfCheckFailed(result) || !KeptSettings)
        return;
    if (ShowMessage(L"Restore the settings that the service ran with before, and restart it?",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const std::wstring path = SettingsFile->FileName();
    RestoreSettingsFile(path, *KeptSettings);
    SettingsFile = std::make_unique<TSettingsImage>(path);
    for (int i = 0; i < FrameBar.ItemCount(); ++i) {
        if (TWinControl* frame = FrameBar.Item(i).Frame())
            SettingsFrameOf(*frame).LoadSettings(*SettingsFile);
    }
    RestartService();
    UpdateServiceButtons();
    StartSelfCheck();
}

LRESULT TfmMain::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TSelfCheckRunner::kMessage) {
        SelfCheck.Deliver(lParam);
        return 0;
    }
    return TForm::WindowProc(message, wParam, lParam);
}

// Another command makes the check's outcome meaningless; its line goes with it.
void TfmMain::CancelSelfCheck()
{
    if (!SelfCheck.Running())
        return;
    SelfCheck.Cancel();
    LabelSelfCheck.SetCaption(L"");
}

void TfmMain::bbSaveClick()
{
    CancelSelfCheck();
    if (!ConfirmSettingsToSave())
        return;
    SaveAllSettings();
    UpdateServiceButtons();
}

// The previous bytes are kept before the file is written; the check runs after the restart and the buttons'
// update, on a thread of its own, while the window goes on answering.
void TfmMain::bbSaveAndRestartClick()
{
    CancelSelfCheck();
    LabelSelfCheck.SetCaption(L"");
    if (!ConfirmSettingsToSave())
        return;
    KeptSettings = KeepSettingsFile(SettingsFile->FileName());
    SaveAllSettings();
    RestartService();
    UpdateServiceButtons();
    StartSelfCheck();
}

void TfmMain::bbStopStartServiceClick()
{
    CancelSelfCheck();
    {
        TWaitCursor wait;
        StopOrStartService();
    }
    UpdateServiceButtons();
}

// A button named "R&estart service" restarts the service, as its name promises; the settings are not saved.
void TfmMain::bbRestartServiceClick()
{
    CancelSelfCheck();
    RestartService();
    UpdateServiceButtons();
}

void TfmMain::bbEatMemoryClick()
{
    MemoryBlocks.reset();
    MemoryBlocks = std::make_unique<TMemoryBlocks>(options_.MemoryLimit, options_.MemoryAllocator);
    UpdateStressButtons();
    TWaitCursor wait;
    MemoryBlocks->Consume(EnableLockMemoryPrivilege());
}

void TfmMain::bbReleaseMemoryClick()
{
    if (MemoryBlocks)
        MemoryBlocks->Release();
    MemoryBlocks.reset();
    UpdateStressButtons();
}

void TfmMain::bbEatProcessorClick()
{
    ProcessorThreads.reset();
    ProcessorThreads = std::make_unique<TEatProcessorThreadList>();
    UpdateStressButtons();
    SkinManager.SetActive(false);
    bbReleaseProcessor.SetFocus();
    ProcessorThreads->Start();
}

void TfmMain::bbReleaseProcessorClick()
{
    if (ProcessorThreads)
        ProcessorThreads->TerminateAll();
    ProcessorThreads.reset();
    SkinManager.SetActive(true);
    UpdateStressButtons();
}

void TfmMain::LoadFrame(TWinControl& frame)
{
    Assert(SettingsFile != nullptr, "The settings image exists", "UClientMainFM", __LINE__);
    // A frame made while the skin is off is drawn like the rest of the window.
    SkinManager.Apply(frame.Handle());
    SettingsFrameOf(frame).LoadSettings(*SettingsFile);
}

void TfmMain::SaveFrame(TWinControl& frame, bool& allowDestroy)
{
    Assert(SettingsFile != nullptr, "The settings image exists", "UClientMainFM", __LINE__);
    SettingsFrameOf(frame).SaveSettings(*SettingsFile);
    allowDestroy = true;
}

void TfmMain::FrameBarItems0CreateFrame(TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame)
{
    frame = std::make_unique<TFrBehaviour>(parent);
    LoadFrame(*frame);
}

void TfmMain::FrameBarItems1CreateFrame(TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame)
{
    frame = std::make_unique<TFrServiceStart>(parent);
    LoadFrame(*frame);
}

void TfmMain::FrameBarItems2CreateFrame(TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame)
{
    frame = std::make_unique<TFrMemoryOverflow>(parent);
    LoadFrame(*frame);
}

void TfmMain::FrameBarItems3CreateFrame(TFrameBar&, TWinControl& parent, std::unique_ptr<TWinControl>& frame)
{
    frame = std::make_unique<TFrRemote>(parent);
    LoadFrame(*frame);
}

void TfmMain::FrameBarItems0FrameDestroy(TFrameBar&, TWinControl& frame, bool& allowDestroy)
{
    SaveFrame(frame, allowDestroy);
}

void TfmMain::FrameBarItems1FrameDestroy(TFrameBar&, TWinControl& frame, bool& allowDestroy)
{
    SaveFrame(frame, allowDestroy);
}

void TfmMain::FrameBarItems2FrameDestroy(TFrameBar&, TWinControl& frame, bool& allowDestroy)
{
    SaveFrame(frame, allowDestroy);
}

void TfmMain::FrameBarItems3FrameDestroy(TFrameBar&, TWinControl& frame, bool& allowDestroy)
{
    SaveFrame(frame, allowDestroy);
}
