#include "StoreTestSupport.h"

#include "UCheckSettings.h"
#include "USettingsIO.h"

#include <gtest/gtest.h>

#include <functional>

using Microsoft::WRL::ComPtr;

namespace {

class SettingsFile : public testing::Test {
protected:
    std::wstring SettingsPath() const { return folder.File(L"MendrelRemoteClient\\Settings.xml"); }

    ComPtr<IXMLOptions> StoreOn(const std::string& text)
    {
        CreateDirectoryW(folder.File(L"MendrelRemoteClient").c_str(), nullptr);
        WriteBytes(SettingsPath(), text);
        return OpenSettingsStore(SettingsPath());
    }

    // What the main window's save does: both lists into the document, the folder, the file.
    void SaveAll(IXMLOptions& store, const TServerSettingsList& servers, const TSiteSettingsList& sites)
    {
        SaveServerSettings(store, servers);
        SaveSiteSettings(store, sites);
        ForceFileFolder(SettingsPath());
        store.Save();
    }

    static std::shared_ptr<TCheckServerSettings> Server(const ComPtr<IXMLOptions>& store, const char* name,
                                                        const wchar_t* url, int minutes = 10, bool active = true)
    {
        auto s = std::make_shared<TCheckServerSettings>(store, name);
        s->URL = url;
        s->CheckIntevalMinutes = minutes;
        s->Active = active;
        s->Username = L"admin";
        s->Password = L"s3cret<&>";
        return s;
    }

    static std::shared_ptr<TCheckSiteSettings> Site(const ComPtr<IXMLOptions>& store, const char* name,
                                                    const wchar_t* url, const wchar_t* code)
    {
        auto s = std::make_shared<TCheckSiteSettings>(store, name);
        s->URL = url;
        s->CheckIntevalMinutes = 5;
        s->Active = false;
        s->CodeToCheck = code;
        return s;
    }

    static std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "<no error>";
    }

    TTestFolder folder;
};

std::string Doc(const std::string& body) { return std::string(kDeclarationLine) + body; }

} // namespace

TEST_F(SettingsFile, NoFileAndNoFolderStartEmptyAndTheFirstSaveMakesBoth)
{
    ComPtr<IXMLOptions> store = OpenSettingsStore(SettingsPath());
    EXPECT_TRUE(LoadSiteSettings(store).empty());
    EXPECT_TRUE(LoadServerSettings(store).empty());
    EXPECT_TRUE(FolderFiles(folder.Path()).empty());

    SaveAll(*store.Get(), {Server(store, "Item1", L"http://host:8080")},
            {Site(store, "Item2", L"https://example.org/", L"<b>Welcome</b>")});
    EXPECT_EQ(ReadBytes(SettingsPath()), Doc("<Options>\r\n"
                                             "  <Servers>\r\n"
                                             "    <Item1>\r\n"
                                             "      <Active>True</Active>\r\n"
                                             "      <URL>http://host:8080</URL>\r\n"
                                             "      <CheckIntevalMinutes>10</CheckIntevalMinutes>\r\n"
                                             "      <Username>admin</Username>\r\n"
                                             "      <Password>s3cret&lt;&amp;&gt;</Password>\r\n"
                                             "    </Item1>\r\n"
                                             "  </Servers>\r\n"
                                             "  <Sites>\r\n"
                                             "    <Item2>\r\n"
                                             "      <Active>False</Active>\r\n"
                                             "      <URL>https://example.org/</URL>\r\n"
                                             "      <CheckIntevalMinutes>5</CheckIntevalMinutes>\r\n"
                                             "      <CodeToCheck>&lt;b&gt;Welcome&lt;/b&gt;</CodeToCheck>\r\n"
                                             "    </Item2>\r\n"
                                             "  </Sites>\r\n"
                                             "</Options>\r\n"));

    ComPtr<IXMLOptions> reopened = OpenSettingsStore(SettingsPath());
    TServerSettingsList servers = LoadServerSettings(reopened);
    TSiteSettingsList sites = LoadSiteSettings(reopened);
    ASSERT_EQ(servers.size(), 1u);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(servers[0]->ItemName, "Item1");
    EXPECT_EQ(servers[0]->Password, L"s3cret<&>");
    EXPECT_EQ(sites[0]->CodeToCheck, L"<b>Welcome</b>");
    EXPECT_EQ(servers[0]->Store.Get(), reopened.Get());
}

