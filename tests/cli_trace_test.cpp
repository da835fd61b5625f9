// "--trace" through the real executable on programs built with gcc at test
// time: what the program starts ends with the trace, and what it prints
// passes through without piling up.
#include "testutil.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace testutil;

namespace {

bool have_gcc()
{
    return run({ "gcc", "--version" }).code == 0;
}

std::string build_c(const TempDir& dir, const std::string& name, const std::string& source,
                    const std::vector<std::string>& defines = {})
{
    write_file(dir.file(name + ".c"), source);
    std::vector<std::string> argv { "gcc", "-O1", "-o", dir.file(name), dir.file(name + ".c") };
    argv.insert(argv.end(), defines.begin(), defines.end());
    RunResult r = run(argv);
    return r.code == 0 ? std::string() : r.out + r.err;
}

// Processes whose command line is "sleep <mark>" and that are not zombies.
int count_sleepers(const std::string& mark)
{
    int n = 0;
    DIR* proc = opendir("/proc");
    while (dirent* d = proc ? readdir(proc) : nullptr) {
        if (d->d_name[0] < '1' || d->d_name[0] > '9')
            continue;
        std::string base = std::string("/proc/") + d->d_name;
        std::string cmd = read_file(base + "/cmdline");
        std::string stat = read_file(base + "/stat");
        size_t close = stat.rfind(')');
        bool zombie = close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
        if (cmd == "sleep" + std::string(1, '\0') + mark + std::string(1, '\0') && !zombie)
            ++n;
    }
    if (proc)
        closedir(proc);
    return n;
}

// Killed processes may take a moment to be gone; the question is only
// whether they go at all.
int sleepers_after_settling(const std::string& mark)
{
    int n = count_sleepers(mark);
    for (int i = 0; i < 50 && n > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        n = count_sleepers(mark);
    }
    return n;
}

// Starts a child in its own process group and one as a daemon in its own
// session, tells they are running, then ends or loops.
const char* kForker = R"(#define _GNU_SOURCE
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
int main(void)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return 2;
    if (fork() == 0) {
        execl("/bin/sleep", "sleep", MARK, (char*)0);
        _exit(1);
    }
    if (fork() == 0) {
        if (daemon(0, 1) == 0)
            execl("/bin/sleep", "sleep", MARK, (char*)0);
        _exit(1);
    }
    close(ready[1]);
    char c;
    read(ready[0], &c, 1); /* end of file once both children run sleep */
    write(1, "started\n", 8);
#ifdef SPIN
    for (;;) { }
#endif
    return 0;
}
)";

TEST(Trace, ChildrenAndDaemonsOfTheProgramEndWithTheTrace)
{
    if (!have_gcc())
        GTEST_SKIP() << "gcc is not installed";
    TempDir dir;
    // One mark per test run, so other runs' processes do not count.
    const std::string mark = std::to_string(100000 + getpid()) + ".5";
    const struct {
        const char* name;
        std::vector<std::string> defines;
        const char* ending; // what the trace prints when it ends
    } cases[] = {
        { "exits", { "-DMARK=\"" + mark + "\"" }, "exited: code 0 \n" },
        { "spins", { "-DMARK=\"" + mark + "\"", "-DSPIN" }, "exited: wait ran out\n" },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(build_c(dir, c.name, kForker, c.defines), "");
        RunResult r = run_exe({ "--trace", dir.file(c.name), "0" });
        EXPECT_NE(r.out.find("[output] started\n"), std::string::npos) << r.out;
        EXPECT_TRUE(r.out.ends_with(c.ending)) << r.out;
        EXPECT_EQ(sleepers_after_settling(mark), 0) << c.name << ": the program's children outlived the trace";
    }
}

// A daemon that left the program's session and ignores every signal, and
// its child, both running sleep; then the program says so and spins.
const char* kDaemon = R"(#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
int main(void)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return 2;
    if (fork() == 0) {
        setsid();
        for (int sig = 1; sig < 65; ++sig)
            signal(sig, SIG_IGN);
        fork();
        execl("/bin/sleep", "sleep", MARK, (char*)0);
        _exit(1);
    }
    close(ready[1]);
    char c;
    read(ready[0], &c, 1);
    write(1, "started\n", 8);
    for (;;) { }
}
)";

