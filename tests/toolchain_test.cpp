// The toolchain driver against the real nasm, ld and gcc.
#include "toolchain.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

using namespace testutil;

namespace {

// Builds write fixed names into the per-user work directory; test processes
// running side by side each get their own so they cannot collide.
struct PrivateWorkDir {
    TempDir dir;
    PrivateWorkDir() { setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1); }
};
PrivateWorkDir g_work_dir;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        const char* old = getenv(name);
        m_had = old != nullptr;
        if (old)
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

// Points a tool at a path for one scope.
class ScopedTool {
public:
    ScopedTool(const char* name, const std::string& path)
        : m_name(name)
    {
        tc::set_tool_path(name, path);
    }
    ~ScopedTool() { tc::set_tool_path(m_name, ""); }

private:
    std::string m_name;
};

bool contains(const std::string& hay, const std::string& needle)
{
    return hay.find(needle) != std::string::npos;
}

bool has_diag(const tc::BuildResult& r, const std::string& msg)
{
    return std::any_of(r.diags.begin(), r.diags.end(), [&](const tc::Diag& d) { return d.msg == msg; });
}

// The address of a symbol in a linked program, as nm reports it.
uint64_t nm_address(const std::string& program, const std::string& symbol)
{
    RunResult r = sh("nm " + program + " | awk '$3 == \"" + symbol + "\" { print $1 }'");
    return strtoull(r.out.c_str(), nullptr, 16);
}

const tc::LineAddr* line_entry(const tc::BuildResult& r, int line)
{
    for (const auto& l : r.lines)
        if (l.line == line)
            return &l;
    return nullptr;
}

} // namespace

TEST(Text, CodePartKeepsColumnsAndStopsAtRealComment)
{
    std::string line = "db 'a;b', \"x\" ; note";
    std::string code = tc::code_part(line);
    EXPECT_EQ(code, "db      ,     ");
    EXPECT_EQ(tc::code_part("mov al, `;` ;c"), "mov al,     ");
    EXPECT_EQ(tc::code_part("db 'unterminated ; still string"), std::string(31, ' ').replace(0, 2, "db"));
}

TEST(Text, WordsAndTrim)
{
    EXPECT_EQ(tc::words("a,,b   c\td", false), (std::vector<std::string> { "a", "b", "c", "d" }));
    EXPECT_EQ(tc::words("x:y, z", true), (std::vector<std::string> { "x", "y", "z" }));
    EXPECT_EQ(tc::words("x:y, z", false), (std::vector<std::string> { "x:y", "z" }));
    EXPECT_TRUE(tc::words(" , ,", true).empty());
    EXPECT_EQ(tc::trim("\t\v a b \r\n\f"), "a b");
}

TEST(Text, FormatKeys)
{
    EXPECT_STREQ(tc::format_key(tc::Format::Elf32), "elf32");
    EXPECT_STREQ(tc::format_key(tc::Format::Bin), "bin");
    EXPECT_STREQ(tc::format_key(static_cast<tc::Format>(7)), "auto");
    EXPECT_EQ(tc::format_from_key("elf64"), tc::Format::Elf64);
    EXPECT_EQ(tc::format_from_key("ELF64"), tc::Format::Auto);
    EXPECT_EQ(tc::format_from_key(""), tc::Format::Auto);
    tc::LinkOpts o;
    EXPECT_TRUE(o.empty());
    o.crt = true;
    EXPECT_FALSE(o.empty());
}

TEST(DetectFormat, Rules)
{
    using tc::Format;
    EXPECT_EQ(tc::detect_format("mov eax, 1\n; org 0x100\n"), Format::Elf64);
    EXPECT_EQ(tc::detect_format("db 'bits 16'\n"), Format::Elf64);
    EXPECT_EQ(tc::detect_format("  [ORG 0x7C00]  \n"), Format::Bin);
    EXPECT_EQ(tc::detect_format("org\t0x100\n"), Format::Bin);
    EXPECT_EQ(tc::detect_format("bits 32\nnop\nbits 16\n"), Format::Bin);
    EXPECT_EQ(tc::detect_format("bits 32\nbits 64\n"), Format::Elf32);
    EXPECT_EQ(tc::detect_format("use32\n"), Format::Elf32);
    EXPECT_EQ(tc::detect_format("origin: nop\nbitsy: nop\n"), Format::Elf64);
}

