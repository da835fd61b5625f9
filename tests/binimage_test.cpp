// Loading every supported format from real files and from hostile bytes,
// address mapping, patching and saving.
#include "binimage.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, size_t off, uint64_t v, int width)
{
    if (b.size() < off + width)
        b.resize(off + width);
    for (int i = 0; i < width; ++i)
        b[off + i] = uint8_t(v >> (8 * i));
}

Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A small ELF64 writer for shaping headers the linker would never produce.
struct Elf64 {
    struct Sh {
        std::string name;
        uint32_t type = 0;
        uint64_t flags = 0, addr = 0, offset = 0, size = 0;
        uint32_t link = 0;
    };
    Bytes body = Bytes(0x100, 0); // header, then free space from 0x40
    std::vector<Sh> shs { Sh {} };

    uint64_t append(const Bytes& data)
    {
        body.insert(body.end(), data.begin(), data.end());
        return body.size() - data.size();
    }

    // The names, then the section headers with the name table's own last.
    Bytes build() const
    {
        Bytes b = body;
        std::vector<Sh> all = shs;
        all.push_back({ "", 3 });
        std::string strtab(1, '\0');
        std::vector<uint32_t> names;
        for (const Sh& s : all) {
            names.push_back(uint32_t(strtab.size()));
            strtab += s.name + '\0';
        }
        all.back().offset = b.size();
        all.back().size = strtab.size();
        b.insert(b.end(), strtab.begin(), strtab.end());
        const uint64_t shoff = b.size();
        b.resize(shoff + all.size() * 64);
        for (size_t i = 0; i < all.size(); ++i) {
            const Sh& s = all[i];
            size_t p = shoff + i * 64;
            put(b, p, names[i], 4);
            put(b, p + 4, s.type, 4);
            put(b, p + 8, s.flags, 8);
            put(b, p + 16, s.addr, 8);
            put(b, p + 24, s.offset, 8);
            put(b, p + 32, s.size, 8);
            put(b, p + 40, s.link, 4);
        }
        memcpy(b.data(), "\x7F" "ELF\x02\x01\x01", 7);
        put(b, 24, 0x401000, 8); // entry
        put(b, 40, shoff, 8);
        put(b, 58, 64, 2);
        put(b, 60, all.size(), 2);
        put(b, 62, all.size() - 1, 2);
        return b;
    }
};

// An ELF64 with a string table "\0f\0" and symbol tables over `count`
// entries named "f" with the given info byte: one table per element of
// `tables`, each a section type (2 static, 11 dynamic) and a string link.
Bytes elf_with_symbols(size_t count, uint8_t info, const std::vector<std::pair<uint32_t, uint32_t>>& tables)
{
    Elf64 e;
    uint64_t strings = e.append(to_bytes(std::string("\0f\0", 3)));
    Bytes t(count * 24, 0);
    for (size_t i = 1; i < count; ++i) {
        put(t, i * 24, 1, 4);
        t[i * 24 + 4] = info;
        put(t, i * 24 + 8, 0x1000 + i, 8);
        put(t, i * 24 + 16, 1, 8);
    }
    uint64_t table = e.append(t);
    e.shs.push_back({ ".strtab", 3, 0, 0, strings, 3, 0 });
    for (auto [type, link] : tables)
        e.shs.push_back({ ".symtab", type, 0, 0, table, count * 24, link });
    return e.build();
}

// A PE image with `nsect` identical .text sections; 0x20 nops and a ret at 0x400.
Bytes pe(bool plus, int nsect, uint32_t raw_size, uint32_t virt_size, uint32_t raw_ptr)
{
    Bytes b(0x400, 0);
    memcpy(b.data(), "MZ", 2);
    put(b, 0x3C, 0x80, 4);
    memcpy(b.data() + 0x80, "PE\0\0", 4);
    put(b, 0x84, plus ? 0x8664 : 0x14C, 2);
    put(b, 0x86, nsect, 2);
    const int opt_size = plus ? 240 : 224;
    put(b, 0x94, opt_size, 2);
    put(b, 0x98, plus ? 0x20B : 0x10B, 2);
    put(b, 0x98 + 16, 0x1010, 4); // AddressOfEntryPoint
    put(b, plus ? 0x98 + 24 : 0x98 + 28, plus ? 0x140000000 : 0x400000, plus ? 8 : 4); // ImageBase
    for (int i = 0; i < nsect; ++i) {
        size_t p = 0x98 + opt_size + i * 40;
        put(b, p + 36, 0x60000020, 4); // code, execute, read
        memcpy(b.data() + p, ".text", 5);
        put(b, p + 8, virt_size, 4);
        put(b, p + 12, 0x1000, 4);
        put(b, p + 16, raw_size, 4);
        put(b, p + 20, raw_ptr, 4);
    }
    // A long section table runs past 0x400; its later entries are only counted.
    b.resize(std::max<size_t>(b.size(), 0x421));
    memset(b.data() + 0x400, 0x90, 0x20);
    b[0x420] = 0xC3;
    return b;
}

