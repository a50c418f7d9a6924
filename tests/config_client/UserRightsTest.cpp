#include "EntryPoints.h"
#include "NTTools.h"
#include "Strings.h"
#include "UserRights.h"
#include "WinTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr DWORD kLogonFailure = ERROR_LOGON_FAILURE;

// The system as the credential request sees it, played by the test: prompt answers and logon results are queued,
// and every call is recorded.
class FakeSystem : public TUserRightsSystem {
public:
    struct PromptAnswer {
        DWORD result;
        const char* userName = nullptr; // typed into the prompt; null leaves the buffer as shown
        const char* password = nullptr;
    };
    struct Logon {
        std::string account;
        std::string domain;
        bool hasDomain;
        std::string password;
    };
    struct Box {
        std::string text, caption;
        UINT type;
    };

    bool admin = false;
    bool nt = true;
    bool hasPrompt = true;
    std::deque<PromptAnswer> prompts;
    std::deque<bool> dialogs;      // the fallback dialog: confirmed or cancelled
    std::deque<bool> logonResults; // empty: every logon fails
    std::deque<int> boxAnswers;    // empty: Cancel
    std::string acceptedPassword;  // when set, a logon succeeds exactly with this password

    std::vector<std::string> shownUserNames, shownPasswords;
    struct Info {
        DWORD size;
        HWND parent;
        std::string caption, message;
        HBITMAP banner;
    };
    std::vector<Info> infos;
    std::vector<std::string> targets;
    std::vector<ULONG> limits;
    std::vector<DWORD> flags;
    std::vector<std::string> dialogComputerNames;
    std::vector<Logon> logons;
    std::vector<Box> boxes;
    int promptCalls = 0;

    bool IsNTPlatform() override { return nt; }
    bool IsUserAnAdmin() override { return admin; }
    bool HasCredentialPrompt() override { return hasPrompt; }

    DWORD PromptForCredentials(CREDUI_INFOA& info, const char* target, char* userName, ULONG userNameMax,
                               char* password, ULONG passwordMax, DWORD promptFlags) override
    {
        ++promptCalls;
        infos.push_back({info.cbSize, info.hwndParent, info.pszCaptionText ? info.pszCaptionText : "",
                         info.pszMessageText ? info.pszMessageText : "", info.hbmBanner});
        targets.push_back(target);
        limits.push_back(userNameMax);
        limits.push_back(passwordMax);
        flags.push_back(promptFlags);
        shownUserNames.push_back(userName);
        shownPasswords.push_back(password);
        if (prompts.empty())
            return ERROR_CANCELLED;
        PromptAnswer answer = prompts.front();
        prompts.pop_front();
        if (answer.userName)
            std::strcpy(userName, answer.userName);
        if (answer.password)
            std::strcpy(password, answer.password);
        return answer.result;
    }

    bool ShowCredentialsDialog(HWND, const std::string&, std::string& password, std::string& userName,
                               const std::string& computerName, const std::string&) override
    {
        dialogComputerNames.push_back(computerName);
        shownUserNames.push_back(userName);
        shownPasswords.push_back(password);
        bool confirmed = !dialogs.empty() && dialogs.front();
        if (!dialogs.empty())
            dialogs.pop_front();
        if (confirmed) {
            userName = "dialog-user";
            password = "dialog-password";
        }
        return confirmed;
    }

    bool LogonAndImpersonate(const std::string& account, const char* domain, const std::string& password) override
    {
        logons.push_back({account, domain ? domain : "", domain != nullptr, password});
        bool ok;
        if (!acceptedPassword.empty()) {
            ok = password == acceptedPassword;
        } else {
            ok = !logonResults.empty() && logonResults.front();
            if (!logonResults.empty())
                logonResults.pop_front();
        }
        if (!ok)
            SetLastError(kLogonFailure);
        return ok;
    }

    int ShowMessageBox(HWND, const std::string& text, const std::string& caption, UINT type) override
    {
        boxes.push_back({text, caption, type});
        int answer = boxAnswers.empty() ? IDCANCEL : boxAnswers.front();
        if (!boxAnswers.empty())
            boxAnswers.pop_front();
        return answer;
    }
};

bool Prompt(FakeSystem& system)
{
    return PromptAdministratorCredentials(nullptr, "HOST", "caption", "message", system);
}

BOOL WINAPI NotAnAdministrator() { return FALSE; }

} // namespace

