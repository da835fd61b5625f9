// Disassembly to source: the name rules, discovery, emission, the rebuild
// check and the whole conversion, on programs that nasm, ld and gcc build
// at test time.
#include "binimage.h"
#include "reasm.h"
#include "reasm_impl.h"
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testutil;
using reasm::LineMap;

namespace {

// Rebuilds write fixed file names into the work directory, which is shared
// by every process of the user: each run of these tests gets its own.
class PrivateWorkDir : public testing::Environment {
public:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1); }

private:
    TempDir m_dir;
};

[[maybe_unused]] testing::Environment* const g_work_dir = testing::AddGlobalTestEnvironment(new PrivateWorkDir);

bool have_tool(const char* name)
{
    return sh(std::string("command -v ") + name + " >/dev/null").code == 0;
}

#define REQUIRE_TOOLS()                                                                                                \
    do {                                                                                                               \
        if (!have_tool("nasm") || !have_tool("ld"))                                                                    \
            GTEST_SKIP() << "nasm and ld are needed";                                                                  \
    } while (0)

#define REQUIRE_GCC()                                                                                                  \
    do {                                                                                                               \
        REQUIRE_TOOLS();                                                                                               \
        if (!have_tool("gcc"))                                                                                         \
            GTEST_SKIP() << "gcc is needed";                                                                           \
    } while (0)

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
    std::string msg = nasm_build(source, dir.file(name), format);
    EXPECT_EQ(msg, "") << source;
    return load(dir.file(name));
}

BinImage raw_image(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes, int bits,
                   uint64_t base)
{
    write_file(dir.file(name), std::string(bytes.begin(), bytes.end()));
    BinImage img = load(dir.file(name));
    if (bits)
        img.set_raw_view(bits, base);
    return img;
}

std::string gcc(const TempDir& dir, const std::string& name, const std::string& c_source, const std::string& flags)
{
    write_file(dir.file(name + ".c"), c_source);
    auto r = sh("gcc " + flags + " -o " + dir.file(name) + " " + dir.file(name + ".c") + " 2>&1");
    return r.code == 0 ? std::string() : r.out;
}

bool has_line(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        if (l == line)
            return true;
    return false;
}

