// The conversion driver: set up, emit, rebuild and compare until NASM gives
// back the same bytes (at most eight builds), then add the heading and the
// notes that tell the reader what was checked.
#include "con.h"
#include "l10n.h"
#include "needs.h"
#include "reasm_impl.h"

#include "files.h"

#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace reasm {

namespace {

constexpr int kMaxBuilds = 8;
constexpr int kMaxSpellRuns = 8;
// Peak memory per byte of the file, measured on the files that decode into
// the most instructions (zero bytes: one instruction per two bytes) with
// bench/reasm_size.sh (27 at 8 and 32 MiB), and a little over it.
constexpr uint64_t kBytesPerFileByte = 32;

// File, section and library names go into comments and reach terminals: a
// line break would end the comment and put the rest of the name into the
// source.
std::string one_line(const std::string& s) { return con::printable(s); }

std::string note(const std::string& text)
{
    return "; " + one_line(L10n::plain(text)) + "\n";
}

// What a refused image kind still gets: a plain listing to read.
std::string reading_listing(const BinImage& image)
{
    std::string s = note(L10n::tr("dis.why.format"));
    s += image.m_bits == 16 ? "bits 16\n" : image.m_bits == 32 ? "bits 32\n" : "bits 64\n";
    for (const auto& range : image.code_ranges()) {
        s += "\n; " + (range.name.empty() ? std::string("code") : one_line(range.name)) + "\n";
        if (range.off >= image.m_data.size())
            continue;
        uint64_t n = std::min<uint64_t>(range.size, image.m_data.size() - range.off);
        for (const auto& insn : dis::sweep(image.m_data.data() + range.off, n, range.addr, image.m_bits, n)) {
            std::string name = image.symbol_at(insn.addr, true);
            if (!name.empty() && usable_name(name))
                s += nasm_name(name) + ":\n";
            s += "    " + pad(insn.text) + "; " + hex(insn.addr) + "\n";
        }
    }
    return s;
}

void add_option(tc::LinkOpts* link, const std::string& option)
{
    if (!link->extra.empty())
        link->extra += ' ';
    link->extra += option;
}

// A program laid out by another linker script: the linker gets the address
// of each section that landed elsewhere in the last rebuild, but only of
// the first of a run of such sections, as the rest follow it. Every option
// is printed with the source, so the fewer the better. False when nothing
// new could be pinned.
bool pin_moved_sections(Writer* w)
{
    BinImage rebuilt;
    if (!rebuilt.load(tc::temp_dir() + "/reasm.out"))
        return false;
    bool added = false, previous_moved = false;
    for (const auto& sec : w->m_secs) {
        if (sec.tls && !sec.in_file)
            continue;
        bool moved = true;
        for (const auto& s : rebuilt.m_sections)
            moved &= !(s.name == section_name(sec.name) && s.addr == sec.addr);
        std::string option = "--section-start=" + section_name(sec.name) + "=0x" + hex(sec.addr);
        if (moved && !previous_moved && (" " + w->m_link.extra + " ").find(" " + option + " ") == std::string::npos) {
            add_option(&w->m_link, option);
            added = true;
        }
        previous_moved = moved;
    }
    return added;
}

// The options as "--build" takes them.
std::string build_options(const tc::LinkOpts& link)
{
    std::string s;
    auto add = [&](const char* flag, const std::string& value) {
        if (!value.empty())
            s += std::string(s.empty() ? "" : " ") + flag + " \"" + value + "\"";
    };
    add("--libs", link.libs);
    add("--libdirs", link.dirs);
    add("--ldflags", link.extra);
    if (link.crt)
        s += s.empty() ? "--crt" : " --crt";
    return s;
}

// Before an instruction goes to bytes, spellings that pin its encoding
// are tried (once each, as many as one bounded NASM run takes); those that
// found one leave the set. True when any did.
bool spell_first(Writer* w, std::set<uint64_t>* addrs)
{
    std::set<uint64_t> fresh;
    for (uint64_t a : *addrs)
        if (!w->m_spell_tried.count(a))
            fresh.insert(a);
    // Each NASM run takes a bounded number of candidates: a few runs, until
    // every instruction had its try.
    int found = 0;
    for (int run = 0; run < kMaxSpellRuns && !fresh.empty(); ++run) {
        found += w->find_spellings(fresh);
        for (auto it = fresh.begin(); it != fresh.end();)
            it = w->m_spell_tried.count(*it) ? fresh.erase(it) : std::next(it);
    }
    for (auto it = addrs->begin(); it != addrs->end();)
        it = w->m_spelling.count(*it) ? addrs->erase(it) : std::next(it);
    return found > 0;
}

// A C program is built again through cc; nothing is compared, but an
// instruction that NASM rejects is written as bytes, as in the check.
std::string rebuild_compiled(Writer* w, const std::string& asm_path, LineMap* lines, std::set<uint64_t>* as_bytes,
                             std::set<uint64_t>* rejected)
{
    for (int attempts = kMaxBuilds; attempts > 0; --attempts) {
        // Nothing of the build is compared: no listing or debug data.
        tc::Format fmt = w->m_bits == 32 ? tc::Format::Elf32 : tc::Format::Elf64;
        tc::BuildResult br = tc::build(asm_path, fmt, tc::temp_dir() + "/reasm.out", w->m_link, tc::Detail::Plain);
        auto items = needs::from_diags(br.diags);
        if (!items.empty())
            return "missing:" + needs::explain_line(items);
        if (br.ok)
            return "rebuilt";
        w->m_failure.tool = failed_tool(br, &w->m_failure.line);
        size_t before = as_bytes->size();
        std::set<uint64_t> refused;
        errors_to_instructions(br.diags, asm_path, *lines, &refused);
        bool spelled = spell_first(w, &refused);
        as_bytes->insert(refused.begin(), refused.end());
        rejected->insert(refused.begin(), refused.end());
        if ((as_bytes->size() == before && !spelled) || attempts == 1)
            break;
        if (!w->emit(*as_bytes, lines, asm_path))
            break;
    }
    return "build";
}

bool cxx_personality(const BinImage& image, const Writer& w)
{
    const char* name = "__gxx_personality_v0";
    uint64_t addr = 0;
    return w.m_imports.count(name) || image.find_symbol(name, &addr);
}

bool has_section(const BinImage& image, const char* name)
{
    for (const auto& s : image.m_sections)
        if (s.name == name)
            return true;
    return false;
}

} // namespace

