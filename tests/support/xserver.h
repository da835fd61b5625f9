#pragma once
// A private Xvfb server on a display number it picks itself, for the window
// tests and benchmarks. Header-only: the benchmarks do not link the test
// helpers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testutil {

class XServer {
public:
    XServer() = default;
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer() { stop(); }

    // Starts Xvfb with one screen such as "1920x1080x24"; false when it
    // cannot be started or names no display within 10 s. `keep` leaves the
    // server's state (root window properties) when its last client goes.
    enum class Reset : int { AtLastClient, Never };
    bool start(const std::string& screen, Reset keep = Reset::AtLastClient)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            if (keep == Reset::Never)
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                       "-noreset", (char*)nullptr);
            else
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                       (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{ fds[0], POLLIN, 0 };
        while (m_pid > 0 && poll(&p, 1, 10000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        close(fds[0]);
        if (number.empty()) {
            stop();
            return false;
        }
        m_display = ":" + number;
        return true;
    }

    void stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace testutil
