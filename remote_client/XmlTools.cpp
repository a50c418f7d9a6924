#include "XmlTools.h"

#include "Strings.h"
#include "Unique.h"
#include "WinTools.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

constexpr const char* kUnit = "XmlTools";
constexpr const char* kNotSingleTextNode = "Element does not contain a single text node";
constexpr const char* kDtdProhibited = "DTD is prohibited";
constexpr const wchar_t* kDeclaration = L"version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"";

// The identifiers are spelt out so that neither MinGW's nor the SDK's import libraries are needed.
constexpr CLSID kClsidDOMDocument = {0xf6d90f11, 0x9c73, 0x11d3, {0xb3, 0x2e, 0x00, 0xc0, 0x4f, 0x99, 0x0b, 0xb4}};
constexpr IID kIidDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
constexpr IID kIidDOMElement = {0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

using UniqueBstr = Unique<BSTR, &SysFreeString>;

UniqueBstr MakeBstr(const std::wstring& text)
{
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b)
        throw EOleError("Out of memory", E_OUTOFMEMORY);
    return UniqueBstr(b);
}

std::wstring FromBstr(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

struct TVariant {
    VARIANT v;
    TVariant() { VariantInit(&v); }
    ~TVariant() { VariantClear(&v); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
};

std::wstring NodeName(IXMLDOMNode* node)
{
    BSTR name = nullptr;
    OleCheck(node->get_nodeName(&name));
    UniqueBstr owner(name);
    return FromBstr(name);
}

std::wstring NodeXml(IXMLDOMNode* node)
{
    BSTR xml = nullptr;
    OleCheck(node->get_xml(&xml));
    UniqueBstr owner(xml);
    return FromBstr(xml);
}

bool IsXmlBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsBlankText(const std::wstring& text)
{
    for (wchar_t c : text)
        if (!IsXmlBlank(c))
            return false;
    return true;
}

// XML 1.0 cannot hold most control characters, not even as character references: a document that had one
// could not be read back. Surrogates are accepted only in pairs.
bool IsStorableText(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c < 0x20) {
            if (c != L'\t' && c != L'\n' && c != L'\r')
                return false;
        } else if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if ((c >= 0xDC00 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
    }
    return true;
}

bool IsNameStartChar(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0xD800 && c <= 0xDFFF);
}

bool IsNameChar(wchar_t c)
{
    return IsNameStartChar(c) || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Some DOM libraries (Wine's among them) create elements under any name and then write a file that no
// parser accepts; the store refuses such names itself. A colon is refused too: an undeclared prefix makes
// the file unreadable for a namespace-aware parser.
bool IsElementName(const std::wstring& name)
{
    if (name.empty() || !IsNameStartChar(name[0]))
        return false;
    for (wchar_t c : name)
        if (!IsNameChar(c))
            return false;
    return true;
}

struct TPathPart {
    std::wstring Name;
    std::wstring Value;
};

// Every ANSI code page maps the bytes below 128 to the same characters, so the usual all-ASCII part needs
// no call into the system.
void AssignWide(std::wstring& out, std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = AnsiToWide(text);
            return;
        }
    out.assign(text.begin(), text.end());
}

// The parts of a path, one after the other: the text up to the first delimiter, each text between two,
// the text after the last; a path without a delimiter is one part. A store walks a path for every value
// it reads or writes, so the current part's texts live in buffers that are reused.
class TPathParts {
public:
    TPathParts(std::string_view path, char delimiter) : rest_(path), delimiter_(delimiter) {}

    bool Next(TPathPart& part)
    {
        if (done_)
            return false;
        size_t at = rest_.find(delimiter_);
        std::string_view text = rest_.substr(0, at);
        if (at == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(at + 1);
        size_t eq = text.find('=');
        AssignWide(part.Name, text.substr(0, eq));
        AssignWide(part.Value, eq == std::string_view::npos ? std::string_view() : text.substr(eq + 1));
        return true;
    }

private:
    std::string_view rest_;
    char delimiter_;
    bool done_ = false;
};

// An 8-bit view of the start of a file in which every character below 128 stands as itself: UTF-16 is
// read by its code units, anything else byte by byte (UTF-8 and the 8-bit encodings agree on ASCII).
std::string AsciiView(const std::string& bytes)
{
    auto byteAt = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    bool little = false, big = false;
    size_t start = 0;
    if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        little = true;
        start = 2;
    } else if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
        big = true;
        start = 2;
    } else if (bytes.size() >= 2 && byteAt(0) == '<' && byteAt(1) == 0) {
        little = true;
    } else if (bytes.size() >= 2 && byteAt(0) == 0 && byteAt(1) == '<') {
        big = true;
    }
    if (!little && !big) {
        if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF)
            return bytes.substr(3);
        return bytes;
    }
    std::string view;
    view.reserve(bytes.size() / 2);
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        unsigned unit = little ? byteAt(i) | (byteAt(i + 1) << 8) : (byteAt(i) << 8) | byteAt(i + 1);
        view.push_back(unit < 0x80 ? static_cast<char>(unit) : '\x80');
    }
    return view;
}

