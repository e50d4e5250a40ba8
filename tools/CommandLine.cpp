#include "CommandLine.h"

#include <cstring>

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument)
    {
        if (c == '\\')
        {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    // ...and doubled before the closing quote too.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments)
    {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

bool ParseMilliseconds(const char* text, unsigned long& value)
{
    if (!*text || std::strlen(text) > 9)
        return false;
    unsigned long parsed = 0;
    for (const char* c = text; *c; ++c)
    {
        if (*c < '0' || *c > '9')
            return false;
        parsed = parsed * 10 + static_cast<unsigned long>(*c - '0');
    }
    value = parsed;
    return true;
}
