#include "SimBus.h"

#include "SimHidGuids.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// Each kind of opaque value lives in its own range, far from the small
// multiples of four that real kernel handles are, so a simulated handle
// never names a real object and one kind is never taken for another.
constexpr std::uintptr_t kHandleBase = 0x6A3D0000;
constexpr std::uintptr_t kPreparsedBase = 0x6B3D0000;
constexpr std::uintptr_t kDeviceSetBase = 0x6C3D0000;

// How long PumpMessages waits at most for the reports to be taken.
constexpr DWORD kPumpLimitMs = 5000;

BOOLEAN Fail(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool WantsRead(DWORD access)
{
    return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
}

bool WantsWrite(DWORD access)
{
    return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

// True when `time` has come by `now`, across the tick count's wrap.
bool IsDue(DWORD time, DWORD now)
{
    return static_cast<LONG>(now - time) >= 0;
}

DWORD DevInstOf(std::size_t device)
{
    return static_cast<DWORD>(device + 1);
}

} // namespace

SimBus::SimBus(SimClockKind clock)
    : m_clock(clock), m_handles(kHandleBase, 4), m_preparsed(kPreparsedBase, 0x10),
      m_sets(kDeviceSetBase, 0x10), m_delivery([this] { OnTimer(); }),
      m_notifications(m_delivery)
{
}

// ---------------------------------------------------------------------------
// The bus

void SimBus::AddDevice(const SimDeviceConfig& config)
{
    if (config.name.empty())
        throw std::invalid_argument("a simulated device needs a name");
    if (FindDeviceIndex(config.name) != kNoDevice)
        throw std::invalid_argument("two simulated devices named " + config.name);
    m_devices.push_back(std::make_unique<SimDevice>(config, MakeDevicePath(config)));
    const std::size_t index = m_devices.size() - 1;
    if (config.plugInAfterMs < 0)
        m_devices[index]->PlugIn(); // present from the start: no report, no trace
    else
        Schedule(m_clock.Now() + static_cast<DWORD>(config.plugInAfterMs), index);
}

bool SimBus::Plug(const std::string& name)
{
    const std::size_t index = FindDeviceIndex(name);
    if (index == kNoDevice || m_devices[index]->IsPlugged())
        return false;
    PlugDevice(index);
    return true;
}

bool SimBus::Unplug(const std::string& name, bool queryFirst)
{
    const std::size_t index = FindDeviceIndex(name);
    if (index == kNoDevice || !m_devices[index]->IsPlugged())
        return false;
    UnplugDevice(index, queryFirst, false);
    return true;
}

SimDevice* SimBus::FindDevice(const std::string& name)
{
    const std::size_t index = FindDeviceIndex(name);
    return index == kNoDevice ? nullptr : m_devices[index].get();
}

const SimDevice* SimBus::FindDevice(const std::string& name) const
{
    const std::size_t index = FindDeviceIndex(name);
    return index == kNoDevice ? nullptr : m_devices[index].get();
}

unsigned SimBus::OpenHandleCount(const std::string& name) const
{
    const std::size_t index = FindDeviceIndex(name);
    unsigned count = 0;
    for (const auto& entry : m_handles.Items())
        if (entry.second.device == index)
            ++count;
    return count;
}

void SimBus::PumpMessages()
{
    FireDueEvents();
    ArmTimer();
    // Until every report has been sent and every removal decided. Taking the
    // delivery window's own posted messages (the decisions) and, while
    // waiting, the reports sent to this thread leaves everything else posted
    // to the thread's windows in its queue. Bounded, in case a recipient
    // lives on a thread that never takes its sent messages.
    const DWORD start = ::GetTickCount();
    while (m_delivery.PendingCount() != 0 && ::GetTickCount() - start < kPumpLimitMs) {
        MSG msg;
        while (::PeekMessageA(&msg, m_delivery.Handle(), 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        if (m_delivery.PendingCount() != 0)
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE | QS_POSTMESSAGE);
    }
}

std::size_t SimBus::FindDeviceIndex(const std::string& name) const
{
    for (std::size_t i = 0; i < m_devices.size(); ++i)
        if (SameText(m_devices[i]->Name(), name))
            return i;
    return kNoDevice;
}

bool SimBus::IsLive(const OpenHandle& handle) const
{
    const SimDevice& device = *m_devices[handle.device];
    return device.IsPlugged() && device.Generation() == handle.generation;
}

std::string SimBus::MakeDevicePath(const SimDeviceConfig& config) const
{
    // Shaped like the paths Windows gives HID interfaces: lower-case ids, an
    // instance id that differs per device, the interface class GUID.
    std::uint32_t hash = 2166136261u; // FNV-1a over the name and the bus position
    const std::string seed = config.name + "#" + std::to_string(m_devices.size());
    for (const char c : seed)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;

    for (;; ++hash) {
        char path[128];
        std::snprintf(path, sizeof(path),
                      "\\\\?\\hid#vid_%04x&pid_%04x#7&%08lx&0&0000#"
                      "{4d1e55b2-f16f-11cf-88cb-001111000030}",
                      static_cast<unsigned>(config.vendorId), static_cast<unsigned>(config.productId),
                      static_cast<unsigned long>(hash));
        const bool taken = std::any_of(m_devices.begin(), m_devices.end(),
                                       [&](const auto& device) { return SameText(device->Path(), path); });
        if (!taken)
            return path;
    }
}

void SimBus::Record(const SimDevice& device, DWORD time, const char* call, std::string arguments,
                    std::string result)
{
    SimTraceEntry entry;
    entry.timeMs = time;
    entry.device = device.Name();
    entry.call = call;
    entry.arguments = std::move(arguments);
    entry.result = std::move(result);
    m_trace.Add(std::move(entry));
}

void SimBus::PlugDevice(std::size_t index)
{
    SimDevice& device = *m_devices[index];
    device.PlugIn();
    Record(device, m_clock.Now(), "Plug", std::string(), "1");
    m_notifications.QueueArrival(device.Path());
}

void SimBus::UnplugDevice(std::size_t index, bool queryFirst, bool replug)
{
    SimDevice& device = *m_devices[index];
    const unsigned generation = device.Generation();
    if (queryFirst) {
        // The device stays until every handle holder has been asked.
        Record(device, m_clock.Now(), "QueryRemove", std::string(), "1");
        m_notifications.QueueQueries(index, generation);
        m_delivery.QueueDecision([this, index, generation, replug](bool denied) {
            DecideRemoval(index, generation, denied, replug);
        });
        return;
    }
    device.Unplug();
    Record(device, m_clock.Now(), "Unplug", std::string(), "1");
    m_notifications.QueueRemoval(index, generation, device.Path());
    if (replug)
        Schedule(m_clock.Now() + static_cast<DWORD>(device.Config().replugAfterMs), index);
}

// Windows refuses an orderly removal when a recipient denied the query, and
// also when a handle to the device is still open once every query has been
// answered: then each handle holder hears DBT_DEVICEQUERYREMOVEFAILED and
// the device stays.
void SimBus::DecideRemoval(std::size_t index, unsigned generation, bool denied, bool replug)
{
    SimDevice& device = *m_devices[index];
    if (!device.IsPlugged() || device.Generation() != generation)
        return; // pulled out meanwhile: that removal has been reported
    unsigned open = 0;
    for (const auto& entry : m_handles.Items())
        if (entry.second.device == index && IsLive(entry.second))
            ++open;
    if (denied || open != 0 || device.Config().queryRemoveFails) {
        Record(device, m_clock.Now(), "RemoveVetoed",
               denied ? "denied" : open != 0 ? std::to_string(open) + " open" : "scripted", "1");
        m_notifications.QueueQueryFailed(index, generation);
        return;
    }
    UnplugDevice(index, false, replug);
}

void SimBus::AfterTransfer(std::size_t index)
{
    SimDevice& device = *m_devices[index];
    if (!device.CountTransfer())
        return;
    UnplugDevice(index, device.Config().removeOrderly, device.Config().replugAfterMs >= 0);
}

// ---------------------------------------------------------------------------
// Timed events: devices that arrive later or come back after an unplug. They
// fire from the thread's message loop, through the delivery window's timer.

void SimBus::Schedule(DWORD due, std::size_t device)
{
    TimedPlug event;
    event.due = due;
    event.device = device;
    m_timeline.push_back(event);
    ArmTimer();
}

void SimBus::ArmTimer()
{
    if (m_timeline.empty()) {
        m_delivery.DisarmTimer();
        return;
    }
    if (m_clock.Kind() == SimClockKind::Virtual) {
        // Nothing passes on the virtual clock while the thread waits, so the
        // first idle moment of the message loop is when the event is due.
        m_delivery.ArmTimer(0);
        return;
    }
    const DWORD now = m_clock.Now();
    DWORD wait = 0xFFFFFFFF;
    for (const TimedPlug& event : m_timeline)
        wait = std::min(wait, IsDue(event.due, now) ? 0 : event.due - now);
    m_delivery.ArmTimer(wait);
}

void SimBus::OnTimer()
{
    if (m_timeline.empty())
        return;
    if (m_clock.Kind() == SimClockKind::Virtual) {
        const DWORD now = m_clock.Now();
        DWORD next = m_timeline.front().due;
        for (const TimedPlug& event : m_timeline)
            if (static_cast<LONG>(event.due - now) < static_cast<LONG>(next - now))
                next = event.due;
        m_clock.JumpTo(next);
    }
    FireDueEvents();
    ArmTimer();
}

void SimBus::FireDueEvents()
{
    const DWORD now = m_clock.Now();
    // Earliest first; events due together fire in the order they were scheduled.
    std::stable_sort(m_timeline.begin(), m_timeline.end(),
                     [now](const TimedPlug& a, const TimedPlug& b) {
                         return static_cast<LONG>(a.due - now) < static_cast<LONG>(b.due - now);
                     });
    std::vector<TimedPlug> due;
    auto firstLater = std::find_if(m_timeline.begin(), m_timeline.end(),
                                   [now](const TimedPlug& event) { return !IsDue(event.due, now); });
    due.assign(m_timeline.begin(), firstLater);
    m_timeline.erase(m_timeline.begin(), firstLater);
    for (const TimedPlug& event : due)
        if (!m_devices[event.device]->IsPlugged()) // plugged by hand meanwhile: nothing to do
            PlugDevice(event.device);
}

// ---------------------------------------------------------------------------
// hid.dll

void SimBus::HidD_GetHidGuid(LPGUID hidGuid)
{
    if (hidGuid != nullptr)
        *hidGuid = kSimHidInterfaceGuid;
}

BOOLEAN SimBus::HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData)
{
    const OpenHandle* handle = m_handles.Find(device);
    if (handle == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (preparsedData == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!IsLive(*handle))
        return Fail(ERROR_DEVICE_NOT_CONNECTED);

    const SimDeviceConfig& config = m_devices[handle->device]->Config();
    Preparsed data;
    data.caps.UsagePage = config.usagePage;
    data.caps.Usage = config.usage;
    data.caps.InputReportByteLength = 8;
    data.caps.FeatureReportByteLength = config.featureReportByteLength;
    data.caps.NumberLinkCollectionNodes = 1;
    data.caps.NumberInputValueCaps = 1;
    data.caps.NumberInputDataIndices = 1;
    if (config.featureReportByteLength != 0) {
        data.caps.NumberFeatureValueCaps = 1;
        data.caps.NumberFeatureDataIndices = 1;
    }
    *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(m_preparsed.Add(data));
    return TRUE;
}

BOOLEAN SimBus::HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    return m_preparsed.Remove(preparsedData) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOLEAN SimBus::HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    const OpenHandle* handle = m_handles.Find(device);
    if (handle == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (attributes == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!IsLive(*handle))
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    const SimDeviceConfig& config = m_devices[handle->device]->Config();
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = config.vendorId;
    attributes->ProductID = config.productId;
    attributes->VersionNumber = config.versionNumber;
    return TRUE;
}

NTSTATUS SimBus::HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps)
{
    const Preparsed* data = m_preparsed.Find(preparsedData);
    if (data == nullptr || caps == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *caps = data->caps;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN SimBus::Transfer(HANDLE device, const char* call, std::string arguments,
                         const std::function<DWORD(SimDevice&)>& request,
                         const std::function<std::string(DWORD error)>& describe)
{
    const DWORD time = m_clock.Now();
    const OpenHandle* handle = m_handles.Find(device);
    if (handle == nullptr)
        return Fail(ERROR_INVALID_HANDLE); // no device to name in the trace
    const std::size_t index = handle->device;
    SimDevice& target = *m_devices[index];
    const bool live = IsLive(*handle);

    DWORD error = ERROR_DEVICE_NOT_CONNECTED;
    if (live) {
        m_clock.Advance(target.Config().latencyMs);
        error = request(target);
    }
    Record(target, time, call, std::move(arguments), describe(error));
    if (live)
        AfterTransfer(index);
    // Last, so that the trace file's I/O cannot overwrite the caller's error.
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOLEAN SimBus::HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    const auto* report = static_cast<const BYTE*>(reportBuffer);
    return Transfer(
        device, "SetFeature", SimTrace::HexBytes(report, reportBufferLength),
        [&](SimDevice& target) { return target.SetFeature(report, reportBufferLength); },
        [](DWORD error) { return std::string(error == ERROR_SUCCESS ? "1" : "0"); });
}

BOOLEAN SimBus::HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength)
{
    return Transfer(
        device, "GetSerialNumberString", "len=" + std::to_string(bufferLength),
        [&](SimDevice& target) { return target.GetSerialNumberString(buffer, bufferLength); },
        [](DWORD error) { return std::string(error == ERROR_SUCCESS ? "1" : "0"); });
}

BOOLEAN SimBus::HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    auto* report = static_cast<BYTE*>(reportBuffer);
    return Transfer(
        device, "GetFeature", "len=" + std::to_string(reportBufferLength),
        [&](SimDevice& target) { return target.GetFeature(report, reportBufferLength); },
        [&](DWORD error) {
            std::string result = error == ERROR_SUCCESS ? "1" : "0";
            if (report != nullptr && reportBufferLength != 0)
                result += " " + SimTrace::HexBytes(report, 1);
            return result;
        });
}

BOOLEAN SimBus::HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                      ULONG bufferLength)
{
    return Transfer(
        device, "GetIndexedString", std::to_string(stringIndex),
        [&](SimDevice& target) { return target.GetIndexedString(stringIndex, buffer, bufferLength); },
        [](DWORD error) { return std::string(error == ERROR_SUCCESS ? "1" : "0"); });
}

