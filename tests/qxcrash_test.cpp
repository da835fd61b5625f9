// The crash library: real faults in forked children leave real reports; the
// report files, the log rotation and the context slots work on real files.
#include "qxcrash.h"
#include "qxcrash_detail.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <gnu/libc-version.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>

using testutil::read_file;
using testutil::first_of;
using testutil::last_of;
using testutil::TempDir;
using testutil::write_file;
namespace qd = qxcrash::detail;

namespace {

const qxcrash::App k_app { "qxTest", "9.8.7", "42" };

// Runs `body` in a forked child without core dumps; returns its wait status.
int run_child(const std::function<void()>& body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        rlimit none {};
        setrlimit(RLIMIT_CORE, &none);
        body();
        _exit(0);
    }
    int status = 0;
    testutil::wait_child(pid, &status);
    return status;
}

bool died_of(int status, int sig)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

void install_in(const std::string& runtime_dir)
{
    setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    setenv("TMPDIR", runtime_dir.c_str(), 1);
    qxcrash::install(k_app);
    // Other tests leave texts in the slots of this process.
    for (auto slot : { qxcrash::Context::Graphics, qxcrash::Context::Audio, qxcrash::Context::System })
        qxcrash::set_context(slot, "");
}

std::string section(const std::string& report, const std::string& from, const std::string& to)
{
    size_t start = report.find(from);
    if (start == std::string::npos)
        return "<missing " + from + ">";
    start += from.size();
    size_t end = report.find(to, start);
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

volatile int g_depth_limit = INT_MAX;

[[gnu::noinline]] int recurse(int depth)
{
    volatile char pad[1024];
    pad[depth % 1024] = static_cast<char>(depth);
    if (depth > g_depth_limit)
        return 0;
    return recurse(depth + 1) + pad[0];
}

void fault_segv(const std::string&)
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

struct Fault {
    const char* name;
    int sig;
    const char* text;
    void (*raise_it)(const std::string& dir);
};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

class CrashSignal : public testing::TestWithParam<Fault> {};

} // namespace

TEST_P(CrashSignal, DiesByTheSignalAndLeavesAFullReport)
{
    const Fault& fault = GetParam();
    TempDir dir;
    std::string log = dir.file("run.log");
    ASSERT_TRUE(write_file(log, "10:00:00 INFO  started\n10:00:01 WARN  about to fail\n"));
    int status = run_child([&] {
        install_in(dir.path());
        qxcrash::set_log_file(log);
        qxcrash::set_context(qxcrash::Context::System, "OS: Testix 1\nCPU: imaginary\n");
        fault.raise_it(dir.path());
    });
    ASSERT_TRUE(died_of(status, fault.sig)) << "status " << status;

    std::string report = read_file(dir.file("qxTest_crash.txt"));
    EXPECT_EQ(report.rfind("=== qxTest crash report ===\nVersion: 9.8.7 (Build 42)\n", 0), 0u) << report;
    EXPECT_NE(report.find(std::string("\nSignal: ") + fault.text + "\nTime (unix): "), std::string::npos) << report;
    std::string running = section(report, "\nRunning for (s): ", "\n");
    EXPECT_TRUE(!running.empty() && running.find_first_not_of("0123456789") == std::string::npos) << running;
    EXPECT_NE(report.find("\nSystem: Linux "), std::string::npos);
    // At least a few frames, each as backtrace_symbols_fd prints it.
    std::string frames = section(report, "\nBacktrace:\n", "\n--- System ---\n");
    EXPECT_GE(std::count(frames.begin(), frames.end(), '['), 3) << frames;
    EXPECT_NE(report.find("\n--- System ---\nOS: Testix 1\nCPU: imaginary\n"), std::string::npos);
    EXPECT_EQ(section(report, "\nLog (last lines before the crash):\n", "\nLog file:\n"),
        "10:00:00 INFO  started\n10:00:01 WARN  about to fail\n");
    EXPECT_TRUE(report.ends_with("\nLog file:\n  " + log + "\n=== end of report ===\n"));
}

