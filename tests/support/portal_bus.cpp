// The portal stand-in on a private session bus, started and talked to by
// the portal tests.
#include "portal_bus.h"
#include "testutil.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace testutil {

namespace {

// A hang guard only: far beyond what a working exchange needs.
constexpr int kGuardMs = 60000;

std::vector<std::string> split_tabs(const std::string& line)
{
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return f;
        start = tab + 1;
    }
}

} // namespace

bool PortalBus::start(const std::string& dir, bool with_portal, const std::vector<std::string>& extra)
{
    std::string config = dir + "/bus.conf";
    write_file(config, "<busconfig><type>session</type><listen>unix:dir=" + dir +
                           "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    std::vector<std::string> args = { "dbus-run-session", "--config-file=" + config, "--", QX_PORTAL_STANDIN };
    if (!with_portal)
        args.push_back("--without-portal");
    args.insert(args.end(), extra.begin(), extra.end());
    // Prepared before fork: the child only execs.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            env_strings.push_back(*e);
    env_strings.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // The bus daemon's own complaints go to a file, shown on failure.
    m_errors = dir + "/bus.err";
    int err = open(m_errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int to[2], from[2];
    if (err < 0 || pipe2(to, O_CLOEXEC) != 0 || pipe2(from, O_CLOEXEC) != 0)
        return false;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(to[0], 0);
        dup2(from[1], 1);
        dup2(err, 2);
        execve("/usr/bin/dbus-run-session", argv.data(), envp.data());
        _exit(127);
    }
    close(err);
    close(to[0]);
    close(from[1]);
    m_in = to[1];
    m_out = from[0];
    std::vector<std::string> f;
    if (!next(&f) || f.size() != 2 || f[0] != "ready")
        return false;
    m_address = f[1];
    return !m_address.empty();
}

void PortalBus::stop()
{
    if (m_in >= 0)
        close(m_in);
    m_in = -1;
    if (m_pid > 0) {
        int status = 0;
        for (int i = 0; i < 1000 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            usleep(10000);
        if (waitpid(m_pid, &status, WNOHANG) == 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, &status, 0);
        }
    }
    m_pid = -1;
    if (m_out >= 0)
        close(m_out);
    m_out = -1;
}

std::string PortalBus::errors() const
{
    return read_file(m_errors);
}

bool PortalBus::command(const std::string& line)
{
    std::string l = line + "\n";
    if (write(m_in, l.data(), l.size()) != ssize_t(l.size()))
        return false;
    std::vector<std::string> f;
    return next(&f) && f[0] == "ok";
}

bool PortalBus::next(std::vector<std::string>* fields)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    for (;;) {
        size_t nl = m_buf.find('\n');
        if (nl != std::string::npos) {
            *fields = split_tabs(m_buf.substr(0, nl));
            m_buf.erase(0, nl + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        pollfd p { m_out, POLLIN, 0 };
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
            return false;
        char buf[4096];
        ssize_t n = read(m_out, buf, sizeof buf);
        if (n <= 0)
            return false;
        m_buf.append(buf, size_t(n));
    }
}

} // namespace testutil
