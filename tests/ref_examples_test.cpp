// Every example the reference shows or inserts is real NASM: all of them
// are assembled in a few batches, and the 64-bit batch is linked.
//
// Examples name labels they do not define (count, msg, target) and some
// define the same ones (again:). Each example therefore gets its own names:
// every symbol it uses is prefixed with the example's number, its own
// section keeps $$ local to it, and the symbols it only uses are defined
// right behind it, near enough for short jumps.
#include "l10n.h"
#include "ref.h"
#include "refdata.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>

using namespace testutil;
using ref::Entry;
using ref::Kind;

namespace {

struct Token {
    size_t pos, len;
    bool ident;   // an identifier; else a "%" word
};

bool ident_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '?' || c == '@'; }
bool ident_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' || c == '#' || c == '@'
        || c == '~' || c == '?';
}

// Identifiers and "%" words of one line, outside strings and the comment.
std::vector<Token> tokens(const std::string& line)
{
    std::vector<Token> out;
    for (size_t i = 0; i < line.size();) {
        char c = line[i];
        if (c == ';')
            break;
        if (c == '"' || c == '\'' || c == '`') {
            size_t end = line.find(c, i + 1);
            i = end == std::string::npos ? line.size() : end + 1;
        } else if (c == '%') {
            size_t j = i + 1;
            while (j < line.size() && (ident_char(line[j]) || line[j] == '%'))
                ++j;
            out.push_back({ i, j - i, false });
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            while (i < line.size() && std::isalnum(static_cast<unsigned char>(line[i])))
                ++i;
        } else if (ident_start(c)) {
            size_t j = i + 1;
            while (j < line.size() && ident_char(line[j]))
                ++j;
            out.push_back({ i, j - i, true });
            i = j;
        } else {
            ++i;
        }
    }
    return out;
}

const std::set<std::string>& known_words()
{
    static const std::set<std::string> words = [] {
        std::set<std::string> w = { "byte", "word", "dword", "qword", "oword", "tword", "rel", "abs", "section",
            "segment", "global", "extern", "bits", "default", "db", "dw", "dd", "dq", "dt", "resb", "resw", "resd",
            "resq", "equ", "times", "align", "alignb", "org", "incbin", "struc", "endstruc", "istruc", "at", "iend" };
        for (const auto& row : refdata::kInsns) {
            std::stringstream names(row.names);
            for (std::string n; std::getline(names, n, ',');)
                w.insert(n);
        }
        const char* regs[][4] = { { "rax", "eax", "ax", "al" }, { "rbx", "ebx", "bx", "bl" },
                                  { "rcx", "ecx", "cx", "cl" }, { "rdx", "edx", "dx", "dl" },
                                  { "rsi", "esi", "si", "sil" }, { "rdi", "edi", "di", "dil" },
                                  { "rbp", "ebp", "bp", "bpl" }, { "rsp", "esp", "sp", "spl" } };
        for (auto& r : regs)
            w.insert(std::begin(r), std::end(r));
        for (const char* h : { "ah", "bh", "ch", "dh" })
            w.insert(h);
        for (int i = 8; i < 16; ++i)
            for (const char* s : { "", "d", "w", "b" })
                w.insert("r" + std::to_string(i) + s);
        for (int i = 0; i < 16; ++i)
            w.insert("xmm" + std::to_string(i));
        return w;
    }();
    return words;
}

struct Batch {
    std::string text;               // the examples, each in its own section
    std::set<std::string> externs;  // names examples declare extern
    std::vector<std::string> where; // what each example is, by its index
};

// Appends one example under its own names.
void add_example(Batch* b, const std::string& code, const std::string& what, bool is64)
{
    const size_t n = b->where.size();
    b->where.push_back(what);
    const std::string prefix = "x" + std::to_string(n) + "_";
    std::vector<std::string> lines;
    std::stringstream in(code);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);

    // Names that belong to the preprocessor stay as they are.
    std::set<std::string> macros;
    std::vector<std::string> cleanup;
    for (const auto& l : lines) {
        auto t = tokens(l);
        if (t.size() >= 2 && !t[0].ident && t[1].ident) {
            std::string dir = l.substr(t[0].pos, t[0].len), name = l.substr(t[1].pos, t[1].len);
            if (dir == "%macro" || dir == "%define" || dir == "%assign" || dir == "%ifdef" || dir == "%ifndef")
                macros.insert(name);
            if (dir == "%macro")
                cleanup.push_back("%unmacro " + name + l.substr(t[1].pos + t[1].len));
            if (dir == "%define" || dir == "%assign")
                cleanup.push_back("%undef " + name);
        }
    }
    static const std::set<std::string> definers = { "db", "dw", "dd", "dq", "dt", "resb", "resw", "resd", "resq",
                                                    "equ", "times", "incbin" };
    std::set<std::string> used, defined;
    std::string out = "section .text.x" + std::to_string(n) + " progbits alloc exec write align=16\nx"
        + std::to_string(n) + ":\n";
    for (const auto& l : lines) {
        auto t = tokens(l);
        std::string line = l;
        for (size_t i = t.size(); i-- > 0;) {
            std::string word = l.substr(t[i].pos, t[i].len);
            if (!t[i].ident || word[0] == '.' || known_words().count(word) || macros.count(word))
                continue;
            used.insert(word);
            size_t after = t[i].pos + t[i].len;
            bool label = i == 0 && after < l.size() && l[after] == ':';
            bool data = i == 0 && t.size() > 1 && definers.count(l.substr(t[1].pos, t[1].len));
            bool struc = i == 1 && l.substr(t[0].pos, t[0].len) == "struc";
            if (label || data || struc)
                defined.insert(word);
            if (i == 1 && l.substr(t[0].pos, t[0].len) == "extern")
                b->externs.insert(prefix + word);
            line.replace(t[i].pos, t[i].len, prefix + word);
        }
        out += line + "\n";
    }
    for (const auto& c : cleanup)
        out += c + "\n";
    out += std::string(is64 ? "bits 64\ndefault abs\n" : "bits 32\n") + "section .text.x" + std::to_string(n) + "\n";
    for (const auto& u : used) {
        std::string base = u.substr(0, u.find('.'));
        if (!defined.count(u) && !defined.count(base) && !b->externs.count(prefix + u))
            out += prefix + u + ": dq 0\n";
    }
    b->text += out;
}

