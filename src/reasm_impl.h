#pragma once
// The working state of one conversion to source, shared by the steps of
// reasm: reading the dynamic-linking tables, code discovery and labelling,
// emission and the rebuild check.
#include "binimage.h"
#include "disasm.h"
#include "reasm.h"
#include "reasm_codeindex.h"
#include "reasm_layout.h"
#include "toolchain.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace reasm {

// One output section.
struct Sec {
    std::string name;
    uint64_t addr = 0;
    uint64_t size = 0;
    uint64_t off = 0; // file offset of the first byte
    bool exec = false;
    bool write = false;
    bool in_file = false; // false for a section without file bytes, like .bss
    uint64_t align = 0;   // the alignment the file states
    bool tls = false;     // thread-local data; a .tbss takes no address range of its own
    bool array = false;   // constructor or destructor pointers of a C program
    bool note = false;
};

// Source line (1-based) -> address of the instruction written on it. Lines
// are added in increasing order as the text is written, so a sorted vector
// serves: a third of a map's memory for millions of lines.
class LineMap {
public:
    using value_type = std::pair<int, uint64_t>;
    using const_iterator = std::vector<value_type>::const_iterator;

    LineMap() = default;
    LineMap(std::initializer_list<value_type> rows)
    {
        for (const auto& [line, addr] : rows)
            add(line, addr);
    }
    bool operator==(const LineMap&) const = default;

    void add(int line, uint64_t addr)
    {
        if (m_rows.empty() || m_rows.back().first < line) {
            m_rows.emplace_back(line, addr);
            return;
        }
        auto it = std::lower_bound(m_rows.begin(), m_rows.end(), value_type(line, 0), by_line);
        if (it != m_rows.end() && it->first == line)
            it->second = addr;
        else
            m_rows.insert(it, { line, addr });
    }
    const_iterator find(int line) const
    {
        auto it = std::lower_bound(m_rows.begin(), m_rows.end(), value_type(line, 0), by_line);
        return it != m_rows.end() && it->first == line ? it : m_rows.end();
    }
    size_t count(int line) const { return find(line) != m_rows.end(); }
    const_iterator begin() const { return m_rows.begin(); }
    const_iterator end() const { return m_rows.end(); }
    bool empty() const { return m_rows.empty(); }
    size_t size() const { return m_rows.size(); }
    int last_line() const { return m_rows.empty() ? 0 : m_rows.back().first; }
    void clear() { std::vector<value_type>().swap(m_rows); }

private:
    static bool by_line(const value_type& a, const value_type& b) { return a.first < b.first; }
    std::vector<value_type> m_rows;
};

struct Writer {
    explicit Writer(const BinImage& img)
        : m_img(img)
    {
    }

    // Decides what is written and finds the code; false when the image
    // cannot be written as buildable source.
    bool setup();
    // Reads libraries, imports and relocated pointers of an ELF program.
    void read_dynamic();
    // For a static C program: the functions and objects of the C library
    // it carries, found by the names the system's C library exports.
    void read_static_imports();
    // Writes the whole source into the file at `path`, created anew; the
    // instructions at the addresses in `as_bytes` become "db" lines. The
    // text can be many times the input, so it is never held whole. False
    // when the file could not be written.
    bool emit(const std::set<uint64_t>& as_bytes, LineMap* lines, const std::string& path);
    // The same into memory, for when no file can be written.
    std::string emit_text(const std::set<uint64_t>& as_bytes, LineMap* lines);

    std::string label(uint64_t addr) const;
    // The label, or for an address inside a library's object "name + offset".
    std::string address_name(uint64_t addr) const;
    // The library object (copy-relocated or carried) that holds the address
    // past its start, with the offset; null for none.
    const std::string* inside_copy(uint64_t addr, uint64_t* offset) const;
    uint64_t copy_size(uint64_t addr) const; // of the object at exactly addr
    void labels_at(uint64_t addr);
    void line(const std::string& text);

    // Queries used by several steps.
    const Sec* section_at(uint64_t addr) const; // first section with addr <= a < addr + size
    bool is_code(uint64_t addr) const;          // in a section with exec and in_file
    bool in_some_section(uint64_t addr) const;  // addr <= a <= addr + size (end included)
    bool labelable(uint64_t addr) const;
    void add_label(uint64_t addr, const std::string& name);
    std::vector<uint64_t> instruction_refs(const dis::Insn& insn) const;
    bool far_target(const dis::Insn& insn, uint64_t* target) const;
    // Text of an instruction with its operands rewritten to labels; sets
    // `force_bytes` when NASM cannot spell it with the same encoding.
    std::string rewrite(const dis::Insn& insn, bool* force_bytes) const;

    // Tries spellings that pin the encoding for the instructions at these
    // addresses; returns how many found one (kept in m_spelling).
    int find_spellings(const std::set<uint64_t>& addrs);

