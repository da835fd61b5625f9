// ELF layout facts for the rebuild check: the headers read without the
// clipping the binary view applies, and the memory the kernel's loader
// builds from the loadable segments (page by page, a later segment
// replacing an earlier one on a page they share, the rest of a page after
// the file part zeroed only when the segment has zero-filled memory).
#include "reasm_layout.h"

#include "reasm.h"

#include <algorithm>

namespace reasm {

namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kMaxEntries = 65535;

struct Fields {
    const std::vector<uint8_t>& d;
    bool ok = true;

    uint64_t get(uint64_t off, unsigned width)
    {
        if (off > d.size() || width > d.size() - off) {
            ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (unsigned i = width; i-- > 0;)
            v = v << 8 | d[off + i];
        return v;
    }
};

// Bytes of [off, off + size) that lie past the end of the file.
uint64_t past_end(uint64_t off, uint64_t size, uint64_t file_size)
{
    uint64_t end = off + size < off ? UINT64_MAX : off + size;
    if (end <= file_size)
        return 0;
    return end - std::max(off, file_size);
}

uint64_t page_of(uint64_t a)
{
    return a & ~(kPage - 1);
}

struct Memory {
    const ElfLayout& l;
    const std::vector<uint8_t>& d;

    // The segment that stays mapped on a page: the last one covering it.
    const ElfSeg* at(uint64_t page) const
    {
        for (auto it = l.segs.rbegin(); it != l.segs.rend(); ++it) {
            if (it->type != kPtLoad || it->memsz == 0)
                continue;
            uint64_t end = it->vaddr + it->memsz;
            if (page >= page_of(it->vaddr) && page < end)
                return &*it;
        }
        return nullptr;
    }

    static bool zero_filled(const ElfSeg& s, uint64_t a) { return s.memsz > s.filesz && a >= s.vaddr + s.filesz; }

    uint8_t byte(const ElfSeg& s, uint64_t a) const
    {
        if (zero_filled(s, a))
            return 0;
        uint64_t off = s.off + (a - s.vaddr);
        return off < d.size() ? d[off] : 0;
    }
};

bool same_tls(const ElfLayout& a, const ElfLayout& b)
{
    auto tls = [](const ElfLayout& l) {
        std::vector<ElfSeg> out;
        for (const auto& s : l.segs)
            if (s.type == kPtTls)
                out.push_back(s);
        return out;
    };
    auto x = tls(a), y = tls(b);
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i].vaddr != y[i].vaddr || x[i].filesz != y[i].filesz || x[i].memsz != y[i].memsz
            || x[i].align != y[i].align)
            return false;
    return true;
}

} // namespace

int stack_flags(const ElfLayout& layout)
{
    for (const auto& s : layout.segs)
        if (s.type == kPtGnuStack)
            return int(s.flags & 7);
    return -1;
}

