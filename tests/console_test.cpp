// The debug console against two targets: a model over a byte buffer (with
// registers and symbols), driven by the transcripts in tests/cases/console/,
// and a real program stopped under the debugger engine.
//
// A transcript case is tests/cases/console/<name>.in: every line is entered
// into the console as it stands (an empty line too), except lines that begin
// with "%", which set up the model (see Model::directive) and "%%" comments.
// The expected transcript is <name>.out: each console line as its kind, a
// blank and its text; a line with spans is followed by "~ " and one character
// per byte of the text (the span's style number, "." outside every span);
// what the console asked of its host appears as "@ " lines, in order.
// Run with QX_UPDATE_GOLDEN=1 to rewrite the .out files after a deliberate change.
#include "console.h"
#include "debugger_linux.h"
#include "l10n.h"
#include "needs.h"
#include "testutil.h"
#include "toolchain.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace testutil;

namespace {

std::string hex(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

uint64_t parse_hex(const std::string& s) { return std::stoull(s, nullptr, 16); }

std::vector<std::string> words_of(const std::string& s)
{
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// ---- the model target ------------------------------------------------------------

// A binary or a stopped program made of a byte buffer at a base address,
// named registers and sized symbols. What the console asks of it beyond
// reading is reported through `note`.
class Model : public Console::Host {
public:
    std::function<void(const std::string&)> note = [](const std::string&) {};

    bool has_target() override { return m_target; }
    bool live() override { return m_live; }
    int bits() override { return m_bits; }

    size_t read(uint64_t addr, uint8_t* out, size_t n) override
    {
        size_t i = 0;
        for (; i < n && readable(addr + i); ++i)
            out[i] = m_mem[addr + i - m_base];
        return i;
    }

    bool write(uint64_t addr, const uint8_t* in, size_t n) override
    {
        note("write " + hex(addr) + " " + hex(n));
        for (size_t i = 0; i < n; ++i)
            if (!readable(addr + i))
                return false;
        std::copy(in, in + n, m_mem.begin() + (addr - m_base));
        return true;
    }

    bool reg(const std::string& name, uint64_t* out) override
    {
        auto it = m_regs.find(name);
        if (!m_live || it == m_regs.end())
            return false;
        *out = it->second;
        return true;
    }

    bool set_reg(const std::string& name, uint64_t value) override
    {
        note("set_reg " + name + " " + hex(value));
        if (!m_live || !m_regs.count(name))
            return false;
        m_regs[name] = value;
        return true;
    }

    std::vector<std::string> reg_names() override { return m_names; }

    bool symbol(const std::string& name, uint64_t* out) override
    {
        for (const auto& s : m_syms)
            if (s.name == name) {
                *out = s.addr;
                return true;
            }
        return false;
    }

    std::string symbol_at(uint64_t addr) override
    {
        for (const auto& s : m_syms) {
            if (addr == s.addr)
                return s.name;
            if (addr > s.addr && addr - s.addr < s.size)
                return s.name + "+" + hex(addr - s.addr);
        }
        return {};
    }

    uint64_t here() override
    {
        if (!m_live)
            return m_here;
        auto it = m_regs.find(m_bits == 32 ? "eip" : m_bits == 16 ? "ip" : "rip");
        return it == m_regs.end() ? 0 : it->second;
    }

    bool go(bool to, uint64_t addr) override
    {
        note(to ? "go to " + hex(addr) : std::string("go"));
        return true;
    }
    bool trace(int n) override
    {
        note("trace " + std::to_string(n));
        return true;
    }
    bool proceed(int n) override
    {
        note("proceed " + std::to_string(n));
        return true;
    }
    bool toggle_bp(uint64_t addr, bool on) override
    {
        note(std::string(on ? "bp on " : "bp off ") + hex(addr));
        if (on)
            m_bps.insert(addr);
        else
            m_bps.erase(addr);
        return true;
    }
    std::vector<uint64_t> bps() override { return { m_bps.begin(), m_bps.end() }; }
    void clear_bps() override
    {
        note("clear_bps");
        m_bps.clear();
    }
    bool write_file(const std::string& path, std::string* msg) override
    {
        note("write_file [" + path + "]");
        *msg = m_write_fails ? "Cannot write " + path : L10n::tr("con.written", path.empty() ? "image.bin" : path);
        return !m_write_fails;
    }
    void stop() override { note("stop"); }
    void changed() override { note("changed"); }

    // One set-up line of a transcript, without its "%"; false when unknown.
    bool directive(const std::string& line)
    {
        std::vector<std::string> w = words_of(line);
        if (w.empty())
            return false;
        const std::string& d = w[0];
        auto n = [&](size_t i) { return i < w.size() ? parse_hex(w[i]) : 0; };
        if (d == "image") { // base size
            m_base = n(1);
            m_mem.assign(n(2), 0);
        } else if (d == "mem") { // address byte...
            for (size_t i = 2; i < w.size(); ++i)
                m_mem.at(n(1) - m_base + i - 2) = static_cast<uint8_t>(n(i));
        } else if (d == "ascii") { // address text (the rest of the line)
            std::string text = line.substr(line.find(w[1]) + w[1].size() + 1);
            std::copy(text.begin(), text.end(), m_mem.begin() + (n(1) - m_base));
        } else if (d == "hole") { // address length: unreadable and unwritable
            m_holes.emplace_back(n(1), n(2));
        } else if (d == "bits") {
            m_bits = std::stoi(w.at(1));
        } else if (d == "regs64" || d == "regs32") {
            m_names = d == "regs64" ? std::vector<std::string> { "rax", "rbx", "rcx", "rdx", "rsi", "rdi", "rbp",
                                                                 "rsp", "r8", "r9", "r10", "r11", "r12", "r13",
                                                                 "r14", "r15", "rip", "eflags", "cs", "ss", "ds",
                                                                 "es", "fs", "gs", "fs_base", "gs_base" }
                                    : std::vector<std::string> { "eax", "ebx", "ecx", "edx", "esi", "edi",
                                                                 "ebp", "esp", "eip", "eflags", "cs", "ss",
                                                                 "ds", "es", "fs", "gs" };
            m_regs.clear();
            for (const auto& r : m_names)
                m_regs[r] = 0;
        } else if (d == "reg") { // name value
            if (!m_regs.count(w.at(1)))
                m_names.push_back(w.at(1));
            m_regs[w.at(1)] = n(2);
        } else if (d == "sym") { // name address size
            m_syms.push_back({ w.at(1), n(2), n(3) });
        } else if (d == "live") {
            m_live = w.at(1) == "1";
        } else if (d == "target") {
            m_target = w.at(1) == "1";
        } else if (d == "here") {
            m_here = n(1);
        } else if (d == "writefail") {
            m_write_fails = true;
        } else {
            return false;
        }
        return true;
    }

    // The model's own bytes, not through the console.
    std::string peek(uint64_t addr, size_t n)
    {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += readable(addr + i) ? " " + hex(0x100 | m_mem[addr + i - m_base]).substr(1) : " ??";
        return out;
    }

    uint64_t reg_value(const std::string& name) { return m_regs[name]; }

private:
    struct Sym {
        std::string name;
        uint64_t addr;
        uint64_t size;
    };

    bool readable(uint64_t a) const
    {
        if (a < m_base || a - m_base >= m_mem.size())
            return false;
        for (const auto& [start, len] : m_holes)
            if (a >= start && a - start < len)
                return false;
        return true;
    }

    bool m_target = true;
    bool m_live = false;
    bool m_write_fails = false;
    int m_bits = 64;
    uint64_t m_base = 0;
    uint64_t m_here = 0;
    std::vector<uint8_t> m_mem;
    std::vector<std::pair<uint64_t, uint64_t>> m_holes;
    std::vector<std::string> m_names;
    std::map<std::string, uint64_t> m_regs;
    std::vector<Sym> m_syms;
    std::set<uint64_t> m_bps;
};

std::string render(const Console::Line& line)
{
    std::string out = std::to_string(line.kind) + " " + line.text + "\n";
    if (!line.spans.empty()) {
        std::string map(line.text.size(), '.');
        for (const auto& s : line.spans)
            for (int32_t i = s.a; i < s.b && i < static_cast<int32_t>(map.size()); ++i)
                map[i] = static_cast<char>('0' + s.style);
        out += "~ " + map + "\n";
    }
    return out;
}

// ---- a second process assembling at the same time ----------------------------------

// The bytes of "mov eax, v" as Model::peek shows them.
std::string mov_eax_bytes(uint32_t v)
{
    std::string out = " B8";
    for (int b = 0; b < 4; ++b)
        out += " " + hex(0x100 | ((v >> (8 * b)) & 0xFF)).substr(1);
    return out;
}

// The child's part of DoesNotCollideWithAnotherProcess: prints its work
// directory, assembles lines through a console in it and checks the bytes.
int child_assembles(int seed)
{
    printf("work: %s\n", tc::temp_dir().c_str());
    Model model;
    model.directive("image 1000 1000");
    Console con(&model);
    con.exec("a 1000");
    std::string want;
    for (int i = 0; i < 150; ++i) {
        uint32_t v = static_cast<uint32_t>(seed) << 16 | static_cast<uint32_t>(i);
        con.exec("mov eax, 0x" + hex(v));
        want += mov_eax_bytes(v);
    }
    std::string got = model.peek(0x1000, want.size() / 3);
    for (const auto& line : con.lines())
        if (line.kind == Console::kError)
            printf("%s\n", line.text.c_str());
    printf("%s\n", got == want ? "same" : "different");
    fflush(stdout);
    return got == want ? 0 : 1;
}

struct English : testing::Environment {
    void SetUp() override
    {
        L10n::setLanguage("en");
        // Started as the child of a test: do the child's work and end.
        const char* seed = getenv("QX_CONSOLE_CHILD");
        const char* dir = getenv("QX_CONSOLE_WORK");
        if (seed && dir) {
            setenv("XDG_RUNTIME_DIR", dir, 1);
            _exit(child_assembles(atoi(seed)));
        }
    }
};
const auto* const g_env = testing::AddGlobalTestEnvironment(new English);

// ---- transcripts -----------------------------------------------------------------

// Runs one transcript against a fresh model and console.
std::string run_transcript(const std::string& input)
{
    Model model;
    Console con(&model);
    std::string out;
    size_t shown = 0;
    auto flush = [&] {
        for (; shown < con.lines().size(); ++shown)
            out += render(con.lines()[shown]);
    };
    model.note = [&](const std::string& what) {
        flush();
        out += "@ " + what + "\n";
    };
    std::istringstream lines(input);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("%%", 0) == 0)
            continue;
        if (line.rfind("%", 0) != 0) {
            con.exec(line);
            flush();
            continue;
        }
        std::string d = line.substr(1);
        std::vector<std::string> w = words_of(d);
        if (d == "show")
            con.show_state();
        else if (d == "reset_positions")
            con.reset_positions();
        else if (d == "reset_state")
            con.reset_state();
        else if (d == "prompt")
            out += "@ prompt [" + con.prompt() + "]\n";
        else if (!w.empty() && w[0] == "peek")
            out += "@ mem " + w.at(1) + ":" + model.peek(parse_hex(w.at(1)), parse_hex(w.at(2))) + "\n";
        else if (!model.directive(d))
            ADD_FAILURE() << "unknown set-up line: " << line;
        flush();
    }
    return out;
}

struct Case {
    std::string name;
    fs::path in;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> transcript_cases()
{
    std::vector<Case> cases;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(tests_dir()) / "cases" / "console", ec))
        if (e.path().extension() == ".in")
            cases.push_back({ e.path().stem().string(), e.path() });
    std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

class Transcript : public testing::TestWithParam<Case> { };

TEST_P(Transcript, MatchesExpectedOutput)
{
    const Case& c = GetParam();
    std::string out = run_transcript(read_file(c.in.string()));
    fs::path expected = c.in;
    expected.replace_extension(".out");
    if (getenv("QX_UPDATE_GOLDEN")) {
        write_file(expected.string(), out);
        GTEST_SKIP() << "rewrote " << expected;
    }
    ASSERT_TRUE(file_exists(expected.string())) << "missing " << expected;
    EXPECT_EQ(read_file(expected.string()), out);
}

INSTANTIATE_TEST_SUITE_P(Console, Transcript, testing::ValuesIn(transcript_cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// ---- output ----------------------------------------------------------------------

TEST(ConsoleOutput, PrintCutsAtNewlinesAndCountsCalls)
{
    Model model;
    Console con(&model);
    EXPECT_EQ(con.generation(), 0);
    con.print("a\nb\n", Console::kOutput);
    ASSERT_EQ(con.lines().size(), 3u);
    EXPECT_EQ(first_of(con.lines()).text, "a");
    EXPECT_EQ(con.lines()[1].text, "b");
    EXPECT_EQ(con.lines()[2].text, "");
    EXPECT_EQ(con.generation(), 1);
    con.print("", Console::kError);
    ASSERT_EQ(con.lines().size(), 4u);
    EXPECT_EQ(con.lines()[3].kind, Console::kError);
    EXPECT_EQ(con.generation(), 2);
}

TEST(ConsoleOutput, KeepsTheNewest5000Lines)
{
    Model model;
    Console con(&model);
    for (int i = 0; i < 5001; ++i)
        con.print("line " + std::to_string(i), Console::kOutput);
    ASSERT_EQ(con.lines().size(), 5000u);
    EXPECT_EQ(first_of(con.lines()).text, "line 1");
    EXPECT_EQ(last_of(con.lines()).text, "line 5000");
    EXPECT_EQ(con.generation(), 5001);
}

// ---- the evaluator -----------------------------------------------------------------

TEST(ConsoleEval, Expressions)
{
    struct Row {
        const char* expr;
        bool live;
        bool ok;
        uint64_t value;
    };
    const Row rows[] = {
        { "", false, false, 0 },
        { "   ", false, false, 0 },
        { "-5", false, false, 0 },
        { "5+", false, false, 0 },
        { "1++2", false, false, 0 },
        { "#", false, false, 0 },
        { "#1a", false, false, 0 },
        { "#10+10", false, true, 0x1A },
        { "#18446744073709551616", false, true, UINT64_MAX },
        { "0x10 - 1", false, true, 0xF },
        { "0X1f", false, true, 0x1F },
        { "0x1ffffffffffffffff", false, true, UINT64_MAX },
        { "10h", false, true, 0x10 },
        { "ah", false, true, 0xA },
        { "AH", true, true, 0xA },
        { "1ffffffffffffffffh", false, true, UINT64_MAX },
        { "10-20", false, true, 0xFFFFFFFFFFFFFFF0 },
        { " ff ", false, true, 0xFF },
        { "ffffffffffffffff", false, true, UINT64_MAX },
        // Seventeen digits are no number without a prefix...
        { "1ffffffffffffffff", false, false, 0 },
        // ...unless a symbol has that name.
        { "12345678901234567", false, true, 0x7777 },
        { "$", false, true, 0x400080 },
        { "$+4", false, true, 0x400084 },
        { "$", true, true, 0x401000 },
        { "_start", false, true, 0x401000 },
        { "_START", false, false, 0 },
        { "main+10", false, true, 0x401030 },
        { "Main", false, true, 0x402000 },
        { "main - 20", false, true, 0x401000 },
        // A register wins over a symbol only while the program is stopped.
        { "RAX", true, true, 0x1234 },
        { "rax+1", true, true, 0x1235 },
        { "RAX", false, true, 0x405555 },
        { "rax", false, false, 0 },
        // A hexadecimal symbol name is read as the number.
        { "cafe", false, true, 0xCAFE },
        { "nosuch", false, false, 0 },
    };
    for (const Row& r : rows) {
        Model model;
        for (const char* d : { "image 400000 2000", "here 400080", "regs64", "reg rax 1234", "reg rip 401000",
                               "sym _start 401000 20", "sym main 401020 10", "sym Main 402000 10",
                               "sym RAX 405555 0", "sym 12345678901234567 7777 0", "sym cafe 9999 0" })
            ASSERT_TRUE(model.directive(d)) << d;
        model.directive(r.live ? "live 1" : "live 0");
        Console con(&model);
        uint64_t v = 0;
        std::string err;
        bool ok = con.eval(r.expr, &v, &err);
        EXPECT_EQ(ok, r.ok) << "[" << r.expr << "] live " << r.live;
        if (ok) {
            EXPECT_EQ(v, r.value) << "[" << r.expr << "]";
            EXPECT_TRUE(err.empty());
        } else {
            EXPECT_EQ(err, "con.err.value") << "[" << r.expr << "]";
        }
    }
}

// ---- commands beyond the transcripts ---------------------------------------------------

TEST(ConsoleSearch, StopsAfter1000Hits)
{
    Model model;
    model.directive("image 0 2000");
    Console con(&model);
    con.exec("s 0 l 2000 0");
    ASSERT_EQ(con.lines().size(), 1001u); // the echo and 1000 addresses
    EXPECT_EQ(con.lines()[1].text, "00000000");
    EXPECT_EQ(last_of(con.lines()).text, "000003E7");
    for (const auto& line : con.lines())
        EXPECT_NE(line.text, "Not found.");
}

TEST(ConsoleAssemble, MissingAssemblerGivesAdvice)
{
    Model model;
    model.directive("image 100 10");
    Console con(&model);
    tc::set_tool_path("nasm", "/nonexistent/nasm");
    con.exec("a 100");
    con.exec("nop");
    tc::set_tool_path("nasm", "");
    ASSERT_EQ(con.lines().size(), 3u);
    EXPECT_EQ(con.lines()[2].text, "^ " + needs::explain_line({ "nasm" }));
    EXPECT_EQ(con.lines()[2].kind, Console::kError);
    EXPECT_EQ(con.prompt(), "00000100 "); // still assembling at the same address
    EXPECT_EQ(model.peek(0x100, 1), " 00");
}

// Assembling in the console while a build runs on another thread: each
// uses its own files in the work directory, so both get their own results.
TEST(ConsoleAssemble, DoesNotCollideWithABuild)
{
    TempDir dir;
    const std::string source = dir.file("prog.asm");
    ASSERT_TRUE(write_file(source, "bits 64\nsection .text\nglobal _start\n_start:\n"
                                   "    mov eax, 60\n    xor edi, edi\n    syscall\n"));
    std::atomic<bool> done { false };
    std::atomic<int> builds { 0 }, failed { 0 };
    std::thread builder([&] {
        while (!done) {
            tc::BuildResult r = tc::build(source, tc::Format::Elf64, dir.file("prog"), {});
            failed += r.ok ? 0 : 1;
            ++builds;
        }
    });
    Model model;
    model.directive("image 1000 1000");
    Console con(&model);
    con.exec("a 1000");
    std::string want;
    // At least three builds overlap; the image holds 800 instructions.
    for (uint32_t i = 0; (i < 40 || builds < 3) && i < 800; ++i) {
        con.exec("mov eax, " + std::to_string(i));
        want += mov_eax_bytes(i);
    }
    done = true;
    builder.join();
    EXPECT_EQ(failed, 0);
    EXPECT_GE(builds, 3);
    EXPECT_EQ(model.peek(0x1000, want.size() / 3), want);
    for (const auto& line : con.lines())
        EXPECT_NE(line.kind, Console::kError) << line.text;
}

// Two processes of the program started with the same runtime directory
// assemble at the same time; neither may read the other's line.
TEST(ConsoleAssemble, DoesNotCollideWithAnotherProcess)
{
    TempDir shared;
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    RunResult first;
    std::thread other([&] {
        first = run({ self }, { "QX_CONSOLE_CHILD=1", "QX_CONSOLE_WORK=" + shared.path() });
    });
    RunResult second = run({ self }, { "QX_CONSOLE_CHILD=2", "QX_CONSOLE_WORK=" + shared.path() });
    other.join();
    auto work_dir = [](const std::string& out) {
        size_t at = out.find("work: ");
        return at == std::string::npos ? std::string() : out.substr(at + 6, out.find('\n', at) - at - 6);
    };
    const std::string dir1 = work_dir(first.out), dir2 = work_dir(second.out);
    ASSERT_FALSE(dir1.empty()) << first.out << first.err;
    if (dir1 == dir2)
        GTEST_SKIP() << "both processes got the work directory " << dir1
                     << ": the toolchain does not make it per process yet";
    EXPECT_EQ(first.code, 0) << first.out << first.err;
    EXPECT_EQ(second.code, 0) << second.out << second.err;
}

// ---- a real program stopped under the debugger -------------------------------------------

// The console's target as the application gives it: a traced program, with
// the application's part of every resume (waiting for the stop, then the
// register display) done at once.
class LiveHost : public Console::Host {
public:
    dbg::Process proc;
    Console* con = nullptr;
    std::map<std::string, uint64_t> syms;
    std::string exe;
    std::vector<std::string> stops; // the reason of every stop and exit
    int changes = 0;

    bool has_target() override { return proc.alive(); }
    bool live() override { return proc.state() == dbg::State::Stopped; }
    int bits() override { return proc.bits(); }
    size_t read(uint64_t addr, uint8_t* out, size_t n) override { return proc.read(addr, out, n); }
    bool write(uint64_t addr, const uint8_t* in, size_t n) override { return proc.write(addr, in, n); }
    bool reg(const std::string& name, uint64_t* out) override { return proc.reg(name, out); }
    bool set_reg(const std::string& name, uint64_t value) override { return proc.set_reg(name, value); }
    std::vector<std::string> reg_names() override
    {
        std::vector<std::string> out;
        for (const auto& r : proc.reg_list())
            out.push_back(r.name);
        return out;
    }
    bool symbol(const std::string& name, uint64_t* out) override
    {
        auto it = syms.find(name);
        if (it == syms.end())
            return false;
        *out = it->second;
        return true;
    }
    std::string symbol_at(uint64_t addr) override
    {
        std::string best;
        uint64_t at = 0;
        for (const auto& [name, a] : syms)
            if (a <= addr && (best.empty() || a > at)) {
                best = name;
                at = a;
            }
        if (best.empty() || addr - at > 0x40)
            return {};
        return addr == at ? best : best + "+" + hex(addr - at);
    }
    uint64_t here() override { return proc.pc(); }
    bool go(bool to, uint64_t addr) override { return settle(to ? proc.run_to(addr) : proc.cont()); }
    bool trace(int n) override
    {
        for (int i = 0; i < n; ++i)
            if (!settle(proc.step()))
                return false;
        return true;
    }
    bool proceed(int n) override
    {
        for (int i = 0; i < n; ++i)
            if (!settle(proc.step_over()))
                return false;
        return true;
    }
    bool toggle_bp(uint64_t addr, bool on) override
    {
        on ? proc.set_bp(addr) : proc.clear_bp(addr);
        return true;
    }
    std::vector<uint64_t> bps() override { return { proc.bps().begin(), proc.bps().end() }; }
    void clear_bps() override { proc.clear_bps(); }
    bool write_file(const std::string& path, std::string* msg) override
    {
        std::string bytes = read_file(exe);
        if (path.empty() || bytes.empty() || !testutil::write_file(path, bytes)) {
            *msg = "Cannot write " + path;
            return false;
        }
        *msg = L10n::tr("con.written", path);
        return true;
    }
    void stop() override { proc.kill(); }
    void changed() override { ++changes; }

    // Waits for the stop or exit after a resume; a stop shows the state.
    bool settle(bool resumed)
    {
        if (!resumed)
            return false;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            std::vector<dbg::Event> ev;
            proc.poll(&ev);
            for (const auto& e : ev) {
                if (e.kind == dbg::Event::Stopped) {
                    stops.push_back(e.text);
                    con->reset_positions();
                    con->show_state();
                    return true;
                }
                if (e.kind == dbg::Event::Exited) {
                    stops.push_back("exit " + std::to_string(e.code));
                    return false;
                }
            }
            usleep(500);
        }
        stops.push_back("timeout");
        return false;
    }
};

class LiveConsole : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        s_dir = new TempDir;
        s_error = nasm_build(read_file(tests_dir() + "/data/console/live.s"), s_dir->file("live"), "elf64");
        std::istringstream lines(run({ "nm", s_dir->file("live") }).out);
        std::string addr, type, name;
        while (lines >> addr >> type >> name)
            s_syms[name] = std::stoull(addr, nullptr, 16);
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        ASSERT_TRUE(s_error.empty()) << s_error;
        host.con = &con;
        host.syms = s_syms;
        host.exe = s_dir->file("live");
        std::string err;
        ASSERT_TRUE(host.proc.start(host.exe, {}, "", true, &err)) << err;
        ASSERT_TRUE(host.settle(true));
        ASSERT_EQ(last_of(host.stops), "entry");
        // As the application does when a program starts under the debugger.
        con.reset_state();
        con.print("", Console::kOutput);
        mark = con.lines().size();
        con.show_state();
    }

