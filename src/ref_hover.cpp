// What the editor's hover help and the Reference dialog compute without a
// window: tooltips, the system call a line makes, the bit width a source
// is written for, the word under the pointer and the example insertion.
#include "ref_impl.h"

#include "l10n.h"
#include "numfmt.h"

#include <cstdint>
#include <regex>

using L10n::tr;

namespace ref {

using namespace impl;

namespace {

// libstdc++'s regex matcher recurses per character; an editor line can be
// megabytes long, so only its start is matched. Every pattern here is
// anchored at the line start and needs far fewer bytes than this.
constexpr size_t kRegexLineCap = 512;

std::string capped(const std::string& s)
{
    return s.size() > kRegexLineCap ? s.substr(0, kRegexLineCap) : s;
}

bool word_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.'
        || c == '$' || c == '%' || c == '?' || c == '@' || c == '#';
}

// "write(fd = rdi, buf = rsi, count = rdx)"
std::string signature(const SyscallInfo& info, bool is64)
{
    const char* const* regs = syscall_regs(is64);
    std::string out = info.name + "(";
    for (size_t i = 0; i < info.args.size() && i < 6; ++i)
        out += (i ? ", " : "") + info.args[i].name + " = " + regs[i];
    return out + ")";
}

} // namespace

std::string tooltip(const std::string& word, int bits)
{
    Entry e = lookup(word);
    if (!e.valid() || (e.kind != Kind::Insn && e.kind != Kind::Directive))
        return {};
    std::string out = title(e) + "  \xe2\x80\x94  " + summary(e);
    if (e.kind == Kind::Insn) {
        const refdata::Insn& row = refdata::kInsns[e.index];
        std::string w = lower(word);
        int matches = 0;
        for (const std::string& form : split(bits == 32 ? row.forms32 : row.forms64, '\n')) {
            if (form.compare(0, w.size(), w) != 0 || (form.size() > w.size() && form[w.size()] != ' '))
                continue;
            if (++matches <= 8)
                out += "\n    " + form;
        }
        if (matches > 8)
            out += "\n    \xe2\x80\xa6 +" + std::to_string(matches - 8);
    }
    return out + "\n" + tr("ref.tip_more");
}

int syscall_nr_before(const std::function<std::string(int)>& line, int at, bool* is64)
{
    static const std::regex call(R"(^\s*(?:[A-Za-z_.$?@][\w.$?@#~]*:\s*)?(syscall|int\s+0x80|int\s+80h)\b)",
                                 std::regex::ECMAScript | std::regex::icase);
    static const std::regex load(R"(^\s*(?:[A-Za-z_.$?@][\w.$?@#~]*:\s*)?mov\s+(rax|eax)\s*,\s*([^\s;,]+))",
                                 std::regex::ECMAScript | std::regex::icase);
    for (int i = at - 1; i >= 0 && i >= at - 40; --i) {
        std::string text = capped(line(i));
        if (std::regex_search(text, call))
            return -1;
        std::smatch m;
        if (!std::regex_search(text, m, load))
            continue;
        if (is64)
            *is64 = lower(m[1].str()) == "rax";
        std::string value = m[2].str();
        uint64_t v = 0;
        int bytes = 0;
        if (value.empty() || value[0] < '0' || value[0] > '9' || !numfmt::parse(value, &v, &bytes) || v > INT32_MAX)
            return -1;
        return int(v);
    }
    return -1;
}

int bits_of_source(const std::function<std::string(int)>& line, int line_count)
{
    static const std::regex bits(R"(^\s*(\[\s*)?bits\s+(32|16)\b)", std::regex::ECMAScript | std::regex::icase);
    for (int i = 0; i < line_count && i < 300; ++i)
        if (std::regex_search(capped(line(i)), bits))
            return 32;
    return 64;
}

std::string word_at(const std::string& line, int col)
{
    if (col < 0 || size_t(col) > line.size())
        return {};
    size_t b = size_t(col), e = size_t(col);
    while (b > 0 && word_char(line[b - 1]))
        --b;
    while (e < line.size() && word_char(line[e]))
        ++e;
    std::string w = line.substr(b, e - b);
    // "%" only leads a preprocessor word; inside one it is an operator.
    size_t pct = w.find('%', 1);
    if (pct != std::string::npos) {
        if (size_t(col) - b < pct)
            w = w.substr(0, pct);
        else
            w = w.substr(pct);
    }
    return w;
}

std::string editor_hover(const std::string& word, const std::function<std::string(int)>& line, int line_count,
                         int at, int bits)
{
    std::string base = tooltip(word, bits);
    std::string w = lower(word);
    if ((w != "syscall" && w != "int") || at < 0 || at >= line_count)
        return base;
    if (w == "int") {
        std::string text = lower(line(at));
        if (text.find("0x80") == std::string::npos && text.find("80h") == std::string::npos)
            return base;
    }
    int nr = syscall_nr_before(line, at, nullptr);
    if (nr < 0)
        return base;
    // The call is found by its number, never by its name: a call may share
    // its name with an instruction (34 is pause).
    const bool is64 = w == "syscall";
    int row = syscall_row(static_cast<unsigned long>(nr), is64);
    if (row < 0)
        return base;
    SyscallInfo info;
    fill(refdata::kSyscalls[row], is64, &info);
    std::string out = signature(info, is64);
    std::string sum = summary({ Kind::Syscall, row });
    if (!sum.empty())
        out += "\n" + sum;
    return out + "\n\n" + base;
}

std::string insert_text(const Entry& e, int bits)
{
    std::string text = example(e, bits);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (text.empty() || e.kind != Kind::Insn)
        return text;
    std::string out;
    std::vector<std::string> lines = split(text, '\n');
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        bool label = !l.empty() && l.back() == ':' && l.find(' ') == std::string::npos;
        bool keep = l.empty() || label || l[0] == ' ';
        out += (i ? "\n" : "") + (keep ? l : "    " + l);
    }
    return out;
}

Insertion insertion(const std::string& text, const std::string& line, int caret_line, const Pos* sel_from,
                    const Pos* sel_to)
{
    Insertion ins;
    if (sel_from && sel_to && !(sel_from->line == sel_to->line && sel_from->col == sel_to->col)) {
        ins.from = *sel_from;
        ins.to = *sel_to;
        ins.text = text;
    } else if (line.find_first_not_of(" \t") == std::string::npos) {
        // A blank line: its blanks go, so the example's own indentation is
        // the only one.
        ins.from = { caret_line, 0 };
        ins.to = { caret_line, int(line.size()) };
        ins.text = text;
    } else {
        ins.from = ins.to = { caret_line, int(line.size()) };
        ins.text = "\n" + text;
    }
    ins.caret = ins.from;
    for (char c : ins.text) {
        if (c == '\n') {
            ++ins.caret.line;
            ins.caret.col = 0;
        } else {
            ++ins.caret.col;
        }
    }
    return ins;
}

} // namespace ref
