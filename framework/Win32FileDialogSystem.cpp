#include "Win32FileDialogSystem.h"

BOOL Win32FileDialogSystem::GetOpenFileNameA(LPOPENFILENAMEA ofn)
{
    return ::GetOpenFileNameA(ofn);
}

BOOL Win32FileDialogSystem::GetSaveFileNameA(LPOPENFILENAMEA ofn)
{
    return ::GetSaveFileNameA(ofn);
}
