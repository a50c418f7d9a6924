// The dialog that edits one monitored server, and tests the entered values at once.
#pragma once

#include "Application.h"
#include "ComCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "UEditDialogTools.h"

#include <windows.h>
#include <urlmon.h>

#include <string>
#include <vector>

// Bind flags of the dialog's check: those of the scheduled checks without BINDF_NO_UI.
inline constexpr DWORD kEditServerBindFlags = 0x22530;

// Its own binding-callback object during "&Check now": it hands over the typed user name and password and
// shows the progress of the request while the request blocks.
class TfmEditServer : public TForm, public IBindStatusCallback, public IAuthenticate, public IHttpSecurity {
public:
    explicit TfmEditServer(TApplication& app, TForm* owner = nullptr);

    // Keeps the row and loads the fields from it: check mark, caption, interval, user name, password.
    void SetItem(TListItem row);
    TListItem Item() const { return item_; }
    // Writes the fields to the row's settings object and to the row.
    void SaveToItem();

    void bbOkClick();
    void bbOpenURLClick();
    void bbCheckCodeClick();
    void LabelShowDetailsClick();
    void ShowCheckMessage(const std::wstring& text, COLORREF color);

    // The lines of every message shown during the last "&Check now", in order.
    std::vector<std::wstring> CheckDetails;
    TShellOpenURL ShellOpen = &ShellOpenURL;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return TForm::QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return TForm::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return TForm::Release(); }

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;
    // IAuthenticate
    HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* username, LPWSTR* password) override;
    // IHttpSecurity
    HRESULT STDMETHODCALLTYPE GetWindow(REFGUID reason, HWND* window) override;
    HRESULT STDMETHODCALLTYPE OnSecurityProblem(DWORD problem) override;

    TCheckBox cbActive{*this, L"Use this rule"};
    TLabel LabelURL{*this, L"Server URL to check:"};
    TEdit editURL{*this};
    TButton bbOpenURL{*this, L"&Navigate"};
    TLabel LabelUsername{*this, L"Username:"};
    TEdit editUsername{*this};
    TLabel LabelPassword{*this, L"Password:"};
    TEdit editPassword{*this};
    TButton bbCheckCode{*this, L"&Check now"};
    TLabel LabelMinutes{*this, L"Check every minutes:"};
    TSpinEdit editMinutes{*this};
    TLabel LabelMessage{*this};
    // How long the last "&Check now" took, beside its message.
    TLabel LabelResponseTime{*this};
    TLinkLabel LabelShowDetails{*this, L"Show details"};
    TButton bbOk{*this, L"OK"};
    TButton bbCancel{*this, L"Cancel"};

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** object) override;

private:
    TEditDialogParts Parts() { return {cbActive, editURL, editMinutes, LabelMessage, bbOk, bbCancel}; }
    TListItem item_;
};
