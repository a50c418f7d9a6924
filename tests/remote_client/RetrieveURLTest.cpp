#include "TestSupport.h"
#include "UUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    bool AbortOnConnecting = false;

    std::vector<ULONG> ProgressCodes;
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
    HRESULT STDMETHODCALLTYPE OnSecurityProblem(DWORD) override
    {
        ++SecurityProblems;
        return SecurityAnswer;
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
