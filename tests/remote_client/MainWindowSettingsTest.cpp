// The main window and its settings file: the lists filled from the file, the file written from the lists,
// and the files that stop the start.
#include "MainWindowSupport.h"

#include "USettingsIO.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

class MainWindowSettings : public MainWindowTest {};

TEST_F(MainWindowSettings, PreparedFileFillsTheListsSortedByURLWithTheirMarks)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml(
        {{"Item1", s.Refused(L"/b"), true, 5, "admin", "s3cret"},
         {"Item2", s.Refused(L"/a"), false, 10, "", ""},
         {"HandWritten", s.Refused(L"/c"), true, 0, "root", "p&amp;w"}},
        {{"Item3", s.Refused(L"/z"), true, 15, "Welcome"}, {"Item4", s.Refused(L"/y"), false, 1, "&lt;b&gt;"}}));
    Open();

    HWND servers = window->lvServers.Handle();
    EXPECT_EQ(Rows(servers), (std::vector<std::vector<std::wstring>>{{s.Refused(L"/a"), L"10", L"", L""},
                                                                     {s.Refused(L"/b"), L"5", L"admin", L"s3cret"},
                                                                     {s.Refused(L"/c"), L"0", L"root", L"p&w"}}));
    EXPECT_FALSE(gui::RowChecked(servers, 0));
    EXPECT_TRUE(gui::RowChecked(servers, 1));
    EXPECT_TRUE(gui::RowChecked(servers, 2));
    HWND sites = window->lvSites.Handle();
    EXPECT_EQ(Rows(sites), (std::vector<std::vector<std::wstring>>{{s.Refused(L"/y"), L"1", L"<b>"},
                                                                   {s.Refused(L"/z"), L"15", L"Welcome"}}));
    EXPECT_FALSE(gui::RowChecked(sites, 0));
    EXPECT_TRUE(gui::RowChecked(sites, 1));

    // Each row carries its own settings object, which keeps the element name it was found under.
    ASSERT_EQ(window->ServerSettingsList.size(), 3u);
    EXPECT_EQ(window->lvServers.Item(2).Data(), window->ServerSettingsList[2].get());
    EXPECT_EQ(window->ServerSettingsList[2]->ItemName, "HandWritten");
    EXPECT_EQ(window->ServerSettingsList[2]->Store.Get(), window->Store.Get());

    // One status row per active item, servers first; each shows the state before its first check.
    std::wstring started = ShortTime(clock.Now());
    std::vector<std::vector<std::wstring>> status = Rows(window->lvStatus.Handle());
    ASSERT_EQ(status.size(), 3u);
    EXPECT_EQ(status[0], (std::vector<std::wstring>{L"Server", s.Refused(L"/b"), L"Initial state", started,
                                                    ShortTime(0), ShortTime(0), L"   0: 0", L""}));
    EXPECT_EQ(status[1][0], L"Server");
    EXPECT_EQ(status[1][1], s.Refused(L"/c"));
    EXPECT_EQ(status[2][0], L"Site");
    EXPECT_EQ(status[2][1], s.Refused(L"/z"));
    EXPECT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(0)[2], L"Failed to connect");
    EXPECT_EQ(StatusRow(2)[2], L"Failed to connect");
}

