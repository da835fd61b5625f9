// Setting a conversion up: which sections are written, whether a C
// compiler made the program, and where the code is, found by recursive
// descent with linear runs until code and data no longer change.
#include "reasm_impl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace reasm {

namespace {

constexpr int kMaxPasses = 8;
constexpr size_t kMaxTableEntries = 1024;
constexpr int kGapRounds = 2;

bool read_hex(const std::string& text, size_t pos, uint64_t* value)
{
    size_t end = pos;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == pos || end - pos > 16)
        return false;
    *value = std::strtoull(text.substr(pos, end - pos).c_str(), nullptr, 16);
    return true;
}

bool starts_with(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool has_section(const BinImage& img, const char* name)
{
    for (const auto& s : img.m_sections)
        if (s.name == name)
            return true;
    return false;
}

// A jump whose text, without its prefixes, is an unconditional "jmp".
bool is_unconditional_jump(const std::string& text)
{
    std::string t = text;
    for (const char* prefix : { "notrack ", "ds ", "bnd ", "rep " })
        if (starts_with(t, prefix))
            t = t.substr(std::char_traits<char>::length(prefix));
    return starts_with(t, "jmp");
}

// Unsigned and signed LEB128 at p (below end); p moves past it.
uint64_t uleb(const uint8_t* d, size_t end, size_t* p)
{
    uint64_t v = 0;
    for (unsigned shift = 0; *p < end; shift += 7) {
        uint8_t b = d[(*p)++];
        if (shift < 64)
            v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
    }
    return v;
}

// A pointer of the unwind tables in its encoding, read at p (the field's
// address is addr); false for an encoding not read here.
bool eh_pointer(const uint8_t* d, size_t end, size_t* p, uint8_t enc, uint64_t addr, int bits, uint64_t* out)
{
    int size = 0;
    bool is_signed = false;
    switch (enc & 0x0F) {
    case 0x00: size = bits == 64 ? 8 : 4; break;
    case 0x02: size = 2; break;
    case 0x03: size = 4; break;
    case 0x04: size = 8; break;
    case 0x0A: size = 2; is_signed = true; break;
    case 0x0B: size = 4; is_signed = true; break;
    case 0x0C: size = 8; is_signed = true; break;
    default: return false;
    }
    if (*p + size > end)
        return false;
    uint64_t v = 0;
    for (int i = size; i-- > 0;)
        v = v << 8 | d[*p + i];
    if (is_signed && size < 8 && (v >> (size * 8 - 1)) & 1)
        v |= ~uint64_t(0) << (size * 8);
    *p += size;
    switch (enc & 0x70) {
    case 0x00: break;
    case 0x10: v += addr; break;
    default: return false;
    }
    *out = bits == 64 ? v : uint32_t(v);
    return true;
}

// The first address of every function the unwind tables (.eh_frame)
// describe: compilers record each function there, called or not.
std::vector<uint64_t> unwind_starts(const BinImage& img)
{
    std::vector<uint64_t> out;
    const BinImage::Section* eh = nullptr;
    for (const auto& s : img.m_sections)
        if (s.name == ".eh_frame" && s.in_file)
            eh = &s;
    if (!eh || eh->offset >= img.m_data.size())
        return out;
    const uint8_t* d = img.m_data.data() + eh->offset;
    const size_t size = std::min<uint64_t>(eh->size, img.m_data.size() - eh->offset);
    std::map<size_t, uint8_t> fde_encoding; // by the offset of each CIE
    for (size_t p = 0; p + 8 <= size;) {
        uint64_t len = uint32_t(d[p]) | uint32_t(d[p + 1]) << 8 | uint32_t(d[p + 2]) << 16 | uint32_t(d[p + 3]) << 24;
        if (len == 0 || len == 0xFFFFFFFF || len > size - p - 4)
            break;
        const size_t start = p + 4, end = start + len;
        const uint32_t id = uint32_t(d[start]) | uint32_t(d[start + 1]) << 8 | uint32_t(d[start + 2]) << 16
            | uint32_t(d[start + 3]) << 24;
        size_t q = start + 4;
        if (id == 0) {
            if (q >= end)
                break;
            uint8_t version = d[q++];
            std::string aug;
            while (q < end && d[q])
                aug += char(d[q++]);
            ++q;
            uleb(d, end, &q);
            uleb(d, end, &q); // data alignment (signed, its value unused)
            if (version == 1)
                ++q;
            else
                uleb(d, end, &q);
            uint8_t enc = 0;
            if (!aug.empty() && aug[0] == 'z') {
                uleb(d, end, &q);
                for (size_t k = 1; k < aug.size() && q < end; ++k) {
                    if (aug[k] == 'R') {
                        enc = d[q++];
                    } else if (aug[k] == 'P') {
                        uint8_t penc = d[q++];
                        uint64_t ignored = 0;
                        if (!eh_pointer(d, end, &q, penc & 0x7F, 0, img.m_bits, &ignored))
                            break;
                    } else if (aug[k] == 'L') {
                        ++q;
                    }
                }
            }
            fde_encoding[p] = enc;
        } else {
            auto cie = fde_encoding.find(start - id);
            uint64_t begin = 0;
            if (cie != fde_encoding.end() && eh_pointer(d, end, &q, cie->second, eh->addr + q, img.m_bits, &begin))
                out.push_back(begin);
        }
        p = end;
    }
    return out;
}

} // namespace

