// What each settings frame shows, loaded from and saved into the settings image without a window: a frame
// copies its values into its controls after loading and reads them back before saving.
#pragma once

#include "USettingsFrame.h"

#include <string>

// TFrBehaviour: cbDisableShutdown.
struct TBehaviourValues {
    bool DisableShutdown = false;
};
TBehaviourValues LoadBehaviourValues(const TSettingsImage& image);
void SaveBehaviourValues(TSettingsImage& image, const TBehaviourValues& values);

// TFrServiceStart: editInitialAllocate.
struct TServiceStartValues {
    int InitialReserveBytes = 0;
};
TServiceStartValues LoadServiceStartValues(const TSettingsImage& image);
void SaveServiceStartValues(TSettingsImage& image, const TServiceStartValues& values);

// TFrMemoryOverflow: cbRebootOnMemoryOverflow, editBytesToCheck, editCheckIntervalMSec.
struct TMemoryOverflowValues {
    bool RebootOnOverflowEnabled = false;
    int CheckBytes = 0;
    int CheckIntervalMSec = 0;
};
TMemoryOverflowValues LoadMemoryOverflowValues(const TSettingsImage& image);
void SaveMemoryOverflowValues(TSettingsImage& image, const TMemoryOverflowValues& values);

// TFrRemote: cbEnableRemoteControl, editPort, EditUserName, EditPassword, editPagesFolder, cbUseSSL,
// editRootCertFile, editCertFile, editKeyFile.
struct TRemoteValues {
    bool Enabled = false;
    int Port = 0;
    std::wstring Login;
    std::wstring Password;
    std::wstring PagesFolder;
    bool UseSSL = false;
    std::wstring RootCertFile;
    std::wstring CertFile;
    std::wstring KeyFile;
};
// A newly generated user name and password stand in for "Login" and "Password" when the keys are absent.
TRemoteValues LoadRemoteValues(const TSettingsImage& image);
void SaveRemoteValues(TSettingsImage& image, const TRemoteValues& values);
