#include "EntryPoints.h"

#include <vector>

namespace {

TEntryPoints g_table;
struct BoundLibrary {
    HMODULE module;
    TLibraryLoader* loader;
};
std::vector<BoundLibrary> g_libraries;
TLibraryLoader g_systemLoader;

// A handle of 0 or all ones counts as not loaded.
HMODULE LoadBound(TLibraryLoader& loader, const char* name)
{
    HMODULE module = loader.Load(name);
    if (!module || module == reinterpret_cast<HMODULE>(INVALID_HANDLE_VALUE))
        return nullptr;
    g_libraries.push_back({module, &loader});
    return module;
}

template <typename T>
T FindEntry(TLibraryLoader& loader, HMODULE module, const char* entry)
{
    return module ? reinterpret_cast<T>(reinterpret_cast<void*>(loader.Find(module, entry))) : nullptr;
}

} // namespace

const TEntryPoints& EntryPoints() { return g_table; }

void SetEntryPoints(const TEntryPoints& table) { g_table = table; }

void BindEntryPoints(TLibraryLoader& loader)
{
    ReleaseEntryPoints();
    HMODULE credui = LoadBound(loader, "Credui.dll");
    g_table.CredUIPromptForCredentialsA =
        FindEntry<TCredUIPromptForCredentialsA>(loader, credui, "CredUIPromptForCredentialsA");
    HMODULE shell32 = LoadBound(loader, "shell32.dll");
    g_table.IsUserAnAdmin = FindEntry<TIsUserAnAdmin>(loader, shell32, "IsUserAnAdmin");
}

void BindEntryPoints() { BindEntryPoints(g_systemLoader); }

void ReleaseEntryPoints()
{
    g_table = {};
    for (auto it = g_libraries.rbegin(); it != g_libraries.rend(); ++it)
        it->loader->Free(it->module);
    g_libraries.clear();
}
