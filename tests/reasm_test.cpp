// Disassembly to source: the name rules, discovery, emission, the rebuild
// check and the whole conversion, on programs that nasm, ld and gcc build
// at test time.
#include "binimage.h"
#include "l10n.h"
#include "reasm.h"
#include "reasm_impl.h"
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace testutil;
using reasm::LineMap;
using namespace std::string_literals; // byte strings may hold zeros

namespace {

// Rebuilds write fixed file names into the work directory, which is shared
// by every process of the user: each run of these tests gets its own.
struct PrivateWorkDir {
    TempDir dir;
    PrivateWorkDir() { setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }
} g_work_dir;

bool have_tool(const char* name)
{
    return sh(std::string("command -v ") + name + " >/dev/null").code == 0;
}

#define REQUIRE_TOOLS()                                                                                                \
    if (!have_tool("nasm") || !have_tool("ld"))                                                                        \
        GTEST_SKIP() << "nasm and ld are needed"
#define REQUIRE_GCC()                                                                                                  \
    if (!have_tool("nasm") || !have_tool("ld") || !have_tool("gcc"))                                                   \
        GTEST_SKIP() << "nasm, ld and gcc are needed"

std::string data(const std::string& name)
{
    return read_file(tests_dir() + "/data/reasm/" + name);
}

BinImage load(const std::string& path)
{
    BinImage img;
    std::string err;
    EXPECT_TRUE(img.load(path, &err)) << path << ": " << err;
    return img;
}

// Builds NASM source into a program (or a flat file) in the directory.
BinImage build_asm(const TempDir& dir, const std::string& name, const std::string& source, const std::string& format)
{
    EXPECT_EQ(nasm_build(source, dir.file(name), format), "") << source;
    return load(dir.file(name));
}

BinImage raw_image(const TempDir& dir, const std::string& bytes, int bits, uint64_t base,
                   const std::string& name = "p.bin")
{
    write_file(dir.file(name), bytes);
    BinImage img = load(dir.file(name));
    if (bits)
        img.set_raw_view(bits, base);
    return img;
}

// Compiles prog.c with the flags; false when this system cannot.
bool gcc(const TempDir& dir, const std::string& name, const std::string& flags)
{
    write_file(dir.file("prog.c"), data("prog.c"));
    return sh("gcc " + flags + " -o " + dir.file(name) + " " + dir.file("prog.c") + " 2>&1").code == 0;
}

bool has_line(const std::string& text, const std::string& line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The instruction line of an address, without its padding.
std::string line_of(const std::string& text, uint64_t addr)
{
    std::istringstream in(text);
    std::string tag = "; " + reasm::hex(addr);
    for (std::string l; std::getline(in, l);) {
        size_t p = l.find(tag);
        if (p != std::string::npos && (p + tag.size() == l.size() || l[p + tag.size()] == ' ')) {
            std::string code = l.substr(0, p);
            return code.substr(0, code.find_last_not_of(' ') + 1) + l.substr(p + tag.size());
        }
    }
    return {};
}

uint64_t symbol(const BinImage& img, const std::string& name)
{
    uint64_t a = 0;
    EXPECT_TRUE(img.find_symbol(name, &a)) << name;
    return a;
}

// Builds the source by hand, as a user would, and returns what the program prints.
std::string rebuilt_output(const TempDir& dir, const std::string& source)
{
    write_file(dir.file("r.asm"), source);
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 r.asm -o r.o && gcc -no-pie -o r r.o 2>&1");
    EXPECT_EQ(b.code, 0) << b.out;
    return run({ dir.file("r") }).out;
}

} // namespace

// ---- names -------------------------------------------------------------------

TEST(ReasmNames, RulesAndFixedLists)
{
    const std::pair<std::string, bool> usable[] = { { "main", true }, { "_start", true }, { "?x.y$z#w@v~u", true },
        { std::string(reasm::kMaxNameLength, 'a'), true }, { std::string(reasm::kMaxNameLength + 1, 'a'), false }, { "", false }, { "1abc", false },
        { ".hidden", false }, { "bad-name", false }, { "two words", false }, { "memcpy@GLIBC_2.14x-", false } };
    for (const auto& [name, want] : usable)
        EXPECT_EQ(reasm::usable_name(name), want) << name;

    for (const char* w : { "rax", "Rax", "RAX", "section", "wrt", "static", "r8", "r8d", "r15w", "r15b", "xmm15",
                           "xmm31", "zmm0", "mm7", "st0", "cr4", "dr7", "k31", "loop", "Loop", "cmovnae", "movsd",
                           "pshufd", "jrcxz", "repnz" })
        EXPECT_TRUE(reasm::reserved(w)) << w;
    for (const char* w : { "main", "r16", "r7", "xmm32", "k32", "hello", "loops", "rax2", "" })
        EXPECT_FALSE(reasm::reserved(w)) << w;
    for (const auto& row : refdata::kInsns) {
        std::istringstream in(row.names);
        for (std::string n; std::getline(in, n, ',');)
            EXPECT_TRUE(reasm::reserved(n)) << n;
    }
    // Escaping keeps the letters.
    for (const char* w : { "rax", "Rax", "Loop", "xmm15" })
        EXPECT_EQ(reasm::nasm_name(w), std::string("$") + w);
    EXPECT_EQ(reasm::nasm_name("printf"), "printf");

    EXPECT_TRUE(reasm::no_return("exit") && reasm::no_return("__stack_chk_fail"));
    EXPECT_FALSE(reasm::no_return("Exit") || reasm::no_return("printf"));
    EXPECT_TRUE(reasm::c_runtime_name("_start") && reasm::c_runtime_name("__x86.get_pc_thunk.bx")
                && reasm::c_runtime_name("completed.0"));
    EXPECT_FALSE(reasm::c_runtime_name("main"));
    EXPECT_TRUE(reasm::made_by_linker(".plt.sec") && reasm::c_start(".init_array"));
    EXPECT_FALSE(reasm::made_by_linker(".text"));
    EXPECT_EQ(reasm::hex(0) + " " + reasm::hex(0x401a0f), "0 401A0F");
    EXPECT_EQ(reasm::pad("ret"), "ret" + std::string(37, ' '));
    EXPECT_EQ(reasm::pad(std::string(45, 'x')), std::string(45, 'x') + " ");
}

// ---- labels and discovery --------------------------------------------------------

TEST(ReasmLabels, SymbolsBecomeLabelsByTheRules)
{
    REQUIRE_TOOLS();
    TempDir dir;
    std::string n65(reasm::kMaxNameLength + 1, 'n');
    BinImage img = build_asm(dir, "p", "bits 64\nglobal _start, $loop, $Rax, first, second, data_end, " + n65 + "\n"
                                       "section .text\n_start:\n$loop:\n    mov eax, [rel first]\n"
                                       "    mov ebx, [rel " + n65 + "]\n$Rax:\n    jmp $Rax\nsection .data\n"
                                       "first:\nsecond:\n    dd 1\n" + n65 + ":\n    dd 2\ndata_end:\n",
                             "elf64");
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    uint64_t start = symbol(img, "_start"), rax = symbol(img, "Rax"), first = symbol(img, "first");
    // _start and loop share an address; whichever the symbol order gives
    // first names it, and _start is always among its names.
    auto names = w.m_names[start];
    EXPECT_NE(std::find(names.begin(), names.end(), "_start"), names.end());
    EXPECT_EQ(w.label(rax), "$Rax");
    EXPECT_EQ(w.m_names[first].size(), 1u);
    EXPECT_TRUE(w.label(first) == "first" || w.label(first) == "second");
    EXPECT_EQ(w.label(first + 4), "d_" + reasm::hex(first + 4)) << "the name over the length limit is not used";
    // ld puts its own __bss_start and _edata there too; one of them wins.
    std::string end_label = w.label(symbol(img, "data_end"));
    EXPECT_TRUE(end_label == "data_end" || end_label == "__bss_start" || end_label == "_edata") << end_label;

    LineMap lines;
    std::string text = w.emit_text({}, &lines);
    EXPECT_TRUE(has_line(text, end_label + ":")) << "a label just past the section";
    EXPECT_EQ(line_of(text, rax), "    jmp short $Rax");
    EXPECT_EQ(line_of(text, start), "    mov eax, [rel " + w.label(first) + "]");
}

TEST(ReasmLabels, ReferenceIntoAnInstructionKeepsItsNumber)
{
    TempDir dir;
    // mov si, 0x101 points at its own second byte.
    BinImage img = raw_image(dir, "\xBE\x01\x01\xC3"s, 0, 0, "p.com");
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    LineMap lines;
    EXPECT_EQ(w.emit_text({}, &lines), "bits 16\norg 0x100\n\n    " + reasm::pad("mov si, 0x101") + "; 100\n    "
                                      + reasm::pad("ret") + "; 103\n");
    EXPECT_EQ(lines, (LineMap { { 4, 0x100 }, { 5, 0x103 } }));
}

TEST(ReasmDiscovery, RawImageTakesItsOriginAndOverlapsKeepTheLowerInstruction)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // jz to 0x7C03, the last byte of "mov al, 0xC3"; then ret.
    BinImage img = raw_image(dir, "\x74\x01\xB0\xC3\xC3"s, 16, 0x7C00);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_EQ(w.m_org, 0x7C00u);
    std::vector<uint64_t> starts;
    for (const auto& [a, i] : w.m_code)
        starts.push_back(a);
    EXPECT_EQ(starts, (std::vector<uint64_t> { 0x7C00, 0x7C02, 0x7C04 }));
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_NE(line_of(r.source, 0x7C00).find("jz 0x7C03"), std::string::npos) << r.source;
}

