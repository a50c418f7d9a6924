// The server and site lists edited through their links and dialogs: what reaches the lists, the settings
// file and the status list, and what does not.
#include "MainWindowSupport.h"

#include "UEditServerFM.h"
#include "UEditSiteFM.h"
#include "USettingsIO.h"

#include <gtest/gtest.h>

#include <regex>

using Microsoft::WRL::ComPtr;

namespace {

class MainWindowEdit : public MainWindowTest {
protected:
    // Runs act on the next dialog with that caption, from inside its modal loop.
    template <class TDialog>
    void WhenDialog(const wchar_t* caption, std::function<void(TDialog&)> act, int timeoutMs = 5000)
    {
        session.WhenWindowAppears(
            [caption] {
                HWND w = gui::FindTopLevel(nullptr, caption, ::GetCurrentProcessId());
                return w && gui::IsShown(w) ? w : nullptr;
            },
            [act](HWND w) {
                auto* dialog = dynamic_cast<TDialog*>(TWindowBase::FromHandle(w));
                ASSERT_NE(dialog, nullptr);
                act(*dialog);
            },
            timeoutMs);
    }
    void WhenServerDialog(std::function<void(TfmEditServer&)> act) { WhenDialog<TfmEditServer>(L"Edit server", act); }
    void WhenSiteDialog(std::function<void(TfmEditSite&)> act) { WhenDialog<TfmEditSite>(L"Edit site", act); }

    // A click on one of the links under a list, with its page in front.
    void ClickLink(TLinkLabel& link)
    {
        TTabSheet* page = dynamic_cast<TTabSheet*>(link.Parent());
        session.SelectTab(window->pgMain.TabHandle(), page->PageIndex());
        session.MouseClick(link.Handle());
        session.ProcessPending();
    }
    void SelectRows(TListView& list, const std::vector<int>& rows)
    {
        for (int i = 0; i < list.Count(); ++i)
            list.Item(i).SetSelected(std::find(rows.begin(), rows.end(), i) != rows.end());
    }
    std::vector<std::wstring> Captions(TListView& list) const
    {
        std::vector<std::wstring> captions;
        for (int i = 0; i < list.Count(); ++i)
            captions.push_back(list.Item(i).Caption());
        return captions;
    }
    std::vector<std::string> SavedChildren(const char* section) const
    {
        ComPtr<IXMLOptions> saved = OpenSettingsStore(SettingsPath());
        std::vector<std::string> names;
        for (const std::string& entry : saved->GetChildList(section).value_or(std::vector<std::string>{}))
            names.push_back(entry.substr(0, entry.find('=')));
        return names;
    }
    // The status objects of the rows now; a rebuild frees them (none of them has a check running).
    std::vector<std::weak_ptr<TObject>> StatusObjects() const
    {
        return {window->StatusObjectList.begin(), window->StatusObjectList.end()};
    }
    bool StillShown(const std::vector<std::weak_ptr<TObject>>& objects) const
    {
        if (objects.size() != window->StatusObjectList.size())
            return false;
        for (size_t i = 0; i < objects.size(); ++i)
            if (objects[i].lock() != window->StatusObjectList[i])
                return false;
        return true;
    }
    void ExpectNoWatcherFailures()
    {
        EXPECT_TRUE(session.WatchersDone());
        for (const auto& failure : session.WatcherFailures())
            ADD_FAILURE() << WideToUtf8(failure);
    }
};

TEST_F(MainWindowEdit, AddThenAnyCloseButOkLeavesListsAndFileAsTheyWere)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Refused(L"/a"), true, 5, "", ""}}, {}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    const std::string file = ReadSettings();
    const auto statuses = StatusObjects();

    struct Close {
        const char* what;
        std::function<void(TfmEditServer&)> close;
    };
    const Close closes[] = {
        {"Cancel", [&](TfmEditServer& d) { session.Click(d.bbCancel.Handle()); }},
        {"Esc",
         [&](TfmEditServer& d) {
             d.editURL.SetFocus();
             session.PressKey(VK_ESCAPE);
         }},
        {"the close box", [&](TfmEditServer& d) { ::PostMessageW(d.Handle(), WM_CLOSE, 0, 0); }},
    };
    for (const Close& c : closes) {
        SCOPED_TRACE(c.what);
        bool opened = false;
        WhenServerDialog([&](TfmEditServer& d) {
            opened = true;
            // A new item starts empty and unticked, checked every minute.
            EXPECT_FALSE(d.cbActive.Checked());
            EXPECT_EQ(d.editURL.Text(), L"");
            EXPECT_EQ(d.editMinutes.Value(), 1);
            EXPECT_EQ(d.editUsername.Text(), L"");
            EXPECT_EQ(d.editPassword.Text(), L"");
            EXPECT_EQ(window->lvServers.Count(), 2);
            d.editURL.SetText(s.Http(L"/ok"));
            d.cbActive.SetChecked(true);
            c.close(d);
        });
        ClickLink(window->LabelServerAdd);
        EXPECT_TRUE(opened);
        ExpectNoWatcherFailures();
        EXPECT_EQ(Captions(window->lvServers), (std::vector<std::wstring>{s.Refused(L"/a")}));
        EXPECT_EQ(window->ServerSettingsList.size(), 1u);
        EXPECT_EQ(ReadSettings(), file);
        EXPECT_TRUE(StillShown(statuses));
    }
}

