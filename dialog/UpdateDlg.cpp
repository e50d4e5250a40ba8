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

// The tablet needs time after the last write before it answers reads of the
// new content.
constexpr DWORD kSettleMs = 300;

constexpr int kAddressEntries = 128;
constexpr int kValueEntries = 256;

// Room for the identity string; only its first four characters are judged.
constexpr ULONG kIdentityBufferBytes = 64;

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
    ON_MESSAGE(WM_DEVICECHANGE, &CUpdateDlg::OnDeviceChange)
    ON_MESSAGE(WM_TABLET_ARRIVED, &CUpdateDlg::OnTabletArrived)
    ON_MESSAGE(WM_TABLET_REMOVED, &CUpdateDlg::OnTabletRemoved)
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

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    if (!m_hInterfaceNotify)
        RegisterInterfaceNotification();

    if (m_bServiceMode) {
        StartServiceMode();
        return TRUE;
    }

    m_eeprom.Open(m_hWnd, nullptr);
    if (!m_eeprom.m_pDevice) {
        EndWithMessage(kNoTabletText, MB_ICONHAND, 0);
        return TRUE;
    }
    if (!IsSupportedTablet()) {
        EndWithMessage(kUnsupportedText, MB_ICONHAND, 0);
        return TRUE;
    }

    // Bytes 248..255 are not part of the image: they go back as read. One
    // that could not be read would go back as the report id left in the
    // buffer, destroying the tablet's own byte, so then nothing is written.
    m_eeprom.ReadAll();
    for (unsigned address = kDefaultImageSize; address < m_eeprom.m_image.size(); ++address) {
        if (m_eeprom.ReadFailedAt(address)) {
            EndWithMessage(kFailedText, MB_ICONHAND, IDOK);
            return TRUE;
        }
    }
    std::memcpy(m_eeprom.m_image.data(), DefaultEepromImage.data(), DefaultEepromImage.size());

    FillPickers();

    ApplyWriteDelay();
    m_eeprom.BeginAccess();
    m_eeprom.WriteAll();

    m_system.Sleep(kSettleMs);
    m_eeprom.ReadAll();

    // The access stays open and no EndAccess is sent: the user is asked to
    // replug the tablet, which restarts it with the new content.
    if (ImageMatchesDefault())
        EndWithMessage(kUpdatedText, MB_ICONINFORMATION, IDOK);
    else
        EndWithMessage(kFailedText, MB_ICONHAND, IDOK);
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

void CUpdateDlg::EndWithMessage(const char* text, UINT icon, int result)
{
    AfxMessageBox(text, MB_OK | icon);
    EndDialog(result);
}

// The delay in force follows the fields but never leaves 1..20 ms (0 with the
// box unchecked): after an entry the range check refused, the member holds
// the refused value, and the delay that was in force before it stays.
void CUpdateDlg::ApplyWriteDelay()
{
    if (!m_bWriteDelay) {
        m_eeprom.m_nWriteDelay = 0;
        return;
    }
    if (m_nWriteDelay >= kMinWriteDelayMs && m_nWriteDelay <= kMaxWriteDelayMs)
        m_eeprom.m_nWriteDelay = static_cast<DWORD>(m_nWriteDelay);
}
