#include "binimage.h"

#include "files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kMaxFileSize = 268435456; // 256 MiB
constexpr size_t kMaxName = 256;
constexpr size_t kMaxSymbolName = 4096; // mangled C++ names run long
constexpr uint64_t kMaxHeaders = 4095;
constexpr uint64_t kMaxSymbolsPerTable = 200000;
// A file has at most one static and one dynamic symbol table, so twice the
// per-table cap bounds what a hostile file with thousands of tables that all
// point at the same entries could make us allocate.
constexpr uint64_t kMaxSymbolsTotal = 2 * kMaxSymbolsPerTable;
constexpr uint64_t kMaxPeSections = 96;

// Little-endian field reads, each tested against the file size first.
struct Reader {
    const std::vector<uint8_t>& data;

    bool has(uint64_t off, uint64_t width) const
    {
        return off <= data.size() && width <= data.size() - off;
    }

    bool get(uint64_t off, unsigned width, uint64_t* out) const
    {
        if (!has(off, width))
            return false;
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i)
            v |= uint64_t(data[off + i]) << (8 * i);
        *out = v;
        return true;
    }

    // NUL-terminated text cut at `max` characters and at the end of the file.
    std::string cstr(uint64_t off, size_t max) const
    {
        if (off >= data.size())
            return {};
        size_t avail = std::min<uint64_t>(data.size() - off, max);
        const char* p = reinterpret_cast<const char*>(data.data() + off);
        return std::string(p, strnlen(p, avail));
    }

    bool range_inside(uint64_t off, uint64_t size) const { return has(off, size); }
};

// off + i * step without wrapping; UINT64_MAX (never inside a file) on overflow.
uint64_t table_pos(uint64_t off, uint64_t i, uint64_t step)
{
    if (step != 0 && i > (UINT64_MAX - off) / step)
        return UINT64_MAX;
    return off + i * step;
}

bool is_mapped(const BinImage::Section& s)
{
    return s.in_file && s.addr != 0 && s.size != 0;
}

} // namespace

bool BinImage::load(const std::string& path, std::string* err)
{
    auto fail = [&](const char* word) {
        if (err)
            *err = word;
        return false;
    };
    // Non-blocking, so a named pipe fails at the size step instead of
    // waiting forever for a writer; regular files read the same either way.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail("open");
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0 || uint64_t(end) > kMaxFileSize || ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return fail("size");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (r <= 0)
            break;
        got += size_t(r);
    }
    ::close(fd);
    if (got != bytes.size())
        return fail("read");
    clear();
    m_path = path;
    m_data = std::move(bytes);
    parse();
    return true;
}

bool BinImage::load_bytes(std::vector<uint8_t> bytes, const std::string& name)
{
    clear();
    m_path = name;
    m_data = std::move(bytes);
    parse();
    return true;
}

void BinImage::clear()
{
    m_path.clear();
    m_data.clear();
    m_kind = Raw;
    m_bits = 64;
    m_entry = 0;
    m_base = 0;
    m_dirty = false;
    m_sections.clear();
    m_symbols.clear();
}

const char* BinImage::kind_name() const
{
    switch (m_kind) {
    case Elf32: return "ELF32";
    case Elf64: return "ELF64";
    case Pe32: return "PE32";
    case Pe64: return "PE32+";
    case Com: return "DOS .COM";
    case Mz: return "DOS MZ";
    default: return "RAW";
    }
}

void BinImage::set_raw_view(int bits, uint64_t base)
{
    if (m_kind != Raw && m_kind != Com && m_kind != Mz)
        return;
    m_bits = bits;
    if (m_kind == Raw) {
        m_base = base;
        m_entry = base;
    }
}

