// Loading every supported format from real files and from hostile bytes,
// address mapping, patching and saving.
#include "binimage.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

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

uint64_t get(const Bytes& b, size_t off, int width)
{
    uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= uint64_t(b[off + i]) << (8 * i);
    return v;
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
    uint64_t entry = 0x401000;

    uint64_t append(const Bytes& data)
    {
        uint64_t off = body.size();
        body.insert(body.end(), data.begin(), data.end());
        return off;
    }

    Bytes build(uint16_t shnum_override = 0, uint64_t shoff_override = 0) const
    {
        Bytes b = body;
        std::string strtab(1, '\0');
        std::vector<uint32_t> names;
        for (const Sh& s : shs) {
            names.push_back(uint32_t(strtab.size()));
            strtab += s.name + '\0';
        }
        uint64_t str_off = b.size();
        b.insert(b.end(), strtab.begin(), strtab.end());
        uint64_t shoff = b.size();
        b.resize(shoff + (shs.size() + 1) * 64);
        for (size_t i = 0; i < shs.size(); ++i) {
            const Sh& s = shs[i];
            size_t p = shoff + i * 64;
            put(b, p, names[i], 4);
            put(b, p + 4, s.type, 4);
            put(b, p + 8, s.flags, 8);
            put(b, p + 16, s.addr, 8);
            put(b, p + 24, s.offset, 8);
            put(b, p + 32, s.size, 8);
            put(b, p + 40, s.link, 4);
        }
        // The last header is the section-name table.
        size_t last = shoff + shs.size() * 64;
        put(b, last + 4, 3, 4);
        put(b, last + 24, str_off, 8);
        put(b, last + 32, strtab.size(), 8);
        const char magic[] = { 0x7F, 'E', 'L', 'F', 2, 1, 1 };
        memcpy(b.data(), magic, sizeof magic);
        put(b, 24, entry, 8);
        put(b, 40, shoff_override ? shoff_override : shoff, 8);
        put(b, 58, 64, 2);
        put(b, 60, shnum_override ? shnum_override : shs.size() + 1, 2);
        put(b, 62, shs.size(), 2);
        return b;
    }
};

Bytes symtab64(size_t count, uint32_t name_off, uint8_t info)
{
    Bytes t(count * 24, 0);
    for (size_t i = 1; i < count; ++i) {
        put(t, i * 24, name_off, 4);
        t[i * 24 + 4] = info;
        put(t, i * 24 + 8, 0x1000 + i, 8);
        put(t, i * 24 + 16, 1, 8);
    }
    return t;
}

BinImage from(const Bytes& b, const std::string& name = "mem")
{
    BinImage img;
    img.load_bytes(b, name);
    return img;
}

std::string build(TempDir& dir, const std::string& name, const std::string& src, const std::string& format)
{
    std::string path = dir.file(name);
    std::string err = nasm_build(src, path, format);
    EXPECT_EQ(err, "");
    return path;
}

