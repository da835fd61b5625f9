#include "syntax.h"

#include "textutil.h"

#include <algorithm>

namespace syntax {

namespace {

bool is_alpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_alnum(unsigned char c) { return is_alpha(c) || is_digit(c); }

bool ident_char(unsigned char c)
{
    return is_alnum(c) || c == '_' || c == '.' || c == '$' || c == '#' || c == '@' || c == '~'
        || c == '?';
}

// Letters, digits, underscores and full stops: the body of a number.
bool number_char(unsigned char c) { return is_alnum(c) || c == '_' || c == '.'; }

std::string lower(const std::string& s, size_t a, size_t b) { return textutil::lower(s.substr(a, b - a)); }

// Words that modify an operand rather than start a data definition: a first
// word followed by one of them is an instruction ("jz short .done",
// "push strict dword 5"), not a label without a colon.
bool operand_modifier(const std::string& k)
{
    static const std::set<std::string> words = {
        "byte", "word", "dword", "qword", "tword", "oword", "yword", "zword",
        "short", "near", "far", "strict", "rel", "abs", "seg", "wrt", "nosplit",
    };
    return words.count(k) != 0;
}

bool is_prefix(const std::string& k)
{
    return k == "rep" || k == "repe" || k == "repz" || k == "repne" || k == "repnz" || k == "lock";
}

size_t skip_number(const std::string& line, size_t i)
{
    while (i < line.size() && number_char((unsigned char)line[i]))
        ++i;
    return i;
}

} // namespace

const std::set<std::string>& directive_names()
{
    static const std::set<std::string> names = {
        "section", "segment", "global", "extern", "bits", "org", "align", "alignb",
        "db", "dw", "dd", "dq", "dt", "do", "dy", "dz",
        "resb", "resw", "resd", "resq", "rest", "reso", "resy", "resz",
        "times", "equ", "incbin", "default", "cpu", "struc", "endstruc", "istruc", "iend", "at",
        "use16", "use32", "use64", "absolute", "common", "static",
        "byte", "word", "dword", "qword", "tword", "oword", "yword", "zword",
        "far", "near", "short", "rel", "abs", "strict", "seg", "wrt", "nosplit",
    };
    return names;
}

const std::set<std::string>& register_names()
{
    static const std::set<std::string> names = [] {
        std::set<std::string> s = {
            "al", "ah", "bl", "bh", "cl", "ch", "dl", "dh", "ax", "bx", "cx", "dx", "si", "di",
            "bp", "sp", "eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "esp", "rax", "rbx",
            "rcx", "rdx", "rsi", "rdi", "rbp", "rsp", "sil", "dil", "bpl", "spl", "cs", "ds",
            "es", "fs", "gs", "ss", "ip", "eip", "rip", "cr0", "cr2", "cr3", "cr4", "cr8",
            "dr0", "dr1", "dr2", "dr3", "dr6", "dr7",
        };
        for (int n = 8; n <= 15; ++n)
            for (const char* suffix : { "", "d", "w", "b" })
                s.insert("r" + std::to_string(n) + suffix);
        for (int n = 0; n <= 31; ++n)
            for (const char* family : { "xmm", "ymm", "zmm" })
                s.insert(family + std::to_string(n));
        for (int n = 0; n <= 7; ++n)
            for (const char* family : { "st", "mm", "k" })
                s.insert(family + std::to_string(n));
        return s;
    }();
    return names;
}

bool is_register(const std::string& w) { return register_names().count(w) != 0; }

namespace {

// The scan behind highlight; with first_word_only it ends once the first
// word or macro token has been classified. Only spans that reach into the
// bytes from..to are kept, and the scan ends at `to`.
std::vector<Span> scan(const std::string& line, bool first_word_only, size_t from = 0,
                       size_t to = std::string::npos)
{
    std::vector<Span> out;
    const size_t n = line.size();
    const size_t end = std::min(n, to);
    int words = 0;       // words since the line start or the last label
    bool labelled = false;
    bool prefixed = false;  // the last mnemonic was rep/lock and the like
    auto add = [&](size_t a, size_t b, Kind k) {
        if (b > from)
            out.push_back({ int(a), int(b), k });
    };

    size_t i = 0;
    while (i < end) {
        const unsigned char c = (unsigned char)line[i];
        if (c == ';') {
            add(i, n, Kind::Comment);
            break;
        }
        if (c == '"' || c == '\'' || c == '`') {
            size_t j = i + 1;
            while (j < n && (unsigned char)line[j] != c) {
                if (c == '`' && line[j] == '\\' && j + 1 < n)
                    ++j;
                ++j;
            }
            j = j < n ? j + 1 : n;
            add(i, j, Kind::String);
            i = j;
            continue;
        }
        if (is_digit(c)) {
            size_t j = skip_number(line, i + 1);
            add(i, j, Kind::Number);
            i = j;
            continue;
        }
        if (c == '$') {
            const unsigned char d = i + 1 < n ? (unsigned char)line[i + 1] : 0;
            if (!ident_char(d)) {
                add(i, i + 1, Kind::Number);
                ++i;
                continue;
            }
            // NASM reads "$0FF" as a number only because a digit follows;
            // "$face" and "$data" are identifiers written with the escape.
            if (is_digit(d)) {
                size_t j = skip_number(line, i + 1);
                add(i, j, Kind::Number);
                i = j;
                continue;
            }
        }
        if (c == '%') {
            size_t j = i + 1;
            while (j < n && (ident_char((unsigned char)line[j]) || line[j] == '%'))
                ++j;
            add(i, j, Kind::Macro);
            ++words;
            i = j;
            if (first_word_only)
                break;
            continue;
        }
        if (!ident_char(c)) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && ident_char((unsigned char)line[j]))
            ++j;
        if (j < n && line[j] == ':' && !labelled && words == 0) {
            add(i, j + 1, Kind::Label);
            labelled = true;
            words = 0;
            i = j + 1;
            if (first_word_only)
                break;
            continue;
        }
        const std::string key = lower(line, i, j);
        if (is_register(key)) {
            add(i, j, Kind::Register);
            ++words;
        } else if (directive_names().count(key)) {
            add(i, j, Kind::Directive);
            ++words;
        } else {
            bool label = false;
            if (!labelled && words == 0) {
                size_t k = j;
                while (k < n && (line[k] == ' ' || line[k] == '\t'))
                    ++k;
                size_t e = k;
                while (e < n && ident_char((unsigned char)line[e]))
                    ++e;
                if (e > k) {
                    const std::string next = lower(line, k, e);
                    label = directive_names().count(next) && !operand_modifier(next);
                }
            }
            if (label) {
                add(i, j, Kind::Label);
                labelled = true;
                words = 0;
            } else if (words == 0 || prefixed) {
                add(i, j, Kind::Mnemonic);
                prefixed = is_prefix(key);
                ++words;
            } else {
                ++words;
            }
        }
        i = j;
        if (first_word_only)
            break;
    }
    return out;
}

} // namespace

std::vector<Span> highlight(const std::string& line) { return scan(line, false); }

std::vector<Span> highlight(const std::string& line, size_t from, size_t to) { return scan(line, false, from, to); }

Span label_span(const std::string& line)
{
    for (const Span& s : scan(line, true))
        if (s.kind == Kind::Label)
            return s;
    return {};
}

} // namespace syntax
