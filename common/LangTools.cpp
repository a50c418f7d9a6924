#include "LangTools.h"

#include "Exceptions.h"

const IID IID_ILanguageTranslationAware = __uuidof(ILanguageTranslationAware);

namespace {
constexpr const char* kUnit = "common\\LangTools";
TLocaleManager* g_localeManager = nullptr;
} // namespace

std::string TNeutralLocaleData::GetText(const std::string& id, const std::string& def)
{
    Assert(!id.empty(), "ID is empty", kUnit, 692);
    return def;
}

std::wstring TNeutralLocaleData::GetWideText(const std::string& id, const std::wstring& def)
{
    Assert(!id.empty(), "ID is empty", kUnit, 699);
    return def;
}

void TNeutralLocaleData::TranslateComponent(const std::string&, TComponent* component)
{
    if (!component)
        return;
    ILanguageTranslationAware* aware = nullptr;
    if (SUCCEEDED(component->QueryInterface(IID_ILanguageTranslationAware, reinterpret_cast<void**>(&aware))) &&
        aware) {
        aware->BeforeTranslation();
        aware->AfterTranslation();
        aware->Release();
    }
}

TLocaleManager::TLocaleManager() { SetCurrent(std::make_unique<TNeutralLocaleData>()); }

void TLocaleManager::SetCurrent(std::unique_ptr<TCustomLocaleData> data)
{
    current_.reset();
    current_ = std::move(data);
}

TLocaleManager& LocaleManager()
{
    if (!g_localeManager)
        g_localeManager = new TLocaleManager;
    return *g_localeManager;
}

void FreeLocaleManager()
{
    delete g_localeManager;
    g_localeManager = nullptr;
}

TCustomLocaleData& CurrentLocaleData()
{
    TCustomLocaleData* data = LocaleManager().Current();
    Assert(data != nullptr, "No Locale loaded yet", kUnit, 222);
    return *data;
}

void TranslateForm(TComponent* form)
{
    if (form)
        CurrentLocaleData().TranslateComponent(form->ClassName(), form);
}
