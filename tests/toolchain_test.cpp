// The toolchain driver against the real nasm, ld and gcc.
#include "toolchain.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace testutil;
using Strings = std::vector<std::string>;

// Cases build link options with designated initializers naming only the fields they need.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// Builds write fixed names into the per-user work directory; test processes
// running side by side each get their own so they cannot collide.
struct PrivateWorkDir {
    TempDir dir;
    PrivateWorkDir() { setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }
} g_work_dir;

// Sets (or with null unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
        , m_had(getenv(name) != nullptr)
        , m_old(m_had ? getenv(name) : "")
    {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name.c_str(), m_old.c_str(), 1) : unsetenv(m_name.c_str()); }

private:
    std::string m_name;
    bool m_had;
    std::string m_old;
};

bool contains(const std::string& hay, const std::string& needle)
{
    return hay.find(needle) != std::string::npos;
}

// Each diagnostic as "line E|W file: message".
Strings described(const std::vector<tc::Diag>& diags)
{
    Strings out;
    for (const auto& d : diags)
        out.push_back(std::to_string(d.line) + (d.error ? " E " : " W ") + d.file + ": " + d.msg);
    return out;
}

std::string script(const TempDir& dir, const std::string& name, const std::string& text)
{
    write_file(dir.file(name), "#!/bin/sh\n" + text);
    chmod(dir.file(name).c_str(), 0755);
    return dir.file(name);
}

} // namespace

TEST(Text, CodePartWordsTrimAndFormats)
{
    EXPECT_EQ(tc::code_part("db 'a;b', \"x\" ; note"), "db      ,     ");
    EXPECT_EQ(tc::code_part("mov al, `;` ;c"), "mov al,     ");
    EXPECT_EQ(tc::code_part("db 'unterminated ; still string"), std::string(31, ' ').replace(0, 2, "db"));
    EXPECT_EQ(tc::words("a,,b   c\td", false), (Strings { "a", "b", "c", "d" }));
    EXPECT_EQ(tc::words("x:y, z", true), (Strings { "x", "y", "z" }));
    EXPECT_EQ(tc::words("x:y, z", false), (Strings { "x:y", "z" }));
    EXPECT_TRUE(tc::words(" , ,", true).empty());
    EXPECT_EQ(tc::trim("\t\v a b \r\n\f"), "a b");
    EXPECT_EQ(tc::trim(" \t "), "");
    // Letters fold in ASCII only: the bytes of UTF-8 text pass unchanged.
    EXPECT_EQ(textutil::lower("MOV \xC3\x84x"), "mov \xC3\x84x");
    EXPECT_EQ(textutil::upper("rax \xC3\xA4"), "RAX \xC3\xA4");

    for (auto f : { tc::Format::Auto, tc::Format::Elf64, tc::Format::Elf32, tc::Format::Bin })
        EXPECT_EQ(tc::format_from_key(tc::format_key(f)), f);
    EXPECT_STREQ(tc::format_key(static_cast<tc::Format>(7)), "auto");
    EXPECT_EQ(tc::format_from_key("ELF64"), tc::Format::Auto);

    const std::pair<const char*, tc::Format> detect[] = {
        { "mov eax, 1\n; org 0x100\n", tc::Format::Elf64 }, { "db 'bits 16'\n", tc::Format::Elf64 },
        { "  [ORG 0x7C00]  \n", tc::Format::Bin }, { "org\t0x100\n", tc::Format::Bin },
        { "bits 32\nnop\nbits 16\n", tc::Format::Bin }, { "bits 32\nbits 64\n", tc::Format::Elf32 },
        { "use32\n", tc::Format::Elf32 }, { "origin: nop\nbitsy: nop\n", tc::Format::Elf64 },
    };
    for (const auto& [text, want] : detect)
        EXPECT_EQ(tc::detect_format(text), want) << text;
}

