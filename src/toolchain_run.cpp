// Finding the external tools, running them as child processes with a time
// limit, and the per-user work directory.
#include "paths.h"
#include "toolchain.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

namespace tc {

namespace {

constexpr size_t kOutputCap = 4194304;
constexpr size_t kReadChunk = 4096;

int64_t now_ms()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The override table is written by the main thread and read by the
// disassembly worker, so every access takes the lock.
struct Overrides {
    std::mutex lock;
    std::map<std::string, std::string> paths;
};

Overrides& overrides()
{
    static Overrides table;
    return table;
}

// A worker's own copy of the overrides and its cancel flag.
thread_local const std::map<std::string, std::string>* t_paths = nullptr;
thread_local const std::atomic<bool>* t_cancel = nullptr;

bool cancelled() { return t_cancel && t_cancel->load(); }

std::string base_name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Process groups of the tools running now, one slot each, so that a signal
// handler can end them without taking a lock. A slot is emptied before its
// child is reaped, while the pid cannot yet belong to anyone else.
constexpr int kToolSlots = 32;
std::atomic<pid_t> g_tool_groups[kToolSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free);
// Threads between starting a tool and putting it on record; they hold the
// ending signals back meanwhile, so the handler runs on another thread and
// can wait for them.
std::atomic<int> g_starting;

int claim_slot(pid_t pid)
{
    for (int i = 0; i < kToolSlots; ++i) {
        pid_t empty = 0;
        if (g_tool_groups[i].compare_exchange_strong(empty, pid))
            return i;
    }
    return -1;
}

void release_slot(int slot)
{
    if (slot >= 0)
        g_tool_groups[slot].store(0);
}

// The signals that end the program from outside. The tools run in process
// groups of their own, so a Ctrl-C at the terminal never reaches them.
constexpr int kEndSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
// The fatal signals, whose handler (the crash report's) ends the tools too.
// Sent from outside they can arrive while a tool is being started.
constexpr int kFatalSignals[] = { SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP };

void on_end_signal(int sig)
{
    int saved = errno;
    kill_running_tools();
    errno = saved;
    // The handler was reset on entry: the signal now takes its default
    // effect, ending the program as it would have without the handler.
    raise(sig);
}

// Installed with the first tool run, for the signals whose default effect
// would end the program; an inherited "ignore" is left alone.
void arm_end_signals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : kEndSignals) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
                continue;
            struct sigaction sa {};
            sa.sa_handler = on_end_signal;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = SA_RESETHAND | SA_RESTART;
            sigaction(sig, &sa, nullptr);
        }
    });
}

// Waits for the child's exit, without reaping it, for at most `left_ms`;
// false on timeout. Without pidfd support it waits without a limit.
bool wait_exit(pid_t pid, int left_ms)
{
#ifdef SYS_pidfd_open
    int pfd = int(syscall(SYS_pidfd_open, pid, 0));
    if (pfd >= 0) {
        int64_t deadline = now_ms() + left_ms;
        bool exited = false;
        for (;;) {
            int64_t left = deadline - now_ms();
            if (left < 1)
                break;
            pollfd p { pfd, POLLIN, 0 };
            int n = poll(&p, 1, int(left));
            if (n > 0) {
                exited = true;
                break;
            }
            if (n < 0 && errno != EINTR)
                break;
        }
        close(pfd);
        return exited;
    }
#else
    (void)left_ms;
#endif
    siginfo_t info {};
    while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) { }
    return true;
}

// The child's side of run: plumbing, then the program. Only system calls,
// so it is safe between vfork and exec.
[[noreturn]] __attribute__((noinline)) void exec_child(int out_fd, const char* cwd, char* const* argv,
                                                       const sigset_t* mask, pid_t parent)
{
    // The tool ends with us, even when we are killed outright; a parent
    // gone before the request took effect is seen as a new parent.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(126);
    // Its own process group, so a time-limit kill also reaches what the
    // tool started itself (cc runs collect2 and ld).
    setpgid(0, 0);
    // The parent's handlers must not run in the child; then the signals
    // held back around the start are let through again.
    for (int sig : kEndSignals)
        signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, mask, nullptr);
    dup2(out_fd, 1);
    dup2(out_fd, 2);
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd >= 0)
        dup2(null_fd, 0);
    child_defaults();
    if (cwd && chdir(cwd) != 0)
        _exit(126);
    execv(argv[0], argv);
    _exit(127);
}

} // namespace

void child_defaults()
{
    signal(SIGPIPE, SIG_DFL);
}