ElfLayout read_layout(const std::vector<uint8_t>& data)
{
    ElfLayout l;
    if (data.size() < 52 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F'
        || (data[4] != 1 && data[4] != 2) || data[5] != 1)
        return l;
    const bool is64 = data[4] == 2;
    const unsigned w = is64 ? 8 : 4;
    Fields f { data };
    uint64_t phoff = f.get(is64 ? 32 : 28, w), shoff = f.get(is64 ? 40 : 32, w);
    uint64_t h = is64 ? 54 : 42;
    uint64_t phentsize = f.get(h, 2), phnum = f.get(h + 2, 2), shentsize = f.get(h + 4, 2),
             shnum = f.get(h + 6, 2), shstrndx = f.get(h + 8, 2);
    if (!f.ok)
        return l;
    const uint64_t size = data.size();

    if (phoff && phnum && phentsize >= (is64 ? 56u : 32u)) {
        l.missing += past_end(phoff, phnum * phentsize, size);
        for (uint64_t i = 0; i < std::min(phnum, kMaxEntries); ++i) {
            uint64_t p = phoff + i * phentsize;
            ElfSeg s;
            s.type = uint32_t(f.get(p, 4));
            if (is64) {
                s.flags = uint32_t(f.get(p + 4, 4));
                s.off = f.get(p + 8, 8);
                s.vaddr = f.get(p + 16, 8);
                s.filesz = f.get(p + 32, 8);
                s.memsz = f.get(p + 40, 8);
                s.align = f.get(p + 48, 8);
            } else {
                s.off = f.get(p + 4, 4);
                s.vaddr = f.get(p + 8, 4);
                s.filesz = f.get(p + 16, 4);
                s.memsz = f.get(p + 20, 4);
                s.flags = uint32_t(f.get(p + 24, 4));
                s.align = f.get(p + 28, 4);
            }
            if (!f.ok)
                break;
            if (s.type == kPtLoad)
                l.missing += past_end(s.off, s.filesz, size);
            l.segs.push_back(s);
        }
    }

    f.ok = true;
    if (shoff && shnum && shentsize >= (is64 ? 64u : 40u)) {
        l.missing += past_end(shoff, shnum * shentsize, size);
        std::vector<std::pair<uint64_t, ElfSec>> raw;
        for (uint64_t i = 0; i < std::min(shnum, kMaxEntries); ++i) {
            uint64_t p = shoff + i * shentsize;
            ElfSec s;
            uint64_t name = f.get(p, 4);
            s.type = uint32_t(f.get(p + 4, 4));
            s.flags = f.get(p + 8, w);
            s.addr = f.get(p + 8 + w, w);
            s.off = f.get(p + 8 + 2 * w, w);
            s.size = f.get(p + 8 + 3 * w, w);
            s.align = f.get(p + 16 + 4 * w, w);
            if (!f.ok)
                break;
            if (s.type != 0 && s.type != kShtNobits)
                l.missing += past_end(s.off, s.size, size);
            raw.push_back({ name, s });
        }
        uint64_t strtab = shstrndx < raw.size() ? raw[shstrndx].second.off : 0;
        for (auto& [name, s] : raw) {
            for (uint64_t p = strtab + name; strtab && p < size && data[p] && s.name.size() < 256; ++p)
                s.name += char(data[p]);
            if (s.type != 0)
                l.secs.push_back(std::move(s));
        }
    }
    return l;
}

bool unpaged(const ElfLayout& layout)
{
    return std::any_of(layout.segs.begin(), layout.segs.end(),
                       [](const ElfSeg& s) { return s.type == kPtLoad && s.align && s.align < kPage; });
}

std::string segment_options(const ElfLayout& layout, const std::vector<uint8_t>& data)
{
    std::vector<std::string> opts;
    const ElfSeg* first = nullptr;
    const ElfSeg* dynamic = nullptr;
    uint64_t page = 0;
    bool relro = false;
    for (const auto& s : layout.segs) {
        if (s.type == kPtLoad) {
            page = std::max(page, s.align);
            if (!first || s.off < first->off)
                first = &s;
        }
        relro |= s.type == kPtGnuRelro;
        if (s.type == kPtDynamic)
            dynamic = &s;
    }
    if (unpaged(layout)) {
        // "-N" also makes the code writable, "-n" does not.
        const ElfSec* text = nullptr;
        for (const auto& s : layout.secs)
            if (s.name == ".text" && !text)
                text = &s;
        opts.push_back(text && !(text->flags & kShfWrite) ? "-n" : "-N");
    } else {
        if (page > kPage)
            opts.push_back("-z max-page-size=0x" + hex(page));
        // The linker's default puts code on pages of its own.
        if (first && first->off == 0 && (first->flags & 1))
            opts.push_back("-z noseparate-code");
    }
    if (dynamic) {
        bool sysv = false, gnu = false;
        for (const auto& s : layout.secs) {
            sysv |= s.type == 5;          // SHT_HASH
            gnu |= s.type == 0x6FFFFFF6;  // SHT_GNU_HASH
        }
        if (sysv != gnu)
            opts.push_back(sysv ? "--hash-style=sysv" : "--hash-style=gnu");
        if (!relro)
            opts.push_back("-z norelro");
        const bool is64 = data.size() > 4 && data[4] == 2;
        const unsigned w = is64 ? 8 : 4;
        Fields f { data };
        bool now = false;
        for (uint64_t p = dynamic->off; p + 2 * w <= dynamic->off + dynamic->filesz; p += 2 * w) {
            uint64_t tag = f.get(p, w), value = f.get(p + w, w);
            if (!f.ok || tag == 0)
                break;
            now |= (tag == 30 && (value & 0x8)) || (tag == 0x6FFFFFFB && (value & 0x1)); // BIND_NOW, NOW
        }
        if (now)
            opts.push_back("-z now");
    }
    std::string out;
    for (const auto& o : opts)
        out += (out.empty() ? "" : " ") + o;
    return out;
}

