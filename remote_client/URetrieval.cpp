// The retrieval of one URL on WinHTTP as the platform's URL service would retrieve it: the request's
// deadline and its watchdog, redirects, challenges, certificate problems and the body's limits.
#include "URetrieval.h"

#include "Strings.h"
#include "Unique.h"
#include "UProxyChoice.h"
#include "UUrlParts.h"
#include "WinTools.h"

#include <winhttp.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kReadChunk = 65536;
// The security problem that the URL service reports for a redirect from https to http.
constexpr DWORD kHttpsToHttpOnRedirect = 12042;

void CloseInternetHandle(HINTERNET h) { WinHttpCloseHandle(h); }
using UniqueInternet = Unique<HINTERNET, &CloseInternetHandle>;

std::wstring WinHttpErrorText(DWORD code)
{
    wchar_t buffer[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"winhttp.dll"), code, 0, buffer, ARRAYSIZE(buffer), nullptr);
    std::wstring text(buffer, n);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.'))
        text.pop_back();
    if (text.empty())
        text = FormatW(L"Error %lu", static_cast<unsigned long>(code));
    return text;
}

bool IsCertificateProblem(DWORD code)
{
    switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED: return true;
    default: return false;
    }
}

// The first scheme the server offered when WinHTTP can answer it, else the strongest one it can.
DWORD ChooseAuthScheme(DWORD supported, DWORD first)
{
    if (first & supported)
        return first;
    for (DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                         WINHTTP_AUTH_SCHEME_BASIC})
        if (supported & scheme)
            return scheme;
    return 0;
}

// WinHTTP's timeouts restart with every packet, so a server that sends a byte now and then would hold a request
// for ever. When a request's deadline passes, the watchdog shortens all its timeouts to a millisecond: the read
// under way returns with its next packet and the one after it fails at once. One thread watches every request of
// the process; it is never ended, like the runner.
class TDeadlineWatchdog {
public:
    static TDeadlineWatchdog& Instance()
    {
        static TDeadlineWatchdog* instance = new TDeadlineWatchdog;
        return *instance;
    }

    uint64_t Watch(HINTERNET request, ULONGLONG deadline)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uint64_t id = nextId_++;
        entries_[id] = {deadline, request};
        queue_.insert({deadline, id});
        // Waking the watchdog costs a round of thread switches; it is woken only when it would sleep past this
        // deadline, so that requests one after the other do not wake it each.
        if (deadline < wakeAt_)
            changed_.notify_one();
        return id;
    }
    // Once this returns the watchdog no longer touches the request.
    void Unwatch(uint64_t id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end())
            return;
        queue_.erase({it->second.first, id});
        entries_.erase(it);
    }

private:
    TDeadlineWatchdog()
    {
        std::thread([this] { Run(); }).detach();
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ULONGLONG now = GetTickCount64();
            if (queue_.empty()) {
                // Idle, it looks again after a while by itself: a request's deadline lies further ahead.
                wakeAt_ = now + kIdleWakeMs;
                changed_.wait_for(lock, std::chrono::milliseconds(kIdleWakeMs));
                continue;
            }
            auto [deadline, id] = *queue_.begin();
            if (deadline > now) {
                wakeAt_ = deadline;
                changed_.wait_for(lock, std::chrono::milliseconds(deadline - now));
                continue;
            }
            queue_.erase(queue_.begin());
            HINTERNET request = entries_[id].second;
            DWORD ms = 1;
            WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof(ms));
            WinHttpSetTimeouts(request, 0, 1, 1, 1);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint64_t, std::pair<ULONGLONG, HINTERNET>> entries_;
    std::set<std::pair<ULONGLONG, uint64_t>> queue_;
    uint64_t nextId_ = 1;
    // When the watchdog wakes by itself at the latest; 0 until it first sleeps.
    ULONGLONG wakeAt_ = 0;
    static constexpr ULONGLONG kIdleWakeMs = 1000;
};

class TDeadlineWatch {
public:
    TDeadlineWatch(HINTERNET request, ULONGLONG deadline) : id_(TDeadlineWatchdog::Instance().Watch(request, deadline))
    {
    }
    ~TDeadlineWatch() { TDeadlineWatchdog::Instance().Unwatch(id_); }
    TDeadlineWatch(const TDeadlineWatch&) = delete;
    TDeadlineWatch& operator=(const TDeadlineWatch&) = delete;

private:
    uint64_t id_;
};

