// Report lists: sorted by caption in the locale's order, rows that stay themselves while the list sorts,
// check marks, sub-items, selection, and the custom-draw hook that colours rows.
#include "GuiHarness.h"

#include "Application.h"
#include "ComCtrls.h"
#include "Forms.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

class ListViewTest : public ::testing::Test {
protected:
    ListViewTest()
    {
        form.SetClientSize(400, 240);
        form.SetPosition(TPosition::ScreenCenter);
        form.Show();
    }

    TListView& MakeList(const TListViewOptions& options)
    {
        list = std::make_unique<TListView>(form, options);
        list->SetBounds(0, 0, 400, 240);
        list->SetColumns({{L"URL", 150}, {L"Check interval, minutes", 120}, {L"Code to check", 100}});
        return *list;
    }

    std::vector<std::wstring> Captions()
    {
        std::vector<std::wstring> captions;
        for (int i = 0; i < gui::RowCount(list->Handle()); ++i)
            captions.push_back(gui::CellText(list->Handle(), i, 0));
        return captions;
    }

    TApplication app;
    gui::TGuiSession session{app};
    TForm form{app};
    std::unique_ptr<TListView> list;
};

TEST_F(ListViewTest, ColumnsAndStylesAsAsked)
{
    TListView& lv = MakeList({true, true, true, true, true});
    ASSERT_EQ(gui::ColumnCount(lv.Handle()), 3);
    EXPECT_EQ(gui::ColumnCaption(lv.Handle(), 0), L"URL");
    EXPECT_EQ(gui::ColumnCaption(lv.Handle(), 2), L"Code to check");
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 0), 150);
    DWORD extended = gui::ListExtendedStyle(lv.Handle());
    EXPECT_TRUE(extended & LVS_EX_CHECKBOXES);
    EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    EXPECT_FALSE(gui::HasStyle(lv.Handle(), LVS_SINGLESEL));
    EXPECT_FALSE(gui::HasStyle(lv.Handle(), LVS_EDITLABELS));

    TListView& single = MakeList({});
    EXPECT_TRUE(gui::HasStyle(single.Handle(), LVS_SINGLESEL));
    EXPECT_TRUE(gui::HasStyle(single.Handle(), LVS_REPORT));
}

TEST_F(ListViewTest, SortedListsKeepTheLocaleOrderOfCaptions)
{
    struct Case {
        std::vector<std::wstring> added;
        std::vector<std::wstring> shown;
    };
    const Case cases[] = {
        {{L"https://b.example", L"https://a.example", L"https://c.example"},
         {L"https://a.example", L"https://b.example", L"https://c.example"}},
        // The locale's word order, not code points: case is a tie-breaker, not a first criterion.
        {{L"b", L"B", L"a", L"A"}, {L"a", L"A", L"b", L"B"}},
        {{L"", L"x", L""}, {L"", L"", L"x"}},
    };
    for (const Case& c : cases) {
        TListView& lv = MakeList({false, false, false, false, true});
        for (const auto& caption : c.added)
            lv.Add(caption);
        EXPECT_EQ(Captions(), c.shown);
    }
}

TEST_F(ListViewTest, RowsKeepTheirIdentityDataAndOrderOfTiesWhileSorting)
{
    TListView& lv = MakeList({true, false, false, true, true});
    TObject first, second, third;
    TListItem a = lv.Add(L"http://same", &first);
    TListItem b = lv.Add(L"http://same", &second);
    TListItem empty = lv.Add(L"", &third);
    EXPECT_EQ(empty.Index(), 0);
    EXPECT_EQ(a.Index(), 1);
    EXPECT_EQ(b.Index(), 2);

    // A row that gets its URL later moves to its place and stays the same row.
    empty.SetCaption(L"http://zzz");
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"http://same", L"http://same", L"http://zzz"}));
    EXPECT_EQ(empty.Index(), 2);
    EXPECT_EQ(empty.Data(), &third);
    EXPECT_EQ(lv.Item(0).Data(), &first);
    EXPECT_EQ(lv.Item(1).Data(), &second);
    EXPECT_EQ(lv.FindData(&third), empty);

    b.Delete();
    EXPECT_FALSE(b.Exists());
    EXPECT_TRUE(empty.Exists());
    EXPECT_EQ(empty.Index(), 1);
    EXPECT_EQ(lv.FindData(&second), TListItem());
}

