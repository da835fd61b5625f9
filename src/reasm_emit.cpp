// Writing the source: instructions with their operands turned into labels,
// every other byte as data, jump tables and pointer slots as label
// expressions, zero runs as "times", and a map of which line holds which
// instruction for the rebuild check.
#include "files.h"
#include "reasm_impl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace reasm {

namespace {

constexpr size_t kZeroRun = 16;
constexpr size_t kMaxText = 72;
constexpr size_t kChunk = 16;

bool printable(uint8_t c)
{
    return c >= 0x20 && c <= 0x7E;
}

std::string byte_item(uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// NASM's default alignment of the sections it knows by name.
uint64_t default_alignment(const std::string& name)
{
    if (name == ".text")
        return 16;
    if (name == ".data" || name == ".rodata" || name == ".bss")
        return 4;
    return 1;
}

// The largest power of two (up to a page) that divides the address: the
// linker then puts the section exactly there when what comes before it has
// the same size as in the original.
uint64_t alignment_for(uint64_t addr)
{
    uint64_t a = 1;
    while (a < 4096 && addr % (a * 2) == 0)
        a *= 2;
    return a;
}

bool is_prefix_word(const std::string& w)
{
    // Size and segment words lead the text where only a prefix carries them.
    static const std::set<std::string> words = { "lock", "rep", "repe", "repz", "repne", "repnz",
                                                 "bnd", "notrack", "xacquire", "xrelease",
                                                 "o16", "o32", "o64", "a16", "a32", "a64",
                                                 "cs", "ds", "es", "fs", "gs", "ss" };
    return words.count(w) != 0;
}

// Text goes to the file in blocks of this size.
constexpr size_t kOutBlock = size_t(1) << 20;

bool is_legacy_prefix(uint8_t b)
{
    switch (b) {
    case 0x66: case 0x67: case 0xF2: case 0xF3: case 0x2E:
    case 0x3E: case 0x26: case 0x36: case 0x64: case 0x65:
        return true;
    default:
        return false;
    }
}

} // namespace

void Writer::line(const std::string& text)
{
    m_out += text;
    m_out += '\n';
    ++m_line;
    if (m_out_fd >= 0 && m_out.size() >= kOutBlock)
        flush_out();
}

void Writer::flush_out()
{
    if (!m_out_failed && !files::write_all(m_out_fd, m_out.data(), m_out.size()))
        m_out_failed = true;
    m_out.clear();
}

bool Writer::emit(const std::set<uint64_t>& as_bytes, LineMap* lines, const std::string& path)
{
    // A link someone put at the name is replaced, never written through.
    m_out_fd = files::open_regular(path, O_WRONLY | O_TRUNC, 0600);
    if (m_out_fd < 0)
        return false;
    m_out_failed = false;
    m_out.clear();
    m_out.reserve(kOutBlock + 4096);
    emit_all(as_bytes, lines);
    flush_out();
    bool ok = !m_out_failed && close(m_out_fd) == 0;
    m_out_fd = -1;
    std::string().swap(m_out);
    return ok;
}

std::string Writer::emit_text(const std::set<uint64_t>& as_bytes, LineMap* lines)
{
    m_out_fd = -1;
    m_out.clear();
    emit_all(as_bytes, lines);
    return std::move(m_out);
}

std::string Writer::rewrite(const dis::Insn& insn, bool* force_bytes) const
{
    *force_bytes = false;
    const std::string& text = insn.text;
    // The mnemonic is the first word that is not a prefix ("bnd jmp").
    size_t mnem = 0;
    bool bnd = false;
    size_t sp = std::string::npos;
    while (true) {
        sp = text.find(' ', mnem);
        std::string word = sp == std::string::npos ? std::string() : text.substr(mnem, sp - mnem);
        if (!is_prefix_word(word))
            break;
        bnd |= word == "bnd";
        mnem = sp + 1;
    }

    if (insn.has_target && sp != std::string::npos) {
        auto plt = m_plt.find(insn.target);
        if (plt != m_plt.end())
            return text.substr(0, sp) + " " + nasm_name(plt->second) + (m_bits == 64 ? " wrt ..plt" : "");
        std::string target = label(insn.target);
        if (insn.is_jump && !insn.is_call && !target.empty()) {
            size_t i = 0;
            while (i < insn.len && is_legacy_prefix(insn.bytes[i]))
                ++i;
            uint8_t op = i < insn.len ? insn.bytes[i] : 0;
            const char* keyword = " near ";
            if (op >= 0xE0 && op <= 0xE3)
                keyword = " ";
            else if ((op >= 0x70 && op <= 0x7F) || op == 0xEB)
                keyword = " short ";
            // NASM refuses a bnd prefix on a short jmp.
            if (bnd && op == 0xEB)
                *force_bytes = true;
            return text.substr(0, sp) + keyword + target;
        }
    }

    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool at_number = text[i] == '0' && i + 1 < text.size() && text[i + 1] == 'x'
            && (i == 0
                || (!std::isalnum(static_cast<unsigned char>(text[i - 1])) && text[i - 1] != '-'));
        if (!at_number) {
            out += text[i++];
            continue;
        }
        size_t end = i + 2;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end == i + 2 || end - i - 2 > 16) {
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        uint64_t v = std::strtoull(text.substr(i + 2, end - i - 2).c_str(), nullptr, 16);
        auto got = insn.has_mem && v == insn.mem ? m_gotsym.find(v) : m_gotsym.end();
        // Position-independent code names an address only relative to rip
        // (or as a branch target); any other number is a plain value.
        bool may_be_address = !m_pic || (insn.has_mem && v == insn.mem && i >= 4 && text.compare(i - 4, 4, "rel ") == 0)
            || (insn.has_target && v == insn.target);
        std::string name = v > 255 && may_be_address ? address_name(v) : std::string();
        if (got != m_gotsym.end())
            out += nasm_name(got->second) + " wrt " + got_wrt();
        else if (!name.empty())
            out += name;
        else
            out.append(text, i, end - i);
        i = end;
    }
    if (m_bits == 64 && insn.len == 10 && insn.bytes[0] >= 0x48 && insn.bytes[0] <= 0x4F && insn.bytes[1] >= 0xB8
        && insn.bytes[1] <= 0xBF) {
        size_t comma = out.find(", ");
        if (comma != std::string::npos)
            out.insert(comma + 2, "qword ");
    }
    return out;
}

