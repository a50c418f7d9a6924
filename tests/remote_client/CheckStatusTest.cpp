#include "TestSupport.h"
#include "UServerStatus.h"
#include "USiteStatus.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>

namespace {

double Seconds(TDateTime a, TDateTime b) { return (a - b) * 86400.0; }

} // namespace

TEST(CheckStatusRecord, NewStatusIsDueAtOnceAndReportsInitialState)
{
    TTestClock clock(At(2024, 3, 1, 9, 30));
    TCheckSiteStatus site(SiteSettings(L"http://127.0.0.1/", L"x"), clock.Function());
    TCheckServerStatus server(ServerSettings(L"http://127.0.0.1/"), clock.Function());
    for (TCheckStatus* status : {static_cast<TCheckStatus*>(&site), static_cast<TCheckStatus*>(&server)}) {
        ICheckStatus* check = status->CheckStatus();
        EXPECT_EQ(check->GetNextCheckTime(), 0.0);
        EXPECT_EQ(check->GetLastCheckTime(), clock.Now());
        EXPECT_EQ(check->GetDowntime(), 0);
        EXPECT_TRUE(check->GetStatusOk());
        EXPECT_EQ(status->StatusText, L"Initial state");
        EXPECT_EQ(status->LastSuccessTime, 0.0);
        EXPECT_FALSE(status->CheckRunning());
    }
    EXPECT_EQ(site.PageText, "");
    EXPECT_EQ(server.ReportDocument, nullptr);
}

TEST(CheckStatusRecord, ActiveAndURLAreReadFromTheSettingsAtCallTime)
{
    auto settings = ServerSettings(L"http://a/");
    TCheckServerStatus status(settings);
    EXPECT_TRUE(status.GetActive());
    settings->Active = false;
    settings->URL = L"http://b/";
    EXPECT_FALSE(status.GetActive());
    EXPECT_EQ(status.GetURL(), L"http://b/");
}

TEST(CheckStatusInterfaces, AnswersExactlyItsInterfaces)
{
    TCheckServerStatus server(ServerSettings(L"http://127.0.0.1/"));
    TCheckSiteStatus site(SiteSettings(L"http://127.0.0.1/", L"x"));
    struct Case {
        const char* name;
        IID iid;
        bool server, site;
    };
    const Case cases[] = {
        {"IUnknown", IID_IUnknown, true, true},
        {"ISkipRefObject", IID_ISkipRefObject, true, true},
        {"ICheckStatus", IID_ICheckStatus, true, true},
        {"ICheckServerStatus", IID_ICheckServerStatus, true, false},
        {"IBindStatusCallback", IID_IBindStatusCallback, true, true},
        {"IAuthenticate", IID_IAuthenticate, true, true},
        {"IHttpSecurity", IID_IHttpSecurity, true, true},
        {"IWindowForBindingUI", IID_IWindowForBindingUI, false, false},
        {"IDispatch", IID_IDispatch, false, false},
        {"IBinding", IID_IBinding, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto [object, expected] : {std::pair<TCheckStatus*, bool>{&server, c.server}, {&site, c.site}}) {
            void* answer = reinterpret_cast<void*>(1);
            HRESULT hr = static_cast<IBindStatusCallback*>(object)->QueryInterface(c.iid, &answer);
            EXPECT_EQ(hr, expected ? S_OK : E_NOINTERFACE);
            EXPECT_EQ(answer != nullptr, expected);
            if (answer)
                static_cast<IUnknown*>(answer)->Release();
        }
    }
    // The row's data object leads to the server interface only for a server.
    Microsoft::WRL::ComPtr<ICheckServerStatus> reboot;
    EXPECT_EQ(GetObjectInterface(&server).As(&reboot), S_OK);
    EXPECT_EQ(GetObjectInterface(&site).As(&reboot), E_NOINTERFACE);
    EXPECT_EQ(server.RefCount(), 0);
}

TEST(CheckStatusInterfaces, ReferencesNeverFreeTheObject)
{
    auto status = std::make_unique<TCheckSiteStatus>(SiteSettings(L"http://127.0.0.1/", L"x"));
    for (int i = 0; i < 5; ++i) {
        Microsoft::WRL::ComPtr<ICheckStatus> check;
        ASSERT_EQ(GetObjectInterface(status.get()).As(&check), S_OK);
        check->AddRef();
        check->Release();
    }
    EXPECT_EQ(status->RefCount(), 0);
    EXPECT_EQ(status->StatusText, L"Initial state");
}

