#include "Framework.h"
#include "SystemLibrary.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    // First of all: whatever is loaded from here on by bare name (by us, or
    // by system DLLs for the file dialogs, themes and input methods) comes
    // from the system directory, never from the folder the program was
    // downloaded into.
    SystemLibrary::RestrictSearchToSystemDirectory();
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
