#include "USettingsFrame.h"

#include "Strings.h"
#include "Unique.h"
#include "WinTools.h"

#include <algorithm>
#include <array>
#include <limits>

const IID IID_ISettingsFrame = __uuidof(ISettingsFrame);

namespace {

constexpr DWORD kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMs = 100;

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Blanks and control characters, as the file's readers have always trimmed them.
std::string_view Trim(std::string_view s)
{
    size_t first = 0;
    while (first < s.size() && static_cast<unsigned char>(s[first]) <= ' ')
        ++first;
    size_t last = s.size();
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ')
        --last;
    return s.substr(first, last - first);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string FileNameText(const std::wstring& fileName) { return WideToAnsi(fileName); }

bool IsTransientReplaceError(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

} // namespace

void RaiseCreateError(const std::wstring& fileName, DWORD code)
{
    throw EFCreateError(
        Format("Cannot create file \"%s\". %s", FileNameText(fileName).c_str(), SysErrorText(code).c_str()), code);
}

void RaiseOpenError(const std::wstring& fileName, DWORD code)
{
    throw EFOpenError(Format("Cannot open file \"%s\". %s", FileNameText(fileName).c_str(), SysErrorText(code).c_str()),
                      code);
}

std::wstring SettingsFilePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            throw ELastWin32Error();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return path + kSettingsFileName;
}

bool TryParseSettingsInteger(std::string_view text, int& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t v = 0;
        for (char c : text.substr(2)) {
            int d = HexDigit(c);
            if (d < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > static_cast<uint64_t>(std::numeric_limits<int>::max()))
                return false;
        }
        value = static_cast<int>(v);
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<int64_t>(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
        return false;
    value = static_cast<int>(v);
    return true;
}

// A missing file is an empty image; any other failure to read is an error, since saving an image that missed an
// existing file's contents would throw those contents away.
TSettingsImage::TSettingsImage(std::wstring fileName) : fileName_(std::move(fileName))
{
    UniqueHandle file(NullIfInvalid(CreateFileW(fileName_.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    auto raiseOpenError = [this](DWORD code) {
        throw EFOpenError(
            Format("Cannot open file \"%s\". %s", FileNameText(fileName_).c_str(), SysErrorText(code).c_str()), code);
    };
    if (!file) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return;
        raiseOpenError(code);
    }
    std::string text;
    std::array<char, 65536> buffer;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            raiseOpenError(GetLastError());
        if (read == 0)
            break;
        text.append(buffer.data(), read);
    }
    SetText(text);
}

void TSettingsImage::SetText(std::string_view text)
{
    sections_.clear();
    TSection* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size())
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;

        if (line.empty() || line[0] == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections_.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
            current = &sections_.back();
            continue;
        }
        if (!current)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            current->lines.push_back({std::string(line), std::string::npos});
        } else {
            std::string_view key = Trim(line.substr(0, eq));
            std::string_view value = Trim(line.substr(eq + 1));
            std::string stored;
            stored.reserve(key.size() + 1 + value.size());
            stored.append(key).append("=").append(value);
            current->lines.push_back({std::move(stored), key.size()});
        }
    }
}

std::string TSettingsImage::GetText() const
{
    std::string text;
    for (const auto& section : sections_) {
        text.append("[").append(section.name).append("]\r\n");
        for (const auto& line : section.lines)
            text.append(line.text).append("\r\n");
        text.append("\r\n");
    }
    return text;
}

const TSettingsImage::TSection* TSettingsImage::FindSection(std::string_view name) const
{
    for (const auto& section : sections_)
        if (SameName(section.name, name))
            return &section;
    return nullptr;
}

TSettingsImage::TSection* TSettingsImage::FindSection(std::string_view name)
{
    return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

const TSettingsImage::TLine* TSettingsImage::FindLine(const TSection& section, std::string_view key)
{
    for (const auto& line : section.lines)
        if (line.keyLength != std::string::npos && SameName(std::string_view(line.text).substr(0, line.keyLength), key))
            return &line;
    return nullptr;
}

bool TSettingsImage::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TSettingsImage::ValueExists(std::string_view section, std::string_view key) const
{
    const TSection* s = FindSection(section);
    return s && FindLine(*s, key);
}

std::vector<std::string> TSettingsImage::SectionNames() const
{
    std::vector<std::string> names;
    for (const auto& section : sections_)
        names.push_back(section.name);
    return names;
}

std::vector<std::string> TSettingsImage::SectionLines(std::string_view section) const
{
    std::vector<std::string> lines;
    if (const TSection* s = FindSection(section))
        for (const auto& line : s->lines)
            lines.push_back(line.text);
    return lines;
}

std::string TSettingsImage::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindLine(*s, key) : nullptr;
    if (!line)
        return std::string(def);
    return line->text.substr(line->keyLength + 1);
}

// A key already present keeps its place and takes the spelling written; a new key goes to the end of its
// section and a new section to the end of the file. A section keeps the name it was read with.
void TSettingsImage::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    TSection* s = FindSection(section);
    if (!s) {
        sections_.push_back({std::string(section), {}});
        s = &sections_.back();
    }
    if (auto* line = const_cast<TLine*>(FindLine(*s, key))) {
        line->text.assign(key).append("=").append(value);
        line->keyLength = key.size();
        return;
    }
    std::string text;
    text.append(key).append("=").append(value);
    s->lines.push_back({std::move(text), key.size()});
}

