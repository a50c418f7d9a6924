// Special-folder lookup (wide strings).
#pragma once

#include <string>

std::wstring GetSpecialFolderPath(int folderId);
// The roaming application-data folder, always with a trailing backslash.
std::wstring GetAppDataFolder();
