#include "ShellFolders.h"

#include "LiteTools.h"

#include <shlobj.h>

std::wstring GetSpecialFolderPath(int folderId)
{
    wchar_t path[261] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, path);
    Check(hr >= 0, "Failed to find folder path");
    return path;
}

std::wstring GetAppDataFolder()
{
    std::wstring path = GetSpecialFolderPath(CSIDL_APPDATA);
    if (path.empty() || path.back() != L'\\')
        path.push_back(L'\\');
    return path;
}