// ---------------------------------------------------------------------------
// setupapi.dll

HDEVINFO SimBus::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, DWORD flags)
{
    const bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    if ((flags & DIGCF_DEVICEINTERFACE) != 0 && !allClasses && classGuid == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The set is a snapshot: devices that come or go later do not change it.
    // Without DIGCF_DEVICEINTERFACE the GUID would name a setup class, and
    // the HID interface GUID names none, so such a set stays empty.
    DeviceSet set;
    const bool hid = allClasses || (classGuid != nullptr && ::IsEqualGUID(*classGuid, kSimHidInterfaceGuid));
    const bool fromHid = enumerator == nullptr || SameText(enumerator, "HID");
    if ((flags & DIGCF_DEVICEINTERFACE) != 0 && hid && fromHid) {
        for (std::size_t i = 0; i < m_devices.size(); ++i) {
            const SimDevice& device = *m_devices[i];
            const bool listed = (flags & DIGCF_PRESENT) != 0 ? device.IsPlugged() : device.WasEverPresent();
            if (!listed)
                continue;
            SetMember member;
            member.device = i;
            member.path = device.Path();
            member.present = device.IsPlugged();
            set.members.push_back(member);
        }
    }
    return reinterpret_cast<HDEVINFO>(m_sets.Add(set));
}

BOOL SimBus::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                         const GUID* interfaceClassGuid, DWORD memberIndex,
                                         PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    const DeviceSet* devices = m_sets.Find(set);
    if (devices == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceClassGuid == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);

    DWORD seen = 0;
    if (::IsEqualGUID(*interfaceClassGuid, kSimHidInterfaceGuid)) {
        for (std::size_t i = 0; i < devices->members.size(); ++i) {
            const SetMember& member = devices->members[i];
            if (deviceInfoData != nullptr && deviceInfoData->DevInst != DevInstOf(member.device))
                continue;
            if (seen++ != memberIndex)
                continue;
            interfaceData->InterfaceClassGuid = kSimHidInterfaceGuid;
            interfaceData->Flags = member.present ? SPINT_ACTIVE : 0;
            interfaceData->Reserved = static_cast<ULONG_PTR>(i + 1); // which member, for the detail
            return TRUE;
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SimBus::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                              DWORD detailSize, PDWORD requiredSize,
                                              PSP_DEVINFO_DATA deviceInfoData)
{
    const DeviceSet* devices = m_sets.Find(set);
    if (devices == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceData->Reserved == 0 || interfaceData->Reserved > devices->members.size())
        return Fail(ERROR_INVALID_PARAMETER);
    // cbSize is the fixed part only (5 bytes on x86, 8 on x64), never the
    // size of the buffer that holds the path.
    if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (detail == nullptr && detailSize != 0)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);

    const SetMember& member = devices->members[interfaceData->Reserved - 1];
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed = static_cast<DWORD>(pathOffset + member.path.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (detail == nullptr || detailSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);

    std::memcpy(detail->DevicePath, member.path.c_str(), member.path.size() + 1);
    if (deviceInfoData != nullptr) {
        deviceInfoData->ClassGuid = kSimHidSetupClassGuid;
        deviceInfoData->DevInst = DevInstOf(member.device);
        deviceInfoData->Reserved = 0;
    }
    return TRUE;
}

BOOL SimBus::SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return m_sets.Remove(set) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

// ---------------------------------------------------------------------------
// kernel32.dll, device paths

HANDLE SimBus::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                           DWORD creationDisposition)
{
    if (fileName == nullptr) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::size_t index = kNoDevice;
    for (std::size_t i = 0; i < m_devices.size() && index == kNoDevice; ++i)
        if (SameText(m_devices[i]->Path(), fileName))
            index = i;
    if (index == kNoDevice) {
        ::SetLastError(ERROR_FILE_NOT_FOUND); // not a device on this bus
        return INVALID_HANDLE_VALUE;
    }

    const SimDevice& device = *m_devices[index];
    DWORD error = ERROR_SUCCESS;
    if (!device.IsPlugged()) {
        error = ERROR_FILE_NOT_FOUND;
    } else if (creationDisposition != OPEN_EXISTING) {
        error = ERROR_INVALID_PARAMETER; // a device can be opened, never created
    } else if (device.Config().exclusive && (WantsRead(desiredAccess) || WantsWrite(desiredAccess))) {
        // Another driver holds it for itself, as Windows does with mice and keyboards.
        error = ERROR_SHARING_VIOLATION;
    } else {
        for (const auto& entry : m_handles.Items()) {
            const OpenHandle& other = entry.second;
            if (other.device != index || !IsLive(other))
                continue;
            const bool conflict = (WantsRead(other.access) && !(shareMode & FILE_SHARE_READ)) ||
                                  (WantsWrite(other.access) && !(shareMode & FILE_SHARE_WRITE)) ||
                                  (WantsRead(desiredAccess) && !(other.share & FILE_SHARE_READ)) ||
                                  (WantsWrite(desiredAccess) && !(other.share & FILE_SHARE_WRITE));
            if (conflict) {
                error = ERROR_SHARING_VIOLATION;
                break;
            }
        }
    }

    const DWORD time = m_clock.Now();
    HANDLE result = INVALID_HANDLE_VALUE;
    if (error == ERROR_SUCCESS) {
        OpenHandle handle;
        handle.device = index;
        handle.generation = device.Generation();
        handle.access = desiredAccess;
        handle.share = shareMode;
        result = reinterpret_cast<HANDLE>(m_handles.Add(handle));
    }
    Record(device, time, "Open", device.Path(), error == ERROR_SUCCESS ? "1" : "0");
    if (error != ERROR_SUCCESS)
        ::SetLastError(error);
    return result;
}

BOOL SimBus::CloseHandle(HANDLE handle)
{
    const OpenHandle* open = m_handles.Find(handle);
    if (open == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    // Closing a handle whose device is gone still succeeds: the handle is
    // the caller's until it lets go of it.
    const SimDevice& device = *m_devices[open->device];
    m_handles.Remove(handle);
    Record(device, m_clock.Now(), "Close", std::string(), "1");
    return TRUE;
}

// ---------------------------------------------------------------------------
// user32.dll

HDEVNOTIFY SimBus::RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags)
{
    const bool allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    // Services hear device changes through their control handler, which this
    // bus does not drive: only windows can register.
    if ((flags & ~static_cast<DWORD>(DEVICE_NOTIFY_ALL_INTERFACE_CLASSES)) != DEVICE_NOTIFY_WINDOW_HANDLE) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const HWND window = static_cast<HWND>(recipient);
    if (!::IsWindow(window)) {
        Fail(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    if (header == nullptr) {
        Fail(ERROR_INVALID_DATA);
        return nullptr;
    }

    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        if (header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
            Fail(ERROR_INVALID_DATA);
            return nullptr;
        }
        const auto* interfaceFilter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
        return m_notifications.AddInterface(window, interfaceFilter->dbcc_classguid, allClasses);
    }
    if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
        if (allClasses) {
            Fail(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (header->dbch_size < sizeof(DEV_BROADCAST_HANDLE)) {
            Fail(ERROR_INVALID_DATA);
            return nullptr;
        }
        const HANDLE handle = static_cast<const DEV_BROADCAST_HANDLE*>(filter)->dbch_handle;
        const OpenHandle* open = m_handles.Find(handle);
        if (open == nullptr) {
            Fail(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (!IsLive(*open)) {
            Fail(ERROR_DEVICE_NOT_CONNECTED); // its removal has already been reported
            return nullptr;
        }
        return m_notifications.AddHandle(window, handle, open->device, open->generation);
    }
    Fail(ERROR_INVALID_DATA); // volumes, ports and the like are not on this bus
    return nullptr;
}

BOOL SimBus::UnregisterDeviceNotification(HDEVNOTIFY notification)
{
    return m_notifications.Remove(notification) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