void BinImage::parse()
{
    m_sections.clear();
    m_symbols.clear();
    m_entry = 0;
    m_kind = Raw;
    m_bits = 64;
    m_base = 0;

    const size_t n = m_data.size();
    const uint8_t* d = m_data.data();
    if (n >= 4 && d[0] == 0x7F && d[1] == 'E' && d[2] == 'L' && d[3] == 'F') {
        if (parse_elf())
            return;
        m_kind = Raw; // keeps the width and entry the ELF attempt found
    } else if (n >= 64 && d[0] == 'M' && d[1] == 'Z') {
        if (!parse_pe())
            parse_mz();
        return;
    }

    std::string ext;
    size_t dot = m_path.rfind('.');
    size_t slash = m_path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        ext = m_path.substr(dot + 1);
    for (char& c : ext)
        c = char(tolower(static_cast<unsigned char>(c)));
    if (ext == "com" && n <= 0xFF00) {
        m_kind = Com;
        m_bits = 16;
        m_entry = 0x100;
        m_base = 0x100;
        m_sections.push_back({ ".com", 0x100, 0, n, true, true, true });
    }
}

bool BinImage::parse_elf()
{
    Reader r { m_data };
    const size_t n = m_data.size();
    if (n < 6 || (m_data[4] != 1 && m_data[4] != 2) || m_data[5] != 1)
        return false;
    const bool is64 = m_data[4] == 2;
    m_kind = is64 ? Elf64 : Elf32;
    m_bits = is64 ? 64 : 32;
    const unsigned w = is64 ? 8 : 4;

    uint64_t entry = 0, phoff = 0, shoff = 0, phentsize = 0, phnum = 0, shentsize = 0, shnum = 0, shstrndx = 0;
    if (!r.get(24, w, &entry))
        return false;
    m_entry = entry;
    const uint64_t h = is64 ? 54 : 42;
    if (!r.get(is64 ? 32 : 28, w, &phoff) || !r.get(is64 ? 40 : 32, w, &shoff)
        || !r.get(h, 2, &phentsize) || !r.get(h + 2, 2, &phnum) || !r.get(h + 4, 2, &shentsize)
        || !r.get(h + 6, 2, &shnum) || !r.get(h + 8, 2, &shstrndx))
        return false;

    struct Shdr {
        uint64_t name, type, flags, addr, offset, size, link;
    };
    std::vector<Shdr> shdrs;
    if (shoff != 0 && shentsize >= (is64 ? 64u : 40u) && shnum >= 1 && shnum <= kMaxHeaders) {
        shdrs.reserve(shnum);
        for (uint64_t i = 0; i < shnum; ++i) {
            uint64_t p = table_pos(shoff, i, shentsize);
            Shdr s {};
            uint64_t entsize = 0;
            bool ok = r.get(p, 4, &s.name) && r.get(p + 4, 4, &s.type) && r.get(p + 8, w, &s.flags)
                && r.get(p + 8 + w, w, &s.addr) && r.get(p + 8 + 2 * w, w, &s.offset)
                && r.get(p + 8 + 3 * w, w, &s.size) && r.get(p + 8 + 4 * w, 4, &s.link)
                && r.get(is64 ? p + 56 : p + 36, w, &entsize);
            if (!ok) {
                shdrs.clear();
                break;
            }
            shdrs.push_back(s);
        }
    }

    bool have_strtab = shstrndx < shdrs.size() && shdrs[shstrndx].offset != 0;
    uint64_t strtab = have_strtab ? shdrs[shstrndx].offset : 0;
    for (const Shdr& s : shdrs) {
        if (s.type == 0)
            continue;
        Section sec;
        if (have_strtab && s.name <= UINT64_MAX - strtab)
            sec.name = r.cstr(strtab + s.name, kMaxName);
        sec.addr = (s.flags & 0x2) ? s.addr : 0;
        sec.offset = s.offset;
        sec.size = s.size;
        sec.in_file = s.type != 8;
        if (sec.in_file && !r.range_inside(sec.offset, sec.size))
            sec.size = 0;
        sec.write = s.flags & 0x1;
        sec.exec = s.flags & 0x4;
        m_sections.push_back(std::move(sec));
    }

    const uint64_t es = is64 ? 24 : 16;
    uint64_t total = 0;
    for (uint64_t table_type : { 2u, 11u }) {
        for (const Shdr& s : shdrs) {
            if (s.type != table_type || s.link >= shdrs.size())
                continue;
            uint64_t strings = shdrs[s.link].offset;
            uint64_t count = std::min(s.size / es, kMaxSymbolsPerTable);
            for (uint64_t i = 1; i < count && total < kMaxSymbolsTotal; ++i, ++total) {
                uint64_t p = table_pos(s.offset, i, es);
                uint64_t st_name = 0, st_value = 0, st_size = 0, st_info = 0;
                bool ok = is64
                    ? r.get(p, 4, &st_name) && r.get(p + 4, 1, &st_info) && r.get(p + 8, 8, &st_value) && r.get(p + 16, 8, &st_size)
                    : r.get(p, 4, &st_name) && r.get(p + 4, 4, &st_value) && r.get(p + 8, 4, &st_size) && r.get(p + 12, 1, &st_info);
                if (!ok)
                    break;
                unsigned type = st_info & 0xF;
                if (type > 2 || st_value == 0 || st_name > UINT64_MAX - strings)
                    continue;
                std::string name = r.cstr(strings + st_name, kMaxSymbolName);
                if (name.empty())
                    continue;
                m_symbols.push_back({ st_value, st_size, std::move(name), type == 2 });
            }
        }
    }
    std::sort(m_symbols.begin(), m_symbols.end(), [](const Symbol& a, const Symbol& b) { return a.addr < b.addr; });

    if (m_sections.empty() && phoff != 0 && phentsize >= (is64 ? 56u : 32u) && phnum >= 1 && phnum <= kMaxHeaders) {
        for (uint64_t i = 0; i < phnum; ++i) {
            uint64_t p = table_pos(phoff, i, phentsize);
            uint64_t type = 0, flags = 0, offset = 0, vaddr = 0, filesz = 0;
            bool ok = is64
                ? r.get(p, 4, &type) && r.get(p + 4, 4, &flags) && r.get(p + 8, 8, &offset) && r.get(p + 16, 8, &vaddr) && r.get(p + 32, 8, &filesz)
                : r.get(p, 4, &type) && r.get(p + 4, 4, &offset) && r.get(p + 8, 4, &vaddr) && r.get(p + 16, 4, &filesz) && r.get(p + 24, 4, &flags);
            if (!ok)
                break;
            if (type != 1 || !r.range_inside(offset, filesz))
                continue;
            char name[32];
            snprintf(name, sizeof name, "LOAD%llu", static_cast<unsigned long long>(i));
            m_sections.push_back({ name, vaddr, offset, filesz, bool(flags & 0x1), bool(flags & 0x2), true });
        }
    }
    return true;
}