// The instruction line of an address, without its padding.
std::string line_of(const std::string& text, uint64_t addr)
{
    std::istringstream in(text);
    std::string l;
    std::string tag = "; " + reasm::hex(addr);
    while (std::getline(in, l)) {
        size_t p = l.find(tag);
        if (p != std::string::npos && (p + tag.size() == l.size() || l[p + tag.size()] == ' ')) {
            std::string code = l.substr(0, p);
            while (!code.empty() && code.back() == ' ')
                code.pop_back();
            return code + l.substr(p + tag.size());
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

const char* kHello64 = R"(bits 64
global _start
section .text
helper:
    ret
_start:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, len
    syscall
    call helper
    mov eax, 60
    xor edi, edi
    syscall
section .data
msg: db "Hello, world!", 10
len equ $ - msg
)";

} // namespace

// ---- names -------------------------------------------------------------------

TEST(ReasmNames, UsableNames)
{
    EXPECT_TRUE(reasm::usable_name("main"));
    EXPECT_TRUE(reasm::usable_name("_start"));
    EXPECT_TRUE(reasm::usable_name("?x.y$z#w@v~u"));
    EXPECT_TRUE(reasm::usable_name(std::string(64, 'a')));
    EXPECT_FALSE(reasm::usable_name(std::string(65, 'a')));
    EXPECT_FALSE(reasm::usable_name(""));
    EXPECT_FALSE(reasm::usable_name("1abc"));
    EXPECT_FALSE(reasm::usable_name(".hidden"));
    EXPECT_FALSE(reasm::usable_name("bad-name"));
    EXPECT_FALSE(reasm::usable_name("two words"));
    EXPECT_FALSE(reasm::usable_name("memcpy@GLIBC_2.14x-"));
}

TEST(ReasmNames, ReservedWordsCoverRegistersKeywordsAndEveryMnemonic)
{
    for (const char* w : { "rax", "Rax", "RAX", "section", "wrt", "static", "r8", "r8d", "r15w", "r15b", "xmm15",
                           "xmm31", "zmm0", "mm7", "st0", "cr4", "dr7", "k31", "loop", "Loop", "cmovnae", "movsd",
                           "pshufd", "jrcxz", "repnz" })
        EXPECT_TRUE(reasm::reserved(w)) << w;
    for (const char* w : { "main", "r16", "r7", "xmm32", "k32", "hello", "loops", "rax2", "" })
        EXPECT_FALSE(reasm::reserved(w)) << w;
    for (const auto& row : refdata::kInsns) {
        std::string names = row.names;
        std::istringstream in(names);
        std::string n;
        while (std::getline(in, n, ','))
            EXPECT_TRUE(reasm::reserved(n)) << n;
    }
}

TEST(ReasmNames, EscapingKeepsTheLetters)
{
    EXPECT_EQ(reasm::nasm_name("rax"), "$rax");
    EXPECT_EQ(reasm::nasm_name("Rax"), "$Rax");
    EXPECT_EQ(reasm::nasm_name("Loop"), "$Loop");
    EXPECT_EQ(reasm::nasm_name("xmm15"), "$xmm15");
    EXPECT_EQ(reasm::nasm_name("printf"), "printf");
}

TEST(ReasmNames, FixedListsAndFormatting)
{
    EXPECT_TRUE(reasm::no_return("exit"));
    EXPECT_TRUE(reasm::no_return("__stack_chk_fail"));
    EXPECT_FALSE(reasm::no_return("Exit"));
    EXPECT_FALSE(reasm::no_return("printf"));
    EXPECT_TRUE(reasm::c_runtime_name("_start"));
    EXPECT_TRUE(reasm::c_runtime_name("__x86.get_pc_thunk.bx"));
    EXPECT_TRUE(reasm::c_runtime_name("completed.0"));
    EXPECT_FALSE(reasm::c_runtime_name("main"));
    EXPECT_TRUE(reasm::made_by_linker(".plt.sec"));
    EXPECT_FALSE(reasm::made_by_linker(".text"));
    EXPECT_TRUE(reasm::c_start(".init_array"));
    EXPECT_EQ(reasm::hex(0), "0");
    EXPECT_EQ(reasm::hex(0x401a0f), "401A0F");
    EXPECT_EQ(reasm::pad("ret").size(), 40u);
    std::string long_text(45, 'x');
    EXPECT_EQ(reasm::pad(long_text), long_text + " ");
}

// ---- labels and discovery --------------------------------------------------------

TEST(ReasmLabels, SymbolsBecomeLabelsByTheRules)
{
    REQUIRE_TOOLS();
    TempDir dir;
    std::string src = R"(bits 64
global _start, $loop, $Rax, first, second, data_end, )" + std::string(65, 'n') + R"(
section .text
_start:
$loop:
    mov eax, [rel first]
    mov ebx, [rel )" + std::string(65, 'n') + R"(]
$Rax:
    jmp $Rax
section .data
first:
second:
    dd 1
)" + std::string(65, 'n') + R"(:
    dd 2
data_end:
)";
    write_file(dir.file("p.asm"), src);
    ASSERT_EQ(sh("nasm -f elf64 -o " + dir.file("p.o") + " " + dir.file("p.asm") + " && ld -o " + dir.file("p") + " "
                 + dir.file("p.o") + " 2>&1")
                  .code,
              0);
    BinImage img = load(dir.file("p"));
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    uint64_t start = symbol(img, "_start");
    uint64_t rax = symbol(img, "Rax");
    uint64_t first = symbol(img, "first");
    uint64_t end = symbol(img, "data_end");
    // _start and loop share an address; whichever the symbol order gives
    // first names it, and _start is always among its names.
    auto names = w.m_names[start];
    EXPECT_NE(std::find(names.begin(), names.end(), "_start"), names.end());
    EXPECT_EQ(w.label(rax), "$Rax");
    EXPECT_EQ(w.m_names[first].size(), 1u);
    EXPECT_TRUE(w.label(first) == "first" || w.label(first) == "second");
    EXPECT_EQ(w.label(first + 4), "d_" + reasm::hex(first + 4)) << "the 65-character name is not used";
    // ld puts its own __bss_start and _edata there too; one of them wins.
    std::string end_label = w.label(end);
    EXPECT_TRUE(end_label == "data_end" || end_label == "__bss_start" || end_label == "_edata") << end_label;

    LineMap lines;
    std::string text = w.emit({}, &lines);
    EXPECT_TRUE(has_line(text, end_label + ":")) << "a label just past the section";
    EXPECT_EQ(line_of(text, rax), "    jmp short $Rax");
    EXPECT_EQ(line_of(text, start), "    mov eax, [rel " + w.label(first) + "]");
}

