// Entries of the reference: exact lookup, lists, titles, summaries and
// badges, and the system-call and error-code queries of the debugger.
#include "ref_impl.h"

#include "l10n.h"

#include <cstring>
#include <string_view>
#include <utility>

using L10n::tr;

namespace ref {

namespace impl {

const Topic kTopics[kTopicCount] = {
    { "intro", "ref.t.intro.body" },         { "structure", "ref.t.structure.body" },
    { "registers", "ref.t.registers.body" }, { "operands", "ref.t.operands.body" },
    { "data", "ref.t.data.body" },           { "flags", "ref.t.flags.body" },
    { "stack", "ref.t.stack.body" },         { "syscalls", "ref.t.syscalls.body" },
    { "mistakes", "ref.t.mistakes.body" },   { "console", "con.help" },
    { "keys", "help.keys" },
};

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    if (s.empty())
        return out;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return out;
        start = at + 1;
    }
}

std::string first_sentence(const std::string& s)
{
    struct Sep {
        const char* text;
        bool keep_first; // ". " keeps its full stop
    };
    static const Sep seps[] = { { ". ", true }, { "\xe3\x80\x82", false }, { "\n", false },
                                { "\xe0\xa5\xa4 ", false }, { "\xe1\x8d\xa2 ", false }, { "\xd6\x89 ", false },
                                { "\xdb\x94 ", false } };
    size_t best = std::string::npos;
    bool keep = false;
    for (const Sep& sep : seps) {
        size_t at = s.find(sep.text);
        if (at < best) {
            best = at;
            keep = sep.keep_first;
        }
    }
    if (best == std::string::npos)
        return s;
    return s.substr(0, keep ? best + 1 : best);
}

std::string insn_desc(const refdata::Insn& row)
{
    if (*row.family)
        return tr(std::string("ref.fam.") + row.family, tr(std::string("ref.cc.") + row.cc));
    return tr(std::string("ref.i.") + row.id);
}

bool sys_has_text(const refdata::Syscall& row)
{
    std::string key = std::string("ref.s.") + row.name;
    return tr(key) != key;
}

namespace {

// i386 calls the kernel still serves with the structure layouts of their
// time, and the call each is an old form of.
const std::pair<std::string_view, const char*> kLegacyCalls[] = {
    { "oldstat", "stat" }, { "oldfstat", "fstat" }, { "oldolduname", "uname" }, { "oldlstat", "lstat" },
    { "readdir", "getdents64" },
};

// Calls whose i386 number is the old one with 16-bit user and group IDs,
// and the call with full IDs.
const std::pair<std::string_view, const char*> kId16Calls[] = {
    { "getuid", "getuid32 (199)" }, { "geteuid", "geteuid32 (201)" }, { "getgid", "getgid32 (200)" },
};

} // namespace

std::string sys_desc(const refdata::Syscall& row)
{
    std::string key = std::string("ref.s.") + row.name;
    std::string text = tr(key);
    if (text != key) {
        for (const auto& [name, full] : kId16Calls)
            if (name == row.name)
                text += " " + tr("ref.sys.id16", full);
        return text;
    }
    for (const auto& [name, modern] : kLegacyCalls)
        if (name == row.name)
            return tr("ref.sys.legacy", modern);
    return tr(row.obsolete ? "ref.sys.obsolete" : "ref.sys.generic");
}

namespace {

bool name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

Arg parse_arg(const std::string& piece)
{
    size_t b = piece.find_first_not_of(' ');
    std::string p = b == std::string::npos ? std::string() : piece.substr(b);
    size_t n = p.size();
    while (n > 0 && name_char(p[n - 1]))
        --n;
    Arg a;
    a.name = p.substr(n);
    a.type = p.substr(0, n);
    while (!a.type.empty() && a.type.back() == ' ')
        a.type.pop_back();
    return a;
}

} // namespace

