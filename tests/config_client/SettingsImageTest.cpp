#include "TestFolder.h"

#include "Strings.h"
#include "UFrameSettings.h"
#include "URemoteSettings.h"
#include "USettingsFrame.h"
#include "WinTools.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

TSettingsImage ImageOf(const std::string& text)
{
    TSettingsImage image;
    image.SetText(text);
    return image;
}

} // namespace

TEST(SettingsImage, ReadsTheTolerantFormAndWritesTheStrictOne)
{
    // Mixed line ends, blanks and tabs, comments, lines before the first section, a line without "=".
    const std::string file = "orphan=1\r\n"
                             "  ; a comment\n"
                             "[ Memory ]\r"
                             "  checkbytes = 5 \n"
                             "\tjunk line\t\r\n"
                             "\r\n"
                             "\n"
                             "Empty=\r\n"
                             "a = b = c\r\n"
                             "[Remote]\n"
                             ";Port=1\n"
                             "Port=3745";
    TSettingsImage image = ImageOf(file);

    EXPECT_EQ(image.SectionNames(), (std::vector<std::string>{"Memory", "Remote"}));
    EXPECT_EQ(image.SectionLines("MEMORY"),
              (std::vector<std::string>{"checkbytes=5", "junk line", "Empty=", "a=b = c"}));
    EXPECT_EQ(image.GetText(), "[Memory]\r\ncheckbytes=5\r\njunk line\r\nEmpty=\r\na=b = c\r\n\r\n"
                               "[Remote]\r\nPort=3745\r\n\r\n");
    EXPECT_FALSE(image.ValueExists("Memory", "orphan"));
    EXPECT_EQ(image.ReadString("memory", "CHECKBYTES", "x"), "5");
    EXPECT_EQ(image.ReadString("Memory", "a", "x"), "b = c");

    // What was written reads back the same.
    EXPECT_EQ(ImageOf(image.GetText()).GetText(), image.GetText());
    EXPECT_EQ(TSettingsImage().GetText(), "");
}

