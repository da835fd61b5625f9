// Which symbol names the source may keep, how colliding names are escaped,
// how generated labels are spelled and in which order labels are given.
#include "reasm_impl.h"
#include "refdata.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace reasm {

namespace {

const std::set<std::string>& reserved_words()
{
    static const std::set<std::string> words = [] {
        std::set<std::string> w = {
            "al", "ah", "ax", "eax", "rax", "bl", "bh", "bx", "ebx", "rbx", "cl", "ch", "cx", "ecx", "rcx",
            "dl", "dh", "dx", "edx", "rdx", "si", "sil", "esi", "rsi", "di", "dil", "edi", "rdi", "sp", "spl",
            "esp", "rsp", "bp", "bpl", "ebp", "rbp", "ip", "eip", "rip", "cs", "ds", "es", "fs", "gs", "ss",
            "byte", "word", "dword", "qword", "tword", "oword", "yword", "zword", "short", "near", "far",
            "rel", "abs", "strict", "seg", "wrt", "nosplit", "times", "equ", "section", "segment", "global",
            "extern", "bits", "org", "align", "db", "dw", "dd", "dq", "dt", "resb", "resw", "resd", "resq",
            "incbin", "default", "cpu", "struc", "endstruc", "istruc", "at", "iend", "common", "static",
        };
        for (int n = 8; n <= 15; ++n) {
            std::string r = "r" + std::to_string(n);
            for (const char* suffix : { "", "d", "w", "b" })
                w.insert(r + suffix);
        }
        for (const char* prefix : { "xmm", "ymm", "zmm", "mm", "st", "cr", "dr", "k" })
            for (int n = 0; n <= 31; ++n)
                w.insert(prefix + std::to_string(n));
        for (const auto& row : refdata::kInsns) {
            std::string names = row.names;
            size_t pos = 0;
            while (pos <= names.size()) {
                size_t comma = names.find(',', pos);
                if (comma == std::string::npos)
                    comma = names.size();
                std::string n = names.substr(pos, comma - pos);
                for (auto& c : n)
                    c = char(std::tolower(static_cast<unsigned char>(c)));
                if (!n.empty())
                    w.insert(n);
                pos = comma + 1;
            }
        }
        return w;
    }();
    return words;
}

} // namespace

bool usable_name(const std::string& name)
{
    // NASM reads identifiers of up to 4095 characters; mangled C++ names
    // run far past a hundred.
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!std::isalpha(first) && first != '?' && first != '_')
        return false;
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (!std::isalnum(c) && !std::strchr("_$#@~.?", c))
            return false;
    }
    return true;
}

bool reserved(const std::string& name)
{
    std::string lower = name;
    for (auto& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return reserved_words().count(lower) != 0;
}

std::string nasm_name(const std::string& name)
{
    return reserved(name) ? "$" + name : name;
}

bool no_return(const std::string& name)
{
    static const std::set<std::string> names = {
        "exit", "_exit", "_Exit", "abort", "__stack_chk_fail", "__assert_fail", "__fortify_fail",
        "__chk_fail", "err", "errx", "verr", "verrx", "pthread_exit", "__cxa_throw", "_Unwind_Resume",
        "longjmp", "siglongjmp", "quick_exit", "__libc_start_main", "__cxa_rethrow", "__cxa_bad_cast",
        "__cxa_pure_virtual",
    };
    return names.count(name) != 0;
}

bool c_runtime_name(const std::string& name)
{
    static const std::set<std::string> names = {
        "_start", "_init", "_fini", "deregister_tm_clones", "register_tm_clones", "__do_global_dtors_aux",
        "frame_dummy", "_dl_relocate_static_pie", "__libc_csu_init", "__libc_csu_fini",
        "__do_global_ctors_aux", "_IO_stdin_used", "__dso_handle", "data_start", "__data_start",
        "completed.0", "completed.1", "__TMC_END__", "__FRAME_END__", "__GNU_EH_FRAME_HDR", "_DYNAMIC",
        "_GLOBAL_OFFSET_TABLE_", "__init_array_start", "__init_array_end", "__fini_array_start",
        "__fini_array_end", "_edata", "_end", "__bss_start", "__frame_dummy_init_array_entry",
        "__do_global_dtors_aux_fini_array_entry", "__abi_tag", "__ehdr_start", "__executable_start",
        "__libc_start_main", "__cxa_finalize", "_ITM_deregisterTMCloneTable", "_ITM_registerTMCloneTable",
        "__gmon_start__",
    };
    return names.count(name) != 0 || name.rfind("__x86.get_pc_thunk", 0) == 0;
}

bool made_by_linker(const std::string& section)
{
    static const std::set<std::string> names = {
        ".interp", ".gnu.hash", ".hash", ".dynsym", ".dynstr", ".gnu.version", ".gnu.version_r",
        ".gnu.version_d", ".rela.dyn", ".rela.plt", ".rel.dyn", ".rel.plt", ".plt", ".plt.got", ".plt.sec",
        ".got", ".got.plt", ".dynamic", ".eh_frame", ".eh_frame_hdr", ".note.gnu.property",
        ".note.gnu.build-id", ".note.ABI-tag", ".comment", ".relr.dyn", ".sframe",
    };
    return names.count(section) != 0;
}

bool c_start(const std::string& section)
{
    static const std::set<std::string> names = {
        ".init", ".fini", ".init_array", ".fini_array", ".preinit_array", ".tm_clone_table", ".jcr",
    };
    return names.count(section) != 0;
}

bool constructor_array(const std::string& section)
{
    static const std::set<std::string> names = { ".init_array", ".fini_array", ".preinit_array", ".ctors", ".dtors" };
    return names.count(section) != 0;
}

std::string hex(uint64_t value)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value));
    return buf;
}

