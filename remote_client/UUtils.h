// The status contract of a monitored item and the status objects' common base, with the answers that every
// binding-callback object of the program gives alike. The retrieval is URetrieval's, the runner UCheckRunner's.
#pragma once

#include "InterfaceObjects.h"
#include "URetrieval.h"
#include "Uuid.h"

#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct ICheckStatus;
MENDREL_DECLARE_UUID(ICheckStatus, "A8B2FC61-4DA0-42B4-8C1F-ED3F3A4B9E1E", 0xa8b2fc61, 0x4da0, 0x42b4, 0x8c, 0x1f, 0xed,
                     0x3f, 0x3a, 0x4b, 0x9e, 0x1e)
struct ICheckServerStatus;
MENDREL_DECLARE_UUID(ICheckServerStatus, "6828615C-5738-4C42-8323-AF0A1D16C35E", 0x6828615c, 0x5738, 0x4c42, 0x83, 0x23,
                     0xaf, 0x0a, 0x1d, 0x16, 0xc3, 0x5e)

// What the scheduler sees of a monitored item.
struct ICheckStatus : public IUnknown {
    virtual TDateTime STDMETHODCALLTYPE GetNextCheckTime() = 0;
    virtual TDateTime STDMETHODCALLTYPE GetLastCheckTime() = 0;
    virtual int32_t STDMETHODCALLTYPE GetDowntime() = 0;
    virtual bool STDMETHODCALLTYPE GetActive() = 0;
    virtual bool STDMETHODCALLTYPE GetStatusOk() = 0;
    virtual std::wstring STDMETHODCALLTYPE GetURL() = 0;
    virtual void STDMETHODCALLTYPE RunCheck() = 0;
};

// Only a server can be ordered to reboot.
struct ICheckServerStatus : public ICheckStatus {
    virtual void STDMETHODCALLTYPE Reboot() = 0;
};

extern const IID IID_ICheckStatus;
extern const IID IID_ICheckServerStatus;

using TClock = std::function<TDateTime()>;

// The settings a check uses, read once from the item's settings object when the check is set up.
struct TCheckRequest {
    std::wstring URL;
    std::wstring Username;
    std::wstring Password;
    std::wstring CodeToCheck;
    int CheckIntevalMinutes = 0;
};

struct TCredentials {
    std::optional<std::wstring> Username;
    std::optional<std::wstring> Password;
    HRESULT Result = S_FALSE;
};

// Answers that every binding-callback object of the program gives alike.
// A plain GET with the given bind flags; the caller's cbSize bounds what is written.
HRESULT AnswerBindInfo(DWORD flags, DWORD* bindFlags, BINDINFO* bindInfo);
HRESULT AnswerPriority(LONG* priority);
// Copies for the URL service, which frees them with CoTaskMemFree; an absent text stays null. Both stay null
// and E_OUTOFMEMORY comes back when a copy cannot be made.
HRESULT AnswerCredentials(const std::optional<std::wstring>& username, const std::optional<std::wstring>& password,
                          LPWSTR* usernameCopy, LPWSTR* passwordCopy);

// The common base of the server and site status objects: the status record, the bookkeeping of the check cycle
// and the answers to the URL service. Freed by its owner only; interface references do not keep it alive.
class TCheckStatus : public TSkipRefObject, public IBindStatusCallback, public IAuthenticate, public IHttpSecurity {
public:
    // The status record. While CheckRunning() the worker writes it; the owner reads it once the check has
    // called back (or shows what it copied when it last rewrote the row).
    TDateTime NextCheckTime = 0;
    std::wstring StatusText = L"Initial state";
    TDateTime LastCheckTime = 0;
    TDateTime LastSuccessTime = 0;
    int32_t Downtime = 0;
    bool StatusOk = true;
    // When the last check's request started, and how long it took until its body was read or it failed.
    TDateTime CheckStarted = 0;
    uint32_t ResponseMs = 0;

    // How long and how much a retrieval of this object may take.
    TRetrieveOptions Retrieval;

    ~TCheckStatus() override;

    // This object's ICheckStatus (the one the runner and the scheduler use).
    virtual ICheckStatus* CheckStatus() = 0;

    // True from the start of an asynchronous check until its callback has been delivered (or dropped).
    bool CheckRunning() const { return checkRunning_.load(); }

    // The user name, password and result handed to IAuthenticate::Authenticate.
    virtual TCredentials CheckCredentials() = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return TSkipRefObject::QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return TSkipRefObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TSkipRefObject::Release(); }

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;
    // IAuthenticate
    HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* username, LPWSTR* password) override;
    // IHttpSecurity
    HRESULT STDMETHODCALLTYPE GetWindow(REFGUID reason, HWND* window) override;
    HRESULT STDMETHODCALLTYPE OnSecurityProblem(DWORD problem) override;

    // Used by the runner, on the main thread, before the worker starts: marks the check as running and reads the
    // settings there, so that the worker never reads a settings object that the main thread may be editing.
    void BeginAsyncCheck();
    void EndAsyncCheck() { checkRunning_.store(false); }

protected:
    explicit TCheckStatus(TClock clock);

    TDateTime CurrentTime() const { return clock_(); }
    // The item's settings as a check uses them.
    virtual TCheckRequest ReadRequest() const = 0;
    // The request of the check in progress: prepared by BeginAsyncCheck, or read now.
    TCheckRequest TakeRequest();
    // The settings of the request in progress, as CheckCredentials hands them over.
    const TCheckRequest& CurrentRequest() const { return current_; }
    // RetrieveURL with this object as its callback, timed into CheckStarted and ResponseMs.
    std::optional<std::string> TimedRetrieve(const std::wstring& url, const TRetrieveOptions& options);
    // Downtime on failure, last check, next check and last success, in that order.
    void FinishCheck(int checkIntervalMinutes);

    HRESULT QueryOwnInterface(REFIID riid, void** object) override;

private:
    TClock clock_;
    std::atomic<bool> checkRunning_{false};
    std::optional<TCheckRequest> prepared_;
    TCheckRequest current_;
};

// Gives a status class its ICheckStatus (or ICheckServerStatus) answers from the common status record.
template <class TInterface>
class TCheckStatusOf : public TCheckStatus, public TInterface {
public:
    ICheckStatus* CheckStatus() override { return this; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return TSkipRefObject::QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return TSkipRefObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TSkipRefObject::Release(); }

    TDateTime STDMETHODCALLTYPE GetNextCheckTime() override { return NextCheckTime; }
    TDateTime STDMETHODCALLTYPE GetLastCheckTime() override { return LastCheckTime; }
    int32_t STDMETHODCALLTYPE GetDowntime() override { return Downtime; }
    bool STDMETHODCALLTYPE GetStatusOk() override { return StatusOk; }

protected:
    using TCheckStatus::TCheckStatus;

    HRESULT QueryOwnInterface(REFIID riid, void** object) override
    {
        if (riid == IID_ICheckStatus || riid == __uuidof(TInterface)) {
            *object = static_cast<TInterface*>(this);
            return S_OK;
        }
        return TCheckStatus::QueryOwnInterface(riid, object);
    }
};
