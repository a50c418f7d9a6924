// The service's settings file "DravexMendrel.ini" held in memory, the settings-frame interface and the table of
// the keys that the frames edit.
#pragma once

#include "Exceptions.h"
#include "InterfaceObjects.h"
#include "Uuid.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr const wchar_t* kSettingsFileName = L"DravexMendrel.ini";

// The folder of the running executable with a trailing delimiter, then "DravexMendrel.ini".
std::wstring SettingsFilePath();

// Raised when the settings file exists but cannot be read.
class EFOpenError : public EOSError {
public:
    using EOSError::EOSError;
};

// Raised when the settings file cannot be written: "Cannot create file "%s". %s".
class EFCreateError : public EOSError {
public:
    using EOSError::EOSError;
};

// "Cannot create file "%s". %s" and "Cannot open file "%s". %s" with the system's text for the code.
[[noreturn]] void RaiseCreateError(const std::wstring& fileName, DWORD code);
[[noreturn]] void RaiseOpenError(const std::wstring& fileName, DWORD code);
// Writes the bytes to a file beside fileName that then takes its place in one step. A failure raises
// EFCreateError and leaves the file as it was.
void ReplaceFileBytes(const std::wstring& fileName, const std::string& bytes);

// Reads a stored number: signed 32-bit decimal, or hexadecimal after "0x"/"0X" (more than two characters).
// False for anything else, including values outside the signed 32-bit range.
bool TryParseSettingsInteger(std::string_view text, int& value);

// The whole settings file in memory: sections and their lines in file order. Section names and keys are
// compared without regard to letter case. All texts are 8-bit, in the ANSI code page.
class TSettingsImage : public TObject {
public:
    // An empty image that belongs to no file.
    TSettingsImage() = default;
    // Reads the file; a missing file gives an empty image. An existing file that cannot be read raises EFOpenError.
    explicit TSettingsImage(std::wstring fileName);
    TSettingsImage(TSettingsImage&& other) noexcept
        : TObject(), fileName_(std::move(other.fileName_)), sections_(std::move(other.sections_))
    {
    }

    const std::wstring& FileName() const { return fileName_; }

    // Replaces the image with the sections of a file's text; GetText gives the text that UpdateFile writes.
    void SetText(std::string_view text);
    std::string GetText() const;

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // The names of the sections, and the lines of one section, as they stand in the image.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> SectionLines(std::string_view section) const;

    // The stored value, or the default when the section or the key is absent; an empty value stays empty.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // The stored number, or the default when absent or not a valid number.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    void WriteInteger(std::string_view section, std::string_view key, int value);
    // A flag is true exactly when its text is "True" in any letter case; absent, the default decides.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // Text held as Unicode by the frames, stored in the ANSI code page.
    std::wstring ReadWideString(std::string_view section, std::string_view key, std::wstring_view def) const;
    void WriteWideString(std::string_view section, std::string_view key, std::wstring_view value);

    // Rewrites the whole file from the image. A failure raises EFCreateError and leaves the file as it was.
    void UpdateFile() const;

private:
    struct TLine {
        std::string text;                     // "key=value", or a line without "=" kept as it was read
        size_t keyLength = std::string::npos; // npos: the line holds no "="
    };
    struct TSection {
        std::string name;
        std::vector<TLine> lines;
    };

    const TSection* FindSection(std::string_view name) const;
    TSection* FindSection(std::string_view name);
    static const TLine* FindLine(const TSection& section, std::string_view key);

    std::wstring fileName_;
    std::vector<TSection> sections_;
};

// The settings-frame interface: every settings frame loads its keys from the image and saves them into it.
struct ISettingsFrame;
MENDREL_DECLARE_UUID(ISettingsFrame, "D7E5AC9D-EF75-4E80-A0E2-749F3D939C1E", 0xd7e5ac9d, 0xef75, 0x4e80, 0xa0, 0xe2,
                     0x74, 0x9f, 0x3d, 0x93, 0x9c, 0x1e)
struct ISettingsFrame : public IUnknown {
    // Reads this frame's keys from the image into its controls.
    virtual void STDMETHODCALLTYPE LoadSettings(TSettingsImage& image) = 0;
    // Writes this frame's controls into the image (not to disk).
    virtual void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) = 0;
};
extern const IID IID_ISettingsFrame;

// Saves every open frame into the image in item order (null entries are closed items), then writes the file.
void SaveAllSettings(TSettingsImage& image, std::span<ISettingsFrame* const> frames);

// The range of a spin field. Equal minimum and maximum mean no limits.
struct TSpinRange {
    int MinValue = 0;
    int MaxValue = 0;
    int Increment = 1;

