// common\LangTools: the localization manager. Every text is the built-in one; the neutral data answers all.
#pragma once

#include "InterfaceObjects.h"

#include <memory>
#include <string>

struct ILanguageTranslationAware;
MENDREL_DECLARE_UUID(ILanguageTranslationAware, "201438B5-A838-4F19-B5CD-8AA69DF1CB00", 0x201438b5, 0xa838, 0x4f19,
                     0xb5, 0xcd, 0x8a, 0xa6, 0x9d, 0xf1, 0xcb, 0x00)
struct ILanguageTranslationAware : public IUnknown {
    virtual void STDMETHODCALLTYPE BeforeTranslation() = 0;
    virtual void STDMETHODCALLTYPE AfterTranslation() = 0;
};
extern const IID IID_ILanguageTranslationAware;

class TCustomLocaleData : public TObject {
public:
    virtual std::string GetText(const std::string& id, const std::string& def) = 0;
    virtual std::wstring GetWideText(const std::string& id, const std::wstring& def) = 0;
    virtual void TranslateComponent(const std::string& name, TComponent* component) = 0;
};

class TNeutralLocaleData : public TCustomLocaleData {
public:
    std::string GetText(const std::string& id, const std::string& def) override;
    std::wstring GetWideText(const std::string& id, const std::wstring& def) override;
    void TranslateComponent(const std::string& name, TComponent* component) override;
};

class TLocaleManager : public TObject {
public:
    TLocaleManager();
    TCustomLocaleData* Current() const { return current_.get(); }
    void SetCurrent(std::unique_ptr<TCustomLocaleData> data);

private:
    std::unique_ptr<TCustomLocaleData> current_;
};

// The one manager, created on first use.
TLocaleManager& LocaleManager();
// Frees the manager at program exit.
void FreeLocaleManager();
TCustomLocaleData& CurrentLocaleData();
// Hands the form to the current locale data under its class name.
void TranslateForm(TComponent* form);
