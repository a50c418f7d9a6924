// Interface objects freed only by their owner, and whole-minute arithmetic on the shared date-time type.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include "Uuid.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The root object class.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// The framework's component base class: answers interface queries, its life decided by its owner. A component
// can own further components, which go with it, and carries a name unique among its owner's components.
class TComponent : public TObject, public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // The class name under which the locale data translates the component.
    virtual std::string ClassName() const;

    const std::string& Name() const { return name_; }
    // Raises the base exception for a name that is not an identifier or that a sibling already carries.
    void SetName(const std::string& name);
    TComponent* Owner() const { return owner_; }
    // Takes ownership: the component is freed with this one.
    TComponent* InsertComponent(std::unique_ptr<TComponent> component);
    // The owned component of that name (letter case ignored), or null.
    TComponent* FindComponent(const std::string& name) const;
    size_t ComponentCount() const { return components_.size(); }

protected:
    // Derived classes answer their own interfaces first, then call this.
    virtual HRESULT QueryOwnInterface(REFIID riid, void** object);

private:
    std::string name_;
    TComponent* owner_ = nullptr;
    std::vector<std::unique_ptr<TComponent>> components_;
};

// The framework's reference-counted interfaced base class: freed when the last reference goes.
class TInterfacedObject : public TObject, public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    LONG RefCount() const { return refCount_.load(); }

protected:
    virtual HRESULT QueryOwnInterface(REFIID riid, void** object);

private:
    std::atomic<LONG> refCount_{0};
};

struct ISkipRefObject;
MENDREL_DECLARE_UUID(ISkipRefObject, "F9732FEB-B137-459A-88BA-AC8B085E6D67", 0xf9732feb, 0xb137, 0x459a, 0x88, 0xba,
                     0xac, 0x8b, 0x08, 0x5e, 0x6d, 0x67)
struct ISkipRefObject : public IUnknown {
    virtual TObject* STDMETHODCALLTYPE GetObject() = 0;
};
extern const IID IID_ISkipRefObject;

// Used through interfaces; the counter never decides its life: only the owner destroys it.
class TSkipRefObject : public TObject, public ISkipRefObject {
public:
    TSkipRefObject();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    TObject* STDMETHODCALLTYPE GetObject() override { return this; }
    LONG RefCount() const { return refCount_.load(); }

protected:
    // Derived classes answer their own interfaces here; the base answers IUnknown and ISkipRefObject.
    virtual HRESULT QueryOwnInterface(REFIID riid, void** object);

private:
    std::atomic<LONG> refCount_{1};
};

// The basic interface of whatever object a list row carries, or an empty reference.
Microsoft::WRL::ComPtr<IUnknown> GetObjectInterface(TObject* object);

using TDateTime = double;
int64_t WholeMinutesBetween(TDateTime a, TDateTime b);
TDateTime AddMinutes(TDateTime t, int64_t minutes);
// The current local time as a date-time.
TDateTime Now();
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);
SYSTEMTIME DateTimeToSystemTime(TDateTime t);
