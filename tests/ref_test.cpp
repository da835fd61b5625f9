// The reference model: its tables against the system's own headers and
// C library, lookups, ranked search, detail pages, examples and the hover
// help the editor shows.
#include "l10n.h"
#include "ref.h"
#include "ref_impl.h"
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace testutil;
using ref::Entry;
using ref::Kind;
using L10n::tr;

namespace {

// The macros a header defines, as the C compiler sees them: name to value.
std::map<std::string, std::string> header_macros(const std::string& header)
{
    TempDir dir;
    std::string src = dir.file("probe.c");
    write_file(src, "#include <" + header + ">\n");
    RunResult r = run({ "cc", "-dM", "-E", src });
    EXPECT_EQ(r.code, 0) << r.err;
    std::map<std::string, std::string> out;
    std::istringstream in(r.out);
    static const std::regex def(R"(#define (\w+) (.+))");
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, def))
            out[m[1]] = m[2];
    return out;
}

std::map<std::string, int> syscall_numbers(const std::string& header)
{
    std::map<std::string, int> out;
    for (const auto& [name, value] : header_macros(header))
        if (name.rfind("__NR_", 0) == 0 && !value.empty() && std::isdigit(static_cast<unsigned char>(value[0])))
            out[name.substr(5)] = std::stoi(value);
    return out;
}

Entry row_named(Kind k, const char* name)
{
    for (const Entry& e : ref::list(k))
        if (ref::title(e) == name)
            return e;
    if (k == Kind::Insn)
        for (size_t i = 0; i < refdata::kInsnCount; ++i)
            if (strcmp(refdata::kInsns[i].id, name) == 0)
                return { Kind::Insn, int(i) };
    if (k == Kind::Directive)
        for (size_t i = 0; i < refdata::kDirectiveCount; ++i)
            if (strcmp(refdata::kDirectives[i].id, name) == 0)
                return { Kind::Directive, int(i) };
    ADD_FAILURE() << "no row " << name;
    return {};
}

Entry sys(const char* name) { return row_named(Kind::Syscall, name); }

std::vector<std::string> lines_of(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// A source given as lines, read the way the editor hands them over.
std::function<std::string(int)> reader(const std::vector<std::string>& lines)
{
    return [lines](int i) { return lines.at(size_t(i)); };
}

} // namespace

// ---- tables against the system

TEST(RefTables, SyscallNumbersMatchTheKernelHeadersAndContinueBeyondThem)
{
    auto h64 = syscall_numbers("asm/unistd_64.h");
    auto h32 = syscall_numbers("asm/unistd_32.h");
    ASSERT_GT(h64.size(), 300u);
    ASSERT_GT(h32.size(), 380u);
    std::set<std::string> names;
    int last64 = -1, last32 = -1, unknown64 = 0;
    for (size_t i = 0; i < refdata::kSyscallCount; ++i) {
        const refdata::Syscall& row = refdata::kSyscalls[i];
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second);
        if (i < 385) {
            // x86-64 rows ascend; a call the headers do not know yet takes
            // the number after the row before it.
            ASSERT_GT(row.nr64, last64);
            if (auto it = h64.find(row.name); it != h64.end()) {
                EXPECT_EQ(row.nr64, it->second);
            } else {
                EXPECT_EQ(row.nr64, last64 + 1);
                ++unknown64;
            }
            last64 = row.nr64;
        } else {
            EXPECT_EQ(row.nr64, -1);
            ASSERT_GT(row.nr32, last32);
            last32 = row.nr32;
        }
        if (auto it = h32.find(row.name); it != h32.end()) {
            EXPECT_EQ(row.nr32, it->second);
        } else if (row.nr32 >= 0) { // newer than the headers: the numbers common to both tables
            EXPECT_TRUE(row.nr32 == row.nr64 && row.nr64 >= 424);
        }
    }
    EXPECT_LT(unknown64, 40);
    // Every call the headers define is in the table.
    for (const auto& [name, nr] : h64) {
        ref::SyscallInfo info;
        EXPECT_TRUE(ref::syscall_by_name(name, true, &info) && info.nr == nr) << name;
    }
    for (const auto& [name, nr] : h32) {
        ref::SyscallInfo info;
        EXPECT_TRUE(ref::syscall_by_name(name, false, &info) && info.nr == nr) << name;
    }
    EXPECT_EQ(refdata::kSyscalls[384].nr64, 471);
    EXPECT_STREQ(refdata::kSyscalls[385].name, "waitpid");
}

