#include "syntax.h"

#include <gtest/gtest.h>

namespace {

const char* kind_name(syntax::Kind k)
{
    static const char* names[] = { "plain", "comment", "string", "number", "register",
                                   "mnemonic", "directive", "label", "macro" };
    return names[int(k)];
}

// "text=kind" for every span, joined by " | ".
std::string render(const std::string& line)
{
    std::string out;
    int last_end = 0;
    for (const auto& s : syntax::highlight(line)) {
        EXPECT_GE(s.start, last_end) << line;
        EXPECT_LT(s.start, s.end) << line;
        EXPECT_NE(s.kind, syntax::Kind::Plain) << line;
        last_end = s.end;
        if (!out.empty())
            out += " | ";
        out += line.substr(size_t(s.start), size_t(s.end - s.start)) + "=" + kind_name(s.kind);
    }
    EXPECT_LE(last_end, int(line.size()));
    return out;
}

struct Case {
    const char* line;
    const char* spans;
};

const Case kCases[] = {
    // The documented example lines.
    { "start:  mov eax, [msg+4] ; load",
      "start:=label | mov=mnemonic | eax=register | 4=number | ; load=comment" },
    { "msg db 'Hi', 10", "msg=label | db=directive | 'Hi'=string | 10=number" },
    { "rep movsb", "rep=mnemonic | movsb=mnemonic" },
    { "lock xadd [rbx], eax", "lock=mnemonic | xadd=mnemonic | rbx=register | eax=register" },
    { "mov byte [rdi], 0", "mov=mnemonic | byte=directive | rdi=register | 0=number" },
    { "%define SIZE 16", "%define=macro | 16=number" },
    { ".loop: dec ecx", ".loop:=label | dec=mnemonic | ecx=register" },
    // Jump sizes and strict modify an operand: the first word stays an instruction.
    { "jmp short done", "jmp=mnemonic | short=directive" },
    { "jz short .done", "jz=mnemonic | short=directive" },
    { "call near f", "call=mnemonic | near=directive" },
    { "jmp far [rbx]", "jmp=mnemonic | far=directive | rbx=register" },
    { "push strict dword 5", "push=mnemonic | strict=directive | dword=directive | 5=number" },
    { "call tword x", "call=mnemonic | tword=directive" },
    // A first word before a data or definition directive is a label without colon.
    { "len equ $ - msg", "len=label | equ=directive | $=number" },
    { "buf times 64 db 0", "buf=label | times=directive | 64=number | db=directive | 0=number" },
    { "x resq 1", "x=label | resq=directive | 1=number" },
    // Edges.
    { "", "" },
    { "   \t ", "" },
    { "db \"a;b\" ; c", "db=directive | \"a;b\"=string | ; c=comment" },
    { "db 'open", "db=directive | 'open=string" },
    { "db `a\\`b` , 1", "db=directive | `a\\`b`=string | 1=number" },
    { "db 'a\\' , 1", "db=directive | 'a\\'=string | 1=number" },
    { "mov RAX, Ebx", "mov=mnemonic | RAX=register | Ebx=register" },
    { "mov r8l, 1", "mov=mnemonic | 1=number" },
    { "mov r15b, st7", "mov=mnemonic | r15b=register | st7=register" },
    { "dd 0x1F, 10h, 1_000, 3.14, 0b1010, -5",
      "dd=directive | 0x1F=number | 10h=number | 1_000=number | 3.14=number | 0b1010=number | 5=number" },
    { "jmp $", "jmp=mnemonic | $=number" },
    { "dd $ - 4, $+1", "dd=directive | $=number | 4=number | $=number | 1=number" },
    { "mov eax, $$", "mov=mnemonic | eax=register" },
    { "mov eax, $1F", "mov=mnemonic | eax=register | $1F=number" },
    { "mov eax, $0FF", "mov=mnemonic | eax=register | $0FF=number" },
    // "$" before a letter escapes an identifier, as in NASM.
    { "mov eax, $face", "mov=mnemonic | eax=register" },
    { "$data: db 1", "$data:=label | db=directive | 1=number" },
    { "a: b: nop", "a:=label | b=mnemonic" },
    { "%%loop: %1", "%%loop=macro | %1=macro" },
    { "mov al, 'é' ; ü", "mov=mnemonic | al=register | 'é'=string | ; ü=comment" },
    { "mov eax, éx", "mov=mnemonic | eax=register" },
    { "section .text", "section=directive" },
};

TEST(Syntax, LinesGiveTheirSpans)
{
    for (const auto& c : kCases)
        EXPECT_EQ(render(c.line), c.spans) << "line: " << c.line;
}

// A window of a line gets the spans of the whole line that reach into it:
// a long line is coloured where it shows as it would be whole.
TEST(Syntax, WindowGivesTheSpansReachingIntoIt)
{
    for (const auto& c : kCases) {
        const std::string line = c.line;
        const std::vector<syntax::Span> all = syntax::highlight(line);
        for (size_t from = 0; from <= line.size(); ++from) {
            for (size_t to = from; to <= line.size(); ++to) {
                std::string want, got;
                for (const auto& sp : all)
                    if (sp.end > int(from) && sp.start < int(to))
                        want += std::to_string(sp.start) + "-" + std::to_string(sp.end) + " ";
                for (const auto& sp : syntax::highlight(line, from, to))
                    got += std::to_string(sp.start) + "-" + std::to_string(sp.end) + " ";
                EXPECT_EQ(got, want) << line << " [" << from << ", " << to << ")";
            }
        }
    }
}

TEST(Syntax, LabelSpanAgreesWithTheFullScan)
{
    std::vector<std::string> lines;
    for (const auto& c : kCases)
        lines.push_back(c.line);
    for (const char* extra : { "%macro x 1", "  ; only: a comment", "'s': db 1", "10: nop", "foo",
                               "x: y: z", "lbl dq 1", "$$ equ 1", "1a equ 2" })
        lines.push_back(extra);
    for (const auto& line : lines) {
        syntax::Span want {};
        for (const auto& s : syntax::highlight(line))
            if (s.kind == syntax::Kind::Label) {
                want = s;
                break;
            }
        const syntax::Span got = syntax::label_span(line);
        EXPECT_EQ(got.kind, want.kind) << line;
        EXPECT_EQ(got.start, want.start) << line;
        EXPECT_EQ(got.end, want.end) << line;
    }
}

TEST(Syntax, WordSets)
{
    EXPECT_EQ(syntax::directive_names().size(), 57u);
    EXPECT_EQ(syntax::register_names().size(), 208u);
    for (const char* r : { "rax", "r8d", "r15b", "xmm31", "zmm0", "k7", "mm7", "st0", "cr8", "dr7" })
        EXPECT_TRUE(syntax::is_register(r)) << r;
    for (const char* r : { "r8l", "eflags", "st", "RAX", "xmm32", "cr1" })
        EXPECT_FALSE(syntax::is_register(r)) << r;
    EXPECT_TRUE(syntax::directive_names().count("nosplit"));
}

} // namespace
