#include "DeviceBroadcast.h"

#include <cstddef>

namespace {

// The header, once its dbch_size says the header itself is there; then the
// report of `type` that reaches at least `needed` bytes.
const DEV_BROADCAST_HDR* Report(LPARAM eventData, DWORD type, std::size_t needed)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(eventData);
    if (header == nullptr || header->dbch_size < sizeof(DEV_BROADCAST_HDR))
        return nullptr;
    if (header->dbch_devicetype != type || header->dbch_size < needed)
        return nullptr;
    return header;
}

} // namespace

// As far as the fields read: what follows them (the interface's name, a
// handle report's event GUID and data) is neither read nor, for the handle's
// standard events, documented as meaningful.
const DEV_BROADCAST_DEVICEINTERFACE_A* DeviceBroadcast::Interface(LPARAM eventData)
{
    return reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(
        Report(eventData, DBT_DEVTYP_DEVICEINTERFACE, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)));
}

const DEV_BROADCAST_HANDLE* DeviceBroadcast::Handle(LPARAM eventData)
{
    return reinterpret_cast<const DEV_BROADCAST_HANDLE*>(
        Report(eventData, DBT_DEVTYP_HANDLE, offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid)));
}
