// Requests go through the proxy that the user's Internet settings name, as the URL service sends them: a real
// tinyproxy on the loopback, whose upstream is the http test server, so that host names below .invalid reach a
// server only through it.
#include "TestSupport.h"
#include "UProxyChoice.h"
#include "UServerStatus.h"
#include "USiteStatus.h"
#include "UUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace {

const wchar_t kConnectionsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kSettingsValue[] = L"DefaultConnectionSettings";

// The binary settings of the user's default connection, as the Internet options write them: a header (version,
// counter, flags), then the proxy, the bypass list and the configuration script's URL, each after its length.
std::vector<BYTE> ConnectionSettings(DWORD flags, const std::string& proxy, const std::string& bypass,
                                     const std::string& scriptURL)
{
    std::vector<BYTE> data;
    auto put = [&](DWORD v) {
        const BYTE* p = reinterpret_cast<const BYTE*>(&v);
        data.insert(data.end(), p, p + sizeof(v));
    };
    auto text = [&](const std::string& s) {
        put(static_cast<DWORD>(s.size()));
        data.insert(data.end(), s.begin(), s.end());
    };
    put(0x46);
    put(0);
    put(flags);
    text(proxy);
    text(bypass);
    text(scriptURL);
    data.resize(data.size() + 32, 0);
    return data;
}

constexpr DWORD kDirect = 1, kManual = 2, kScript = 4;

// Sets the prefix's user settings for the life of the object and puts back what was there (or nothing), since
// other tests share the prefix; the program's own lookups are forgotten both times.
class TUserProxySettings {
public:
    explicit TUserProxySettings(const std::vector<BYTE>& settings)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD type = 0, size = 0;
            if (RegQueryValueExW(key, kSettingsValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
                previous_.emplace(size);
                RegQueryValueExW(key, kSettingsValue, nullptr, &type, previous_->data(), &size);
                previousType_ = type;
            }
            RegCloseKey(key);
        }
        Write(settings);
    }
    ~TUserProxySettings()
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            if (previous_)
                RegSetValueExW(key, kSettingsValue, 0, previousType_, previous_->data(),
                               static_cast<DWORD>(previous_->size()));
            else
                RegDeleteValueW(key, kSettingsValue);
            RegCloseKey(key);
        }
        ForgetProxyChoices();
    }
    TUserProxySettings(const TUserProxySettings&) = delete;
    TUserProxySettings& operator=(const TUserProxySettings&) = delete;

    static void Write(const std::vector<BYTE>& settings)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, kSettingsValue, 0, REG_BINARY, settings.data(), static_cast<DWORD>(settings.size()));
        RegCloseKey(key);
        ForgetProxyChoices();
    }

private:
    std::optional<std::vector<BYTE>> previous_;
    DWORD previousType_ = REG_BINARY;
};

const TTestServers& Servers() { return TTestServers::Get(); }

std::string ProxyAddress(const char* name = "proxy") { return "127.0.0.1:" + std::to_string(Servers().Port(name)); }

// What the proxy has logged so far.
std::string ProxyLog(const char* name = "proxy")
{
    const char* ports = std::getenv("MENDREL_TEST_SERVERS");
    std::filesystem::path log =
        std::filesystem::path(DosPath(ports ? ports : "")).parent_path() / (std::string(name) + ".log");
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::wstring Direct(const std::wstring& path) { return Servers().Http(path); }

std::string SiteOutcome(const std::wstring& url, const std::wstring& code)
{
    TCheckSiteStatus status(SiteSettings(url, code));
    status.RunCheck();
    return WideToUtf8(status.StatusText);
}

} // namespace

TEST(Proxy, ManualProxyCarriesWhatItsBypassListDoesNot)
{
    TUserProxySettings settings(ConnectionSettings(kManual, ProxyAddress(), "<local>;127.0.0.1", ""));

    // The host is known to the proxy only.
    EXPECT_EQ(SiteOutcome(L"http://shop.mendrel.invalid/page", L"Welcome to the shop"), "Code found");
    EXPECT_THAT(ProxyLog(), HasSubstr("shop.mendrel.invalid"));
    // An international name goes to the proxy in its ASCII form.
    std::optional<std::string> line = RetrieveURL(L"http://b\u00fccher.mendrel.invalid/request-line", nullptr);
    ASSERT_TRUE(line.has_value());
    EXPECT_THAT(*line, HasSubstr("GET http://xn--bcher-kva.mendrel.invalid"));

    // Bypassed: 127.0.0.1 by name, localhost as a name without a dot (<local>). A proxied request would name
    // its host in the request line.
    for (const std::wstring& url :
         {Direct(L"/request-line"),
          L"http://localhost:" + std::to_wstring(Servers().Port("http")) + L"/request-line"}) {
        SCOPED_TRACE(WideToUtf8(url));
        line = RetrieveURL(url, nullptr);
        ASSERT_TRUE(line.has_value());
        EXPECT_THAT(*line, StartsWith("GET /request-line "));
    }
    EXPECT_THAT(ProxyLog(), Not(HasSubstr("localhost")));
}

