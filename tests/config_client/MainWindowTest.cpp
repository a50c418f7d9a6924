// The main window: its geometry, pages and buttons, the frame bar's items and what reaches the settings file,
// the administrator check at construction, access keys, and the error box of a handler.
#include "MainWindowSupport.h"

#include "NTTools.h"
#include "UBehaviourFrame.h"
#include "UEnterCredentialsFM.h"
#include "UMemoryOverflowFrame.h"
#include "URemoteFrame.h"
#include "UServiceStartFrame.h"
#include "USettingsFrame.h"

#include "Strings.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

LOGFONTW FontOf(HWND window)
{
    LOGFONTW info{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)), sizeof info, &info);
    return info;
}

std::wstring Checked(const TCheckBox& box) { return box.Checked() ? L"checked" : L"unchecked"; }

TEST_F(MainWindowTest, GeometryPagesAndButtons)
{
    TfmMain& main = Open();
    HWND window = main.Handle();
    EXPECT_EQ(gui::Text(window), L"Dravex Mendrel");
    EXPECT_EQ(app.Title(), L"Dravex Mendrel");
    SIZE client = gui::ClientSize(window);
    EXPECT_EQ(client.cx, 563);
    EXPECT_EQ(client.cy, 416);
    // A thin fixed border with only the system menu, and a taskbar button of its own.
    EXPECT_TRUE(gui::HasStyle(window, WS_BORDER | WS_SYSMENU));
    EXPECT_FALSE(gui::HasStyle(window, WS_THICKFRAME));
    EXPECT_FALSE(gui::HasStyle(window, WS_MINIMIZEBOX));
    EXPECT_FALSE(gui::HasStyle(window, WS_MAXIMIZEBOX));
    EXPECT_TRUE(gui::HasExStyle(window, WS_EX_APPWINDOW));
    RECT outer{}, work{};
    ::GetWindowRect(window, &outer);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((outer.left + outer.right) / 2 - (work.left + work.right) / 2), 1);
    EXPECT_LE(std::abs((outer.top + outer.bottom) / 2 - (work.top + work.bottom) / 2), 1);
    LOGFONTW font = FontOf(main.bbSave.Handle());
    EXPECT_STREQ(font.lfFaceName, L"Tahoma");
    EXPECT_EQ(font.lfHeight, -13);

    HWND tabs = main.pgMain.TabHandle();
    ASSERT_EQ(gui::TabCount(tabs), 2);
    EXPECT_EQ(gui::TabCaption(tabs, 0), L"&Settings");
    EXPECT_EQ(gui::TabCaption(tabs, 1), L"Stress &test");
    EXPECT_EQ(gui::CurrentTab(tabs), 0);

    const wchar_t* items[] = {L"&Behaviour", L"&Service start", L"Memory &overflow", L"&Remote control"};
    ASSERT_EQ(main.FrameBar.ItemCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(gui::Text(main.FrameBar.Item(i).TitleHandle()), items[i]);
    // At start the first item is open, and only its frame exists.
    EXPECT_EQ(main.FrameBar.OpenIndex(), TfmMain::kItemBehaviour);
    EXPECT_NE(dynamic_cast<TFrBehaviour*>(main.FrameBar.Item(0).Frame()), nullptr);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(main.FrameBar.Item(i).Frame(), nullptr);

    EXPECT_EQ(gui::ClientSize(main.PanelButtons.Handle()).cy, 52);
    struct Place {
        const TButton& button;
        const wchar_t* caption;
        int left, top, width, height;
    };
    const Place places[] = {
        {main.bbSave, L"&Save only", 10, 4, 121, 44},
        {main.bbSaveAndRestart, L"Save and &restart service", 141, 4, 121, 44},
        {main.bbStopStartService, L"S&top service", 272, 4, 121, 44},
        {main.bbRestartService, L"R&estart service", 403, 4, 121, 44},
        {main.bbEatMemory, L"Consume &memory", 24, 24, 137, 41},
        {main.bbReleaseMemory, L"&Release memory", 200, 24, 137, 41},
        {main.bbEatProcessor, L"&Consume processor", 24, 112, 137, 41},
        {main.bbReleaseProcessor, L"Re&lease processor", 200, 112, 137, 41},
    };
    for (const auto& p : places) {
        RECT rect = gui::RectInParent(p.button.Handle());
        EXPECT_EQ(gui::Text(p.button.Handle()), p.caption);
        EXPECT_EQ(rect.left, p.left) << WideToAnsi(p.caption);
        EXPECT_EQ(rect.top, p.top) << WideToAnsi(p.caption);
        EXPECT_EQ(rect.right - rect.left, p.width) << WideToAnsi(p.caption);
        EXPECT_EQ(rect.bottom - rect.top, p.height) << WideToAnsi(p.caption);
    }
    EXPECT_TRUE(gui::IsEnabled(main.bbSave.Handle()));
    EXPECT_TRUE(gui::IsEnabled(main.bbEatMemory.Handle()));
    EXPECT_TRUE(gui::IsEnabled(main.bbEatProcessor.Handle()));
    EXPECT_FALSE(gui::IsEnabled(main.bbReleaseMemory.Handle()));
    EXPECT_FALSE(gui::IsEnabled(main.bbReleaseProcessor.Handle()));
    EXPECT_EQ(main.MemoryBlocks, nullptr);
    EXPECT_EQ(main.ProcessorThreads, nullptr);
    EXPECT_TRUE(main.SkinManager.Active());
}