TEST(RefTables, ErrorCodesMatchTheCLibraryHeadersAndMessages)
{
    auto macros = header_macros("errno.h");
    std::map<std::string, int> by_name;
    for (size_t i = 0; i < refdata::kErrnoCount; ++i)
        by_name[refdata::kErrnos[i].name] = refdata::kErrnos[i].nr;
    std::set<int> numbers;
    int last = 0;
    for (size_t i = 0; i < refdata::kErrnoCount; ++i) {
        const refdata::Errno& row = refdata::kErrnos[i];
        SCOPED_TRACE(row.name);
        if (*row.alias) {
            EXPECT_EQ(row.nr, by_name.at(row.alias));
        } else {
            EXPECT_GT(row.nr, last);
            last = row.nr;
            numbers.insert(row.nr);
        }
        auto it = macros.find(row.name);
        if (it == macros.end()) {
            // The kernel's own names for file-system errors.
            EXPECT_TRUE(!strcmp(row.name, "EFSBADCRC") || !strcmp(row.name, "EFSCORRUPTED"));
            continue;
        }
        const std::string& v = it->second;
        if (std::isdigit(static_cast<unsigned char>(v[0])))
            EXPECT_EQ(row.nr, std::stoi(v));
        else
            EXPECT_EQ(v, row.alias);
    }
    for (int n = 1; n <= 133; ++n)
        EXPECT_EQ(numbers.count(n), n == 41 || n == 58 ? 0u : 1u) << n;
    // Every description opens with the C library's own message.
    for (const Entry& e : ref::list(Kind::Errno)) {
        int nr = refdata::kErrnos[e.index].nr;
        EXPECT_EQ(ref::impl::first_sentence(ref::errno_text(nr)), std::string(strerror(nr)) + ".") << ref::title(e);
    }
}

TEST(RefTables, EveryRowHasItsTextsAndEverySummaryStandsAlone)
{
    int own_syscall_texts = 0;
    for (int k = 0; k <= 4; ++k)
        for (const Entry& e : ref::list(Kind(k))) {
            std::string s = ref::summary(e), t = ref::title(e);
            SCOPED_TRACE(t);
            EXPECT_FALSE(t.empty());
            EXPECT_EQ(t.find("ref."), std::string::npos);
            if (e.kind == Kind::Topic)
                continue;
            EXPECT_FALSE(s.empty());
            EXPECT_EQ(s.find("ref."), std::string::npos) << s;
            EXPECT_EQ(s.find("e.g. "), std::string::npos) << s;
            EXPECT_LE(s.size(), 220u) << s;
            if (e.kind == Kind::Syscall)
                own_syscall_texts += ref::impl::sys_has_text(refdata::kSyscalls[e.index]);
        }
    EXPECT_EQ(own_syscall_texts, 77);
    for (int i = 0; i < 11; ++i) {
        Entry t { Kind::Topic, i };
        EXPECT_FALSE(ref::detail(t, 64).empty()) << ref::title(t);
    }
    for (const char* key : { "ref.legend", "ref.sys.ret64", "ref.sys.ret32", "ref.err.explain", "help.keys",
                             "ref.first_steps", "ref.search_hint", "ref.cat.all" })
        EXPECT_NE(tr(key), key);
}

// ---- entries

TEST(RefEntries, LookupFindsTheRightRow)
{
    struct Case {
        const char* word;
        Kind kind;
        const char* row; // id for instructions and directives, title otherwise; null: none
    };
    const Case cases[] = {
        { "MOV", Kind::Insn, "mov" }, { "mov", Kind::Insn, "mov" }, { "cmovz", Kind::Insn, "cmov_e" },
        { "jc", Kind::Insn, "j_b" }, { "movsd", Kind::Insn, "movs" }, { "pause", Kind::Insn, "pause" },
        { "lock", Kind::Insn, "lock" }, { ".loop", Kind::Directive, "local" }, { "%DEFINE", Kind::Directive, "define" },
        // Section names are not local labels.
        { ".text", Kind::Directive, "section" }, { ".data", Kind::Directive, "section" },
        { ".bss", Kind::Directive, "section" }, { ".BSS", Kind::Directive, "section" },
        { "ewouldblock", Kind::Errno, "EAGAIN" }, { "EAGAIN", Kind::Errno, "EAGAIN" },
        { "waitpid", Kind::Syscall, "waitpid" }, { "write", Kind::Syscall, "write" },
        { "..x", Kind::Topic, nullptr }, { ".", Kind::Topic, nullptr }, { "", Kind::Topic, nullptr },
        { "nosuchword", Kind::Topic, nullptr },
    };
    for (const Case& c : cases) {
        Entry e = ref::lookup(c.word);
        Entry want = c.row ? row_named(c.kind, c.row) : Entry {};
        EXPECT_EQ(e, want) << c.word;
    }
    EXPECT_EQ(ref::lookup("mov"), (Entry { Kind::Insn, 0 }));
    EXPECT_EQ(ref::lookup("waitpid").index, 385);
    EXPECT_EQ(ref::topic("keys"), (Entry { Kind::Topic, 10 }));
    EXPECT_FALSE(ref::topic("Keys").valid());
}

