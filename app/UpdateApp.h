#pragma once
// The application object: runs the one dialog and ends the process.

#include "Framework.h"
#include "HidSystem.h"

#include <memory>

class CUpdateApp : public CWinApp {
public:
    CUpdateApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()

private:
    // The device side of the system: the real HID class driver in the
    // product, the simulated bus in the demo executable.
    std::unique_ptr<HidSystem> m_system;
};