    uint64_t m_main = 0;
    const BinImage& m_img;
    bool m_compiled = false;
    bool m_readonly = false;
    // Position-independent (an ELF of type 3): only RIP-relative operands
    // and relocations hold addresses; every other number is a number.
    bool m_pic = false;
    bool m_static = false; // a C program that carries its libraries
    tc::LinkOpts m_link;
    std::vector<std::string> m_needed;
    std::map<uint64_t, std::string> m_plt;
    std::map<uint64_t, std::string> m_gotsym;
    std::map<uint64_t, uint64_t> m_relative;
    std::map<uint64_t, std::string> m_absym;
    std::map<uint64_t, int64_t> m_addend; // of an absolute symbol slot, when not 0
    std::set<std::string> m_weak;         // imports bound weakly: declared weak, so the link needs no definition
    std::map<uint64_t, std::string> m_copy;
    std::map<uint64_t, std::vector<uint64_t>> m_jtab;
    std::set<uint64_t> m_guessed; // starts taken from data words that only look like code addresses
    std::set<uint64_t> m_functions; // starts the unwind tables name: code even where used as data
    std::set<std::string> m_imports;
    std::set<std::string> m_used;
    std::set<std::string> m_emitted;
    bool m_flat = false;
    uint64_t m_org = 0;
    int m_bits = 64;
    std::vector<Sec> m_secs;
    // The instructions found; their full records (text, bytes, operands)
    // are decoded again from the image when needed.
    CodeIndex m_code;
    dis::Insn insn_at(uint64_t addr) const; // decoded again; addr is in m_code
    std::map<uint64_t, std::vector<std::string>> m_names;
    std::string m_out; // the text, or the part of it not yet in the file
    int m_out_fd = -1;
    bool m_out_failed = false;
    int m_line = 0;
    ElfLayout m_layout;
    std::set<uint64_t> m_own_slots; // entries of constructor arrays that the program itself adds
    // The tool that stopped the last failed rebuild, and its first error
    // line; written by the check, which sees the writer as const.
    struct Failure {
        std::string tool, line;
        std::string segments[2]; // the first segment that differs: rebuilt, original
    };
    mutable Failure m_failure;
    std::map<uint64_t, std::string> m_spelling; // instruction text that gives exactly its bytes
    std::set<uint64_t> m_spell_tried;

private:
    void discover(uint64_t start, const std::vector<uint64_t>& first_seeds, const std::set<uint64_t>& skip);
    uint64_t find_main() const;
    void find_absolute_pointers();
    bool proven_pointer(uint64_t slot, uint64_t value) const;
    std::vector<uint64_t> gap_starts() const;
    std::vector<uint64_t> pointed_functions(const std::set<uint64_t>& skip) const;
    void data_words(const std::function<void(uint64_t slot, uint64_t value)>& fn) const;
    bool calls_pc_thunk() const;
    // An instruction found so far starts inside [addr, addr + len) after
    // addr, or reaches into addr from before it.
    bool overlaps_code(uint64_t addr, uint64_t len) const;
    void assign_labels();
    void emit_all(const std::set<uint64_t>& as_bytes, LineMap* lines);
    void flush_out();
    void emit_section(const Sec& sec, const std::set<uint64_t>& as_bytes, LineMap* lines);
    void emit_instruction(const dis::Insn& insn, const std::set<uint64_t>& as_bytes, LineMap* lines);
    void emit_data(uint64_t off, uint64_t n);
    std::string section_line(const Sec& sec) const;
    uint64_t first_own(const Sec& sec) const;
    void find_own_constructors(const std::set<uint64_t>& runtime, std::vector<uint64_t>* seeds);
    void emit_array(const Sec& sec);
    bool build_id_option(const BinImage::Section& note);

    std::set<std::string> m_taken; // label names already given to an address
};

// Other ways to write an instruction's text (given with its labels) that
// may make NASM choose exactly the instruction's encoding.
std::vector<std::string> spellings(const dis::Insn& insn, int bits, const std::string& text);

// Section-name sets of the setup.
bool made_by_linker(const std::string& section);
bool c_start(const std::string& section);
// Sections of pointers to functions the C runtime calls before or after main.
bool constructor_array(const std::string& section);

// Assembles and links the source in the file at asm_path (as emit wrote it)
// again and compares the result with the
// image. True when the rebuild succeeded; `differing` gets the instructions
// NASM encoded differently (or rejected), `same` whether every byte matched.
// `moved`, when given, tells whether a section landed at another address.
bool check(const Writer& w, const BinImage& image, const std::string& asm_path, const LineMap& lines,
           std::set<uint64_t>* differing, bool* same, std::string* why, bool* moved = nullptr);

// The program of the build's last command, which failed ("ld" when the C
// compiler's linker failed), and the first line of its output that tells
// why; empty when the log names none.
std::string failed_tool(const tc::BuildResult& br, std::string* first_error);

// Marks for bytes the instructions on the source lines NASM reported an
// error for, so that a form NASM rejects does not end the conversion.
void errors_to_instructions(const std::vector<tc::Diag>& diags, const std::string& asm_path, const LineMap& lines,
                            std::set<uint64_t>* differing);

// A section name as NASM reads it in a "section" line.
std::string section_name(const std::string& name);

// "..gotpcrel", or "..got" for a NASM that refuses the newer keyword.
std::string got_wrt();

} // namespace reasm