TEST_F(SettingsFile, ExistingFolderIsLeftAloneAndOnlyTheFileIsWritten)
{
    CreateDirectoryW(folder.File(L"MendrelRemoteClient").c_str(), nullptr);
    WriteBytes(folder.File(L"MendrelRemoteClient\\other.txt"), "keep");
    ComPtr<IXMLOptions> store = OpenSettingsStore(SettingsPath());
    SaveAll(*store.Get(), {}, {});
    EXPECT_EQ(FolderFiles(folder.File(L"MendrelRemoteClient")),
              (std::vector<std::wstring>{L"Settings.xml", L"other.txt"}));
    EXPECT_EQ(ReadBytes(folder.File(L"MendrelRemoteClient\\other.txt")), "keep");
    EXPECT_EQ(FolderFiles(folder.Path()), std::vector<std::wstring>{L"MendrelRemoteClient"});
}

TEST_F(SettingsFile, FolderIsMadeWithEveryMissingParentAndFailuresAreSilent)
{
    const std::wstring deep = folder.File(L"a\\b\\c\\Settings.xml");
    ForceFileFolder(deep);
    DWORD attributes = GetFileAttributesW(folder.File(L"a\\b\\c").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FileExists(deep));

    // A file standing where a folder should be: nothing is made, nothing is raised, the save then fails.
    WriteBytes(folder.File(L"blocker"), "x");
    const std::wstring blocked = folder.File(L"blocker\\sub\\Settings.xml");
    EXPECT_NO_THROW(ForceFileFolder(blocked));
    EXPECT_FALSE(FileExists(folder.File(L"blocker\\sub")));
    ComPtr<IXMLOptions> store = OpenSettingsStore(blocked);
    EXPECT_THROW(store->Save(), EOSError);
    EXPECT_NO_THROW(ForceFileFolder(L"Settings.xml"));
}

TEST_F(SettingsFile, FileWithTheRootOnlyGivesEmptyLists)
{
    for (const char* file : {"<Options/>", "<Options><Servers/><Sites></Sites></Options>"}) {
        SCOPED_TRACE(file);
        ComPtr<IXMLOptions> store = StoreOn(file);
        EXPECT_TRUE(LoadServerSettings(store).empty());
        EXPECT_TRUE(LoadSiteSettings(store).empty());
    }
}