TEST(RefEntries, ListsTitlesBadgesAndLabels)
{
    EXPECT_EQ(ref::list(Kind::Topic).size(), 11u);
    EXPECT_EQ(ref::list(Kind::Insn).size(), 135u);
    EXPECT_EQ(ref::list(Kind::Directive).size(), 23u);
    EXPECT_EQ(ref::list(Kind::Syscall).size(), 472u);
    EXPECT_EQ(ref::list(Kind::Errno).size(), 131u);
    EXPECT_TRUE(ref::list(Kind(7)).empty());
    for (const Entry& e : ref::list(Kind::Errno))
        EXPECT_EQ(std::string(refdata::kErrnos[e.index].alias), "") << ref::title(e);

    const std::pair<Entry, std::string> titles[] = {
        { row_named(Kind::Insn, "rep"), "rep, repe, repz, repne \xe2\x80\xa6" },
        { row_named(Kind::Insn, "addps"), "addps, addpd, subps, subpd \xe2\x80\xa6" },
        { row_named(Kind::Insn, "cbw"), "cbw, cwde, cdqe" },
        { row_named(Kind::Directive, "if"), "%if, %ifdef, %ifndef, %else, %endif" },
        { row_named(Kind::Directive, "local"), ".label" },
        { ref::topic("keys"), "Keyboard shortcuts" },
    };
    for (const auto& [e, t] : titles)
        EXPECT_EQ(ref::title(e), t);

    EXPECT_EQ(ref::badge(sys("write")), "1 \xc2\xb7 4");
    EXPECT_EQ(ref::badge(sys("accept")), "43 \xc2\xb7 \xe2\x80\x93");
    EXPECT_EQ(ref::badge(sys("waitpid")), "\xe2\x80\x93 \xc2\xb7 7");
    EXPECT_EQ(ref::badge(ref::lookup("ENOENT")), "2");
    EXPECT_EQ(ref::badge(ref::lookup("mov")), "");
    EXPECT_EQ(ref::group_label(ref::lookup("mov")), "Moving data");
    EXPECT_EQ(ref::group_label(sys("write")), "");
    EXPECT_EQ(ref::kind_label(Kind::Errno), "Error codes");

    EXPECT_EQ(ref::summary(row_named(Kind::Insn, "j_e")), "equal, or a result of zero (ZF = 1)");
    EXPECT_EQ(ref::summary(sys("sync")), "A Linux system call.");
    EXPECT_EQ(ref::summary(sys("afs_syscall")),
              "Not implemented in today's kernels (an old call that only keeps its number).");
    EXPECT_EQ(ref::summary(ref::topic("intro")), "");
}

TEST(RefEntries, AbsentAndOutOfRangeEntriesGiveEmptyTexts)
{
    // The absent entry and handles no table holds must never be read.
    const Entry bad[] = { {}, { Kind::Insn, -1 }, { Kind::Errno, -1 }, { Kind::Insn, 135 },
                          { Kind::Syscall, 472 }, { Kind::Topic, 11 }, { Kind(9), 0 } };
    for (const Entry& e : bad) {
        EXPECT_EQ(ref::summary(e), "");
        EXPECT_EQ(ref::title(e), "");
        EXPECT_EQ(ref::badge(e), "");
        EXPECT_EQ(ref::group_label(e), "");
        EXPECT_TRUE(ref::detail(e, 64).empty());
        EXPECT_EQ(ref::example(e, 64), "");
    }
    EXPECT_EQ(ref::kind_label(Kind(-1)), "");
    EXPECT_EQ(ref::kind_label(Kind(5)), "");
}

TEST(RefEntries, SystemCallsAndErrorCodesForTheDebugger)
{
    ref::SyscallInfo exit64, exit32;
    ASSERT_TRUE(ref::syscall_by_nr(60, true, &exit64));
    ASSERT_TRUE(ref::syscall_by_nr(1, false, &exit32));
    for (const auto* info : { &exit64, &exit32 }) {
        EXPECT_EQ(info->name, "exit");
        ASSERT_EQ(info->args.size(), 1u);
        EXPECT_EQ(info->args[0].type, "int");
        EXPECT_EQ(info->args[0].name, "code");
    }
    ref::SyscallInfo untouched;
    EXPECT_FALSE(ref::syscall_by_nr(9999, true, &untouched));
    EXPECT_EQ(untouched.nr, -1);
    EXPECT_TRUE(untouched.name.empty());
    EXPECT_FALSE(ref::syscall_by_name("nosuchcall", true, &untouched));
    EXPECT_TRUE(untouched.name.empty());

    ref::SyscallInfo accept32;
    EXPECT_FALSE(ref::syscall_by_name("accept", false, &accept32));
    EXPECT_EQ(accept32.name, "accept");
    EXPECT_EQ(accept32.nr, -1);

    ref::SyscallInfo mmap32, mmap64, execve, sync, getpid;
    ASSERT_TRUE(ref::syscall_by_name("mmap", false, &mmap32));
    ASSERT_TRUE(ref::syscall_by_name("mmap", true, &mmap64));
    ASSERT_TRUE(ref::syscall_by_name("execve", true, &execve));
    ASSERT_TRUE(ref::syscall_by_name("sync", true, &sync));
    ASSERT_TRUE(ref::syscall_by_name("getpid", true, &getpid));
    ASSERT_EQ(mmap32.args.size(), 1u);
    EXPECT_EQ(mmap32.args[0].type, "struct mmap_arg_struct *");
    EXPECT_EQ(mmap32.args[0].name, "args");
    EXPECT_EQ(mmap64.args.size(), 6u);
    ASSERT_EQ(execve.args.size(), 3u);
    EXPECT_EQ(execve.args[1].type, "const char *const *");
    EXPECT_EQ(execve.args[1].name, "argv");
    EXPECT_FALSE(sync.args_known);
    EXPECT_TRUE(sync.args.empty());
    EXPECT_TRUE(getpid.args_known);
    EXPECT_TRUE(getpid.args.empty());

    EXPECT_STREQ(ref::syscall_regs(true)[3], "r10");
    EXPECT_STREQ(ref::syscall_regs(false)[5], "ebp");
    EXPECT_EQ(ref::errno_name(11), "EAGAIN");
    EXPECT_EQ(ref::errno_name(35), "EDEADLK");
    EXPECT_EQ(ref::errno_name(41), "");
    EXPECT_EQ(ref::errno_name(0), "");
    EXPECT_EQ(ref::errno_text(0), "");
    EXPECT_EQ(ref::impl::first_sentence(ref::errno_text(2)), "No such file or directory.");
}