TEST_F(ListViewTest, CheckMarksAndSubItemsShowInTheControl)
{
    TListView& lv = MakeList({true, true, true, true, true});
    TListItem row = lv.Add(L"http://host:3745");
    row.SetSubItems({L"10", L"admin"});
    row.SetChecked(true);
    EXPECT_TRUE(gui::RowChecked(lv.Handle(), 0));
    EXPECT_EQ(gui::RowTexts(lv.Handle(), 0), (std::vector<std::wstring>{L"http://host:3745", L"10", L"admin"}));
    EXPECT_EQ(row.SubItemCount(), 2);

    // Fewer sub-items clear the columns they no longer fill.
    row.SetSubItems({L"5"});
    EXPECT_EQ(gui::RowTexts(lv.Handle(), 0), (std::vector<std::wstring>{L"http://host:3745", L"5", L""}));
    EXPECT_EQ(row.SubItem(1), L"");

    // The user's click on the box changes the mark only.
    row.SetFocused(true);
    lv.SetFocus();
    session.PressKey(VK_SPACE);
    EXPECT_FALSE(row.Checked());
}

TEST_F(ListViewTest, SelectionFocusAndTheirNotifications)
{
    TListView& lv = MakeList({true, true, true, true, true});
    TListItem a = lv.Add(L"a");
    TListItem b = lv.Add(L"b");
    TListItem c = lv.Add(L"c");
    std::vector<std::pair<int, bool>> changes;
    lv.OnSelectItem = [&](TListItem item, bool selected) { changes.push_back({item.Index(), selected}); };

    a.SetSelected(true);
    c.SetSelected(true);
    b.SetFocused(true);
    EXPECT_EQ(gui::SelectedRows(lv.Handle()), (std::vector<int>{0, 2}));
    EXPECT_EQ(lv.SelectedItems(), (std::vector<TListItem>{a, c}));
    EXPECT_EQ(lv.FocusedItem(), b);
    EXPECT_EQ(gui::FocusedRow(lv.Handle()), 1);
    EXPECT_EQ(changes, (std::vector<std::pair<int, bool>>{{0, true}, {2, true}}));

    lv.Clear();
    EXPECT_EQ(gui::RowCount(lv.Handle()), 0);
    EXPECT_FALSE(lv.FocusedItem());
    EXPECT_FALSE(a.Exists());
}

