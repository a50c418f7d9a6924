#include "URebootWatch.h"

#include "UStatusRows.h"

#include <cmath>

namespace {

constexpr double kSecondsPerDay = 86400.0;

std::wstring TwoDigits(int64_t value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

} // namespace

std::wstring FormatMinutesSeconds(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    return TwoDigits(seconds / 60) + L":" + TwoDigits(seconds % 60);
}

int64_t TRebootWatch::SecondsSinceOrder(TDateTime at) const
{
    return static_cast<int64_t>(std::llround((at - orderedAt_) * kSecondsPerDay));
}

TRebootWatch::TOutcome TRebootWatch::Note(TDateTime at, bool passed)
{
    if (outcome_ != TOutcome::Watching)
        return outcome_;
    int64_t since = SecondsSinceOrder(at);
    if (passed) {
        if (downSince_ != 0)
            outcome_ = TOutcome::Back;
        else if (since >= kDownWithinMinutes * 60)
            outcome_ = TOutcome::NotDown;
    } else {
        if (downSince_ == 0)
            downSince_ = at;
        if (since >= kBackWithinMinutes * 60)
            outcome_ = TOutcome::NotBack;
    }
    if (outcome_ != TOutcome::Watching)
        endedAt_ = at;
    return outcome_;
}

TDateTime TRebootWatch::NextCheck(TDateTime now) const { return now + kCycleSeconds / kSecondsPerDay; }

std::wstring TRebootWatch::StatusText(TDateTime now, const std::wstring& separator) const
{
    return L"Rebooting since " + FormatStatusTime(orderedAt_, separator) + L" (" +
           FormatMinutesSeconds(SecondsSinceOrder(now)) + L")";
}

std::wstring TRebootWatch::EndText(const std::wstring& url) const
{
    switch (outcome_) {
    case TOutcome::Back: return url + L": back after " + FormatMinutesSeconds(SecondsSinceOrder(endedAt_));
    case TOutcome::NotDown:
        return url + L": the reboot did not happen; the host answered throughout the first " +
               std::to_wstring(kDownWithinMinutes) + L" minutes";
    case TOutcome::NotBack:
        return url + L": not back " + std::to_wstring(kBackWithinMinutes) + L" minutes after the reboot order";
    default: return {};
    }
}

std::wstring TRebootWatch::TipLine(TDateTime now, const std::wstring& separator) const
{
    std::wstring ordered = FormatStatusTime(orderedAt_, separator);
    switch (outcome_) {
    case TOutcome::Back:
        return L"Reboot ordered at " + ordered + L": back after " + FormatMinutesSeconds(SecondsSinceOrder(endedAt_));
    case TOutcome::NotDown: return L"Reboot ordered at " + ordered + L": it did not happen";
    case TOutcome::NotBack:
        return L"Reboot ordered at " + ordered + L": not back after " + std::to_wstring(kBackWithinMinutes) +
               L" minutes";
    default:
        return downSince_ != 0 ? StatusText(now, separator)
                               : L"Reboot ordered at " + ordered + L": waiting for the host to go down";
    }
}