    void TearDown() override
    {
        host.proc.kill();
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    // The lines since the last call.
    std::vector<Console::Line> fresh()
    {
        std::vector<Console::Line> out(con.lines().begin() + mark, con.lines().end());
        mark = con.lines().size();
        return out;
    }

    // The line that begins with `head` among lines, or an empty one.
    static Console::Line find(const std::vector<Console::Line>& lines, const std::string& head)
    {
        for (const auto& l : lines)
            if (l.text.rfind(head, 0) == 0)
                return l;
        return {};
    }

    // The style of every byte of a line: the span's number, "." outside.
    static std::string styles(const Console::Line& line)
    {
        return line.spans.empty() ? std::string(line.text.size(), '.') : render(line).substr(line.text.size() + 5);
    }

    uint64_t reg(const char* name)
    {
        uint64_t v = 0;
        EXPECT_TRUE(host.proc.reg(name, &v)) << name;
        return v;
    }

    static uint64_t sym(const std::string& name) { return s_syms.at(name); }

    LiveHost host;
    Console con { &host };
    size_t mark = 0;

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_error;
    static inline std::map<std::string, uint64_t> s_syms;
};

TEST_F(LiveConsole, StepsProceedsAndMarksChanges)
{
    auto lines = fresh();
    ASSERT_EQ(lines.size(), 7u) << "a 64-bit grid of 5 rows, the flags and the instruction";
    for (const char* head : { "RAX=", "RSI=", "R8 =", "R12=", "RIP=" })
        EXPECT_FALSE(find(lines, head).text.empty()) << head;
    EXPECT_EQ(lines[4].text.find("RIP=0000000000401000"), 0u) << lines[4].text;
    EXPECT_EQ(lines[6].kind, Console::kNotice);
    EXPECT_NE(lines[6].text.find("; _start"), std::string::npos) << lines[6].text;
    for (const auto& l : lines)
        EXPECT_EQ(styles(l).find_first_of("136"), std::string::npos) << "nothing is marked at first: " << l.text;

    con.exec("t"); // mov rax, 5
    lines = fresh();
    EXPECT_EQ(last_of(host.stops), "step");
    EXPECT_EQ(reg("rax"), 5u);
    Console::Line rax = find(lines, "RAX=");
    EXPECT_EQ(rax.text.substr(0, 21), "RAX=0000000000000005 ");
    EXPECT_EQ(styles(rax).substr(0, 21), "333.0000000000000001.");

    con.exec("T"); // mov rbx, 7
    con.exec("p"); // over the call
    lines = fresh();
    EXPECT_EQ(reg("rip"), sym("after_call"));
    EXPECT_EQ(reg("rax"), 0xCu);
    EXPECT_EQ(last_of(lines).kind, Console::kNotice);
    EXPECT_NE(last_of(lines).text.find("; after_call"), std::string::npos) << last_of(lines).text;
    con.exec("r rax");
    EXPECT_EQ(last_of(fresh()).text, "rax = C");

    // A value set with r counts as seen: the next step marks only what the
    // step itself changed.
    con.exec("r rax 10");
    EXPECT_EQ(reg("rax"), 0x10u);
    EXPECT_EQ(host.changes, 1);
    con.exec("t"); // add rax, 1
    rax = find(fresh(), "RAX=");
    EXPECT_EQ(rax.text.substr(0, 21), "RAX=0000000000000011 ");
    EXPECT_EQ(styles(rax).substr(0, 21), "333.0000000000000001.");

    con.exec("t"); // xor eax, eax sets ZF
    lines = fresh();
    Console::Line flags = find(lines, "CF=");
    size_t zf = flags.text.find("ZF=1");
    size_t zr = flags.text.find(" ZR ");
    ASSERT_NE(zf, std::string::npos) << flags.text;
    ASSERT_NE(zr, std::string::npos) << flags.text;
    EXPECT_EQ(styles(flags).substr(zf, 4), "6666");
    EXPECT_EQ(styles(flags).substr(zr + 1, 2), "66");
}

TEST_F(LiveConsole, BreakpointsGoMemoryAndWrite)
{
    con.exec("bp done");
    con.exec("bl");
    std::string done = hex(sym("done"));
    EXPECT_EQ(last_of(fresh()).text, std::string(8 - done.size(), '0') + done + "  done");
    con.exec("g");
    EXPECT_EQ(last_of(host.stops), "breakpoint");
    EXPECT_EQ(reg("rip"), sym("done"));
    EXPECT_NE(last_of(fresh()).text.find("; done"), std::string::npos);

    // Memory of the live program, read and written through the console.
    con.exec("d msg l 3");
    std::string row = last_of(fresh()).text;
    EXPECT_NE(row.find("48 69 0A"), std::string::npos) << row;
    EXPECT_NE(row.find("Hi."), std::string::npos) << row;
    con.exec("e buf \"AB\" 0d 0a");
    uint8_t bytes[4] = {};
    ASSERT_EQ(host.proc.read(sym("buf"), bytes, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "AB\r\n");
    EXPECT_EQ(host.changes, 1);

    // The file name keeps its blanks and its case.
    TempDir out;
    con.exec("w " + out.path() + "/Out File.BIN");
    EXPECT_EQ(last_of(fresh()).text, "Written: " + out.path() + "/Out File.BIN");
    EXPECT_EQ(read_file(out.file("Out File.BIN")), read_file(host.exe));

    // g with a start address runs from there to the breakpoint again.
    con.exec("g =zero");
    EXPECT_EQ(last_of(host.stops), "breakpoint");
    EXPECT_EQ(reg("rip"), sym("done"));
    EXPECT_EQ(reg("rax"), 0u);

    con.exec("bc *");
    con.exec("g");
    EXPECT_EQ(last_of(host.stops), "exit 0");
    fresh();
    con.exec("r");
    EXPECT_EQ(last_of(fresh()).text, "Nothing loaded — build a program or open a binary.");
}

TEST_F(LiveConsole, GoToAnAddressAndQuit)
{
    con.exec("g after_call");
    EXPECT_EQ(reg("rip"), sym("after_call"));
    EXPECT_EQ(reg("rax"), 0xCu);
    fresh();
    con.exec("u");
    auto lines = fresh();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "-u");
    EXPECT_EQ(lines[1].text, "after_call:") << "u starts at the stop";
    con.exec("q");
    EXPECT_FALSE(host.proc.alive());
}

} // namespace
