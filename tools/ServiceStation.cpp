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
            // The dump is filled inside the taking-up's burst, whose last
            // look at the queue answers these questions too: only Get, which
            // the burst alone disables, says that the burst is over.
            const RemoteDialog panel(station);
            return panel.ListItems(IDC_DUMP_LIST).size() == kDumpRows && panel.IsEnabled(IDC_GET);
        },
        kStationTimeoutMs);
    return station;
}

bool ChooseStationFile(UiDriver& driver, const RemoteDialog& station, int box, int pathLine, const std::string& path)
{
    driver.AnswerFileDialog(path);
    return station.Click(box) &&
           driver.WaitUntil([&] { return station.Text(pathLine) == path; }, kFileChosenMs);
}