// Looks through the prolog (declaration, comments, processing instructions) up to the root element.
// The store reads a file that people edit by hand: a document type declaration could pull in other files
// or expand entities without bound, and not every DOM library can be told to refuse one.
bool PrologDeclaresDocumentType(const std::string& bytes)
{
    const std::string text = AsciiView(bytes);
    size_t i = 0;
    for (;;) {
        while (i < text.size() && IsXmlBlank(static_cast<unsigned char>(text[i])))
            ++i;
        if (text.compare(i, 2, "<?") == 0) {
            size_t end = text.find("?>", i + 2);
            if (end == std::string::npos)
                return false;
            i = end + 2;
        } else if (text.compare(i, 4, "<!--") == 0) {
            size_t end = text.find("-->", i + 4);
            if (end == std::string::npos)
                return false;
            i = end + 3;
        } else {
            return text.size() >= i + 9 && SameTextAscii(std::string_view(text).substr(i, 9), "<!DOCTYPE");
        }
    }
}

ComPtr<IXMLDOMDocument2> NewDomDocument()
{
    ComPtr<IXMLDOMDocument2> doc;
    OleCheck(CreateDomDocument(doc.GetAddressOf()), "Failed to create the XML document");
    OleCheck(doc->put_async(VARIANT_FALSE));
    // Whitespace is dropped by the store itself, so that values keep their blanks and the library does not
    // reformat what it writes.
    OleCheck(doc->put_preserveWhiteSpace(VARIANT_TRUE));
    OleCheck(doc->put_validateOnParse(VARIANT_FALSE));
    OleCheck(doc->put_resolveExternals(VARIANT_FALSE));
    // Older libraries do not know every property; the prolog check and the doctype check after parsing
    // refuse a DTD in any case.
    VARIANT yes;
    VariantInit(&yes);
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    VARIANT no = yes;
    no.boolVal = VARIANT_FALSE;
    VARIANT depth;
    VariantInit(&depth);
    depth.vt = VT_I4;
    depth.lVal = 256;
    doc->setProperty(MakeBstr(L"ProhibitDTD").get(), yes);
    doc->setProperty(MakeBstr(L"AllowDocumentFunction").get(), no);
    doc->setProperty(MakeBstr(L"AllowXsltScript").get(), no);
    doc->setProperty(MakeBstr(L"MaxElementDepth").get(), depth);
    return doc;
}

ComPtr<IXMLDOMElement> AsElement(IXMLDOMNode* node)
{
    ComPtr<IXMLDOMElement> element;
    OleCheck(node->QueryInterface(kIidDOMElement, reinterpret_cast<void**>(element.GetAddressOf())));
    return element;
}

std::string ParseErrorMessage(IXMLDOMDocument2* doc)
{
    ComPtr<IXMLDOMParseError> error;
    std::wstring reason;
    long line = 0, position = 0;
    if (SUCCEEDED(doc->get_parseError(&error)) && error) {
        BSTR text = nullptr;
        if (SUCCEEDED(error->get_reason(&text))) {
            UniqueBstr owner(text);
            reason = FromBstr(text);
        }
        error->get_line(&line);
        error->get_linepos(&position);
    }
    while (!reason.empty() && (IsXmlBlank(reason.back()) || reason.back() == L'.'))
        reason.pop_back();
    std::string message = reason.empty() ? "The XML document is not well-formed" : WideToAnsi(reason);
    if (line > 0)
        message += Format(" (line %ld, position %ld)", line, position);
    return message;
}

