#pragma once
// The bus's trace records as lines in the simulated bus's trace format
// ("<ms> <device> <call> <arguments> -> <result>"), so that one set of
// checks and scripts reads the traffic of either tablet.

#include <string>

#include "VirtualTabletIoctl.h"

std::string FormatTraceLine(const VT_TRACE_RECORD& record, const char* device = "Tablet");