TEST_F(MainWindowEdit, AddWithOkSavesTheItemUnderANewNameInRowOrder)
{
    const TTestServers& s = TTestServers::Get();
    // Present items sort after the new ones: "http:" before "https".
    const std::wstring last = L"https://127.0.0.1:" + std::to_wstring(s.Port("refused")) + L"/z";
    WriteSettings(SettingsXml({{"Item1", last, true, 5, "", ""}}, {{"Item2", last, true, 5, "x"}}));
    environment.Retrieval.DeadlineMs = 1000;
    Open();
    ASSERT_TRUE(WaitForChecks());

    struct Case {
        const char* what;
        bool server;
        bool ticked;
    };
    const Case cases[] = {{"a server, ticked", true, true},
                          {"a server, unticked", true, false},
                          {"a site, ticked", false, true},
                          {"a site, unticked", false, false}};
    const std::regex newName("Item[0-9A-F]{32}");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A ticked item's first check hangs, so that the row is seen before it calls back.
        const std::wstring url = c.ticked ? s.Hang(L"/new") : s.Http(L"/page");
        TListView& list = c.server ? window->lvServers : window->lvSites;
        const int rowsBefore = list.Count();
        const int statusBefore = window->lvStatus.Count();
        if (c.server) {
            WhenServerDialog([&](TfmEditServer& d) {
                d.cbActive.SetChecked(c.ticked);
                d.editURL.SetText(url);
                d.editMinutes.SetValue(7);
                d.editUsername.SetText(L"admin");
                d.editPassword.SetText(L"s3cret");
                session.Click(d.bbOk.Handle());
            });
            ClickLink(window->LabelServerAdd);
        } else {
            WhenSiteDialog([&](TfmEditSite& d) {
                d.cbActive.SetChecked(c.ticked);
                d.editURL.SetText(url);
                d.editMinutes.SetValue(7);
                d.editCode.SetText(L"Welcome");
                session.Click(d.bbOk.Handle());
            });
            ClickLink(window->LabelSiteAdd);
        }
        ExpectNoWatcherFailures();

        // The new row sorts into place by its URL, and the file follows the rows.
        ASSERT_EQ(list.Count(), rowsBefore + 1);
        std::vector<std::wstring> captions = Captions(list);
        EXPECT_TRUE(std::is_sorted(captions.begin(), captions.end(),
                                   [](const auto& a, const auto& b) { return CompareCaptions(a, b) < 0; }));
        auto at = std::find(captions.begin(), captions.end(), url);
        ASSERT_NE(at, captions.end());
        const int row = static_cast<int>(at - captions.begin());
        EXPECT_EQ(list.Item(row).Checked(), c.ticked);
        const char* section = c.server ? "Servers" : "Sites";
        std::vector<std::string> names = SavedChildren(section);
        ASSERT_EQ(names.size(), static_cast<size_t>(rowsBefore + 1));
        const std::string name = names[static_cast<size_t>(row)];
        EXPECT_TRUE(std::regex_match(name, newName)) << name;
        ComPtr<IXMLOptions> saved = OpenSettingsStore(SettingsPath());
        std::string path = std::string(section) + "/" + name + "/";
        EXPECT_EQ(saved->GetWideStringDef(path + "Active", L""), c.ticked ? L"True" : L"False");
        EXPECT_EQ(saved->GetWideStringDef(path + "URL", L""), url);
        EXPECT_EQ(saved->GetWideStringDef(path + "CheckIntevalMinutes", L""), L"7");
        EXPECT_EQ(saved->GetWideStringDef(path + (c.server ? "Password" : "CodeToCheck"), L""),
                  c.server ? L"s3cret" : L"Welcome");

        // A ticked item has a status row from the save on, with its first check started at once.
        ASSERT_EQ(window->lvStatus.Count(), statusBefore + (c.ticked ? 1 : 0));
        bool found = false;
        for (int i = 0; i < window->lvStatus.Count(); ++i) {
            if (StatusRow(i)[1] == url) {
                found = true;
                EXPECT_EQ(StatusRow(i)[2], L"Initial state");
                EXPECT_TRUE(window->StatusOfRow(window->lvStatus.Item(i))->CheckRunning());
            }
        }
        EXPECT_EQ(found, c.ticked);
        ASSERT_TRUE(WaitForChecks());
    }
}

