// Mailing a crash report: send() on the main thread, the detached worker
// that tries the ways to a composed mail in turn, the xdg-email way, the
// mailto: fallback, and the texts they share.
#include "qxcrash_detail.h"
#include "qxcrash_mail.h"

#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace qxcrash::detail {

int g_portal_wait_ms = 30000;
int g_body_wait_ms = 120000;

namespace {

constexpr size_t k_report_limit = 262144;
constexpr size_t k_crash_log_limit = 49152;
constexpr size_t k_short_body = 6000;
constexpr const char* k_greeting = "Attached: crash report and log files. The same follows as text.\n\n";

// Shared by send(), the workers and finish_mail(). Never destroyed: a worker
// abandoned at exit may still reach it while static objects are torn down.
struct MailState {
    std::mutex m;
    std::condition_variable done;
    int running = 0;
    bool closing = false;
};

MailState& state()
{
    static MailState* s = new MailState;
    return *s;
}

bool under_sandbox()
{
    return !env("SNAP").empty() || !env("FLATPAK_ID").empty();
}

using Renames = std::vector<std::pair<std::string, std::string>>;

struct Job {
    std::string report;
    std::string crash_log;
    std::vector<std::string> files;
    // The "-sent" names given and the names they had, to undo.
    Renames renamed;
};

void undo_renames(const Renames& renamed)
{
    for (const auto& [now, before] : renamed)
        file_rename(now, before);
}

void work(Job job)
{
    std::string body = k_greeting + job.report;
    if (!job.crash_log.empty())
        body += "\n=== crash_log.txt (log of the crashed run) ===\n" + job.crash_log;
    std::string to = app()->contact;
    std::string title = subject();
    bool composed = compose_with_attachments(to, title, body, job.files);
    if (mail_closing()) {
        // Given up at exit before a mail program confirmed anything: the
        // report stays offered for the next start.
        if (!composed)
            undo_renames(job.renamed);
    } else if (composed) {
        mail_log("INFO", "Crash report: mail composed with " + std::to_string(job.files.size()) + " attachments");
    } else {
        // Nothing took the files, so they keep the names the next start
        // offers, and the folder is opened for attaching them by hand.
        undo_renames(job.renamed);
        open_uri("mailto:" + to + "?subject=" + url_encode(title) + "&body="
            + url_encode(mail_body(job.report, k_short_body)));
        std::string report = report_path();
        size_t slash = report.find_last_of("/\\");
        std::string dir = slash == std::string::npos ? std::string() : report.substr(0, slash);
        if (!dir.empty())
            open_uri(folder_uri(dir));
        mail_log("WARN", "Crash report: no way to attach files - opened mailto and the folder");
        mail_log("WARN", "Crash report: the files stay in " + (dir.empty() ? report : dir)
                + " and are offered again at the next start");
    }
    MailState& s = state();
    std::lock_guard<std::mutex> lock(s.m);
    --s.running;
    s.done.notify_all();
}

} // namespace

std::string subject()
{
    const App* a = app();
    return std::string(a->name) + " " + a->version + " (Build " + a->build + ") crash report";
}

std::string mail_body(const std::string& text, size_t limit)
{
    // No static string: a worker abandoned at exit may still get here.
    constexpr std::string_view marker = "Log (last lines before the crash):\n";
    std::string result = text;
    size_t mark = text.find(marker);
    if (mark != std::string::npos && text.size() > limit) {
        size_t start = mark + marker.size();
        size_t from = start + (text.size() - limit + 8);
        size_t newline = from < text.size() ? text.find('\n', from) : std::string::npos;
        if (newline != std::string::npos)
            result = text.substr(0, start) + "[...]" + text.substr(newline);
    }
    if (result.size() > limit)
        result = result.substr(0, limit) + "\n[...]";
    return result;
}

std::string url_encode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        bool alnum = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
        if (alnum || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string sent_name(const std::string& path)
{
    size_t dot = path.rfind(".txt");
    if (dot == std::string::npos)
        return path + "-sent";
    return path.substr(0, dot) + "-sent.txt";
}

std::string utf8_escaped(const std::string& text)
{
    std::string out;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* bad = nullptr;
        g_utf8_validate_len(p, static_cast<gsize>(end - p), &bad);
        out.append(p, static_cast<size_t>(bad - p));
        if (bad == end)
            break;
        char escaped[8];
        snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(*bad));
        out += escaped;
        p = bad + 1;
    }
    return out;
}

