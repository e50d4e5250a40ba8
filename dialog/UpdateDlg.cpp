#include "UpdateDlg.h"

#include "DefaultEepromImage.h"
#include "PanelText.h"
#include "TabletProtocol.h"

#include <cstring>

namespace {

const char kNoTabletText[] =
    "Please plug in the tablet to another USB Port.\nExecute the program again after a minute.";
const char kUnsupportedText[] =
    "This program does not support the tablet Firmware update function.\n";
const char kUpdatedText[] =
    "Tablet firmware has been updated,\n please plug in the tablet USB cable again.";
const char kFailedText[] = "Tablet firmware has been updated failed,\n please try again.";

// The update window's own line, while the tablet is written and once it ends.
const char kUpdatingLine[] = "Updating the tablet. Do not unplug it.";
const char kEndedLine[] = "The update has ended.";
const char kNotUpdatedLine[] = "The tablet was not updated.";

// The tablet needs time after the last write before it answers reads of the
// new content.
constexpr DWORD kSettleMs = 300;

constexpr int kAddressEntries = 128;
constexpr int kValueEntries = 256;

// Room for the identity string; only its first four characters are judged.
constexpr ULONG kIdentityBufferBytes = 64;

// The progress bar counts the update's transfers as the tablet layer reports
// them (identity, first read, access request, write, read-back) and the
// settling wait as this many more.
constexpr int kSettleSteps = 30;
constexpr int kUpdateSteps = CTabletEeprom::kStringRequestTransfers + CTabletEeprom::kWholeImageTransfers +
                             CTabletEeprom::kStringRequestTransfers + CTabletEeprom::kWholeImageTransfers +
                             kSettleSteps + CTabletEeprom::kWholeImageTransfers;

// The update window's layout in dialog units: a margin, the line, the bar.
constexpr int kMargin = 7;
constexpr int kWindowWidth = 200;
constexpr int kLineHeight = 10;
constexpr int kBarTop = 21;
constexpr int kBarHeight = 10;
constexpr int kWindowHeight = kBarTop + kBarHeight + kMargin;

} // namespace

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_GET, &CUpdateDlg::OnGet)
    ON_BN_CLICKED(IDC_SET, &CUpdateDlg::OnSet)
    ON_BN_CLICKED(IDC_GET_ALL, &CUpdateDlg::OnGetAll)
    ON_BN_CLICKED(IDC_SET_ALL, &CUpdateDlg::OnSetAll)
    ON_BN_CLICKED(IDC_LOAD, &CUpdateDlg::OnLoad)
    ON_BN_CLICKED(IDC_SAVE, &CUpdateDlg::OnSave)
    ON_BN_CLICKED(IDC_AUTO_BURN, &CUpdateDlg::OnAutoBurn)
    ON_BN_CLICKED(IDC_WRITE_DELAY, &CUpdateDlg::OnWriteDelayChanged)
    ON_EN_KILLFOCUS(IDC_WRITE_DELAY_MS, &CUpdateDlg::OnWriteDelayChanged)
    ON_EN_UPDATE(IDC_WRITE_DELAY_MS, &CUpdateDlg::OnWriteDelayChanged)
    ON_EN_CHANGE(IDC_WRITE_DELAY_MS, &CUpdateDlg::OnWriteDelayChanged)
    ON_BN_CLICKED(IDC_RECORD, &CUpdateDlg::OnRecord)
    ON_MESSAGE(WM_RECORD_TROUBLE, &CUpdateDlg::OnRecordTrouble)
    ON_MESSAGE(WM_TIMER, &CUpdateDlg::OnTimer)
    ON_MESSAGE(WM_DEVICECHANGE, &CUpdateDlg::OnDeviceChange)
    ON_MESSAGE(WM_TABLET_ARRIVED, &CUpdateDlg::OnTabletArrived)
    ON_MESSAGE(WM_TABLET_REMOVED, &CUpdateDlg::OnTabletRemoved)
    ON_MESSAGE(WM_QUERYENDSESSION, &CUpdateDlg::OnQueryEndSession)
    ON_MESSAGE(WM_ENDSESSION, &CUpdateDlg::OnEndSession)
    ON_MESSAGE(WM_SESSION_ENDED, &CUpdateDlg::OnSessionEnded)
    ON_MESSAGE(WM_DPICHANGED, &CUpdateDlg::OnDpiChanged)
END_MESSAGE_MAP()

CUpdateDlg::CUpdateDlg(HidSystem& system, CWnd* parent)
    : CDialog(IDD, parent), m_hInterfaceNotify(system), m_eeprom(system), m_system(system)
{
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_APP_ICON));
}

