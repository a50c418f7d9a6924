#include "Exceptions.h"
#include "TestSupport.h"
#include "UServerStatus.h"
#include "XmlTools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwctype>
#include <memory>
#include <string>

using Microsoft::WRL::ComPtr;
using testing::HasSubstr;
using testing::Not;

namespace {

const wchar_t kFullReportText[] = L"12:00: Physical free: 512 MB, Total free: 2048 MB.";

std::wstring WithUserInfo(const std::wstring& userInfo, const std::wstring& path)
{
    return L"http://" + userInfo + L"@127.0.0.1:" + std::to_wstring(TTestServers::Get().Port("http")) + path;
}

std::string TrapHits() { return RetrieveURL(TTestServers::Get().Http(L"/trap-hits"), nullptr).value_or("?"); }

} // namespace

TEST(ServerRequestURL, AppendsTheResourceWithOneSlash)
{
    struct Case {
        const wchar_t* setting;
        const wchar_t* resource;
        const wchar_t* url;
    };
    const Case cases[] = {
        {L"http://host:3745", L"Report", L"http://host:3745/Report"},
        {L"http://host:3745/", L"Report", L"http://host:3745/Report"},
        {L"https://host/mendrel/", L"Report", L"https://host/mendrel/Report"},
        {L"https://host/mendrel", L"Reboot", L"https://host/mendrel/Reboot"},
        {L"", L"Report", L"/Report"},
        {L"", L"Reboot", L"/Reboot"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServerRequestURL(c.setting, c.resource), c.url) << WideToUtf8(c.setting);
}

TEST(ServerReport, StatusTextFromReport)
{
    using O = TServerReport::TOutcome;
    struct Case {
        const char* body;
        O outcome;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"<Report><CurrentTime>12:00</CurrentTime><Memory><PhysicalFree>512</PhysicalFree>"
         "<TotalFree>2048</TotalFree></Memory></Report>",
         O::Report, kFullReportText},
        {"<?xml version=\"1.0\"?><Report><Extra/><CurrentTime>2024-03-01 10:00</CurrentTime></Report>", O::Report,
         L"2024-03-01 10:00: Physical free: Unknown MB, Total free: Unknown MB."},
        {"<Report><CurrentTime>12:00</CurrentTime><Memory><TotalFree>7</TotalFree></Memory></Report>", O::Report,
         L"12:00: Physical free: Unknown MB, Total free: 7 MB."},
        // Values are shown as the service wrote them.
        {"<Report><CurrentTime>noon</CurrentTime><Memory><PhysicalFree>1,5</PhysicalFree>"
         "<TotalFree>-3</TotalFree></Memory></Report>",
         O::Report, L"noon: Physical free: 1,5 MB, Total free: -3 MB."},
        {"<Report><Memory><PhysicalFree>1</PhysicalFree></Memory></Report>", O::BadResponse, L"Bad response"},
        {"<Status><CurrentTime>12:00</CurrentTime></Status>", O::BadResponse, L"Bad response"},
        {"<report><currenttime>12:00</currenttime></report>", O::BadResponse, L"Bad response"},
        {"<html><body>oops</body></html>", O::BadResponse, L"Bad response"},
        {"<Report><CurrentTime>12:00", O::BadResponse, L"Bad response"},
        {"", O::BadResponse, L"Bad response"},
        {"not xml at all", O::BadResponse, L"Bad response"},
        // A document type declaration is never parsed, however harmless.
        {"<!DOCTYPE Report><Report><CurrentTime>12:00</CurrentTime></Report>", O::BadResponse, L"Bad response"},
        {"<!doctype Report><Report><CurrentTime>12:00</CurrentTime></Report>", O::BadResponse, L"Bad response"},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><Report><CurrentTime>&c;</CurrentTime></Report>",
         O::BadResponse, L"Bad response"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        TServerReport report = JudgeServerReport(c.body);
        EXPECT_EQ(report.Outcome, c.outcome);
        EXPECT_EQ(ServerReportStatusText(report), c.text);
    }
}

// A check worker makes its report documents from one class object; the reports read the same with it, nested, and
// after it ended.
TEST(ServerReport, DocumentsFromTheThreadsClassObjectReadAlike)
{
    const std::string body = "<Report><CurrentTime>12:00</CurrentTime><Memory><PhysicalFree>512</PhysicalFree>"
                             "<TotalFree>2048</TotalFree></Memory></Report>";
    const std::wstring alone = ServerReportStatusText(JudgeServerReport(body));
    EXPECT_EQ(alone, kFullReportText);
    {
        TDomClassScope outer;
        EXPECT_EQ(ServerReportStatusText(JudgeServerReport(body)), alone);
        {
            TDomClassScope inner;
            EXPECT_EQ(ServerReportStatusText(JudgeServerReport(body)), alone);
        }
        EXPECT_EQ(ServerReportStatusText(JudgeServerReport("<Report/>")), L"Bad response");
    }
    EXPECT_EQ(ServerReportStatusText(JudgeServerReport(body)), alone);
}

