#include "Exceptions.h"
#include "LangTools.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class AwareForm : public TComponent, public ILanguageTranslationAware {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return TComponent::QueryInterface(riid, object);
    }
    void STDMETHODCALLTYPE BeforeTranslation() override { calls += "B"; }
    void STDMETHODCALLTYPE AfterTranslation() override { calls += "A"; }
    std::string calls;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** object) override
    {
        if (riid == IID_ILanguageTranslationAware) {
            *object = static_cast<ILanguageTranslationAware*>(this);
            return S_OK;
        }
        return TComponent::QueryOwnInterface(riid, object);
    }
};

class PlainForm : public TComponent {};

// Locale data that notes which components it was asked to translate, under which name.
class RecordingLocaleData : public TNeutralLocaleData {
public:
    explicit RecordingLocaleData(std::vector<std::string>& names) : names_(names) {}
    void TranslateComponent(const std::string& name, TComponent* component) override
    {
        names_.push_back(name);
        TNeutralLocaleData::TranslateComponent(name, component);
    }

private:
    std::vector<std::string>& names_;
};

} // namespace

TEST(LocaleManager, NeutralDataAnswersDefaults)
{
    EXPECT_EQ(&LocaleManager(), &LocaleManager());
    EXPECT_EQ(CurrentLocaleData().GetText("UMessageDialogFM_Close", "Close"), "Close");
    EXPECT_EQ(CurrentLocaleData().GetText("WinTools_OSErrorOccured", "Win32 error code %d message \"%s\" occured"),
              "Win32 error code %d message \"%s\" occured");
    EXPECT_EQ(CurrentLocaleData().GetWideText("X_Y", L"w\u00e9"), L"w\u00e9");
}

TEST(LocaleManager, EmptyIdIsAnAssertion)
{
    try {
        CurrentLocaleData().GetText("", "x");
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "ID is empty (common\\LangTools, line 692)");
    }
    try {
        CurrentLocaleData().GetWideText("", L"x");
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "ID is empty (common\\LangTools, line 699)");
    }
}

TEST(LocaleManager, TranslateFormTellsAwareFormsOnly)
{
    AwareForm aware;
    TranslateForm(&aware);
    EXPECT_EQ(aware.calls, "BA");

    // Every form goes to the locale data under its class name; no form, no call.
    std::vector<std::string> names;
    LocaleManager().SetCurrent(std::make_unique<RecordingLocaleData>(names));
    PlainForm plain;
    TranslateForm(&plain);
    TranslateForm(nullptr);
    TranslateForm(&aware);
    LocaleManager().SetCurrent(std::make_unique<TNeutralLocaleData>());
    EXPECT_EQ(names, (std::vector<std::string>{"PlainForm", "AwareForm"}));
    EXPECT_EQ(aware.calls, "BABA");
}
