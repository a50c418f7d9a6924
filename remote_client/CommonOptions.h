// The path-addressed options store: interfaces and the value type that its operations pass.
#pragma once

#include "InterfaceObjects.h"
#include "Uuid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A stored value: null (no value), the marker of a path that does not resolve, text, or an integer.
class TOptionValue {
public:
    enum class Kind { Null, Missing, Text, Integer };

    TOptionValue() = default;
    TOptionValue(const wchar_t* text) : kind_(Kind::Text), text_(text) {}
    TOptionValue(std::wstring text) : kind_(Kind::Text), text_(std::move(text)) {}
    TOptionValue(int value) : kind_(Kind::Integer), integer_(value) {}
    TOptionValue(int64_t value) : kind_(Kind::Integer), integer_(value) {}
    static TOptionValue Null() { return {}; }
    static TOptionValue Missing()
    {
        TOptionValue v;
        v.kind_ = Kind::Missing;
        return v;
    }

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    bool IsMissing() const { return kind_ == Kind::Missing; }
    // The text form: an integer in decimal; null and missing give the empty text.
    std::wstring ToText() const;
    // The value as a 32-bit integer; raises the conversion error for null, missing and non-numeric text.
    int ToInteger() const;

    bool operator==(const TOptionValue& other) const = default;

private:
    Kind kind_ = Kind::Null;
    std::wstring text_;
    int64_t integer_ = 0;
};

// The marker that a read of a path that does not resolve returns; neither null nor empty.
inline TOptionValue MissingValue() { return TOptionValue::Missing(); }

struct ICommonOptions;
MENDREL_DECLARE_UUID(ICommonOptions, "0C4B7E59-3C36-4E0B-9D3B-6E1A4F7B8A21", 0x0c4b7e59, 0x3c36, 0x4e0b, 0x9d, 0x3b,
                     0x6e, 0x1a, 0x4f, 0x7b, 0x8a, 0x21)
struct IXMLOptions;
MENDREL_DECLARE_UUID(IXMLOptions, "5A0E3D2C-8F61-4C59-B7A4-2D9E0C6F1B33", 0x5a0e3d2c, 0x8f61, 0x4c59, 0xb7, 0xa4, 0x2d,
                     0x9e, 0x0c, 0x6f, 0x1b, 0x33)

// Paths are 8-bit text, parts separated by PathDelimiter; a part is a name or name=value (see XmlTools.cpp).
struct ICommonOptions : public IUnknown {
    virtual TOptionValue GetValue(const std::string& path) = 0;
    virtual TOptionValue GetValueDef(const std::string& path, const TOptionValue& def) = 0;
    virtual std::string GetString(const std::string& path) = 0;
    virtual std::string GetStringDef(const std::string& path, const std::string& def) = 0;
    virtual void SetValue(const std::string& path, const TOptionValue& value) = 0;
    virtual bool HasValue(const std::string& path) = 0;
    virtual void RemoveNode(const std::string& path) = 0;
    virtual bool PathExists(const std::string& path) = 0;
    // No list when the path does not resolve; else one entry per child element: name=text or name=.
    virtual std::optional<std::vector<std::string>> GetChildList(const std::string& path) = 0;
    virtual std::optional<std::vector<std::wstring>> GetWideChildList(const std::string& path) = 0;
    virtual std::wstring GetWideString(const std::string& path) = 0;
    virtual std::wstring GetWideStringDef(const std::string& path, const std::wstring& def) = 0;
    virtual void SetWideString(const std::string& path, const std::wstring& value) = 0;
    virtual bool IsModified() = 0;
    virtual char PathDelimiter() = 0;
    virtual std::string IncludeTrailingDelimiter(const std::string& path) = 0;
    virtual std::string MakePath(const std::vector<std::string>& parts) = 0;
    virtual void DeleteChild(const std::string& path) = 0;
    virtual void BeginWrite() = 0;
    virtual void EndWrite() = 0;
    virtual void Load() = 0;
    virtual void Save() = 0;
};

struct IXMLOptions : public ICommonOptions {
    virtual void Clear() = 0;
};