// Every break of the written text becomes CR LF: libraries differ in what they write for the breaks the
// store inserts, and a parser reads CR LF, CR and LF alike.
std::wstring WithCrLf(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\r') {
            out += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else if (c == L'\n') {
            out += L"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

namespace {
thread_local IClassFactory* t_domClass = nullptr;
}

TDomClassScope::TDomClassScope() : previous_(t_domClass)
{
    if (SUCCEEDED(CoGetClassObject(kClsidDOMDocument, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   reinterpret_cast<void**>(&own_))))
        t_domClass = own_;
    else
        own_ = nullptr;
}

TDomClassScope::~TDomClassScope()
{
    if (own_) {
        t_domClass = previous_;
        own_->Release();
    }
}

HRESULT CreateDomDocument(IXMLDOMDocument2** document)
{
    if (t_domClass)
        return t_domClass->CreateInstance(nullptr, kIidDOMDocument2, reinterpret_cast<void**>(document));
    return CoCreateInstance(kClsidDOMDocument, nullptr, CLSCTX_INPROC_SERVER, kIidDOMDocument2,
                            reinterpret_cast<void**>(document));
}

// The store's picture of one element. Child elements stand in document order; since the store only ever
// appends children, the running number Order follows document order too. The index chains the children
// of one name and the children of one Name attribute, so that a path step is a lookup, not a search.
struct TXmlEntry;

struct TXmlChain {
    TXmlEntry* First = nullptr;
    TXmlEntry* Last = nullptr;
};

struct TXmlChildIndex {
    std::unordered_map<std::wstring, TXmlChain> ByName;
    std::unordered_map<std::wstring, TXmlChain> ByKey;
};

struct TXmlEntry {
    ComPtr<IXMLDOMElement> Node;
    std::wstring Name;
    std::optional<std::wstring> Key;
    // The element's text and CDATA content; its value when it has no child elements.
    std::wstring Text;
    TXmlEntry* Parent = nullptr;
    std::list<TXmlEntry> Children;
    std::list<TXmlEntry>::iterator Self;
    // Comments or processing instructions among its children.
    bool HasOtherNodes = false;
    uint64_t Order = 0;
    uint64_t NextOrder = 0;
    TXmlEntry* PrevSameName = nullptr;
    TXmlEntry* NextSameName = nullptr;
    TXmlEntry* PrevSameKey = nullptr;
    TXmlEntry* NextSameKey = nullptr;
    // Made with the first child.
    std::unique_ptr<TXmlChildIndex> Index;
};

namespace {

void Link(TXmlChain& chain, TXmlEntry* entry, TXmlEntry* TXmlEntry::*prev, TXmlEntry* TXmlEntry::*next)
{
    entry->*prev = chain.Last;
    entry->*next = nullptr;
    if (chain.Last)
        chain.Last->*next = entry;
    else
        chain.First = entry;
    chain.Last = entry;
}

void Unlink(std::unordered_map<std::wstring, TXmlChain>& chains, const std::wstring& key, TXmlEntry* entry,
            TXmlEntry* TXmlEntry::*prev, TXmlEntry* TXmlEntry::*next)
{
    auto it = chains.find(key);
    if (it == chains.end())
        return;
    TXmlChain& chain = it->second;
    if (entry->*prev)
        (entry->*prev)->*next = entry->*next;
    else
        chain.First = entry->*next;
    if (entry->*next)
        (entry->*next)->*prev = entry->*prev;
    else
        chain.Last = entry->*prev;
    if (!chain.First)
        chains.erase(it);
}

// An element with a few children is searched along them; one with more gets an index by name and by key. The
// store holds an entry for every element, most of them an item's few values, and an index costs about a
// kilobyte: 10,000 items' worth of them was about 9 MB.
constexpr size_t kIndexedChildren = 16;

void IndexChild(TXmlChildIndex& index, TXmlEntry* entry)
{
    Link(index.ByName[entry->Name], entry, &TXmlEntry::PrevSameName, &TXmlEntry::NextSameName);
    if (entry->Key)
        Link(index.ByKey[*entry->Key], entry, &TXmlEntry::PrevSameKey, &TXmlEntry::NextSameKey);
}

TXmlEntry* AppendEntry(TXmlEntry& parent, ComPtr<IXMLDOMElement> node, std::wstring name,
                       std::optional<std::wstring> key)
{
    TXmlEntry& entry = parent.Children.emplace_back();
    entry.Self = std::prev(parent.Children.end());
    entry.Node = std::move(node);
    entry.Name = std::move(name);
    entry.Key = std::move(key);
    entry.Parent = &parent;
    entry.Order = parent.NextOrder++;
    if (parent.Index) {
        IndexChild(*parent.Index, &entry);
    } else if (parent.Children.size() > kIndexedChildren) {
        parent.Index = std::make_unique<TXmlChildIndex>();
        for (TXmlEntry& child : parent.Children)
            IndexChild(*parent.Index, &child);
    }
    return &entry;
}

void UnlinkEntry(TXmlEntry* entry)
{
    TXmlEntry& parent = *entry->Parent;
    if (parent.Index) {
        Unlink(parent.Index->ByName, entry->Name, entry, &TXmlEntry::PrevSameName, &TXmlEntry::NextSameName);
        if (entry->Key)
            Unlink(parent.Index->ByKey, *entry->Key, entry, &TXmlEntry::PrevSameKey, &TXmlEntry::NextSameKey);
    }
    parent.Children.erase(entry->Self);
}

TXmlEntry* FirstChildNamed(const TXmlEntry& parent, const std::wstring& name)
{
    if (!parent.Index) {
        for (const TXmlEntry& child : parent.Children)
            if (child.Name == name)
                return const_cast<TXmlEntry*>(&child);
        return nullptr;
    }
    auto it = parent.Index->ByName.find(name);
    return it == parent.Index->ByName.end() ? nullptr : it->second.First;
}

// One path step: the first child called name, or with a value, the first element from there on (whatever
// its name) whose Name attribute equals the value.
TXmlEntry* FindStep(const TXmlEntry& parent, const TPathPart& part)
{
    TXmlEntry* first = FirstChildNamed(parent, part.Name);
    if (!first || part.Value.empty())
        return first;
    if (!parent.Index) {
        for (auto it = first->Self; it != parent.Children.end(); ++it)
            if (it->Key && *it->Key == part.Value)
                return &*it;
        return nullptr;
    }
    auto it = parent.Index->ByKey.find(part.Value);
    if (it == parent.Index->ByKey.end())
        return nullptr;
    for (TXmlEntry* e = it->second.First; e; e = e->NextSameKey)
        if (e->Order >= first->Order)
            return e;
    return nullptr;
}

std::optional<std::wstring> NameAttribute(IXMLDOMElement* element, BSTR attributeName)
{
    TVariant value;
    HRESULT hr = element->getAttribute(attributeName, &value.v);
    OleCheck(hr);
    if (hr == S_OK && value.v.vt == VT_BSTR)
        return FromBstr(value.v.bstrVal);
    return std::nullopt;
}

// Fills an entry from its element: child elements become entries, text and CDATA make the value, and
// whitespace-only text (the layout of a file) is taken out of the document.
void ReadElement(TXmlEntry& entry, BSTR attributeName)
{
    ComPtr<IXMLDOMNode> child;
    OleCheck(entry.Node->get_firstChild(&child));
    while (child) {
        ComPtr<IXMLDOMNode> next;
        OleCheck(child->get_nextSibling(&next));
        DOMNodeType type;
        OleCheck(child->get_nodeType(&type));
        if (type == NODE_ELEMENT) {
            ComPtr<IXMLDOMElement> element = AsElement(child.Get());
            std::optional<std::wstring> key = NameAttribute(element.Get(), attributeName);
            TXmlEntry* added = AppendEntry(entry, element, NodeName(child.Get()), std::move(key));
            ReadElement(*added, attributeName);
        } else if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
            TVariant value;
            OleCheck(child->get_nodeValue(&value.v));
            std::wstring text = value.v.vt == VT_BSTR ? FromBstr(value.v.bstrVal) : std::wstring();
            if (type == NODE_TEXT && IsBlankText(text)) {
                ComPtr<IXMLDOMNode> removed;
                OleCheck(entry.Node->removeChild(child.Get(), &removed));
            } else {
                entry.Text += text;
            }
        } else {
            entry.HasOtherNodes = true;
        }
        child = next;
    }
}

// Lays out the written text of an element: every element whose content is elements, comments or processing
// instructions gets its children one per line, two spaces deeper than itself. Content with text (CDATA is
// text) is left alone, since added blanks would join its text; elements inside it are still laid out at their
// own depth. The text is the serializer's, so well formed: attribute values are quoted, and comments,
// instructions and CDATA sections end at their own markers. Some serializers lay out such content themselves
// (Wine's, with tabs); the document holds no blank text beside elements (the store drops it when it reads), so
// blanks between the children of a laid-out element are the serializer's and give way to ours. Two passes over
// the tags: one learns which elements are laid out, one writes.
std::wstring IndentXml(const std::wstring& xml)
{
    enum class Kind { Open, Empty, Close, Text, Blank, Other };
    struct Token {
        Kind kind;
        size_t begin;
        size_t end;
        // The element that holds it (for a closing tag: the one it closes); -1 for the outermost.
        ptrdiff_t owner;
    };
    std::vector<Token> tokens;
    const size_t n = xml.size();
    auto endOf = [&](const wchar_t* marker, size_t from) {
        size_t at = xml.find(marker, from);
        Assert(at != std::wstring::npos, "Unterminated markup in written XML", kUnit, __LINE__);
        return at + std::wcslen(marker);
    };
    for (size_t i = 0; i < n;) {
        Token token{Kind::Text, i, n, -1};
        if (xml[i] != L'<') {
            token.end = std::min(xml.find(L'<', i), n);
            if (std::all_of(xml.begin() + static_cast<ptrdiff_t>(i), xml.begin() + static_cast<ptrdiff_t>(token.end),
                            IsXmlBlank))
                token.kind = Kind::Blank;
        } else if (xml.compare(i, 4, L"<!--") == 0) {
            token = {Kind::Other, i, endOf(L"-->", i + 4), -1};
        } else if (xml.compare(i, 9, L"<![CDATA[") == 0) {
            token = {Kind::Text, i, endOf(L"]]>", i + 9), -1};
        } else if (xml.compare(i, 2, L"<?") == 0) {
            token = {Kind::Other, i, endOf(L"?>", i + 2), -1};
        } else if (xml.compare(i, 2, L"</") == 0) {
            token = {Kind::Close, i, endOf(L">", i + 2), -1};
        } else {
            size_t j = i + 1;
            for (wchar_t quote = 0; j < n; ++j) {
                wchar_t c = xml[j];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == L'"' || c == L'\'') {
                    quote = c;
                } else if (c == L'>') {
                    break;
                }
            }
            Assert(j < n, "Unterminated tag in written XML", kUnit, __LINE__);
            token = {xml[j - 1] == L'/' ? Kind::Empty : Kind::Open, i, j + 1, -1};
        }
        tokens.push_back(token);
        i = token.end;
    }

    // Which elements hold other nodes and which hold text, and how deep each is.
    std::vector<char> hasNodes(tokens.size()), hasText(tokens.size());
    std::vector<int> depth(tokens.size());
    std::vector<ptrdiff_t> open;
    for (size_t k = 0; k < tokens.size(); ++k) {
        Token& token = tokens[k];
        if (token.kind == Kind::Close) {
            Assert(!open.empty(), "Unbalanced tags in written XML", kUnit, __LINE__);
            token.owner = open.back();
            open.pop_back();
            continue;
        }
        token.owner = open.empty() ? -1 : open.back();
        if (token.owner >= 0 && token.kind != Kind::Blank)
            (token.kind == Kind::Text ? hasText : hasNodes)[static_cast<size_t>(token.owner)] = 1;
        if (token.kind == Kind::Open) {
            depth[k] = token.owner >= 0 ? depth[static_cast<size_t>(token.owner)] + 1 : 0;
            open.push_back(static_cast<ptrdiff_t>(k));
        }
    }

    std::wstring out;
    out.reserve(n + n / 2);
    auto newLine = [&](int level) {
        out += L'\n';
        out.append(static_cast<size_t>(2 * level), L' ');
    };
    auto laidOut = [&](ptrdiff_t owner) {
        return owner >= 0 && hasNodes[static_cast<size_t>(owner)] && !hasText[static_cast<size_t>(owner)];
    };
    for (const Token& token : tokens) {
        if (token.kind == Kind::Blank && (token.owner < 0 || laidOut(token.owner)))
            continue;
        if (laidOut(token.owner)) {
            size_t owner = static_cast<size_t>(token.owner);
            newLine(token.kind == Kind::Close ? depth[owner] : depth[owner] + 1);
        }
        out.append(xml, token.begin, token.end - token.begin);
    }
    return out;
}

} // namespace

