#include "ProbeDialog.h"

#include <stdexcept>

namespace {
const UINT_PTR kWatchdogTimer = 77;
const UINT kWatchdogMs = 20000;
} // namespace

BEGIN_MESSAGE_MAP(CProbeBase, CDialog)
    ON_MESSAGE(kMsgBaseOnly, &CProbeBase::OnBaseOnly)
    ON_MESSAGE(kMsgBoth, &CProbeBase::OnBothInBase)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CProbeDialog, CProbeBase)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_GET, &CProbeDialog::OnGet)
    ON_EN_CHANGE(IDC_WRITE_DELAY_MS, &CProbeDialog::OnEditChange)
    ON_EN_UPDATE(IDC_WRITE_DELAY_MS, &CProbeDialog::OnEditUpdate)
    ON_EN_KILLFOCUS(IDC_WRITE_DELAY_MS, &CProbeDialog::OnEditKillFocus)
    ON_COMMAND(kCmdAccelerator, &CProbeDialog::OnAccelerator)
    ON_MESSAGE(kMsgRunBody, &CProbeDialog::OnRunBody)
    ON_MESSAGE(kMsgBoth, &CProbeDialog::OnBothInDerived)
    ON_MESSAGE(kMsgResult, &CProbeDialog::OnResult)
    ON_MESSAGE(kMsgNested, &CProbeDialog::OnNested)
    ON_MESSAGE(kMsgThrow, &CProbeDialog::OnThrow)
    ON_MESSAGE(kMsgCount, &CProbeDialog::OnCount)
    ON_MESSAGE(kMsgExchange, &CProbeDialog::OnExchange)
    ON_MESSAGE(WM_TIMER, &CProbeDialog::OnTimer)
END_MESSAGE_MAP()

BOOL CProbeDialog::OnInitDialog()
{
    CProbeBase::OnInitDialog();
    // A test that goes wrong must not leave the run hanging on an open dialog.
    ::SetTimer(m_hWnd, kWatchdogTimer, kWatchdogMs, nullptr);
    switch (m_initMode) {
    case InitMode::RunBody:
        PostMessage(kMsgRunBody);
        break;
    case InitMode::EndAtOnce:
        PostMessage(kMsgCount);
        EndDialog(m_initEndResult);
        break;
    case InitMode::MessageBoxThenEnd:
        PostMessage(kMsgCount);
        m_boxOpen = true;
        AfxMessageBox("probe");
        m_boxOpen = false;
        EndDialog(m_initEndResult);
        break;
    case InitMode::Throw:
        throw std::runtime_error("probe");
    }
    return TRUE;
}

void CProbeDialog::DoDataExchange(CDataExchange* pDX)
{
    if (m_exchange)
        m_exchange(pDX);
}

void CProbeDialog::OnOK()
{
    ++m_okCalls;
    if (!m_overrideOK)
        CProbeBase::OnOK();
}

LRESULT CProbeDialog::OnRunBody(WPARAM, LPARAM)
{
    if (m_body)
        m_body(*this);
    if (m_endAfterBody)
        EndDialog(static_cast<int>(kBodyDone));
    return 0;
}

LRESULT CProbeDialog::OnNested(WPARAM, LPARAM)
{
    m_nextResult = 11;
    SendMessage(kMsgResult);
    return 22;
}

LRESULT CProbeDialog::OnThrow(WPARAM, LPARAM)
{
    throw std::runtime_error("probe");
}

LRESULT CProbeDialog::OnCount(WPARAM, LPARAM)
{
    m_countedWithBoxOpen.push_back(m_boxOpen);
    return 0;
}

LRESULT CProbeDialog::OnExchange(WPARAM, LPARAM)
{
    UpdateData(FALSE);
    return 0;
}

LRESULT CProbeDialog::OnTimer(WPARAM wParam, LPARAM)
{
    if (wParam == kWatchdogTimer)
        EndDialog(static_cast<int>(kWatchdogFired));
    return 0;
}

void CProbeDialog::OnPaint()
{
    ++m_paints;
    if (m_paintCallsDefault)
        CProbeBase::OnPaint();
}

HCURSOR CProbeDialog::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(AfxGetApp()->LoadIcon(IDI_APP_ICON));
}