// A section name as NASM can read it: the file may name a section with
// blanks, a ';' or a line break, which would cut or split the line.
std::string section_name(const std::string& name)
{
    std::string s = name.empty() ? "_" : name;
    for (auto& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("._-$@", c))
            c = '_';
    return s;
}

// Where the section's own content starts: the linker puts the library
// objects it copies in (and the padding between them) first.
uint64_t Writer::first_own(const Sec& sec) const
{
    uint64_t a = sec.addr;
    const uint64_t end = sec.addr + sec.size;
    while (!sec.in_file && a < end) {
        if (m_copy.count(a)) {
            a += copy_size(a);
            continue;
        }
        auto next = m_copy.upper_bound(a);
        if (next == m_copy.end() || next->first >= end || m_names.count(a))
            break;
        auto named = m_names.upper_bound(a);
        if (named != m_names.end() && named->first < next->first)
            break;
        a = next->first;
    }
    return std::min(a, end);
}

std::string Writer::section_line(const Sec& sec) const
{
    std::string s = "section " + section_name(sec.name);
    bool standard = sec.name == ".text" || sec.name == ".data" || sec.name == ".rodata" || sec.name == ".bss";
    if (!standard) {
        s += sec.note ? " note" : sec.in_file ? " progbits" : " nobits";
        s += " alloc";
        s += sec.exec ? " exec" : " noexec";
        s += sec.write ? " write" : " nowrite";
        if (sec.tls)
            s += " tls";
        // Constructor arrays are read as one run of pointers: padding
        // between the runtime's entries and these would be called.
        if (m_compiled)
            s += " align=" + std::to_string(sec.array ? std::max<uint64_t>(sec.align, 1) : std::max<uint64_t>(sec.align, 16));
    }
    // Without the section's own alignment the linker would place it after
    // its predecessor with NASM's default, and every later address moves.
    // Thread-local sections keep their own: it sets the TLS segment's; so
    // do notes, which follow the program headers.
    if (!m_compiled) {
        // Unpaged segments take the largest alignment of their sections.
        bool own = sec.tls || sec.note || unpaged(m_layout);
        // After copied library objects, no more than the section had.
        uint64_t start = first_own(sec);
        uint64_t align = own ? std::max<uint64_t>(sec.align, 1) : alignment_for(start);
        if (!own && start != sec.addr)
            align = std::min(align, std::max<uint64_t>(sec.align, 1));
        if (align != default_alignment(sec.name))
            s += " align=" + std::to_string(align);
    } else if (standard && sec.align > default_alignment(sec.name)) {
        s += " align=" + std::to_string(sec.align);
    }
    return s;
}