TEST_F(MainWindowEdit, DeleteRemovesEverySelectedRowInOneGo)
{
    const TTestServers& s = TTestServers::Get();
    std::vector<TServerItem> servers;
    std::vector<TSiteItem> sites;
    for (int i = 0; i < 5; ++i) {
        std::wstring path = L"/" + std::wstring(1, static_cast<wchar_t>(L'a' + i));
        servers.push_back({"Server" + std::to_string(i), s.Refused(path), true, 10, "", ""});
        sites.push_back({"Site" + std::to_string(i), s.Refused(path), true, 10, "x"});
    }
    WriteSettings(SettingsXml(servers, sites));
    Open();
    ASSERT_TRUE(WaitForChecks());

    struct Case {
        const char* what;
        TListView& list;
        TLinkLabel& link;
        const char* section;
        const char* prefix;
    };
    const Case cases[] = {{"servers", window->lvServers, window->LabelServerDelete, "Servers", "Server"},
                          {"sites", window->lvSites, window->LabelDelete, "Sites", "Site"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::weak_ptr<TObject>> gone;
        auto note = [&](const auto& settingsList) {
            for (int row : {0, 1, 3})
                for (const auto& p : settingsList)
                    if (p.get() == c.list.Item(row).Data())
                        gone.push_back(p);
        };
        if (&c.list == &window->lvServers)
            note(window->ServerSettingsList);
        else
            note(window->SiteSettingsList);
        ASSERT_EQ(gone.size(), 3u);
        // Neighbouring rows, and the focus on a row that stays.
        SelectRows(c.list, {0, 1, 3});
        c.list.Item(2).SetFocused(true);
        ClickLink(c.link);
        EXPECT_EQ(Captions(c.list), (std::vector<std::wstring>{s.Refused(L"/c"), s.Refused(L"/e")}));
        EXPECT_EQ(SavedChildren(c.section),
                  (std::vector<std::string>{std::string(c.prefix) + "2", std::string(c.prefix) + "4"}));
        EXPECT_TRUE(std::all_of(gone.begin(), gone.end(), [](const auto& w) { return w.expired(); }));
        ASSERT_TRUE(WaitForChecks());
    }
    EXPECT_EQ(window->ServerSettingsList.size(), 2u);
    EXPECT_EQ(window->SiteSettingsList.size(), 2u);
    EXPECT_EQ(window->lvStatus.Count(), 4);
}

TEST_F(MainWindowEdit, DeleteWithNothingSelectedRewritesTheFileAndChecksEveryItemAgain)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/ok"), true, 10, "", ""}, {"Item2", s.Refused(), false, 10, "", ""}},
                              {{"Item3", s.Http(L"/page"), true, 10, "Welcome"}}));
    Open();
    window->SaveSettings();
    ASSERT_TRUE(WaitForChecks());
    const std::string file = ReadSettings();
    const auto statuses = StatusObjects();
    ::DeleteFileW(SettingsPath().c_str());

    ClickLink(window->LabelServerDelete);
    EXPECT_EQ(ReadSettings(), file);
    EXPECT_EQ(window->lvServers.Count(), 2);
    // New status objects for every active item, each checked again.
    ASSERT_EQ(window->lvStatus.Count(), 2);
    EXPECT_TRUE(std::all_of(statuses.begin(), statuses.end(), [](const auto& w) { return w.expired(); }));
    ASSERT_TRUE(WaitForChecks());
    EXPECT_EQ(StatusRow(1)[2], L"Code found");
    EXPECT_EQ(StatusRow(0)[2], L"12:00: Physical free: 512 MB, Total free: 2048 MB.");
}

