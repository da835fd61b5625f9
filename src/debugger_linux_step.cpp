// Breakpoints, hardware watchpoints, resuming and the classification of
// stops. Software breakpoints live in the program's memory only while it
// runs after a continue: they are written in just before and taken out at
// every stop, so whatever reads or steps the stopped program sees its own
// bytes.
#include "debugger_linux.h"

#include "debugger_linux_impl.h"
#include "disasm.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace dbg {

namespace {

long debugreg_offset(int i)
{
    return long(offsetof(struct user, u_debugreg) + size_t(i) * sizeof(((struct user*)nullptr)->u_debugreg[0]));
}

void poke_debugreg(int pid, int i, uint64_t value)
{
    ptrace(PTRACE_POKEUSER, pid, reinterpret_cast<void*>(debugreg_offset(i)), reinterpret_cast<void*>(value));
}

uint64_t len_bits(int len)
{
    switch (len) {
    case 1: return 0;
    case 2: return 1;
    case 8: return 2;
    default: return 3;
    }
}

} // namespace

uint64_t watch_address(const Process::Watch& w)
{
    return w.addr & ~uint64_t(int64_t(w.len) - 1);
}

uint64_t debug_control(const std::vector<Process::Watch>& watches)
{
    uint64_t dr7 = 0;
    for (size_t i = 0; i < watches.size() && i < size_t(Process::kMaxWatches); ++i) {
        dr7 |= uint64_t(1) << (2 * i);
        dr7 |= uint64_t(watches[i].any_access ? 3 : 1) << (16 + 4 * i);
        dr7 |= len_bits(watches[i].len) << (18 + 4 * i);
    }
    return dr7;
}

// ---- breakpoint set ------------------------------------------------------------

bool Process::toggle_bp(uint64_t a)
{
    if (m_bps.erase(a))
        return false;
    m_bps.insert(a);
    return true;
}

void Process::set_watches(const std::vector<Watch>& w)
{
    m_watches.assign(w.begin(), w.begin() + std::min(w.size(), size_t(kMaxWatches)));
}

// ---- writing into the program -----------------------------------------------------

void Process::Impl::insert_breakpoints()
{
    auto put = [this](uint64_t a) {
        if (memfd < 0 || inserted.count(a))
            return;
        uint8_t orig = 0;
        if (pread(memfd, &orig, 1, off_t(a)) != 1)
            return;
        const uint8_t int3 = 0xCC;
        if (pwrite(memfd, &int3, 1, off_t(a)) != 1)
            return;
        inserted[a] = orig;
    };
    for (uint64_t a : p->m_bps)
        put(a);
    if (has_temp)
        put(temp_bp);
}

void Process::Impl::remove_breakpoints()
{
    if (memfd >= 0) {
        for (const auto& [a, orig] : inserted)
            (void)!pwrite(memfd, &orig, 1, off_t(a));
    }
    inserted.clear();
}

void Process::Impl::program_watches()
{
    const auto& w = p->m_watches;
    if (w.empty()) {
        clear_watch_registers();
        return;
    }
    // The kernel checks each address register against the length its slot
    // has in the current control value, so the old control value goes first.
    if (dr7_set)
        poke_debugreg(p->m_pid, 7, 0);
    for (size_t i = 0; i < w.size() && i < size_t(kMaxWatches); ++i)
        poke_debugreg(p->m_pid, int(i), watch_address(w[i]));
    poke_debugreg(p->m_pid, 7, debug_control(w));
    dr7_set = true;
}

void Process::Impl::clear_watch_registers()
{
    if (!dr7_set)
        return;
    poke_debugreg(p->m_pid, 7, 0);
    dr7_set = false;
}

