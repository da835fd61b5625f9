#include "main.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

using namespace testutil;

namespace {

cmdline::Command parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "qxferndockassembleride");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return cmdline::parse(int(args.size()), argv.data());
}

} // namespace

TEST(CommandLine, WindowOptionsAndFiles)
{
    auto c = parse({ "a.asm", "--theme", "dark", "--size", "1024x768", "--screenshot", "s.png", "--console",
                     "r;t", "--reference", "@syscalls", "-x", "-", "prog" });
    EXPECT_EQ(c.action, cmdline::Action::Window);
    EXPECT_EQ(c.window.theme, "dark");
    EXPECT_EQ(c.window.width, 1024);
    EXPECT_EQ(c.window.height, 768);
    EXPECT_EQ(c.window.screenshot, "s.png");
    EXPECT_EQ(c.window.script, "r;t");
    EXPECT_EQ(c.window.reference, "@syscalls");
    EXPECT_EQ(c.window.files, (std::vector<std::string> { "a.asm", "-x", "-", "prog" }));
}

TEST(CommandLine, FirstDecidingArgumentWins)
{
    EXPECT_EQ(parse({}).action, cmdline::Action::Window);
    EXPECT_EQ(parse({ "f.asm", "--version" }).action, cmdline::Action::Version);
    EXPECT_EQ(parse({ "--help", "--bogus" }).action, cmdline::Action::Help);
    auto d = parse({ "x", "--disasm", "file", "16", "--version" });
    EXPECT_EQ(d.action, cmdline::Action::Disasm);
    EXPECT_EQ(d.index, 2);
    EXPECT_EQ(parse({ "--disasm-source", "f" }).action, cmdline::Action::DisasmSource);
    EXPECT_EQ(parse({ "--build", "f.asm", "--crt" }).action, cmdline::Action::Build);
    EXPECT_EQ(parse({ "--trace", "p" }).action, cmdline::Action::Trace);
    EXPECT_EQ(parse({ "--render-icon", "64", "x.png" }).action, cmdline::Action::RenderIcon);
    // Options without their values are not recognised.
    EXPECT_EQ(parse({ "--disasm" }).action, cmdline::Action::Unknown);
    EXPECT_EQ(parse({ "--render-icon", "64" }).action, cmdline::Action::Unknown);
    EXPECT_EQ(parse({ "--theme" }).action, cmdline::Action::Unknown);
    EXPECT_EQ(parse({ "--" }).action, cmdline::Action::Unknown);
    // A window option takes the next argument whatever it looks like.
    auto t = parse({ "--theme", "--size", "--version" });
    EXPECT_EQ(t.action, cmdline::Action::Version);
    EXPECT_EQ(t.window.theme, "--size");
}

TEST(CommandLine, SizeIsParsedAndRangeChecked)
{
    struct Case {
        const char* text;
        int w, h;
    };
    const Case cases[] = {
        { "1024x768", 1024, 768 },
        { "big", 0, 0 },
        { "800", 800, 0 },
        { "0x0", 0, 0 },
        { "-5x300", 0, 300 },
        { "99999999999x2", 0, 2 },
        { "2147483647x2147483647", 0, 0 },
        { "640x-480", 640, 0 },
        { "16384x16385", 16384, 0 },
        { "", 0, 0 },
    };
    for (const auto& c : cases) {
        int w = 0, h = 0;
        cmdline::parse_size(c.text, &w, &h);
        EXPECT_EQ(w, c.w) << c.text;
        EXPECT_EQ(h, c.h) << c.text;
    }
    // A later "--size" changes only the sides it sets.
    auto c = parse({ "--size", "800x600", "--size", "1024", "--size", "0x99999" });
    EXPECT_EQ(c.window.width, 1024);
    EXPECT_EQ(c.window.height, 600);
    EXPECT_EQ(parse({ "--size", "big" }).window.width, 0);
}

TEST(CommandLine, UnknownOptionGoesToStandardError)
{
    TempDir tmp;
    auto r = run_exe({ "--frobnicate" }, { "XDG_CONFIG_HOME=" + tmp.path() });
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "unknown option: --frobnicate\n");
    EXPECT_EQ(r.out.rfind("qxFerndockAssemblerIDE 1.0.2 (build 1069)\n\n", 0), 0u);
}

