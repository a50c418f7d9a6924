#include "USettingsFramePanel.h"

#include "Exceptions.h"

TSettingsFramePanel::TSettingsFramePanel(TWinControl& parent, int designHeight) : TPanel(parent)
{
    // The children's anchors are measured against this size.
    SetBounds(0, 0, kFrameDesignWidth, designHeight);
}

HRESULT TSettingsFramePanel::QueryInterface(REFIID riid, void** object) { return TPanel::QueryInterface(riid, object); }

HRESULT TSettingsFramePanel::QueryOwnInterface(REFIID riid, void** object)
{
    if (riid == __uuidof(ISettingsFrame)) {
        *object = static_cast<ISettingsFrame*>(this);
        return S_OK;
    }
    return TPanel::QueryOwnInterface(riid, object);
}

void TSettingsFramePanel::PlaceGroupBox(TGroupBox& box)
{
    box.SetBounds(6, 2, Bounds().Width - 12, Bounds().Height - 6);
    box.SetAnchors(akLeft | akTop | akRight | akBottom);
}

void TSettingsFramePanel::PlaceLabel(TLabel& label, int left, int top, int wrapWidth)
{
    label.SetBounds(left, top, wrapWidth, 16);
    if (wrapWidth > 0)
        label.SetWordWrap(true);
    label.SetAutoSize(true);
}

ISettingsFrame& SettingsFrameOf(TWinControl& frame)
{
    void* found = nullptr;
    HRESULT hr = frame.QueryInterface(__uuidof(ISettingsFrame), &found);
    Assert(SUCCEEDED(hr) && found, "The frame is a settings frame", "USettingsFramePanel", __LINE__);
    return *static_cast<ISettingsFrame*>(found);
}
