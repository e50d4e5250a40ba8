#pragma once

#include <string>

#include "UiDriver.h"

// Text on one line: line breaks as \n (CR LF counts as one), quotes as \",
// other control characters as \xHH. Backslashes stay as they are, so paths
// read as the user saw them.
std::string EscapeReportText(const std::string& text);

// MessageBox caption="..." icon=... text="..."
std::string FormatMessageBoxLine(const SeenMessageBox& box);