TEST(ReasmDiscovery, PrefixedJumpsEndRunsAndConditionalOnesDoNot)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // bnd jmp near +2; two bytes of data; bnd jz +0; jmp with an F2 byte
    // NASM would not write; ret.
    BinImage img = raw_image(dir, "\xF2\xE9\x02\x00\x00\x00\xFF\xFF\xF2\x74\x00\xF2\xEB\x00\xC3"s, 64, 0x1000);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_FALSE(w.m_code.count(0x1006));
    EXPECT_TRUE(w.m_code.count(0x1008));
    EXPECT_TRUE(w.m_code.count(0x100B)) << "bnd jz falls through";
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 1);
    EXPECT_EQ(line_of(r.source, 0x1000), "    bnd jmp near L_1008");
    EXPECT_EQ(line_of(r.source, 0x1008), "    bnd jz short L_100B");
    EXPECT_EQ(line_of(r.source, 0x100B), "    db 0xF2, 0xEB, 0x00  jmp short L_100E");
    EXPECT_TRUE(has_line(r.source, "    db 0xFF, 0xFF"));
}

// ---- dynamic linking ---------------------------------------------------------------

TEST(ReasmDynamic, FactsFromGccOutput)
{
    REQUIRE_GCC();
    TempDir dir;
    ASSERT_TRUE(gcc(dir, "pie", "-O0 -Wl,-rpath,/opt/a:/opt/b"));
    BinImage img = load(dir.file("pie"));
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_TRUE(w.m_compiled && w.m_link.crt);
    EXPECT_FALSE(w.m_readonly);
    EXPECT_EQ(w.m_link.libs, "c");
    EXPECT_EQ(w.m_link.dirs, "/opt/a:/opt/b");
    EXPECT_TRUE(w.m_imports.count("__libc_start_main"));
    EXPECT_FALSE(w.m_relative.empty());
    EXPECT_EQ(w.m_main, symbol(img, "main"));
    ASSERT_EQ(w.m_jtab.size(), 1u);
    const auto& targets = w.m_jtab.begin()->second;
    EXPECT_EQ(targets.size(), 6u);
    for (uint64_t t : targets)
        EXPECT_TRUE(w.m_code.count(t)) << reasm::hex(t);
    LineMap lines;
    std::string text = w.emit_text({}, &lines);
    EXPECT_TRUE(has_line(text, "    dd " + w.label(targets[0]) + " - " + w.label(w.m_jtab.begin()->first))) << text;
}

// ---- emission and the rebuild check --------------------------------------------------

TEST(ReasmEmit, DataRunsStringsAndZeros)
{
    REQUIRE_TOOLS();
    TempDir dir;
    std::string bytes = "\xC3" "A" + std::string(15, '\0') + "\xFF" + std::string(40, '\0')
        + "say \"hi\" now, and more";
    auto r = reasm::disassemble(raw_image(dir, bytes + '\0', 0, 0, "p.com"), true);
    EXPECT_TRUE(r.verified) << r.source;
    std::string zeros;
    for (int i = 0; i < 15; ++i)
        zeros += ", 0x00";
    EXPECT_TRUE(has_line(r.source, "    db 0x41" + zeros)) << r.source;
    EXPECT_TRUE(has_line(r.source, "    db 0xFF"));
    EXPECT_TRUE(has_line(r.source, "    times 40 db 0"));
    EXPECT_TRUE(has_line(r.source, "    db \"say \", 0x22, 0x68, 0x69, 0x22, \" now, and more\", 0x00"));
    EXPECT_EQ(r.source.find("times 15"), std::string::npos);
}

TEST(ReasmEmit, TextGoesThroughItsFileWhole)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // Enough lines for several blocks of the file writer.
    std::string bytes;
    for (int i = 0; i < 60000; ++i)
        bytes += "\x48\x01\xD8"; // add rax, rbx
    bytes += "\xC3";
    BinImage img = raw_image(dir, bytes, 64, 0x400000);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    LineMap in_memory, on_disk;
    std::string text = w.emit_text({}, &in_memory);
    EXPECT_GT(text.size(), size_t(2) << 20);
    // A link planted at the name is replaced, not written through.
    write_file(dir.file("victim"), "keep");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("out.asm").c_str()), 0);
    ASSERT_TRUE(w.emit({}, &on_disk, dir.file("out.asm")));
    EXPECT_EQ(read_file(dir.file("victim")), "keep");
    EXPECT_EQ(read_file(dir.file("out.asm")), text);
    EXPECT_EQ(on_disk, in_memory);
    EXPECT_FALSE(w.emit({}, &on_disk, dir.file("no/such/folder/out.asm")));

    // Handed out in pieces or kept whole, the source is the same, and the
    // work file does not outlive the conversion.
    std::string pieces;
    int calls = 0;
    auto streamed = reasm::disassemble(img, true, [&](std::string_view t) {
        pieces += t;
        ++calls;
    });
    auto whole = reasm::disassemble(img, true);
    EXPECT_TRUE(whole.verified) << whole.why;
    EXPECT_TRUE(streamed.source.empty());
    EXPECT_GT(calls, 2);
    EXPECT_EQ(pieces, whole.source);
    EXPECT_FALSE(file_exists(tc::temp_dir() + "/reasm.asm"));
}

TEST(ReasmCheck, LongerFileOrAnotherEntryIsNotTheSame)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // A flat file with a byte more; a program whose source lost its global,
    // so that the linker starts at the beginning of .text, at the helper.
    BinImage images[] = { raw_image(dir, "\x90\xC3"s, 0, 0, "p.com"), build_asm(dir, "p", data("hello64.s"), "elf64") };
    for (const BinImage& img : images) {
        reasm::Writer w(img);
        ASSERT_TRUE(w.setup());
        LineMap lines;
        const std::string path = dir.file("check.asm");
        ASSERT_TRUE(w.emit({}, &lines, path));
        std::string text = read_file(path), why;
        std::set<uint64_t> differing;
        bool same = false;
        ASSERT_TRUE(reasm::check(w, img, path, lines, &differing, &same, &why));
        EXPECT_TRUE(same);
        size_t g = text.find("global _start\n");
        if (g == std::string::npos)
            text += "    db 0\n";
        else
            text.replace(g, 14, "; no global   \n");
        write_file(path, text);
        ASSERT_TRUE(reasm::check(w, img, path, lines, &differing, &same, &why));
        EXPECT_FALSE(same);
        EXPECT_TRUE(differing.empty());
        EXPECT_EQ(why, "differs");
    }

    write_file(dir.file("g.asm"), "bits 64\nextern x\nsection .text\n    mov rax, [rel x wrt ..gotpcrel]\n");
    bool accepts_gotpcrel = run({ "nasm", "-f", "elf64", "-o", dir.file("g.o"), dir.file("g.asm") }).code == 0;
    EXPECT_EQ(reasm::got_wrt(), accepts_gotpcrel ? "..gotpcrel" : "..got");
}

// ---- whole conversions ---------------------------------------------------------------------

