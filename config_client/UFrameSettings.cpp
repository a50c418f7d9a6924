#include "UFrameSettings.h"

#include "URemoteSettings.h"

using namespace SettingKeys;

TBehaviourValues LoadBehaviourValues(const TSettingsImage& image)
{
    TBehaviourValues values;
    values.DisableShutdown = ReadSettingFlag(image, DisableShutdown);
    return values;
}

void SaveBehaviourValues(TSettingsImage& image, const TBehaviourValues& values)
{
    WriteSettingFlag(image, DisableShutdown, values.DisableShutdown);
}

TServiceStartValues LoadServiceStartValues(const TSettingsImage& image)
{
    TServiceStartValues values;
    values.InitialReserveBytes = ReadSettingNumber(image, InitialReserveBytes);
    return values;
}

void SaveServiceStartValues(TSettingsImage& image, const TServiceStartValues& values)
{
    WriteSettingNumber(image, InitialReserveBytes, values.InitialReserveBytes);
}

TMemoryOverflowValues LoadMemoryOverflowValues(const TSettingsImage& image)
{
    TMemoryOverflowValues values;
    values.RebootOnOverflowEnabled = ReadSettingFlag(image, RebootOnOverflowEnabled);
    values.CheckBytes = ReadSettingNumber(image, CheckBytes);
    values.CheckIntervalMSec = ReadSettingNumber(image, CheckIntervalMSec);
    return values;
}

void SaveMemoryOverflowValues(TSettingsImage& image, const TMemoryOverflowValues& values)
{
    WriteSettingFlag(image, RebootOnOverflowEnabled, values.RebootOnOverflowEnabled);
    WriteSettingNumber(image, CheckBytes, values.CheckBytes);
    WriteSettingNumber(image, CheckIntervalMSec, values.CheckIntervalMSec);
}

// The generators run at every load, but their texts only stand in for keys that the file lacks.
TRemoteValues LoadRemoteValues(const TSettingsImage& image)
{
    TRemoteValues values;
    values.Enabled = ReadSettingFlag(image, RemoteEnabled);
    values.Port = ReadSettingNumber(image, Port);
    values.Login = ReadSettingText(image, Login, GenerateUserName());
    values.Password = ReadSettingText(image, Password, GeneratePassword());
    values.PagesFolder = ReadSettingText(image, PagesFolder);
    values.UseSSL = ReadSettingFlag(image, UseSSL);
    values.RootCertFile = ReadSettingText(image, RootCertFile);
    values.CertFile = ReadSettingText(image, CertFile);
    values.KeyFile = ReadSettingText(image, KeyFile);
    return values;
}

void SaveRemoteValues(TSettingsImage& image, const TRemoteValues& values)
{
    WriteSettingFlag(image, RemoteEnabled, values.Enabled);
    WriteSettingNumber(image, Port, values.Port);
    WriteSettingText(image, Login, values.Login);
    WriteSettingText(image, Password, values.Password);
    WriteSettingText(image, PagesFolder, values.PagesFolder);
    WriteSettingFlag(image, UseSSL, values.UseSSL);
    WriteSettingText(image, RootCertFile, values.RootCertFile);
    WriteSettingText(image, CertFile, values.CertFile);
    WriteSettingText(image, KeyFile, values.KeyFile);
}
