#pragma once
// A button, check box or radio button of a dialog.

#include <windows.h>

#include "Wnd.h"

class CButton : public CWnd {
public:
    // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
    int GetCheck() const;
    void SetCheck(int check);
};
