// The window-free side of the main window's settings operations: filling the server and site lists from
// the store, bringing the store in line with the lists, and making the settings file's folder.
#pragma once

#include "CommonOptions.h"
#include "UCheckSettings.h"

#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

using TServerSettingsList = std::vector<std::shared_ptr<TCheckServerSettings>>;
using TSiteSettingsList = std::vector<std::shared_ptr<TCheckSiteSettings>>;

// The store on the settings file: loaded when the file exists, else empty (nothing is written).
// The store takes narrow file names, so the path is converted to the system code page.
Microsoft::WRL::ComPtr<IXMLOptions> OpenSettingsStore(const std::wstring& fileName);

// One settings object per child element of "Servers" (or "Sites"), in document order, named by the
// element's name whatever it is, each loaded from the store. No section gives an empty list. A failing
// load (a CheckIntevalMinutes that is not an integer, a value element holding elements) passes its error
// on; the objects made so far are freed.
TServerSettingsList LoadServerSettings(const Microsoft::WRL::ComPtr<IXMLOptions>& store);
TSiteSettingsList LoadSiteSettings(const Microsoft::WRL::ComPtr<IXMLOptions>& store);

// Rewrites "Servers" (or "Sites") from the items: every child element is deleted, from the last to the
// first, then each item is saved in the order given (the window passes its rows' order). The section
// itself stays, empty when there are no items; it is created by the first item saved into it.
// Errors of the store pass on. The file is not written: Save on the store does that.
void SaveServerSettings(IXMLOptions& store, const TServerSettingsList& items);
void SaveSiteSettings(IXMLOptions& store, const TSiteSettingsList& items);

// Creates the folder of a file (the path up to its last backslash) with every missing parent, the
// outermost first; folders that exist are left alone. Failures are not reported: the save that follows
// fails with the system's message.
void ForceFileFolder(const std::wstring& fileName);
