// A window's layout as the user sees it at the window's DPI: what is out of place, as readable faults.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace gui {

// Walks the visible windows below a top-level window of this process and answers every fault:
// - the window lies outside the work area of its monitor;
// - a visible control sticks out of its parent's client area (scrolling parents excepted);
// - two visible sibling controls overlap;
// - a label's, button's, check box's or group box's text needs more room than the control has, measured
//   with the control's own font;
// - the tab order (creation order) does not read like the layout: a tab stop that stands above the one before
//   it, or left of it on the same row;
// - a control's font is smaller than a 9-pixel font at 96 DPI scaled to the window's DPI (an unscaled font).
// The children of standard controls (a list view's header, a combo box's edit) are the control's own affair.
std::vector<std::string> LayoutFaults(HWND topLevel);
// The same faults as one text, a line each, empty when there are none: EXPECT_EQ(LayoutFaultsText(w), "").
std::string LayoutFaultsText(HWND topLevel);

// The window's DPI as its controls are scaled for it.
int WindowDpi(HWND window);

} // namespace gui