TEST(SettingsImage, UpdatesInPlaceAndAppendsNewKeysAndSections)
{
    TSettingsImage image = ImageOf("[memory]\r\nfirst=1\r\ncheckbytes = 5\r\nloose line\r\n"
                                   "[Unknown]\r\nKeep=me\r\n");
    image.WriteInteger("Memory", "CheckBytes", 7);            // existing key in another case: same place, new spelling
    image.WriteString("Memory", "CheckIntervalMSec", "1000"); // new key: end of its section
    image.WriteBool("Behaviour", "DisableShutdown", true);    // new section: end of the file
    image.WriteString("UNKNOWN", "keep", "still");

    EXPECT_EQ(image.GetText(), "[memory]\r\nfirst=1\r\nCheckBytes=7\r\nloose line\r\nCheckIntervalMSec=1000\r\n\r\n"
                               "[Unknown]\r\nkeep=still\r\n\r\n"
                               "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
}

TEST(SettingsImage, ReadsTextsNumbersAndFlags)
{
    TSettingsImage image = ImageOf("[S]\r\nEmpty=\r\nText=some text\r\nFlagUpper=TRUE\r\nFlagOne=1\r\n"
                                   "Hex=0x3E8\r\nBad=abc\r\n");
    EXPECT_EQ(image.ReadString("S", "Empty", "default"), "");
    EXPECT_EQ(image.ReadString("S", "Missing", "default"), "default");
    EXPECT_EQ(image.ReadString("Nowhere", "Text", "default"), "default");
    EXPECT_EQ(image.ReadString("s", "text", ""), "some text");

    EXPECT_EQ(image.ReadInteger("S", "Hex", 1), 1000);
    EXPECT_EQ(image.ReadInteger("S", "Bad", 42), 42);
    EXPECT_EQ(image.ReadInteger("S", "Empty", 42), 42);
    EXPECT_EQ(image.ReadInteger("S", "Missing", -3), -3);

    EXPECT_TRUE(image.ReadBool("S", "FlagUpper", false));
    EXPECT_FALSE(image.ReadBool("S", "FlagOne", true));
    EXPECT_FALSE(image.ReadBool("S", "Empty", true));
    EXPECT_TRUE(image.ReadBool("S", "Missing", true));
    EXPECT_FALSE(image.ReadBool("S", "Missing", false));

    image.WriteInteger("S", "Negative", -12);
    image.WriteBool("S", "Off", false);
    EXPECT_EQ(image.ReadString("S", "Negative", ""), "-12");
    EXPECT_EQ(image.ReadString("S", "Off", ""), "False");

    image.WriteWideString("S", "Wide", L"caf\u00e9");
    EXPECT_EQ(image.ReadString("S", "Wide", ""), WideToAnsi(L"caf\u00e9"));
    EXPECT_EQ(image.ReadWideString("S", "Wide", L""), AnsiToWide(WideToAnsi(L"caf\u00e9")));
}

TEST(SettingsImage, IntegerEncoding)
{
    struct Case {
        const char* text;
        bool valid;
        int value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"12", true, 12},
        {"-5", true, -5},
        {"+7", true, 7},
        {"00012", true, 12},
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483648", true, -2147483647 - 1},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
        {"0x3E8", true, 1000},
        {"0X3e8", true, 1000},
        {"0x0", true, 0},
        {"0x7FFFFFFF", true, 2147483647},
        {"0x80000000", false, 0},
        {"0x", false, 0},
        {"0xG1", false, 0},
        {"$10", false, 0},
        {"abc", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"1.5", false, 0},
    };
    for (const auto& c : cases) {
        int value = -999;
        EXPECT_EQ(TryParseSettingsInteger(c.text, value), c.valid) << '"' << c.text << '"';
        if (c.valid) {
            EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(SpinField, ClampsAndReadsItsText)
{
    const TSpinRange bytes = SettingKeys::kBytesRange;
    const TSpinRange port = SettingKeys::kPortRange;
    struct Case {
        TSpinRange range;
        const wchar_t* text;
        int value;
    };
    const Case cases[] = {
        {bytes, L"", 0},
        {bytes, L"abc", 0},
        {bytes, L"65536", 65536},
        {bytes, L"2000000000", 2000000000},
        {bytes, L"2000000001", 2000000000},
        {bytes, L"-1", 0},
        {bytes, L"3000000000", 2000000000}, // digits beyond 32 bits are beyond the maximum
        {bytes, L"123456789012345678901234", 2000000000},
        {bytes, L"12 3", 0},
        {port, L"", 0},
        {port, L"3745", 3745},
        {port, L"99999", 99999}, // no limits
        {port, L"-7", -7},
        {port, L"3000000000", 0}, // no limits: not a valid number
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.range.ValueFromText(c.text), c.value) << '"' << WideToAnsi(c.text) << '"';

    EXPECT_EQ(bytes.Clamp(-5), 0);
    EXPECT_EQ(bytes.Clamp(2100000000), 2000000000);
    EXPECT_EQ(bytes.Clamp(1234), 1234);
    EXPECT_EQ(port.Clamp(-5), -5);
    EXPECT_EQ(port.Clamp(int64_t{1} << 40), 2147483647);
    EXPECT_FALSE(port.HasLimits());
    EXPECT_TRUE(bytes.HasLimits());
}

TEST(SettingKeys, KeysInFrameOrder)
{
    std::vector<std::string> names;
    for (const auto& key : SettingKeyTable())
        names.push_back(std::string(key.Section) + "/" + key.Key);
    EXPECT_EQ(names, (std::vector<std::string>{"Behaviour/DisableShutdown", "Memory/InitialReserveBytes",
                                               "Memory/RebootOnOverflowEnabled", "Memory/CheckBytes",
                                               "Memory/CheckIntervalMSec", "Remote/Enabled", "Remote/Port",
                                               "Remote/Login", "Remote/Password", "Remote/PagesFolder", "Remote/UseSSL",
                                               "Remote/RootCertFile", "Remote/CertFile", "Remote/KeyFile"}));
}

TEST(FrameSettings, EmptyImageGivesTheDefaults)
{
    TSettingsImage image;
    EXPECT_FALSE(LoadBehaviourValues(image).DisableShutdown);
    EXPECT_EQ(LoadServiceStartValues(image).InitialReserveBytes, 10240000);
    TMemoryOverflowValues memory = LoadMemoryOverflowValues(image);
    EXPECT_FALSE(memory.RebootOnOverflowEnabled);
    EXPECT_EQ(memory.CheckBytes, 1024000);
    EXPECT_EQ(memory.CheckIntervalMSec, 30000);
    TRemoteValues remote = LoadRemoteValues(image);
    EXPECT_FALSE(remote.Enabled);
    EXPECT_EQ(remote.Port, 3745);
    EXPECT_EQ(remote.PagesFolder, L"pages\\");
    EXPECT_TRUE(remote.UseSSL);
    EXPECT_EQ(remote.RootCertFile, L"cert.pem");
    EXPECT_EQ(remote.CertFile, L"ssllocalhost.cer");
    EXPECT_EQ(remote.KeyFile, L"ssllocalhost.key");
    // The generated defaults come from their alphabets.
    EXPECT_GE(remote.Login.size(), 8u);
    EXPECT_LE(remote.Login.size(), 11u);
    EXPECT_EQ(remote.Login.find_first_not_of(kUserNameAlphabet), std::wstring::npos);
    EXPECT_GE(remote.Password.size(), 8u);
    EXPECT_LE(remote.Password.size(), 11u);
    EXPECT_EQ(remote.Password.find_first_not_of(kPasswordAlphabet), std::wstring::npos);
    EXPECT_EQ(image.GetText(), ""); // loading writes nothing
}

TEST(FrameSettings, ValuesFromAHandEditedFile)
{
    struct Case {
        const char* what;
        const char* file;
        int checkBytes;
        int interval;
        int reserve;
    };
    const Case cases[] = {
        {"other letter case and blanks", "[memory]\r\ncheckbytes = 5\r\n", 5, 30000, 10240000},
        {"hexadecimal", "[Memory]\r\nCheckIntervalMSec=0x3E8\r\n", 1024000, 1000, 10240000},
        {"not a number", "[Memory]\r\nCheckBytes=abc\r\n", 1024000, 30000, 10240000},
        {"beyond 32 bits", "[Memory]\r\nInitialReserveBytes=99999999999\r\n", 1024000, 30000, 10240000},
        {"above the field's maximum", "[Memory]\r\nCheckBytes=2100000000\r\n", 2000000000, 30000, 10240000},
        {"below the field's minimum", "[Memory]\r\nCheckBytes=-5\r\nCheckIntervalMSec=-1\r\n", 0, 0, 10240000},
    };
    for (const auto& c : cases) {
        TSettingsImage image = ImageOf(c.file);
        TMemoryOverflowValues memory = LoadMemoryOverflowValues(image);
        EXPECT_EQ(memory.CheckBytes, c.checkBytes) << c.what;
        EXPECT_EQ(memory.CheckIntervalMSec, c.interval) << c.what;
        EXPECT_EQ(LoadServiceStartValues(image).InitialReserveBytes, c.reserve) << c.what;
    }

    TSettingsImage remote = ImageOf("[Remote]\r\nUseSSL=\r\nPagesFolder=\r\nLogin=admin\r\nPassword=\r\n");
    TRemoteValues values = LoadRemoteValues(remote);
    EXPECT_FALSE(values.UseSSL);
    EXPECT_EQ(values.PagesFolder, L"");
    EXPECT_EQ(values.Login, L"admin");
    EXPECT_EQ(values.Password, L""); // present but empty: not replaced by a generated one
}

TEST(FrameSettings, SavingWritesWhatTheFrameShows)
{
    TSettingsImage image = ImageOf("[memory]\r\ncheckbytes = 5\r\nCheckIntervalMSec=0x3E8\r\n[Extra]\r\nUnknown=1\r\n");
    // A frame that was never opened leaves its lines as they were read.
    EXPECT_EQ(image.GetText(),
              "[memory]\r\ncheckbytes=5\r\nCheckIntervalMSec=0x3E8\r\n\r\n[Extra]\r\nUnknown=1\r\n\r\n");

    SaveMemoryOverflowValues(image, LoadMemoryOverflowValues(image));
    EXPECT_EQ(image.GetText(),
              "[memory]\r\nCheckBytes=5\r\nCheckIntervalMSec=1000\r\nRebootOnOverflowEnabled=False\r\n\r\n"
              "[Extra]\r\nUnknown=1\r\n\r\n");

    // Values beyond a field's range are saved as the field shows them.
    TSettingsImage clamped = ImageOf("[Memory]\r\nCheckBytes=2100000000\r\n");
    SaveMemoryOverflowValues(clamped, LoadMemoryOverflowValues(clamped));
    EXPECT_EQ(clamped.ReadString("Memory", "CheckBytes", ""), "2000000000");
    SaveServiceStartValues(clamped, {-40});
    EXPECT_EQ(clamped.ReadString("Memory", "InitialReserveBytes", ""), "0");

    // A new file holds the sections of the frames saved, in the order their keys were first written.
    TSettingsImage fresh;
    SaveBehaviourValues(fresh, {true});
    EXPECT_EQ(fresh.GetText(), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
    TRemoteValues remote;
    remote.Enabled = true;
    remote.Port = 8443;
    remote.Login = L"user";
    remote.Password = L"p=ss;word";
    remote.PagesFolder = L"C:\\pages";
    remote.UseSSL = false;
    remote.RootCertFile = L"r.pem";
    remote.CertFile = L"c.cer";
    remote.KeyFile = L"k.key";
    SaveRemoteValues(fresh, remote);
    EXPECT_EQ(fresh.GetText(), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n"
                               "[Remote]\r\nEnabled=True\r\nPort=8443\r\nLogin=user\r\nPassword=p=ss;word\r\n"
                               "PagesFolder=C:\\pages\r\nUseSSL=False\r\nRootCertFile=r.pem\r\nCertFile=c.cer\r\n"
                               "KeyFile=k.key\r\n\r\n");
    TRemoteValues back = LoadRemoteValues(ImageOf(fresh.GetText()));
    EXPECT_EQ(back.Password, L"p=ss;word");
    EXPECT_EQ(back.Port, 8443);
    EXPECT_FALSE(back.UseSSL);
    EXPECT_EQ(back.PagesFolder, L"C:\\pages");
}

TEST(SettingsFile, MissingFileIsAnEmptyImageAndNothingIsCreated)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    TSettingsImage image(path);
    EXPECT_EQ(image.FileName(), path);
    EXPECT_EQ(image.GetText(), "");
    EXPECT_FALSE(TTestFolder::Exists(path));

    TSettingsImage inMissingFolder(folder.File(L"no-such-folder\\") + kSettingsFileName);
    EXPECT_EQ(inMissingFolder.GetText(), "");
}

TEST(SettingsFile, SaveWritesTheImageAndKeepsUnknownLines)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    TTestFolder::WriteBytes(path, "; hand-edited\n[Behaviour]\nDisableShutdown=false\n\n[Custom]\nx = 1\nnote\n");

    TSettingsImage image(path);
    SaveBehaviourValues(image, {true});
    image.UpdateFile();
    EXPECT_EQ(TTestFolder::ReadBytes(path),
              "[Behaviour]\r\nDisableShutdown=True\r\n\r\n[Custom]\r\nx=1\r\nnote\r\n\r\n");
    EXPECT_FALSE(TTestFolder::Exists(path + L".tmp"));

    // A second save replaces the first.
    image.WriteString("Custom", "x", "2");
    image.UpdateFile();
    EXPECT_EQ(TSettingsImage(path).ReadString("Custom", "x", ""), "2");
}

TEST(SettingsFile, ExistingFileThatCannotBeReadIsAnError)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    TTestFolder::WriteBytes(path, "[Behaviour]\r\nDisableShutdown=True\r\n");
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    try {
        TSettingsImage image(path);
        ADD_FAILURE() << "an unreadable file must not read as an empty one";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(e.Message(), "Cannot open file \"" + WideToAnsi(path) + "\". " + SysErrorText(e.ErrorCode));
    }
    CloseHandle(exclusive);
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileWhole)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    const std::string old = "[Behaviour]\r\nDisableShutdown=False\r\n\r\n[Custom]\r\nkeep=1\r\n\r\n";

    // Another program holds the file open without letting it be replaced (the way a reader usually opens it).
    HANDLE held = nullptr;
    struct Case {
        const char* what;
        std::function<void()> obstruct, clear;
    };
    const Case cases[] = {
        {"the file is held open",
         [&] { held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr); },
         [&] { CloseHandle(held); }},
        {"the temporary file cannot be made", [&] { CreateDirectoryW((path + L".tmp").c_str(), nullptr); },
         [&] { RemoveDirectoryW((path + L".tmp").c_str()); }},
    };
    for (const auto& c : cases) {
        TTestFolder::WriteBytes(path, old);
        TSettingsImage image(path);
        SaveBehaviourValues(image, {true});
        c.obstruct();
        try {
            image.UpdateFile();
            ADD_FAILURE() << c.what << ": the save did not fail";
        } catch (const EFCreateError& e) {
            EXPECT_NE(e.ErrorCode, 0u) << c.what;
            EXPECT_EQ(e.Message(), "Cannot create file \"" + WideToAnsi(path) + "\". " + SysErrorText(e.ErrorCode))
                << c.what;
        }
        c.clear();
        EXPECT_EQ(TTestFolder::ReadBytes(path), old) << c.what;
        EXPECT_FALSE(TTestFolder::Exists(path + L".tmp")) << c.what;

        // The image kept the saved values, so a later save succeeds.
        image.UpdateFile();
        EXPECT_TRUE(TSettingsImage(path).ReadBool("Behaviour", "DisableShutdown", false)) << c.what;
    }
}

