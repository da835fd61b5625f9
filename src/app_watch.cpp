// Live values of the stopped program as the user reads them: watch
// expressions and the hardware watchpoints they ask for, the note of
// operand values at an instruction, what a value points to, and the
// tooltips of registers, flags and symbols.
#include "app.h"

#include "l10n.h"
#include "numfmt.h"
#include "ref.h"
#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace {

struct FlagRow {
    const char* flag;
    const char* name;
    const char* key;
    const char* off; // DEBUG-style name for 0, empty when the flag has none
    const char* on;
};

// The trap flag has no DEBUG-style names; empty ones never match a word.
const FlagRow kFlags[] = {
    { "CF", "Carry Flag", "flag.cf", "NC", "CY" },      { "PF", "Parity Flag", "flag.pf", "PO", "PE" },
    { "AF", "Auxiliary Carry Flag", "flag.af", "NA", "AC" }, { "ZF", "Zero Flag", "flag.zf", "NZ", "ZR" },
    { "SF", "Sign Flag", "flag.sf", "PL", "NG" },        { "TF", "Trap Flag", "flag.tf", "", "" },
    { "IF", "Interrupt Flag", "flag.if", "DI", "EI" },  { "DF", "Direction Flag", "flag.df", "UP", "DN" },
    { "OF", "Overflow Flag", "flag.of", "NV", "OV" },
};

using textutil::trim;
using textutil::lower;
using textutil::upper;

std::string hexv(uint64_t v)
{
    char b[24];
    snprintf(b, sizeof b, "%" PRIX64, v);
    return b;
}

} // namespace

bool App::panel_live() const { return m_proc.traced() && m_proc.state() == dbg::State::Stopped; }

Doc* App::panel_image_doc() const
{
    if (m_dbin && m_proc.state() != dbg::State::Idle && m_proc.state() != dbg::State::Exited)
        return m_dbin;
    return m_b;
}

bool App::watch_eval(const std::string& expr, uint64_t* value, uint64_t* addr, int* size, std::string* err)
{
    std::string e = trim(expr);
    *size = 0;
    *addr = 0;
    *value = 0;
    int sized = 0;
    static const std::pair<const char*, int> kWords[]
        = { { "byte", 1 }, { "word", 2 }, { "dword", 4 }, { "qword", 8 } };
    std::string low = lower(e);
    for (const auto& [word, n] : kWords) {
        size_t len = std::char_traits<char>::length(word);
        bool ends = low.size() > len && (low[len] == ' ' || low[len] == '\t' || low[len] == '[');
        if (ends && low.compare(0, len, word) == 0) {
            e = trim(e.substr(len));
            sized = n;
            break;
        }
    }
    if (e.size() >= 2 && e.front() == '[' && e.back() == ']') {
        uint64_t a = 0;
        if (!m_con.eval(e.substr(1, e.size() - 2), &a, err))
            return false;
        int n = sized ? sized : (m_proc.state() != dbg::State::Idle && m_proc.bits() == 32 ? 4 : 8);
        *addr = a;
        *size = n;
        if (!panel_live())
            return true;
        uint8_t b[8] = {};
        if (m_proc.read(a, b, size_t(n)) != size_t(n)) {
            *err = "bin.not_mapped";
            return false;
        }
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | b[i];
        *value = v;
        return true;
    }
    if (sized) {
        *err = "watch.need_mem";
        return false;
    }
    return m_con.eval(e, value, err);
}

void App::snapshot_watches()
{
    m_watch_prev = m_watch_now;
    m_watch_ok_prev = m_watch_ok_now;
    size_t n = m_settings.watches.size();
    m_watch_now.assign(n, 0);
    m_watch_ok_now.assign(n, false);
    m_watch_size.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const std::string& w = m_settings.watches[i];
        if (w.size() < 2)
            continue;
        uint64_t v = 0, a = 0;
        int size = 0;
        std::string err;
        if (watch_eval(w.substr(1), &v, &a, &size, &err)) {
            m_watch_now[i] = v;
            m_watch_ok_now[i] = true;
            m_watch_size[i] = size;
        }
    }
}

std::string App::watch_value_text(size_t i) const
{
    const uint64_t v = i < m_watch_now.size() ? m_watch_now[i] : 0;
    // A memory place shows all its bytes, a qword of small value too.
    const int size = i < m_watch_size.size() ? m_watch_size[i] : 0;
    const int digits = size > 0 ? 2 * size : v < (uint64_t(1) << 32) ? 8 : 16;
    char b[24];
    snprintf(b, sizeof b, "%0*" PRIX64, digits, v);
    return b;
}

