#include "UServerStatus.h"

#include "Exceptions.h"
#include "Strings.h"
#include "XmlTools.h"

#include <oleauto.h>

#include <cwctype>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

class TBstr {
public:
    explicit TBstr(const std::wstring& text) : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!bstr_ && !text.empty())
            throw EOleError("Out of memory", E_OUTOFMEMORY);
    }
    TBstr() = default;
    ~TBstr() { SysFreeString(bstr_); }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    BSTR get() const { return bstr_; }
    BSTR* out() { return &bstr_; }
    std::wstring str() const { return bstr_ ? std::wstring(bstr_, SysStringLen(bstr_)) : std::wstring(); }

private:
    BSTR bstr_ = nullptr;
};

// A document type declaration can pull in external resources or expand entities without bound, and the
// parser does not reliably refuse it, so a body that has one is never parsed.
bool HasDocumentType(const std::wstring& text)
{
    static const wchar_t kMarker[] = L"<!DOCTYPE";
    const size_t n = ARRAYSIZE(kMarker) - 1;
    for (size_t i = 0; i + n <= text.size(); ++i) {
        if (text[i] != L'<')
            continue;
        size_t k = 1;
        while (k < n && std::towupper(text[i + k]) == kMarker[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

void SetProperty(IXMLDOMDocument2* document, const wchar_t* name, VARIANT value)
{
    TBstr property(name);
    document->setProperty(property.get(), value);
}

// The text of the node at path, or nothing when there is none.
std::optional<std::wstring> NodeText(IXMLDOMDocument2* document, const wchar_t* path)
{
    TBstr query(path);
    ComPtr<IXMLDOMNode> node;
    HRESULT hr = document->selectSingleNode(query.get(), &node);
    OleCheck(hr, "selectSingleNode");
    if (hr != S_OK || !node)
        return std::nullopt;
    TBstr text;
    OleCheck(node->get_text(text.out()), "get_text");
    return text.str();
}

// The wide text goes as soon as the parser has its own copy, so that a large body has two copies at once, not
// three.
TServerReport JudgeReportText(IXMLDOMDocument2* document, const std::string& body)
{
    TServerReport report;
    std::wstring text = AnsiToWide(body);
    if (HasDocumentType(text))
        return report;
    TBstr xml(text);
    std::wstring().swap(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    SetErrorInfo(0, nullptr);
    HRESULT hr = document->loadXML(xml.get(), &loaded);
    if (FAILED(hr)) {
        report.Outcome = TServerReport::TOutcome::ParserError;
        report.ErrorText = ParserErrorText(document, hr);
        return report;
    }
    std::optional<std::wstring> currentTime = NodeText(document, L"/Report/CurrentTime");
    if (!currentTime)
        return report;
    report.Outcome = TServerReport::TOutcome::Report;
    report.CurrentTime = *currentTime;
    report.TotalFree = NodeText(document, L"/Report/Memory/TotalFree").value_or(L"Unknown");
    report.PhysicalFree = NodeText(document, L"/Report/Memory/PhysicalFree").value_or(L"Unknown");
    return report;
}

// The parser's texts end with a line break.
std::wstring TrimmedText(std::wstring text)
{
    while (!text.empty() && std::iswspace(text.back()))
        text.pop_back();
    return text;
}

} // namespace

std::wstring CutStatusText(std::wstring text)
{
    if (text.size() <= kMaxStatusTextChars)
        return text;
    size_t keep = kMaxStatusTextChars - 1;
    // Never half of a surrogate pair.
    if (IS_HIGH_SURROGATE(text[keep - 1]))
        --keep;
    text.resize(keep);
    text += L'\u2026';
    return text;
}

std::wstring ParserErrorText(IXMLDOMDocument2* document, HRESULT loadResult)
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        TBstr description;
        if (SUCCEEDED(info->GetDescription(description.out()))) {
            std::wstring text = TrimmedText(description.str());
            if (!text.empty())
                return text;
        }
    }
    ComPtr<IXMLDOMParseError> parseError;
    if (document && SUCCEEDED(document->get_parseError(&parseError)) && parseError) {
        TBstr reason;
        if (SUCCEEDED(parseError->get_reason(reason.out()))) {
            std::wstring text = TrimmedText(reason.str());
            if (!text.empty())
                return text;
        }
    }
    try {
        OleCheck(loadResult);
    } catch (const EOleError& e) {
        return e.WideMessage();
    }
    return FormatW(L"OLE error %08X", static_cast<unsigned>(loadResult));
}

ComPtr<IXMLDOMDocument2> NewReportDocument()
{
    ComPtr<IXMLDOMDocument2> document;
    OleCheck(CreateDomDocument(document.GetAddressOf()), "Msxml2.DOMDocument");
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    VARIANT yes;
    VariantInit(&yes);
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    SetProperty(document.Get(), L"ProhibitDTD", yes);
    VARIANT xpath;
    VariantInit(&xpath);
    xpath.vt = VT_BSTR;
    xpath.bstrVal = SysAllocString(L"XPath");
    SetProperty(document.Get(), L"SelectionLanguage", xpath);
    VariantClear(&xpath);
    return document;
}

// A body too large to copy or parse for want of memory is a bad response: the check still ends with an outcome.
TServerReport JudgeServerReport(IXMLDOMDocument2* document, const std::string& body)
{
    try {
        return JudgeReportText(document, body);
    } catch (const std::bad_alloc&) {
        return TServerReport{};
    } catch (const EOleError& e) {
        if (e.ErrorCode != E_OUTOFMEMORY)
            throw;
        return TServerReport{};
    }
}

TServerReport JudgeServerReport(const std::string& body)
{
    ComPtr<IXMLDOMDocument2> document = NewReportDocument();
    return JudgeServerReport(document.Get(), body);
}

std::wstring ServerReportStatusText(const TServerReport& report)
{
    switch (report.Outcome) {
    case TServerReport::TOutcome::Report:
        // Each value is cut first, so that a huge one is not formatted whole.
        return CutStatusText(
            FormatW(L"%ls: Physical free: %ls MB, Total free: %ls MB.", CutStatusText(report.CurrentTime).c_str(),
                    CutStatusText(report.PhysicalFree).c_str(), CutStatusText(report.TotalFree).c_str()));
    case TServerReport::TOutcome::ParserError: return CutStatusText(report.ErrorText);
    default: return L"Bad response";
    }
}

std::wstring ServerRequestURL(const std::wstring& baseURL, const std::wstring& resource)
{
    if (!baseURL.empty() && baseURL.back() == L'/')
        return baseURL + resource;
    return baseURL + L"/" + resource;
}

TCheckServerStatus::TCheckServerStatus(std::shared_ptr<TCheckServerSettings> settings, TClock clock)
    : TCheckStatusOf<ICheckServerStatus>(std::move(clock)), Settings(std::move(settings))
{
    Assert(Settings != nullptr, "A server status needs its settings", "UServerStatus", __LINE__);
}

bool TCheckServerStatus::GetActive() { return Settings->Active; }

std::wstring TCheckServerStatus::GetURL() { return Settings->URL; }

TCheckRequest TCheckServerStatus::ReadRequest() const
{
    TCheckRequest request;
    request.URL = Settings->URL;
    request.Username = Settings->Username;
    request.Password = Settings->Password;
    request.CheckIntevalMinutes = Settings->CheckIntevalMinutes;
    return request;
}

TCredentials TCheckServerStatus::CheckCredentials()
{
    TCredentials credentials;
    credentials.Username = CurrentRequest().Username;
    credentials.Password = CurrentRequest().Password;
    credentials.Result = S_OK;
    return credentials;
}

// A parser error leaves the check times alone, so the server is due again at the next pass. The report is judged
// under the lease of its body, which covers the copies the parser makes.
void TCheckServerStatus::RunCheck()
{
    TCheckRequest request = TakeRequest();
    TMemoryLease lease(TMemoryBudget::Checks());
    TRetrieveOptions options = Retrieval;
    options.Lease = &lease;
    std::optional<std::string> body = TimedRetrieve(ServerRequestURL(request.URL, L"Report"), options);
    if (!body) {
        StatusText = L"Failed to connect";
        StatusOk = false;
    } else {
        ReportDocument = NewReportDocument();
        TServerReport report = JudgeServerReport(ReportDocument.Get(), *body);
        StatusText = ServerReportStatusText(report);
        StatusOk = report.Outcome == TServerReport::TOutcome::Report;
        if (report.Outcome == TServerReport::TOutcome::ParserError)
            return;
    }
    FinishCheck(request.CheckIntevalMinutes);
}

// The body of the answer is not read for its meaning; but an answer that refuses the order (a wrong password,
// a missing page, a failing service) ordered no reboot, and is not shown as if it had.
void TCheckServerStatus::Reboot()
{
    TakeRequest();
    DWORD httpStatus = 0;
    bool sent = RetrieveURL(ServerRequestURL(CurrentRequest().URL, L"Reboot"), static_cast<IBindStatusCallback*>(this),
                            Retrieval, &httpStatus)
                    .has_value() &&
                httpStatus >= 200 && httpStatus < 300;
    StatusText = sent ? L"Reboot initiated" : L"Failed to connect";
    StatusOk = sent;
}
