// The program's own credentials dialog: what it shows, what OK and Cancel do with the buffers.
#include "GuiHarness.h"

#include "Application.h"
#include "UEnterCredentialsFM.h"
#include "UserRights.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const wchar_t kCaption[] = L"Administrative priveleges required";

TfmEnterCredentials* DialogOf(HWND window)
{
    return dynamic_cast<TfmEnterCredentials*>(TWinControl::ControlFromHandle(window));
}

class CredentialsDialogTest : public ::testing::Test {
protected:
    // Shows the dialog with the buffers and lets the action work it; answers the dialog's result.
    bool Show(const std::function<void(TfmEnterCredentials&)>& action, HWND owner = nullptr)
    {
        session.WhenWindowAppears([] { return gui::FindTopLevel(nullptr, kCaption, ::GetCurrentProcessId()); },
                                  [&](HWND window) {
                                      TfmEnterCredentials* dialog = DialogOf(window);
                                      if (!dialog)
                                          throw std::runtime_error("not the credentials dialog");
                                      action(*dialog);
                                  });
        bool result = TfmEnterCredentials::ShowCredentialsDialog(
            owner, "Administrative priveleges required", password, userName, "HOST",
            "Please enter into administrative priveleges account to proceed with install.");
        EXPECT_TRUE(session.WatchersDone());
        EXPECT_TRUE(session.WatcherFailures().empty());
        return result;
    }

    TApplication app;
    gui::TGuiSession session{app};
    std::string userName = "previous-user";
    std::string password = "previous-password";
};

TEST_F(CredentialsDialogTest, ShowsTheComputerReadOnlyAndThePasswordMasked)
{
    Show([&](TfmEnterCredentials& dialog) {
        HWND window = dialog.Handle();
        SIZE client = gui::ClientSize(window);
        EXPECT_EQ(client.cx, 448);
        EXPECT_EQ(client.cy, 317);
        EXPECT_FALSE(gui::HasStyle(window, WS_THICKFRAME));
        EXPECT_EQ(gui::Text(dialog.LabelMessage.Handle()),
                  L"Please enter into administrative priveleges account to proceed with install.");
        EXPECT_EQ(gui::Text(dialog.LabelDomainCaption.Handle()), L"Local domain or computer name:");
        EXPECT_EQ(gui::Text(dialog.LabelUserNameCaption.Handle()), L"User name");
        EXPECT_EQ(gui::Text(dialog.LabelPasswordCaption.Handle()), L"Password");
        EXPECT_EQ(gui::Text(dialog.EditDomain.Handle()), L"HOST");
        EXPECT_TRUE(gui::HasStyle(dialog.EditDomain.Handle(), ES_READONLY));
        EXPECT_EQ(gui::Text(dialog.EditUserName.Handle()), L"previous-user");
        EXPECT_EQ(gui::Text(dialog.EditPassword.Handle()), L"previous-password");
        EXPECT_EQ(::SendMessageW(dialog.EditPassword.Handle(), EM_GETPASSWORDCHAR, 0, 0), L'*');
        EXPECT_EQ(::SendMessageW(dialog.EditUserName.Handle(), EM_GETLIMITTEXT, 0, 0), 513);
        EXPECT_EQ(::SendMessageW(dialog.EditPassword.Handle(), EM_GETLIMITTEXT, 0, 0), 256);
        EXPECT_EQ(gui::Text(dialog.bbOk.Handle()), L"OK");
        EXPECT_EQ(gui::Text(dialog.bbCancel.Handle()), L"Cancel");
        // The first key press goes to the user name; the computer's name cannot be typed over.
        EXPECT_EQ(::GetFocus(), dialog.EditUserName.Handle());
        ::SetFocus(dialog.EditDomain.Handle());
        session.TypeText(L"X");
        EXPECT_EQ(gui::Text(dialog.EditDomain.Handle()), L"HOST");
        gui::SaveScreenshot(window, L"config-credentials-dialog");
        session.Click(dialog.bbCancel.Handle());
    });
}

TEST_F(CredentialsDialogTest, OkCopiesTheFieldsBackAndCancelLeavesTheBuffers)
{
    struct Case {
        const char* what;
        std::function<void(TfmEnterCredentials&)> close;
        bool result;
    };
    const Case cases[] = {
        {"OK", [&](TfmEnterCredentials& d) { session.Click(d.bbOk.Handle()); }, true},
        {"Enter", [&](TfmEnterCredentials&) { session.PressKey(VK_RETURN); }, true},
        {"Cancel", [&](TfmEnterCredentials& d) { session.Click(d.bbCancel.Handle()); }, false},
        {"Esc", [&](TfmEnterCredentials&) { session.PressKey(VK_ESCAPE); }, false},
        {"closed", [&](TfmEnterCredentials& d) { d.Close(); }, false},
    };
    for (const auto& c : cases) {
        userName = "previous-user";
        password = "previous-password";
        bool result = Show([&](TfmEnterCredentials& dialog) {
            ::SetFocus(dialog.EditUserName.Handle());
            dialog.EditUserName.SelectAll();
            session.TypeText(L"HOST\\admin");
            ::SetFocus(dialog.EditPassword.Handle());
            dialog.EditPassword.SelectAll();
            session.TypeText(L"s3cret");
            c.close(dialog);
        });
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(userName, c.result ? "HOST\\admin" : "previous-user") << c.what;
        EXPECT_EQ(password, c.result ? "s3cret" : "previous-password") << c.what;
        // The dialog is gone once the call returns.
        EXPECT_EQ(gui::FindTopLevel(nullptr, kCaption, ::GetCurrentProcessId()), nullptr) << c.what;
    }
}

TEST_F(CredentialsDialogTest, OwnedByAWindowOfTheProgramItDisablesItWhileOpen)
{
    TForm owner(app);
    owner.SetCaption(L"Owner");
    owner.Show();
    bool ownerEnabled = true;
    Show(
        [&](TfmEnterCredentials& dialog) {
            ownerEnabled = gui::IsEnabled(owner.Handle());
            EXPECT_EQ(::GetWindow(dialog.Handle(), GW_OWNER), owner.Handle());
            session.Click(dialog.bbCancel.Handle());
        },
        owner.Handle());
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(gui::IsEnabled(owner.Handle()));
}

} // namespace
