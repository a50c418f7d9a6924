#include "Dialogs.h"

#include "Exceptions.h"
#include "Strings.h"
#include "Unique.h"

#include <algorithm>
#include <vector>

namespace {

// Long paths are possible, so the dialogs get room for the longest one the system accepts.
const DWORD kPathBufferLength = 32768;

void FreeItemIdList(PIDLIST_ABSOLUTE list) { ::CoTaskMemFree(list); }
using UniqueItemIdList = Unique<PIDLIST_ABSOLUTE, &FreeItemIdList>;

int CALLBACK SelectStartFolder(HWND dialog, UINT message, LPARAM, LPARAM start)
{
    if (message == BFFM_INITIALIZED && start)
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}

} // namespace

bool TOpenDialog::Execute(HWND owner)
{
    std::vector<wchar_t> buffer(kPathBufferLength, L'\0');
    std::wstring filter = Filter;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 0)
            FileName.copy(buffer.data(), std::min<size_t>(FileName.size(), buffer.size() - 1));
        else
            buffer.assign(buffer.size(), L'\0');
        OPENFILENAMEW info{};
        info.lStructSize = sizeof info;
        info.hwndOwner = owner;
        info.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
        info.lpstrFile = buffer.data();
        info.nMaxFile = static_cast<DWORD>(buffer.size());
        info.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
        info.Flags = Options | OFN_EXPLORER;
        if (::GetOpenFileNameW(&info)) {
            FileName = buffer.data();
            return true;
        }
        DWORD error = ::CommDlgExtendedError();
        if (error == 0)
            return false;
        // A remembered name that the dialog refuses (a file since removed from a drive, say) must not keep
        // the user from picking another: the second attempt starts empty.
        if (error != FNERR_INVALIDFILENAME || attempt == 1)
            throw Exception(
                Format("The file dialog could not be shown (error 0x%lX)", static_cast<unsigned long>(error)));
    }
    return false;
}

bool TPathDialog::Execute(HWND owner)
{
    UniqueItemIdList root;
    if (RootFolder >= 0) {
        PIDLIST_ABSOLUTE list = nullptr;
        if (SUCCEEDED(::SHGetSpecialFolderLocation(owner, RootFolder, &list)))
            root.reset(list);
    }
    std::vector<wchar_t> display(MAX_PATH, L'\0');
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.get();
    info.pszDisplayName = display.data();
    info.lpszTitle = Title.empty() ? nullptr : Title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = &SelectStartFolder;
    info.lParam = Path.empty() ? 0 : reinterpret_cast<LPARAM>(Path.c_str());
    UniqueItemIdList chosen(::SHBrowseForFolderW(&info));
    if (!chosen)
        return false;
    std::vector<wchar_t> path(kPathBufferLength, L'\0');
    if (!::SHGetPathFromIDListEx(chosen.get(), path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
        return false;
    Path = path.data();
    return true;
}
