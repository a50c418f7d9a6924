// The base of every window of the toolkit: the one message switch, the layout of children at 96-DPI design
// values, and the boundary that keeps exceptions inside the window procedure.
#pragma once

#include "InterfaceObjects.h"
#include "Unique.h"

#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TApplication;
class TForm;

inline void DeleteGdiObject(HGDIOBJ object) { ::DeleteObject(object); }
inline void DeleteFontObject(HFONT font) { DeleteGdiObject(font); }
inline void DeleteBrushObject(HBRUSH brush) { DeleteGdiObject(brush); }
using UniqueFont = Unique<HFONT, &DeleteFontObject>;
using UniqueBrush = Unique<HBRUSH, &DeleteBrushObject>;

// The screen's pixels per inch for a window: GetDpiForWindow where the system has it, else the screen's.
int DpiForWindow(HWND window);
// A 96-DPI design value at the given DPI.
inline int ScaleForDpi(int value, int dpi) { return ::MulDiv(value, dpi, 96); }

enum class TAlign { None, Top, Bottom, Left, Right, Client };
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

// A rectangle in 96-DPI design units, relative to the parent's client area.
struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// Owns one window handle and routes its messages into WindowProc; an exception raised there goes to
// HandleException and never leaves the window procedure.
class TWindowBase : public TComponent {
public:
    TWindowBase() = default;
    ~TWindowBase() override;
    TWindowBase(const TWindowBase&) = delete;
    TWindowBase& operator=(const TWindowBase&) = delete;

    HWND Handle() const { return handle_; }
    // The object behind one of the toolkit's windows (own or standard class), or null.
    static TWindowBase* FromHandle(HWND window);

protected:
    // Creates a window of the toolkit's own class; its messages reach WindowProc.
    void CreateOwnWindow(DWORD style, DWORD exStyle, const std::wstring& text, HWND parent, HMENU menuOrId);
    // Creates a window of a system class (BUTTON, EDIT, ...); its notifications reach the parent.
    HWND CreateSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const std::wstring& text, HWND parent,
                            HMENU menuOrId);
    void DestroyHandle();
    bool OwnClass() const { return ownClass_; }
    // Lets a window that this object made besides its own (a part of a composite) lead back to it.
    void AttachPart(HWND part);
    static void DetachPart(HWND part);
    // The window went with its parent; only the handle is forgotten.
    void ForgetHandle() { handle_ = nullptr; }
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void HandleException(const std::exception_ptr& error) noexcept;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND handle_ = nullptr;
    bool ownClass_ = false;
};

// A window that takes part in a form's layout: a child control, a container, or the form itself.
class TWinControl : public TWindowBase {
public:
    ~TWinControl() override;

    TWinControl* Parent() const { return parent_; }
    // The top-level form that holds this control (the form itself for a form).
    TForm* Form();
    TApplication* App();
    static TWinControl* ControlFromHandle(HWND window);

    virtual int Dpi() const;
    int Scale(int value) const { return ScaleForDpi(value, Dpi()); }
    virtual HFONT Font() const;

    void SetBounds(int left, int top, int width, int height);
    void SetBounds(const TBounds& bounds) { SetBounds(bounds.Left, bounds.Top, bounds.Width, bounds.Height); }
    const TBounds& Bounds() const { return bounds_; }
    // Alignment inside the parent, in the order Top, Bottom, Left, Right, then Client for the rest.
    void SetAlign(TAlign align);
    TAlign Align() const { return align_; }
    // Right and bottom anchors keep the distance to the parent's edges as it is when the anchors are set,
    // so set the parent's size and the control's bounds first.
    void SetAnchors(unsigned anchors);
    unsigned Anchors() const { return anchors_; }

    virtual bool Visible() const;
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    virtual bool Enabled() const;
    virtual void SetEnabled(bool enabled);
    virtual std::wstring Text() const;
    virtual void SetText(const std::wstring& text);
    void SetFocus();
    bool Focused() const;

    // The brush that children paint their background with (the control's colour or the dialog face).
    virtual HBRUSH BackgroundBrush() const;
    // Sets up a child's DC to paint on this control's background and answers the brush for it.
    HBRUSH PrepareChildBackground(HWND child, HDC dc);
    void SetColor(COLORREF color);
    bool HasColor() const { return hasColor_; }
    COLORREF Color() const { return color_; }

    // Lays out the children from their design values at the current DPI.
    virtual void Realign();
    // Called after the form's DPI or font changed: fonts, sizes of parts, then the children.
    virtual void ScaleChanged();

    // Keyboard hooks of the toolkit's message loop: a message for this control before it is dispatched,
    // and an access key (Alt+letter) that the form offers to every visible and enabled control.
    virtual bool PreTranslateMessage(MSG& message);
    virtual bool HandleMnemonic(wchar_t key);

    const std::vector<TWinControl*>& Children() const { return children_; }

protected:
    explicit TWinControl(TWinControl* parent);
    TWinControl(const TWinControl&) = delete;

    HWND ParentHandle() const;
    HMENU NextControlId();
    // Creates the child as a standard control, gives it the form's font and places it.
    void CreateChild(const wchar_t* className, DWORD style, DWORD exStyle, const std::wstring& text = {});
    // Creates the child as a window of the toolkit's own class (a container).
    void CreateContainer(DWORD style, DWORD exStyle, const std::wstring& text = {});

    // Notifications that the parent received from this control.
    virtual bool HandleCommand(WORD code);
    virtual bool HandleNotify(NMHDR* header, LRESULT& result);
    // WM_CTLCOLOR* for this control; return a brush to take it over, or null for the default.
    virtual HBRUSH HandleControlColor(HDC dc);
    virtual HCURSOR Cursor() const;
    // Places the window in parent pixels; composite controls override it.
    virtual void PlaceWindow(const RECT& rect);
    // Paints the background of this container into a DC (erase and printing).
    virtual void PaintBackground(HDC dc, const RECT& rect);
    // The parent's window was destroyed, and this standard control with it.
    virtual void HandleDestroyed();
    // The part of the client area that aligned children share.
    virtual RECT AlignArea() const;
    // Creates the child as a window of the toolkit's own class that paints itself (not a container).
    void CreateOwnChild(DWORD style, DWORD exStyle, const std::wstring& text = {});
    void PlaceSelf();
    // For a control that draws itself with paint: answers WM_PAINT, and WM_PRINTCLIENT over what the default
    // drew; on WM_SIZE it marks the whole control for repainting and leaves the message to the default.
    // Empty for the messages it does not answer.
    std::optional<LRESULT> SelfPaintMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                            const std::function<void(HDC)>& paint);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void HandleException(const std::exception_ptr& error) noexcept override;

private:
    friend class TForm;
    RECT LayoutRect(const RECT& area) const;
    void ApplyAlignment();

    TWinControl* parent_ = nullptr;
    std::vector<TWinControl*> children_;
    TBounds bounds_;
    TAlign align_ = TAlign::None;
    unsigned anchors_ = akLeft | akTop;
    int rightGap_ = 0;
    int bottomGap_ = 0;
    bool hasColor_ = false;
    COLORREF color_ = 0;
    UniqueBrush colorBrush_;
};

// The access key of a caption: the letter after a single "&", lower-cased, or 0.
wchar_t MnemonicOf(const std::wstring& caption);
bool MatchesMnemonic(const std::wstring& caption, wchar_t key);