void Writer::emit_all(const std::set<uint64_t>& as_bytes, LineMap* lines)
{
    m_line = 0;
    m_emitted.clear();
    lines->clear();

    line(m_bits == 16 ? "bits 16" : m_bits == 32 ? "bits 32" : "bits 64");
    if (m_flat) {
        line("org 0x" + hex(m_org));
    } else {
        std::set<std::string> globals;
        if (m_compiled) {
            globals.insert("main");
        } else {
            auto it = m_names.find(m_img.m_entry);
            if (it != m_names.end())
                globals.insert(it->second.begin(), it->second.end());
        }
        for (const auto& g : globals)
            line("global " + g);
        for (const auto& u : m_used)
            line("extern " + nasm_name(u) + (m_weak.count(u) ? ":weak" : ""));
    }
    // Code comes after the data it reads: NASM sizes an instruction that
    // names a label it has not yet seen as if it were absolute, one byte
    // too long, and the correction costs a whole extra pass over the
    // source. The sections are declared first, in the file's order, so the
    // object keeps that order.
    std::vector<const Sec*> order;
    for (const auto& sec : m_secs)
        if (m_flat || !sec.exec)
            order.push_back(&sec);
    for (const auto& sec : m_secs)
        if (!m_flat && sec.exec)
            order.push_back(&sec);
    bool declared = !std::equal(order.begin(), order.end(), m_secs.begin(), [](const Sec* a, const Sec& b) { return a == &b; });
    if (declared) {
        line("");
        for (const auto& sec : m_secs)
            line(section_line(sec));
    }
    for (const Sec* s : order) {
        const Sec& sec = *s;
        line("");
        if (!m_flat)
            line(declared ? "section " + section_name(sec.name) : section_line(sec));
        if (sec.tls && !sec.in_file) {
            // Its addresses belong to the sections after it.
            line("    resb " + std::to_string(sec.size));
            continue;
        }
        if (sec.array) {
            emit_array(sec);
            continue;
        }
        emit_section(sec, as_bytes, lines);
        uint64_t end = sec.addr + sec.size;
        bool next_starts_there = std::any_of(m_secs.begin(), m_secs.end(), [&](const Sec& s) { return s.addr == end; });
        if (!next_starts_there)
            labels_at(end);
    }
    // The stack's permissions come from this marker (without it the linker
    // makes the stack executable), and its header counts among those that
    // the first loaded sections follow.
    int stack = m_flat ? -1 : stack_flags(m_layout);
    if (stack >= 0) {
        line("");
        line(std::string("section .note.GNU-stack noalloc ") + (stack & 1 ? "exec" : "noexec") + " nowrite progbits");
    }
}

void Writer::emit_instruction(const dis::Insn& insn, const std::set<uint64_t>& as_bytes, LineMap* lines)
{
    labels_at(insn.addr);
    bool force_bytes = false;
    std::string text = rewrite(insn, &force_bytes);
    lines->add(m_line + 1, insn.addr);
    bool multi_operand_nop = insn.text.rfind("nop ", 0) == 0 && insn.text.find(", ") != std::string::npos;
    auto spelled = m_spelling.find(insn.addr);
    if (spelled != m_spelling.end() && !as_bytes.count(insn.addr)) {
        text = spelled->second;
        force_bytes = multi_operand_nop = false;
    }
    if (force_bytes || multi_operand_nop || as_bytes.count(insn.addr)) {
        std::string db = "db ";
        for (int i = 0; i < insn.len; ++i)
            db += (i ? ", " : "") + byte_item(insn.bytes[i]);
        line("    " + pad(db) + "; " + hex(insn.addr) + "  " + text);
    } else {
        line("    " + pad(text) + "; " + hex(insn.addr));
    }
}

void Writer::emit_array(const Sec& sec)
{
    for (uint64_t slot : m_own_slots) {
        std::string target = label(m_relative.at(slot));
        if (slot >= sec.addr && slot < sec.addr + sec.size && !target.empty())
            line((m_bits == 64 ? "    dq " : "    dd ") + target);
    }
}