// A direct far jump or call in 16-bit code ("jmp 0x0000:0x7C05", as a boot
// sector reloads CS) continues at segment * 16 + offset.
bool Writer::far_target(const dis::Insn& insn, uint64_t* target) const
{
    if (m_bits != 16 || !(insn.is_jump || insn.is_call))
        return false;
    size_t sp = insn.text.find(' ');
    size_t colon = insn.text.find(':');
    if (sp == std::string::npos || colon == std::string::npos || insn.text.compare(sp + 1, 2, "0x") != 0
        || insn.text.compare(colon + 1, 2, "0x") != 0)
        return false;
    uint64_t seg = 0, off = 0;
    if (!read_hex(insn.text, sp + 3, &seg) || !read_hex(insn.text, colon + 3, &off)
        || insn.text.find_first_not_of("0123456789abcdefABCDEF", colon + 3) != std::string::npos)
        return false;
    *target = seg * 16 + off;
    return true;
}

const Sec* Writer::section_at(uint64_t addr) const
{
    for (const auto& s : m_secs)
        if (s.addr <= addr && addr < s.addr + s.size && !(s.tls && !s.in_file))
            return &s;
    return nullptr;
}

dis::Insn Writer::insn_at(uint64_t addr) const
{
    // Decoded exactly as discovery decoded it: from the section's bytes up
    // to the section's end.
    dis::Insn insn;
    const Sec* sec = section_at(addr);
    if (!sec)
        return insn;
    uint64_t off = sec->off + (addr - sec->addr);
    if (off >= m_img.m_data.size())
        return insn;
    size_t n = std::min<uint64_t>(sec->addr + sec->size - addr, m_img.m_data.size() - off);
    dis::decode(m_img.m_data.data() + off, n, addr, m_bits, &insn, false);
    return insn;
}

bool Writer::is_code(uint64_t addr) const
{
    const Sec* s = section_at(addr);
    return s && s->exec && s->in_file;
}

bool Writer::in_some_section(uint64_t addr) const
{
    for (const auto& s : m_secs)
        if (s.addr <= addr && addr <= s.addr + s.size && !(s.tls && !s.in_file))
            return true;
    return false;
}

std::vector<uint64_t> Writer::instruction_refs(const dis::Insn& insn) const
{
    std::vector<uint64_t> refs;
    if (insn.has_mem)
        refs.push_back(insn.mem);
    if (m_pic)
        return refs;
    const std::string& t = insn.text;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i] != '0' || t[i + 1] != 'x')
            continue;
        if (i > 0) {
            unsigned char prev = static_cast<unsigned char>(t[i - 1]);
            if (std::isalnum(prev) || prev == '-')
                continue;
        }
        uint64_t v = 0;
        if (read_hex(t, i + 2, &v) && v > 255 && (in_some_section(v) || m_plt.count(v)) && !(insn.has_target && insn.target == v))
            refs.push_back(v);
        ++i;
    }
    return refs;
}