bool BinImage::parse_pe()
{
    Reader r { m_data };
    uint64_t lfanew = 0, nsect = 0, opt_size = 0, magic = 0;
    if (m_data.size() < 64 || !r.get(0x3C, 4, &lfanew) || !r.has(lfanew, 4)
        || memcmp(m_data.data() + lfanew, "PE\0\0", 4) != 0
        || !r.get(lfanew + 6, 2, &nsect) || !r.get(lfanew + 20, 2, &opt_size) || !r.get(lfanew + 24, 2, &magic))
        return false;
    if (magic != 0x10B && magic != 0x20B)
        return false;
    const bool is64 = magic == 0x20B;
    m_kind = is64 ? Pe64 : Pe32;
    m_bits = is64 ? 64 : 32;

    uint64_t image_base = 0, entry_rva = 0;
    bool have_base = is64 ? r.get(lfanew + 48, 8, &image_base) : r.get(lfanew + 52, 4, &image_base);
    bool have_entry = r.get(lfanew + 40, 4, &entry_rva);
    m_entry = image_base + entry_rva;
    if (!have_base || !have_entry)
        return true;

    uint64_t table = lfanew + 24 + opt_size;
    uint64_t count = std::min(nsect, kMaxPeSections);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t p = table + i * 40;
        uint64_t vsize = 0, vaddr = 0, raw_size = 0, raw_ptr = 0, chars = 0;
        if (!r.has(p, 8) || !r.get(p + 8, 4, &vsize) || !r.get(p + 12, 4, &vaddr) || !r.get(p + 16, 4, &raw_size)
            || !r.get(p + 20, 4, &raw_ptr) || !r.get(p + 36, 4, &chars))
            break;
        Section sec;
        sec.name = r.cstr(p, 8);
        sec.addr = image_base + vaddr;
        sec.offset = raw_ptr;
        sec.size = raw_size;
        if (vsize != 0 && vsize < sec.size)
            sec.size = vsize;
        if (!r.range_inside(sec.offset, sec.size))
            sec.size = 0;
        sec.exec = chars & 0x20000000u;
        sec.write = chars & 0x80000000u;
        sec.in_file = true;
        m_sections.push_back(std::move(sec));
    }
    return true;
}

