// The console's register display (a register grid, a flags row and the
// current instruction, with what changed since the last display marked) and
// the r command.
#include "console.h"

#include "disasm.h"
#include "textutil.h"

#include <cstdio>

namespace {

struct Flag {
    const char* name;
    int bit;
    const char* set;   // mnemonic when set
    const char* clear; // mnemonic when clear
};

// In the order of the 0/1 row.
constexpr Flag kFlags[] = {
    { "CF", 0, "CY", "NC" }, { "PF", 2, "PE", "PO" }, { "AF", 4, "AC", "NA" },
    { "ZF", 6, "ZR", "NZ" }, { "SF", 7, "NG", "PL" }, { "TF", 8, nullptr, nullptr },
    { "IF", 9, "EI", "DI" }, { "DF", 10, "DN", "UP" }, { "OF", 11, "OV", "NV" },
};
// The mnemonics' order, as indexes into kFlags: OF DF IF SF ZF AF PF CF.
constexpr int kMnemonicOrder[] = { 8, 7, 6, 4, 3, 2, 1, 0 };

// Segment registers and the segment bases stay out of the grid.
bool in_grid(const std::string& name)
{
    if (name == "eflags" || name == "fs_base" || name == "gs_base")
        return false;
    return !(name.size() == 2 && name[1] == 's');
}

using textutil::lower;
using textutil::upper;

std::string reg_text(uint64_t v, int bits)
{
    char buf[24];
    snprintf(buf, sizeof buf, bits == 64 ? "%016llX" : "%08llX", static_cast<unsigned long long>(v));
    return buf;
}

// Appends text to a row with one span over it.
void add(std::string* row, std::vector<Console::Span>* spans, const std::string& text, Console::Style style)
{
    int32_t a = static_cast<int32_t>(row->size());
    *row += text;
    spans->push_back({ a, static_cast<int32_t>(row->size()), style });
}

} // namespace

void Console::show_state()
{
    if (!m_host->live())
        return;
    const std::vector<std::string> names = m_host->reg_names();
    const int bits = m_host->bits();
    std::map<std::string, uint64_t> now;
    for (const auto& name : names) {
        uint64_t v = 0;
        if (!m_host->reg(name, &v))
            v = 0;
        now[name] = v;
    }
    auto previous = [&](const std::string& name, uint64_t* v) {
        auto it = m_last.find(name);
        if (it == m_last.end())
            return false;
        *v = it->second;
        return true;
    };

    std::string row;
    std::vector<Span> spans;
    int in_row = 0;
    for (const auto& name : names) {
        if (!in_grid(name))
            continue;
        const uint64_t v = now[name];
        uint64_t old = 0;
        const bool changed = previous(name, &old) && old != v;
        char head[16];
        snprintf(head, sizeof head, "%-3s", upper(name).c_str());
        add(&row, &spans, head, changed ? SRegChanged : SRegName);
        row += "=";
        const std::string text = reg_text(v, bits);
        if (changed) {
            const std::string was = reg_text(old, bits);
            for (size_t i = 0; i < text.size(); ++i)
                add(&row, &spans, text.substr(i, 1), i < was.size() && was[i] == text[i] ? SNormal : SChanged);
        } else {
            row += text;
        }
        row += "  ";
        if (++in_row == 4) {
            print_spans(row, std::move(spans), kOutput);
            row.clear();
            spans.clear();
            in_row = 0;
        }
    }
    if (!row.empty())
        print_spans(row, std::move(spans), kOutput);

    const uint64_t e = now.count("eflags") ? now["eflags"] : 0;
    uint64_t old_e = 0;
    const uint64_t c = previous("eflags", &old_e) ? e ^ old_e : 0;
    row.clear();
    spans.clear();
    for (const Flag& f : kFlags) {
        const uint64_t bit = uint64_t(1) << f.bit;
        const bool on = (e & bit) != 0;
        add(&row, &spans, std::string(f.name) + "=" + (on ? "1" : "0"),
            (c & bit) ? SFlagChanged : on ? SFlagOn : SFlagOff);
        row += "  ";
    }
    add(&row, &spans, "EFLAGS=", SRegName);
    char digits[24];
    snprintf(digits, sizeof digits, "%08llX", static_cast<unsigned long long>(e));
    add(&row, &spans, digits, c ? SChanged : SNormal);
    row += "   ";
    for (int index : kMnemonicOrder) {
        const Flag& f = kFlags[index];
        const uint64_t bit = uint64_t(1) << f.bit;
        add(&row, &spans, (e & bit) ? f.set : f.clear, (c & bit) ? SFlagChanged : SDim);
        row += " ";
    }
    print_spans(row, std::move(spans), kOutput);
    m_last = std::move(now);

    const uint64_t pc = m_host->here();
    uint8_t bytes[16] = {};
    size_t got = m_host->read(pc, bytes, sizeof bytes);
    if (got > 0) {
        dis::Insn insn;
        dis::decode(bytes, got, pc, bits, &insn, false);
        std::string line = insn_row(insn);
        std::string name = m_host->symbol_at(pc);
        if (!name.empty() && name.find('+') == std::string::npos)
            line += "    ; " + name;
        print(line, kNotice);
    }
    m_unasm_at = pc;
    m_unasm_set = true;
}

void Console::cmd_regs(const Args& args)
{
    if (!m_host->live()) {
        need_live();
        return;
    }
    if (args.size() < 2) {
        show_state();
        return;
    }
    // The register name is case-blind; a value after "=" keeps its case,
    // since it may name a symbol.
    std::string name = args[1];
    std::string value;
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
    }
    name = lower(name);
    if (value.empty() && args.size() > 2)
        value = args[2];
    uint64_t current = 0;
    if (!m_host->reg(name, &current)) {
        error("con.err.register");
        return;
    }
    if (value.empty()) {
        char buf[64];
        snprintf(buf, sizeof buf, " = %llX", static_cast<unsigned long long>(current));
        print(name + buf, kOutput);
        return;
    }
    uint64_t v = 0;
    if (!eval_or_report(value, &v))
        return;
    if (!m_host->set_reg(name, v))
        error("con.err.register");
    m_last[name] = v;
    m_host->changed();
}