TEST(AdministratorCheck, AdministratorIsNeverPrompted)
{
    FakeSystem system;
    system.admin = true;
    EXPECT_TRUE(IsAdministrator(system));
    EXPECT_EQ(system.promptCalls, 0);
    system.admin = false;
    EXPECT_FALSE(IsAdministrator(system));

    // Outside the NT family there is nothing to ask.
    system.nt = false;
    EXPECT_TRUE(Prompt(system));
    EXPECT_EQ(system.promptCalls, 0);
}

TEST(AdministratorCheck, EmptyEntryCountsAsAdministrator)
{
    TEntryPoints saved = EntryPoints();
    TEntryPoints table = saved;
    table.IsUserAnAdmin = nullptr;
    SetEntryPoints(table);
    EXPECT_TRUE(IsAdministrator());
    table.IsUserAnAdmin = NotAnAdministrator;
    SetEntryPoints(table);
    EXPECT_FALSE(IsAdministrator());
    SetEntryPoints(saved);
}

TEST(CredentialPrompt, SystemPromptIsCalledAsTheSystemExpects)
{
    FakeSystem system;
    system.prompts = {{0, "admin", "secret"}};
    system.logonResults = {true};
    HWND owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_TRUE(PromptAdministratorCredentials(
        owner, "HOST", "Administrative priveleges required",
        "Please enter into administrative priveleges account to proceed with install.", system));
    ASSERT_EQ(system.infos.size(), 1u);
    const auto& info = system.infos[0];
    EXPECT_EQ(info.size, sizeof(CREDUI_INFOA));
    EXPECT_EQ(info.parent, owner);
    EXPECT_EQ(info.caption, "Administrative priveleges required");
    EXPECT_EQ(info.message, "Please enter into administrative priveleges account to proceed with install.");
    EXPECT_EQ(info.banner, nullptr);
    EXPECT_EQ(system.targets[0], "HOST");
    EXPECT_EQ(system.limits, (std::vector<ULONG>{513, 256}));
    EXPECT_EQ(system.flags[0], 0x204u);
    EXPECT_EQ(system.shownUserNames[0], "");
    EXPECT_EQ(system.shownPasswords[0], "");
    ASSERT_EQ(system.logons.size(), 1u);
    EXPECT_EQ(system.logons[0].account, "admin");
    EXPECT_EQ(system.logons[0].password, "secret");
    EXPECT_TRUE(system.boxes.empty());
}

TEST(CredentialPrompt, CancelInTheSystemPromptGivesFalse)
{
    FakeSystem system;
    system.prompts = {{ERROR_CANCELLED}};
    EXPECT_FALSE(Prompt(system));
    EXPECT_EQ(system.promptCalls, 1);
    EXPECT_TRUE(system.logons.empty());
    EXPECT_TRUE(system.boxes.empty());
}

TEST(CredentialPrompt, WrongPasswordWithRetryPromptsAgainWithThePreviousEntries)
{
    FakeSystem system;
    system.prompts = {{0, "HOST\\admin", "wrong"}, {0, nullptr, "right"}};
    system.acceptedPassword = "right";
    system.boxAnswers = {IDRETRY};
    EXPECT_TRUE(Prompt(system));

    EXPECT_EQ(system.promptCalls, 2);
    EXPECT_EQ(system.shownUserNames, (std::vector<std::string>{"", "HOST\\admin"}));
    EXPECT_EQ(system.shownPasswords, (std::vector<std::string>{"", "wrong"}));
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, SysErrorText(kLogonFailure));
    EXPECT_EQ(system.boxes[0].caption, "Error");
    EXPECT_EQ(system.boxes[0].type, static_cast<UINT>(MB_RETRYCANCEL | MB_ICONWARNING));
    ASSERT_EQ(system.logons.size(), 2u);
    EXPECT_EQ(system.logons[1].password, "right");
}

TEST(CredentialPrompt, CancelInTheErrorBoxQuits)
{
    FakeSystem system;
    system.prompts = {{0, "admin", "wrong"}, {0, nullptr, "right"}};
    system.boxAnswers = {IDCANCEL};
    EXPECT_FALSE(Prompt(system));
    EXPECT_EQ(system.promptCalls, 1);
    EXPECT_EQ(system.logons.size(), 1u);
}

