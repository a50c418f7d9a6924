// The persisted settings of a monitored item: a server that runs the Mendrel service, or a web site.
#pragma once

#include "CommonOptions.h"

#include <wrl/client.h>

#include <string>

// The key is spelt without the r of interval in the file and in every path.
class TCheckServerSettings : public TObject {
public:
    TCheckServerSettings(Microsoft::WRL::ComPtr<IXMLOptions> store, std::string itemName)
        : Store(std::move(store)), ItemName(std::move(itemName))
    {
    }
    void LoadFromStore();
    void SaveToStore();

    int CheckIntevalMinutes = 0;
    std::wstring Password;
    std::wstring URL;
    bool Active = false;
    std::wstring Username;
    Microsoft::WRL::ComPtr<IXMLOptions> Store;
    std::string ItemName;
};

class TCheckSiteSettings : public TObject {
public:
    TCheckSiteSettings(Microsoft::WRL::ComPtr<IXMLOptions> store, std::string itemName)
        : Store(std::move(store)), ItemName(std::move(itemName))
    {
    }
    void LoadFromStore();
    void SaveToStore();

    std::wstring CodeToCheck;
    int CheckIntevalMinutes = 0;
    std::wstring URL;
    bool Active = false;
    Microsoft::WRL::ComPtr<IXMLOptions> Store;
    std::string ItemName;
};
