/* The tablet's wire format as the kernel-mode tablet sees it, in C.
 *
 * tablet/TabletProtocol.h is the program's definition (C++); the drivers
 * cannot include it, so they use these names, and a test of the real-stack
 * suite pins every value here to the one there. */
#ifndef VIRTUALTABLET_TABLETWIRE_H
#define VIRTUALTABLET_TABLETWIRE_H

#define TW_REPORT_ID 0x04
#define TW_ADDRESS_OFFSET 8   /* address code = address + 8; a read asks for address + 8 bytes */
#define TW_EEPROM_SIZE 256
#define TW_WRITE_MIN_LENGTH 4 /* [0] id, [1] address code, [2] value, [3] check */
#define TW_WRITE_CODE_INDEX 1
#define TW_WRITE_VALUE_INDEX 2
#define TW_WRITE_CHECK_INDEX 3
#define TW_MAX_READ_LENGTH (TW_EEPROM_SIZE - 1 + TW_ADDRESS_OFFSET)

#define TW_BEGIN_ACCESS_STRING 20
#define TW_END_ACCESS_STRING 21
#define TW_FIRMWARE_STRING 98

#define TW_VENDOR_ID 0x6A3D
#define TW_PRODUCT_ID 0x0042
#define TW_USAGE_PAGE 0x0001
#define TW_USAGE 0x0000

#endif
