/* Installs the virtual tablet's drivers into the Wine prefix it runs in, or
 * checks that they are installed and running.
 *
 *   vtinstall.exe <folder>   install from <folder> (VirtualTablet.inf and both .sys)
 *   vtinstall.exe --check    exit 0 when the bus's control interface is there
 *
 * Always a 64-bit program: the prefix's driver host is 64-bit, and a 32-bit
 * process may not install drivers into a 64-bit system (on Windows
 * UpdateDriverForPlugAndPlayDevices fails with ERROR_IN_WOW64). The same
 * bytes serve the x86 and the x64 build folder.
 *
 * Exit codes: 0 done, 1 failed (the message says which step), 2 usage. */

#include <windows.h>
#include <newdev.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include "VirtualTabletIoctl.h"

static const GUID kControlGuid = VT_CONTROL_GUID_INIT;
/* The system setup class, as the INF's ClassGuid. */
static const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

static int Fail(const char* step)
{
    const DWORD error = GetLastError();
    fprintf(stderr, "vtinstall: %s failed: error %lu\n", step, (unsigned long)error);
    return 1;
}

/* True once the bus driver has started and registered its interface. */
static BOOL ControlInterfacePresent(void)
{
    SP_DEVICE_INTERFACE_DATA data;
    BOOL found;
    HDEVINFO set = SetupDiGetClassDevsA(&kControlGuid, NULL, NULL, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return FALSE;
    data.cbSize = sizeof(data);
    found = SetupDiEnumDeviceInterfaces(set, NULL, &kControlGuid, 0, &data);
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

static int WaitForBus(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!ControlInterfacePresent()) {
        if (GetTickCount() - start >= timeoutMs) {
            fprintf(stderr, "vtinstall: the bus did not start within %lu ms\n", (unsigned long)timeoutMs);
            return 1;
        }
        Sleep(50);
    }
    return 0;
}

static int Install(const char* folder)
{
    static const char kHardwareIds[] = VT_BUS_HARDWARE_ID "\0";
    char inf[MAX_PATH];
    SP_DEVINFO_DATA device;
    HDEVINFO set;
    BOOL reboot = FALSE;
    DWORD attributes;

    if (snprintf(inf, sizeof(inf), "%s\\VirtualTablet.inf", folder) >= (int)sizeof(inf)) {
        fprintf(stderr, "vtinstall: folder name too long\n");
        return 2;
    }
    attributes = GetFileAttributesA(inf);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("finding VirtualTablet.inf");

    /* The bus is a root device: register it with its hardware id, then let
     * plug and play find its driver in our INF. */
    set = SetupDiCreateDeviceInfoList(&kSystemClass, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Fail("SetupDiCreateDeviceInfoList");
    device.cbSize = sizeof(device);
    if (SetupDiCreateDeviceInfoA(set, "ROOT\\TABLETBUS\\0000", &kSystemClass, NULL, NULL, 0, &device)) {
        if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, (const BYTE*)kHardwareIds,
                                               sizeof(kHardwareIds))) {
            SetupDiDestroyDeviceInfoList(set);
            return Fail("SetupDiSetDeviceRegistryProperty");
        }
        if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
            SetupDiDestroyDeviceInfoList(set);
            return Fail("DIF_REGISTERDEVICE");
        }
    } else if (GetLastError() != ERROR_DEVINST_ALREADY_EXISTS) {
        SetupDiDestroyDeviceInfoList(set);
        return Fail("SetupDiCreateDeviceInfo");
    }
    SetupDiDestroyDeviceInfoList(set);

    if (!UpdateDriverForPlugAndPlayDevicesA(NULL, VT_BUS_HARDWARE_ID, inf, INSTALLFLAG_FORCE, &reboot))
        return Fail("UpdateDriverForPlugAndPlayDevices");
    return WaitForBus(10000);
}

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--check") == 0) {
        if (ControlInterfacePresent())
            return 0;
        /* A driver host that is just starting needs a moment. */
        return WaitForBus(5000);
    }
    if (argc == 2 && argv[1][0] != '-')
        return Install(argv[1]);
    fprintf(stderr, "usage: vtinstall.exe <driver folder> | --check\n");
    return 2;
}
