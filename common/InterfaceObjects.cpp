#include "InterfaceObjects.h"

#include "Exceptions.h"
#include "Strings.h"

#include <cmath>
#include <cstdlib>
#include <typeinfo>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif

const IID IID_ISkipRefObject = __uuidof(ISkipRefObject);

using Microsoft::WRL::ComPtr;

std::string TComponent::ClassName() const
{
    // GCC's type names are mangled, MSVC's carry a "class " prefix; either way keep the bare class name.
    std::string name = typeid(*this).name();
#if defined(__GNUC__)
    int status = 0;
    if (char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status)) {
        name = plain;
        std::free(plain);
    }
#endif
    if (name.compare(0, 6, "class ") == 0)
        name.erase(0, 6);
    size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

namespace {

bool IsIdentifier(const std::string& name)
{
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

} // namespace

void TComponent::SetName(const std::string& name)
{
    if (!name.empty() && !IsIdentifier(name))
        throw Exception(Format("Component name \"%s\" is not a valid identifier", name.c_str()));
    if (owner_ && !name.empty()) {
        TComponent* other = owner_->FindComponent(name);
        if (other && other != this)
            throw Exception(Format("A component named %s already exists", name.c_str()));
    }
    name_ = name;
}

TComponent* TComponent::InsertComponent(std::unique_ptr<TComponent> component)
{
    if (!component->name_.empty() && FindComponent(component->name_))
        throw Exception(Format("A component named %s already exists", component->name_.c_str()));
    component->owner_ = this;
    components_.push_back(std::move(component));
    return components_.back().get();
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    if (name.empty())
        return nullptr;
    for (const auto& c : components_) {
        if (SameTextAscii(c->name_, name))
            return c.get();
    }
    return nullptr;
}

HRESULT TComponent::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    return QueryOwnInterface(riid, object);
}

HRESULT TComponent::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT TInterfacedObject::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    HRESULT hr = QueryOwnInterface(riid, object);
    if (SUCCEEDED(hr))
        AddRef();
    return hr;
}

HRESULT TInterfacedObject::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG TInterfacedObject::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG TInterfacedObject::Release()
{
    LONG n = --refCount_;
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

// The counter starts at 1 so that nothing taken during construction can reach 0 and mislead; it drops to 0
// when the base is built.
TSkipRefObject::TSkipRefObject() { refCount_.fetch_sub(1); }

HRESULT TSkipRefObject::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    HRESULT hr = QueryOwnInterface(riid, object);
    if (SUCCEEDED(hr))
        AddRef();
    return hr;
}

HRESULT TSkipRefObject::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == IID_IUnknown || riid == IID_ISkipRefObject) {
        *object = static_cast<ISkipRefObject*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG TSkipRefObject::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG TSkipRefObject::Release() { return static_cast<ULONG>(--refCount_); }

ComPtr<IUnknown> GetObjectInterface(TObject* object)
{
    ComPtr<IUnknown> result;
    if (auto* skip = dynamic_cast<TSkipRefObject*>(object))
        result = static_cast<ISkipRefObject*>(skip);
    else if (auto* component = dynamic_cast<TComponent*>(object))
        result = static_cast<IUnknown*>(component);
    else if (auto* interfaced = dynamic_cast<TInterfacedObject*>(object))
        result = static_cast<IUnknown*>(interfaced);
    return result;
}

int64_t WholeMinutesBetween(TDateTime a, TDateTime b)
{
    double minutes = std::round(std::fabs(a - b) * 1440.0 * 1e6) / 1e6;
    return static_cast<int64_t>(std::trunc(minutes));
}

TDateTime AddMinutes(TDateTime t, int64_t minutes) { return (t * 1440.0 + static_cast<double>(minutes)) / 1440.0; }

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st)
{
    double variant = 0;
    SystemTimeToVariantTime(const_cast<SYSTEMTIME*>(&st), &variant);
    // VariantTime drops the milliseconds; keep them so that minute spans are exact.
    if (variant >= 0)
        variant += st.wMilliseconds / 86400000.0;
    return variant;
}

SYSTEMTIME DateTimeToSystemTime(TDateTime t)
{
    SYSTEMTIME st = {};
    double ms = std::round(t * 86400000.0);
    double days = std::floor(ms / 86400000.0);
    double rest = ms - days * 86400000.0;
    VariantTimeToSystemTime(days, &st);
    auto msOfDay = static_cast<int64_t>(rest);
    st.wHour = static_cast<WORD>(msOfDay / 3600000);
    st.wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    st.wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    st.wMilliseconds = static_cast<WORD>(msOfDay % 1000);
    return st;
}

TDateTime Now()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}
