// MendrelClient as a program: its window comes up beside its settings file, and an error while the window is
// built ends the program with the standard error box and exit code 1.
#include "Driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace e2e;

namespace {

// A folder with a copy of the program, as the service's folder holds it; removed at the end.
class ConfigClientProgram : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"mendrel-client-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        exe_ = folder_ + L"\\MendrelClient.exe";
        ASSERT_TRUE(CopyFileW(ProgramPath(L"config_client\\MendrelClient.exe").c_str(), exe_.c_str(), FALSE));
    }
    void TearDown() override
    {
        DeleteFileW(exe_.c_str());
        DeleteFileW(Ini().c_str());
        RemoveDirectoryW(Ini().c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring Ini() const { return folder_ + L"\\DravexMendrel.ini"; }
    void WriteIni(const std::string& text) const
    {
        std::ofstream(std::filesystem::path(Ini()), std::ios::binary) << text;
    }
    std::string ReadIni() const
    {
        std::ifstream in(std::filesystem::path(Ini()), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::wstring folder_, exe_;
};

TEST_F(ConfigClientProgram, OpensItsWindowAndClosingLeavesTheSettingsFileAlone)
{
    const std::string before = "[Behaviour]\r\nDisableShutdown=True\r\n";
    WriteIni(before);
    Process client = Process::Start(exe_);
    HWND main = FindTopWindow(client.Id(), L"Dravex Mendrel");
    ASSERT_NE(main, nullptr);
    HWND shutdown = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (shutdown = FindChild(main, L"&Disable shutdown", L"Button")) != nullptr; }, 10s));
    EXPECT_EQ(SendMessageW(shutdown, BM_GETCHECK, 0, 0), BST_CHECKED); // read from the file beside the program
    Click(shutdown);

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(client.Wait(30s), 0u);
    EXPECT_EQ(ReadIni(), before);
}

TEST_F(ConfigClientProgram, ErrorWhileTheWindowIsBuiltEndsTheProgramWithTheStandardBox)
{
    // A folder where the settings file belongs cannot be read.
    ASSERT_TRUE(CreateDirectoryW(Ini().c_str(), nullptr));
    Process client = Process::Start(exe_);
    HWND box = FindTopWindow(client.Id(), L"Application Error", 20s);
    ASSERT_NE(box, nullptr);
    std::wstring text = Text(GetDlgItem(box, 0xFFFF));
    EXPECT_NE(text.find(L"EFOpenError"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_NE(text.find(L"Cannot open file"), std::wstring::npos);
    EXPECT_EQ(FindTopWindow(client.Id(), L"Dravex Mendrel", 0ms), nullptr);

    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(client.Wait(30s), 1u);
}

} // namespace