const BinImage::Section* section(const BinImage& img, const std::string& name)
{
    for (const auto& s : img.m_sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

const char* kProgram = R"(
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

TEST(Load, SystemExecutable)
{
    BinImage img;
    std::string err;
    ASSERT_TRUE(img.load("/bin/true", &err)) << err;
    EXPECT_EQ(img.m_kind, BinImage::Elf64);
    EXPECT_STREQ(img.kind_name(), "ELF64");
    EXPECT_EQ(img.m_bits, 64);
    EXPECT_EQ(img.m_base, 0u);
    EXPECT_FALSE(img.m_dirty);
    EXPECT_EQ(img.m_path, "/bin/true");

    // Compare the .text header with what binutils reads.
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

    auto ranges = img.code_ranges();
    ASSERT_FALSE(ranges.empty());
    for (const auto& cr : ranges) {
        const BinImage::Section* s = section(img, cr.name);
        ASSERT_NE(s, nullptr) << cr.name;
        EXPECT_TRUE(s->exec);
    }
}

TEST(Load, StaticElf64WithSymbols)
{
    TempDir dir;
    std::string path = build(dir, "prog", std::string("bits 64\n") + kProgram, "elf64");
    BinImage img;
    ASSERT_TRUE(img.load(path));
    EXPECT_EQ(img.m_kind, BinImage::Elf64);
    uint64_t start = 0, helper = 0, msg = 0;
    ASSERT_TRUE(img.find_symbol("_start", &start));
    ASSERT_TRUE(img.find_symbol("helper", &helper));
    ASSERT_TRUE(img.find_symbol("msg", &msg));
    EXPECT_FALSE(img.find_symbol("nothing", &start));
    EXPECT_EQ(img.m_entry, start);
    EXPECT_EQ(helper, start + 5 + 5 + 2 + 2);
    for (const auto& s : img.m_symbols) {
        if (s.name == "helper" || s.name == "msg") {
            EXPECT_EQ(s.func, s.name == "helper");
        }
    }
    EXPECT_EQ(img.symbol_at(helper, true), "helper");
    EXPECT_EQ(img.symbol_at(start + 5, false), "_start+0x5");
    EXPECT_EQ(img.symbol_at(start + 5, true), "");

    // The call at the entry reads back through the address mapping.
    uint8_t call[5];
    ASSERT_TRUE(img.read(start, call, 5));
    EXPECT_EQ(call[0], 0xE8);
    uint64_t off = 0, back = 0;
    ASSERT_TRUE(img.addr_to_off(msg, &off));
    EXPECT_EQ(memcmp(img.m_data.data() + off, "hello\n", 6), 0);
    ASSERT_TRUE(img.off_to_addr(off, &back));
    EXPECT_EQ(back, msg);

    const BinImage::Section* data = section(img, ".data");
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->write);
    EXPECT_FALSE(data->exec);
    // Unallocated sections have no address and map nothing.
    const BinImage::Section* symtab = section(img, ".symtab");
    ASSERT_NE(symtab, nullptr);
    EXPECT_EQ(symtab->addr, 0u);
    EXPECT_FALSE(img.off_to_addr(symtab->offset, &back));
}

TEST(Load, Elf32)
{
    TempDir dir;
    std::string path = build(dir, "prog32", std::string("bits 32\n") + kProgram, "elf32");
    BinImage img;
    ASSERT_TRUE(img.load(path));
    EXPECT_EQ(img.m_kind, BinImage::Elf32);
    EXPECT_STREQ(img.kind_name(), "ELF32");
    EXPECT_EQ(img.m_bits, 32);
    uint64_t start = 0;
    ASSERT_TRUE(img.find_symbol("_start", &start));
    EXPECT_EQ(img.m_entry, start);
    ASSERT_EQ(img.code_ranges().size(), 1u);
    EXPECT_EQ(img.code_ranges()[0].name, ".text");
    EXPECT_EQ(img.code_ranges()[0].addr, start);
}

TEST(Load, ComAndRawFromFlatBinaries)
{
    TempDir dir;
    std::string com = build(dir, "hello.com", "bits 16\norg 0x100\nmov ah, 9\nint 0x21\nret\n", "bin");
    BinImage img;
    ASSERT_TRUE(img.load(com));
    EXPECT_EQ(img.m_kind, BinImage::Com);
    EXPECT_STREQ(img.kind_name(), "DOS .COM");
    EXPECT_EQ(img.m_bits, 16);
    EXPECT_EQ(img.m_entry, 0x100u);
    EXPECT_EQ(img.m_base, 0x100u);
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].name, ".com");
    uint8_t b = 0;
    ASSERT_TRUE(img.read(0x102, &b, 1));
    EXPECT_EQ(b, 0xCD);
    EXPECT_FALSE(img.read(0xFF, &b, 1));

    std::string raw = build(dir, "boot.bin", "bits 16\norg 0x7c00\njmp $\n", "bin");
    ASSERT_TRUE(img.load(raw));
    EXPECT_EQ(img.m_kind, BinImage::Raw);
    EXPECT_STREQ(img.kind_name(), "RAW");
    EXPECT_EQ(img.m_bits, 64);
    EXPECT_TRUE(img.m_sections.empty());
    auto ranges = img.code_ranges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].name, "");
    EXPECT_EQ(ranges[0].size, 2u);
    img.set_raw_view(32, 0x7C00);
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x7C00u);
    uint64_t off = 9;
    ASSERT_TRUE(img.addr_to_off(0x7C00, &off));
    EXPECT_EQ(off, 0u);
    EXPECT_FALSE(img.addr_to_off(0x7C02, &off));
    EXPECT_FALSE(img.addr_to_off(0x7BFF, &off));
    EXPECT_EQ(img.code_ranges()[0].addr, 0x7C00u);
}

