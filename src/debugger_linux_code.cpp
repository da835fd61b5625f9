// The code around a stopped program's instruction pointer. Every stop of a
// single-stepped program reads it (to show the instruction and to know how
// to step over it), so a page that the program cannot change is read once
// and kept across steps until the instruction pointer leaves it: the page
// must be neither writable nor shared, no other thread may run, and the
// step must not enter the kernel, where mappings and protections change.
#include "debugger_linux.h"

#include "debugger_linux_impl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace dbg {

namespace {

// Stops without a continue or a system call before the program's mappings
// are read: a program that makes system calls all the time never pays for
// reading them, a loop pays once.
constexpr int kStopsBeforeMaps = 32;

size_t read_memory(int fd, uint64_t addr, uint8_t* buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        ssize_t r = pread(fd, buf + done, n - done, off_t(addr + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += size_t(r);
    }
    return done;
}

// A system call or software interrupt, behind any prefixes.
bool enters_kernel(const uint8_t* code, size_t n, int bits)
{
    size_t i = 0;
    while (i < n) {
        uint8_t b = code[i];
        bool prefix = b == 0x66 || b == 0x67 || b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x3E || b == 0x26
            || b == 0x36 || b == 0x64 || b == 0x65 || b == 0xF0 || (bits == 64 && b >= 0x40 && b <= 0x4F);
        if (!prefix)
            break;
        ++i;
    }
    if (i >= n)
        return true; // not known: the safe answer
    if (code[i] == 0xCD)
        return true;
    return code[i] == 0x0F && (i + 1 >= n || code[i + 1] == 0x05 || code[i + 1] == 0x34);
}

} // namespace

void Process::Impl::forget_code(bool with_maps)
{
    code_ok = false;
    code_keep = false;
    insn_ok = false;
    if (with_maps) {
        maps_ok = false;
        stops_unsure = 0;
    }
}

void Process::Impl::load_maps()
{
    changeable.clear();
    maps_ok = false;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/task", p->m_pid);
    struct stat st {};
    if (stat(path, &st) != 0)
        return;
    // The folder holds ".", ".." and one entry per thread.
    threaded = st.st_nlink > 3;
    snprintf(path, sizeof path, "/proc/%d/maps", p->m_pid);
    FILE* f = fopen(path, "re");
    if (!f)
        return;
    char line[512];
    bool ok = true;
    while (fgets(line, sizeof line, f)) {
        unsigned long long start = 0, end = 0;
        char perms[8] = {};
        if (sscanf(line, "%llx-%llx %7s", &start, &end, perms) != 3) {
            ok = false;
            break;
        }
        if (perms[1] == 'w' || perms[3] == 's')
            changeable.emplace_back(start, end);
        // The rest of a long line (a long file name) is skipped.
        while (!strchr(line, '\n') && fgets(line, sizeof line, f)) { }
    }
    fclose(f);
    maps_ok = ok;
}

void Process::Impl::fill_code()
{
    if (!regs_ok || memfd < 0)
        return;
    const uint64_t pc = regs.rip;
    if (code_ok && pc >= code_start && pc - code_start < code_len
        && (code_len - (pc - code_start) >= kInsnMax || code_len < code_want))
        return;
    if (!maps_ok && ++stops_unsure >= kStopsBeforeMaps) {
        // Once per so many stops, also when the mappings cannot be read.
        stops_unsure = 0;
        load_maps();
    }
    code_ok = true;
    code_keep = false;
    if (!maps_ok || threaded) {
        code_start = pc;
        code_want = kInsnMax;
        code_len = read_memory(memfd, pc, code, code_want);
        return;
    }
    code_start = pc & ~uint64_t(kPage - 1);
    code_want = sizeof code;
    code_len = read_memory(memfd, code_start, code, code_want);
    const uint64_t end = code_start + code_len;
    code_keep = true;
    for (const auto& [lo, hi] : changeable)
        if (lo < end && hi > code_start)
            code_keep = false;
}

bool Process::Impl::cached_code(uint64_t addr, uint8_t* buf, size_t n, size_t* got) const
{
    if (!code_ok || addr < code_start || addr - code_start >= code_len)
        return false;
    const size_t from = size_t(addr - code_start);
    const size_t k = std::min(n, code_len - from);
    // A read that goes on past the cache is served only where the memory
    // itself ended there.
    if (k < n && code_len == code_want)
        return false;
    memcpy(buf, code + from, k);
    *got = k;
    return true;
}

bool Process::Impl::code_before_resume(bool single_step)
{
    insn_ok = false;
    bool syscall = true;
    if (single_step && regs_ok && code_ok && regs.rip >= code_start && regs.rip - code_start < code_len) {
        const size_t from = size_t(regs.rip - code_start);
        syscall = enters_kernel(code + from, code_len - from, p->m_bits);
    }
    if (!single_step || syscall)
        forget_code(true);
    else if (!code_keep)
        forget_code(false);
    return single_step && !syscall;
}

// ---- the public side ---------------------------------------------------------

size_t Process::read(uint64_t addr, uint8_t* buf, size_t n) const
{
    if (m->memfd < 0 || m_state != State::Stopped || n == 0)
        return 0;
    if (m->regs_ok && addr == m->regs.rip && n <= Impl::kInsnMax)
        m->fill_code();
    size_t got = 0;
    if (m->cached_code(addr, buf, n, &got))
        return got;
    return read_memory(m->memfd, addr, buf, n);
}

const dis::Insn& Process::insn_at_pc() const
{
    if (!m->insn_ok) {
        uint8_t bytes[Impl::kInsnMax];
        const size_t n = read(pc(), bytes, sizeof bytes);
        dis::decode(bytes, n, pc(), m_bits, &m->insn);
        m->insn_ok = true;
    }
    return m->insn;
}

} // namespace dbg
