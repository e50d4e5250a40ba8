#pragma once
// Shows the system's wait cursor for the lifetime of the object and puts the
// previous cursor back when it ends.

#include <windows.h>

class CWaitCursor {
public:
    CWaitCursor() : m_hPrevious(::SetCursor(::LoadCursor(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(m_hPrevious); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hPrevious;
};
