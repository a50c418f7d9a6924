// The program's viewer for compiled HTML help.
#pragma once

#include <windows.h>

#include <string>

// The address of a topic: the help file, "::/", the link, and the suffix unless the link already ends with it
// (letter case ignored).
std::wstring HelpTopicAddress(const std::wstring& helpFile, const std::wstring& link, const std::wstring& suffix);

class THTMLHelpViewer {
public:
    std::wstring HelpFile;
    std::wstring TopicSuffix;

    // Opens the topic, shows and raises its window, and spreads a small window over the whole screen.
    void ShowTopic(const std::wstring& link);
    HWND LastWindow() const { return lastWindow_; }

private:
    HWND lastWindow_ = nullptr;
};

// The program's one help viewer.
THTMLHelpViewer& HelpViewer();