TEST_F(MainWindowTest, EditsSurviveSwitchingItemsAndReachTheFileOnlyWhenSaved)
{
    WriteIni("[Extra]\r\nUnknown=1\r\n");
    TfmMain& main = Open();
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    Type(OpenFrame<TFrMemoryOverflow>(2).editBytesToCheck.Handle(), L"5");
    Type(OpenFrame<TFrServiceStart>(1).editInitialAllocate.Handle(), L"65536");
    TFrRemote& remote = OpenFrame<TFrRemote>(3);
    Type(remote.editPort.Handle(), L"8080");
    Type(remote.EditUserName.Handle(), L"operator");
    Type(remote.EditPassword.Handle(), L"s3cret");

    EXPECT_EQ(Checked(OpenFrame<TFrBehaviour>(0).cbDisableShutdown), L"checked");
    EXPECT_EQ(gui::Text(OpenFrame<TFrMemoryOverflow>(2).editBytesToCheck.Handle()), L"5");
    EXPECT_EQ(gui::Text(OpenFrame<TFrServiceStart>(1).editInitialAllocate.Handle()), L"65536");
    EXPECT_EQ(gui::Text(OpenFrame<TFrRemote>(3).EditUserName.Handle()), L"operator");
    EXPECT_EQ(ReadIni(), "[Extra]\r\nUnknown=1\r\n"); // switching writes nothing to disk

    session.Click(main.bbSave.Handle());
    EXPECT_TRUE(session.ShownBoxes().empty());
    TSettingsImage saved(IniPath());
    EXPECT_EQ(saved.SectionNames(), (std::vector<std::string>{"Extra", "Behaviour", "Memory", "Remote"}));
    EXPECT_EQ(saved.ReadString("Extra", "Unknown", ""), "1");
    EXPECT_TRUE(saved.ReadBool("Behaviour", "DisableShutdown", false));
    EXPECT_EQ(saved.ReadInteger("Memory", "CheckBytes", 0), 5);
    EXPECT_EQ(saved.ReadInteger("Memory", "InitialReserveBytes", 0), 65536);
    EXPECT_EQ(saved.ReadInteger("Memory", "CheckIntervalMSec", 0), 30000);
    EXPECT_EQ(saved.ReadInteger("Remote", "Port", 0), 8080);
    EXPECT_EQ(saved.ReadString("Remote", "Login", ""), "operator");
    EXPECT_EQ(saved.ReadString("Remote", "Password", ""), "s3cret");
    EXPECT_EQ(saved.ReadString("Remote", "PagesFolder", ""), "pages\\");
}

TEST_F(MainWindowTest, SaveRightAfterStartWritesOnlyTheBehaviourSection)
{
    struct Case {
        const char* what;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"no file", nullptr, "[Behaviour]\r\nDisableShutdown=False\r\n\r\n"},
        {"a file of other sections", "[memory]\r\ncheckbytes = 5\r\n[Extra]\r\nUnknown=1\r\n",
         "[memory]\r\ncheckbytes=5\r\n\r\n[Extra]\r\nUnknown=1\r\n\r\n[Behaviour]\r\nDisableShutdown=False\r\n\r\n"},
        {"a flag in another form", "[behaviour]\r\ndisableshutdown = 1\r\n",
         "[behaviour]\r\nDisableShutdown=False\r\n\r\n"},
    };
    for (const auto& c : cases) {
        ::DeleteFileW(IniPath().c_str());
        if (c.before)
            WriteIni(c.before);
        TfmMain& main = Open();
        session.Click(main.bbSave.Handle());
        EXPECT_EQ(ReadIni(), c.after) << c.what;
        form.reset();
    }
}