TEST(RefEntries, FirstSentence)
{
    const std::pair<const char*, const char*> cases[] = {
        { "One. Two.", "One." },
        { "\xe4\xb8\x80\xe3\x80\x82\xe4\xba\x8c", "\xe4\xb8\x80" },
        { "line one\nline two. x", "line one" },
        { "a\xe0\xa5\xa4 b", "a" },
        { "a\xd6\x89 b", "a" },
        { "a\xdb\x94 b", "a" },
        { "no separator at all.", "no separator at all." },
        { "0.5 is a number. Yes", "0.5 is a number." },
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ref::impl::first_sentence(in), out) << in;
}

// ---- search

TEST(RefSearch, Ranking)
{
    auto titles = [](const std::string& q, size_t n) {
        std::vector<std::string> out;
        for (const Entry& e : ref::search(q, -1))
            if (out.size() < n)
                out.push_back(ref::title(e));
        return out;
    };
    std::vector<std::string> mov = titles("  MOV ", 5);
    EXPECT_EQ(mov, (std::vector<std::string> { "mov", "movzx", "movsx", "movsxd", "movsb, movsw, movsd, movsq" }));
    auto found = ref::search("mov", -1);
    auto pos = [&](const Entry& e) { return std::find(found.begin(), found.end(), e) - found.begin(); };
    EXPECT_LT(pos(row_named(Kind::Insn, "movsxd")), pos(row_named(Kind::Insn, "cmov_e")));

    EXPECT_EQ(titles("60", 1), std::vector<std::string> { "exit" });
    EXPECT_EQ(titles("0x3c", 1), std::vector<std::string> { "exit" });
    EXPECT_TRUE(ref::search("x3c", -1).empty() || ref::title(ref::search("x3c", -1)[0]) != "exit");
    auto one = ref::search("1", -1);
    auto at = [&](const Entry& e) { return std::find(one.begin(), one.end(), e) - one.begin(); };
    EXPECT_LT(at(sys("write")), at(sys("exit")));
    EXPECT_LT(at(sys("exit")), at(ref::lookup("EPERM")));
    EXPECT_LT(at(ref::lookup("EPERM")), ptrdiff_t(one.size()));

    EXPECT_TRUE(ref::search("   ", -1).empty());
    EXPECT_TRUE(ref::search("", -1).empty());

    // Descriptions are searched from three bytes on, and only where no
    // name matched: "zer" finds instructions whose text speaks of zeros.
    EXPECT_TRUE(ref::search("ze", 1).empty());
    auto zer = ref::search("zer", 1);
    EXPECT_NE(std::find(zer.begin(), zer.end(), ref::lookup("movzx")), zer.end());

    // A topic found by its body ranks below every name match.
    auto sc = ref::search("syscall", -1);
    ASSERT_FALSE(sc.empty());
    EXPECT_EQ(first_of(sc), ref::lookup("syscall"));
    EXPECT_EQ(last_of(sc).kind, Kind::Topic);

    // The kind filter keeps one kind.
    for (const Entry& e : ref::search("e", 4))
        EXPECT_EQ(e.kind, Kind::Errno);
}

TEST(RefSearch, DialogRowsHeadingsAndStepping)
{
    auto insns = ref::rows("", 1);
    int headings = 0, entries = 0;
    for (const auto& r : insns)
        (r.header ? headings : entries)++;
    EXPECT_EQ(headings, 11);
    EXPECT_EQ(entries, 135);
    EXPECT_TRUE(insns[0].header);
    EXPECT_EQ(insns[0].text, "Moving data");
    EXPECT_EQ(ref::first_entry_row(insns), 1);

    // Ctrl+Page Down counts 12 entries, not the headings between them.
    int from = ref::row_of(insns, ref::lookup("cmpxchg"));
    int to = ref::step_row(insns, from, 12);
    int counted = 0;
    for (int i = from + 1; i <= to; ++i)
        counted += !insns[i].header;
    EXPECT_EQ(counted, 12);
    EXPECT_FALSE(insns[to].header);
    int last = int(insns.size()) - 1;
    EXPECT_EQ(ref::step_row(insns, last - 2, 12), last);
    EXPECT_EQ(ref::step_row(insns, last, 1), last);
    EXPECT_EQ(ref::step_row(insns, 1, -1), 1);
    EXPECT_EQ(ref::step_row(insns, 2, -1), 1);
    EXPECT_EQ(ref::step_row({}, 0, 1), -1);

    // Many results: the best 400, each kind run under its heading.
    ASSERT_GT(ref::search("e", -1).size(), size_t(ref::kMaxResults));
    auto many = ref::rows("e", 0);
    int listed = 0;
    for (size_t i = 0; i < many.size(); ++i) {
        if (many[i].header) {
            ASSERT_LT(i + 1, many.size());
            EXPECT_FALSE(many[i + 1].header);
            EXPECT_EQ(many[i].text, ref::kind_label(many[i + 1].e.kind));
        } else {
            ++listed;
            if (i > 0 && !many[i - 1].header) {
                EXPECT_EQ(many[i - 1].e.kind, many[i].e.kind);
            }
        }
    }
    EXPECT_EQ(listed, ref::kMaxResults);
    EXPECT_TRUE(ref::rows("zzzzqq", 0).empty());
}