TEST_F(MainWindowSettings, SaveWritesTheFolderAndTheFileInRowOrder)
{
    Open();
    EXPECT_EQ(window->lvServers.Count(), 0);
    EXPECT_EQ(window->lvSites.Count(), 0);
    EXPECT_EQ(window->lvStatus.Count(), 0);
    // Nothing is written at start, not even the folder.
    EXPECT_FALSE(FileExists(Folder()));

    window->SaveSettings();
    EXPECT_TRUE(FileExists(SettingsPath()));
    window.reset();

    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Refused(L"/b"), true, 5, "admin", "s3cret"},
                               {"MyServer", s.Refused(L"/a"), false, 10, "", "p&lt;w"}},
                              {{"Item3", s.Refused(L"/z"), true, 15, "Welcome"}}));
    Open();
    // What the edit dialog does to an item: its object and its row change, the file only on saving.
    window->ServerSettingsList[0]->Username = L"operator";
    window->SaveSettings();
    {
        // The file holds the items in the order of the rows, each under its element name, with every key.
        ComPtr<IXMLOptions> saved = OpenSettingsStore(SettingsPath());
        EXPECT_EQ(saved->GetChildList("Servers"), (std::vector<std::string>{"MyServer=", "Item1="}));
        EXPECT_EQ(saved->GetChildList("Servers/MyServer"),
                  (std::vector<std::string>{"Active=False", "URL=" + WideToAnsi(s.Refused(L"/a")),
                                            "CheckIntevalMinutes=10", "Username=", "Password=p<w"}));
        EXPECT_EQ(saved->GetWideStringDef("Servers/Item1/Username", L""), L"operator");
        EXPECT_EQ(saved->GetChildList("Sites"), (std::vector<std::string>{"Item3="}));
        EXPECT_EQ(saved->GetWideStringDef("Sites/Item3/CodeToCheck", L""), L"Welcome");
    }
    // The save rebuilt the status list from new status objects.
    EXPECT_EQ(window->lvStatus.Count(), 2);
    EXPECT_EQ(StatusRow(0)[2], L"Initial state");

    // Changes after the last save are not written when the window closes.
    window->ServerSettingsList[0]->Username = L"lost";
    std::string saved = ReadSettings();
    window.reset();
    EXPECT_EQ(ReadSettings(), saved);
}

TEST_F(MainWindowSettings, SaveThatCannotWriteRaisesAndKeepsTheStatusList)
{
    WriteSettings(SettingsXml({{"Item1", TTestServers::Get().Refused(L"/b"), true, 5, "", ""}}, {}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    std::vector<std::wstring> before = StatusRow(0);
    std::shared_ptr<TCheckStatus> status = window->StatusOfRow(window->lvStatus.Item(0));
    // A folder where the file should be: the save fails and the rebuild is skipped.
    ::DeleteFileW(SettingsPath().c_str());
    ASSERT_TRUE(::CreateDirectoryW(SettingsPath().c_str(), nullptr));
    EXPECT_ANY_THROW(window->SaveSettings());
    EXPECT_EQ(StatusRow(0), before);
    EXPECT_EQ(window->StatusOfRow(window->lvStatus.Item(0)), status);
    ::RemoveDirectoryW(SettingsPath().c_str());
}

TEST_F(MainWindowSettings, FilesThatStopTheStart)
{
    struct Case {
        const char* what;
        std::string content;
        const wchar_t* message; // null: the XML library's own message
    };
    const Case cases[] = {
        {"not well-formed", "<?xml version=\"1.0\"?><Options><Servers></Options>", nullptr},
        {"an interval that is no number",
         "<Options><Sites><Item1><Active>True</Active><CheckIntevalMinutes>ten</CheckIntevalMinutes></Item1>"
         "</Sites></Options>",
         L"Could not convert variant of type (UnicodeString) into type (Integer)"},
        {"an empty interval", "<Options><Servers><Item1><CheckIntevalMinutes/></Item1></Servers></Options>",
         L"Could not convert variant of type (Null) into type (Integer)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSettings(c.content);
        session.ClearShownBoxes();
        EXPECT_NE(RunRemoteClient(app, {kTestProgram}, SettingsPath()), 0);
        ASSERT_EQ(session.ShownBoxes().size(), 1u);
        EXPECT_EQ(session.ShownBoxes()[0].Caption, L"Mendrel Remote Client");
        if (c.message)
            EXPECT_EQ(session.ShownBoxes()[0].Text, c.message);
        else
            EXPECT_FALSE(session.ShownBoxes()[0].Text.empty());
        EXPECT_EQ(gui::FindTopLevel(nullptr, L"Dravex Mendrel Remote Client", ::GetCurrentProcessId()), nullptr);
        EXPECT_EQ(app.MainForm(), nullptr);
        EXPECT_EQ(ReadSettings(), c.content);
        EXPECT_EQ(TCheckStatusAsync::Stats().Workers, 0u);
    }
}

} // namespace