uint64_t Writer::find_main() const
{
    uint64_t last = 0;
    for (const auto& sym : m_img.m_symbols)
        if (sym.name == "main")
            last = sym.addr;
    if (last)
        return last;
    uint64_t off = 0;
    if (!m_img.addr_to_off(m_img.m_entry, &off) || off >= m_img.m_data.size())
        return 0;
    size_t n = std::min<size_t>(128, m_img.m_data.size() - off);
    auto insns = dis::sweep(m_img.m_data.data() + off, n, m_img.m_entry, m_bits, 40);
    uint64_t found = 0;
    for (const auto& insn : insns) {
        const std::string& t = insn.text;
        if (starts_with(t, "lea rdi,") && insn.has_mem) {
            found = insn.mem;
        } else if (starts_with(t, "mov rdi,") || starts_with(t, "mov edi,")) {
            size_t x = t.find("0x");
            uint64_t v = 0;
            if (x != std::string::npos && read_hex(t, x + 2, &v))
                found = v;
        } else if (m_bits == 32 && (starts_with(t, "push 0x") || starts_with(t, "mov e"))) {
            // The i386 start code pushes main's address, or loads it into a
            // register that it pushes, as the first argument.
            size_t x = t.find("0x");
            uint64_t v = 0;
            if (x != std::string::npos && read_hex(t, x + 2, &v) && is_code(v))
                found = v;
        }
        if (insn.is_call) {
            // The i386 start code calls its pc thunk before main is known.
            if (m_bits == 32 && !found)
                continue;
            break;
        }
    }
    return found;
}

