#pragma once

#include <string>
#include <utility>
#include <vector>

// An ANSI environment block for CreateProcessA: NAME=VALUE strings, each
// ended by a NUL, the whole ended by one more.
class EnvironmentBlock
{
public:
    // Parses a block laid out as GetEnvironmentStringsA returns it.
    explicit EnvironmentBlock(const char* block);

    static EnvironmentBlock FromCurrentProcess();

    // Replaces the variable of that name, whatever its case, or adds it in
    // sorted place: Windows matches names without regard to case and keeps
    // the block sorted that way.
    void Set(const std::string& name, const std::string& value);

    const std::vector<std::pair<std::string, std::string>>& Variables() const { return m_variables; }

    std::string Block() const;

private:
    std::vector<std::pair<std::string, std::string>> m_variables;
};
