#pragma once
// The tablet's wire format, defined once for the tablet link and for anything
// that stands in for the tablet.
//
// Every EEPROM byte travels in HID feature report 4. A write carries the
// address as a code (address + 8, wrapping, so 248..255 travel as 0..7), the
// value and a check byte. A read carries no address at all: the address is the
// length of the Get Feature request minus 8, and the answer is byte 0.

#include <cstddef>
#include <cstdint>

namespace TabletProtocol {

constexpr std::uint8_t kReportId = 0x04;
constexpr unsigned kAddressOffset = 8;
constexpr unsigned kEepromSize = 256;

// Write report layout: [0] report id, [1] address code, [2] value, [3] check.
constexpr std::size_t kWriteReportMinLength = 4;
constexpr std::size_t kWriteAddressCodeIndex = 1;
constexpr std::size_t kWriteValueIndex = 2;
constexpr std::size_t kWriteCheckIndex = 3;

// Longest read request: address 255 asks for 263 bytes.
constexpr std::size_t kMaxReadLength = kEepromSize - 1 + kAddressOffset;

// Indexed strings the tablet answers.
constexpr unsigned long kBeginAccessString = 20;
constexpr unsigned long kEndAccessString = 21;
constexpr unsigned long kFirmwareString = 98;
constexpr std::size_t kAccessScratchSize = 256;
constexpr unsigned long kAccessStatedLength = 255;

// The supported tablet and the matching rule used to find it.
constexpr std::uint16_t kVendorId = 0x6A3D;
constexpr std::uint16_t kProductId = 0x0042;
constexpr std::uint16_t kUsagePage = 0x0001;
constexpr std::uint16_t kUsage = 0x0000;
constexpr std::uint16_t kMatchAny = 0xFFFF;
constexpr char kFirmwarePrefix[] = "R514";

constexpr std::uint8_t AddressCode(std::uint8_t address)
{
    return static_cast<std::uint8_t>(address + kAddressOffset);
}

constexpr std::uint8_t AddressFromCode(std::uint8_t code)
{
    return static_cast<std::uint8_t>(code - kAddressOffset);
}

constexpr std::uint8_t CheckByte(std::uint8_t code, std::uint8_t value)
{
    return static_cast<std::uint8_t>(code ^ value);
}

constexpr unsigned long ReadRequestLength(std::uint8_t address)
{
    return static_cast<unsigned long>(address) + kAddressOffset;
}

// Fills a write report of `length` bytes; false (and nothing written) when
// the buffer cannot hold the four meaningful bytes.
inline bool BuildWriteReport(std::uint8_t* report, std::size_t length, std::uint8_t address,
                             std::uint8_t value)
{
    if (report == nullptr || length < kWriteReportMinLength)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        report[i] = 0;
    const std::uint8_t code = AddressCode(address);
    report[0] = kReportId;
    report[kWriteAddressCodeIndex] = code;
    report[kWriteValueIndex] = value;
    report[kWriteCheckIndex] = CheckByte(code, value);
    return true;
}

} // namespace TabletProtocol
