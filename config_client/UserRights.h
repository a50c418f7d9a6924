// The administrator test and the request for an administrator's credentials, after which the main thread
// impersonates that account.
#pragma once

#include <windows.h>
#include <wincred.h>

#include <optional>
#include <string>

// Limits of the user name and password, taken from the platform's credential prompt.
constexpr ULONG kMaxUserNameLength = 513;
constexpr ULONG kMaxPasswordLength = 256;
// CREDUI_FLAGS_REQUEST_ADMINISTRATOR | CREDUI_FLAGS_PASSWORD_ONLY_OK.
constexpr DWORD kCredentialPromptFlags = 0x204;
// How many failures of the system prompt in a row (other than a cancel) are retried before the user is asked.
constexpr int kMaxPromptFailuresInRow = 3;

// The fallback dialog: shown with the buffers' current contents; on OK copies its fields back and returns true,
// otherwise leaves the buffers unchanged and returns false.
using TCredentialsDialogProc = bool (*)(HWND owner, const std::string& caption, std::string& password,
                                        std::string& userName, const std::string& computerName,
                                        const std::string& message);

// Everything the credential request asks of the system, in one place so that it can be replaced.
class TUserRightsSystem {
public:
    // dialog: the program's own credentials dialog, shown when the system prompt is not available.
    explicit TUserRightsSystem(TCredentialsDialogProc dialog = nullptr) : dialog_(dialog) {}
    virtual ~TUserRightsSystem() = default;

    virtual bool IsNTPlatform();
    // The shell's IsUserAnAdmin through the bound entry points; true when the entry is empty.
    virtual bool IsUserAnAdmin();
    // Whether CredUIPromptForCredentialsA is bound.
    virtual bool HasCredentialPrompt();
    // CredUIPromptForCredentialsA with no reserved value, no previous error and an ignored save flag.
    virtual DWORD PromptForCredentials(CREDUI_INFOA& info, const char* target, char* userName, ULONG userNameMax,
                                       char* password, ULONG passwordMax, DWORD flags);
    virtual bool ShowCredentialsDialog(HWND owner, const std::string& caption, std::string& password,
                                       std::string& userName, const std::string& computerName,
                                       const std::string& message);
    // LogonUserA (interactive, default provider) and ImpersonateLoggedOnUser on the calling thread. On failure the
    // thread's last error is the failing call's. The token stays open while the program runs.
    virtual bool LogonAndImpersonate(const std::string& account, const char* domain, const std::string& password);
    // MessageBoxA; returns the button chosen.
    virtual int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

private:
    TCredentialsDialogProc dialog_;
};

// The account and the domain that a typed user name logs on with.
struct TLogonName {
    std::string Account;
    std::optional<std::string> Domain; // none: a user principal name, logged on without a domain
};
TLogonName SplitLogonName(const std::string& computerName, const std::string& userName);

bool IsAdministrator();
bool IsAdministrator(TUserRightsSystem& system);

// Asks for an administrator's credentials for this computer, with the program's caption and message.
bool RequestAdministratorRights(HWND owner, TUserRightsSystem& system);
bool RequestAdministratorRights(HWND owner);

// The prompt-and-logon loop. True means that the calling thread now impersonates the account entered, that no
// prompt was needed, or that the program's own dialog was cancelled.
bool PromptAdministratorCredentials(HWND owner, const std::string& computerName, const std::string& caption,
                                    const std::string& message, TUserRightsSystem& system);

bool LogonAndImpersonate(const std::string& computerName, const std::string& userName, const std::string& password,
                         TUserRightsSystem& system);
bool LogonAndImpersonate(const std::string& computerName, const std::string& userName, const std::string& password);
