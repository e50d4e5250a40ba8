#include "CmdTarget.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, AfxEntryMessage, 0, 0, nullptr } };
    static const AFX_MSGMAP messageMap = { nullptr, entries };
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CCmdTarget::OnCmdMsg(UINT id, UINT code)
{
    const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), WM_COMMAND, code, id);
    if (entry == nullptr || entry->nKind != AfxEntryCommand)
        return FALSE;
    entry->pfnThunk(this, MAKEWPARAM(id, code), 0);
    return TRUE;
}
