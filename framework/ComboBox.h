#pragma once
// A combo box of a dialog.

#include <windows.h>

#include <string>

#include "Wnd.h"

class CComboBox : public CWnd {
public:
    // The new entry's index, or CB_ERR / CB_ERRSPACE.
    int AddString(const char* text);
    int GetCount() const;
    void ResetContent();
    // Empty for an index outside the list.
    std::string GetLBText(int index) const;
};