TEST(ReasmDisassemble, NasmProgramsVerifyWithNothingAsBytes)
{
    REQUIRE_TOOLS();
    TempDir dir;
    const std::string hello = data("hello64.s");
    struct Case {
        std::string source;
        std::string build; // turns p.asm into the program p
        std::string link;  // the libraries and further arguments the conversion must find
        std::vector<std::pair<uint64_t, const char*>> code; // offset from the entry -> instruction line
        std::vector<const char*> lines;                     // beginnings of further lines of the source
    } cases[] = {
        { hello, "nasm -f elf64 p.asm -o p.o && ld -o p p.o", "|", { { 24, "    call helper" } },
          { "helper:", "global _start" } },
        // A program laid out by another script gets its section addresses.
        { hello, "nasm -f elf64 p.asm -o p.o && ld -Ttext=0x500000 -Tdata=0x700123 -o p p.o",
          "|--section-start=.text=0x500000 --section-start=.data=0x700123", {}, {} },
        // Library calls through the PLT; the call to exit ends the run, so the
        // two bytes after it stay data.
        { "bits 64\nglobal _start\nextern printf, exit\nsection .text\n_start:\n    lea rdi, [rel fmt]\n"
          "    mov esi, 42\n    xor eax, eax\n    call printf wrt ..plt\n    xor edi, edi\n    call exit wrt ..plt\n"
          "    db 0x0F, 0x0B\nsection .data\nfmt: db \"%d\", 10, 0\n",
          "nasm -f elf64 p.asm -o p.o && ld -o p p.o -lc -dynamic-linker /lib64/ld-linux-x86-64.so.2", "c|", {},
          { "; Libraries: libc.so.6", "extern exit\nextern printf\n", "    call printf wrt ..plt",
            "    call exit wrt ..plt", "    db 0x0F, 0x0B\n" } },
        { "bits 32\nglobal _start\nsection .text\n_start:\n    mov eax, 4\n    mov ebx, 1\n    mov ecx, msg\n"
          "    mov edx, 6\n    int 0x80\n    mov eax, 1\n    int 0x80\nsection .data\nmsg: db \"hello\", 10\n",
          "nasm -f elf32 p.asm -o p.o && ld -m elf_i386 -o p p.o", "|", { { 10, "    mov ecx, msg" } }, {} },
        // Jump keywords, a full 64-bit immediate and a section of its own
        // whose alignment puts it back at its address.
        { "bits 64\nglobal _start\nsection .text\n_start:\n    jmp short a\na:  jmp near b\nb:  mov ecx, 2\n"
          "c:  loop c\n    mov rax, 0x1122334455667788\n    mov eax, 60\n    syscall\nsection .data\n    db 1, 2, 3\n"
          "section .mydata progbits alloc noexec write align=64\n    dq 7\n",
          "nasm -f elf64 p.asm -o p.o && ld -o p p.o", "|",
          { { 0, "    jmp short a" }, { 2, "    jmp near b" }, { 12, "    loop c" },
            { 14, "    mov rax, qword 0x1122334455667788" } },
          { "section .mydata progbits alloc noexec write align=" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.build);
        write_file(dir.file("p.asm"), c.source);
        auto b = sh("cd " + dir.path() + " && " + c.build + " 2>&1");
        ASSERT_EQ(b.code, 0) << b.out;
        BinImage img = load(dir.file("p"));
        auto r = reasm::disassemble(img, true);
        EXPECT_TRUE(r.verified && r.buildable) << r.source;
        EXPECT_EQ(r.why, "");
        EXPECT_EQ(r.as_bytes, 0);
        EXPECT_EQ(r.link.libs + "|" + r.link.extra, c.link);
        for (const auto& [offset, line] : c.code)
            EXPECT_EQ(line_of(r.source, img.m_entry + offset), line);
        for (const char* line : c.lines)
            EXPECT_NE(("\n" + r.source).find(std::string("\n") + line), std::string::npos) << line << "\n" << r.source;
    }
}

TEST(ReasmDisassemble, OtherEncodingsSwitchToBytesAndForwardBranchesStay)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "p", "bits 64\nglobal _start\nsection .text\n_start:\n    jz short over\n"
                                       "    db 0x81, 0xC0, 1, 0, 0, 0 ; add eax, 1 with a 32-bit immediate\n"
                                       "over:\n    db 0x8B, 0xC1 ; mov eax, ecx in its other form\n    jz near done\n"
                                       "    db 0x81, 0xC1, 2, 0, 0, 0 ; add ecx, 2 likewise\ndone:\n"
                                       "    mov eax, 60\n    syscall\n",
                             "elf64");
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    // add ecx, 2 with a 32-bit immediate has a spelling; the other two none.
    EXPECT_EQ(r.as_bytes, 2);
    EXPECT_EQ(line_of(r.source, img.m_entry + 10), "    jz near done");
    EXPECT_EQ(line_of(r.source, img.m_entry + 16), "    add ecx, strict dword 0x2");
    EXPECT_NE(r.source.find("; 2 instructions stay as bytes (db)"), std::string::npos);
}

// Encodings NASM picks only when told: each spelling is checked by
// assembling it, and only what has none stays as bytes.
TEST(ReasmDisassemble, SpellingsThatPinTheEncoding)
{
    REQUIRE_TOOLS();
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        { "\x0F\x0D\x08"s, "prefetchw [rax]" }, // NASM refuses the size word Zydis prints
        { "\x8B\x44\x24\x00"s, "mov eax, [byte rsp+0]" },
        { "\x8B\x80\x08\x00\x00\x00"s, "mov eax, [dword rax+0x8]" },
        { "\x81\xC1\x02\x00\x00\x00"s, "add ecx, strict dword 0x2" },
        { "\x66\x81\xEA\x01\x00"s, "sub dx, strict word 0x1" },
        { "\xC1\xE0\x01"s, "shl eax, byte 0x1" },
        { "\x0F\x1F\x44\x00\x00"s, "nop dword [byte rax+rax+0]" },
        { "\x0F\x1F\x80\x00\x00\x00\x00"s, "nop dword [dword rax+0]" },
        { "\x66\x90"s, "o16 nop" },
        { "\xF2\x90"s, "repne nop" },
        { "\x67\x8B\x00"s, "mov eax, [eax]" },
        { "\x3E\x8B\x00"s, "ds mov eax, [rax]" },
        { "\x48\xC7\xC0\x01\x00\x00\x00"s, "mov rax, strict dword 0x1" },
        { "\x67\xAC"s, "a32 lodsb" },
        { "\x48\x90"s, "o64 nop" },
        // A 64-bit immediate for a small value: the size it is printed with
        // gives way to the strict one.
        { "\x48\xB9\xFF\x00\x00\x00\x00\x00\x00\x00"s, "mov rcx, strict qword 0xFF" },
    };
    std::string code;
    for (const auto& [bytes, text] : cases)
        code += bytes;
    auto r = reasm::disassemble(raw_image(dir, code + "\xC3"s, 64, 0x1000), true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 0) << r.source;
    uint64_t at = 0x1000;
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(line_of(r.source, at), "    " + text);
        at += bytes.size();
    }
}

TEST(ReasmDisassemble, MissingNasmIsReportedInTheSummary)
{
    REQUIRE_TOOLS();
    TempDir dir;
    ASSERT_EQ(nasm_build(data("hello64.s"), dir.file("hello"), "elf64"), "");
    auto r = run_exe({ "--disasm-source", dir.file("hello") }, { "PATH=/nonexistent" });
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("; Not checked: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n; == NOT VERIFIED, 0 as db, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", why: missing:"), std::string::npos) << r.out;
}

// A device reads as an empty file and a pipe waits for a writer: both are
// refused, and so is a file that needs more memory than the machine has.
TEST(ReasmDisassemble, OnlyRegularFilesThatFitAreConverted)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : { std::string("/dev/zero"), dir.file("fifo") }) {
        auto r = run_exe({ "--disasm-source", path });
        EXPECT_EQ(r.code, 1) << path;
        EXPECT_NE(r.out.find("Not a regular file: " + path), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("VERIFIED"), std::string::npos) << r.out;
    }
    // Sparse: it takes no room on the disk, only its size is looked at.
    ASSERT_EQ(truncate((write_file(dir.file("huge"), ""), dir.file("huge")).c_str(), off_t(1) << 40), 0);
    auto r = run_exe({ "--disasm-source", dir.file("huge") });
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("is too large for the free memory"), std::string::npos) << r.out;
}

TEST(ReasmDisassemble, CompiledProgramsAreRebuiltAndBehaveTheSame)
{
    REQUIRE_GCC();
    TempDir dir;
    // A stripped program finds main through the start code. A static one
    // takes its C library from the system again; only the code reached from
    // main is written. 32-bit programs cannot run here, and those that
    // compute addresses from a pc thunk, position-independent or not, are
    // not rebuilt.
    const std::pair<const char*, const char*> cases[] = { { "-O0", "rebuilt" }, { "-no-pie", "rebuilt" },
        { "-O2", "rebuilt" }, { "-O0 -s", "rebuilt" }, { "-O2 -no-pie -s", "rebuilt" }, { "-O2 -static", "rebuilt" },
        { "-m32 -fno-pie -no-pie -s", "rebuilt" }, { "-m32", "compiled" }, { "-m32 -no-pie", "compiled" } };
    for (const auto& [flags, why] : cases) {
        SCOPED_TRACE(flags);
        bool optional = strstr(flags, "-m32") || strstr(flags, "-static"); // needs libraries that may be absent
        if (!gcc(dir, "c", flags)) {
            ASSERT_TRUE(optional) << "gcc failed";
            continue;
        }
        BinImage img = load(dir.file("c"));
        auto r = reasm::disassemble(img, true);
        EXPECT_EQ(r.why, why) << r.source.substr(0, 3000);
        EXPECT_EQ(r.buildable, r.why == "rebuilt");
        if (r.buildable) {
            EXPECT_TRUE(r.link.crt);
            EXPECT_NE(r.source.find("; Built again with the C runtime (cc)"), std::string::npos);
        } else {
            EXPECT_NE(r.source.find("; Made by a C compiler as 32-bit position-independent code"), std::string::npos);
        }
        if (r.buildable && !strstr(flags, "-m32")) {
            EXPECT_EQ(rebuilt_output(dir, r.source), run({ dir.file("c") }).out);
        }
        if (strstr(flags, "-static")) {
            EXPECT_TRUE(has_line(r.source, "extern strlen") || has_line(r.source, "extern printf")
                        || has_line(r.source, "extern _IO_printf"));
            reasm::Writer w(img);
            w.read_dynamic();
            EXPECT_TRUE(w.m_needed.empty() && w.m_plt.empty() && w.m_gotsym.empty() && w.m_relative.empty());
            EXPECT_EQ(w.m_link.libs + w.m_link.dirs, "");
        }
    }
}