TEST(Load, ComNameAndSizeRules)
{
    Bytes code(65280, 0x90);
    EXPECT_EQ(from(code, "/x/PROG.CoM").m_kind, BinImage::Com);
    BinImage big = from(Bytes(65281, 0x90), "/x/prog.com");
    EXPECT_EQ(big.m_kind, BinImage::Raw);
    EXPECT_EQ(from(code, "/x/dir.com/prog").m_kind, BinImage::Raw);
    BinImage full = from(code, "a.com");
    uint8_t last = 0;
    EXPECT_TRUE(full.read(0xFFFF, &last, 1));
    EXPECT_FALSE(full.read(0x10000, &last, 1));
}

TEST(Load, DosMz)
{
    TempDir dir;
    std::string path = build(dir, "prog.exe", R"(
        db "MZ"
        dw 0, 1, 0, 4          ; last page, pages, relocations, header paragraphs
        times 0x14 - ($ - $$) db 0
        dw 0x0003, 0x0001      ; IP, CS
        times 64 - ($ - $$) db 0
        code: times 19 nop
        mov ax, 0x4c00
        int 0x21
    )", "bin");
    BinImage img;
    ASSERT_TRUE(img.load(path));
    EXPECT_EQ(img.m_kind, BinImage::Mz);
    EXPECT_STREQ(img.kind_name(), "DOS MZ");
    EXPECT_EQ(img.m_bits, 16);
    EXPECT_EQ(img.m_entry, 0x13u); // CS * 16 + IP
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].name, "code");
    EXPECT_EQ(img.m_sections[0].offset, 64u);
    EXPECT_EQ(img.m_sections[0].size, 24u);
    uint8_t b[3];
    ASSERT_TRUE(img.read(0x13, b, 3));
    EXPECT_EQ(b[0], 0xB8);
    uint64_t a = 0;
    ASSERT_TRUE(img.off_to_addr(64 + 0x13, &a));
    EXPECT_EQ(a, 0x13u);
    EXPECT_FALSE(img.off_to_addr(10, &a));
    EXPECT_FALSE(img.read(24, b, 1));
    img.set_raw_view(32, 0x5000); // width only; MZ addresses stay offsets
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x13u);

    // A header that claims the whole file leaves nothing to map.
    Bytes whole(64, 0);
    whole[0] = 'M';
    whole[1] = 'Z';
    put(whole, 8, 4, 2);
    BinImage empty = from(whole);
    EXPECT_EQ(empty.m_kind, BinImage::Mz);
    EXPECT_TRUE(empty.m_sections.empty());
    EXPECT_EQ(empty.m_entry, 0u);
    EXPECT_FALSE(empty.addr_to_off(0, &a));
}

std::string pe_source(bool plus, int nsect, uint32_t raw_size, uint32_t virt_size, uint32_t raw_ptr)
{
    char buf[2048];
    snprintf(buf, sizeof buf, R"(
        db "MZ"
        times 0x3c - ($ - $$) db 0
        dd pe
        times 0x80 - ($ - $$) db 0
    pe: db "PE", 0, 0
        dw %s, %d              ; machine, NumberOfSections
        dd 0, 0, 0
        dw opt_end - opt, 0x102
    opt: dw %s
        times 14 db 0
        dd 0x1010               ; AddressOfEntryPoint
        %s
        times %d - ($ - opt) db 0
    opt_end:
        %%rep %d
        db ".text", 0, 0, 0
        dd %u, 0x1000, %u, %u   ; VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData
        dd 0, 0, 0
        dd 0x60000020           ; code, execute, read
        %%endrep
        align 0x400, db 0
        times 0x20 db 0x90
        ret
    )", plus ? "0x8664" : "0x14c", nsect, plus ? "0x20b" : "0x10b",
        plus ? "dd 0\ndq 0x140000000" : "dd 0, 0\ndd 0x400000", plus ? 240 : 224, nsect, virt_size, raw_size, raw_ptr);
    return buf;
}

