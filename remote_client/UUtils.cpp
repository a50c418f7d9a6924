#include "UUtils.h"

#include "UCheckHistory.h"

#include <cstdint>
#include <cstring>

const IID IID_ICheckStatus = __uuidof(ICheckStatus);
const IID IID_ICheckServerStatus = __uuidof(ICheckServerStatus);

// ---------------------------------------------------------------------------------------------------------------
// TCheckStatus

TCheckStatus::TCheckStatus(TClock clock) : clock_(clock ? std::move(clock) : TClock(&Now)) { LastCheckTime = clock_(); }

TCheckStatus::~TCheckStatus() = default;

HRESULT TCheckStatus::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == IID_IBindStatusCallback)
        *object = static_cast<IBindStatusCallback*>(this);
    else if (riid == IID_IAuthenticate)
        *object = static_cast<IAuthenticate*>(this);
    else if (riid == IID_IHttpSecurity)
        *object = static_cast<IHttpSecurity*>(this);
    else
        return TSkipRefObject::QueryOwnInterface(riid, object);
    return S_OK;
}

void TCheckStatus::BeginAsyncCheck()
{
    prepared_ = ReadRequest();
    checkRunning_.store(true);
}

TCheckRequest TCheckStatus::TakeRequest()
{
    if (prepared_) {
        TCheckRequest request = std::move(*prepared_);
        prepared_.reset();
        current_ = request;
        return request;
    }
    current_ = ReadRequest();
    return current_;
}

// The downtime is charged the whole minutes since the previous check, whatever that check's outcome; the sum
// wraps in 32 bits rather than overflowing.
void TCheckStatus::FinishCheck(int checkIntervalMinutes)
{
    TDateTime now = clock_();
    if (!StatusOk) {
        auto minutes = static_cast<uint32_t>(WholeMinutesBetween(LastCheckTime, now));
        Downtime = static_cast<int32_t>(static_cast<uint32_t>(Downtime) + minutes);
    }
    LastCheckTime = now;
    NextCheckTime = AddMinutes(LastCheckTime, checkIntervalMinutes);
    if (StatusOk)
        LastSuccessTime = LastCheckTime;
}

HRESULT TCheckStatus::OnStartBinding(DWORD, IBinding*) { return S_OK; }

HRESULT TCheckStatus::GetPriority(LONG* priority) { return AnswerPriority(priority); }

HRESULT TCheckStatus::OnLowResource(DWORD) { return S_OK; }

HRESULT TCheckStatus::OnProgress(ULONG, ULONG, ULONG, LPCWSTR) { return S_OK; }

HRESULT TCheckStatus::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }

HRESULT TCheckStatus::GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo)
{
    return AnswerBindInfo(kCheckBindFlags, bindFlags, bindInfo);
}

HRESULT TCheckStatus::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }

HRESULT TCheckStatus::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

HRESULT TCheckStatus::Authenticate(HWND* window, LPWSTR* username, LPWSTR* password)
{
    if (!window || !username || !password)
        return E_INVALIDARG;
    *window = nullptr;
    TCredentials credentials = CheckCredentials();
    HRESULT copied = AnswerCredentials(credentials.Username, credentials.Password, username, password);
    return FAILED(copied) ? copied : credentials.Result;
}

// ---------------------------------------------------------------------------------------------------------------
// Answers shared by the binding-callback objects

// The caller's cbSize bounds what is cleared, so that a shorter record from an older caller is not overrun.
HRESULT AnswerBindInfo(DWORD flags, DWORD* bindFlags, BINDINFO* bindInfo)
{
    if (!bindFlags || !bindInfo)
        return E_INVALIDARG;
    *bindFlags = flags;
    ULONG size = bindInfo->cbSize && bindInfo->cbSize < sizeof(BINDINFO) ? bindInfo->cbSize : sizeof(BINDINFO);
    std::memset(bindInfo, 0, size);
    bindInfo->cbSize = size;
    if (size >= offsetof(BINDINFO, dwCodePage) + sizeof(bindInfo->dwCodePage)) {
        bindInfo->grfBindInfoF = BINDINFOF_URLENCODEDEXTRAINFO;
        bindInfo->dwBindVerb = BINDVERB_GET;
        bindInfo->dwCodePage = 0;
    }
    return S_OK;
}

HRESULT AnswerPriority(LONG* priority)
{
    if (!priority)
        return E_POINTER;
    *priority = THREAD_PRIORITY_NORMAL;
    return S_OK;
}

namespace {

LPWSTR CoTaskCopy(const std::optional<std::wstring>& text)
{
    if (!text)
        return nullptr;
    size_t bytes = (text->size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text->c_str(), bytes);
    return copy;
}

} // namespace

HRESULT AnswerCredentials(const std::optional<std::wstring>& username, const std::optional<std::wstring>& password,
                          LPWSTR* usernameCopy, LPWSTR* passwordCopy)
{
    *usernameCopy = CoTaskCopy(username);
    *passwordCopy = CoTaskCopy(password);
    if ((username && !*usernameCopy) || (password && !*passwordCopy)) {
        CoTaskMemFree(*usernameCopy);
        CoTaskMemFree(*passwordCopy);
        *usernameCopy = *passwordCopy = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TCheckStatus::GetWindow(REFGUID, HWND* window)
{
    if (!window)
        return E_INVALIDARG;
    *window = nullptr;
    return S_OK;
}

HRESULT TCheckStatus::OnSecurityProblem(DWORD) { return S_OK; }

std::optional<std::string> TCheckStatus::TimedRetrieve(const std::wstring& url, const TRetrieveOptions& options)
{
    CheckStarted = CurrentTime();
    TStopwatch watch;
    std::optional<std::string> body = RetrieveURL(url, static_cast<IBindStatusCallback*>(this), options);
    ResponseMs = watch.Milliseconds();
    return body;
}