TEST(ReasmLabels, ReferenceIntoAnInstructionKeepsItsNumber)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // mov si, 0x101 points at its own second byte.
    BinImage img = raw_image(dir, "p.com", { 0xBE, 0x01, 0x01, 0xC3 }, 0, 0);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_TRUE(w.m_flat);
    EXPECT_EQ(w.m_org, 0x100u);
    EXPECT_EQ(w.m_code.size(), 2u);
    EXPECT_EQ(w.label(0x101), "");
    LineMap lines;
    std::string text = w.emit({}, &lines);
    EXPECT_EQ(text, "bits 16\norg 0x100\n\n    " + reasm::pad("mov si, 0x101") + "; 100\n    " + reasm::pad("ret")
                  + "; 103\n");
    EXPECT_EQ(lines, (LineMap { { 4, 0x100 }, { 5, 0x103 } }));
}

TEST(ReasmDiscovery, RawImageTakesItsOriginAndOverlapsKeepTheLowerInstruction)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // jz to 0x7C03, the last byte of "mov al, 0xC3"; then ret.
    BinImage img = raw_image(dir, "boot.bin", { 0x74, 0x01, 0xB0, 0xC3, 0xC3 }, 16, 0x7C00);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_EQ(w.m_org, 0x7C00u);
    std::vector<uint64_t> starts;
    for (auto& [a, i] : w.m_code)
        starts.push_back(a);
    EXPECT_EQ(starts, (std::vector<uint64_t> { 0x7C00, 0x7C02, 0x7C04 }));
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_NE(r.source.find("jz 0x7C03"), std::string::npos) << r.source;
}

TEST(ReasmDiscovery, PrefixedJumpsEndRunsAndConditionalOnesDoNot)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // bnd jmp near +2; two bytes of data; bnd jz +0; jmp with an F2 byte
    // NASM would not write; ret.
    BinImage img = raw_image(dir, "p.bin", { 0xF2, 0xE9, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xF2, 0x74, 0x00,
                                             0xF2, 0xEB, 0x00, 0xC3 },
                             64, 0x1000);
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

TEST(ReasmDiscovery, FarJumpOfABootSectorIsFollowed)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "boot.bin", R"(bits 16
org 0x7c00
    jmp 0x0000:entry
entry:
    xor ax, ax
    hlt
)",
                             "bin");
    img.set_raw_view(16, 0x7C00);
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified);
    EXPECT_EQ(line_of(r.source, 0x7C00), "    jmp 0x0000:L_7C05");
    EXPECT_EQ(line_of(r.source, 0x7C05), "    xor ax, ax");
}

TEST(ReasmDynamic, HandWrittenProgramWithLibc)
{
    REQUIRE_TOOLS();
    if (!file_exists("/lib64/ld-linux-x86-64.so.2"))
        GTEST_SKIP() << "no 64-bit dynamic loader";
    TempDir dir;
    std::string src = R"(bits 64
global _start
extern printf, exit
section .text
_start:
    lea rdi, [rel fmt]
    mov esi, 42
    xor eax, eax
    call printf wrt ..plt
    xor edi, edi
    call exit wrt ..plt
    db 0x0F, 0x0B
section .data
fmt: db "%d", 10, 0
)";
    write_file(dir.file("p.asm"), src);
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && ld -o p p.o -lc -dynamic-linker /lib64/ld-linux-x86-64.so.2 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    BinImage img = load(dir.file("p"));
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_FALSE(w.m_compiled);
    EXPECT_EQ(w.m_link.libs, "c");
    EXPECT_EQ(w.m_needed, (std::vector<std::string> { "libc.so.6" }));
    std::set<std::string> plt;
    for (auto& [a, n] : w.m_plt)
        plt.insert(n);
    EXPECT_EQ(plt, (std::set<std::string> { "exit", "printf" }));
    EXPECT_EQ(w.m_used, (std::set<std::string> { "exit", "printf" }));
    // The call to exit ends the run: the two bytes after it stay data.
    uint64_t after_exit = 0;
    for (auto& [a, insn] : w.m_code)
        after_exit = std::max(after_exit, a + insn.len);
    EXPECT_FALSE(w.m_code.count(after_exit));
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.link.libs, "c");
    EXPECT_TRUE(has_line(r.source, "extern printf"));
    EXPECT_NE(r.source.find("    call printf wrt ..plt"), std::string::npos);
    EXPECT_NE(r.source.find("; Libraries: libc.so.6"), std::string::npos);
}