// A data word that only looks like an address one byte before a function
// would start decoding in the padding and swallow the function's first
// instruction; the call to it would then be left as bytes.
TEST(ReasmDisassemble, AGuessedStartNeverHidesCodeThatIsCalled)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "p",
                             "bits 64\nglobal _start\nsection .text\n_start:\n    call f\n    mov edi, eax\n"
                             "    mov eax, 60\n    syscall\n    ret\n    db 0\nf:\n    lea rsp, [rsp-8]\n    lea rsp, [rsp+8]\n"
                             "    mov eax, 7\n    ret\nsection .data\n    dq f - 1\n",
                             "elf64");
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 0) << r.source;
    uint64_t f = img.m_entry + 5 + 2 + 5 + 2 + 1 + 1;
    EXPECT_EQ(line_of(r.source, f), "    lea rsp, [rsp-0x8]") << r.source;
    EXPECT_EQ(line_of(r.source, img.m_entry).rfind("    call ", 0), 0u) << r.source;
}

// A library function whose address the program also takes is called
// through a ".plt.got" stub (8 bytes, or 16 behind endbr64): the call names
// the function, not the old stub's address.
TEST(ReasmDisassemble, CallsThroughStubsOfFunctionsWhoseAddressIsTaken)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("f.c"), "#include <stdio.h>\n#include <stdlib.h>\nint main(void) {\n"
                                "  void (*volatile keep)(void *) = free;\n  char *a = malloc(8), *b = malloc(8);\n"
                                "  keep(a);\n  free(b);\n  puts(\"freed\");\n  return 0;\n}\n");
    for (const char* flags : { "-O0", "-O0 -fcf-protection=full -Wl,-z,ibtplt" }) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(sh("cd " + dir.path() + " && gcc " + flags + " -o f f.c 2>&1").code, 0);
        BinImage img = load(dir.file("f"));
        const BinImage::Section* stubs = nullptr;
        for (const auto& s : img.m_sections)
            if (s.name == ".plt.got")
                stubs = &s;
        ASSERT_NE(stubs, nullptr);
        reasm::Writer w(img);
        w.read_dynamic();
        auto stub = std::find_if(w.m_plt.begin(), w.m_plt.end(), [](const auto& e) { return e.second == "free"; });
        ASSERT_NE(stub, w.m_plt.end());
        EXPECT_TRUE(stub->first >= stubs->addr && stub->first < stubs->addr + stubs->size) << std::hex << stub->first;
        EXPECT_EQ((stub->first - stubs->addr) % (strstr(flags, "ibt") ? 16 : 8), 0u);

        auto r = reasm::disassemble(img, true);
        EXPECT_EQ(r.why, "rebuilt");
        EXPECT_NE(r.source.find("    call free wrt ..plt"), std::string::npos) << r.source;
        EXPECT_EQ(r.source.find("    call 0x"), std::string::npos) << r.source;
        EXPECT_EQ(rebuilt_output(dir, r.source), "freed\n");
    }
}

// C++ library functions have mangled names far over 64 characters; a
// library found through a run path next to the program is not missing.
TEST(ReasmDisassemble, LongImportedNamesAndRunPathsNextToTheProgram)
{
    REQUIRE_GCC();
    if (!have_tool("g++"))
        GTEST_SKIP() << "g++ is needed";
    TempDir dir;
    write_file(dir.file("s.cpp"), "#include <string>\n#include <cstdio>\nint main(int argc, char **argv) {\n"
                                  "  std::string s(argv[0]);\n  s += \" and more text than fits inline\";\n"
                                  "  std::printf(\"%zu\\n\", s.size());\n  return 0;\n}\n");
    ASSERT_EQ(sh("cd " + dir.path() + " && g++ -O0 -o s s.cpp 2>&1").code, 0);
    auto r = reasm::disassemble(load(dir.file("s")), true);
    EXPECT_EQ(r.why, "rebuilt") << r.source;
    std::istringstream in(r.source);
    size_t longest = 0;
    for (std::string l; std::getline(in, l);) {
        if (l.rfind("extern ", 0) == 0)
            longest = std::max(longest, l.size() - 7);
        EXPECT_EQ(l.find("call 0x"), std::string::npos) << "a call to an old stub address: " << l;
    }
    EXPECT_GT(longest, 64u);

    write_file(dir.file("f.c"), "int f(int x) { return x * 3; }\n");
    write_file(dir.file("m.c"), "#include <stdio.h>\nint f(int);\nint main(void) { printf(\"%d\\n\", f(14)); return 0; }\n");
    auto b = sh("cd " + dir.path() + " && mkdir -p lib && gcc -shared -fPIC -o lib/libthrice.so f.c && "
                "gcc -o m m.c -Llib -lthrice -Wl,-rpath,'$ORIGIN/lib' 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    r = reasm::disassemble(load(dir.file("m")), true);
    EXPECT_EQ(r.why, "rebuilt") << r.source;
    EXPECT_EQ(r.link.dirs, dir.path() + "/lib");
}

// The summary says how much of the code is left as data; code reached only
// through a pointer in the data is found without symbols; the notes on
// bytes tell rejected spellings from other encodings; the C++ exceptions
// note is only for programs with exception tables of their own.
TEST(ReasmDisassemble, SummaryAndNotesSayWhatWasDone)
{
    REQUIRE_TOOLS();
    TempDir dir;
    write_file(dir.file("p.asm"), "bits 64\nglobal _start\nsection .text\n_start:\n    mov rax, [rel handler]\n"
                                  "    call rax\n    mov eax, 60\n    syscall\n    ret\nworker:\n    mov edi, 7\n    ret\n"
                                  "    align 16, db 0\nlonely:\n    mov esi, 5\n    ret\n"
                                  "raw: db 1, 2, 3, 4, 5, 6, 7, 8\nsection .data\nhandler: dq worker\n");
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && ld -s -o p p.o 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    auto cli = run_exe({ "--disasm-source", dir.file("p") });
    EXPECT_EQ(cli.code, 0) << cli.out;
    EXPECT_NE(cli.out.find("\n; == VERIFIED, 0 as db, 17 of 46 code bytes as data (37%)\n"), std::string::npos)
        << cli.out;
    EXPECT_NE(cli.out.find("mov edi, 0x7 "), std::string::npos) << "the function behind the pointer is decoded";
    EXPECT_NE(cli.out.find("mov esi, 0x5 "), std::string::npos) << "the function after the padding is decoded";

    // fstpnce (D9 DB): NASM has no spelling for it at all, so the listing
    // itself gives the bytes with their meaning and nothing is rejected.
    auto r = reasm::disassemble(raw_image(dir, "\xD9\xDB\xC3"s, 64, 0x1000), true);
    EXPECT_EQ(r.rejected, 0);
    EXPECT_NE(r.source.find("db 0xD9, 0xDB ; fstpnce st3"), std::string::npos) << r.source;
    EXPECT_EQ(r.source.find("NASM would encode them differently"), std::string::npos) << r.source;

    if (!have_tool("gcc") || !have_tool("g++"))
        return;
    const std::pair<std::string, bool> programs[] = {
        { "gcc -O2 -static -x c -", false }, { "gcc -O2 -x c -", false }, { "g++ -O2 -x c++ -", true } };
    for (const auto& [cc, note] : programs) {
        SCOPED_TRACE(cc);
        std::string src = note ? "#include <cstdio>\n#include <stdexcept>\nint main(int c, char**) { try { if (c) "
                                 "throw std::runtime_error(\"x\"); } catch (...) { std::puts(\"caught\"); } }\n"
                               : "#include <stdio.h>\nint main(void) { puts(\"plain\"); return 0; }\n";
        write_file(dir.file("e.src"), src);
        if (sh("cd " + dir.path() + " && " + cc + " -o e < e.src 2>&1").code != 0)
            continue; // a static C library may be absent
        auto e = reasm::disassemble(load(dir.file("e")), false);
        EXPECT_EQ(e.source.find("throws C++ exceptions") != std::string::npos, note) << e.source.substr(0, 600);
    }
}

// Two switches whose position-independent jump tables lie next to each
// other: the second switch is reached only through the first one's cases.
TEST(ReasmDisassemble, AdjacentJumpTablesAreSplitAtEachBase)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("t.c"), data("two_switches.c"));
    for (const char* flags : { "-O2 -fno-tree-switch-conversion", "-O1 -fno-tree-switch-conversion" }) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(sh("cd " + dir.path() + " && gcc " + flags + " -o t t.c 2>&1").code, 0);
        BinImage img = load(dir.file("t"));
        auto r = reasm::disassemble(img, true);
        ASSERT_EQ(r.why, "rebuilt") << r.source;
        EXPECT_EQ(r.as_bytes, 0) << r.source;
        write_file(dir.file("r.asm"), r.source);
        auto b = sh("cd " + dir.path() + " && nasm -f elf64 r.asm -o r.o && gcc -o r r.o 2>&1");
        ASSERT_EQ(b.code, 0) << b.out;
        EXPECT_EQ(run({ dir.file("r") }).out, run({ dir.file("t") }).out);
    }
}

