#pragma once
// Helpers shared by the simulated tablet's suites: device calls the way the
// tablet link makes them, a real window that records WM_DEVICECHANGE, a
// message loop with a deadline.

#include "SimHidSystem.h"
#include "TabletProtocol.h"
#include "TempFolder.h"

#include <functional>
#include <string>
#include <vector>

namespace simtest {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

inline SimDeviceConfig Config(const char* name, SimDeviceKind kind = SimDeviceKind::Tablet)
{
    SimDeviceConfig config;
    config.name = name;
    config.kind = kind;
    return config;
}

inline HANDLE Open(SimHidSystem& sim, const std::string& name, DWORD share = kShareReadWrite)
{
    return sim.CreateFileA(sim.DevicePath(name).c_str(), kReadWrite, share, nullptr, OPEN_EXISTING,
                           0, nullptr);
}

inline BOOLEAN WriteByte(SimHidSystem& sim, HANDLE device, BYTE address, BYTE value)
{
    BYTE report[8];
    TabletProtocol::BuildWriteReport(report, sizeof(report), address, value);
    return sim.HidD_SetFeature(device, report, sizeof(report));
}

// A failed read leaves byte 0 at the report id, as the real driver does.
inline BYTE ReadByte(SimHidSystem& sim, HANDLE device, BYTE address, BOOLEAN* ok = nullptr)
{
    BYTE buffer[TabletProtocol::kMaxReadLength] = {TabletProtocol::kReportId};
    const BOOLEAN result = sim.HidD_GetFeature(device, buffer, TabletProtocol::ReadRequestLength(address));
    if (ok != nullptr)
        *ok = result;
    return buffer[0];
}

inline BOOLEAN RequestString(SimHidSystem& sim, HANDLE device, ULONG index)
{
    BYTE scratch[TabletProtocol::kAccessScratchSize] = {};
    return sim.HidD_GetIndexedString(device, index, scratch, TabletProtocol::kAccessStatedLength);
}

inline std::vector<std::string> TraceLines(const SimHidSystem& sim)
{
    std::vector<std::string> lines;
    for (const SimTraceEntry& entry : sim.Trace())
        lines.push_back(entry.ToLine());
    return lines;
}

// The device paths of a HID interface set, in enumeration order.
inline std::vector<std::string> Paths(SimHidSystem& sim, HDEVINFO set)
{
    std::vector<std::string> paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kHidGuid, i, &data); ++i) {
        DWORD required = 0;
        sim.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        std::vector<BYTE> buffer(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
            paths.push_back(detail->DevicePath);
    }
    return paths;
}

// Runs this thread's message loop until `done()`, or false after `timeoutMs` of real time.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs)
{
    for (const DWORD start = ::GetTickCount();;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        if (done())
            return true;
        if (::GetTickCount() - start > timeoutMs)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// A real, hidden top-level window that keeps a copy of every WM_DEVICECHANGE.
class RecordingWindow {
public:
    struct Report {
        WPARAM event;
        std::vector<BYTE> broadcast; // dbch_size bytes of what lParam pointed to
    };

    // A message posted to the window is recorded too, as a report of this
    // event with no broadcast, to show where it ran among the reports.
    static constexpr UINT kPostedMarker = WM_APP + 7;

    RecordingWindow()
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "SimTabletTestRecorder";
        ::RegisterClassExA(&wc); // a second registration fails harmlessly
        m_hwnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, wc.hInstance, this);
    }
    ~RecordingWindow() { Destroy(); }

    HWND Handle() const { return m_hwnd; }
    const std::vector<Report>& Reports() const { return m_reports; }
    // Called with each report's event once it is recorded; returns the answer
    // (TRUE when unset). A removal query is denied with BROADCAST_QUERY_DENY.
    void SetAnswer(std::function<LRESULT(WPARAM)> answer) { m_answer = std::move(answer); }
    void Destroy()
    {
        if (m_hwnd != nullptr)
            ::DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(
                                    reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<RecordingWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (message == kPostedMarker && self != nullptr) {
            self->m_reports.push_back({kPostedMarker, {}});
            return 0;
        }
        if (message != WM_DEVICECHANGE || self == nullptr || lParam == 0)
            return ::DefWindowProcA(hwnd, message, wParam, lParam);
        const auto* bytes = reinterpret_cast<const BYTE*>(lParam);
        self->m_reports.push_back(
            {wParam, {bytes, bytes + reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_size}});
        return self->m_answer ? self->m_answer(wParam) : TRUE;
    }

    HWND m_hwnd = nullptr;
    std::vector<Report> m_reports;
    std::function<LRESULT(WPARAM)> m_answer;
};

} // namespace simtest