TCustomXMLOptions::TCustomXMLOptions() = default;

TCustomXMLOptions::~TCustomXMLOptions() = default;

HRESULT TCustomXMLOptions::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (riid == __uuidof(ICommonOptions) || riid == __uuidof(IXMLOptions)) {
        *object = static_cast<IXMLOptions*>(this);
        AddRef();
        return S_OK;
    }
    return TInterfacedObject::QueryInterface(riid, object);
}

ULONG TCustomXMLOptions::AddRef() { return TInterfacedObject::AddRef(); }

ULONG TCustomXMLOptions::Release() { return TInterfacedObject::Release(); }

void TCustomXMLOptions::NewDocument()
{
    TWriteLockGuard guard(lock_);
    ComPtr<IXMLDOMDocument2> doc = NewDomDocument();
    ComPtr<IXMLDOMProcessingInstruction> declaration;
    OleCheck(doc->createProcessingInstruction(MakeBstr(L"xml").get(), MakeBstr(kDeclaration).get(), &declaration));
    ComPtr<IXMLDOMNode> out;
    OleCheck(doc->appendChild(declaration.Get(), &out));
    ComPtr<IXMLDOMElement> root;
    OleCheck(doc->createElement(MakeBstr(L"Options").get(), &root));
    OleCheck(doc->putref_documentElement(root.Get()));
    auto entry = std::make_unique<TXmlEntry>();
    entry->Node = root;
    entry->Name = L"Options";
    document_ = doc;
    root_ = std::move(entry);
    modified_ = false;
}