TEST(Load, Pe32AndPe32Plus)
{
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(img.load(build(dir, "a.exe", pe_source(false, 1, 0x21, 0, 0x400), "bin")));
    EXPECT_EQ(img.m_kind, BinImage::Pe32);
    EXPECT_STREQ(img.kind_name(), "PE32");
    EXPECT_EQ(img.m_bits, 32);
    EXPECT_EQ(img.m_entry, 0x401010u);
    ASSERT_EQ(img.m_sections.size(), 1u);
    const auto& s = img.m_sections[0];
    EXPECT_EQ(s.name, ".text");
    EXPECT_EQ(s.addr, 0x401000u);
    EXPECT_EQ(s.size, 0x21u);
    EXPECT_TRUE(s.exec);
    EXPECT_FALSE(s.write);
    uint8_t b = 0;
    ASSERT_TRUE(img.read(0x401020, &b, 1));
    EXPECT_EQ(b, 0xC3);

    ASSERT_TRUE(img.load(build(dir, "b.exe", pe_source(true, 1, 0x21, 0x10, 0x400), "bin")));
    EXPECT_EQ(img.m_kind, BinImage::Pe64);
    EXPECT_STREQ(img.kind_name(), "PE32+");
    EXPECT_EQ(img.m_bits, 64);
    EXPECT_EQ(img.m_entry, 0x140001010u);
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].size, 0x10u); // cut to the virtual size
    EXPECT_FALSE(img.read(0x140001010, &b, 1));
}

TEST(Load, PeSectionLimitsAndOutsideData)
{
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(img.load(build(dir, "many.exe", pe_source(false, 200, 0x21, 0, 0x400), "bin")));
    EXPECT_EQ(img.m_sections.size(), 96u);
    ASSERT_TRUE(img.load(build(dir, "out.exe", pe_source(false, 1, 0x100, 0, 0x10000), "bin")));
    ASSERT_EQ(img.m_sections.size(), 1u);
    EXPECT_EQ(img.m_sections[0].size, 0u);
    uint64_t off = 0;
    EXPECT_FALSE(img.addr_to_off(0x401000, &off));
    // With no executable section the whole file is one code range.
    EXPECT_EQ(img.code_ranges().size(), 1u);
    EXPECT_EQ(img.code_ranges()[0].size, img.m_data.size());
}

TEST(Load, BrokenPeFallsBackToMz)
{
    TempDir dir;
    std::string src = pe_source(false, 1, 0x21, 0, 0x400);
    Bytes b = to_bytes(read_file(build(dir, "x.exe", src, "bin")));
    put(b, 0x80 + 24, 0x999, 2); // unknown optional-header magic
    EXPECT_EQ(from(b).m_kind, BinImage::Mz);
    Bytes far = to_bytes(read_file(dir.file("x.exe")));
    put(far, 0x3C, 0xFFFFFFF0, 4); // e_lfanew beyond the file
    EXPECT_EQ(from(far).m_kind, BinImage::Mz);
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
    std::string path = build(dir, "prog", std::string("bits 64\n") + kProgram, "elf64");
    Bytes good = to_bytes(read_file(path));
    auto check = [&](Bytes b, const char* what) {
        BinImage img = from(b);
        EXPECT_EQ(img.m_kind, BinImage::Elf64) << what;
        EXPECT_TRUE(img.m_symbols.empty()) << what;
        ASSERT_FALSE(img.m_sections.empty()) << what;
        bool exec = false;
        for (const auto& s : img.m_sections) {
            EXPECT_EQ(s.name.rfind("LOAD", 0), 0u) << what << ": " << s.name;
            exec |= s.exec;
        }
        EXPECT_TRUE(exec) << what;
        uint8_t c = 0;
        EXPECT_TRUE(img.read(img.m_entry, &c, 1)) << what;
        EXPECT_EQ(c, 0xE8) << what;
    };
    Bytes b = good;
    put(b, 60, 0, 2);
    check(b, "e_shnum 0");
    b = good;
    put(b, 60, 4096, 2);
    check(b, "e_shnum 4096");
    b = good;
    put(b, 40, good.size() - 10, 8);
    check(b, "table past the end");
    b = good;
    put(b, 40, ~0ull - 100, 8);
    check(b, "table offset wraps");
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

    // A name table that stops without a terminator at the end of the file.
    Bytes cut = b;
    uint64_t shoff = get(cut, 40, 8);
    size_t last = shoff + 7 * 64;
    put(cut, last + 24, cut.size() - 3, 8);
    BinImage c = from(cut);
    EXPECT_EQ(c.m_kind, BinImage::Elf64);
    for (const auto& s : c.m_sections)
        EXPECT_LE(s.name.size(), 3u);
}