TEST_F(SettingsFile, MissingKeysTakeDefaultsAndTheNextSaveWritesEveryKey)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Servers><S1/><S2><URL>http://b</URL></S2></Servers>"
                                        "<Sites><W1><CodeToCheck>ok</CodeToCheck></W1></Sites></Options>");
    TServerSettingsList servers = LoadServerSettings(store);
    TSiteSettingsList sites = LoadSiteSettings(store);
    ASSERT_EQ(servers.size(), 2u);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_FALSE(servers[0]->Active);
    EXPECT_EQ(servers[0]->CheckIntevalMinutes, 10);
    EXPECT_EQ(servers[0]->URL, L"");
    EXPECT_EQ(servers[0]->Username, L"");
    EXPECT_EQ(servers[0]->Password, L"");
    EXPECT_EQ(servers[1]->URL, L"http://b");
    EXPECT_EQ(sites[0]->CheckIntevalMinutes, 10);
    EXPECT_EQ(sites[0]->CodeToCheck, L"ok");

    SaveAll(*store.Get(), servers, sites);
    EXPECT_EQ(ReadBytes(SettingsPath()), Doc("<Options>\r\n"
                                             "  <Servers>\r\n"
                                             "    <S1>\r\n"
                                             "      <Active>False</Active>\r\n"
                                             "      <URL/>\r\n"
                                             "      <CheckIntevalMinutes>10</CheckIntevalMinutes>\r\n"
                                             "      <Username/>\r\n"
                                             "      <Password/>\r\n"
                                             "    </S1>\r\n"
                                             "    <S2>\r\n"
                                             "      <Active>False</Active>\r\n"
                                             "      <URL>http://b</URL>\r\n"
                                             "      <CheckIntevalMinutes>10</CheckIntevalMinutes>\r\n"
                                             "      <Username/>\r\n"
                                             "      <Password/>\r\n"
                                             "    </S2>\r\n"
                                             "  </Servers>\r\n"
                                             "  <Sites>\r\n"
                                             "    <W1>\r\n"
                                             "      <Active>False</Active>\r\n"
                                             "      <URL/>\r\n"
                                             "      <CheckIntevalMinutes>10</CheckIntevalMinutes>\r\n"
                                             "      <CodeToCheck>ok</CodeToCheck>\r\n"
                                             "    </W1>\r\n"
                                             "  </Sites>\r\n"
                                             "</Options>\r\n"));
}

TEST_F(SettingsFile, ActiveReadsTheTrueWordsOnly)
{
    struct Case {
        const char* text;
        bool active;
    };
    const Case cases[] = {
        {"True", true}, {"true", true},   {"TRUE", true}, {"1", true}, {"t", true},   {"T", true},
        {"yes", false}, {"False", false}, {"0", false},   {"", false}, {"on", false}, {" True", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ComPtr<IXMLOptions> store =
            StoreOn(std::string("<Options><Servers><A><Active>") + c.text +
                    "</Active></A></Servers><Sites><B><Active>" + c.text + "</Active></B></Sites></Options>");
        EXPECT_EQ(LoadServerSettings(store).at(0)->Active, c.active);
        EXPECT_EQ(LoadSiteSettings(store).at(0)->Active, c.active);
    }
}

TEST_F(SettingsFile, CheckIntervalMustBeAnInteger)
{
    struct Case {
        const char* text;
        int minutes;         // when it loads
        const char* message; // when it does not
    };
    const Case cases[] = {
        {"15", 15, nullptr},
        {" 7 ", 7, nullptr},
        {"+3", 3, nullptr},
        {"-1", -1, nullptr},
        {"abc", 0, "Could not convert variant of type (UnicodeString) into type (Integer)"},
        {"1.5", 0, "Could not convert variant of type (UnicodeString) into type (Integer)"},
        {"99999999999", 0, "Could not convert variant of type (UnicodeString) into type (Integer)"},
        {"", 0, "Could not convert variant of type (Null) into type (Integer)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ComPtr<IXMLOptions> store = StoreOn(std::string("<Options><Servers><Good/><A><CheckIntevalMinutes>") + c.text +
                                            "</CheckIntevalMinutes></A></Servers><Sites><B><CheckIntevalMinutes>" +
                                            c.text + "</CheckIntevalMinutes></B></Sites></Options>");
        if (c.message) {
            EXPECT_EQ(ErrorOf([&] { LoadServerSettings(store); }), c.message);
            EXPECT_EQ(ErrorOf([&] { LoadSiteSettings(store); }), c.message);
        } else {
            EXPECT_EQ(LoadServerSettings(store).at(1)->CheckIntevalMinutes, c.minutes);
            EXPECT_EQ(LoadSiteSettings(store).at(0)->CheckIntevalMinutes, c.minutes);
        }
    }
}

TEST_F(SettingsFile, ValueElementHoldingElementsFails)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Servers><A><URL><Inner/></URL></A></Servers></Options>");
    EXPECT_EQ(ErrorOf([&] { LoadServerSettings(store); }), "Element does not contain a single text node");
}

