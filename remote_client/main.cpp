// MendrelRemoteClient: the foundation first, then the main window and its message loop.
#include "URemoteClientMainFM.h"

#include "LiteTools.h"
#include "Startup.h"

#include <objbase.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    std::unique_ptr<TFoundation> foundation;
    try {
        foundation = std::make_unique<TFoundation>();
    } catch (...) {
        std::wstring text = TApplication::ExceptionMessage(std::current_exception());
        ::MessageBoxW(nullptr, text.c_str(), kRemoteClientTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    // The XML store and the checks use COM on this thread, a single-threaded apartment.
    HRESULT ole = ::OleInitialize(nullptr);
    int exitCode;
    {
        TApplication app;
        exitCode = RunRemoteClient(app, ParamList());
    }
    if (SUCCEEDED(ole))
        ::OleUninitialize();
    return exitCode;
}
