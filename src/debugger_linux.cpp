#include "debugger_linux.h"

#include "debugger_linux_impl.h"
#include "toolchain.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ptrace.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>

extern char** environ;

namespace dbg {

namespace {

constexpr size_t kOutputCap = 1048576;

struct RegField {
    const char* name64;
    const char* name32; // nullptr when the register does not exist in 32-bit code
    size_t off;
};

#define QX_REG(n64, n32) { #n64, n32, offsetof(user_regs_struct, n64) }

const RegField* reg_table(size_t* count)
{
    static const RegField table[] = {
        QX_REG(rax, "eax"),
        QX_REG(rbx, "ebx"),
        QX_REG(rcx, "ecx"),
        QX_REG(rdx, "edx"),
        QX_REG(rsi, "esi"),
        QX_REG(rdi, "edi"),
        QX_REG(rbp, "ebp"),
        QX_REG(rsp, "esp"),
        QX_REG(r8, nullptr),
        QX_REG(r9, nullptr),
        QX_REG(r10, nullptr),
        QX_REG(r11, nullptr),
        QX_REG(r12, nullptr),
        QX_REG(r13, nullptr),
        QX_REG(r14, nullptr),
        QX_REG(r15, nullptr),
        QX_REG(rip, "eip"),
        QX_REG(eflags, "eflags"),
        QX_REG(cs, "cs"),
        QX_REG(ss, "ss"),
        QX_REG(ds, "ds"),
        QX_REG(es, "es"),
        QX_REG(fs, "fs"),
        QX_REG(gs, "gs"),
        QX_REG(fs_base, nullptr),
        QX_REG(gs_base, nullptr),
    };
    *count = sizeof table / sizeof table[0];
    return table;
}

#undef QX_REG

uint64_t& field(user_regs_struct& regs, const RegField& f)
{
    return *reinterpret_cast<uint64_t*>(reinterpret_cast<char*>(&regs) + f.off);
}

// The first pass of a register lookup: the name for the program's width, or
// the 64-bit name of the row.
const RegField* find_reg(const std::string& name, int bits)
{
    size_t count = 0;
    const RegField* table = reg_table(&count);
    for (size_t i = 0; i < count; ++i) {
        const char* own = bits == 32 ? table[i].name32 : table[i].name64;
        if ((own && name == own) || name == table[i].name64)
            return &table[i];
    }
    return nullptr;
}

void set_err(std::string* err, const std::string& text)
{
    if (err)
        *err = text;
}

pid_t wait_for(pid_t pid, int* status, int flags)
{
    pid_t r;
    do
        r = waitpid(pid, status, flags);
    while (r < 0 && errno == EINTR);
    return r;
}

// Blocks until the process is gone and reaped; stops of a traced process
// that were still waiting to be collected are passed over.
void reap(pid_t pid)
{
    int status = 0;
    while (wait_for(pid, &status, 0) == pid) {
        if (WIFEXITED(status) || WIFSIGNALED(status))
            return;
    }
}

int64_t now_ms()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string proc_path(int pid, const char* entry)
{
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// Copies of the environment's entries without LD_PRELOAD, made before fork
// because the child must not allocate.
std::vector<char*> environment_without_preload()
{
    std::vector<char*> env;
    for (char** e = environ; e && *e; ++e) {
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0)
            env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

} // namespace

const char* signal_name(int sig)
{
    switch (sig) {
    case 2: return "SIGINT";
    case 4: return "SIGILL";
    case 5: return "SIGTRAP";
    case 6: return "SIGABRT";
    case 7: return "SIGBUS";
    case 8: return "SIGFPE";
    case 9: return "SIGKILL";
    case 10: return "SIGUSR1";
    case 11: return "SIGSEGV";
    case 12: return "SIGUSR2";
    case 13: return "SIGPIPE";
    case 14: return "SIGALRM";
    case 15: return "SIGTERM";
    case 17: return "SIGCHLD";
    case 19: return "SIGSTOP";
    default: return "signal";
    }
}

int elf_bits(const std::string& path)
{
    unsigned char head[5] = {};
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 64;
    ssize_t n = ::read(fd, head, sizeof head);
    close(fd);
    if (n == 5 && head[0] == 0x7F && head[1] == 'E' && head[4] == 1)
        return 32;
    return 64;
}

// ---- private helpers -------------------------------------------------------

void Process::Impl::forget_run_state()
{
    list.clear();
    inserted.clear();
    has_temp = false;
    pending_sig = 0;
    action = Action::None;
    regs_ok = false;
    dr7_set = false;
    forget_code(true);
    pushf_pending = false;
    refill_after_vfork = false;
    quick = false;
    out_active = false;
}

void Process::Impl::unblock_chld()
{
    if (chld_restore) {
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        pthread_sigmask(SIG_UNBLOCK, &chld, nullptr);
    }
    chld_blocked = chld_restore = false;
}

void Process::Impl::drain_output(std::vector<Event>* ev)
{
    std::string text;
    char buf[4096];
    while (out >= 0) {
        ssize_t n = ::read(out, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, size_t(n));
            if (text.size() > kOutputCap)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            close(out);
            out = -1;
        }
        break;
    }
    if (!text.empty())
        ev->push_back({ Event::Output, std::move(text), 0, 0 });
}

bool Process::Impl::load_regs()
{
    regs_ok = ptrace(PTRACE_GETREGS, p->m_pid, nullptr, &regs) == 0;
    return regs_ok;
}

bool Process::Impl::store_regs()
{
    return ptrace(PTRACE_SETREGS, p->m_pid, nullptr, &regs) == 0;
}

void Process::Impl::open_memory()
{
    close_memory();
    memfd = open(proc_path(p->m_pid, "mem").c_str(), O_RDWR | O_CLOEXEC);
}

void Process::Impl::close_memory()
{
    if (memfd >= 0)
        close(memfd);
    memfd = -1;
}

// The run-time entry point comes from the auxiliary vector (AT_ENTRY); the
// load bias is how far it lies from the entry in the file's ELF header.
void Process::Impl::read_entry_and_bias(const std::string& exe)
{
    p->m_entry = 0;
    p->m_bias = 0;
    int fd = open(proc_path(p->m_pid, "auxv").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const size_t word = p->m_bits == 32 ? 4 : 8;
        unsigned char rec[16];
        for (;;) {
            ssize_t n = ::read(fd, rec, 2 * word);
            if (n != ssize_t(2 * word))
                break;
            uint64_t type = 0, value = 0;
            memcpy(&type, rec, word);
            memcpy(&value, rec + word, word);
            if (type == 0)
                break;
            if (type == 9) {
                p->m_entry = value;
                break;
            }
        }
        close(fd);
    }
    if (p->m_entry == 0)
        return;
    unsigned char head[32] = {};
    fd = open(exe.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        if (::read(fd, head, sizeof head) != ssize_t(sizeof head))
            memset(head, 0, sizeof head);
        close(fd);
    }
    uint64_t file_entry = 0;
    memcpy(&file_entry, head + 24, p->m_bits == 32 ? 4 : 8);
    p->m_bias = p->m_entry - file_entry;
}

// ---- life cycle ----------------------------------------------------------------

Process::Process()
    : m(std::make_unique<Impl>(this))
{
}

Process::~Process()
{
    m->release_late_stops();
    kill();
    detach_output();
    if (m->sigfd >= 0)
        close(m->sigfd);
}

bool Process::start(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                    bool trace, std::string* err)
{
    kill();
    detach_output();
    m->forget_run_state();
    m_trace = trace;
    m_bits = elf_bits(exe);
    m_exit = 0;
    m_bias = 0;
    m_entry = 0;

    int in_pipe[2], out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) {
        set_err(err, "pipe");
        return false;
    }
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        set_err(err, "pipe");
        return false;
    }