TEST(Listing, RealListingOfMacrosRepeatsAndIncbin)
{
    TempDir dir;
    write_file(dir.file("data.bin"), std::string(300, 'x'));
    write_file(dir.file("t.asm"),
               "%macro three 0\n"               // 1
               "  nop\n"                        // 2
               "  inc eax\n"                    // 3
               "  ret\n"                        // 4
               "%endmacro\n"                    // 5
               "section .text\n"                // 6
               "  mov eax, [rel msg]\n"         // 7
               "  three\n"                      // 8
               "  times 16 db 0x90\n"           // 9
               "  incbin \"data.bin\"\n"        // 10
               "  times 2 db 1,2,3,4,5,6,7,8,9,10,11,12\n" // 11
               "SECTION .Data\n"                // 12
               "msg: dq 1,2,3,4\n");            // 13
    RunResult nasm = run({ "nasm", "-f", "elf64", "-l", "t.lst", "-o", "t.o", "t.asm" }, {}, dir.path());
    ASSERT_EQ(nasm.code, 0) << nasm.err;
    auto entries = tc::parse_listing(read_file(dir.file("t.lst")));
    struct Want {
        int line;
        const char* section;
        uint64_t offset;
        uint32_t len;
    };
    std::vector<Want> want = { { 7, ".text", 0, 6 }, { 8, ".text", 6, 4 }, { 9, ".text", 10, 16 },
                               { 10, ".text", 26, 300 }, { 11, ".text", 326, 24 }, { 13, ".data", 0, 32 } };
    ASSERT_EQ(entries.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(entries[i].line, want[i].line) << i;
        EXPECT_EQ(entries[i].section, want[i].section) << i;
        EXPECT_EQ(entries[i].offset, want[i].offset) << i;
        EXPECT_EQ(entries[i].len, want[i].len) << i;
    }
}

TEST(Listing, HandWrittenEdgeLines)
{
    std::string pad(24, ' ');
    std::string text = "header line\n"
                       "    ab 00000000 90" + std::string(22, ' ') + "nop\n"
                       "     5 00000000 90                  <2> nop ; marker in a macro\n"
                       "     6 00000001 90                  <5> nop\n"
                       "     7 00000002 E8(00000000)                call x\n"
                       "     8 00000007 <res 10h>               resb 16\n";
    auto e = tc::parse_listing(text);
    ASSERT_EQ(e.size(), 3u);
    // The "<2>" line is charged to the last line outside a macro (none yet).
    EXPECT_EQ(e[0].line, 0);
    EXPECT_EQ(e[1].line, 6);
    EXPECT_EQ(e[2].line, 7);
    EXPECT_EQ(e[2].len, 5u);
}

TEST(Diags, RealNasmMessages)
{
    TempDir dir;
    write_file(dir.file("e.asm"), "%macro bad 0\n mov eax, nosuch\n%endmacro\n bad\n%warning careful\n mov eax, 1, 2\n");
    RunResult r = run({ "nasm", "-f", "elf64", "-o", dir.file("e.o"), dir.file("e.asm") });
    auto d = tc::parse_diags(r.out + r.err);
    ASSERT_EQ(d.size(), 3u) << r.err;
    EXPECT_EQ(d[0].line, 4);
    EXPECT_TRUE(d[0].error);
    EXPECT_EQ(d[0].file, dir.file("e.asm"));
    EXPECT_TRUE(contains(d[0].msg, "nosuch"));
    EXPECT_EQ(d[1].line, 5);
    EXPECT_FALSE(d[1].error);
    EXPECT_EQ(d[2].line, 6);
}

