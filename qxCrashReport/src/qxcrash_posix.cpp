// The fatal-signal handler. Everything it touches is prepared by install()
// and the setters beforehand; the handler itself only uses async-signal-safe
// calls on fixed buffers. The frames come from the unwinder the program
// carries, not from backtrace(), which loads a library on its first use:
// at start that cost every short run a noticeable part of its time, and
// inside the handler it could not be done safely.
#include "qxcrash_detail.h"

#include <execinfo.h>
#include <unwind.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qxcrash::detail {

namespace {

void put(int fd, const char* text, size_t length)
{
    while (length > 0) {
        ssize_t done = write(fd, text, length);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (done == 0)
            return;
        text += done;
        length -= static_cast<size_t>(done);
    }
}

void put(int fd, const char* text)
{
    put(fd, text, strlen(text));
}

// Bounded strlen for buffers that another thread could be rewriting.
size_t text_length(const char* text, size_t size)
{
    size_t n = 0;
    while (n < size && text[n])
        ++n;
    return n;
}

void put_log_tail(int fd)
{
    if (!g_log[0])
        return;
    int log_fd = open(g_log, O_RDONLY | O_CLOEXEC);
    if (log_fd < 0)
        return;
    struct stat st;
    bool whole = fstat(log_fd, &st) != 0 || st.st_size <= static_cast<off_t>(k_tail_bytes);
    off_t offset = whole ? 0 : st.st_size - static_cast<off_t>(k_tail_bytes);
    ssize_t got = pread(log_fd, g_tail, k_tail_bytes, offset);
    close(log_fd);
    if (got <= 0)
        return;
    size_t end = static_cast<size_t>(got);
    g_tail[end] = '\0';
    size_t start = 0;
    if (whole) {
        if (g_tail[0] == '\n')
            start = 1;
    } else {
        // The block starts inside a line: begin at the first whole one.
        while (start < end && g_tail[start] != '\n')
            ++start;
        if (start == end)
            return;
        ++start;
    }
    put(fd, g_tail + start, end - start);
}

constexpr int k_signals[] = { SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP };
constexpr const char* k_ctx_titles[k_ctx_slots] = {
    "\n--- Graphics ---\n",
    "\n--- Audio ---\n",
    "\n--- System ---\n",
};

// A stack overflow leaves no room for the handler on the faulting stack, so
// it runs on a stack of its own, with a guard page below it so that a handler
// overflowing it dies instead of overwriting memory.
bool ensure_signal_stack()
{
    static void* stack_base;
    if (stack_base)
        return true;
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0)
        page = 4096;
    size_t size = 256 * 1024;
    long wanted = sysconf(_SC_SIGSTKSZ);
    if (wanted > 0 && static_cast<size_t>(wanted) * 4 > size)
        size = static_cast<size_t>(wanted) * 4;
    size = (size + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) * static_cast<size_t>(page);
    void* base = mmap(nullptr, size + static_cast<size_t>(page), PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (base == MAP_FAILED)
        return false;
    mprotect(base, static_cast<size_t>(page), PROT_NONE);
    stack_t ss {};
    ss.ss_sp = static_cast<char*>(base) + page;
    ss.ss_size = size;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(base, size + static_cast<size_t>(page));
        return false;
    }
    stack_base = base;
    return true;
}

} // namespace

const char* signal_text(int sig)
{
    switch (sig) {
    case 4:
        return "SIGILL (Illegal instruction)";
    case 5:
        return "SIGTRAP (Trap - usually a fatal GLib/GTK error)";
    case 6:
        return "SIGABRT (Abort)";
    case 7:
        return "SIGBUS (Bus error)";
    case 8:
        return "SIGFPE (Floating point exception)";
    case 11:
        return "SIGSEGV (Segmentation fault)";
    default:
        return "unknown signal";
    }
}

void put_num(int fd, int64_t value)
{
    char buffer[40];
    char* end = buffer + sizeof buffer;
    char* p = end;
    // Work on the magnitude as unsigned so that the most negative value,
    // which has no positive counterpart, prints correctly too.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        *--p = '-';
    put(fd, p, static_cast<size_t>(end - p));
}

namespace {

struct Frames {
    void** out;
    int max;
    int count;
};

_Unwind_Reason_Code take_frame(struct _Unwind_Context* context, void* arg)
{
    auto* frames = static_cast<Frames*>(arg);
    if (frames->count >= frames->max)
        return _URC_END_OF_STACK;
    uintptr_t ip = _Unwind_GetIP(context);
    if (ip)
        frames->out[frames->count++] = reinterpret_cast<void*>(ip);
    return _URC_NO_REASON;
}

// The return addresses of the calls on the stack, innermost first.
int stack_frames(void** out, int max)
{
    Frames frames { out, max, 0 };
    _Unwind_Backtrace(take_frame, &frames);
    return frames.count;
}

// A fresh file: an older report there is removed first, and the exclusive
// create never writes into a file or through a link that someone else put
// at the name (in a shared folder such a file cannot be removed, and the
// report is refused).
int create_report()
{
    if (!g_report[0])
        return -1;
    return open_fresh(g_report);
}

} // namespace

