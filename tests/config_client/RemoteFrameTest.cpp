// The remote-control frame's own commands: the generators, the file and folder pickers, the browser links,
// and the order in which the keyboard walks its fields.
#include "MainWindowSupport.h"

#include "URemoteFrame.h"
#include "URemoteSettings.h"

#include "Strings.h"

#include <set>
#include <string>
#include <vector>

namespace {

class RemoteFrameTest : public MainWindowTest {
protected:
    TFrRemote& Frame()
    {
        if (!form)
            Open();
        return OpenFrame<TFrRemote>(TfmMain::kItemRemote);
    }
};

// Pickers that hand back what the test chose, and remember where each pick started.
class TChosenFile : public TOpenDialog {
public:
    std::vector<std::wstring> answers; // empty text: the user cancels
    std::vector<std::wstring> startedFrom;
    bool Execute(HWND) override
    {
        startedFrom.push_back(FileName);
        std::wstring answer = answers.empty() ? std::wstring() : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        if (answer.empty())
            return false;
        FileName = answer;
        return true;
    }
};

class TChosenFolder : public TPathDialog {
public:
    std::wstring answer;
    std::vector<std::wstring> startedFrom;
    bool Execute(HWND) override
    {
        startedFrom.push_back(Path);
        if (answer.empty())
            return false;
        Path = answer;
        return true;
    }
};

TEST_F(RemoteFrameTest, GenerateButtonsReplaceTheFieldsFromTheirAlphabets)
{
    TFrRemote& frame = Frame();
    struct Case {
        HWND button;
        HWND field;
        std::wstring_view alphabet;
    };
    const Case cases[] = {
        {frame.bbGenerateUserName.Handle(), frame.EditUserName.Handle(), kUserNameAlphabet},
        {frame.bbGeneratePassword.Handle(), frame.EditPassword.Handle(), kPasswordAlphabet},
    };
    for (const auto& c : cases) {
        std::set<std::wstring> seen{gui::Text(c.field)};
        for (int i = 0; i < 5; ++i) {
            session.Click(c.button);
            std::wstring value = gui::Text(c.field);
            EXPECT_GE(value.size(), 8u);
            EXPECT_LE(value.size(), 11u);
            EXPECT_EQ(value.find_first_not_of(c.alphabet), std::wstring::npos) << WideToAnsi(value);
            seen.insert(value);
        }
        EXPECT_GE(seen.size(), 5u); // every click gives a new value
    }
    // The user name never holds punctuation; the password is shown in the clear.
    EXPECT_EQ(gui::Text(frame.EditUserName.Handle()).find_first_not_of(kUserNameAlphabet), std::wstring::npos);
    EXPECT_EQ(::SendMessageW(frame.EditPassword.Handle(), EM_GETPASSWORDCHAR, 0, 0), 0);
}

TEST_F(RemoteFrameTest, BrowserLinksUseTheFieldsAsTheyStand)
{
    TFrRemote& frame = Frame();
    std::vector<std::wstring> opened;
    HWND owner = nullptr;
    frame.OpenUrl = [&](HWND window, const std::wstring& address) {
        owner = window;
        opened.push_back(address);
    };
    struct Case {
        const wchar_t* port;
        bool ssl;
        const wchar_t* address;
    };
    const Case cases[] = {
        {L"3745", true, L"https://localhost:3745"},
        {L"3745", false, L"http://localhost:3745"},
        {L"", true, L"https://localhost:0"},
        {L"8080", false, L"http://localhost:8080"},
    };
    for (const auto& c : cases) {
        Type(frame.editPort.Handle(), c.port);
        if (frame.cbUseSSL.Checked() != c.ssl)
            session.Click(frame.cbUseSSL.Handle());
        opened.clear();
        session.MouseClick(frame.LabelOpenInBrowser.Handle());
        ASSERT_EQ(opened.size(), 1u) << WideToAnsi(c.address);
        EXPECT_EQ(opened[0], c.address);
        EXPECT_EQ(owner, frame.Handle());
    }
    // Nothing of it was saved: the link follows the controls, not the file.
    EXPECT_FALSE(TTestFolder::Exists(IniPath()));

    opened.clear();
    session.MouseClick(frame.LabelRootCertFileHint.Handle());
    EXPECT_EQ(opened, (std::vector<std::wstring>{CertificateToolAddress()}));
    EXPECT_NE(CertificateToolAddress().find(L"SSL+Buddy"), std::wstring::npos);
}

TEST_F(RemoteFrameTest, FileButtonsShareOneDialogAndTheFolderButtonHasItsOwn)
{
    TFrRemote& frame = Frame();
    EXPECT_EQ(frame.OpenDialog->Options, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                                                            OFN_FILEMUSTEXIST | OFN_ENABLESIZING));
    EXPECT_TRUE(frame.OpenDialog->Filter.empty());
    EXPECT_EQ(frame.PathDialog->RootFolder, CSIDL_DRIVES);

