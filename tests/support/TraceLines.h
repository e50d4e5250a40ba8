#pragma once
// Trace lines as the simulated bus writes them and the virtual tablet's
// control library formats them ("<ms> <device> <call> <arguments> -> <result>"),
// read back into fields, so one set of checks reads the traffic of either.

#include <string>
#include <vector>

struct TraceLine {
    unsigned long timeMs = 0;
    std::string device;
    std::string call;
    std::string arguments;
    std::string result;
};

TraceLine ParseTraceLine(const std::string& text);
// The lines of a trace file; none when it cannot be read.
std::vector<TraceLine> ReadTrace(const std::string& path);
std::vector<TraceLine> Only(const std::vector<TraceLine>& trace, const std::string& call);