void kill_running_tools()
{
    for (int i = 0; i < 1000 && g_starting.load() > 0; ++i) {
        timespec pause { 0, 1000000 };
        nanosleep(&pause, nullptr);
    }
    for (auto& slot : g_tool_groups) {
        pid_t pid = slot.load();
        if (pid > 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
    }
}

ProcResult run(const std::vector<std::string>& argv, const std::string& cwd, int limit_ms)
{
    ProcResult r;
    if (argv.empty() || cancelled())
        return r;

    // Everything the child needs is prepared before fork: another thread may
    // hold the allocator's lock at that moment.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return r;
    arm_end_signals();
    // The ending signals wait until the child's group is on record, so no
    // tool can start unseen by a handler. Nothing in between can fault, so
    // holding back the fatal ones too loses no crash report.
    sigset_t held, old_mask;
    sigemptyset(&held);
    for (int sig : kEndSignals)
        sigaddset(&held, sig);
    for (int sig : kFatalSignals)
        sigaddset(&held, sig);
    pthread_sigmask(SIG_BLOCK, &held, &old_mask);
    ++g_starting;
    const pid_t parent = getpid();
    // vfork spares copying the parent's page tables, a noticeable part of
    // a short tool run; the child only makes system calls until it execs.
    pid_t pid = vfork();
    if (pid == 0)
        exec_child(fds[1], cwd.empty() ? nullptr : cwd.c_str(), args.data(), &old_mask, parent);
    int slot = pid > 0 ? claim_slot(pid) : -1;
    --g_starting;
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return r;
    }

    close(fds[1]);
    r.started = true;
    int64_t start = now_ms();
    bool timed_out = false;
    char buf[kReadChunk];
    for (;;) {
        int64_t left = int64_t(limit_ms) - (now_ms() - start);
        if (left < 1) {
            timed_out = true;
            break;
        }
        if (cancelled()) {
            timed_out = true;
            break;
        }
        pollfd p { fds[0], POLLIN, 0 };
        // With a cancel flag the wait is cut into slices that look at it.
        if (poll(&p, 1, t_cancel ? int(std::min<int64_t>(left, 100)) : int(left)) <= 0)
            continue;
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        // Past the cap the output is still read, so the child never blocks
        // on a full pipe, but dropped.
        if (r.out.size() < kOutputCap)
            r.out.append(buf, size_t(n));
    }
    close(fds[0]);

    if (!timed_out) {
        int64_t left = int64_t(limit_ms) - (now_ms() - start);
        // A child that closed its output but lingers still gets the limit.
        if (left < 1 || !wait_exit(pid, int(left)))
            timed_out = true;
    }
    if (timed_out) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        r.out += "\n(timeout)\n";
    }
    release_slot(slot);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) { }
    if (timed_out)
        return r;
    if (WIFEXITED(wstatus)) {
        r.status = WEXITSTATUS(wstatus);
        if (r.status == 127)
            r.started = false;
    }
    return r;
}

std::string quote_cmd(const std::vector<std::string>& argv)
{
    std::string line;
    for (const auto& a : argv) {
        if (!line.empty())
            line += ' ';
        if (a.find_first_of(" \t'\"") != std::string::npos)
            line += "'" + a + "'";
        else
            line += a;
    }
    return line;
}

std::string arg_path(const std::string& path)
{
    if (path.empty() || path[0] == '/' || path.compare(0, 2, "./") == 0)
        return path;
    return "./" + path;
}

bool is_executable(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
        && access(path.c_str(), X_OK) == 0;
}

void set_tool_path(const std::string& name, const std::string& path)
{
    Overrides& o = overrides();
    std::lock_guard<std::mutex> guard(o.lock);
    o.paths[name] = path;
}

std::map<std::string, std::string> tool_paths()
{
    Overrides& o = overrides();
    std::lock_guard<std::mutex> guard(o.lock);
    return o.paths;
}

void use_tool_paths(const std::map<std::string, std::string>* paths) { t_paths = paths; }

void set_cancel_flag(const std::atomic<bool>* flag) { t_cancel = flag; }

std::string find_tool(const std::string& name)
{
    std::string configured;
    if (t_paths) {
        auto it = t_paths->find(name);
        if (it != t_paths->end())
            configured = it->second;
    } else {
        Overrides& o = overrides();
        std::lock_guard<std::mutex> guard(o.lock);
        auto it = o.paths.find(name);
        if (it != o.paths.end())
            configured = it->second;
    }
    if (!configured.empty())
        return is_executable(configured) ? configured : std::string();
    return find_tool_auto(name);
}

std::string find_tool_auto(const std::string& name)
{
    // A directory that happens to carry the tool's name is not the tool,
    // so candidates must be executable regular files.
    // The program does not move while it runs; asked once.
    static const std::string own = paths::exe_dir();
    if (!own.empty() && is_executable(own + "/" + name))
        return own + "/" + name;
    const char* env = getenv("PATH");
    std::string search = (env && *env) ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= search.size()) {
        size_t colon = search.find(':', pos);
        if (colon == std::string::npos)
            colon = search.size();
        std::string dir = search.substr(pos, colon - pos);
        pos = colon + 1;
        if (dir.empty())
            continue;
        std::string candidate = dir + "/" + name;
        if (is_executable(candidate))
            return candidate;
    }
    return {};
}

std::string tool_version(const std::string& path)
{
    if (!is_executable(path))
        return {};
    std::string base = base_name(path);
    bool compiler = base == "cc" || base == "gcc" || base == "clang" || base.find("-gcc") != std::string::npos;
    ProcResult r = run({ path, compiler ? "--version" : "-v" }, {}, 3000);
    if (!r.started)
        return {};
    std::string first = r.out.substr(0, r.out.find('\n'));
    size_t cut = first.find(" compiled on");
    if (cut != std::string::npos)
        first.resize(cut);
    return trim(first);
}

bool has_crt32()
{
    std::string compiler = find_tool("cc");
    if (compiler.empty())
        compiler = find_tool("gcc");
    return has_crt32(compiler);
}

bool has_crt32(const std::string& compiler)
{
    if (compiler.empty())
        return false;
    std::vector<std::string> cmd { compiler };
    std::string root = snap_root();
    if (!root.empty())
        cmd.push_back("--sysroot=" + root);
    cmd.push_back("-m32");
    cmd.push_back("-print-file-name=crt1.o");
    ProcResult r = run(cmd, {}, 5000);
    std::string file = trim(r.out);
    struct stat st {};
    return r.started && file.find('/') != std::string::npos && stat(file.c_str(), &st) == 0;
}

std::string snap_root()
{
    const char* snap = getenv("SNAP");
    if (!snap || !*snap)
        return {};
    std::string sysroot = std::string(snap) + "/sysroot";
    struct stat st {};
    if (stat(sysroot.c_str(), &st) == 0)
        return sysroot;
    return snap;
}

} // namespace tc