    // Everything the child needs is prepared here: after fork it may only
    // make system calls.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> env;
    if (getenv("SNAP"))
        env = environment_without_preload();
    char* const* envp = env.empty() ? environ : env.data();
    const char* dir = cwd.empty() ? nullptr : cwd.c_str();
    int persona = personality(0xffffffff);
    if (persona < 0)
        persona = 0;

    const pid_t parent = getpid();
    m->plain_started = false;
    pid_t pid = fork();
    if (pid < 0) {
        set_err(err, strerror(errno));
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        return false;
    }
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(out_pipe[1], 2);
        setpgid(0, 0);
        // A wait of the engine may have blocked SIGCHLD in this thread; the
        // program starts without that.
        sigset_t chld;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        sigprocmask(SIG_UNBLOCK, &chld, nullptr);
        tc::child_defaults();
        if (dir && chdir(dir) != 0)
            _exit(126);
        // The program ends with this process in any case; what it starts
        // is traced (a plain run too) so that it does as well.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (trace)
            personality(persona | ADDR_NO_RANDOMIZE);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }

    // Also here, so the group exists before anything may signal it; the
    // child's own call and this one race harmlessly.
    setpgid(pid, pid);
    close(in_pipe[0]);
    close(out_pipe[1]);
    m->in = in_pipe[1];
    m->out = out_pipe[0];
    // A program that does not read its input must not stall the window:
    // what the pipe cannot take waits in the queue.
    fcntl(m->in, F_SETFL, fcntl(m->in, F_GETFL) | O_NONBLOCK);
    m->in_queue.clear();
    m->in_close = false;
    fcntl(m->out, F_SETFL, fcntl(m->out, F_GETFL) | O_NONBLOCK);
    m_state = State::Running;
    m_pid = pid;
    if (!trace)
        return true;

    int status = 0;
    bool waited = wait_for(pid, &status, 0) == pid;
    if (!waited || !WIFSTOPPED(status)) {
        m_state = State::Exited;
        if (waited && WIFSIGNALED(status)) {
            m_exit = 128 + WTERMSIG(status);
        } else if (waited && WIFEXITED(status)) {
            m_exit = WEXITSTATUS(status);
        } else {
            ::kill(pid, SIGKILL);
            reap(pid);
            m_exit = 128 + SIGKILL;
        }
        set_err(err, "exec");
        return false;
    }

    ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(Impl::trace_options()));
    m->open_memory();
    // The exec has happened, so the process's own link names the program
    // that really runs (a relative path given with a working directory
    // would name another file from here).
    std::string image = proc_path(pid, "exe");
    m_bits = elf_bits(image);
    m->read_entry_and_bias(image);
    m_state = State::Stopped;
    if (m_entry == 0) {
        m->load_regs();
        return true;
    }
    m->temp_bp = m_entry;
    m->has_temp = true;
    m->insert_breakpoints();
    m->action = Impl::Action::StartToEntry;
    if (!m->resume(PTRACE_CONT)) {
        // Left at the exec stop, as when the entry is unknown.
        m->remove_breakpoints();
        m->has_temp = false;
        m->action = Impl::Action::None;
        m->load_regs();
    }
    return true;
}

