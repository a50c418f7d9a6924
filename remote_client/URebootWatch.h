// A reboot order followed to its end: after the order the host is checked on a short cycle until it has gone
// down and answered again, did not go down at all, or is still not back after the bound. No windows here: the
// main window feeds it the outcome of each check and shows what it says.
#pragma once

#include "InterfaceObjects.h"

#include <cstdint>
#include <string>

// "mm:ss", the minutes as many as there are (a span of 75 minutes is "75:00").
std::wstring FormatMinutesSeconds(int64_t seconds);

class TRebootWatch {
public:
    static constexpr int kCycleSeconds = 15;
    // A host that still answered every check this long after the order did not reboot.
    static constexpr int kDownWithinMinutes = 2;
    // Past this the watch ends and the item returns to its own interval.
    static constexpr int kBackWithinMinutes = 30;

    enum class TOutcome { Watching, Back, NotDown, NotBack };

    explicit TRebootWatch(TDateTime orderedAt) : orderedAt_(orderedAt) {}

    // A check of the item that called back at the given time; answers the outcome after it.
    TOutcome Note(TDateTime at, bool passed);
    TOutcome Outcome() const { return outcome_; }
    bool Watching() const { return outcome_ == TOutcome::Watching; }
    TDateTime OrderedAt() const { return orderedAt_; }
    // The first failed check after the order; 0 while the host has answered every one.
    TDateTime DownSince() const { return downSince_; }
    TDateTime EndedAt() const { return endedAt_; }
    // When the item is due again while the watch goes on.
    TDateTime NextCheck(TDateTime now) const;

    // The Status column while the host does not answer: "Rebooting since hh:nn (mm:ss)", the time of the order
    // and the span since.
    std::wstring StatusText(TDateTime now, const std::wstring& separator) const;
    // The pop-up when the watch ends, for the item's URL; empty while it goes on.
    std::wstring EndText(const std::wstring& url) const;
    // The line of the row's tip.
    std::wstring TipLine(TDateTime now, const std::wstring& separator) const;

private:
    int64_t SecondsSinceOrder(TDateTime at) const;

    TDateTime orderedAt_;
    TDateTime downSince_ = 0;
    TDateTime endedAt_ = 0;
    TOutcome outcome_ = TOutcome::Watching;
};
