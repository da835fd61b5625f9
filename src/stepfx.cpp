#include "stepfx.h"

#include "numfmt.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace stepfx {

namespace {

std::string hex(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

int clamp_size(int size)
{
    return std::clamp(size, 1, 8);
}

bool read_value(const dbg::Process& proc, uint64_t addr, int size, uint64_t* value)
{
    uint8_t buf[8] = {};
    if (proc.read(addr, buf, size_t(size)) != size_t(size))
        return false;
    uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | buf[i];
    *value = v;
    return true;
}

bool is_stack_pointer(const std::string& reg)
{
    return reg == "rsp" || reg == "esp" || reg == "sp";
}

// Registers whose change is part of the step itself or never interesting.
bool skipped_register(const std::string& name)
{
    return name == "rip" || name == "eip" || name == "eflags" || name == "fs_base" || name == "gs_base";
}

bool frame_register(const std::string& name)
{
    return name == "rsp" || name == "esp" || name == "rbp" || name == "ebp";
}

std::string register_part(const StepState& st, const std::string& name, uint64_t old, uint64_t now,
                          const Pointee& pointee)
{
    if (frame_register(name)) {
        int64_t d = int64_t(now - old);
        if (d >= -kMaxStackMove && d <= kMaxStackMove)
            return name + (d >= 0 ? " +" : " -") + hex(uint64_t(d >= 0 ? d : -d));
    }
    std::string part = name + " " + hex(old) + "\u2192" + hex(now);
    if (pointee) {
        std::string p = pointee(now);
        if (!p.empty())
            part += " " + p;
    }
    if (st.arm_syscall && (name == "rax" || name == "eax")) {
        int64_t s = name == "eax" ? int64_t(int32_t(uint32_t(now))) : int64_t(now);
        std::string ename, etext;
        if (s >= -4095 && s <= -1 && errno_name(int(-s), &ename, &etext))
            part += " = -" + ename + " (" + etext + ")";
    }
    return part;
}

std::string memory_part(const MemWrite& w, uint64_t now)
{
    if (now == w.old)
        return "[" + hex(w.addr) + "] =" + hex(now);
    std::string part = "[" + hex(w.addr) + "] " + hex(w.old) + "\u2192" + hex(now);
    std::string now_chars = now >= 32 ? numfmt::chars(now, w.size) : std::string();
    if (!now_chars.empty()) {
        std::string old_chars = w.old >= 32 ? numfmt::chars(w.old, w.size) : std::string();
        if (!old_chars.empty())
            part += " '" + old_chars + "'\u2192'" + now_chars + "'";
        else
            part += " '" + now_chars + "'";
    }
    return part;
}

void add_part(std::string* text, const std::string& part)
{
    if (!text->empty())
        *text += "  ";
    *text += part;
}

bool skipped_region(const dbg::Region& r)
{
    return !r.w || !r.r || r.name == "[vvar]" || r.name == "[vdso]" || r.name == "[vsyscall]";
}

// Adds the addresses of differing bytes of two equal-length runs, comparing
// a word at a time and looking at bytes only inside differing words.
void add_changes(uint64_t start, const uint8_t* a, const uint8_t* b, size_t n, std::set<uint64_t>* out)
{
    size_t i = 0;
    while (i < n && out->size() < kMaxChanged) {
        size_t chunk = std::min<size_t>(4096, n - i);
        if (memcmp(a + i, b + i, chunk) != 0) {
            for (size_t j = i; j < i + chunk && out->size() < kMaxChanged; ++j) {
                if (a[j] != b[j])
                    out->insert(out->end(), start + j);
            }
        }
        i += chunk;
    }
}

} // namespace

uint64_t operand_address(const dbg::Process& proc, const dis::Operand& op)
{
    if (op.rip)
        return op.abs;
    uint64_t a = uint64_t(op.disp);
    uint64_t v = 0;
    if (!op.base.empty() && proc.reg(op.base, &v))
        a += v;
    if (!op.index.empty() && proc.reg(op.index, &v))
        a += uint64_t(op.scale) * v;
    if (op.seg == "fs" && proc.reg("fs_base", &v))
        a += v;
    if (op.seg == "gs" && proc.reg("gs_base", &v))
        a += v;
    if (proc.bits() == 32)
        a &= 0xFFFFFFFFu;
    return a;
}

bool operand_value(const dbg::Process& proc, const dis::Operand& op, uint64_t* value, uint64_t* addr)
{
    if (op.kind == dis::Operand::Reg) {
        uint64_t v = 0;
        if (!proc.reg(op.reg64.empty() ? op.reg : op.reg64, &v))
            return false;
        v >>= op.shift;
        if (op.size >= 1 && op.size <= 7)
            v &= (uint64_t(1) << (8 * op.size)) - 1;
        *value = v;
        return true;
    }
    if (op.kind != dis::Operand::Mem)
        return false;
    uint64_t a = operand_address(proc, op);
    if (addr)
        *addr = a;
    return read_value(proc, a, clamp_size(op.size), value);
}

uint64_t write_address(const dbg::Process& proc, const dis::Operand& op)
{
    uint64_t a = operand_address(proc, op);
    bool hidden_push = !op.visible && op.write && op.kind == dis::Operand::Mem && is_stack_pointer(op.base)
        && op.index.empty() && op.disp == 0 && !op.rip;
    if (!hidden_push)
        return a;
    a -= uint64_t(op.size);
    return proc.bits() == 32 ? a & 0xFFFFFFFFu : a;
}

void arm_step(StepState& st, dbg::Process& proc)
{
    st.armed = false;
    if (!proc.traced() || proc.state() != dbg::State::Stopped)
        return;
    st.arm_pc = proc.pc();
    st.arm_regs.clear();
    for (const auto& r : proc.reg_list()) {
        uint64_t v = 0;
        if (proc.reg(r.name, &v))
            st.arm_regs[r.name] = v;
    }
    st.arm_mem.clear();
    uint8_t code[16] = {};
    size_t n = proc.read(st.arm_pc, code, sizeof code);
    dis::Insn insn;
    dis::decode(code, n, st.arm_pc, proc.bits(), &insn, true);
    st.arm_jump = insn.is_jump;
    st.arm_syscall = insn.text == "syscall" || insn.text.rfind("int 0x80", 0) == 0;
    st.arm_next = st.arm_pc + insn.len;
    for (const auto& op : insn.ops) {
        if (op.kind != dis::Operand::Mem || !op.write)
            continue;
        MemWrite w;
        w.addr = write_address(proc, op);
        w.size = clamp_size(op.size);
        if (read_value(proc, w.addr, w.size, &w.old))
            st.arm_mem.push_back(w);
    }
    st.armed = true;
}

void disarm(StepState& st)
{
    st.armed = false;
}

std::string effect_text(const StepState& st, dbg::Process& proc, const Pointee& pointee)
{
    std::string text;
    for (const auto& r : proc.reg_list()) {
        std::string name = r.name;
        if (skipped_register(name))
            continue;
        auto it = st.arm_regs.find(name);
        uint64_t now = 0;
        if (it == st.arm_regs.end() || !proc.reg(name, &now) || now == it->second)
            continue;
        add_part(&text, register_part(st, name, it->second, now, pointee));
    }

    auto fl = st.arm_regs.find("eflags");
    uint64_t flags = 0;
    if (fl != st.arm_regs.end() && proc.reg("eflags", &flags) && flags != fl->second) {
        static const struct {
            const char* name;
            int bit;
        } kFlags[] = { { "CF", 0 }, { "PF", 2 }, { "AF", 4 }, { "ZF", 6 }, { "SF", 7 }, { "DF", 10 }, { "OF", 11 } };
        for (const auto& f : kFlags) {
            int was = int(fl->second >> f.bit) & 1, is = int(flags >> f.bit) & 1;
            if (was != is)
                add_part(&text, std::string(f.name) + " " + char('0' + was) + "\u2192" + char('0' + is));
        }
    }

    for (const auto& w : st.arm_mem) {
        uint64_t now = 0;
        if (read_value(proc, w.addr, w.size, &now))
            add_part(&text, memory_part(w, now));
    }

    if (st.arm_jump) {
        uint64_t pc = proc.pc();
        add_part(&text, pc == st.arm_next ? std::string("\u2193") : "\u2192 " + hex(pc));
    }
    return text;
}

void record_effect(StepState& st, dbg::Process& proc, int line, const Pointee& pointee)
{
    std::string text = effect_text(st, proc, pointee);
    st.armed = false;
    if (st.effects.size() > kMaxEffects)
        st.effects.clear();
    if (text.empty()) {
        st.effects.erase(st.arm_pc);
        if (line >= 0)
            st.line_effects.erase(line);
        return;
    }
    st.effects[st.arm_pc] = text;
    if (line >= 0)
        st.line_effects[line] = std::move(text);
}

void clear(StepState& st)
{
    st = StepState();
}

void snapshot_regs(Snapshot& snap, dbg::Process& proc, const Pointee& pointee)
{
    snap.prev_regs = std::move(snap.regs_now);
    snap.regs_now.clear();
    snap.pointees.clear();
    for (const auto& r : proc.reg_list()) {
        uint64_t v = 0;
        if (!proc.reg(r.name, &v))
            continue;
        snap.regs_now[r.name] = v;
        if (pointee) {
            std::string p = pointee(v);
            if (!p.empty())
                snap.pointees[r.name] = std::move(p);
        }
    }
}

std::vector<std::pair<uint64_t, uint64_t>> snapshot_plan(const std::vector<dbg::Region>& regions)
{
    // The stack is taken first: it is the highest mapping, and a walk in
    // address order that stops at the budget would always drop it.
    std::vector<std::pair<uint64_t, uint64_t>> plan;
    uint64_t used = 0;
    for (const auto& r : regions) {
        if (r.name != "[stack]" || skipped_region(r) || r.end <= r.start)
            continue;
        uint64_t len = std::min(r.end - r.start, kStackTake);
        plan.emplace_back(r.end - len, len);
        used += len;
    }
    for (const auto& r : regions) {
        if (r.name == "[stack]" || skipped_region(r) || r.end <= r.start)
            continue;
        uint64_t len = std::min(r.end - r.start, kRegionTake);
        // A part that no longer fits is passed over; smaller later ones may.
        if (used + len > kMemBudget)
            continue;
        plan.emplace_back(r.start, len);
        used += len;
    }
    std::sort(plan.begin(), plan.end());
    return plan;
}

void snapshot_memory(Snapshot& snap, const dbg::Process& proc)
{
    std::map<uint64_t, std::vector<uint8_t>> next;
    for (const auto& [start, len] : snapshot_plan(proc.regions())) {
        std::vector<uint8_t> bytes;
        auto spare = snap.mem_spare.find(start);
        if (spare != snap.mem_spare.end())
            bytes = std::move(spare->second);
        bytes.resize(len);
        bytes.resize(proc.read(start, bytes.data(), len));
        if (!bytes.empty())
            next.emplace(start, std::move(bytes));
    }
    snap.mem_changed.clear();
    for (const auto& [start, bytes] : next) {
        auto old = snap.mem_snap.find(start);
        if (old == snap.mem_snap.end())
            continue;
        size_t n = std::min(bytes.size(), old->second.size());
        add_changes(start, old->second.data(), bytes.data(), n, &snap.mem_changed);
    }
    snap.mem_spare = std::move(snap.mem_snap);
    snap.mem_snap = std::move(next);
}

void snapshot_vars(Snapshot& snap, const dbg::Process& proc, const BinImage& img)
{
    snap.vars.clear();
    const auto& syms = img.m_symbols;
    for (size_t i = 0; i < syms.size() && snap.vars.size() < kMaxVars; ++i) {
        const BinImage::Symbol& s = syms[i];
        if (s.func)
            continue;
        bool data = false;
        for (const auto& sec : img.m_sections) {
            if (!sec.exec && sec.addr != 0 && s.addr >= sec.addr && s.addr < sec.addr + std::max<uint64_t>(sec.size, 1)) {
                data = true;
                break;
            }
        }
        if (!data)
            continue;
        uint64_t len = kVarBytes;
        for (size_t j = i + 1; j < syms.size(); ++j) {
            if (syms[j].addr > s.addr) {
                len = std::min(len, syms[j].addr - s.addr);
                break;
            }
        }
        Variable v;
        v.name = s.name;
        v.addr = s.addr + proc.load_bias();
        v.bytes.resize(len);
        v.bytes.resize(proc.read(v.addr, v.bytes.data(), len));
        if (!v.bytes.empty())
            snap.vars.push_back(std::move(v));
    }
}

bool errno_name(int err, std::string* name, std::string* text)
{
    const char* n = strerrorname_np(err);
    if (!n)
        return false;
    *name = n;
    *text = strerror(err);
    return true;
}

} // namespace stepfx