bool Process::attach(int pid, std::string* exe, std::string* err)
{
    if (!attach_begin(pid, exe, err))
        return false;
    for (;;) {
        switch (attach_poll(err)) {
        case AttachWait::Done: return true;
        case AttachWait::Failed: return false;
        case AttachWait::Pending: usleep(1000); break;
        }
    }
}

bool Process::attach_begin(int pid, std::string* exe, std::string* err)
{
    kill();
    detach_output();
    m->forget_run_state();

    char link[4096];
    ssize_t n = readlink(proc_path(pid, "exe").c_str(), link, sizeof link - 1);
    if (n < 0) {
        set_err(err, strerror(errno));
        return false;
    }
    link[n] = 0;
    *exe = link;

    if (ptrace(PTRACE_ATTACH, pid, nullptr, nullptr) != 0) {
        set_err(err, errno == EPERM ? std::string("eperm") : std::string(strerror(errno)));
        return false;
    }
    m->attach_pid = pid;
    m->attach_exe = link;
    m->attach_since_ms = now_ms();
    return true;
}

Process::AttachWait Process::attach_poll(std::string* err)
{
    if (m->attach_pid < 0) {
        set_err(err, "wait");
        return AttachWait::Failed;
    }
    // The stop normally arrives at once; a process held in the kernel (a
    // vfork parent, uninterruptible I/O) stops only later, and the window
    // does not wait for it: after kAttachWaitMs the attach has failed and
    // the late stop, when it comes, lets the process go.
    int pid = m->attach_pid;
    int status = 0;
    pid_t got = wait_for(pid, &status, WNOHANG);
    if (got == 0 && now_ms() - m->attach_since_ms < kAttachWaitMs)
        return AttachWait::Pending;
    m->attach_pid = -1;
    if (got != pid || !WIFSTOPPED(status)) {
        if (got == 0)
            m->late.push_back(pid);
        else if (got == pid && !WIFEXITED(status) && !WIFSIGNALED(status))
            ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
        set_err(err, "wait");
        return AttachWait::Failed;
    }

    std::string exe = std::move(m->attach_exe);
    m->attach_exe.clear();
    m_trace = true;
    m_attached = true;
    m_bits = elf_bits(exe);
    m_pid = pid;
    m_exit = 0;
    m_state = State::Stopped;
    m->open_memory();
    m->read_entry_and_bias(exe);
    m->load_regs();
    return AttachWait::Done;
}

