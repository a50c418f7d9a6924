#include "UEditServerFM.h"

#include "Exceptions.h"
#include "Strings.h"
#include "UCheckHistory.h"
#include "UCheckSettings.h"
#include "UMessageDialogFM.h"
#include "UServerStatus.h"
#include "UUtils.h"

#include <cstddef>
#include <cstring>

using Microsoft::WRL::ComPtr;

namespace {

constexpr const char* kUnit = "UEditServerFM";

} // namespace

TfmEditServer::TfmEditServer(TApplication& app, TForm* owner) : TForm(app, owner)
{
    SetCaption(L"Edit server");
    SetBorderStyle(TBorderStyle::Dialog);
    SetBorderIcons(biSystemMenu);
    SetClientSize(416, 240);
    SetPosition(TPosition::OwnerCenter);

    cbActive.SetBounds(12, 12, 300, 19);
    LabelURL.SetBounds(12, 40, 296, 15);
    editURL.SetBounds(12, 56, 296, 21);
    bbOpenURL.SetBounds(316, 55, 88, 23);
    LabelUsername.SetBounds(12, 86, 142, 15);
    editUsername.SetBounds(12, 102, 142, 21);
    LabelPassword.SetBounds(166, 86, 142, 15);
    editPassword.SetBounds(166, 102, 142, 21);
    bbCheckCode.SetBounds(316, 101, 88, 23);
    LabelMinutes.SetBounds(12, 132, 296, 15);
    editMinutes.SetBounds(12, 148, 90, 21);
    LabelMessage.SetBounds(12, 178, 322, 27);
    LabelResponseTime.SetBounds(340, 178, 64, 15);
    LabelShowDetails.SetBounds(12, 212, 90, 15);
    bbOk.SetBounds(236, 205, 80, 25);
    bbCancel.SetBounds(324, 205, 80, 25);

    PrepareEditDialogParts(Parts(), [this] { bbOkClick(); });
    LabelMessage.SetWordWrap(true);
    LabelShowDetails.Hide();

    bbOpenURL.OnClick = [this] { bbOpenURLClick(); };
    bbCheckCode.OnClick = [this] { bbCheckCodeClick(); };
    LabelShowDetails.OnClick = [this] { LabelShowDetailsClick(); };
}

HRESULT TfmEditServer::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == IID_IBindStatusCallback)
        *object = static_cast<IBindStatusCallback*>(this);
    else if (riid == IID_IAuthenticate)
        *object = static_cast<IAuthenticate*>(this);
    else if (riid == IID_IHttpSecurity)
        *object = static_cast<IHttpSecurity*>(this);
    else
        return TForm::QueryOwnInterface(riid, object);
    return S_OK;
}

void TfmEditServer::SetItem(TListItem row)
{
    item_ = row;
    int count = LoadEditDialogParts(Parts(), row);
    if (count > 1)
        editUsername.SetText(row.SubItem(1));
    if (count > 2)
        editPassword.SetText(row.SubItem(2));
}

void TfmEditServer::SaveToItem()
{
    auto* settings = item_ ? dynamic_cast<TCheckServerSettings*>(item_.Data()) : nullptr;
    Assert(settings != nullptr, "The edited row carries no server settings", kUnit, __LINE__);
    int minutes = editMinutes.Value();
    settings->Active = cbActive.Checked();
    settings->URL = editURL.Text();
    settings->CheckIntevalMinutes = minutes;
    settings->Username = editUsername.Text();
    settings->Password = editPassword.Text();

    item_.SetChecked(settings->Active);
    item_.SetCaption(settings->URL);
    item_.SetSubItems({std::to_wstring(minutes), settings->Username, settings->Password});
}

void TfmEditServer::bbOkClick()
{
    SaveToItem();
    SetModalResult(mrOk);
}

void TfmEditServer::bbOpenURLClick()
{
    if (ShellOpen)
        ShellOpen(Handle(), editURL.Text());
}

