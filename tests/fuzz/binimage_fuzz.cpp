// Feeds arbitrary bytes to the image loader and decodes whatever it finds
// as code, so that every header reader and the decoder meet hostile input.
#include "binimage.h"
#include "disasm.h"
#include "pseudo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BinImage img;
    // The low bit of the last byte picks the name, so the .com rule is reached too.
    const char* name = size && (data[size - 1] & 1) ? "fuzz.com" : "fuzz.bin";
    img.load_bytes(std::vector<uint8_t>(data, data + size), name);

    size_t decoded = 0;
    for (const BinImage::CodeRange& r : img.code_ranges()) {
        if (r.off > img.m_data.size() || r.size > img.m_data.size() - r.off)
            __builtin_trap(); // a code range must lie inside the file
        auto insns = dis::sweep(img.m_data.data() + r.off, r.size, r.addr, img.m_bits, 4000 - decoded);
        decoded += insns.size();
        for (size_t i = 0; i < insns.size() && i < 64; ++i) {
            dis::Insn full;
            dis::decode(insns[i].bytes, insns[i].len, insns[i].addr, img.m_bits, &full, true);
            pseudo::comment(full, [&img](uint64_t a) { return img.symbol_at(a, false); });
            uint64_t off = 0, back = 0;
            if (img.addr_to_off(insns[i].addr, &off)) {
                if (off >= img.m_data.size() || !img.off_to_addr(off, &back))
                    __builtin_trap();
            }
        }
        if (decoded >= 4000)
            break;
    }
    uint8_t buf[64];
    img.read(img.m_entry, buf, sizeof buf);
    for (size_t i = 0; i < img.m_symbols.size() && i < 16; ++i)
        img.symbol_at(img.m_symbols[i].addr + 1, false);
    if (img.write(img.m_entry, buf, 16))
        img.write_off(0, buf, img.m_data.size() < 16 ? img.m_data.size() : 16);
    return 0;
}