TEST(Listing, RealListingOfMacrosRepeatsAndIncbin)
{
    TempDir dir;
    write_file(dir.file("data.bin"), std::string(300, 'x'));
    write_file(dir.file("t.asm"), "%macro three 0\n  nop\n  inc eax\n  ret\n%endmacro\nsection .text\n"
                                  "  mov eax, [rel msg]\n" // 7
                                  "  three\n"              // 8
                                  "  times 16 db 0x90\n"   // 9
                                  "  incbin \"data.bin\"\n" // 10
                                  "  times 2 db 1,2,3,4,5,6,7,8,9,10,11,12\nSECTION .Data\n"
                                  "msg: dq 1,2,3,4\n"); // 13
    RunResult nasm = run({ "nasm", "-f", "elf64", "-l", "t.lst", "-o", "t.o", "t.asm" }, {}, dir.path());
    ASSERT_EQ(nasm.code, 0) << nasm.err;
    Strings got;
    for (const auto& e : tc::parse_listing(read_file(dir.file("t.lst"))))
        got.push_back(std::to_string(e.line) + " " + e.section + " " + std::to_string(e.offset) + " "
                      + std::to_string(e.len));
    EXPECT_EQ(got, (Strings { "7 .text 0 6", "8 .text 6 4", "9 .text 10 16", "10 .text 26 300", "11 .text 326 24",
                              "13 .data 0 32" }));

    // Read from the file in blocks, the same entries; a listing of many
    // megabytes crosses block ends inside lines and inside a continued
    // statement.
    auto from_file = [](const std::string& path) {
        Strings out;
        EXPECT_TRUE(tc::read_listing(path, [&](const tc::ListEntry& e) {
            out.push_back(std::to_string(e.line) + " " + e.section + " " + std::to_string(e.offset) + " "
                          + std::to_string(e.len));
        }));
        return out;
    };
    EXPECT_EQ(from_file(dir.file("t.lst")), got);
    std::string big = "section .text\n";
    for (int i = 0; i < 40000; ++i)
        big += i % 3 ? "  mov rax, 0x1122334455667788\n" : "  db 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20\n";
    write_file(dir.file("big.asm"), big);
    nasm = run({ "nasm", "-f", "elf64", "-l", "big.lst", "-o", "big.o", "big.asm" }, {}, dir.path());
    ASSERT_EQ(nasm.code, 0) << nasm.err;
    ASSERT_GT(read_file(dir.file("big.lst")).size(), size_t(2) << 20);
    Strings whole;
    for (const auto& e : tc::parse_listing(read_file(dir.file("big.lst"))))
        whole.push_back(std::to_string(e.line) + " " + e.section + " " + std::to_string(e.offset) + " "
                        + std::to_string(e.len));
    ASSERT_EQ(whole.size(), 40000u);
    EXPECT_EQ(whole[0], "2 .text 0 20");
    EXPECT_EQ(from_file(dir.file("big.lst")), whole);
    EXPECT_FALSE(tc::read_listing(dir.file("missing.lst"), [](const tc::ListEntry&) {}));

    // A line without a line number, one inside a macro (charged to the last
    // line outside a macro, none yet), a relocation and a reservation.
    auto e = tc::parse_listing("header line\n    ab 00000000 90" + std::string(22, ' ') + "nop\n"
                               "     5 00000000 90                  <2> nop ; marker in a macro\n"
                               "     6 00000001 90                  <5> nop\n"
                               "     7 00000002 E8(00000000)                call x\n"
                               "     8 00000007 <res 10h>               resb 16\n");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].line, 0);
    EXPECT_EQ(e[1].line, 6);
    EXPECT_EQ(e[2].line, 7);
    EXPECT_EQ(e[2].len, 5u);
}

TEST(Diags, RealNasmAndLinkerMessages)
{
    TempDir dir;
    // An error inside a macro is charged to the line that uses the macro.
    write_file(dir.file("e.asm"),
               "%macro bad 0\n mov eax, nosuch\n%endmacro\n bad\n%warning careful\n mov eax, 1, 2\n");
    RunResult r = run({ "nasm", "-f", "elf64", "-o", dir.file("e.o"), dir.file("e.asm") });
    std::string e = dir.file("e.asm");
    EXPECT_EQ(described(tc::parse_diags(r.out + r.err)),
              (Strings { "4 E " + e + ": symbol `nosuch' not defined", "5 W " + e + ": careful [-w+user]",
                         "6 E " + e + ": invalid combination of opcode and operands" }));

    // Each reference gets the line from the debug information.
    write_file(dir.file("u.asm"), "section .text\nglobal _start\nextern foo\n_start:\n call foo\n nop\n call foo\n");
    ASSERT_EQ(run({ "nasm", "-f", "elf64", "-g", "-F", "dwarf", "-o", dir.file("u.o"), dir.file("u.asm") }).code, 0);
    r = run({ "/usr/bin/ld", "-o", dir.file("u"), dir.file("u.o") });
    Strings lines;
    for (const auto& x : tc::parse_diags(r.out + r.err))
        if (x.line > 0)
            lines.push_back(std::to_string(x.line) + (x.error ? " E " : " W ") + x.file.substr(x.file.rfind('/') + 1)
                            + ": " + x.msg);
    EXPECT_EQ(lines, (Strings { "5 E u.asm: undefined reference to `foo'", "7 E u.asm: undefined reference to `foo'" }))
        << r.err;

    // Without line information the message has only an object and offset.
    ASSERT_EQ(run({ "nasm", "-f", "elf64", "-o", dir.file("n.o"), dir.file("u.asm") }).code, 0);
    auto d = tc::parse_diags(run({ "/usr/bin/ld", "-o", dir.file("n"), dir.file("n.o") }, {}, dir.path()).err);
    ASSERT_FALSE(d.empty());
    for (const auto& x : d) {
        EXPECT_TRUE(x.line == 0 && x.file.empty() && x.error) << x.msg;
        EXPECT_FALSE(contains(x.msg, "in function")) << "a context line is no error: " << x.msg;
    }
    d = tc::parse_diags(run({ "/usr/bin/ld", "-o", dir.file("n"), dir.file("n.o"), "-lqxnosuchlib" }).err);
    EXPECT_TRUE(std::any_of(d.begin(), d.end(), [](const tc::Diag& x) {
        return x.error && contains(x.msg, "cannot find -lqxnosuchlib");
    }));
}