std::vector<dbg::Process::Watch> App::watch_points(std::vector<int>* index)
{
    std::vector<dbg::Process::Watch> out;
    if (index)
        index->clear();
    for (size_t i = 0; i < m_settings.watches.size(); ++i) {
        const std::string& w = m_settings.watches[i];
        if (w.size() < 2 || w[0] == '0' || int(out.size()) >= dbg::Process::kMaxWatches)
            continue;
        uint64_t v = 0, a = 0;
        int size = 0;
        std::string err;
        if (!watch_eval(w.substr(1), &v, &a, &size, &err) || size == 0)
            continue;
        out.push_back({ a, size, w[0] == '2' });
        if (index)
            index->push_back(int(i));
    }
    return out;
}

std::function<std::string()> App::watch_cycle(int i)
{
    auto need_mem = [] { return L10n::tr("watch.need_mem"); };
    if (i < 0 || size_t(i) >= m_settings.watches.size() || m_settings.watches[size_t(i)].size() < 2)
        return need_mem;
    std::string& w = m_settings.watches[size_t(i)];
    char next = w[0] == '0' ? '1' : w[0] == '1' ? '2' : '0';
    if (next != '0') {
        uint64_t v = 0, a = 0;
        int size = 0;
        std::string err;
        if (!watch_eval(w.substr(1), &v, &a, &size, &err) || size == 0)
            return need_mem;
    }
    if (next == '1') {
        int stopping = 0;
        for (const std::string& o : m_settings.watches)
            stopping += o.size() >= 2 && o[0] != '0';
        if (stopping >= dbg::Process::kMaxWatches)
            return [] { return L10n::tr("watch.too_many", dbg::Process::kMaxWatches); };
    }
    w[0] = next;
    return {};
}

uint64_t App::operand_address(const dis::Operand& op) { return stepfx::operand_address(m_proc, op); }

bool App::operand_value(const dis::Operand& op, uint64_t* value, uint64_t* addr)
{
    return stepfx::operand_value(m_proc, op, value, addr);
}

namespace {

std::string value_text(uint64_t v, int size, const std::function<std::string(uint64_t)>& pointee)
{
    std::string s = hexv(v);
    std::string p = pointee(v);
    if (!p.empty())
        return s + " \u2192 " + p;
    std::string c = v >= 32 ? numfmt::chars(v, std::clamp(size, 1, 8)) : std::string();
    if (!c.empty())
        s += " '" + c + "'";
    return s;
}

} // namespace

std::string App::operand_values(uint64_t addr)
{
    if (!panel_live())
        return {};
    uint8_t b[16] = {};
    size_t got = m_proc.read(addr, b, sizeof b);
    dis::Insn in;
    dis::decode(b, got, addr, m_proc.bits(), &in, true);
    if (!in.valid)
        return {};
    auto pt = [this](uint64_t v) { return pointee(v); };
    std::vector<std::string> parts;
    bool sys = in.text == "syscall";
    if (sys || in.text.rfind("int 0x80", 0) == 0) {
        bool is64 = sys && m_proc.bits() == 64;
        uint64_t nr = 0;
        m_proc.reg(is64 ? "rax" : "eax", &nr);
        ref::SyscallInfo info;
        bool known = ref::syscall_by_nr(nr, is64, &info);
        std::string note = known ? info.name : "syscall " + std::to_string(nr);
        size_t count = known && info.args_known ? std::min<size_t>(info.args.size(), 6) : 3;
        const char* const* regs = ref::syscall_regs(is64);
        note += "(";
        for (size_t i = 0; i < count; ++i) {
            uint64_t v = 0;
            m_proc.reg(regs[i], &v);
            if (i)
                note += ", ";
            if (known && info.args_known)
                note += info.args[i].name + "=";
            note += hexv(v);
            std::string p = pointee(v);
            if (!p.empty())
                note += " " + p;
        }
        return note + ")";
    }
    bool lea = in.text.rfind("lea ", 0) == 0;
    for (const dis::Operand& op : in.ops) {
        if (!op.visible)
            continue;
        if (lea) {
            if (op.kind == dis::Operand::Mem)
                parts.push_back("&" + value_text(operand_address(op), 8, pt));
            continue;
        }
        uint64_t v = 0, a = 0;
        if (op.kind == dis::Operand::Reg && operand_value(op, &v, nullptr))
            parts.push_back(op.reg + "=" + value_text(v, op.size, pt));
        else if (op.kind == dis::Operand::Mem && operand_value(op, &v, &a))
            parts.push_back("[" + hexv(a) + "]=" + value_text(v, op.size, pt));
    }
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : "  ") + p;
    return out;
}

