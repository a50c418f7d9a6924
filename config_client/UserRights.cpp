#include "UserRights.h"

#include "EntryPoints.h"
#include "LangTools.h"
#include "NTTools.h"
#include "Strings.h"
#include "Unique.h"
#include "WinTools.h"

#include <algorithm>
#include <array>

namespace {

constexpr const char* kUnit = "UserRights";
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(CREDUI_INFOA) == 20, "the 32-bit prompt record is 20 bytes");
#endif
constexpr DWORD kPromptCancelled = ERROR_CANCELLED; // 1223

// The logged-on administrator's token, kept open while the program runs.
UniqueHandle& ImpersonationToken()
{
    static UniqueHandle token;
    return token;
}

TUserRightsSystem& DefaultSystem()
{
    static TUserRightsSystem system;
    return system;
}

template <size_t N>
void CopyToBuffer(std::array<char, N>& buffer, const std::string& text)
{
    size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.data(), n, buffer.data());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(), '\0');
}

void Wipe(std::string& text)
{
    SecureZeroMemory(text.data(), text.size());
    text.clear();
}

} // namespace

bool TUserRightsSystem::IsNTPlatform() { return GetOSPlatform() == ospWin32NT; }

bool TUserRightsSystem::IsUserAnAdmin()
{
    TIsUserAnAdmin entry = EntryPoints().IsUserAnAdmin;
    return !entry || entry() != FALSE;
}

bool TUserRightsSystem::HasCredentialPrompt() { return EntryPoints().CredUIPromptForCredentialsA != nullptr; }

DWORD TUserRightsSystem::PromptForCredentials(CREDUI_INFOA& info, const char* target, char* userName, ULONG userNameMax,
                                              char* password, ULONG passwordMax, DWORD flags)
{
    TCredUIPromptForCredentialsA entry = EntryPoints().CredUIPromptForCredentialsA;
    Assert(entry != nullptr, "Credential prompt is not bound", kUnit, __LINE__);
    BOOL save = FALSE;
    return entry(&info, target, nullptr, 0, userName, userNameMax, password, passwordMax, &save, flags);
}

bool TUserRightsSystem::ShowCredentialsDialog(HWND owner, const std::string& caption, std::string& password,
                                              std::string& userName, const std::string& computerName,
                                              const std::string& message)
{
    Assert(dialog_ != nullptr, "No credentials dialog", kUnit, __LINE__);
    return dialog_(owner, caption, password, userName, computerName, message);
}

bool TUserRightsSystem::LogonAndImpersonate(const std::string& account, const char* domain, const std::string& password)
{
    HANDLE token = nullptr;
    if (!LogonUserA(account.c_str(), domain, password.c_str(), LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                    &token))
        return false;
    UniqueHandle owned(token);
    if (!ImpersonateLoggedOnUser(token)) {
        DWORD code = GetLastError();
        owned.reset();
        SetLastError(code);
        return false;
    }
    ImpersonationToken() = std::move(owned);
    return true;
}

int TUserRightsSystem::ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

// A user name with another domain before the "\" is passed whole, with the computer as its domain.
TLogonName SplitLogonName(const std::string& computerName, const std::string& userName)
{
    const std::string prefix = computerName + "\\";
    if (userName.size() >= prefix.size() &&
        CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, userName.data(), static_cast<int>(prefix.size()),
                       prefix.data(), static_cast<int>(prefix.size())) == CSTR_EQUAL)
        return {userName.substr(prefix.size()), computerName};
    if (userName.find('@') != std::string::npos)
        return {userName, std::nullopt};
    return {userName, computerName};
}

bool IsAdministrator(TUserRightsSystem& system) { return system.IsUserAnAdmin(); }
bool IsAdministrator() { return IsAdministrator(DefaultSystem()); }

bool RequestAdministratorRights(HWND owner, TUserRightsSystem& system)
{
    std::string computerName = WideToAnsi(GetLocalComputerName());
    TCustomLocaleData& texts = CurrentLocaleData();
    return PromptAdministratorCredentials(
        owner, computerName, texts.GetText("UserRights_PromptCaption", "Administrative priveleges required"),
        texts.GetText("UserRights_PromptMessage",
                      "Please enter into administrative priveleges account to proceed with install."),
        system);
}

bool RequestAdministratorRights(HWND owner) { return RequestAdministratorRights(owner, DefaultSystem()); }

// The buffers live across attempts, so that a repeated prompt shows what was typed before. A system prompt that
// fails without showing itself would otherwise be called again and again: after a few such failures in a row the
// user is shown the error and decides whether to try again.
bool PromptAdministratorCredentials(HWND owner, const std::string& computerName, const std::string& caption,
                                    const std::string& message, TUserRightsSystem& system)
{
    if (!system.IsNTPlatform())
        return true;

    std::array<char, kMaxUserNameLength + 1> userName{};
    std::array<char, kMaxPasswordLength + 1> password{};
    CREDUI_INFOA info = {};
    info.cbSize = sizeof(info);
    info.hwndParent = owner;
    info.pszMessageText = message.c_str();
    info.pszCaptionText = caption.c_str();
    info.hbmBanner = nullptr;
    const std::string errorCaption = CurrentLocaleData().GetText("UserRights_ErrorCaption", "Error");
    auto askRetry = [&](DWORD code) {
        return system.ShowMessageBox(owner, SysErrorText(code), errorCaption, MB_RETRYCANCEL | MB_ICONWARNING) ==
               IDRETRY;
    };

    bool result = false;
    DWORD promptResult = 0;
    int failuresInRow = 0;
    do {
        if (system.HasCredentialPrompt()) {
            promptResult = system.PromptForCredentials(info, computerName.c_str(), userName.data(), kMaxUserNameLength,
                                                       password.data(), kMaxPasswordLength, kCredentialPromptFlags);
            userName.back() = '\0';
            password.back() = '\0';
        } else {
            result = true;
            std::string user = userName.data();
            std::string pass = password.data();
            bool confirmed = system.ShowCredentialsDialog(owner, caption, pass, user, computerName, message);
            if (confirmed) {
                CopyToBuffer(userName, user);
                CopyToBuffer(password, pass);
            }
            Wipe(pass);
            if (!confirmed)
                break;
            promptResult = 0;
        }

        if (promptResult == 0) {
            failuresInRow = 0;
            std::string user = userName.data();
            std::string pass = password.data();
            result = LogonAndImpersonate(computerName, user, pass, system);
            DWORD code = GetLastError();
            Wipe(pass);
            if (!result && !askRetry(code))
                break;
        } else {
            result = false;
            if (promptResult != kPromptCancelled && ++failuresInRow >= kMaxPromptFailuresInRow) {
                failuresInRow = 0;
                if (!askRetry(promptResult))
                    break;
            }
        }
    } while (!result && promptResult != kPromptCancelled);

    SecureZeroMemory(password.data(), password.size());
    return result;
}

bool LogonAndImpersonate(const std::string& computerName, const std::string& userName, const std::string& password,
                         TUserRightsSystem& system)
{
    bool ok;
    DWORD code;
    {
        TLogonName name = SplitLogonName(computerName, userName);
        ok = system.LogonAndImpersonate(name.Account, name.Domain ? name.Domain->c_str() : nullptr, password);
        code = GetLastError();
    }
    // The caller shows the system's text for the failing call's error, so nothing on the way back may change it.
    SetLastError(code);
    return ok;
}

bool LogonAndImpersonate(const std::string& computerName, const std::string& userName, const std::string& password)
{
    return LogonAndImpersonate(computerName, userName, password, DefaultSystem());
}