TEST(CommandLine, HeadlessModesCreateConfigDirectoryButNoLogOrLock)
{
    TempDir tmp;
    auto r = run_exe({ "--version" }, { "XDG_CONFIG_HOME=" + tmp.path() });
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(file_exists(tmp.file("qxFerndockAssemblerIDE")));
    EXPECT_FALSE(file_exists(tmp.file("qxFerndockAssemblerIDE/qxFerndockAssemblerIDE.log")));
    EXPECT_FALSE(file_exists(tmp.file("qxFerndockAssemblerIDE/qxFerndockAssemblerIDE.lock")));
}

TEST(CommandLine, LibrariesAreLoadedOnlyByTheRunsThatCallThem)
{
    TempDir tmp;
    const char* const libraries[] = { "libSDL2", "libcairo", "libpango", "libgio", "libglib", "libZydis",
                                      "libsodium", "libm.so" };
    // The dynamic loader names every library it maps.
    auto r = run_exe({ "--version" }, { "XDG_CONFIG_HOME=" + tmp.path(), "LD_DEBUG=files" });
    EXPECT_EQ(r.code, 0);
    ASSERT_NE(r.err.find("libc.so.6"), std::string::npos) << "the loader says nothing: " << r.err.substr(0, 400);
    // A sanitizer build's runtime needs the maths library itself.
    bool sanitized = r.err.find("libasan") != std::string::npos;
    for (const char* lib : libraries) {
        if (sanitized && std::string(lib) == "libm.so")
            continue;
        EXPECT_EQ(r.err.find(lib), std::string::npos) << lib;
    }

    // The window loads them at its first call, and fails plainly where there
    // is no display to open.
    r = run_exe({}, { "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=none", "LD_DEBUG=files" }, tmp.path());
    EXPECT_NE(r.err.find("libSDL2-2.0.so.0"), std::string::npos) << r.err.substr(0, 400);
    EXPECT_NE(r.code, 139) << "no crash";
}

TEST(WindowMode, LockHoldsThePidAndLogIsWritten)
{
    TempDir tmp;
    // exec keeps the shell's pid, so the lock file must hold exactly it.
    auto r = run({ "/bin/sh", "-c", "echo $$; exec \"$0\" some.asm", exe_path() },
                 { "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=none" }, tmp.path());
    std::string dir = tmp.file("qxFerndockAssemblerIDE");
    std::string pid = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(read_file(dir + "/qxFerndockAssemblerIDE.lock"), pid);
    std::string log = read_file(dir + "/qxFerndockAssemblerIDE.log");
    EXPECT_NE(log.find("INFO  qxFerndockAssemblerIDE 1.0.2 build 1069, package plain"), std::string::npos) << log;

    // A second run rotates the first run's log.
    run_exe({}, { "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=none" }, tmp.path());
    EXPECT_EQ(read_file(dir + "/qxFerndockAssemblerIDE.log.1"), log);
}