// The kernel single-steps by setting TF in the program's flags, so a pushf
// stepped that way pushes TF = 1 and the matching popf would turn real
// tracing on in the program. Noted before such a step, mended after it.
void Process::Impl::note_pushf()
{
    pushf_pending = false;
    if (!regs_ok || (regs.eflags & 0x100) || memfd < 0)
        return;
    uint8_t code[15] = {};
    const ssize_t n = ssize_t(p->read(regs.rip, code, sizeof code));
    int size = p->m_bits == 64 ? 8 : 4;
    for (ssize_t i = 0; i < n; ++i) {
        uint8_t b = code[i];
        if (b == 0x66) {
            size = 2;
        } else if (b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x26 || b == 0x64
                   || b == 0x65 || (p->m_bits == 64 && b >= 0x40 && b <= 0x4F)) {
            continue;
        } else {
            if (b == 0x9C) {
                pushf_pending = true;
                pushf_sp = regs.rsp;
                pushf_size = size;
            }
            return;
        }
    }
}

void Process::Impl::fix_pushf()
{
    if (!pushf_pending)
        return;
    pushf_pending = false;
    uint64_t slot = pushf_sp - uint64_t(pushf_size);
    if (p->m_bits == 32)
        slot &= 0xFFFFFFFFu;
    if (!regs_ok || memfd < 0 || uint64_t(regs.rsp) != slot)
        return;
    uint8_t high = 0; // bits 8 to 15 of the pushed flags
    if (pread(memfd, &high, 1, off_t(slot + 1)) == 1 && (high & 1)) {
        high &= uint8_t(~1u);
        ssize_t written = pwrite(memfd, &high, 1, off_t(slot + 1));
        (void)written; // nothing better to do when the stack cannot be written
    }
}

bool Process::Impl::resume(int request)
{
    program_watches();
    if (request == PTRACE_SINGLESTEP)
        note_pushf();
    else
        pushf_pending = false;
    quick = code_before_resume(request == PTRACE_SINGLESTEP);
    int sig = pending_sig;
    if (ptrace(__ptrace_request(request), p->m_pid, nullptr, reinterpret_cast<void*>(long(sig))) != 0)
        return false;
    last_request = request;
    pending_sig = 0;
    regs_ok = false;
    p->m_state = State::Running;
    return true;
}

bool Process::Impl::stopped_under_trace() const
{
    return p->m_state == State::Stopped && p->m_trace;
}

// ---- resuming -------------------------------------------------------------------------

bool Process::cont()
{
    if (!m->stopped_under_trace())
        return false;
    bool ok;
    if (m_bps.count(pc()) || m->has_temp) {
        // Leave the breakpoint's address with one step first; poll then
        // writes the breakpoints in and continues.
        m->action = Impl::Action::StepThenCont;
        ok = m->resume(PTRACE_SINGLESTEP);
    } else {
        m->insert_breakpoints();
        m->action = Impl::Action::Cont;
        ok = m->resume(PTRACE_CONT);
        if (!ok)
            m->remove_breakpoints();
    }
    if (!ok)
        m->action = Impl::Action::None;
    return ok;
}

bool Process::step()
{
    if (!m->stopped_under_trace())
        return false;
    m->action = Impl::Action::Step;
    if (m->resume(PTRACE_SINGLESTEP))
        return true;
    m->action = Impl::Action::None;
    return false;
}

bool Process::run_to(uint64_t addr)
{
    if (!m->stopped_under_trace())
        return false;
    if (addr == pc())
        return step();
    m->temp_bp = addr;
    m->has_temp = true;
    if (cont())
        return true;
    m->has_temp = false;
    return false;
}

bool Process::step_over()
{
    if (!m->stopped_under_trace())
        return false;
    const dis::Insn& insn = insn_at_pc();
    if (insn.len > 0 && insn.valid && (insn.is_call || insn.bytes[0] == 0xF2 || insn.bytes[0] == 0xF3))
        return run_to(pc() + insn.len);
    return step();
}