TEST(RefSearch, OpeningAtAWordOrATopic)
{
    struct Case {
        const char* word;
        const char* topic;
        Entry entry;
        const char* query;
    };
    const Case cases[] = {
        { "mov", "", { Kind::Insn, 0 }, "" },        { "", "keys", { Kind::Topic, 10 }, "" },
        { "mov", "keys", { Kind::Topic, 10 }, "" },  { "", "nosuch", {}, "" },
        { "mov", "nosuch", {}, "" },                 { "frobnicate", "", {}, "frobnicate" },
        { "", "", {}, "" },
    };
    for (const Case& c : cases) {
        ref::Opening o = ref::opening(c.word, c.topic);
        EXPECT_EQ(o.entry, c.entry) << c.word << " @" << c.topic;
        EXPECT_EQ(o.query, c.query) << c.word << " @" << c.topic;
    }
}

// ---- pages and examples

TEST(RefPages, InstructionDirectiveAndTopicPages)
{
    using T = ref::Block::Type;
    auto types = [](const std::vector<ref::Block>& b) {
        std::vector<T> out;
        for (const auto& x : b)
            out.push_back(x.type);
        return out;
    };
    auto rep = ref::detail(ref::lookup("rep"), 64);
    ASSERT_GE(rep.size(), 5u);
    std::vector<T> rep_types = types(rep);
    EXPECT_EQ(std::vector<T>(rep_types.end() - 4, rep_types.end()),
              (std::vector<T> { T::Small, T::Pairs, T::Heading, T::Code }));
    EXPECT_EQ(rep[rep.size() - 4].text, tr("ref.prefix"));
    EXPECT_EQ(rep[rep.size() - 3].pairs.at(0).second, "none");
    for (const auto& b : rep)
        EXPECT_NE(b.text, tr("ref.forms64"));

    auto sxd = ref::detail(ref::lookup("movsxd"), 32);
    bool heading = false, missing = false;
    for (const auto& b : sxd) {
        heading |= b.type == T::Heading && b.text == "Valid forms in 32-bit mode";
        missing |= b.type == T::Text && b.text == "Not available in 32-bit mode.";
    }
    EXPECT_TRUE(heading && missing);

    auto mov = ref::detail(ref::lookup("mov"), 64);
    bool forms = false;
    for (const auto& b : mov)
        forms |= b.type == T::Forms && b.text == refdata::kInsns[0].forms64;
    EXPECT_TRUE(forms);

    auto dir = ref::detail(ref::lookup("times"), 64);
    EXPECT_EQ(last_of(dir).type, T::Code);
    EXPECT_EQ(last_of(dir).text, "zeros times 16 db 0\ntimes 510-($-$$) db 0");

    // Topic markup: headings, paragraphs and code blocks.
    auto intro = ref::detail(ref::topic("intro"), 64);
    EXPECT_EQ(intro[0].type, T::Text);
    bool code_start = false, head = false;
    for (const auto& b : intro) {
        code_start |= b.type == T::Code && b.text.rfind("global _start\nsection .text\n_start:\n    mov rax, 60", 0) == 0;
        head |= b.type == T::Heading && b.text == "The smallest program";
    }
    EXPECT_TRUE(code_start && head);

    // The keyboard topic: one line of text, the rest as one block.
    auto keys = ref::detail(ref::topic("keys"), 64);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(types(keys), (std::vector<T> { T::Text, T::Code }));
    EXPECT_NE(keys[1].text.find("F7"), std::string::npos);
}

// The flags line says which flags an instruction sets and which it leaves
// undefined, so nobody relies on those; the 32-bit page has no syscall.
TEST(RefPages, FlagsLineNamesUndefinedFlags)
{
    const std::pair<const char*, const char*> rows[] = {
        { "div", "undefined: OF SF ZF AF PF CF" },
        { "idiv", "undefined: OF SF ZF AF PF CF" },
        { "mul", "OF CF; undefined: SF ZF AF PF" },
        { "and", "OF SF ZF PF CF; undefined: AF" },
        { "test", "OF SF ZF PF CF; undefined: AF" },
        { "shr", "OF SF ZF PF CF; undefined: AF; OF only for a count of 1" },
        { "rol", "OF CF; OF only for a count of 1" },
        { "bt", "CF; undefined: OF SF AF PF" },
        { "bsf", "ZF; undefined: OF SF AF PF CF" },
        { "lzcnt", "ZF CF; undefined: OF SF AF PF" },
        { "popf", "popf: CF PF AF ZF SF TF DF OF AC ID" },
        { "lahf", "sahf: SF ZF AF PF CF" },
        { "ucomisd", "ZF PF CF OF SF AF" },
        { "cld", "DF" },
        { "jmp", "none" },
    };
    for (const auto& [name, flags] : rows) {
        std::string got;
        for (const auto& b : ref::detail(ref::lookup(name), 64))
            if (b.type == ref::Block::Type::Pairs && !b.pairs.empty() && b.pairs[0].first == tr("ref.flags"))
                got = b.pairs[0].second;
        EXPECT_EQ(got, flags) << name;
    }
    bool no_syscall32 = false;
    for (const auto& b : ref::detail(ref::lookup("syscall"), 32))
        no_syscall32 |= b.type == ref::Block::Type::Text && b.text == tr("ref.no_forms32");
    EXPECT_TRUE(no_syscall32);
}