TEST(Diags, RealLinkerMessages)
{
    TempDir dir;
    write_file(dir.file("u.asm"), "section .text\nglobal _start\nextern foo\n_start:\n call foo\n nop\n call foo\n");
    ASSERT_EQ(run({ "nasm", "-f", "elf64", "-g", "-F", "dwarf", "-o", dir.file("u.o"), dir.file("u.asm") }).code, 0);
    RunResult ld = run({ "/usr/bin/ld", "-o", dir.file("u"), dir.file("u.o") });
    auto d = tc::parse_diags(ld.out + ld.err);
    std::vector<int> lines;
    for (const auto& x : d)
        if (x.line > 0) {
            lines.push_back(x.line);
            EXPECT_TRUE(x.error);
            EXPECT_EQ(x.msg, "undefined reference to `foo'");
            EXPECT_EQ(x.file.substr(x.file.rfind('/') + 1), "u.asm");
        }
    EXPECT_EQ(lines, (std::vector<int> { 5, 7 })) << ld.err;

    // Without line information the message has only an object and offset.
    ASSERT_EQ(run({ "nasm", "-f", "elf64", "-o", dir.file("n.o"), dir.file("u.asm") }).code, 0);
    ld = run({ "/usr/bin/ld", "-o", dir.file("n"), dir.file("n.o") }, {}, dir.path());
    d = tc::parse_diags(ld.err);
    ASSERT_FALSE(d.empty());
    for (const auto& x : d) {
        EXPECT_EQ(x.line, 0);
        EXPECT_TRUE(x.file.empty());
        EXPECT_TRUE(x.error);
    }

    ld = run({ "/usr/bin/ld", "-o", dir.file("n"), dir.file("n.o"), "-lqxnosuchlib" });
    d = tc::parse_diags(ld.err);
    EXPECT_TRUE(std::any_of(d.begin(), d.end(), [](const tc::Diag& x) {
        return x.error && contains(x.msg, "cannot find -lqxnosuchlib");
    })) << ld.err;
}

TEST(Diags, ShapesByRule)
{
    auto d = tc::parse_diags("x.asm:3:(.text+0x1): relocation truncated to fit: R_X86_64_32\n"
                             "ld: x.o:(.text+0x5): undefined reference to `y'\n"
                             "ld: warning: cannot find entry symbol _start\n"
                             "a.asm:9: error: one: warning: two\n"
                             "a.asm:2: ... from macro `m' defined here\n"
                             "/usr/bin/ld: NOTE: This behaviour is deprecated\n");
    ASSERT_EQ(d.size(), 5u);
    EXPECT_EQ(d[0].line, 3);
    EXPECT_EQ(d[0].file, "x.asm");
    EXPECT_EQ(d[0].msg, "relocation truncated to fit: R_X86_64_32");
    EXPECT_EQ(d[1].line, 0);
    EXPECT_EQ(d[1].msg, "ld: x.o:(.text+0x5): undefined reference to `y'");
    EXPECT_FALSE(d[2].error);
    EXPECT_EQ(d[2].file, "ld");
    EXPECT_TRUE(d[3].error);
    EXPECT_EQ(d[3].line, 9);
    EXPECT_FALSE(d[4].error);
}

TEST(Run, ExitCodesStdinAndMergedOutput)
{
    tc::ProcResult r = tc::run({ "/bin/sh", "-c", "echo out; echo err >&2; cat; exit 3" }, "", 5000);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "out\nerr\n");

    r = tc::run({ "/nonexistent/tool" }, "", 5000);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.status, 127);

    r = tc::run({ "/bin/pwd" }, "/nonexistent-dir", 5000);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.status, 126);

    r = tc::run({ "/bin/pwd" }, "/usr", 5000);
    EXPECT_EQ(r.out, "/usr\n");

    r = tc::run({ "/bin/sh", "-c", "kill -9 $$" }, "", 5000);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.status, -1);

    EXPECT_FALSE(tc::run({}, "", 5000).started);
}