void TCustomXMLOptions::LoadDocument(const std::string& bytes)
{
    TWriteLockGuard guard(lock_);
    if (PrologDeclaresDocumentType(bytes))
        throw EXMLDocError(kDtdProhibited);
    ComPtr<IXMLDOMDocument2> doc = NewDomDocument();

    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array)
        throw EOleError("Out of memory", E_OUTOFMEMORY);
    struct TArrayOwner {
        SAFEARRAY* a;
        ~TArrayOwner() { SafeArrayDestroy(a); }
    } arrayOwner{array};
    if (!bytes.empty()) {
        void* data = nullptr;
        OleCheck(SafeArrayAccessData(array, &data));
        memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = doc->load(source, &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE)
        throw EXMLDocError(ParseErrorMessage(doc.Get()));

    ComPtr<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(doc->get_doctype(&doctype)) && doctype)
        throw EXMLDocError(kDtdProhibited);

    std::unique_ptr<TXmlEntry> root;
    ComPtr<IXMLDOMElement> element;
    if (SUCCEEDED(doc->get_documentElement(&element)) && element) {
        root = std::make_unique<TXmlEntry>();
        root->Node = element;
        root->Name = NodeName(element.Get());
        ReadElement(*root, MakeBstr(L"Name").get());
    }
    document_ = doc;
    root_ = std::move(root);
    modified_ = false;
}