// The stack overflow needs the handler's own alternate stack.
INSTANTIATE_TEST_SUITE_P(Faults, CrashSignal,
    testing::Values(Fault { "segv", SIGSEGV, "SIGSEGV (Segmentation fault)", fault_segv },
        Fault { "abort", SIGABRT, "SIGABRT (Abort)", [](const std::string&) { abort(); } },
        Fault { "fpe", SIGFPE, "SIGFPE (Floating point exception)",
            [](const std::string&) {
                asm volatile("xor %%ecx, %%ecx\n\tmov $1, %%eax\n\tcltd\n\tidivl %%ecx" ::: "eax", "ecx", "edx", "cc");
            } },
        Fault { "ill", SIGILL, "SIGILL (Illegal instruction)", [](const std::string&) { asm volatile("ud2"); } },
        Fault { "trap", SIGTRAP, "SIGTRAP (Trap - usually a fatal GLib/GTK error)",
            [](const std::string&) { asm volatile("int3"); } },
        // Touching a mapped page that lies wholly past the end of its file.
        Fault { "bus", SIGBUS, "SIGBUS (Bus error)",
            [](const std::string& dir) {
                int fd = open((dir + "/empty.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
                *static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) = 1;
            } },
        Fault { "stack_overflow", SIGSEGV, "SIGSEGV (Segmentation fault)", [](const std::string&) { recurse(0); } }),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(CrashReport, HeaderFactsUnknownSignalAndContextOrder)
{
    TempDir dir;
    int status = run_child([&] {
        setenv("SNAP_REVISION", "77", 1);
        setenv("XDG_CURRENT_DESKTOP", "TestDesk", 1);
        unsetenv("XDG_SESSION_TYPE");
        install_in(dir.path());
        qd::set_header_package("deb qxtest 1.0 (/usr/bin/qxtest)");
        qxcrash::set_context(qxcrash::Context::System, "sys\n");
        qxcrash::set_context(qxcrash::Context::Graphics, "gpu\n");
        // The variables count as they were when the handler was armed.
        setenv("XDG_SESSION_TYPE", "x11", 1);
        qd::on_crash(SIGUSR1);
    });
    EXPECT_TRUE(died_of(status, SIGUSR1));
    std::string report = read_file(dir.file("qxTest_crash.txt"));
    EXPECT_NE(report.find("(Build 42)\nPackage: deb qxtest 1.0 (/usr/bin/qxtest)\nSnap revision: 77\n"
                          "Signal: unknown signal\n"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("\nDesktop: TestDesk\n\nBacktrace:\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("Session:"), std::string::npos);
    // Empty slots are left out; the others follow in slot order.
    EXPECT_NE(report.find("\n--- Graphics ---\ngpu\n\n--- System ---\nsys\n\nLog (last"), std::string::npos);
    EXPECT_EQ(report.find("--- Audio ---"), std::string::npos);
    EXPECT_NE(report.find("\nLog file:\n  (unknown)\n"), std::string::npos);
}

// Neither a missing directory nor a link in the report's place (which must
// not be written through) keeps the signal from ending the process.
TEST(CrashReport, UnwritableReportStillEndsTheProcessAndNoLinkIsFollowed)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious.txt"), "keep me"));
    ASSERT_EQ(symlink(dir.file("precious.txt").c_str(), dir.file("qxTest_crash.txt").c_str()), 0);
    for (const std::string& runtime : { dir.file("missing-dir"), dir.path() }) {
        int status = run_child([&] {
            install_in(runtime);
            fault_segv(runtime);
        });
        EXPECT_TRUE(died_of(status, SIGSEGV)) << runtime;
    }
    EXPECT_EQ(read_file(dir.file("precious.txt")), "keep me");
}

namespace {

char g_hook_mark[512];

void mark_hook()
{
    int fd = open(g_hook_mark, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0)
        close(fd);
}

} // namespace

// The program's hook runs before the report is written; the report and the
// signal's effect are the same as without it.
TEST(CrashReport, FatalHookRunsFirst)
{
    TempDir dir;
    snprintf(g_hook_mark, sizeof g_hook_mark, "%s", dir.file("hook-ran").c_str());
    int status = run_child([&] {
        install_in(dir.path());
        qxcrash::set_fatal_hook(mark_hook);
        fault_segv(dir.path());
    });
    EXPECT_TRUE(died_of(status, SIGSEGV));
    EXPECT_TRUE(testutil::file_exists(dir.file("hook-ran")));
    EXPECT_TRUE(read_file(dir.file("qxTest_crash.txt")).starts_with("=== qxTest crash report ===\n"));
}

TEST(CrashReport, LogTail)
{
    // 100 lines of 60 bytes: the last 2500 bytes begin 20 bytes into line 58.
    std::string long_log;
    for (int i = 0; i < 100; ++i)
        long_log += "line " + std::to_string(1000 + i) + std::string(50, ' ') + "\n";
    const std::pair<std::string, std::string> cases[] = {
        { "\nfirst\nsecond\n", "first\nsecond\n" },
        { "", "" },
        { long_log, long_log.substr(59 * 60) },
        { "start\n" + std::string(3000, 'x'), "" },
        // A last block that starts exactly on a line still loses that line.
        { std::string(499, 'a') + "\n" + std::string(2499, 'b') + "\n", "" },
    };
    for (const auto& [log_text, tail] : cases) {
        TempDir dir;
        std::string log = dir.file("run.log");
        ASSERT_TRUE(write_file(log, log_text));
        run_child([&] {
            install_in(dir.path());
            qxcrash::set_log_file(log);
            qd::on_crash(SIGUSR1);
        });
        std::string report = read_file(dir.file("qxTest_crash.txt"));
        EXPECT_EQ(section(report, "\nLog (last lines before the crash):\n", "\nLog file:\n"), tail) << log_text.size();
    }
}

TEST(CrashReport, PutNumPrintsEverySigned64BitValue)
{
    TempDir dir;
    int fd = open(dir.file("nums").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    for (int64_t value : { int64_t(0), int64_t(7), int64_t(-45), INT64_MAX, INT64_MIN }) {
        qd::put_num(fd, value);
        ASSERT_EQ(write(fd, " ", 1), 1);
    }
    close(fd);
    EXPECT_EQ(read_file(dir.file("nums")), "0 7 -45 9223372036854775807 -9223372036854775808 ");
}

TEST(ContextSlots, DoubleBufferedAndBounded)
{
    using qd::g_ctx;
    using qd::g_ctx_live;
    int before = g_ctx_live[1].load();
    qxcrash::set_context(qxcrash::Context::Audio, "first");
    int after_first = g_ctx_live[1].load();
    EXPECT_NE(after_first, before);
    EXPECT_STREQ(g_ctx[1][after_first], "first");

    qxcrash::set_context(qxcrash::Context::Audio, std::string(5000, 'z'));
    EXPECT_EQ(g_ctx_live[1].load(), before);
    EXPECT_EQ(std::string(g_ctx[1][before]), std::string(2047, 'z'));
    // The previous text stays whole in the other half until the next write.
    EXPECT_STREQ(g_ctx[1][after_first], "first");

    int live[3] = { g_ctx_live[0].load(), g_ctx_live[1].load(), g_ctx_live[2].load() };
    qxcrash::set_context(static_cast<qxcrash::Context>(3), "ignored");
    qxcrash::set_context(static_cast<qxcrash::Context>(-1), "ignored");
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_EQ(g_ctx_live[slot].load(), live[slot]);
}

namespace {

// Each test gets a fresh runtime directory and armed library; the handler
// stays installed in the test process, which is harmless.
class ReportFiles : public testing::Test {
protected:
    void SetUp() override
    {
        mkdir(m_dir.file("run").c_str(), 0700);
        mkdir(m_dir.file("config").c_str(), 0700);
        install_in(m_dir.file("run"));
    }
    TempDir m_dir;
};

} // namespace

TEST_F(ReportFiles, EarlyReportPathAndItsCrashLog)
{
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("run/qxTest_crash.txt"));
    EXPECT_EQ(qxcrash::crash_log_path(), m_dir.file("run/crash_log.txt"));

    // Without the runtime directory the report goes into a private folder
    // of this user inside the shared temporary one.
    std::string own = "qxTest-" + std::to_string(getuid());
    setenv("XDG_RUNTIME_DIR", "", 1);
    qxcrash::install(k_app);
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("run/" + own + "/qxTest_crash.txt")) << "TMPDIR is next";
    EXPECT_EQ(qxcrash::crash_log_path(), m_dir.file("run/" + own + "/crash_log.txt"));
    struct stat st {};
    ASSERT_EQ(lstat(m_dir.file("run/" + own).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("TMPDIR");
    qxcrash::install(k_app);
    EXPECT_EQ(qxcrash::report_path(), "/tmp/" + own + "/qxTest_crash.txt");
    rmdir(("/tmp/" + own).c_str());

    // A path that would have to be cut is not used at all.
    setenv("XDG_RUNTIME_DIR", (m_dir.path() + "/" + std::string(1100, 'd')).c_str(), 1);
    qxcrash::install(k_app);
    EXPECT_EQ(qxcrash::report_path(), "");
    EXPECT_EQ(qxcrash::crash_log_path(), "");
}

// What may already sit at the private folder's name in a shared TMPDIR: a
// link and another user's folder are refused; a folder of this user that
// others may enter is closed to them first.
TEST_F(ReportFiles, PrivateFolderInASharedTmpdir)
{
    std::string own = "qxTest-" + std::to_string(getuid());
    unsetenv("XDG_RUNTIME_DIR");
    struct Case {
        const char* name;
        std::function<void(const std::string& folder)> plant;
        bool used;
    } cases[] = {
        { "link", [&](const std::string& f) { ASSERT_EQ(symlink(m_dir.file("config").c_str(), f.c_str()), 0); },
          false },
        { "other user", [](const std::string& f) { ASSERT_TRUE(mkdir(f.c_str(), 0700) == 0 && chown(f.c_str(), 65534, 65534) == 0); },
          false },
        { "open to all", [](const std::string& f) { ASSERT_TRUE(mkdir(f.c_str(), 0777) == 0 && chmod(f.c_str(), 0777) == 0); },
          true },
        { "file", [](const std::string& f) { ASSERT_TRUE(write_file(f, "x")); }, false },
    };
    for (const auto& c : cases) {
        if (std::string(c.name) == "other user" && getuid() != 0)
            continue;
        TempDir shared;
        std::string folder = shared.file(own);
        c.plant(folder);
        setenv("TMPDIR", shared.path().c_str(), 1);
        qxcrash::install(k_app);
        EXPECT_EQ(qxcrash::report_path(), c.used ? folder + "/qxTest_crash.txt" : "") << c.name;
        struct stat st {};
        if (c.used) {
            ASSERT_EQ(lstat(folder.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << c.name;
        } else {
            EXPECT_TRUE(died_of(run_child([] { qd::on_crash(SIGUSR1); }), SIGUSR1)) << c.name;
        }
    }
    EXPECT_EQ(read_file(m_dir.file("config/qxTest_crash.txt")), "") << "nothing written through the link";
}

// Another user's file at the report's name in a shared sticky folder can
// neither be written into nor removed: the report is refused. Run as an
// unprivileged user in a child, with the other user being root.
TEST_F(ReportFiles, ForeignFileInASharedFolderIsNeverWritten)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to act as two users";
    TempDir shared;
    ASSERT_EQ(chmod(shared.path().c_str(), 01777), 0);
    std::string planted = shared.file("qxTest_crash.txt");
    ASSERT_TRUE(write_file(planted, "theirs"));
    ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
    for (bool runtime_set : { true, false }) {
        int status = run_child([&] {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            setenv("TMPDIR", shared.path().c_str(), 1);
            if (runtime_set)
                setenv("XDG_RUNTIME_DIR", shared.path().c_str(), 1);
            else
                unsetenv("XDG_RUNTIME_DIR");
            qxcrash::install(k_app);
            qd::on_crash(SIGUSR1);
        });
        EXPECT_TRUE(died_of(status, SIGUSR1)) << status;
        EXPECT_EQ(read_file(planted), "theirs") << runtime_set;
    }
    // Without the runtime directory the report landed in the private folder.
    std::string report = read_file(shared.file("qxTest-65534/qxTest_crash.txt"));
    EXPECT_TRUE(report.starts_with("=== qxTest crash report ===\n")) << report;
    struct stat st {};
    ASSERT_EQ(lstat(shared.file("qxTest-65534").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

namespace {

// A directory below `base` whose path is exactly `length` characters long,
// made of nested folders (a single name may not exceed 255 bytes).
std::string dir_of_length(const std::string& base, size_t length)
{
    std::string path = base;
    mkdir(path.c_str(), 0700);
    while (path.size() < length) {
        size_t left = length - path.size();
        // Each step adds '/' and a name; never leave a single byte to fill.
        size_t part = left <= 201 ? left - 1 : (left - 201 == 1 ? 199 : 200);
        path += "/" + std::string(part, 'p');
        mkdir(path.c_str(), 0700);
    }
    return path;
}

} // namespace

// Each fixed buffer holds 1023 characters and the final zero: a path one
// shorter than the buffer is used whole; one of the buffer's length or one
// longer is not used at all. A used report path also takes a real report.
TEST_F(ReportFiles, PathsAtTheBufferLength)
{
    const size_t size = sizeof qd::g_report;
    ASSERT_EQ(size, 1024u);
    for (size_t length : { size - 1, size, size + 1 }) {
        TempDir base;
        // The report in the runtime directory.
        std::string runtime = dir_of_length(base.path(), length - std::string("/qxTest_crash.txt").size());
        ASSERT_EQ(runtime.size() + 17, length);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        qxcrash::install(k_app);
        std::string want = length < size ? runtime + "/qxTest_crash.txt" : "";
        EXPECT_EQ(qxcrash::report_path(), want) << length;

        // The log file.
        std::string log = dir_of_length(base.path() + "/l", length - 4) + "/l.l";
        ASSERT_EQ(log.size(), length);
        ASSERT_TRUE(write_file(log, "a line\n"));
        qxcrash::set_log_file(log);
        EXPECT_EQ(std::string(qd::g_log), length < size ? log : "") << length;

        if (length < size) {
            EXPECT_TRUE(died_of(run_child([] { qd::on_crash(SIGUSR1); }), SIGUSR1));
            std::string report = read_file(want);
            EXPECT_TRUE(report.ends_with("\nLog file:\n  " + log + "\n=== end of report ===\n")) << report.size();
        }

        // The report folder, whose two names must both fit.
        std::string config = dir_of_length(base.path() + "/c", length - std::string("/crash_report.txt").size());
        qxcrash::set_report_dir(config);
        EXPECT_EQ(qxcrash::report_path(), length < size ? config + "/crash_report.txt" : want) << length;
    }
}

namespace {

// Sets a file's modification time to `seconds` after the epoch.
void set_mtime(const std::string& path, time_t seconds)
{
    timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

} // namespace

TEST_F(ReportFiles, SetReportDirMovesTheEarlyReportAndKeepsAWaitingOneWithIt)
{
    // Alone, the early report just moves.
    ASSERT_TRUE(write_file(m_dir.file("run/qxTest_crash.txt"), "early"));
    qxcrash::set_report_dir(m_dir.file("config"));
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("config/crash_report.txt"));
    EXPECT_EQ(qxcrash::crash_log_path(), m_dir.file("config/crash_log.txt"));
    EXPECT_EQ(read_file(m_dir.file("config/crash_report.txt")), "early");
    EXPECT_FALSE(testutil::file_exists(m_dir.file("run/qxTest_crash.txt")));

    // Meeting a report that was never sent, both stay, the newer first.
    const struct {
        time_t early, waiting;
        const char* merged;
    } cases[] = {
        { 2000, 1000, "early\n\nwaiting\n" },
        { 1000, 2000, "waiting\n\nearly\n" },
    };
    for (const auto& c : cases) {
        install_in(m_dir.file("run"));
        ASSERT_TRUE(write_file(m_dir.file("run/qxTest_crash.txt"), "early\n"));
        ASSERT_TRUE(write_file(m_dir.file("config/crash_report.txt"), "waiting\n"));
        set_mtime(m_dir.file("run/qxTest_crash.txt"), c.early);
        set_mtime(m_dir.file("config/crash_report.txt"), c.waiting);
        qxcrash::set_report_dir(m_dir.file("config"));
        EXPECT_EQ(read_file(m_dir.file("config/crash_report.txt")), c.merged);
        EXPECT_FALSE(testutil::file_exists(m_dir.file("run/qxTest_crash.txt")));
        EXPECT_FALSE(testutil::file_exists(m_dir.file("config/crash_report.txt.new")));
    }

    // Setting the same directory again moves nothing and keeps the report.
    ASSERT_TRUE(write_file(m_dir.file("config/crash_report.txt"), "early"));
    qxcrash::set_report_dir(m_dir.file("config"));
    EXPECT_EQ(read_file(m_dir.file("config/crash_report.txt")), "early");

    // A directory too long for the fixed buffers keeps the last good place.
    qxcrash::set_report_dir(m_dir.path() + "/" + std::string(1100, 'd'));
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("config/crash_report.txt"));

    EXPECT_TRUE(died_of(run_child([] { qd::on_crash(SIGUSR1); }), SIGUSR1));
    EXPECT_TRUE(read_file(m_dir.file("config/crash_report.txt")).starts_with("=== qxTest crash report ===\n"));
    EXPECT_FALSE(testutil::file_exists(m_dir.file("run/qxTest_crash.txt")));
}

TEST_F(ReportFiles, RotatedLogIsCopiedOnceForAPendingReportAndDiscardRemovesBoth)
{
    qxcrash::set_report_dir(m_dir.file("config"));
    std::string text = "untouched";
    EXPECT_FALSE(qxcrash::pending(&text));
    ASSERT_TRUE(write_file(qxcrash::report_path(), ""));
    EXPECT_FALSE(qxcrash::pending(&text));
    EXPECT_EQ(text, "untouched");

    // A report without a rotated log copies nothing.
    ASSERT_TRUE(write_file(qxcrash::report_path(), "the report"));
    EXPECT_EQ(qxcrash::rotate_log(m_dir.file("config/none.log")), "");
    EXPECT_TRUE(qxcrash::pending(nullptr));
    EXPECT_FALSE(testutil::file_exists(qxcrash::crash_log_path()));

    std::string log = m_dir.file("config/app.log");
    ASSERT_TRUE(write_file(log, "crashed run's log"));
    EXPECT_EQ(qxcrash::rotate_log(log), log + ".1");
    EXPECT_FALSE(testutil::file_exists(log));
    EXPECT_TRUE(qxcrash::pending(&text));
    EXPECT_EQ(text, "the report");
    EXPECT_EQ(read_file(qxcrash::crash_log_path()), "crashed run's log");

    // A second rotation replaces the old ".1"; an existing crash log is not overwritten.
    ASSERT_TRUE(write_file(log, "a later log"));
    EXPECT_EQ(qxcrash::rotate_log(log), log + ".1");
    EXPECT_EQ(read_file(log + ".1"), "a later log");
    EXPECT_TRUE(qxcrash::pending(nullptr));
    EXPECT_EQ(read_file(qxcrash::crash_log_path()), "crashed run's log");

    // A newer crash wrote a new report: the crash log left from the older
    // one does not belong to it and gives way to the newer run's log.
    set_mtime(qxcrash::crash_log_path(), 1000);
    set_mtime(qxcrash::report_path(), 2000);
    EXPECT_TRUE(qxcrash::pending(nullptr));
    EXPECT_EQ(read_file(qxcrash::crash_log_path()), "a later log");

    qxcrash::discard();
    EXPECT_FALSE(testutil::file_exists(qxcrash::report_path()));
    EXPECT_FALSE(testutil::file_exists(qxcrash::crash_log_path()));
    EXPECT_FALSE(qxcrash::pending(&text));
}

TEST(FileHelpers, CopyAndBoundedRead)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("empty"), ""));
    EXPECT_TRUE(qd::file_copy(dir.file("empty"), dir.file("copy")));
    EXPECT_TRUE(testutil::file_exists(dir.file("copy")));
    EXPECT_FALSE(qd::file_copy(dir.file("absent"), dir.file("copy2")));
    EXPECT_FALSE(testutil::file_exists(dir.file("copy2")));

    ASSERT_TRUE(write_file(dir.file("big"), std::string(10000, 'q')));
    std::string text = "old";
    EXPECT_TRUE(qd::file_read(dir.file("big"), &text, 5000));
    EXPECT_EQ(text.size(), 8192u) << "whole 4096-byte blocks until the limit is passed";
    EXPECT_FALSE(qd::file_read(dir.file("absent"), &text, 10));
}

namespace {

// Sets, or with null unsets, environment variables. Each test that depends
// on them sets all it needs; a plain installation has no SNAP, FLATPAK_ID or APPDIR.
void set_env(std::initializer_list<std::pair<const char*, const char*>> vars)
{
    for (const auto& [name, value] : vars)
        value ? setenv(name, value, 1) : unsetenv(name);
}

std::vector<std::string> g_logged;

std::string live_context(int slot)
{
    return qd::g_ctx[slot][qd::g_ctx_live[slot].load()];
}

// A fake root directory (or /sys/class/drm) under tests/data/qxcrash/.
std::string data_root(const std::string& name)
{
    return testutil::tests_dir() + "/data/qxcrash/" + name;
}

} // namespace

TEST(Recording, LinesAreLoggedAndKeptAsContext)
{
    qxcrash::App app = k_app;
    app.log = [](const char* level, const std::string& message) { g_logged.push_back(std::string(level) + " " + message); };
    qd::set_app(app);

    // The same audio lines again are not logged twice.
    g_logged.clear();
    qxcrash::record_audio({ "card A", "card B" });
    qxcrash::record_audio({ "card A", "card B" });
    EXPECT_EQ(g_logged, (std::vector<std::string> { "INFO Audio: card A", "INFO Audio: card B" }));
    EXPECT_EQ(live_context(1), "card A\ncard B\n");
    qxcrash::record_audio({ "card C" });
    EXPECT_EQ(g_logged.size(), 3u);

    g_logged.clear();
    qxcrash::record_graphics({ "renderer: software" });
    ASSERT_FALSE(g_logged.empty());
    EXPECT_EQ(last_of(g_logged), "INFO Graphics: renderer: software");
    EXPECT_TRUE(first_of(g_logged).starts_with("INFO Graphics: GPU"));

    // The system lines go to the log and into the System slot, and the
    // package line into the report's header.
    set_env({ { "SNAP", nullptr }, { "FLATPAK_ID", nullptr }, { "APPDIR", nullptr }, { "XDG_CURRENT_DESKTOP", nullptr },
        { "XDG_SESSION_TYPE", "wayland" }, { "DISPLAY", ":1" }, { "WAYLAND_DISPLAY", "" }, { "LANG", "de_DE.UTF-8" } });
    g_logged.clear();
    qxcrash::record_system();
    std::vector<std::string> lines;
    for (const std::string& line : g_logged) {
        ASSERT_TRUE(line.starts_with("INFO System: ")) << line;
        lines.push_back(line.substr(13));
    }
    EXPECT_EQ(live_context(2), qd::join(lines));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_TRUE(lines[0].starts_with("OS: "));
    EXPECT_TRUE(lines[1].starts_with("Kernel: Linux "));
    EXPECT_EQ(lines[2], std::string("glibc: ") + gnu_get_libc_version());
    EXPECT_TRUE(lines[3].starts_with("CPU: "));
    EXPECT_TRUE(lines[4].starts_with("RAM: ") && lines[4].ends_with(" MB"));
    EXPECT_EQ(lines[5], "Session: desktop ?, type wayland, X :1, lang de_DE.UTF-8");
    // The test binary belongs to no package of this machine.
    std::string package = "unpackaged (" + std::filesystem::canonical("/proc/self/exe").string() + ")";
    EXPECT_EQ(lines[6], "Package: " + package);
    EXPECT_EQ(qd::g_package, package);
    EXPECT_TRUE(lines[7].starts_with("ALSA card"));
    qd::set_app(qxcrash::App {});
}


TEST(SystemFacts, FactsFromFilesBelowARoot)
{
    using Fact = std::string (*)(const std::string& root);
    Fact sound = [](const std::string& root) { return qd::join(qd::sound_lines(root)); };
    std::string threads = std::to_string(sysconf(_SC_NPROCESSORS_ONLN));
    const struct {
        const char* root;
        Fact fact;
        std::string expected;
        bool flatpak = false;
    } cases[] = {
        { "machine", qd::os_line, "Debian GNU/Linux 12 (bookworm) (debian 12)" },
        { "machine", qd::cpu_line, "Fake CPU @ 3.00GHz, " + threads + " threads" },
        { "machine", qd::ram_line, "RAM: 16000 MB, available 8000 MB" },
        { "machine", sound, "ALSA card 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
                            "ALSA card 1 [NVidia         ]: HDA-Intel - HDA NVidia\n" },
        { "odd", qd::os_line, "Ubuntu 22.04.4 LTS (ubuntu 22.04, like debian)" },
        { "odd", qd::cpu_line, "unknown" },
        { "odd", qd::ram_line, "RAM: unknown, available 2 MB" },
        { "odd", sound, "ALSA cards: none\n" },
        { "none", qd::os_line, "unknown" },
        { "none", qd::cpu_line, "unknown" },
        { "none", qd::ram_line, "RAM: unknown" },
        { "none", sound, "ALSA cards: not readable\n" },
        { "sandbox", qd::os_line, "host not readable from the sandbox; sandbox: Freedesktop SDK 23.08 (Flatpak runtime)", true },
        { "sandbox-host", qd::os_line, "Fedora Linux 40 (fedora 40)", true },
        { "none", qd::os_line, "unknown", true },
    };
    for (const auto& c : cases) {
        set_env({ { "SNAP", nullptr }, { "APPDIR", nullptr }, { "FLATPAK_ID", c.flatpak ? "org.example.Qx" : nullptr } });
        EXPECT_EQ(c.fact(data_root(c.root)), c.expected) << c.root;
    }
    unsetenv("FLATPAK_ID");
}

TEST(SystemFacts, OsLineOfThisMachine)
{
    std::string text = read_file("/etc/os-release");
    if (qd::os_value(text, "ID") != "debian" || qd::os_value(text, "VERSION_ID") != "12")
        GTEST_SKIP() << "the expected line is that of Debian 12";
    set_env({ { "SNAP", nullptr }, { "APPDIR", nullptr }, { "FLATPAK_ID", nullptr } });
    EXPECT_EQ(qd::os_line(), "Debian GNU/Linux 12 (bookworm) (debian 12)");
}

TEST(PackageFacts, FoundOncePerProcess)
{
    set_env({ { "SNAP", nullptr }, { "FLATPAK_ID", nullptr }, { "APPDIR", nullptr } });
    std::string first = qxcrash::package_line();
    // Start-up asks again for the report header and the system lines; the
    // answer is the one found first, not searched anew.
    set_env({ { "APPDIR", "/tmp/appdir" }, { "APPIMAGE", "/tmp/qx.AppImage" } });
    EXPECT_EQ(qxcrash::package_line(), first);
    std::vector<std::string> lines = qxcrash::system_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Package: " + first), lines.end());
    set_env({ { "APPDIR", nullptr }, { "APPIMAGE", nullptr } });
}

TEST(SystemFacts, GraphicsCards)
{
    // Cards 10 and 2 have no facts; a connector and a render node are no cards.
    TempDir drm;
    std::filesystem::copy(data_root("drm"), drm.path(), std::filesystem::copy_options::recursive);
    ASSERT_EQ(symlink("../../drivers/i915", drm.file("card0/device/driver").c_str()), 0);
    for (const char* name : { "card10", "card2", "card0-eDP-1", "renderD128" })
        std::filesystem::create_directories(drm.file(name) + "/device");
    EXPECT_EQ(qd::gpu_lines_in(drm.path()), (std::vector<std::string> {
        "GPU card0: PCI 0x8086:0x9a49 (subsystem 0x1028:0x0a36), driver i915, boot_vga",
        "GPU card1: PCI 0x10de:0x1f95, driver ?",
        "GPU card10: PCI :, driver ?",
        "GPU card2: PCI :, driver ?",
    }));
    EXPECT_EQ(qd::gpu_lines_in(drm.file("renderD128")), std::vector<std::string> { "GPUs: none in " + drm.file("renderD128") });
    EXPECT_EQ(qd::gpu_lines_in(drm.file("absent")), std::vector<std::string> { "GPUs: " + drm.file("absent") + " not readable" });
}

TEST(PackageFacts, OwnerInTheDebianRpmAndPacmanDatabases)
{
    qxcrash::App app = k_app;
    app.package = "qxferndockassembleride";
    qd::set_app(app);
    TempDir root;
    std::filesystem::copy(data_root("packages"), root.path(), std::filesystem::copy_options::recursive);
    ASSERT_EQ(chmod((root.path() + "/usr/bin/rpm").c_str(), 0755), 0);
    const std::pair<const char*, const char*> owners[] = {
        { "/usr/bin/qxferndockassembleride", "deb qxferndockassembleride:amd64 1.0.2-1" },
        { "/usr/bin/sometool-helper", "deb sometool:amd64 2.3-1" },
        { "/usr/bin/nv", "deb noversion" },
        { "/usr/bin/other", "" },
        { "/opt/qx/tool", "rpm qxtool 4.5-1.fc40" },
        { "/opt/qx/pipe", "rpm sigpipe-default 1-1" }, // the query does not inherit the ignored SIGPIPE
        { "/opt/qx/other", "" },
        { "/opt/it's/tool", "" }, // quoted paths never reach the shell
        { "/opt/qx/ptool", "arch ptool-1.0-1" },
        { "/opt/qx/nothing", "" },
    };
    // As in the program, which ignores SIGPIPE for itself.
    auto old_pipe = signal(SIGPIPE, SIG_IGN);
    for (const auto& [exe, owner] : owners)
        EXPECT_EQ(qd::package_owner(root.path(), exe), owner) << exe;
    signal(SIGPIPE, old_pipe);
    EXPECT_EQ(qd::plain_package_line(root.path(), "/opt/qx/tool"), "rpm qxtool 4.5-1.fc40 (/opt/qx/tool)");
    EXPECT_EQ(qd::plain_package_line(root.path(), "/usr/bin/bin"), "unpackaged (/usr/bin/bin)");
    qd::set_app(qxcrash::App {});
}
