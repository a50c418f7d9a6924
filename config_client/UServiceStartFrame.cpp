#include "UServiceStartFrame.h"

#include "UFrameSettings.h"

TFrServiceStart::TFrServiceStart(TWinControl& parent)
    : TSettingsFramePanel(parent),
      GroupBox(*this, L"Service st&art"),
      LabelInitialAllocate(GroupBox, L"&Reserve this number of bytes at service start:"),
      editInitialAllocate(GroupBox),
      LabelInitialAllocateHint(GroupBox, L"* Allocate this number of bytes at service start and free before reboot.\r\n"
                                         L"* It helps reboot machine successfully when memory overflow occurs.")
{
    PlaceGroupBox(GroupBox);
    PlaceLabel(LabelInitialAllocate, 14, 24);
    editInitialAllocate.SetBounds(14, 42, 150, 21);
    const TSpinRange& range = SettingKeys::InitialReserveBytes.Range;
    editInitialAllocate.SetRange(range.MinValue, range.MaxValue);
    editInitialAllocate.SetIncrement(range.Increment);
    PlaceLabel(LabelInitialAllocateHint, 14, 72, GroupBox.Bounds().Width - 28);
}

void TFrServiceStart::LoadSettings(TSettingsImage& image)
{
    editInitialAllocate.SetValue(LoadServiceStartValues(image).InitialReserveBytes);
}

void TFrServiceStart::SaveSettings(TSettingsImage& image)
{
    TServiceStartValues values;
    values.InitialReserveBytes = editInitialAllocate.Value();
    SaveServiceStartValues(image, values);
}