TEST(CredentialPrompt, UserNameForms)
{
    struct Case {
        const char* typed;
        const char* account;
        const char* domain;
    };
    const Case cases[] = {
        {"HOST\\admin", "admin", "HOST"},
        {"host\\admin", "admin", "HOST"}, // the computer's name in any letter case
        {"admin@example.org", "admin@example.org", nullptr},
        {"admin", "admin", "HOST"},
        {"OTHER\\admin", "OTHER\\admin", "HOST"}, // another domain is passed whole
        {"HOSTX\\admin", "HOSTX\\admin", "HOST"},
        {"HOST\\", "", "HOST"},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.prompts = {{0, c.typed, "pw"}};
        system.logonResults = {true};
        EXPECT_TRUE(Prompt(system)) << c.typed;
        ASSERT_EQ(system.logons.size(), 1u) << c.typed;
        EXPECT_EQ(system.logons[0].account, c.account) << c.typed;
        EXPECT_EQ(system.logons[0].hasDomain, c.domain != nullptr) << c.typed;
        if (c.domain) {
            EXPECT_EQ(system.logons[0].domain, c.domain) << c.typed;
        }

        TLogonName split = SplitLogonName("HOST", c.typed);
        EXPECT_EQ(split.Account, c.account);
        EXPECT_EQ(split.Domain.has_value(), c.domain != nullptr);
    }
}

TEST(CredentialPrompt, OwnDialogWhenTheSystemPromptIsMissing)
{
    struct Case {
        const char* what;
        std::deque<bool> dialogs;
        std::deque<bool> logons;
        std::deque<int> boxes;
        bool result;
        size_t dialogCount;
    };
    const Case cases[] = {
        {"cancelled: goes on without a logon", {false}, {}, {}, true, 1},
        {"confirmed and logged on", {true}, {true}, {}, true, 1},
        {"failed logon, Retry, then cancelled", {true, false}, {false}, {IDRETRY}, true, 2},
        {"failed logon, Cancel", {true}, {false}, {IDCANCEL}, false, 1},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.hasPrompt = false;
        system.dialogs = c.dialogs;
        system.logonResults = c.logons;
        system.boxAnswers = c.boxes;
        EXPECT_EQ(Prompt(system), c.result) << c.what;
        EXPECT_EQ(system.promptCalls, 0) << c.what;
        EXPECT_EQ(system.dialogComputerNames.size(), c.dialogCount) << c.what;
        EXPECT_EQ(system.dialogComputerNames[0], "HOST") << c.what;
        if (c.dialogCount > 1) {
            // The dialog shows again what was typed the time before.
            EXPECT_EQ(system.shownUserNames[1], "dialog-user") << c.what;
            EXPECT_EQ(system.shownPasswords[1], "dialog-password") << c.what;
        }
        for (const auto& logon : system.logons)
            EXPECT_EQ(logon.account, "dialog-user") << c.what;
    }
}

TEST(CredentialPrompt, PromptThatKeepsFailingIsBounded)
{
    // A prompt that fails without showing itself is tried a few times, then the user sees the error and decides.
    FakeSystem system;
    for (int i = 0; i < 100; ++i)
        system.prompts.push_back({ERROR_INVALID_PARAMETER});
    system.boxAnswers = {IDRETRY, IDCANCEL};
    EXPECT_FALSE(Prompt(system));
    EXPECT_EQ(system.promptCalls, 2 * kMaxPromptFailuresInRow);
    ASSERT_EQ(system.boxes.size(), 2u);
    EXPECT_EQ(system.boxes[0].text, SysErrorText(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(system.boxes[0].caption, "Error");
    EXPECT_TRUE(system.logons.empty());

    // A failure now and then between real answers does not count up to the bound.
    FakeSystem mixed;
    mixed.prompts = {{ERROR_INVALID_PARAMETER}, {ERROR_INVALID_PARAMETER}, {0, "a", "wrong"},
                     {ERROR_INVALID_PARAMETER}, {ERROR_INVALID_PARAMETER}, {0, nullptr, "right"}};
    mixed.acceptedPassword = "right";
    mixed.boxAnswers = {IDRETRY};
    EXPECT_TRUE(Prompt(mixed));
    EXPECT_EQ(mixed.promptCalls, 6);
    EXPECT_EQ(mixed.boxes.size(), 1u); // only the failed logon's box
}

TEST(CredentialPrompt, RequestUsesTheComputerNameAndTheProgramsTexts)
{
    FakeSystem system;
    system.prompts = {{ERROR_CANCELLED}};
    EXPECT_FALSE(RequestAdministratorRights(nullptr, system));
    ASSERT_EQ(system.infos.size(), 1u);
    EXPECT_EQ(system.targets[0], WideToAnsi(GetLocalComputerName()));
    EXPECT_EQ(system.infos[0].caption, "Administrative priveleges required");
    EXPECT_EQ(system.infos[0].message, "Please enter into administrative priveleges account to proceed with install.");
}

TEST(ComputerName, IsTheSystemsName)
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(GetLocalComputerName(), name);
    EXPECT_FALSE(GetLocalComputerName().empty());
}
