#pragma once

#include <string>
#include <vector>

// Quotes one argument so that the C runtime (and CommandLineToArgvW) hands
// it to the program unchanged: backslashes count only before a quote.
std::string QuoteArgument(const std::string& argument);

// Program and arguments, each quoted as needed, separated by spaces.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

// A number of milliseconds given on a command line: digits only, at most
// nine of them (strtoul would take a sign, blanks and overflow).
bool ParseMilliseconds(const char* text, unsigned long& value);