TEST(ReasmDynamic, FactsFromGccOutput)
{
    REQUIRE_GCC();
    TempDir dir;
    const char* c = R"(#include <stdio.h>
#include <stdlib.h>
int pick(int x) {
    switch (x) { case 0: return 11; case 1: return 23; case 2: return 35; case 3: return 47;
                 case 4: return 59; case 5: return 61; default: return -1; }
}
int main(int argc, char **argv) {
    for (int i = 0; i < 6; i++) printf("%d\n", pick(i));
    if (argc > 5) exit(3);
    puts("end");
    return 0;
}
)";
    ASSERT_EQ(gcc(dir, "pie", c, "-O0 -Wl,-rpath,/opt/a:/opt/b"), "");
    BinImage img = load(dir.file("pie"));
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_TRUE(w.m_compiled);
    EXPECT_TRUE(w.m_link.crt);
    EXPECT_FALSE(w.m_readonly);
    EXPECT_EQ(w.m_link.libs, "c");
    EXPECT_EQ(w.m_link.dirs, "/opt/a:/opt/b");
    EXPECT_NE(std::find(w.m_needed.begin(), w.m_needed.end(), "libc.so.6"), w.m_needed.end());
    EXPECT_TRUE(w.m_imports.count("__libc_start_main"));
    std::set<std::string> plt;
    for (auto& [a, n] : w.m_plt)
        plt.insert(n);
    EXPECT_TRUE(plt.count("printf") && plt.count("puts") && plt.count("exit"));
    EXPECT_FALSE(w.m_relative.empty());
    EXPECT_EQ(w.m_main, symbol(img, "main"));
    ASSERT_EQ(w.m_jtab.size(), 1u);
    const auto& targets = w.m_jtab.begin()->second;
    EXPECT_EQ(targets.size(), 6u);
    for (uint64_t t : targets)
        EXPECT_TRUE(w.m_code.count(t)) << reasm::hex(t);
    LineMap lines;
    std::string text = w.emit({}, &lines);
    std::string table = w.label(w.m_jtab.begin()->first);
    EXPECT_TRUE(has_line(text, "    dd " + w.label(targets[0]) + " - " + table)) << text;

    // Stripped, main is found through the start code.
    ASSERT_EQ(sh("strip -o " + dir.file("pie.s") + " " + dir.file("pie")).code, 0);
    BinImage stripped = load(dir.file("pie.s"));
    reasm::Writer ws(stripped);
    ASSERT_TRUE(ws.setup());
    EXPECT_EQ(ws.m_main, w.m_main);
    EXPECT_EQ(ws.label(ws.m_main), "main");
}

TEST(ReasmDynamic, StaticProgramHasNoDynamicFacts)
{
    REQUIRE_GCC();
    TempDir dir;
    if (!gcc(dir, "st", "int main(void) { return 7; }\n", "-static").empty())
        GTEST_SKIP() << "no static C library";
    BinImage img = load(dir.file("st"));
    reasm::Writer w(img);
    w.read_dynamic();
    EXPECT_TRUE(w.m_needed.empty());
    EXPECT_TRUE(w.m_plt.empty());
    EXPECT_TRUE(w.m_gotsym.empty());
    EXPECT_TRUE(w.m_relative.empty());
    EXPECT_EQ(w.m_link.libs, "");
    EXPECT_EQ(w.m_link.dirs, "");
}

