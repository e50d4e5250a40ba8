// The service mode: the dialog opened as a service station, with the whole
// panel shown and usable, instead of running the one-shot update.

#include "UpdateDlg.h"

#include "ControlDC.h"
#include "PanelText.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char kServiceCaption[] = "Update - service mode";

// The template lays its controls out for a frame that shows only Set and
// Exit; the station lays the same controls out in its own frame, row by row
// in the order an operator reads them. Sizes in dialog units.
constexpr int kMargin = 7;
constexpr int kRowGap = 5;
constexpr int kPairGap = 3;   // a label and its field
constexpr int kGap = 4;       // controls of one group
constexpr int kGroupGap = 12; // groups in one row
constexpr int kButtonWidth = 44;
constexpr int kButtonHeight = 14;
constexpr int kComboWidth = 68;
constexpr int kComboDropHeight = 150; // with the list dropped down
constexpr int kDataReadWidth = 150;
constexpr int kDelayFieldWidth = 30;
constexpr int kDelayFieldHeight = 12;
constexpr int kCheckHeight = 10;
constexpr int kResultWidth = 40;
constexpr int kProgressLineWidth = 190;
constexpr int kProgressHeight = 10;
// The frame the panel always had: 460 dialog units wide at least.
constexpr int kMinFrameWidth = 460;

// The widest dump line and the longest tally the station can show, to size
// their controls by.
const BYTE kWidestDumpRow[PanelText::kDumpRowBytes] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const char kLongestTally[] = "Burned and verified: 99999   Failed: 99999   Last: Error!! at 00:00:00";

// What the layout measures by: the dialog's units in its font, and the
// system measures at the window's DPI (a check box's box, a scroll bar and
// the edges grow with it).
struct Scale {
    CDialogUnits units;
    UINT dpi;
    int Metric(int index) const { return CWindowDpi::SystemMetric(index, dpi); }
};

bool IsClass(HWND control, const char* name)
{
    char className[32] = {};
    ::GetClassNameA(control, className, sizeof(className));
    return ::lstrcmpiA(className, name) == 0;
}

// The pixels a control's caption needs: a push button's text with a margin
// of about one character each side, a check box's text after its box.
int CaptionWidth(HWND control, const Scale& scale)
{
    const CDialogUnits& units = scale.units;
    const std::string text = AfxGetWindowText(control);
    if (text.empty())
        return 0;
    const ControlDC dc(control);
    const int textWidth = dc.Extent(text).cx;
    if (!IsClass(control, "Button"))
        return textWidth + 2;
    const LONG_PTR type = ::GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
        type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
        return scale.Metric(SM_CXMENUCHECK) + units.X(kPairGap) + textWidth + units.X(2);
    return textWidth + 2 * units.X(4) + 2 * scale.Metric(SM_CXEDGE);
}

// The static text the template gives no id of its own, by its caption.
HWND FindLabel(HWND dialog, const char* caption)
{
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetDlgCtrlID(child) == IDC_STATIC && AfxGetWindowText(child) == caption)
            return child;
    }
    return nullptr;
}

struct Cell {
    HWND control;
    int gapBefore;     // dialog units from the cell before
    int width;         // pixels; grown to the caption's needs
    int height;        // pixels; the row centres it
    bool fill = false; // takes what the row leaves over
};

// One row of the layout, placed left to right from the margin; the cell
// marked to fill takes the width the others leave up to `right`.
class Row {
public:
    explicit Row(const Scale& scale) : m_scale(scale), m_units(scale.units) {}

    Row& Add(HWND control, int gapBefore, int minWidthDlu, int heightDlu, bool fill = false)
    {
        if (control == nullptr)
            return *this;
        Cell cell{control, gapBefore, m_units.X(minWidthDlu), m_units.Y(heightDlu), fill};
        cell.width = std::max(cell.width, CaptionWidth(control, m_scale));
        m_cells.push_back(cell);
        return *this;
    }
    // A combo box's closed height is its own; it is given its dropped height.
    Row& AddCombo(HWND control, int gapBefore)
    {
        if (control == nullptr)
            return *this;
        RECT closed{};
        ::GetWindowRect(control, &closed);
        m_cells.push_back({control, gapBefore, m_units.X(kComboWidth), closed.bottom - closed.top, false});
        return *this;
    }

    int Width() const
    {
        int width = 0;
        for (const Cell& cell : m_cells)
            width += m_units.X(cell.gapBefore) + cell.width;
        return width;
    }
    int Height() const
    {
        int height = 0;
        for (const Cell& cell : m_cells)
            height = std::max(height, cell.height);
        return height;
    }