TEST(Diags, ShapesByRule)
{
    EXPECT_EQ(described(tc::parse_diags("x.asm:3:(.text+0x1): relocation truncated to fit: R_X86_64_32\n"
                                        "ld: x.o:(.text+0x5): undefined reference to `y'\n"
                                        "ld: warning: cannot find entry symbol _start\n"
                                        "a.asm:9: error: one: warning: two\n"
                                        "a.asm:2: ... from macro `m' defined here\n"
                                        "/usr/bin/ld: NOTE: This behaviour is deprecated\n"
                                        // Where the next message belongs, not a message of its own.
                                        "/usr/bin/ld: /w/build.o: in function `_start':\n"
                                        "ld: x.o: In function `main':\n"
                                        "x.o: in function `_start':\n"
                                        // The linker's position line after its full path.
                                        "/usr/bin/ld: /w/x.asm:12:(.text+0x3): relocation truncated to fit\n"
                                        "/usr/local/bin/x86_64-linux-gnu-ld: y.asm:4:(.data+0x0): undefined reference to `z'\n")),
              (Strings { "3 E x.asm: relocation truncated to fit: R_X86_64_32",
                         "0 E : ld: x.o:(.text+0x5): undefined reference to `y'",
                         "0 W ld: cannot find entry symbol _start", "9 E a.asm: one: warning: two",
                         "0 W : /usr/bin/ld: NOTE: This behaviour is deprecated",
                         "12 E /w/x.asm: relocation truncated to fit", "4 E y.asm: undefined reference to `z'" }));
}

TEST(Run, ExitCodesDirectoriesAndMergedOutput)
{
    struct Case {
        Strings argv;
        const char* cwd;
        bool started;
        int status;
        const char* out;
    } cases[] = {
        { { "/bin/sh", "-c", "echo out; echo err >&2; cat; exit 3" }, "", true, 3, "out\nerr\n" },
        { { "/nonexistent/tool" }, "", false, 127, "" },
        { { "/bin/pwd" }, "/nonexistent-dir", true, 126, "" },
        { { "/bin/pwd" }, "/usr", true, 0, "/usr\n" },
        { { "/bin/sh", "-c", "kill -9 $$" }, "", true, -1, "" },
        { {}, "", false, -1, "" },
        // The program ignores SIGPIPE; a tool writing into a closed pipe must
        // still die quietly instead of reporting write errors.
        { { "/bin/sh", "-c", "yes | head -n 1" }, "", true, 0, "y\n" },
    };
    auto old = signal(SIGPIPE, SIG_IGN);
    for (const auto& c : cases) {
        tc::ProcResult r = tc::run(c.argv, c.cwd, 10000);
        SCOPED_TRACE(c.argv.empty() ? "(empty)" : c.argv.back());
        EXPECT_EQ(r.started, c.started);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
    }
    signal(SIGPIPE, old);
}

TEST(Run, TimeLimitKillsTheChildAndOutputIsCapped)
{
    tc::ProcResult r = tc::run({ "/bin/sh", "-c", "echo begun; sleep 20" }, "", 300);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "begun\n\n(timeout)\n");
    // Closing the output does not escape the limit.
    r = tc::run({ "/bin/sh", "-c", "exec >&- 2>&-; sleep 20" }, "", 300);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "\n(timeout)\n");

    // The output is capped, but the child runs to its end.
    r = tc::run({ "/bin/sh", "-c", "head -c 6000000 /dev/zero; echo done >&2; exit 4" }, "", 20000);
    EXPECT_EQ(r.status, 4);
    EXPECT_GE(r.out.size(), 4194304u);
    EXPECT_LE(r.out.size(), 4194304u + 4096u);
    EXPECT_FALSE(contains(r.out, "done"));
}

TEST(Tools, OverridesPathSearchVersionsAndQuoting)
{
    TempDir dir;
    std::string fake = script(dir, "nasm", "echo fake\n");
    mkdir(dir.file("sub").c_str(), 0755);
    mkdir(dir.file("sub/nasm").c_str(), 0755); // a directory is not a tool
    write_file(dir.file("plain"), "not executable");
    {
        ScopedEnv path("PATH", ("::" + dir.file("sub") + ":" + dir.path() + ":").c_str());
        EXPECT_EQ(tc::find_tool_auto("nasm"), fake);
    }
    {
        ScopedEnv path("PATH", nullptr);
        EXPECT_EQ(tc::find_tool_auto("sh"), "/usr/bin/sh");
    }
    tc::set_tool_path("nasm", dir.file("plain"));
    EXPECT_EQ(tc::find_tool("nasm"), "");
    tc::set_tool_path("nasm", fake);
    EXPECT_EQ(tc::find_tool("nasm"), fake);
    tc::set_tool_path("nasm", "");
    EXPECT_EQ(tc::find_tool("nasm"), tc::find_tool_auto("nasm"));
    EXPECT_FALSE(tc::is_executable(dir.file("sub")));
    EXPECT_FALSE(tc::is_executable(""));

    std::string nasm = tc::tool_version(tc::find_tool("nasm"));
    EXPECT_EQ(nasm.rfind("NASM version ", 0), 0u) << nasm;
    EXPECT_FALSE(contains(nasm, "compiled on"));
    EXPECT_EQ(tc::tool_version(tc::find_tool("ld")).rfind("GNU ld", 0), 0u);
    EXPECT_EQ(tc::tool_version(tc::find_tool("gcc")), tc::trim(sh("gcc --version | head -n 1").out));
    EXPECT_EQ(tc::tool_version("/nonexistent"), "");

    EXPECT_EQ(tc::has_crt32(), sh("test -f \"$(gcc -m32 -print-file-name=crt1.o)\"").code == 0);

    EXPECT_EQ(tc::quote_cmd({ "/usr/bin/ld", "-o", "a b", "it's", "x\"y", "t\tz" }),
              "/usr/bin/ld -o 'a b' 'it's' 'x\"y' 't\tz'");
}