// The binding handed to OnStartBinding: lets the callback object abort the request.
class TBinding final : public IBinding {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBinding) {
            *object = static_cast<IBinding*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG n = --refs_;
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE Abort() override
    {
        aborted_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override
    {
        if (!priority)
            return E_POINTER;
        *priority = THREAD_PRIORITY_NORMAL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindResult(CLSID* protocol, DWORD* result, LPOLESTR* text, DWORD*) override
    {
        if (protocol)
            *protocol = CLSID_NULL;
        if (result)
            *result = 0;
        if (text)
            *text = nullptr;
        return S_OK;
    }
    bool Aborted() const { return aborted_.load(); }

private:
    std::atomic<LONG> refs_{1};
    std::atomic<bool> aborted_{false};
};

class TRetrieval {
public:
    TRetrieval(const std::wstring& url, IBindStatusCallback* callback, const TRetrieveOptions& options)
        : url_(url), callback_(callback), options_(options), deadline_(GetTickCount64() + options.DeadlineMs)
    {
    }

    std::optional<std::string> Run();
    // The status code of the last answer, once Run has opened the request.
    DWORD HttpStatus() const { return httpStatus_; }

private:
    DWORD Remaining() const
    {
        ULONGLONG now = GetTickCount64();
        return now >= deadline_ ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline_ - now, MAXLONG));
    }
    void Progress(ULONG statusCode, const std::wstring& text, ULONG progress = 0, ULONG progressMax = 0)
    {
        if (callback_)
            callback_->OnProgress(progress, progressMax, statusCode, text.c_str());
    }
    std::optional<std::string> Fail(DWORD error)
    {
        Stop(HRESULT_FROM_WIN32(error), WinHttpErrorText(error));
        return std::nullopt;
    }
    std::optional<std::string> Abort()
    {
        Stop(E_ABORT, L"Operation aborted");
        return std::nullopt;
    }
    void Stop(HRESULT result, const std::wstring& error)
    {
        if (callback_)
            callback_->OnStopBinding(result, error.empty() ? nullptr : error.c_str());
    }
    bool Aborted() const { return binding_ && binding_->Aborted(); }
    // Both the wait for the headers and every single read are bounded by what is left of the deadline.
    bool SetReceiveTimeout(HINTERNET request)
    {
        DWORD ms = std::max<DWORD>(Remaining(), 1);
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof(ms));
        return WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms)) != FALSE;
    }
    // One request and its answer; the members are closed in the reverse order.
    struct THop {
        UniqueInternet Connection;
        UniqueInternet Request;
        std::unique_ptr<TDeadlineWatch> Watch;
        bool ServerCredentialsGiven = false;
        bool ProxyCredentialsGiven = false;
        void Close()
        {
            Watch.reset();
            Request.reset();
            Connection.reset();
            ServerCredentialsGiven = ProxyCredentialsGiven = false;
        }
        ~THop() { Close(); }
    };
    bool Exchange(const std::wstring& url, const TUrlParts& parts, bool askedHost, THop& hop, DWORD& error);
    std::optional<std::wstring> RedirectTarget(const THop& hop, const std::wstring& current);
    bool OpenRequest(const TUrlParts& parts, THop& hop);
    bool AnswerChallenge(const TUrlParts& parts, THop& hop, DWORD statusCode);
    bool AnswerProxyChallenge(const TUrlParts& parts, THop& hop);
    bool SetChallengeCredentials(const TUrlParts& parts, THop& hop, DWORD statusCode, const std::wstring& username,
                                 const std::wstring& password);
    // A problem of the request (or, without one, of the redirect under way) that the callback may accept.
    bool AcceptSecurityProblem(HINTERNET request, DWORD problem);
    std::string ReadBody(HINTERNET request);

    std::wstring url_;
    IBindStatusCallback* callback_;
    TRetrieveOptions options_;
    ULONGLONG deadline_;
    DWORD httpStatus_ = 0;
    DWORD bindFlags_ = 0;
    // The certificate problems that the callback accepted, for every later request of the retrieval.
    DWORD securityFlags_ = 0;
    ComPtr<TBinding> binding_;
};