TEST(CheckStatusBinding, AnswersTheURLServiceAtOnce)
{
    TCheckSiteStatus status(SiteSettings(L"http://127.0.0.1/", L"x"));
    LONG priority = 99;
    EXPECT_EQ(status.GetPriority(&priority), S_OK);
    EXPECT_EQ(priority, 0);
    EXPECT_EQ(status.OnStartBinding(0, nullptr), S_OK);
    EXPECT_EQ(status.OnLowResource(0), S_OK);
    EXPECT_EQ(status.OnProgress(1, 2, BINDSTATUS_CONNECTING, L"x"), S_OK);
    EXPECT_EQ(status.OnStopBinding(E_FAIL, L"failed"), S_OK);
    EXPECT_EQ(status.OnDataAvailable(0, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(status.OnObjectAvailable(IID_IUnknown, nullptr), S_OK);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(status.GetWindow(IID_IHttpSecurity, &window), S_OK);
    EXPECT_EQ(window, nullptr);
    for (DWORD problem : {DWORD(12175), DWORD(12045), DWORD(12037), DWORD(0)})
        EXPECT_EQ(status.OnSecurityProblem(problem), S_OK) << problem;
}

TEST(CheckStatusBinding, BindInfoAsksForTheServerWithoutCacheOrPrompts)
{
    TCheckSiteStatus status(SiteSettings(L"http://127.0.0.1/", L"x"));
    BINDINFO info;
    std::memset(&info, 0xAB, sizeof(info));
    info.cbSize = sizeof(info);
    DWORD flags = 0;
    ASSERT_EQ(status.GetBindInfo(&flags, &info), S_OK);
    EXPECT_EQ(flags, 0x22D30u);
    EXPECT_EQ(flags, DWORD(BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_IGNORESECURITYPROBLEM | BINDF_HYPERLINK |
                           BINDF_NO_UI | BINDF_PRAGMA_NO_CACHE | BINDF_DIRECT_READ));
    EXPECT_EQ(info.cbSize, sizeof(BINDINFO));
    EXPECT_EQ(info.grfBindInfoF, DWORD(BINDINFOF_URLENCODEDEXTRAINFO));
    EXPECT_EQ(info.dwBindVerb, DWORD(BINDVERB_GET));
    EXPECT_EQ(info.dwCodePage, 0u);
    EXPECT_EQ(info.szExtraInfo, nullptr);
    EXPECT_EQ(info.szCustomVerb, nullptr);
    EXPECT_EQ(info.pUnk, nullptr);
    EXPECT_EQ(info.stgmedData.tymed, 0u);

    // A caller's shorter record is not written past its end.
    unsigned char buffer[sizeof(BINDINFO)];
    std::memset(buffer, 0xCD, sizeof(buffer));
    auto* shortInfo = reinterpret_cast<BINDINFO*>(buffer);
    shortInfo->cbSize = offsetof(BINDINFO, stgmedData);
    ASSERT_EQ(status.GetBindInfo(&flags, shortInfo), S_OK);
    EXPECT_EQ(shortInfo->cbSize, offsetof(BINDINFO, stgmedData));
    EXPECT_EQ(shortInfo->szExtraInfo, nullptr);
    EXPECT_EQ(buffer[offsetof(BINDINFO, stgmedData)], 0xCD);
    EXPECT_EQ(buffer[sizeof(buffer) - 1], 0xCD);
}

TEST(CheckStatusBinding, CredentialsAreFreshCopiesForServersAndNoneForSites)
{
    // The credentials are those of the check in progress; a check that has run sets them.
    TCheckServerStatus server(ServerSettings(TTestServers::Get().Refused(), L"admin", L""));
    server.RunCheck();
    HWND window = reinterpret_cast<HWND>(1);
    LPWSTR user = nullptr, password = nullptr;
    ASSERT_EQ(server.Authenticate(&window, &user, &password), S_OK);
    EXPECT_EQ(window, nullptr);
    ASSERT_NE(user, nullptr);
    ASSERT_NE(password, nullptr);
    EXPECT_STREQ(user, L"admin");
    EXPECT_STREQ(password, L"");
    EXPECT_NE(user, server.Settings->Username.c_str());
    CoTaskMemFree(user);
    CoTaskMemFree(password);

    TCheckSiteStatus site(SiteSettings(L"http://127.0.0.1/", L"x"));
    user = password = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(site.Authenticate(&window, &user, &password), S_FALSE);
    EXPECT_EQ(user, nullptr);
    EXPECT_EQ(password, nullptr);
}

TEST(CheckCycle, DowntimeChargesTheWholeMinutesSinceThePreviousCheck)
{
    struct Step {
        double afterSeconds;
        bool succeeds;
        int32_t downtime;
    };
    const Step steps[] = {
        {3600, false, 60}, // the first failing check is charged the span since construction
        {90, false, 61},   // 1 minute 30 seconds adds 1
        {110, true, 61},   // a success adds nothing
        {110, false, 62},  // 1 minute 50 seconds after a success adds 1
        {59, false, 62},   // under a minute adds 0
        {7200, true, 62},
    };
    TTestClock clock(At(2024, 3, 1, 10, 0));
    auto settings = SiteSettings(L"", L"Welcome");
    TCheckSiteStatus status(settings, clock.Function());
    TDateTime lastSuccess = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << step.afterSeconds << " " << step.succeeds);
        clock.AdvanceSeconds(step.afterSeconds);
        settings->URL = step.succeeds ? TTestServers::Get().Http(L"/page") : TTestServers::Get().Refused();
        status.RunCheck();
        EXPECT_EQ(status.StatusOk, step.succeeds);
        EXPECT_EQ(status.Downtime, step.downtime);
        EXPECT_EQ(status.LastCheckTime, clock.Now());
        if (step.succeeds)
            lastSuccess = clock.Now();
        EXPECT_EQ(status.LastSuccessTime, lastSuccess);
    }
}

TEST(CheckCycle, NextCheckIsTheIntervalAfterTheEndOfTheCheck)
{
    struct Case {
        int interval;
        int hour, minute, second;
    };
    const Case cases[] = {{5, 10, 5, 30}, {0, 10, 0, 30}, {60, 11, 0, 30}, {1440, 10, 0, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        TTestClock clock(At(2024, 3, 1, 9, 0));
        TCheckSiteStatus status(SiteSettings(TTestServers::Get().Http(L"/page"), L"Welcome", c.interval),
                                clock.Function());
        clock.Set(At(2024, 3, 1, 10, 0, 30));
        status.RunCheck();
        TDateTime expected = At(2024, 3, c.interval == 1440 ? 2 : 1, c.hour, c.minute, c.second);
        EXPECT_NEAR(Seconds(status.NextCheckTime, expected), 0.0, 0.001);
        EXPECT_EQ(status.NextCheckTime, AddMinutes(status.LastCheckTime, c.interval));
    }
}
