#include "MessageBoxReport.h"

#include <cstdio>

std::string EscapeReportText(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '"')
            escaped += "\\\"";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
            escaped += hex;
        }
        else
            escaped += c;
    }
    return escaped;
}

std::string FormatMessageBoxLine(const SeenMessageBox& box)
{
    return "MessageBox caption=\"" + EscapeReportText(box.caption) + "\" icon=" + MessageBoxIconName(box.icon) +
           " text=\"" + EscapeReportText(box.text) + "\"";
}

std::string FormatMessageBoxLines(const std::vector<SeenMessageBox>& boxes)
{
    std::string lines;
    for (const SeenMessageBox& box : boxes)
        lines += "\n  " + FormatMessageBoxLine(box);
    return lines;
}
