#include "UTrayNotificationLayout.h"

#include "LiteTools.h"

namespace {

int WindowHeightForLines(int lines, const TNotificationMetrics& m)
{
    const int textHeight = m.LineHeight * lines + m.LabelTop + m.LabelBottom;
    return m.InitialPanel.cy < m.LabelTop + textHeight ? m.Initial.cy + m.LabelTop + textHeight - m.InitialPanel.cy
                                                       : m.Initial.cy;
}

} // namespace

SIZE NotificationSize(const std::wstring& text, const TNotificationMetrics& m)
{
    const int textWidth = m.WWidth * static_cast<int>(text.size()) + m.LabelLeft + m.LabelRight;

    SIZE size = m.Initial;
    if (m.InitialPanel.cx < m.LabelLeft + textWidth) {
        const int wanted = m.Initial.cx + m.LabelLeft + textWidth - m.InitialPanel.cx;
        const int cap = m.Initial.cx + m.Initial.cx / 2;
        size.cx = wanted < cap ? wanted : cap;
    }
    size.cy = WindowHeightForLines(CountChar(L'\r', text) + 1, m);
    return size;
}

std::wstring FitNotificationText(const std::wstring& text, const TNotificationMetrics& m, int maxHeight)
{
    const int lines = CountChar(L'\r', text) + 1;
    // The first line and the count stand whatever the height, so two lines stay as they are.
    if (lines <= 2 || WindowHeightForLines(lines, m) <= maxHeight)
        return text;
    int fitting = 2;
    while (fitting < lines && WindowHeightForLines(fitting + 1, m) <= maxHeight)
        ++fitting;
    const int kept = fitting - 1;
    size_t end = 0;
    for (int i = 0; i < kept; ++i)
        end = text.find(L'\r', i == 0 ? 0 : end + 1);
    return text.substr(0, end) + L"\r\n... and " + std::to_wstring(lines - kept) + L" more";
}

POINT NotificationPosition(SIZE window, SIZE desktopClient, const RECT* taskbar, const RECT& workArea)
{
    const bool taskbarAtBottom = taskbar && taskbar->top > 0 && taskbar->left <= 0 &&
                                 taskbar->right >= desktopClient.cx && taskbar->bottom >= desktopClient.cy;
    if (taskbarAtBottom) {
        const int taskbarHeight = taskbar->bottom - taskbar->top;
        return {desktopClient.cx - window.cx - 20, desktopClient.cy - taskbarHeight - window.cy - 5};
    }
    return {workArea.right - window.cx - 20, workArea.bottom - window.cy - 5};
}