// Members release what they hold: m_eeprom closes the tablet and its handle
// notification, m_hInterfaceNotify the HID interface registration (which the
// one-shot path never releases through an exit handler).
CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDOK, m_btnExit);
    DDX_Control(pDX, IDC_SET, m_btnSet);
    DDX_Control(pDX, IDC_ADDRESS, m_cbAddress);
    DDX_Control(pDX, IDC_SET_VALUE, m_cbSetValue);
    DDX_Control(pDX, IDC_DUMP_LIST, m_lbDump);
    DDX_Text(pDX, IDC_DATA_READ, m_strDataRead);
    DDX_Text(pDX, IDC_AUTO_BURN_FILE, m_strAutoBurnFile);
    DDX_Check(pDX, IDC_AUTO_BURN, m_bAutoBurn);
    DDX_Text(pDX, IDC_RESULT, m_strResult);
    DDX_Check(pDX, IDC_WRITE_DELAY, m_bWriteDelay);
    DDX_Text(pDX, IDC_WRITE_DELAY_MS, m_nWriteDelay);
    DDV_MinMaxInt(pDX, m_nWriteDelay, kMinWriteDelayMs, kMaxWriteDelayMs);
}

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    TakeDisplayScale();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    if (!m_hInterfaceNotify)
        RegisterInterfaceNotification();

    if (m_bServiceMode) {
        StartServiceMode();
        return TRUE;
    }

    m_eeprom.Open(m_hWnd, nullptr);
    // The whole update is one burst, begun before anything can take messages
    // (showing the window, the progress display's looks at the queue): a
    // removal query answered there would be granted, and the tablet closed
    // before its identity is checked. It ends in EndWithMessage, before the box.
    CWriteBurst::Scope burst(m_burst, m_hWnd, m_eeprom);
    if (burst.Refused() != CWriteBurst::Refusal::None) {
        ShowUpdateWindow(kNotUpdatedLine, false);
        EndWithMessage(burst, NotWrittenText(burst.Refused()), MB_ICONEXCLAMATION, 0);
        return TRUE;
    }
    if (!m_eeprom.m_pDevice) {
        ShowUpdateWindow(kNotUpdatedLine, false);
        EndWithMessage(burst, kNoTabletText, MB_ICONHAND, 0);
        return TRUE;
    }

    // From the first transfer on, the user sees what is happening and is
    // told not to unplug the tablet.
    ShowUpdateWindow(kUpdatingLine, true);
    m_progress.Start(burst, m_eeprom, kUpdateSteps);
    if (!IsSupportedTablet()) {
        m_progress.ShowBar(false);
        m_progress.SetText(kNotUpdatedLine);
        EndWithMessage(burst, kUnsupportedText, MB_ICONHAND, 0);
        return TRUE;
    }

    // Bytes 248..255 are not part of the image: they go back as read. One
    // that could not be read would go back as the report id left in the
    // buffer, destroying the tablet's own byte, so then nothing is written.
    m_eeprom.ReadAll();
    for (unsigned address = kDefaultImageSize; address < m_eeprom.m_image.size(); ++address) {
        if (m_eeprom.ReadFailedAt(address)) {
            EndWithMessage(burst, kFailedText, MB_ICONHAND, IDOK);
            return TRUE;
        }
    }
    std::memcpy(m_eeprom.m_image.data(), DefaultEepromImage.data(), DefaultEepromImage.size());

    FillPickers();

    ApplyWriteDelay();
    m_eeprom.BeginAccess();
    m_eeprom.WriteAll();

    m_system.Sleep(kSettleMs);
    m_progress.Step(kSettleSteps);
    m_eeprom.ReadAll();

    // The access stays open and no EndAccess is sent: the user is asked to
    // replug the tablet, which restarts it with the new content.
    if (ImageMatchesDefault())
        EndWithMessage(burst, kUpdatedText, MB_ICONINFORMATION, IDOK);
    else
        EndWithMessage(burst, kFailedText, MB_ICONHAND, IDOK);
    return TRUE;
}

void CUpdateDlg::RegisterInterfaceNotification()
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    m_system.HidD_GetHidGuid(&filter.dbcc_classguid);
    // A failed registration only means arrivals go unnoticed; nothing to tell the user.
    m_hInterfaceNotify.Register(m_hWnd, &filter);
}

