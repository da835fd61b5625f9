#include "numconv.h"

#include "l10n.h"
#include "numfmt.h"

#include <cinttypes>
#include <cstdio>

namespace numconv {

std::vector<Row> rows(const std::string& text, bool* valid)
{
    uint64_t v = 0;
    int bytes = 0;
    *valid = numfmt::parse(text, &v, &bytes);
    if (!*valid)
        return {};
    int n = bytes > 0 ? bytes : v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFFFFull ? 4 : 8;

    std::vector<Row> out;
    out.push_back({ L10n::tr("conv.hex"), numfmt::hex(v, n), true });
    out.push_back({ L10n::tr("conv.dec"), std::to_string(v), true });
    for (int w : { 1, 2, 4, 8 })
        if (w >= n)
            out.push_back({ L10n::tr("conv.signed") + " " + L10n::tr("conv.bit", 8 * w),
                            std::to_string(numfmt::sign(v, w)), false });
    out.push_back({ L10n::tr("conv.bin"), numfmt::bin(v, 8 * n), false });
    char oct[32];
    snprintf(oct, sizeof oct, "0o%" PRIo64, v);
    out.push_back({ L10n::tr("conv.oct"), oct, false });
    std::string chars = numfmt::chars(v, n);
    if (!chars.empty())
        out.push_back({ L10n::tr("conv.chars"), "'" + chars + "'", false });
    std::string mem;
    for (int i = 0; i < n; ++i) {
        char b[4];
        snprintf(b, sizeof b, "%02X", unsigned(v >> (8 * i)) & 0xFF);
        mem += (i ? " " : "") + std::string(b);
    }
    out.push_back({ L10n::tr("conv.memory"), mem, false });
    return out;
}

} // namespace numconv
