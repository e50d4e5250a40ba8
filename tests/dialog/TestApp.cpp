// The test program's application object, as the product has one: no name, so
// message boxes are captioned with the executable's base name.
#include "WinApp.h"

CWinApp theTestApp;