TEST_F(SettingsFile, HandNamedItemsKeepTheirNamesAndEachItemIsSavedOnce)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Servers>"
                                        "<MyServer><Active>t</Active><URL>http://same:1</URL></MyServer>"
                                        "<Item0123><URL>http://same:1</URL></Item0123>"
                                        "</Servers></Options>");
    TServerSettingsList servers = LoadServerSettings(store);
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0]->ItemName, "MyServer");
    EXPECT_EQ(servers[1]->ItemName, "Item0123");
    EXPECT_TRUE(servers[0]->Active);
    EXPECT_EQ(servers[0]->URL, servers[1]->URL);

    // The window passes its rows' order; the file follows it.
    SaveAll(*store.Get(), {servers[1], servers[0]}, {});
    ComPtr<IXMLOptions> reopened = OpenSettingsStore(SettingsPath());
    EXPECT_EQ(*reopened->GetChildList("Servers"), (std::vector<std::string>{"Item0123=", "MyServer="}));
    TServerSettingsList again = LoadServerSettings(reopened);
    EXPECT_TRUE(again[1]->Active);
    EXPECT_EQ(again[0]->URL, L"http://same:1");
    EXPECT_FALSE(reopened->PathExists("Sites"));
}

TEST_F(SettingsFile, DeletingEveryItemKeepsTheEmptySection)
{
    ComPtr<IXMLOptions> store =
        StoreOn("<Options><Sites><W><URL>u</URL></W></Sites><Servers><A/><B/></Servers></Options>");
    SaveAll(*store.Get(), {}, {});
    EXPECT_TRUE(store->PathExists("Servers"));
    // A file that had its sections keeps their places.
    EXPECT_EQ(ReadBytes(SettingsPath()), Doc("<Options>\r\n  <Sites/>\r\n  <Servers/>\r\n</Options>\r\n"));
    ComPtr<IXMLOptions> reopened = OpenSettingsStore(SettingsPath());
    EXPECT_TRUE(reopened->PathExists("Servers"));
    EXPECT_TRUE(LoadServerSettings(reopened).empty());
}

// An item element written by hand with only text is listed as name=text; it must still go when the
// lists no longer hold it, else it would come back at every start.
TEST_F(SettingsFile, TextOnlyItemElementIsDeletedToo)
{
    ComPtr<IXMLOptions> store =
        StoreOn("<Options><Servers><Odd>http://x/y</Odd><Keep><URL>k</URL></Keep></Servers></Options>");
    TServerSettingsList servers = LoadServerSettings(store);
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0]->ItemName, "Odd");
    EXPECT_EQ(servers[0]->URL, L"");

    SaveAll(*store.Get(), {servers[1]}, {});
    ComPtr<IXMLOptions> reopened = OpenSettingsStore(SettingsPath());
    EXPECT_EQ(*reopened->GetChildList("Servers"), std::vector<std::string>{"Keep="});
}

TEST_F(SettingsFile, SaveAppendsNewItemsAndRewritesTheSectionFromTheList)
{
    ComPtr<IXMLOptions> store = OpenSettingsStore(SettingsPath());
    TServerSettingsList servers = {Server(store, "Item1", L"http://a"), Server(store, "Item2", L"http://b")};
    SaveAll(*store.Get(), servers, {});
    servers[0]->URL = L"http://a2";
    servers.push_back(Server(store, "Item3", L"http://c", 1, false));
    SaveAll(*store.Get(), servers, {});

    ComPtr<IXMLOptions> reopened = OpenSettingsStore(SettingsPath());
    TServerSettingsList loaded = LoadServerSettings(reopened);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0]->URL, L"http://a2");
    EXPECT_EQ(loaded[2]->ItemName, "Item3");
    EXPECT_EQ(loaded[2]->CheckIntevalMinutes, 1);
    EXPECT_FALSE(loaded[2]->Active);
    EXPECT_EQ(reopened->GetChildList("Servers/Item1")->size(), 5u);
}
