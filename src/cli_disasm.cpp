// "--disasm": a binary's sections and an explained listing of its code.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "con_buffer.h"
#include "disasm.h"
#include "pseudo.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace {

constexpr size_t kMaxListed = 20000;
constexpr size_t kMaxHexBytes = 10;

// Names and paths come from the file or the command line and may hold
// terminal control sequences.
void add_printable(con::Buffer& out, std::string_view s) { out.add(con::printable(s)); }

// One listing line: "  %08llx  %-20s %-36s %s%s\n" with the address, the
// byte column, the text and "; " plus the explanation when there is one.
void add_line(con::Buffer& out, const dis::Insn& insn, std::string_view text, std::string_view note)
{
    char hex[2 * sizeof insn.bytes + 3];
    out.add("  ");
    out.hex(insn.addr, 8);
    out.add("  ");
    out.pad({ hex, dis::hex_bytes(insn, kMaxHexBytes, hex) }, 20);
    out.add(' ');
    out.pad(text, 36);
    out.add(' ');
    if (!note.empty()) {
        out.add("; ");
        out.add(note);
    }
    out.add('\n');
}

// Most instructions read the same wherever they stand: all but branches to
// a target and RIP-relative addresses. Their text and explanation are kept
// by their bytes, so a sequence met again (push rbp, mov rbp, rsp, ret and
// so on) is neither decoded nor explained a second time. A valid
// instruction's decoding depends on its own bytes alone, so equal bytes
// give an equal line.
class Memo {
public:
    struct Line {
        uint8_t len = 0; // 0: a free slot
        uint8_t bytes[15] = {};
        std::string text;
        std::string note;
    };

    // The kept line for the instruction at `code` (n bytes left), or null.
    const Line* find(const uint8_t* code, size_t n) const
    {
        const Line& l = m_slots[slot(code, n)];
        if (l.len == 0 || l.len > n || memcmp(l.bytes, code, l.len) != 0)
            return nullptr;
        return &l;
    }

    void keep(const uint8_t* code, size_t n, const dis::Insn& insn, const std::string& note)
    {
        if (!insn.valid || insn.len == 0 || insn.len > sizeof insn.bytes || insn.has_target || insn.has_mem
            || insn.is_jump || insn.is_call || insn.text.find("rel ") != std::string::npos)
            return;
        Line& l = m_slots[slot(code, n)];
        l.len = insn.len;
        memcpy(l.bytes, insn.bytes, insn.len);
        l.text = insn.text;
        l.note = note;
    }

private:
    static constexpr int kBits = 14;

    static size_t slot(const uint8_t* code, size_t n)
    {
        uint32_t k = 0;
        memcpy(&k, code, std::min<size_t>(n, 4));
        return (k * 2654435761u) >> (32 - kBits);
    }

    std::vector<Line> m_slots = std::vector<Line>(size_t(1) << kBits);
};

// Decodes one code range instruction by instruction into a reused record,
// so memory does not grow with the range. A range cut at the limit ends with
// a line that says how much was left out.
void list_range(con::Buffer& out, Memo& memo, const BinImage& img, const BinImage::CodeRange& r)
{
    out.add('\n');
    add_printable(out, r.name);
    out.add(":\n");
    if (r.off > img.m_data.size())
        return;
    const uint64_t size = std::min<uint64_t>(r.size, img.m_data.size() - r.off);
    const uint8_t* code = img.m_data.data() + r.off;
    const std::function<std::string(uint64_t)> names = [&img](uint64_t addr) {
        return con::printable(img.symbol_at(addr, false));
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
        const uint8_t* at = code + off;
        const size_t left = size - off;
        const Memo::Line* seen = memo.find(at, left);
        if (seen) {
            insn.addr = r.addr + off;
            insn.len = seen->len;
            memcpy(insn.bytes, seen->bytes, seen->len);
        } else {
            dis::decode(at, left, r.addr + off, img.m_bits, &insn, false);
        }
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
        if (seen) {
            add_line(out, insn, seen->text, seen->note);
            continue;
        }
        pseudo::comment(insn, names, &note);
        add_line(out, insn, insn.text, note);
        memo.keep(at, left, insn, note);
    }
    // The rest is measured, not decoded: a range of hundreds of megabytes
    // would take seconds to count in instructions.
    if (off < size) {
        out.add("  ... ");
        out.dec(size - off);
        out.add(" more bytes not listed (at most 20000 instructions per code range)\n");
    }
}

} // namespace

bool cli_load_image(const char* path, BinImage* img)
{
    std::string err;
    if (img->load(path, &err))
        return true;
    con::printf("cannot read %s (%s)\n", con::printable(path).c_str(), err.c_str());
    return false;
}

namespace {

int listing_mode(const char* path, int bits)
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
        out.pad(con::printable(s.name), 16);
        out.add(" addr ");
        out.hex_pad(s.addr, 12);
        out.add(" off ");
        out.hex_pad(s.offset, 8);
        out.add(" size ");
        out.hex_pad(s.size, 8);
        out.add(s.exec ? " x" : " -");
        out.add(s.write ? "w\n" : "-\n");
    }
    Memo memo; // one image, one width: its lines hold in every range
    for (const BinImage::CodeRange& r : img.code_ranges())
        list_range(out, memo, img, r);
    out.flush();
    return 0;
}

} // namespace

int cli_disasm(const char* path, int bits)
{
    try {
        return listing_mode(path, bits);
    } catch (const std::bad_alloc&) {
        // The loader's word for a file too large to take.
        con::printf("\ncannot read %s (size)\n", con::printable(path).c_str());
        return 1;
    }
}
