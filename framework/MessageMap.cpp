#include "MessageMap.h"

namespace {

const AFX_MSGMAP_ENTRY* FindInTable(const AFX_MSGMAP_ENTRY* entry, UINT message, UINT code, UINT id)
{
    const AFX_MSGMAP_ENTRY* messageEntry = nullptr;
    for (; entry->nMessage != 0; ++entry) {
        if (entry->nMessage != message)
            continue;
        if (entry->nKind == AfxEntryCommand) {
            if (entry->nID == id && entry->nCode == code)
                return entry;
        } else if (messageEntry == nullptr) {
            messageEntry = entry;
        }
    }
    return messageEntry;
}

} // namespace

const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id)
{
    if (message == 0)
        return nullptr;
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        if (const AFX_MSGMAP_ENTRY* entry = FindInTable(map->lpEntries, message, code, id))
            return entry;
    }
    return nullptr;
}
