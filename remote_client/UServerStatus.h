// The runtime status of one monitored server: the report check and the reboot order.
#pragma once

#include "UCheckSettings.h"
#include "UUtils.h"

#include <msxml2.h>
#include <wrl/client.h>

#include <memory>
#include <string>

// What a report body says, as the client judges it.
struct TServerReport {
    enum class TOutcome {
        Report,      // /Report/CurrentTime is there
        BadResponse, // no CurrentTime, not XML, or a document type declaration
        ParserError, // the XML parser raised an error; ErrorText holds its message
    };
    TOutcome Outcome = TOutcome::BadResponse;
    std::wstring CurrentTime;
    std::wstring PhysicalFree = L"Unknown";
    std::wstring TotalFree = L"Unknown";
    std::wstring ErrorText;
};

// The most characters of a status text that a row shows; a longer text (a peer's value can be of any length) is
// cut to this many, its last one an ellipsis.
constexpr size_t kMaxStatusTextChars = 512;
std::wstring CutStatusText(std::wstring text);

// What is shown when the parser raised loadResult: its own reason (the error object it set, else the document's
// parse error), else the system's text for the result.
std::wstring ParserErrorText(IXMLDOMDocument2* document, HRESULT loadResult);

// A fresh MSXML DOM document for a report; raises EOleError when none can be created.
Microsoft::WRL::ComPtr<IXMLDOMDocument2> NewReportDocument();
// Loads body (8-bit, read in the ANSI code page) into document and judges it. Raises when a node cannot be
// selected.
TServerReport JudgeServerReport(IXMLDOMDocument2* document, const std::string& body);
// The same with a document of its own.
TServerReport JudgeServerReport(const std::string& body);
// "%s: Physical free: %s MB, Total free: %s MB.", "Bad response" or the parser's message; at most
// kMaxStatusTextChars characters.
std::wstring ServerReportStatusText(const TServerReport& report);

// The request URL of a resource ("Report", "Reboot") below a server's URL setting.
std::wstring ServerRequestURL(const std::wstring& baseURL, const std::wstring& resource);

class TCheckServerStatus : public TCheckStatusOf<ICheckServerStatus> {
public:
    explicit TCheckServerStatus(std::shared_ptr<TCheckServerSettings> settings, TClock clock = {});

    bool STDMETHODCALLTYPE GetActive() override;
    std::wstring STDMETHODCALLTYPE GetURL() override;
    void STDMETHODCALLTYPE RunCheck() override;
    void STDMETHODCALLTYPE Reboot() override;
    TCredentials CheckCredentials() override;

    // Shared with the runner, which keeps it alive while a check runs.
    std::shared_ptr<TCheckServerSettings> Settings;
    // The document parsed from the last report; null before the first body arrives.
    Microsoft::WRL::ComPtr<IXMLDOMDocument2> ReportDocument;

protected:
    TCheckRequest ReadRequest() const override;
};