TEST_F(ListViewTest, MouseClicksSelectAndReportClicksAndKeys)
{
    TListView& lv = MakeList({false, true, true, false, true});
    lv.Add(L"first");
    lv.Add(L"second");
    int clicks = 0;
    std::vector<WORD> keys;
    lv.OnClick = [&] { ++clicks; };
    lv.OnKeyUp = [&](WORD key) { keys.push_back(key); };

    RECT item{};
    item.left = LVIR_BOUNDS;
    ::SendMessageW(lv.Handle(), LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    session.MouseClickAt(lv.Handle(), {item.left + 20, (item.top + item.bottom) / 2});
    EXPECT_EQ(gui::SelectedRows(lv.Handle()), (std::vector<int>{1}));
    EXPECT_EQ(clicks, 1);

    session.PressKey(VK_UP);
    EXPECT_EQ(gui::SelectedRows(lv.Handle()), (std::vector<int>{0}));
    EXPECT_EQ(keys, (std::vector<WORD>{VK_UP}));
}

TEST_F(ListViewTest, CustomDrawHookColoursRowsByIndexAndState)
{
    TListView& lv = MakeList({false, true, true, false, false});
    lv.SetColumns({{L"Type", 100, true}, {L"Link", 100, true}});
    lv.Add(L"Server").SetSubItems({L"http://up"});
    lv.Add(L"Site").SetSubItems({L"http://down"});
    std::vector<int> painted;
    lv.OnCustomDrawItem = [&](TListItemDrawInfo& info) {
        painted.push_back(info.Index);
        if (!info.Selected && !info.Focused && !info.Hot)
            info.Background = info.Index == 0 ? RGB(0, 255, 0) : RGB(255, 0, 0);
    };
    form.BringToFront();
    ::InvalidateRect(lv.Handle(), nullptr, TRUE);
    ::UpdateWindow(lv.Handle());
    session.PumpFor(50);

    EXPECT_NE(std::find(painted.begin(), painted.end(), 0), painted.end());
    EXPECT_NE(std::find(painted.begin(), painted.end(), 1), painted.end());
    gui::SaveScreenshot(form.Handle(), L"listview-coloured-rows");
    HDC dc = ::GetDC(lv.Handle());
    auto pixelOfRow = [&](int row) {
        RECT item{};
        item.left = LVIR_LABEL;
        ::SendMessageW(lv.Handle(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return ::GetPixel(dc, item.right - 3, (item.top + item.bottom) / 2);
    };
    EXPECT_EQ(pixelOfRow(0), RGB(0, 255, 0));
    EXPECT_EQ(pixelOfRow(1), RGB(255, 0, 0));
    ::ReleaseDC(lv.Handle(), dc);
}

TEST_F(ListViewTest, AutoSizedColumnsFollowTheirContent)
{
    TListView& lv = MakeList({});
    lv.SetColumns({{L"Type", 10, true}, {L"Status", 10, true}});
    int before = gui::ColumnWidth(lv.Handle(), 0);
    // An empty list shows its headers whole.
    int headerText =
        static_cast<int>(::SendMessageW(lv.Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(L"Status")));
    EXPECT_GT(gui::ColumnWidth(lv.Handle(), 1), headerText + 8);
    lv.BeginUpdate();
    lv.Add(L"A much longer caption than the header");
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 0), before);
    lv.EndUpdate();
    EXPECT_GT(gui::ColumnWidth(lv.Handle(), 0), before);
}

// Rows inserted at their sorted places one by one, deleted in the middle and renamed: the list's own record of
// the rows stays the control's, row for row.
TEST_F(ListViewTest, RowsStayInStepWithTheControlThroughInsertsDeletesAndRenames)
{
    TListView& lv = MakeList({true, false, true, true, true});
    std::vector<std::unique_ptr<TObject>> objects;
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 1000; };
    auto check = [&](const char* when) {
        ASSERT_EQ(lv.Count(), gui::RowCount(lv.Handle())) << when;
        for (int i = 0; i < lv.Count(); ++i) {
            TListItem row = lv.Item(i);
            ASSERT_EQ(row.Index(), i) << when;
            ASSERT_EQ(row.Caption(), gui::CellText(lv.Handle(), i, 0)) << when << ", row " << i;
            ASSERT_EQ(row.SubItem(0), gui::CellText(lv.Handle(), i, 1)) << when << ", row " << i;
            ASSERT_EQ(lv.FindData(row.Data()), row) << when << ", row " << i;
        }
        std::vector<std::wstring> captions = Captions();
        EXPECT_TRUE(std::is_sorted(captions.begin(), captions.end(), [](const auto& a, const auto& b) {
            return CompareCaptions(a, b) < 0;
        })) << when;
    };
    std::vector<TListItem> rows;
    for (int i = 0; i < 300; ++i) {
        objects.push_back(std::make_unique<TObject>());
        TListItem row = lv.Add(L"host" + std::to_wstring(next()), objects.back().get());
        row.SetSubItems({std::to_wstring(i)});
        row.SetChecked(i % 2 == 0);
        rows.push_back(row);
    }
    check("after adding");
    for (int i = 0; i < 300; i += 7)
        rows[static_cast<size_t>(i)].Delete();
    check("after deleting");
    for (int i = 1; i < 300; i += 11) {
        if (rows[static_cast<size_t>(i)])
            rows[static_cast<size_t>(i)].SetCaption(L"renamed" + std::to_wstring(next()));
    }
    check("after renaming");
    for (int i = 2; i < 300; i += 13) {
        if (rows[static_cast<size_t>(i)]) {
            EXPECT_EQ(rows[static_cast<size_t>(i)].Checked(), i % 2 == 0) << "row added as " << i;
        }
    }
    lv.Clear();
    EXPECT_EQ(gui::RowCount(lv.Handle()), 0);
    EXPECT_FALSE(lv.FindData(objects.front().get()));
}