TEST(WorkDir, PerUserDirectoryAndFallbacks)
{
    TempDir dir;
    std::string uid = std::to_string(getuid());
    std::string mine = tc::choose_temp_dir(dir.path());
    EXPECT_EQ(mine, dir.path() + "/qxFerndockAssemblerIDE-" + uid);
    struct stat st {};
    ASSERT_EQ(lstat(mine.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(tc::choose_temp_dir("").rfind("/tmp/qxFerndockAssemblerIDE-", 0), 0u);

    // A symbolic link in its place is refused, and so is a directory of
    // another user (only root can arrange that).
    for (bool link : { true, false }) {
        if (!link && getuid() != 0)
            continue;
        TempDir other;
        std::string theirs = other.file("qxFerndockAssemblerIDE-" + uid);
        if (link)
            ASSERT_EQ(symlink(dir.path().c_str(), theirs.c_str()), 0);
        else
            ASSERT_TRUE(mkdir(theirs.c_str(), 0700) == 0 && chown(theirs.c_str(), 65534, 65534) == 0);
        std::string picked = tc::choose_temp_dir(other.path());
        EXPECT_NE(picked, theirs);
        EXPECT_EQ(picked.rfind("/tmp/qxFerndockAssemblerIDE-", 0), 0u);
        rmdir(picked.c_str());
    }

    ScopedEnv snap("SNAP", dir.path().c_str());
    EXPECT_EQ(tc::snap_root(), dir.path());
    mkdir(dir.file("sysroot").c_str(), 0755);
    EXPECT_EQ(tc::snap_root(), dir.file("sysroot"));
    ScopedEnv no_snap("SNAP", "");
    EXPECT_EQ(tc::snap_root(), "");
}

TEST(Link, CommandShapes)
{
    ScopedEnv snap("SNAP", nullptr);
    tc::LinkOpts o { .libs = "c m" };
    EXPECT_EQ(tc::link_command("/usr/bin/ld", tc::Format::Elf64, o, "/w/build.o", "prog"),
              (Strings { "/usr/bin/ld", "-o", "prog", "/w/build.o", "-lc", "-lm", "-dynamic-linker",
                         "/lib64/ld-linux-x86-64.so.2" }));

    o = { .dirs = "/opt/a:/opt/b", .extra = "--gc-sections,-s", .crt = true, .srcs = "lib/util.asm other/util.s" };
    EXPECT_EQ(tc::link_command("cc", tc::Format::Elf32, o, "build.o", "p"),
              (Strings { "cc", "-no-pie", "-m32", "-o", "p", "build.o", "x-util.o", "x-util.o", "-L/opt/a",
                         "-Wl,-rpath,/opt/a", "-L/opt/b", "-Wl,-rpath,/opt/b", "--gc-sections", "-s" }));

    o.crt = false;
    auto cmd = tc::link_command("ld", tc::Format::Elf32, o, "/w/build.o", "p");
    EXPECT_EQ(Strings(cmd.begin(), cmd.begin() + 3), (Strings { "ld", "-m", "elf_i386" }));
    EXPECT_EQ(cmd[6], "/w/x-util.o");
    EXPECT_EQ(std::count(cmd.begin(), cmd.end(), std::string("-rpath")), 2);

    TempDir dir;
    ScopedEnv in_snap("SNAP", dir.path().c_str());
    EXPECT_EQ(tc::link_command("ld", tc::Format::Elf64, {}, "b.o", "p")[1], "--sysroot=" + dir.path());
    EXPECT_EQ(first_of(tc::lib_dirs({}, tc::Format::Elf32)), dir.path() + "/usr/local/lib32");
}

TEST(Link, LibraryResolutionAndMaps)
{
    TempDir a, b;
    for (std::string f : { b.file("libver.so.1.2.3"), b.file("libver.so.1"), a.file("libver.so.10"),
                           a.file("libstat.a"), b.file("libfoo.so") })
        write_file(f, "");
    // The first folder that has a versioned file decides.
    const std::tuple<std::string, std::string, bool> cases[] = {
        { "ver", "-l:libver.so.10", true }, { "libstat.a", "-lstat", true },
        { "libver.so.1", "-l:libver.so.1", true }, { "libver.so.7", "-l:libver.so.7", false },
        { "-static", "-static", true }, { b.file("libver.so.1"), b.file("libver.so.1"), true },
        { "-lnothere", "-lnothere", false },
        // A file name of a plain shared library is linked by its short name.
        { "libfoo.so", "-lfoo", true }, { "libfoo.a", "-lfoo", true }, { "libgone.so", "-lgone", false },
    };
    for (const auto& [word, want, found_want] : cases) {
        bool found = !found_want;
        EXPECT_EQ(tc::resolve_lib(word, { a.path(), b.path() }, &found), want);
        EXPECT_EQ(found, found_want) << word;
    }
    EXPECT_EQ(tc::missing_libs({ .libs = "c qxnope1 -Wl,--as-needed qxnope2 m,c" }, tc::Format::Elf64),
              (Strings { "qxnope1", "qxnope2", "m,c" }));

    auto s = tc::object_sections("Discarded input sections\n\n"
                                 " .spare         0x0000000000000000        0x2 /w/build.o\n"
                                 "\nLinker script and memory map\n\n"
                                 " .text          0x0000000000401110        0x3 /w/build.o\n"
                                 " .text          0x0000000000401120       0x10 /w/x-more.o\n"
                                 " .mysect_with_a_really_long_name\n"
                                 "                0x0000000000402004        0x1 /w/build.o\n"
                                 " .Data          0x0000000000404010        0x4 /w/build.o\n"
                                 "                0x0000000000404010                msg\n"
                                 " *fill*         0x0000000000404014        0x4 \n",
                                 "/w/build.o");
    EXPECT_EQ(s, (std::map<std::string, uint64_t> { { ".text", 0x401110 },
                                                     { ".mysect_with_a_really_long_name", 0x402004 },
                                                     { ".data", 0x404010 } }));
}

TEST(Build, FlatBinaryUsesTheLastOrgAndCountsIncbin)
{
    TempDir dir;
    write_file(dir.file("blob"), "12345");
    // NASM takes one origin only; the first is hidden from it but not from
    // the scan for the base address, where the last one wins. Link options
    // mean nothing for a flat file.
    write_file(dir.file("boot.asm"), "%if 0\norg 0x100\n%endif\nbits 16\norg\t0x7c00\nstart: mov ax, 1\n"
                                     "incbin \"blob\"\njmp start\n");
    tc::BuildResult r = tc::build(dir.file("boot.asm"), tc::Format::Auto, dir.file("boot.bin"),
                                  { .libs = "qxnosuchlib", .crt = true });
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fmt, tc::Format::Bin);
    EXPECT_EQ(r.org, 0x7c00u);
    Strings lines;
    for (const auto& l : r.lines)
        lines.push_back(std::to_string(l.line) + " " + std::to_string(l.addr - 0x7c00) + " " + std::to_string(l.len));
    EXPECT_EQ(lines, (Strings { "6 0 3", "7 3 5", "8 8 2" }));
    struct stat st {};
    stat(dir.file("boot.bin").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0111, 0u);
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '$'), 1);

    // The work files of a conversion to source have their own names.
    write_file(dir.file("r.asm"), "bits 16\nnop\n");
    r = tc::build(dir.file("r.asm"), tc::Format::Auto, dir.file("reasm.out"), {});
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_TRUE(contains(r.log, tc::temp_dir() + "/reasm.lst"));
}