std::string TCustomXMLOptions::SaveDocument()
{
    TReadLockGuard guard(lock_);
    std::wstring text = L"<?xml ";
    text += kDeclaration;
    text += L"?>\n";
    ComPtr<IXMLDOMNode> node;
    OleCheck(document_->get_firstChild(&node));
    while (node) {
        DOMNodeType type;
        OleCheck(node->get_nodeType(&type));
        if (type == NODE_ELEMENT) {
            text += IndentXml(NodeXml(node.Get()));
            text += L"\n";
        } else if (!(type == NODE_PROCESSING_INSTRUCTION && NodeName(node.Get()) == L"xml")) {
            text += NodeXml(node.Get());
            text += L"\n";
        }
        ComPtr<IXMLDOMNode> next;
        OleCheck(node->get_nextSibling(&next));
        node = next;
    }
    return WideToUtf8(WithCrLf(text));
}

void TCustomXMLOptions::MarkSaved()
{
    TWriteLockGuard guard(lock_);
    modified_ = false;
}

TXmlEntry* TCustomXMLOptions::FindEntry(const std::string& path)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* current = root_.get();
    TPathParts parts(path, PathDelimiter());
    TPathPart part;
    while (current && parts.Next(part))
        current = FindStep(*current, part);
    return current;
}

TXmlEntry* TCustomXMLOptions::CreateEntry(const std::string& path)
{
    TWriteLockGuard guard(lock_);
    TXmlEntry* current = root_.get();
    TPathParts parts(path, PathDelimiter());
    TPathPart part;
    while (parts.Next(part)) {
        if (!current)
            throw EXMLOptionsError(Format("Failed to create item by path: %s", path.c_str()));
        TXmlEntry* next = FindStep(*current, part);
        if (!next) {
            if (!IsElementName(part.Name))
                throw EXMLOptionsError(Format("Failed to create item by path: %s", path.c_str()));
            ComPtr<IXMLDOMElement> element;
            OleCheck(document_->createElement(MakeBstr(part.Name).get(), &element));
            std::optional<std::wstring> key;
            if (!part.Value.empty()) {
                VARIANT value;
                VariantInit(&value);
                UniqueBstr valueText = MakeBstr(part.Value);
                value.vt = VT_BSTR;
                value.bstrVal = valueText.get();
                OleCheck(element->setAttribute(MakeBstr(L"Name").get(), value));
                key = part.Value;
            }
            ComPtr<IXMLDOMNode> out;
            OleCheck(current->Node->appendChild(element.Get(), &out));
            modified_ = true;
            next = AppendEntry(*current, element, part.Name, std::move(key));
        }
        current = next;
    }
    if (!current)
        throw EXMLOptionsError(Format("Failed to create item by path: %s", path.c_str()));
    return current;
}