// A program linked at a fixed address has no relocations: a number that
// happens to equal an address stays a number, while real pointers (to an
// object, a string) follow their targets into the rebuild.
TEST(ReasmDisassemble, NumbersThatLookLikeAddressesStayNumbers)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("v.c"), "#include <stdio.h>\nunsigned long v = V;\nint arr[4] = { 1, 2, 3, 4 };\n"
                                "int *p = &arr[0];\nconst char *msg = \"hello\";\n"
                                "int main(void) { printf(\"%lx %s %d\\n\", v, msg, p[2]); return 0; }\n");
    auto cc = [&](const std::string& value) {
        return sh("cd " + dir.path() + " && gcc -O0 -no-pie -DV=" + value + " -o v v.c 2>&1").code == 0;
    };
    ASSERT_TRUE(cc("1"));
    uint64_t own = symbol(load(dir.file("v")), "v");
    ASSERT_TRUE(cc("0x" + reasm::hex(own)));
    ASSERT_EQ(symbol(load(dir.file("v")), "v"), own) << "the layout must not change with the value";
    auto r = reasm::disassemble(load(dir.file("v")), true);
    ASSERT_EQ(r.why, "rebuilt") << r.source;
    EXPECT_EQ(rebuilt_output(dir, r.source), run({ dir.file("v") }).out);
}

TEST(ReasmDisassemble, NamesFromTheFileCannotBreakOutOfTheirLines)
{
    REQUIRE_TOOLS();
    TempDir dir;
    ASSERT_EQ(nasm_build(data("hello64.s"), dir.file("hello"), "elf64"), "");
    std::string bytes = read_file(dir.file("hello"));
    size_t at = bytes.rfind(std::string(".data\0", 6));
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 5, ".d\na;");
    write_file(dir.file("we\nird"), bytes);
    auto r = reasm::disassemble(load(dir.file("we\nird")), true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.source.rfind("; Disassembled from we\\x0Aird (ELF64, 64 bit)\n", 0), 0u);
    EXPECT_TRUE(has_line(r.source, "section .d_a_ progbits alloc noexec write align=4096")) << r.source;
    EXPECT_EQ(r.source.find("\na;"), std::string::npos);

    // A right-to-left language's notes reach the file without the isolate
    // marks that keep their values in order on screen.
    L10n::setLanguage("he");
    std::string he = reasm::disassemble(load(dir.file("we\nird")), false).source;
    L10n::setLanguage("en");
    EXPECT_NE(he.find("we\\x0Aird (ELF64, 64 bit)\n"), std::string::npos) << he.substr(0, 200);
    EXPECT_EQ(he.find("\u2068"), std::string::npos);
}

// Without symbols, the unwind tables still name every function a compiler
// made, also those whose address the code only uses as a number.
TEST(ReasmDisassemble, FunctionsFromTheUnwindTablesAreCode)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("p.c"),
               "__attribute__((noinline)) static int twice(int x) { return x * 2 + 1; }\n"
               "__attribute__((noinline)) static int square(int x) { return x * x - 3; }\n"
               "typedef int (*fn)(int);\nvolatile unsigned long key = 0x5a5a5a5a;\nstatic unsigned long hidden[2];\n"
               "void _start(void) {\n  hidden[0] = (unsigned long)twice ^ key; hidden[1] = (unsigned long)square ^ key;\n"
               "  int s = 0;\n  for (int i = 0; i < 2; i++) s += ((fn)(hidden[i] ^ key))(i + 2);\n"
               "  __asm__ volatile(\"syscall\" :: \"a\"(60), \"D\"(s) : \"rcx\", \"r11\", \"memory\");\n}\n");
    auto b = sh("cd " + dir.path() + " && gcc -O1 -nostdlib -static -fno-pie -no-pie -s -o p p.c 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    auto r = reasm::disassemble(load(dir.file("p")), true);
    EXPECT_TRUE(r.verified) << r.why;
    EXPECT_EQ(r.code_as_data, 0u) << r.source;
    EXPECT_NE(r.source.find("    imul edi, edi "), std::string::npos) << r.source;
}

// ---- what the printed source and options rebuild -------------------------------------------------

namespace {

// The options the heading asks for, split as "--build" takes them.
std::vector<std::string> printed_options(const std::string& source)
{
    std::vector<std::string> out;
    const std::string head = "; Build it with these options: ";
    size_t p = source.find(head);
    if (p == std::string::npos)
        return out;
    std::string line = source.substr(p + head.size(), source.find('\n', p) - p - head.size());
    for (size_t i = 0; line.compare(i, 2, "--") == 0;) {
        size_t sp = line.find(' ', i);
        out.push_back(line.substr(i, sp - i));
        if (out.back() == "--crt") {
            i = sp + 1;
            continue;
        }
        size_t end = line.find('"', sp + 2);
        out.push_back(line.substr(sp + 2, end - sp - 2));
        i = end + 2;
    }
    return out;
}

// Builds the printed source with the printed options through "--build",
// as a user would, into dir/r.
std::string rebuild_printed(const TempDir& dir, const std::string& source)
{
    write_file(dir.file("r.asm"), source);
    std::vector<std::string> args { "--build", dir.file("r.asm") };
    for (const auto& o : printed_options(source))
        args.push_back(o);
    auto b = run_exe(args);
    EXPECT_EQ(b.code, 0) << b.out;
    return dir.file("r");
}

// Both programs give the same memory where the original loads sections.
void expect_same_when_loaded(const std::string& original, const std::string& rebuilt)
{
    std::string a = read_file(original), b = read_file(rebuilt);
    std::vector<uint8_t> da(a.begin(), a.end()), db(b.begin(), b.end());
    std::string where;
    EXPECT_TRUE(reasm::same_when_loaded(reasm::read_layout(da), da, reasm::read_layout(db), db, &where)) << where;
}

// The segments as readelf shows them, without file offsets, and the entry.
std::string segments(const std::string& program)
{
    return sh("readelf -lW " + program + " | awk '/^Entry/ || $1 == \"LOAD\" || $1 ~ /^GNU_/ { $2 = \"\"; print }'").out;
}

std::string output_of(const std::string& program)
{
    auto r = run({ program });
    return r.out + "[exit " + std::to_string(r.code) + "]";
}

} // namespace

