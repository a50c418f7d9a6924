// The standard controls: buttons, check boxes, edit fields, labels, link labels and spin fields.
#pragma once

#include "WinControl.h"

#include <functional>

class TButton : public TWinControl {
public:
    explicit TButton(TWinControl& parent, const std::wstring& caption = {});
    ~TButton() override;

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    // The default button answers Enter anywhere on its form, the cancel button Esc.
    void SetDefault(bool isDefault);
    void SetCancel(bool isCancel);
    // Clicking sets the form's modal result to this value (mrNone: nothing).
    void SetModalResult(int result) { modalResult_ = result; }
    int ModalResult() const { return modalResult_; }
    bool CanClick() const;
    // The click of the program: the form's modal result, then OnClick.
    virtual void Click();

    std::function<void()> OnClick;

    bool HandleMnemonic(wchar_t key) override;

protected:
    bool HandleCommand(WORD code) override;

private:
    int modalResult_ = 0;
};

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TWinControl& parent, const std::wstring& caption = {});

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    bool Checked() const;
    void SetChecked(bool checked);

    std::function<void()> OnClick;

    bool HandleMnemonic(wchar_t key) override;

protected:
    bool HandleCommand(WORD code) override;
};

class TEdit : public TWinControl {
public:
    explicit TEdit(TWinControl& parent, const std::wstring& text = {});

    // 0 shows the text in the clear.
    void SetPasswordChar(wchar_t ch);
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const;
    // 0 means no limit.
    void SetMaxLength(int length);
    void SetDigitsOnly(bool digitsOnly);
    void SelectAll();

    std::function<void()> OnChange;
    std::function<void()> OnExit;

protected:
    bool HandleCommand(WORD code) override;
};

class TLabel : public TWinControl {
public:
    explicit TLabel(TWinControl& parent, const std::wstring& caption = {});

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    void SetText(const std::wstring& text) override;
    void SetTextColor(COLORREF color);
    COLORREF TextColor() const { return textColor_; }
    // A transparent label lets its parent's background show around its letters.
    void SetTransparent(bool transparent);
    void SetWordWrap(bool wordWrap);
    // The font height in pixels at 96 DPI; 0 takes the form's.
    void SetFontHeight(int height);
    void SetFontStyle(bool bold, bool underline);
    // Sizes the label to its text (one line unless word-wrapped within its width).
    void SetAutoSize(bool autoSize);

    HFONT Font() const override;
    void ScaleChanged() override;
    bool HandleMnemonic(wchar_t key) override;

protected:
    HBRUSH HandleControlColor(HDC dc) override;
    void FitToText();
    void RebuildFont();

private:
    bool hasTextColor_ = false;
    COLORREF textColor_ = 0;
    bool transparent_ = false;
    int fontHeight_ = 0;
    bool bold_ = false;
    bool underline_ = false;
    bool autoSize_ = false;
    UniqueFont font_;
};

// The hot-track blue of Windows; the system colour itself is grey under Wine.
inline constexpr COLORREF kLinkColor = RGB(0, 102, 204);

// An underlined label with a hand cursor that runs OnClick when clicked or when its access key is pressed.
class TLinkLabel : public TLabel {
public:
    explicit TLinkLabel(TWinControl& parent, const std::wstring& caption = {});

    virtual void Click();
    std::function<void()> OnClick;

    bool HandleMnemonic(wchar_t key) override;

protected:
    bool HandleCommand(WORD code) override;
    HCURSOR Cursor() const override;
};

// An edit field for whole numbers with up and down arrows. When the minimum and the maximum differ, values
// are kept in that range (on set and when the field loses the focus); equal limits mean no limits. Empty or
// invalid text reads as the minimum.
class TSpinEdit : public TWinControl {
public:
    explicit TSpinEdit(TWinControl& parent);
    ~TSpinEdit() override;

    void SetRange(int minValue, int maxValue);
    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    void SetIncrement(int increment) { increment_ = increment; }
    int Increment() const { return increment_; }
    int Value() const;
    void SetValue(int value);
    HWND UpDownHandle() const { return upDown_; }

    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    bool PreTranslateMessage(MSG& message) override;

    std::function<void()> OnChange;

protected:
    bool HandleCommand(WORD code) override;
    bool HandleNotify(NMHDR* header, LRESULT& result) override;
    void PlaceWindow(const RECT& rect) override;
    void HandleDestroyed() override;

private:
    int Clamp(long long value) const;
    void Step(int direction);

    HWND upDown_ = nullptr;
    int minValue_ = 0;
    int maxValue_ = 0;
    int increment_ = 1;
};
