// What an ELF program's dynamic-linking tables say: the libraries it needs,
// the imported name behind every PLT stub and GOT slot, and which data
// words are pointers that the loader relocates.
#include "reasm_impl.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <mutex>
#include <cstdlib>

namespace reasm {

namespace {

constexpr size_t kMaxName = kMaxNameLength + 1;
// More libraries than any real program needs; a crafted file with
// thousands would only drive the linker to gigabytes.
constexpr size_t kMaxLibraries = 256;

const BinImage::Section* find_section(const BinImage& img, const char* name)
{
    for (const auto& s : img.m_sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

// Little-endian field of `width` bytes at a file offset; false past the end.
bool field(const std::vector<uint8_t>& data, uint64_t off, int width, uint64_t* out)
{
    if (off > data.size() || uint64_t(width) > data.size() - off)
        return false;
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | data[off + i];
    *out = v;
    return true;
}

std::string string_at(const std::vector<uint8_t>& data, uint64_t off)
{
    std::string s;
    while (off < data.size() && data[off] && s.size() < kMaxName)
        s += char(data[off++]);
    return s;
}

struct Tables {
    const BinImage& img;
    const BinImage::Section* dynstr;
    const BinImage::Section* dynsym;
    bool is64;

    // The name of dynamic symbol `index`, empty when it cannot be read.
    std::string symbol_name(uint64_t index) const
    {
        if (!dynstr || !dynsym || index == 0)
            return {};
        uint64_t entry = is64 ? 24 : 16;
        uint64_t name_off = 0;
        if (!field(img.m_data, dynsym->offset + index * entry, 4, &name_off))
            return {};
        // The name is written into the source; one that NASM cannot read
        // (or that holds a line break) is treated as no name.
        std::string name = string_at(img.m_data, dynstr->offset + name_off);
        return usable_name(name) ? name : std::string();
    }

    // The symbol is bound weakly: nothing needs to define it.
    bool weak(uint64_t index) const
    {
        uint64_t info = 0;
        return dynsym && index && field(img.m_data, dynsym->offset + index * (is64 ? 24 : 16) + (is64 ? 4 : 12), 1, &info)
            && info >> 4 == 2;
    }
};

struct ElfSym {
    std::string name;
    uint64_t value = 0;
    int type = 0; // 1 object, 2 function, 10 indirect function
    int bind = 0; // 1 global, 2 weak
    bool defined = false;
    bool hidden = false; // an old version kept for old programs: nothing new can link to it
};

// Every entry of a symbol table, with the kinds that BinImage leaves out
// (indirect functions, undefined imports).
std::vector<ElfSym> read_symbols(const BinImage& img, const char* table, const char* strings)
{
    std::vector<ElfSym> out;
    const BinImage::Section* symtab = find_section(img, table);
    const BinImage::Section* strtab = find_section(img, strings);
    if (!symtab || !strtab)
        return out;
    bool is64 = img.m_kind == BinImage::Elf64;
    uint64_t entry = is64 ? 24 : 16;
    const BinImage::Section* versions = std::string(table) == ".dynsym" ? find_section(img, ".gnu.version") : nullptr;
    for (uint64_t p = entry; p + entry <= symtab->size; p += entry) {
        uint64_t base = symtab->offset + p;
        uint64_t name = 0, info = 0, shndx = 0, value = 0;
        if (!field(img.m_data, base, 4, &name) || !field(img.m_data, base + (is64 ? 4 : 12), 1, &info)
            || !field(img.m_data, base + (is64 ? 6 : 14), 2, &shndx)
            || !field(img.m_data, base + (is64 ? 8 : 4), is64 ? 8 : 4, &value))
            break;
        ElfSym sym;
        sym.name = string_at(img.m_data, strtab->offset + name);
        sym.value = value;
        sym.type = int(info & 0xF);
        sym.bind = int(info >> 4);
        sym.defined = shndx != 0;
        uint64_t version = 0;
        sym.hidden = versions && field(img.m_data, versions->offset + p / entry * 2, 2, &version) && (version & 0x8000);
        out.push_back(std::move(sym));
    }
    return out;
}

// The names a system library exports, for the given width: the first of
// its usual places that holds one.
std::set<std::string> exports_of(const char* file, bool is64)
{
    static const char* const k64[] = { "/lib/x86_64-linux-gnu/", "/usr/lib/x86_64-linux-gnu/", "/lib64/", "/usr/lib64/",
                                       "/usr/lib/" };
    static const char* const k32[] = { "/lib/i386-linux-gnu/", "/usr/lib/i386-linux-gnu/", "/lib32/", "/usr/lib32/",
                                       "/lib/", "/usr/lib/" };
    std::set<std::string> names;
    for (const char* dir : is64 ? std::vector<const char*>(std::begin(k64), std::end(k64))
                                : std::vector<const char*>(std::begin(k32), std::end(k32))) {
        BinImage lib;
        if (!lib.load(std::string(dir) + file) || lib.m_kind != (is64 ? BinImage::Elf64 : BinImage::Elf32))
            continue;
        for (const auto& sym : read_symbols(lib, ".dynsym", ".dynstr"))
            if (sym.defined && !sym.hidden && (sym.bind == 1 || sym.bind == 2) && !sym.name.empty())
                names.insert(sym.name);
        break;
    }
    return names;
}

// The libraries a static program may carry, as the linker names them,
// with what each exports; the C library first.
struct StaticLib {
    const char* name;
    const char* file;
    bool cxx; // only for C++ programs
};
constexpr StaticLib kStaticLibs[] = { { "c", "libc.so.6", false }, { "m", "libm.so.6", false },
                                      { "stdc++", "libstdc++.so.6", true } };

const std::set<std::string>& static_lib_exports(size_t lib, bool is64)
{
    static std::map<std::pair<size_t, bool>, std::set<std::string>> cache;
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    auto key = std::make_pair(lib, is64);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, exports_of(kStaticLibs[lib].file, is64)).first;
    return it->second;
}

// The folders of a run path that can be handed to the linker: "-Wl,-rpath,"
// splits at commas, and a blank, quote or control byte would split or
// break the printed options.
std::string plain_dirs(const std::string& run_path)
{
    std::string out, dir;
    for (size_t i = 0; i <= run_path.size(); ++i) {
        if (i < run_path.size() && run_path[i] != ':') {
            dir += run_path[i];
            continue;
        }
        bool plain = !dir.empty() && dir[0] != '-';
        for (unsigned char c : dir)
            plain &= c > 0x20 && c < 0x7F && c != ',' && c != '"' && c != '\'' && c != '\\';
        if (plain)
            out += (out.empty() ? "" : ":") + dir;
        dir.clear();
    }
    return out;
}

// A run path relative to the program ("$ORIGIN/lib") names a folder next
// to the file, where the rebuild finds the library too.
std::string with_origin(std::string path, const std::string& program)
{
    size_t slash = program.rfind('/');
    std::string dir = slash == std::string::npos ? "." : program.substr(0, slash);
    if (char* real = realpath(dir.c_str(), nullptr)) {
        dir = real;
        free(real);
    }
    for (const char* token : { "${ORIGIN}", "$ORIGIN" }) {
        std::string t = token;
        for (size_t at = path.find(t); at != std::string::npos; at = path.find(t, at + dir.size()))
            path.replace(at, t.size(), dir);
    }
    return path;
}

void append_word(std::string& list, const std::string& word)
{
    if (word.empty())
        return;
    if (!list.empty())
        list += ' ';
    list += word;
}

} // namespace

void Writer::read_dynamic()
{
    const auto& data = m_img.m_data;
    bool is64 = m_img.m_kind == BinImage::Elf64;
    int w = is64 ? 8 : 4;
    Tables t { m_img, find_section(m_img, ".dynstr"), find_section(m_img, ".dynsym"), is64 };
    const BinImage::Section* dynamic = find_section(m_img, ".dynamic");

    if (t.dynstr && dynamic) {
        uint64_t entry = 2 * uint64_t(w);
        for (uint64_t p = 0; p + entry <= dynamic->size; p += entry) {
            uint64_t tag = 0, value = 0;
            if (!field(data, dynamic->offset + p, w, &tag) || !field(data, dynamic->offset + p + w, w, &value))
                break;
            if (tag == 0)
                break;
            if (tag == 1 && m_needed.size() < kMaxLibraries)
                m_needed.push_back(string_at(data, t.dynstr->offset + value));
            else if (tag == 15 || tag == 29)
                append_word(m_link.dirs, plain_dirs(with_origin(string_at(data, t.dynstr->offset + value), m_img.m_path)));
        }
    }

    std::map<uint64_t, std::string> slots;
    const BinImage::Section* jmprel = find_section(m_img, is64 ? ".rela.plt" : ".rel.plt");
    if (t.dynstr && t.dynsym && jmprel) {
        uint64_t entry = is64 ? 24 : 8;
        for (uint64_t p = 0; p + entry <= jmprel->size; p += entry) {
            uint64_t offset = 0, info = 0;
            if (!field(data, jmprel->offset + p, w, &offset) || !field(data, jmprel->offset + p + w, w, &info))
                break;
            std::string name = t.symbol_name(is64 ? info >> 32 : info >> 8);
            if (!name.empty())
                slots[offset] = name;
        }
        for (const auto& [slot, name] : slots)
            m_gotsym[slot] = name;
    }

    // Slots filled with a function's address at load time: the stubs of
    // ".plt.got" jump through them, for functions whose address is also taken.
    // A 32-bit program keeps each addend in the slot itself (".rel.dyn").
    std::map<uint64_t, std::string> data_slots;
    const BinImage::Section* rela = find_section(m_img, is64 ? ".rela.dyn" : ".rel.dyn");
    if (rela && t.dynsym && t.dynstr) {
        const uint64_t entry = is64 ? 24 : 8;
        for (uint64_t p = 0; p + entry <= rela->size; p += entry) {
            uint64_t offset = 0, info = 0, addend = 0;
            if (!field(data, rela->offset + p, w, &offset) || !field(data, rela->offset + p + w, w, &info))
                break;
            if (is64 && !field(data, rela->offset + p + 16, 8, &addend))
                break;
            uint64_t slot_off = 0;
            if (!is64 && m_img.addr_to_off(offset, &slot_off))
                field(data, slot_off, 4, &addend);
            uint32_t type = uint32_t(is64 ? info : info & 0xFF);
            uint64_t sym = is64 ? info >> 32 : info >> 8;
            std::string name = sym ? t.symbol_name(sym) : std::string();
            if (type == 8)
                m_relative[offset] = addend;
            else if ((type == 6 || type == 7) && !name.empty())
                m_gotsym[offset] = name;
            if (type == 6 && !name.empty())
                data_slots[offset] = name;
            else if (type == 1 && !name.empty()) {
                m_absym[offset] = name;
                if (addend)
                    m_addend[offset] = int64_t(is64 ? addend : uint64_t(int64_t(int32_t(uint32_t(addend)))));
            } else if (type == 5 && !name.empty())
                m_copy[offset] = name;
            if (!name.empty()) {
                m_imports.insert(name);
                if (t.weak(sym))
                    m_weak.insert(name);
            }
        }
    }

    for (const char* plt_name : { ".plt", ".plt.sec" }) {
        const BinImage::Section* plt = find_section(m_img, plt_name);
        if (!plt || slots.empty() || plt->offset > data.size())
            continue;
        uint64_t n = std::min<uint64_t>(plt->size, data.size() - plt->offset);
        for (const auto& insn : dis::sweep(data.data() + plt->offset, n, plt->addr, m_bits, n)) {
            if (insn.text.rfind("jmp", 0) != 0 && insn.text.find(" jmp") == std::string::npos)
                continue;
            uint64_t slot = 0;
            if (insn.has_mem) {
                slot = insn.mem;
            } else {
                size_t x = insn.text.find("[0x");
                if (x == std::string::npos)
                    continue;
                slot = std::strtoull(insn.text.c_str() + x + 3, nullptr, 16);
            }
            auto it = slots.find(slot);
            if (it == slots.end())
                continue;
            m_plt[insn.addr & ~uint64_t(0xF)] = it->second;
            m_imports.insert(it->second);
        }
    }
    // ".plt.got" stubs are 8 bytes ("jmp [rel slot]", two bytes of filler),
    // or 16 where each starts with endbr64.
    if (const BinImage::Section* got_plt = find_section(m_img, ".plt.got");
        got_plt && !data_slots.empty() && got_plt->offset <= data.size()) {
        uint64_t n = std::min<uint64_t>(got_plt->size, data.size() - got_plt->offset);
        uint64_t endbr = 0, after_endbr = UINT64_MAX;
        for (const auto& insn : dis::sweep(data.data() + got_plt->offset, n, got_plt->addr, m_bits, n)) {
            if (insn.text == "endbr64") {
                endbr = insn.addr;
                after_endbr = insn.addr + insn.len;
                continue;
            }
            bool jump = insn.text.rfind("jmp", 0) == 0 || insn.text.find(" jmp") != std::string::npos;
            auto it = jump && insn.has_mem ? data_slots.find(insn.mem) : data_slots.end();
            if (it != data_slots.end()) {
                m_plt[insn.addr == after_endbr ? endbr : insn.addr] = it->second;
                m_imports.insert(it->second);
            }
        }
    }

    std::set<std::string> linked;
    for (const auto& lib : m_needed) {
        std::string l = lib.rfind("lib", 0) == 0 ? lib.substr(3) : lib;
        size_t so = l.find(".so");
        if (so != std::string::npos)
            l = l.substr(0, so);
        // The name reaches the linker's command line: only a plain file
        // name, never something the linker would read as an option.
        if (l.empty() || l.rfind("ld-linux", 0) == 0 || lib[0] == '-' || l[0] == '-'
            || l.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._+-") != std::string::npos
            || !linked.insert(l).second)
            continue;
        append_word(m_link.libs, l);
    }
}

void Writer::read_static_imports()
{
    const auto& data = m_img.m_data;
    bool is64 = m_img.m_kind == BinImage::Elf64;
    auto symbols = read_symbols(m_img, ".symtab", ".strtab");
    // A C++ program carries the C++ library too; its objects (std::cout)
    // are set up by the library's own start code, so it is linked again.
    bool cxx = std::any_of(symbols.begin(), symbols.end(),
                           [](const ElfSym& sym) { return sym.name == "__gxx_personality_v0"; });
    std::vector<size_t> libs;
    for (size_t i = 0; i < std::size(kStaticLibs); ++i)
        if ((cxx || !kStaticLibs[i].cxx) && !static_lib_exports(i, is64).empty())
            libs.push_back(i);
    if (libs.empty() || libs.front() != 0)
        return;
    std::set<size_t> linked;
    auto exported = [&](const std::string& name) {
        for (size_t i : libs)
            if (static_lib_exports(i, is64).count(name)) {
                linked.insert(i);
                return true;
            }
        return false;
    };
    std::map<uint64_t, std::string> by_addr;
    for (const auto& sym : symbols) {
        if (!sym.defined || !sym.value || c_runtime_name(sym.name) || sym.name == "main" || !exported(sym.name))
            continue;
        const Sec* sec = section_at(sym.value);
        if (!sec)
            continue;
        if ((sym.type == 2 || sym.type == 10) && sec->exec) {
            m_plt[sym.value] = sym.name;
            by_addr.emplace(sym.value, sym.name);
            m_imports.insert(sym.name);
        } else if (sym.type == 1 && !sec->exec) {
            m_copy[sym.value] = sym.name;
            m_imports.insert(sym.name);
        }
    }
    // Indirect functions (strlen, memcpy, ...) are reached through stubs
    // whose slots the start code fills from their resolvers.
    std::map<uint64_t, std::string> slots;
    const BinImage::Section* rel = find_section(m_img, is64 ? ".rela.plt" : ".rel.plt");
    if (rel) {
        uint64_t entry = is64 ? 24 : 8;
        int w = is64 ? 8 : 4;
        for (uint64_t p = 0; p + entry <= rel->size; p += entry) {
            uint64_t offset = 0, info = 0, resolver = 0;
            if (!field(data, rel->offset + p, w, &offset) || !field(data, rel->offset + p + w, w, &info))
                break;
            if ((is64 ? (info & 0xFFFFFFFF) != 37 : (info & 0xFF) != 42))
                continue;
            if (is64) {
                if (!field(data, rel->offset + p + 16, 8, &resolver))
                    break;
            } else {
                uint64_t off = 0;
                if (!m_img.addr_to_off(offset, &off) || !field(data, off, 4, &resolver))
                    continue;
            }
            for (const auto& sym : symbols)
                if (sym.value == resolver && sym.type == 10 && exported(sym.name))
                    slots[offset] = sym.name;
        }
    }
    std::set<uint64_t> stub_slots;
    for (const char* plt_name : { ".plt", ".iplt" }) {
        const BinImage::Section* plt = find_section(m_img, plt_name);
        if (!plt || slots.empty() || plt->offset > data.size())
            continue;
        uint64_t n = std::min<uint64_t>(plt->size, data.size() - plt->offset);
        for (const auto& insn : dis::sweep(data.data() + plt->offset, n, plt->addr, m_bits, n)) {
            if (insn.text.rfind("jmp", 0) != 0)
                continue;
            uint64_t slot = insn.mem;
            if (!insn.has_mem) {
                size_t x = insn.text.find("[0x");
                if (x == std::string::npos)
                    continue;
                slot = std::strtoull(insn.text.c_str() + x + 3, nullptr, 16);
            }
            auto it = slots.find(slot);
            if (it != slots.end()) {
                m_plt[insn.addr] = it->second;
                m_imports.insert(it->second);
                stub_slots.insert(slot);
            }
        }
    }
    // A slot in the program's own data (a table of function pointers) holds
    // the indirect function's address: written with its name, the library
    // fills it again.
    for (const auto& [slot, name] : slots) {
        const Sec* sec = section_at(slot);
        if (!stub_slots.count(slot) && sec && !sec->exec && sec->in_file) {
            m_absym[slot] = name;
            m_imports.insert(name);
        }
    }
    // cc links the C library by itself.
    for (size_t i : linked)
        if (i != 0)
            append_word(m_link.libs, kStaticLibs[i].name);
}

} // namespace reasm