    auto files = std::make_unique<TChosenFile>();
    files->answers = {L"C:\\certs\\root.pem", L"C:\\certs\\server.cer", L"", L"C:\\certs\\server.key"};
    TChosenFile& file = *files;
    frame.OpenDialog = std::move(files);
    session.Click(frame.bbRootCertFileBrowse.Handle());
    session.Click(frame.bbCertFileBrowse.Handle());
    session.Click(frame.bbKeyFileBrowse.Handle()); // cancelled
    EXPECT_EQ(gui::Text(frame.editKeyFile.Handle()), L"ssllocalhost.key");
    session.Click(frame.bbKeyFileBrowse.Handle());
    EXPECT_EQ(gui::Text(frame.editRootCertFile.Handle()), L"C:\\certs\\root.pem");
    EXPECT_EQ(gui::Text(frame.editCertFile.Handle()), L"C:\\certs\\server.cer");
    EXPECT_EQ(gui::Text(frame.editKeyFile.Handle()), L"C:\\certs\\server.key");
    // Each pick starts where the last one ended, whichever button made it; the first starts empty.
    EXPECT_EQ(file.startedFrom, (std::vector<std::wstring>{L"", L"C:\\certs\\root.pem", L"C:\\certs\\server.cer",
                                                           L"C:\\certs\\server.cer"}));

    auto folders = std::make_unique<TChosenFolder>();
    TChosenFolder& folderPick = *folders;
    frame.PathDialog = std::move(folders);
    session.Click(frame.bbTemplatesFolderBrowse.Handle()); // cancelled
    EXPECT_EQ(gui::Text(frame.editPagesFolder.Handle()), L"pages\\");
    folderPick.answer = L"D:\\templates";
    session.Click(frame.bbTemplatesFolderBrowse.Handle());
    EXPECT_EQ(gui::Text(frame.editPagesFolder.Handle()), L"D:\\templates");
    EXPECT_EQ(folderPick.startedFrom, (std::vector<std::wstring>{L"", L""}));

    // Full paths and the defaults' bare names are stored as they stand.
    session.Click(form->bbSave.Handle());
    TSettingsImage saved(IniPath());
    EXPECT_EQ(saved.ReadString("Remote", "RootCertFile", ""), "C:\\certs\\root.pem");
    EXPECT_EQ(saved.ReadString("Remote", "PagesFolder", ""), "D:\\templates");
}

// The system's own pickers, confirmed with what they offer: a pick that starts from a file or folder hands
// back its full path.
TEST_F(RemoteFrameTest, SystemPickersHandBackFullPaths)
{
    TFrRemote& frame = Frame();
    const std::wstring file = folder.File(L"server.cer");
    TTestFolder::WriteBytes(file, "certificate");
    std::wstring pages = folder.Path();
    pages.pop_back();

    frame.OpenDialog->FileName = file;
    session.Click(frame.bbCertFileBrowse.Handle());
    EXPECT_EQ(::lstrcmpiW(gui::Text(frame.editCertFile.Handle()).c_str(), file.c_str()), 0);

    frame.PathDialog->Path = pages;
    session.Click(frame.bbTemplatesFolderBrowse.Handle());
    EXPECT_EQ(::lstrcmpiW(gui::Text(frame.editPagesFolder.Handle()).c_str(), pages.c_str()), 0);
}

TEST_F(RemoteFrameTest, TabOrderFollowsTheRows)
{
    TFrRemote& frame = Frame();
    const HWND order[] = {
        frame.cbEnableRemoteControl.Handle(),
        frame.editPort.Handle(),
        frame.EditUserName.Handle(),
        frame.bbGenerateUserName.Handle(),
        frame.EditPassword.Handle(),
        frame.bbGeneratePassword.Handle(),
        frame.cbUseSSL.Handle(),
        frame.editRootCertFile.Handle(),
        frame.bbRootCertFileBrowse.Handle(),
        frame.editCertFile.Handle(),
        frame.bbCertFileBrowse.Handle(),
        frame.editKeyFile.Handle(),
        frame.bbKeyFileBrowse.Handle(),
        frame.editPagesFolder.Handle(),
        frame.bbTemplatesFolderBrowse.Handle(),
    };
    ::SetFocus(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        session.PressKey(VK_TAB);
        EXPECT_EQ(::GetFocus(), order[i]) << "tab stop " << i;
    }
    // The field that took the focus at the bottom of the frame was scrolled into view.
    RECT rect{};
    ::GetWindowRect(order[std::size(order) - 1], &rect);
    ::MapWindowPoints(nullptr, form->FrameBar.Handle(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_LE(rect.bottom, gui::ClientSize(form->FrameBar.Handle()).cy);
    EXPECT_GT(form->FrameBar.ScrollPosition(), 0);
}

} // namespace
