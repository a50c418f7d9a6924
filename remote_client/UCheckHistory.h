// The recent history of a monitored item, kept in memory only: the outcome, time and response time of its last
// checks, the share of passed checks since the history began, and its last failure. The status list draws the
// kept checks as bars and shows the figures in the row's tip. No windows here.
#pragma once

#include "InterfaceObjects.h"

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TCheckRecord {
    TDateTime Time = 0;
    bool Passed = false;
    // From the request's start until its body was read (or it failed).
    uint32_t ResponseMs = 0;
};

class TCheckHistory {
public:
    static constexpr size_t kKept = 60;

    explicit TCheckHistory(TDateTime since = 0) : since_(since) {}

    void Add(const TCheckRecord& record, const std::wstring& statusText);

    // The kept checks, oldest first (at most kKept).
    std::vector<TCheckRecord> Records() const;
    size_t Size() const { return records_.size(); }
    bool Empty() const { return records_.empty(); }
    const TCheckRecord& Last() const { return records_[(next_ + records_.size() - 1) % records_.size()]; }

    // Every check since the history began, kept or not.
    TDateTime Since() const { return since_; }
    uint64_t Checks() const { return checks_; }
    uint64_t Passed() const { return passed_; }
    // The median response time of the kept checks (the lower of the middle two for an even count); 0 if none.
    uint32_t MedianResponseMs() const;
    bool HasFailed() const { return lastFailureTime_ != 0; }
    TDateTime LastFailureTime() const { return lastFailureTime_; }
    const std::wstring& LastFailureText() const { return lastFailureText_; }

private:
    std::vector<TCheckRecord> records_;
    // Where the next record goes once kKept are kept.
    size_t next_ = 0;
    TDateTime since_ = 0;
    uint64_t checks_ = 0;
    uint64_t passed_ = 0;
    TDateTime lastFailureTime_ = 0;
    std::wstring lastFailureText_;
};

// "35 ms".
std::wstring FormatMilliseconds(uint32_t ms);

// Whole milliseconds since it was made, on the steady clock.
class TStopwatch {
public:
    TStopwatch() : started_(std::chrono::steady_clock::now()) {}
    uint32_t Milliseconds() const
    {
        auto elapsed = std::chrono::steady_clock::now() - started_;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
        return ms < 0 ? 0u : ms > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
    }

private:
    std::chrono::steady_clock::time_point started_;
};

// The row's tip: one line each for the last response time, the median of the kept checks, the share of passed
// checks since the history began, and the last failure; extra lines (the reboot's) follow. Times are hh:nn with
// the user's separator; the day is added when it is not today's.
std::wstring HistoryTipText(const TCheckHistory& history, TDateTime now, const std::wstring& separator,
                            const std::vector<std::wstring>& extraLines = {});

// The bars of the status list's history cell: one per kept check, newest at the right, each barWidth wide with
// a gap as wide, as many as fit between the cell's margins; the oldest are left out when the cell is narrow.
struct THistoryBar {
    RECT Rect{};
    bool Passed = false;
};
std::vector<THistoryBar> HistoryBars(const RECT& cell, const std::vector<TCheckRecord>& records, int barWidth);
// The cell on a white ground, so that the bars read the same on a green and on a red row.
void DrawHistoryCell(HDC dc, const RECT& cell, const TCheckHistory& history, int barWidth);
constexpr COLORREF kHistoryPassedColor = RGB(0, 150, 0);
constexpr COLORREF kHistoryFailedColor = RGB(220, 0, 0);
