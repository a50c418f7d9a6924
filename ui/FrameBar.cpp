#include "FrameBar.h"

#include "Exceptions.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <algorithm>
#include <cmath>

namespace {

const UINT_PTR kAnimationTimer = 1;
const UINT kAnimationInterval = 15;
const UINT_PTR kFocusSubclassId = 0x4D46; // any constant: one subclass of this bar per window
const int kScrollLine = 20;

bool IsInside(HWND window, HWND root) { return window && root && (window == root || ::IsChild(root, window)); }

} // namespace

BOOL CALLBACK TFrameBar::WatchFocusOfChild(HWND child, LPARAM bar)
{
    reinterpret_cast<TFrameBar*>(bar)->WatchFocus(child);
    return TRUE;
}

namespace {

} // namespace

// One title: a push button whose caption is the item's caption, bold while its item is open.
class TFrameBarTitle : public TButton {
public:
    TFrameBarTitle(TFrameBar& bar, int index, const std::wstring& caption)
        : TButton(bar, caption), bar_(bar), index_(index)
    {
        ::SetWindowLongPtrW(Handle(), GWL_STYLE, ::GetWindowLongPtrW(Handle(), GWL_STYLE) | BS_LEFT);
        OnClick = [this] { bar_.TitleClicked(index_); };
        UpdateFont();
    }

    HFONT Font() const override { return bar_.TitleFont(bar_.OpenIndex() == index_); }
    void UpdateFont() { ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE); }
    void Place(const RECT& rect) { PlaceWindow(rect); }

private:
    TFrameBar& bar_;
    int index_;
};

// The room of one item under its title. Its frame is laid out at the item's full height even while the
// room itself is smaller during a slide, so the frame is revealed or covered instead of being squeezed.
class TFrameBarPage : public TWinControl {
public:
    explicit TFrameBarPage(TFrameBar& bar) : TWinControl(&bar) { CreateContainer(0, 0); }

    void Place(const RECT& rect, int fullHeight)
    {
        bool changed = fullHeight != fullHeight_;
        fullHeight_ = fullHeight;
        RECT before{};
        ::GetClientRect(Handle(), &before);
        PlaceWindow(rect);
        RECT after{};
        ::GetClientRect(Handle(), &after);
        // A new size has realigned the frame already; a new full height alone has not.
        if (changed && before.right == after.right && before.bottom == after.bottom)
            Realign();
    }

protected:
    RECT AlignArea() const override
    {
        RECT client{};
        ::GetClientRect(Handle(), &client);
        client.bottom = fullHeight_;
        return client;
    }

private:
    int fullHeight_ = 0;
};

// ---------------------------------------------------------------------------------------------------------

TFrameBarItem::TFrameBarItem(TFrameBar& bar, int index, const std::wstring& caption) : index_(index), caption_(caption)
{
    title_ = std::make_unique<TFrameBarTitle>(bar, index, caption);
    page_ = std::make_unique<TFrameBarPage>(bar);
}

TFrameBarItem::~TFrameBarItem() = default;

HWND TFrameBarItem::TitleHandle() const { return title_ ? title_->Handle() : nullptr; }

// ---------------------------------------------------------------------------------------------------------

TFrameBar::TFrameBar(TWinControl& parent) : TWinControl(&parent)
{
    CreateContainer(WS_VISIBLE, 0);
    RecreateTitleFont();
}

TFrameBar::~TFrameBar()
{
    if (Handle())
        ::KillTimer(Handle(), kAnimationTimer);
    // Frames first, while the titles and the bar still stand.
    for (auto& item : items_)
        item->frame_.reset();
    items_.clear();
}

TFrameBarItem& TFrameBar::AddItem(const std::wstring& caption)
{
    int index = ItemCount();
    items_.push_back(std::unique_ptr<TFrameBarItem>(new TFrameBarItem(*this, index, caption)));
    WatchFocus(items_.back()->TitleHandle());
    Layout();
    return *items_.back();
}