// Redirects are followed here rather than by WinHTTP, so that each hop is judged as the URL service judges it:
// a bounded number of them, a step from https down to http put to the callback as a security problem, and the
// caller's credentials offered only to the host that was asked for.
std::optional<std::string> TRetrieval::Run()
{
    if (callback_) {
        BINDINFO info = {};
        info.cbSize = sizeof(info);
        if (SUCCEEDED(callback_->GetBindInfo(&bindFlags_, &info)))
            ReleaseBindInfo(&info);
        binding_.Attach(new TBinding);
        if (FAILED(callback_->OnStartBinding(0, binding_.Get())))
            return std::nullopt;
    }

    DWORD error = 0;
    std::optional<TUrlParts> parts = SplitRequestURL(url_, error);
    if (!parts)
        return Fail(error);
    const std::wstring askedHost = parts->Host;
    std::wstring current = url_;
    THop hop;
    for (int redirects = 0;; ++redirects) {
        hop.Close();
        if (!Exchange(current, *parts, SameHost(parts->Host, askedHost), hop, error))
            return error == ERROR_OPERATION_ABORTED ? Abort() : Fail(error);
        std::optional<std::wstring> next = RedirectTarget(hop, current);
        if (!next)
            break;
        if (redirects >= kMaxRedirects)
            return Fail(ERROR_WINHTTP_REDIRECT_FAILED);
        std::optional<TUrlParts> nextParts = SplitRequestURL(*next, error);
        if (!nextParts)
            return Fail(error);
        if (parts->Secure && !nextParts->Secure && !AcceptSecurityProblem(nullptr, kHttpsToHttpOnRedirect))
            return Fail(ERROR_WINHTTP_REDIRECT_FAILED);
        Progress(BINDSTATUS_REDIRECTING, *next);
        current = *next;
        parts = std::move(nextParts);
    }

    HINTERNET request = hop.Request.get();
    wchar_t contentType[256] = {};
    DWORD typeSize = sizeof(contentType);
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX, contentType, &typeSize,
                            WINHTTP_NO_HEADER_INDEX))
        Progress(BINDSTATUS_MIMETYPEAVAILABLE, contentType);
    std::string body = ReadBody(request);
    if (Aborted())
        return Abort();
    Progress(BINDSTATUS_ENDDOWNLOADDATA, url_, static_cast<ULONG>(body.size()), static_cast<ULONG>(body.size()));
    Stop(S_OK, L"");
    return body;
}

// The URL that a redirecting answer sends the request on to; nothing for any other answer, and for a redirect
// without a usable Location, whose own body is then the answer.
std::optional<std::wstring> TRetrieval::RedirectTarget(const THop& hop, const std::wstring& current)
{
    switch (httpStatus_) {
    case HTTP_STATUS_MOVED:
    case HTTP_STATUS_REDIRECT:
    case HTTP_STATUS_REDIRECT_METHOD:
    case HTTP_STATUS_REDIRECT_KEEP_VERB:
    case HTTP_STATUS_PERMANENT_REDIRECT: break;
    default: return std::nullopt;
    }
    DWORD size = 0;
    WinHttpQueryHeaders(hop.Request.get(), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 65536)
        return std::nullopt;
    std::wstring location(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(hop.Request.get(), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location.data(),
                             &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    location.resize(size / sizeof(wchar_t));
    return ResolveLocation(current, location);
}

// The request of a hop, ready to send, in place of the one it had.
bool TRetrieval::OpenRequest(const TUrlParts& parts, THop& hop)
{
    hop.Watch.reset();
    hop.Request.reset(WinHttpOpenRequest(hop.Connection.get(), L"GET", parts.Object.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         parts.Secure ? WINHTTP_FLAG_SECURE : 0));
    if (!hop.Request)
        return false;
    HINTERNET request = hop.Request.get();
    hop.Watch = std::make_unique<TDeadlineWatch>(request, deadline_);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects));
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    if (bindFlags_ & (BINDF_PRAGMA_NO_CACHE | BINDF_GETNEWESTVERSION))
        WinHttpAddRequestHeaders(request, L"Pragma: no-cache\r\nCache-Control: no-cache", DWORD(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    if (securityFlags_)
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags_, sizeof(securityFlags_));
    return true;
}

// Sends the request of one hop and receives the headers of its answer, answering a certificate problem and an
// authentication challenge as the callback object says. False with the error when no answer came.
bool TRetrieval::Exchange(const std::wstring& url, const TUrlParts& parts, bool askedHost, THop& hop, DWORD& error)
{
    Progress(BINDSTATUS_FINDINGRESOURCE, parts.Host);
    securityFlags_ = 0;
    // The proxy as the user's Internet settings give it, looked up here on the thread of the request.
    std::wstring target =
        (parts.Secure ? L"https://" : L"http://") + parts.Host + L":" + std::to_wstring(parts.Port) + parts.Object;
    HINTERNET session = SessionForProxy(ProxyForURL(target));
    if (!session) {
        error = GetLastError();
        return false;
    }
    hop.Connection.reset(WinHttpConnect(session, parts.Host.c_str(), parts.Port, 0));
    if (!hop.Connection) {
        error = GetLastError();
        return false;
    }
    if (!OpenRequest(parts, hop)) {
        error = GetLastError();
        return false;
    }
    HINTERNET request = hop.Request.get();

    // The user information of the URL first, as the URL service uses it; the callback object's credentials
    // after it, and only for the host that was asked for.
    bool urlCredentialsTried = !parts.Username.has_value();
    bool callbackAsked = !askedHost;
    bool proxyAsked = false;
    bool securityAsked = false;
    for (;;) {
        if (Aborted()) {
            error = ERROR_OPERATION_ABORTED;
            return false;
        }
        // No resolve timeout: with one WinHTTP resolves every name on a pool thread of its own, which doubles
        // the threads of a busy runner; the system resolver's own time-outs bound a lookup.
        int ms = static_cast<int>(std::max<DWORD>(Remaining(), 1));
        if (Remaining() == 0 || !WinHttpSetTimeouts(request, 0, ms, ms, ms) || !SetReceiveTimeout(request)) {
            error = ERROR_WINHTTP_TIMEOUT;
            return false;
        }
        Progress(BINDSTATUS_CONNECTING, parts.Host);
        Progress(BINDSTATUS_SENDINGREQUEST, url);
        bool answered =
            WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
        if (answered) {
            if (Remaining() == 0) {
                error = ERROR_WINHTTP_TIMEOUT;
                return false;
            }
            SetReceiveTimeout(request);
            answered = WinHttpReceiveResponse(request, nullptr) != FALSE;
        }
        if (!answered) {
            error = GetLastError();
            if (!securityAsked && IsCertificateProblem(error)) {
                securityAsked = true;
                if (AcceptSecurityProblem(request, error))
                    continue;
            }
            return false;
        }
        // Headers that come in after the deadline are as late as none at all.
        if (Remaining() == 0) {
            error = ERROR_WINHTTP_TIMEOUT;
            return false;
        }
        DWORD statusCode = 0, size = sizeof(statusCode);
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size, WINHTTP_NO_HEADER_INDEX);
        httpStatus_ = statusCode;
        bool retry = false;
        if (statusCode == HTTP_STATUS_DENIED && !urlCredentialsTried) {
            urlCredentialsTried = true;
            retry = SetChallengeCredentials(parts, hop, statusCode, *parts.Username, parts.Password.value_or(L""));
        } else if (statusCode == HTTP_STATUS_DENIED && !callbackAsked) {
            callbackAsked = true;
            retry = AnswerChallenge(parts, hop, statusCode);
        } else if (statusCode == HTTP_STATUS_PROXY_AUTH_REQ && !proxyAsked) {
            proxyAsked = true;
            retry = AnswerProxyChallenge(parts, hop);
        }
        if (!retry)
            return true;
        request = hop.Request.get();
    }
}