bool Process::busy() const
{
    return m->let_go_now;
}

bool Process::attaching() const
{
    return m->attach_pid >= 0;
}

void Process::kill()
{
    if (m->attach_pid >= 0) {
        // Given up before its stop came: let go when the stop arrives.
        m->late.push_back(m->attach_pid);
        m->attach_pid = -1;
        m->attach_exe.clear();
    }
    if (m_attached) {
        if (alive()) {
            bool gone = false;
            if (m_state == State::Running) {
                ::kill(m_pid, SIGSTOP);
                // Wait for our SIGSTOP. Another stop may come first (a
                // breakpoint, a signal); it is settled and the process let
                // go on to the stop that is already queued behind it.
                for (;;) {
                    int status = 0;
                    if (wait_for(m_pid, &status, 0) != m_pid) {
                        gone = true;
                        break;
                    }
                    if (WIFEXITED(status) || WIFSIGNALED(status)) {
                        gone = true;
                        break;
                    }
                    if (!WIFSTOPPED(status))
                        continue;
                    int sig = WSTOPSIG(status);
                    if (sig == SIGSTOP)
                        break;
                    if (sig == SIGTRAP && m->load_regs() && m->inserted.count(m->regs.rip - 1)) {
                        m->regs.rip -= 1;
                        m->store_regs();
                    }
                    ptrace(PTRACE_CONT, m_pid, nullptr, reinterpret_cast<void*>(long(sig == SIGTRAP ? 0 : sig)));
                }
            }
            if (!gone) {
                m->remove_breakpoints();
                m_watches.clear();
                m->clear_watch_registers();
                ptrace(PTRACE_DETACH, m_pid, nullptr, nullptr);
            }
            m_state = State::Exited;
        }
        m_attached = false;
    } else if (alive()) {
        // The program leads its own process group: whatever it started and
        // left in the group ends with it, and so does every traced
        // descendant, wherever it went. They go first: the program's end is
        // not reported while a traced thread of it waits to be collected.
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
        m->end_kids();
        reap(m_pid);
        m_state = State::Exited;
        m_exit = 137;
    }
    m->close_memory();
    m->inserted.clear();
    m->regs_ok = false;
    m->quick = false;
    m->out_active = false;
    m->forget_code(true);
    m->unblock_chld();
}

void Process::detach_output()
{
    m->in_queue.clear();
    m->in_close = false;
    if (m->in >= 0)
        close(m->in);
    if (m->out >= 0)
        close(m->out);
    m->in = -1;
    m->out = -1;
    m->close_memory();
}

void Process::Impl::release_late_stops()
{
    for (size_t i = 0; i < late.size();) {
        int status = 0;
        pid_t r = wait_for(late[i], &status, WNOHANG);
        if (r == 0) {
            ++i;
            continue;
        }
        if (r == late[i] && WIFSTOPPED(status) && WSTOPSIG(status) != SIGSTOP) {
            // Another signal came first: deliver it and wait for our stop.
            ptrace(PTRACE_CONT, late[i], nullptr, reinterpret_cast<void*>(long(WSTOPSIG(status))));
            ++i;
            continue;
        }
        if (r == late[i] && WIFSTOPPED(status))
            ptrace(PTRACE_DETACH, late[i], nullptr, nullptr); // its SIGSTOP suppressed: it runs on
        late.erase(late.begin() + long(i));
    }
}

void Process::poll(std::vector<Event>* ev)
{
    flush_input();
    m->release_late_stops();
    m->drain_output(ev);
    take_status(ev);
}

