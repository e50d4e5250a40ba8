#include "TabletModel.h"

#include "TabletWire.h"

static void CopyBytes(void* to, const void* from, unsigned long count)
{
    unsigned char* out = (unsigned char*)to;
    const unsigned char* in = (const unsigned char*)from;
    while (count-- != 0)
        *out++ = *in++;
}

static TABLET_ANSWER Answer(TABLET_MODEL* model, long status)
{
    TABLET_ANSWER answer;
    answer.status = status;
    answer.latencyMs = model->faults.latencyMs;
    ++model->transferCount;
    if (status != TM_SUCCESS)
        ++model->failedCount;
    answer.unplugNow = model->faults.unplugAfterTransfers != 0 &&
                       model->transferCount == model->faults.unplugAfterTransfers;
    return answer;
}

void TabletModel_Init(TABLET_MODEL* model)
{
    unsigned long i;
    unsigned char* bytes = (unsigned char*)model;
    for (i = 0; i < sizeof(*model); ++i)
        bytes[i] = 0;
    for (i = 0; i < VT_EEPROM_SIZE; ++i)
        model->eeprom[i] = 0xFF; /* an erased EEPROM, as the simulated tablet starts */
    model->faults.size = sizeof(model->faults);
    model->faults.stuckAddress = -1;
    model->faults.replugAfterMs = -1;
    model->serial.size = sizeof(model->serial); /* present 0: no serial number string */
}

long TabletModel_CheckConfig(const VT_PLUG_CONFIG* config)
{
    if (config->size != sizeof(*config))
        return TM_INVALID_PARAMETER;
    /* The id byte plus at least one data byte; the bus's descriptor and
     * trace records are sized for VT_MAX_FEATURE_LENGTH. */
    if (config->featureReportByteLength < 2 || config->featureReportByteLength > VT_MAX_FEATURE_LENGTH)
        return TM_INVALID_PARAMETER;
    if (config->firmwareChars > VT_FIRMWARE_CHARS)
        return TM_INVALID_PARAMETER;
    return TM_SUCCESS;
}

long TabletModel_CheckFaults(const VT_FAULTS* faults)
{
    if (faults->size != sizeof(*faults))
        return TM_INVALID_PARAMETER;
    /* A fault must fail the request: a success status here would be a
     * "failure" the caller can never see. */
    if ((faults->failGetAt != 0 && faults->failGetStatus >= 0) ||
        (faults->failSetAt != 0 && faults->failSetStatus >= 0))
        return TM_INVALID_PARAMETER;
    if (faults->stuckAddress < -1 || faults->stuckAddress >= VT_EEPROM_SIZE)
        return TM_INVALID_PARAMETER;
    if (faults->latencyMs > 10000 || faults->replugAfterMs < -1 || faults->replugAfterMs > 600000)
        return TM_INVALID_PARAMETER;
    return TM_SUCCESS;
}

long TabletModel_CheckSerial(const VT_SERIAL* serial)
{
    unsigned i;
    if (serial->size != sizeof(*serial) || serial->present > 1 || serial->chars > VT_SERIAL_CHARS)
        return TM_INVALID_PARAMETER;
    if (!serial->present && serial->chars != 0)
        return TM_INVALID_PARAMETER;
    /* A 0 inside would end the string early for every reader. */
    for (i = 0; i < serial->chars; ++i) {
        if (serial->text[i] == 0)
            return TM_INVALID_PARAMETER;
    }
    return TM_SUCCESS;
}

void TabletModel_SetFaults(TABLET_MODEL* model, const VT_FAULTS* faults)
{
    model->faults = *faults;
    model->getCount = 0;
    model->setCount = 0;
    model->stringCount = 0;
    model->transferCount = 0;
    model->failedCount = 0;
}

void TabletModel_Plug(TABLET_MODEL* model, const VT_PLUG_CONFIG* config)
{
    model->config = *config;
    model->accessOpen = 0;
}

void TabletModel_Unplug(TABLET_MODEL* model)
{
    model->accessOpen = 0;
}

TABLET_ANSWER TabletModel_SetFeature(TABLET_MODEL* model, const unsigned char* report, unsigned long length)
{
    unsigned char code, value, address;
    ++model->setCount;
    if (model->faults.failSetAt != 0 && model->setCount == model->faults.failSetAt)
        return Answer(model, model->faults.failSetStatus);
    if (report == 0 || length < TW_WRITE_MIN_LENGTH || report[0] != TW_REPORT_ID)
        return Answer(model, TM_UNSUCCESSFUL);
    code = report[TW_WRITE_CODE_INDEX];
    value = report[TW_WRITE_VALUE_INDEX];
    if (report[TW_WRITE_CHECK_INDEX] != (unsigned char)(code ^ value))
        return Answer(model, TM_UNSUCCESSFUL);
    if (!model->accessOpen)
        return Answer(model, TM_UNSUCCESSFUL);
    address = (unsigned char)(code - TW_ADDRESS_OFFSET);
    if ((long)address != model->faults.stuckAddress)
        model->eeprom[address] = value;
    return Answer(model, TM_SUCCESS);
}

