// The settings file at the sizes of a large installation: opening the store on it, loading both lists
// and saving them, each timed on its own. Usage: store_bench [items...] (default 10000 20000); half of the
// items are servers, half sites. Prints one row per size and the growth from the first size to the others.
// Each figure is the best of several runs, which stays close to the true cost when other programs share
// the machine.
#include "BenchResult.h"
#include "Strings.h"
#include "USettingsIO.h"
#include "XmlTools.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string ItemName(int i) { return Format("Item%08X%08X%08X%08X", i, i * 7919, i ^ 0x5a5a5a5a, 0x1234 + i); }

// Writes a settings file with the given number of items the way the client writes it.
void WriteSettingsFile(const std::wstring& file, int items)
{
    ComPtr<IXMLOptions> store = OpenSettingsStore(file);
    store->Clear();
    TServerSettingsList servers;
    TSiteSettingsList sites;
    for (int i = 0; i < items / 2; ++i) {
        auto s = std::make_shared<TCheckServerSettings>(store, ItemName(i));
        s->Active = i % 3 != 0;
        s->URL = FormatW(L"https://host%d.example.net:8443", i);
        s->CheckIntevalMinutes = 5 + i % 30;
        s->Username = FormatW(L"admin%d", i % 17);
        s->Password = FormatW(L"pass-%08d", i);
        servers.push_back(s);
    }
    for (int i = 0; i < items - items / 2; ++i) {
        auto s = std::make_shared<TCheckSiteSettings>(store, ItemName(items + i));
        s->Active = i % 2 == 0;
        s->URL = FormatW(L"https://www%d.example.org/status?page=%d", i, i % 10);
        s->CheckIntevalMinutes = 10;
        s->CodeToCheck = L"<title>Welcome</title>";
        sites.push_back(s);
    }
    SaveServerSettings(*store.Get(), servers);
    SaveSiteSettings(*store.Get(), sites);
    store->Save();
}

struct TFigures {
    double Open = 0, Load = 0, Save = 0;
};

TFigures Measure(const std::wstring& file, int items)
{
    ComPtr<IXMLOptions> store;
    TServerSettingsList servers;
    TSiteSettingsList sites;
    TFigures f;
    double t = Seconds();
    store = OpenSettingsStore(file);
    f.Open = Seconds() - t;

    t = Seconds();
    sites = LoadSiteSettings(store);
    servers = LoadServerSettings(store);
    f.Load = Seconds() - t;
    if (static_cast<int>(servers.size() + sites.size()) != items) {
        std::fprintf(stderr, "loaded %zu items of %d\n", servers.size() + sites.size(), items);
        std::exit(2);
    }

    t = Seconds();
    SaveServerSettings(*store.Get(), servers);
    SaveSiteSettings(*store.Get(), sites);
    ForceFileFolder(file);
    store->Save();
    f.Save = Seconds() - t;
    return f;
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {10000, 20000};
    constexpr int kRuns = 7;

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = FormatW(L"%lsmendrel-store-bench-%lu", temp, GetCurrentProcessId());
    const std::wstring file = folder + L"\\Settings.xml";
    CreateDirectoryW(folder.c_str(), nullptr);

    std::vector<TFigures> rows;
    int status = 0;
    try {
        for (int items : sizes) {
            WriteSettingsFile(file, items);
            std::vector<double> open, load, save;
            for (int run = 0; run < kRuns; ++run) {
                TFigures f = Measure(file, items);
                open.push_back(f.Open);
                load.push_back(f.Load);
                save.push_back(f.Save);
            }
            rows.push_back({Best(open), Best(load), Best(save)});
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "store_bench: %s\n", e.Message().c_str());
        status = 1;
    }
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
    if (status)
        return status;

    std::printf("Settings store: open, load both lists, save; best of %d runs (seconds)\n", kRuns);
    std::printf("%8s %8s %8s %8s\n", "items", "open", "load", "save");
    for (size_t i = 0; i < rows.size(); ++i)
        std::printf("%8d %8.3f %8.3f %8.3f\n", sizes[i], rows[i].Open, rows[i].Load, rows[i].Save);
    for (size_t i = 1; i < rows.size(); ++i)
        std::printf("growth %d/%d %6.2f %8.2f %8.2f\n", sizes[i], sizes[0], rows[i].Open / rows[0].Open,
                    rows[i].Load / rows[0].Load, rows[i].Save / rows[0].Save);

    // The goals: at most 1 s each at 10,000 items, and twice the items at most 2.2 times as long.
    const char* steps[] = {"open", "load", "save"};
    for (size_t i = 0; i < rows.size(); ++i) {
        double values[] = {rows[i].Open, rows[i].Load, rows[i].Save};
        for (int k = 0; k < 3; ++k) {
            std::string figure = Format("store %s, %d items", steps[k], sizes[i]);
            if (sizes[i] == 10000)
                PrintResultValue(figure.c_str(), "<= 1 s", values[k], "%.2f s", values[k] <= 1.0);
            else
                PrintFigure(figure.c_str(), Format("%.2f s", values[k]).c_str());
        }
    }
    for (size_t i = 1; i < rows.size(); ++i) {
        double first[] = {rows[0].Open, rows[0].Load, rows[0].Save};
        double values[] = {rows[i].Open, rows[i].Load, rows[i].Save};
        double limit = 2.2 * sizes[i] / (2.0 * sizes[0]);
        std::string goal = Format("<= %.2f", limit);
        for (int k = 0; k < 3; ++k) {
            std::string figure = Format("store %s growth, %d / %d items", steps[k], sizes[i], sizes[0]);
            double growth = values[k] / first[k];
            PrintResultValue(figure.c_str(), goal.c_str(), growth, "%.2f", growth <= limit);
        }
    }
    CoUninitialize();
    return 0;
}