TEST(SettingsFile, SaveWaitsBrieflyForAReaderToLetGo)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    TTestFolder::WriteBytes(path, "[Behaviour]\r\nDisableShutdown=False\r\n\r\n");
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread reader([held] {
        Sleep(150);
        CloseHandle(held);
    });
    TSettingsImage image(path);
    SaveBehaviourValues(image, {true});
    EXPECT_NO_THROW(image.UpdateFile());
    reader.join();
    EXPECT_EQ(TTestFolder::ReadBytes(path), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
}

TEST(SettingsFile, SaveInAMissingFolderNamesTheFileAndTheSystemsReason)
{
    TTestFolder folder;
    const std::wstring path = folder.File(L"missing\\") + kSettingsFileName;
    TSettingsImage image(path);
    SaveBehaviourValues(image, {false});
    try {
        image.UpdateFile();
        FAIL() << "the save did not fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(e.Message(),
                  "Cannot create file \"" + WideToAnsi(path) + "\". " + SysErrorText(ERROR_PATH_NOT_FOUND));
    }
}

TEST(SettingsFile, LeftoverOfAnInterruptedSaveDoesNotBlockTheNext)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    TTestFolder::WriteBytes(path, "[Behaviour]\r\nDisableShutdown=False\r\n\r\n");
    // What a save cut short leaves: the old file whole and a partial new one beside it.
    TTestFolder::WriteBytes(path + L".tmp", "[Behav");
    SetFileAttributesW((path + L".tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(TSettingsImage(path).ReadBool("Behaviour", "DisableShutdown", true));

    TSettingsImage image(path);
    SaveBehaviourValues(image, {true});
    image.UpdateFile();
    EXPECT_EQ(TTestFolder::ReadBytes(path), "[Behaviour]\r\nDisableShutdown=True\r\n\r\n");
    EXPECT_FALSE(TTestFolder::Exists(path + L".tmp"));
}

namespace {

// A settings frame without a window: records the calls it gets.
class FakeFrame : public ISettingsFrame {
public:
    FakeFrame(std::vector<std::string>& log, std::string name, std::string key)
        : log_(log), name_(std::move(name)), key_(std::move(key))
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_ISettingsFrame) {
            *object = static_cast<ISettingsFrame*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE LoadSettings(TSettingsImage&) override { log_.push_back("load " + name_); }
    void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) override
    {
        log_.push_back("save " + name_);
        image.WriteString("Frames", key_, name_);
    }

private:
    std::vector<std::string>& log_;
    std::string name_, key_;
};

} // namespace