void Writer::emit_section(const Sec& sec, const std::set<uint64_t>& as_bytes, LineMap* lines)
{
    const uint64_t end = sec.addr + sec.size;
    const bool code = sec.exec && sec.in_file;
    auto next_above = [&](const auto& map, uint64_t a) {
        auto it = map.upper_bound(a);
        return it == map.end() ? end : std::min<uint64_t>(it->first, end);
    };

    // The next instruction at or after a; a only grows, so the search
    // through a long data run is done once, not once per line of it.
    uint64_t next_code = sec.addr;
    auto code_from = [&](uint64_t a) {
        if (next_code < a)
            next_code = m_code.next(a);
        return std::min(next_code, end);
    };

    uint64_t a = sec.addr;
    while (a < end) {
        Code insn = code ? m_code.at(a) : Code();
        if (insn.len) {
            emit_instruction(insn_at(a), as_bytes, lines);
            a += insn.len;
            continue;
        }
        if (sec.exec && m_compiled) {
            // cc brings the C runtime's own code back.
            a = code_from(a + 1);
            continue;
        }
        const uint64_t word = m_bits == 64 ? 8 : 4;
        if (sec.in_file && a + word <= end && (m_relative.count(a) || m_absym.count(a))) {
            auto abs = m_absym.find(a);
            std::string name = abs != m_absym.end() ? nasm_name(abs->second) : address_name(m_relative.at(a));
            auto addend = m_addend.find(a);
            if (abs != m_absym.end() && addend != m_addend.end())
                name += addend->second < 0 ? " - " + std::to_string(0 - uint64_t(addend->second))
                                           : " + " + std::to_string(addend->second);
            // The labels come once the slot is known to be a pointer: a data
            // run would otherwise put its alignment between them and it.
            if (!name.empty()) {
                labels_at(a);
                line((word == 8 ? "    dq " : "    dd ") + name);
                a += word;
                continue;
            }
        }
        if (m_copy.count(a)) {
            a += copy_size(a);
            continue;
        }
        auto table = m_jtab.find(a);
        if (table != m_jtab.end()) {
            labels_at(a);
            std::string base = label(a);
            for (uint64_t t : table->second) {
                std::string target = label(t);
                if (target.empty() || base.empty())
                    line("    dd " + std::to_string(int64_t(t - a)));
                else
                    line("    dd " + target + " - " + base);
            }
            a += 4 * table->second.size();
            continue;
        }

        if (m_compiled && m_names.count(a) && a % 2 == 0) {
            uint64_t k = 2;
            for (uint64_t c = 4; c <= std::max<uint64_t>(sec.align, 16) && c <= 4096; c *= 2)
                if (a % c == 0)
                    k = c;
            line((sec.in_file ? "    align " : "    alignb ") + std::to_string(k));
        }
        labels_at(a);
        uint64_t run_end = std::min({ end, next_above(m_names, a), next_above(m_jtab, a), next_above(m_copy, a) });
        if (code)
            run_end = std::min(run_end, code_from(a + 1));
        run_end = std::min({ run_end, next_above(m_relative, a), next_above(m_absym, a) });
        if (sec.in_file)
            emit_data(sec.off + (a - sec.addr), run_end - a);
        else if (!m_copy.count(run_end) || m_names.count(a))
            line("    resb " + std::to_string(run_end - a));
        // else: padding between the library objects the linker copies in,
        // which it puts there itself
        a = run_end;
    }
}

void Writer::emit_data(uint64_t off, uint64_t n)
{
    const auto& data = m_img.m_data;
    if (off >= data.size())
        return;
    n = std::min<uint64_t>(n, data.size() - off);
    const uint8_t* p = data.data() + off;
    auto zeros_from = [&](uint64_t i) {
        uint64_t z = 0;
        while (i + z < n && p[i + z] == 0)
            ++z;
        return z;
    };
    uint64_t i = 0;
    while (i < n) {
        uint64_t zeros = zeros_from(i);
        if (zeros >= kZeroRun) {
            line("    times " + std::to_string(zeros) + " db 0");
            i += zeros;
            continue;
        }
        uint64_t j = std::min<uint64_t>(i + kChunk, n);
        if (printable(p[i])) {
            uint64_t t = i;
            while (t < n && t - i < kMaxText && (printable(p[t]) || p[t] == 0x09 || p[t] == 0x0A))
                ++t;
            if (t < n && p[t] == 0)
                ++t;
            if (t - i > kChunk)
                j = t;
        }
        for (uint64_t q = i + 1; q < j; ++q) {
            if (q + kZeroRun <= n && zeros_from(q) >= kZeroRun) {
                j = q;
                break;
            }
        }
        std::string items;
        for (uint64_t k = i; k < j;) {
            uint64_t s = k;
            while (s < j && printable(p[s]) && p[s] != '"')
                ++s;
            if (!items.empty())
                items += ", ";
            if (s - k >= 3) {
                items += '"' + std::string(reinterpret_cast<const char*>(p + k), s - k) + '"';
                k = s;
            } else {
                items += byte_item(p[k]);
                ++k;
            }
        }
        line("    db " + items);
        i = j;
    }
}

} // namespace reasm
