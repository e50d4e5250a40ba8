#pragma once
// The common file dialogs, as one interface, so that a test can make them do
// around a choice what Windows' own do (the open dialog moves the current
// directory whatever the flags say), where Wine's do not.

#include <windows.h>

#include <commdlg.h>

class FileDialogSystem {
public:
    virtual ~FileDialogSystem() = default;

    virtual BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) = 0;
    virtual BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn) = 0;
};