    // Returns the row's bottom. `after` is the control the row's first goes
    // behind in the tab order; it becomes the row's last.
    int Place(int left, int top, int right, HWND& after)
    {
        const int spare = std::max(0, right - left - Width());
        const int height = Height();
        int x = left;
        for (const Cell& cell : m_cells) {
            x += m_units.X(cell.gapBefore);
            const int width = cell.width + (cell.fill ? spare : 0);
            const int y = top + (height - cell.height) / 2;
            int windowHeight = cell.height;
            if (IsClass(cell.control, "ComboBox"))
                windowHeight = m_units.Y(kComboDropHeight);
            ::SetWindowPos(cell.control, after != nullptr ? after : HWND_TOP, x, y, width, windowHeight,
                           SWP_NOACTIVATE);
            after = cell.control;
            x += width;
        }
        return top + height;
    }

private:
    const Scale& m_scale;
    const CDialogUnits& m_units;
    std::vector<Cell> m_cells;
};

} // namespace

void CUpdateDlg::StartServiceMode()
{
    SetWindowText(kServiceCaption);

    // The template keeps the panel hidden and disabled; here every control is
    // the operator's. Exit and Set then follow the tablet, from its arrival on.
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        ::EnableWindow(child, TRUE);
        ::ShowWindow(child, SW_SHOWNA);
    }

    // The long commands' line and bar, and the tally, placed by the layout.
    // Both take the dialog's font as it stands: the dialog procedure keeps
    // answering WM_GETFONT with the template's, also after a font made for
    // another DPI was given to every control.
    const RECT none = {0, 0, 0, 0};
    m_progress.Create(m_hWnd, DialogFont(), none, none);
    m_progress.ShowBar(false);
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(m_hWnd, GWLP_HINSTANCE));
    m_hTallyLine = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
                                     0, 0, 0, 0, m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TALLY)),
                                     instance, nullptr);
    if (m_hTallyLine != nullptr) {
        ::SendMessageA(m_hTallyLine, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
        ::SetWindowTextA(m_hTallyLine, m_tally.Line().c_str());
    }

    SetDumpFont();
    ResizeCentred(LayOutStation());

    FillPickers();
    ApplyWriteDelay();

    // A tablet already plugged in is taken up as if it had just arrived;
    // posted, so that the operator sees the panel while it is read.
    ::PostMessageA(m_hWnd, WM_TABLET_ARRIVED, 0, 0);
}

// The dialog's own font is proportional, so the dump's columns would line up
// only while every byte is the same. A fixed-pitch face of the same height,
// or the system's fixed font where none can be made. Made anew for each DPI,
// from the dialog's font for it.
void CUpdateDlg::SetDumpFont()
{
    const HWND dump = GetDlgItem(IDC_DUMP_LIST);
    if (dump == nullptr)
        return;
    TEXTMETRICA dialogFont{};
    {
        const ControlDC dc(dump, DialogFont());
        dialogFont = dc.Metrics();
    }
    LOGFONTA wanted{};
    wanted.lfHeight = dialogFont.tmHeight > 0 ? dialogFont.tmHeight : 14;
    wanted.lfWeight = FW_NORMAL;
    wanted.lfCharSet = DEFAULT_CHARSET;
    wanted.lfOutPrecision = OUT_TT_PRECIS;
    wanted.lfQuality = DEFAULT_QUALITY;
    wanted.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strncpy(wanted.lfFaceName, "Courier New", LF_FACESIZE - 1);

    // The font the dump holds goes only once it holds the new one.
    CFont font;
    if (font.CreateFontIndirect(wanted)) {
        ::SendMessageA(dump, WM_SETFONT, reinterpret_cast<WPARAM>(font.GetSafeHandle()), FALSE);
        m_fontDump = std::move(font);
        // TMPF_FIXED_PITCH set means variable pitch (the name says the opposite).
        const ControlDC dc(dump);
        if ((dc.Metrics().tmPitchAndFamily & TMPF_FIXED_PITCH) == 0)
            return;
    }
    ::SendMessageA(dump, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(ANSI_FIXED_FONT)), FALSE);
    m_fontDump.DeleteObject();
}

