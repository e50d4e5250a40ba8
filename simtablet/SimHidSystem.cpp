#include "SimHidSystem.h"

#include "SimBus.h"
#include "SimScenario.h"

#include <stdexcept>
#include <vector>

namespace {

const SimDevice& Existing(const SimDevice* device, const std::string& name)
{
    if (device == nullptr)
        throw std::out_of_range("no simulated device named " + name);
    return *device;
}

// An environment variable's value; empty when it is not set.
std::string Environment(const char* name)
{
    const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0)
        return std::string();
    std::vector<char> buffer(needed);
    const DWORD length = ::GetEnvironmentVariableA(name, buffer.data(), needed);
    if (length == 0 || length >= needed)
        return std::string();
    return std::string(buffer.data(), length);
}

} // namespace

SimHidSystem::SimHidSystem(SimClockKind clock) : m_bus(std::make_unique<SimBus>(clock)) {}

SimHidSystem::~SimHidSystem() = default;

std::unique_ptr<SimHidSystem> SimHidSystem::FromScenario(const std::string& iniPath,
                                                         std::string* error)
{
    SimScenario scenario;
    if (!SimScenario::Load(iniPath, &scenario, error))
        return nullptr;
    auto system = std::make_unique<SimHidSystem>(scenario.clock);
    for (const SimDeviceConfig& device : scenario.devices)
        system->AddDevice(device);
    return system;
}

std::unique_ptr<SimHidSystem> SimHidSystem::FromEnvironment(std::string* error)
{
    std::unique_ptr<SimHidSystem> system;
    const std::string scenario = Environment("TABLETSIM_SCENARIO");
    if (!scenario.empty()) {
        system = FromScenario(scenario, error);
        if (!system)
            return nullptr;
    } else {
        system = std::make_unique<SimHidSystem>(SimClockKind::Real);
        system->AddDevice(SimDeviceConfig()); // the supported tablet, healthy
    }

    const std::string trace = Environment("TABLETSIM_TRACE");
    if (!trace.empty() && !system->SetTraceFile(trace)) {
        if (error != nullptr)
            *error = trace + ": cannot create the trace file";
        return nullptr;
    }
    return system;
}

// ---------------------------------------------------------------------------
// The bus

void SimHidSystem::AddDevice(const SimDeviceConfig& config)
{
    m_bus->AddDevice(config);
}

bool SimHidSystem::Plug(const std::string& name)
{
    return m_bus->Plug(name);
}

bool SimHidSystem::Unplug(const std::string& name, bool queryFirst)
{
    return m_bus->Unplug(name, queryFirst);
}

bool SimHidSystem::IsPlugged(const std::string& name) const
{
    const SimDevice* device = m_bus->FindDevice(name);
    return device != nullptr && device->IsPlugged();
}

std::string SimHidSystem::DevicePath(const std::string& name) const
{
    const SimDevice* device = m_bus->FindDevice(name);
    return device != nullptr ? device->Path() : std::string();
}

const std::array<BYTE, 256>& SimHidSystem::Eeprom(const std::string& name) const
{
    return Existing(m_bus->FindDevice(name), name).Eeprom();
}

void SimHidSystem::SetEepromByte(const std::string& name, unsigned address, BYTE value)
{
    SimDevice* device = m_bus->FindDevice(name);
    Existing(device, name);
    device->Eeprom().at(address) = value;
}

bool SimHidSystem::AccessOpen(const std::string& name) const
{
    const SimDevice* device = m_bus->FindDevice(name);
    return device != nullptr && device->AccessOpen();
}

unsigned SimHidSystem::OpenHandleCount(const std::string& name) const
{
    return m_bus->OpenHandleCount(name);
}

unsigned SimHidSystem::RegistrationCount() const
{
    return m_bus->RegistrationCount();
}

SimClockKind SimHidSystem::ClockKind() const
{
    return m_bus->Clock().Kind();
}

DWORD SimHidSystem::Now() const
{
    return m_bus->Clock().Now();
}

void SimHidSystem::Advance(DWORD milliseconds)
{
    m_bus->Clock().Advance(milliseconds);
}

const std::vector<SimTraceEntry>& SimHidSystem::Trace() const
{
    return m_bus->Trace().Entries();
}

void SimHidSystem::ClearTrace()
{
    m_bus->Trace().Clear();
}

bool SimHidSystem::SetTraceFile(const std::string& path)
{
    return m_bus->Trace().SetFile(path);
}

void SimHidSystem::SetTraceObserver(std::function<void(const SimTraceEntry&)> observer)
{
    m_bus->Trace().SetObserver(std::move(observer));
}

