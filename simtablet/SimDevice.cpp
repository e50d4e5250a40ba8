#include "SimDevice.h"

#include "TabletProtocol.h"

#include <cstring>

namespace {

// The tablet's firmware stalls a request it does not like; the class driver
// hands that to the caller as a general failure.
constexpr DWORD kDeviceRefused = ERROR_GEN_FAILURE;

std::wstring Widen(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int count = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                            nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    return wide;
}

} // namespace

SimDevice::SimDevice(const SimDeviceConfig& config, std::string path)
    : m_config(config), m_path(std::move(path)), m_firmware(Widen(config.firmware, config.firmwareCodePage)),
      m_serialNumber(Widen(config.serialNumber, config.firmwareCodePage)), m_eeprom(config.eeprom)
{
    if (m_firmware.size() > kMaxStringChars)
        m_firmware.resize(kMaxStringChars);
    if (m_serialNumber.size() > kMaxStringChars)
        m_serialNumber.resize(kMaxStringChars);
}

void SimDevice::PlugIn()
{
    m_plugged = true;
    m_everPresent = true;
    ++m_generation;
}

void SimDevice::Unplug()
{
    m_plugged = false;
    m_accessOpen = false; // the tablet loses power, and with it the open access
}

bool SimDevice::CountTransfer()
{
    ++m_transferCount;
    return m_config.unplugAfterTransfers != 0 && m_transferCount == m_config.unplugAfterTransfers;
}

// The HID class driver's checks, made before the device sees anything.
DWORD SimDevice::CheckFeatureRequest(const BYTE* report, ULONG length) const
{
    if (length == 0 || report == nullptr)
        return ERROR_INVALID_USER_BUFFER;
    if (length < m_config.featureReportByteLength)
        return ERROR_INVALID_PARAMETER;
    // The tablet declares feature report 4 only; a generic device declares
    // none that we serve, so every id is unknown to it.
    if (m_config.kind != SimDeviceKind::Tablet || report[0] != TabletProtocol::kReportId)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

DWORD SimDevice::SetFeature(const BYTE* report, ULONG length)
{
    ++m_setCount;
    const DWORD check = CheckFeatureRequest(report, length);
    if (check != ERROR_SUCCESS)
        return check;
    if (m_setCount == m_config.failWriteAt)
        return kDeviceRefused;

    // The driver sends the report's declared length, whatever the caller's
    // buffer holds beyond it.
    const ULONG sent = m_config.featureReportByteLength;
    if (sent < TabletProtocol::kWriteReportMinLength)
        return kDeviceRefused;
    const BYTE code = report[TabletProtocol::kWriteAddressCodeIndex];
    const BYTE value = report[TabletProtocol::kWriteValueIndex];
    if (report[TabletProtocol::kWriteCheckIndex] != TabletProtocol::CheckByte(code, value))
        return kDeviceRefused;
    if (!m_accessOpen)
        return kDeviceRefused;

    const BYTE address = TabletProtocol::AddressFromCode(code);
    if (static_cast<int>(address) != m_config.stuckAddress)
        m_eeprom[address] = value;
    return ERROR_SUCCESS;
}

DWORD SimDevice::GetFeature(BYTE* report, ULONG length)
{
    ++m_getCount;
    const DWORD check = CheckFeatureRequest(report, length);
    if (check != ERROR_SUCCESS)
        return check;
    if (m_getCount == m_config.failReadAt)
        return kDeviceRefused;

    // The read address travels only as the request's length, which the
    // driver passes down whole.
    if (length < TabletProtocol::kAddressOffset || length > TabletProtocol::kMaxReadLength)
        return kDeviceRefused;
    report[0] = m_eeprom[length - TabletProtocol::kAddressOffset];
    return ERROR_SUCCESS;
}

bool SimDevice::FindString(ULONG index, std::wstring* text) const
{
    if (m_config.kind != SimDeviceKind::Tablet)
        return false;
    switch (index) {
    case TabletProtocol::kBeginAccessString:
        *text = L"EEPROM ACCESS ON";
        return true;
    case TabletProtocol::kEndAccessString:
        *text = L"EEPROM ACCESS OFF";
        return true;
    case TabletProtocol::kFirmwareString:
        *text = m_firmware;
        return true;
    default:
        return false;
    }
}

// Nothing is written unless the whole string with its terminator fits.
DWORD SimDevice::CopyString(const std::wstring& text, void* buffer, ULONG length)
{
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (buffer == nullptr || length < bytes)
        return ERROR_INVALID_USER_BUFFER;
    std::memcpy(buffer, text.c_str(), bytes);
    return ERROR_SUCCESS;
}

DWORD SimDevice::GetIndexedString(ULONG index, void* buffer, ULONG length)
{
    std::wstring text;
    if (!FindString(index, &text))
        return kDeviceRefused;
    // Nothing happens on the device either unless the string fits.
    const DWORD copied = CopyString(text, buffer, length);
    if (copied != ERROR_SUCCESS)
        return copied;

    if (index == TabletProtocol::kBeginAccessString)
        m_accessOpen = true;
    else if (index == TabletProtocol::kEndAccessString)
        m_accessOpen = false;
    return ERROR_SUCCESS;
}

// Any device may have a serial number string; one without it (a descriptor
// whose iSerialNumber is 0) has its request stalled. A buffer beyond the
// class driver's limit fails before the device is asked.
DWORD SimDevice::GetSerialNumberString(void* buffer, ULONG length)
{
    if (length > kMaxStringBufferBytes)
        return ERROR_GEN_FAILURE;
    if (m_serialNumber.empty())
        return kDeviceRefused;
    return CopyString(m_serialNumber, buffer, length);
}
