#include "UMemoryOverflowFrame.h"

#include "UFrameSettings.h"

namespace {

void SetSpinRange(TSpinEdit& field, const TSpinRange& range)
{
    field.SetRange(range.MinValue, range.MaxValue);
    field.SetIncrement(range.Increment);
}

} // namespace

TFrMemoryOverflow::TFrMemoryOverflow(TWinControl& parent)
    : TSettingsFramePanel(parent, kDesignHeight),
      GroupBox(*this, L"&Memory &overflow"),
      cbRebootOnMemoryOverflow(GroupBox, L"&Reboot on memory overflow"),
      LabelRebootHint(GroupBox, L"* Enable rebooting on memory overflow."),
      LabelBytesToCheck(GroupBox, L"Bytes to allocate:"),
      editBytesToCheck(GroupBox),
      LabelBytesToCheckHint(GroupBox, L"* Try to allocate this number of bytes to detect memory overflow."),
      LabelCheckInterval(GroupBox, L"Check interval, milliseconds:"),
      editCheckIntervalMSec(GroupBox),
      LabelCheckIntervalHint(GroupBox, L"* Check for memory overflow once per N milliseconds.")
{
    PlaceGroupBox(GroupBox);
    const int hintWidth = GroupBox.Bounds().Width - 28;
    cbRebootOnMemoryOverflow.SetBounds(14, 24, 300, 19);
    PlaceLabel(LabelRebootHint, 31, 45, hintWidth - 17);

    PlaceLabel(LabelBytesToCheck, 14, 70);
    editBytesToCheck.SetBounds(14, 88, 150, 21);
    SetSpinRange(editBytesToCheck, SettingKeys::CheckBytes.Range);
    PlaceLabel(LabelBytesToCheckHint, 14, 113, hintWidth);

    PlaceLabel(LabelCheckInterval, 14, 138);
    editCheckIntervalMSec.SetBounds(14, 156, 150, 21);
    SetSpinRange(editCheckIntervalMSec, SettingKeys::CheckIntervalMSec.Range);
    PlaceLabel(LabelCheckIntervalHint, 14, 181, hintWidth);
}

void TFrMemoryOverflow::LoadSettings(TSettingsImage& image)
{
    TMemoryOverflowValues values = LoadMemoryOverflowValues(image);
    cbRebootOnMemoryOverflow.SetChecked(values.RebootOnOverflowEnabled);
    editBytesToCheck.SetValue(values.CheckBytes);
    editCheckIntervalMSec.SetValue(values.CheckIntervalMSec);
}

void TFrMemoryOverflow::SaveSettings(TSettingsImage& image)
{
    TMemoryOverflowValues values;
    values.RebootOnOverflowEnabled = cbRebootOnMemoryOverflow.Checked();
    values.CheckBytes = editBytesToCheck.Value();
    values.CheckIntervalMSec = editCheckIntervalMSec.Value();
    SaveMemoryOverflowValues(image, values);
}