TEST(ReasmDynamic, StrippedI386StartCodePushesMain)
{
    REQUIRE_GCC();
    TempDir dir;
    if (!gcc(dir, "m32", "#include <stdio.h>\nint main(void) { puts(\"x\"); return 0; }\n", "-m32 -fno-pie -no-pie")
             .empty())
        GTEST_SKIP() << "no 32-bit C runtime";
    uint64_t main_addr = symbol(load(dir.file("m32")), "main");
    ASSERT_EQ(sh("strip " + dir.file("m32")).code, 0);
    BinImage img = load(dir.file("m32"));
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    EXPECT_EQ(w.m_main, main_addr);
    EXPECT_FALSE(w.m_readonly);
    auto r = reasm::disassemble(img, true);
    EXPECT_EQ(r.why, "rebuilt") << r.source;
    EXPECT_TRUE(r.buildable);
}

// ---- emission ----------------------------------------------------------------------

TEST(ReasmEmit, DataRunsStringsAndZeros)
{
    REQUIRE_TOOLS();
    TempDir dir;
    std::vector<uint8_t> bytes = { 0xC3, 'A' };
    bytes.insert(bytes.end(), 15, 0);
    bytes.push_back(0xFF);
    bytes.insert(bytes.end(), 40, 0);
    std::string quoted = "say \"hi\" now, and more";
    bytes.insert(bytes.end(), quoted.begin(), quoted.end());
    bytes.push_back(0);
    BinImage img = raw_image(dir, "p.com", bytes, 0, 0);
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_TRUE(has_line(r.source, "    db 0x41, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, "
                                   "0x00, 0x00, 0x00"))
        << r.source;
    EXPECT_TRUE(has_line(r.source, "    db 0xFF"));
    EXPECT_TRUE(has_line(r.source, "    times 40 db 0"));
    EXPECT_TRUE(has_line(r.source, "    db \"say \", 0x22, 0x68, 0x69, 0x22, \" now, and more\", 0x00"));
    EXPECT_EQ(r.source.find("times 15"), std::string::npos);

    std::vector<uint8_t> hello = { 0xC3 };
    std::string greeting = "Hello, world!\n";
    hello.insert(hello.end(), greeting.begin(), greeting.end());
    hello.push_back(0);
    auto h = reasm::disassemble(raw_image(dir, "h.com", hello, 0, 0), true);
    EXPECT_TRUE(h.verified);
    EXPECT_TRUE(has_line(h.source, "    db \"Hello, world!\", 0x0A, 0x00")) << h.source;
}

TEST(ReasmEmit, SectionLinesAndJumpKeywords)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "p", R"(bits 64
global _start
section .text
_start:
    jmp short a
a:  jmp near b
b:  mov ecx, 2
c:  loop c
    mov rax, 0x1122334455667788
    mov eax, 60
    syscall
section .data
    db 1, 2, 3
section .mydata progbits alloc noexec write align=64
    dq 7
)",
                             "elf64");
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 0);
    uint64_t s = img.m_entry;
    EXPECT_EQ(line_of(r.source, s), "    jmp short a");
    EXPECT_EQ(line_of(r.source, s + 2), "    jmp near b");
    EXPECT_EQ(line_of(r.source, s + 12), "    loop c");
    EXPECT_EQ(line_of(r.source, s + 14), "    mov rax, qword 0x1122334455667788");
    const BinImage::Section* mydata = nullptr;
    for (auto& sec : img.m_sections)
        if (sec.name == ".mydata")
            mydata = &sec;
    ASSERT_TRUE(mydata);
    // The section keeps an alignment that puts it back at its address.
    std::string align = " align=" + std::to_string(mydata->addr & -mydata->addr);
    EXPECT_TRUE(has_line(r.source, "section .mydata progbits alloc noexec write" + align)) << r.source;
}

TEST(ReasmEmit, BytesSetKeepsTheBytesAndShowsTheText)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = raw_image(dir, "p.bin", { 0x48, 0x89, 0xC8, 0xC3 }, 64, 0x1000);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    LineMap lines;
    std::string text = w.emit({ 0x1000 }, &lines);
    EXPECT_TRUE(has_line(text, "    " + reasm::pad("db 0x48, 0x89, 0xC8") + "; 1000  mov rax, rcx")) << text;
    EXPECT_EQ(lines, (LineMap { { 4, 0x1000 }, { 5, 0x1003 } }));
}

// ---- the rebuild check ------------------------------------------------------------------