void BinImage::parse_mz()
{
    Reader r { m_data };
    m_kind = Mz;
    m_bits = 16;
    uint64_t paragraphs = 0, ip = 0, cs = 0;
    r.get(8, 2, &paragraphs);
    uint64_t header = paragraphs * 16;
    if (header >= m_data.size())
        return;
    m_sections.push_back({ "code", 0, header, m_data.size() - header, true, true, true });
    r.get(0x14, 2, &ip);
    r.get(0x16, 2, &cs);
    m_entry = cs * 16 + ip;
}

// The file offset of `addr` and how many bytes from there belong to the same
// mapping before another mapping takes over or the mapping ends.
static bool map_run(const BinImage& img, uint64_t addr, uint64_t* off, uint64_t* avail)
{
    if (img.m_kind == BinImage::Raw) {
        if (addr < img.m_base || addr - img.m_base >= img.m_data.size())
            return false;
        *off = addr - img.m_base;
        *avail = img.m_data.size() - *off;
        return true;
    }
    if (img.m_kind == BinImage::Mz) {
        if (img.m_sections.empty() || addr >= img.m_sections[0].size)
            return false;
        *off = img.m_sections[0].offset + addr;
        *avail = img.m_sections[0].size - addr;
        return true;
    }
    const auto& secs = img.m_sections;
    for (size_t k = 0; k < secs.size(); ++k) {
        const auto& s = secs[k];
        if (!is_mapped(s) || addr < s.addr || addr - s.addr >= s.size)
            continue;
        uint64_t run = s.size - (addr - s.addr);
        // An earlier section that starts inside this run wins from its start on.
        for (size_t j = 0; j < k; ++j) {
            if (is_mapped(secs[j]) && secs[j].addr > addr)
                run = std::min(run, secs[j].addr - addr);
        }
        *off = s.offset + (addr - s.addr);
        *avail = run;
        return true;
    }
    return false;
}

bool BinImage::addr_to_off(uint64_t addr, uint64_t* off) const
{
    uint64_t o = 0, avail = 0;
    if (!map_run(*this, addr, &o, &avail))
        return false;
    *off = o;
    return true;
}

bool BinImage::off_to_addr(uint64_t off, uint64_t* addr) const
{
    if (m_kind == Raw) {
        if (off >= m_data.size())
            return false;
        *addr = m_base + off;
        return true;
    }
    if (m_kind == Mz) {
        if (m_sections.empty())
            return false;
        const Section& s = m_sections[0];
        if (off < s.offset || off - s.offset >= s.size)
            return false;
        *addr = off - s.offset;
        return true;
    }
    for (const Section& s : m_sections) {
        if (is_mapped(s) && off >= s.offset && off - s.offset < s.size) {
            *addr = s.addr + (off - s.offset);
            return true;
        }
    }
    return false;
}