// A column fits its widest cell: it grows when a wider text arrives and shrinks when that text changes or its
// row goes, back to what the remaining cells need.
TEST_F(ListViewTest, AutoSizedColumnsGrowAndShrinkWithTheirWidestCell)
{
    TListView& lv = MakeList({});
    lv.SetColumns({{L"Type", 10, true}, {L"Status", 10, true}});
    TListItem a = lv.Add(L"Server");
    a.SetSubItems({L"Initial state"});
    TListItem b = lv.Add(L"Server");
    b.SetSubItems({L"Bad response"});
    const int narrow = gui::ColumnWidth(lv.Handle(), 1);
    b.SetSubItems({L"12:00: Physical free: 512 MB, Total free: 2048 MB, and a good deal more text"});
    const int wide = gui::ColumnWidth(lv.Handle(), 1);
    EXPECT_GT(wide, narrow);
    b.SetSubItems({L"Bad response"});
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 1), narrow);
    TListItem c = lv.Add(L"Site");
    c.SetSubItems({L"12:00: Physical free: 512 MB, Total free: 2048 MB, and a good deal more text"});
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 1), wide);
    c.Delete();
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 1), narrow);
    // The widths are the control's own measure of the texts.
    auto textWidth = [&](const wchar_t* text) {
        return static_cast<int>(::SendMessageW(lv.Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text)));
    };
    EXPECT_EQ(narrow, std::max(textWidth(L"Initial state"), textWidth(L"Bad response")) + lv.Scale(12));
}

// What a row's rewrite costs does not depend on how many rows the list has: the cells that change are written
// and measured, the others not even compared with the control.
TEST_F(ListViewTest, RewritingARowCostsItsChangedCellsWhateverTheRowCount)
{
    struct Cost {
        uint64_t Messages;
        uint64_t Measured;
    };
    auto rewriteCost = [&](int rows) {
        TListView& lv = MakeList({false, true, true, false, true});
        lv.SetColumns({{L"Type", 10, true}, {L"Link", 10, true}, {L"Status", 10, true}, {L"Downtime", 10, true}});
        lv.BeginUpdate();
        for (int i = 0; i < rows; ++i)
            lv.Add(L"Server").SetSubItems({L"http://host" + std::to_wstring(i), L"Initial state", L"   0: 0"});
        lv.EndUpdate();
        TListItem row = lv.Item(rows / 2);
        uint64_t messages = lv.ControlMessages();
        uint64_t measured = lv.MeasuredTexts();
        row.SetSubItems({row.SubItem(0), L"Failed to connect " + std::to_wstring(rows), L"   0: 1"});
        row.SetSubItems(row.SubItems());
        return Cost{lv.ControlMessages() - messages, lv.MeasuredTexts() - measured};
    };
    Cost small = rewriteCost(20);
    Cost large = rewriteCost(2000);
    // Two cells written, two texts measured, and at most one column widened.
    EXPECT_LE(small.Messages, 3u);
    EXPECT_LE(small.Measured, 2u);
    EXPECT_LE(large.Messages, small.Messages);
    EXPECT_LE(large.Measured, small.Measured);
}

