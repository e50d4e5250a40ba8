#include "DeviceInfoSet.h"

DeviceInfoSet::DeviceInfoSet(HidSystem& system, const GUID& interfaceClass)
    : m_system(system),
      m_set(system.SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
{
}

DeviceInfoSet::~DeviceInfoSet()
{
    if (IsValid())
        m_system.SetupDiDestroyDeviceInfoList(m_set);
}