TEST(ServerReport, FieldsForOtherViews)
{
    TServerReport report = JudgeServerReport(
        "<Report><CurrentTime>12:00</CurrentTime><Memory><TotalFree>2048</TotalFree></Memory></Report>");
    EXPECT_EQ(report.CurrentTime, L"12:00");
    EXPECT_EQ(report.TotalFree, L"2048");
    EXPECT_EQ(report.PhysicalFree, L"Unknown");
}

TEST(ServerCheck, JudgesWhatTheServiceAnswers)
{
    const TTestServers& s = TTestServers::Get();
    struct Case {
        std::wstring url, user, password;
        const wchar_t* text;
        bool ok;
    };
    const Case cases[] = {
        {s.Http(L"/ok"), L"", L"", kFullReportText, true},
        {s.Http(L"/ok/"), L"", L"", kFullReportText, true},
        {s.Http(L"/ok/sub/"), L"", L"", kFullReportText, true},
        {s.Https(L"/ok"), L"", L"", kFullReportText, true},
        {s.Http(L"/nomemory"), L"", L"", L"12:00: Physical free: Unknown MB, Total free: Unknown MB.", true},
        {s.Http(L"/partial"), L"", L"", L"12:00: Physical free: Unknown MB, Total free: Unknown MB.", true},
        {s.Http(L"/auth"), L"admin", L"s3cret", kFullReportText, true},
        {s.Http(L"/auth"), L"admin", L"wrong", L"Bad response", false},
        {s.Http(L"/auth"), L"", L"", L"Bad response", false},
        {s.Http(L"/authempty"), L"", L"", kFullReportText, true},
        {s.Http(L"/notime"), L"", L"", L"Bad response", false},
        {s.Http(L"/otherroot"), L"", L"", L"Bad response", false},
        {s.Http(L"/html"), L"", L"", L"Bad response", false},
        {s.Http(L"/empty"), L"", L"", L"Bad response", false},
        {s.Refused(L""), L"", L"", L"Failed to connect", false},
        {L"", L"", L"", L"Failed to connect", false},
        // The URL's user information answers first, the item's credentials after it.
        {WithUserInfo(L"admin:s3cret", L"/auth"), L"admin", L"wrong", kFullReportText, true},
        {WithUserInfo(L"admin:wrong", L"/auth"), L"admin", L"s3cret", kFullReportText, true},
        // Redirected within the server, the credentials go along; to another host they stay behind.
        {s.Http(L"/redirect/same-host"), L"admin", L"s3cret", kFullReportText, true},
        {s.Http(L"/redirect/other-host"), L"admin", L"s3cret", L"Bad response", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url + L" " + c.user + L":" + c.password));
        TTestClock clock(At(2024, 3, 1, 10, 0));
        TCheckServerStatus status(ServerSettings(c.url, c.user, c.password), clock.Function());
        clock.AdvanceSeconds(120);
        status.RunCheck();
        EXPECT_EQ(status.StatusText, c.text);
        EXPECT_EQ(status.StatusOk, c.ok);
        EXPECT_EQ(status.Downtime, c.ok ? 0 : 2);
        EXPECT_EQ(status.LastCheckTime, clock.Now());
        EXPECT_EQ(status.LastSuccessTime, c.ok ? clock.Now() : 0.0);
    }
}

TEST(ServerCheck, ReportWithDocumentTypeResolvesNothing)
{
    const TTestServers& s = TTestServers::Get();
    std::string hitsBefore = TrapHits();
    for (const wchar_t* path : {L"/doctype-file", L"/doctype-port"}) {
        SCOPED_TRACE(WideToUtf8(path));
        TCheckServerStatus status(ServerSettings(s.Http(path)));
        status.RunCheck();
        EXPECT_EQ(status.StatusText, L"Bad response");
        EXPECT_FALSE(status.StatusOk);
        EXPECT_THAT(WideToUtf8(status.StatusText), Not(HasSubstr("TOP-SECRET")));
    }
    EXPECT_EQ(TrapHits(), hitsBefore);
}

TEST(ServerCheck, EveryBodyGetsAFreshReportDocument)
{
    auto settings = ServerSettings(TTestServers::Get().Refused());
    TCheckServerStatus status(settings);
    status.RunCheck();
    EXPECT_EQ(status.ReportDocument, nullptr);
    settings->URL = TTestServers::Get().Http(L"/ok");
    status.RunCheck();
    Microsoft::WRL::ComPtr<IXMLDOMDocument2> first = status.ReportDocument;
    ASSERT_NE(first, nullptr);
    status.RunCheck();
    EXPECT_NE(status.ReportDocument.Get(), first.Get());
    // A failed connect keeps the last document.
    settings->URL = TTestServers::Get().Refused();
    Microsoft::WRL::ComPtr<IXMLDOMDocument2> second = status.ReportDocument;
    status.RunCheck();
    EXPECT_EQ(status.ReportDocument.Get(), second.Get());
}

