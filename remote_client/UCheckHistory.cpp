#include "UCheckHistory.h"

#include "UStatusRows.h"

#include <algorithm>
#include <cmath>

void TCheckHistory::Add(const TCheckRecord& record, const std::wstring& statusText)
{
    if (records_.size() < kKept) {
        records_.push_back(record);
    } else {
        records_[next_] = record;
        next_ = (next_ + 1) % kKept;
    }
    ++checks_;
    if (record.Passed) {
        ++passed_;
    } else {
        lastFailureTime_ = record.Time;
        lastFailureText_ = statusText;
    }
}

std::vector<TCheckRecord> TCheckHistory::Records() const
{
    std::vector<TCheckRecord> ordered;
    ordered.reserve(records_.size());
    for (size_t i = 0; i < records_.size(); ++i)
        ordered.push_back(records_[(next_ + i) % records_.size()]);
    return ordered;
}

uint32_t TCheckHistory::MedianResponseMs() const
{
    if (records_.empty())
        return 0;
    std::vector<uint32_t> times;
    times.reserve(records_.size());
    for (const TCheckRecord& record : records_)
        times.push_back(record.ResponseMs);
    auto middle = times.begin() + static_cast<std::ptrdiff_t>((times.size() - 1) / 2);
    std::nth_element(times.begin(), middle, times.end());
    return *middle;
}

std::wstring FormatMilliseconds(uint32_t ms) { return std::to_wstring(ms) + L" ms"; }

namespace {

// hh:nn, with the day before it when the time is not on the day of now.
std::wstring TipTime(TDateTime time, TDateTime now, const std::wstring& separator)
{
    std::wstring text = FormatStatusTime(time, separator);
    if (std::floor(time) == std::floor(now))
        return text;
    SYSTEMTIME st = DateTimeToSystemTime(time);
    wchar_t date[64] = {};
    if (::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, ARRAYSIZE(date), nullptr) > 0)
        return std::wstring(date) + L" " + text;
    return text;
}

} // namespace

std::wstring HistoryTipText(const TCheckHistory& history, TDateTime now, const std::wstring& separator,
                            const std::vector<std::wstring>& extraLines)
{
    std::vector<std::wstring> lines;
    if (history.Empty()) {
        lines.push_back(L"Not checked yet");
    } else {
        lines.push_back(L"Last response: " + FormatMilliseconds(history.Last().ResponseMs));
        lines.push_back(L"Median of the last " + std::to_wstring(history.Size()) + L" checks: " +
                        FormatMilliseconds(history.MedianResponseMs()));
        uint64_t percent = history.Passed() * 100 / history.Checks();
        lines.push_back(L"Passed since " + TipTime(history.Since(), now, separator) + L": " + std::to_wstring(percent) +
                        L" % (" + std::to_wstring(history.Passed()) + L" of " + std::to_wstring(history.Checks()) +
                        L" checks)");
        if (history.HasFailed())
            lines.push_back(L"Last failure: " + TipTime(history.LastFailureTime(), now, separator) + L", " +
                            history.LastFailureText());
        else
            lines.push_back(L"No failure since " + TipTime(history.Since(), now, separator));
    }
    lines.insert(lines.end(), extraLines.begin(), extraLines.end());
    std::wstring text;
    for (const std::wstring& line : lines) {
        if (!text.empty())
            text += L"\r\n";
        text += line;
    }
    return text;
}

std::vector<THistoryBar> HistoryBars(const RECT& cell, const std::vector<TCheckRecord>& records, int barWidth)
{
    std::vector<THistoryBar> bars;
    barWidth = std::max(barWidth, 1);
    const int margin = barWidth * 2;
    const LONG top = cell.top + std::min<LONG>(2, (cell.bottom - cell.top) / 4);
    const LONG bottom = cell.bottom - std::min<LONG>(2, (cell.bottom - cell.top) / 4);
    LONG right = cell.right - margin;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        LONG left = right - barWidth;
        if (left < cell.left + margin || bottom <= top)
            break;
        bars.push_back({RECT{left, top, right, bottom}, it->Passed});
        right = left - barWidth;
    }
    std::reverse(bars.begin(), bars.end());
    return bars;
}

void DrawHistoryCell(HDC dc, const RECT& cell, const TCheckHistory& history, int barWidth)
{
    COLORREF before = ::SetBkColor(dc, RGB(255, 255, 255));
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &cell, nullptr, 0, nullptr);
    for (const THistoryBar& bar : HistoryBars(cell, history.Records(), barWidth)) {
        ::SetBkColor(dc, bar.Passed ? kHistoryPassedColor : kHistoryFailedColor);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &bar.Rect, nullptr, 0, nullptr);
    }
    ::SetBkColor(dc, before);
}