TEST(ReasmRebuild, PrintedSourceAndOptionsGiveTheSameProgram)
{
    REQUIRE_TOOLS();
    TempDir dir;
    const std::string plain = "bits 64\nglobal _start\nsection .text\n_start:\n    mov eax, [rel val]\n"
                              "    add eax, [rel val2]\n    mov edi, eax\n    mov eax, 60\n    syscall\n"
                              "section .rodata\nval2: dd 3\nsection .data\nval: dd 39\n";
    // A note, thread-local data aligned 32 and 64, and data aligned above 16.
    const std::string sections = "bits 64\nglobal _start\n"
                                 "section .note.tag note alloc noexec nowrite align=4\n"
                                 "    dd 4, 4, 1\n    db \"QXT\", 0\n    dd 7\n"
                                 "section .text\n_start:\n    mov edi, [rel wide]\n    mov eax, 60\n    syscall\n"
                                 "section .tdata progbits alloc noexec write tls align=32\n    dq 5\n"
                                 "section .tbss nobits alloc noexec write tls align=64\n    resb 24\n"
                                 "section .rodata align=64\n    db 1\nalign 64\nwide: dd 9\n"
                                 "section .bss align=32\n    resb 3\nalignb 32\nbuf: resb 64\n";
    const std::string pie = "bits 64\nglobal _start\nextern printf, exit\nsection .text\n_start:\n"
                            "    lea rbx, [rel table]\n    mov rdi, [rbx + 8]\n    mov esi, 0xffff\n    xor eax, eax\n"
                            "    call printf wrt ..plt\n    mov rax, [rel table]\n    call rax\n    xor edi, edi\n"
                            "    call exit wrt ..plt\ndone:\n    ret\nsection .data\ntable: dq done, fmt\n"
                            "section .rodata\nfmt: db \"value %d\", 10, 0\n";
    const std::string copies = "bits 64\nglobal _start\nextern stdout, stderr, fputs, exit\nsection .text\n_start:\n"
                               "    lea rdi, [rel msg]\n    mov rsi, [rel stdout]\n    call fputs\n"
                               "    lea rdi, [rel msg]\n    mov rsi, [rel stderr]\n    call fputs\n"
                               "    xor edi, edi\n    call exit\nsection .data\nmsg: db \"copied\", 10, 0\n";
    struct Case {
        const char* name;
        std::string source;
        std::string link; // turns p.o into p
        const char* option; // what the heading must ask for, or ""
        bool verifies = true;
    } cases[] = {
        { "-Ttext", plain, "ld -Ttext=0x500000 -o p p.o", "--section-start=.text=0x500000" },
        { "-N", plain, "ld -N -o p p.o", "-N" },
        { "-Tdata in the code's page", plain, "ld -Tdata=0x401800 -o p p.o", "--section-start=.data=0x401800" },
        { "notes, TLS, alignment", sections, "ld -o p p.o", "" },
        // The linker drops a build-id note it is given: the note becomes the option.
        { "build-id", plain, "ld --build-id -o p p.o", "--build-id=0x" },
        // Position-independent but no C program: no C runtime, no main.
        { "PIE with the C library", pie,
          "ld -pie -z noexecstack -dynamic-linker /lib64/ld-linux-x86-64.so.2 -o p p.o -lc", "-pie" },
        // Options that shape the segments, not the sections.
        { "code next to the headers", plain, "ld -z noseparate-code -o p p.o", "-z noseparate-code" },
        { "large pages", plain, "ld -z max-page-size=0x200000 -o p p.o", "-z max-page-size=0x200000" },
        { "-n", plain, "ld -n -o p p.o", "-n" },
        { "hash, relro, now", pie,
          "ld --hash-style=sysv -z relro -z now -z noexecstack -dynamic-linker /lib64/ld-linux-x86-64.so.2 -o p p.o -lc",
          "--hash-style=sysv -z now" },
        // The linker copies library objects in first, with its own padding.
        { "copy-relocated imports only", copies,
          "ld -z noexecstack -dynamic-linker /lib64/ld-linux-x86-64.so.2 -o p p.o -lc", "" },
        // Nothing in the file tells this one: the difference is named.
        { "common page size", plain, "ld -z common-page-size=0x2000 -o p p.o", "", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir.file("p.asm"), c.source);
        auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && " + c.link + " 2>&1");
        ASSERT_EQ(b.code, 0) << b.out;
        auto r = reasm::disassemble(load(dir.file("p")), true);
        if (!c.verifies) {
            EXPECT_FALSE(r.verified);
            EXPECT_NE(r.source.find("\n; Not checked: The rebuilt program loads LOAD 0x"), std::string::npos) << r.source;
            continue;
        }
        EXPECT_TRUE(r.verified) << r.why << "\n" << r.source;
        auto printed = printed_options(r.source);
        auto ldflags = std::find(printed.begin(), printed.end(), "--ldflags");
        std::string options = ldflags != printed.end() && ldflags + 1 != printed.end() ? *(ldflags + 1) : "";
        EXPECT_EQ(options, r.link.extra);
        EXPECT_NE(r.link.extra.find(c.option), std::string::npos) << r.link.extra;
        if (!*c.option) {
            EXPECT_EQ(r.link.extra, "");
        }
        std::string rebuilt = rebuild_printed(dir, r.source);
        expect_same_when_loaded(dir.file("p"), rebuilt);
        EXPECT_EQ(output_of(rebuilt), output_of(dir.file("p")));
        EXPECT_EQ(segments(rebuilt), segments(dir.file("p")));
    }
}