// An answer that refuses the order (wrong password, an error page) ordered nothing and is not shown as if the
// reboot were under way.
TEST(ServerReboot, OrdersTheRebootWithoutTouchingTheCheckTimes)
{
    const TTestServers& s = TTestServers::Get();
    struct Case {
        std::wstring url;
        const wchar_t* password;
        const wchar_t* text;
        bool ok;
    };
    const Case cases[] = {
        {s.Http(L"/ok"), L"s3cret", L"Reboot initiated", true}, // the body is not read for its meaning
        {s.Http(L"/auth"), L"s3cret", L"Reboot initiated", true},
        {s.Http(L"/auth"), L"wrong", L"Failed to connect", false},     // 401 after the answered challenge
        {s.Http(L"/html"), L"s3cret", L"Failed to connect", false},    // 500
        {s.Http(L"/nowhere"), L"s3cret", L"Failed to connect", false}, // 404
        {s.Refused(L""), L"s3cret", L"Failed to connect", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url) + " " + WideToUtf8(c.password));
        TTestClock clock(At(2024, 3, 1, 10, 0));
        TCheckServerStatus status(ServerSettings(c.url, L"admin", c.password), clock.Function());
        clock.AdvanceSeconds(3600);
        status.Reboot();
        EXPECT_EQ(status.StatusText, c.text);
        EXPECT_EQ(status.StatusOk, c.ok);
        EXPECT_EQ(status.LastCheckTime, At(2024, 3, 1, 10, 0));
        EXPECT_EQ(status.NextCheckTime, 0.0);
        EXPECT_EQ(status.LastSuccessTime, 0.0);
        EXPECT_EQ(status.Downtime, 0);
    }
    std::string reboots = RetrieveURL(s.Http(L"/reboots"), nullptr).value_or("");
    EXPECT_THAT(reboots, HasSubstr("('/ok', "));
    EXPECT_THAT(reboots, HasSubstr("('/auth', "));
}

TEST(ServerReport, PeerTextsAreCutToWhatARowShows)
{
    const std::wstring ellipsis = L"\u2026";
    struct Case {
        std::wstring text, cut;
    };
    const Case cases[] = {
        {std::wstring(kMaxStatusTextChars, L'a'), std::wstring(kMaxStatusTextChars, L'a')},
        {std::wstring(kMaxStatusTextChars + 1, L'a'), std::wstring(kMaxStatusTextChars - 1, L'a') + ellipsis},
        // A pair of surrogates across the cut goes whole.
        {std::wstring(kMaxStatusTextChars - 2, L'a') + L"\U0001F600" + L"zz",
         std::wstring(kMaxStatusTextChars - 2, L'a') + ellipsis},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CutStatusText(c.text), c.cut) << c.text.size();

    // A report from the service whose CurrentTime is megabytes long.
    TCheckServerStatus status(ServerSettings(TTestServers::Get().Http(L"/hugetime")));
    status.RunCheck();
    EXPECT_TRUE(status.StatusOk);
    EXPECT_EQ(status.StatusText, std::wstring(kMaxStatusTextChars - 1, L'9') + ellipsis);

    TServerReport report;
    report.Outcome = TServerReport::TOutcome::ParserError;
    report.ErrorText = std::wstring(5000, L'e');
    EXPECT_EQ(ServerReportStatusText(report).size(), kMaxStatusTextChars);
}

TEST(ServerReport, ParserErrorShowsTheParsersOwnReason)
{
    ComPtr<IXMLDOMDocument2> document = NewReportDocument();

    // The error object that the parser set wins over the system's text for its result.
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(L"Invalid at the top level of the document.\r\n"));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(&info), S_OK);
    SetErrorInfo(0, info.Get());
    EXPECT_EQ(ParserErrorText(document.Get(), E_FAIL), L"Invalid at the top level of the document.");

    // The error object is taken once; without one and without a reason of the document, the system's text.
    std::wstring systemText;
    try {
        OleCheck(E_FAIL);
    } catch (const EOleError& e) {
        systemText = e.WideMessage();
    }
    EXPECT_EQ(ParserErrorText(document.Get(), E_FAIL), systemText);

    // After a load that failed to parse, the document's own reason, when the parser gives one.
    VARIANT_BOOL loaded = VARIANT_TRUE;
    BSTR broken = SysAllocString(L"<Report><CurrentTime>12:00");
    document->loadXML(broken, &loaded);
    SysFreeString(broken);
    EXPECT_EQ(loaded, VARIANT_FALSE);
    ComPtr<IXMLDOMParseError> parseError;
    ASSERT_EQ(document->get_parseError(&parseError), S_OK);
    BSTR reason = nullptr;
    parseError->get_reason(&reason);
    std::wstring expected = reason && *reason ? std::wstring(reason) : systemText;
    SysFreeString(reason);
    while (!expected.empty() && iswspace(expected.back()))
        expected.pop_back();
    EXPECT_EQ(ParserErrorText(document.Get(), E_FAIL), expected);
}