TABLET_ANSWER TabletModel_GetFeature(TABLET_MODEL* model, unsigned char* report, unsigned long length)
{
    ++model->getCount;
    if (model->faults.failGetAt != 0 && model->getCount == model->faults.failGetAt)
        return Answer(model, model->faults.failGetStatus);
    /* The read address travels only as the request's length. */
    if (report == 0 || length < TW_ADDRESS_OFFSET || length > TW_MAX_READ_LENGTH)
        return Answer(model, TM_UNSUCCESSFUL);
    report[0] = model->eeprom[length - TW_ADDRESS_OFFSET];
    return Answer(model, TM_SUCCESS);
}

static const unsigned short kAccessOn[] = {'E', 'E', 'P', 'R', 'O', 'M', ' ', 'A', 'C', 'C', 'E', 'S', 'S', ' ', 'O', 'N'};
static const unsigned short kAccessOff[] = {'E', 'E', 'P', 'R', 'O', 'M', ' ', 'A', 'C', 'C', 'E', 'S', 'S', ' ', 'O', 'F', 'F'};

/* Nothing is written unless the whole string with its terminator fits. */
static long CopyString(const unsigned short* chars, unsigned long count, unsigned short* text, unsigned long bytes,
                       unsigned long* written)
{
    const unsigned long needed = (count + 1) * sizeof(unsigned short);
    *written = 0;
    if (text == 0 || bytes < needed)
        return TM_BUFFER_TOO_SMALL;
    CopyBytes(text, chars, count * sizeof(unsigned short));
    text[count] = 0;
    *written = needed;
    return TM_SUCCESS;
}

TABLET_ANSWER TabletModel_GetString(TABLET_MODEL* model, unsigned long index, unsigned short* text,
                                    unsigned long bytes, unsigned long* written)
{
    const unsigned short* chars;
    unsigned long count;
    long status;
    ++model->stringCount;
    *written = 0;
    switch (index) {
    case TW_BEGIN_ACCESS_STRING:
        chars = kAccessOn;
        count = sizeof(kAccessOn) / sizeof(kAccessOn[0]);
        break;
    case TW_END_ACCESS_STRING:
        chars = kAccessOff;
        count = sizeof(kAccessOff) / sizeof(kAccessOff[0]);
        break;
    case TW_FIRMWARE_STRING:
        chars = model->config.firmware;
        count = model->config.firmwareChars;
        break;
    default:
        return Answer(model, TM_UNSUCCESSFUL);
    }
    /* Nothing happens on the tablet unless the string fits. */
    status = CopyString(chars, count, text, bytes, written);
    if (status != TM_SUCCESS)
        return Answer(model, status);
    if (index == TW_BEGIN_ACCESS_STRING)
        model->accessOpen = 1;
    else if (index == TW_END_ACCESS_STRING)
        model->accessOpen = 0;
    return Answer(model, TM_SUCCESS);
}

long TabletModel_GetSerial(const TABLET_MODEL* model, unsigned short* text, unsigned long bytes,
                           unsigned long* written)
{
    *written = 0;
    if (!model->serial.present)
        return TM_INVALID_PARAMETER;
    return CopyString(model->serial.text, model->serial.chars, text, bytes, written);
}

static unsigned long PutItem(unsigned char* out, unsigned long at, unsigned char shortTag, unsigned value)
{
    /* A short item with a one-byte value when it fits, else two bytes. */
    if (value <= 0xFF) {
        out[at] = shortTag | 1;
        out[at + 1] = (unsigned char)value;
        return at + 2;
    }
    out[at] = shortTag | 2;
    out[at + 1] = (unsigned char)(value & 0xFF);
    out[at + 2] = (unsigned char)(value >> 8);
    return at + 3;
}

unsigned long TabletModel_ReportDescriptor(const VT_PLUG_CONFIG* config, unsigned char* out,
                                           unsigned long capacity)
{
    unsigned long at = 0;
    if (capacity < 40)
        return 0;
    at = PutItem(out, at, 0x04, config->usagePage);  /* Usage Page */
    at = PutItem(out, at, 0x08, config->usage);      /* Usage */
    out[at++] = 0xA1;                                /* Collection (Application) */
    out[at++] = 0x01;
    out[at++] = 0x85;                                /* Report ID 4 */
    out[at++] = TW_REPORT_ID;
    at = PutItem(out, at, 0x04, 0xFF00);             /* Usage Page (vendor) */
    at = PutItem(out, at, 0x08, 0x01);               /* Usage 1 */
    out[at++] = 0x15;                                /* Logical Minimum 0 */
    out[at++] = 0x00;
    at = PutItem(out, at, 0x24, 0xFF);               /* Logical Maximum 255 */
    out[at++] = 0x75;                                /* Report Size 8 */
    out[at++] = 0x08;
    at = PutItem(out, at, 0x94, (unsigned)config->featureReportByteLength - 1); /* Report Count */
    out[at++] = 0xB1;                                /* Feature (Data, Variable, Absolute) */
    out[at++] = 0x02;
    out[at++] = 0xC0;                                /* End Collection */
    return at;
}