std::string pad(const std::string& text)
{
    if (text.size() >= 40)
        return text + " ";
    return text + std::string(40 - text.size(), ' ');
}

std::string Writer::label(uint64_t addr) const
{
    auto it = m_names.find(addr);
    return it == m_names.end() || it->second.empty() ? std::string() : it->second.front();
}

void Writer::labels_at(uint64_t addr)
{
    auto it = m_names.find(addr);
    if (it == m_names.end())
        return;
    for (const auto& name : it->second)
        if (m_emitted.insert(name).second)
            line(name + ":");
}

uint64_t Writer::copy_size(uint64_t addr) const
{
    const auto& syms = m_img.m_symbols;
    uint64_t size = 0;
    auto it = std::lower_bound(syms.begin(), syms.end(), addr,
                               [](const BinImage::Symbol& s, uint64_t v) { return s.addr < v; });
    for (; it != syms.end() && it->addr == addr; ++it)
        if (it->size)
            size = it->size;
    return size ? size : 8;
}

const std::string* Writer::inside_copy(uint64_t addr, uint64_t* offset) const
{
    auto it = m_copy.upper_bound(addr);
    if (it == m_copy.begin())
        return nullptr;
    --it;
    if (addr == it->first || addr >= it->first + copy_size(it->first))
        return nullptr;
    *offset = addr - it->first;
    return &it->second;
}

std::string Writer::address_name(uint64_t addr) const
{
    std::string name = label(addr);
    // At a fixed address the address of a library function is its stub in
    // the program's own PLT: the function's name makes the linker give it
    // one again.
    if (name.empty() && !m_pic) {
        auto plt = m_plt.find(addr);
        if (plt != m_plt.end())
            return nasm_name(plt->second);
    }
    uint64_t off = 0;
    const std::string* copy = name.empty() ? inside_copy(addr, &off) : nullptr;
    return copy ? nasm_name(*copy) + " + " + std::to_string(off) : name;
}

bool Writer::labelable(uint64_t addr) const
{
    if (!in_some_section(addr))
        return false;
    // Inside a library's object only its name says where.
    uint64_t off = 0;
    if (inside_copy(addr, &off))
        return false;
    const Sec* s = section_at(addr);
    if (!s || !s->exec || !s->in_file)
        return true;
    if (m_code.count(addr))
        return true;
    // In a C program only the decoded code is written; a label anywhere
    // else in its code would never be defined.
    if (m_compiled)
        return false;
    uint64_t before = m_code.last_before(addr);
    return before == CodeIndex::kNone || addr >= before + m_code.at(before).len;
}

void Writer::add_label(uint64_t addr, const std::string& name)
{
    if (!m_taken.insert(name).second)
        return;
    m_names[addr].push_back(name);
}

