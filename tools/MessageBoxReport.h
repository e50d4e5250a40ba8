#pragma once

#include <string>
#include <vector>

#include "UiDriver.h"

// Text on one line: line breaks as \n (CR LF counts as one), quotes as \",
// other control characters as \xHH. Backslashes stay as they are, so paths
// read as the user saw them.
std::string EscapeReportText(const std::string& text);

// MessageBox caption="..." icon=... text="..."
std::string FormatMessageBoxLine(const SeenMessageBox& box);

// Each box on a line of its own, for a test's failure message.
std::string FormatMessageBoxLines(const std::vector<SeenMessageBox>& boxes);