// A row added with its cells is one message to the control, however many cells it has: the control asks for
// every cell it shows, and still shows each of them.
TEST_F(ListViewTest, AddingARowWithItsCellsIsOneMessageToTheControl)
{
    TListView& lv = MakeList({false, true, true, false, true});
    lv.SetColumns({{L"Type", 60, true}, {L"Link", 60, true}, {L"Status", 60, true}, {L"Downtime", 60, true}});
    lv.BeginUpdate();
    uint64_t before = lv.ControlMessages();
    for (int i = 0; i < 1000; ++i)
        lv.Add(L"Server").SetSubItems({L"http://host" + std::to_wstring(i), L"Initial state", L"   0: 0"});
    EXPECT_EQ(lv.ControlMessages() - before, 1000u);
    lv.EndUpdate();
    for (int i : {0, 499, 999}) {
        EXPECT_EQ(gui::CellText(lv.Handle(), i, 0), L"Server");
        EXPECT_EQ(gui::CellText(lv.Handle(), i, 1), L"http://host" + std::to_wstring(i));
        EXPECT_EQ(gui::CellText(lv.Handle(), i, 2), L"Initial state");
        EXPECT_EQ(gui::CellText(lv.Handle(), i, 3), L"   0: 0");
    }
    // A row whose cells grow later shows its new cells too.
    lv.Item(0).SetSubItems({L"http://host0", L"Failed to connect", L"   0: 1", L"extra"});
    EXPECT_EQ(gui::CellText(lv.Handle(), 0, 2), L"Failed to connect");
    EXPECT_EQ(gui::CellText(lv.Handle(), 0, 3), L"   0: 1");
}

// A list that takes its widths in a batch: rows that ask for wider columns say so once, and the columns fit
// them when the batch is applied.
TEST_F(ListViewTest, DeferredWidthsAreAskedForOnceAndFitTheRowsWhenApplied)
{
    TListView& lv = MakeList({false, true, true, false, true});
    lv.SetColumns({{L"Type", 10, true}, {L"Status", 10, true}});
    lv.DeferColumnWidths(true);
    int asked = 0;
    lv.OnColumnWidthsStale = [&] { ++asked; };
    lv.BeginUpdate();
    for (int i = 0; i < 100; ++i)
        lv.Add(L"Server").SetSubItems({L"OK"});
    lv.EndUpdate();
    EXPECT_EQ(asked, 0) << "the end of an update applies the widths itself";
    const int narrow = gui::ColumnWidth(lv.Handle(), 1);

    lv.Item(10).SetSubItems({L"Failed to connect, and a much longer text than before"});
    lv.Item(20).SetSubItems({L"Failed to connect, and a much longer text than before, longer still"});
    lv.Item(30).SetSubItems({L"Bad"});
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(lv.ColumnWidthsStale());
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 1), narrow);

    lv.UpdateColumnWidths();
    EXPECT_FALSE(lv.ColumnWidthsStale());
    const int wide = gui::ColumnWidth(lv.Handle(), 1);
    EXPECT_GT(wide, narrow);
    lv.Item(40).SetSubItems({L"OK, still"});
    EXPECT_EQ(asked, 1) << "a row that fits asks for nothing";

    // The widest row gone, the column shrinks back when asked for.
    lv.Item(20).SetSubItems({L"OK"});
    EXPECT_EQ(asked, 2);
    lv.UpdateColumnWidths();
    EXPECT_LT(gui::ColumnWidth(lv.Handle(), 1), wide);
    EXPECT_GT(gui::ColumnWidth(lv.Handle(), 1), narrow);
}

// What a list control was told about its redrawing and its column widths, in order: "off", "on" and "width N".
std::vector<std::string> g_widthRecord;