bool Writer::setup()
{
    m_bits = m_img.m_bits;
    uint64_t start = 0;
    std::vector<uint64_t> seeds;
    std::set<uint64_t> skip;

    if (m_img.m_kind == BinImage::Raw || m_img.m_kind == BinImage::Com) {
        m_flat = true;
        m_org = m_img.m_kind == BinImage::Com ? 0x100 : m_img.m_base;
        Sec s;
        s.addr = m_org;
        s.size = m_img.m_data.size();
        s.exec = s.write = s.in_file = true;
        m_secs.push_back(s);
        start = m_org;
        seeds.push_back(start);
    } else if (m_img.m_kind == BinImage::Elf32 || m_img.m_kind == BinImage::Elf64) {
        read_dynamic();
        bool type3 = m_img.m_data.size() > 18 && m_img.m_data[16] == 3;
        m_pic = type3;
        for (const auto& s : m_img.m_sections)
            if (s.addr && c_start(s.name))
                m_compiled = true;
        // Position independence alone says nothing: NASM makes such
        // programs too. The C runtime brings its sections or its start.
        if (m_imports.count("__libc_start_main"))
            m_compiled = true;
        m_layout = read_layout(m_img.m_data);
        for (const auto& s : m_img.m_sections) {
            const ElfSec* es = find_sec(m_layout, s.name, s.addr);
            // Loaded notes are part of the program's bytes; cc adds its own.
            bool note = es ? es->type == kShtNote : starts_with(s.name, ".note");
            bool array = m_compiled && constructor_array(s.name);
            bool skip = m_compiled ? note || made_by_linker(s.name) || (c_start(s.name) && !array)
                                   : (made_by_linker(s.name) && !note && s.name != ".eh_frame") || c_start(s.name);
            if (!s.addr || !s.size || skip)
                continue;
            if (!m_compiled && s.name == ".note.gnu.build-id" && build_id_option(s))
                continue;
            Sec sec { s.name, s.addr, s.size, s.offset, s.exec, s.write, s.in_file };
            sec.align = es ? es->align : 0;
            sec.tls = es && (es->flags & kShfTls);
            sec.array = array;
            sec.note = note;
            m_secs.push_back(sec);
        }
        if (m_pic && !m_compiled && has_section(m_img, ".dynamic")) {
            // Linked position-independent again: as a program when it
            // names a loader, else as a library.
            if (!m_link.extra.empty())
                m_link.extra += ' ';
            m_link.extra += has_section(m_img, ".interp") ? "-pie" : "-shared";
        }
        if (m_compiled) {
            m_link.crt = true;
            if (m_bits == 32 && type3)
                m_readonly = true;
        }
        std::stable_sort(m_secs.begin(), m_secs.end(), [](const Sec& a, const Sec& b) { return a.addr < b.addr; });
        // Thread-local zero data (.tbss) has an address range that the next
        // sections use as well; written out, it would swallow their bytes.
        std::vector<Sec> kept;
        for (const auto& s : m_secs) {
            bool overlaps = std::any_of(m_secs.begin(), m_secs.end(), [&](const Sec& o) {
                return &o != &s && !o.tls && o.addr < s.addr + s.size && s.addr < o.addr + o.size;
            });
            if (s.in_file || !overlaps || s.tls)
                kept.push_back(s);
        }
        m_secs = std::move(kept);
        if (m_secs.empty())
            return false;
        start = m_img.m_entry;
        seeds.push_back(start);
        if (m_compiled) {
            // A static C program carries its C library: its functions and
            // objects are taken from the system's library again, and only
            // the code reached from main is written.
            // Static, position-independent or not: no loader, no library.
            m_static = !has_section(m_img, ".interp") && m_needed.empty();
            const bool is_static = m_static;
            if (is_static)
                read_static_imports();
            m_main = find_main();
            start = m_main;
            seeds.assign(1, m_main);
            for (const auto& sym : m_img.m_symbols)
                if (!is_static && sym.func && is_code(sym.addr) && !c_runtime_name(sym.name))
                    seeds.push_back(sym.addr);
            skip.insert(m_img.m_entry);
            for (const auto& sym : m_img.m_symbols)
                if (c_runtime_name(sym.name))
                    skip.insert(sym.addr);
            if (!type3)
                find_absolute_pointers();
            find_own_constructors(skip, &seeds);
            // Functions reached only through a pointer are code as well.
            for (const auto& [slot, target] : m_relative)
                if (!is_static && is_code(target) && !skip.count(target) && !m_plt.count(target))
                    seeds.push_back(target);
        } else {
            for (const auto& sym : m_img.m_symbols)
                if (is_code(sym.addr))
                    seeds.push_back(sym.addr);
            for (uint64_t fn : unwind_starts(m_img))
                if (is_code(fn)) {
                    seeds.push_back(fn);
                    m_functions.insert(fn);
                }
            // Code reached only through pointers (method tables, handlers):
            // the rebuild check catches a word that only looked like one.
            data_words([&](uint64_t, uint64_t v) {
                if (is_code(v)) {
                    seeds.push_back(v);
                    m_guessed.insert(v);
                }
            });
        }
    } else {
        return false;
    }

    // Instructions can start anywhere in the file bytes of code sections.
    // Sections that map the same bytes many times over are no program a
    // linker wrote, and their index would outgrow any memory bound.
    std::vector<std::pair<uint64_t, uint64_t>> code_ranges;
    for (const auto& s : m_secs)
        if (s.exec && s.in_file && s.off < m_img.m_data.size())
            code_ranges.emplace_back(s.addr, std::min<uint64_t>(s.size, m_img.m_data.size() - s.off));
    m_code.cover(std::move(code_ranges));
    if (m_code.covered_bytes() > 4 * uint64_t(m_img.m_data.size()) + (uint64_t(1) << 20))
        return false;

    discover(start, seeds, skip);
    // A static C program's own tables of function pointers: the objects its
    // reached code refers to hold pointers to functions of the program.
    for (int round = 0; round < kMaxPasses && m_compiled && m_static; ++round) {
        std::vector<uint64_t> more = pointed_functions(skip);
        if (more.empty())
            break;
        seeds.insert(seeds.end(), more.begin(), more.end());
        discover(start, seeds, skip);
    }
    // Functions nothing visibly calls (reached through tables the program
    // computes, or not at all) sit between the found ones after padding:
    // each that decodes cleanly up to its return is a start as well.
    for (int round = 0; round < kGapRounds && !m_compiled && !m_flat; ++round) {
        std::vector<uint64_t> more = gap_starts();
        if (more.empty())
            break;
        seeds.insert(seeds.end(), more.begin(), more.end());
        discover(start, seeds, skip);
    }
    if (m_compiled && m_bits == 32 && calls_pc_thunk())
        m_readonly = true;
    assign_labels();
    return true;
}

