#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace testutil {

namespace {

// Builds share a per-user work directory under XDG_RUNTIME_DIR with fixed
// file names. Test processes run side by side, so each gets its own.
struct PrivateRuntimeDir {
    std::string dir;
    pid_t owner = getpid();

    PrivateRuntimeDir()
    {
        char tmpl[] = "/tmp/qxrun.XXXXXX";
        if (mkdtemp(tmpl)) {
            dir = tmpl;
            setenv("XDG_RUNTIME_DIR", tmpl, 1);
        }
    }
    ~PrivateRuntimeDir()
    {
        std::error_code ec;
        if (!dir.empty() && getpid() == owner)
            std::filesystem::remove_all(dir, ec);
    }
} g_runtime_dir;

} // namespace

TempDir::TempDir()
{
    char tmpl[] = "/tmp/qxtest.XXXXXX";
    char* p = mkdtemp(tmpl);
    m_path = p ? p : "/tmp";
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (m_path != "/tmp")
        std::filesystem::remove_all(m_path, ec);
}

// Children of the tests that have not ended by then are taken as hung:
// far beyond what any of them needs, well inside the test's own limit.
constexpr int kChildLimitS = 180;

static int ms_left(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

// Reads both pipes (err_fd may be -1) until they close; false when the
// deadline came first.
static bool drain(int out_fd, int err_fd, std::string& out, std::string& err,
                  std::chrono::steady_clock::time_point deadline)
{
    pollfd fds[2] = { { out_fd, POLLIN, 0 }, { err_fd, POLLIN, 0 } };
    int open_count = err_fd < 0 ? 1 : 2;
    char buf[65536];
    while (open_count > 0) {
        int ready = poll(fds, 2, ms_left(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            for (pollfd& p : fds)
                if (p.fd >= 0)
                    close(p.fd);
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? out : err).append(buf, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& cwd)
{
    RunResult r;
    int po[2], pe[2];
    if (pipe2(po, O_CLOEXEC) != 0 || pipe2(pe, O_CLOEXEC) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(po[1], 1);
        dup2(pe[1], 2);
        for (const auto& e : env) {
            auto eq = e.find('=');
            std::string name = e.substr(0, eq);
            if (eq == std::string::npos || eq + 1 == e.size())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), e.c_str() + eq + 1, 1);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(po[1]);
    close(pe[1]);
    if (!drain(po[0], pe[0], r.out, r.err, std::chrono::steady_clock::now() + std::chrono::seconds(kChildLimitS))) {
        kill(pid, SIGKILL);
        r.err += "\n[" + argv[0] + " had not ended after " + std::to_string(kChildLimitS) + " s: killed]";
    }
    int status = 0;
    wait_child(pid, &status);
    if (WIFEXITED(status))
        r.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.code = 128 + WTERMSIG(status);
    return r;
}

RunResult sh(const std::string& command, const std::string& cwd)
{
    return run({ "/bin/sh", "-c", command }, {}, cwd);
}

RunResult run_exe(const std::vector<std::string>& args, const std::vector<std::string>& env,
                  const std::string& cwd)
{
    std::vector<std::string> argv { exe_path() };
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env, cwd);
}

std::string exe_path() { return QX_EXE; }
std::string source_dir() { return QX_SOURCE_DIR; }
std::string tests_dir() { return QX_TESTS_DIR; }

std::string run_in_child(const std::vector<std::pair<const char*, const char*>>& env,
                     const std::function<std::string()>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "no pipe";
    pid_t pid = fork();
    if (pid < 0)
        return "no child";
    if (pid == 0) {
        close(fds[0]);
        for (auto [name, value] : env) {
            if (value)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
        std::string out = body();
        if (write(fds[1], out.data(), out.size()) < 0)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    std::string out, none;
    if (!drain(fds[0], -1, out, none, std::chrono::steady_clock::now() + std::chrono::seconds(kChildLimitS)))
        kill(pid, SIGKILL);
    int st = 0;
    if (wait_child(pid, &st) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0)
        out += " [child ended badly]";
    return out;
}

bool write_file(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), std::streamsize(data.size()));
    return bool(f);
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool file_exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::string nasm_build(const std::string& source, const std::string& out, const std::string& format)
{
    std::string asm_path = out + ".asm";
    if (!write_file(asm_path, source))
        return "cannot write " + asm_path;
    if (format == "bin") {
        auto r = run({ "nasm", "-f", "bin", "-o", out, asm_path });
        return r.code == 0 ? std::string() : r.out + r.err;
    }
    std::string obj = out + ".o";
    auto r = run({ "nasm", "-f", format, "-o", obj, asm_path });
    if (r.code != 0)
        return r.out + r.err;
    std::vector<std::string> ld { "ld", "-o", out, obj };
    if (format == "elf32")
        ld.insert(ld.begin() + 1, { "-m", "elf_i386" });
    r = run(ld);
    return r.code == 0 ? std::string() : r.out + r.err;
}

std::map<std::string, uint64_t> symbols(const std::string& path)
{
    std::map<std::string, uint64_t> out;
    std::istringstream lines(run({ "nm", path }).out);
    std::string addr, type, sym;
    while (lines >> addr >> type >> sym)
        out[sym] = std::stoull(addr, nullptr, 16);
    return out;
}

uint64_t peek_u64(int pid, uint64_t addr)
{
    uint64_t v = 0;
    int fd = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    if (fd >= 0) {
        if (pread(fd, &v, 8, off_t(addr)) != 8)
            v = 0;
        close(fd);
    }
    return v;
}

std::string status_field(int pid, const std::string& key)
{
    std::string text = "\n" + read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = text.find("\n" + key + ":\t");
    if (at == std::string::npos)
        return {};
    at += key.size() + 3;
    return text.substr(at, text.find('\n', at) - at);
}

std::string upper_hex(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

bool passes_in_child(const std::function<void()>& fn)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        fn();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int st = 0;
    if (wait_child(pid, &st) != pid)
        return false;
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

pid_t wait_child(pid_t pid, int* status, int seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int nap_us = 200;
    for (;;) {
        pid_t got = waitpid(pid, status, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR))
            return got;
        if (got == 0 && ms_left(deadline) == 0)
            break;
        usleep(useconds_t(nap_us));
        nap_us = std::min(nap_us * 2, 20000);
    }
    fprintf(stderr, "child %d had not ended after %d s: killed\n", int(pid), seconds);
    kill(pid, SIGKILL);
    waitpid(pid, status, 0);
    return -1;
}

void within(int seconds, const std::string& what, const std::function<void()>& fn)
{
    std::mutex m;
    std::condition_variable cv;
    bool returned = false;
    std::thread guard([&] {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return returned; })) {
            fprintf(stderr, "FAILED: %s did not return within %d s\n", what.c_str(), seconds);
            fflush(nullptr);
            _exit(1);
        }
    });
    fn();
    {
        std::lock_guard lock(m);
        returned = true;
    }
    cv.notify_one();
    guard.join();
}

bool write_picture(cairo_surface_t* s, const std::string& path, std::string* why)
{
    if (!gfx::write_png(s, path, why))
        return false;
    if (const char* keep = getenv("QX_TEST_SHOTS")) {
        std::string name = path.substr(path.rfind('/') + 1);
        write_file(std::string(keep) + "/" + name, read_file(path));
    }
    return true;
}

uint32_t pixel(cairo_surface_t* s, int x, int y)
{
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

uint32_t rgb(const Rgba& c)
{
    auto ch = [](double v) { return uint32_t(v * 255 + 0.5); };
    return ch(c.r) << 16 | ch(c.g) << 8 | ch(c.b);
}

} // namespace testutil