TEST(Build, LargeSourceIsScannedAcrossBlocksAndPlainBuildsSkipTheListing)
{
    TempDir dir;
    // The source is read in blocks of 1 MiB: the org line that decides the
    // base starts a few bytes before the first block ends and goes on in
    // the second, and a "bits 32" line sits exactly at the second boundary.
    std::string text = "bits 16\n";
    const size_t block = size_t(1) << 20;
    const std::string filler = "; filler line of a comment that says nothing at all\n";
    while (text.size() + 2 * filler.size() < block)
        text += filler;
    text += std::string(block - 6 - text.size() - 1, ';') + "\n";
    text += "org 0x7e00\n"; // "org 0x" in the first block, "7e00" in the second
    while (text.size() < 2 * block)
        text += ";\n";
    text.resize(2 * block);
    text.back() = '\n';
    text += "bits 32\nnop\n";
    write_file(dir.file("big.asm"), text);
    tc::BuildResult r = tc::build(dir.file("big.asm"), tc::Format::Auto, dir.file("big.bin"), {});
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fmt, tc::Format::Bin);
    EXPECT_EQ(r.org, 0x7e00u);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].addr, 0x7e00u);
    EXPECT_EQ(tc::detect_format("use32\n"), tc::Format::Elf32);
    EXPECT_EQ(tc::detect_format("  [BITS 16]  ; boot\n"), tc::Format::Bin);
    EXPECT_EQ(tc::detect_format("mov eax, ebx ; org and bits in a comment\n"), tc::Format::Elf64);

    // Without listing and debug data: the program only.
    write_file(dir.file("p.asm"), "global _start\nsection .text\n_start: mov eax, 60\n xor edi, edi\n syscall\n");
    r = tc::build(dir.file("p.asm"), tc::Format::Elf64, dir.file("p"), {}, tc::Detail::Plain);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_TRUE(r.lines.empty());
    EXPECT_FALSE(contains(r.log, "-l ")) << r.log;
    EXPECT_FALSE(contains(r.log, "dwarf")) << r.log;
    EXPECT_EQ(run({ dir.file("p") }).code, 0);
}

