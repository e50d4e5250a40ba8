#pragma once
// The application's message boxes.

#include <windows.h>

#include <string>

// A message box captioned with the application title, owned by the main
// window when there is one. With no icon named, MB_OK, MB_OKCANCEL, MB_YESNO
// and MB_YESNOCANCEL boxes get the exclamation icon. helpId is kept for the
// classic signature; this program has no help file.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);

// format with every %1 replaced by s1 and every %2 by s2 (null counts as
// empty); any other % sequence is copied as it stands.
std::string AfxFormatString2(const char* format, const char* s1, const char* s2);
