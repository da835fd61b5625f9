// The debugged program's descendants. A started program is traced with
// fork, vfork and clone tracing, so every process it makes is traced from
// its first instruction on: PTRACE_O_EXITKILL then ends all of them when
// this process ends in any way (a quit, a signal, kill -9, a crash), also a
// daemon that left the program's session and ignores every signal. They
// are not debugged: each is let run at every stop, with its signals. A
// plain run is traced the same way, for the same reason, and never stopped.
#include "debugger_linux.h"

#include "debugger_linux_impl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace dbg {

namespace {

constexpr long kKidOptions = PTRACE_O_EXITKILL | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE
                             | PTRACE_O_TRACEVFORKDONE | PTRACE_O_TRACEEXEC;

void resume_kid(int pid, int sig)
{
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(long(sig)));
}

// Whether two processes share one address space: a thread, a vfork child
// or a clone made with CLONE_VM.
bool same_memory(int a, int b)
{
#ifdef SYS_kcmp
    constexpr int kKcmpVm = 1;
    long r = syscall(SYS_kcmp, a, b, kKcmpVm, 0, 0);
    if (r >= 0)
        return r == 0;
#endif
    // Without kcmp only threads are told apart.
    struct stat st {};
    return stat(("/proc/" + std::to_string(a) + "/task/" + std::to_string(b)).c_str(), &st) == 0;
}

// Waits for a killed process's end, passing over stops still queued.
void reap_kid(int pid)
{
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, __WALL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r != pid || WIFEXITED(status) || WIFSIGNALED(status))
            return;
    }
}

} // namespace

long Process::Impl::trace_options()
{
    return kKidOptions & ~long(PTRACE_O_TRACEEXEC);
}

void Process::Impl::take_event(int pid, int event)
{
    if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK || event == PTRACE_EVENT_CLONE) {
        unsigned long child = 0;
        if (ptrace(PTRACE_GETEVENTMSG, pid, nullptr, &child) == 0 && child > 0)
            adopt(pid, int(child), event);
    } else if (event == PTRACE_EVENT_VFORK_DONE && pid == p->m_pid && refill_after_vfork) {
        refill_after_vfork = false;
        insert_breakpoints();
    }
}

void Process::Impl::adopt(int parent, int child, int event)
{
    const bool shares = event == PTRACE_EVENT_VFORK || same_memory(parent, child);
    if (parent == p->m_pid && !inserted.empty()) {
        if (event == PTRACE_EVENT_VFORK) {
            // The child runs in the program's memory until it execs or
            // exits; the breakpoints would stop it there.
            remove_breakpoints();
            refill_after_vfork = true;
        } else if (!shares) {
            // The copy holds the breakpoints' int3 bytes: it gets the
            // program's own bytes back before it runs.
            int fd = open(("/proc/" + std::to_string(child) + "/mem").c_str(), O_RDWR | O_CLOEXEC);
            if (fd >= 0) {
                for (const auto& [a, orig] : inserted)
                    (void)!pwrite(fd, &orig, 1, off_t(a));
                close(fd);
            }
        }
    }
    kids.push_back({ child, false, event == PTRACE_EVENT_CLONE && shares });
}

void Process::Impl::service_kids()
{
    for (size_t i = 0; i < kids.size();) {
        const int pid = kids[i].pid;
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG | __WALL);
        if (r == 0 || (r < 0 && errno == EINTR)) {
            ++i;
            continue;
        }
        if (r != pid || WIFEXITED(status) || WIFSIGNALED(status)) {
            kids.erase(kids.begin() + long(i));
            continue;
        }
        if (!WIFSTOPPED(status)) {
            ++i;
            continue;
        }
        if (!kids[i].started && kids[i].let_go) {
            // Threads die with their process; they stay untraced as before.
            const int sig = WSTOPSIG(status);
            ptrace(PTRACE_DETACH, pid, nullptr, reinterpret_cast<void*>(long(sig == SIGSTOP ? 0 : sig)));
            kids.erase(kids.begin() + long(i));
            continue;
        }
        let_run(pid, status, !kids[i].started);
        kids[i].started = true;
        ++i;
    }
}

void Process::Impl::let_run(int pid, int status, bool first)
{
    let_go_now = true;
    const int sig = WSTOPSIG(status);
    if (first) {
        // Its exec stops as an event from now on, not as a SIGTRAP it would
        // get; the first stop itself (SIGSTOP of a new process, SIGTRAP of
        // the exec of a plain run) is ours.
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(kKidOptions));
        resume_kid(pid, sig == SIGSTOP || sig == SIGTRAP ? 0 : sig);
    } else if ((status >> 16) != 0) {
        take_event(pid, status >> 16);
        resume_kid(pid, 0);
    } else {
        resume_kid(pid, sig);
    }
}

void Process::Impl::end_kids()
{
    for (const Kid& k : kids)
        ::kill(k.pid, SIGKILL);
    for (const Kid& k : kids)
        reap_kid(k.pid);
    kids.clear();
}

} // namespace dbg