LRESULT CALLBACK RecordWidths(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_SETREDRAW)
        g_widthRecord.push_back(wParam ? "on" : "off");
    else if (message == LVM_SETCOLUMNWIDTH)
        g_widthRecord.push_back("width " + std::to_string(wParam));
    return DefSubclassProc(window, message, wParam, lParam);
}

// With thousands of rows every width that the control takes while it redraws costs it its scroll bars again
// (tens of milliseconds under Wine), and so does starting to redraw; a width given while it does not redraw
// costs nothing. So the widths of an update come before the control redraws again, and several new widths
// at once are given while it does not redraw.
TEST_F(ListViewTest, NewWidthsAreGivenWhileTheControlDoesNotRedraw)
{
    TListView& lv = MakeList({false, true, true, false, true});
    lv.SetColumns({{L"Type", 10, true}, {L"Link", 10, true}, {L"Status", 10, true}});
    lv.DeferColumnWidths(true);
    ASSERT_TRUE(SetWindowSubclass(lv.Handle(), RecordWidths, 1, 0));
    g_widthRecord.clear();

    lv.BeginUpdate();
    for (int i = 0; i < 2000; ++i)
        lv.Add(L"Server").SetSubItems({L"http://host" + std::to_wstring(i) + L".example:8080", L"Initial state"});
    lv.EndUpdate();
    const std::vector<std::string> update{"off", "width 0", "width 1", "width 2", "on"};
    EXPECT_EQ(g_widthRecord, update);
    const int link = gui::ColumnWidth(lv.Handle(), 1);
    EXPECT_GT(link, 100) << "the column fits its links";

    // Two columns grow in one batch: one suspension of redrawing around both.
    g_widthRecord.clear();
    lv.Item(7).SetCaption(L"A much longer type than a server");
    lv.Item(9).SetSubItems({L"http://host9.example:8080", L"Failed to connect, and a much longer text"});
    lv.UpdateColumnWidths();
    const std::vector<std::string> two{"off", "width 0", "width 2", "on"};
    EXPECT_EQ(g_widthRecord, two);
    EXPECT_EQ(gui::CellText(lv.Handle(), 9, 2), L"Failed to connect, and a much longer text");

    // One column: just its width, without repainting the whole list.
    g_widthRecord.clear();
    lv.Item(9).SetSubItems({L"http://host9.example:8080", L"OK"});
    lv.UpdateColumnWidths();
    EXPECT_EQ(g_widthRecord, std::vector<std::string>{"width 2"});
    EXPECT_EQ(gui::ColumnWidth(lv.Handle(), 1), link);
    RemoveWindowSubclass(lv.Handle(), RecordWidths, 1);
}

int g_deletedRows = 0;
int g_allDeleted = 0;

LRESULT CALLBACK CountDeleteNotifications(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_NOTIFY) {
        UINT notification = reinterpret_cast<const NMHDR*>(message->lParam)->code;
        g_deletedRows += notification == LVN_DELETEITEM;
        g_allDeleted += notification == LVN_DELETEALLITEMS;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Emptying a list of thousands of rows is one step for the control: it does not notify the parent of each row.
TEST_F(ListViewTest, ClearingDoesNotNotifyEachRow)
{
    TListView& lv = MakeList({false, true, true, false, true});
    lv.BeginUpdate();
    for (int i = 0; i < 2000; ++i)
        lv.Add(L"http://host" + std::to_wstring(i)).SetSubItems({L"10", L"Welcome"});
    lv.EndUpdate();
    g_deletedRows = g_allDeleted = 0;
    HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, &CountDeleteNotifications, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    lv.Clear();
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_allDeleted, 1);
    EXPECT_EQ(g_deletedRows, 0);
    EXPECT_EQ(gui::RowCount(lv.Handle()), 0);
    EXPECT_EQ(lv.Count(), 0);
    // The list goes on as before.
    lv.Add(L"http://again").SetSubItems({L"5", L"Back"});
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"http://again"}));
}

} // namespace