TEST(Proxy, SettingsWithoutAProxyGoDirect)
{
    TUserProxySettings settings(ConnectionSettings(kDirect, "", "", ""));
    EXPECT_EQ(SiteOutcome(L"http://direct.mendrel.invalid/page", L"Welcome to the shop"), "Failed to connect");
    EXPECT_THAT(ProxyLog(), Not(HasSubstr("direct.mendrel.invalid")));
    std::optional<std::string> line = RetrieveURL(Direct(L"/request-line"), nullptr);
    ASSERT_TRUE(line.has_value());
    EXPECT_THAT(*line, StartsWith("GET /request-line "));

    // A manual proxy that is switched off (its flag clear) is no proxy either.
    TUserProxySettings::Write(ConnectionSettings(kDirect, ProxyAddress(), "", ""));
    EXPECT_EQ(SiteOutcome(L"http://off.mendrel.invalid/page", L"Welcome to the shop"), "Failed to connect");
}

TEST(Proxy, ChoiceIsKeptPerHostUntilTheSettingsAreReadAgain)
{
    TUserProxySettings settings(ConnectionSettings(kManual, ProxyAddress(), "", ""));
    EXPECT_EQ(SiteOutcome(L"http://kept.mendrel.invalid/page", L"Welcome to the shop"), "Code found");
    // Changed settings reach a host already looked up only when the choice is read again.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    std::vector<BYTE> direct = ConnectionSettings(kDirect, "", "", "");
    RegSetValueExW(key, kSettingsValue, 0, REG_BINARY, direct.data(), static_cast<DWORD>(direct.size()));
    RegCloseKey(key);
    EXPECT_EQ(SiteOutcome(L"http://kept.mendrel.invalid/page", L"Welcome to the shop"), "Code found");
    ForgetProxyChoices();
    EXPECT_EQ(SiteOutcome(L"http://kept.mendrel.invalid/page", L"Welcome to the shop"), "Failed to connect");
}

TEST(Proxy, AutomaticConfigurationScriptChoosesPerHost)
{
    std::string script = "http://127.0.0.1:" + std::to_string(Servers().Port("http")) +
                         "/proxy.pac?port=" + std::to_string(Servers().Port("proxy"));
    TUserProxySettings settings(ConnectionSettings(kScript, "", "", script));
    EXPECT_EQ(SiteOutcome(L"http://scripted.mendrel.invalid/page", L"Welcome to the shop"), "Code found");
    EXPECT_THAT(ProxyLog(), HasSubstr("scripted.mendrel.invalid"));
    std::optional<std::string> line = RetrieveURL(Direct(L"/request-line"), nullptr);
    ASSERT_TRUE(line.has_value());
    EXPECT_THAT(*line, StartsWith("GET /request-line "));

    // A script that cannot be fetched leaves the manual proxy, when there is one.
    TUserProxySettings::Write(ConnectionSettings(kScript | kManual, ProxyAddress(), "127.0.0.1",
                                                 WideToUtf8(Servers().Refused(L"/proxy.pac"))));
    EXPECT_EQ(SiteOutcome(L"http://fallback.mendrel.invalid/page", L"Welcome to the shop"), "Code found");
    EXPECT_THAT(ProxyLog(), HasSubstr("fallback.mendrel.invalid"));
}

TEST(Proxy, ProxyThatAsksForAPasswordIsNotGivenTheServersCredentials)
{
    TUserProxySettings settings(ConnectionSettings(kManual, ProxyAddress("proxyauth"), "", ""));
    TCheckServerStatus status(ServerSettings(L"http://guarded.mendrel.invalid/auth", L"admin", L"s3cret"));
    status.RunCheck();
    EXPECT_EQ(status.StatusText, L"Bad response");
    // The proxy refused every request it got: none went on to the server.
    std::string log = ProxyLog("proxyauth");
    EXPECT_THAT(log, Not(HasSubstr("Established connection to upstream")));
}

TEST(Proxy, SettingsOfThePrefixArePutBack)
{
    auto read = [] {
        std::optional<std::vector<BYTE>> value;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD type = 0, size = 0;
            if (RegQueryValueExW(key, kSettingsValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
                value.emplace(size);
                RegQueryValueExW(key, kSettingsValue, nullptr, &type, value->data(), &size);
            }
            RegCloseKey(key);
        }
        return value;
    };
    std::optional<std::vector<BYTE>> before = read();
    {
        TUserProxySettings settings(ConnectionSettings(kManual, ProxyAddress(), "", ""));
        EXPECT_NE(read(), before);
    }
    EXPECT_EQ(read(), before);
}
