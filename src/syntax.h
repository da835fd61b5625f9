#pragma once
// NASM line tokenizer: one line of source in, coloured spans out. No state
// crosses lines (NASM has no multi-line comments or strings).
#include <set>
#include <string>
#include <vector>

namespace syntax {

enum class Kind { Plain, Comment, String, Number, Register, Mnemonic, Directive, Label, Macro };

struct Span {
    int start = 0;  // first byte
    int end = 0;    // one past the last byte
    Kind kind = Kind::Plain;
};

// Spans in ascending, non-overlapping order; bytes not covered are plain.
std::vector<Span> highlight(const std::string& line);
// The same spans, only those that reach into the bytes from..to: a line of
// megabytes is coloured where it shows without holding all its spans.
std::vector<Span> highlight(const std::string& line, size_t from, size_t to);

// The span of the label a line defines, kind Plain when it defines none.
// Same rules as highlight, but it stops at the line's first word, which is
// the only place a label can stand.
Span label_span(const std::string& line);

// Lower-case keyword sets, built once.
const std::set<std::string>& directive_names();
const std::set<std::string>& register_names();

// Exact membership; the caller lower-cases the word.
bool is_register(const std::string& w);

} // namespace syntax