TOptionValue TCustomXMLOptions::ReadValue(const TXmlEntry& entry)
{
    if (!entry.Children.empty())
        throw EXMLDocError(kNotSingleTextNode);
    if (entry.Text.empty())
        return TOptionValue::Null();
    return TOptionValue(entry.Text);
}

void TCustomXMLOptions::RemoveEntry(TXmlEntry* entry)
{
    Assert(entry->Parent != nullptr, "Element has no parent", kUnit, __LINE__);
    ComPtr<IXMLDOMNode> removed;
    OleCheck(entry->Parent->Node->removeChild(entry->Node.Get(), &removed));
    modified_ = true;
    UnlinkEntry(entry);
}

ComPtr<IXMLDOMElement> TCustomXMLOptions::FindNode(const std::string& path)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    return entry ? entry->Node : nullptr;
}

ComPtr<IXMLDOMElement> TCustomXMLOptions::CreateNode(const std::string& path)
{
    TWriteLockGuard guard(lock_);
    return CreateEntry(path)->Node;
}

TOptionValue TCustomXMLOptions::GetValue(const std::string& path)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    return entry ? ReadValue(*entry) : MissingValue();
}

TOptionValue TCustomXMLOptions::GetValueDef(const std::string& path, const TOptionValue& def)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    return entry ? ReadValue(*entry) : def;
}

std::string TCustomXMLOptions::GetString(const std::string& path)
{
    TOptionValue value = GetValue(path);
    if (value.IsMissing())
        throw EXMLOptionsError(Format("Value for path \"%s\" not found", path.c_str()));
    return WideToAnsi(value.ToText());
}

std::string TCustomXMLOptions::GetStringDef(const std::string& path, const std::string& def)
{
    TOptionValue value = GetValue(path);
    if (value.IsMissing() || value.IsNull())
        return def;
    return WideToAnsi(value.ToText());
}

void TCustomXMLOptions::SetValue(const std::string& path, const TOptionValue& value)
{
    const std::wstring text = value.ToText();
    if (!IsStorableText(text))
        throw EXMLOptionsError(
            Format("Value for path \"%s\" holds a character that cannot be stored in XML", path.c_str()));
    TWriteLockGuard guard(lock_);
    // The creating walk finds what exists and adds only what is missing.
    TXmlEntry* entry = CreateEntry(path);
    if (!entry->Children.empty())
        throw EXMLDocError(kNotSingleTextNode);
    OleCheck(entry->Node->put_text(MakeBstr(text).get()));
    entry->Text = text;
    entry->HasOtherNodes = false;
    modified_ = true;
}

bool TCustomXMLOptions::HasValue(const std::string& path)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    return entry && !ReadValue(*entry).IsNull();
}

void TCustomXMLOptions::RemoveNode(const std::string& path)
{
    TWriteLockGuard guard(lock_);
    if (TXmlEntry* entry = FindEntry(path))
        RemoveEntry(entry);
}

bool TCustomXMLOptions::PathExists(const std::string& path)
{
    TReadLockGuard guard(lock_);
    return FindEntry(path) != nullptr;
}

std::optional<std::vector<std::wstring>> TCustomXMLOptions::GetWideChildList(const std::string& path)
{
    TReadLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    if (!entry)
        return std::nullopt;
    std::vector<std::wstring> list;
    list.reserve(entry->Children.size());
    for (const TXmlEntry& child : entry->Children)
        list.push_back(child.Children.empty() ? child.Name + L"=" + child.Text : child.Name + L"=");
    return list;
}

std::optional<std::vector<std::string>> TCustomXMLOptions::GetChildList(const std::string& path)
{
    std::optional<std::vector<std::wstring>> wide = GetWideChildList(path);
    if (!wide)
        return std::nullopt;
    std::vector<std::string> list;
    list.reserve(wide->size());
    for (const std::wstring& item : *wide)
        list.push_back(WideToAnsi(item));
    return list;
}

std::wstring TCustomXMLOptions::GetWideString(const std::string& path)
{
    TOptionValue value = GetValue(path);
    if (value.IsMissing())
        throw EXMLOptionsError(Format("Value for path \"%s\" not found", path.c_str()));
    return value.ToText();
}

std::wstring TCustomXMLOptions::GetWideStringDef(const std::string& path, const std::wstring& def)
{
    TOptionValue value = GetValueDef(path, TOptionValue(def));
    return value.IsNull() ? std::wstring() : value.ToText();
}