TEST(SaveAllSettings, SavesOpenFramesInItemOrderThenWritesTheFile)
{
    TTestFolder folder;
    const std::wstring path = folder.File(kSettingsFileName);
    std::vector<std::string> log;
    FakeFrame behaviour(log, "behaviour", "A"), remote(log, "remote", "B");
    ISettingsFrame* frames[] = {&behaviour, nullptr, nullptr, &remote};

    TSettingsImage image(path);
    SaveAllSettings(image, frames);
    EXPECT_EQ(log, (std::vector<std::string>{"save behaviour", "save remote"}));
    EXPECT_EQ(TTestFolder::ReadBytes(path), "[Frames]\r\nA=behaviour\r\nB=remote\r\n\r\n");

    // A failed write goes to the caller after the frames were saved into the image.
    TSettingsImage lost(folder.File(L"missing\\") + kSettingsFileName);
    log.clear();
    EXPECT_THROW(SaveAllSettings(lost, frames), EFCreateError);
    EXPECT_EQ(log.size(), 2u);
    EXPECT_EQ(lost.ReadString("Frames", "B", ""), "remote");
}

TEST(SettingsFile, PathIsBesideTheProgram)
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring expected(exe);
    expected.resize(expected.find_last_of(L'\\') + 1);
    EXPECT_EQ(SettingsFilePath(), expected + L"DravexMendrel.ini");
}