bool same_segments(const ElfLayout& a, const ElfLayout& b, std::string where[2])
{
    auto shaping = [](const ElfLayout& l) {
        std::vector<ElfSeg> out;
        for (const auto& s : l.segs)
            if (s.type == kPtLoad || s.type == kPtGnuRelro)
                out.push_back(s);
        return out;
    };
    auto describe = [](const ElfSeg& s) {
        return std::string(s.type == kPtLoad ? "LOAD" : "GNU_RELRO") + " 0x" + hex(s.vaddr) + " size 0x" + hex(s.memsz)
            + " " + (s.flags & 4 ? "R" : "") + (s.flags & 2 ? "W" : "") + (s.flags & 1 ? "E" : "") + " align 0x"
            + hex(s.align);
    };
    auto x = shaping(a), y = shaping(b);
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        if (i >= x.size() || i >= y.size()) {
            where[0] = i < y.size() ? describe(y[i]) : "-";
            where[1] = i < x.size() ? describe(x[i]) : "-";
            return false;
        }
        const ElfSeg &s = x[i], &t = y[i];
        bool load = s.type == kPtLoad;
        if (s.type != t.type || s.vaddr != t.vaddr || s.memsz != t.memsz || (load && s.filesz != t.filesz)
            || (load && (s.flags & 7) != (t.flags & 7)) || (load && s.align != t.align)) {
            where[0] = describe(t);
            where[1] = describe(s);
            return false;
        }
    }
    return true;
}

const ElfSec* find_sec(const ElfLayout& layout, const std::string& name, uint64_t addr)
{
    for (const auto& s : layout.secs)
        if (s.name == name && s.addr == addr)
            return &s;
    return nullptr;
}

bool same_when_loaded(const ElfLayout& a, const std::vector<uint8_t>& a_data, const ElfLayout& b,
                      const std::vector<uint8_t>& b_data, std::string* where)
{
    if (!same_tls(a, b)) {
        *where = "thread-local segment";
        return false;
    }
    if (stack_flags(a) != stack_flags(b)) {
        *where = "stack permissions";
        return false;
    }
    Memory ma { a, a_data }, mb { b, b_data };
    for (const auto& sec : a.secs) {
        if (!(sec.flags & kShfAlloc) || !sec.addr || !sec.size || (sec.type == kShtNobits && (sec.flags & kShfTls)))
            continue;
        uint64_t end = sec.addr + sec.size < sec.addr ? UINT64_MAX : sec.addr + sec.size;
        for (uint64_t from = sec.addr; from < end;) {
            uint64_t page = page_of(from);
            uint64_t to = std::min(end, page + kPage < page ? UINT64_MAX : page + kPage);
            const ElfSeg* sa = ma.at(page);
            const ElfSeg* sb = mb.at(page);
            bool differs = false;
            if (sa && (!sb || (sa->flags & 7) != (sb->flags & 7))) {
                differs = true;
            } else if (sa && !(Memory::zero_filled(*sa, from) && Memory::zero_filled(*sb, from))) {
                for (uint64_t x = from; x < to && !differs; ++x)
                    differs = ma.byte(*sa, x) != mb.byte(*sb, x);
            }
            if (differs) {
                *where = sec.name + " at " + hex(from);
                return false;
            }
            from = to;
        }
    }
    return true;
}

} // namespace reasm