void fill(const refdata::Syscall& row, bool is64, SyscallInfo* out)
{
    out->name = row.name;
    out->nr = is64 ? row.nr64 : row.nr32;
    const char* source = is64 || !row.args32 ? row.args : row.args32;
    out->args_known = source != nullptr;
    out->args.clear();
    if (source)
        for (const std::string& piece : split(source, ','))
            out->args.push_back(parse_arg(piece));
}

int syscall_row(unsigned long nr, bool is64)
{
    for (size_t i = 0; i < refdata::kSyscallCount; ++i) {
        int n = is64 ? refdata::kSyscalls[i].nr64 : refdata::kSyscalls[i].nr32;
        if (n >= 0 && static_cast<unsigned long>(n) == nr)
            return int(i);
    }
    return -1;
}

} // namespace impl

using namespace impl;

namespace {

bool names_contain(const char* names, const std::string& word)
{
    for (const std::string& n : split(names, ','))
        if (n == word)
            return true;
    return false;
}

// Section names NASM users write often; they must not fall to the
// local-label rule that every other word with a leading dot takes.
bool section_name(const std::string& w)
{
    static const char* const names[] = { ".text", ".data", ".bss", ".rodata" };
    for (const char* n : names)
        if (w == n)
            return true;
    return false;
}

int directive_row(const char* id)
{
    for (size_t i = 0; i < refdata::kDirectiveCount; ++i)
        if (strcmp(refdata::kDirectives[i].id, id) == 0)
            return int(i);
    return -1;
}

size_t table_size(Kind k)
{
    switch (k) {
    case Kind::Topic: return kTopicCount;
    case Kind::Insn: return refdata::kInsnCount;
    case Kind::Directive: return refdata::kDirectiveCount;
    case Kind::Syscall: return refdata::kSyscallCount;
    case Kind::Errno: return refdata::kErrnoCount;
    }
    return 0;
}

bool in_range(const Entry& e)
{
    return e.index >= 0 && size_t(e.index) < table_size(e.kind);
}

std::string number_or_dash(int n)
{
    return n < 0 ? "\xe2\x80\x93" : std::to_string(n);
}

int errno_row(int nr)
{
    for (size_t i = 0; i < refdata::kErrnoCount; ++i)
        if (refdata::kErrnos[i].nr == nr && !*refdata::kErrnos[i].alias)
            return int(i);
    return -1;
}

} // namespace

Entry lookup(const std::string& word)
{
    std::string w = lower(word);
    if (w.empty())
        return {};
    for (size_t i = 0; i < refdata::kInsnCount; ++i)
        if (names_contain(refdata::kInsns[i].names, w))
            return { Kind::Insn, int(i) };
    for (size_t i = 0; i < refdata::kDirectiveCount; ++i)
        if (names_contain(refdata::kDirectives[i].names, w))
            return { Kind::Directive, int(i) };
    if (section_name(w))
        return { Kind::Directive, directive_row("section") };
    if (w.size() >= 2 && w[0] == '.' && w[1] != '.')
        return { Kind::Directive, directive_row("local") };
    for (size_t i = 0; i < refdata::kSyscallCount; ++i)
        if (w == refdata::kSyscalls[i].name)
            return { Kind::Syscall, int(i) };
    for (size_t i = 0; i < refdata::kErrnoCount; ++i) {
        const refdata::Errno& row = refdata::kErrnos[i];
        if (lower(row.name) != w)
            continue;
        if (!*row.alias)
            return { Kind::Errno, int(i) };
        for (size_t j = 0; j < refdata::kErrnoCount; ++j)
            if (strcmp(refdata::kErrnos[j].name, row.alias) == 0)
                return { Kind::Errno, int(j) };
    }
    return {};
}

Entry topic(const std::string& id)
{
    for (int i = 0; i < kTopicCount; ++i)
        if (id == kTopics[i].id)
            return { Kind::Topic, i };
    return {};
}

