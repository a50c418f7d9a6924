// The common controls: a page control with its tab sheets, and a report-style list view.
#pragma once

#include "WinControl.h"

#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class TTabSheet;

// A tab strip over its pages; only the active page shows.
class TPageControl : public TWinControl {
public:
    explicit TPageControl(TWinControl& parent);

    int PageCount() const { return static_cast<int>(pages_.size()); }
    TTabSheet& Page(int index) const { return *pages_.at(static_cast<size_t>(index)); }
    TTabSheet* ActivePage() const;
    int ActivePageIndex() const;
    void SetActivePage(TTabSheet& page);
    void SetActivePageIndex(int index);
    // Ctrl+Tab: the next page, round the end.
    void SelectNextPage(bool forward);
    HWND TabHandle() const { return tab_; }

    // After the user changed the page.
    std::function<void()> OnChange;

    void Realign() override;
    void ScaleChanged() override;
    bool HandleMnemonic(wchar_t key) override;

protected:
    bool HandleNotify(NMHDR* header, LRESULT& result) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    friend class TTabSheet;
    void AddPage(TTabSheet* page);
    void RemovePage(TTabSheet* page);
    void PageCaptionChanged(TTabSheet* page);
    void ShowActivePage();
    void UserChangedPage();

    HWND tab_ = nullptr;
    std::vector<TTabSheet*> pages_;
};

class TTabSheet : public TWinControl {
public:
    TTabSheet(TPageControl& pageControl, const std::wstring& caption);
    ~TTabSheet() override;

    std::wstring Caption() const { return Text(); }
    void SetCaption(const std::wstring& caption) { SetText(caption); }
    void SetText(const std::wstring& text) override;
    int PageIndex() const;
    TPageControl& PageControl() const { return pageControl_; }

private:
    friend class TPageControl;
    TPageControl& pageControl_;
};

struct TListColumn {
    std::wstring Caption;
    int Width = 80; // 96-DPI units
    // Sized to the wider of the header and the contents whenever rows change.
    bool AutoSize = false;
};

// Text widths in one font, measured on a memory DC of their own and remembered: a list measures each text
// of its autosized columns once, when it arrives, and many texts recur (times, status texts).
class TTextWidths {
public:
    TTextWidths() = default;
    ~TTextWidths();
    TTextWidths(const TTextWidths&) = delete;
    TTextWidths& operator=(const TTextWidths&) = delete;

    int Width(HFONT font, const std::wstring& text);
    // A font object may be made anew at the same handle: what was measured is forgotten.
    void Forget() { known_.clear(); }
    // How many texts were measured by the system (not found among the remembered ones).
    uint64_t Measured() const { return measured_; }

private:
    HDC dc_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    std::unordered_map<std::wstring, int> known_;
    uint64_t measured_ = 0;
};

struct TListViewOptions {
    bool CheckBoxes = false;
    bool GridLines = false;
    bool RowSelect = false;
    bool MultiSelect = false;
    // Kept sorted by the caption (the first column) in the user locale's text order.
    bool Sorted = false;
};

// What the custom-draw hook sees of one row before it is painted; set Background to colour the row.
struct TListItemDrawInfo {
    int Index = 0;
    bool Selected = false;
    bool Focused = false;
    bool Hot = false;
    std::optional<COLORREF> Background;
};

class TListView;

// A row of a list view that stays the same row while the list sorts or other rows come and go. A handle
// must not outlive its list view.
class TListItem {
public:
    TListItem() = default;

    bool Exists() const;
    explicit operator bool() const { return Exists(); }
    int Index() const;

    std::wstring Caption() const;
    void SetCaption(const std::wstring& caption);
    // The texts of the further columns; the row remembers how many it was given.
    std::vector<std::wstring> SubItems() const;
    void SetSubItems(const std::vector<std::wstring>& subItems);
    void AddSubItem(const std::wstring& text);
    void ClearSubItems();
    int SubItemCount() const;
    std::wstring SubItem(int index) const;

    bool Checked() const;
    void SetChecked(bool checked);
    TObject* Data() const;
    void SetData(TObject* data);
    bool Selected() const;
    void SetSelected(bool selected);
    bool Focused() const;
    void SetFocused(bool focused);
    void Delete();

    bool operator==(const TListItem& other) const { return owner_ == other.owner_ && id_ == other.id_; }
    bool operator!=(const TListItem& other) const { return !(*this == other); }

private:
    friend class TListView;
    TListItem(TListView* owner, uint32_t id) : owner_(owner), id_(id) {}

    TListView* owner_ = nullptr;
    uint32_t id_ = 0;
};

// A report-style list whose rows carry an object each; no in-place editing of the texts.
class TListView : public TWinControl {
public:
    explicit TListView(TWinControl& parent, const TListViewOptions& options = {});