// Functions that objects referred to by the code found so far point at,
// which are not found yet: a pointer into code of a program linked at a
// fixed address is known by its symbol, a function of the program's own.
std::vector<uint64_t> Writer::pointed_functions(const std::set<uint64_t>& skip) const
{
    const auto& syms = m_img.m_symbols;
    std::map<uint64_t, uint64_t> objects; // start -> end of each object referred to
    for (const auto& [addr, code] : m_code) {
        for (uint64_t r : instruction_refs(insn_at(addr))) {
            const Sec* sec = section_at(r);
            if (!sec || sec->exec)
                continue;
            auto it = std::upper_bound(syms.begin(), syms.end(), r,
                                       [](uint64_t v, const BinImage::Symbol& s) { return v < s.addr; });
            if (it != syms.begin() && r < std::prev(it)->addr + std::prev(it)->size && !std::prev(it)->func)
                objects[std::prev(it)->addr] = std::prev(it)->addr + std::prev(it)->size;
        }
    }
    std::vector<uint64_t> out;
    for (const auto& [obj, end] : objects) {
        for (auto slot = m_relative.lower_bound(obj); slot != m_relative.end() && slot->first < end; ++slot) {
            uint64_t target = slot->second;
            if (!is_code(target) || m_code.count(target) || skip.count(target) || m_plt.count(target))
                continue;
            auto fn = std::lower_bound(syms.begin(), syms.end(), target,
                                       [](const BinImage::Symbol& s, uint64_t v) { return s.addr < v; });
            for (; fn != syms.end() && fn->addr == target; ++fn)
                if (fn->func && !c_runtime_name(fn->name)) {
                    out.push_back(target);
                    break;
                }
        }
    }
    return out;
}

// After a run of code that ends in a return or jump: padding (zero, nop or
// int3 bytes) up to a 16-byte boundary, then bytes that decode without a
// fault into a run that ends in a return or jump before any known code.
std::vector<uint64_t> Writer::gap_starts() const
{
    std::vector<uint64_t> out;
    for (uint64_t at = m_code.next(0); at != CodeIndex::kNone; at = m_code.next(at + 1)) {
        const Code last = m_code.at(at);
        uint64_t next = m_code.next(at + 1);
        uint64_t p = at + last.len;
        if (!last.ends || next == p)
            continue;
        const Sec* sec = section_at(at);
        if (!sec)
            continue;
        uint64_t end = std::min(next, sec->addr + sec->size);
        auto byte_at = [&](uint64_t a) { return m_img.m_data[sec->off + (a - sec->addr)]; };
        if (sec->off + (end - sec->addr) > m_img.m_data.size())
            continue;
        // Several functions may follow each other in one gap, each after
        // padding; where bytes do not decode into one, the next function
        // may still start at the next 16-byte boundary.
        while (p < end) {
            while (p < end && (byte_at(p) == 0x00 || byte_at(p) == 0x90 || byte_at(p) == 0xCC))
                ++p;
            if (p >= end)
                break;
            uint64_t clean_end = 0;
            for (uint64_t a = p; a < end;) {
                dis::Insn insn;
                dis::decode(m_img.m_data.data() + sec->off + (a - sec->addr), end - a, a, m_bits, &insn, false);
                if (!insn.valid || insn.len == 0 || (insn.bytes[0] == 0 && insn.len > 1 && insn.bytes[1] == 0))
                    break;
                a += insn.len;
                if (insn.is_ret || (insn.is_jump && is_unconditional_jump(insn.text))) {
                    clean_end = a <= end ? a : 0;
                    break;
                }
            }
            if (!clean_end) {
                p = (p / 16 + 1) * 16;
                continue;
            }
            out.push_back(p);
            p = clean_end;
        }
    }
    return out;
}

