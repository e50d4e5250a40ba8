#include "PeImage.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Offsets as Microsoft documents the PE/COFF file format.
constexpr size_t kPeOffsetField = 0x3C;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kDllCharacteristicsOffset = 70; // in the optional header, both kinds
constexpr size_t kDirectoriesOffset32 = 96;
constexpr size_t kDirectoriesOffset64 = 112;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kRelocationDirectory = 5;
constexpr uint32_t kTlsDirectory = 9;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kImportDescriptorSize = 20;
constexpr size_t kSymbolSize = 18;

} // namespace

PeImage::PeImage(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        m_error = "cannot open " + path;
        return;
    }
    m_data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!Parse() && m_error.empty())
        m_error = "not a PE image: " + path;
}

template <typename T>
bool PeImage::Read(size_t offset, T& value) const
{
    if (offset > m_data.size() || m_data.size() - offset < sizeof(T))
        return false;
    std::memcpy(&value, m_data.data() + offset, sizeof(T));
    return true;
}

bool PeImage::Parse()
{
    uint16_t mz = 0;
    uint32_t pe = 0;
    uint32_t signature = 0;
    if (!Read(0, mz) || mz != 0x5A4D || !Read(kPeOffsetField, pe) || !Read(pe, signature) || signature != 0x4550)
        return false;
    const size_t coff = pe + 4;
    uint16_t sectionCount = 0;
    uint16_t optionalSize = 0;
    if (!Read(coff + 2, sectionCount) || !Read(coff + 4, m_timeDateStamp) || !Read(coff + 8, m_pointerToSymbolTable) ||
        !Read(coff + 12, m_numberOfSymbols) || !Read(coff + 16, optionalSize))
        return false;
    const size_t optional = coff + 20;
    uint16_t magic = 0;
    if (!Read(optional, magic) || (magic != kPe32Magic && magic != kPe32PlusMagic))
        return false;
    m_is64 = magic == kPe32PlusMagic;
    if (!Read(optional + kDllCharacteristicsOffset, m_dllCharacteristics))
        return false;
    const size_t directories = optional + (m_is64 ? kDirectoriesOffset64 : kDirectoriesOffset32);
    uint32_t directoryCount = 0;
    if (!Read(directories - 4, directoryCount))
        return false;
    uint32_t importRva = 0;
    if (directoryCount > kImportDirectory && !Read(directories + 8 * kImportDirectory, importRva))
        return false;
    if (directoryCount > kRelocationDirectory && !Read(directories + 8 * kRelocationDirectory + 4, m_relocationSize))
        return false;
    uint32_t tlsRva = 0;
    if (directoryCount > kTlsDirectory && !Read(directories + 8 * kTlsDirectory, tlsRva))
        return false;
    uint64_t imageBase = 0;
    uint32_t imageBase32 = 0;
    if (m_is64 ? !Read(optional + 24, imageBase) : !Read(optional + 28, imageBase32))
        return false;
    imageBase += imageBase32;

    const size_t sections = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const size_t at = sections + i * kSectionHeaderSize;
        char name[8] = {};
        Section section;
        if (!Read(at, name) || !Read(at + 8, section.virtualSize) || !Read(at + 12, section.virtualAddress) ||
            !Read(at + 16, section.rawSize) || !Read(at + 20, section.rawOffset) ||
            !Read(at + 36, section.characteristics))
            return false;
        section.name.assign(name, strnlen(name, sizeof(name)));
        if (!ResolveLongName(section.name))
            return false;
        m_sections.push_back(section);
    }
    return (importRva == 0 || ReadImports(importRva)) && (tlsRva == 0 || ReadTls(tlsRva, imageBase));
}

bool PeImage::ReadTls(uint32_t rva, uint64_t imageBase)
{
    // AddressOfCallBacks, a virtual address: the fourth field, of 8 bytes
    // in PE32+ and of 4 in PE32.
    const size_t at = OffsetOf(rva);
    uint64_t list = 0;
    uint32_t list32 = 0;
    if (at == 0)
        return OnlyInMemory(rva);
    if (m_is64 ? !Read(at + 24, list) : !Read(at + 12, list32))
        return false;
    list += list32;
    if (list != 0 && (list < imageBase || list - imageBase > UINT32_MAX)) {
        m_error = "the TLS callback list lies outside the image";
        return false;
    }
    m_tlsCallbackList = list == 0 ? 0 : static_cast<uint32_t>(list - imageBase);
    return true;
}

uint32_t PeImage::SymbolAddress(const std::string& name) const
{
    const size_t strings = m_pointerToSymbolTable + size_t(m_numberOfSymbols) * kSymbolSize;
    for (uint32_t i = 0; m_pointerToSymbolTable != 0 && i < m_numberOfSymbols; ++i) {
        const size_t at = m_pointerToSymbolTable + size_t(i) * kSymbolSize;
        char shortName[8] = {};
        uint32_t zeroes = 0;
        uint32_t nameOffset = 0;
        uint32_t value = 0;
        int16_t section = 0;
        uint8_t auxCount = 0;
        if (!Read(at, shortName) || !Read(at, zeroes) || !Read(at + 4, nameOffset) || !Read(at + 8, value) ||
            !Read(at + 12, section) || !Read(at + 17, auxCount))
            return 0;
        std::string symbol;
        if (zeroes != 0) {
            symbol.assign(shortName, strnlen(shortName, sizeof(shortName)));
        } else {
            const size_t end = m_data.find('\0', strings + nameOffset);
            if (strings + nameOffset >= m_data.size() || end == std::string::npos)
                return 0;
            symbol = m_data.substr(strings + nameOffset, end - strings - nameOffset);
        }
        if ((symbol == name || symbol == "_" + name) && section > 0 && size_t(section) <= m_sections.size())
            return m_sections[section - 1].virtualAddress + value;
        i += auxCount;
    }
    return 0;
}

bool PeImage::ResolveLongName(std::string& name)
{
    if (name.empty() || name[0] != '/')
        return true;
    // The COFF string table follows the symbol table; its offsets count
    // from the table's start, whose first 4 bytes hold its size.
    const size_t table = m_pointerToSymbolTable + size_t(m_numberOfSymbols) * kSymbolSize;
    const size_t at = table + std::strtoul(name.c_str() + 1, nullptr, 10);
    const size_t end = m_pointerToSymbolTable == 0 || at >= m_data.size() ? std::string::npos : m_data.find('\0', at);
    if (end == std::string::npos) {
        m_error = "the section name " + name + " lies outside the string table";
        return false;
    }
    name = m_data.substr(at, end - at);
    return true;
}

size_t PeImage::OffsetOf(uint32_t rva) const
{
    for (const Section& s : m_sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize)
            return s.rawOffset + (rva - s.virtualAddress);
    }
    return 0;
}

bool PeImage::OnlyInMemory(uint32_t rva) const
{
    for (const Section& s : m_sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.virtualSize)
            return s.rawOffset == 0;
    }
    return false;
}

bool PeImage::ReadImports(uint32_t rva)
{
    size_t at = OffsetOf(rva);
    if (at == 0)
        return OnlyInMemory(rva);
    for (;; at += kImportDescriptorSize) {
        uint32_t nameRva = 0;
        if (!Read(at + 12, nameRva))
            return false;
        if (nameRva == 0)
            return true; // the all-zero descriptor that ends the table
        const size_t name = OffsetOf(nameRva);
        const size_t end = name == 0 ? std::string::npos : m_data.find('\0', name);
        if (end == std::string::npos) {
            m_error = "an import's name lies outside the file";
            return false;
        }
        m_imports.push_back(m_data.substr(name, end - name));
    }
}
