#include "StoreTestSupport.h"

#include "Strings.h"
#include "XmlTools.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

class XmlStore : public testing::Test {
protected:
    // A store on a file holding the given text.
    ComPtr<IXMLOptions> StoreOn(const std::string& text, const wchar_t* name = L"Settings.xml")
    {
        WriteBytes(folder.File(name), text);
        return OpenStore(folder.AnsiFile(name));
    }
    std::string SavedText(IXMLOptions& store, const wchar_t* name = L"Settings.xml")
    {
        store.Save();
        return ReadBytes(folder.File(name));
    }
    // What a read gives, as one comparable text: the value, or a marker for missing and null, or the error.
    static std::string Read(IXMLOptions& store, const std::string& path)
    {
        try {
            TOptionValue v = store.GetValue(path);
            if (v.IsMissing())
                return "<missing>";
            if (v.IsNull())
                return "<null>";
            return WideToUtf8(v.ToText());
        } catch (const Exception& e) {
            return "<error: " + e.Message() + ">";
        }
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

TEST_F(XmlStore, NewStoreOnMissingFileHoldsOnlyTheRootAndWritesNothing)
{
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    EXPECT_FALSE(store->PathExists("Servers"));
    EXPECT_FALSE(static_cast<TXMLOptions*>(store.Get())->HasChildren());
    EXPECT_FALSE(store->IsModified());
    EXPECT_FALSE(FileExists(folder.File(L"Settings.xml")));

    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options/>\r\n"));
}

TEST_F(XmlStore, SetValueCreatesTheMissingElementsInOrderAndReplacesText)
{
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("Servers/Item1/Active", L"True");
    store->SetValue("Servers/Item1/Active", L"False");
    store->SetValue("Servers/Item1/CheckIntevalMinutes", 15);
    store->SetValue("Servers/Item1/Username", L"");
    store->SetValue("Sites", TOptionValue::Null());

    EXPECT_EQ(Read(*store.Get(), "Servers/Item1/Active"), "False");
    EXPECT_EQ(Read(*store.Get(), "Servers/Item1/CheckIntevalMinutes"), "15");
    EXPECT_EQ(Read(*store.Get(), "Servers/Item1/Username"), "<null>");
    EXPECT_EQ(store->GetChildList("Servers/Item1")->size(), 3u);
    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options>\r\n"
                                           "  <Servers>\r\n"
                                           "    <Item1>\r\n"
                                           "      <Active>False</Active>\r\n"
                                           "      <CheckIntevalMinutes>15</CheckIntevalMinutes>\r\n"
                                           "      <Username/>\r\n"
                                           "    </Item1>\r\n"
                                           "  </Servers>\r\n"
                                           "  <Sites/>\r\n"
                                           "</Options>\r\n"));
}

TEST_F(XmlStore, ReadsTellMissingFromNullFromText)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Text>abc</Text><Empty></Empty><Blank>  \r\n </Blank>"
                                        "<Spaced>  a b  </Spaced><Markup>&lt;&amp;&gt;</Markup></Options>");
    struct Case {
        const char* path;
        const char* value;      // GetValue
        const char* valueDef;   // GetValueDef with the default "def"
        const char* stringDef;  // GetStringDef with "def"
        const wchar_t* wideDef; // GetWideStringDef with L"def"
        bool hasValue;
        bool exists;
    };
    const Case cases[] = {
        {"Text", "abc", "abc", "abc", L"abc", true, true},
        {"Empty", "<null>", "<null>", "def", L"", false, true},
        {"Blank", "<null>", "<null>", "def", L"", false, true},
        {"Spaced", "  a b  ", "  a b  ", "  a b  ", L"  a b  ", true, true},
        {"Markup", "<&>", "<&>", "<&>", L"<&>", true, true},
        {"Missing", "<missing>", "def", "def", L"def", false, false},
        {"Text/Deeper", "<missing>", "def", "def", L"def", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Read(*store.Get(), c.path), c.value);
        TOptionValue def = store->GetValueDef(c.path, L"def");
        EXPECT_EQ(def.IsNull() ? std::string("<null>") : WideToUtf8(def.ToText()), c.valueDef);
        EXPECT_EQ(store->GetStringDef(c.path, "def"), c.stringDef);
        EXPECT_EQ(store->GetWideStringDef(c.path, L"def"), c.wideDef);
        EXPECT_EQ(store->HasValue(c.path), c.hasValue);
        EXPECT_EQ(store->PathExists(c.path), c.exists);
    }
    EXPECT_EQ(store->GetString("Empty"), "");
    EXPECT_EQ(store->GetWideString("Text"), L"abc");
    EXPECT_FALSE(store->GetValue("Missing") == TOptionValue::Null());
    EXPECT_FALSE(store->GetValue("Missing") == TOptionValue(L""));
}