// The same request and judgement as the scheduled check, on the main thread; the outcome is only shown.
void TfmEditServer::bbCheckCodeClick()
{
    TBlockingCheck busy;
    CheckDetails.clear();
    LabelShowDetails.Hide();
    LabelResponseTime.SetCaption(L"");

    std::wstring url = ServerRequestURL(editURL.Text(), L"Report");
    TStopwatch watch;
    std::optional<std::string> body = RetrieveURL(url, static_cast<IBindStatusCallback*>(this));
    LabelResponseTime.SetCaption(FormatMilliseconds(watch.Milliseconds()));
    if (!body) {
        ShowCheckMessage(L"Failed to connect", kCheckFailedColor);
        LabelShowDetails.Show();
        return;
    }
    ComPtr<IXMLDOMDocument2> document = NewReportDocument();
    TServerReport report = JudgeServerReport(document.Get(), *body);
    switch (report.Outcome) {
    case TServerReport::TOutcome::ParserError:
        ShowCheckMessage(CutStatusText(report.ErrorText), kCheckFailedColor);
        LabelShowDetails.Show();
        break;
    case TServerReport::TOutcome::BadResponse: ShowCheckMessage(L"Bad response", kCheckFailedColor); break;
    case TServerReport::TOutcome::Report:
        ShowCheckMessage(CutStatusText(FormatW(L"%ls: Total free: %ls MB", CutStatusText(report.CurrentTime).c_str(),
                                               CutStatusText(report.TotalFree).c_str())),
                         kCheckSucceededColor);
        break;
    }
}

void TfmEditServer::LabelShowDetailsClick()
{
    std::wstring text;
    for (size_t i = 0; i < CheckDetails.size(); ++i) {
        if (i > 0)
            text += L"\r\n";
        text += CheckDetails[i];
    }
    ShowMessageDlg(Application(), Handle(), TMsgDlgType::Custom, mbOK, text, L"Details", L"");
}

// Painted at once: the request that reports the progress keeps the message loop from running.
void TfmEditServer::ShowCheckMessage(const std::wstring& text, COLORREF color)
{
    CheckDetails.push_back(text);
    LabelMessage.SetCaption(text);
    LabelMessage.SetTextColor(color);
    LabelMessage.Show();
    ::UpdateWindow(LabelMessage.Handle());
}

HRESULT TfmEditServer::OnStartBinding(DWORD, IBinding*) { return S_OK; }

HRESULT TfmEditServer::GetPriority(LONG* priority) { return AnswerPriority(priority); }

HRESULT TfmEditServer::OnLowResource(DWORD) { return S_OK; }

HRESULT TfmEditServer::OnProgress(ULONG, ULONG, ULONG, LPCWSTR statusText)
{
    try {
        ShowCheckMessage(statusText ? statusText : L"", kCheckProgressColor);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TfmEditServer::OnStopBinding(HRESULT, LPCWSTR error)
{
    try {
        ShowCheckMessage(error ? error : L"", kCheckFailedColor);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT TfmEditServer::GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo)
{
    return AnswerBindInfo(kEditServerBindFlags, bindFlags, bindInfo);
}

HRESULT TfmEditServer::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }

HRESULT TfmEditServer::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

// The texts as they stand in the fields now, typed but not yet saved.
HRESULT TfmEditServer::Authenticate(HWND* window, LPWSTR* username, LPWSTR* password)
{
    if (!window || !username || !password)
        return E_INVALIDARG;
    *window = Handle();
    *username = *password = nullptr;
    try {
        return AnswerCredentials(editUsername.Text(), editPassword.Text(), username, password);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT TfmEditServer::GetWindow(REFGUID, HWND* window)
{
    if (!window)
        return E_INVALIDARG;
    *window = Handle();
    return S_OK;
}

HRESULT TfmEditServer::OnSecurityProblem(DWORD) { return S_OK; }