    constexpr bool HasLimits() const { return MinValue != MaxValue; }
    // A value set into the field: clamped into the range when the field has limits.
    int Clamp(int64_t value) const;
    // The field's value for its text: empty or invalid text gives the minimum; digits beyond the 32-bit range
    // count as beyond the maximum (or the minimum, for a negative number) when the field has limits.
    int ValueFromText(std::wstring_view text) const;
};

enum class TSettingKind { Flag, Number, Text };
// Where a key's default comes from when it is not a fixed text or number.
enum class TGeneratedDefault { None, UserName, Password };

// One key that a frame edits, with its default and, for numbers, the range of its spin field.
struct TSettingKey {
    const char* Section;
    const char* Key;
    TSettingKind Kind;
    const char* DefaultText; // flags and texts; empty for a generated default
    int DefaultNumber;       // numbers
    TGeneratedDefault Generated;
    TSpinRange Range; // numbers
};

namespace SettingKeys {
constexpr TSpinRange kBytesRange{0, 2000000000, 65536};
constexpr TSpinRange kMillisecondsRange{0, 2000000000, 1000};
constexpr TSpinRange kPortRange{0, 0, 1};

constexpr TSettingKey DisableShutdown{
    "Behaviour", "DisableShutdown", TSettingKind::Flag, "False", 0, TGeneratedDefault::None, {}};
constexpr TSettingKey InitialReserveBytes{"Memory", "InitialReserveBytes",   TSettingKind::Number, "",
                                          10240000, TGeneratedDefault::None, kBytesRange};
constexpr TSettingKey RebootOnOverflowEnabled{
    "Memory", "RebootOnOverflowEnabled", TSettingKind::Flag, "False", 0, TGeneratedDefault::None, {}};
constexpr TSettingKey CheckBytes{"Memory",   "CheckBytes", TSettingKind::Number, "", 1024000, TGeneratedDefault::None,
                                 kBytesRange};
constexpr TSettingKey CheckIntervalMSec{"Memory", "CheckIntervalMSec",     TSettingKind::Number, "",
                                        30000,    TGeneratedDefault::None, kMillisecondsRange};
constexpr TSettingKey RemoteEnabled{"Remote", "Enabled", TSettingKind::Flag, "False", 0, TGeneratedDefault::None, {}};
constexpr TSettingKey Port{"Remote", "Port", TSettingKind::Number, "", 3745, TGeneratedDefault::None, kPortRange};
constexpr TSettingKey Login{"Remote", "Login", TSettingKind::Text, "", 0, TGeneratedDefault::UserName, {}};
constexpr TSettingKey Password{"Remote", "Password", TSettingKind::Text, "", 0, TGeneratedDefault::Password, {}};
constexpr TSettingKey PagesFolder{"Remote", "PagesFolder", TSettingKind::Text, "pages\\", 0, TGeneratedDefault::None,
                                  {}};
constexpr TSettingKey UseSSL{"Remote", "UseSSL", TSettingKind::Flag, "True", 0, TGeneratedDefault::None, {}};
constexpr TSettingKey RootCertFile{"Remote", "RootCertFile", TSettingKind::Text, "cert.pem", 0, TGeneratedDefault::None,
                                   {}};
constexpr TSettingKey CertFile{"Remote", "CertFile", TSettingKind::Text, "ssllocalhost.cer", 0, TGeneratedDefault::None,
                               {}};
constexpr TSettingKey KeyFile{"Remote", "KeyFile", TSettingKind::Text, "ssllocalhost.key", 0, TGeneratedDefault::None,
                              {}};
} // namespace SettingKeys

// Every key in the order in which the frames read and write them.
std::span<const TSettingKey> SettingKeyTable();

// Reads and writes of one key of the table, with its default and, for numbers, its spin field's range.
bool ReadSettingFlag(const TSettingsImage& image, const TSettingKey& key);
void WriteSettingFlag(TSettingsImage& image, const TSettingKey& key, bool value);
int ReadSettingNumber(const TSettingsImage& image, const TSettingKey& key);
void WriteSettingNumber(TSettingsImage& image, const TSettingKey& key, int64_t value);
// A generated default is made by the caller and passed in; the table's fixed text serves otherwise.
std::wstring ReadSettingText(const TSettingsImage& image, const TSettingKey& key, std::wstring_view def);
std::wstring ReadSettingText(const TSettingsImage& image, const TSettingKey& key);
void WriteSettingText(TSettingsImage& image, const TSettingKey& key, std::wstring_view value);