    void SetColumns(const std::vector<TListColumn>& columns);
    const std::vector<TListColumn>& Columns() const { return columns_; }
    // Sets every autosized column to the wider of its header and its widest cell. The cells' widths are
    // kept as the texts arrive, so this measures nothing again.
    void AutoSizeColumns();
    // How many texts this list has had measured, and how many messages it has sent its control; a row
    // rewritten costs what its changed cells cost, whatever the number of rows.
    uint64_t MeasuredTexts() const { return widths_.Measured(); }
    uint64_t ControlMessages() const { return messages_; }

    int Count() const;
    // A new row, at its sorted place when the list is sorted, else at the end.
    TListItem Add(const std::wstring& caption = {}, TObject* data = nullptr);
    TListItem Item(int index);
    TListItem FindData(const TObject* data);
    // The row under a point of the list's client area, or -1.
    int IndexAt(POINT point) const;
    // A cell's rectangle in the list's client coordinates (column 0 is the caption's).
    RECT CellRect(int index, int column) const;
    void Clear();
    TListItem FocusedItem();
    TListItem SelectedItem();
    std::vector<TListItem> SelectedItems();
    void Sort();

    // Suspends repainting (WM_SETREDRAW) until the matching EndUpdate.
    void BeginUpdate();
    void EndUpdate();

    // With thousands of rows a column's new width costs the control tens of milliseconds (its scroll bars are
    // set again), so a list may take the widths that its rows ask for in a batch: while deferred, a change of
    // a row that needs other widths calls OnColumnWidthsStale once, and UpdateColumnWidths applies them.
    void DeferColumnWidths(bool defer) { widthsDeferred_ = defer; }
    void UpdateColumnWidths();
    bool ColumnWidthsStale() const { return widthsStale_; }
    std::function<void()> OnColumnWidthsStale;

    std::function<void(TListItemDrawInfo& info)> OnCustomDrawItem;
    // Called after the control has drawn a row (only while OnCustomDrawItem is set too), to draw over it.
    std::function<void(int index, HDC dc)> OnPostPaintItem;
    // A mouse message for the list from the message loop (moves, buttons, wheel), as it came.
    std::function<void(const MSG& message)> OnMouseMessage;
    std::function<void()> OnClick;
    std::function<void(WORD key)> OnKeyUp;
    std::function<void(TListItem item, bool selected)> OnSelectItem;

    bool PreTranslateMessage(MSG& message) override;
    void ScaleChanged() override;

protected:
    bool HandleNotify(NMHDR* header, LRESULT& result) override;

private:
    friend class TListItem;
    struct Row {
        TObject* data = nullptr;
        std::wstring caption;
        std::vector<std::wstring> subItems;
        // The text width of each cell that an autosized column shows (caption first); -1 where none counts.
        std::vector<int> widths;
        // Its place in order_ when it was last numbered.
        mutable int index = 0;
        int sortKey = 0;
    };

    int IndexOfId(uint32_t id) const;
    uint32_t IdAt(int index) const;
    Row* RowOf(uint32_t id);
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;
    void InvalidateRow(int index);
    void AnswerCell(NMLVDISPINFOW& info);
    // The cell's text is now text (or nothing): its width moves in its column's tally.
    void CountCell(Row& row, size_t column, const std::wstring* text);
    void UncountRow(Row& row);
    void RecountAll();
    int ColumnWidth(size_t column);
    void ApplyColumnWidths(bool force);
    // The rows' indexes from first on, after rows were inserted or removed before them.
    void Renumber(size_t first) const;
    // Rows from first on may have moved since they were numbered.
    void MarkMoved(size_t first);
    int SortedIndexFor(const std::wstring& caption) const;
    void RowsChanged();
    static int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM self);

    TListViewOptions options_;
    std::vector<TListColumn> columns_;
    std::unordered_map<uint32_t, Row> rows_;
    // The rows' ids in the order the control shows them: only this class inserts, removes and sorts rows.
    std::vector<uint32_t> order_;
    std::unordered_multimap<const TObject*, uint32_t> byData_;
    // Rows before this place in order_ have their right index.
    mutable size_t movedFrom_ = 0;
    // For each column, how many cells have each text width; the largest decides an autosized column.
    std::vector<std::map<int, int>> cellWidths_;
    std::vector<int> appliedWidths_;
    TTextWidths widths_;
    mutable uint64_t messages_ = 0;
    uint32_t nextId_ = 1;
    int updateCount_ = 0;
    bool widthsDeferred_ = false;
    bool widthsStale_ = false;
};

// The caption order of sorted lists: the user locale's CompareStringW; negative, zero or positive.
int CompareCaptions(const std::wstring& a, const std::wstring& b);