// A read that fails, the deadline, the size limit and memory that cannot be had all end the body; what was
// read so far is the body. The first kFreeBodyBytes are read freely; a body that goes on is leased at its size
// limit first (see kLeasedCopiesPerBody), waiting for the lease no longer than the deadline.
std::string TRetrieval::ReadBody(HINTERNET request)
{
    DWORD length = 0, size = sizeof(length);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX))
        length = 0;
    Progress(BINDSTATUS_BEGINDOWNLOADDATA, url_, 0, length);
    std::string body;
    std::optional<TMemoryLease> ownLease;
    TMemoryLease* lease = options_.Lease;
    bool leaseNeeded = options_.MaxBodyBytes > kFreeBodyBytes;
    size_t limit = leaseNeeded ? kFreeBodyBytes : options_.MaxBodyBytes;
    try {
        while (!Aborted() && (body.size() < limit || leaseNeeded)) {
            if (Remaining() == 0 || !SetReceiveTimeout(request))
                break;
            // Asking what has arrived first makes each step wait for one packet at most; a read of a whole chunk
            // would wait for the chunk to fill, however long the server takes.
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available) || available == 0)
                break;
            // Only a body that goes on past its free part is leased.
            if (body.size() >= limit) {
                leaseNeeded = false;
                if (!lease)
                    lease = &ownLease.emplace(TMemoryBudget::Checks());
                size_t leased = options_.MaxBodyBytes <= SIZE_MAX / kLeasedCopiesPerBody
                                    ? options_.MaxBodyBytes * kLeasedCopiesPerBody
                                    : SIZE_MAX;
                if (!lease->HoldAtLeast(leased, deadline_))
                    break;
                limit = options_.MaxBodyBytes;
                // Room for the whole body at once (as announced, when that is less): growing by doubling would
                // hold the old and the new buffer.
                body.reserve(length > body.size() && length < limit ? size_t(length) : limit);
                continue;
            }
            DWORD want = static_cast<DWORD>(std::min<size_t>({kReadChunk, limit - body.size(), size_t(available)}));
            // Read in place: a chunk-sized buffer per request would stay resident, as the heap keeps it, for every
            // request that a wave runs at once.
            size_t had = body.size();
            body.resize(had + want);
            DWORD read = 0;
            BOOL ok = WinHttpReadData(request, body.data() + had, want, &read);
            body.resize(had + (ok ? read : 0));
            if (!ok || read == 0)
                break;
            Progress(BINDSTATUS_DOWNLOADINGDATA, url_, static_cast<ULONG>(body.size()), length);
        }
    } catch (const std::bad_alloc&) {
        // A failed append leaves the body as it was.
    }
    return body;
}