bool BinImage::read(uint64_t addr, uint8_t* buf, size_t n) const
{
    size_t done = 0;
    while (done < n) {
        uint64_t off = 0, avail = 0;
        if (!map_run(*this, addr + done, &off, &avail))
            return false;
        size_t chunk = size_t(std::min<uint64_t>(avail, n - done));
        memcpy(buf + done, m_data.data() + off, chunk);
        done += chunk;
    }
    return true;
}

bool BinImage::write(uint64_t addr, const uint8_t* buf, size_t n)
{
    if (n == 0)
        return true;
    for (size_t done = 0; done < n;) {
        uint64_t off = 0, avail = 0;
        if (!map_run(*this, addr + done, &off, &avail))
            return false;
        done += size_t(std::min<uint64_t>(avail, n - done));
    }
    for (size_t done = 0; done < n;) {
        uint64_t off = 0, avail = 0;
        map_run(*this, addr + done, &off, &avail);
        size_t chunk = size_t(std::min<uint64_t>(avail, n - done));
        memcpy(m_data.data() + off, buf + done, chunk);
        done += chunk;
    }
    m_dirty = true;
    return true;
}

bool BinImage::write_off(uint64_t off, const uint8_t* buf, size_t n)
{
    if (off > m_data.size() || n > m_data.size() - off)
        return false;
    if (n > 0) {
        memcpy(m_data.data() + off, buf, n);
        m_dirty = true;
    }
    return true;
}

std::string BinImage::symbol_at(uint64_t addr, bool exact) const
{
    auto it = std::upper_bound(m_symbols.begin(), m_symbols.end(), addr,
        [](uint64_t a, const Symbol& s) { return a < s.addr; });
    if (it == m_symbols.begin())
        return {};
    const Symbol& s = *(it - 1);
    if (s.addr == addr)
        return s.name;
    uint64_t d = addr - s.addr;
    if (exact || !(s.size ? d < s.size : d <= 4095))
        return {};
    char buf[32];
    snprintf(buf, sizeof buf, "+0x%llx", static_cast<unsigned long long>(d));
    return s.name + buf;
}

bool BinImage::find_symbol(const std::string& name, uint64_t* addr) const
{
    for (const Symbol& s : m_symbols) {
        if (s.name == name) {
            *addr = s.addr;
            return true;
        }
    }
    return false;
}

std::vector<BinImage::CodeRange> BinImage::code_ranges() const
{
    std::vector<CodeRange> out;
    if (m_kind == Raw) {
        if (!m_data.empty())
            out.push_back({ "", m_base, 0, m_data.size() });
        return out;
    }
    for (const Section& s : m_sections) {
        if (s.exec && s.in_file && s.size != 0)
            out.push_back({ s.name, s.addr, s.offset, s.size });
    }
    if (out.empty() && !m_data.empty())
        out.push_back({ "", 0, 0, m_data.size() });
    return out;
}

bool BinImage::save(const std::string& path, std::string* err)
{
    auto fail = [&](const char* word) {
        if (err)
            *err = word;
        return false;
    };
    // What a save killed halfway left beside it goes first.
    files::remove_stale_temps(path);
    // Through a fresh temporary file renamed over the name: a link there is
    // replaced, a device, FIFO or folder is refused.
    mode_t mode = files::created_mode();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 || (!m_path.empty() && ::stat(m_path.c_str(), &st) == 0))
        mode = st.st_mode & 0xFFF;
    std::string_view bytes(reinterpret_cast<const char*>(m_data.data()), m_data.size());
    switch (files::write_file(path, bytes, mode)) {
    case files::Fail::None: break;
    case files::Fail::Open: return fail("open");
    case files::Fail::Write: return fail("write");
    default: return fail("rename");
    }
    m_path = path;
    m_dirty = false;
    return true;
}