TEST(ReasmCheck, LongerFlatFileIsNotTheSame)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = raw_image(dir, "p.com", { 0x90, 0xC3 }, 0, 0);
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    LineMap lines;
    std::string text = w.emit({}, &lines);
    std::set<uint64_t> differing;
    bool same = false;
    std::string why;
    ASSERT_TRUE(reasm::check(w, img, text, lines, &differing, &same, &why));
    EXPECT_TRUE(same);
    ASSERT_TRUE(reasm::check(w, img, text + "    db 0\n", lines, &differing, &same, &why));
    EXPECT_FALSE(same);
    EXPECT_TRUE(differing.empty());
    EXPECT_EQ(why, "differs");
}

TEST(ReasmCheck, ElfWithAnotherEntryIsNotTheSame)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "p", kHello64, "elf64");
    reasm::Writer w(img);
    ASSERT_TRUE(w.setup());
    LineMap lines;
    std::string text = w.emit({}, &lines);
    // Without the global the linker starts at the beginning of .text,
    // where the helper is.
    size_t g = text.find("global _start\n");
    ASSERT_NE(g, std::string::npos);
    text.replace(g, 14, "; no global   \n");
    std::set<uint64_t> differing;
    bool same = true;
    std::string why;
    ASSERT_TRUE(reasm::check(w, img, text, lines, &differing, &same, &why));
    EXPECT_FALSE(same);
    EXPECT_TRUE(differing.empty());
    EXPECT_EQ(why, "differs");
}

TEST(ReasmCheck, GotKeywordIsTheOneThisNasmAccepts)
{
    REQUIRE_TOOLS();
    TempDir dir;
    write_file(dir.file("g.asm"), "bits 64\nextern x\nsection .text\n    mov rax, [rel x wrt ..gotpcrel]\n");
    bool accepts_gotpcrel = run({ "nasm", "-f", "elf64", "-o", dir.file("g.o"), dir.file("g.asm") }).code == 0;
    EXPECT_EQ(reasm::got_wrt(), accepts_gotpcrel ? "..gotpcrel" : "..got");
    EXPECT_EQ(reasm::got_wrt(), reasm::got_wrt());
}

// ---- whole conversions ---------------------------------------------------------------------

TEST(ReasmDisassemble, HandWrittenElfVerifiesAtOnce)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "hello", kHello64, "elf64");
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified);
    EXPECT_TRUE(r.buildable);
    EXPECT_EQ(r.why, "");
    EXPECT_EQ(r.as_bytes, 0);
    std::string head = "; Disassembled from hello (ELF64, 64 bit)\n"
                       "; Checked: NASM builds this source back into exactly the same bytes.\n\nbits 64\n";
    EXPECT_EQ(r.source.substr(0, head.size()), head);
    EXPECT_TRUE(has_line(r.source, "helper:"));
    EXPECT_EQ(line_of(r.source, img.m_entry + 24), "    call helper");
    EXPECT_TRUE(has_line(r.source, "global _start"));

    BinImage img32 = build_asm(dir, "hello32", R"(bits 32
global _start
section .text
_start:
    mov eax, 4
    mov ebx, 1
    mov ecx, msg
    mov edx, 6
    int 0x80
    mov eax, 1
    int 0x80
section .data
msg: db "hello", 10
)",
                               "elf32");
    auto r32 = reasm::disassemble(img32, true);
    EXPECT_TRUE(r32.verified) << r32.source;
    EXPECT_TRUE(has_line(r32.source, "    " + reasm::pad("mov ecx, msg") + "; " + reasm::hex(img32.m_entry + 10)));
}

TEST(ReasmDisassemble, OtherEncodingsSwitchToBytesAndForwardBranchesStay)
{
    REQUIRE_TOOLS();
    TempDir dir;
    BinImage img = build_asm(dir, "p", R"(bits 64
global _start
section .text
_start:
    jz short over
    db 0x81, 0xC0, 1, 0, 0, 0        ; add eax, 1 with a 32-bit immediate
over:
    db 0x8B, 0xC1                    ; mov eax, ecx in its other form
    jz near done
    db 0x81, 0xC1, 2, 0, 0, 0        ; add ecx, 2 likewise
done:
    mov eax, 60
    syscall
)",
                             "elf64");
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 3);
    uint64_t s = img.m_entry;
    EXPECT_EQ(line_of(r.source, s), "    jz short over");
    EXPECT_EQ(line_of(r.source, s + 2), "    db 0x81, 0xC0, 0x01, 0x00, 0x00, 0x00  add eax, 0x1");
    EXPECT_EQ(line_of(r.source, s + 8), "    db 0x8B, 0xC1  mov eax, ecx");
    EXPECT_EQ(line_of(r.source, s + 10), "    jz near done");
    EXPECT_NE(r.source.find("; 3 instructions stay as bytes (db)"), std::string::npos);
}

