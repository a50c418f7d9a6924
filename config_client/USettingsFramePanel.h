// The window side of a settings frame: a panel with a design size of its own that answers ISettingsFrame.
// The main window owns its frames; the interface is not counted for their lifetime.
#pragma once

#include "ExtCtrls.h"
#include "StdCtrls.h"
#include "USettingsFrame.h"

// The size in which the frames are laid out; the frame bar stretches a frame to its room, or scrolls when
// the frame is taller than the room.
constexpr int kFrameDesignWidth = 549;
constexpr int kFrameDesignHeight = 176;

class TSettingsFramePanel : public TPanel, public ISettingsFrame {
public:
    TSettingsFramePanel(TWinControl& parent, int designHeight = kFrameDesignHeight);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** object) override;

    // A group box over the whole frame, keeping its margins when the frame is stretched.
    void PlaceGroupBox(TGroupBox& box);
    // A label sized to its text; with a width it wraps within that width.
    static void PlaceLabel(TLabel& label, int left, int top, int wrapWidth = 0);
};

// The settings interface of a frame; a frame without it is an internal error.
ISettingsFrame& SettingsFrameOf(TWinControl& frame);