TEST(Run, ChildGetsDefaultSigpipe)
{
    // The program ignores SIGPIPE; a tool writing into a closed pipe must
    // still die quietly instead of reporting write errors.
    auto old = signal(SIGPIPE, SIG_IGN);
    tc::ProcResult r = tc::run({ "/bin/sh", "-c", "yes | head -n 1" }, "", 10000);
    signal(SIGPIPE, old);
    EXPECT_EQ(r.out, "y\n");
}

TEST(Run, TimeLimitKillsTheChild)
{
    tc::ProcResult r = tc::run({ "/bin/sh", "-c", "echo begun; sleep 20" }, "", 300);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "begun\n\n(timeout)\n");

    // Closing the output does not escape the limit.
    r = tc::run({ "/bin/sh", "-c", "exec >&- 2>&-; sleep 20" }, "", 300);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "\n(timeout)\n");
}

TEST(Run, OutputIsCappedButTheChildRunsToItsEnd)
{
    tc::ProcResult r = tc::run({ "/bin/sh", "-c", "head -c 6000000 /dev/zero; echo done >&2; exit 4" }, "", 20000);
    EXPECT_EQ(r.status, 4);
    EXPECT_GE(r.out.size(), 4194304u);
    EXPECT_LE(r.out.size(), 4194304u + 4096u);
    EXPECT_EQ(r.out.find("done"), std::string::npos);
}

TEST(Tools, OverridesAndPathSearch)
{
    TempDir dir;
    write_file(dir.file("nasm"), "#!/bin/sh\necho fake\n");
    chmod(dir.file("nasm").c_str(), 0755);
    mkdir(dir.file("sub").c_str(), 0755);
    mkdir(dir.file("sub/nasm").c_str(), 0755); // a directory is not a tool
    write_file(dir.file("plain"), "not executable");
    {
        ScopedEnv path(("PATH"), ("::" + dir.file("sub") + ":" + dir.path() + ":").c_str());
        EXPECT_EQ(tc::find_tool_auto("nasm"), dir.file("nasm"));
    }
    {
        ScopedEnv path("PATH", nullptr);
        EXPECT_EQ(tc::find_tool_auto("sh"), "/usr/bin/sh");
    }
    {
        ScopedTool nasm("nasm", dir.file("plain"));
        EXPECT_EQ(tc::find_tool("nasm"), "");
    }
    {
        ScopedTool nasm("nasm", dir.file("nasm"));
        EXPECT_EQ(tc::find_tool("nasm"), dir.file("nasm"));
    }
    EXPECT_EQ(tc::find_tool("nasm"), tc::find_tool_auto("nasm"));
    EXPECT_FALSE(tc::is_executable(dir.file("sub")));
    EXPECT_FALSE(tc::is_executable(""));
}

TEST(Tools, VersionsAndCrt32)
{
    std::string nasm = tc::tool_version(tc::find_tool("nasm"));
    EXPECT_EQ(nasm.rfind("NASM version ", 0), 0u) << nasm;
    EXPECT_FALSE(contains(nasm, "compiled on"));
    EXPECT_EQ(tc::tool_version(tc::find_tool("ld")).rfind("GNU ld", 0), 0u);
    std::string gcc = tc::tool_version(tc::find_tool("gcc"));
    EXPECT_EQ(gcc, tc::trim(sh("gcc --version | head -n 1").out));
    EXPECT_EQ(tc::tool_version("/nonexistent"), "");

    bool expected = sh("test -f \"$(gcc -m32 -print-file-name=crt1.o)\"").code == 0;
    EXPECT_EQ(tc::has_crt32(), expected);

    TempDir dir;
    write_file(dir.file("cc"), "#!/bin/sh\necho crt1.o\n");
    chmod(dir.file("cc").c_str(), 0755);
    ScopedTool cc("cc", dir.file("cc"));
    EXPECT_FALSE(tc::has_crt32());
}