const std::vector<UINT>& SimHidSystem::Sounds() const
{
    return m_sounds;
}

void SimHidSystem::PumpMessages()
{
    m_bus->PumpMessages();
}

unsigned SimHidSystem::PendingReportCount() const
{
    return m_bus->PendingReportCount();
}

// ---------------------------------------------------------------------------
// HidSystem

void SimHidSystem::HidD_GetHidGuid(LPGUID hidGuid)
{
    m_bus->HidD_GetHidGuid(hidGuid);
}

BOOLEAN SimHidSystem::HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData)
{
    return m_bus->HidD_GetPreparsedData(device, preparsedData);
}

BOOLEAN SimHidSystem::HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    return m_bus->HidD_FreePreparsedData(preparsedData);
}

BOOLEAN SimHidSystem::HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    return m_bus->HidD_GetAttributes(device, attributes);
}

NTSTATUS SimHidSystem::HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps)
{
    return m_bus->HidP_GetCaps(preparsedData, caps);
}

BOOLEAN SimHidSystem::HidD_SetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    return m_bus->HidD_SetFeature(device, reportBuffer, reportBufferLength);
}

BOOLEAN SimHidSystem::HidD_GetFeature(HANDLE device, PVOID reportBuffer, ULONG reportBufferLength)
{
    return m_bus->HidD_GetFeature(device, reportBuffer, reportBufferLength);
}

BOOLEAN SimHidSystem::HidD_GetIndexedString(HANDLE device, ULONG stringIndex, PVOID buffer,
                                            ULONG bufferLength)
{
    return m_bus->HidD_GetIndexedString(device, stringIndex, buffer, bufferLength);
}

BOOLEAN SimHidSystem::HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG bufferLength)
{
    return m_bus->HidD_GetSerialNumberString(device, buffer, bufferLength);
}

HDEVINFO SimHidSystem::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND,
                                            DWORD flags)
{
    return m_bus->SetupDiGetClassDevsA(classGuid, enumerator, flags);
}

BOOL SimHidSystem::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData,
                                               const GUID* interfaceClassGuid, DWORD memberIndex,
                                               PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    return m_bus->SetupDiEnumDeviceInterfaces(set, deviceInfoData, interfaceClassGuid, memberIndex,
                                              interfaceData);
}

BOOL SimHidSystem::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                    PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                    DWORD detailSize, PDWORD requiredSize,
                                                    PSP_DEVINFO_DATA deviceInfoData)
{
    return m_bus->SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                   requiredSize, deviceInfoData);
}

BOOL SimHidSystem::SetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return m_bus->SetupDiDestroyDeviceInfoList(set);
}

HANDLE SimHidSystem::CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD, HANDLE)
{
    return m_bus->CreateFileA(fileName, desiredAccess, shareMode, creationDisposition);
}

BOOL SimHidSystem::CloseHandle(HANDLE handle)
{
    return m_bus->CloseHandle(handle);
}

HDEVNOTIFY SimHidSystem::RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags)
{
    return m_bus->RegisterDeviceNotificationA(recipient, filter, flags);
}

BOOL SimHidSystem::UnregisterDeviceNotification(HDEVNOTIFY notification)
{
    return m_bus->UnregisterDeviceNotification(notification);
}

// Windows documents MessageBeep for the simple beep (0xFFFFFFFF), MB_OK and
// the four icon styles, nothing else. What it plays for another type (an
// icon combined with other style bits, say) is undocumented, so the
// simulator refuses one, and a caller that passes it is caught.
BOOL SimHidSystem::MessageBeep(UINT type)
{
    switch (type) {
    case 0xFFFFFFFF:
    case MB_OK:
    case MB_ICONHAND:
    case MB_ICONQUESTION:
    case MB_ICONEXCLAMATION:
    case MB_ICONASTERISK:
        m_sounds.push_back(type);
        return TRUE;
    default:
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

DWORD SimHidSystem::GetTickCount()
{
    return m_bus->GetTickCount();
}

void SimHidSystem::Sleep(DWORD milliseconds)
{
    m_bus->Sleep(milliseconds);
}

BOOL SimHidSystem::QueryPerformanceCounter(LARGE_INTEGER* count)
{
    if (count == nullptr)
        return FALSE;
    count->QuadPart = m_bus->Clock().ReadCounter();
    return TRUE;
}

BOOL SimHidSystem::QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (frequency == nullptr)
        return FALSE;
    frequency->QuadPart = m_bus->Clock().CounterFrequency();
    return TRUE;
}
