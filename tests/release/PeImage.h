#pragma once
// The parts of a PE file's headers that say how Windows will load it: read
// from the file on disk, every offset checked against the file's size.

#include <cstdint>
#include <string>
#include <vector>

class PeImage {
public:
    struct Section {
        std::string name; // a long name ("/4") resolved through the string table
        uint32_t virtualAddress = 0;
        uint32_t virtualSize = 0;
        uint32_t rawOffset = 0;
        uint32_t rawSize = 0;
        uint32_t characteristics = 0;
    };

    // Empty `Error()` when the file was read and understood.
    explicit PeImage(const std::string& path);

    const std::string& Error() const { return m_error; }
    bool Is64Bit() const { return m_is64; }
    uint16_t DllCharacteristics() const { return m_dllCharacteristics; }
    uint32_t PointerToSymbolTable() const { return m_pointerToSymbolTable; }
    uint32_t NumberOfSymbols() const { return m_numberOfSymbols; }
    uint32_t TimeDateStamp() const { return m_timeDateStamp; }
    // Size of the base relocation directory: 0 when the image cannot move.
    uint32_t RelocationSize() const { return m_relocationSize; }
    const std::vector<Section>& Sections() const { return m_sections; }
    // The DLL names of the import table, as written there.
    const std::vector<std::string>& Imports() const { return m_imports; }
    // Address (RVA) of the TLS directory's callback list, in the order the
    // loader calls them; 0 when the image has none.
    uint32_t TlsCallbackList() const { return m_tlsCallbackList; }
    // Address (RVA) of a symbol of the COFF symbol table (a C name, with or
    // without x86's leading underscore); 0 when there is no such symbol.
    uint32_t SymbolAddress(const std::string& name) const;

private:
    bool Parse();
    bool ReadImports(uint32_t rva);
    bool ReadTls(uint32_t rva, uint64_t imageBase);
    // The name that a section header's "/offset" stands for.
    bool ResolveLongName(std::string& name);
    // Whether the section holding an address has no bytes in the file (a
    // file of debug information alone, objcopy --only-keep-debug): nothing
    // there to read, and nothing wrong.
    bool OnlyInMemory(uint32_t rva) const;
    // File offset of an address inside a section's raw data; 0 when none.
    size_t OffsetOf(uint32_t rva) const;
    template <typename T>
    bool Read(size_t offset, T& value) const;

    std::string m_data;
    std::string m_error;
    bool m_is64 = false;
    uint16_t m_dllCharacteristics = 0;
    uint32_t m_pointerToSymbolTable = 0;
    uint32_t m_numberOfSymbols = 0;
    uint32_t m_timeDateStamp = 0;
    uint32_t m_relocationSize = 0;
    std::vector<Section> m_sections;
    std::vector<std::string> m_imports;
    uint32_t m_tlsCallbackList = 0;
};