void TCustomXMLOptions::SetWideString(const std::string& path, const std::wstring& value)
{
    SetValue(path, TOptionValue(value));
}

bool TCustomXMLOptions::IsModified()
{
    TReadLockGuard guard(lock_);
    return modified_;
}

std::string TCustomXMLOptions::IncludeTrailingDelimiter(const std::string& path)
{
    const char delimiter = PathDelimiter();
    if (path.empty() || path.back() == delimiter)
        return path;
    return path + delimiter;
}

std::string TCustomXMLOptions::MakePath(const std::vector<std::string>& parts)
{
    std::string path;
    for (const std::string& part : parts)
        path = IncludeTrailingDelimiter(path) + part;
    return path;
}

// The element of that name that is removed is the first of its siblings, which differs from the resolved
// one only when a Name attribute selected a later sibling.
void TCustomXMLOptions::DeleteChild(const std::string& path)
{
    TWriteLockGuard guard(lock_);
    TXmlEntry* entry = FindEntry(path);
    if (!entry)
        return;
    Assert(entry->Parent != nullptr, "Element has no parent", kUnit, __LINE__);
    RemoveEntry(FirstChildNamed(*entry->Parent, entry->Name));
}

void TCustomXMLOptions::BeginWrite() { lock_.BeginWrite(); }

void TCustomXMLOptions::EndWrite() { lock_.EndWrite(); }

bool TCustomXMLOptions::HasChildren()
{
    TReadLockGuard guard(lock_);
    if (!root_)
        return false;
    VARIANT_BOOL has = VARIANT_FALSE;
    OleCheck(root_->Node->hasChildNodes(&has));
    return has == VARIANT_TRUE;
}

TXMLOptions::TXMLOptions(std::string fileName) : fileName_(std::move(fileName))
{
    Assert(!fileName_.empty(), "File name not assigned", kUnit, __LINE__);
    DWORD attributes = GetFileAttributesW(AnsiToWide(fileName_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        Load();
    else
        Clear();
}

void TXMLOptions::Load()
{
    TWriteLockGuard guard(Lock());
    // Shared for writing and deleting too, so that a save of another process can replace the file meanwhile.
    UniqueHandle file(NullIfInvalid(CreateFileW(AnsiToWide(fileName_).c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file)
        throw ELastWin32Error();
    LARGE_INTEGER size;
    Win32Check(GetFileSizeEx(file.get(), &size));
    if (size.QuadPart > 0x7fffffff)
        throw EXMLDocError("The XML file is too large");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        Win32Check(ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr));
        if (read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    LoadDocument(bytes);
}

void TXMLOptions::Save()
{
    TWriteLockGuard guard(Lock());
    WriteFileReplacing(AnsiToWide(fileName_), SaveDocument());
    MarkSaved();
}

void TXMLOptions::Clear() { NewDocument(); }

// Wine's ReplaceFileW is not atomic, and writing the target in place leaves it truncated when the process
// dies midway; a rename within one folder replaces the file as one step. A reader holding the old file
// open makes the rename fail for a moment, hence the few retries.
void WriteFileReplacing(const std::wstring& fileName, const std::string& content)
{
    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    UniqueHandle file;
    for (int attempt = 0; !file; ++attempt) {
        temp = fileName + FormatW(L".%08lX%04X.tmp", GetCurrentProcessId(), counter.fetch_add(1) & 0xFFFF);
        file = UniqueHandle(NullIfInvalid(
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!file && (GetLastError() != ERROR_FILE_EXISTS || attempt >= 100))
            throw ELastWin32Error();
    }
    struct TTempRemover {
        const std::wstring& name;
        bool keep = false;
        ~TTempRemover()
        {
            if (!keep)
                DeleteFileW(name.c_str());
        }
    } remover{temp};

    size_t done = 0;
    while (done < content.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1 << 20));
        DWORD written = 0;
        Win32Check(WriteFile(file.get(), content.data() + done, chunk, &written, nullptr));
        done += written;
    }
    Win32Check(FlushFileBuffers(file.get()));
    HANDLE h = file.release();
    Win32Check(CloseHandle(h));

    constexpr int kRetries = 10;
    constexpr DWORD kRetryDelayMs = 50;
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temp.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            remover.keep = true;
            return;
        }
        DWORD error = GetLastError();
        bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt >= kRetries)
            throw ELastWin32Error(error);
        Sleep(kRetryDelayMs);
    }
}