struct Outcome {
    bool ok;
    std::string report;
};

// Assembles a batch; names the examples NASM complains about.
Outcome assemble(const Batch& b, const std::string& format, const TempDir& dir, const std::string& name)
{
    std::string src = dir.file(name + ".asm"), obj = dir.file(name + ".o");
    std::string head = format == "bin" ? "" : std::string(format == "elf64" ? "bits 64\n" : "bits 32\n");
    if (format != "bin")
        head += "global _start\nsection .text\n_start:\n    ud2\n";
    write_file(src, head + b.text);
    RunResult r = run({ "nasm", "-f", format, "-o", obj, src }, {}, dir.path());
    std::string report;
    std::istringstream diag(r.out + r.err);
    for (std::string line; std::getline(diag, line);)
        if (line.find("error") != std::string::npos) {
            // Find the example the failing line belongs to.
            size_t colon = line.find(".asm:");
            int at = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 5);
            std::istringstream text(head + b.text);
            int n = -1, ln = 0;
            for (std::string l; std::getline(text, l) && ++ln < at;)
                if (l.rfind("section .text.x", 0) == 0 && l.find(' ', 9) != std::string::npos)
                    n = std::atoi(l.c_str() + 15);
            report += (n >= 0 && size_t(n) < b.where.size() ? b.where[n] : "?") + ": " + line + "\n";
        }
    return { r.code == 0, report + (r.code == 0 ? "" : r.err) };
}

std::string what(const Entry& e, int bits)
{
    return std::string(e.kind == Kind::Syscall ? "syscall " : e.kind == Kind::Insn ? "insn " : "directive ")
        + ref::title(e) + " (" + std::to_string(bits) + ")";
}

bool flat_only(const std::string& code) { return code.find("org ") != std::string::npos; }

} // namespace

TEST(RefExamples, EveryExampleAssemblesAndThe64BitOnesLink)
{
    TempDir dir;
    // The files the incbin and %include examples name.
    write_file(dir.file("picture.bin"), std::string(16, '\x55'));
    write_file(dir.file("macros.inc"), "; shared macros\n");

    Batch b64, b32;
    std::vector<std::string> flat;
    int count64 = 0, count32 = 0;
    for (Kind k : { Kind::Insn, Kind::Directive, Kind::Syscall })
        for (const Entry& e : ref::list(k)) {
            std::string code64 = ref::example(e, 64), inserted = ref::insert_text(e, 64);
            if (k != Kind::Syscall) {
                ASSERT_FALSE(code64.empty()) << ref::title(e);
            }
            if (!code64.empty()) {
                ++count64;
                if (flat_only(code64))
                    flat.push_back(code64);
                else
                    add_example(&b64, inserted, what(e, 64), true);
            }
            // The 32-bit numbering only changes the system-call examples.
            std::string code32 = k == Kind::Syscall ? ref::insert_text(e, 32) : "";
            if (!code32.empty()) {
                ++count32;
                add_example(&b32, code32, what(e, 32), false);
            }
        }
    EXPECT_EQ(count64, 135 + 23 + 385);
    EXPECT_GT(count32, 400);
    ASSERT_EQ(flat.size(), 1u);

    Outcome o64 = assemble(b64, "elf64", dir, "examples64");
    EXPECT_TRUE(o64.ok) << o64.report;
    Outcome o32 = assemble(b32, "elf32", dir, "examples32");
    EXPECT_TRUE(o32.ok) << o32.report;
    write_file(dir.file("flat.asm"), flat[0] + "\n    ret\n");
    RunResult f = run({ "nasm", "-f", "bin", "-o", dir.file("flat.bin"), dir.file("flat.asm") });
    EXPECT_EQ(f.code, 0) << f.err;

    // Names declared extern come from a second object; then the 64-bit
    // examples link into one program.
    std::string helpers = "bits 64\nsection .text\n";
    for (const auto& x : b64.externs)
        helpers += "global " + x + "\n" + x + ":\n    ret\n";
    EXPECT_FALSE(b64.externs.empty());
    write_file(dir.file("helpers.asm"), helpers);
    RunResult h = run({ "nasm", "-f", "elf64", "-o", dir.file("helpers.o"), dir.file("helpers.asm") });
    ASSERT_EQ(h.code, 0) << h.err;
    if (o64.ok) {
        RunResult l = run({ "ld", "-o", dir.file("examples64"), dir.file("examples64.o"), dir.file("helpers.o") });
        EXPECT_EQ(l.code, 0) << l.out << l.err;
    }
}

