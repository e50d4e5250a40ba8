#include "ServiceStation.h"

#include "RemoteDialog.h"
#include "resource.h"

namespace {

const char kServiceCaption[] = "Update - service mode";
constexpr unsigned kDumpRows = 16;
constexpr DWORD kStationTimeoutMs = 20000;
constexpr DWORD kFileChosenMs = 10000;

} // namespace

HWND WaitForStation(UiDriver& driver)
{
    HWND station = nullptr;
    driver.WaitUntil(
        [&] {
            station = FindTopLevelWindow(driver.ProcessId(), kServiceCaption);
            if (station == nullptr)
                return false;
            const RemoteDialog panel(station);
            return panel.ListItems(IDC_DUMP_LIST).size() == kDumpRows && StationAtRest(panel);
        },
        kStationTimeoutMs);
    return station;
}

// A burst's looks at the queue answer sent messages too, its last one after
// the dump and the result line are filled, so an answer alone does not say
// the burst is over; nor does an enabled Get alone, which a command sent just
// before (a click) may not have reached yet. So: a first answer, which comes
// after anything sent before it began; then Get, which a burst alone
// disables and whose end gives the controls back one by one; then a second
// answer, which once Get is back can only be the message loop's, after the
// handler returned.
bool StationAtRest(const RemoteDialog& station)
{
    return station.WaitIdle(200) && station.IsEnabled(IDC_GET) && station.WaitIdle(200);
}

bool ChooseStationFile(UiDriver& driver, const RemoteDialog& station, int box, int pathLine, const std::string& path)
{
    driver.AnswerFileDialog(path);
    return station.Click(box) &&
           driver.WaitUntil([&] { return station.Text(pathLine) == path; }, kFileChosenMs);
}