TEST(ReasmDisassemble, FormNasmRejectsGoesToBytes)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // prefetchw byte [rax]: NASM refuses the size word Zydis prints.
    BinImage img = raw_image(dir, "p.bin", { 0x0F, 0x0D, 0x08, 0xC3 }, 64, 0x1000);
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 1);
    EXPECT_EQ(line_of(r.source, 0x1000), "    db 0x0F, 0x0D, 0x08  prefetchw byte [rax]");
}

TEST(ReasmDisassemble, RefusedKindsGiveAReadingListing)
{
    TempDir dir;
    std::vector<uint8_t> mz(64, 0);
    mz[0] = 'M';
    mz[1] = 'Z';
    mz[8] = 4; // header of four paragraphs
    for (uint8_t b : { 0xB4, 0x4C, 0xCD, 0x21 })
        mz.push_back(b);
    BinImage img = raw_image(dir, "prog.exe", mz, 0, 0);
    ASSERT_EQ(img.m_kind, BinImage::Mz);
    auto r = reasm::disassemble(img, true);
    EXPECT_EQ(r.why, "format");
    EXPECT_FALSE(r.buildable);
    EXPECT_FALSE(r.verified);
    EXPECT_EQ(r.source, "; Disassembled from prog.exe (DOS MZ, 16 bit)\n"
                        "; This file format cannot be built here; the source is for reading.\n"
                        "bits 16\n\n; code\n    "
                            + reasm::pad("mov ah, 0x4C") + "; 0\n    " + reasm::pad("int 0x21") + "; 2\n");
}

TEST(ReasmDisassemble, MissingNasmIsReportedInTheSummary)
{
    REQUIRE_TOOLS();
    TempDir dir;
    ASSERT_EQ(nasm_build(kHello64, dir.file("hello"), "elf64"), "");
    auto r = run_exe({ "--disasm-source", dir.file("hello") }, { "PATH=/nonexistent" });
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find("; Not checked: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n; == NOT VERIFIED, 0 as db, why: missing:"), std::string::npos) << r.out;
}

TEST(ReasmDisassemble, CompiledProgramsAreRebuiltAndBehaveTheSame)
{
    REQUIRE_GCC();
    TempDir dir;
    const char* c = R"(#include <stdio.h>
#include <string.h>
static const char *names[] = { "zero", "one", "two", "three", "four", "five" };
int table[8] = { 3, 1, 4, 1, 5, 9 };
char buf[64];
static int pick(int x) {
    switch (x) { case 0: return 10; case 1: return 22; case 2: return 37; case 3: return 41;
                 case 4: return 59; case 5: return 61; default: return -1; }
}
int main(void) {
    int s = 0;
    for (int i = 0; i < 6; i++) { s += pick(i) * table[i]; printf("%s %d\n", names[i], pick(i)); }
    strcpy(buf, "sum");
    printf("%s %d %zu\n", buf, s, strlen(buf));
    return 0;
}
)";
    for (const char* flags : { "-O0", "-no-pie", "-O2", "-O2 -no-pie -s" }) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(gcc(dir, "c", c, flags), "");
        std::string expected = run({ dir.file("c") }).out;
        BinImage img = load(dir.file("c"));
        auto r = reasm::disassemble(img, true);
        EXPECT_EQ(r.why, "rebuilt") << r.source;
        EXPECT_TRUE(r.link.crt);
        EXPECT_NE(r.source.find("; Built again with the C runtime (cc)"), std::string::npos);
        // The same source, built by hand, behaves like the original.
        write_file(dir.file("r.asm"), r.source);
        auto b = sh("cd " + dir.path() + " && nasm -f elf64 r.asm -o r.o && gcc -no-pie -o r r.o 2>&1");
        ASSERT_EQ(b.code, 0) << b.out;
        EXPECT_EQ(run({ dir.file("r") }).out, expected);
    }

    // A static program takes its C library from the system again; only
    // the code reached from main is written.
    if (gcc(dir, "st", c, "-O2 -static").empty()) {
        std::string expected = run({ dir.file("st") }).out;
        auto r = reasm::disassemble(load(dir.file("st")), true);
        EXPECT_EQ(r.why, "rebuilt") << r.source.substr(0, 2000);
        EXPECT_TRUE(has_line(r.source, "extern strlen") || has_line(r.source, "extern printf")
                    || has_line(r.source, "extern _IO_printf"));
        write_file(dir.file("r.asm"), r.source);
        auto b = sh("cd " + dir.path() + " && nasm -f elf64 r.asm -o r.o && gcc -no-pie -o r r.o 2>&1");
        ASSERT_EQ(b.code, 0) << b.out;
        EXPECT_EQ(run({ dir.file("r") }).out, expected);
    }

    if (gcc(dir, "pic32", c, "-m32").empty()) {
        auto r = reasm::disassemble(load(dir.file("pic32")), true);
        EXPECT_EQ(r.why, "compiled");
        EXPECT_FALSE(r.buildable);
        EXPECT_NE(r.source.find("; Made by a C compiler as 32-bit position-independent code"), std::string::npos);
    }
    // Linked at a fixed address, but its code still computes addresses
    // from a pc thunk: as good as position-independent.
    if (gcc(dir, "thunk32", c, "-m32 -no-pie").empty()) {
        auto r = reasm::disassemble(load(dir.file("thunk32")), true);
        EXPECT_EQ(r.why, "compiled");
        EXPECT_FALSE(r.buildable);
    }
}