TEST(Build, MissingTools)
{
    TempDir dir;
    write_file(dir.file("t.asm"), "section .text\nglobal _start\n_start: ret\n");
    struct Case {
        std::vector<std::pair<const char*, std::string>> tools; // overrides for the case
        tc::Format fmt;
        bool crt;
        const char* diag;
    } cases[] = {
        { { { "nasm", dir.file("none") } }, tc::Format::Auto, false, "0 E nasm: missing:nasm" },
        { { { "ld", dir.file("none") } }, tc::Format::Auto, false, "0 E ld: missing:ld" },
        { { { "cc", dir.file("none") }, { "gcc", dir.file("none") } }, tc::Format::Auto, true, "0 E ld: missing:cc" },
        // A compiler without the 32-bit runtime prints the bare file name.
        { { { "cc", script(dir, "cc", "echo crt1.o\n") } }, tc::Format::Elf32, true, "0 E ld: missing:crt32" },
    };
    for (const auto& c : cases) {
        for (const auto& [tool, path] : c.tools)
            tc::set_tool_path(tool, path);
        tc::BuildResult r = tc::build(dir.file("t.asm"), c.fmt, dir.file("t"), { .crt = c.crt });
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(described(r.diags), Strings { c.diag });
        if (c.tools[0].first == std::string("nasm")) {
            std::vector<uint8_t> bytes;
            std::string err;
            EXPECT_FALSE(tc::assemble_line("nop", 64, 0, &bytes, &err));
            EXPECT_EQ(err, "missing:nasm");
        }
        for (const auto& [tool, path] : c.tools)
            tc::set_tool_path(tool, "");
    }
}

TEST(AssembleLine, BytesAddressesAndFailures)
{
    std::vector<uint8_t> out;
    std::string err;
    ASSERT_TRUE(tc::assemble_line("mov eax, 1", 32, 0, &out, &err)) << err;
    EXPECT_EQ(out, (std::vector<uint8_t> { 0xB8, 1, 0, 0, 0 }));
    ASSERT_TRUE(tc::assemble_line("jmp short 0x401000", 64, 0x401000, &out, &err)) << err;
    EXPECT_EQ(out, (std::vector<uint8_t> { 0xEB, 0xFE }));
    EXPECT_FALSE(tc::assemble_line("here:", 64, 0, &out, &err));
    EXPECT_EQ(err, "empty");
    EXPECT_FALSE(tc::assemble_line("mov eax, 1, 2", 64, 0, &out, &err));
    EXPECT_EQ(err, "invalid combination of opcode and operands");
    EXPECT_TRUE(out.empty());
}