std::string file_uri(const std::string& path)
{
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (!uri)
        return {};
    std::string result = uri;
    g_free(uri);
    return result;
}

std::string folder_uri(const std::string& dir)
{
    std::string uri = file_uri(dir);
    return uri.empty() ? "file://" + dir : uri;
}

pid_t spawn(const std::vector<std::string>& argv, int out)
{
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The program ignores SIGPIPE for itself; a child must not inherit that.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return failed ? -1 : pid;
}

int wait_child(pid_t pid)
{
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        if (mail_closing())
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void open_uri(const std::string& uri)
{
    if (auto callback = app()->open_uri) {
        callback(uri);
        return;
    }
    // Everything the children need exists before the fork: another thread
    // may hold the allocator's lock at that moment.
    gchar* opener = g_find_program_in_path("xdg-open");
    if (!opener)
        return;
    std::string program = opener;
    g_free(opener);
    const char* argv[] = { program.c_str(), uri.c_str(), nullptr };
    // A double fork: the opener is never waited for and leaves no zombie.
    pid_t pid = fork();
    if (pid == 0) {
        if (fork() == 0) {
            signal(SIGPIPE, SIG_DFL);
            execv(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        _exit(0);
    }
    if (pid > 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool via_xdg_email(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files)
{
    if (under_sandbox())
        return false;
    // One argument may hold at most 128 KiB, and xdg-email turns the body
    // into a mailto: link of three times its size: the body is cut as for
    // the mailto: fallback; the full texts are attached.
    std::vector<std::string> argv = { "xdg-email", "--utf8", "--subject", subject, "--body",
        mail_body(body, k_short_body) };
    for (const std::string& file : files) {
        argv.push_back("--attach");
        argv.push_back(file);
    }
    argv.push_back(to);
    pid_t pid = spawn(argv);
    if (pid < 0)
        return false;
    int code = wait_child(pid);
    mail_log(code == 0 ? "INFO" : "WARN", "xdg-email: exit " + std::to_string(code));
    return code == 0;
}

bool compose_with_attachments(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files)
{
    for (auto way : { via_thunderbird, via_portal, via_xdg_email }) {
        if (mail_closing())
            return false;
        if (way(to, subject, body, files))
            return true;
    }
    return false;
}

void mail_log(const char* level, const std::string& message)
{
    MailState& s = state();
    std::lock_guard<std::mutex> lock(s.m);
    if (!s.closing)
        log(level, message);
}

bool mail_closing()
{
    MailState& s = state();
    std::lock_guard<std::mutex> lock(s.m);
    return s.closing;
}

} // namespace qxcrash::detail

namespace qxcrash {

using namespace detail;

void send(const std::string& current_log)
{
    Job job;
    file_read(report_path(), &job.report, k_report_limit);
    for (const std::string& path : { report_path(), crash_log_path() }) {
        if (path.empty() || !file_exists(path))
            continue;
        std::string sent = sent_name(path);
        if (file_rename(path, sent)) {
            job.files.push_back(sent);
            job.renamed.emplace_back(sent, path);
        }
    }
    if (!current_log.empty() && file_exists(current_log))
        job.files.push_back(current_log);
    for (const std::string& file : job.files) {
        if (file.find("crash_log") != std::string::npos)
            file_read(file, &job.crash_log, k_crash_log_limit);
    }
    MailState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.m);
        if (s.closing) {
            undo_renames(job.renamed);
            return;
        }
        ++s.running;
    }
    auto renamed = job.renamed;
    try {
        std::thread(work, std::move(job)).detach();
    } catch (const std::system_error&) {
        undo_renames(renamed);
        std::lock_guard<std::mutex> lock(s.m);
        --s.running;
    }
}

bool finish_mail(int wait_ms)
{
    MailState& s = state();
    std::unique_lock<std::mutex> lock(s.m);
    s.done.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return s.running == 0; });
    s.closing = true;
    return s.running == 0;
}

} // namespace qxcrash
