#include "TraceLine.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Hex(const unsigned char* bytes, unsigned long count)
{
    std::string text;
    char digits[4];
    for (unsigned long i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof(digits), "%s%02X", i == 0 ? "" : " ", bytes[i]);
        text += digits;
    }
    return text;
}

} // namespace

std::string FormatTraceLine(const VT_TRACE_RECORD& record, const char* device)
{
    const bool ok = record.status >= 0;
    const unsigned long count = std::min<unsigned long>(record.byteCount, VT_TRACE_BYTES);
    std::string call;
    std::string arguments;
    std::string result = ok ? "1" : "0";
    switch (record.kind) {
    case VT_TRACE_SET_FEATURE:
        call = "SetFeature";
        arguments = Hex(record.bytes, count);
        // The trace keeps VT_TRACE_BYTES; a longer report is marked cut.
        if (record.length > count)
            arguments += " ...";
        break;
    case VT_TRACE_GET_FEATURE:
        call = "GetFeature";
        arguments = "len=" + std::to_string(record.length);
        if (count > 0)
            result += " " + Hex(record.bytes, 1);
        break;
    case VT_TRACE_STRING:
        call = "GetIndexedString";
        arguments = std::to_string(record.length);
        break;
    case VT_TRACE_SERIAL:
        call = "GetSerialNumberString";
        break;
    case VT_TRACE_PLUG:
        call = "Plug";
        break;
    case VT_TRACE_UNPLUG:
        call = "Unplug";
        break;
    default:
        call = "Unknown" + std::to_string(record.kind);
        break;
    }
    std::string line = std::to_string(record.timeMs) + " " + device + " " + call;
    if (!arguments.empty())
        line += " " + arguments;
    if (!ok) {
        char status[16];
        std::snprintf(status, sizeof(status), "%08lX", static_cast<unsigned long>(record.status));
        result += " status=" + std::string(status);
    }
    return line + " -> " + result;
}
