#include "attach.h"

#include "l10n.h"
#include "paths.h"
#include "textutil.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace attach {

namespace {

using textutil::trim;

bool all_digits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::string first_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    return line;
}

// Whether the process may be offered: one of the user's own, neither this
// program nor init. Its real and effective user are read from its status:
// the owner of its /proc folder is root for any program that changed user.
bool offered(int pid)
{
    if (pid <= 1 || pid == int(getpid()))
        return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        unsigned long real = 0, effective = 0;
        if (std::sscanf(line.c_str(), "Uid: %lu %lu", &real, &effective) == 2)
            return real == getuid() && effective == getuid();
    }
    return false;
}

} // namespace

Find find_process(const std::string& text, int* pid)
{
    std::string t = trim(text);
    if (t.empty())
        return Find::Empty;
    if (all_digits(t)) {
        // Numbers beyond any process id cannot name one.
        if (t.size() > 9)
            return Find::NotFound;
        int typed = std::stoi(t);
        if (!offered(typed))
            return Find::NotFound;
        *pid = typed;
        return Find::Found;
    }
    // The kernel keeps at most 15 characters of a program name.
    std::string want = t.substr(0, 15);
    DIR* dir = opendir("/proc");
    if (!dir)
        return Find::NotFound;
    Find found = Find::NotFound;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (!all_digits(name) || name.size() > 9)
            continue;
        int candidate = std::stoi(name);
        if (first_line("/proc/" + name + "/comm") != want || !offered(candidate))
            continue;
        *pid = candidate;
        found = Find::Found;
        break;
    }
    closedir(dir);
    return found;
}

bool executable(int pid, std::string* path, std::string* err)
{
    char link[4096];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), link, sizeof link - 1);
    if (n < 0) {
        *err = strerror(errno);
        return false;
    }
    *path = std::string(link, size_t(n));
    return true;
}

std::string ptrace_scope()
{
    std::string v = trim(first_line("/proc/sys/kernel/yama/ptrace_scope"));
    return v.empty() ? "?" : v;
}

Result attach_to(dbg::Process& proc, int pid)
{
    std::string exe, err;
    bool ok = proc.attach(pid, &exe, &err);
    return result_of(pid, ok, exe, err);
}

Result result_of(int pid, bool ok, const std::string& exe, const std::string& err)
{
    Result r;
    r.pid = pid;
    r.exe = exe;
    if (ok) {
        r.outcome = Outcome::Done;
        return r;
    }
    r.err = err;
    if (err == "eperm")
        r.outcome = strcmp(paths::package_kind(), "snap") == 0 ? Outcome::SnapDenied : Outcome::Denied;
    else
        r.outcome = Outcome::Failed;
    return r;
}

std::string message(const Result& r)
{
    std::string pid = std::to_string(r.pid);
    switch (r.outcome) {
    case Outcome::Done: return L10n::tr("attach.done", pid, r.exe);
    case Outcome::Denied: return L10n::tr("attach.eperm", pid, ptrace_scope());
    case Outcome::SnapDenied: return L10n::tr("snap.attach");
    case Outcome::Failed: break;
    }
    return L10n::tr("attach.failed", pid, r.err);
}

std::string not_found_message(const std::string& text)
{
    return L10n::tr("attach.not_found", trim(text));
}

bool detach(dbg::Process& proc)
{
    if (!proc.attached())
        return false;
    proc.kill();
    return true;
}

} // namespace attach
