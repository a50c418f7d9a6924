// The "&Service start" item's frame: how many bytes the service reserves when it starts.
#pragma once

#include "USettingsFramePanel.h"

class TFrServiceStart : public TSettingsFramePanel {
public:
    explicit TFrServiceStart(TWinControl& parent);

    void STDMETHODCALLTYPE LoadSettings(TSettingsImage& image) override;
    void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) override;

    TGroupBox GroupBox;
    TLabel LabelInitialAllocate;
    TSpinEdit editInitialAllocate;
    TLabel LabelInitialAllocateHint;
};
