#include "ClassesHooks.h"
#include "HTMLHelpApi.h"

#include <gtest/gtest.h>

namespace {
class OtherAttr : public TCustomAttr {};
} // namespace

TEST(ClassesHooks, FindOrCreateReturnsTheSameAttribute)
{
    TComponent button;
    TStringAttr* first = FindOrCreateStringAttr(&button, "AttrHelpLink");
    first->Value = "topic.htm";
    TStringAttr* second = FindOrCreateStringAttr(&button, "attrhelplink");
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->Value, "topic.htm");
    EXPECT_EQ(button.ComponentCount(), 1u);
    EXPECT_EQ(first->Owner(), &button);
    EXPECT_EQ(first->Name(), "AttrHelpLink");
}

TEST(ClassesHooks, WrongClassAndBadNamesFail)
{
    TComponent button;
    FindOrCreateAttr<OtherAttr>(&button, "Other");
    try {
        FindOrCreateStringAttr(&button, "Other");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Invalid class typecast");
    }
    EXPECT_THROW(FindOrCreateStringAttr(&button, "not valid"), Exception);
    EXPECT_THROW(FindOrCreateStringAttr(&button, "1st"), Exception);
    // A failed name leaves nothing behind.
    EXPECT_EQ(button.ComponentCount(), 1u);
}

TEST(HelpViewer, TopicAddressAddsTheSuffixOnce)
{
    struct Case {
        const wchar_t *link, *expected;
    };
    const Case cases[] = {
        {L"intro", L"C:\\help\\Mendrel.chm::/intro.htm"},
        {L"intro.htm", L"C:\\help\\Mendrel.chm::/intro.htm"},
        {L"intro.HTM", L"C:\\help\\Mendrel.chm::/intro.HTM"},
        {L"", L"C:\\help\\Mendrel.chm::/.htm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpTopicAddress(L"C:\\help\\Mendrel.chm", c.link, L".htm"), c.expected) << c.link;
}

TEST(HelpViewer, MissingHelpFileOpensNothingAndDoesNotFail)
{
    THTMLHelpViewer viewer;
    viewer.HelpFile = L"C:\\no\\such\\file.chm";
    viewer.TopicSuffix = L".htm";
    EXPECT_NO_THROW(viewer.ShowTopic(L"intro"));
    if (HWND w = viewer.LastWindow())
        DestroyWindow(w);
}
