#pragma once
// One binary file in memory: its bytes, recognised format, sections and
// symbols, with address/offset mapping, patching and saving.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BinImage {
public:
    enum Kind : int {
        Raw = 0,
        Elf32 = 1,
        Elf64 = 2,
        Pe32 = 3,
        Pe64 = 4,
        Com = 5,
        Mz = 6,
    };

    struct Section {
        std::string name;
        uint64_t addr = 0;   // virtual address; 0 when not mapped into memory
        uint64_t offset = 0; // file offset
        uint64_t size = 0;   // bytes present in the file (0 when the stated range lies outside it)
        bool exec = false;
        bool write = false;
        bool in_file = false;
    };

    struct Symbol {
        uint64_t addr = 0;
        uint64_t size = 0; // 0 when the file gives none
        std::string name;  // at most 4096 characters
        bool func = false;
    };

    struct CodeRange {
        std::string name;
        uint64_t addr = 0;
        uint64_t off = 0;
        uint64_t size = 0;
    };

    // Failure words of load: "open", "size", "read". The image is unchanged on failure.
    bool load(const std::string& path, std::string* err = nullptr);
    bool load_bytes(std::vector<uint8_t> bytes, const std::string& name);
    void clear();

    const char* kind_name() const;
    void set_raw_view(int bits, uint64_t base);

    bool addr_to_off(uint64_t addr, uint64_t* off) const;
    bool off_to_addr(uint64_t off, uint64_t* addr) const;

    bool read(uint64_t addr, uint8_t* buf, size_t n) const;
    bool write(uint64_t addr, const uint8_t* buf, size_t n);
    bool write_off(uint64_t off, const uint8_t* buf, size_t n);

    std::string symbol_at(uint64_t addr, bool exact) const;
    bool find_symbol(const std::string& name, uint64_t* addr) const;

    std::vector<CodeRange> code_ranges() const;

    // Writes through a fresh temporary file and a rename, keeping the file
    // mode; a device, FIFO or folder at the path is refused ("rename").
    // Failure words: "open", "write", "rename".
    bool save(const std::string& path, std::string* err = nullptr);

    std::string m_path;
    std::vector<uint8_t> m_data;
    Kind m_kind = Raw;
    int m_bits = 64;
    uint64_t m_entry = 0;
    uint64_t m_base = 0;
    bool m_dirty = false;
    std::vector<Section> m_sections;
    std::vector<Symbol> m_symbols;

private:
    void parse();
    bool parse_elf();
    bool parse_pe();
    void parse_mz();
};