BinImage from(const Bytes& b, const std::string& name = "mem")
{
    BinImage img;
    img.load_bytes(b, name);
    return img;
}

const BinImage::Section* section(const BinImage& img, const std::string& name)
{
    for (const auto& s : img.m_sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

const char* kProgram = R"(bits 64
global _start
global helper:function
section .text
_start:
    call helper
    mov eax, 60
    xor edi, edi
    syscall
helper:
    ret
section .data
msg: db "hello", 10
section .bss
buf: resb 16
)";

TEST(Load, SystemExecutableAgreesWithReadelf)
{
    BinImage img;
    std::string err;
    ASSERT_TRUE(img.load("/bin/true", &err)) << err;
    EXPECT_EQ(img.m_kind, BinImage::Elf64);
    RunResult r = sh("readelf -SW /bin/true | awk '$2 == \".text\" { print $4, $5, $6 }'");
    unsigned long long addr = 0, off = 0, size = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "%llx %llx %llx", &addr, &off, &size), 3) << r.out;
    const BinImage::Section* text = section(img, ".text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->addr, addr);
    EXPECT_EQ(text->offset, off);
    EXPECT_EQ(text->size, size);
    EXPECT_TRUE(text->exec);
    EXPECT_FALSE(text->write);
    RunResult e = sh("readelf -hW /bin/true | awk '/Entry point/ { print $4 }'");
    EXPECT_EQ(img.m_entry, strtoull(e.out.c_str(), nullptr, 16));

    // Stripped, but the dynamic symbols are there, sorted by address.
    EXPECT_FALSE(img.m_symbols.empty());
    for (size_t i = 1; i < img.m_symbols.size(); ++i)
        EXPECT_LE(img.m_symbols[i - 1].addr, img.m_symbols[i].addr);
    const BinImage::Section* bss = section(img, ".bss");
    ASSERT_NE(bss, nullptr);
    EXPECT_FALSE(bss->in_file);
}

TEST(Load, StaticElf64SymbolsAndMapping)
{
    TempDir dir;
    ASSERT_EQ(nasm_build(kProgram, dir.file("prog"), "elf64"), "");
    BinImage img;
    ASSERT_TRUE(img.load(dir.file("prog")));
    uint64_t start = 0, msg = 0, off = 0, back = 0;
    ASSERT_TRUE(img.find_symbol("_start", &start));
    ASSERT_TRUE(img.find_symbol("msg", &msg));
    EXPECT_FALSE(img.find_symbol("nothing", &start));
    EXPECT_EQ(img.m_entry, start);
    for (const auto& s : img.m_symbols) {
        if (s.name == "helper" || s.name == "msg") {
            EXPECT_EQ(s.func, s.name == "helper");
        }
    }
    ASSERT_TRUE(img.addr_to_off(msg, &off));
    EXPECT_EQ(memcmp(img.m_data.data() + off, "hello\n", 6), 0);
    ASSERT_TRUE(img.off_to_addr(off, &back));
    EXPECT_EQ(back, msg);
    // Unallocated sections map nothing.
    const BinImage::Section* symtab = section(img, ".symtab");
    ASSERT_NE(symtab, nullptr);
    EXPECT_FALSE(img.off_to_addr(symtab->offset, &back));
}

