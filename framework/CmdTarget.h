#pragma once
// The root of everything that owns a message map: windows and the
// application object.

#include <windows.h>

#include "MessageMap.h"

class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Offers a command to this object's map chain; TRUE when a handler took it.
    virtual BOOL OnCmdMsg(UINT id, UINT code);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};
