#pragma once
// The parts of an ELF file's layout that decide what a program looks like
// in memory once loaded: section flags and alignments, the loadable
// segments, and whether the file holds every byte its headers describe.
#include <cstdint>
#include <string>
#include <vector>

namespace reasm {

struct ElfSec {
    std::string name;
    uint32_t type = 0;
    uint64_t flags = 0;
    uint64_t addr = 0;
    uint64_t off = 0;
    uint64_t size = 0; // as the header states it, even past the end of the file
    uint64_t align = 0;
};

struct ElfSeg {
    uint32_t type = 0;
    uint32_t flags = 0;
    uint64_t off = 0;
    uint64_t vaddr = 0;
    uint64_t filesz = 0;
    uint64_t memsz = 0;
    uint64_t align = 0;
};

struct ElfLayout {
    std::vector<ElfSec> secs;
    std::vector<ElfSeg> segs;
    uint64_t missing = 0; // bytes that headers place past the end of the file
};

constexpr uint32_t kShtNote = 7;
constexpr uint32_t kShtNobits = 8;
constexpr uint64_t kShfAlloc = 0x2;
constexpr uint64_t kShfTls = 0x400;
constexpr uint32_t kPtLoad = 1;
constexpr uint32_t kPtTls = 7;
constexpr uint32_t kPtGnuStack = 0x6474E551;

// The flags of the stack segment header (1 = executable), -1 without one.
int stack_flags(const ElfLayout& layout);

// Reads the headers of an ELF32 or ELF64 file; empty for anything else.
ElfLayout read_layout(const std::vector<uint8_t>& data);

// The first section with this name and address, or null.
const ElfSec* find_sec(const ElfLayout& layout, const std::string& name, uint64_t addr);

constexpr uint32_t kPtDynamic = 2;
constexpr uint32_t kPtGnuRelro = 0x6474E552;
constexpr uint64_t kShfWrite = 0x1;

// A loadable segment aligned below a page: the program was linked with
// "-n" or "-N", and sections keep their own alignment.
bool unpaged(const ElfLayout& layout);

// The linker options that give a program the segments of this one where
// they differ from the linker's defaults: page size, code sharing a page
// with the headers, the hash tables, relocation read-only and immediate
// binding. Blank separated, empty when the defaults do.
std::string segment_options(const ElfLayout& layout, const std::vector<uint8_t>& data);

// Whether the second program has the loadable segments of the first
// (count, addresses, sizes, permissions, alignment), and its read-only
// after relocation part. `where` gets the first segment that differs, as
// the second program has it and as the first ("-" for none).
bool same_segments(const ElfLayout& a, const ElfLayout& b, std::string where[2]);

// Whether two programs look the same in memory where the first one loads
// its sections: the bytes and page permissions the kernel's loader gives
// every allocated section, and the thread-local segment. `where` names the
// first difference.
bool same_when_loaded(const ElfLayout& a, const std::vector<uint8_t>& a_data, const ElfLayout& b,
                      const std::vector<uint8_t>& b_data, std::string* where);

} // namespace reasm
