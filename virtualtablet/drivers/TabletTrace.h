/* The tablet's trace: a ring of the last VT_TRACE_CAPACITY requests and plug
 * events, each with a sequence number, read out by the control interface.
 * Plain C like the model; the bus calls it under its lock. */
#ifndef VIRTUALTABLET_TABLETTRACE_H
#define VIRTUALTABLET_TABLETTRACE_H

#include "VirtualTabletIoctl.h"

typedef struct TABLET_TRACE {
    VT_TRACE_RECORD records[VT_TRACE_CAPACITY];
    unsigned long next;   /* sequence number of the next record */
    unsigned long lost;   /* records overwritten before anyone asked for them */
    unsigned long readUpTo;
} TABLET_TRACE;

void TabletTrace_Clear(TABLET_TRACE* trace);
/* Records one event; copies at most VT_TRACE_BYTES of `bytes`. */
void TabletTrace_Add(TABLET_TRACE* trace, unsigned long timeMs, unsigned long kind, long status,
                     unsigned long length, const unsigned char* bytes, unsigned long byteCount);
/* Copies records from sequence number `from` on into `out` (room for
 * `capacity`); fills the header; returns the number copied. */
unsigned long TabletTrace_Read(TABLET_TRACE* trace, unsigned long from, VT_TRACE_HEADER* header,
                               VT_TRACE_RECORD* out, unsigned long capacity);

#endif
