#include "LayoutCheck.h"

#include "ExtCtrls.h"
#include "Strings.h"
#include "WinControl.h"

#include <commctrl.h>

#include <cstdio>

namespace gui {

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t name[64]{};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window)
{
    int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

LONG_PTR StyleOf(HWND window) { return ::GetWindowLongPtrW(window, GWL_STYLE); }

// The rectangle of the window in its parent's client coordinates.
RECT RectInParentClient(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The control's font: the one it was given, or the toolkit control's own.
HFONT FontOf(HWND window)
{
    if (HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)))
        return font;
    if (TWinControl* control = TWinControl::ControlFromHandle(window))
        return control->Font();
    return nullptr;
}

struct TMeasure {
    SIZE text{};
    int em = 0; // the character height without the internal leading
    int cell = 0;
};

// The room the text takes in the font: one line, or wrapped within the width.
TMeasure Measure(HWND window, HFONT font, const std::wstring& text, bool wraps, int width)
{
    TMeasure m;
    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    m.em = metrics.tmHeight - metrics.tmInternalLeading;
    m.cell = metrics.tmHeight;
    if (!text.empty()) {
        RECT rect{0, 0, wraps ? width : 0, 0};
        ::DrawTextW(dc, text.c_str(), -1, &rect, DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        m.text = {rect.right - rect.left, rect.bottom - rect.top};
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return m;
}

class TLayoutWalk {
public:
    explicit TLayoutWalk(int dpi) : dpi_(dpi) {}

    void Container(HWND parent, const std::string& path)
    {
        std::vector<HWND> shown;
        for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (::IsWindowVisible(child))
                shown.push_back(child);
        }
        RECT client{};
        ::GetClientRect(parent, &client);
        // A container that scrolls shows part of its children; they lie outside by design.
        const bool scrolls = (StyleOf(parent) & (WS_VSCROLL | WS_HSCROLL)) != 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            HWND child = shown[i];
            std::string name = path + " / " + Name(child);
            RECT rect = RectInParentClient(child);
            if (!scrolls && (rect.left < client.left || rect.top < client.top || rect.right > client.right ||
                             rect.bottom > client.bottom))
                Fault(name + " lies outside its parent " + Describe(rect) + " in " + Describe(client));
            for (size_t j = i + 1; j < shown.size(); ++j) {
                RECT other = RectInParentClient(shown[j]);
                RECT overlap{};
                if (::IntersectRect(&overlap, &rect, &other) && !PageOfTabs(child, rect, shown[j], other) &&
                    !InFreeRoom(child, shown[j]) && !InFreeRoom(shown[j], child))
                    Fault(name + " " + Describe(rect) + " overlaps " + Name(shown[j]) + " " + Describe(other));
            }
            Control(child, name);
        }
        TabOrder(shown, path);
    }

    std::vector<std::string> faults;

private:
    // Tab walks the tab stops in creation order, into containers that hold some: it must read like the layout,
    // row by row from the top, and from left to right within a row.
    void TabOrder(const std::vector<HWND>& shown, const std::string& path)
    {
        HWND previous = nullptr;
        RECT before{};
        for (HWND child : shown) {
            if (!HoldsTabStop(child))
                continue;
            RECT rect = RectInParentClient(child);
            if (previous) {
                const bool above = rect.bottom <= before.top;
                const bool sameRow = rect.top < before.bottom && rect.bottom > before.top;
                if (above || (sameRow && rect.right <= before.left))
                    Fault(path + " / " + Name(child) + " " + Describe(rect) + " follows " + Name(previous) + " " +
                          Describe(before) + " in the tab order but stands before it");
            }
            previous = child;
            before = rect;
        }
    }

    static bool HoldsTabStop(HWND window)
    {
        if (!::IsWindowVisible(window) || !::IsWindowEnabled(window))
            return false;
        if (StyleOf(window) & WS_TABSTOP)
            return true;
        if (!(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_CONTROLPARENT))
            return false;
        for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            if (HoldsTabStop(child))
                return true;
        return false;
    }

    // The pages of a tab control lie on its display area by design.
    static bool PageOfTabs(HWND first, const RECT& firstRect, HWND second, const RECT& secondRect)
    {
        HWND tabs = ClassOf(first) == WC_TABCONTROLW ? first : ClassOf(second) == WC_TABCONTROLW ? second : nullptr;
        if (!tabs)
            return false;
        RECT display = tabs == first ? firstRect : secondRect;
        const RECT& page = tabs == first ? secondRect : firstRect;
        TabCtrl_AdjustRect(tabs, FALSE, &display);
        return page.left >= display.left - 2 && page.top >= display.top - 2 && page.right <= display.right + 2 &&
               page.bottom <= display.bottom + 2;
    }

    // A control may stand on a container where the container shows nothing: beside the tabs of a tab control
    // (on no tab and off its pages), or where the container has no visible child.
    static bool InFreeRoom(HWND control, HWND container)
    {
        if (!::GetWindow(container, GW_CHILD) || ClassOf(container) == WC_TABCONTROLW)
            return false;
        RECT placed{};
        ::GetWindowRect(control, &placed);
        for (HWND part = ::GetWindow(container, GW_CHILD); part; part = ::GetWindow(part, GW_HWNDNEXT)) {
            if (!::IsWindowVisible(part))
                continue;
            RECT area{}, overlap{};
            ::GetWindowRect(part, &area);
            if (ClassOf(part) != WC_TABCONTROLW) {
                if (::IntersectRect(&overlap, &placed, &area))
                    return false;
                continue;
            }
            RECT display = area;
            ::MapWindowPoints(nullptr, part, reinterpret_cast<POINT*>(&display), 2);
            TabCtrl_AdjustRect(part, FALSE, &display);
            ::MapWindowPoints(part, nullptr, reinterpret_cast<POINT*>(&display), 2);
            if (::IntersectRect(&overlap, &placed, &display))
                return false;
            for (int tab = 0; tab < TabCtrl_GetItemCount(part); ++tab) {
                RECT item{};
                TabCtrl_GetItemRect(part, tab, &item);
                ::MapWindowPoints(part, nullptr, reinterpret_cast<POINT*>(&item), 2);
                if (::IntersectRect(&overlap, &placed, &item))
                    return false;
            }
        }
        return true;
    }

    static std::string Describe(const RECT& r)
    {
        char text[64];
        std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", static_cast<int>(r.left), static_cast<int>(r.top),
                      static_cast<int>(r.right), static_cast<int>(r.bottom));
        return text;
    }

    static std::string Name(HWND window)
    {
        std::string text = WideToUtf8(TextOf(window));
        return WideToUtf8(ClassOf(window)) + (text.empty() ? "" : " \"" + text + "\"");
    }

    void Fault(const std::string& text) { faults.push_back(text); }

    void Control(HWND window, const std::string& name)
    {
        const std::wstring kind = ClassOf(window);
        TWinControl* control = TWinControl::ControlFromHandle(window);
        const bool ownClass = kind != L"Static" && kind != L"Button" && kind != L"Edit" && kind != WC_LISTVIEWW &&
                              kind != WC_TABCONTROLW && kind != L"ComboBox" && kind != UPDOWN_CLASSW &&
                              kind != L"ScrollBar" && kind != L"msctls_progress32";
        RECT client{};
        ::GetClientRect(window, &client);
        const int width = client.right - client.left;
        const int height = client.bottom - client.top;
        const std::wstring text = TextOf(window);
        const LONG_PTR style = StyleOf(window);

        HFONT font = FontOf(window);
        const bool showsText = kind == L"Static" || kind == L"Button" || kind == L"Edit" || kind == WC_LISTVIEWW ||
                               kind == WC_TABCONTROLW || dynamic_cast<TGroupBox*>(control);
        if (showsText) {
            if (!font) {
                Fault(name + " has no font of its own (the system font is not scaled)");
            } else {
                TMeasure m = Measure(window, font, L"", false, 0);
                if (m.em < ::MulDiv(9, dpi_, 96))
                    Fault(name + " has a font of " + std::to_string(m.em) + " pixels at " + std::to_string(dpi_) +
                          " DPI");
            }
        }
        if (font && !text.empty()) {
            const LONG_PTR staticType = style & SS_TYPEMASK;
            const bool wraps = staticType == SS_LEFT || staticType == SS_CENTER || staticType == SS_RIGHT;
            if (kind == L"Static" && (wraps || staticType == SS_SIMPLE || staticType == SS_LEFTNOWORDWRAP)) {
                TMeasure m = Measure(window, font, text, wraps, width);
                if (m.text.cx > width || m.text.cy > height)
                    Fault(name + " needs " + std::to_string(m.text.cx) + "x" + std::to_string(m.text.cy) +
                          " for its text and has " + std::to_string(width) + "x" + std::to_string(height));
            } else if (kind == L"Button" && !(style & (BS_ICON | BS_BITMAP))) {
                const LONG_PTR type = style & BS_TYPEMASK;
                TMeasure m = Measure(window, font, text, (style & BS_MULTILINE) != 0, width);
                int room = width;
                if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
                    room -= ::MulDiv(6, dpi_, 96); // the frame and the focus rectangle
                else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
                         type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
                    room -= ::MulDiv(16, dpi_, 96); // the box and the gap before the text
                else if (type == BS_GROUPBOX)
                    room -= ::MulDiv(16, dpi_, 96);
                if (m.text.cx > room || m.text.cy > height)
                    Fault(name + " needs " + std::to_string(m.text.cx) + "x" + std::to_string(m.text.cy) +
                          " for its text and has " + std::to_string(room) + "x" + std::to_string(height));
            } else if (dynamic_cast<TGroupBox*>(control)) {
                TMeasure m = Measure(window, font, text, false, 0);
                if (m.text.cx + ::MulDiv(16, dpi_, 96) > width)
                    Fault(name + " needs " + std::to_string(m.text.cx) + " for its caption and has " +
                          std::to_string(width));
            }
        }
        if (kind == L"Edit" && font && !(style & ES_MULTILINE)) {
            TMeasure m = Measure(window, font, L"", false, 0);
            if (m.cell > height)
                Fault(name + " is " + std::to_string(height) + " pixels high inside for a " + std::to_string(m.cell) +
                      "-pixel line");
        }
        // The toolkit's containers are walked further; standard controls keep their parts to themselves.
        if (ownClass && ::GetWindow(window, GW_CHILD))
            Container(window, name);
    }

    int dpi_;
};

} // namespace

int WindowDpi(HWND window) { return DpiForWindow(window); }

std::vector<std::string> LayoutFaults(HWND topLevel)
{
    const int dpi = WindowDpi(topLevel);
    TLayoutWalk walk(dpi);
    RECT window{};
    ::GetWindowRect(topLevel, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(topLevel, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    if (window.left < work.left || window.top < work.top || window.right > work.right || window.bottom > work.bottom)
        walk.faults.push_back("the window (" + std::to_string(window.left) + "," + std::to_string(window.top) + ")-(" +
                              std::to_string(window.right) + "," + std::to_string(window.bottom) +
                              ") does not fit the work area");
    walk.Container(topLevel, WideToUtf8(TextOf(topLevel)));
    return walk.faults;
}

std::string LayoutFaultsText(HWND topLevel)
{
    std::string text;
    for (const std::string& fault : LayoutFaults(topLevel))
        text += "\n  " + fault;
    return text;
}

} // namespace gui