int TSettingsImage::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    int value = 0;
    return TryParseSettingsInteger(ReadString(section, key, ""), value) ? value : def;
}

void TSettingsImage::WriteInteger(std::string_view section, std::string_view key, int value)
{
    WriteString(section, key, std::to_string(value));
}

bool TSettingsImage::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return SameTextAscii(ReadString(section, key, def ? "True" : "False"), "True");
}

void TSettingsImage::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "True" : "False");
}

std::wstring TSettingsImage::ReadWideString(std::string_view section, std::string_view key, std::wstring_view def) const
{
    const TSection* s = FindSection(section);
    const TLine* line = s ? FindLine(*s, key) : nullptr;
    if (!line)
        return std::wstring(def);
    return AnsiToWide(std::string_view(line->text).substr(line->keyLength + 1));
}

void TSettingsImage::WriteWideString(std::string_view section, std::string_view key, std::wstring_view value)
{
    WriteString(section, key, WideToAnsi(value));
}

// The service may read the file at any moment and a save may be cut short, so the new text goes to a file beside
// the old one, reaches the disk, and only then takes the old one's place in one step. The replacement is retried
// a few times, since the service or a scanner may hold the old file open for a moment.
void TSettingsImage::UpdateFile() const
{
    Assert(!fileName_.empty(), "Settings image has no file", "USettingsFrame", __LINE__);
    ReplaceFileBytes(fileName_, GetText());
}

void ReplaceFileBytes(const std::wstring& fileName, const std::string& text)
{
    const std::wstring temporary = fileName + L".tmp";
    auto fail = [&](DWORD code) {
        DeleteFileW(temporary.c_str());
        RaiseCreateError(fileName, code);
    };

    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    UniqueHandle file(NullIfInvalid(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file)
        RaiseCreateError(fileName, GetLastError());
    size_t written = 0;
    while (written < text.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
        DWORD done = 0;
        if (!WriteFile(file.get(), text.data() + written, chunk, &done, nullptr) || done == 0) {
            DWORD code = GetLastError();
            file.reset();
            fail(code ? code : ERROR_WRITE_FAULT);
        }
        written += done;
    }
    if (!FlushFileBuffers(file.get())) {
        DWORD code = GetLastError();
        file.reset();
        fail(code);
    }
    HANDLE h = file.release();
    if (!CloseHandle(h))
        fail(GetLastError());

    for (DWORD attempt = 1;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return;
        DWORD code = GetLastError();
        if (attempt >= kReplaceAttempts || !IsTransientReplaceError(code))
            fail(code);
        Sleep(kReplaceRetryMs);
    }
}

void SaveAllSettings(TSettingsImage& image, std::span<ISettingsFrame* const> frames)
{
    for (ISettingsFrame* frame : frames)
        if (frame)
            frame->SaveSettings(image);
    image.UpdateFile();
}

int TSpinRange::Clamp(int64_t value) const
{
    if (HasLimits())
        value = std::clamp<int64_t>(value, MinValue, MaxValue);
    return static_cast<int>(
        std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Only digits can be typed, so a run of digits too long for 32 bits was meant as a large number: a field with
// limits takes its maximum for it rather than falling back to its minimum.
int TSpinRange::ValueFromText(std::wstring_view text) const
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';
    if (i == text.size())
        return MinValue;
    int64_t v = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return MinValue;
        if (!overflow) {
            v = v * 10 + (text[i] - L'0');
            overflow = v > static_cast<int64_t>(std::numeric_limits<int>::max()) + 1;
        }
    }
    if (negative)
        v = -v;
    if (overflow || v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) {
        if (!HasLimits())
            return MinValue;
        return negative ? MinValue : MaxValue;
    }
    return Clamp(v);
}

std::span<const TSettingKey> SettingKeyTable()
{
    using namespace SettingKeys;
    static const TSettingKey table[] = {DisableShutdown,
                                        InitialReserveBytes,
                                        RebootOnOverflowEnabled,
                                        CheckBytes,
                                        CheckIntervalMSec,
                                        RemoteEnabled,
                                        Port,
                                        Login,
                                        Password,
                                        PagesFolder,
                                        UseSSL,
                                        RootCertFile,
                                        CertFile,
                                        KeyFile};
    return table;
}

bool ReadSettingFlag(const TSettingsImage& image, const TSettingKey& key)
{
    return image.ReadBool(key.Section, key.Key, SameTextAscii(key.DefaultText, "True"));
}

void WriteSettingFlag(TSettingsImage& image, const TSettingKey& key, bool value)
{
    image.WriteBool(key.Section, key.Key, value);
}

int ReadSettingNumber(const TSettingsImage& image, const TSettingKey& key)
{
    return key.Range.Clamp(image.ReadInteger(key.Section, key.Key, key.DefaultNumber));
}

void WriteSettingNumber(TSettingsImage& image, const TSettingKey& key, int64_t value)
{
    image.WriteInteger(key.Section, key.Key, key.Range.Clamp(value));
}

std::wstring ReadSettingText(const TSettingsImage& image, const TSettingKey& key, std::wstring_view def)
{
    return image.ReadWideString(key.Section, key.Key, def);
}

std::wstring ReadSettingText(const TSettingsImage& image, const TSettingKey& key)
{
    return ReadSettingText(image, key, AnsiToWide(key.DefaultText));
}

void WriteSettingText(TSettingsImage& image, const TSettingKey& key, std::wstring_view value)
{
    image.WriteWideString(key.Section, key.Key, value);
}
