// MendrelClient: the local configuration client of the Mendrel service. "/StartService" and "/StopService"
// control the service without a window; otherwise the main window runs until it is closed.
#include "Application.h"
#include "LiteTools.h"
#include "NTTools.h"
#include "Startup.h"
#include "UClientMainFM.h"

#include <windows.h>
#include <ole2.h>

namespace {

// The shell's folder picker and the browser launch want an apartment on the main thread.
class TOleApartment {
public:
    TOleApartment() : initialized_(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~TOleApartment()
    {
        if (initialized_)
            ::OleUninitialize();
    }
    TOleApartment(const TOleApartment&) = delete;
    TOleApartment& operator=(const TOleApartment&) = delete;

private:
    bool initialized_;
};

int RunClient()
{
    TFoundation foundation;
    TOleApartment apartment;
    TApplication app;
    InitializeApplication(app);
    if (auto code = RunServiceSwitches(ParamList()))
        return *code;
    try {
        TfmMain form(app);
        if (!app.Terminated())
            app.Run();
    } catch (const std::exception& error) {
        ShowApplicationErrorBox(ApplicationErrorText(error));
        return 1;
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        return RunClient();
    } catch (const std::exception& error) {
        // The foundation's own start failed; nothing else is up to report it.
        ShowApplicationErrorBox(ApplicationErrorText(error));
        return 1;
    }
}