// i386 calls the kernel still serves under their old layouts, and the
// 16-bit-ID calls, say so; the rest of the obsolete ones answer -ENOSYS.
TEST(RefPages, OldSystemCallsSayWhatTheyDo)
{
    const std::pair<const char*, const char*> rows[] = {
        { "oldstat", "An old form of stat with an older structure layout." },
        { "oldfstat", "An old form of fstat with an older structure layout." },
        { "oldolduname", "An old form of uname with an older structure layout." },
        { "oldlstat", "An old form of lstat with an older structure layout." },
        { "readdir", "An old form of getdents64 with an older structure layout." },
        { "break", "Not implemented in today's kernels (an old call that only keeps its number)." },
    };
    for (const auto& [name, summary] : rows)
        EXPECT_EQ(ref::summary(ref::lookup(name)), summary) << name;
    const struct {
        const char* call;
        const char* full;
        int nr;
    } id16[] = { { "getuid", "getuid32", 199 }, { "geteuid", "geteuid32", 201 }, { "getgid", "getgid32", 200 } };
    for (const auto& c : id16) {
        ref::SyscallInfo info;
        ASSERT_TRUE(ref::syscall_by_name(c.full, false, &info)) << c.full;
        EXPECT_EQ(info.nr, c.nr) << c.full;
        std::string named = std::string(c.full) + " (" + std::to_string(c.nr) + ")";
        EXPECT_NE(ref::impl::sys_desc(refdata::kSyscalls[ref::lookup(c.call).index]).find(named), std::string::npos)
            << c.call;
    }
}

TEST(RefPages, SystemCallAndErrorPages)
{
    using T = ref::Block::Type;
    auto accept = ref::detail(sys("accept"), 32);
    std::vector<std::string> headings;
    for (const auto& b : accept)
        if (b.type == T::Heading)
            headings.push_back(b.text);
    ASSERT_GE(headings.size(), 2u);
    EXPECT_EQ(headings[0], "32-bit mode: instruction int 0x80");
    EXPECT_EQ(headings[1], "64-bit mode: instruction syscall");
    bool not32 = false;
    for (size_t i = 0; i + 1 < accept.size(); ++i)
        not32 |= accept[i].text == headings[0] && accept[i + 1].text == "Does not exist in 32-bit mode.";
    EXPECT_TRUE(not32);
    EXPECT_EQ(ref::example(sys("accept"), 32), "");

    auto exit64 = ref::detail(sys("exit"), 64);
    const ref::Block* table = nullptr;
    for (const auto& b : exit64)
        if (b.type == T::Pairs && !table)
            table = &b;
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->pairs.size(), 3u);
    EXPECT_EQ(table->pairs[0], (std::pair<std::string, std::string> { "rax", "60   (0x3C)" }));
    EXPECT_EQ(table->pairs[1], (std::pair<std::string, std::string> { "rdi", "int code" }));
    EXPECT_EQ(table->pairs[2].first, "Result");

    std::string ex32 = ref::example(sys("exit"), 32);
    EXPECT_EQ(ex32, "    mov eax, 1              ; exit\n    mov ebx, 0              ; int code\n    int 0x80\n");
    auto exit32 = ref::detail(sys("exit"), 32);
    EXPECT_EQ(last_of(exit32).type, T::Code);
    EXPECT_EQ(last_of(exit32).text + "\n", ex32);

    EXPECT_EQ(ref::example(sys("write"), 64),
              "    mov rax, 1              ; write\n"
              "    mov rdi, 0              ; unsigned int fd\n"
              "    lea rsi, [rel buf]      ; const char * buf\n"
              "    mov rdx, 0              ; size_t count\n"
              "    syscall\n");
    auto sync = ref::detail(sys("sync"), 64);
    bool unknown = false;
    for (const auto& b : sync)
        for (const auto& p : b.pairs)
            unknown |= p.first == "\xe2\x80\xa6" && p.second == "arguments not documented";
    EXPECT_TRUE(unknown);
    EXPECT_EQ(ref::example(sys("sync"), 64), "    mov rax, 162            ; sync\n    syscall\n");

    auto eagain = ref::detail(ref::lookup("EAGAIN"), 64);
    ASSERT_EQ(eagain.size(), 3u);
    EXPECT_EQ(eagain[0].text, ref::errno_text(11));
    EXPECT_EQ(last_of(eagain[1].pairs), (std::pair<std::string, std::string> { "Same code as", "EWOULDBLOCK" }));
    EXPECT_EQ(eagain[2].type, T::Small);
    auto eperm = ref::detail(ref::lookup("EPERM"), 64);
    EXPECT_EQ(eperm[1].pairs.size(), 2u);
    auto enoent = ref::detail(ref::lookup("ENOENT"), 64);
    EXPECT_EQ(enoent[1].pairs[1].second, "-2   (0xFFFFFFFFFFFFFFFE)");
    EXPECT_EQ(ref::example(ref::lookup("ENOENT"), 64), "");
    EXPECT_EQ(ref::example(ref::topic("intro"), 64), "");
}