TEST(Load, FlatFilesAreRawOrComByNameAndSize)
{
    BinImage img = from({ 0xEB, 0xFE }, "boot.bin");
    EXPECT_EQ(img.m_kind, BinImage::Raw);
    ASSERT_EQ(img.code_ranges().size(), 1u);
    EXPECT_EQ(first_of(img.code_ranges()).size, 2u);
    img.set_raw_view(32, 0x7C00); // a raw view maps from its base
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x7C00u);
    uint64_t off = 9;
    ASSERT_TRUE(img.addr_to_off(0x7C00, &off));
    EXPECT_EQ(off, 0u);
    EXPECT_FALSE(img.addr_to_off(0x7C02, &off));
    EXPECT_FALSE(img.addr_to_off(0x7BFF, &off));
    EXPECT_EQ(first_of(img.code_ranges()).addr, 0x7C00u);

    Bytes code(65280, 0x90);
    EXPECT_EQ(from(code, "/x/PROG.CoM").m_kind, BinImage::Com);
    EXPECT_EQ(from(Bytes(65281, 0x90), "/x/prog.com").m_kind, BinImage::Raw);
    EXPECT_EQ(from(code, "/x/dir.com/prog").m_kind, BinImage::Raw);
    BinImage full = from(code, "a.com");
    uint8_t b = 0;
    EXPECT_TRUE(full.read(0xFFFF, &b, 1));
    EXPECT_FALSE(full.read(0x10000, &b, 1));
    EXPECT_FALSE(full.read(0xFF, &b, 1));
}

TEST(Load, DosMzMapsOffsetsBehindItsHeader)
{
    Bytes b(64 + 24, 0x90);
    memcpy(b.data(), "MZ", 2);
    put(b, 8, 4, 2);       // header paragraphs
    put(b, 0x14, 3, 2);    // IP
    put(b, 0x16, 1, 2);    // CS
    b[64 + 0x13] = 0xB8;
    BinImage img = from(b);
    EXPECT_EQ(img.m_kind, BinImage::Mz);
    EXPECT_EQ(img.m_entry, 0x13u); // CS * 16 + IP
    uint8_t c = 0;
    ASSERT_TRUE(img.read(0x13, &c, 1));
    EXPECT_EQ(c, 0xB8);
    EXPECT_FALSE(img.read(24, &c, 1));
    uint64_t a = 0;
    ASSERT_TRUE(img.off_to_addr(64 + 0x13, &a));
    EXPECT_EQ(a, 0x13u);
    EXPECT_FALSE(img.off_to_addr(10, &a));
    img.set_raw_view(32, 0x5000); // width only; MZ addresses stay offsets
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x13u);

    // A header that claims the whole file leaves nothing to map.
    b.resize(64);
    BinImage empty = from(b);
    EXPECT_EQ(empty.m_kind, BinImage::Mz);
    EXPECT_TRUE(empty.m_sections.empty());
    EXPECT_EQ(empty.m_entry, 0u);
    EXPECT_FALSE(empty.addr_to_off(0, &a));
}

TEST(Load, PeSectionsLimitsAndFallbackToMz)
{
    BinImage img = from(pe(false, 1, 0x21, 0, 0x400));
    EXPECT_EQ(img.m_kind, BinImage::Pe32);
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x401010u);
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].addr, 0x401000u);
    EXPECT_EQ(img.m_sections[0].size, 0x21u);
    uint8_t b = 0;
    ASSERT_TRUE(img.read(0x401020, &b, 1));
    EXPECT_EQ(b, 0xC3);

    img = from(pe(true, 1, 0x21, 0x10, 0x400));
    EXPECT_EQ(img.m_kind, BinImage::Pe64);
    EXPECT_EQ(img.m_sections[0].size, 0x10u); // cut to the virtual size
    EXPECT_FALSE(img.read(0x140001010, &b, 1));

    EXPECT_EQ(from(pe(false, 200, 0x21, 0, 0x400)).m_sections.size(), 96u);

    img = from(pe(false, 1, 0x100, 0, 0x10000)); // raw data outside the file
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].size, 0u);
    uint64_t off = 0;
    EXPECT_FALSE(img.addr_to_off(0x401000, &off));
    // With no executable section the whole file is one code range.
    ASSERT_EQ(img.code_ranges().size(), 1u);
    EXPECT_EQ(first_of(img.code_ranges()).size, img.m_data.size());

    Bytes bad = pe(false, 1, 0x21, 0, 0x400);
    put(bad, 0x98, 0x999, 2); // unknown optional-header magic
    EXPECT_EQ(from(bad).m_kind, BinImage::Mz);
    bad = pe(false, 1, 0x21, 0, 0x400);
    put(bad, 0x3C, 0xFFFFFFF0, 4); // e_lfanew beyond the file
    EXPECT_EQ(from(bad).m_kind, BinImage::Mz);
}