// The batching itself must not hide a broken example.
TEST(RefExamples, ABrokenExampleIsReportedByName)
{
    TempDir dir;
    Batch b;
    add_example(&b, "    mov rax, [rel count]", "good", true);
    add_example(&b, "    mov rax, rbx, rcx", "bad", true);
    add_example(&b, "again:\n    dec rcx\n    jnz again", "loop", true);
    Outcome o = assemble(b, "elf64", dir, "probe");
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.report.find("bad: "), std::string::npos) << o.report;
    EXPECT_EQ(o.report.find("good: "), std::string::npos) << o.report;
    EXPECT_EQ(o.report.find("loop: "), std::string::npos) << o.report;
}

namespace {

// The code blocks of a topic: runs of lines indented by four blanks,
// without that indent.
std::vector<std::string> code_blocks(const std::string& body)
{
    std::vector<std::string> blocks;
    std::istringstream in(body);
    bool open = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("    ", 0) != 0) {
            open = false;
            continue;
        }
        if (!open)
            blocks.emplace_back();
        open = true;
        blocks.back() += line.substr(4) + "\n";
    }
    return blocks;
}

// The bytes a `name db "text", 10, ...` line of a block defines, counted
// from the line itself.
int defined_bytes(const std::string& block, const std::string& name)
{
    std::istringstream in(block);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string first, directive;
        words >> first >> directive;
        if (first != name || directive != "db")
            continue;
        std::string rest = line.substr(line.find("db") + 2);
        rest = rest.substr(0, rest.find(';'));
        int bytes = 0;
        bool in_text = false;
        for (char c : rest) {
            if (c == '"')
                in_text = !in_text;
            else if (in_text)
                ++bytes;
            else if (c == ',')
                ++bytes; // every item after a comma is one byte (10, 0)
        }
        return bytes;
    }
    return -1;
}

} // namespace

// Every code block of the tutorial topics is real NASM, and the lengths it
// computes are the lengths of the texts it defines: `len equ $ - msg` must
// stand right behind msg. Tables of registers and flags are not code.
TEST(RefExamples, TopicCodeAssemblesAndItsLengthsAreRight)
{
    TempDir dir;
    const std::set<std::string> tables = { "registers 0", "flags 0" };
    int checked_lengths = 0, blocks = 0;
    for (const char* topic : { "intro", "structure", "registers", "operands", "data", "flags", "stack", "syscalls" }) {
        std::vector<std::string> code = code_blocks(L10n::tr(std::string("ref.t.") + topic + ".body"));
        ASSERT_FALSE(code.empty()) << topic;
        for (size_t i = 0; i < code.size(); ++i) {
            if (tables.count(std::string(topic) + " " + std::to_string(i)))
                continue;
            ++blocks;
            std::string src = "bits 64\ndefault rel\nsection .text\n" + code[i];
            // What the block uses without defining: jump targets, data.
            for (const char* name : { "msg", "count", "smaller", "below", "equal", "failed", "len" }) {
                bool defined = code[i].find(std::string(name) + " ") == 0 || code[i].find("\n" + std::string(name) + " ") != std::string::npos
                    || code[i].find(std::string(name) + ":") != std::string::npos;
                bool used = code[i].find(name) != std::string::npos;
                if (used && !defined)
                    src += std::string("section .data\n") + name + (std::string(name) == "len" ? " equ 5\n" : ": dq 0\n");
            }
            // A length the block computes must equal the bytes of its text.
            int text = defined_bytes(code[i], "msg");
            if (text > 0 && code[i].find("len ") != std::string::npos) {
                src += "section .text\ntimes len - " + std::to_string(text) + " nop\ntimes " + std::to_string(text)
                    + " - len nop\n";
                ++checked_lengths;
            }
            write_file(dir.file("topic.asm"), src);
            RunResult r = run({ "nasm", "-f", "elf64", "-o", dir.file("topic.o"), dir.file("topic.asm") });
            EXPECT_EQ(r.code, 0) << topic << " block " << i << ":\n" << src << r.out << r.err;
        }
    }
    EXPECT_GE(blocks, 10);
    EXPECT_EQ(checked_lengths, 2); // the data and structure topics
}
