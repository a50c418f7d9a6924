#include "UBehaviourFrame.h"

#include "UFrameSettings.h"

TFrBehaviour::TFrBehaviour(TWinControl& parent)
    : TSettingsFramePanel(parent),
      GroupBox(*this, L"&Behaviour"),
      cbDisableShutdown(GroupBox, L"&Disable shutdown"),
      LabelDisableShutdownHint(GroupBox, L"* Disable computer shutdown. Useful for service validation purposes.")
{
    PlaceGroupBox(GroupBox);
    cbDisableShutdown.SetBounds(14, 24, 300, 19);
    PlaceLabel(LabelDisableShutdownHint, 31, 46);
}

void TFrBehaviour::LoadSettings(TSettingsImage& image)
{
    cbDisableShutdown.SetChecked(LoadBehaviourValues(image).DisableShutdown);
}

void TFrBehaviour::SaveSettings(TSettingsImage& image)
{
    TBehaviourValues values;
    values.DisableShutdown = cbDisableShutdown.Checked();
    SaveBehaviourValues(image, values);
}
