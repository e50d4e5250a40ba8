#include "TraceLines.h"

#include <fstream>
#include <sstream>

TraceLine ParseTraceLine(const std::string& text)
{
    std::istringstream fields(text);
    TraceLine line;
    fields >> line.timeMs >> line.device >> line.call;
    std::string word;
    std::string arguments;
    while (fields >> word && word != "->")
        arguments += (arguments.empty() ? "" : " ") + word;
    line.arguments = arguments;
    std::getline(fields, line.result);
    if (!line.result.empty() && line.result[0] == ' ')
        line.result.erase(0, 1);
    return line;
}

std::vector<TraceLine> ReadTrace(const std::string& path)
{
    std::vector<TraceLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        lines.push_back(ParseTraceLine(text));
    }
    return lines;
}

std::vector<TraceLine> Only(const std::vector<TraceLine>& trace, const std::string& call)
{
    std::vector<TraceLine> selected;
    for (const TraceLine& line : trace) {
        if (line.call == call)
            selected.push_back(line);
    }
    return selected;
}
