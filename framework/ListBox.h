#pragma once
// A list box of a dialog.

#include <windows.h>

#include <string>

#include "Wnd.h"

class CListBox : public CWnd {
public:
    // The new entry's index, or LB_ERR / LB_ERRSPACE.
    int AddString(const char* text);
    int GetCount() const;
    void ResetContent();
    // Empty for an index outside the list.
    std::string GetText(int index) const;
};