TEST(Load, TruncatedElfKeepsWidthAndEntry)
{
    Bytes b { 0x7F, 'E', 'L', 'F', 1, 1, 1 };
    BinImage short32 = from(b);
    EXPECT_EQ(short32.m_kind, BinImage::Raw);
    EXPECT_EQ(short32.m_bits, 32);
    EXPECT_EQ(short32.m_entry, 0u);
    b[4] = 2;
    put(b, 24, 0x401000, 8);
    BinImage short64 = from(b);
    EXPECT_EQ(short64.m_kind, BinImage::Raw);
    EXPECT_EQ(short64.m_bits, 64);
    EXPECT_EQ(short64.m_entry, 0x401000u);
    BinImage com = from(b, "t.com");
    EXPECT_EQ(com.m_kind, BinImage::Com);
    EXPECT_EQ(com.m_entry, 0x100u);
    // Big-endian data is not ELF for us.
    Bytes be(64, 0);
    memcpy(be.data(), "\x7F" "ELF\x02\x02", 6);
    EXPECT_EQ(from(be).m_kind, BinImage::Raw);
}

TEST(Load, BadSectionTablesFallBackToSegments)
{
    TempDir dir;
    ASSERT_EQ(nasm_build(kProgram, dir.file("prog"), "elf64"), "");
    const Bytes good = to_bytes(read_file(dir.file("prog")));
    const struct {
        size_t off;
        int width;
        uint64_t value;
        const char* what;
    } cases[] = {
        { 60, 2, 0, "e_shnum 0" },
        { 60, 2, 4096, "e_shnum 4096" },
        { 40, 8, good.size() - 10, "table past the end" },
        { 40, 8, ~0ull - 100, "table offset wraps" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        put(b, c.off, c.value, c.width);
        BinImage img = from(b);
        EXPECT_EQ(img.m_kind, BinImage::Elf64);
        EXPECT_TRUE(img.m_symbols.empty());
        ASSERT_FALSE(img.m_sections.empty());
        bool exec = false;
        for (const auto& s : img.m_sections) {
            EXPECT_EQ(s.name.rfind("LOAD", 0), 0u) << s.name;
            exec |= s.exec;
        }
        EXPECT_TRUE(exec);
        uint8_t call = 0;
        EXPECT_TRUE(img.read(img.m_entry, &call, 1));
        EXPECT_EQ(call, 0xE8);
    }
}

TEST(Load, HostileElfHeaders)
{
    Elf64 e;
    uint64_t code = e.append(Bytes(16, 0x90));
    e.shs.push_back({ ".text", 1, 6, 0x401000, code, 16, 0 });
    e.shs.push_back({ ".huge", 1, 2, 0x500000, 0x10, ~0ull - 4, 0 });    // range wraps
    e.shs.push_back({ ".past", 1, 2, 0x600000, 0x10, 0x100000, 0 });     // beyond the file
    e.shs.push_back({ ".over", 1, 6, 0x401008, code, 16, 0 });          // overlaps .text
    e.shs.push_back({ ".nobits", 8, 3, 0x700000, 0x999999, 0x1000, 0 }); // no file bytes
    e.shs.push_back({ std::string(300, 'n'), 1, 0, 0, code, 1, 0 });
    e.shs.push_back({ ".under", 1, 2, 0x400FF8, e.append(Bytes(16, 0xAA)), 16, 0 }); // runs into .text
    Bytes b = e.build();
    BinImage img = from(b);
    ASSERT_EQ(img.m_kind, BinImage::Elf64);
    ASSERT_GE(img.m_sections.size(), 7u);
    EXPECT_EQ(img.m_sections[1].size, 0u);
    EXPECT_EQ(img.m_sections[2].size, 0u);
    EXPECT_EQ(img.m_sections[4].size, 0x1000u);
    EXPECT_FALSE(img.m_sections[4].in_file);
    EXPECT_EQ(img.m_sections[5].name.size(), 256u);
    uint64_t off = 0;
    // The first section in table order wins where two overlap.
    ASSERT_TRUE(img.addr_to_off(0x401009, &off));
    EXPECT_EQ(off, code + 9);
    ASSERT_TRUE(img.addr_to_off(0x401010, &off));
    EXPECT_EQ(off, code + 8);
    EXPECT_FALSE(img.addr_to_off(0x700000, &off));
    EXPECT_FALSE(img.addr_to_off(0x500010, &off));
    Bytes buf(24);
    EXPECT_TRUE(img.read(0x401000, buf.data(), 24));
    // A read through .under switches to .text where .text starts.
    ASSERT_TRUE(img.read(0x400FF8, buf.data(), 16));
    EXPECT_EQ(buf[7], 0xAA);
    EXPECT_EQ(buf[8], 0x90);
    img.set_raw_view(16, 0x100); // only for raw, .COM and MZ images
    EXPECT_EQ(img.m_bits, 64);
    EXPECT_EQ(img.m_entry, 0x401000u);

    // A name table that stops without a terminator at the end of the file.
    size_t names = b.size() - 64 + 24; // the last header's offset field
    put(b, names, b.size() - 3, 8);
    BinImage cut = from(b);
    EXPECT_EQ(cut.m_kind, BinImage::Elf64);
    for (const auto& s : cut.m_sections)
        EXPECT_LE(s.name.size(), 3u);
}

TEST(Load, SymbolTableLimits)
{
    BinImage img = from(elf_with_symbols(300000, 0x12, { { 2, 1 } }));
    EXPECT_EQ(img.m_symbols.size(), 199999u);
    EXPECT_TRUE(img.m_symbols[0].func);
    EXPECT_EQ(img.m_symbols[0].addr, 0x1001u);

    // Thousands of tables over the same entries must not multiply them.
    BinImage many = from(elf_with_symbols(200000, 0x12, std::vector<std::pair<uint32_t, uint32_t>>(4000, { 2, 1 })));
    EXPECT_GE(many.m_symbols.size(), 2u * 199999u);
    EXPECT_LE(many.m_symbols.size(), 400000u);

    // A table whose string link is no header is skipped; the next is read.
    BinImage bad = from(elf_with_symbols(3, 0x11, { { 2, 999 }, { 11, 1 } }));
    EXPECT_EQ(bad.m_symbols.size(), 2u);
    EXPECT_FALSE(bad.m_symbols[0].func);
}

TEST(Symbols, LookupByAddress)
{
    BinImage img;
    img.m_symbols = { { 0x1000, 0x10, "a", true }, { 0x2000, 0, "b", false } };
    EXPECT_EQ(img.symbol_at(0x1000, false), "a");
    EXPECT_EQ(img.symbol_at(0x1008, false), "a+0x8");
    EXPECT_EQ(img.symbol_at(0x1010, false), "");
    EXPECT_EQ(img.symbol_at(0x2FFF, false), "b+0xfff");
    EXPECT_EQ(img.symbol_at(0x3000, false), "");
    EXPECT_EQ(img.symbol_at(0x1008, true), "");
    EXPECT_EQ(img.symbol_at(0xFFF, false), "");
    EXPECT_EQ(img.symbol_at(0x2000, true), "b");
}

TEST(Patch, WriteIsAllOrNothing)
{
    Elf64 e;
    uint64_t code = e.append(Bytes(16, 0x90));
    e.shs.push_back({ ".text", 1, 6, 0x401000, code, 16, 0 });
    BinImage img = from(e.build());
    const uint8_t cc[4] = { 0xCC, 0xCC, 0xCC, 0xCC };
    EXPECT_FALSE(img.write(0x40100E, cc, 4));
    EXPECT_FALSE(img.m_dirty);
    EXPECT_EQ(img.m_data[code + 14], 0x90);
    EXPECT_TRUE(img.write(0x401000, cc, 0));
    EXPECT_FALSE(img.m_dirty);
    EXPECT_TRUE(img.write(0x40100C, cc, 4));
    EXPECT_TRUE(img.m_dirty);
    EXPECT_EQ(img.m_data[code + 15], 0xCC);

    BinImage raw = from(Bytes(8, 0));
    EXPECT_TRUE(raw.write_off(8, cc, 0));
    EXPECT_FALSE(raw.m_dirty);
    EXPECT_FALSE(raw.write_off(6, cc, 4));
    EXPECT_FALSE(raw.write_off(9, cc, 0));
    EXPECT_TRUE(raw.write_off(4, cc, 4));
    EXPECT_TRUE(raw.m_dirty);
    uint8_t out[8] = {};
    EXPECT_TRUE(raw.read(0, out, 8));
    EXPECT_EQ(out[7], 0xCC);
    // A read stops at the first address without a file offset.
    memset(out, 0, sizeof out);
    EXPECT_FALSE(raw.read(6, out, 4));
    EXPECT_EQ(out[1], 0xCC);
}

TEST(LoadFile, FailuresLeaveTheImageAloneAndSizeIsLimited)
{
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(img.load("/bin/true"));
    size_t before = img.m_data.size();
    std::string err;
    EXPECT_FALSE(img.load(dir.file("missing"), &err));
    EXPECT_EQ(err, "open");
    EXPECT_FALSE(img.load(dir.file("missing")));
    EXPECT_EQ(img.m_path, "/bin/true");
    EXPECT_EQ(img.m_data.size(), before);
    EXPECT_EQ(img.m_kind, BinImage::Elf64);

    std::string limit = dir.file("limit.bin"), over = dir.file("over.bin");
    ASSERT_TRUE(write_file(limit, "") && write_file(over, ""));
    ASSERT_EQ(truncate(limit.c_str(), 268435456), 0);
    ASSERT_EQ(truncate(over.c_str(), 268435457), 0);
    EXPECT_FALSE(img.load(over, &err));
    EXPECT_EQ(err, "size");
    EXPECT_EQ(img.m_kind, BinImage::Elf64);
    // A named pipe without a writer has no size and must not block.
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(img.load(dir.file("pipe"), &err));
    EXPECT_EQ(err, "size");
    ASSERT_TRUE(img.load(limit, &err)) << err;
    EXPECT_EQ(img.m_data.size(), 268435456u);

    ASSERT_TRUE(write_file(dir.file("empty"), ""));
    ASSERT_TRUE(img.load(dir.file("empty")));
    EXPECT_EQ(img.m_kind, BinImage::Raw);
    EXPECT_TRUE(img.m_sections.empty());
    EXPECT_TRUE(img.code_ranges().empty());
}

mode_t mode_of(const std::string& path)
{
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(Save, ThroughTemporaryKeepingMode)
{
    TempDir dir;
    std::string src = dir.file("src"), dst = dir.file("dst");
    ASSERT_TRUE(write_file(src, "\x90\x90\xC3"));
    ASSERT_EQ(chmod(src.c_str(), 0750), 0);
    BinImage img;
    ASSERT_TRUE(img.load(src));
    const uint8_t cc = 0xCC;
    ASSERT_TRUE(img.write_off(0, &cc, 1));

    // A new path takes the mode of the file the image came from.
    std::string err;
    ASSERT_TRUE(img.save(dst, &err)) << err;
    EXPECT_EQ(mode_of(dst), 0750u);
    EXPECT_EQ(read_file(dst), "\xCC\x90\xC3");
    EXPECT_FALSE(img.m_dirty);
    EXPECT_EQ(img.m_path, dst);
    EXPECT_FALSE(file_exists(dst + ".tmp"));

    // An existing target keeps its own mode, set-user-ID included.
    ASSERT_EQ(chmod(dst.c_str(), 04755), 0);
    ASSERT_TRUE(img.save(dst));
    EXPECT_EQ(mode_of(dst), 04755u);

    EXPECT_FALSE(img.save(dir.file("no/such/dir"), &err));
    EXPECT_EQ(err, "open");
    std::string sub = dir.file("sub");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ASSERT_TRUE(write_file(sub + "/x", "keep"));
    EXPECT_FALSE(img.save(sub, &err));
    EXPECT_EQ(err, "rename");
    EXPECT_FALSE(file_exists(sub + ".tmp"));
    EXPECT_EQ(img.m_path, dst);
}

} // namespace