// Without a relocation a data word is only a number that may look like an
// address; it is taken for a pointer when what it points at starts there:
// a symbol, code, or a string after a zero byte, and never inside the
// object that holds the word itself. Anything else stays a number, which
// keeps its value in the rebuild.
bool Writer::proven_pointer(uint64_t slot, uint64_t value) const
{
    const auto& syms = m_img.m_symbols;
    auto by_addr = [](const BinImage::Symbol& s, uint64_t v) { return s.addr < v; };
    auto holder = std::upper_bound(syms.begin(), syms.end(), slot,
                                   [](uint64_t v, const BinImage::Symbol& s) { return v < s.addr; });
    if (holder != syms.begin()) {
        const auto& h = *std::prev(holder);
        uint64_t end = h.addr + std::max<uint64_t>(h.size, 1);
        if (slot < end && value >= h.addr && value < end)
            return false; // into the object that holds the word
    }
    auto at = std::lower_bound(syms.begin(), syms.end(), value, by_addr);
    if (at != syms.end() && at->addr == value)
        return true;
    const Sec* sec = section_at(value);
    if (!sec || !sec->in_file || value == slot)
        return false;
    if (sec->exec)
        return true;
    uint64_t off = sec->off + (value - sec->addr);
    if (off >= m_img.m_data.size() || (value > sec->addr && m_img.m_data[off - 1] != 0))
        return false;
    uint64_t n = 0;
    while (off + n < m_img.m_data.size() && m_img.m_data[off + n] >= 0x20 && m_img.m_data[off + n] < 0x7F)
        ++n;
    return n > 0 && off + n < m_img.m_data.size() && m_img.m_data[off + n] == 0;
}

// A program linked at a fixed address has no relocations for its pointers:
// a data word proven to be one is written as a label, so that it points at
// the same object after cc has placed things anew.
void Writer::find_absolute_pointers()
{
    // So is the address of (or into) a library object the linker copies in:
    // C++ type information points 16 bytes into a vtable of the C++ library.
    data_words([&](uint64_t a, uint64_t v) {
        uint64_t off = 0;
        bool library_object = !m_pic && (m_plt.count(v) || m_copy.count(v) || inside_copy(v, &off));
        if (!m_relative.count(a) && (library_object || (section_at(v) && proven_pointer(a, v))))
            m_relative[a] = v;
    });
}

// Every aligned word of the data sections that have file bytes.
void Writer::data_words(const std::function<void(uint64_t slot, uint64_t value)>& fn) const
{
    const unsigned width = m_bits == 64 ? 8 : 4;
    for (const auto& sec : m_secs) {
        if (sec.exec || !sec.in_file)
            continue;
        for (uint64_t a = (sec.addr + width - 1) / width * width; a + width <= sec.addr + sec.size; a += width) {
            uint64_t off = sec.off + (a - sec.addr);
            if (off + width > m_img.m_data.size())
                break;
            uint64_t v = 0;
            for (unsigned i = width; i-- > 0;)
                v = v << 8 | m_img.m_data[off + i];
            fn(a, v);
        }
    }
}

// The linker drops a build-id note it is given and writes its own only when
// asked: the note's bytes become that request.
bool Writer::build_id_option(const BinImage::Section& note)
{
    const auto& d = m_img.m_data;
    if (note.size < 16 || note.offset + note.size > d.size())
        return false;
    auto word = [&](uint64_t at) {
        return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
    };
    uint64_t o = note.offset;
    uint32_t namesz = word(o), descsz = word(o + 4), type = word(o + 8);
    if (namesz != 4 || type != 3 || descsz == 0 || 16 + uint64_t(descsz) != note.size
        || std::string(reinterpret_cast<const char*>(&d[o + 12]), 4) != std::string("GNU\0", 4))
        return false;
    std::string id = "--build-id=0x";
    for (uint32_t i = 0; i < descsz; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02x", d[o + 16 + i]);
        id += b;
    }
    if (!m_link.extra.empty())
        m_link.extra += ' ';
    m_link.extra += id;
    return true;
}

