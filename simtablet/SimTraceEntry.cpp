#include "SimTraceEntry.h"

std::string SimTraceEntry::ToLine() const
{
    std::string line = std::to_string(timeMs);
    line += ' ';
    line += device;
    line += ' ';
    line += call;
    if (!arguments.empty()) {
        line += ' ';
        line += arguments;
    }
    line += " -> ";
    line += result;
    return line;
}
