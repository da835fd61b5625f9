// "--disasm-source": NASM source that rebuilds a binary, and whether the
// rebuild gave back the same bytes.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "reasm.h"

int cli_disasm_source(const char* path, int bits, uint64_t base)
{
    BinImage img;
    if (!cli_load_image(path, &img))
        return 1;
    if (bits != 0)
        img.set_raw_view(bits, base);
    reasm::Result r = reasm::disassemble(img, true);
    con::print(r.source);
    con::printf("; == %s, %d as db%s%s\n", r.verified ? "VERIFIED" : "NOT VERIFIED", r.as_bytes,
                r.why.empty() ? "" : ", why: ", r.why.c_str());
    return r.verified ? 0 : 2;
}
