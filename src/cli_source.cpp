// "--disasm-source": NASM source that rebuilds a binary, and whether the
// rebuild gave back the same bytes.
#include "binimage.h"
#include "cli.h"
#include "con.h"
#include "disjob.h"
#include "l10n.h"
#include "reasm.h"

#include <cstdio>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The refusal for a file the memory cannot take.
int too_big(const char* path, uint64_t file_size)
{
    con::printf("%s\n", L10n::tr("dis.too_big", con::printable(path), DisJob::human_bytes(reasm::memory_needed(file_size)),
                                  DisJob::human_bytes(DisJob::memory_available())).c_str());
    return 1;
}

int source_mode(const char* path, int bits, uint64_t base)
{
    // A device or a pipe has no size to convert: /dev/zero would read as
    // an empty file and a pipe would wait for a writer.
    struct stat st {};
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        con::printf("%s\n", L10n::tr("dis.no_file", con::printable(path)).c_str());
        return 1;
    }
    if (stat(path, &st) == 0) {
        uint64_t free = DisJob::memory_available();
        if (free && reasm::memory_needed(uint64_t(st.st_size)) > free)
            return too_big(path, uint64_t(st.st_size));
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

} // namespace

int cli_disasm_source(const char* path, int bits, uint64_t base)
{
    // The estimate before the start can be short of what the file takes.
    try {
        return source_mode(path, bits, base);
    } catch (const std::bad_alloc&) {
        struct stat st {};
        return too_big(path, stat(path, &st) == 0 ? uint64_t(st.st_size) : 0);
    }
}
