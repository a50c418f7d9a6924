#include "HTMLHelpApi.h"

namespace {

constexpr UINT kDisplayTopic = 0; // HH_DISPLAY_TOPIC
using THtmlHelpW = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

// The help control is loaded on first use only: most runs never open help.
THtmlHelpW HtmlHelpEntry()
{
    static THtmlHelpW entry = [] {
        HMODULE module = LoadLibraryW(L"hhctrl.ocx");
        return module ? reinterpret_cast<THtmlHelpW>(reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpW")))
                      : nullptr;
    }();
    return entry;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail)
{
    if (tail.size() > text.size())
        return false;
    return CompareStringOrdinal(text.c_str() + text.size() - tail.size(), static_cast<int>(tail.size()), tail.c_str(),
                                static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring HelpTopicAddress(const std::wstring& helpFile, const std::wstring& link, const std::wstring& suffix)
{
    std::wstring address = helpFile + L"::/" + link;
    if (!EndsWithNoCase(link, suffix))
        address += suffix;
    return address;
}

void THTMLHelpViewer::ShowTopic(const std::wstring& link)
{
    THtmlHelpW htmlHelp = HtmlHelpEntry();
    if (!htmlHelp)
        return;
    std::wstring address = HelpTopicAddress(HelpFile, link, TopicSuffix);
    lastWindow_ = htmlHelp(nullptr, address.c_str(), kDisplayTopic, 0);
    if (!lastWindow_)
        return;
    ShowWindow(lastWindow_, SW_SHOW);
    SetForegroundWindow(lastWindow_);
    RECT r;
    GetWindowRect(lastWindow_, &r);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (r.right - r.left < screenWidth / 2 || r.bottom - r.top < screenHeight / 2)
        SetWindowPos(lastWindow_, nullptr, 0, 0, screenWidth, screenHeight, SWP_NOZORDER);
}

THTMLHelpViewer& HelpViewer()
{
    static THTMLHelpViewer viewer;
    return viewer;
}
