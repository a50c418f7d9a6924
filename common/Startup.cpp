#include "Startup.h"

#include "EntryPoints.h"
#include "LangTools.h"
#include "LiteTools.h"

TFoundation::TFoundation()
{
    RunSelfCheck();
    LocaleManager();
    BindEntryPoints();
}

TFoundation::~TFoundation()
{
    ReleaseEntryPoints();
    FreeLocaleManager();
}
