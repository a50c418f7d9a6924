// The "Memory &overflow" item's frame: whether the service reboots when memory runs out, and how it checks.
#pragma once

#include "USettingsFramePanel.h"

class TFrMemoryOverflow : public TSettingsFramePanel {
public:
    static constexpr int kDesignHeight = 208;

    explicit TFrMemoryOverflow(TWinControl& parent);

    void STDMETHODCALLTYPE LoadSettings(TSettingsImage& image) override;
    void STDMETHODCALLTYPE SaveSettings(TSettingsImage& image) override;

    TGroupBox GroupBox;
    TCheckBox cbRebootOnMemoryOverflow;
    TLabel LabelRebootHint;
    TLabel LabelBytesToCheck;
    TSpinEdit editBytesToCheck;
    TLabel LabelBytesToCheckHint;
    TLabel LabelCheckInterval;
    TSpinEdit editCheckIntervalMSec;
    TLabel LabelCheckIntervalHint;
};