TEST(WindowMode, SecondInstanceSaysSoAndExitsZero)
{
    TempDir tmp;
    std::string dir = tmp.file("qxFerndockAssemblerIDE");
    ASSERT_EQ(run_exe({ "--version" }, { "XDG_CONFIG_HOME=" + tmp.path() }).code, 0);
    int fd = open((dir + "/qxFerndockAssemblerIDE.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(write(fd, "4242", 4), 4);

    auto r = run_exe({ "file.asm" }, { "XDG_CONFIG_HOME=" + tmp.path() });
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "qxFerndockAssemblerIDE is already running\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir + "/qxFerndockAssemblerIDE.lock"), "4242");
    EXPECT_FALSE(file_exists(dir + "/qxFerndockAssemblerIDE.log"));
    close(fd);
}

// A link planted at the lock's name is replaced, never written through.
TEST(WindowMode, PlantedLinkAtTheLockIsReplaced)
{
    TempDir tmp;
    std::string dir = tmp.file("qxFerndockAssemblerIDE");
    ASSERT_EQ(run_exe({ "--version" }, { "XDG_CONFIG_HOME=" + tmp.path() }).code, 0);
    ASSERT_TRUE(write_file(tmp.file("precious"), "keep me"));
    ASSERT_EQ(symlink(tmp.file("precious").c_str(), (dir + "/qxFerndockAssemblerIDE.lock").c_str()), 0);
    auto r = run({ "/bin/sh", "-c", "echo $$; exec \"$0\"", exe_path() }, { "XDG_CONFIG_HOME=" + tmp.path() },
                 tmp.path());
    EXPECT_EQ(read_file(tmp.file("precious")), "keep me");
    EXPECT_EQ(read_file(dir + "/qxFerndockAssemblerIDE.lock"), r.out.substr(0, r.out.find('\n')));
    struct stat st {};
    ASSERT_EQ(lstat((dir + "/qxFerndockAssemblerIDE.lock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(WindowMode, UnopenableLockIsSkipped)
{
    TempDir tmp;
    std::string dir = tmp.file("qxFerndockAssemblerIDE");
    ASSERT_EQ(run_exe({ "--version" }, { "XDG_CONFIG_HOME=" + tmp.path() }).code, 0);
    // A directory where the lock file should be: open fails even as root.
    ASSERT_EQ(mkdir((dir + "/qxFerndockAssemblerIDE.lock").c_str(), 0700), 0);
    auto r = run_exe({}, { "XDG_CONFIG_HOME=" + tmp.path(), "SDL_VIDEODRIVER=none" });
    // Only the window's own failure is reported, nothing about the lock.
    EXPECT_EQ(r.err.find("lock"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("already running"), std::string::npos) << r.err;
    EXPECT_TRUE(file_exists(dir + "/qxFerndockAssemblerIDE.log"));
}

TEST(Console, BrokenPipeDoesNotKillTheProgram)
{
    // SIGPIPE is ignored by the program, so a closed reader only stops the output.
    auto r2 = run({ "/bin/bash", "-c", "\"$0\" --help | (exec 0<&-; sleep 0.2); echo ${PIPESTATUS[0]}", exe_path() });
    EXPECT_EQ(r2.out, "0\n");
}

// Under an address-space limit (ulimit -v) every headless mode ends with its
// "too large" message and exit code 1, never an abort: the size checks read
// the limit, and an allocation that fails all the same is caught. The
// estimate can be set aside (QXASM_TEST_MEMAVAIL) to reach the allocation.
TEST(Headless, AnAddressSpaceLimitEndsARunWithItsMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory does not fit under an address-space limit";
#endif
    TempDir tmp;
    // Zero bytes decode into the most instructions per byte.
    ASSERT_TRUE(write_file(tmp.file("zeros.bin"), std::string(4000000, '\0')));
    const std::string png = tmp.file("icon.png");
    const std::string estimate_off = "QXASM_TEST_MEMAVAIL=999999999999";
    const struct {
        std::vector<std::string> args;
        int limit_mb;
        const char* env; // extra environment, or nullptr
        const char* says;
    } cases[] = {
        { { "--disasm-source", tmp.file("zeros.bin") }, 150, nullptr, "is too large for the free memory" },
        { { "--disasm-source", tmp.file("zeros.bin") }, 40, nullptr, "is too large for the free memory" },
        { { "--disasm-source", tmp.file("zeros.bin") }, 30, estimate_off.c_str(), "is too large for the free memory" },
        { { "--render-icon", "4096", png }, 150, nullptr, "(memory)\n" },
        { { "--render-icon", "64", png }, 40, nullptr, "(memory)\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " under " + std::to_string(c.limit_mb) + " MB");
        std::vector<std::string> argv { "prlimit", "--as=" + std::to_string(uint64_t(c.limit_mb) << 20), "--",
                                        exe_path() };
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env { "XDG_CONFIG_HOME=" + tmp.path() };
        if (c.env)
            env.push_back(c.env);
        RunResult r = run(argv, env);
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        EXPECT_FALSE(file_exists(png));
    }
}

// Names from the command line reach the terminal escaped in the messages
// of the modes that refuse them.
TEST(Headless, NamesInRefusalsReachTheTerminalEscaped)
{
    TempDir tmp;
    const std::string hostile = "x\x1B]0;pwn\x07\x9B";
    const std::string shown = "x\\x1B]0;pwn\\x07\\x9B";
    ASSERT_EQ(mkdir(tmp.file(hostile).c_str(), 0700), 0);
    const std::vector<std::string> cases[] = {
        { "--render-icon", "16", tmp.file("missing/" + hostile + ".png") },
        { "--disasm-source", tmp.file(hostile) },
        { "--build", tmp.file(hostile) },
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        RunResult r = run_exe(args, { "XDG_CONFIG_HOME=" + tmp.path() });
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_EQ(r.out.find_first_of("\x1B\x07\x9B"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
    }
}