SIZE CUpdateDlg::LayOutStation()
{
    const Scale scale{CDialogUnits(m_hWnd, DialogFont()), m_nDpi};
    const CDialogUnits& units = scale.units;
    auto item = [this](int id) { return GetDlgItem(id); };

    // One byte: where, what, and the two commands; then what they read.
    Row single(scale);
    single.Add(FindLabel(m_hWnd, "Address"), 0, 0, 8)
        .AddCombo(item(IDC_ADDRESS), kPairGap)
        .Add(FindLabel(m_hWnd, "SetValue"), kGroupGap, 0, 8)
        .AddCombo(item(IDC_SET_VALUE), kPairGap)
        .Add(item(IDC_GET), kGroupGap, kButtonWidth, kButtonHeight)
        .Add(item(IDC_SET), kGap, kButtonWidth, kButtonHeight);
    Row readAndDelay(scale);
    readAndDelay.Add(FindLabel(m_hWnd, "DataRead"), 0, 0, 8)
        .Add(item(IDC_DATA_READ), kPairGap, kDataReadWidth, 8)
        .Add(item(IDC_WRITE_DELAY), kGroupGap, 0, kCheckHeight)
        .Add(item(IDC_WRITE_DELAY_MS), kPairGap, kDelayFieldWidth, kDelayFieldHeight);
    // The whole image: with the tablet, with a file.
    Row image(scale);
    image.Add(item(IDC_GET_ALL), 0, kButtonWidth, kButtonHeight)
        .Add(item(IDC_SET_ALL), kGap, kButtonWidth, kButtonHeight)
        .Add(item(IDC_LOAD), kGroupGap, kButtonWidth, kButtonHeight)
        .Add(item(IDC_SAVE), kGap, kButtonWidth, kButtonHeight);
    Row progress(scale);
    progress.Add(m_progress.Line(), 0, kProgressLineWidth, kProgressHeight)
        .Add(m_progress.Bar(), kGap, 0, kProgressHeight, true);
    // Auto-burn and the record, their paths one above the other; what the
    // burn did, the tally, and the way out.
    int checkWidth = 0;
    for (const int id : {IDC_AUTO_BURN, IDC_RECORD}) {
        if (item(id) != nullptr)
            checkWidth = std::max(checkWidth, units.FromX(CaptionWidth(item(id), scale) + units.X(1)));
    }
    Row autoBurn(scale);
    autoBurn.Add(item(IDC_AUTO_BURN), 0, checkWidth, kCheckHeight)
        .Add(item(IDC_AUTO_BURN_FILE), kPairGap, 0, 8, true);
    Row record(scale);
    record.Add(item(IDC_RECORD), 0, checkWidth, kCheckHeight).Add(item(IDC_RECORD_FILE), kPairGap, 0, 8, true);
    int resultWidth = kResultWidth;
    if (item(IDC_RESULT) != nullptr) {
        // The longest result line: a failed burn whose record line waits.
        const ControlDC dc(item(IDC_RESULT));
        const std::string longest = CStationRecord::WithNote("Error!!");
        resultWidth = std::max(resultWidth, units.FromX(dc.Extent(longest).cx + 2) + 1);
    }
    Row outcome(scale);
    outcome.Add(item(IDC_RESULT), 0, resultWidth, 8);
    if (m_hTallyLine != nullptr) {
        const ControlDC dc(m_hTallyLine);
        outcome.Add(m_hTallyLine, kGroupGap, units.FromX(dc.Extent(kLongestTally).cx + 2), 8, true);
    }
    outcome.Add(item(IDOK), kGroupGap, kButtonWidth, kButtonHeight);

    // The dump shows its widest line whole, and its 16 rows without scrolling.
    const HWND dump = item(IDC_DUMP_LIST);
    int dumpWidth = 0;
    int dumpHeight = 0;
    if (dump != nullptr) {
        const ControlDC dc(dump);
        const int border = 2 * scale.Metric(SM_CXEDGE);
        dumpWidth = dc.Extent(PanelText::DumpLine(0x78, kWidestDumpRow)).cx + scale.Metric(SM_CXVSCROLL) +
                    border + units.X(2);
        const int itemHeight = static_cast<int>(::SendMessageA(dump, LB_GETITEMHEIGHT, 0, 0));
        dumpHeight = static_cast<int>(PanelText::kDumpRows) * std::max(itemHeight, 1) +
                     2 * scale.Metric(SM_CYEDGE) + units.Y(2);
    }

    const int margin = units.X(kMargin);
    int width = std::max({units.X(kMinFrameWidth - 2 * kMargin), single.Width(), readAndDelay.Width(),
                          image.Width(), progress.Width(), autoBurn.Width(), record.Width(), outcome.Width(),
                          dumpWidth});
    const int left = margin;
    const int right = left + width;

    HWND after = nullptr;
    int y = units.Y(kMargin);
    y = single.Place(left, y, right, after) + units.Y(kRowGap);
    y = readAndDelay.Place(left, y, right, after) + units.Y(kRowGap);
    y = image.Place(left, y, right, after) + units.Y(kRowGap);
    y = progress.Place(left, y, right, after) + units.Y(kRowGap);
    if (dump != nullptr) {
        ::SetWindowPos(dump, after, left, y, width, dumpHeight, SWP_NOACTIVATE);
        after = dump;
        y += dumpHeight + units.Y(kRowGap);
    }
    y = autoBurn.Place(left, y, right, after) + units.Y(kRowGap);
    y = record.Place(left, y, right, after) + units.Y(kRowGap);
    y = outcome.Place(left, y, right, after) + units.Y(kMargin);

    return {right + margin, y};
}

void CUpdateDlg::CountBurn(bool verified)
{
    if (!m_bServiceMode)
        return;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    m_tally.Count(verified, now);
    if (m_hTallyLine != nullptr)
        ::SetWindowTextA(m_hTallyLine, m_tally.Line().c_str());
}

void CUpdateDlg::BeginPanelProgress(const CWriteBurst::Scope& burst, const char* line, int transfers)
{
    if (!m_bServiceMode || !m_progress.IsCreated())
        return;
    m_progress.SetText(line);
    m_progress.ShowBar(true);
    m_progress.Start(burst, m_eeprom, transfers);
}

void CUpdateDlg::EndPanelProgress()
{
    if (!m_bServiceMode || !m_progress.IsCreated())
        return;
    m_progress.Finish();
    m_progress.ShowBar(false);
    m_progress.SetText("");
}
