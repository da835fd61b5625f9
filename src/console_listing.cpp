// The console's listings: the hex dump (d) and the unassembly (u).
#include "console.h"

#include "disasm.h"
#include "pseudo.h"

#include <algorithm>
#include <cstdio>

namespace {

// Instruction bytes are padded to this width so the texts line up.
constexpr size_t kBytesColumn = 21;
constexpr size_t kMaxBytesShown = 10;
constexpr size_t kCommentColumn = 64;

} // namespace

std::string Console::insn_row(const dis::Insn& insn) const
{
    std::string bytes = dis::hex_bytes(insn, kMaxBytesShown);
    if (bytes.size() < kBytesColumn)
        bytes.resize(kBytesColumn, ' ');
    return addr_str(insn.addr) + "  " + bytes + " " + insn.text;
}

void Console::cmd_dump(const Args& args)
{
    uint64_t start = m_dump_set ? m_dump_at : m_host->here();
    uint64_t len = 0;
    bool given = false;
    if (!parse_range(args, 1, &start, &len, 128, &given, args.size()))
        return;
    const uint64_t first_row = start & ~uint64_t(15);
    const uint64_t rows = (start - first_row + len + 15) / 16;
    for (uint64_t n = 0; n < rows; ++n) {
        const uint64_t row = first_row + n * 16;
        uint8_t bytes[16] = {};
        bool valid[16] = {};
        bool in_range[16] = {};
        for (int i = 0; i < 16; ++i) {
            uint64_t at = row + i;
            // Offsets wrap, so a range at the top of the address space works too.
            in_range[i] = at - start < len;
            // Byte by byte, so a partly unreadable range still shows the rest.
            valid[i] = in_range[i] && m_host->read(at, &bytes[i], 1) == 1;
        }
        std::string hex, chars;
        for (int i = 0; i < 16; ++i) {
            if (i == 8)
                hex += valid[7] && valid[8] ? "-" : " ";
            else if (i > 0)
                hex += " ";
            char cell[4];
            if (valid[i])
                snprintf(cell, sizeof cell, "%02X", bytes[i]);
            else
                snprintf(cell, sizeof cell, "%s", in_range[i] ? "??" : "  ");
            hex += cell;
            chars += !valid[i] ? ' ' : bytes[i] >= 0x20 && bytes[i] <= 0x7E ? char(bytes[i]) : '.';
        }
        print(addr_str(row) + "  " + hex + "   " + chars, kOutput);
    }
    m_dump_at = start + len;
    m_dump_set = true;
}

void Console::cmd_unasm(const Args& args)
{
    uint64_t start = m_unasm_set ? m_unasm_at : m_host->here();
    uint64_t len = 0;
    bool given = false;
    if (!parse_range(args, 1, &start, &len, 32, &given, args.size()))
        return;
    // Sixteen more bytes let the last instruction that starts inside the
    // range show in full.
    std::vector<uint8_t> buf(len + 16, 0);
    size_t got = m_host->read(start, buf.data(), buf.size());
    if (got == 0) {
        error("con.err.unmapped");
        return;
    }
    const int bits = m_host->bits();
    auto names = [this](uint64_t a) { return m_host->symbol_at(a); };
    size_t off = 0;
    dis::Insn insn;
    while (off < len && off < got) {
        const uint64_t at = start + off;
        dis::decode(buf.data() + off, got - off, at, bits, &insn, false);
        if (insn.len == 0)
            break;
        std::string label = m_host->symbol_at(at);
        if (!label.empty() && label.find('+') == std::string::npos)
            print(label + ":", kNotice);
        std::string line = insn_row(insn);
        std::string note = pseudo::comment(insn, names);
        if (!note.empty()) {
            line.resize(std::max(kCommentColumn, line.size() + 2), ' ');
            line += "; " + note;
        }
        print(line, kOutput);
        off += insn.len;
    }
    m_unasm_at = start + off;
    m_unasm_set = true;
}