TEST_F(MainWindowEdit, EditWithoutAFocusedRowDoesNothing)
{
    WriteSettings(SettingsXml({}, {{"Item1", TTestServers::Get().Refused(), true, 10, "x"}}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    ASSERT_EQ(gui::FocusedRow(window->lvServers.Handle()), -1);
    ASSERT_EQ(gui::FocusedRow(window->lvSites.Handle()), -1);
    const auto statuses = StatusObjects();

    struct Case {
        const char* what;
        TLinkLabel& link;
    };
    const Case cases[] = {{"an empty server list", window->LabelServerEdit},
                          {"a site list without a focus mark", window->LabelSiteEdit}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool opened = false;
        auto opens = [&](auto& d) {
            opened = true;
            session.Click(d.bbCancel.Handle());
        };
        WhenDialog<TfmEditServer>(L"Edit server", opens, 500);
        WhenDialog<TfmEditSite>(L"Edit site", opens, 500);
        ClickLink(c.link);
        session.PumpUntil([&] { return session.WatchersDone(); }, 2000);
        EXPECT_FALSE(opened);
        EXPECT_TRUE(StillShown(statuses));
    }
}

TEST_F(MainWindowEdit, EditOpensTheFocusedRowAndOkSavesIt)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Refused(L"/a"), true, 10, "one", "1"},
                               {"Item2", s.Refused(L"/b"), true, 10, "two", "2"},
                               {"Item3", s.Refused(L"/c"), true, 10, "three", "3"}},
                              {}));
    Open();
    ASSERT_TRUE(WaitForChecks());
    SelectRows(window->lvServers, {0, 2});
    window->lvServers.Item(1).SetFocused(true);

    std::wstring shown;
    WhenServerDialog([&](TfmEditServer& d) {
        shown = d.editURL.Text() + L" " + d.editUsername.Text() + L" " + d.editPassword.Text();
        d.editMinutes.SetValue(25);
        d.editUsername.SetText(L"zwei");
        session.Click(d.bbOk.Handle());
    });
    ClickLink(window->LabelServerEdit);
    ExpectNoWatcherFailures();
    EXPECT_EQ(shown, s.Refused(L"/b") + L" two 2");
    EXPECT_EQ(Rows(window->lvServers.Handle()),
              (std::vector<std::vector<std::wstring>>{{s.Refused(L"/a"), L"10", L"one", L"1"},
                                                      {s.Refused(L"/b"), L"25", L"zwei", L"2"},
                                                      {s.Refused(L"/c"), L"10", L"three", L"3"}}));
    ComPtr<IXMLOptions> saved = OpenSettingsStore(SettingsPath());
    EXPECT_EQ(saved->GetWideStringDef("Servers/Item2/CheckIntevalMinutes", L""), L"25");
    EXPECT_EQ(saved->GetWideStringDef("Servers/Item2/Username", L""), L"zwei");

    // Cancel after a change keeps the row, the object and the file.
    std::string file = ReadSettings();
    WhenServerDialog([&](TfmEditServer& d) {
        d.editUsername.SetText(L"drei");
        session.Click(d.bbCancel.Handle());
    });
    ClickLink(window->LabelServerEdit);
    ExpectNoWatcherFailures();
    EXPECT_EQ(window->lvServers.Item(1).SubItem(1), L"zwei");
    EXPECT_EQ(window->ServerSettingsList[1]->Username, L"zwei");
    EXPECT_EQ(ReadSettings(), file);
}

TEST_F(MainWindowEdit, TickingARowChangesOnlyItsMarkUntilTheRowIsEdited)
{
    const TTestServers& s = TTestServers::Get();
    WriteSettings(SettingsXml({{"Item1", s.Http(L"/ok"), false, 10, "", ""}}, {}));
    Open();
    session.SelectTab(window->pgMain.TabHandle(), 1);
    const std::string file = ReadSettings();
    ASSERT_EQ(window->lvStatus.Count(), 0);

    // A click on the row's check box.
    HWND list = window->lvServers.Handle();
    RECT item{};
    item.left = LVIR_BOUNDS;
    ::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    window->BringToFront();
    session.MouseClickAt(list, {item.left + 8, (item.top + item.bottom) / 2});
    ASSERT_TRUE(gui::RowChecked(list, 0));
    session.PumpFor(100);
    EXPECT_FALSE(window->ServerSettingsList[0]->Active);
    EXPECT_EQ(ReadSettings(), file);
    EXPECT_EQ(window->lvStatus.Count(), 0);

    // The dialog shows the mark; confirming it makes the item active.
    window->lvServers.Item(0).SetFocused(true);
    bool ticked = false;
    WhenServerDialog([&](TfmEditServer& d) {
        ticked = d.cbActive.Checked();
        session.Click(d.bbOk.Handle());
    });
    ClickLink(window->LabelServerEdit);
    ExpectNoWatcherFailures();
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(window->ServerSettingsList[0]->Active);
    ASSERT_EQ(window->lvStatus.Count(), 1);
    EXPECT_EQ(StatusRow(0)[1], s.Http(L"/ok"));
    ComPtr<IXMLOptions> saved = OpenSettingsStore(SettingsPath());
    EXPECT_EQ(saved->GetWideStringDef("Servers/Item1/Active", L""), L"True");
}

} // namespace