TEST_F(MainWindowTest, ClosingWithoutSavingLeavesTheFileAsItWas)
{
    const std::string before = "[Behaviour]\r\nDisableShutdown=True\r\n; a comment\r\n";
    WriteIni(before);
    TfmMain& main = Open();
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    Type(OpenFrame<TFrMemoryOverflow>(2).editBytesToCheck.Handle(), L"7");
    main.Close();
    EXPECT_TRUE(app.Terminated());
    form.reset();
    EXPECT_EQ(ReadIni(), before);

    ::DeleteFileW(IniPath().c_str());
    Open();
    form.reset();
    EXPECT_FALSE(TTestFolder::Exists(IniPath())); // nothing is created before the first save
}

// What each frame shows for a file, and what the file holds after the frame has been opened and saved.
TEST_F(MainWindowTest, FramesShowTheFilesValuesAndSaveThemAsShown)
{
    using Read = std::function<std::wstring(TfmMain&)>;
    auto bytesToCheck = [this](TfmMain&) {
        return gui::Text(OpenFrame<TFrMemoryOverflow>(2).editBytesToCheck.Handle());
    };
    auto interval = [this](TfmMain&) {
        return gui::Text(OpenFrame<TFrMemoryOverflow>(2).editCheckIntervalMSec.Handle());
    };
    auto reserve = [this](TfmMain&) { return gui::Text(OpenFrame<TFrServiceStart>(1).editInitialAllocate.Handle()); };
    auto useSSL = [this](TfmMain&) { return Checked(OpenFrame<TFrRemote>(3).cbUseSSL); };
    auto pages = [this](TfmMain&) { return gui::Text(OpenFrame<TFrRemote>(3).editPagesFolder.Handle()); };
    auto shutdown = [this](TfmMain&) { return Checked(OpenFrame<TFrBehaviour>(0).cbDisableShutdown); };
    struct Case {
        const char* file;
        Read read;
        const wchar_t* shown;
        const char* section;
        const char* savedLine; // the key's line after the save, as the section lists it
    };
    const Case cases[] = {
        {"[memory]\r\ncheckbytes = 5\r\n", bytesToCheck, L"5", "memory", "CheckBytes=5"},
        {"[Memory]\r\nCheckIntervalMSec=0x3E8\r\n", interval, L"1000", "Memory", "CheckIntervalMSec=1000"},
        {"[Memory]\r\nCheckBytes=abc\r\n", bytesToCheck, L"1024000", "Memory", "CheckBytes=1024000"},
        {"[Memory]\r\nInitialReserveBytes=4294967296\r\n", reserve, L"10240000", "Memory",
         "InitialReserveBytes=10240000"},
        {"[Memory]\r\nCheckBytes=2100000000\r\n", bytesToCheck, L"2000000000", "Memory", "CheckBytes=2000000000"},
        {"[Remote]\r\nUseSSL=\r\n", useSSL, L"unchecked", "Remote", "UseSSL=False"},
        {"[Remote]\r\nPort=1\r\n", useSSL, L"checked", "Remote", "UseSSL=True"},
        {"[Remote]\r\nPagesFolder=\r\n", pages, L"", "Remote", "PagesFolder="},
        {"[Remote]\r\nPort=1\r\n", pages, L"pages\\", "Remote", "PagesFolder=pages\\"},
        {"[Behaviour]\r\nDisableShutdown=1\r\n", shutdown, L"unchecked", "Behaviour", "DisableShutdown=False"},
        {"[Behaviour]\r\nDisableShutdown=tRUE\r\n", shutdown, L"checked", "Behaviour", "DisableShutdown=True"},
    };
    for (const auto& c : cases) {
        WriteIni(c.file);
        TfmMain& main = Open();
        EXPECT_EQ(c.read(main), c.shown) << c.file;
        session.Click(main.bbSave.Handle());
        std::vector<std::string> lines = TSettingsImage(IniPath()).SectionLines(c.section);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.savedLine), lines.end()) << c.file << " " << c.savedLine;
        form.reset();
    }
}

