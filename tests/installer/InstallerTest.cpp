// The setup run silently into a chosen service folder: the programs in their folders, the Start menu entries
// and the uninstall entry; then the uninstaller run silently: everything setup installed is gone, and the
// settings files beside the programs, which setup did not install, are left alone.
#include "Driver.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

using namespace e2e;

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DravexMendrelClients";
const wchar_t kUninstaller[] = L"Uninstall Mendrel clients.exe";

std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        result = path;
    CoTaskMemFree(path);
    return result;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteText(const std::wstring& path, const std::string& text)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

std::string ReadText(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool KeyExists(const wchar_t* key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::wstring RegText(const wchar_t* key, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return buffer;
}

// The program a shortcut starts, read through the shell's own link object.
std::wstring ShortcutTarget(const std::wstring& link)
{
    IShellLinkW* shellLink = nullptr;
    std::wstring target;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shellLink))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_PPV_ARGS(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    shellLink->Release();
    return target;
}

std::string Narrow(const std::wstring& text) { return std::filesystem::path(text).string(); }

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// What setup writes into the prefix, and the chosen service folder; all of it removed at the end whatever
// the test found, after the test made sure that none of it was there before.
class InstallerTest : public testing::Test {
protected:
    void SetUp() override
    {
        setup = BuildDir() + L"\\MendrelSetup.exe";
        ASSERT_TRUE(Exists(setup)) << Narrow(setup) << " is missing: scripts/build.sh makes it";
        programsDir = KnownFolder(FOLDERID_LocalAppData) + L"\\Programs";
        madeProgramsDir = !Exists(programsDir);
        userDir = programsDir + L"\\Dravex Mendrel";
        menuDir = KnownFolder(FOLDERID_Programs) + L"\\Dravex Mendrel";
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        scratch = std::wstring(temp) + L"mendrel-setup-" + std::to_wstring(GetCurrentProcessId());
        serviceDir = scratch + L"\\Mendrel service";
        // Another installation in this prefix would be lost by the clean-up.
        ASSERT_FALSE(Exists(userDir)) << Narrow(userDir);
        ASSERT_FALSE(Exists(menuDir)) << Narrow(menuDir);
        ASSERT_FALSE(KeyExists(kUninstallKey));
        ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::path(serviceDir)));
        owned = true;
    }

    void TearDown() override
    {
        if (!owned)
            return;
        std::error_code ignored;
        for (const auto& dir : {userDir, menuDir, scratch})
            std::filesystem::remove_all(std::filesystem::path(dir), ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        // Setup makes the user's programs folder when it is not there yet; only an empty one is taken back.
        if (madeProgramsDir)
            RemoveDirectoryW(programsDir.c_str());
    }

    std::wstring setup, programsDir, userDir, menuDir, scratch, serviceDir;
    bool madeProgramsDir = false;
    bool owned = false;
};

TEST_F(InstallerTest, SilentSetupInstallsAndTheUninstallerRemovesWhatItInstalled)
{
    // /D is the last argument and takes the rest of the line, spaces included.
    Process install = Process::Start(setup, L"/S /D=" + serviceDir);
    ASSERT_EQ(install.Wait(120s), 0u);

    const std::wstring remoteExe = userDir + L"\\MendrelRemoteClient.exe";
    const std::wstring configExe = serviceDir + L"\\MendrelClient.exe";
    const std::wstring uninstaller = userDir + L"\\" + kUninstaller;
    EXPECT_TRUE(Exists(remoteExe)) << "the remote client goes to the user's programs folder";
    EXPECT_TRUE(Exists(configExe)) << "the configuration client goes to the service folder";
    EXPECT_TRUE(Exists(uninstaller));
    EXPECT_FALSE(Exists(KnownFolder(FOLDERID_ProgramFiles) + L"\\Dravex")) << "nothing lands in the default folder";

    struct Entry {
        const wchar_t* link;
        std::wstring target;
    };
    const Entry entries[] = {{L"Mendrel Remote Client.lnk", remoteExe},
                             {L"Mendrel configuration.lnk", configExe},
                             {L"Uninstall.lnk", uninstaller}};
    for (const Entry& entry : entries) {
        std::wstring link = menuDir + L"\\" + entry.link;
        ASSERT_TRUE(Exists(link)) << Narrow(entry.link);
        std::wstring target = ShortcutTarget(link);
        EXPECT_TRUE(SamePath(target, entry.target)) << Narrow(entry.link) << " starts " << Narrow(target);
    }

    EXPECT_EQ(RegText(kUninstallKey, L"DisplayName"), L"Dravex Mendrel clients");
    EXPECT_EQ(RegText(kUninstallKey, L"UninstallString"), L"\"" + uninstaller + L"\"");
    EXPECT_TRUE(SamePath(RegText(kUninstallKey, L"ConfigClientDir"), serviceDir));
    EXPECT_TRUE(SamePath(RegText(kUninstallKey, L"RemoteClientDir"), userDir));

    // Settings that the programs write later, beside them: the uninstaller must leave them.
    const std::string settings = "<?xml version=\"1.0\"?><Options/>\r\n";
    const std::string ini = "[Remote]\r\nPort=8088\r\n";
    WriteText(userDir + L"\\Settings.xml", settings);
    WriteText(serviceDir + L"\\DravexMendrel.ini", ini);

    // An NSIS uninstaller copies itself away and returns at once; "_?=" runs it in place, so that its end is
    // the end of the uninstall. In place it cannot delete its own file, which the clean-up removes.
    Process uninstall = Process::Start(uninstaller, L"/S _?=" + userDir);
    ASSERT_EQ(uninstall.Wait(120s), 0u);

    EXPECT_FALSE(Exists(remoteExe));
    EXPECT_FALSE(Exists(configExe));
    for (const Entry& entry : entries)
        EXPECT_FALSE(Exists(menuDir + L"\\" + entry.link)) << Narrow(entry.link);
    EXPECT_FALSE(Exists(menuDir)) << "the Start menu folder goes with its entries";
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_EQ(ReadText(userDir + L"\\Settings.xml"), settings);
    EXPECT_EQ(ReadText(serviceDir + L"\\DravexMendrel.ini"), ini);
}

} // namespace
