#include "VirtualTabletSession.h"

#include "DefaultEepromImage.h"
#include "TraceLine.h"

namespace {

constexpr DWORD kInterfaceWaitMs = 15000;

testing::AssertionResult Failed(const char* what, DWORD error)
{
    return testing::AssertionFailure() << what << " failed with error " << error;
}

} // namespace

testing::AssertionResult VirtualTabletSession::Prepare(const TabletEeprom& initial, const TabletFaults& faults)
{
    if (DWORD error = m_bus.Open())
        return Failed("opening the virtual tablet bus (is its prefix set up? realstack-run.sh makes it)", error);
    VT_STATUS status{};
    if (DWORD error = m_bus.GetStatus(status))
        return Failed("reading the bus's status", error);
    if (status.plugged) {
        testing::AssertionResult unplugged = Unplug();
        if (!unplugged)
            return unplugged;
    }
    // A replug an earlier test's fault asked for may still be due.
    for (int attempt = 0;; ++attempt) {
        const DWORD error = m_bus.Reset();
        if (error == ERROR_SUCCESS)
            break;
        if (attempt == 100)
            return Failed("resetting the bus", error);
        ::Sleep(50);
        if (m_bus.GetStatus(status) == ERROR_SUCCESS && status.plugged)
            m_bus.Unplug();
    }
    if (DWORD error = m_bus.SetEeprom(initial))
        return Failed("setting the EEPROM", error);
    if (DWORD error = m_bus.SetFaults(faults))
        return Failed("setting the faults", error);
    // No serial number string unless a test gives one.
    if (DWORD error = m_bus.SetSerial(std::nullopt))
        return Failed("clearing the serial number", error);
    return testing::AssertionSuccess();
}

testing::AssertionResult VirtualTabletSession::PlugIn(const TabletPlugConfig& config)
{
    if (DWORD error = m_bus.Plug(config))
        return Failed("plugging the tablet in", error);
    m_plugged = config;
    if (!WaitForTabletInterface(config.vendorId, config.productId, true, kInterfaceWaitMs))
        return testing::AssertionFailure() << "the tablet's HID interface did not appear within " << kInterfaceWaitMs
                                           << " ms";
    return testing::AssertionSuccess();
}

testing::AssertionResult VirtualTabletSession::Unplug()
{
    if (DWORD error = m_bus.Unplug())
        return Failed("unplugging the tablet", error);
    if (!WaitForTabletInterface(m_plugged.vendorId, m_plugged.productId, false, kInterfaceWaitMs))
        return testing::AssertionFailure() << "the tablet's HID interface was still there after " << kInterfaceWaitMs
                                           << " ms";
    return testing::AssertionSuccess();
}

std::vector<TraceLine> VirtualTabletSession::Trace()
{
    std::vector<VT_TRACE_RECORD> records;
    std::vector<TraceLine> lines;
    if (m_bus.ReadTrace(0, records) != ERROR_SUCCESS)
        return lines;
    for (const VT_TRACE_RECORD& record : records)
        lines.push_back(ParseTraceLine(FormatTraceLine(record)));
    return lines;
}

TabletEeprom VirtualTabletSession::Eeprom()
{
    TabletEeprom bytes{};
    EXPECT_EQ(ERROR_SUCCESS, m_bus.GetEeprom(bytes));
    return bytes;
}

VT_STATUS VirtualTabletSession::Status()
{
    VT_STATUS status{};
    EXPECT_EQ(ERROR_SUCCESS, m_bus.GetStatus(status));
    return status;
}

TabletEeprom ExpectedAfterUpdate(const TabletEeprom& before)
{
    TabletEeprom after = before;
    for (size_t i = 0; i < DefaultEepromImage.size(); ++i)
        after[i] = DefaultEepromImage[i];
    return after;
}

TabletEeprom ErasedWithOwnTail()
{
    TabletEeprom bytes{};
    bytes.fill(0xFF);
    for (unsigned address = 248; address < 256; ++address)
        bytes[address] = static_cast<BYTE>(0xA0 + (address - 248));
    return bytes;
}