bool CUpdateDlg::IsSupportedTablet()
{
    if (!m_eeprom.m_pDevice)
        return false;
    const HIDD_ATTRIBUTES& attributes = m_eeprom.m_pDevice->attributes;
    if (attributes.VendorID != TabletProtocol::kVendorId)
        return false;
    if (attributes.ProductID != TabletProtocol::kProductId)
        return false;

    // The string comes as UTF-16; only the low byte of each of the first four
    // characters is compared, so a firmware that puts anything in the high
    // bytes still passes, as it always has.
    BYTE identity[kIdentityBufferBytes] = {};
    if (m_eeprom.GetIndexedString(TabletProtocol::kFirmwareString, identity, sizeof(identity)) == 0)
        return false;
    const char* prefix = TabletProtocol::kFirmwarePrefix;
    for (unsigned i = 0; i < 4; ++i) {
        if (identity[2 * i] != static_cast<BYTE>(prefix[i]))
            return false;
    }
    return true;
}

void CUpdateDlg::FillPickers()
{
    for (int number = 0; number < kAddressEntries; ++number)
        m_cbAddress.AddString(PanelText::PickerEntry(number).c_str());
    for (int number = 0; number < kValueEntries; ++number)
        m_cbSetValue.AddString(PanelText::PickerEntry(number).c_str());
}

// A byte whose read failed is never a match, whatever value the failed read
// left in the buffer.
bool CUpdateDlg::ImageMatchesDefault() const
{
    for (unsigned address = 0; address < kDefaultImageSize; ++address) {
        if (m_eeprom.ReadFailedAt(address) || m_eeprom.m_image[address] != DefaultEepromImage[address])
            return false;
    }
    return true;
}

// The box comes to the front (the user may have clicked elsewhere during the
// update, and focus-stealing protection would otherwise open it behind) and is
// owned by the visible update window, whose taskbar button leads to it.
void CUpdateDlg::EndWithMessage(CWriteBurst::Scope& burst, const char* text, UINT icon, int result)
{
    m_progress.Finish();
    burst.End();
    if (m_progress.IsCreated() && ::IsWindowVisible(m_progress.Bar()))
        m_progress.SetText(kEndedLine);
    AfxMessageBox(text, MB_OK | icon | MB_SETFOREGROUND);
    EndDialog(result);
}

// The template's frame holds only Set and Exit, which do nothing for the
// one-shot update: they are hidden, and the window sized for the line and bar
// created here. The template stays as it is; the service station lays the
// dialog out its own way.
void CUpdateDlg::ShowUpdateWindow(const char* line, bool withBar)
{
    if (!m_progress.IsCreated()) {
        const RECT none = {0, 0, 0, 0};
        m_progress.Create(m_hWnd, DialogFont(), none, none);

        ::ShowWindow(GetDlgItem(IDOK), SW_HIDE);
        ::ShowWindow(GetDlgItem(IDC_SET), SW_HIDE);

        ResizeCentred(LayOutUpdateWindow());
    }
    m_progress.SetText(line);
    m_progress.ShowBar(withBar);
    ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    ::SetForegroundWindow(m_hWnd);
    ::UpdateWindow(m_hWnd);
}

SIZE CUpdateDlg::LayOutUpdateWindow()
{
    const CDialogUnits units(m_hWnd, DialogFont());
    auto place = [&units](HWND control, int left, int top, int right, int bottom) {
        const int x = units.X(left);
        const int y = units.Y(top);
        ::SetWindowPos(control, nullptr, x, y, units.X(right) - x, units.Y(bottom) - y,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(m_progress.Line(), kMargin, kMargin, kWindowWidth - kMargin, kMargin + kLineHeight);
    place(m_progress.Bar(), kMargin, kBarTop, kWindowWidth - kMargin, kBarTop + kBarHeight);
    return {units.X(kWindowWidth), units.Y(kWindowHeight)};
}

// Centred on the work area of the screen it is on (never off its top-left
// corner).
void CUpdateDlg::ResizeCentred(SIZE client)
{
    RECT frame = {0, 0, client.cx, client.cy};
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
    CWindowDpi::AdjustWindowRect(&frame, style, exStyle, m_nDpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    RECT work = {0, 0, width, height};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoA(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor))
        work = monitor.rcWork;
    const int x = work.left + ((work.right - work.left) - width) / 2;
    const int y = work.top + ((work.bottom - work.top) - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, width,
                   height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The delay in force follows the fields but never leaves 1..20 ms (0 with the
// box unchecked): after an entry the range check refused, the member holds
// the refused value, and the last accepted one stays in force, also when the
// box is checked again.
void CUpdateDlg::ApplyWriteDelay()
{
    if (m_nWriteDelay >= kMinWriteDelayMs && m_nWriteDelay <= kMaxWriteDelayMs)
        m_nAcceptedWriteDelay = static_cast<DWORD>(m_nWriteDelay);
    m_eeprom.m_nWriteDelay = m_bWriteDelay ? m_nAcceptedWriteDelay : 0;
}