TEST(ReasmDisassemble, ProgramsLaidOutByAnotherScriptGetTheirSectionAddresses)
{
    REQUIRE_TOOLS();
    TempDir dir;
    write_file(dir.file("p.asm"), kHello64);
    auto b = sh("cd " + dir.path() + " && nasm -f elf64 p.asm -o p.o && ld -Ttext=0x500000 -Tdata=0x700123 -o p p.o 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    BinImage img = load(dir.file("p"));
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    EXPECT_EQ(r.as_bytes, 0);
    EXPECT_EQ(r.link.extra, "--section-start=.text=0x500000 --section-start=.data=0x700123");

    BinImage plain = build_asm(dir, "q", kHello64, "elf64");
    EXPECT_EQ(reasm::disassemble(plain, true).link.extra, "") << "a standard layout needs no addresses";
}

TEST(ReasmDisassemble, NamesFromTheFileCannotBreakOutOfTheirLines)
{
    REQUIRE_TOOLS();
    TempDir dir;
    ASSERT_EQ(nasm_build(kHello64, dir.file("hello"), "elf64"), "");
    std::string bytes = read_file(dir.file("hello"));
    size_t data = bytes.rfind(std::string(".data\0", 6));
    ASSERT_NE(data, std::string::npos);
    bytes.replace(data, 5, ".d\na;");
    std::string odd = dir.file("we\nird");
    write_file(odd, bytes);
    BinImage img = load(odd);
    auto r = reasm::disassemble(img, true);
    EXPECT_TRUE(r.verified) << r.source;
    std::string head = "; Disassembled from we?ird (ELF64, 64 bit)\n";
    EXPECT_EQ(r.source.substr(0, head.size()), head);
    EXPECT_TRUE(has_line(r.source, "section .d_a_ progbits alloc noexec write align=4096")) << r.source;
    EXPECT_EQ(r.source.find("\na;"), std::string::npos);
}

TEST(ReasmDisassemble, StaticFreePascalProgramVerifies)
{
    if (!have_tool("fpc") || !have_tool("nasm"))
        GTEST_SKIP() << "Free Pascal is not installed";
    TempDir dir;
    write_file(dir.file("p.pas"), "program p;\nvar i: integer;\nbegin\n  for i := 1 to 3 do writeln('line ', i);\nend.\n");
    auto b = sh("cd " + dir.path() + " && fpc -op p.pas 2>&1");
    ASSERT_EQ(b.code, 0) << b.out;
    auto r = reasm::disassemble(load(dir.file("p")), true);
    EXPECT_TRUE(r.verified) << r.why;
    EXPECT_EQ(r.as_bytes, 0);
}