// ---- hover help

TEST(RefHover, InstructionTooltips)
{
    std::vector<std::string> mov = lines_of(ref::tooltip("mov", 64));
    ASSERT_EQ(mov.size(), 11u);
    EXPECT_EQ(mov[0], "mov  \xe2\x80\x94  " + ref::summary(ref::lookup("mov")));
    EXPECT_EQ(mov[1], "    mov r/m8, imm8");
    EXPECT_EQ(mov[9], "    \xe2\x80\xa6 +5");
    EXPECT_EQ(mov[10], "F1: more about it");
    std::vector<std::string> shl = lines_of(ref::tooltip("shl", 64));
    EXPECT_EQ(shl.size(), 10u);
    for (const auto& l : lines_of(ref::tooltip("cmovz", 64)))
        EXPECT_EQ(l.find("cmove "), std::string::npos) << l;
    EXPECT_NE(ref::tooltip("cmovz", 64).find("    cmovz r16, r/m16"), std::string::npos);
    EXPECT_NE(ref::tooltip("section", 64).find("section, segment  \xe2\x80\x94  "), std::string::npos);
    EXPECT_EQ(ref::tooltip("write", 64), "");
    EXPECT_EQ(ref::tooltip("EPERM", 64), "");
}

TEST(RefHover, SyscallNumberBeforeALine)
{
    struct Case {
        std::vector<std::string> lines;
        int at, want;
        bool is64;
    };
    const Case cases[] = {
        { { "mov eax, 1", "xor ebx, ebx", "int 0x80" }, 2, 1, false },
        { { "mov rax, 60", "syscall", "syscall" }, 2, -1, true },
        { { "  start:  MOV RAX , 0x3C ; exit", "xor edi, edi", "syscall" }, 2, 60, true },
        { { "mov rax, SYS_EXIT", "syscall" }, 1, -1, true },
        { { "mov rax, 60" }, 0, -1, true },
    };
    for (const Case& c : cases) {
        bool is64 = !c.is64;
        EXPECT_EQ(ref::syscall_nr_before(reader(c.lines), c.at, &is64), c.want) << c.lines[0];
        if (c.want >= 0) {
            EXPECT_EQ(is64, c.is64);
        }
    }
    std::vector<std::string> far = { "mov rax, 1" };
    for (int i = 0; i < 41; ++i)
        far.push_back("nop");
    EXPECT_EQ(ref::syscall_nr_before(reader(far), 41, nullptr), -1); // 41 lines above
    EXPECT_EQ(ref::syscall_nr_before(reader(far), 40, nullptr), 1);
}

TEST(RefHover, VeryLongLinesAreMatchedOnlyAtTheirStart)
{
    // Without a cap the regular expressions recurse once per character
    // and overflow the stack on lines like these.
    std::string blanks(2000000, ' ');
    std::vector<std::string> lines = { blanks + "mov rax, 1", "x:" + std::string(1000000, 'a'), "syscall" };
    EXPECT_EQ(ref::syscall_nr_before(reader(lines), 2, nullptr), -1);
    EXPECT_EQ(ref::bits_of_source(reader(lines), 3), 64);
    std::vector<std::string> bits = { std::string(300, ' ') + "[BITS 32]" };
    EXPECT_EQ(ref::bits_of_source(reader(bits), 1), 32);
}

TEST(RefHover, BitsOfTheSource)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        { { "bits 32" }, 32 }, { { "  [ BITS 16 ]" }, 32 }, { { "bits 64" }, 64 }, { { "bits 320" }, 64 },
        { { "; bits 32" }, 64 }, { {}, 64 },
    };
    for (const auto& [lines, want] : cases)
        EXPECT_EQ(ref::bits_of_source(reader(lines), int(lines.size())), want);
    std::vector<std::string> late(301, "nop");
    late[300] = "bits 32";
    EXPECT_EQ(ref::bits_of_source(reader(late), 301), 64);
    late[299] = "bits 32";
    EXPECT_EQ(ref::bits_of_source(reader(late), 301), 32);
}

