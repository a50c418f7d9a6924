#include "TestSupport.h"
#include "UUrlParts.h"
#include "URetrieval.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <winhttp.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using testing::HasSubstr;
using testing::Not;

namespace {

// A binding-callback object that records what the retrieval asks and answers as it is told.
class TRecorder : public IBindStatusCallback, public IAuthenticate, public IHttpSecurity {
public:
    DWORD BindFlags = kCheckBindFlags;
    bool OfferAuthenticate = true;
    bool OfferSecurity = true;
    std::optional<std::wstring> Username;
    std::optional<std::wstring> Password;
    HRESULT AuthenticateResult = S_OK;
    HRESULT StartResult = S_OK;
    HRESULT SecurityAnswer = S_OK;
    // A problem answered with E_ABORT whatever SecurityAnswer says.
    DWORD RefusedProblem = 0;
    bool AbortOnConnecting = false;

    std::vector<ULONG> ProgressCodes;
    std::vector<DWORD> Problems;
    int Starts = 0, Stops = 0, Authentications = 0, SecurityProblems = 0;
    HRESULT StopResult = E_PENDING;
    std::wstring StopText;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback)
            *object = static_cast<IBindStatusCallback*>(this);
        else if (riid == IID_IAuthenticate && OfferAuthenticate)
            *object = static_cast<IAuthenticate*>(this);
        else if (riid == IID_IHttpSecurity && OfferSecurity)
            *object = static_cast<IHttpSecurity*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override
    {
        ++Starts;
        binding_ = binding;
        return StartResult;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG code, LPCWSTR) override
    {
        ProgressCodes.push_back(code);
        if (code == BINDSTATUS_CONNECTING && AbortOnConnecting && binding_)
            binding_->Abort();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR text) override
    {
        ++Stops;
        StopResult = result;
        StopText = text ? text : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override
    {
        *flags = BindFlags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* username, LPWSTR* password) override
    {
        ++Authentications;
        *window = nullptr;
        *username = Copy(Username);
        *password = Copy(Password);
        return AuthenticateResult;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(REFGUID, HWND* window) override
    {
        *window = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSecurityProblem(DWORD problem) override
    {
        ++SecurityProblems;
        Problems.push_back(problem);
        return problem == RefusedProblem ? E_ABORT : SecurityAnswer;
    }

private:
    static LPWSTR Copy(const std::optional<std::wstring>& text)
    {
        if (!text)
            return nullptr;
        size_t bytes = (text->size() + 1) * sizeof(wchar_t);
        auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        memcpy(copy, text->c_str(), bytes);
        return copy;
    }
    IBinding* binding_ = nullptr;
};

const TTestServers& Servers() { return TTestServers::Get(); }

TRetrieveOptions ShortDeadline(DWORD ms)
{
    TRetrieveOptions options;
    options.DeadlineMs = ms;
    return options;
}

} // namespace

TEST(RetrieveURL, DeliversWhatTheServerSentWhateverTheStatus)
{
    struct Case {
        std::wstring path;
        size_t size;
        const char* contains;
    };
    const Case cases[] = {
        {L"/page", 45, "Welcome to the shop"},
        {L"/missing", 0, "Not Found"},
        {L"/html/Report", 0, "Internal error"},
        // The code lies across the first 65536-byte read.
        {L"/big", 65530 + 14 + 1000, "NEEDLE-IN-PAGE"},
        // The server announces more than it sends and closes: the part is the body.
        {L"/partial/page", 28, "Welcome, partial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        std::optional<std::string> body = RetrieveURL(Servers().Http(c.path), nullptr);
        ASSERT_TRUE(body.has_value());
        if (c.size) {
            EXPECT_EQ(body->size(), c.size);
        }
        EXPECT_THAT(*body, HasSubstr(c.contains));
    }
}

TEST(RetrieveURL, FailsToOpenWhatCannotBeReached)
{
    const std::wstring urls[] = {
        L"", L"/Report", L"Report", L"ftp://127.0.0.1/file", Servers().Refused(L"/Report"),
    };
    for (const auto& url : urls) {
        SCOPED_TRACE(WideToUtf8(url));
        TRecorder recorder;
        EXPECT_FALSE(RetrieveURL(url, &recorder).has_value());
        EXPECT_EQ(recorder.Stops, 1);
        EXPECT_TRUE(FAILED(recorder.StopResult));
        EXPECT_FALSE(recorder.StopText.empty());
    }
}

TEST(RetrieveURL, EndlessBodyStopsAtTheSizeLimit)
{
    std::optional<std::string> body = RetrieveURL(Servers().Http(L"/endless"), nullptr);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->size(), kMaxBodyBytes);

    TRetrieveOptions small;
    small.MaxBodyBytes = 100000;
    body = RetrieveURL(Servers().Http(L"/endless"), nullptr, small);
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(body->size(), 100000u);
}

TEST(RetrieveURLDeadline, ServerThatNeverAnswersIsAFailedOpenAtTheDeadline)
{
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(RetrieveURL(Servers().Hang(L"/Report"), nullptr, ShortDeadline(2000)).has_value());
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 1500u);
    EXPECT_LT(elapsed, 6000u);
}

TEST(RetrieveURLDeadline, BodyStillArrivingIsCutAtTheDeadline)
{
    // One byte a second: after three seconds about three bytes of the page have come.
    ULONGLONG start = GetTickCount64();
    std::optional<std::string> body = RetrieveURL(Servers().Http(L"/slowbody/page"), nullptr, ShortDeadline(3000));
    ULONGLONG elapsed = GetTickCount64() - start;
    ASSERT_TRUE(body.has_value());
    EXPECT_LT(body->size(), 10u);
    EXPECT_EQ(std::string("<html><body>Welcome").compare(0, body->size(), *body), 0) << *body;
    EXPECT_LT(elapsed, 7000u);
}

TEST(RetrieveURLDeadline, HeadersStillArrivingAtTheDeadlineAreAFailedOpen)
{
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(RetrieveURL(Servers().Http(L"/slowheaders/page"), nullptr, ShortDeadline(3000)).has_value());
    EXPECT_LT(GetTickCount64() - start, 7000u);
}

TEST(RetrieveURLCallback, IsDrivenFromStartToStop)
{
    TRecorder recorder;
    ASSERT_TRUE(RetrieveURL(Servers().Http(L"/page"), &recorder).has_value());
    EXPECT_EQ(recorder.Starts, 1);
    EXPECT_EQ(recorder.Stops, 1);
    EXPECT_EQ(recorder.StopResult, S_OK);
    std::vector<ULONG> expected = {BINDSTATUS_FINDINGRESOURCE,   BINDSTATUS_CONNECTING,
                                   BINDSTATUS_SENDINGREQUEST,    BINDSTATUS_MIMETYPEAVAILABLE,
                                   BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_DOWNLOADINGDATA,
                                   BINDSTATUS_ENDDOWNLOADDATA};
    EXPECT_EQ(recorder.ProgressCodes, expected);
}

TEST(RetrieveURLCallback, RefusedStartOrAbortEndsTheRequest)
{
    TRecorder refusing;
    refusing.StartResult = E_ABORT;
    EXPECT_FALSE(RetrieveURL(Servers().Http(L"/page"), &refusing).has_value());
    EXPECT_TRUE(refusing.ProgressCodes.empty());

    TRecorder aborting;
    aborting.AbortOnConnecting = true;
    EXPECT_FALSE(RetrieveURL(Servers().Http(L"/page"), &aborting).has_value());
    EXPECT_EQ(aborting.StopResult, E_ABORT);
}

TEST(RetrieveURLCallback, NoCacheFlagsGoToTheServer)
{
    TRecorder recorder;
    std::optional<std::string> headers = RetrieveURL(Servers().Http(L"/headers"), &recorder);
    ASSERT_TRUE(headers.has_value());
    EXPECT_THAT(*headers, HasSubstr("Pragma: no-cache"));
    EXPECT_THAT(*headers, HasSubstr("Cache-Control: no-cache"));

    headers = RetrieveURL(Servers().Http(L"/headers"), nullptr);
    ASSERT_TRUE(headers.has_value());
    EXPECT_THAT(*headers, Not(HasSubstr("no-cache")));
}

TEST(RetrieveURLAuthentication, ChallengeIsAnsweredOnceWithTheCallbacksCredentials)
{
    struct Case {
        const wchar_t* path;
        std::optional<std::wstring> username, password;
        HRESULT result;
        bool offered;
        const char* body;
        int asked;
    };
    const Case cases[] = {
        {L"/auth/Report", L"admin", L"s3cret", S_OK, true, "<CurrentTime>12:00", 1},
        {L"/auth/Report", L"admin", L"wrong", S_OK, true, "401 Unauthorized", 1},
        {L"/auth/Report", std::nullopt, std::nullopt, S_FALSE, true, "401 Unauthorized", 1},
        {L"/auth/Report", L"admin", L"s3cret", S_OK, false, "401 Unauthorized", 0},
        {L"/auth/Report", L"admin", L"s3cret", E_ACCESSDENIED, true, "401 Unauthorized", 1},
        // Empty strings are credentials too.
        {L"/authempty/Report", L"", L"", S_OK, true, "<CurrentTime>12:00", 1},
        // No challenge, no question.
        {L"/ok/Report", L"admin", L"s3cret", S_OK, true, "<CurrentTime>12:00", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << WideToUtf8(c.path) << " " << WideToUtf8(c.password.value_or(L"(null)")));
        TRecorder recorder;
        recorder.Username = c.username;
        recorder.Password = c.password;
        recorder.AuthenticateResult = c.result;
        recorder.OfferAuthenticate = c.offered;
        std::optional<std::string> body = RetrieveURL(Servers().Http(c.path), &recorder);
        ASSERT_TRUE(body.has_value());
        EXPECT_THAT(*body, HasSubstr(c.body));
        EXPECT_EQ(recorder.Authentications, c.asked);
    }
    EXPECT_THAT(RetrieveURL(Servers().Http(L"/auth/Report"), nullptr).value_or(""), HasSubstr("401 Unauthorized"));
}

TEST(RetrieveURLSecurity, CertificateProblemGoesOnOnlyWhenTheCallbackAccepts)
{
    struct Case {
        bool offered;
        HRESULT answer;
        DWORD flags;
        bool opened;
    };
    const Case cases[] = {
        {true, S_OK, kCheckBindFlags, true},
        {true, E_ABORT, kCheckBindFlags, false},
        {true, S_FALSE, kCheckBindFlags, false},
        {false, S_OK, kCheckBindFlags, true},
        {false, S_OK, kCheckBindFlags & ~DWORD(BINDF_IGNORESECURITYPROBLEM), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offered << " " << std::hex << c.answer << " " << c.flags);
        TRecorder recorder;
        recorder.OfferSecurity = c.offered;
        recorder.SecurityAnswer = c.answer;
        recorder.BindFlags = c.flags;
        std::optional<std::string> body = RetrieveURL(Servers().Https(L"/page"), &recorder);
        EXPECT_EQ(body.has_value(), c.opened);
        if (body) {
            EXPECT_THAT(*body, HasSubstr("Welcome to the shop"));
        }
        EXPECT_EQ(recorder.SecurityProblems, c.offered ? 1 : 0);
    }
    EXPECT_FALSE(RetrieveURL(Servers().Https(L"/page"), nullptr).has_value());
}

// ---------------------------------------------------------------------------------------------------------------
// The URL as a browser reads it

namespace {

// The http server's URL with user information before the host.
std::wstring WithUserInfo(const std::wstring& userInfo, const std::wstring& path)
{
    return L"http://" + userInfo + L"@127.0.0.1:" + std::to_wstring(Servers().Port("http")) + path;
}

} // namespace

TEST(RetrieveURLAddress, FragmentStaysWithTheReader)
{
    struct Case {
        const wchar_t* path;
        const char* target;
    };
    const Case cases[] = {
        {L"/request-line#part", "GET /request-line HTTP/"},
        {L"/request-line?a=1&b=2#part?x", "GET /request-line?a=1&b=2 HTTP/"},
        {L"/request-line?a=1", "GET /request-line?a=1 HTTP/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        std::optional<std::string> line = RetrieveURL(Servers().Http(c.path), nullptr);
        ASSERT_TRUE(line.has_value());
        EXPECT_THAT(*line, HasSubstr(c.target));
        EXPECT_THAT(*line, Not(HasSubstr("#")));
    }
}

TEST(RetrieveURLAddress, UserInformationAnswersTheChallengeBeforeTheCallback)
{
    struct Case {
        std::wstring url;
        std::optional<std::wstring> username, password; // the callback's; none: no callback at all
        const char* body;
        int asked;
    };
    const Case cases[] = {
        {WithUserInfo(L"admin:s3cret", L"/auth/Report"), L"admin", L"wrong", "<CurrentTime>12:00", 0},
        {WithUserInfo(L"admin:s3cret", L"/auth/Report"), std::nullopt, std::nullopt, "<CurrentTime>12:00", 0},
        // Refused user information: the callback's credentials are the second try.
        {WithUserInfo(L"admin:wrong", L"/auth/Report"), L"admin", L"s3cret", "<CurrentTime>12:00", 1},
        {WithUserInfo(L"admin:wrong", L"/auth/Report"), L"admin", L"wrong", "401 Unauthorized", 1},
        // Escapes are decoded: user "ad min", password "p@ss:w%rd".
        {WithUserInfo(L"ad%20min:p%40ss%3Aw%25rd", L"/authodd/page"), std::nullopt, std::nullopt, "Welcome in", 0},
        // A user without a password offers an empty one.
        {WithUserInfo(L"admin", L"/auth/Report"), std::nullopt, std::nullopt, "401 Unauthorized", 0},
        // Without a challenge the user information is not sent at all.
        {WithUserInfo(L"admin:s3cret", L"/headers"), std::nullopt, std::nullopt, "Host:", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url));
        TRecorder recorder;
        recorder.Username = c.username;
        recorder.Password = c.password;
        std::optional<std::string> body = RetrieveURL(c.url, c.username ? &recorder : nullptr);
        ASSERT_TRUE(body.has_value());
        EXPECT_THAT(*body, HasSubstr(c.body));
        EXPECT_THAT(*body, Not(HasSubstr("Authorization")));
        EXPECT_EQ(recorder.Authentications, c.asked);
    }
}

TEST(RetrieveURLAddress, InternationalHostNamesGoInTheirAsciiForm)
{
    EXPECT_EQ(HostToAscii(L"b\u00fccher.example").value_or(L"?"), L"xn--bcher-kva.example");
    EXPECT_EQ(HostToAscii(L"127.0.0.1").value_or(L"?"), L"127.0.0.1");
    EXPECT_EQ(HostToAscii(L"Example.COM").value_or(L"?"), L"Example.COM");

    DWORD error = 0;
    std::optional<TUrlParts> parts = SplitRequestURL(L"https://me:pw@b\u00fccher.example:8443/a/b?c=d#e", error);
    ASSERT_TRUE(parts.has_value());
    EXPECT_TRUE(parts->Secure);
    EXPECT_EQ(parts->Host, L"xn--bcher-kva.example");
    EXPECT_EQ(parts->Port, 8443);
    EXPECT_EQ(parts->Object, L"/a/b?c=d");
    EXPECT_EQ(parts->Username.value_or(L"?"), L"me");
    EXPECT_EQ(parts->Password.value_or(L"?"), L"pw");
    EXPECT_FALSE(SplitRequestURL(L"ftp://b\u00fccher.example/", error).has_value());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
}

// ---------------------------------------------------------------------------------------------------------------
// Redirects

TEST(RetrieveURLRedirect, FollowsAsTheUrlServiceDoes)
{
    const std::wstring urls[] = {
        Servers().Http(L"/redirect/absolute"),  Servers().Http(L"/redirect/relative/deeper"),
        Servers().Http(L"/redirect/rootpath"),  Servers().Http(L"/redirect/see-other"),
        Servers().Http(L"/redirect/permanent"), Servers().Http(L"/redirect/https"),
        Servers().Http(L"/redirect/chain/10"),  Servers().Http(L"/redirect/absolute#frag"),
    };
    for (const auto& url : urls) {
        SCOPED_TRACE(WideToUtf8(url));
        TRecorder recorder;
        std::optional<std::string> body = RetrieveURL(url, &recorder);
        ASSERT_TRUE(body.has_value());
        EXPECT_THAT(*body, HasSubstr("Welcome to the shop"));
        EXPECT_EQ(
            std::count(recorder.ProgressCodes.begin(), recorder.ProgressCodes.end(), ULONG(BINDSTATUS_REDIRECTING)) > 0,
            true);
        EXPECT_EQ(recorder.StopResult, S_OK);
    }
    // A redirect without a Location is an answer like any other.
    EXPECT_THAT(RetrieveURL(Servers().Http(L"/redirect/nolocation"), nullptr).value_or(""), HasSubstr("Welcome"));
}

TEST(RetrieveURLRedirect, LoopOrTooLongAChainIsAFailedOpenWithinTheDeadline)
{
    for (const wchar_t* path : {L"/redirect/loop", L"/redirect/chain/11"}) {
        SCOPED_TRACE(WideToUtf8(path));
        TRecorder recorder;
        ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(RetrieveURL(Servers().Http(path), &recorder, ShortDeadline(10000)).has_value());
        EXPECT_LT(GetTickCount64() - start, 10000u);
        EXPECT_TRUE(FAILED(recorder.StopResult));
    }
}

TEST(RetrieveURLRedirect, FromHttpsDownToHttpIsASecurityProblemOfTheCallback)
{
    // The https server's redirect points at the http one.
    TRecorder accepting;
    std::optional<std::string> body = RetrieveURL(Servers().Https(L"/redirect/absolute"), &accepting);
    ASSERT_TRUE(body.has_value());
    EXPECT_THAT(*body, HasSubstr("Welcome to the shop"));
    EXPECT_EQ(std::count(accepting.Problems.begin(), accepting.Problems.end(), DWORD(12042)), 1);

    TRecorder refusing;
    refusing.RefusedProblem = 12042;
    EXPECT_FALSE(RetrieveURL(Servers().Https(L"/redirect/absolute"), &refusing).has_value());
}

TEST(RetrieveURLRedirect, CredentialsStayWithTheHostThatWasAskedFor)
{
    struct Case {
        std::wstring url;
        const char* body;
        int asked;
    };
    const Case cases[] = {
        {Servers().Http(L"/redirect/same-host/Report"), "<CurrentTime>12:00", 1},
        // localhost is another host name than 127.0.0.1, though the same server answers.
        {Servers().Http(L"/redirect/other-host/Report"), "401 Unauthorized", 0},
        {WithUserInfo(L"admin:s3cret", L"/redirect/other-host/Report"), "401 Unauthorized", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url));
        TRecorder recorder;
        recorder.Username = L"admin";
        recorder.Password = L"s3cret";
        std::optional<std::string> body = RetrieveURL(c.url, &recorder);
        ASSERT_TRUE(body.has_value());
        EXPECT_THAT(*body, HasSubstr(c.body));
        EXPECT_EQ(recorder.Authentications, c.asked);
    }
}
