#include "TabletTrace.h"

void TabletTrace_Clear(TABLET_TRACE* trace)
{
    trace->next = 0;
    trace->lost = 0;
    trace->readUpTo = 0;
}

void TabletTrace_Add(TABLET_TRACE* trace, unsigned long timeMs, unsigned long kind, long status,
                     unsigned long length, const unsigned char* bytes, unsigned long byteCount)
{
    VT_TRACE_RECORD* record = &trace->records[trace->next % VT_TRACE_CAPACITY];
    unsigned long i;
    if (trace->next >= VT_TRACE_CAPACITY && trace->readUpTo <= trace->next - VT_TRACE_CAPACITY)
        ++trace->lost;
    record->sequence = trace->next;
    record->timeMs = timeMs;
    record->kind = kind;
    record->status = status;
    record->length = length;
    if (bytes == 0)
        byteCount = 0;
    if (byteCount > VT_TRACE_BYTES)
        byteCount = VT_TRACE_BYTES;
    record->byteCount = byteCount;
    for (i = 0; i < byteCount; ++i)
        record->bytes[i] = bytes[i];
    ++trace->next;
}

unsigned long TabletTrace_Read(TABLET_TRACE* trace, unsigned long from, VT_TRACE_HEADER* header,
                               VT_TRACE_RECORD* out, unsigned long capacity)
{
    const unsigned long first = trace->next > VT_TRACE_CAPACITY ? trace->next - VT_TRACE_CAPACITY : 0;
    unsigned long count = 0;
    if (from < first)
        from = first;
    while (from < trace->next && count < capacity) {
        out[count++] = trace->records[from % VT_TRACE_CAPACITY];
        ++from;
    }
    if (from > trace->readUpTo)
        trace->readUpTo = from;
    header->size = sizeof(*header);
    header->count = count;
    header->next = trace->next;
    header->first = first;
    return count;
}
