#pragma once
// The application object: runs the one dialog and ends the process.

#include "Framework.h"
#include "HidSystem.h"
#include "SingleInstance.h"

#include <memory>

class CUpdateApp : public CWinApp {
public:
    CUpdateApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()

private:
    // Held from the start to the process's end: while this copy runs, no
    // other copy opens a tablet.
    CSingleInstance m_instance;
    // The device side of the system: the real HID class driver in the
    // product, the simulated bus in the demo executable.
    std::unique_ptr<HidSystem> m_system;
};
