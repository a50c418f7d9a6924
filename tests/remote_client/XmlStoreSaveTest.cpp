// Saving replaces the file as one step: a save that cannot finish leaves the old file whole.
#include "StoreTestSupport.h"

#include "Exceptions.h"
#include "XmlTools.h"

#include <gtest/gtest.h>

#include <thread>

using Microsoft::WRL::ComPtr;

namespace {

const std::string kOld = std::string(kDeclarationLine) + "<Options>\r\n  <A>old</A>\r\n</Options>\r\n";
const std::string kNew = std::string(kDeclarationLine) + "<Options>\r\n  <A>new</A>\r\n</Options>\r\n";

} // namespace

TEST(XmlStoreSave, ReplacesTheFileAndLeavesNothingBeside)
{
    TTestFolder folder;
    WriteBytes(folder.File(L"Settings.xml"), kOld);
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("A", L"new");
    store->Save();
    EXPECT_EQ(ReadBytes(folder.File(L"Settings.xml")), kNew);
    EXPECT_EQ(FolderFiles(folder.Path()), std::vector<std::wstring>{L"Settings.xml"});
}

TEST(XmlStoreSave, FileHeldOpenByAnotherKeepsItsOldContent)
{
    TTestFolder folder;
    WriteBytes(folder.File(L"Settings.xml"), kOld);
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("A", L"new");

    HANDLE holder = CreateFileW(folder.File(L"Settings.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    try {
        store->Save();
        ADD_FAILURE() << "saved over a file held open";
    } catch (const EOSError& e) {
        EXPECT_FALSE(e.Message().empty());
    }
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(folder.File(L"Settings.xml")), kOld);
    EXPECT_EQ(FolderFiles(folder.Path()), std::vector<std::wstring>{L"Settings.xml"});
    // The document kept the change: the next save writes it.
    EXPECT_TRUE(store->IsModified());
    store->Save();
    EXPECT_EQ(ReadBytes(folder.File(L"Settings.xml")), kNew);
}

TEST(XmlStoreSave, WaitsBrieflyForAHolderToLetGo)
{
    TTestFolder folder;
    WriteBytes(folder.File(L"Settings.xml"), kOld);
    ComPtr<IXMLOptions> store = OpenStore(folder.AnsiFile(L"Settings.xml"));
    store->SetValue("A", L"new");

    HANDLE holder = CreateFileW(folder.File(L"Settings.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread release([holder] {
        Sleep(120);
        CloseHandle(holder);
    });
    EXPECT_NO_THROW(store->Save());
    release.join();
    EXPECT_EQ(ReadBytes(folder.File(L"Settings.xml")), kNew);
}

TEST(XmlStoreSave, MissingFolderFailsWithTheSystemMessage)
{
    TTestFolder folder;
    ComPtr<IXMLOptions> store = OpenStore(WideToAnsi(folder.File(L"absent\\Settings.xml")));
    store->SetValue("A", L"new");
    try {
        store->Save();
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_TRUE(FolderFiles(folder.Path()).empty());
}

TEST(XmlStoreSave, WriteFileReplacingCreatesAndReplaces)
{
    TTestFolder folder;
    const std::wstring file = folder.File(L"data.bin");
    WriteFileReplacing(file, "first");
    EXPECT_EQ(ReadBytes(file), "first");
    std::string large(3 << 20, 'x');
    WriteFileReplacing(file, large);
    EXPECT_EQ(ReadBytes(file), large);
    WriteFileReplacing(file, "");
    EXPECT_EQ(ReadBytes(file), "");
    EXPECT_EQ(FolderFiles(folder.Path()), std::vector<std::wstring>{L"data.bin"});
}
