// The shell's file and folder pickers as small objects that remember their last choice, so that the next
// pick starts from it.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <string>

// The open-file dialog. Options are the OFN_ flags besides OFN_EXPLORER, which is always given.
class TOpenDialog {
public:
    virtual ~TOpenDialog() = default;

    DWORD Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;
    std::wstring Title;
    // Pairs of description and pattern, each ended by a null character; empty shows every file.
    std::wstring Filter;
    // The full path of the last file chosen; the next pick starts from it.
    std::wstring FileName;

    // True when the user chose a file; a cancelled pick leaves FileName as it was. A dialog that cannot be
    // shown raises the base exception.
    virtual bool Execute(HWND owner);
};

// The folder picker: a tree of folders below a root, with the last folder chosen selected.
class TPathDialog {
public:
    virtual ~TPathDialog() = default;

    std::wstring Title;
    // The root of the tree as a CSIDL_ value; CSIDL_DRIVES is the computer with its drives.
    int RootFolder = CSIDL_DRIVES;
    // The last folder chosen; the next pick starts from it.
    std::wstring Path;

    // True when the user chose a folder of the file system; a cancelled pick leaves Path as it was.
    virtual bool Execute(HWND owner);
};