void TFrameBar::OpenItem(int index, bool animate)
{
    if (index < 0 || index >= ItemCount())
        return;
    if (Animating())
        FinishAnimation();
    if (index == open_)
        return;
    TFrameBarItem& item = Item(index);
    if (!item.frame_)
        CreateFrameOf(item);

    int previous = open_;
    open_ = index;
    item.title_->UpdateFont();
    if (previous >= 0)
        Item(previous).title_->UpdateFont();
    scrollPos_ = 0;
    if (previous >= 0 && animate && animationMs_ > 0 && Handle() && ::IsWindowVisible(Handle())) {
        closing_ = previous;
        progress_ = 0.0;
        animationStart_ = ::GetTickCount64();
        Layout();
        if (::SetTimer(Handle(), kAnimationTimer, kAnimationInterval, nullptr))
            return;
        // Without a timer the switch happens at once.
        closing_ = -1;
    }
    progress_ = 1.0;
    if (previous >= 0)
        FinishClosing(previous);
    else
        Layout();
}

void TFrameBar::FinishAnimation()
{
    if (!Animating())
        return;
    ::KillTimer(Handle(), kAnimationTimer);
    int closing = closing_;
    closing_ = -1;
    progress_ = 1.0;
    FinishClosing(closing);
}

// The focus leaves the closed item before it hides, so that it does not stay on a window nobody sees; then
// its frame is offered for destruction.
void TFrameBar::FinishClosing(int index)
{
    TFrameBarItem& item = Item(index);
    if (IsInside(::GetFocus(), item.page_->Handle()) && open_ >= 0)
        ::SetFocus(Item(open_).TitleHandle());
    Layout();
    if (!item.frame_)
        return;
    bool allowDestroy = true;
    if (item.OnFrameDestroy)
        item.OnFrameDestroy(*this, *item.frame_, allowDestroy);
    if (allowDestroy)
        item.frame_.reset();
}

void TFrameBar::CreateFrameOf(TFrameBarItem& item)
{
    std::unique_ptr<TWinControl> frame;
    if (item.OnCreateFrame)
        item.OnCreateFrame(*this, *item.page_, frame);
    if (!frame)
        return;
    Assert(frame->Parent() == item.page_.get(), "The frame stands on the parent that the bar gave", "ui\\FrameBar",
           __LINE__);
    frame->SetAlign(TAlign::Client);
    frame->Show();
    WatchFocus(frame->Handle());
    ::EnumChildWindows(frame->Handle(), &WatchFocusOfChild, reinterpret_cast<LPARAM>(this));
    item.frame_ = std::move(frame);
}

void TFrameBar::TitleClicked(int index) { OpenItem(index, animated_); }

bool TFrameBar::HandleMnemonic(wchar_t key)
{
    for (auto& item : items_) {
        if (!MatchesMnemonic(item->caption_, key))
            continue;
        ::SetFocus(item->TitleHandle());
        OpenItem(item->index_, animated_);
        return true;
    }
    return false;
}

void TFrameBar::SetTitleHeight(int height)
{
    titleHeight_ = height;
    Layout();
}

int TFrameBar::FrameHeight(const TFrameBarItem& item) const
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    int room = std::max(0, static_cast<int>(client.bottom) - ItemCount() * Scale(titleHeight_));
    int designed = item.frame_ ? Scale(item.frame_->Bounds().Height) : 0;
    return std::max(room, designed);
}

int TFrameBar::ScrollRange() const
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    return std::max(0, contentHeight_ - static_cast<int>(client.bottom));
}

void TFrameBar::Realign() { Layout(); }

void TFrameBar::Layout()
{
    if (laying_ || !Handle())
        return;
    laying_ = true;
    // A second pass follows when showing or hiding the scroll bar changed the width.
    for (int pass = 0; pass < 2; ++pass) {
        RECT client{};
        ::GetClientRect(Handle(), &client);
        int title = Scale(titleHeight_);
        std::vector<int> heights(items_.size(), 0);
        int content = ItemCount() * title;
        for (size_t i = 0; i < items_.size(); ++i) {
            int full = FrameHeight(*items_[i]);
            if (static_cast<int>(i) == open_)
                heights[i] = Animating() ? static_cast<int>(std::lround(full * progress_)) : full;
            else if (static_cast<int>(i) == closing_)
                heights[i] = full - static_cast<int>(std::lround(full * progress_));
            content += heights[i];
        }
        contentHeight_ = content;
        int range = std::max(0, content - static_cast<int>(client.bottom));
        scrollPos_ = Animating() ? 0 : std::clamp(scrollPos_, 0, range);

        int y = -scrollPos_;
        for (size_t i = 0; i < items_.size(); ++i) {
            TFrameBarItem& item = *items_[i];
            item.title_->Place({0, y, client.right, y + title});
            y += title;
            bool shown = static_cast<int>(i) == open_ || static_cast<int>(i) == closing_;
            if (shown) {
                item.page_->Place({0, y, client.right, y + heights[i]}, FrameHeight(item));
                y += heights[i];
            }
            item.page_->SetVisible(shown);
        }
        UpdateScrollBar(content);
        RECT after{};
        ::GetClientRect(Handle(), &after);
        if (after.right == client.right && after.bottom == client.bottom)
            break;
    }
    laying_ = false;
}

