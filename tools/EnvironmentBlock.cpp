#include "EnvironmentBlock.h"

#include <windows.h>

#include <cstring>
#include <memory>

namespace
{
unsigned char Upper(char c)
{
    return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

// Ordinal on upper case, not the locale's collation: the block is sorted that way.
int CompareNames(const std::string& a, const std::string& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    {
        if (Upper(a[i]) != Upper(b[i]))
            return Upper(a[i]) < Upper(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

struct EnvironmentStringsDeleter
{
    void operator()(char* block) const { ::FreeEnvironmentStringsA(block); }
};
}

EnvironmentBlock::EnvironmentBlock(const char* block)
{
    if (!block)
        return;
    for (const char* entry = block; *entry; entry += std::strlen(entry) + 1)
    {
        // Names may start with '=': the per-drive folders ("=C:=C:\work").
        const char* equals = std::strchr(entry + 1, '=');
        if (!equals)
            m_variables.emplace_back(entry, std::string());
        else
            m_variables.emplace_back(std::string(entry, equals), std::string(equals + 1));
    }
}

EnvironmentBlock EnvironmentBlock::FromCurrentProcess()
{
    std::unique_ptr<char, EnvironmentStringsDeleter> strings(::GetEnvironmentStringsA());
    return EnvironmentBlock(strings.get());
}

void EnvironmentBlock::Set(const std::string& name, const std::string& value)
{
    auto place = m_variables.begin();
    for (; place != m_variables.end(); ++place)
    {
        const int order = CompareNames(place->first, name);
        if (order == 0)
        {
            place->second = value;
            return;
        }
        if (order > 0)
            break;
    }
    m_variables.emplace(place, name, value);
}

std::string EnvironmentBlock::Block() const
{
    std::string block;
    for (const auto& variable : m_variables)
    {
        block += variable.first;
        block += '=';
        block += variable.second;
        block += '\0';
    }
    // An empty block still needs its two NULs.
    if (block.empty())
        block += '\0';
    block += '\0';
    return block;
}