// The entries of .init_array and its kin that the program adds itself: the
// C runtime's own (frame_dummy and the like) come back with cc. A static
// program carries the C library's constructors too; only the compiler's
// static initialisers are known to be the program's there.
void Writer::find_own_constructors(const std::set<uint64_t>& runtime, std::vector<uint64_t>* seeds)
{
    const unsigned width = m_bits == 64 ? 8 : 4;
    const bool is_static = m_static;
    for (const auto& sec : m_secs) {
        if (!sec.array)
            continue;
        bool stripped = m_img.m_symbols.empty();
        for (uint64_t a = sec.addr; a + width <= sec.addr + sec.size; a += width) {
            uint64_t off = sec.off + (a - sec.addr), v = 0;
            if (off + width > m_img.m_data.size())
                break;
            for (unsigned i = width; i-- > 0;)
                v = v << 8 | m_img.m_data[off + i];
            auto rel = m_relative.find(a);
            if (rel != m_relative.end())
                v = rel->second;
            std::string name = m_img.symbol_at(v, true);
            bool own = is_code(v) && !runtime.count(v) && !c_runtime_name(name);
            // Without symbols, crtbegin's entry is the first of its array.
            if (stripped && a == sec.addr && (sec.name == ".init_array" || sec.name == ".fini_array"))
                own = false;
            if (is_static)
                own = own && (starts_with(name, "_GLOBAL__sub_I_") || starts_with(name, "_GLOBAL__sub_D_"));
            if (own) {
                m_own_slots.insert(a);
                m_relative[a] = v;
                seeds->push_back(v);
            } else {
                m_relative.erase(a);
            }
        }
    }
}

// i386 code that calls a pc thunk ("mov reg, [esp]" and "ret") computes
// every address at run time from the old layout, like position-independent
// code: its source can be read but not rebuilt.
bool Writer::overlaps_code(uint64_t addr, uint64_t len) const
{
    for (uint64_t k = 1; k < len; ++k)
        if (m_code.count(addr + k))
            return true;
    uint64_t before = m_code.last_before(addr);
    return before != CodeIndex::kNone && before + m_code.at(before).len > addr;
}

bool Writer::calls_pc_thunk() const
{
    for (const auto& [addr, code] : m_code) {
        const dis::Insn insn = insn_at(addr);
        if (!insn.is_call || !insn.has_target)
            continue;
        uint64_t off = 0;
        if (!m_img.addr_to_off(insn.target, &off) || off + 4 > m_img.m_data.size())
            continue;
        const uint8_t* b = m_img.m_data.data() + off;
        if (b[0] == 0x8B && (b[1] & 0xC7) == 0x04 && b[2] == 0x24 && b[3] == 0xC3)
            return true;
    }
    return false;
}