void on_crash(int sig)
{
    // The program's own clean-up first: it is short, and the report below
    // may fail halfway.
    if (auto hook = g_fatal_hook.load())
        hook();
    int fd = create_report();
    if (fd >= 0) {
        put(fd, "=== ");
        put(fd, g_name);
        put(fd, " crash report ===\n");
        put(fd, "Version: ");
        put(fd, g_version);
        put(fd, " (Build ");
        put(fd, g_build);
        put(fd, ")\n");
        if (g_package[0]) {
            put(fd, "Package: ");
            put(fd, g_package);
            put(fd, "\n");
        }
        if (g_snap_revision[0]) {
            put(fd, "Snap revision: ");
            put(fd, g_snap_revision);
            put(fd, "\n");
        }
        put(fd, "Signal: ");
        put(fd, signal_text(sig));
        put(fd, "\nTime (unix): ");
        time_t now = time(nullptr);
        put_num(fd, static_cast<int64_t>(now));
        put(fd, "\n");
        if (g_started) {
            put(fd, "Running for (s): ");
            put_num(fd, static_cast<int64_t>(now - g_started));
            put(fd, "\n");
        }
        struct utsname un;
        if (uname(&un) == 0) {
            put(fd, "System: ");
            put(fd, un.sysname);
            put(fd, " ");
            put(fd, un.release);
            put(fd, " ");
            put(fd, un.machine);
            put(fd, "\n");
        }
        if (g_desktop[0]) {
            put(fd, "Desktop: ");
            put(fd, g_desktop);
            put(fd, "\n");
        }
        if (g_session[0]) {
            put(fd, "Session: ");
            put(fd, g_session);
            put(fd, "\n");
        }

        put(fd, "\nBacktrace:\n");
        void* frames[48];
        int count = stack_frames(frames, 48);
        if (count > 0)
            backtrace_symbols_fd(frames, count, fd);

        for (int slot = 0; slot < k_ctx_slots; ++slot) {
            const char* text = g_ctx[slot][g_ctx_live[slot].load() & 1];
            if (!text[0])
                continue;
            put(fd, k_ctx_titles[slot]);
            put(fd, text, text_length(text, k_ctx_bytes));
        }

        put(fd, "\nLog (last lines before the crash):\n");
        put_log_tail(fd);
        put(fd, "\nLog file:\n  ");
        put(fd, g_log[0] ? g_log : "(unknown)");
        put(fd, "\n=== end of report ===\n");
        close(fd);
    }
    // The handler was reset on entry, so the signal now takes its default
    // effect as soon as the handler returns.
    raise(sig);
}

} // namespace qxcrash::detail

namespace qxcrash {

using namespace detail;

void set_fatal_hook(void (*hook)())
{
    g_fatal_hook.store(hook);
}

void install(const App& app)
{
    set_app(app);
    copy_text(g_name, sizeof g_name, app.name);
    copy_text(g_version, sizeof g_version, app.version);
    copy_text(g_build, sizeof g_build, app.build);

    // The runtime directory is the user's own. A shared temporary folder is
    // not: there the report goes into a private folder of its own, or nowhere.
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime ? runtime : "";
    if (dir.empty()) {
        const char* tmp = getenv("TMPDIR");
        dir = private_dir(tmp && *tmp ? tmp : "/tmp", g_name);
    }
    if (dir.empty())
        g_report[0] = '\0';
    else
        copy_path(g_report, sizeof g_report, dir + "/" + g_name + "_crash.txt");
    g_crash_log[0] = '\0';

    copy_text(g_snap_revision, sizeof g_snap_revision, getenv("SNAP_REVISION"));
    copy_text(g_desktop, sizeof g_desktop, getenv("XDG_CURRENT_DESKTOP"));
    copy_text(g_session, sizeof g_session, getenv("XDG_SESSION_TYPE"));

    g_started = time(nullptr);

    int flags = SA_RESETHAND;
    if (ensure_signal_stack())
        flags |= SA_ONSTACK;
    for (int sig : k_signals) {
        struct sigaction sa {};
        sa.sa_handler = on_crash;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = flags;
        sigaction(sig, &sa, nullptr);
    }
}

} // namespace qxcrash