std::string App::pointee(uint64_t v)
{
    if (!panel_live() || v <= 4095)
        return {};
    uint8_t b[40];
    size_t n = m_proc.read(v, b, sizeof b);
    if (n == 0)
        return {};
    // Not into the next symbol, not past the end of the section holding v.
    auto next = std::upper_bound(m_sym_starts.begin(), m_sym_starts.end(), v);
    if (next != m_sym_starts.end())
        n = std::min<uint64_t>(n, *next - v);
    if (const Doc* d = panel_image_doc()) {
        uint64_t bias = m_proc.load_bias();
        for (const auto& sec : d->img.m_sections) {
            uint64_t lo = sec.addr + bias;
            if (sec.addr != 0 && v >= lo && v < lo + sec.size) {
                n = std::min<uint64_t>(n, lo + sec.size - v);
                break;
            }
        }
    }
    std::string sym = symbol_at(v);
    std::string text;
    int chars = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = b[i];
        if (c == 0)
            break;
        if (chars == 24) {
            text += "\u2026";
            break;
        }
        if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (c >= 32 && c <= 126)
            text += char(c);
        else {
            text.clear();
            break;
        }
        ++chars;
    }
    if (text.size() >= 2)
        return sym + (sym.empty() ? "'" : " '") + text + "'";
    return sym;
}

std::string App::flag_tip(const std::string& abbr, int now, int prev, bool clickable)
{
    std::string a = upper(abbr);
    const FlagRow* row = nullptr;
    std::string head;
    for (const FlagRow& r : kFlags) {
        if (a == r.flag) {
            row = &r;
            head = std::string(r.flag) + "  " + r.name;
            if (now >= 0)
                head += now ? " = 1" : " = 0";
            break;
        }
        bool on = !a.empty() && a == r.on;
        if (on || (!a.empty() && a == r.off)) {
            row = &r;
            now = on ? 1 : 0;
            head = a + " = " + r.flag + " " + (on ? "1" : "0") + "  \u00b7  " + r.name;
            break;
        }
    }
    if (!row)
        return {};
    std::string s = head + "\n" + L10n::tr(row->key);
    if (prev >= 0 && prev != now)
        s += "\n" + L10n::tr("reg.prev", prev ? "1" : "0");
    if (clickable)
        s += "\n" + L10n::tr("flag.click");
    return s;
}

std::string App::reg_tip(const std::string& name, uint64_t v)
{
    bool narrow = m_proc.bits() == 32 || name == "eflags" || (name.size() == 3 && name[0] == 'e');
    int64_t sv = narrow ? int64_t(int32_t(uint32_t(v))) : int64_t(v);
    char b[96];
    snprintf(b, sizeof b, "%s = 0x%" PRIX64, upper(name).c_str(), v);
    std::string s = b;
    s += "  \u00b7  " + L10n::tr("reg.dec", std::to_string(v));
    if (sv < 0)
        s += " (" + std::to_string(sv) + ")";
    std::string chars = numfmt::chars(v, 8);
    if (!chars.empty())
        s += "  \u00b7  '" + chars + "'";
    auto it = m_snap.prev_regs.find(name);
    if (it != m_snap.prev_regs.end() && it->second != v)
        s += "  \u00b7  " + L10n::tr("reg.prev", "0x" + hexv(it->second));
    return s;
}

std::string App::symbol_tip(const std::string& name)
{
    uint64_t a = 0;
    if (m_proc.state() == dbg::State::Idle || !symbol(name, &a))
        return {};
    char head[32];
    snprintf(head, sizeof head, "%s @ %" PRIX64 ":", name.c_str(), a);
    std::string s = head;
    uint8_t b[16];
    size_t n = m_proc.read(a, b, sizeof b);
    std::string chars;
    for (size_t i = 0; i < n; ++i) {
        char x[4];
        snprintf(x, sizeof x, " %02X", b[i]);
        s += x;
        chars += b[i] >= 32 && b[i] <= 126 ? char(b[i]) : '.';
    }
    if (n)
        s += "  '" + chars + "'";
    return s;
}