TEST_F(XmlStore, PathPartsSelectElementsByNameAndNameAttribute)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options>"
                                        "<Item Name=\"x\">1</Item>"
                                        "<Other Name=\"y\">2</Other>"
                                        "<Item Name=\"y\">3</Item>"
                                        "<Item>4</Item>"
                                        "<Group><Item Name=\"x\">5</Item></Group>"
                                        "<A>6</A><a>7</a>"
                                        "</Options>");
    struct Case {
        const char* path;
        const char* value;
    };
    const Case cases[] = {
        {"Item", "1"},
        {"Item=x", "1"},
        // From the first Item on, whatever the siblings' names: the Other comes before the second Item.
        {"Item=y", "2"},
        {"Other=y", "2"},
        {"Other=x", "<missing>"},
        {"Item=", "1"},
        {"Item=z", "<missing>"},
        {"Group/Item=x", "5"},
        {"A", "6"},
        {"a", "7"},
        {"A ", "<missing>"},
        {" A", "<missing>"},
        {"Group//Item", "<missing>"},
        {"", "<missing>"},
        {"/Item", "<missing>"},
        {"Item/", "<missing>"},
        {"=x", "<missing>"},
        {"Options", "<missing>"},
        {"Options/Item", "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Read(*store.Get(), c.path), c.value);
    }
}

TEST_F(XmlStore, NameValuePartCreatesElementWithNameAttribute)
{
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("List/Item=abc/Value", L"1");
    store->SetValue("List/Item=def/Value", L"2");
    store->SetValue("List/Item=abc/Value", L"3");

    EXPECT_EQ(Read(*store.Get(), "List/Item/Value"), "3");
    EXPECT_EQ(Read(*store.Get(), "List/Item=def/Value"), "2");
    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options>\r\n"
                                           "  <List>\r\n"
                                           "    <Item Name=\"abc\">\r\n"
                                           "      <Value>3</Value>\r\n"
                                           "    </Item>\r\n"
                                           "    <Item Name=\"def\">\r\n"
                                           "      <Value>2</Value>\r\n"
                                           "    </Item>\r\n"
                                           "  </List>\r\n"
                                           "</Options>\r\n"));
}

TEST_F(XmlStore, ChildListHoldsNameAndTextPerChildElement)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Servers><A>1</A><B><C/></B><A></A><!-- note --><D>x=y</D>"
                                        "<E>\xC3\xA9</E></Servers><Leaf>v</Leaf></Options>");
    EXPECT_EQ(*store->GetChildList("Servers"),
              (std::vector<std::string>{"A=1", "B=", "A=", "D=x=y", "E=" + WideToAnsi(L"\u00e9")}));
    EXPECT_EQ(*store->GetWideChildList("Servers"),
              (std::vector<std::wstring>{L"A=1", L"B=", L"A=", L"D=x=y", L"E=\u00e9"}));
    EXPECT_EQ(store->GetChildList("Leaf")->size(), 0u);
    EXPECT_FALSE(store->GetChildList("Missing").has_value());
    EXPECT_FALSE(store->GetWideChildList("Missing").has_value());
}

