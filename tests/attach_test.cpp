// Attaching to running programs: real processes spawned by the test, found
// through the real /proc, attached and detached with real ptrace.
#include "attach.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

using namespace testutil;

namespace {

class Attach : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        // A name of this run only (the kernel keeps 15 characters), and one
        // of 20 characters that only its first 15 can match.
        s_short = "qxatt" + std::to_string(getpid() % 1000000);
        s_long = "lng" + std::to_string(getpid() % 1000000) + "_twenty_chars";
        s_long.resize(20, 'x');
        std::string sleeper = read_file(tests_dir() + "/data/debugger/sleeper.s");
        build(sleeper, s_short);
        build(sleeper, s_long);
        build(read_file(tests_dir() + "/data/attach/vforker.s"), "vforker");
    }

    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override { ASSERT_TRUE(s_error.empty()) << s_error; }

    void TearDown() override
    {
        m_proc.kill();
        for (int pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    static void build(const std::string& source, const std::string& name)
    {
        std::string err = nasm_build(source, s_dir->file(name), "elf64");
        s_error += err.empty() ? "" : name + ": " + err;
        s_syms[name] = symbols(s_dir->file(name));
    }

    // Starts the program outside the debugger and waits until it counts.
    int spawn(const std::string& name, bool wait_counting = true)
    {
        std::string path = s_dir->file(name);
        pid_t pid = fork();
        if (pid == 0) {
            execl(path.c_str(), name.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        m_children.push_back(pid);
        if (wait_counting) {
            EXPECT_TRUE(counts_on(pid, name)) << name << " does not run";
        }
        return pid;
    }

    // The program's counter moves on within five seconds.
    bool counts_on(int pid, const std::string& name)
    {
        uint64_t counter = s_syms[name]["counter"];
        uint64_t before = peek_u64(pid, counter);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            std::vector<dbg::Event> ev;
            m_proc.poll(&ev);
            if (peek_u64(pid, counter) > before + 2)
                return true;
            usleep(1000);
        }
        return false;
    }

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_error, s_short, s_long;
    static inline std::map<std::string, std::map<std::string, uint64_t>> s_syms;

    dbg::Process m_proc;
    std::vector<int> m_children;
};

TEST_F(Attach, FindsProcessesByNumberAndByName)
{
    int shorty = spawn(s_short);
    int longy = spawn(s_long);
    std::string own = read_file("/proc/self/comm");
    own.resize(own.find('\n'));
    // A process of another user: a child of ours that gave up root. It
    // carries this program's name too.
    int other = -1;
    if (getuid() == 0) {
        other = fork();
        if (other == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (setuid(65534) == 0)
                pause();
            _exit(1);
        }
        m_children.push_back(other);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (status_field(other, "Uid").rfind("65534", 0) != 0 && std::chrono::steady_clock::now() < until)
            usleep(1000);
        ASSERT_EQ(status_field(other, "Uid").rfind("65534", 0), 0u) << "the child did not change user";
    }

    struct {
        std::string text;
        attach::Find find;
        int pid; // 0: any process but this one
    } cases[] = {
        // init, this program and other users' processes are never found
        { "1", attach::Find::NotFound, -1 },
        { std::to_string(getpid()), attach::Find::NotFound, -1 },
        { std::to_string(other), attach::Find::NotFound, -1 },
        { " " + std::to_string(shorty) + "\n", attach::Find::Found, shorty },
        { "  " + s_short + " \t", attach::Find::Found, shorty },
        { s_long, attach::Find::Found, longy },
        { s_long.substr(0, 15), attach::Find::Found, longy },
        { s_long.substr(0, 14), attach::Find::NotFound, -1 },
        { "no_such_program", attach::Find::NotFound, -1 },
        { "99999999999999", attach::Find::NotFound, -1 },
        { "", attach::Find::Empty, -1 },
        { " \t ", attach::Find::Empty, -1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        int pid = -1;
        EXPECT_EQ(attach::find_process(c.text, &pid), c.find);
        EXPECT_EQ(pid, c.pid);
    }
    // The own process never matches its name.
    int pid = -1;
    if (attach::find_process(own, &pid) == attach::Find::Found) {
        EXPECT_NE(pid, int(getpid()));
        EXPECT_NE(pid, other);
    }

    std::string path, err;
    ASSERT_TRUE(attach::executable(shorty, &path, &err)) << err;
    EXPECT_EQ(path, s_dir->file(s_short));
    EXPECT_FALSE(attach::executable(999999999, &path, &err));
    EXPECT_EQ(err, strerror(ENOENT));
}

TEST_F(Attach, ByPidAndByNameStopsTheProgramAndDetachLetsItRunOn)
{
    int child = spawn(s_short);
    for (const std::string& text : { std::to_string(child), s_short }) {
        SCOPED_TRACE(text);
        int pid = -1;
        ASSERT_EQ(attach::find_process(text, &pid), attach::Find::Found);
        ASSERT_EQ(pid, child);
        // The executable is known before attaching, so the window can open
        // its document first and attach last.
        std::string exe, err;
        ASSERT_TRUE(attach::executable(pid, &exe, &err)) << err;

        attach::Result r = attach::attach_to(m_proc, pid);
        ASSERT_EQ(r.outcome, attach::Outcome::Done) << r.err;
        EXPECT_EQ(r.exe, exe);
        EXPECT_TRUE(m_proc.attached() && m_proc.state() == dbg::State::Stopped);
        EXPECT_EQ(status_field(child, "TracerPid"), std::to_string(getpid()));
        EXPECT_EQ(attach::message(r),
                  "Attached to process " + std::to_string(child) + " (" + exe + ") \u2013 stopped");
        uint64_t counter = s_syms[s_short]["counter"];
        uint64_t held = peek_u64(child, counter);
        usleep(20000);
        EXPECT_EQ(peek_u64(child, counter), held) << "an attached program stands still";

        EXPECT_TRUE(attach::detach(m_proc));
        EXPECT_FALSE(m_proc.attached());
        EXPECT_EQ(m_proc.state(), dbg::State::Exited);
        EXPECT_EQ(status_field(child, "TracerPid"), "0");
        EXPECT_TRUE(counts_on(child, s_short)) << "the program runs on after the detach";
        EXPECT_FALSE(attach::detach(m_proc));
    }
}

TEST_F(Attach, RefusalsAndFailuresAreWordedForTheUser)
{
    int child = spawn(s_short);
    dbg::Process holder;
    std::string exe, err;
    ASSERT_TRUE(holder.attach(child, &exe, &err)) << err;

    // A process that is traced already refuses a second tracer.
    unsetenv("SNAP");
    attach::Result r = attach::attach_to(m_proc, child);
    EXPECT_EQ(r.outcome, attach::Outcome::Denied);
    EXPECT_EQ(r.err, "eperm");
    std::string scope = attach::ptrace_scope();
    EXPECT_TRUE(scope == "?" || (!scope.empty() && scope.find_first_not_of("0123456789") == std::string::npos))
        << scope;
    EXPECT_EQ(attach::message(r).rfind("The system does not allow attaching to process " + std::to_string(child)
                                           + ". Linux normally lets a debugger trace only programs it started "
                                             "itself (ptrace_scope = "
                                           + scope + ").",
                                       0),
              0u)
        << attach::message(r);

    setenv("SNAP", "/snap/qxferndockassembleride/1", 1);
    r = attach::attach_to(m_proc, child);
    unsetenv("SNAP");
    EXPECT_EQ(r.outcome, attach::Outcome::SnapDenied);
    EXPECT_EQ(attach::message(r).rfind("Inside the snap the debugger can attach only", 0), 0u);

    r = attach::attach_to(m_proc, 999999999);
    EXPECT_EQ(r.outcome, attach::Outcome::Failed);
    EXPECT_EQ(attach::message(r), "Attaching to process 999999999 failed: " + std::string(strerror(ENOENT)));
    EXPECT_EQ(attach::not_found_message("  nothing "), "None of your running programs is called \"nothing\".");
    EXPECT_EQ(m_proc.state(), dbg::State::Idle);

    holder.kill();
    EXPECT_TRUE(counts_on(child, s_short));
}

TEST_F(Attach, AStopThatDoesNotComeEndsTheWaitAndIsReleasedLater)
{
    // A vfork parent stops only once its child has left; the attach must not
    // wait for that, and the stop that comes later must let it run on.
    int parent = spawn("vforker", false);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (status_field(parent, "State").rfind("D", 0) != 0 && std::chrono::steady_clock::now() < until)
        usleep(1000);
    ASSERT_EQ(status_field(parent, "State").substr(0, 1), "D") << "the parent waits for its vfork child";

    attach::Result r = attach::attach_to(m_proc, parent);
    EXPECT_EQ(r.outcome, attach::Outcome::Failed);
    EXPECT_EQ(r.err, "wait");
    EXPECT_FALSE(m_proc.attached());
    EXPECT_NE(m_proc.state(), dbg::State::Stopped);

    // The main loop keeps polling; the late stop is let go.
    until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (status_field(parent, "TracerPid") != "0" && std::chrono::steady_clock::now() < until) {
        std::vector<dbg::Event> ev;
        m_proc.poll(&ev);
        usleep(1000);
    }
    EXPECT_EQ(status_field(parent, "TracerPid"), "0");
    EXPECT_TRUE(counts_on(parent, "vforker")) << "the program runs on";
    EXPECT_NE(status_field(parent, "State").substr(0, 1), "T");
}

} // namespace