void TFrameBar::UpdateScrollBar(int contentHeight)
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = std::max(0, contentHeight - 1);
    info.nPage = static_cast<UINT>(std::max(0, static_cast<int>(client.bottom)));
    info.nPos = scrollPos_;
    ::SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
}

void TFrameBar::ScrollTo(int position)
{
    if (Animating())
        return;
    int target = std::clamp(position, 0, ScrollRange());
    if (target == scrollPos_)
        return;
    scrollPos_ = target;
    Layout();
}

void TFrameBar::ScrollIntoView(HWND window)
{
    if (!Handle() || Animating() || !IsInside(window, Handle()) || window == Handle())
        return;
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&rect), 2);
    RECT client{};
    ::GetClientRect(Handle(), &client);
    if (rect.top < 0)
        ScrollTo(scrollPos_ + rect.top);
    else if (rect.bottom > client.bottom)
        ScrollTo(scrollPos_ + std::min(rect.bottom - client.bottom, rect.top));
}

void TFrameBar::HandleScroll(WORD code)
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    int line = Scale(kScrollLine);
    switch (code) {
    case SB_LINEUP: ScrollTo(scrollPos_ - line); break;
    case SB_LINEDOWN: ScrollTo(scrollPos_ + line); break;
    case SB_PAGEUP: ScrollTo(scrollPos_ - client.bottom); break;
    case SB_PAGEDOWN: ScrollTo(scrollPos_ + client.bottom); break;
    case SB_TOP: ScrollTo(0); break;
    case SB_BOTTOM: ScrollTo(ScrollRange()); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_TRACKPOS;
        ::GetScrollInfo(Handle(), SB_VERT, &info);
        ScrollTo(info.nTrackPos);
        break;
    }
    default: break;
    }
}

// Every window of a frame (and every title) tells the bar when it takes the focus, so that the bar can
// bring it into view; the subclass goes with the window.
void TFrameBar::WatchFocus(HWND root)
{
    if (root)
        ::SetWindowSubclass(root, &TFrameBar::FocusSubclassProc, kFocusSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TFrameBar::FocusSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR data)
{
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(window, &TFrameBar::FocusSubclassProc, kFocusSubclassId);
    LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_SETFOCUS) {
        auto* bar = reinterpret_cast<TFrameBar*>(data);
        if (bar->Handle())
            bar->ScrollIntoView(window);
    }
    return result;
}

void TFrameBar::RecreateTitleFont()
{
    UniqueFont old(boldFont_.release());
    if (TForm* form = Form()) {
        LOGFONTW info = form->FontInfo();
        info.lfWeight = FW_BOLD;
        boldFont_.reset(::CreateFontIndirectW(&info));
    }
    for (auto& item : items_)
        item->title_->UpdateFont();
}

HFONT TFrameBar::TitleFont(bool open) const { return open && boldFont_ ? boldFont_.get() : TWinControl::Font(); }

void TFrameBar::ScaleChanged()
{
    RecreateTitleFont();
    TWinControl::ScaleChanged();
}

LRESULT TFrameBar::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam != kAnimationTimer)
            break;
        if (Animating()) {
            ULONGLONG elapsed = ::GetTickCount64() - animationStart_;
            progress_ = std::min(1.0, static_cast<double>(elapsed) / std::max<UINT>(1, animationMs_));
            if (progress_ >= 1.0)
                FinishAnimation();
            else
                Layout();
        } else {
            ::KillTimer(Handle(), kAnimationTimer);
        }
        return 0;
    case WM_VSCROLL: HandleScroll(LOWORD(wParam)); return 0;
    case WM_MOUSEWHEEL: {
        int delta = GET_WHEEL_DELTA_WPARAM(wParam);
        ScrollTo(scrollPos_ - ::MulDiv(delta, 3 * Scale(kScrollLine), WHEEL_DELTA));
        return 0;
    }
    default: break;
    }
    return TWinControl::WindowProc(message, wParam, lParam);
}
