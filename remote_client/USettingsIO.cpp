#include "USettingsIO.h"

#include "Strings.h"
#include "XmlTools.h"

#include <windows.h>

using Microsoft::WRL::ComPtr;

namespace {

std::string EntryName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

template <typename T>
std::vector<std::shared_ptr<T>> LoadSection(const ComPtr<IXMLOptions>& store, const char* section)
{
    std::vector<std::shared_ptr<T>> items;
    if (!store->PathExists(section))
        return items;
    std::optional<std::vector<std::string>> children = store->GetChildList(section);
    if (!children)
        return items;
    items.reserve(children->size());
    for (const std::string& entry : *children) {
        auto item = std::make_shared<T>(store, EntryName(entry));
        item->LoadFromStore();
        items.push_back(std::move(item));
    }
    return items;
}

// Each entry deletes by its element name alone. The entry as listed may carry the element's text after
// "=" (a hand-written item element holding only text), and as a path part that text would select by the
// Name attribute and miss the element, which would then outlive its deletion and come back at the next
// start. Every entry removes one element of its name, so all of them go whatever their order.
template <typename T>
void SaveSection(IXMLOptions& store, const char* section, const std::vector<std::shared_ptr<T>>& items)
{
    if (store.PathExists(section)) {
        std::optional<std::vector<std::string>> children = store.GetChildList(section);
        if (children)
            for (auto it = children->rbegin(); it != children->rend(); ++it)
                store.DeleteChild(store.MakePath({section, EntryName(*it)}));
    }
    for (const auto& item : items)
        item->SaveToStore();
}

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

void ForceFolder(const std::wstring& folder)
{
    // A drive ("C:") or nothing at all ends the climb.
    if (folder.empty() || (folder.size() == 2 && folder[1] == L':') || IsFolder(folder))
        return;
    size_t at = LastSeparator(folder);
    if (at != std::wstring::npos && at > 0)
        ForceFolder(folder.substr(0, at));
    CreateDirectoryW(folder.c_str(), nullptr);
}

} // namespace

ComPtr<IXMLOptions> OpenSettingsStore(const std::wstring& fileName)
{
    return ComPtr<IXMLOptions>(new TXMLOptions(WideToAnsi(fileName)));
}

TServerSettingsList LoadServerSettings(const ComPtr<IXMLOptions>& store)
{
    return LoadSection<TCheckServerSettings>(store, "Servers");
}

TSiteSettingsList LoadSiteSettings(const ComPtr<IXMLOptions>& store)
{
    return LoadSection<TCheckSiteSettings>(store, "Sites");
}

void SaveServerSettings(IXMLOptions& store, const TServerSettingsList& items) { SaveSection(store, "Servers", items); }

void SaveSiteSettings(IXMLOptions& store, const TSiteSettingsList& items) { SaveSection(store, "Sites", items); }

void ForceFileFolder(const std::wstring& fileName)
{
    size_t at = LastSeparator(fileName);
    if (at == std::wstring::npos || at == 0)
        return;
    ForceFolder(fileName.substr(0, at));
}