TEST(Tools, QuoteCmd)
{
    EXPECT_EQ(tc::quote_cmd({ "/usr/bin/ld", "-o", "a b", "it's", "x\"y", "t\tz" }),
              "/usr/bin/ld -o 'a b' 'it's' 'x\"y' 't\tz'");
    EXPECT_EQ(tc::quote_cmd({}), "");
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

    std::string empty = tc::choose_temp_dir("");
    EXPECT_EQ(empty.rfind("/tmp/qxFerndockAssemblerIDE-", 0), 0u);

    // A symbolic link in its place is refused.
    TempDir other;
    mkdir(other.file("target").c_str(), 0700);
    ASSERT_EQ(symlink(other.file("target").c_str(), other.file("qxFerndockAssemblerIDE-" + uid).c_str()), 0);
    std::string fresh = tc::choose_temp_dir(other.path());
    EXPECT_NE(fresh, other.file("qxFerndockAssemblerIDE-" + uid));
    EXPECT_EQ(fresh.rfind("/tmp/qxFerndockAssemblerIDE-", 0), 0u);
    rmdir(fresh.c_str());

    // So is a directory of another user (only root can arrange that).
    if (getuid() == 0) {
        TempDir third;
        std::string theirs = third.file("qxFerndockAssemblerIDE-0");
        mkdir(theirs.c_str(), 0700);
        ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
        std::string picked = tc::choose_temp_dir(third.path());
        EXPECT_NE(picked, theirs);
        rmdir(picked.c_str());
    }
    EXPECT_EQ(tc::temp_dir(), tc::temp_dir());
}

TEST(WorkDir, SnapRoot)
{
    TempDir dir;
    {
        ScopedEnv snap("SNAP", dir.path().c_str());
        EXPECT_EQ(tc::snap_root(), dir.path());
        mkdir(dir.file("sysroot").c_str(), 0755);
        EXPECT_EQ(tc::snap_root(), dir.file("sysroot"));
    }
    ScopedEnv snap("SNAP", "");
    EXPECT_EQ(tc::snap_root(), "");
}

TEST(Link, CommandShapes)
{
    ScopedEnv snap("SNAP", nullptr);
    tc::LinkOpts o;
    o.libs = "c m";
    auto cmd = tc::link_command("/usr/bin/ld", tc::Format::Elf64, o, "/w/build.o", "prog");
    EXPECT_EQ(cmd, (std::vector<std::string> { "/usr/bin/ld", "-o", "prog", "/w/build.o", "-lc", "-lm",
                                               "-dynamic-linker", "/lib64/ld-linux-x86-64.so.2" }));

    o = {};
    o.dirs = "/opt/a:/opt/b";
    o.extra = "--gc-sections,-s";
    o.srcs = "lib/util.asm other/util.s";
    o.crt = true;
    cmd = tc::link_command("cc", tc::Format::Elf32, o, "build.o", "p");
    EXPECT_EQ(cmd, (std::vector<std::string> { "cc", "-no-pie", "-m32", "-o", "p", "build.o", "x-util.o", "x-util.o",
                                               "-L/opt/a", "-Wl,-rpath,/opt/a", "-L/opt/b", "-Wl,-rpath,/opt/b",
                                               "--gc-sections", "-s" }));

    o.crt = false;
    cmd = tc::link_command("ld", tc::Format::Elf32, o, "/w/build.o", "p");
    EXPECT_EQ(std::vector<std::string>(cmd.begin(), cmd.begin() + 3), (std::vector<std::string> { "ld", "-m", "elf_i386" }));
    EXPECT_EQ(cmd[6], "/w/x-util.o");
    EXPECT_EQ(std::count(cmd.begin(), cmd.end(), std::string("-rpath")), 2);

    TempDir dir;
    ScopedEnv in_snap("SNAP", dir.path().c_str());
    cmd = tc::link_command("ld", tc::Format::Elf64, {}, "b.o", "p");
    EXPECT_EQ(cmd[1], "--sysroot=" + dir.path());
    EXPECT_EQ(tc::lib_dirs({}, tc::Format::Elf32).front(), dir.path() + "/usr/local/lib32");
}