TEST_F(MainWindowTest, EmptyFileShowsTheDefaultsAndRemembersTheGeneratedAccount)
{
    TfmMain& main = Open();
    EXPECT_EQ(Checked(OpenFrame<TFrBehaviour>(0).cbDisableShutdown), L"unchecked");
    EXPECT_EQ(gui::Text(OpenFrame<TFrServiceStart>(1).editInitialAllocate.Handle()), L"10240000");
    TFrMemoryOverflow& memory = OpenFrame<TFrMemoryOverflow>(2);
    EXPECT_EQ(Checked(memory.cbRebootOnMemoryOverflow), L"unchecked");
    EXPECT_EQ(gui::Text(memory.editBytesToCheck.Handle()), L"1024000");
    EXPECT_EQ(gui::Text(memory.editCheckIntervalMSec.Handle()), L"30000");
    TFrRemote& remote = OpenFrame<TFrRemote>(3);
    EXPECT_EQ(Checked(remote.cbEnableRemoteControl), L"unchecked");
    EXPECT_EQ(gui::Text(remote.editPort.Handle()), L"3745");
    EXPECT_EQ(gui::Text(remote.editRootCertFile.Handle()), L"cert.pem");
    EXPECT_EQ(gui::Text(remote.editCertFile.Handle()), L"ssllocalhost.cer");
    EXPECT_EQ(gui::Text(remote.editKeyFile.Handle()), L"ssllocalhost.key");
    std::wstring login = gui::Text(remote.EditUserName.Handle());
    std::wstring password = gui::Text(remote.EditPassword.Handle());
    EXPECT_GE(login.size(), 8u);
    EXPECT_GE(password.size(), 8u);

    // Saved, the generated account is what the file holds and what the frame shows next time.
    session.Click(main.bbSave.Handle());
    form.reset();
    Open();
    TFrRemote& again = OpenFrame<TFrRemote>(3);
    EXPECT_EQ(gui::Text(again.EditUserName.Handle()), login);
    EXPECT_EQ(gui::Text(again.EditPassword.Handle()), password);
}

TEST_F(MainWindowTest, HandlerErrorBoxText)
{
    struct Case {
        const wchar_t* message;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {L"Cannot create file", L"Cannot create file."},
        {L"Already a sentence.", L"Already a sentence."},
        {L"Ends with a bracket)", L"Ends with a bracket)"}, // ')' sorts before '.'
        {L"Ends with a dash -", L"Ends with a dash -"},
        {L"Ends with a slash /", L"Ends with a slash /."}, // '/' sorts after '.'
        {L"Code 5", L"Code 5."},
        {L"Fehler \u00FC", L"Fehler \u00FC."},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HandlerErrorText(c.message), c.shown) << WideToAnsi(c.message);
}

TEST_F(MainWindowTest, FailedSaveIsShownInTheProgramsErrorBoxAndTheWindowStays)
{
    struct Box {
        std::wstring text, caption;
        UINT type;
    };
    std::vector<Box> boxes;
    TfmMainOptions options;
    options.SettingsPath = folder.File(L"missing\\DravexMendrel.ini");
    TfmMain& main = Open(options);
    app.SetMessageBoxHook([&](HWND, const std::wstring& text, const std::wstring& caption, UINT type) {
        boxes.push_back({text, caption, type});
        return IDOK;
    });
    session.Click(OpenFrame<TFrBehaviour>(0).cbDisableShutdown.Handle());
    session.Click(main.bbSave.Handle());

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Dravex Mendrel");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    try {
        main.SettingsFile->UpdateFile();
        FAIL() << "the save did not fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(boxes[0].text, HandlerErrorText(e.WideMessage()));
        EXPECT_EQ(boxes[0].text.substr(0, 20), L"Cannot create file \"");
        EXPECT_EQ(boxes[0].text.back(), L'.');
    }
    // The window is still there, and the image kept the value for a later save.
    EXPECT_TRUE(::IsWindowVisible(main.Handle()));
    EXPECT_TRUE(main.SettingsFile->ReadBool("Behaviour", "DisableShutdown", false));
}

TEST_F(MainWindowTest, UnreadableSettingsFileEndsTheConstruction)
{
    ::CreateDirectoryW(IniPath().c_str(), nullptr); // a folder where the file belongs cannot be read
    EXPECT_THROW(Open(), EFOpenError);
    EXPECT_EQ(form, nullptr);
}

