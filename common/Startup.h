// What both programs set up first on the main thread, and release at exit.
#pragma once

// Runs the self-check, creates the localization manager with its neutral data and binds the optional
// entry points; its destructor releases the libraries and frees the manager.
class TFoundation {
public:
    TFoundation();
    ~TFoundation();
    TFoundation(const TFoundation&) = delete;
    TFoundation& operator=(const TFoundation&) = delete;
};
