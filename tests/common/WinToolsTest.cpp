#include "EntryPoints.h"
#include "WinTools.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

TEST(WinTools, PlatformIsNT)
{
    EXPECT_EQ(GetOSPlatform(), ospWin32NT);
    EXPECT_EQ(OSPlatformFromId(0), ospWin32s);
    EXPECT_EQ(OSPlatformFromId(1), ospWin32Windows);
    try {
        OSPlatformFromId(3);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Unknown platform id: 3");
    }
}

TEST(WinTools, ErrorMessageForAccessDenied)
{
    std::string system = SysErrorText(5);
    ASSERT_FALSE(system.empty());
    EXPECT_NE(system.back(), '.');
    EXPECT_NE(system.back(), '\n');
    EXPECT_EQ(Win32ErrorMessage(5), "Win32 error code 5 message \"" + system + "\" occured");

    // A denied service open leaves code 5; the exception takes the thread's last error.
    SetLastError(ERROR_ACCESS_DENIED);
    ELastWin32Error e;
    EXPECT_EQ(e.ErrorCode, 5u);
    EXPECT_EQ(e.Message(), Win32ErrorMessage(5));
    EXPECT_THROW(Win32Check(FALSE), EOSError);
}

namespace {

// Simulates a system where some libraries or entries are missing, and counts what was released.
class FakeLoader : public TLibraryLoader {
public:
    std::map<std::string, HMODULE> libraries;
    std::map<std::string, FARPROC> entries;
    int freed = 0;
    HMODULE Load(const char* name) override
    {
        auto it = libraries.find(name);
        return it == libraries.end() ? nullptr : it->second;
    }
    FARPROC Find(HMODULE, const char* entry) override
    {
        auto it = entries.find(entry);
        return it == entries.end() ? nullptr : it->second;
    }
    void Free(HMODULE) override { ++freed; }
};

FARPROC Fake(int n) { return reinterpret_cast<FARPROC>(static_cast<intptr_t>(0x1000 + n)); }

} // namespace

TEST(EntryPoints, FallbacksWhenLibrariesOrEntriesAreMissing)
{
    struct Case {
        const char* what;
        bool credui, shell32, hasPrompt, hasAdmin;
        HMODULE shellHandle;
    };
    const Case cases[] = {
        {"both present", true, true, true, true, reinterpret_cast<HMODULE>(0x20000)},
        {"no Credui.dll", false, true, false, true, reinterpret_cast<HMODULE>(0x20000)},
        {"no entries", true, true, false, false, reinterpret_cast<HMODULE>(0x20000)},
        {"shell32 answers all ones", true, true, true, true, reinterpret_cast<HMODULE>(INVALID_HANDLE_VALUE)},
    };
    for (const auto& c : cases) {
        FakeLoader loader;
        if (c.credui)
            loader.libraries["Credui.dll"] = reinterpret_cast<HMODULE>(0x10000);
        if (c.shell32)
            loader.libraries["shell32.dll"] = c.shellHandle;
        if (c.hasPrompt)
            loader.entries["CredUIPromptForCredentialsA"] = Fake(1);
        if (c.hasAdmin)
            loader.entries["IsUserAnAdmin"] = Fake(2);
        BindEntryPoints(loader);
        bool shellLoaded = c.shell32 && c.shellHandle != reinterpret_cast<HMODULE>(INVALID_HANDLE_VALUE);
        EXPECT_EQ(EntryPoints().CredUIPromptForCredentialsA != nullptr, c.credui && c.hasPrompt) << c.what;
        EXPECT_EQ(EntryPoints().IsUserAnAdmin != nullptr, shellLoaded && c.hasAdmin) << c.what;
        ReleaseEntryPoints();
        EXPECT_EQ(loader.freed, int(c.credui) + int(shellLoaded)) << c.what;
        EXPECT_EQ(EntryPoints().IsUserAnAdmin, nullptr);
    }
    BindEntryPoints(); // the real system again, for the tests after this one
    EXPECT_NE(EntryPoints().IsUserAnAdmin, nullptr);
}
