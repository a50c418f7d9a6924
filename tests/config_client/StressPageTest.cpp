// The stress page: which buttons each load leaves enabled, the memory taken within a bound, and the window
// drawn without its skin while the processor is consumed.
#include "MainWindowSupport.h"

#include "UMemoryOverflowFrame.h"
#include "Unique.h"

#include <tlhelp32.h>

#include <map>
#include <set>
#include <vector>

namespace {

constexpr uint64_t kMemoryBound = 1024 * 1024;

int ThreadsOfThisProcess()
{
    UniqueHandle snapshot(NullIfInvalid(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0)));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    }
    return count;
}

class StressPageTest : public MainWindowTest {
protected:
    TfmMain& OpenStressPage()
    {
        TfmMainOptions options;
        options.MemoryLimit = kMemoryBound;
        options.SetWindowTheme = [this](HWND window, LPCWSTR subApp, LPCWSTR) {
            themes[window] = subApp == nullptr; // true: the window's own theme, false: none
            return S_OK;
        };
        TfmMain& main = Open(std::move(options));
        session.SelectTab(main.pgMain.TabHandle(), 1);
        return main;
    }

    struct Buttons {
        bool eatMemory, releaseMemory, eatProcessor, releaseProcessor;
    };
    void ExpectButtons(const char* what, Buttons expected)
    {
        EXPECT_EQ(gui::IsEnabled(form->bbEatMemory.Handle()), expected.eatMemory) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbReleaseMemory.Handle()), expected.releaseMemory) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbEatProcessor.Handle()), expected.eatProcessor) << what;
        EXPECT_EQ(gui::IsEnabled(form->bbReleaseProcessor.Handle()), expected.releaseProcessor) << what;
    }

    static BOOL CALLBACK AddWindow(HWND child, LPARAM list)
    {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
    }
    // Every window of the main window, and whether the skin reaches each.
    std::vector<HWND> AllWindows() const
    {
        std::vector<HWND> windows{form->Handle()};
        ::EnumChildWindows(form->Handle(), AddWindow, reinterpret_cast<LPARAM>(&windows));
        return windows;
    }
    void ExpectSkin(const char* what, bool on)
    {
        EXPECT_EQ(form->SkinManager.Active(), on) << what;
        int wrong = 0;
        for (HWND window : AllWindows()) {
            auto it = themes.find(window);
            if (it == themes.end() || it->second != on)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0) << what;
    }

    std::map<HWND, bool> themes;
};

// The release button goes grey as it is pressed; the keyboard goes on at the consume button beside it, which is
// enabled by then.
TEST_F(StressPageTest, FocusGoesToTheConsumeButtonAfterARelease)
{
    TfmMain& main = OpenStressPage();
    struct Case {
        const char* name;
        TButton& consume;
        TButton& release;
    };
    const Case cases[] = {{"memory", main.bbEatMemory, main.bbReleaseMemory},
                          {"processor", main.bbEatProcessor, main.bbReleaseProcessor}};
    for (const Case& c : cases) {
        session.Click(c.consume.Handle());
        ASSERT_TRUE(gui::IsEnabled(c.release.Handle())) << c.name;
        ::SetFocus(c.release.Handle());
        session.Click(c.release.Handle());
        session.ProcessPending();
        EXPECT_TRUE(gui::IsEnabled(c.consume.Handle())) << c.name;
        EXPECT_EQ(::GetFocus(), c.consume.Handle()) << c.name;
    }
}

TEST_F(StressPageTest, EachLoadHasItsPairOfButtonsAndBothCanRunTogether)
{
    TfmMain& main = OpenStressPage();
    ExpectButtons("idle", {true, false, true, false});

    ::SetFocus(main.bbEatMemory.Handle());
    session.Click(main.bbEatMemory.Handle());
    ASSERT_NE(main.MemoryBlocks, nullptr);
    EXPECT_GT(main.MemoryBlocks->Count(), 0u);
    EXPECT_LE(main.MemoryBlocks->Bytes(), kMemoryBound);
    EXPECT_EQ(main.MemoryBlocks->BlockSize(), EnableLockMemoryPrivilege() ? kLargeMemoryBlockSize : kMemoryBlockSize);
    ExpectButtons("memory consumed", {false, true, true, false});
    // The button that was pressed went grey; the keyboard goes on at its partner.
    EXPECT_EQ(::GetFocus(), main.bbReleaseMemory.Handle());

    session.Click(main.bbEatProcessor.Handle());
    ASSERT_NE(main.ProcessorThreads, nullptr);
    EXPECT_EQ(main.ProcessorThreads->Count(), 64u);
    ExpectButtons("both consumed", {false, true, false, true});
    EXPECT_EQ(::GetFocus(), main.bbReleaseProcessor.Handle());

    // Released within the threads' first two seconds, every thread still ends.
    ULONGLONG start = ::GetTickCount64();
    session.Click(main.bbReleaseProcessor.Handle());
    EXPECT_LT(::GetTickCount64() - start, 10000u);
    EXPECT_EQ(main.ProcessorThreads, nullptr);
    ExpectButtons("memory still consumed", {false, true, true, false});

    session.Click(main.bbReleaseMemory.Handle());
    EXPECT_EQ(main.MemoryBlocks, nullptr);
    ExpectButtons("idle again", {true, false, true, false});

    // And the memory can be consumed again.
    session.Click(main.bbEatMemory.Handle());
    ASSERT_NE(main.MemoryBlocks, nullptr);
    EXPECT_GT(main.MemoryBlocks->Count(), 0u);
}

TEST_F(StressPageTest, WindowIsDrawnWithoutItsSkinWhileTheProcessorIsConsumed)
{
    TfmMain& main = OpenStressPage();
    ExpectSkin("at start", true);

    session.Click(main.bbEatProcessor.Handle());
    ExpectSkin("processor consumed", false);
    gui::SaveScreenshot(main.Handle(), L"config-main-stress-test-consuming");

    // A frame opened meanwhile is drawn like the rest of the window.
    session.SelectTab(main.pgMain.TabHandle(), 0);
    OpenItem(TfmMain::kItemMemoryOverflow);
    ExpectSkin("new frame while consumed", false);

    session.SelectTab(main.pgMain.TabHandle(), 1);
    session.Click(main.bbReleaseProcessor.Handle());
    ExpectSkin("released", true);
}

TEST_F(StressPageTest, ClosingTheWindowEndsEveryThread)
{
    TfmMain& main = OpenStressPage();
    const int before = ThreadsOfThisProcess();
    session.Click(main.bbEatProcessor.Handle());
    session.Click(main.bbEatMemory.Handle());
    EXPECT_EQ(ThreadsOfThisProcess(), before + 64);
    // The window's destruction has waited for every thread when it returns.
    form.reset();
    EXPECT_EQ(ThreadsOfThisProcess(), before);
}

} // namespace