namespace {

pid_t dead_pid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

Strings run_dirs(const std::string& user_dir)
{
    Strings out;
    for (const auto& e : std::filesystem::directory_iterator(user_dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind("run-", 0) == 0)
            out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(WorkDir, OwnDirectoryPerProcessAndStaleOnesRemoved)
{
    // This process's own: inside the per-user one, private, its lock held.
    std::string mine = tc::temp_dir();
    std::string user = tc::choose_temp_dir(getenv("XDG_RUNTIME_DIR"));
    EXPECT_EQ(mine.rfind(user + "/run-" + std::to_string(getpid()) + "-", 0), 0u) << mine;
    struct stat st {};
    ASSERT_EQ(lstat(mine.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    int probe = open(mine.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(probe, 0);
    EXPECT_NE(flock(probe, LOCK_EX | LOCK_NB), 0) << "the lock is held while the process lives";
    close(probe);

    // What another process finds in the per-user directory.
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious"), "keep me"));
    std::string dead = std::to_string(dead_pid());
    std::string live = std::to_string(getppid());
    std::string own = std::to_string(getpid());
    struct Plant {
        std::string name;
        bool held, kept;
    } plants[] = {
        { "run-" + dead + "-gone01", false, false }, // ended: removed with its files
        { "run-" + dead + "-inuse1", true, true },   // pid looks dead, but the lock is held
        { "run-" + live + "-alive1", false, true },  // its process still runs
        { "run-" + own + "-old001", false, false },  // an earlier process that had our pid
        { "keep-" + dead + "-other", false, true },  // not a process directory
    };
    int held_fd = -1;
    for (const auto& p : plants) {
        std::string path = dir.file(p.name);
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        ASSERT_TRUE(write_file(path + "/build.o", "x"));
        ASSERT_EQ(mkdir((path + "/sub").c_str(), 0700), 0);
        ASSERT_EQ(symlink(dir.file("precious").c_str(), (path + "/sub/link").c_str()), 0);
        if (p.held) {
            held_fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
            ASSERT_EQ(flock(held_fd, LOCK_EX), 0);
        }
    }
    // A link named like a process directory is never followed.
    ASSERT_EQ(symlink(dir.path().c_str(), dir.file("run-" + dead + "-link01").c_str()), 0);

    int lock_fd = -1;
    std::string made = tc::make_process_dir(dir.path(), &lock_fd);
    ASSERT_FALSE(made.empty());
    EXPECT_GE(lock_fd, 0);
    for (const auto& p : plants)
        EXPECT_EQ(file_exists(dir.file(p.name + "/build.o")), p.kept) << p.name;
    EXPECT_EQ(read_file(dir.file("precious")), "keep me");
    EXPECT_TRUE(file_exists(dir.file("run-" + dead + "-link01")));

    // Ours is not stale to the next process; once its lock is let go and its
    // pid is gone it would be, and it can always be removed by its owner.
    int other_fd = -1;
    std::string second = tc::make_process_dir(dir.path(), &other_fd);
    EXPECT_TRUE(file_exists(made));
    close(other_fd);
    tc::remove_process_dir(second);
    close(lock_fd);
    tc::remove_process_dir(made);
    close(held_fd);
    Strings left { "run-" + dead + "-inuse1", "run-" + dead + "-link01", "run-" + live + "-alive1" };
    std::sort(left.begin(), left.end());
    EXPECT_EQ(run_dirs(dir.path()), left);
}

// A file name can hold terminal control sequences (an OSC that sets the
// title, a raw C1 CSI): they reach the terminal escaped in the command echo,
// in nasm's own messages and in the result line.
TEST(Build, NamesReachTheTerminalEscaped)
{
    TempDir dir;
    const std::string hostile = "x\x1B]0;pwn\x07\x9B";
    const std::string shown = "x\\x1B]0;pwn\\x07\\x9B";
    const struct {
        const char* text;
        int code;
        const char* result; // the result line's start
        const char* message; // a line of nasm's that names the file, or nullptr
    } cases[] = {
        { "nop\n", 0, "OK -> ", nullptr },
        { "nop\nbogus eax\n", 1, "FAILED -> ", ".asm:2: error: " },
    };
    std::vector<std::string> env { "XDG_RUNTIME_DIR=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config") };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(write_file(dir.file(hostile + ".asm"), c.text));
        RunResult r = run_exe({ "--build", hostile + ".asm", "bin" }, env, dir.path());
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_EQ(r.out.find_first_of("\x1B\x07\x9B"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" ./" + shown + ".asm\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.result + shown + ".bin (bin)\n"), std::string::npos) << r.out;
        if (c.message) {
            EXPECT_NE(r.out.find("\n./" + shown + c.message), std::string::npos) << r.out;
        }
    }
}

// Advice in a right-to-left language carries direction marks for the
// window; the terminal gets the text without them.
TEST(Build, RightToLeftAdviceReachesTheTerminalPlain)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("p.asm"), "nop\n"));
    RunResult r = run_exe({ "--build", dir.file("p.asm") },
        { "LANGUAGE=he", "PATH=" + dir.file("none"), "XDG_RUNTIME_DIR=" + dir.path(),
            "XDG_CONFIG_HOME=" + dir.file("config") });
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\nNASM ("), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xE2\x80\x8F"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xE2\x81\xA8"), std::string::npos) << r.out;
}

// Builds of different programs at the same time, with the same per-user
// directory: each gets its own program and its own line table.
TEST(Build, SideBySideBuildsKeepTheirOwnFiles)
{
    TempDir dir;
    auto program = [](int code, int pad) {
        return "section .text\nglobal _start\n_start:\n    times " + std::to_string(pad) + " nop\n    mov edi, "
            + std::to_string(code) + "\n    mov eax, 60\n    syscall\n";
    };
    write_file(dir.file("a.asm"), program(3, 20000));
    write_file(dir.file("b.asm"), program(5, 7));
    std::vector<std::string> env { "XDG_RUNTIME_DIR=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config") };
    for (int round = 0; round < 5; ++round) {
        RunResult ra, rb;
        std::thread ta([&] { ra = run_exe({ "--build", "a.asm" }, env, dir.path()); });
        std::thread tb([&] { rb = run_exe({ "--build", "b.asm" }, env, dir.path()); });
        ta.join();
        tb.join();
        ASSERT_EQ(ra.code, 0) << ra.out;
        ASSERT_EQ(rb.code, 0) << rb.out;
        // The line of the exit code's move sits after each program's own padding.
        EXPECT_TRUE(contains(ra.out, "  line 5    00405e20 5\n")) << ra.out;
        EXPECT_TRUE(contains(rb.out, "  line 5    00401007 5\n")) << rb.out;
        EXPECT_EQ(run({ dir.file("a") }).code, 3);
        EXPECT_EQ(run({ dir.file("b") }).code, 5);
    }
    // Every process took its directory along when it ended.
    EXPECT_EQ(run_dirs(tc::choose_temp_dir(dir.path())), Strings {});
}

// The tools write into the work directory; the result replaces whatever is
// at the output's name. A link planted there is replaced, its target kept.
TEST(Build, OutputReplacesAPlantedLink)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious"), "keep me"));
    write_file(dir.file("p.asm"), "section .text\nglobal _start\n_start:\n mov edi, 7\n mov eax, 60\n syscall\n");
    write_file(dir.file("boot.asm"), "org 0x7c00\njmp $\n");
    for (const char* out : { "p", "boot.bin" }) {
        ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file(out).c_str()), 0);
        std::string src = std::string(out) == "p" ? "p.asm" : "boot.asm";
        tc::BuildResult r = tc::build(dir.file(src), tc::Format::Auto, dir.file(out), {});
        ASSERT_TRUE(r.ok) << r.log;
        EXPECT_EQ(read_file(dir.file("precious")), "keep me") << out;
        struct stat st {};
        ASSERT_EQ(lstat(dir.file(out).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << out;
    }
    EXPECT_EQ(run({ dir.file("p") }).code, 7);
    EXPECT_EQ(read_file(dir.file("boot.bin")), "\xEB\xFE");

    // An output that cannot be written leaves the build failed and says so.
    ASSERT_EQ(mkdir(dir.file("taken").c_str(), 0700), 0);
    ASSERT_TRUE(write_file(dir.file("taken/inside"), ""));
    tc::BuildResult r = tc::build(dir.file("p.asm"), tc::Format::Auto, dir.file("taken"), {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(described(r.diags), Strings { "0 E " + dir.file("taken") + ": cannot write" });

    // A source that is not a regular file is not read at all.
    for (const char* odd : { "/dev/zero", "/dev/null" }) {
        r = tc::build(odd, tc::Format::Auto, dir.file("odd"), {});
        EXPECT_EQ(described(r.diags), Strings { std::string("0 E ") + odd + ": cannot read" });
    }
}

namespace {

// The pids of the processes whose parent is `parent`.
std::vector<pid_t> children_of(pid_t parent)
{
    std::vector<pid_t> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat = read_file("/proc/" + name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        int ppid = 0;
        char state = 0;
        if (sscanf(stat.c_str() + close + 2, "%c %d", &state, &ppid) == 2 && ppid == parent)
            out.push_back(pid_t(atoi(name.c_str())));
    }
    return out;
}

} // namespace

// Ending the program while nasm runs ends nasm too: by Ctrl-C, by a
// termination request, by a crash (which still leaves its report) and by a
// kill that no handler sees. The
// test process adopts orphans, so a tool left behind would be seen here.
TEST(Run, EndingTheProgramEndsItsTools)
{
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TempDir dir;
    // Preprocessing this takes nasm hours.
    write_file(dir.file("slow.asm"), "%assign i 0\n%rep 1000000\n%rep 1000000\n%assign i i+1\n%endrep\n%endrep\n");
    for (int sig : { SIGINT, SIGTERM, SIGSEGV, SIGKILL }) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
            setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
            // As from a terminal: a test run in the background inherits an
            // ignored SIGINT, which the program rightly leaves alone.
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 1);
            if (chdir(dir.path().c_str()) != 0)
                _exit(126);
            execl(exe_path().c_str(), exe_path().c_str(), "--build", "slow.asm", nullptr);
            _exit(127);
        }
        std::vector<pid_t> tools;
        for (int i = 0; i < 1000 && tools.empty(); ++i) {
            usleep(10000);
            tools = children_of(pid);
        }
        ASSERT_EQ(tools.size(), 1u) << "nasm did not start";
        ASSERT_EQ(kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(testutil::wait_child(pid, &status), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;

        // The orphaned tool is ours now; it must already be on its way out.
        int tool_status = 0;
        pid_t got = 0;
        for (int i = 0; i < 500 && got == 0; ++i) {
            got = waitpid(tools[0], &tool_status, WNOHANG);
            if (got == 0)
                usleep(10000);
        }
        if (got == 0) {
            kill(-tools[0], SIGKILL);
            waitpid(tools[0], &tool_status, 0);
            ADD_FAILURE() << "nasm outlived the program after signal " << sig;
        } else {
            EXPECT_TRUE(WIFSIGNALED(tool_status) && WTERMSIG(tool_status) == SIGKILL) << tool_status;
        }
    }
    EXPECT_TRUE(read_file(dir.file("qxFerndockAssemblerIDE_crash.txt")).starts_with("=== qxFerndockAssemblerIDE crash report"));
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A large source (a whole program disassembled to source) must not hit the
// fixed limit only for its size: the limit grows with the source.
TEST(ToolLimit, GrowsWithTheSourceSize)
{
    const std::pair<uint64_t, int> cases[] = { { 0, 30000 }, { 512 * 1024 - 1, 30000 }, { 512 * 1024, 31000 },
                                                { 110ull << 20, 250000 } };
    for (const auto& [bytes, ms] : cases)
        EXPECT_EQ(tc::tool_limit_ms(bytes), ms) << bytes;
    EXPECT_EQ(tc::tool_limit_ms(UINT64_MAX), 24 * 3600 * 1000);
}