TEST(Load, SymbolTableLimits)
{
    Elf64 e;
    uint64_t strings = e.append(to_bytes(std::string("\0f\0", 3)));
    uint64_t table = e.append(symtab64(300000, 1, 0x12));
    e.shs.push_back({ ".strtab", 3, 0, 0, strings, 3, 0 });
    e.shs.push_back({ ".symtab", 2, 0, 0, table, 300000 * 24, 1 });
    BinImage img = from(e.build());
    EXPECT_EQ(img.m_symbols.size(), 199999u);
    EXPECT_TRUE(img.m_symbols[0].func);
    EXPECT_EQ(img.m_symbols[0].addr, 0x1001u);

    // Thousands of tables over the same entries must not multiply them.
    Elf64 many;
    strings = many.append(to_bytes(std::string("\0f\0", 3)));
    table = many.append(symtab64(200000, 1, 0x12));
    many.shs.push_back({ ".strtab", 3, 0, 0, strings, 3, 0 });
    for (int i = 0; i < 4000; ++i)
        many.shs.push_back({ ".symtab", 2, 0, 0, table, 200000 * 24, 1 });
    BinImage m = from(many.build());
    EXPECT_GE(m.m_symbols.size(), 2u * 199999u);
    EXPECT_LE(m.m_symbols.size(), 400000u);

    // A table whose string link is no header is skipped; the next is read.
    Elf64 bad;
    strings = bad.append(to_bytes(std::string("\0f\0", 3)));
    table = bad.append(symtab64(3, 1, 0x11));
    bad.shs.push_back({ ".strtab", 3, 0, 0, strings, 3, 0 });
    bad.shs.push_back({ ".symtab", 2, 0, 0, table, 3 * 24, 999 });
    bad.shs.push_back({ ".dynsym", 11, 0, 0, table, 3 * 24, 1 });
    BinImage bi = from(bad.build());
    EXPECT_EQ(bi.m_symbols.size(), 2u);
    EXPECT_FALSE(bi.m_symbols[0].func);
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
    uint8_t out[8];
    EXPECT_TRUE(raw.read(0, out, 8));
    EXPECT_EQ(out[7], 0xCC);
    // A read stops at the first address without a file offset.
    memset(out, 0, sizeof out);
    EXPECT_FALSE(raw.read(6, out, 4));
    EXPECT_EQ(out[1], 0xCC);
}

TEST(LoadFile, FailuresLeaveTheImageAlone)
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

    std::string empty = dir.file("empty");
    ASSERT_TRUE(write_file(empty, ""));
    ASSERT_TRUE(img.load(empty));
    EXPECT_EQ(img.m_kind, BinImage::Raw);
    EXPECT_TRUE(img.code_ranges().empty());
}

TEST(LoadFile, SizeLimit)
{
    TempDir dir;
    std::string limit = dir.file("limit.bin"), over = dir.file("over.bin");
    ASSERT_TRUE(write_file(limit, ""));
    ASSERT_TRUE(write_file(over, ""));
    ASSERT_EQ(truncate(limit.c_str(), 268435456), 0);
    ASSERT_EQ(truncate(over.c_str(), 268435457), 0);
    BinImage img;
    std::string err;
    EXPECT_FALSE(img.load(over, &err));
    EXPECT_EQ(err, "size");
    ASSERT_TRUE(img.load(limit, &err)) << err;
    EXPECT_EQ(img.m_data.size(), 268435456u);
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

TEST(Misc, ClearAndKindNames)
{
    BinImage img = from(Bytes(70, 0), "x.com");
    img.m_dirty = true;
    img.clear();
    EXPECT_TRUE(img.m_path.empty());
    EXPECT_TRUE(img.m_data.empty());
    EXPECT_EQ(img.m_kind, BinImage::Raw);
    EXPECT_EQ(img.m_bits, 64);
    EXPECT_EQ(img.m_base, 0u);
    EXPECT_FALSE(img.m_dirty);
    img.m_kind = static_cast<BinImage::Kind>(42);
    EXPECT_STREQ(img.kind_name(), "RAW");

    Elf64 e;
    BinImage elf = from(e.build());
    ASSERT_EQ(elf.m_kind, BinImage::Elf64);
    elf.set_raw_view(16, 0x100);
    EXPECT_EQ(elf.m_bits, 64);
    EXPECT_EQ(elf.m_entry, 0x401000u);
}

} // namespace