uint64_t memory_needed(uint64_t file_size)
{
    return file_size * kBytesPerFileByte + (uint64_t(64) << 20);
}

Result disassemble(const BinImage& image, bool verify, const Sink& out)
{
    Result r;
    Writer w(image);

    char kind[64];
    std::snprintf(kind, sizeof kind, " (%s, %d bit)", image.kind_name(), image.m_bits);
    size_t slash = image.m_path.rfind('/');
    std::string base = slash == std::string::npos ? image.m_path : image.m_path.substr(slash + 1);
    std::string heading = note(L10n::tr("dis.head", base + kind));

    if (!w.setup()) {
        r.source = heading + reading_listing(image);
        r.why = "format";
        if (out) {
            out(r.source);
            r.source.clear();
        }
        return r;
    }

    r.buildable = true;
    r.link = w.m_link;
    if (verify && !w.m_readonly) {
        // NASM has no form for an operand it ignores ("nop dword [rax],
        // eax"): such instructions are spelled before the first build.
        std::set<uint64_t> nops;
        for (const auto& [addr, code] : w.m_code)
            if (code.nop_operands)
                nops.insert(addr);
        spell_first(&w, &nops);
    }
    std::set<uint64_t> as_bytes;
    std::set<uint64_t> rejected; // the part of as_bytes that NASM refused to assemble
    LineMap lines;
    // The text lives in its file, where the tools read it. Without a file
    // (no room in the work folder) it is kept in memory and not rebuilt.
    const std::string asm_path = tc::temp_dir() + "/reasm.asm";
    bool on_disk = w.emit(as_bytes, &lines, asm_path);
    std::string text;
    if (!on_disk)
        text = w.emit_text(as_bytes, &lines);

    if (w.m_readonly) {
        r.buildable = false;
        r.why = "compiled";
    } else if (w.m_compiled) {
        r.why = "compiled";
        if (verify)
            r.why = on_disk ? rebuild_compiled(&w, asm_path, &lines, &as_bytes, &rejected) : "build";
    } else if (!w.m_flat && w.m_layout.missing) {
        // Bytes the file does not hold cannot be compared.
        r.why = "truncated";
    } else if (verify && !on_disk) {
        r.why = "build";
    } else if (verify) {
        std::string shaping = segment_options(w.m_layout, image.m_data);
        if (!shaping.empty())
            add_option(&w.m_link, shaping);
        for (int attempts = kMaxBuilds;; --attempts) {
            std::set<uint64_t> differing;
            bool same = false;
            bool moved = false;
            std::string why;
            bool built = check(w, image, asm_path, lines, &differing, &same, &why, &moved);
            if (built && same) {
                r.verified = true;
                r.why.clear();
                break;
            }
            if (built && differing.empty() && moved && attempts > 1 && pin_moved_sections(&w))
                continue;
            size_t before = as_bytes.size();
            bool spelled = spell_first(&w, &differing);
            if (!built)
                rejected.insert(differing.begin(), differing.end());
            as_bytes.insert(differing.begin(), differing.end());
            bool grew = as_bytes.size() != before || spelled;
            if (!grew) {
                r.why = !why.empty() ? why : built ? "differs" : "build";
                break;
            }
            if (!w.emit(as_bytes, &lines, asm_path)) {
                on_disk = false;
                text = w.emit_text(as_bytes, &lines);
                r.why = "build";
                break;
            }
            if (attempts == 1) {
                // Out of builds: the last text is unchecked, and the last
                // check found a difference, so say so everywhere alike.
                r.why = built ? "differs" : (why.empty() ? "build" : why);
                break;
            }
        }
    }
    r.as_bytes = int(as_bytes.size());
    r.rejected = int(rejected.size());
    r.link = w.m_link;
    for (const auto& sec : w.m_secs) {
        if (!sec.exec || !sec.in_file)
            continue;
        r.code_bytes += sec.size;
        uint64_t decoded = 0;
        for (uint64_t a = w.m_code.next(sec.addr); a < sec.addr + sec.size; a = w.m_code.next(a + 1))
            decoded += w.m_code.at(a).len;
        r.code_as_data += sec.size - std::min(decoded, sec.size);
    }

    std::string notes;
    if (r.verified) {
        notes += note(L10n::tr("dis.ok"));
    } else if (r.why == "truncated") {
        notes += note(L10n::tr("dis.unchecked", L10n::tr("dis.why.truncated", std::to_string(w.m_layout.missing))));
    } else if (r.why == "rebuilt") {
        notes += note(L10n::tr("dis.c_built"));
    } else if (r.why == "compiled") {
        notes += note(L10n::tr("dis.why.compiled"));
    } else if (r.why.rfind("missing:", 0) == 0) {
        notes += note(L10n::tr("dis.unchecked", r.why.substr(8)));
    } else if (r.why == "build" && !w.m_failure.tool.empty()) {
        notes += note(L10n::tr("dis.unchecked", L10n::tr("dis.why.tool", w.m_failure.tool, w.m_failure.line)));
    } else if (r.why == "build") {
        notes += note(L10n::tr("dis.unchecked", L10n::tr("dis.why.build")));
    } else if (verify && !w.m_compiled && r.why == "differs" && !w.m_failure.segments[0].empty()) {
        notes += note(L10n::tr("dis.unchecked",
                               L10n::tr("dis.why.segments", w.m_failure.segments[0], w.m_failure.segments[1])));
    } else if (verify && !w.m_compiled) {
        notes += note(L10n::tr("dis.unchecked", L10n::tr("dis.why.differs")));
    }
    if (r.buildable && !build_options(r.link).empty())
        notes += note(L10n::tr("dis.opts", build_options(r.link)));
    if (r.as_bytes > r.rejected)
        notes += note(L10n::tr("dis.db", std::to_string(r.as_bytes - r.rejected)));
    if (r.rejected)
        notes += note(L10n::tr("dis.db_rejected", std::to_string(r.rejected)));
    // A static C program carries the C library's exception tables; the
    // note is for programs that throw C++ exceptions themselves.
    if (w.m_compiled && has_section(image, ".gcc_except_table") && cxx_personality(image, w))
        notes += note(L10n::tr("dis.no_eh"));
    if (!w.m_needed.empty()) {
        std::string libs;
        for (const auto& n : w.m_needed)
            libs += (libs.empty() ? "" : ", ") + n;
        notes += note(L10n::tr("dis.libs", libs));
    }
    std::string head = heading + notes + "\n";
    if (out) {
        out(head);
        if (on_disk)
            files::read_blocks(asm_path, out, nullptr);
        else
            out(text);
    } else if (on_disk) {
        r.source = std::move(head);
        files::read_blocks(asm_path, [&](std::string_view block) { r.source += block; }, nullptr);
    } else {
        r.source = std::move(head) + text;
    }
    // The work folder lasts as long as the process, the window's too: a
    // text many times the input is not left in it.
    if (on_disk)
        unlink(asm_path.c_str());
    return r;
}

} // namespace reasm
