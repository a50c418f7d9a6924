// An accordion of titled items: the titles stand stacked and exactly one item is open, showing its frame
// under its title. A frame exists only while its item is open: the bar asks for it when the item opens and
// offers it for destruction when the item has closed. When the open frame is taller than the room left by
// the titles, the whole bar scrolls, and a control that takes the focus is scrolled into view.
#pragma once

#include "WinControl.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TFrameBar;
class TFrameBarTitle;
class TFrameBarPage;

// Asked when an item opens and has no frame: create the frame with parent as its parent and hand it over.
// Leaving frame empty opens the item without a frame.
using TFrameBarCreateFrameEvent =
    std::function<void(TFrameBar& sender, TWinControl& parent, std::unique_ptr<TWinControl>& frame)>;
// Asked when an item's closing has finished; allowDestroy comes preset to true. A frame that is kept stays
// hidden and serves the item when it opens again.
using TFrameBarFrameDestroyEvent = std::function<void(TFrameBar& sender, TWinControl& frame, bool& allowDestroy)>;

class TFrameBarItem {
public:
    TFrameBarItem(const TFrameBarItem&) = delete;
    TFrameBarItem& operator=(const TFrameBarItem&) = delete;
    ~TFrameBarItem();

    int Index() const { return index_; }
    const std::wstring& Caption() const { return caption_; }
    // The item's frame while it exists.
    TWinControl* Frame() const { return frame_.get(); }
    HWND TitleHandle() const;

    TFrameBarCreateFrameEvent OnCreateFrame;
    TFrameBarFrameDestroyEvent OnFrameDestroy;

private:
    friend class TFrameBar;
    TFrameBarItem(TFrameBar& bar, int index, const std::wstring& caption);

    int index_;
    std::wstring caption_;
    std::unique_ptr<TFrameBarTitle> title_;
    std::unique_ptr<TFrameBarPage> page_;
    std::unique_ptr<TWinControl> frame_;
};

class TFrameBar : public TWinControl {
public:
    static constexpr int kDefaultTitleHeight = 24;
    static constexpr UINT kDefaultAnimationMs = 150;

    explicit TFrameBar(TWinControl& parent);
    // Frees the frames without offering them to their destroy events.
    ~TFrameBar() override;

    TFrameBarItem& AddItem(const std::wstring& caption);
    int ItemCount() const { return static_cast<int>(items_.size()); }
    TFrameBarItem& Item(int index) const { return *items_.at(static_cast<size_t>(index)); }

    // The open item, or -1 before the first opening.
    int OpenIndex() const { return open_; }
    // Opens the item and closes the open one; opening the open item does nothing. An error of the create
    // event leaves the open item as it was.
    void OpenItem(int index, bool animate);
    // Whether a title click or an access key switches with a slide, and how long the slide takes.
    void SetAnimated(bool animated) { animated_ = animated; }
    bool Animated() const { return animated_; }
    void SetAnimationTime(UINT milliseconds) { animationMs_ = milliseconds; }
    bool Animating() const { return closing_ >= 0; }
    // Ends a running slide at once, as if its time had passed.
    void FinishAnimation();

    void SetTitleHeight(int height);
    int TitleHeight() const { return titleHeight_; }
    // The vertical scroll position in pixels; 0 when everything fits.
    int ScrollPosition() const { return scrollPos_; }
    int ScrollRange() const;
    void ScrollTo(int position);
    // Scrolls so that the descendant window is in view.
    void ScrollIntoView(HWND window);

    void Realign() override;
    void ScaleChanged() override;
    bool HandleMnemonic(wchar_t key) override;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    friend class TFrameBarTitle;
    friend class TFrameBarItem;

    void TitleClicked(int index);
    void CreateFrameOf(TFrameBarItem& item);
    void FinishClosing(int index);
    void WatchFocus(HWND root);
    int FrameHeight(const TFrameBarItem& item) const;
    void Layout();
    void UpdateScrollBar(int contentHeight);
    void HandleScroll(WORD code);
    void RecreateTitleFont();
    HFONT TitleFont(bool open) const;
    static BOOL CALLBACK WatchFocusOfChild(HWND child, LPARAM bar);
    static LRESULT CALLBACK FocusSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                              DWORD_PTR data);

    std::vector<std::unique_ptr<TFrameBarItem>> items_;
    int open_ = -1;
    int closing_ = -1;
    ULONGLONG animationStart_ = 0;
    double progress_ = 1.0;
    bool animated_ = true;
    UINT animationMs_ = kDefaultAnimationMs;
    int titleHeight_ = kDefaultTitleHeight;
    int scrollPos_ = 0;
    int contentHeight_ = 0;
    bool laying_ = false;
    UniqueFont boldFont_;
};
