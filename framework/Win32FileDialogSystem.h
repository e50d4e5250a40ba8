#pragma once
#include "FileDialogSystem.h"

// The system's own file dialogs. Not final: a test derives from it to show
// the real dialog and then do what Windows does after it.
class Win32FileDialogSystem : public FileDialogSystem {
public:
    BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) override;
    BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn) override;
};
