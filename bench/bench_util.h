#pragma once
// Timing and quiet process runs shared by the benchmarks.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline double now_s()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double now_ms() { return now_s() * 1000.0; }

// Runs a program (searched in PATH) with every standard stream on
// /dev/null; returns its exit code, 128 + signal when killed.
inline int run_quiet(const std::vector<std::string>& argv, const std::string& cwd = {})
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times of two runs side by side and the ratio of each pair (a over b).
struct Pairs {
    std::vector<double> a, b, ratio;
    bool ok = true; // every run succeeded
};

// Runs `a` and `b` (each returns seconds, negative on failure) `rounds`
// times, one right after the other, the first of the two alternating: the
// machine's load at a moment falls on both, and neither always goes first.
// The median of the pair ratios is the figure to quote.
template <class A, class B>
Pairs alternate(int rounds, A&& a, B&& b)
{
    Pairs p;
    for (int i = 0; i < rounds && p.ok; ++i) {
        double ta, tb;
        if (i % 2 == 0) {
            ta = a();
            tb = b();
        } else {
            tb = b();
            ta = a();
        }
        p.ok = ta > 0 && tb > 0;
        if (!p.ok)
            break;
        p.a.push_back(ta);
        p.b.push_back(tb);
        p.ratio.push_back(ta / tb);
    }
    return p;
}

// A source of labels, loads, adds and jumps, `lines` lines long: what the
// editor benches type into.
inline std::string big_source(int lines)
{
    std::string out;
    char buf[160];
    for (int i = 0; i < lines; ++i) {
        switch (i % 4) {
        case 0: snprintf(buf, sizeof buf, "move_%d:", i); break;
        case 1: snprintf(buf, sizeof buf, "    mov     rax, [rbx + 0x%X]   ; entry", i); break;
        case 2: snprintf(buf, sizeof buf, "    add     rdx, %d", i); break;
        default: snprintf(buf, sizeof buf, "    jnz     move_%d", i - 3); break;
        }
        out += buf;
        out += '\n';
    }
    return out;
}

} // namespace bench
