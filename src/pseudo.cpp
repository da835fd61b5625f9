#include "pseudo.h"

#include "l10n.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace pseudo {

namespace {

using Names = std::function<std::string(uint64_t)>;

bool starts_with(std::string_view s, std::string_view p)
{
    return s.substr(0, p.size()) == p;
}

void replace_all(std::string& s, std::string_view from, std::string_view to)
{
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

std::string lookup(const Names& names, uint64_t addr)
{
    return names ? names(addr) : std::string();
}

// Removes the NASM-only word after the bracket: [rel 0x4010] reads as [0x4010].
void drop_syntax(std::string& s)
{
    for (std::string_view pat : { "[rel ", "[abs qword ", "[abs " }) {
        size_t p = s.find(pat);
        if (p != std::string::npos) {
            s.erase(p + 1, pat.size() - 1);
            return;
        }
    }
}

std::vector<std::string> split_ops(std::string_view text)
{
    std::vector<std::string> out;
    std::string cur;
    int depth = 0;
    bool at_start = true;
    for (char c : text) {
        if (c == ',' && depth == 0) {
            out.push_back(cur);
            cur.clear();
            at_start = true;
            continue;
        }
        if (at_start && c == ' ')
            continue;
        at_start = false;
        if (c == '[')
            ++depth;
        else if (c == ']' && depth > 0)
            --depth;
        cur += c;
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

std::string nice(std::string s, const dis::Insn& insn, const Names& names)
{
    for (std::string_view w : { "byte ", "word ", "dword ", "qword ", "tword ", "oword ", "xmmword ", "ymmword ", "zmmword " }) {
        if (starts_with(s, w)) {
            s.erase(0, w.size());
            break;
        }
    }
    if (s.find("[rel ") != std::string::npos && insn.has_mem) {
        std::string name = lookup(names, insn.mem);
        if (!name.empty())
            return "[" + name + "]";
    }
    drop_syntax(s);
    if (s.size() >= 3 && s.size() <= 6 && starts_with(s, "0x")
        && s.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
        unsigned long v = strtoul(s.c_str() + 2, nullptr, 16);
        if (v > 9)
            s += " (" + std::to_string(v) + ")";
    }
    return s;
}

std::string target(const dis::Insn& insn, const std::string& op, const Names& names)
{
    if (insn.has_target) {
        std::string name = lookup(names, insn.target);
        if (!name.empty())
            return name;
    }
    return op;
}

int op_size(const std::string& raw)
{
    static const std::map<std::string_view, int> sizes { { "byte ", 1 }, { "word ", 2 }, { "dword ", 4 }, { "qword ", 8 } };
    static const std::set<std::string_view> r8 { "al", "bl", "cl", "dl", "ah", "bh", "ch", "dh", "sil", "dil", "bpl", "spl" };
    static const std::set<std::string_view> r16 { "ax", "bx", "cx", "dx", "si", "di", "bp", "sp" };
    static const std::set<std::string_view> r32 { "eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp" };
    for (const auto& [word, size] : sizes) {
        if (starts_with(raw, word))
            return size;
    }
    if (r8.count(raw))
        return 1;
    if (r16.count(raw))
        return 2;
    if (r32.count(raw))
        return 4;
    if (raw.size() >= 2 && raw[0] == 'r' && isdigit(static_cast<unsigned char>(raw[1]))) {
        switch (raw.back()) {
        case 'b': return 1;
        case 'w': return 2;
        case 'd': return 4;
        default: return 8;
        }
    }
    return 8;
}

const char* cond(std::string_view suffix)
{
    static const std::map<std::string_view, const char*> m {
        { "e", "==" }, { "z", "==" }, { "ne", "!=" }, { "nz", "!=" },
        { "g", ">" }, { "nle", ">" }, { "ge", ">=" }, { "nl", ">=" },
        { "l", "<" }, { "nge", "<" }, { "le", "<=" }, { "ng", "<=" },
        { "a", "u>" }, { "nbe", "u>" }, { "ae", "u>=" }, { "nb", "u>=" }, { "nc", "u>=" },
        { "b", "u<" }, { "nae", "u<" }, { "c", "u<" }, { "be", "u<=" }, { "na", "u<=" },
        { "s", "< 0" }, { "ns", ">= 0" }, { "o", "OF" }, { "no", "!OF" },
        { "p", "PF" }, { "pe", "PF" }, { "np", "!PF" }, { "po", "!PF" },
    };
    auto it = m.find(suffix);
    return it == m.end() ? nullptr : it->second;
}

const char* assign_op(std::string_view mnemonic)
{
    static const std::map<std::string_view, const char*> assign {
        { "add", "+=" }, { "sub", "-=" }, { "and", "&=" }, { "or", "|=" }, { "xor", "^=" },
        { "shl", "<<=" }, { "sal", "<<=" }, { "shr", ">>=" }, { "sar", ">>=" },
        { "adc", "+= CF +" }, { "sbb", "-= CF +" }, { "imul", "*=" },
    };
    auto it = assign.find(mnemonic);
    return it == assign.end() ? nullptr : it->second;
}

std::string mul_div(const std::string& mn, const std::string& a, const std::string& raw_a)
{
    int w = op_size(raw_a);
    const char* lo = w == 1 ? "al" : w == 2 ? "ax" : w == 4 ? "eax" : "rax";
    const char* hi = w == 1 ? "ah" : w == 2 ? "dx" : w == 4 ? "edx" : "rdx";
    std::string dbl = w == 1 ? std::string("ax") : std::string(hi) + ":" + lo;
    const char* sign = (mn == "imul" || mn == "idiv") ? " (signed)" : "";
    if (mn == "mul" || mn == "imul")
        return dbl + " = " + lo + " * " + a + sign;
    return std::string(lo) + " = " + dbl + " / " + a + sign + ", " + hi + " = %";
}

std::string string_insn(const std::string& mn, const std::string& prefix, int addr_bits)
{
    std::string note;
    if (starts_with(mn, "movs"))
        note = L10n::tr("note.movs");
    else if (starts_with(mn, "stos"))
        note = L10n::tr("note.stos");
    else if (starts_with(mn, "lods"))
        note = L10n::tr("note.lods");
    else
        note = L10n::tr("note.scas");
    if (addr_bits != 64 && !starts_with(mn, "scas") && !starts_with(mn, "cmps")) {
        replace_all(note, "rsi", addr_bits == 16 ? "si" : "esi");
        replace_all(note, "rdi", addr_bits == 16 ? "di" : "edi");
    }
    return prefix.empty() ? note : prefix + ": " + note;
}

bool is_string_insn(const std::string& mn)
{
    if (mn.size() != 5 || std::string_view("bwdq").find(mn.back()) == std::string_view::npos)
        return false;
    for (std::string_view s : { "movs", "stos", "lods", "scas", "cmps" }) {
        if (starts_with(mn, s))
            return true;
    }
    return false;
}

} // namespace

std::string comment(const dis::Insn& insn, const Names& names)
{
    if (!insn.valid)
        return {};
    std::string text = insn.text;
    std::string prefix;
    // "ds" stands for the notrack prefix, which NASM only knows by that name.
    for (std::string_view p : { "lock ", "rep ", "repe ", "repz ", "repne ", "repnz ", "bnd ", "notrack ", "ds " }) {
        if (starts_with(text, p)) {
            text.erase(0, p.size());
            prefix = std::string(p.substr(0, p.size() - 1));
        }
    }

    size_t sp = text.find(' ');
    const std::string mn = text.substr(0, sp);
    const std::vector<std::string> raw = sp == std::string::npos ? std::vector<std::string>() : split_ops(std::string_view(text).substr(sp + 1));
    std::vector<std::string> ops;
    for (const std::string& r : raw)
        ops.push_back(nice(r, insn, names));
    const size_t n = ops.size();
    const std::string a = n > 0 ? ops[0] : std::string();
    const std::string b = n > 1 ? ops[1] : std::string();
    const std::string c = n > 2 ? ops[2] : std::string();

    static const std::set<std::string_view> moves { "mov", "movabs", "movzx", "movsx", "movsxd", "movd", "movq",
        "movaps", "movups", "movdqa", "movdqu", "movss", "movsd" };
    if (n == 2 && moves.count(mn))
        return a + (mn == "movsx" || mn == "movsxd" ? " = (signed) " : " = ") + b;
    if (mn == "lea" && n == 2) {
        if (insn.has_mem) {
            std::string name = lookup(names, insn.mem);
            if (!name.empty())
                return a + " = &" + name;
        }
        if (b.size() >= 3 && b.front() == '[' && b.back() == ']')
            return a + " = " + b.substr(1, b.size() - 2);
        return a + " = " + b;
    }
    if ((mn == "xor" || mn == "sub") && n == 2 && a == b)
        return a + " = 0";
    if (mn == "sar" && n == 2)
        return a + " >>= " + b + " (signed)";
    if (n == 2) {
        if (const char* op = assign_op(mn))
            return a + " " + op + " " + b;
    }
    if (mn == "imul" && n == 3)
        return a + " = " + b + " * " + c;
    if (n == 1 && mn == "inc")
        return a + "++";
    if (n == 1 && mn == "dec")
        return a + "--";
    if (n == 1 && mn == "neg")
        return a + " = -" + a;
    if (n == 1 && mn == "not")
        return a + " = ~" + a;
    if ((mn == "rol" || mn == "ror") && n == 2)
        return a + " = " + mn + "(" + a + ", " + b + ")";
    if (n == 1 && (mn == "mul" || mn == "imul" || mn == "div" || mn == "idiv"))
        return mul_div(mn, a, raw[0]);
    if (mn == "cqo")
        return "rdx:rax = (signed) rax";
    if (mn == "cwd")
        return "dx:ax = (signed) ax";
    if (mn == "cdq")
        return "edx:eax = (signed) eax";
    if (mn == "cdqe")
        return "rax = (signed) eax";
    if (mn == "cwde")
        return "eax = (signed) ax";
    if (mn == "cbw")
        return "ax = (signed) al";
    if (mn == "xchg" && n == 2)
        return a + " <-> " + b;
    if (mn == "cmp" && n == 2)
        return L10n::tr("note.cmp", a, b);
    if (mn == "test" && n == 2)
        return a == b ? L10n::tr("note.test_zero", a) : L10n::tr("note.test", a, b);
    if (mn == "jmp" && n == 1)
        return L10n::tr("note.goto", target(insn, a, names));
    if ((mn == "jrcxz" || mn == "jecxz" || mn == "jcxz") && n == 1)
        return L10n::tr("note.jcc", mn.substr(1, mn.size() - 2) + " == 0", target(insn, a, names));
    if (mn.size() >= 2 && mn[0] == 'j' && n == 1) {
        if (const char* rel = cond(std::string_view(mn).substr(1)))
            return L10n::tr("note.jcc", rel, target(insn, a, names));
    }
    if (starts_with(mn, "cmov") && n == 2) {
        if (const char* rel = cond(std::string_view(mn).substr(4)))
            return std::string("if (") + rel + ") " + a + " = " + b;
    }
    if (starts_with(mn, "set") && n == 1) {
        if (const char* rel = cond(std::string_view(mn).substr(3)))
            return a + " = (" + rel + ")";
    }
    if ((mn == "loop" || mn == "loope" || mn == "loopne") && n == 1) {
        const char* counter = insn.addr_bits == 32 ? "ecx" : insn.addr_bits == 16 ? "cx" : "rcx";
        std::string what = std::string("--") + counter + " != 0";
        if (mn == "loope")
            what += " && ZF";
        else if (mn == "loopne")
            what += " && !ZF";
        return L10n::tr("note.jcc", what, target(insn, a, names));
    }
    if (mn == "call" && n == 1)
        return L10n::tr("note.call", target(insn, a, names));
    if (mn == "ret" || mn == "retf" || mn == "iret" || mn == "iretq")
        return L10n::tr("note.ret");
    if (mn == "push" && n == 1)
        return L10n::tr("note.push", a);
    if (mn == "pop" && n == 1)
        return L10n::tr("note.pop", a);
    if (mn == "leave")
        return L10n::tr("note.leave");
    if (mn == "enter")
        return L10n::tr("note.enter");
    if (mn == "syscall" || mn == "sysenter" || (mn == "int" && n == 1 && raw[0] == "0x80"))
        return L10n::tr("note.syscall");
    if (mn == "int" && n == 1)
        return L10n::tr("note.int", a);
    if (mn == "int3")
        return L10n::tr("note.int3");
    if (mn == "nop" || mn == "fnop" || mn == "pause")
        return L10n::tr("note.nop");
    if (mn == "endbr64" || mn == "endbr32")
        return L10n::tr("note.endbr");
    if (mn == "hlt")
        return L10n::tr("note.hlt");
    if (mn == "ud2")
        return L10n::tr("note.ud2");
    if (mn == "cpuid")
        return L10n::tr("note.cpuid");
    if (mn == "rdtsc" || mn == "rdtscp")
        return "edx:eax = " + L10n::tr("note.tsc");
    static const std::map<std::string_view, const char*> flags { { "clc", "CF = 0" }, { "stc", "CF = 1" },
        { "cmc", "CF = !CF" }, { "cld", "DF = 0" }, { "std", "DF = 1" }, { "cli", "IF = 0" }, { "sti", "IF = 1" } };
    if (auto it = flags.find(mn); it != flags.end())
        return it->second;
    if (n == 0 && is_string_insn(mn))
        return string_insn(mn, prefix, insn.addr_bits);
    if (insn.isa.empty())
        return {};
    return L10n::tr("note.other", insn.isa);
}

} // namespace pseudo