void Writer::discover(uint64_t start, const std::vector<uint64_t>& first_seeds, const std::set<uint64_t>& skip)
{
    std::vector<uint64_t> seeds = first_seeds;
    std::set<uint64_t> code_targets = m_functions;
    std::set<uint64_t> table_targets; // code targets known only from a jump table
    std::set<uint64_t> prev_refs;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        m_code.clear();
        std::set<uint64_t> data_refs;
        // Guessed starts are taken last (the stack is worked from its back),
        // so that code reached by calls and jumps is in place before them.
        std::vector<uint64_t> work;
        for (int guessed = 1; guessed >= 0; --guessed)
            for (uint64_t s : seeds)
                if ((s == start || !prev_refs.count(s)) && int(m_guessed.count(s) && !code_targets.count(s)) == guessed)
                    work.push_back(s);
        while (!work.empty()) {
            uint64_t a = work.back();
            work.pop_back();
            const bool guess = m_guessed.count(a) && !code_targets.count(a);
            while (true) {
                const Sec* sec = section_at(a);
                // m_code holds exactly what this pass decoded.
                if (!sec || !sec->exec || !sec->in_file || m_code.count(a))
                    break;
                if (a != start && ((prev_refs.count(a) && !code_targets.count(a)) || skip.count(a)))
                    break;
                uint64_t off = sec->off + (a - sec->addr);
                if (off >= m_img.m_data.size())
                    break;
                size_t n = std::min<uint64_t>(sec->addr + sec->size - a, m_img.m_data.size() - off);
                dis::Insn insn;
                dis::decode(m_img.m_data.data() + off, n, a, m_bits, &insn, false);
                if (!insn.valid || insn.len == 0)
                    break;
                // A guess that runs into the middle of known code was no
                // code: it would hide the instructions it overlaps.
                if (guess && overlaps_code(a, insn.len))
                    break;
                for (uint64_t r : instruction_refs(insn)) {
                    if (m_compiled && !m_pic && m_plt.count(r))
                        continue; // a library function's address: written with its name
                    if (m_compiled && is_code(r)) {
                        code_targets.insert(r);
                        work.push_back(r);
                    } else {
                        data_refs.insert(r);
                    }
                }
                if (insn.has_target && !m_plt.count(insn.target)) {
                    code_targets.insert(insn.target);
                    work.push_back(insn.target);
                }
                uint64_t far = 0;
                if (far_target(insn, &far) && is_code(far)) {
                    code_targets.insert(far);
                    work.push_back(far);
                }
                bool stop = insn.is_ret || (insn.is_jump && is_unconditional_jump(insn.text));
                if (insn.is_call) {
                    auto plt = insn.has_target ? m_plt.find(insn.target) : m_plt.end();
                    auto got = insn.has_mem ? m_gotsym.find(insn.mem) : m_gotsym.end();
                    stop = (plt != m_plt.end() && no_return(plt->second))
                        || (got != m_gotsym.end() && no_return(got->second));
                }
                uint64_t next = a + insn.len;
                Code c;
                c.len = insn.len;
                c.ends = insn.is_ret || (insn.is_jump && is_unconditional_jump(insn.text));
                c.nop_operands = insn.text.rfind("nop ", 0) == 0 && insn.text.find(", ") != std::string::npos;
                m_code.add(a, c);
                if (stop)
                    break;
                a = next;
            }
        }
        for (uint64_t t : code_targets)
            data_refs.erase(t);

        bool new_code = false;
        if (m_compiled && m_bits == 64) {
            // Code found since a table was read may load a base inside it:
            // two tables lay next to each other. The first ends there, and
            // the targets read past its end were not targets.
            bool split = false;
            for (auto& [base, targets] : m_jtab) {
                auto inner = data_refs.upper_bound(base);
                if (inner != data_refs.end() && *inner < base + 4 * targets.size() && (*inner - base) % 4 == 0) {
                    targets.resize((*inner - base) / 4);
                    split = true;
                }
            }
            if (split) {
                std::set<uint64_t> kept;
                for (const auto& [base, targets] : m_jtab)
                    kept.insert(targets.begin(), targets.end());
                seeds = first_seeds;
                seeds.insert(seeds.end(), kept.begin(), kept.end());
                for (auto it = table_targets.begin(); it != table_targets.end();)
                    it = kept.count(*it) ? std::next(it) : (code_targets.erase(*it), table_targets.erase(it));
                new_code = true;
            }
            for (uint64_t t : data_refs) {
                const Sec* sec = section_at(t);
                if (!sec || sec->exec || !sec->in_file || m_jtab.count(t))
                    continue;
                uint64_t end = sec->addr + sec->size;
                std::vector<uint64_t> targets;
                for (uint64_t p = t; p + 4 <= end;) {
                    uint64_t off = sec->off + (p - sec->addr);
                    if (off + 4 > m_img.m_data.size())
                        break;
                    const uint8_t* b = m_img.m_data.data() + off;
                    int32_t entry = int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16
                                            | uint32_t(b[3]) << 24);
                    uint64_t target = t + uint64_t(int64_t(entry));
                    if (entry >= 0 || !is_code(target))
                        break;
                    targets.push_back(target);
                    p += 4;
                    // Code refers to the data at the next entry: no entry.
                    auto ref = data_refs.lower_bound(p);
                    if (p + 4 > end || targets.size() >= kMaxTableEntries || (ref != data_refs.end() && *ref < p + 4))
                        break;
                }
                if (targets.size() < 2)
                    continue;
                for (uint64_t target : targets) {
                    table_targets.insert(target);
                    if (code_targets.insert(target).second) {
                        new_code = true;
                        seeds.push_back(target);
                    }
                }
                m_jtab[t] = std::move(targets);
            }
        }
        bool converged = data_refs == prev_refs && !new_code;
        prev_refs = std::move(data_refs);
        if (converged)
            break;
    }

    uint64_t end = 0;
    for (uint64_t at = m_code.next(0); at != CodeIndex::kNone; at = m_code.next(at + 1)) {
        if (at < end)
            m_code.remove(at);
        else
            end = at + m_code.at(at).len;
    }
}

} // namespace reasm