TEST_F(XmlStore, DeletingAndRemovingTakeTheirElements)
{
    const std::string children = "<Item Name=\"x\">1</Item><Item Name=\"y\">2</Item><Other>3</Other>";
    struct Case {
        bool deleteChild; // else RemoveNode
        const char* path;
        std::vector<std::string> remaining;
    };
    const Case cases[] = {
        // DeleteChild takes the first sibling of the resolved element's name.
        {true, "Item=y", {"Item=2", "Other=3"}},
        {true, "Item", {"Item=2", "Other=3"}},
        {true, "Other", {"Item=1", "Item=2"}},
        {true, "Item=z", {"Item=1", "Item=2", "Other=3"}},
        {true, "Missing", {"Item=1", "Item=2", "Other=3"}},
        // RemoveNode takes exactly the resolved element.
        {false, "Item=y", {"Item=1", "Other=3"}},
        {false, "Item", {"Item=2", "Other=3"}},
        {false, "Missing", {"Item=1", "Item=2", "Other=3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.deleteChild ? "DeleteChild " : "RemoveNode ") + c.path);
        ComPtr<IXMLOptions> store = StoreOn("<Options><Wrap>" + children + "</Wrap></Options>");
        const std::string path = std::string("Wrap/") + c.path;
        if (c.deleteChild)
            store->DeleteChild(path);
        else
            store->RemoveNode(path);
        EXPECT_EQ(*store->GetChildList("Wrap"), c.remaining);
        EXPECT_EQ(store->IsModified(), c.remaining.size() == 2);
        // The file agrees with what the store reports.
        store->Save();
        EXPECT_EQ(*OpenStore(folder.AnsiFile(L"Settings.xml"))->GetChildList("Wrap"), c.remaining);
    }
}

TEST_F(XmlStore, MakePathJoinsPartsWithOneDelimiter)
{
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    struct Case {
        std::vector<std::string> parts;
        const char* path;
    };
    const Case cases[] = {
        {{}, ""},
        {{"A"}, "A"},
        {{"Servers", "Item1", "Active"}, "Servers/Item1/Active"},
        {{"A", "", "B"}, "A/B"},
        {{"", "A"}, "A"},
        {{"A/", "B"}, "A/B"},
        {{"Servers", "Item1="}, "Servers/Item1="},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store->MakePath(c.parts), c.path);
    EXPECT_EQ(store->IncludeTrailingDelimiter(""), "");
    EXPECT_EQ(store->IncludeTrailingDelimiter("A"), "A/");
    EXPECT_EQ(store->IncludeTrailingDelimiter("A/"), "A/");
    EXPECT_EQ(store->PathDelimiter(), '/');
}

TEST_F(XmlStore, FailuresCarryTheirMessages)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><Text>abc</Text><Parent><Child>x</Child></Parent></Options>");
    struct Case {
        const char* what;
        std::function<void()> action;
        std::string message;
    };
    const Case cases[] = {
        {"GetString of a missing path", [&] { store->GetString("Nope/Key"); }, "Value for path \"Nope/Key\" not found"},
        {"GetWideString of a missing path", [&] { store->GetWideString("Nope"); }, "Value for path \"Nope\" not found"},
        {"reading an element with elements", [&] { store->GetValue("Parent"); },
         "Element does not contain a single text node"},
        {"HasValue of an element with elements", [&] { store->HasValue("Parent"); },
         "Element does not contain a single text node"},
        {"writing an element with elements", [&] { store->SetValue("Parent", L"x"); },
         "Element does not contain a single text node"},
        {"an empty part", [&] { store->SetValue("New//Key", L"x"); }, "Failed to create item by path: New//Key"},
        {"an empty name", [&] { store->SetValue("=x", L"x"); }, "Failed to create item by path: =x"},
        {"a name with a blank", [&] { store->SetValue("a b", L"x"); }, "Failed to create item by path: a b"},
        {"a name starting with a digit", [&] { store->SetValue("1st", L"x"); }, "Failed to create item by path: 1st"},
        {"a prefixed name", [&] { store->SetValue("p:q", L"x"); }, "Failed to create item by path: p:q"},
        {"a control character", [&] { store->SetValue("Text", L"a\x01z"); },
         "Value for path \"Text\" holds a character that cannot be stored in XML"},
        {"a lone surrogate", [&] { store->SetValue("Fresh", std::wstring(1, wchar_t(0xD800))); },
         "Value for path \"Fresh\" holds a character that cannot be stored in XML"},
        {"an empty file name", [&] { TXMLOptions unnamed(""); }, "File name not assigned (XmlTools, line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ErrorOf(c.action).substr(0, c.message.size()), c.message);
    }
    // The refused writes changed nothing that the file would keep.
    EXPECT_EQ(Read(*store.Get(), "Text"), "abc");
    EXPECT_FALSE(store->PathExists("Fresh"));
    EXPECT_NO_THROW(OpenStore(folder.AnsiFile(L"Settings.xml")));
    store->Save();
    EXPECT_EQ(Read(*OpenStore(folder.AnsiFile(L"Settings.xml")).Get(), "Parent/Child"), "x");
}

TEST_F(XmlStore, FileRoundTripKeepsContentAndLaysItOut)
{
    const std::string saved = Doc("<!-- edited by hand -->\r\n"
                                  "<Options>\r\n"
                                  "  <Servers>\r\n"
                                  "    <MyBox>\r\n"
                                  "      <Active>true</Active>\r\n"
                                  "      <URL>http://h:80/?a=1&amp;b=&lt;2&gt;</URL>\r\n"
                                  "    </MyBox>\r\n"
                                  "  </Servers>\r\n"
                                  "  <Sites/>\r\n"
                                  "</Options>\r\n");
    const std::string body =
        "<!-- edited by hand -->\n<Options>\n\t<Servers>\n\t\t<MyBox><Active>true</Active>"
        "<URL>http://h:80/?a=1&amp;b=&lt;2&gt;</URL></MyBox>\n\t</Servers>\n  <Sites/>\n</Options>\n";
    struct Case {
        const char* what;
        std::string file;
    };
    const Case cases[] = {
        {"no declaration", body},
        {"declaration without standalone", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body},
        {"byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + body},
        {"byte-order mark, no declaration", "\xEF\xBB\xBF" + body},
        {"our own output", saved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IXMLOptions> store = StoreOn(c.file);
        EXPECT_EQ(Read(*store.Get(), "Servers/MyBox/URL"), "http://h:80/?a=1&b=<2>");
        EXPECT_EQ(SavedText(*store.Get()), saved);
    }
}

// Elements whose content is elements, comments or processing instructions get one child a line; content
// with text keeps its exact text, while the elements inside it are still laid out at their own depth.
TEST_F(XmlStore, SavedLayoutIndentsElementContentAndLeavesTextAlone)
{
    struct Case {
        const char* what;
        std::string file;
        std::string saved;
    };
    const Case cases[] = {
        {"comments and instructions among elements",
         "<Options><!-- a > b --><?pi x > y?><A>1</A><B><!-- only a comment --></B></Options>",
         "<Options>\r\n"
         "  <!-- a > b -->\r\n"
         "  <?pi x > y?>\r\n"
         "  <A>1</A>\r\n"
         "  <B>\r\n"
         "    <!-- only a comment -->\r\n"
         "  </B>\r\n"
         "</Options>\r\n"},
        {"mixed content keeps its text; an element inside it is laid out one level deeper",
         "<Options><M>text <E><F>1</F><G/></E> tail</M></Options>",
         "<Options>\r\n"
         "  <M>text <E>\r\n"
         "      <F>1</F>\r\n"
         "      <G/>\r\n"
         "    </E> tail</M>\r\n"
         "</Options>\r\n"},
        {"cdata is text", "<Options><C><![CDATA[<a>x</a>]]></C><D><![CDATA[y]]><Z/></D></Options>",
         "<Options>\r\n"
         "  <C><![CDATA[<a>x</a>]]></C>\r\n"
         "  <D><![CDATA[y]]><Z/></D>\r\n"
         "</Options>\r\n"},
        {"attributes holding markup characters",
         "<Options><Servers><Item Name=\"a&gt;b\" Other='q&quot;&lt;/Item&gt;'><URL>u</URL></Item></Servers></Options>",

         "<Options>\r\n"
         "  <Servers>\r\n"
         "    <Item Name=\"a&gt;b\" Other=\"q&quot;&lt;/Item&gt;\">\r\n"
         "      <URL>u</URL>\r\n"
         "    </Item>\r\n"
         "  </Servers>\r\n"
         "</Options>\r\n"},
        {"attributes holding a bare '>' and '/>'", "<Options><I N=\"x/>y>\" M='\"'><J/></I></Options>",
         "<Options>\r\n"
         "  <I N=\"x/&gt;y&gt;\" M=\"&quot;\">\r\n"
         "    <J/>\r\n"
         "  </I>\r\n"
         "</Options>\r\n"},
        {"empty and nested elements", "<Options><A/><B></B><C><D><E><F>deep</F></E></D></C></Options>",
         "<Options>\r\n"
         "  <A/>\r\n"
         "  <B/>\r\n"
         "  <C>\r\n"
         "    <D>\r\n"
         "      <E>\r\n"
         "        <F>deep</F>\r\n"
         "      </E>\r\n"
         "    </D>\r\n"
         "  </C>\r\n"
         "</Options>\r\n"},
        {"text with markup escapes and a lone element after it",
         "<Options><T>a &lt;b&gt; &amp; c</T><U>x<V/></U></Options>",
         "<Options>\r\n"
         "  <T>a &lt;b&gt; &amp; c</T>\r\n"
         "  <U>x<V/></U>\r\n"
         "</Options>\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IXMLOptions> store = StoreOn(c.file);
        EXPECT_EQ(SavedText(*store.Get()), Doc(c.saved));
    }
    // Blanks written as a value are written as they are, not taken for layout.
    ComPtr<IXMLOptions> store = StoreOn("<Options><A><B>1</B></A></Options>");
    store->SetValue("A/Spaces", std::wstring(L"  \t "));
    EXPECT_EQ(SavedText(*store.Get()),
              Doc("<Options>\r\n  <A>\r\n    <B>1</B>\r\n    <Spaces>  \t </Spaces>\r\n  </A>\r\n</Options>\r\n"));
}

TEST_F(XmlStore, FileInAnotherEncodingIsSavedAsUtf8)
{
    ComPtr<IXMLOptions> store =
        StoreOn("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Options><A>caf\xE9</A></Options>");
    EXPECT_EQ(store->GetWideString("A"), L"caf\u00e9");
    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options>\r\n  <A>caf\xC3\xA9</A>\r\n</Options>\r\n"));

    std::wstring utf16 = L"\xFEFF<Options><B>\u20ac</B></Options>";
    store = StoreOn(std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2));
    EXPECT_EQ(store->GetWideString("B"), L"\u20ac");
    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options>\r\n  <B>\xE2\x82\xAC</B>\r\n</Options>\r\n"));
}

TEST_F(XmlStore, ValuesSurviveTheFile)
{
    const std::wstring values[] = {
        L"a<b&c>\"'", L"  padded  ", L"caf\u00e9 \u20ac \U0001D11E", L"tab\there", L"x", L"0", L"=", L"a/b",
    };
    {
        ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
        for (size_t i = 0; i < std::size(values); ++i)
            store->SetValue(Format("Values/V%zu", i), values[i]);
        store->Save();
    }
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(store->GetWideString(Format("Values/V%zu", i)), values[i]);
}

// A file that is no single well-formed XML document fails as a document error with the parser's reason; a file
// that cannot be read fails as a system error, so that the two never pass for each other.
TEST_F(XmlStore, MalformedFileFailsToLoadWithTheParsersReason)
{
    const char* files[] = {
        "<Options><A></B></Options>", "", "not xml at all", "<Options>", "<Options><A>&undefined;</A></Options>",
        "<Options/><Second/>",
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        try {
            StoreOn(file);
            ADD_FAILURE() << "no error";
        } catch (const EXMLDocError& e) {
            EXPECT_FALSE(e.Message().empty());
        } catch (const Exception& e) {
            ADD_FAILURE() << "not a document error: " << e.Message();
        }
    }

    ComPtr<IXMLOptions> store = StoreOn("<Options><A>1</A></Options>");
    HANDLE locked = CreateFileW(folder.File(L"Settings.xml").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    try {
        store->Load();
        ADD_FAILURE() << "no error";
    } catch (const EXMLDocError& e) {
        ADD_FAILURE() << "a file that cannot be opened reads as a malformed document: " << e.Message();
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << e.Message();
    }
    CloseHandle(locked);
}

TEST_F(XmlStore, FailedLoadKeepsTheDocument)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><A>old</A></Options>");
    store->SetValue("B", L"unsaved");
    WriteBytes(folder.File(L"Settings.xml"), "<Options><A>broken</Options>");
    EXPECT_THROW(store->Load(), EXMLDocError);
    EXPECT_EQ(Read(*store.Get(), "A"), "old");
    EXPECT_EQ(Read(*store.Get(), "B"), "unsaved");

    WriteBytes(folder.File(L"Settings.xml"), "<Options><A>new</A></Options>");
    store->Load();
    EXPECT_EQ(Read(*store.Get(), "A"), "new");
    EXPECT_FALSE(store->PathExists("B"));
    EXPECT_FALSE(store->IsModified());
}

TEST_F(XmlStore, DocumentTypeDeclarationIsRefused)
{
    std::wstring utf16 = L"\xFEFF<!DOCTYPE Options><Options/>";
    const std::string files[] = {
        "<!DOCTYPE Options><Options/>",
        "\xEF\xBB\xBF<!DOCTYPE Options><Options/>",
        "<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<?pi x?>\r\n<!DOCTYPE Options [<!ENTITY e "
        "\"x\">]>\r\n<Options>&e;</Options>",
        "<!doctype Options><Options/>",
        "<!DOCTYPE Options [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
        "<Options><A>&b;</A></Options>",
        std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2),
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        try {
            StoreOn(file);
            ADD_FAILURE() << "loaded";
        } catch (const EXMLDocError& e) {
            EXPECT_EQ(e.Message(), "DTD is prohibited");
        }
    }
    // The words alone, inside a comment, are no declaration.
    ComPtr<IXMLOptions> store = StoreOn("<!-- <!DOCTYPE Options> --><Options><A>1</A></Options>");
    EXPECT_EQ(Read(*store.Get(), "A"), "1");
}

TEST_F(XmlStore, ExternalEntityIsNeverRead)
{
    const std::string secret = "TOP-SECRET-CONTENT";
    WriteBytes(folder.File(L"secret.txt"), secret);
    std::string url = "file:///" + WideToAnsi(folder.File(L"secret.txt"));
    for (char& c : url)
        if (c == '\\')
            c = '/';
    const std::string files[] = {
        "<!DOCTYPE Options [<!ENTITY e SYSTEM \"" + url + "\">]><Options><A>&e;</A></Options>",
        "<?xml version=\"1.0\"?><!DOCTYPE Options SYSTEM \"" + url + "\"><Options><A>x</A></Options>",
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string message = ErrorOf([&] {
            ComPtr<IXMLOptions> store = StoreOn(file);
            ADD_FAILURE() << "loaded, A = " << Read(*store.Get(), "A");
        });
        EXPECT_EQ(message, "DTD is prohibited");
        EXPECT_EQ(message.find(secret), std::string::npos);
    }
}

TEST_F(XmlStore, IsModifiedFollowsChangesUntilSaveOrLoad)
{
    ComPtr<IXMLOptions> store = StoreOn("<Options><A>1</A></Options>");
    EXPECT_FALSE(store->IsModified());
    store->DeleteChild("Missing");
    store->RemoveNode("Missing");
    EXPECT_FALSE(store->GetValue("A").IsMissing());
    EXPECT_FALSE(store->IsModified());
    store->SetValue("A", L"2");
    EXPECT_TRUE(store->IsModified());
    store->Save();
    EXPECT_FALSE(store->IsModified());
    store->RemoveNode("A");
    EXPECT_TRUE(store->IsModified());
    store->Load();
    EXPECT_FALSE(store->IsModified());
    EXPECT_EQ(Read(*store.Get(), "A"), "2");
}

TEST_F(XmlStore, AnswersBothInterfacesAndLivesByItsReferences)
{
    TXMLOptions* object = new TXMLOptions(folder.AnsiFile(L"Settings.xml"));
    ComPtr<IXMLOptions> store(object);
    ComPtr<ICommonOptions> common;
    ASSERT_EQ(store.As(&common), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(common.Get()), static_cast<IUnknown*>(store.Get()));
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(store.As(&unknown), S_OK);
    ComPtr<ISkipRefObject> other;
    EXPECT_EQ(store.As(&other), E_NOINTERFACE);
    EXPECT_EQ(object->RefCount(), 3);
    common.Reset();
    unknown.Reset();
    EXPECT_EQ(object->RefCount(), 1);
}

TEST_F(XmlStore, HasChildrenCountsAnyChildNodeOfTheRoot)
{
    EXPECT_FALSE(static_cast<TXMLOptions*>(StoreOn("<Options/>").Get())->HasChildren());
    EXPECT_FALSE(static_cast<TXMLOptions*>(StoreOn("<Options>\r\n  </Options>").Get())->HasChildren());
    EXPECT_TRUE(static_cast<TXMLOptions*>(StoreOn("<Options><!-- c --></Options>").Get())->HasChildren());
    EXPECT_TRUE(static_cast<TXMLOptions*>(StoreOn("<Options><A/></Options>").Get())->HasChildren());
}

TEST_F(XmlStore, ClearStartsAnEmptyDocument)
{
    ComPtr<IXMLOptions> store = StoreOn("<Settings><A>1</A></Settings>");
    EXPECT_EQ(Read(*store.Get(), "A"), "1");
    store->Clear();
    EXPECT_FALSE(store->PathExists("A"));
    EXPECT_EQ(SavedText(*store.Get()), Doc("<Options/>\r\n"));
}