std::vector<Entry> list(Kind k)
{
    std::vector<Entry> out;
    size_t n = table_size(k);
    for (size_t i = 0; i < n; ++i)
        if (k != Kind::Errno || !*refdata::kErrnos[i].alias)
            out.push_back({ k, int(i) });
    return out;
}

std::string title(const Entry& e)
{
    if (!in_range(e))
        return {};
    auto join = [](const char* names, size_t most, bool ellipsis) {
        std::vector<std::string> parts = split(names, ',');
        std::string out;
        for (size_t i = 0; i < parts.size() && i < most; ++i)
            out += (i ? ", " : "") + parts[i];
        if (ellipsis && parts.size() > most)
            out += " \xe2\x80\xa6";
        return out;
    };
    switch (e.kind) {
    case Kind::Topic: return tr(std::string("ref.t.") + kTopics[e.index].id + ".title");
    case Kind::Insn: return join(refdata::kInsns[e.index].names, 4, true);
    case Kind::Directive: return join(refdata::kDirectives[e.index].names, 5, false);
    case Kind::Syscall: return refdata::kSyscalls[e.index].name;
    case Kind::Errno: return refdata::kErrnos[e.index].name;
    }
    return {};
}

std::string summary(const Entry& e)
{
    if (!in_range(e))
        return {};
    switch (e.kind) {
    case Kind::Topic: return {};
    case Kind::Insn: {
        const refdata::Insn& row = refdata::kInsns[e.index];
        if (*row.family)
            return tr(std::string("ref.cc.") + row.cc);
        return first_sentence(insn_desc(row));
    }
    case Kind::Directive: return first_sentence(tr(std::string("ref.d.") + refdata::kDirectives[e.index].id));
    case Kind::Syscall: return first_sentence(sys_desc(refdata::kSyscalls[e.index]));
    case Kind::Errno: return errno_text(refdata::kErrnos[e.index].nr);
    }
    return {};
}

std::string badge(const Entry& e)
{
    if (!in_range(e))
        return {};
    if (e.kind == Kind::Syscall) {
        const refdata::Syscall& row = refdata::kSyscalls[e.index];
        return number_or_dash(row.nr64) + " \xc2\xb7 " + number_or_dash(row.nr32);
    }
    if (e.kind == Kind::Errno)
        return std::to_string(refdata::kErrnos[e.index].nr);
    return {};
}

std::string group_label(const Entry& e)
{
    if (e.kind != Kind::Insn || !in_range(e))
        return {};
    return tr(std::string("ref.g.") + refdata::kInsns[e.index].group);
}

std::string kind_label(Kind k)
{
    static const char* const keys[] = { "ref.cat.topics", "ref.cat.insn", "ref.cat.dir", "ref.cat.sys",
                                        "ref.cat.err" };
    int i = static_cast<int>(k);
    if (i < 0 || i > 4)
        return {};
    return tr(keys[i]);
}

const char* const* syscall_regs(bool is64)
{
    static const char* const regs64[6] = { "rdi", "rsi", "rdx", "r10", "r8", "r9" };
    static const char* const regs32[6] = { "ebx", "ecx", "edx", "esi", "edi", "ebp" };
    return is64 ? regs64 : regs32;
}

bool syscall_by_nr(unsigned long nr, bool is64, SyscallInfo* out)
{
    int row = syscall_row(nr, is64);
    if (row < 0)
        return false;
    fill(refdata::kSyscalls[row], is64, out);
    return true;
}

bool syscall_by_name(const std::string& name, bool is64, SyscallInfo* out)
{
    for (const refdata::Syscall& row : refdata::kSyscalls)
        if (name == row.name) {
            fill(row, is64, out);
            return out->nr >= 0;
        }
    return false;
}

std::string errno_name(int nr)
{
    int row = errno_row(nr);
    return row < 0 ? std::string() : refdata::kErrnos[row].name;
}

std::string errno_text(int nr)
{
    int row = errno_row(nr);
    return row < 0 ? std::string() : tr(std::string("ref.e.") + refdata::kErrnos[row].name);
}

} // namespace ref
