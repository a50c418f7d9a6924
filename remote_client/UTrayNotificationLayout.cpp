#include "UTrayNotificationLayout.h"

#include "LiteTools.h"

SIZE NotificationSize(const std::wstring& text, const TNotificationMetrics& m)
{
    const int textWidth = m.WWidth * static_cast<int>(text.size()) + m.LabelLeft + m.LabelRight;
    const int textHeight = m.LineHeight * (CountChar(L'\r', text) + 1) + m.LabelTop + m.LabelBottom;

    SIZE size = m.Initial;
    if (m.InitialPanel.cx < m.LabelLeft + textWidth) {
        const int wanted = m.Initial.cx + m.LabelLeft + textWidth - m.InitialPanel.cx;
        const int cap = m.Initial.cx + m.Initial.cx / 2;
        size.cx = wanted < cap ? wanted : cap;
    }
    if (m.InitialPanel.cy < m.LabelTop + textHeight)
        size.cy += m.LabelTop + textHeight - m.InitialPanel.cy;
    return size;
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