TEST(Link, LibraryResolution)
{
    TempDir a, b;
    write_file(b.file("libver.so.1.2.3"), "");
    write_file(b.file("libver.so.1"), "");
    write_file(a.file("libver.so.10"), "");
    write_file(a.file("libstat.a"), "");
    std::vector<std::string> dirs { a.path(), b.path() };
    bool found = false;
    // The first folder that has a versioned file decides.
    EXPECT_EQ(tc::resolve_lib("ver", dirs, &found), "-l:libver.so.10");
    EXPECT_TRUE(found);
    EXPECT_EQ(tc::resolve_lib("libstat.a", dirs, &found), "-lstat");
    EXPECT_TRUE(found);
    EXPECT_EQ(tc::resolve_lib("libver.so.1", dirs, &found), "-l:libver.so.1");
    EXPECT_TRUE(found);
    EXPECT_EQ(tc::resolve_lib("libver.so.7", dirs, &found), "-l:libver.so.7");
    EXPECT_FALSE(found);
    EXPECT_EQ(tc::resolve_lib("-static", dirs, &found), "-static");
    EXPECT_TRUE(found);
    EXPECT_EQ(tc::resolve_lib(b.file("libver.so.1"), dirs, &found), b.file("libver.so.1"));
    EXPECT_TRUE(found);
    EXPECT_EQ(tc::resolve_lib("-lnothere", dirs, &found), "-lnothere");
    EXPECT_FALSE(found);

    tc::LinkOpts o;
    o.libs = "c qxnope1 -Wl,--as-needed qxnope2 m,c";
    EXPECT_EQ(tc::missing_libs(o, tc::Format::Elf64), (std::vector<std::string> { "qxnope1", "qxnope2", "m,c" }));
}

TEST(Link, MapGivesObjectSections)
{
    std::string map = " .text          0x0000000000401110        0x3 /w/build.o\n"
                      " .text          0x0000000000401120       0x10 /w/x-more.o\n"
                      " .mysect_with_a_really_long_name\n"
                      "                0x0000000000402004        0x1 /w/build.o\n"
                      " .Data          0x0000000000404010        0x4 /w/build.o\n"
                      "                0x0000000000404010                msg\n"
                      " *fill*         0x0000000000404014        0x4 \n";
    auto s = tc::object_sections(map, "/w/build.o");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[".text"], 0x401110u);
    EXPECT_EQ(s[".mysect_with_a_really_long_name"], 0x402004u);
    EXPECT_EQ(s[".data"], 0x404010u);
}

class Build : public testing::Test {
protected:
    TempDir dir;
    std::string src(const std::string& name, const std::string& text)
    {
        write_file(dir.file(name), text);
        return dir.file(name);
    }
};

TEST_F(Build, Elf64LineTableMatchesTheLinkedSymbols)
{
    std::string s = src("p.asm", "section .data\nmsg: db 'hi', 10\nsection .text\nglobal _start\n_start:\n"
                                 " mov eax, 60\nsecond:\n xor edi, edi\n syscall\n");
    tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("p"), {});
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fmt, tc::Format::Elf64);
    EXPECT_EQ(r.log.rfind("$ ", 0), 0u);
    EXPECT_TRUE(contains(r.log, " -f elf64 -g -F dwarf -l "));
    EXPECT_EQ(sh("test -x " + dir.file("p")).code, 0);
    ASSERT_NE(line_entry(r, 6), nullptr);
    EXPECT_EQ(line_entry(r, 6)->addr, nm_address(dir.file("p"), "_start"));
    EXPECT_EQ(line_entry(r, 8)->addr, nm_address(dir.file("p"), "second"));
    EXPECT_EQ(line_entry(r, 2)->addr, nm_address(dir.file("p"), "msg"));
    EXPECT_EQ(line_entry(r, 2)->len, 3u);
    EXPECT_TRUE(std::is_sorted(r.lines.begin(), r.lines.end(),
                               [](const tc::LineAddr& a, const tc::LineAddr& b) { return a.addr < b.addr; }));
    EXPECT_EQ(run({ dir.file("p") }).code, 0);
}

