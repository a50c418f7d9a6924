#include "ComCtrls.h"

#include "Exceptions.h"
#include "WinTools.h"

#include <algorithm>
#include <utility>

namespace {

void CheckRow(bool exists, int line) { Assert(exists, "The list row exists", "ui\\ComCtrls", line); }

} // namespace

int CompareCaptions(const std::wstring& a, const std::wstring& b)
{
    int result = ::CompareStringW(LOCALE_USER_DEFAULT, 0, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()));
    return result == 0 ? a.compare(b) : result - CSTR_EQUAL;
}

// ---------------------------------------------------------------------------------------------------------

TPageControl::TPageControl(TWinControl& parent) : TWinControl(&parent)
{
    CreateContainer(WS_VISIBLE, 0);
    tab_ = ::CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                             Handle(), NextControlId(), ::GetModuleHandleW(nullptr), nullptr);
    if (!tab_)
        throw ELastWin32Error();
    AttachPart(tab_);
    ::SendMessageW(tab_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
    Realign();
}

TTabSheet* TPageControl::ActivePage() const
{
    int index = ActivePageIndex();
    return index >= 0 && index < PageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int TPageControl::ActivePageIndex() const
{
    return tab_ ? static_cast<int>(::SendMessageW(tab_, TCM_GETCURSEL, 0, 0)) : -1;
}

void TPageControl::SetActivePage(TTabSheet& page) { SetActivePageIndex(page.PageIndex()); }

void TPageControl::SetActivePageIndex(int index)
{
    if (!tab_ || index < 0 || index >= PageCount())
        return;
    ::SendMessageW(tab_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    ShowActivePage();
}

void TPageControl::SelectNextPage(bool forward)
{
    int count = PageCount();
    if (count == 0)
        return;
    int next = (std::max(0, ActivePageIndex()) + (forward ? 1 : count - 1)) % count;
    ::SendMessageW(tab_, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
    UserChangedPage();
}

void TPageControl::UserChangedPage()
{
    ShowActivePage();
    if (OnChange)
        OnChange();
}

void TPageControl::ShowActivePage()
{
    int active = ActivePageIndex();
    HWND focus = ::GetFocus();
    for (int i = 0; i < PageCount(); ++i) {
        TTabSheet* page = pages_[static_cast<size_t>(i)];
        if (i == active)
            continue;
        // The focus does not stay on a control that is going out of sight.
        if (focus && (focus == page->Handle() || ::IsChild(page->Handle(), focus)))
            ::SetFocus(tab_);
        ::ShowWindow(page->Handle(), SW_HIDE);
    }
    if (TTabSheet* page = ActivePage())
        ::ShowWindow(page->Handle(), SW_SHOWNA);
}

void TPageControl::AddPage(TTabSheet* page)
{
    std::wstring caption = page->Caption();
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    int index = PageCount();
    if (::SendMessageW(tab_, TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) < 0)
        throw Exception("Failed to add a page");
    pages_.push_back(page);
    ::SetWindowPos(page->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (index == 0)
        SetActivePageIndex(0);
    Realign();
}

void TPageControl::RemovePage(TTabSheet* page)
{
    auto it = std::find(pages_.begin(), pages_.end(), page);
    if (it == pages_.end())
        return;
    int index = static_cast<int>(it - pages_.begin());
    pages_.erase(it);
    if (tab_) {
        ::SendMessageW(tab_, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
        if (ActivePageIndex() < 0 && PageCount() > 0)
            ::SendMessageW(tab_, TCM_SETCURSEL, 0, 0);
        ShowActivePage();
    }
}

void TPageControl::PageCaptionChanged(TTabSheet* page)
{
    int index = page->PageIndex();
    if (!tab_ || index < 0)
        return;
    std::wstring caption = page->Caption();
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageW(tab_, TCM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    Realign();
}

void TPageControl::Realign()
{
    if (!Handle() || !tab_)
        return;
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ::SetWindowPos(tab_, HWND_BOTTOM, 0, 0, client.right, client.bottom, SWP_NOACTIVATE);
    RECT display = client;
    ::SendMessageW(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (TTabSheet* page : pages_)
        page->PlaceWindow(display);
}

void TPageControl::ScaleChanged()
{
    if (tab_)
        ::SendMessageW(tab_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
    TWinControl::ScaleChanged();
}

bool TPageControl::HandleMnemonic(wchar_t key)
{
    for (int i = 0; i < PageCount(); ++i) {
        if (MatchesMnemonic(pages_[static_cast<size_t>(i)]->Caption(), key)) {
            ::SendMessageW(tab_, TCM_SETCURSEL, static_cast<WPARAM>(i), 0);
            ::SetFocus(tab_);
            UserChangedPage();
            return true;
        }
    }
    return false;
}

bool TPageControl::HandleNotify(NMHDR* header, LRESULT& result)
{
    if (header->hwndFrom != tab_)
        return false;
    switch (header->code) {
    case TCN_SELCHANGING: result = FALSE; return true;
    case TCN_SELCHANGE:
        UserChangedPage();
        result = 0;
        return true;
    default: return false;
    }
}

LRESULT TPageControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY && tab_)
        DetachPart(tab_);
    if (message == WM_NCDESTROY)
        tab_ = nullptr;
    return TWinControl::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------------------

TTabSheet::TTabSheet(TPageControl& pageControl, const std::wstring& caption)
    : TWinControl(&pageControl), pageControl_(pageControl)
{
    CreateContainer(0, 0, caption);
    pageControl_.AddPage(this);
}

TTabSheet::~TTabSheet() { pageControl_.RemovePage(this); }

void TTabSheet::SetText(const std::wstring& text)
{
    TWinControl::SetText(text);
    pageControl_.PageCaptionChanged(this);
}

int TTabSheet::PageIndex() const
{
    for (int i = 0; i < pageControl_.PageCount(); ++i) {
        if (&pageControl_.Page(i) == this)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------------------

bool TListItem::Exists() const { return owner_ && owner_->rows_.count(id_) != 0; }

int TListItem::Index() const { return owner_ ? owner_->IndexOfId(id_) : -1; }

std::wstring TListItem::Caption() const
{
    const TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    return row ? row->caption : std::wstring();
}

void TListItem::SetCaption(const std::wstring& caption)
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    TListView::Row* row = owner_->RowOf(id_);
    if (row->caption == caption)
        return;
    row->caption = caption;
    owner_->InvalidateRow(index);
    owner_->CountCell(*row, 0, &row->caption);
    if (owner_->options_.Sorted)
        owner_->Sort();
    owner_->RowsChanged();
}

std::vector<std::wstring> TListItem::SubItems() const
{
    const TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    return row ? row->subItems : std::vector<std::wstring>();
}

// Only the cells whose text changes are written and measured.
void TListItem::SetSubItems(const std::vector<std::wstring>& subItems)
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    TListView::Row* row = owner_->RowOf(id_);
    size_t cells = std::max(row->subItems.size(), subItems.size());
    bool changed = false;
    for (size_t i = 0; i < cells; ++i) {
        bool had = i < row->subItems.size();
        bool has = i < subItems.size();
        if (had && has && row->subItems[i] == subItems[i])
            continue;
        owner_->CountCell(*row, i + 1, has ? &subItems[i] : nullptr);
        changed = true;
    }
    if (!changed)
        return;
    row->subItems = subItems;
    owner_->InvalidateRow(index);
    owner_->RowsChanged();
}

void TListItem::AddSubItem(const std::wstring& text)
{
    std::vector<std::wstring> subItems = SubItems();
    subItems.push_back(text);
    SetSubItems(subItems);
}

void TListItem::ClearSubItems() { SetSubItems({}); }

int TListItem::SubItemCount() const
{
    const TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    return row ? static_cast<int>(row->subItems.size()) : 0;
}

std::wstring TListItem::SubItem(int index) const
{
    const TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    if (!row || index < 0 || index >= static_cast<int>(row->subItems.size()))
        return {};
    return row->subItems[static_cast<size_t>(index)];
}

bool TListItem::Checked() const
{
    int index = Index();
    if (index < 0)
        return false;
    UINT state = static_cast<UINT>(owner_->Send(LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void TListItem::SetChecked(bool checked)
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    owner_->Send(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

TObject* TListItem::Data() const
{
    const TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    return row ? row->data : nullptr;
}

void TListItem::SetData(TObject* data)
{
    TListView::Row* row = owner_ ? owner_->RowOf(id_) : nullptr;
    CheckRow(row != nullptr, __LINE__);
    if (row->data == data)
        return;
    auto range = owner_->byData_.equal_range(row->data);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == id_) {
            owner_->byData_.erase(it);
            break;
        }
    }
    row->data = data;
    owner_->byData_.emplace(data, id_);
}

bool TListItem::Selected() const
{
    int index = Index();
    return index >= 0 &&
           (owner_->Send(LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void TListItem::SetSelected(bool selected)
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    owner_->Send(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

bool TListItem::Focused() const
{
    int index = Index();
    return index >= 0 && (owner_->Send(LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_FOCUSED) & LVIS_FOCUSED) != 0;
}

void TListItem::SetFocused(bool focused)
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    LVITEMW item{};
    item.stateMask = LVIS_FOCUSED;
    item.state = focused ? LVIS_FOCUSED : 0;
    owner_->Send(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void TListItem::Delete()
{
    int index = Index();
    CheckRow(index >= 0, __LINE__);
    TListView& list = *owner_;
    // The control first: while it deletes, it notifies about the row (deselected, deleted) by its old index.
    list.Send(LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
    TListView::Row* row = list.RowOf(id_);
    list.UncountRow(*row);
    auto range = list.byData_.equal_range(row->data);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == id_) {
            list.byData_.erase(it);
            break;
        }
    }
    list.order_.erase(list.order_.begin() + index);
    list.rows_.erase(id_);
    list.MarkMoved(static_cast<size_t>(index));
    list.RowsChanged();
}

// ---------------------------------------------------------------------------------------------------------

TTextWidths::~TTextWidths()
{
    if (dc_) {
        if (oldFont_)
            ::SelectObject(dc_, oldFont_);
        ::DeleteDC(dc_);
    }
}

// The same measure as the list control's own (its font on a screen-compatible DC), without a window DC each
// time.
int TTextWidths::Width(HFONT font, const std::wstring& text)
{
    if (text.empty())
        return 0;
    if (!dc_) {
        dc_ = ::CreateCompatibleDC(nullptr);
        if (!dc_)
            return 0;
    }
    if (font != font_) {
        HGDIOBJ old = ::SelectObject(dc_, font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(SYSTEM_FONT));
        if (!oldFont_)
            oldFont_ = old;
        font_ = font;
        known_.clear();
    }
    // Long texts (a peer's status, say) are rare and not worth keeping.
    const bool keep = text.size() <= 256;
    if (keep) {
        auto it = known_.find(text);
        if (it != known_.end())
            return it->second;
    }
    SIZE size{};
    ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    ++measured_;
    if (keep) {
        if (known_.size() >= 20000)
            known_.clear();
        known_.emplace(text, static_cast<int>(size.cx));
    }
    return static_cast<int>(size.cx);
}

// ---------------------------------------------------------------------------------------------------------

TListView::TListView(TWinControl& parent, const TListViewOptions& options) : TWinControl(&parent), options_(options)
{
    DWORD style = WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS;
    if (!options_.MultiSelect)
        style |= LVS_SINGLESEL;
    CreateChild(WC_LISTVIEWW, style, WS_EX_CLIENTEDGE);
    DWORD extended = 0;
    if (options_.RowSelect)
        extended |= LVS_EX_FULLROWSELECT;
    if (options_.GridLines)
        extended |= LVS_EX_GRIDLINES;
    if (options_.CheckBoxes)
        extended |= LVS_EX_CHECKBOXES;
    ::SendMessageW(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
}

LRESULT TListView::Send(UINT message, WPARAM wParam, LPARAM lParam) const
{
    ++messages_;
    return ::SendMessageW(Handle(), message, wParam, lParam);
}

void TListView::SetColumns(const std::vector<TListColumn>& columns)
{
    for (int i = static_cast<int>(columns_.size()) - 1; i >= 0; --i)
        Send(LVM_DELETECOLUMN, static_cast<WPARAM>(i), 0);
    columns_ = columns;
    for (size_t i = 0; i < columns_.size(); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = Scale(columns_[i].Width);
        column.pszText = columns_[i].Caption.data();
        column.iSubItem = static_cast<int>(i);
        if (Send(LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column)) < 0)
            throw Exception("Failed to add a list column");
    }
    appliedWidths_.assign(columns_.size(), -1);
    RecountAll();
    AutoSizeColumns();
}

void TListView::CountCell(Row& row, size_t column, const std::wstring* text)
{
    if (column >= columns_.size() || !columns_[column].AutoSize)
        return;
    if (row.widths.size() <= column)
        row.widths.resize(column + 1, -1);
    int& width = row.widths[column];
    std::map<int, int>& tally = cellWidths_[column];
    if (width >= 0) {
        auto it = tally.find(width);
        if (it != tally.end() && --it->second == 0)
            tally.erase(it);
    }
    width = text ? widths_.Width(Font(), *text) : -1;
    if (width >= 0)
        ++tally[width];
}

void TListView::UncountRow(Row& row)
{
    for (size_t column = 0; column < row.widths.size(); ++column)
        CountCell(row, column, nullptr);
}

// After the columns or the font changed: every cell measured again.
void TListView::RecountAll()
{
    widths_.Forget();
    cellWidths_.assign(columns_.size(), {});
    for (auto& [id, row] : rows_) {
        row.widths.clear();
        CountCell(row, 0, &row.caption);
        for (size_t i = 0; i < row.subItems.size(); ++i)
            CountCell(row, i + 1, &row.subItems[i]);
    }
}

// Measured here: LVSCW_AUTOSIZE_USEHEADER makes the last column fill the rest of the list, and Wine's clips
// the header texts of an empty list; so the widths come from the texts themselves.
int TListView::ColumnWidth(size_t column)
{
    int width = widths_.Width(Font(), columns_[column].Caption) + Scale(16);
    const std::map<int, int>& tally = cellWidths_[column];
    if (tally.empty())
        return width;
    int checkWidth = 0;
    if (column == 0 && options_.CheckBoxes) {
        auto images = reinterpret_cast<HIMAGELIST>(Send(LVM_GETIMAGELIST, LVSIL_STATE, 0));
        int cx = 0;
        int cy = 0;
        if (images && ImageList_GetIconSize(images, &cx, &cy))
            checkWidth = cx + Scale(4);
    }
    return std::max(width, tally.rbegin()->first + Scale(12) + checkWidth);
}

// A new width costs a list of thousands of rows tens of milliseconds under Wine, most of it in setting its scroll
// bars again, which the control does for every width it is given while it redraws and once when it redraws again.
// So several widths are given while it does not redraw, and a list that is being updated gets them before it
// redraws again (EndUpdate).
void TListView::ApplyColumnWidths(bool force)
{
    if (!Handle())
        return;
    std::vector<std::pair<size_t, int>> changes;
    for (size_t column = 0; column < columns_.size(); ++column) {
        if (!columns_[column].AutoSize)
            continue;
        int width = ColumnWidth(column);
        if (force || width != appliedWidths_[column])
            changes.emplace_back(column, width);
    }
    bool suspend = changes.size() > 1 && updateCount_ == 0;
    if (suspend)
        Send(WM_SETREDRAW, FALSE, 0);
    for (const auto& [column, width] : changes) {
        Send(LVM_SETCOLUMNWIDTH, column, width);
        appliedWidths_[column] = width;
    }
    if (suspend) {
        Send(WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(Handle(), nullptr, TRUE);
    }
}

void TListView::AutoSizeColumns() { ApplyColumnWidths(true); }

int TListView::Count() const { return static_cast<int>(order_.size()); }

// The control keeps no texts: the row's caption is a callback, and a cell that the control was never given is
// one too, so it asks this list (LVN_GETDISPINFO) for every cell it shows. A row written or rewritten costs the
// control nothing, on screen or off.
TListItem TListView::Add(const std::wstring& caption, TObject* data)
{
    uint32_t id = nextId_++;
    int index = options_.Sorted ? SortedIndexFor(caption) : Count();
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.lParam = static_cast<LPARAM>(id);
    // The row is in the mirror first: the control's notifications about the new row come with it inserted.
    Row& row = rows_[id];
    row.data = data;
    row.caption = caption;
    row.index = index;
    order_.insert(order_.begin() + index, id);
    MarkMoved(static_cast<size_t>(index) + 1);
    int inserted = static_cast<int>(Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted != index) {
        if (inserted >= 0)
            Send(LVM_DELETEITEM, static_cast<WPARAM>(inserted), 0);
        order_.erase(order_.begin() + index);
        rows_.erase(id);
        MarkMoved(static_cast<size_t>(index));
        throw Exception("Failed to add a list row");
    }
    byData_.emplace(data, id);
    CountCell(rows_[id], 0, &rows_[id].caption);
    RowsChanged();
    return TListItem(this, id);
}

TListItem TListView::Item(int index)
{
    if (index < 0 || index >= Count())
        return {};
    return TListItem(this, IdAt(index));
}

// The first row in the list's order that carries data.
TListItem TListView::FindData(const TObject* data)
{
    auto range = byData_.equal_range(data);
    uint32_t found = 0;
    int foundIndex = -1;
    for (auto it = range.first; it != range.second; ++it) {
        int index = IndexOfId(it->second);
        if (index >= 0 && (foundIndex < 0 || index < foundIndex)) {
            found = it->second;
            foundIndex = index;
        }
    }
    return foundIndex >= 0 ? TListItem(this, found) : TListItem();
}

int TListView::IndexAt(POINT point) const
{
    LVHITTESTINFO hit{};
    hit.pt = point;
    int index = static_cast<int>(Send(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return index >= 0 && index < Count() ? index : -1;
}

RECT TListView::CellRect(int index, int column) const
{
    RECT rect{};
    rect.top = column;
    rect.left = LVIR_BOUNDS;
    if (!Send(LVM_GETSUBITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect)))
        return RECT{};
    // The caption's cell: the bounds of subitem 0 are the whole row's.
    if (column == 0 && columns_.size() > 1) {
        RECT next{};
        next.top = 1;
        next.left = LVIR_BOUNDS;
        if (Send(LVM_GETSUBITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&next)))
            rect.right = next.left;
    }
    return rect;
}

void TListView::Clear()
{
    Send(LVM_DELETEALLITEMS, 0, 0);
    order_.clear();
    rows_.clear();
    byData_.clear();
    movedFrom_ = 0;
    for (auto& tally : cellWidths_)
        tally.clear();
    RowsChanged();
}

TListItem TListView::FocusedItem()
{
    return Item(static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)));
}

TListItem TListView::SelectedItem()
{
    return Item(static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
}

std::vector<TListItem> TListView::SelectedItems()
{
    std::vector<TListItem> items;
    int index = -1;
    while ((index = static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(index), LVNI_SELECTED))) >= 0)
        items.push_back(TListItem(this, IdAt(index)));
    return items;
}

void TListView::Sort()
{
    int count = Count();
    if (count < 2)
        return;
    // Equal captions keep their present order, whatever the control's sort does with ties.
    for (int i = 0; i < count; ++i)
        rows_[order_[static_cast<size_t>(i)]].sortKey = i;
    Send(LVM_SORTITEMS, reinterpret_cast<WPARAM>(this), reinterpret_cast<LPARAM>(&TListView::CompareRows));
    // The control's new order, read back once.
    for (int i = 0; i < count; ++i) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        if (Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            order_[static_cast<size_t>(i)] = static_cast<uint32_t>(item.lParam);
    }
    Renumber(0);
}

int CALLBACK TListView::CompareRows(LPARAM first, LPARAM second, LPARAM self)
{
    auto* list = reinterpret_cast<TListView*>(self);
    const Row* a = list->RowOf(static_cast<uint32_t>(first));
    const Row* b = list->RowOf(static_cast<uint32_t>(second));
    if (!a || !b)
        return 0;
    int order = CompareCaptions(a->caption, b->caption);
    return order != 0 ? order : a->sortKey - b->sortKey;
}

void TListView::BeginUpdate()
{
    if (updateCount_++ == 0)
        Send(WM_SETREDRAW, FALSE, 0);
}

void TListView::EndUpdate()
{
    if (updateCount_ == 0)
        return;
    if (updateCount_ > 1) {
        --updateCount_;
        return;
    }
    // The widths while the control still does not redraw: they cost it nothing then.
    widthsStale_ = false;
    ApplyColumnWidths(false);
    updateCount_ = 0;
    Send(WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

bool TListView::PreTranslateMessage(MSG& message)
{
    if (message.hwnd == Handle() && message.message == WM_KEYUP && OnKeyUp)
        OnKeyUp(static_cast<WORD>(message.wParam));
    if (message.hwnd == Handle() && message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST &&
        OnMouseMessage)
        OnMouseMessage(message);
    return false;
}

// A new DPI brings a new font: every text is measured again.
void TListView::ScaleChanged()
{
    TWinControl::ScaleChanged();
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (!columns_[i].AutoSize)
            Send(LVM_SETCOLUMNWIDTH, i, Scale(columns_[i].Width));
    }
    RecountAll();
    AutoSizeColumns();
}

bool TListView::HandleNotify(NMHDR* header, LRESULT& result)
{
    switch (header->code) {
    case NM_CUSTOMDRAW: {
        if (!OnCustomDrawItem)
            return false;
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
            return true;
        }
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPOSTPAINT) {
            if (OnPostPaintItem)
                OnPostPaintItem(static_cast<int>(draw->nmcd.dwItemSpec), draw->nmcd.hdc);
            result = CDRF_DODEFAULT;
            return true;
        }
        if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT)
            return false;
        TListItemDrawInfo info;
        info.Index = static_cast<int>(draw->nmcd.dwItemSpec);
        // The control's own item states, since uItemState does not report selection reliably for lists.
        UINT state = static_cast<UINT>(
            ::SendMessageW(Handle(), LVM_GETITEMSTATE, draw->nmcd.dwItemSpec, LVIS_SELECTED | LVIS_FOCUSED));
        info.Selected = (state & LVIS_SELECTED) != 0;
        info.Focused = (state & LVIS_FOCUSED) != 0;
        info.Hot = (draw->nmcd.uItemState & CDIS_HOT) != 0;
        OnCustomDrawItem(info);
        if (info.Background) {
            draw->clrTextBk = *info.Background;
            result = CDRF_NEWFONT;
        } else {
            result = CDRF_DODEFAULT;
        }
        if (OnPostPaintItem)
            result |= CDRF_NOTIFYPOSTPAINT;
        return true;
    }
    case LVN_GETDISPINFOW:
        AnswerCell(*reinterpret_cast<NMLVDISPINFOW*>(header));
        result = 0;
        return true;
    // The mirror goes with the rows in Clear: the control need not notify each of thousands of rows on its way.
    case LVN_DELETEALLITEMS: result = TRUE; return true;
    case NM_CLICK:
        if (OnClick)
            OnClick();
        return false;
    case LVN_ITEMCHANGED: {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if (OnSelectItem && (change->uChanged & LVIF_STATE) &&
            ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
            OnSelectItem(Item(change->iItem), (change->uNewState & LVIS_SELECTED) != 0);
        return false;
    }
    default: return false;
    }
}

// A row's index is checked against the order before it is believed; rows that moved since they were numbered
// are numbered again in one pass, so that rows inserted one by one anywhere cost no pass each.
int TListView::IndexOfId(uint32_t id) const
{
    auto it = rows_.find(id);
    if (it == rows_.end())
        return -1;
    size_t index = static_cast<size_t>(it->second.index);
    if (index >= order_.size() || order_[index] != id) {
        Renumber(movedFrom_);
        index = static_cast<size_t>(it->second.index);
    }
    return static_cast<int>(index);
}

uint32_t TListView::IdAt(int index) const
{
    return index >= 0 && index < Count() ? order_[static_cast<size_t>(index)] : 0;
}

TListView::Row* TListView::RowOf(uint32_t id)
{
    auto it = rows_.find(id);
    return it == rows_.end() ? nullptr : &it->second;
}

void TListView::Renumber(size_t first) const
{
    for (size_t i = first; i < order_.size(); ++i) {
        auto it = rows_.find(order_[i]);
        if (it != rows_.end())
            it->second.index = static_cast<int>(i);
    }
    movedFrom_ = order_.size();
}

void TListView::MarkMoved(size_t first) { movedFrom_ = std::min(movedFrom_, first); }

// Only a row on screen is painted again; while updates are suspended, EndUpdate repaints the whole list.
void TListView::InvalidateRow(int index)
{
    if (updateCount_ > 0 || !Handle())
        return;
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (!Send(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&row)))
        return;
    RECT client{};
    RECT visible{};
    ::GetClientRect(Handle(), &client);
    if (::IntersectRect(&visible, &row, &client))
        ::InvalidateRect(Handle(), &row, TRUE);
}

void TListView::AnswerCell(NMLVDISPINFOW& info)
{
    if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0)
        return;
    const Row* row = RowOf(static_cast<uint32_t>(info.item.lParam));
    if (!row)
        row = RowOf(IdAt(info.item.iItem));
    const std::wstring* text = nullptr;
    if (row && info.item.iSubItem == 0)
        text = &row->caption;
    else if (row && info.item.iSubItem > 0 && static_cast<size_t>(info.item.iSubItem) <= row->subItems.size())
        text = &row->subItems[static_cast<size_t>(info.item.iSubItem) - 1];
    ::lstrcpynW(info.item.pszText, text ? text->c_str() : L"", info.item.cchTextMax);
}

int TListView::SortedIndexFor(const std::wstring& caption) const
{
    // After every row of the same caption, so that equal captions stay in their order of adding. Rows added in
    // their order (a rebuild's thousands) go after the last one without a search.
    int low = 0;
    int high = Count();
    if (high > 0) {
        auto last = rows_.find(order_.back());
        if (last != rows_.end() && CompareCaptions(last->second.caption, caption) <= 0)
            return high;
    }
    while (low < high) {
        int middle = low + (high - low) / 2;
        auto it = rows_.find(order_[static_cast<size_t>(middle)]);
        if (it != rows_.end() && CompareCaptions(it->second.caption, caption) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void TListView::RowsChanged()
{
    if (updateCount_ != 0)
        return;
    if (!widthsDeferred_) {
        ApplyColumnWidths(false);
        return;
    }
    if (widthsStale_)
        return;
    for (size_t column = 0; column < columns_.size(); ++column) {
        if (columns_[column].AutoSize && ColumnWidth(column) != appliedWidths_[column]) {
            widthsStale_ = true;
            if (OnColumnWidthsStale)
                OnColumnWidthsStale();
            return;
        }
    }
}

void TListView::UpdateColumnWidths()
{
    widthsStale_ = false;
    if (updateCount_ == 0)
        ApplyColumnWidths(false);
}