void Process::take_status(std::vector<Event>* ev)
{
    m->let_go_now = false;
    if (!m->kids.empty())
        m->service_kids();
    // Stops the engine answers itself (the step off a breakpoint, the steps
    // of a step out) follow one another here while they come at once, up
    // to this many; the rest waits for the next call.
    constexpr int kSilentStops = 2000;
    for (int silent = 0; m_state == State::Running && m_pid > 0; ++silent) {
        // Not with traced descendants: one of them may hold the program's
        // end back until it is collected.
        const bool block = m->quick && m->kids.empty() && silent < kSilentStops;
        m->quick = false;
        int status = 0;
        pid_t r = wait_for(m_pid, &status, block ? 0 : WNOHANG);
        if (r < 0 && errno == ECHILD) {
            // Someone else collected it: it is gone all the same.
            m->end_kids();
            m_state = State::Exited;
            ev->push_back({ Event::Exited, std::string(), m_exit, 0 });
            m->close_memory();
            m->inserted.clear();
            return;
        }
        if (r != m_pid)
            return;
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            // Children the program left in its group do not outlive it. The
            // group's number cannot have been reused while members remain.
            if (!m_attached) {
                ::kill(-m_pid, SIGKILL);
                m->end_kids();
            }
            m->drain_output(ev);
            m_state = State::Exited;
            m->out_active = false;
            std::string text;
            if (WIFSIGNALED(status)) {
                m_exit = 128 + WTERMSIG(status);
                text = std::string("signal:") + signal_name(WTERMSIG(status));
            } else {
                m_exit = WEXITSTATUS(status);
            }
            ev->push_back({ Event::Exited, std::move(text), m_exit, 0 });
            m->close_memory();
            m->inserted.clear();
            m->regs_ok = false;
            return;
        }
        if (!WIFSTOPPED(status))
            return;
        if (!m_trace || (status >> 16) != 0) {
            // A plain run goes on at once; so does a traced program after a
            // fork, vfork or clone, as it was going.
            if (!m_trace) {
                m->let_run(m_pid, status, !m->plain_started);
                m->plain_started = true;
            } else {
                m->take_event(m_pid, status >> 16);
                ptrace(__ptrace_request(m->last_request), m_pid, nullptr, nullptr);
            }
            // A new process's first stop may have come already, its SIGCHLD
            // taken with the one of this stop.
            if (!m->kids.empty())
                m->service_kids();
            return;
        }
        m->load_regs();
        m->insn_ok = false;
        std::string reason;
        if (!m->classify_stop(WSTOPSIG(status), &reason))
            continue;
        m->remove_breakpoints();
        m->has_temp = false;
        m_state = State::Stopped;
        if (m->out_active) {
            if (reason == "step" && m->regs_ok && m_bps.count(m->regs.rip))
                reason = "breakpoint";
            else if (reason == "step" && !(m->out_after_ret && m->regs.rsp > m->out_sp) && m->step_out_next())
                continue;
            m->out_active = false;
        }
        ev->push_back({ Event::Stopped, std::move(reason), 0, m->regs_ok ? uint64_t(m->regs.rip) : 0 });
        return;
    }
}

namespace {

// Longest single sleep: a SIGCHLD that another thread of the process took
// is noticed after this at the latest.
constexpr int kSliceMs = 20;

} // namespace

void Process::wait(std::vector<Event>* ev, int timeout_ms)
{
    const size_t before = ev->size();
    if (m->quick && m_state == State::Running) {
        // A single step that stops at once: its stop is all there is to take.
        take_status(ev);
        if (ev->size() != before || m_state != State::Running)
            return;
    }
    if (timeout_ms <= 0 || m_state != State::Running || m_pid <= 0) {
        poll(ev);
        return;
    }
    if (!m->chld_blocked) {
        // The stop of a traced child comes as SIGCHLD. Blocked in this
        // thread from now until kill, every one waits in the signal
        // descriptor, including one that comes while no wait runs; so only
        // this first time can a stop have come unseen.
        sigset_t chld, old;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &chld, &old);
        m->chld_blocked = true;
        m->chld_restore = !sigismember(&old, SIGCHLD);
        if (m->sigfd < 0)
            m->sigfd = signalfd(-1, &chld, SFD_NONBLOCK | SFD_CLOEXEC);
        poll(ev);
    }
    const int64_t deadline = now_ms() + timeout_ms;
    while (ev->size() == before && m_state == State::Running) {
        const int64_t left = deadline - now_ms();
        if (left <= 0)
            break;
        pollfd fds[2] = { { m->out, POLLIN, 0 }, { m->sigfd, POLLIN, 0 } };
        const int n = ::poll(fds, 2, int(std::min<int64_t>(left, kSliceMs)));
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info[4];
            ssize_t got = ::read(m->sigfd, info, sizeof info);
            (void)got; // only the wake-up counts
        }
        if (fds[0].revents)
            m->drain_output(ev);
        // A slice without any news looks too, for a signal that another
        // thread of this process took.
        if (n <= 0 || (fds[1].revents & POLLIN))
            take_status(ev);
    }
}

// ---- registers ---------------------------------------------------------------------