// However the trace ends while the program runs, nothing the program
// started survives it: the end signals, kill -9 and a crash.
TEST(Trace, DaemonsEndWithTheTraceWhateverEndsIt)
{
    if (!have_gcc())
        GTEST_SKIP() << "gcc is not installed";
    TempDir dir;
    const std::string mark = std::to_string(100000 + getpid()) + ".7";
    ASSERT_EQ(build_c(dir, "daemon", kDaemon, { "-DMARK=\"" + mark + "\"" }), "");
    const std::string program = dir.file("daemon"), home = dir.file("home");
    for (int sig : { SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGKILL, SIGSEGV }) {
        int out[2];
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        pid_t pid = fork();
        if (pid == 0) {
            rlimit none {};
            setrlimit(RLIMIT_CORE, &none);
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            dup2(out[1], 1);
            execl(exe_path().c_str(), exe_path().c_str(), "--trace", program.c_str(), "0", (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string text;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (text.find("started") == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p { out[0], POLLIN, 0 };
            char buf[512];
            ssize_t n = poll(&p, 1, 100) > 0 ? read(out[0], buf, sizeof buf) : 0;
            if (n < 0 || (n == 0 && p.revents))
                break;
            text.append(buf, size_t(std::max<ssize_t>(n, 0)));
        }
        close(out[0]);
        EXPECT_NE(text.find("started"), std::string::npos) << sig << ": " << text;
        kill(pid, sig);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(WIFSIGNALED(status) || WIFEXITED(status)) << sig;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        EXPECT_EQ(sleepers_after_settling(mark), 0) << "signal " << sig << ": the program's daemons outlived the trace";
    }
}

// A program that prints without end never reaches the breakpoint behind its
// first jump; the trace still ends when its wait runs out.
TEST(Trace, EndlessPrinterEndsWhenTheWaitRunsOut)
{
    TempDir dir;
    ASSERT_EQ(nasm_build("section .text\nglobal _start\n_start:\n    jmp top\n    nop\ntop:\n    mov eax, 1\n"
                         "    mov edi, 1\n    lea rsi, [rel top]\n    mov edx, 1\n    syscall\n    jmp top\n",
                  dir.file("printer"), "elf64"),
        "");
    RunResult r = run_exe({ "--trace", dir.file("printer"), "0" });
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("[output] "), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("breakpoint: wait ran out (wanted 401002)\n")) << r.out.substr(r.out.size() - 200);
}

// 16 MiB of output through a trace that keeps running to the exit: printed
// as it comes (to /dev/null here), never held.
TEST(Trace, OutputOfAChattyProgramIsNotKept)
{
    if (!have_gcc())
        GTEST_SKIP() << "gcc is not installed";
    TempDir dir;
    ASSERT_EQ(build_c(dir, "chatty", R"(#include <string.h>
#include <unistd.h>
static char block[1 << 20];
int main(void)
{
    memset(block, 'x', sizeof block);
    for (int i = 0; i < 16; ++i)
        for (size_t done = 0; done < sizeof block;) {
            ssize_t n = write(1, block + done, sizeof block - done);
            if (n <= 0)
                return 1;
            done += (size_t)n;
        }
    return 0;
}
)"), "");
    ASSERT_EQ(build_c(dir, "quiet", "int main(void) { return 0; }\n"), "");
    // Under AddressSanitizer freed blocks wait in a quarantine of 256 MiB;
    // a small one keeps the measure about what the trace holds.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "quarantine_size_mb=1";
    auto peak_kib = [&](const std::string& program) -> long {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("ASAN_OPTIONS", options.c_str(), 1);
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execl(exe_path().c_str(), exe_path().c_str(), "--trace", program.c_str(), "0", (char*)nullptr);
            _exit(127);
        }
        int status = 0;
        rusage ru {};
        if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
        return ru.ru_maxrss;
    };
    // Measured against the same trace of a program that prints nothing, so
    // the figure is what the output costs, whatever the build's own size.
    long quiet = peak_kib(dir.file("quiet"));
    long chatty = peak_kib(dir.file("chatty"));
    ASSERT_GT(quiet, 0);
    ASSERT_GT(chatty, 0);
    EXPECT_LT(chatty - quiet, 8 * 1024) << "peak memory in KiB: " << chatty << " against " << quiet;
}

} // namespace
