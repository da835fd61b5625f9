#include "pseudo.h"

#include "l10n.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

namespace pseudo {

namespace {

using Names = std::function<std::string(uint64_t)>;
using std::string_view;

// Byte by byte: the patterns here are a few letters, shorter than the cost
// of a call to memcmp.
bool starts_with(string_view s, string_view p)
{
    if (s.size() < p.size())
        return false;
    for (size_t i = 0; i < p.size(); ++i)
        if (s[i] != p[i])
            return false;
    return true;
}

void replace_all(std::string& s, string_view from, string_view to)
{
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

std::string lookup(const Names& names, uint64_t addr)
{
    return names ? names(addr) : std::string();
}

// What an explanation is built from: the rule of the mnemonic and the text
// the rule needs (an operator, a relation or a fixed explanation).
enum class Rule : uint8_t {
    None,
    Move,
    MoveSigned,
    Lea,
    Assign, // "add" and the like; "xor" and "sub" of a register with itself zero it
    Sar,
    Imul,
    Inc,
    Dec,
    Neg,
    Not,
    Rotate,
    MulDiv,
    Fixed, // the text whatever the operands
    Xchg,
    Cmp,
    Test,
    Jmp,
    Jcxz,
    Jcc,
    Cmov,
    Set,
    Loop,
    Call,
    Ret,
    Push,
    Pop,
    Key, // a translated text without arguments
    Syscall,
    Int,
    Rdtsc,
    Privileged, // the text, with the note that a user program faults
};

struct Entry {
    Rule rule = Rule::None;
    const char* text = nullptr;
};

// Condition-code suffixes and the relations they test.
const std::pair<const char*, const char*> kConditions[] = {
    { "e", "==" }, { "z", "==" }, { "ne", "!=" }, { "nz", "!=" },
    { "g", ">" }, { "nle", ">" }, { "ge", ">=" }, { "nl", ">=" },
    { "l", "<" }, { "nge", "<" }, { "le", "<=" }, { "ng", "<=" },
    { "a", "u>" }, { "nbe", "u>" }, { "ae", "u>=" }, { "nb", "u>=" }, { "nc", "u>=" },
    { "b", "u<" }, { "nae", "u<" }, { "c", "u<" }, { "be", "u<=" }, { "na", "u<=" },
    { "s", "< 0" }, { "ns", ">= 0" }, { "o", "OF" }, { "no", "!OF" },
    { "p", "PF" }, { "pe", "PF" }, { "np", "!PF" }, { "po", "!PF" },
};

// Every mnemonic with a rule but the conditional ones, with the text the
// rule needs.
struct Row {
    const char* mnemonic;
    Rule rule;
    const char* text;
};

const Row kRows[] = {
    { "mov", Rule::Move, nullptr }, { "movabs", Rule::Move, nullptr }, { "movzx", Rule::Move, nullptr },
    { "movd", Rule::Move, nullptr }, { "movq", Rule::Move, nullptr }, { "movaps", Rule::Move, nullptr },
    { "movups", Rule::Move, nullptr }, { "movdqa", Rule::Move, nullptr }, { "movdqu", Rule::Move, nullptr },
    { "movss", Rule::Move, nullptr }, { "movsd", Rule::Move, nullptr }, { "movsx", Rule::MoveSigned, nullptr },
    { "movsxd", Rule::MoveSigned, nullptr }, { "lea", Rule::Lea, nullptr },
    { "add", Rule::Assign, "+=" }, { "sub", Rule::Assign, "-=" }, { "and", Rule::Assign, "&=" },
    { "or", Rule::Assign, "|=" }, { "xor", Rule::Assign, "^=" }, { "shl", Rule::Assign, "<<=" },
    { "sal", Rule::Assign, "<<=" }, { "shr", Rule::Sar, " (unsigned)" }, { "adc", Rule::Assign, "+= CF +" },
    { "sbb", Rule::Assign, "-= CF +" }, { "sar", Rule::Sar, " (signed)" }, { "imul", Rule::Imul, nullptr },
    { "inc", Rule::Inc, nullptr }, { "dec", Rule::Dec, nullptr }, { "neg", Rule::Neg, nullptr },
    { "not", Rule::Not, nullptr }, { "rol", Rule::Rotate, nullptr }, { "ror", Rule::Rotate, nullptr },
    { "mul", Rule::MulDiv, nullptr }, { "div", Rule::MulDiv, nullptr }, { "idiv", Rule::MulDiv, nullptr },
    { "cqo", Rule::Fixed, "rdx:rax = (signed) rax" }, { "cwd", Rule::Fixed, "dx:ax = (signed) ax" },
    { "cdq", Rule::Fixed, "edx:eax = (signed) eax" }, { "cdqe", Rule::Fixed, "rax = (signed) eax" },
    { "cwde", Rule::Fixed, "eax = (signed) ax" }, { "cbw", Rule::Fixed, "ax = (signed) al" },
    { "clc", Rule::Fixed, "CF = 0" }, { "stc", Rule::Fixed, "CF = 1" }, { "cmc", Rule::Fixed, "CF = !CF" },
    { "cld", Rule::Fixed, "DF = 0" }, { "std", Rule::Fixed, "DF = 1" }, { "cli", Rule::Privileged, "IF = 0" },
    { "sti", Rule::Privileged, "IF = 1" }, { "xchg", Rule::Xchg, nullptr }, { "cmp", Rule::Cmp, nullptr },
    { "test", Rule::Test, nullptr }, { "jmp", Rule::Jmp, nullptr }, { "jrcxz", Rule::Jcxz, nullptr },
    { "jecxz", Rule::Jcxz, nullptr }, { "jcxz", Rule::Jcxz, nullptr }, { "loop", Rule::Loop, nullptr },
    { "loope", Rule::Loop, nullptr }, { "loopne", Rule::Loop, nullptr }, { "call", Rule::Call, nullptr },
    { "ret", Rule::Ret, nullptr }, { "retf", Rule::Ret, nullptr }, { "iret", Rule::Ret, nullptr },
    { "iretq", Rule::Ret, nullptr }, { "push", Rule::Push, nullptr }, { "pop", Rule::Pop, nullptr },
    { "leave", Rule::Key, "note.leave" }, { "enter", Rule::Key, "note.enter" }, { "int3", Rule::Key, "note.int3" },
    { "nop", Rule::Key, "note.nop" }, { "fnop", Rule::Key, "note.nop" }, { "pause", Rule::Key, "note.pause" },
    { "endbr64", Rule::Key, "note.endbr" }, { "endbr32", Rule::Key, "note.endbr" }, { "hlt", Rule::Key, "note.hlt" },
    { "ud2", Rule::Key, "note.ud2" }, { "cpuid", Rule::Key, "note.cpuid" }, { "syscall", Rule::Syscall, nullptr },
    { "sysenter", Rule::Syscall, nullptr }, { "int", Rule::Int, nullptr }, { "rdtsc", Rule::Rdtsc, nullptr },
    { "rdtscp", Rule::Rdtsc, nullptr },
};

// Every mnemonic with a rule, looked up once per instruction instead of
// compared against each rule in turn.
class Table {
public:
    Table()
    {
        for (const Row& r : kRows)
            add(r.mnemonic, r.rule, r.text);
        for (auto [suffix, rel] : kConditions) {
            add(std::string("j") + suffix, Rule::Jcc, rel);
            add(std::string("cmov") + suffix, Rule::Cmov, rel);
            add(std::string("set") + suffix, Rule::Set, rel);
        }
    }

    Entry find(string_view mnemonic) const
    {
        if (mnemonic.size() > 8)
            return {};
        const uint64_t k = key(mnemonic);
        for (size_t i = slot_of(k); m_slots[i].key != 0; i = (i + 1) % kSlots) {
            if (m_slots[i].key == k)
                return m_slots[i].entry;
        }
        return {};
    }

private:
    // Every mnemonic with a rule has at most 8 letters: packed into one
    // number it is hashed and compared at once, in an open table that is
    // at most a third full.
    static constexpr int kBits = 9;
    static constexpr size_t kSlots = size_t(1) << kBits;

    struct Slot {
        uint64_t key = 0; // 0: free (no mnemonic packs to 0)
        Entry entry;
    };

    static uint64_t key(string_view m)
    {
        uint64_t k = 0;
        for (size_t i = 0; i < m.size(); ++i)
            k |= uint64_t(uint8_t(m[i])) << (8 * i);
        return k;
    }

    static size_t slot_of(uint64_t k) { return size_t((k * 0x9E3779B97F4A7C15ull) >> (64 - kBits)); }

    void add(string_view m, Rule rule, const char* text = nullptr)
    {
        const uint64_t k = key(m);
        size_t i = slot_of(k);
        while (m_slots[i].key != 0 && m_slots[i].key != k)
            i = (i + 1) % kSlots;
        if (m_slots[i].key == 0)
            m_slots[i] = { k, Entry { rule, text } };
    }

    Slot m_slots[kSlots];
};

const Table& table()
{
    static const Table t;
    return t;
}

// Translated texts split at their arguments, kept per thread for the active
// language: a text is looked up with marker bytes as its arguments, which
// also applies the fallbacks of L10n::tr (English, or the key itself).
class Texts {
public:
    const std::string& get(const char* key, int args)
    {
        std::string lang = L10n::currentLanguage();
        if (lang != m_lang) {
            m_lang = std::move(lang);
            m_count = 0;
        }
        // The keys are this file's literals: a handful, compared by address.
        for (size_t i = 0; i < m_count; ++i) {
            if (m_keys[i] == key)
                return m_texts[i];
        }
        std::string text = args == 0 ? L10n::tr(key) : args == 1 ? L10n::tr(key, "\x01") : L10n::tr(key, "\x01", "\x02");
        if (m_count == kMax) // more keys than this file has; start over
            m_count = 0;
        m_keys[m_count] = key;
        m_texts[m_count] = std::move(text);
        return m_texts[m_count++];
    }

private:
    static constexpr size_t kMax = 32;
    std::string m_lang;
    const char* m_keys[kMax] = {};
    std::string m_texts[kMax];
    size_t m_count = 0;
};

// Appends a translated text with its arguments in place of the markers.
void append_tr(std::string* out, const char* key, string_view a)
{
    static thread_local Texts texts;
    for (char c : texts.get(key, 1)) {
        if (c == '\x01')
            out->append(a.data(), a.size());
        else
            out->push_back(c);
    }
}

void append_tr(std::string* out, const char* key, string_view a, string_view b)
{
    static thread_local Texts texts;
    for (char c : texts.get(key, 2)) {
        if (c == '\x01')
            out->append(a.data(), a.size());
        else if (c == '\x02')
            out->append(b.data(), b.size());
        else
            out->push_back(c);
    }
}

void append_tr(std::string* out, const char* key)
{
    static thread_local Texts texts;
    out->append(texts.get(key, 0));
}

// Removes the NASM-only word after the bracket: [rel 0x4010] reads as [0x4010].
void drop_syntax(std::string& s)
{
    for (string_view pat : { "[rel ", "[abs qword ", "[abs " }) {
        size_t p = s.find(pat);
        if (p != std::string::npos) {
            s.erase(p + 1, pat.size() - 1);
            return;
        }
    }
}

// The operands of the text after the mnemonic, split at the commas outside
// brackets, each without its leading blanks. An empty last piece is dropped.
struct Operands {
    static constexpr size_t kMax = 8;
    size_t n = 0;
    bool overflow = false;

    string_view operator[](size_t i) const { return { m_text[i], m_len[i] }; }

    void split(string_view text)
    {
        int depth = 0;
        size_t start = 0;
        auto push = [this](string_view piece, bool last) {
            size_t lead = piece.find_first_not_of(' ');
            piece = lead == string_view::npos ? string_view() : piece.substr(lead);
            if (last && piece.empty())
                return;
            if (n == kMax) {
                overflow = true;
                return;
            }
            m_text[n] = piece.data();
            m_len[n++] = piece.size();
        };
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == ',' && depth == 0) {
                push(text.substr(start, i - start), false);
                start = i + 1;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']' && depth > 0) {
                --depth;
            }
        }
        push(text.substr(start), true);
    }

private:
    // Left uninitialised: only the first n are ever read, and this runs for
    // every listed instruction.
    const char* m_text[kMax];
    size_t m_len[kMax];
};

// An operand as a reader sees it: no size word, a symbol name for a
// RIP-relative address when one is known, no NASM-only words, and small
// hexadecimal numbers with their decimal value.
void nice(string_view s, const dis::Insn& insn, const Names& names, std::string* out)
{
    // One look at the few bytes decides which of the rewrites can apply.
    bool space = false, bracket = false;
    for (char c : s) {
        space |= c == ' ';
        bracket |= c == '[';
    }
    static constexpr string_view kSizeWords[] = { "byte ", "word ", "dword ", "qword ", "tword ", "oword ",
        "xmmword ", "ymmword ", "zmmword " };
    if (space) { // registers and numbers have no size word
        for (string_view w : kSizeWords) {
            if (s[0] == w[0] && starts_with(s, w)) {
                s.remove_prefix(w.size());
                break;
            }
        }
    }
    if (bracket && insn.has_mem && s.find("[rel ") != string_view::npos) {
        std::string name = lookup(names, insn.mem);
        if (!name.empty()) {
            out->assign("[");
            out->append(name);
            out->push_back(']');
            return;
        }
    }
    out->assign(s.data(), s.size());
    if (bracket) {
        drop_syntax(*out);
        return;
    }
    if (out->size() >= 3 && out->size() <= 6 && starts_with(*out, "0x")
        && out->find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
        unsigned long v = strtoul(out->c_str() + 2, nullptr, 16);
        if (v > 9) {
            char dec[24];
            int k = 0;
            for (; v; v /= 10)
                dec[k++] = char('0' + v % 10);
            out->append(" (");
            while (k > 0)
                out->push_back(dec[--k]);
            out->push_back(')');
        }
    }
}

int op_size(string_view raw)
{
    static const std::map<string_view, int> sizes { { "byte ", 1 }, { "word ", 2 }, { "dword ", 4 }, { "qword ", 8 } };
    static const std::set<string_view> r8 { "al", "bl", "cl", "dl", "ah", "bh", "ch", "dh", "sil", "dil", "bpl", "spl" };
    static const std::set<string_view> r16 { "ax", "bx", "cx", "dx", "si", "di", "bp", "sp" };
    static const std::set<string_view> r32 { "eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp" };
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

void mul_div(std::string* out, string_view mn, string_view a, string_view raw_a)
{
    int w = op_size(raw_a);
    const char* lo = w == 1 ? "al" : w == 2 ? "ax" : w == 4 ? "eax" : "rax";
    const char* hi = w == 1 ? "ah" : w == 2 ? "dx" : w == 4 ? "edx" : "rdx";
    std::string dbl = w == 1 ? std::string("ax") : std::string(hi) + ":" + lo;
    const char* sign = (mn == "imul" || mn == "idiv") ? " (signed)" : "";
    if (mn == "mul" || mn == "imul") {
        *out += dbl + " = " + lo + " * ";
        *out += a;
        *out += sign;
        return;
    }
    *out += std::string(lo) + " = " + dbl + " / ";
    *out += a;
    *out += ", " + std::string(hi) + " = " + dbl + " % ";
    *out += a;
    *out += sign;
}

void string_insn(std::string* out, string_view mn, string_view prefix, string_view segment, int addr_bits)
{
    std::string note;
    if (starts_with(mn, "movs"))
        note = L10n::tr("note.movs");
    else if (starts_with(mn, "stos"))
        note = L10n::tr("note.stos");
    else if (starts_with(mn, "lods"))
        note = L10n::tr("note.lods");
    else if (starts_with(mn, "cmps"))
        note = L10n::tr("note.cmps");
    else
        note = L10n::tr("note.scas");
    // The accumulator of this width, and the registers of the address width.
    const char last = mn.back();
    replace_all(note, "al/ax/eax/rax", last == 'b' ? "al" : last == 'w' ? "ax" : last == 'd' ? "eax" : "rax");
    if (addr_bits != 64) {
        replace_all(note, "rsi", addr_bits == 16 ? "si" : "esi");
        replace_all(note, "rdi", addr_bits == 16 ? "di" : "edi");
    }
    // A segment override applies to the source; the destination is always es.
    if (!segment.empty()) {
        std::string seg = "[" + std::string(segment) + ":";
        size_t p = note.find(addr_bits == 64 ? "[rsi" : addr_bits == 32 ? "[esi" : "[si");
        if (p != std::string::npos)
            note.replace(p, 1, seg);
    }
    if (!prefix.empty()) {
        out->append(prefix);
        out->append(": ");
    }
    out->append(note);
}

bool is_string_insn(string_view mn)
{
    if (mn.size() != 5 || string_view("bwdq").find(mn.back()) == string_view::npos)
        return false;
    for (string_view s : { "movs", "stos", "lods", "scas", "cmps" }) {
        if (starts_with(mn, s))
            return true;
    }
    return false;
}

// The 64-bit register that holds a 32-bit one: eax -> rax, r8d -> r8.
std::string widest(string_view r32)
{
    if (r32.size() == 3 && r32[0] == 'e')
        return "r" + std::string(r32.substr(1));
    if (!r32.empty() && r32.back() == 'd')
        return std::string(r32.substr(0, r32.size() - 1));
    return std::string(r32);
}

bool is_xmm(string_view s) { return starts_with(s, "xmm"); }

// The SSE moves touch only part of a register: movss and movsd between
// registers copy the low element and keep the rest; a load into an xmm
// register by movss, movsd, movd or movq clears what lies above it; a
// store or a move to a general register takes the low element.
bool sse_move(std::string* out, string_view mn, string_view a, string_view b)
{
    const char* low = mn == "movss" || mn == "movd" ? "[31:0]" : mn == "movsd" || mn == "movq" ? "[63:0]" : nullptr;
    if (!low || (!is_xmm(a) && !is_xmm(b)))
        return false;
    const char* above = low[1] == '3' ? "[127:32] = 0" : "[127:64] = 0";
    if (is_xmm(a) && is_xmm(b) && (mn == "movss" || mn == "movsd")) {
        for (string_view p : { a, string_view(low), string_view(" = "), b, string_view(low) })
            out->append(p);
        return true;
    }
    if (is_xmm(a)) {
        out->append(a);
        out->append(" = ");
        out->append(b);
        if (is_xmm(b))
            out->append(low);
        out->append(", ");
        out->append(a);
        out->append(above);
        return true;
    }
    out->append(a);
    out->append(" = ");
    out->append(b);
    out->append(low);
    return true;
}

// Per-thread scratch strings, so explaining a long listing allocates only
// while they grow.
struct Scratch {
    std::string a, b, c, target;
};

} // namespace

void comment(const dis::Insn& insn, const Names& names, std::string* out)
{
    out->clear();
    if (!insn.valid)
        return;
    string_view text = insn.text;
    // Bytes NASM cannot spell carry their instruction after the comment mark.
    if (starts_with(text, "db ")) {
        size_t mark = text.find(" ; ");
        if (mark == string_view::npos)
            return;
        text.remove_prefix(mark + 3);
    }
    string_view prefix, segment;
    // "ds" stands for the notrack prefix, which NASM only knows by that name;
    // the size prefixes say nothing the explanation does not take from the
    // operands or the address width.
    static constexpr string_view kPrefixes[] = { "lock ", "rep ", "repe ", "repz ", "repne ", "repnz ", "bnd ",
        "notrack ", "ds ", "o16 ", "o32 ", "o64 ", "a16 ", "a32 ", "a64 ", "cs ", "ss ", "es ", "fs ", "gs " };
    for (bool more = true; more && !text.empty() && string_view("lrbndoacsefg").find(text[0]) != string_view::npos;) {
        more = false;
        for (string_view p : kPrefixes) {
            if (!text.empty() && text[0] == p[0] && starts_with(text, p)) {
                text.remove_prefix(p.size());
                if (p[1] == 's' && p.size() == 3)
                    segment = p.substr(0, 2);
                else if (p[0] != 'o' && p[0] != 'a')
                    prefix = p.substr(0, p.size() - 1);
                more = true;
            }
        }
    }

    const size_t sp = text.find(' ');
    const string_view mn = text.substr(0, sp);
    Operands raw;
    if (sp != string_view::npos)
        raw.split(text.substr(sp + 1));
    if (raw.overflow) // more operands than any rule takes
        raw.n = Operands::kMax;
    const size_t n = raw.n;

    static thread_local Scratch s;
    std::string &a = s.a, &b = s.b, &c = s.c;
    a.clear();
    b.clear();
    c.clear();
    const Entry e = table().find(mn);
    const bool wants_ops = e.rule != Rule::None && e.rule != Rule::Fixed && e.rule != Rule::Key
        && e.rule != Rule::Syscall && e.rule != Rule::Rdtsc && e.rule != Rule::Privileged;
    // A branch shows its operand only when its target has no name.
    const bool branch = e.rule == Rule::Jmp || e.rule == Rule::Jcxz || e.rule == Rule::Jcc || e.rule == Rule::Loop
        || e.rule == Rule::Call;
    if (wants_ops && !branch) {
        if (n > 0)
            nice(raw[0], insn, names, &a);
        if (n > 1)
            nice(raw[1], insn, names, &b);
        if (n > 2)
            nice(raw[2], insn, names, &c);
    }
    auto branch_target = [&]() -> string_view {
        if (insn.has_target) {
            s.target = lookup(names, insn.target);
            if (!s.target.empty())
                return s.target;
        }
        if (n > 0)
            nice(raw[0], insn, names, &a);
        return a;
    };
    auto join = [out](std::initializer_list<string_view> parts) {
        for (string_view p : parts)
            out->append(p.data(), p.size());
    };

    switch (e.rule) {
    case Rule::None:
        break;
    case Rule::Move:
    case Rule::MoveSigned:
        if (n == 2 && sse_move(out, mn, a, b))
            return;
        if (n == 2)
            return join({ a, e.rule == Rule::MoveSigned ? " = (signed) " : " = ", b });
        break;
    case Rule::Lea:
        if (n == 2) {
            if (insn.has_mem) {
                std::string name = lookup(names, insn.mem);
                if (!name.empty())
                    return join({ a, " = &", name });
            }
            if (b.size() >= 3 && b.front() == '[' && b.back() == ']')
                return join({ a, " = ", string_view(b).substr(1, b.size() - 2) });
            return join({ a, " = ", b });
        }
        break;
    case Rule::Assign:
        if (n == 2) {
            if ((mn == "xor" || mn == "sub") && a == b)
                return join({ a, " = 0" });
            return join({ a, " ", e.text, " ", b });
        }
        break;
    case Rule::Sar:
        if (n == 2)
            return join({ a, " >>= ", b, e.text });
        break;
    case Rule::Imul:
        if (n == 2)
            return join({ a, " *= ", b });
        if (n == 3)
            return join({ a, " = ", b, " * ", c });
        if (n == 1)
            return mul_div(out, mn, a, raw[0]);
        break;
    case Rule::Inc:
        if (n == 1)
            return join({ a, "++" });
        break;
    case Rule::Dec:
        if (n == 1)
            return join({ a, "--" });
        break;
    case Rule::Neg:
        if (n == 1)
            return join({ a, " = -", a });
        break;
    case Rule::Not:
        if (n == 1)
            return join({ a, " = ~", a });
        break;
    case Rule::Rotate:
        if (n == 2)
            return join({ a, " = ", mn, "(", a, ", ", b, ")" });
        break;
    case Rule::MulDiv:
        if (n == 1)
            return mul_div(out, mn, a, raw[0]);
        break;
    case Rule::Fixed:
        return join({ e.text });
    case Rule::Privileged:
        // Real-mode code (a boot sector, a DOS program) may; a Linux program may not.
        if (insn.addr_bits == 16)
            return join({ e.text });
        return append_tr(out, "note.privileged", e.text);
    case Rule::Xchg:
        // xchg eax, eax is no nop in 64-bit code: writing eax clears the upper half.
        if (n == 2 && a == b && insn.addr_bits == 64 && op_size(raw[0]) == 4 && a.find('[') == std::string::npos)
            return join({ widest(a), " &= 0xFFFFFFFF" });
        if (n == 2)
            return join({ a, " <-> ", b });
        break;
    case Rule::Cmp:
        if (n == 2)
            return append_tr(out, "note.cmp", a, b);
        break;
    case Rule::Test:
        if (n == 2)
            return a == b ? append_tr(out, "note.test_zero", a) : append_tr(out, "note.test", a, b);
        break;
    case Rule::Jmp:
        if (n == 1)
            return append_tr(out, "note.goto", branch_target());
        break;
    case Rule::Jcxz:
        if (n == 1) {
            std::string what(mn.substr(1, mn.size() - 2));
            what += " == 0";
            return append_tr(out, "note.jcc", what, branch_target());
        }
        break;
    case Rule::Jcc:
        if (n == 1)
            return append_tr(out, "note.jcc", e.text, branch_target());
        break;
    case Rule::Cmov:
        if (n == 2)
            return join({ "if (", e.text, ") ", a, " = ", b });
        break;
    case Rule::Set:
        if (n == 1)
            return join({ a, " = (", e.text, ")" });
        break;
    case Rule::Loop:
        if (n == 1) {
            const char* counter = insn.addr_bits == 32 ? "ecx" : insn.addr_bits == 16 ? "cx" : "rcx";
            std::string what = std::string("--") + counter + " != 0";
            if (mn == "loope")
                what += " && ZF";
            else if (mn == "loopne")
                what += " && !ZF";
            return append_tr(out, "note.jcc", what, branch_target());
        }
        break;
    case Rule::Call:
        if (n == 1)
            return append_tr(out, "note.call", branch_target());
        break;
    case Rule::Ret:
        if (n == 1 && (mn == "ret" || mn == "retf")) {
            const unsigned long bytes = strtoul(std::string(raw[0]).c_str(), nullptr, 0);
            if (bytes)
                return append_tr(out, "note.ret_n", std::to_string(bytes));
        }
        return append_tr(out, "note.ret");
    case Rule::Push:
        // A number pushed at another width than the stack's says so.
        if (n == 1 && (starts_with(raw[0], "word 0x") || starts_with(raw[0], "dword 0x")))
            return append_tr(out, "note.push", raw[0]);
        if (n == 1)
            return append_tr(out, "note.push", a);
        break;
    case Rule::Pop:
        if (n == 1)
            return append_tr(out, "note.pop", a);
        break;
    case Rule::Key:
        return append_tr(out, e.text);
    case Rule::Syscall:
        return append_tr(out, "note.syscall");
    case Rule::Int:
        if (n == 1 && raw[0] == "0x80")
            return append_tr(out, insn.addr_bits == 64 ? "note.syscall32" : "note.syscall");
        if (n == 1)
            return append_tr(out, "note.int", a);
        break;
    case Rule::Rdtsc:
        out->append("edx:eax = ");
        append_tr(out, "note.tsc");
        if (mn == "rdtscp")
            out->append(", ecx = TSC_AUX");
        return;
    }
    if (n == 0 && is_string_insn(mn))
        return string_insn(out, mn, prefix, segment, insn.addr_bits);
    if (insn.isa.empty())
        return;
    append_tr(out, "note.other", insn.isa);
}

std::string comment(const dis::Insn& insn, const Names& names)
{
    std::string out;
    comment(insn, names, &out);
    return out;
}

} // namespace pseudo