bool Process::step_out()
{
    if (!m->stopped_under_trace())
        return false;
    uint8_t bytes[8] = {};
    size_t want = m_bits == 32 ? 4 : 8;
    if (read(sp(), bytes, want) < want)
        return false;
    uint64_t ret = 0;
    for (size_t i = want; i-- > 0;)
        ret = (ret << 8) | bytes[i];
    if (m->returns_to(ret))
        return run_to(ret);
    // Past the function's first instruction [rsp] may hold anything (a
    // saved rbp, a local): never run free to it.
    m->out_active = true;
    m->out_sp = sp();
    if (m->step_out_next())
        return true;
    m->out_active = false;
    return false;
}

bool Process::Impl::returns_to(uint64_t ret)
{
    uint64_t from = 0;
    for (const Region& r : p->regions()) {
        if (ret > r.start && ret < r.end && r.x)
            from = std::max(r.start, ret - std::min<uint64_t>(ret, kInsnMax));
    }
    if (from == 0)
        return false;
    uint8_t code[kInsnMax] = {};
    const size_t n = p->read(from, code, size_t(ret - from));
    if (n != ret - from)
        return false;
    const uint64_t pc = p->pc();
    dis::Insn insn;
    for (size_t len = 2; len <= n; ++len) {
        dis::decode(code + n - len, len, ret - len, p->m_bits, &insn);
        if (!insn.valid || !insn.is_call || insn.len != len)
            continue;
        // A direct call names its target: the current function starts there.
        if (!insn.has_target || (insn.target <= pc && pc - insn.target < (uint64_t(1) << 24)))
            return true;
    }
    return false;
}

bool Process::Impl::step_out_next()
{
    const dis::Insn& insn = p->insn_at_pc();
    const bool valid = insn.len > 0 && insn.valid;
    out_after_ret = false;
    if (valid && (insn.is_call || insn.bytes[0] == 0xF2 || insn.bytes[0] == 0xF3)) {
        // Over a call or a repeated string instruction, as step over does.
        temp_bp = regs.rip + insn.len;
        has_temp = true;
        action = Action::StepThenCont;
        if (resume(PTRACE_SINGLESTEP))
            return true;
        has_temp = false;
        action = Action::None;
        return false;
    }
    out_after_ret = valid && insn.is_ret;
    action = Action::Step;
    if (resume(PTRACE_SINGLESTEP))
        return true;
    action = Action::None;
    return false;
}

// ---- stops ------------------------------------------------------------------------------

bool Process::Impl::classify_stop(int sig, std::string* reason)
{
    Action was = action;
    action = Action::None;
    fix_pushf();

    if (sig != SIGTRAP) {
        pending_sig = sig;
        *reason = std::string("signal:") + signal_name(sig);
        return true;
    }

    if (!p->m_watches.empty()) {
        errno = 0;
        long dr6 = ptrace(PTRACE_PEEKUSER, p->m_pid, reinterpret_cast<void*>(debugreg_offset(6)), nullptr);
        if (errno == 0 && (dr6 & 0xF) != 0) {
            poke_debugreg(p->m_pid, 6, 0);
            int slot = 0;
            while (!(dr6 & (1L << slot)))
                ++slot;
            *reason = "watch:" + std::to_string(slot);
            return true;
        }
    }

    uint64_t at = regs_ok ? uint64_t(regs.rip) - 1 : 0;
    if (regs_ok && inserted.count(at)) {
        // Our int3 ran: report the breakpoint's own address, and let the
        // replaced instruction run at the next resume.
        regs.rip = at;
        store_regs();
        if (was == Action::StartToEntry && at == p->m_entry)
            *reason = "entry";
        else if (has_temp && at == temp_bp)
            *reason = p->m_bps.count(at) ? "breakpoint" : "step";
        else
            *reason = "breakpoint";
        return true;
    }

    if (was == Action::StepThenCont) {
        insert_breakpoints();
        action = Action::Cont;
        if (resume(PTRACE_CONT))
            return false;
        // The kernel refused the continue: the step is where it ends.
        action = Action::None;
        *reason = "step";
        return true;
    }
    *reason = was == Action::Step ? "step" : "trap";
    return true;
}

} // namespace dbg