void Writer::assign_labels()
{
    auto has_name = [&](uint64_t a) { return m_names.count(a) != 0; };
    auto generated = [&](uint64_t a) { return (m_code.count(a) ? "L_" : "d_") + hex(a); };

    if (m_compiled && m_main && labelable(m_main))
        add_label(m_main, "main");
    for (const auto& [addr, sym] : m_copy)
        add_label(addr, nasm_name(sym));
    for (const auto& [table, targets] : m_jtab)
        for (uint64_t t : targets)
            if (!has_name(t) && labelable(t))
                add_label(t, "L_" + hex(t));
    for (const auto& sym : m_img.m_symbols) {
        if (!usable_name(sym.name) || has_name(sym.addr) || !labelable(sym.addr))
            continue;
        if (m_compiled && c_runtime_name(sym.name))
            continue;
        add_label(sym.addr, nasm_name(sym.name));
    }
    // The linker starts the program at _start: the entry gets that name,
    // as its only name or next to the one a symbol gave it.
    if (!m_flat && !m_compiled && labelable(m_img.m_entry))
        add_label(m_img.m_entry, "_start");
    for (const auto& [addr, code] : m_code) {
        const dis::Insn insn = insn_at(addr);
        if (insn.has_target) {
            auto plt = m_plt.find(insn.target);
            if ((insn.is_call || insn.is_jump) && plt != m_plt.end())
                m_used.insert(plt->second);
            if (!has_name(insn.target) && labelable(insn.target))
                add_label(insn.target, (insn.is_call ? "fn_" : "L_") + hex(insn.target));
        }
        if (insn.has_mem) {
            auto got = m_gotsym.find(insn.mem);
            if (got != m_gotsym.end())
                m_used.insert(got->second);
        }
        for (uint64_t r : instruction_refs(insn)) {
            auto copy = m_copy.find(r);
            uint64_t off = 0;
            if (auto plt = m_plt.find(r); plt != m_plt.end() && !m_pic && !has_name(r))
                m_used.insert(plt->second);
            else if (copy != m_copy.end())
                m_used.insert(copy->second);
            else if (const std::string* within = inside_copy(r, &off))
                m_used.insert(*within);
            if (!has_name(r) && labelable(r))
                add_label(r, generated(r));
        }
    }
    for (uint64_t slot : m_own_slots) {
        uint64_t target = m_relative.at(slot);
        if (!has_name(target) && labelable(target))
            add_label(target, generated(target));
    }
    // The C runtime's own objects hold pointers of their own; only a C
    // program has such stretches, every other program's slots all count.
    std::vector<std::pair<uint64_t, uint64_t>> stretches;
    const auto& syms = m_img.m_symbols;
    for (size_t i = 0; m_compiled && i < syms.size(); ++i) {
        if (!c_runtime_name(syms[i].name))
            continue;
        uint64_t end = syms[i].addr + syms[i].size;
        if (syms[i].size == 0) {
            end = syms[i].addr + 16;
            for (const auto& other : syms) {
                if (other.addr > syms[i].addr && other.addr < end)
                    end = other.addr;
                // A marker such as data_start that shares its address
                // with the program's own object covers nothing of it.
                if (other.addr == syms[i].addr && !c_runtime_name(other.name))
                    end = syms[i].addr;
            }
        }
        stretches.push_back({ syms[i].addr, end });
    }
    for (const auto& [slot, target] : m_relative) {
        const Sec* s = section_at(slot);
        if (!s || s->exec)
            continue;
        // A pointer to an object of a library is written with its name.
        auto copy = m_copy.find(target);
        uint64_t off = 0;
        if (auto plt = m_plt.find(target); plt != m_plt.end() && !m_pic && !has_name(target))
            m_used.insert(plt->second);
        else if (copy != m_copy.end())
            m_used.insert(copy->second);
        else if (const std::string* within = inside_copy(target, &off))
            m_used.insert(*within);
        bool in_runtime = std::any_of(stretches.begin(), stretches.end(),
                                      [at = slot](const auto& st) { return at >= st.first && at < st.second; });
        if (!in_runtime && !has_name(target) && labelable(target))
            add_label(target, generated(target));
    }
    for (const auto& [slot, sym] : m_absym)
        if (section_at(slot))
            m_used.insert(sym);
}

} // namespace reasm
