// The path-addressed options store over an MSXML document, and its file-backed form.
//
// A path is 8-bit text in the system code page, parts separated by PathDelimiter ("/"), the first part
// naming a child of the root element (the root itself is never named). A part is either a plain element
// name, which selects the first child element of that name, or name=value, which selects, from the first
// child element called name on, the first element among it and its following siblings (whatever their
// name) whose attribute Name equals value. An empty value after "=" is the plain name; parts are used as
// they stand, and an empty part never resolves.
//
// A value is the text of an element without child elements; an empty text reads as null, a path that does
// not resolve as MissingValue. Reading or writing the value of an element that has child elements fails
// with "Element does not contain a single text node". Writing creates the missing elements of the path (appended as
// last children, with the attribute Name for a name=value part).
//
// The store keeps, beside the document, an index of every element's child elements by name and by Name
// attribute, so that each path step costs the same however many siblings an element has.
#pragma once

#include "CommonOptions.h"
#include "Exceptions.h"
#include "ReadWriteLock.h"

#include <msxml2.h>
#include <wrl/client.h>

#include <memory>
#include <string>

// The documents of MSXML's DOM that this program makes (DOMDocument, IXMLDOMDocument2). While a TDomClassScope
// lives on a thread, the documents made on that thread come from one class object instead of a lookup of the
// class's registration each (the check workers make one for every report); without one, CoCreateInstance makes
// each. A scope belongs to its thread and ends before the thread leaves COM.
class TDomClassScope {
public:
    TDomClassScope();
    ~TDomClassScope();
    TDomClassScope(const TDomClassScope&) = delete;
    TDomClassScope& operator=(const TDomClassScope&) = delete;

private:
    IClassFactory* previous_;
    IClassFactory* own_ = nullptr;
};
HRESULT CreateDomDocument(IXMLDOMDocument2** document);

// The store's own errors ("Value for path ... not found", "Failed to create item by path: ...").
class EXMLOptionsError : public Exception {
public:
    using Exception::Exception;
};

// The XML library's errors: a file that does not parse, a refused DTD, a value element with child elements.
class EXMLDocError : public Exception {
public:
    using Exception::Exception;
};

struct TXmlEntry;

// Reference-counted: freed when the last interface reference goes; nothing is saved then.
// Reading operations hold the read side of the lock, changing ones the write side.
class TCustomXMLOptions : public TInterfacedObject, public IXMLOptions {
public:
    ~TCustomXMLOptions() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    TOptionValue GetValue(const std::string& path) override;
    TOptionValue GetValueDef(const std::string& path, const TOptionValue& def) override;
    std::string GetString(const std::string& path) override;
    std::string GetStringDef(const std::string& path, const std::string& def) override;
    void SetValue(const std::string& path, const TOptionValue& value) override;
    bool HasValue(const std::string& path) override;
    void RemoveNode(const std::string& path) override;
    bool PathExists(const std::string& path) override;
    std::optional<std::vector<std::string>> GetChildList(const std::string& path) override;
    std::optional<std::vector<std::wstring>> GetWideChildList(const std::string& path) override;
    // A path that does not resolve raises the same error as GetString.
    std::wstring GetWideString(const std::string& path) override;
    std::wstring GetWideStringDef(const std::string& path, const std::wstring& def) override;
    void SetWideString(const std::string& path, const std::wstring& value) override;
    bool IsModified() override;
    std::string IncludeTrailingDelimiter(const std::string& path) override;
    std::string MakePath(const std::vector<std::string>& parts) override;
    void DeleteChild(const std::string& path) override;
    void BeginWrite() override;
    void EndWrite() override;

    // True when the root element has at least one child node.
    virtual bool HasChildren();
    // Resolves the path, creating what is missing; returns the element. The element is for reading:
    // changes made to it directly bypass the store's index.
    virtual Microsoft::WRL::ComPtr<IXMLDOMElement> CreateNode(const std::string& path);
    // The element a path resolves to, or null; for reading only.
    Microsoft::WRL::ComPtr<IXMLDOMElement> FindNode(const std::string& path);

protected:
    TCustomXMLOptions();

    // Replaces the document by a new empty one: the declaration and the root element Options.
    void NewDocument();
    // Parses the bytes of a file (UTF-8 with or without a byte-order mark, or any encoding its declaration
    // names) and, only when that succeeds, replaces the document. A document type declaration is refused.
    void LoadDocument(const std::string& bytes);
    // The document as the UTF-8 text of a file: the declaration, CR LF line breaks, two spaces per level.
    std::string SaveDocument();
    void MarkSaved();
    TReadWriteLock& Lock() { return lock_; }

private:
    TXmlEntry* FindEntry(const std::string& path);
    TXmlEntry* CreateEntry(const std::string& path);
    TOptionValue ReadValue(const TXmlEntry& entry);
    void RemoveEntry(TXmlEntry* entry);

    TReadWriteLock lock_;
    Microsoft::WRL::ComPtr<IXMLDOMDocument2> document_;
    std::unique_ptr<TXmlEntry> root_;
    bool modified_ = false;
};

// The store on one file. Construction loads the file when it exists, else starts an empty document;
// nothing is written until Save.
class TXMLOptions : public TCustomXMLOptions {
public:
    // The file name is narrow text in the system code page and must not be empty.
    explicit TXMLOptions(std::string fileName);

    // Reads the file into the document, replacing it; a failure keeps the document as it was.
    void Load() override;
    // Writes the document to the file, replacing it only once the new content is wholly on disk.
    void Save() override;
    void Clear() override;
    char PathDelimiter() override { return '/'; }

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};

// Replaces a file's content as one step: a temporary file in the same folder is written and flushed, then
// moved over the target. A failure leaves the target as it was and raises the system's message.
void WriteFileReplacing(const std::wstring& fileName, const std::string& content);
