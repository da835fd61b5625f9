// "--disasm-source": NASM source that rebuilds a binary, and whether the
// rebuild gave back the same bytes.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "disjob.h"
#include "l10n.h"
#include "reasm.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the machine can give this process: the memory not in use, or the
// physical memory when the kernel does not say.
uint64_t memory_available()
{
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (f) {
        char line[128];
        unsigned long long kb = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1)
                break;
        std::fclose(f);
        if (kb)
            return uint64_t(kb) * 1024;
    }
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : UINT64_MAX;
}

} // namespace

int cli_disasm_source(const char* path, int bits, uint64_t base)
{
    // A device or a pipe has no size to convert: /dev/zero would read as
    // an empty file and a pipe would wait for a writer.
    struct stat st {};
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        con::printf("%s\n", L10n::tr("dis.no_file", con::printable(path)).c_str());
        return 1;
    }
    if (stat(path, &st) == 0) {
        uint64_t need = reasm::memory_needed(uint64_t(st.st_size));
        uint64_t free = memory_available();
        if (need > free) {
            con::printf("%s\n", L10n::tr("dis.too_big", con::printable(path), DisJob::human_bytes(need),
                                          DisJob::human_bytes(free)).c_str());
            return 1;
        }
    }
    BinImage img;
    if (!cli_load_image(path, &img))
        return 1;
    if (bits != 0)
        img.set_raw_view(bits, base);
    // The source goes out as it is read back from its work file.
    reasm::Result r = reasm::disassemble(img, true, [](std::string_view text) { con::print(text); });
    // Undecoded code is data in the source: say how much, so that "0 as
    // db" is not read as "all of it is instructions".
    char code[96] = "";
    if (r.buildable && !r.link.crt && r.code_bytes)
        std::snprintf(code, sizeof code, ", %llu of %llu code bytes as data (%llu%%)",
                      static_cast<unsigned long long>(r.code_as_data), static_cast<unsigned long long>(r.code_bytes),
                      static_cast<unsigned long long>((r.code_as_data * 100 + r.code_bytes - 1) / r.code_bytes));
    con::printf("; == %s, %d as db%s%s%s\n", r.verified ? "VERIFIED" : "NOT VERIFIED", r.as_bytes, code,
                r.why.empty() ? "" : ", why: ", r.why.c_str());
    return r.verified ? 0 : 2;
}