// Asks the callback object once for credentials and sets them for the scheme the server offers.
bool TRetrieval::AnswerChallenge(const TUrlParts& parts, THop& hop, DWORD statusCode)
{
    ComPtr<IAuthenticate> authenticate;
    if (!callback_ || FAILED(callback_->QueryInterface(IID_PPV_ARGS(&authenticate))))
        return false;
    HWND window = nullptr;
    LPWSTR username = nullptr, password = nullptr;
    HRESULT hr = authenticate->Authenticate(&window, &username, &password);
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> ownedUser(username, &CoTaskMemFree);
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> ownedPassword(password, &CoTaskMemFree);
    if (hr != S_OK || !username)
        return false;
    return SetChallengeCredentials(parts, hop, statusCode, username, password ? password : L"");
}

// A proxy is offered the logged-on user's own logon (Negotiate or NTLM), as the URL service offers it, and never
// the item's credentials, which belong to the server; a proxy that wants a password of its own gets none.
bool TRetrieval::AnswerProxyChallenge(const TUrlParts& parts, THop& hop)
{
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(hop.Request.get(), &supported, &first, &target))
        return false;
    DWORD scheme = (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                   : (supported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                               : 0;
    if (scheme == 0)
        return false;
    if (hop.ProxyCredentialsGiven && !OpenRequest(parts, hop))
        return false;
    hop.ProxyCredentialsGiven = true;
    return WinHttpSetCredentials(hop.Request.get(), WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) !=
           FALSE;
}

// Credentials for the scheme that the answer of the hop's request offers. A request that has already sent
// credentials for its target is replaced by a fresh one first: WinHTTP may keep to the first ones it was given.
bool TRetrieval::SetChallengeCredentials(const TUrlParts& parts, THop& hop, DWORD statusCode,
                                         const std::wstring& username, const std::wstring& password)
{
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(hop.Request.get(), &supported, &first, &target))
        return false;
    DWORD scheme = ChooseAuthScheme(supported, first);
    if (scheme == 0)
        return false;
    bool& given = statusCode == HTTP_STATUS_PROXY_AUTH_REQ ? hop.ProxyCredentialsGiven : hop.ServerCredentialsGiven;
    if (given && !OpenRequest(parts, hop))
        return false;
    given = true;
    HINTERNET request = hop.Request.get();
    DWORD targetKind =
        statusCode == HTTP_STATUS_PROXY_AUTH_REQ ? WINHTTP_AUTH_TARGET_PROXY : WINHTTP_AUTH_TARGET_SERVER;
    return WinHttpSetCredentials(request, targetKind, scheme, username.c_str(), password.c_str(), nullptr) != FALSE;
}

// Without a security answer of its own the callback object's bind flags decide.
bool TRetrieval::AcceptSecurityProblem(HINTERNET request, DWORD problem)
{
    if (!callback_)
        return false;
    ComPtr<IHttpSecurity> security;
    bool accepted;
    if (SUCCEEDED(callback_->QueryInterface(IID_PPV_ARGS(&security))))
        accepted = security->OnSecurityProblem(problem) == S_OK;
    else
        accepted = (bindFlags_ & BINDF_IGNORESECURITYPROBLEM) != 0;
    if (!accepted)
        return false;
    if (!request)
        return true;
    securityFlags_ = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                     SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    return WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags_, sizeof(securityFlags_)) != FALSE;
}

} // namespace

std::optional<std::string> RetrieveURL(const std::wstring& url, IBindStatusCallback* callback,
                                       const TRetrieveOptions& options, DWORD* httpStatus)
{
    TRetrieval retrieval(url, callback, options);
    std::optional<std::string> body = retrieval.Run();
    if (httpStatus)
        *httpStatus = body ? retrieval.HttpStatus() : 0;
    return body;
}