const std::vector<Process::RegInfo>& Process::reg_list()
{
    if (!m->list.empty())
        return m->list;
    size_t count = 0;
    const RegField* table = reg_table(&count);
    for (size_t i = 0; i < count; ++i) {
        const char* name = m_bits == 32 ? table[i].name32 : table[i].name64;
        if (!name)
            continue;
        int size;
        if (strlen(name) == 2 && name[1] == 's')
            size = 2;
        else if (m_bits == 32 || strcmp(name, "eflags") == 0)
            size = 4;
        else
            size = 8;
        m->list.push_back({ name, size });
    }
    return m->list;
}

bool Process::reg(const std::string& name, uint64_t* v) const
{
    if (m_state != State::Stopped || !m->regs_ok)
        return false;
    if (const RegField* f = find_reg(name, m_bits)) {
        uint64_t value = field(m->regs, *f);
        if (m_bits == 32 && name != f->name64)
            value &= 0xFFFFFFFFu;
        *v = value;
        return true;
    }
    if (m_bits == 32 || name == "eflags")
        return false;
    // A 64-bit program also answers to the 32-bit names with the low half.
    size_t count = 0;
    const RegField* table = reg_table(&count);
    for (size_t i = 0; i < count; ++i) {
        if (table[i].name32 && name == table[i].name32) {
            *v = field(m->regs, table[i]) & 0xFFFFFFFFu;
            return true;
        }
    }
    return false;
}

bool Process::set_reg(const std::string& name, uint64_t v)
{
    if (m_state != State::Stopped || !m->regs_ok)
        return false;
    const RegField* f = find_reg(name, m_bits);
    if (!f)
        return false;
    if (m_bits == 32)
        v &= 0xFFFFFFFFu;
    uint64_t old = field(m->regs, *f);
    field(m->regs, *f) = v;
    m->insn_ok = false; // the instruction pointer may move
    if (m->store_regs())
        return true;
    field(m->regs, *f) = old;
    return false;
}

uint64_t Process::pc() const { return m->regs_ok ? m->regs.rip : 0; }
uint64_t Process::sp() const { return m->regs_ok ? m->regs.rsp : 0; }
uint64_t Process::flags() const { return m->regs_ok ? m->regs.eflags : 0; }

// ---- memory -------------------------------------------------------------------------

bool Process::write(uint64_t addr, const uint8_t* buf, size_t n)
{
    if (m->memfd < 0 || m_state != State::Stopped)
        return false;
    m->forget_code(false);
    return pwrite(m->memfd, buf, n, off_t(addr)) == ssize_t(n);
}

std::vector<Region> Process::regions() const
{
    std::vector<Region> out;
    if (m_pid <= 0 || !alive())
        return out;
    FILE* f = fopen(proc_path(m_pid, "maps").c_str(), "re");
    if (!f)
        return out;
    char* line = nullptr;
    size_t cap = 0;
    ssize_t len;
    while ((len = getline(&line, &cap, f)) >= 0) {
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = 0;
        unsigned long long start = 0, end = 0;
        char perms[8] = {};
        if (sscanf(line, "%llx-%llx %7s", &start, &end, perms) != 3)
            continue;
        Region r;
        r.start = start;
        r.end = end;
        r.r = perms[0] == 'r';
        r.w = perms[0] && perms[1] == 'w';
        r.x = perms[0] && perms[1] && perms[2] == 'x';
        const char* name = strchr(line, '/');
        if (!name)
            name = strchr(line, '[');
        if (name)
            r.name = name;
        out.push_back(std::move(r));
    }
    free(line);
    fclose(f);
    return out;
}

// ---- program input --------------------------------------------------------------

void Process::send_input(const std::string& s)
{
    if (m->in < 0 || m->in_close)
        return;
    m->in_queue += s;
    flush_input();
}

bool Process::flush_input()
{
    size_t done = 0;
    while (m->in >= 0 && done < m->in_queue.size()) {
        ssize_t n = ::write(m->in, m->in_queue.data() + done, m->in_queue.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            // The reader is gone: nothing queued can arrive any more.
            done = m->in_queue.size();
            break;
        }
        done += size_t(n);
    }
    m->in_queue.erase(0, done);
    if (m->in < 0)
        m->in_queue.clear();
    if (m->in_queue.empty() && m->in_close && m->in >= 0) {
        close(m->in);
        m->in = -1;
    }
    return !m->in_queue.empty();
}

size_t Process::input_queued() const
{
    return m->in_queue.size();
}

void Process::close_input()
{
    // Input typed before the end of input still reaches the program.
    m->in_close = true;
    flush_input();
}

} // namespace dbg