// The system as the administrator check sees it: not an administrator, with a prompt that the test answers.
class TUserAccount : public TUserRightsSystem {
public:
    explicit TUserAccount(bool hasPrompt)
        : TUserRightsSystem(&TfmEnterCredentials::ShowCredentialsDialog), hasPrompt_(hasPrompt)
    {
    }
    bool IsNTPlatform() override { return true; }
    bool IsUserAnAdmin() override { return false; }
    bool HasCredentialPrompt() override { return hasPrompt_; }
    DWORD PromptForCredentials(CREDUI_INFOA&, const char*, char*, ULONG, char*, ULONG, DWORD) override
    {
        ++prompts;
        return ERROR_CANCELLED;
    }
    bool LogonAndImpersonate(const std::string& account, const char* domain, const std::string& password) override
    {
        logons.push_back(account + "@" + (domain ? domain : "") + ":" + password);
        return true;
    }
    int prompts = 0;
    std::vector<std::string> logons;

private:
    bool hasPrompt_;
};

TEST_F(MainWindowTest, CancelledCredentialPromptEndsTheProgramBeforeAnythingIsLoaded)
{
    WriteIni("[Behaviour]\r\nDisableShutdown=True\r\n");
    TUserAccount user(true);
    TfmMainOptions options;
    options.UserRights = &user;
    form = std::make_unique<TfmMain>(app, options);
    EXPECT_EQ(user.prompts, 1);
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(form->SettingsFile, nullptr);
    EXPECT_EQ(form->FrameBar.OpenIndex(), -1);
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    form.reset();
    EXPECT_EQ(ReadIni(), "[Behaviour]\r\nDisableShutdown=True\r\n");
}

TEST_F(MainWindowTest, WithoutTheSystemPromptTheProgramsOwnDialogLogsOn)
{
    TUserAccount user(false);
    const std::string computer = WideToAnsi(GetLocalComputerName());
    std::wstring domainShown;
    bool domainReadOnly = false;
    session.WhenWindowAppears(
        [] { return gui::FindTopLevel(nullptr, L"Administrative priveleges required", ::GetCurrentProcessId()); },
        [&](HWND window) {
            auto* dialog = dynamic_cast<TfmEnterCredentials*>(TWinControl::ControlFromHandle(window));
            if (!dialog)
                throw std::runtime_error("not the credentials dialog");
            domainShown = gui::Text(dialog->EditDomain.Handle());
            domainReadOnly = gui::HasStyle(dialog->EditDomain.Handle(), ES_READONLY);
            dialog->EditUserName.SetText(L"admin");
            dialog->EditPassword.SetText(L"pw");
            session.Click(dialog->bbOk.Handle());
        });
    TfmMainOptions options;
    options.UserRights = &user;
    options.SettingsPath = IniPath();
    form = std::make_unique<TfmMain>(app, options);
    EXPECT_TRUE(session.WatchersDone());
    EXPECT_TRUE(session.WatcherFailures().empty());
    EXPECT_EQ(user.prompts, 0);
    EXPECT_EQ(domainShown, AnsiToWide(computer));
    EXPECT_TRUE(domainReadOnly);
    EXPECT_EQ(user.logons, (std::vector<std::string>{"admin@" + computer + ":pw"}));
    EXPECT_FALSE(app.Terminated());
    EXPECT_NE(form->SettingsFile, nullptr);
    EXPECT_EQ(form->FrameBar.OpenIndex(), 0);
}

TEST_F(MainWindowTest, AccessKeysOfTheItemsAndPages)
{
    TfmMain& main = Open();
    main.FrameBar.SetAnimated(false);
    ::SetFocus(main.FrameBar.Item(0).TitleHandle());
    struct Case {
        WORD key;
        int page;
        int item;
    };
    const Case cases[] = {
        {'O', 0, TfmMain::kItemMemoryOverflow}, {'R', 0, TfmMain::kItemRemote},
        {'S', 0, TfmMain::kItemServiceStart}, // the page already shown lets its item have the key
        {'B', 0, TfmMain::kItemBehaviour},      {'T', 1, TfmMain::kItemBehaviour},
        {'S', 0, TfmMain::kItemBehaviour}, // from the other page, the key shows the settings page
    };
    for (const auto& c : cases) {
        session.PressKey(c.key, gui::kAlt);
        EXPECT_EQ(main.pgMain.ActivePageIndex(), c.page) << static_cast<char>(c.key);
        EXPECT_EQ(main.FrameBar.OpenIndex(), c.item) << static_cast<char>(c.key);
    }
}

} // namespace
