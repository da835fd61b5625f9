// "--disasm": a binary's sections and an explained listing of its code.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "disasm.h"
#include "pseudo.h"

#include <cstdio>

namespace {

constexpr size_t kMaxListed = 20000;
constexpr size_t kMaxHexBytes = 10;

// Section and symbol names come from the file and may hold terminal control
// sequences; print anything outside printable ASCII as \xNN.
std::string printable(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

} // namespace

bool cli_load_image(const char* path, BinImage* img)
{
    std::string err;
    if (img->load(path, &err))
        return true;
    con::printf("cannot read %s (%s)\n", path, err.c_str());
    return false;
}

int cli_disasm(const char* path, int bits)
{
    BinImage img;
    if (!cli_load_image(path, &img))
        return 1;
    if (bits != 0)
        img.set_raw_view(bits, img.m_base);

    con::printf("%s: %s, %d bit, entry %llx, %zu bytes\n", path, img.kind_name(), img.m_bits,
        static_cast<unsigned long long>(img.m_entry), img.m_data.size());
    for (const BinImage::Section& s : img.m_sections) {
        con::printf("  section %-16s addr %-12llx off %-8llx size %-8llx %s%s\n", printable(s.name).c_str(),
            static_cast<unsigned long long>(s.addr), static_cast<unsigned long long>(s.offset),
            static_cast<unsigned long long>(s.size), s.exec ? "x" : "-", s.write ? "w" : "-");
    }

    auto names = [&img](uint64_t addr) { return printable(img.symbol_at(addr, false)); };
    for (const BinImage::CodeRange& r : img.code_ranges()) {
        con::printf("\n%s:\n", printable(r.name).c_str());
        if (r.off > img.m_data.size())
            continue;
        uint64_t size = std::min<uint64_t>(r.size, img.m_data.size() - r.off);
        for (const dis::Insn& insn : dis::sweep(img.m_data.data() + r.off, size, r.addr, img.m_bits, kMaxListed)) {
            std::string label = img.symbol_at(insn.addr, true);
            if (!label.empty())
                con::printf("%s:\n", printable(label).c_str());
            std::string note = pseudo::comment(insn, names);
            con::printf("  %08llx  %-20s %-36s %s%s\n", static_cast<unsigned long long>(insn.addr),
                dis::hex_bytes(insn, kMaxHexBytes).c_str(), insn.text.c_str(), note.empty() ? "" : "; ", note.c_str());
        }
    }
    return 0;
}
