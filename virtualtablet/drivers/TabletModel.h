/* The tablet itself: its EEPROM, what it answers to each HID request, and the
 * faults a test sets. Plain C without a single kernel call, so that the bus
 * driver holds it under its lock and nothing here can block or allocate.
 *
 * It is the same model as the simulated tablet of simtablet/: report 4, the
 * address of a write as its address code, the address of a read as the
 * length of the request, writes refused outside an access that string 20
 * opens and string 21 closes, the firmware identity as string 98. */
#ifndef VIRTUALTABLET_TABLETMODEL_H
#define VIRTUALTABLET_TABLETMODEL_H

#include "VirtualTabletIoctl.h"

/* NTSTATUS values the tablet answers with (from ntstatus.h). */
#define TM_SUCCESS 0L
#define TM_UNSUCCESSFUL ((long)0xC0000001L)      /* the firmware stalls the request */
#define TM_INVALID_PARAMETER ((long)0xC000000DL)
#define TM_BUFFER_TOO_SMALL ((long)0xC0000023L)
#define TM_DEVICE_NOT_CONNECTED ((long)0xC000009DL)

typedef struct TABLET_MODEL {
    VT_PLUG_CONFIG config;
    VT_FAULTS faults;
    VT_SERIAL serial;             /* none until set; kept across unplugs, as the EEPROM is */
    unsigned char eeprom[VT_EEPROM_SIZE];
    int accessOpen;
    unsigned long getCount;       /* since the faults were set */
    unsigned long setCount;
    unsigned long stringCount;
    unsigned long transferCount;
    unsigned long failedCount;
} TABLET_MODEL;

/* What one request did, for the bus to act on after it let go of its lock. */
typedef struct TABLET_ANSWER {
    long status;
    unsigned long latencyMs;   /* answer this much later */
    int unplugNow;             /* this was the request after which the tablet goes */
} TABLET_ANSWER;

void TabletModel_Init(TABLET_MODEL* model);
/* Takes a plug configuration that VT_IOCTL_PLUG checked with TabletModel_CheckConfig. */
void TabletModel_Plug(TABLET_MODEL* model, const VT_PLUG_CONFIG* config);
/* The tablet loses power, and with it the open access. */
void TabletModel_Unplug(TABLET_MODEL* model);
/* 0 when the configuration is one the tablet can take. */
long TabletModel_CheckConfig(const VT_PLUG_CONFIG* config);
long TabletModel_CheckFaults(const VT_FAULTS* faults);
long TabletModel_CheckSerial(const VT_SERIAL* serial);
void TabletModel_SetFaults(TABLET_MODEL* model, const VT_FAULTS* faults);

/* `report` holds `length` bytes (the packet's reportBufferLen). */
TABLET_ANSWER TabletModel_SetFeature(TABLET_MODEL* model, const unsigned char* report, unsigned long length);
TABLET_ANSWER TabletModel_GetFeature(TABLET_MODEL* model, unsigned char* report, unsigned long length);
/* Writes the string with its terminator into `text` (room for `bytes`
 * bytes), nothing unless it all fits; `*written` gets the bytes written. */
TABLET_ANSWER TabletModel_GetString(TABLET_MODEL* model, unsigned long index, unsigned short* text,
                                    unsigned long bytes, unsigned long* written);

/* The USB serial number string, with its terminator, into `text` as
 * TabletModel_GetString writes; TM_INVALID_PARAMETER when the tablet has
 * none. Answered from the tablet's USB descriptor, not by its firmware:
 * no fault, latency or count applies. */
long TabletModel_GetSerial(const TABLET_MODEL* model, unsigned short* text, unsigned long bytes,
                           unsigned long* written);

/* The HID report descriptor of the plugged configuration: one application
 * collection of the configured usage page and usage, with feature report 4
 * of featureReportByteLength bytes (the id included). Returns its length,
 * 0 when `capacity` is too small. */
unsigned long TabletModel_ReportDescriptor(const VT_PLUG_CONFIG* config, unsigned char* out,
                                           unsigned long capacity);

#endif
