// The drivers' C view of the wire format (TabletWire.h) is the program's
// own (TabletProtocol.h), value for value.

#include "TabletProtocol.h"
#include "TabletWire.h"

#include <gtest/gtest.h>

TEST(TabletWire, EveryValueIsTheProgramsOwn)
{
    struct Pair {
        const char* name;
        unsigned long wire;
        unsigned long program;
    };
    const Pair pairs[] = {
        {"report id", TW_REPORT_ID, TabletProtocol::kReportId},
        {"address offset", TW_ADDRESS_OFFSET, TabletProtocol::kAddressOffset},
        {"EEPROM size", TW_EEPROM_SIZE, TabletProtocol::kEepromSize},
        {"write length", TW_WRITE_MIN_LENGTH, TabletProtocol::kWriteReportMinLength},
        {"code index", TW_WRITE_CODE_INDEX, TabletProtocol::kWriteAddressCodeIndex},
        {"value index", TW_WRITE_VALUE_INDEX, TabletProtocol::kWriteValueIndex},
        {"check index", TW_WRITE_CHECK_INDEX, TabletProtocol::kWriteCheckIndex},
        {"longest read", TW_MAX_READ_LENGTH, TabletProtocol::kMaxReadLength},
        {"begin access", TW_BEGIN_ACCESS_STRING, TabletProtocol::kBeginAccessString},
        {"end access", TW_END_ACCESS_STRING, TabletProtocol::kEndAccessString},
        {"firmware string", TW_FIRMWARE_STRING, TabletProtocol::kFirmwareString},
        {"vendor id", TW_VENDOR_ID, TabletProtocol::kVendorId},
        {"product id", TW_PRODUCT_ID, TabletProtocol::kProductId},
        {"usage page", TW_USAGE_PAGE, TabletProtocol::kUsagePage},
        {"usage", TW_USAGE, TabletProtocol::kUsage},
    };
    for (const Pair& pair : pairs)
        EXPECT_EQ(pair.program, pair.wire) << pair.name;
}
