#include "StdCtrls.h"

#include "Forms.h"
#include "WinTools.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <cwctype>

// ---------------------------------------------------------------------------------------------------------

TButton::TButton(TWinControl& parent, const std::wstring& caption) : TWinControl(&parent)
{
    CreateChild(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, caption);
}

TButton::~TButton()
{
    if (TForm* form = Form()) {
        if (form->DefaultButton() == this)
            form->SetDefaultButton(nullptr);
        if (form->CancelButton() == this)
            form->SetCancelButton(nullptr);
    }
}

void TButton::SetDefault(bool isDefault)
{
    if (TForm* form = Form()) {
        if (isDefault)
            form->SetDefaultButton(this);
        else if (form->DefaultButton() == this)
            form->SetDefaultButton(nullptr);
    }
    ::SendMessageW(Handle(), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::SetCancel(bool isCancel)
{
    if (TForm* form = Form()) {
        if (isCancel)
            form->SetCancelButton(this);
        else if (form->CancelButton() == this)
            form->SetCancelButton(nullptr);
    }
}

bool TButton::CanClick() const { return Handle() && ::IsWindowVisible(Handle()) && ::IsWindowEnabled(Handle()); }

void TButton::Click()
{
    if (modalResult_ != 0) {
        if (TForm* form = Form())
            form->SetModalResult(modalResult_);
    }
    if (OnClick)
        OnClick();
}

bool TButton::HandleMnemonic(wchar_t key)
{
    if (!MatchesMnemonic(Caption(), key))
        return false;
    SetFocus();
    Click();
    return true;
}

bool TButton::HandleCommand(WORD code)
{
    if (code != BN_CLICKED)
        return false;
    Click();
    return true;
}

// ---------------------------------------------------------------------------------------------------------

TCheckBox::TCheckBox(TWinControl& parent, const std::wstring& caption) : TWinControl(&parent)
{
    CreateChild(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, caption);
}

bool TCheckBox::Checked() const { return ::SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TCheckBox::SetChecked(bool checked)
{
    ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::HandleMnemonic(wchar_t key)
{
    if (!MatchesMnemonic(Caption(), key))
        return false;
    SetFocus();
    ::SendMessageW(Handle(), BM_CLICK, 0, 0);
    return true;
}

bool TCheckBox::HandleCommand(WORD code)
{
    if (code != BN_CLICKED)
        return false;
    if (OnClick)
        OnClick();
    return true;
}

// ---------------------------------------------------------------------------------------------------------

TEdit::TEdit(TWinControl& parent, const std::wstring& text) : TWinControl(&parent)
{
    CreateChild(L"EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, text);
}

void TEdit::SetPasswordChar(wchar_t ch)
{
    ::SendMessageW(Handle(), EM_SETPASSWORDCHAR, ch, 0);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TEdit::SetReadOnly(bool readOnly) { ::SendMessageW(Handle(), EM_SETREADONLY, readOnly ? TRUE : FALSE, 0); }

bool TEdit::ReadOnly() const { return (::GetWindowLongPtrW(Handle(), GWL_STYLE) & ES_READONLY) != 0; }

void TEdit::SetMaxLength(int length) { ::SendMessageW(Handle(), EM_SETLIMITTEXT, std::max(0, length), 0); }

void TEdit::SetDigitsOnly(bool digitsOnly)
{
    LONG_PTR style = ::GetWindowLongPtrW(Handle(), GWL_STYLE);
    style = digitsOnly ? (style | ES_NUMBER) : (style & ~static_cast<LONG_PTR>(ES_NUMBER));
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, style);
}

void TEdit::SelectAll() { ::SendMessageW(Handle(), EM_SETSEL, 0, -1); }

bool TEdit::HandleCommand(WORD code)
{
    if (code == EN_CHANGE && OnChange) {
        OnChange();
        return true;
    }
    if (code == EN_KILLFOCUS && OnExit) {
        OnExit();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------

TLabel::TLabel(TWinControl& parent, const std::wstring& caption) : TWinControl(&parent)
{
    CreateChild(L"STATIC", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOTIFY, 0, caption);
}

void TLabel::SetText(const std::wstring& text)
{
    TWinControl::SetText(text);
    if (autoSize_)
        FitToText();
}

void TLabel::SetTextColor(COLORREF color)
{
    hasTextColor_ = true;
    textColor_ = color;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TLabel::SetTransparent(bool transparent)
{
    transparent_ = transparent;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TLabel::SetWordWrap(bool wordWrap)
{
    // SS_LEFT wraps at word boundaries, SS_LEFTNOWORDWRAP clips; both are values of the type field.
    LONG_PTR style = ::GetWindowLongPtrW(Handle(), GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
    style |= wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, style);
    ::InvalidateRect(Handle(), nullptr, TRUE);
    if (autoSize_)
        FitToText();
}

void TLabel::SetFontHeight(int height)
{
    fontHeight_ = height;
    RebuildFont();
}

void TLabel::SetFontStyle(bool bold, bool underline)
{
    bold_ = bold;
    underline_ = underline;
    RebuildFont();
}

void TLabel::SetAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    if (autoSize_)
        FitToText();
}

HFONT TLabel::Font() const { return font_ ? font_.get() : TWinControl::Font(); }

void TLabel::RebuildFont()
{
    UniqueFont old(font_.release());
    TForm* form = Form();
    if (form && (fontHeight_ > 0 || bold_ || underline_)) {
        LOGFONTW info = form->FontInfo();
        if (fontHeight_ > 0)
            info.lfHeight = -Scale(fontHeight_);
        if (bold_)
            info.lfWeight = FW_BOLD;
        info.lfUnderline = underline_ ? TRUE : FALSE;
        font_.reset(::CreateFontIndirectW(&info));
    }
    ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
    if (autoSize_)
        FitToText();
}

void TLabel::ScaleChanged()
{
    RebuildFont();
    TWinControl::ScaleChanged();
}

void TLabel::FitToText()
{
    if (!Handle())
        return;
    std::wstring text = Text();
    HDC dc = ::GetDC(Handle());
    HGDIOBJ oldFont = ::SelectObject(dc, Font());
    bool wraps = (::GetWindowLongPtrW(Handle(), GWL_STYLE) & SS_TYPEMASK) == SS_LEFT;
    RECT rect{0, 0, wraps ? Scale(Bounds().Width) : 0, 0};
    UINT format = DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE);
    ::DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &rect, format);
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(Handle(), dc);
    // Back to design units, rounding up so that the text is never clipped.
    int dpi = Dpi();
    int width = (rect.right * 96 + dpi - 1) / dpi;
    int height = (rect.bottom * 96 + dpi - 1) / dpi;
    TBounds b = Bounds();
    SetBounds(b.Left, b.Top, wraps ? b.Width : width, height);
}

bool TLabel::HandleMnemonic(wchar_t key)
{
    if (!MatchesMnemonic(Caption(), key))
        return false;
    // A label's access key leads to the control that follows it.
    TForm* form = Form();
    HWND next = form ? ::GetNextDlgTabItem(form->Handle(), Handle(), FALSE) : nullptr;
    if (next)
        ::SetFocus(next);
    return next != nullptr;
}

HBRUSH TLabel::HandleControlColor(HDC dc)
{
    if (hasTextColor_)
        ::SetTextColor(dc, textColor_);
    HBRUSH brush = Parent() ? Parent()->PrepareChildBackground(Handle(), dc) : ::GetSysColorBrush(COLOR_BTNFACE);
    if (transparent_)
        ::SetBkMode(dc, TRANSPARENT);
    return brush;
}

// ---------------------------------------------------------------------------------------------------------

TLinkLabel::TLinkLabel(TWinControl& parent, const std::wstring& caption) : TLabel(parent, caption)
{
    SetTextColor(kLinkColor);
    SetFontStyle(false, true);
}

void TLinkLabel::Click()
{
    if (OnClick)
        OnClick();
}

bool TLinkLabel::HandleMnemonic(wchar_t key)
{
    if (!MatchesMnemonic(Caption(), key))
        return false;
    Click();
    return true;
}

bool TLinkLabel::HandleCommand(WORD code)
{
    if (code != STN_CLICKED)
        return false;
    Click();
    return true;
}

HCURSOR TLinkLabel::Cursor() const { return ::LoadCursorW(nullptr, IDC_HAND); }

// ---------------------------------------------------------------------------------------------------------

namespace {
const int kUpDownWidth = 17;
}

TSpinEdit::TSpinEdit(TWinControl& parent) : TWinControl(&parent)
{
    CreateChild(L"EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, WS_EX_CLIENTEDGE, L"0");
    upDown_ = ::CreateWindowExW(0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, ParentHandle(),
                                NextControlId(), ::GetModuleHandleW(nullptr), nullptr);
    if (!upDown_)
        throw ELastWin32Error();
    AttachPart(upDown_);
    // The arrows never move a position of their own: every step goes through UDN_DELTAPOS below.
    ::SendMessageW(upDown_, UDM_SETRANGE32, 0, 100);
    ::SendMessageW(upDown_, UDM_SETPOS32, 0, 50);
    PlaceSelf();
}

TSpinEdit::~TSpinEdit()
{
    if (upDown_) {
        DetachPart(upDown_);
        ::DestroyWindow(upDown_);
    }
}

void TSpinEdit::HandleDestroyed()
{
    upDown_ = nullptr;
    TWinControl::HandleDestroyed();
}

void TSpinEdit::SetRange(int minValue, int maxValue)
{
    minValue_ = minValue;
    maxValue_ = maxValue;
    if (minValue_ != maxValue_)
        SetValue(Value());
}

int TSpinEdit::Clamp(long long value) const
{
    if (minValue_ != maxValue_)
        value = std::max<long long>(minValue_, std::min<long long>(maxValue_, value));
    return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

int TSpinEdit::Value() const
{
    std::wstring text = Text();
    const wchar_t* start = text.c_str();
    while (std::iswspace(*start))
        ++start;
    wchar_t* end = nullptr;
    errno = 0;
    long long value = std::wcstoll(start, &end, 10);
    bool valid = end != start && errno == 0 && value >= INT_MIN && value <= INT_MAX;
    while (valid && std::iswspace(*end))
        ++end;
    if (!valid || *end != 0)
        return minValue_;
    return Clamp(value);
}

void TSpinEdit::SetValue(int value)
{
    std::wstring text = std::to_wstring(Clamp(value));
    if (text != Text())
        SetText(text);
}

void TSpinEdit::Step(int direction)
{
    long long next = static_cast<long long>(Value()) + static_cast<long long>(direction) * increment_;
    SetValue(Clamp(next));
    ::SendMessageW(Handle(), EM_SETSEL, 0, -1);
}

void TSpinEdit::SetVisible(bool visible)
{
    TWinControl::SetVisible(visible);
    if (upDown_)
        ::ShowWindow(upDown_, visible ? SW_SHOWNA : SW_HIDE);
}

void TSpinEdit::SetEnabled(bool enabled)
{
    TWinControl::SetEnabled(enabled);
    if (upDown_)
        ::EnableWindow(upDown_, enabled ? TRUE : FALSE);
}

bool TSpinEdit::PreTranslateMessage(MSG& message)
{
    if (message.hwnd == Handle() && message.message == WM_KEYDOWN &&
        (message.wParam == VK_UP || message.wParam == VK_DOWN)) {
        Step(message.wParam == VK_UP ? 1 : -1);
        return true;
    }
    return false;
}

bool TSpinEdit::HandleCommand(WORD code)
{
    if (code == EN_KILLFOCUS) {
        // What the field shows after the user leaves it is what it yields.
        SetValue(Value());
        return true;
    }
    if (code == EN_CHANGE && OnChange) {
        OnChange();
        return true;
    }
    return false;
}

bool TSpinEdit::HandleNotify(NMHDR* header, LRESULT& result)
{
    if (header->hwndFrom != upDown_ || header->code != UDN_DELTAPOS)
        return false;
    auto* change = reinterpret_cast<NMUPDOWN*>(header);
    if (change->iDelta != 0)
        Step(change->iDelta > 0 ? 1 : -1);
    result = TRUE;
    return true;
}

void TSpinEdit::PlaceWindow(const RECT& rect)
{
    int arrows = std::min(Scale(kUpDownWidth), static_cast<int>(rect.right - rect.left));
    RECT edit = rect;
    edit.right -= arrows;
    TWinControl::PlaceWindow(edit);
    if (upDown_)
        ::SetWindowPos(upDown_, nullptr, edit.right, rect.top, arrows, rect.bottom - rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
}