TEST(ReasmRebuild, MemoryIsJudgedAsTheLoaderMapsIt)
{
    using reasm::ElfLayout;
    using reasm::ElfSeg;
    // One page of code at 0x401000 from file offset 0x1000 and a page of
    // data with zero-filled memory after it; the file holds both.
    std::vector<uint8_t> file(0x3000, 0);
    for (size_t i = 0; i < 0x40; ++i)
        file[0x1000 + i] = uint8_t(0x90 + i), file[0x2000 + i] = uint8_t(i + 1);
    ElfLayout base;
    base.secs = { { ".text", 1, 0x6, 0x401000, 0x1000, 0x40, 16 }, { ".data", 1, 0x3, 0x402000, 0x2000, 0x40, 8 },
                  { ".bss", reasm::kShtNobits, 0x3, 0x402040, 0x2040, 0x100, 32 } };
    base.segs = { { reasm::kPtLoad, 5, 0x1000, 0x401000, 0x40, 0x40, 0x1000 },
                  { reasm::kPtLoad, 6, 0x2000, 0x402000, 0x40, 0x140, 0x1000 },
                  { reasm::kPtGnuStack, 6, 0, 0, 0, 0, 16 } };
    struct Case {
        const char* name;
        std::function<void(ElfLayout&, std::vector<uint8_t>&)> change;
        bool same;
    } cases[] = {
        { "unchanged", [](ElfLayout&, std::vector<uint8_t>&) {}, true },
        { "bytes after the file part of a page are not memory", [](ElfLayout&, std::vector<uint8_t>& f) { f[0x2050] = 7; }, true },
        { "a later segment maps the code page from elsewhere",
          [](ElfLayout& l, std::vector<uint8_t>&) { l.segs.push_back({ reasm::kPtLoad, 4, 0x2000, 0x401800, 0x10, 0x10, 0x1000 }); },
          false },
        { "code without execute permission", [](ElfLayout& l, std::vector<uint8_t>&) { l.segs[0].flags = 4; }, false },
        { "zero-filled memory that holds file bytes",
          [](ElfLayout& l, std::vector<uint8_t>& f) { l.segs[1].filesz = 0x60; f[0x2048] = 1; }, false },
        { "another thread-local alignment",
          [](ElfLayout& l, std::vector<uint8_t>&) { l.segs.push_back({ reasm::kPtTls, 4, 0x2000, 0x402000, 8, 16, 64 }); },
          false },
        { "an executable stack", [](ElfLayout& l, std::vector<uint8_t>&) { l.segs[2].flags = 7; }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ElfLayout other = base;
        std::vector<uint8_t> other_file = file;
        c.change(other, other_file);
        std::string where;
        EXPECT_EQ(reasm::same_when_loaded(base, file, other, other_file, &where), c.same) << where;
    }
}

TEST(ReasmRebuild, FreePascalProgramsRebuildFromThePrintedOptions)
{
    if (!have_tool("fpc") || !have_tool("nasm"))
        GTEST_SKIP() << "Free Pascal is not installed";
    TempDir dir;
    write_file(dir.file("p.pas"), "program p;\nvar i: integer;\n    s: string;\nbegin\n  s := 'line ';\n"
                                  "  for i := 1 to 3 do writeln(s, i * 7);\nend.\n");
    auto b = sh("cd " + dir.path() + " && fpc -op p.pas 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    auto r = reasm::disassemble(load(dir.file("p")), true);
    EXPECT_TRUE(r.verified) << r.why;
    // Only instructions without any NASM spelling stay as bytes ("66 66
    // 66 0F 1F ..": NASM writes one operand-size prefix; "movapd xmm1,
    // xmm0" in its store form), and nine tenths of the code is found
    // although nothing names it: functions follow each other in the gaps.
    EXPECT_LE(r.as_bytes, 40);
    EXPECT_LE(r.code_as_data * 10, r.code_bytes) << r.code_as_data << " of " << r.code_bytes;
    EXPECT_NE(r.source.find("section .note.ABI-tag note alloc"), std::string::npos);
    std::string rebuilt = rebuild_printed(dir, r.source);
    expect_same_when_loaded(dir.file("p"), rebuilt);
    EXPECT_EQ(output_of(rebuilt), output_of(dir.file("p")));
}

TEST(ReasmRebuild, TruncatedFilesAreNeverVerified)
{
    REQUIRE_TOOLS();
    TempDir dir;
    ASSERT_EQ(nasm_build(data("hello64.s"), dir.file("hello"), "elf64"), "");
    std::string bytes = read_file(dir.file("hello"));
    BinImage whole = load(dir.file("hello"));
    uint64_t data_off = 0;
    for (const auto& s : whole.m_sections)
        if (s.name == ".data")
            data_off = s.offset;
    ASSERT_NE(data_off, 0u);
    // Cut inside .data, and cut only the section headers off the end.
    for (size_t keep : { size_t(data_off + 3), bytes.size() - 20 }) {
        SCOPED_TRACE(keep);
        write_file(dir.file("cut"), bytes.substr(0, keep));
        auto r = reasm::disassemble(load(dir.file("cut")), true);
        EXPECT_FALSE(r.verified);
        EXPECT_EQ(r.why, "truncated");
        EXPECT_NE(r.source.find("; Not checked: The file is cut short: "), std::string::npos) << r.source;
        auto cli = run_exe({ "--disasm-source", dir.file("cut") });
        EXPECT_EQ(cli.code, 2);
        EXPECT_NE(cli.out.find("; == NOT VERIFIED, 0 as db, 0 of 39 code bytes as data (0%), why: truncated\n"),
                  std::string::npos)
            << cli.out;
    }
}

TEST(ReasmRebuild, CompiledProgramsKeepConstructorsAndAlignment)
{
    REQUIRE_GCC();
    TempDir dir;
    const std::string c = "#include <stdio.h>\n#include <stdint.h>\n"
                          "_Alignas(64) static int in[64];\n_Alignas(32) int out[64];\n"
                          "_Alignas(32) const int k[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };\nstatic int ready;\n"
                          "__attribute__((constructor)) static void setup(void) { ready = 42; for (int i = 0; i < 64; i++) in[i] = i; }\n"
                          "__attribute__((destructor)) static void done(void) { printf(\"bye %d\\n\", ready); }\n"
                          "int main(void) {\n  for (int i = 0; i < 64; i++) out[i] = in[i] * k[i % 8] + ready;\n"
                          "  long s = 0; for (int i = 0; i < 64; i++) s += out[i];\n"
                          "  printf(\"%ld %d %d %d\\n\", s, (int)((uintptr_t)in % 64), (int)((uintptr_t)out % 32),"
                          " (int)((uintptr_t)k % 32));\n  return 0;\n}\n";
    const std::string cpp = "#include <cstdio>\nstruct Counter { int v; Counter() : v(42) {} ~Counter() { std::printf(\"end %d\\n\", v); } };\n"
                            "Counter counter;\nint main() { std::printf(\"%d\\n\", counter.v + 1); return 0; }\n";
    const std::string pie_numbers = "#include <stdio.h>\n#include <stdlib.h>\nstatic char big[70000] = { 1 };\n"
                                    "int main(int argc, char **argv) {\n  unsigned x = argc + 4200;\n"
                                    "  unsigned y = (unsigned)atoi(argc > 5 ? argv[1] : \"7\") * 0xffff;\n"
                                    "  big[argc * 100] = 3;\n"
                                    "  printf(\"%u %u %d\\n\", x * 4391, y + 0x1100, big[100] + big[0]);\n  return 0;\n}\n";
    const std::string rtti = "#include <cstdio>\nstruct Shape { virtual ~Shape() {} virtual double area() const = 0; };\n"
                             "struct Square : Shape { double s; Square(double v) : s(v) {} double area() const override { return s * s; } };\n"
                             "struct Circle : Shape { double r; Circle(double v) : r(v) {} double area() const override { return 3 * r * r; } };\n"
                             "int main(int argc, char **) {\n  Shape *shapes[3] = { new Square(2), new Circle(argc), new Square(3) };\n"
                             "  int squares = 0;\n  for (Shape *s : shapes) {\n"
                             "    if (Square *q = dynamic_cast<Square *>(s)) squares += (int)q->s;\n"
                             "    std::printf(\"%.1f\\n\", s->area());\n  }\n"
                             "  std::printf(\"squares %d\\n\", squares);\n  for (Shape *s : shapes) delete s;\n  return 0;\n}\n";
    const std::string fptab = "#include <stdio.h>\n#include <string.h>\n"
                              "static int add(int a, int b) { return a + b; }\nstatic int sub(int a, int b) { return a - b; }\n"
                              "static int mul(int a, int b) { return a * b; }\n"
                              "static int (*const ops[])(int, int) = { add, sub, mul };\n"
                              "struct cmd { const char *name; int (*fn)(int, int); };\n"
                              "static struct cmd cmds[] = { { \"add\", add }, { \"sub\", sub }, { \"mul\", mul } };\n"
                              "int main(int argc, char **argv) {\n  int s = 0;\n"
                              "  for (int i = 0; i < 3; i++) s += ops[(i + argc) % 3](7, i + 2);\n"
                              "  for (int i = 0; i < 3; i++)\n"
                              "    if (strcmp(cmds[i].name, argc > 1 ? argv[1] : \"mul\") == 0) s += cmds[i].fn(5, 6);\n"
                              "  printf(\"%d\\n\", s);\n  return 0;\n}\n";
    // Library functions taken as pointers: in a table and as an operand.
    const std::string lib_ptrs = "#include <math.h>\n#include <stdio.h>\n"
                                 "struct op { const char *name; double (*f)(double); };\n"
                                 "static const struct op ops[] = { { \"sqrt\", sqrt }, { \"sin\", sin }, { \"floor\", floor } };\n"
                                 "int main(void) {\n  int (*volatile say)(const char *) = puts;\n  say(\"table\");\n"
                                 "  for (int i = 0; i < 3; i++) printf(\"%s %.4f\\n\", ops[i].name, ops[i].f(2.5 + i));\n"
                                 "  return 0;\n}\n";
    const std::string cpp_io = "#include <iostream>\n#include <string>\n#include <vector>\nint main() {\n"
                               "  std::vector<std::string> words = { \"alpha\", \"beta\", \"gamma\" };\n"
                               "  std::string joined;\n  for (const auto& w : words) joined += w + \"-\";\n"
                               "  std::cout << joined << ' ' << joined.size() << std::endl;\n  return 0;\n}\n";
    bool avx2 = read_file("/proc/cpuinfo").find(" avx2") != std::string::npos;
    struct Case {
        const char* name;
        std::string file, text, build;
    } cases[] = {
        { "C", "p.c", c, std::string("gcc -O3 ") + (avx2 ? "-mavx2 " : "") + "-o p p.c" },
        { "C, no PIE, stripped", "p.c", c, "gcc -O2 -no-pie -s -o p p.c" },
        { "C++", "p.cpp", cpp, "g++ -O1 -o p p.cpp" },
        { "C with thread-local data", "p.c",
          "#include <stdio.h>\n__thread int counter = 5;\n__thread _Alignas(64) char big[100];\n"
          "int main(void) { counter += 2; big[3] = 'x';\n"
          "  printf(\"%d %c %d\\n\", counter, big[3], (int)((unsigned long)big % 64)); return 0; }\n",
          "gcc -O2 -o p p.c" },
        // Numbers that fall inside a position-independent program's own
        // addresses are no addresses: only a RIP-relative use makes one.
        { "C PIE, constants in its address range", "p.c", pie_numbers, "gcc -O2 -o p p.c" },
        // Type information points 16 bytes into the library's vtable.
        { "C++ dynamic_cast, PIE", "p.cpp", rtti, "g++ -O2 -o p p.cpp" },
        { "C++ dynamic_cast, no PIE", "p.cpp", rtti, "g++ -O0 -no-pie -o p p.cpp" },
        { "C++ dynamic_cast, clang", "p.cpp", rtti, "clang++ -O2 -o p p.cpp" },
        // Code built for a fixed address: the vtable is copied in and the
        // type information points into the copy, with no relocation.
        { "C++ dynamic_cast, fixed-address code", "p.cpp", rtti, "g++ -O2 -fno-pie -no-pie -o p p.cpp" },
        { "C++ dynamic_cast, static", "p.cpp", rtti, "g++ -O2 -static -o p p.cpp" },
        // Without symbols crtbegin's code is written too, with its weak imports.
        { "C, stripped PIE", "p.c", pie_numbers, "gcc -Os -s -o p p.c" },
        // Only main's code is written: the functions its tables point at too.
        { "C static, function-pointer tables", "p.c", fptab, "gcc -O2 -static -o p p.c" },
        { "C static PIE", "p.c", fptab, "gcc -O2 -static-pie -o p p.c" },
        // At a fixed address such a pointer is the function's stub in the
        // program's PLT; in a static program an indirect function's slot.
        { "C, no PIE, pointers to library functions", "p.c", lib_ptrs, "gcc -O0 -fno-pie -no-pie -o p p.c -lm" },
        { "C static, pointers to indirect functions", "p.c", lib_ptrs, "gcc -O2 -static -o p p.c -lm" },
        // The C++ library is linked again: its objects need its start code.
        { "C++ static", "p.cpp", cpp_io, "g++ -O2 -static -o p p.cpp" },
        { "C++ static PIE", "p.cpp", cpp_io, "g++ -O2 -static-pie -o p p.cpp" },
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        write_file(dir.file(k.file), k.text);
        auto b = sh("cd " + dir.path() + " && " + k.build + " 2>&1");
        if (b.code != 0 && (k.file == "p.cpp" || k.build.find("-static") != std::string::npos))
            continue; // no g++, clang++ or static C library
        ASSERT_EQ(b.code, 0) << b.out;
        auto r = reasm::disassemble(load(dir.file("p")), true);
        EXPECT_EQ(r.why, "rebuilt") << r.source.substr(0, 2000);
        EXPECT_EQ(last_of(printed_options(r.source)), "--crt");
        std::string rebuilt = rebuild_printed(dir, r.source);
        EXPECT_EQ(output_of(rebuilt), output_of(dir.file("p")));
    }
}

// What the loader fills in stays an import of the same kind, and the
// printed source links again (32-bit programs only build here).
TEST(ReasmRebuild, ImportsKeepTheirKindAndAddend)
{
    REQUIRE_GCC();
    TempDir dir;
    const std::string reader = "#include <stdio.h>\n#include <string.h>\nint main(void) {\n"
                               "  char line[256]; int n = 0; size_t total = 0;\n"
                               "  while (fgets(line, sizeof line, stdin)) { n++; total += strlen(line); }\n"
                               "  fprintf(stdout, \"%d %zu\\n\", n, total);\n  return 0;\n}\n";
    const std::string shapes = "struct Shape { virtual ~Shape() {} };\nstruct Square : Shape {};\n"
                               "int main(int argc, char **) { Shape *s = argc > 1 ? new Shape : new Square;\n"
                               "  int r = dynamic_cast<Square *>(s) != nullptr; delete s; return r; }\n";
    struct Case {
        const char* name;
        std::string file, text, build, line; // a line the source must hold
    } cases[] = {
        { "32-bit copy relocation", "p.c", reader, "gcc -m32 -O2 -fno-pie -no-pie -o p p.c", "extern stdin" },
        { "weak extern of the start code", "p.c", reader, "gcc -O2 -s -o p p.c",
          "extern _ITM_deregisterTMCloneTable:weak" },
        { "type information 16 bytes into a vtable", "p.cpp", shapes, "g++ -O0 -no-pie -o p p.cpp",
          "    dq _ZTVN10__cxxabiv117__class_type_infoE + 16" },
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        write_file(dir.file(k.file), k.text);
        auto b = sh("cd " + dir.path() + " && " + k.build + " 2>&1");
        if (b.code != 0)
            continue; // no 32-bit C library or no g++
        auto r = reasm::disassemble(load(dir.file("p")), true);
        EXPECT_EQ(r.why, "rebuilt") << r.source.substr(0, 2000);
        EXPECT_TRUE(has_line(r.source, k.line)) << r.source.substr(0, 2000);
        rebuild_printed(dir, r.source);
    }
}

// A failed rebuild names the tool that stopped it and its first error.
TEST(ReasmCheck, FailedBuildNamesItsToolAndFirstError)
{
    REQUIRE_GCC();
    TempDir dir;
    const std::string undefined = "bits 64\nglobal _start\nextern no_such_function\nsection .text\n"
                                  "_start:\n    call no_such_function\n    ret\n";
    tc::LinkOpts crt;
    crt.crt = true;
    struct Case {
        const char* name;
        std::string source;
        tc::LinkOpts link;
        const char *tool, *line;
    } cases[] = {
        { "assembler", "bits 64\nsection .text\n    mov eax, nosuch\n", {}, "nasm", "p.asm:3: error: symbol `nosuch' not defined" },
        { "linker", undefined, {}, "ld", "undefined reference to `no_such_function'" },
        { "linker run by cc", "bits 64\nglobal main\nextern no_such_function\nsection .text\nmain:\n    jmp no_such_function\n", crt, "ld", "undefined reference to `no_such_function'" },
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        write_file(dir.file("p.asm"), k.source);
        tc::BuildResult br = tc::build(dir.file("p.asm"), tc::Format::Elf64, dir.file("p"), k.link);
        ASSERT_FALSE(br.ok);
        std::string line;
        EXPECT_EQ(reasm::failed_tool(br, &line), k.tool) << br.log;
        EXPECT_NE(line.find(k.line), std::string::npos) << line;
        EXPECT_EQ(line.find(dir.path()), std::string::npos) << line;
    }
}

// NASM's errors mark their instructions for bytes, except short jumps that
// are out of range only because another error stopped NASM's passes.
TEST(ReasmCheck, ErrorsMarkTheirInstructions)
{
    const LineMap lines { { 3, 0x1000 }, { 5, 0x1010 } };
    auto diag = [](int line, const char* msg) { return tc::Diag { line, true, "/w/reasm.asm", msg }; };
    struct Case {
        const char* name;
        std::vector<tc::Diag> diags;
        std::set<uint64_t> marked;
    } cases[] = {
        { "undefined symbol and a jump it put out of range",
          { diag(3, "symbol `d_1' not defined"), diag(5, "short jump is out of range") }, { 0x1000 } },
        { "a jump out of range alone", { diag(5, "short jump is out of range") }, { 0x1010 } },
        { "a line without an instruction", { diag(4, "parser: instruction expected") }, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::set<uint64_t> marked;
        reasm::errors_to_instructions(c.diags, "/w/reasm.asm", lines, &marked);
        EXPECT_EQ(marked, c.marked);
    }
}

// ---- hostile files ---------------------------------------------------------------------------------

TEST(ReasmHostile, LibraryNamesAndRunPathsNeverBecomeLinkerOptions)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("p.asm"), "bits 64\nglobal _start\nextern exit\nsection .text\n_start:\n    xor edi, edi\n"
                                  "    call exit wrt ..plt\n");
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && ld -o p p.o -rpath /tmp/aaaaaaa -lc "
                "-dynamic-linker /lib64/ld-linux-x86-64.so.2 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    std::string bytes = read_file(dir.file("p"));
    for (auto [from, to] : { std::pair<std::string, std::string> { "libc.so.6"s, "-o.bashrc"s },
                             { "/tmp/aaaaaaa"s, "/t,-o,.zshrc"s } }) {
        size_t at = bytes.find(from + '\0');
        ASSERT_NE(at, std::string::npos) << from;
        bytes.replace(at, from.size(), to);
    }
    write_file(dir.file("evil"), bytes);
    BinImage img = load(dir.file("evil"));
    reasm::Writer w(img);
    w.read_dynamic();
    EXPECT_EQ(w.m_needed, std::vector<std::string> { "-o.bashrc" });
    EXPECT_EQ(w.m_link.libs, "");
    EXPECT_EQ(w.m_link.dirs, "");
    // The whole conversion, run where the names would write their files.
    auto r = run_exe({ "--disasm-source", "evil" }, {}, dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(file_exists(dir.file(".bashrc")));
    EXPECT_FALSE(file_exists(dir.file(".zshrc")));

    // Thousands of needed libraries are not all handed to the linker.
    write_file(dir.file("many.asm"),
               "bits 64\norg 0\n    db 0x7F, \"ELF\", 2, 1, 1, 0\n    times 8 db 0\n    dw 2, 62\n    dd 1\n"
               "    dq 0, 0, shdrs\n    dd 0\n    dw 64, 56, 0, 64, 4, 1\n"
               "shstr: db 0, \".shstrtab\", 0, \".dynstr\", 0, \".dynamic\", 0\n"
               "dynstr: db 0, \"libx.so\", 0\ndynstr_end:\nalign 8\ndynamic:\n    times 10000 dq 1, 1\n    dq 0, 0\n"
               "dynamic_end:\nshdrs:\n    times 64 db 0\n"
               "    dd 1, 3\n    dq 0, 0, shstr, dynstr - shstr\n    dd 0, 0\n    dq 1, 0\n"
               "    dd 11, 3\n    dq 2, 0x1000, dynstr, dynstr_end - dynstr\n    dd 0, 0\n    dq 1, 0\n"
               "    dd 19, 6\n    dq 3, 0x2000, dynamic, dynamic_end - dynamic\n    dd 2, 0\n    dq 8, 16\n");
    ASSERT_EQ(run({ "nasm", "-f", "bin", "-o", dir.file("many"), dir.file("many.asm") }).code, 0);
    BinImage many = load(dir.file("many"));
    reasm::Writer m(many);
    m.read_dynamic();
    EXPECT_GT(m.m_needed.size(), 100u);
    EXPECT_LE(m.m_needed.size(), 256u);
    EXPECT_EQ(m.m_link.libs, "x");
}

TEST(ReasmHostile, ControlBytesInNamesAreEscaped)
{
    REQUIRE_GCC();
    TempDir dir;
    write_file(dir.file("p.asm"), "bits 64\nglobal _start\nextern exit\nsection .text\n_start:\n    xor edi, edi\n"
                                  "    call exit wrt ..plt\n");
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && ld -o p p.o -lc "
                "-dynamic-linker /lib64/ld-linux-x86-64.so.2 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    std::string bytes = read_file(dir.file("p"));
    size_t at = bytes.find("libc.so.6\0"s);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 8] = '\x9B';
    write_file(dir.file("p\x9B\x1B[2J\xC3\xA9"), bytes);
    auto r = run_exe({ "--disasm-source", dir.file("p\x9B\x1B[2J\xC3\xA9") });
    EXPECT_NE(r.out.find("; Disassembled from p\\x9B\\x1B[2J\xC3\xA9 (ELF64"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; Libraries: libc.so.\\x9B"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x9B'), std::string::npos);
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
}
