// The "&Behaviour" item's frame: whether the service disables the computer's shutdown.
#pragma once

#include "USettingsFramePanel.h"

class TFrBehaviour : public TSettingsFramePanel {
public:
    explicit TFrBehaviour(TWinControl& parent);

    void STDMETHODCALLTYPE LoadSettings(TSettingsImage& image) override;
    void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) override;

    TGroupBox GroupBox;
    TCheckBox cbDisableShutdown;
    TLabel LabelDisableShutdownHint;
};
