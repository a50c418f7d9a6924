#include "UCheckSettings.h"

#include "LiteTools.h"
#include "Strings.h"

namespace {

std::string ItemPath(IXMLOptions& store, const char* section, const std::string& itemName, const char* key)
{
    return store.MakePath({section, itemName, key});
}

bool ReadActive(IXMLOptions& store, const std::string& path)
{
    return TextToBool(store.GetWideStringDef(path, L"False"), false);
}

// An empty element reads as null, which fails the conversion like any text that is not an integer.
int ReadInterval(IXMLOptions& store, const std::string& path)
{
    return store.GetValueDef(path, TOptionValue(10)).ToInteger();
}

TOptionValue ActiveText(bool active) { return TOptionValue(AnsiToWide(BoolToText(active))); }

} // namespace

void TCheckServerSettings::LoadFromStore()
{
    IXMLOptions& store = *Store.Get();
    Active = ReadActive(store, ItemPath(store, "Servers", ItemName, "Active"));
    URL = store.GetWideStringDef(ItemPath(store, "Servers", ItemName, "URL"), L"");
    CheckIntevalMinutes = ReadInterval(store, ItemPath(store, "Servers", ItemName, "CheckIntevalMinutes"));
    Username = store.GetWideStringDef(ItemPath(store, "Servers", ItemName, "Username"), L"");
    Password = store.GetWideStringDef(ItemPath(store, "Servers", ItemName, "Password"), L"");
}

void TCheckServerSettings::SaveToStore()
{
    IXMLOptions& store = *Store.Get();
    store.SetValue(ItemPath(store, "Servers", ItemName, "Active"), ActiveText(Active));
    store.SetValue(ItemPath(store, "Servers", ItemName, "URL"), TOptionValue(URL));
    store.SetValue(ItemPath(store, "Servers", ItemName, "CheckIntevalMinutes"), TOptionValue(CheckIntevalMinutes));
    store.SetValue(ItemPath(store, "Servers", ItemName, "Username"), TOptionValue(Username));
    store.SetValue(ItemPath(store, "Servers", ItemName, "Password"), TOptionValue(Password));
}

void TCheckSiteSettings::LoadFromStore()
{
    IXMLOptions& store = *Store.Get();
    Active = ReadActive(store, ItemPath(store, "Sites", ItemName, "Active"));
    URL = store.GetWideStringDef(ItemPath(store, "Sites", ItemName, "URL"), L"");
    CheckIntevalMinutes = ReadInterval(store, ItemPath(store, "Sites", ItemName, "CheckIntevalMinutes"));
    CodeToCheck = store.GetWideStringDef(ItemPath(store, "Sites", ItemName, "CodeToCheck"), L"");
}

void TCheckSiteSettings::SaveToStore()
{
    IXMLOptions& store = *Store.Get();
    store.SetValue(ItemPath(store, "Sites", ItemName, "Active"), ActiveText(Active));
    store.SetValue(ItemPath(store, "Sites", ItemName, "URL"), TOptionValue(URL));
    store.SetValue(ItemPath(store, "Sites", ItemName, "CheckIntevalMinutes"), TOptionValue(CheckIntevalMinutes));
    store.SetValue(ItemPath(store, "Sites", ItemName, "CodeToCheck"), TOptionValue(CodeToCheck));
}