TEST_F(Build, CrtProgramAddressesFollowTheRuntime)
{
    std::string s = src("c.asm", "section .text\nglobal main\nmain:\n xor eax, eax\nlater:\n ret\n");
    tc::LinkOpts o;
    o.crt = true;
    tc::BuildResult r = tc::build(s, tc::Format::Elf64, dir.file("c"), o);
    ASSERT_TRUE(r.ok) << r.log;
    ASSERT_NE(line_entry(r, 4), nullptr);
    EXPECT_EQ(line_entry(r, 4)->addr, nm_address(dir.file("c"), "main"));
    EXPECT_EQ(line_entry(r, 6)->addr, nm_address(dir.file("c"), "later"));
    EXPECT_EQ(run({ dir.file("c") }).code, 0);
}

TEST_F(Build, Elf32WithExtraSourceAndInclude)
{
    mkdir(dir.file("inc").c_str(), 0755);
    write_file(dir.file("inc/consts.inc"), "EXIT equ 1\n");
    src("more.asm", "section .text\nglobal helper\nhelper:\n ret\n");
    std::string s = src("m.asm", "%include \"consts.inc\"\nbits 32\nsection .text\nextern helper\nglobal _start\n"
                                 "_start:\n call helper\n mov eax, EXIT\n xor ebx, ebx\n int 0x80\n");
    tc::LinkOpts o;
    o.incs = "inc";
    o.srcs = "more.asm";
    tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("m"), o);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fmt, tc::Format::Elf32);
    EXPECT_TRUE(contains(r.log, "-I " + dir.path() + "/inc/ "));
    EXPECT_TRUE(contains(r.log, "x-more.o"));
    EXPECT_TRUE(contains(r.log, "-m elf_i386"));
    EXPECT_EQ(line_entry(r, 7)->addr, nm_address(dir.file("m"), "_start"));

    o.srcs = "gone.asm";
    r = tc::build(s, tc::Format::Auto, dir.file("m"), o);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(has_diag(r, "missing-source:" + dir.file("gone.asm")));
    EXPECT_TRUE(contains(r.log, "! " + dir.file("gone.asm") + "\n"));
    EXPECT_FALSE(contains(r.log, "elf_i386"));
}

TEST_F(Build, FlatBinaryUsesTheLastOrgAndCountsIncbin)
{
    write_file(dir.file("blob"), "12345");
    // NASM takes one origin only; the first is hidden from it but not from
    // the scan for the base address, where the last one wins.
    std::string s = src("boot.asm", "%if 0\norg 0x100\n%endif\nbits 16\norg\t0x7c00\nstart: mov ax, 1\n"
                                    "incbin \"blob\"\njmp start\n");
    tc::LinkOpts o;
    o.libs = "qxnosuchlib";
    o.crt = true;
    tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("boot.bin"), o);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fmt, tc::Format::Bin);
    EXPECT_EQ(r.org, 0x7c00u);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0].line, 6);
    EXPECT_EQ(r.lines[0].addr, 0x7c00u);
    EXPECT_EQ(r.lines[1].line, 7);
    EXPECT_EQ(r.lines[1].addr, 0x7c03u);
    EXPECT_EQ(r.lines[1].len, 5u);
    EXPECT_EQ(r.lines[2].addr, 0x7c08u);
    EXPECT_EQ(read_file(dir.file("boot.bin")).size(), 10u);
    struct stat st {};
    stat(dir.file("boot.bin").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0111, 0u);
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '$'), 1);
}