TEST(RefHover, EditorHoverFindsTheCallByItsNumber)
{
    // Call 34 is pause, whose name is also an instruction.
    std::vector<std::string> src = { "mov rax, 34", "syscall" };
    std::string tip = ref::editor_hover("syscall", reader(src), 2, 1, 64);
    std::vector<std::string> l = lines_of(tip);
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[0], "pause()");
    EXPECT_EQ(l[1], ref::summary(sys("pause")));
    EXPECT_NE(l[1], ref::summary(ref::lookup("pause")));
    EXPECT_EQ(l[2], "");
    EXPECT_EQ(tip.substr(tip.find("\n\n") + 2), ref::tooltip("syscall", 64));

    std::vector<std::string> w = { "mov rax, 1", "syscall" };
    std::string write = ref::editor_hover("syscall", reader(w), 2, 1, 64);
    EXPECT_EQ(first_of(lines_of(write)), "write(fd = rdi, buf = rsi, count = rdx)");
    EXPECT_EQ(lines_of(write)[1], ref::summary(sys("write")));

    std::vector<std::string> i32 = { "mov eax, 4", "int 0x80" };
    EXPECT_EQ(first_of(lines_of(ref::editor_hover("int", reader(i32), 2, 1, 32))),
              "write(fd = ebx, buf = ecx, count = edx)");
    std::vector<std::string> dos = { "mov ah, 9", "mov eax, 4", "int 21h" };
    EXPECT_EQ(ref::editor_hover("int", reader(dos), 3, 2, 32), ref::tooltip("int", 32));
    std::vector<std::string> none = { "syscall" };
    EXPECT_EQ(ref::editor_hover("syscall", reader(none), 1, 0, 64), ref::tooltip("syscall", 64));
    EXPECT_EQ(ref::editor_hover("count", reader(none), 1, 0, 64), "");
}

TEST(RefHover, WordUnderThePointer)
{
    const std::tuple<const char*, int, const char*> cases[] = {
        { "    mov rax, 60", 5, "mov" },  { "    mov rax, 60", 4, "mov" },   { "    mov rax, 60", 7, "mov" },
        { "section .text", 10, ".text" }, { "%define X 1", 3, "%define" },   { "a: jmp .again", 9, ".again" },
        { "    ", 2, "" },                { "x", 5, "" },                    { "mov eax, 5%3", 11, "%3" },
        { "mov eax, 5%3", 9, "5" },
    };
    for (const auto& [line, col, want] : cases)
        EXPECT_EQ(ref::word_at(line, col), want) << line << " @" << col;
}

TEST(RefHover, MonospaceSafeTexts)
{
    const std::pair<const char*, bool> cases[] = {
        { "mov rax, 60", true }, { "\xc3\xa9t\xc3\xa9", true }, { "\xd5\x80", true },        // U+0540
        { "\xe2\x80\x94 \xe2\xaf\xbf", true }, { "\xd6\x90", false },                      // U+0590
        { "\xe4\xb8\x80", false }, { "\xe3\x80\x82", false }, { "\x80\x80" "abc", true },
        { "\xf0\x9f\x98\x80", false }, { "", true },
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(ref::mono_safe(text), want) << text;
}

// ---- inserting examples

TEST(RefInsert, ExampleTextIsIndentedLikeCode)
{
    EXPECT_EQ(ref::insert_text(ref::lookup("loop"), 64),
              "    mov rcx, 10\nagain:\n    ; ...\n    loop again");
    EXPECT_EQ(ref::insert_text(ref::lookup("call"), 64), "    call print\n    ; ...\nprint:\n    ; ...\n    ret");
    EXPECT_EQ(ref::insert_text(ref::lookup("section"), 64), refdata::kDirectives[0].example);
    EXPECT_EQ(ref::insert_text(sys("exit"), 64),
              "    mov rax, 60             ; exit\n    mov rdi, 0              ; int code\n    syscall");
    EXPECT_EQ(ref::insert_text(ref::lookup("EPERM"), 64), "");
}

TEST(RefInsert, WhereTheTextGoes)
{
    const std::string text = "    nop\n    ret";
    // A blank line: its blanks are replaced, so the indentation is not doubled.
    ref::Insertion blank = ref::insertion(text, "        ", 3, nullptr, nullptr);
    EXPECT_EQ(blank.from.line, 3);
    EXPECT_EQ(blank.from.col, 0);
    EXPECT_EQ(blank.to.col, 8);
    EXPECT_EQ(blank.text, text);
    EXPECT_EQ(blank.caret.line, 4);
    EXPECT_EQ(blank.caret.col, 7);
    ref::Insertion empty = ref::insertion(text, "", 0, nullptr, nullptr);
    EXPECT_EQ(empty.to.col, 0);
    EXPECT_EQ(empty.text, text);
    // A line with code: a new line below it.
    ref::Insertion code = ref::insertion(text, "    xor eax, eax", 2, nullptr, nullptr);
    EXPECT_EQ(code.from.col, 16);
    EXPECT_EQ(code.to.col, 16);
    EXPECT_EQ(code.text, "\n" + text);
    EXPECT_EQ(code.caret.line, 4);
    // A selection is replaced.
    ref::Pos a { 1, 2 }, b { 3, 1 };
    ref::Insertion sel = ref::insertion(text, "xx", 3, &a, &b);
    EXPECT_EQ(sel.from.line, 1);
    EXPECT_EQ(sel.to.line, 3);
    EXPECT_EQ(sel.text, text);
    EXPECT_EQ(sel.caret.line, 2);
    // A caret without a selection counts as none.
    ref::Insertion same = ref::insertion(text, "  ", 5, &a, &a);
    EXPECT_EQ(same.from.line, 5);
    EXPECT_EQ(same.to.col, 2);
}
