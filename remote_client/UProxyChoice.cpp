#include "UProxyChoice.h"

#include <winhttp.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

namespace {

constexpr const wchar_t* kUserAgent = L"Mozilla/5.0 (compatible; MendrelRemoteClient)";
constexpr ULONGLONG kChoiceLifetimeMs = 60 * 1000;
constexpr ULONGLONG kSettingsLifetimeMs = 30 * 1000;
// Detection that found nothing is not tried again for a while: it asks the network, and finds the same.
constexpr ULONGLONG kDetectionPauseMs = 5 * 60 * 1000;
constexpr size_t kMaxChoices = 4096;

// The user's Internet settings as WinHTTP reads them.
struct TUserSettings {
    bool Read = false;
    bool AutoDetect = false;
    std::wstring AutoConfigURL;
    std::wstring Proxy;
    std::wstring Bypass;
};

std::wstring TakeGlobalString(LPWSTR text)
{
    std::wstring result = text ? text : L"";
    if (text)
        GlobalFree(text);
    return result;
}

TUserSettings ReadUserSettings()
{
    TUserSettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config))
        return settings;
    settings.Read = true;
    settings.AutoDetect = config.fAutoDetect != FALSE;
    settings.AutoConfigURL = TakeGlobalString(config.lpszAutoConfigUrl);
    settings.Proxy = TakeGlobalString(config.lpszProxy);
    settings.Bypass = TakeGlobalString(config.lpszProxyBypass);
    return settings;
}

class TProxyChoices {
public:
    static TProxyChoices& Instance()
    {
        static TProxyChoices* instance = new TProxyChoices;
        return *instance;
    }

    TProxyChoice Choose(const std::wstring& url)
    {
        std::wstring key = KeyOf(url);
        TUserSettings settings;
        bool detect = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ULONGLONG now = GetTickCount64();
            auto it = choices_.find(key);
            if (it != choices_.end() && now < it->second.second)
                return it->second.first;
            if (!settingsRead_ || now >= settingsUntil_) {
                settings_ = ReadUserSettings();
                settingsRead_ = true;
                settingsUntil_ = now + kSettingsLifetimeMs;
            }
            settings = settings_;
            detect = settings.AutoDetect && now >= detectionPausedUntil_;
        }

        TProxyChoice choice;
        // One automatic lookup at a time, until its answer is kept: a burst of first checks would otherwise
        // detect as many times at once. Whoever waited finds the answer kept, or the detection paused.
        std::unique_lock<std::mutex> serial(lookupMutex_, std::defer_lock);
        if (settings.Read) {
            std::optional<TProxyChoice> automatic;
            if (detect || !settings.AutoConfigURL.empty()) {
                serial.lock();
                std::lock_guard<std::mutex> lock(mutex_);
                auto it = choices_.find(key);
                if (it != choices_.end() && GetTickCount64() < it->second.second)
                    return it->second.first;
                detect = detect && GetTickCount64() >= detectionPausedUntil_;
            }
            if (detect || !settings.AutoConfigURL.empty())
                automatic = FromScript(url, settings, detect);
            if (automatic)
                choice = *automatic;
            else if (!settings.Proxy.empty())
                choice = {TProxyChoice::TKind::Named, settings.Proxy, settings.Bypass};
            else
                choice.Kind = TProxyChoice::TKind::Direct;
        }

        std::lock_guard<std::mutex> lock(mutex_);
        if (choices_.size() >= kMaxChoices)
            choices_.clear();
        choices_[key] = {choice, GetTickCount64() + kChoiceLifetimeMs};
        return choice;
    }

    void Forget()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        choices_.clear();
        settingsRead_ = false;
        detectionPausedUntil_ = 0;
    }

private:
    // Scheme, host and port: what the path adds to a script's answer is not kept apart.
    static std::wstring KeyOf(const std::wstring& url)
    {
        size_t start = url.find(L"://");
        size_t end = start == std::wstring::npos ? url.size() : url.find(L'/', start + 3);
        std::wstring key = url.substr(0, end);
        std::transform(key.begin(), key.end(), key.begin(), [](wchar_t c) { return std::towlower(c); });
        return key;
    }

    // The answer of the automatic configuration (detected or given), or nothing when there is none.
    std::optional<TProxyChoice> FromScript(const std::wstring& url, const TUserSettings& settings, bool detect)
    {
        HINTERNET session = LookupSession();
        if (!session)
            return std::nullopt;
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (detect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!settings.AutoConfigURL.empty()) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = settings.AutoConfigURL.c_str();
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info = {};
        if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
            if (detect && settings.AutoConfigURL.empty()) {
                std::lock_guard<std::mutex> lock(mutex_);
                detectionPausedUntil_ = GetTickCount64() + kDetectionPauseMs;
            }
            return std::nullopt;
        }
        TProxyChoice choice;
        std::wstring proxy = TakeGlobalString(info.lpszProxy);
        std::wstring bypass = TakeGlobalString(info.lpszProxyBypass);
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty())
            choice = {TProxyChoice::TKind::Named, proxy, bypass};
        else
            choice.Kind = TProxyChoice::TKind::Direct;
        return choice;
    }

    // The session through which scripts are found and fetched; never one that requests are sent on.
    static HINTERNET LookupSession()
    {
        static HINTERNET session = [] {
            HINTERNET s = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
            if (s)
                WinHttpSetTimeouts(s, 5000, 5000, 10000, 10000);
            return s;
        }();
        return session;
    }

    std::mutex lookupMutex_;
    std::mutex mutex_;
    std::map<std::wstring, std::pair<TProxyChoice, ULONGLONG>> choices_;
    TUserSettings settings_;
    bool settingsRead_ = false;
    ULONGLONG settingsUntil_ = 0;
    ULONGLONG detectionPausedUntil_ = 0;
};

// Where the system knows WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY (Windows 8.1 on), it chooses itself; elsewhere its
// default proxy setting stands.
HINTERNET OpenSystemDefaultSession()
{
    HINTERNET session =
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    return session;
}

} // namespace

TProxyChoice ProxyForURL(const std::wstring& url) { return TProxyChoices::Instance().Choose(url); }

void ForgetProxyChoices() { TProxyChoices::Instance().Forget(); }

// Opening a session costs more than a loopback request itself, so each proxy setting has one session for every
// request of the process; requests on one session may run on any number of threads. The sessions are never
// closed: there are as many as the settings seen, a handful.
HINTERNET SessionForProxy(const TProxyChoice& choice)
{
    static std::mutex mutex;
    static auto* sessions = new std::map<std::tuple<int, std::wstring, std::wstring>, HINTERNET>;
    auto key = std::make_tuple(static_cast<int>(choice.Kind), choice.Proxy, choice.Bypass);
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions->find(key);
    if (it != sessions->end())
        return it->second;
    HINTERNET session = nullptr;
    switch (choice.Kind) {
    case TProxyChoice::TKind::SystemDefault: session = OpenSystemDefaultSession(); break;
    case TProxyChoice::TKind::Direct:
        session =
            WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        break;
    case TProxyChoice::TKind::Named:
        session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, choice.Proxy.c_str(),
                              choice.Bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : choice.Bypass.c_str(), 0);
        break;
    }
    if (session)
        (*sessions)[key] = session;
    return session;
}