TEST_F(Build, ErrorsAndUndefinedReferences)
{
    std::string s = src("e.asm", "section .text\nglobal _start\n_start:\n mov eax, nosuch\n");
    tc::BuildResult r = tc::build(s, tc::Format::Elf64, dir.file("e"), {});
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.diags.size(), 1u);
    EXPECT_EQ(r.diags[0].line, 4);
    EXPECT_TRUE(r.lines.empty());

    s = src("u.asm", "section .text\nglobal _start\nextern foo\n_start:\n call foo\n");
    r = tc::build(s, tc::Format::Elf64, dir.file("u"), {});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(std::any_of(r.diags.begin(), r.diags.end(), [](const tc::Diag& d) {
        return d.line == 5 && d.error && d.msg == "undefined reference to `foo'";
    })) << r.log;
}

TEST_F(Build, MissingToolsAndLibraries)
{
    std::string s = src("t.asm", "section .text\nglobal _start\n_start: ret\n");
    {
        ScopedTool nasm("nasm", dir.file("no-such-nasm"));
        tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("t"), {});
        ASSERT_EQ(r.diags.size(), 1u);
        EXPECT_EQ(r.diags[0].msg, "missing:nasm");
        EXPECT_EQ(r.diags[0].file, "nasm");
        EXPECT_TRUE(r.log.empty());
        std::vector<uint8_t> bytes;
        std::string err;
        EXPECT_FALSE(tc::assemble_line("nop", 64, 0, &bytes, &err));
        EXPECT_EQ(err, "missing:nasm");
    }
    {
        ScopedTool ld("ld", dir.file("no-such-ld"));
        tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("t"), {});
        EXPECT_TRUE(has_diag(r, "missing:ld"));
    }
    {
        ScopedTool cc("cc", dir.file("no-such-cc"));
        ScopedTool gcc("gcc", dir.file("no-such-gcc"));
        tc::LinkOpts o;
        o.crt = true;
        tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("t"), o);
        EXPECT_TRUE(has_diag(r, "missing:cc"));
    }
    {
        // A compiler without the 32-bit runtime prints the bare file name.
        write_file(dir.file("cc"), "#!/bin/sh\necho crt1.o\n");
        chmod(dir.file("cc").c_str(), 0755);
        ScopedTool cc("cc", dir.file("cc"));
        tc::LinkOpts o;
        o.crt = true;
        tc::BuildResult r = tc::build(s, tc::Format::Elf32, dir.file("t"), o);
        EXPECT_TRUE(has_diag(r, "missing:crt32"));
        EXPECT_FALSE(r.ok);
    }
    tc::LinkOpts o;
    o.libs = "c qxlibone -lqxlibtwo";
    tc::BuildResult r = tc::build(s, tc::Format::Auto, dir.file("t"), o);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(has_diag(r, "missing:lib:qxlibone"));
    EXPECT_TRUE(has_diag(r, "missing:lib:-lqxlibtwo"));
    EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '$'), 1);

    r = tc::build(dir.file("absent.asm"), tc::Format::Auto, dir.file("t"), {});
    ASSERT_EQ(r.diags.size(), 1u);
    EXPECT_EQ(r.diags[0].msg, "cannot read");
    EXPECT_EQ(r.diags[0].file, dir.file("absent.asm"));
    EXPECT_EQ(r.fmt, tc::Format::Elf64);
    EXPECT_TRUE(r.output.empty());
}

TEST_F(Build, WorkFileStemsAndRelativeSource)
{
    src("r.asm", "bits 16\nnop\n");
    tc::BuildResult r = tc::build(dir.file("r.asm"), tc::Format::Auto, dir.file("reasm.out"), {});
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_TRUE(contains(r.log, tc::temp_dir() + "/reasm.lst"));
    r = tc::build(dir.file("r.asm"), tc::Format::Auto, dir.file("r.bin"), {});
    EXPECT_TRUE(contains(r.log, tc::temp_dir() + "/build.lst"));

    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    r = tc::build("r.asm", tc::Format::Auto, "r.bin", {});
    ASSERT_EQ(chdir(old), 0);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(contains(r.log, " -I ./ "));
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
