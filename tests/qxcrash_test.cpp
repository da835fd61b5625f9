// The crash library: real faults in forked children leave real reports; the
// report files, the log rotation and the context slots work on real files.
#include "qxcrash.h"
#include "qxcrash_detail.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gnu/libc-version.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

using testutil::read_file;
using testutil::TempDir;
using testutil::write_file;

namespace {

qxcrash::App test_app()
{
    qxcrash::App app;
    app.name = "qxTest";
    app.version = "9.8.7";
    app.build = "42";
    return app;
}

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
    waitpid(pid, &status, 0);
    return status;
}

void install_in(const std::string& runtime_dir)
{
    setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    setenv("TMPDIR", runtime_dir.c_str(), 1);
    qxcrash::install(test_app());
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
void fault_abort(const std::string&) { abort(); }
void fault_fpe(const std::string&)
{
    asm volatile("xor %%ecx, %%ecx\n\tmov $1, %%eax\n\tcltd\n\tidivl %%ecx" ::: "eax", "ecx", "edx", "cc");
}
void fault_ill(const std::string&) { asm volatile("ud2"); }
void fault_trap(const std::string&) { asm volatile("int3"); }
void fault_bus(const std::string& dir)
{
    // Touching a mapped page that lies wholly past the end of its file.
    int fd = open((dir + "/empty.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    *static_cast<volatile char*>(page) = 1;
}
void fault_stack_overflow(const std::string&) { recurse(0); }

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
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), fault.sig);

    std::string report = read_file(dir.file("qxTest_crash.txt"));
    ASSERT_FALSE(report.empty());
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
    EXPECT_NE(report.find("\nLog file:\n  " + log + "\n=== end of report ===\n"), std::string::npos);
    EXPECT_TRUE(report.ends_with("=== end of report ===\n"));
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashSignal,
    testing::Values(Fault { "segv", SIGSEGV, "SIGSEGV (Segmentation fault)", fault_segv },
        Fault { "abort", SIGABRT, "SIGABRT (Abort)", fault_abort },
        Fault { "fpe", SIGFPE, "SIGFPE (Floating point exception)", fault_fpe },
        Fault { "ill", SIGILL, "SIGILL (Illegal instruction)", fault_ill },
        Fault { "trap", SIGTRAP, "SIGTRAP (Trap - usually a fatal GLib/GTK error)", fault_trap },
        Fault { "bus", SIGBUS, "SIGBUS (Bus error)", fault_bus },
        Fault { "stack_overflow", SIGSEGV, "SIGSEGV (Segmentation fault)", fault_stack_overflow }),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(CrashReport, HeaderFactsUnknownSignalAndContextOrder)
{
    TempDir dir;
    int status = run_child([&] {
        setenv("SNAP_REVISION", "77", 1);
        setenv("XDG_CURRENT_DESKTOP", "TestDesk", 1);
        unsetenv("XDG_SESSION_TYPE");
        install_in(dir.path());
        qxcrash::detail::set_header_package("deb qxtest 1.0 (/usr/bin/qxtest)");
        qxcrash::set_context(qxcrash::Context::System, "sys\n");
        qxcrash::set_context(qxcrash::Context::Graphics, "gpu\n");
        // The variables count as they were when the handler was armed.
        setenv("XDG_SESSION_TYPE", "x11", 1);
        qxcrash::detail::on_crash(SIGUSR1);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGUSR1);
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

TEST(CrashReport, UnwritableReportStillEndsTheProcess)
{
    TempDir dir;
    int status = run_child([&] {
        install_in(dir.file("missing-dir"));
        fault_segv(dir.path());
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
}

TEST(CrashReport, DoesNotWriteThroughASymlinkedReport)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious.txt"), "keep me"));
    ASSERT_EQ(symlink(dir.file("precious.txt").c_str(), dir.file("qxTest_crash.txt").c_str()), 0);
    int status = run_child([&] {
        install_in(dir.path());
        abort();
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
    EXPECT_EQ(read_file(dir.file("precious.txt")), "keep me");
}

namespace {

// The report's log section for a log file holding `log_text`.
std::string log_section_for(const std::string& log_text)
{
    TempDir dir;
    std::string log = dir.file("run.log");
    write_file(log, log_text);
    run_child([&] {
        install_in(dir.path());
        qxcrash::set_log_file(log);
        qxcrash::detail::on_crash(SIGUSR1);
    });
    return section(read_file(dir.file("qxTest_crash.txt")), "\nLog (last lines before the crash):\n", "\nLog file:\n");
}

} // namespace

TEST(CrashReport, LogTail)
{
    EXPECT_EQ(log_section_for("\nfirst\nsecond\n"), "first\nsecond\n");
    EXPECT_EQ(log_section_for(""), "");

    // 100 lines of 60 bytes: the last 2500 bytes begin 20 bytes into line 58.
    std::string long_log;
    for (int i = 0; i < 100; ++i) {
        char line[61];
        snprintf(line, sizeof line, "line %03d %50s\n", i, "padding");
        long_log += line;
    }
    ASSERT_EQ(long_log.size(), 6000u);
    std::string tail = log_section_for(long_log);
    EXPECT_EQ(tail, long_log.substr(59 * 60));

    EXPECT_EQ(log_section_for("start\n" + std::string(3000, 'x')), "");
    // A last block that starts exactly on a line still loses that line.
    std::string aligned = std::string(499, 'a') + "\n" + std::string(2499, 'b') + "\n";
    EXPECT_EQ(log_section_for(aligned), "");
}

TEST(CrashReport, PutNumPrintsEverySigned64BitValue)
{
    TempDir dir;
    std::string path = dir.file("nums");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    for (int64_t value : { int64_t(0), int64_t(7), int64_t(-45), INT64_MAX, INT64_MIN }) {
        qxcrash::detail::put_num(fd, value);
        ASSERT_EQ(write(fd, " ", 1), 1);
    }
    close(fd);
    EXPECT_EQ(read_file(path), "0 7 -45 9223372036854775807 -9223372036854775808 ");
}

TEST(ContextSlots, DoubleBufferedAndBounded)
{
    using namespace qxcrash::detail;
    int before = g_ctx_live[1].load();
    qxcrash::set_context(qxcrash::Context::Audio, "first");
    int after_first = g_ctx_live[1].load();
    EXPECT_NE(after_first, before);
    EXPECT_STREQ(g_ctx[1][after_first], "first");

    qxcrash::set_context(qxcrash::Context::Audio, std::string(5000, 'z'));
    int after_second = g_ctx_live[1].load();
    EXPECT_EQ(after_second, before);
    EXPECT_EQ(std::string(g_ctx[1][after_second]), std::string(2047, 'z'));
    // The previous text stays whole in the other half until the next write.
    EXPECT_STREQ(g_ctx[1][after_first], "first");

    int live[3] = { g_ctx_live[0].load(), g_ctx_live[1].load(), g_ctx_live[2].load() };
    qxcrash::set_context(static_cast<qxcrash::Context>(3), "ignored");
    qxcrash::set_context(static_cast<qxcrash::Context>(-1), "ignored");
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_EQ(g_ctx_live[slot].load(), live[slot]);
}

namespace {

std::vector<std::string> g_logged;
void capture_log(const char* level, const std::string& message)
{
    g_logged.push_back(std::string(level) + " " + message);
}

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

    setenv("XDG_RUNTIME_DIR", "", 1);
    qxcrash::install(test_app());
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("run/qxTest_crash.txt")) << "TMPDIR is next";
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("TMPDIR");
    qxcrash::install(test_app());
    EXPECT_EQ(qxcrash::report_path(), "/tmp/qxTest_crash.txt");

    // A path that would have to be cut is not used at all.
    setenv("XDG_RUNTIME_DIR", (m_dir.path() + "/" + std::string(1100, 'd')).c_str(), 1);
    qxcrash::install(test_app());
    EXPECT_EQ(qxcrash::report_path(), "");
    EXPECT_EQ(qxcrash::crash_log_path(), "");
}

TEST_F(ReportFiles, SetReportDirMovesTheEarlyReportOverAnOlderOne)
{
    ASSERT_TRUE(write_file(m_dir.file("run/qxTest_crash.txt"), "early"));
    ASSERT_TRUE(write_file(m_dir.file("config/crash_report.txt"), "older"));
    qxcrash::set_report_dir(m_dir.file("config"));
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("config/crash_report.txt"));
    EXPECT_EQ(qxcrash::crash_log_path(), m_dir.file("config/crash_log.txt"));
    EXPECT_EQ(read_file(m_dir.file("config/crash_report.txt")), "early");
    EXPECT_FALSE(testutil::file_exists(m_dir.file("run/qxTest_crash.txt")));

    // Setting the same directory again moves nothing and keeps the report.
    qxcrash::set_report_dir(m_dir.file("config"));
    EXPECT_EQ(read_file(m_dir.file("config/crash_report.txt")), "early");

    // A directory too long for the fixed buffers keeps the last good place.
    qxcrash::set_report_dir(m_dir.path() + "/" + std::string(1100, 'd'));
    EXPECT_EQ(qxcrash::report_path(), m_dir.file("config/crash_report.txt"));
}

TEST_F(ReportFiles, CrashAfterSetReportDirWritesThere)
{
    std::string config = m_dir.file("config");
    int status = run_child([&] {
        qxcrash::set_report_dir(config);
        qxcrash::detail::on_crash(SIGUSR1);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGUSR1);
    EXPECT_TRUE(read_file(m_dir.file("config/crash_report.txt")).starts_with("=== qxTest crash report ===\n"));
    EXPECT_FALSE(testutil::file_exists(m_dir.file("run/qxTest_crash.txt")));
}

TEST_F(ReportFiles, RotateLog)
{
    std::string log = m_dir.file("config/app.log");
    EXPECT_EQ(qxcrash::rotate_log(log), "");
    ASSERT_TRUE(write_file(log, "run 1"));
    EXPECT_EQ(qxcrash::rotate_log(log), log + ".1");
    ASSERT_TRUE(write_file(log, "run 2"));
    EXPECT_EQ(qxcrash::rotate_log(log), log + ".1");
    EXPECT_EQ(read_file(log + ".1"), "run 2");
    EXPECT_FALSE(testutil::file_exists(log));
}

TEST_F(ReportFiles, PendingCopiesThePreviousLogOnceAndDiscardRemovesBoth)
{
    qxcrash::set_report_dir(m_dir.file("config"));
    std::string text = "untouched";
    EXPECT_FALSE(qxcrash::pending(&text));
    ASSERT_TRUE(write_file(qxcrash::report_path(), ""));
    EXPECT_FALSE(qxcrash::pending(&text));
    EXPECT_EQ(text, "untouched");

    // A report without a rotated log copies nothing.
    ASSERT_TRUE(write_file(qxcrash::report_path(), "the report"));
    qxcrash::rotate_log(m_dir.file("config/none.log"));
    EXPECT_TRUE(qxcrash::pending(nullptr));
    EXPECT_FALSE(testutil::file_exists(qxcrash::crash_log_path()));

    std::string log = m_dir.file("config/app.log");
    ASSERT_TRUE(write_file(log, "crashed run's log"));
    qxcrash::rotate_log(log);
    EXPECT_TRUE(qxcrash::pending(&text));
    EXPECT_EQ(text, "the report");
    EXPECT_EQ(read_file(qxcrash::crash_log_path()), "crashed run's log");

    // An existing crash log is not overwritten.
    ASSERT_TRUE(write_file(log, "a later log"));
    qxcrash::rotate_log(log);
    EXPECT_TRUE(qxcrash::pending(nullptr));
    EXPECT_EQ(read_file(qxcrash::crash_log_path()), "crashed run's log");

    qxcrash::discard();
    EXPECT_FALSE(testutil::file_exists(qxcrash::report_path()));
    EXPECT_FALSE(testutil::file_exists(qxcrash::crash_log_path()));
    EXPECT_FALSE(qxcrash::pending(&text));
}

TEST(FileHelpers, CopyAndBoundedRead)
{
    using namespace qxcrash::detail;
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("empty"), ""));
    EXPECT_TRUE(file_copy(dir.file("empty"), dir.file("copy")));
    EXPECT_TRUE(testutil::file_exists(dir.file("copy")));
    EXPECT_FALSE(file_copy(dir.file("absent"), dir.file("copy2")));
    EXPECT_FALSE(testutil::file_exists(dir.file("copy2")));

    ASSERT_TRUE(write_file(dir.file("big"), std::string(10000, 'q')));
    std::string text = "old";
    EXPECT_TRUE(file_read(dir.file("big"), &text, 5000));
    EXPECT_EQ(text.size(), 8192u) << "whole 4096-byte blocks until the limit is passed";
    EXPECT_TRUE(file_copy(dir.file("big"), dir.file("copy")));
    EXPECT_EQ(read_file(dir.file("copy")), std::string(10000, 'q'));
    EXPECT_FALSE(file_read(dir.file("absent"), &text, 10));
}

TEST(Recording, LinesAreLoggedAndKeptAsContext)
{
    using namespace qxcrash::detail;
    qxcrash::App app = test_app();
    app.log = capture_log;
    set_app(app);

    g_logged.clear();
    qxcrash::record_audio({ "card A", "card B" });
    qxcrash::record_audio({ "card A", "card B" });
    EXPECT_EQ(g_logged, (std::vector<std::string> { "INFO Audio: card A", "INFO Audio: card B" }));
    EXPECT_STREQ(g_ctx[1][g_ctx_live[1].load()], "card A\ncard B\n");
    qxcrash::record_audio({ "card C" });
    EXPECT_EQ(g_logged.size(), 3u);

    g_logged.clear();
    qxcrash::record_graphics({ "renderer: software" });
    ASSERT_FALSE(g_logged.empty());
    EXPECT_EQ(g_logged.back(), "INFO Graphics: renderer: software");
    EXPECT_TRUE(g_logged.front().starts_with("INFO Graphics: GPU"));

    g_logged.clear();
    qxcrash::record_system();
    std::string system = g_ctx[2][g_ctx_live[2].load()];
    ASSERT_GE(g_logged.size(), 8u);
    EXPECT_TRUE(g_logged[0].starts_with("INFO System: OS: "));
    std::string logged;
    for (const std::string& line : g_logged) {
        ASSERT_TRUE(line.starts_with("INFO System: ")) << line;
        logged += line.substr(13) + "\n";
    }
    EXPECT_EQ(system, logged);
    EXPECT_NE(system.find("\nPackage: " + std::string(g_package) + "\n"), std::string::npos) << system;
    set_app(qxcrash::App {});
}

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvGuard {
public:
    void set(const char* name, const char* value)
    {
        if (!m_saved.count(name)) {
            const char* old = getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard()
    {
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

void plain_install(EnvGuard& env)
{
    env.set("SNAP", nullptr);
    env.set("FLATPAK_ID", nullptr);
    env.set("APPDIR", nullptr);
}

void put(const TempDir& root, const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(root.path() + path).parent_path());
    ASSERT_TRUE(write_file(root.path() + path, text));
}

} // namespace

TEST(SystemFacts, TrimAndOsReleaseValues)
{
    using namespace qxcrash::detail;
    EXPECT_EQ(trim(" \ta b \t\n\n"), "a b");
    EXPECT_EQ(trim("\tx\r\n"), "x\r");
    EXPECT_EQ(trim(" \n\t"), "");
    std::string text = "NAME=\"Debian\nPRETTY_NAME=\"Debian GNU/Linux 12\"\nID=debian\nQ=\"\nVERSION_ID='12'";
    EXPECT_EQ(os_value(text, "PRETTY_NAME"), "Debian GNU/Linux 12");
    EXPECT_EQ(os_value(text, "VERSION_ID"), "12");
    EXPECT_EQ(os_value(text, "NAME"), "Debia");
    EXPECT_EQ(os_value(text, "Q"), "\"");
    EXPECT_EQ(os_value(text, "ID"), "debian");
    EXPECT_EQ(os_value(text, "VERSION"), "");
}

TEST(SystemFacts, OsLine)
{
    using qxcrash::detail::os_line;
    EnvGuard env;
    plain_install(env);
    TempDir debian, ubuntu, none, flatpak;
    put(debian, "/etc/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\nVERSION_ID=\"12\"\n");
    put(debian, "/usr/lib/os-release", "PRETTY_NAME=\"not this one\"\n");
    EXPECT_EQ(os_line(debian.path()), "Debian GNU/Linux 12 (bookworm) (debian 12)");
    put(ubuntu, "/usr/lib/os-release", "ID=ubuntu\nID_LIKE=debian\nPRETTY_NAME=\"Ubuntu 22.04.4 LTS\"\nVERSION_ID=\"22.04\"");
    EXPECT_EQ(os_line(ubuntu.path()), "Ubuntu 22.04.4 LTS (ubuntu 22.04, like debian)");
    EXPECT_EQ(os_line(none.path()), "unknown");

    env.set("FLATPAK_ID", "org.example.Qx");
    put(flatpak, "/usr/lib/os-release", "PRETTY_NAME=\"Freedesktop SDK 23.08 (Flatpak runtime)\"\nID=org.freedesktop.platform\n");
    EXPECT_EQ(os_line(flatpak.path()), "host not readable from the sandbox; sandbox: Freedesktop SDK 23.08 (Flatpak runtime)");
    put(flatpak, "/run/host/os-release", "PRETTY_NAME=\"Fedora Linux 40\"\nID=fedora\nVERSION_ID=40\n");
    EXPECT_EQ(os_line(flatpak.path()), "Fedora Linux 40 (fedora 40)");
    EXPECT_EQ(os_line(none.path()), "unknown");
}

TEST(SystemFacts, CpuRamAndSound)
{
    using namespace qxcrash::detail;
    TempDir root, empty;
    put(root, "/proc/cpuinfo",
        "processor\t: 0\nvendor_id\t: Fake\nmodel name\t: Fake CPU @ 3.00GHz \n\n"
        "processor\t: 1\nmodel name\t: Other CPU\n");
    EXPECT_EQ(cpu_line(root.path()),
        "Fake CPU @ 3.00GHz, " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " threads");
    EXPECT_EQ(cpu_line(empty.path()), "unknown");
    put(empty, "/proc/cpuinfo", "processor : 0\nflags : fpu\n");
    EXPECT_EQ(cpu_line(empty.path()), "unknown");

    put(root, "/proc/meminfo", "MemTotal:       16384000 kB\nMemFree:  1 kB\nMemAvailable:    8192000 kB");
    EXPECT_EQ(ram_line(root.path()), "RAM: 16000 MB, available 8000 MB");
    put(root, "/proc/meminfo", "MemTotal: 0 kB\nMemAvailable: 2048 kB\n");
    EXPECT_EQ(ram_line(root.path()), "RAM: unknown, available 2 MB");
    EXPECT_EQ(ram_line(root.path() + "/nowhere"), "RAM: unknown");

    put(root, "/proc/asound/cards",
        " 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
        "                      HDA Intel PCH at 0xf7f10000 irq 32\n"
        " 1 [NVidia         ]: HDA-Intel - HDA NVidia");
    EXPECT_EQ(sound_lines(root.path()), (std::vector<std::string> {
        "ALSA card 0 [PCH            ]: HDA-Intel - HDA Intel PCH", "ALSA card 1 [NVidia         ]: HDA-Intel - HDA NVidia" }));
    put(root, "/proc/asound/cards", "--- no soundcards ---\n");
    EXPECT_EQ(sound_lines(root.path()), std::vector<std::string> { "ALSA cards: none" });
    EXPECT_EQ(sound_lines(root.path() + "/nowhere"), std::vector<std::string> { "ALSA cards: not readable" });
}

TEST(SystemFacts, GraphicsCards)
{
    using qxcrash::detail::gpu_lines_in;
    TempDir drm;
    put(drm, "/card0/device/vendor", "0x8086\n");
    put(drm, "/card0/device/device", "0x9a49\n");
    put(drm, "/card0/device/subsystem_vendor", "0x1028\n");
    put(drm, "/card0/device/subsystem_device", "0x0a36\n");
    put(drm, "/card0/device/boot_vga", "1\n");
    put(drm, "/drivers/i915/bind", "");
    ASSERT_EQ(symlink("../../drivers/i915", drm.file("card0/device/driver").c_str()), 0);
    put(drm, "/card1/device/vendor", "0x10de\n");
    put(drm, "/card1/device/device", "0x1f95\n");
    put(drm, "/card1/device/boot_vga", "0\n");
    for (const char* name : { "card10", "card2", "card0-eDP-1", "renderD128" })
        std::filesystem::create_directories(drm.file(name) + "/device");
    put(drm, "/version", "drm 1.1.0\n");
    EXPECT_EQ(gpu_lines_in(drm.path()), (std::vector<std::string> {
        "GPU card0: PCI 0x8086:0x9a49 (subsystem 0x1028:0x0a36), driver i915, boot_vga",
        "GPU card1: PCI 0x10de:0x1f95, driver ?",
        "GPU card10: PCI :, driver ?",
        "GPU card2: PCI :, driver ?",
    }));
    EXPECT_EQ(gpu_lines_in(drm.file("renderD128")), std::vector<std::string> { "GPUs: none in " + drm.file("renderD128") });
    EXPECT_EQ(gpu_lines_in(drm.file("absent")), std::vector<std::string> { "GPUs: " + drm.file("absent") + " not readable" });
}

TEST(PackageFacts, DebianDatabase)
{
    using namespace qxcrash::detail;
    qxcrash::App app = test_app();
    app.package = "qxferndockassembleride";
    set_app(app);
    TempDir root;
    put(root, "/var/lib/dpkg/status",
        "Package: sometool\nStatus: install ok installed\nVersion: 2.3-1\n\n"
        "Package: qxferndockassembleride\nArchitecture: amd64\nVersion: 1.0.2-1\n\n"
        "Package: noversion\nStatus: install ok installed\n");
    put(root, "/var/lib/dpkg/info/qxferndockassembleride:amd64.list", "/.\n/usr\n/usr/bin/qxferndockassembleride\n");
    put(root, "/var/lib/dpkg/info/sometool:amd64.list", "/usr/bin/sometool\n/usr/bin/sometool-helper");
    put(root, "/var/lib/dpkg/info/noversion.list", "/usr/bin/nv\n");
    put(root, "/var/lib/dpkg/info/sometool.md5sums", "/usr/bin/other\n");
    EXPECT_EQ(package_owner(root.path(), "/usr/bin/qxferndockassembleride"), "deb qxferndockassembleride:amd64 1.0.2-1");
    EXPECT_EQ(package_owner(root.path(), "/usr/bin/sometool-helper"), "deb sometool:amd64 2.3-1");
    EXPECT_EQ(package_owner(root.path(), "/usr/bin/nv"), "deb noversion");
    EXPECT_EQ(package_owner(root.path(), "/usr/bin/other"), "");
    EXPECT_EQ(plain_package_line(root.path(), "/usr/bin/bin"), "unpackaged (/usr/bin/bin)");
    set_app(qxcrash::App {});
}

TEST(PackageFacts, RpmAndPacmanDatabases)
{
    using namespace qxcrash::detail;
    TempDir root;
    put(root, "/usr/bin/rpm",
        "#!/bin/sh\n"
        "[ \"$1 $2 $3\" = '-qf --qf %{NAME} %{VERSION}-%{RELEASE}' ] || exit 3\n"
        "[ \"$4\" = /opt/qx/tool ] && { printf 'qxtool 4.5-1.fc40\\n'; exit 0; }\n"
        "echo \"file $4 is not owned by any package\"; exit 1\n");
    ASSERT_EQ(chmod((root.path() + "/usr/bin/rpm").c_str(), 0755), 0);
    EXPECT_EQ(plain_package_line(root.path(), "/opt/qx/tool"), "rpm qxtool 4.5-1.fc40 (/opt/qx/tool)");
    EXPECT_EQ(package_owner(root.path(), "/opt/qx/other"), "");
    EXPECT_EQ(package_owner(root.path(), "/opt/it's/tool"), "") << "quoted paths never reach the shell";

    put(root, "/var/lib/pacman/local/.hidden/files", "%FILES%\nopt/qx/ptool\n");
    put(root, "/var/lib/pacman/local/ptool-1.0-1/files", "%FILES%\nopt/\nopt/qx/\nopt/qx/ptool\n");
    put(root, "/var/lib/pacman/local/ptool-1.0-1/desc", "opt/qx/ptool\n");
    EXPECT_EQ(package_owner(root.path(), "/opt/qx/ptool"), "arch ptool-1.0-1");
    EXPECT_EQ(package_owner(root.path(), "/opt/qx/nothing"), "");
}

TEST(PackageFacts, UnpackagedProgram)
{
    EnvGuard env;
    plain_install(env);
    std::string exe = std::filesystem::canonical("/proc/self/exe");
    // The test binary belongs to no package of this machine.
    EXPECT_EQ(qxcrash::package_line(), "unpackaged (" + exe + ")");
}

TEST(SystemFacts, SystemLinesOfThisMachine)
{
    EnvGuard env;
    plain_install(env);
    env.set("XDG_CURRENT_DESKTOP", nullptr);
    env.set("XDG_SESSION_TYPE", "wayland");
    env.set("DISPLAY", ":1");
    env.set("WAYLAND_DISPLAY", "");
    env.set("LANG", "de_DE.UTF-8");
    std::vector<std::string> lines = qxcrash::system_lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_TRUE(lines[0].starts_with("OS: "));
    EXPECT_TRUE(lines[1].starts_with("Kernel: Linux "));
    EXPECT_EQ(lines[2], std::string("glibc: ") + gnu_get_libc_version());
    EXPECT_TRUE(lines[3].starts_with("CPU: "));
    EXPECT_TRUE(lines[4].starts_with("RAM: ") && lines[4].ends_with(" MB"));
    EXPECT_EQ(lines[5], "Session: desktop ?, type wayland, X :1, lang de_DE.UTF-8");
    EXPECT_EQ(lines[6], "Package: " + qxcrash::package_line());
    EXPECT_TRUE(lines[7].starts_with("ALSA card"));
}
