// "--disasm": a binary's sections and an explained listing of its code.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "con_buffer.h"
#include "disasm.h"
#include "pseudo.h"

#include <algorithm>
#include <functional>

namespace {

constexpr size_t kMaxListed = 20000;
constexpr size_t kMaxHexBytes = 10;

bool plain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }

// Names and paths come from the file or the command line and may hold
// terminal control sequences; anything outside printable ASCII goes out as \xNN.
void add_printable(con::Buffer& out, std::string_view s)
{
    for (unsigned char c : s) {
        if (plain(c)) {
            out.add(char(c));
        } else {
            const char esc[4] = { '\\', 'x', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15] };
            out.add({ esc, 4 });
        }
    }
}

std::string printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (plain(c)) {
            out += char(c);
        } else {
            out += "\\x";
            out += "0123456789ABCDEF"[c >> 4];
            out += "0123456789ABCDEF"[c & 15];
        }
    }
    return out;
}

// One listing line: "  %08llx  %-20s %-36s %s%s\n" with the address, the
// byte column, the text and "; " plus the explanation when there is one.
void add_line(con::Buffer& out, const dis::Insn& insn, const std::string& note)
{
    char hex[2 * sizeof insn.bytes + 3];
    out.add("  ");
    out.hex(insn.addr, 8);
    out.add("  ");
    out.pad({ hex, dis::hex_bytes(insn, kMaxHexBytes, hex) }, 20);
    out.add(' ');
    out.pad(insn.text, 36);
    out.add(' ');
    if (!note.empty()) {
        out.add("; ");
        out.add(note);
    }
    out.add('\n');
}

// Decodes one code range instruction by instruction into a reused record,
// so memory does not grow with the range. A range cut at the limit ends with
// a line that says how much was left out.
void list_range(con::Buffer& out, const BinImage& img, const BinImage::CodeRange& r)
{
    out.add('\n');
    add_printable(out, r.name);
    out.add(":\n");
    if (r.off > img.m_data.size())
        return;
    const uint64_t size = std::min<uint64_t>(r.size, img.m_data.size() - r.off);
    const uint8_t* code = img.m_data.data() + r.off;
    const std::function<std::string(uint64_t)> names = [&img](uint64_t addr) {
        return printable(img.symbol_at(addr, false));
    };
    dis::Insn insn;
    std::string note;
    uint64_t off = 0;
    // Addresses only grow along a range, so the symbols are walked alongside
    // instead of searched for each line. The label of an address is the last
    // symbol there, as symbol_at finds it.
    const std::vector<BinImage::Symbol>& syms = img.m_symbols;
    size_t next = std::lower_bound(syms.begin(), syms.end(), r.addr,
                      [](const BinImage::Symbol& s, uint64_t a) { return s.addr < a; }) - syms.begin();
    for (size_t listed = 0; listed < kMaxListed && off < size; ++listed) {
        dis::decode(code + off, size - off, r.addr + off, img.m_bits, &insn, false);
        off += insn.len;
        while (next < syms.size() && syms[next].addr < insn.addr)
            ++next;
        size_t past = next;
        while (past < syms.size() && syms[past].addr == insn.addr)
            ++past;
        if (past > next && !syms[past - 1].name.empty()) {
            add_printable(out, syms[past - 1].name);
            out.add(":\n");
        }
        next = past;
        pseudo::comment(insn, names, &note);
        add_line(out, insn, note);
    }
    if (off < size) {
        out.add("  ... ");
        out.dec(dis::count(code + off, size - off, img.m_bits));
        out.add(" more instructions not listed (at most 20000 per code range)\n");
    }
}

} // namespace

bool cli_load_image(const char* path, BinImage* img)
{
    std::string err;
    if (img->load(path, &err))
        return true;
    con::printf("cannot read %s (%s)\n", printable(path).c_str(), err.c_str());
    return false;
}

int cli_disasm(const char* path, int bits)
{
    BinImage img;
    if (!cli_load_image(path, &img))
        return 1;
    if (bits != 0)
        img.set_raw_view(bits, img.m_base);

    con::Buffer out;
    add_printable(out, path);
    out.add(": ");
    out.add(img.kind_name());
    out.add(", ");
    out.dec(uint64_t(img.m_bits));
    out.add(" bit, entry ");
    out.hex(img.m_entry);
    out.add(", ");
    out.dec(img.m_data.size());
    out.add(" bytes\n");
    for (const BinImage::Section& s : img.m_sections) {
        out.add("  section ");
        out.pad(printable(s.name), 16);
        out.add(" addr ");
        out.hex_pad(s.addr, 12);
        out.add(" off ");
        out.hex_pad(s.offset, 8);
        out.add(" size ");
        out.hex_pad(s.size, 8);
        out.add(s.exec ? " x" : " -");
        out.add(s.write ? "w\n" : "-\n");
    }
    for (const BinImage::CodeRange& r : img.code_ranges())
        list_range(out, img, r);
    out.flush();
    return 0;
}
