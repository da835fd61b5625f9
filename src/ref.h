#pragma once
// The built-in reference: instructions, directives, system calls, error
// codes and tutorial topics over the constant tables of refdata.h, with
// lookup, ranked search, detail pages, examples and the editor's hover
// texts. Every sentence comes from the translations (L10n::tr).
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ref {

enum class Kind : int { Topic = 0, Insn = 1, Directive = 2, Syscall = 3, Errno = 4 };

// A handle of one entry: its kind and the row in that kind's table. The
// absent entry is (Topic, -1).
struct Entry {
    Kind kind = Kind::Topic;
    int index = -1;
    bool valid() const { return index >= 0; }
    bool operator==(const Entry&) const = default;
};

struct Arg {
    std::string type; // "const char *"
    std::string name; // "buf"
};

// One system call in one numbering.
struct SyscallInfo {
    std::string name;
    std::vector<Arg> args;
    bool args_known = false; // a parameter list exists for this numbering
    int nr = -1;             // -1: the call has no number in this numbering
};

// ---- entries

// The entry a word names exactly (case does not matter), or the absent one.
Entry lookup(const std::string& word);
// The topic with exactly this id, or the absent entry.
Entry topic(const std::string& id);
std::vector<Entry> list(Kind k);
std::string title(const Entry& e);
// One line for lists and tooltips; empty for topics and invalid entries.
std::string summary(const Entry& e);
// "1 · 4" for a system call (x86-64 and i386 numbers), the number of an
// error code, else empty.
std::string badge(const Entry& e);
std::string group_label(const Entry& e);
// Empty for a value outside the five kinds.
std::string kind_label(Kind k);

// The six argument registers of syscall (true) or of int 0x80 (false).
const char* const* syscall_regs(bool is64);
bool syscall_by_nr(unsigned long nr, bool is64, SyscallInfo* out);
// False when the name is unknown (out untouched) or has no number in that
// numbering (out filled with nr -1).
bool syscall_by_name(const std::string& name, bool is64, SyscallInfo* out);
std::string errno_name(int nr);
std::string errno_text(int nr);

// ---- search, pages, examples

struct Block {
    enum class Type { Heading = 0, Text = 1, Small = 2, Code = 3, Forms = 4, Pairs = 5 };
    Type type = Type::Text;
    std::string text; // several "\n"-separated lines for Code and Forms
    std::vector<std::pair<std::string, std::string>> pairs; // Pairs only
};

// Best first; kind -1 searches every kind, 0 to 4 keeps only that one.
std::vector<Entry> search(const std::string& query, int kind);
// The detail page; bits 32 puts the 32-bit forms and convention first,
// any other value the 64-bit ones.
std::vector<Block> detail(const Entry& e, int bits);
// The code an entry offers to insert; empty when it has none.
std::string example(const Entry& e, int bits);
// Hover text of an instruction or directive word, else empty.
std::string tooltip(const std::string& word, int bits);
// The number the lines above `at` load into rax/eax for a system call, or
// -1; line(i) gives line i. *is64 (may be null) tells whether rax was used.
int syscall_nr_before(const std::function<std::string(int)>& line, int at, bool* is64);

// ---- what the Reference dialog and the editor's hover help compute

// One row of the dialog's list: a heading or an entry.
struct Row {
    bool header = false;
    std::string text; // the heading's label
    Entry e;          // the entry (absent for headings)
};

inline constexpr int kMaxResults = 400;
// The list for a query (search results under kind headings, at most
// kMaxResults entries) or, with an empty query, for a category (instructions
// under their group headings).
std::vector<Row> rows(const std::string& query, int category);
// Index of the entry row showing `e`, or -1.
int row_of(const std::vector<Row>& rows, const Entry& e);
int first_entry_row(const std::vector<Row>& rows);
// The entry row `count` entry rows away from `from` (negative: upwards),
// headings not counted, stopping at the first or last entry row. -1 when
// the list has no entries.
int step_row(const std::vector<Row>& rows, int from, int count);

// What opening the dialog at a topic id or a word shows: a topic id that
// names a topic gives it (the word is then not used); else a word the
// reference knows gives its entry; else the word becomes the query.
struct Opening {
    Entry entry;
    std::string query;
};
Opening opening(const std::string& word, const std::string& topic_id);

// 32 when a "bits 32" or "bits 16" line (also "[bits 32]", any case) is
// among the first 300 lines, else 64.
int bits_of_source(const std::function<std::string(int)>& line, int line_count);

// Whether a text can be laid out in the monospace font: every character is
// at most U+058F or lies in U+2000 to U+2BFF (stray continuation bytes are
// skipped). Titles and code lines in other scripts take the proportional one.
bool mono_safe(const std::string& text);

// The word around byte `col` of a source line: letters, digits and
// _ . $ % ? @ # (a leading "%" or "." included), empty when none.
std::string word_at(const std::string& line, int col);

// The editor's hover text for `word` on line `at` (line(i) reads the
// source), with the system call a syscall or int 0x80 line makes; empty
// when there is nothing to say.
std::string editor_hover(const std::string& word, const std::function<std::string(int)>& line, int line_count,
                         int at, int bits);

// The example as the editor receives it: trailing newlines removed and,
// for an instruction, lines indented by four blanks except labels, empty
// lines and lines that already begin with a blank.
std::string insert_text(const Entry& e, int bits);

struct Pos {
    int line = 0;
    int col = 0; // byte column
};

// Where and what to put into the editor for inserting `text`.
struct Insertion {
    Pos from;          // the range replaced; from == to for a plain insertion
    Pos to;
    std::string text;  // what replaces it
    Pos caret;         // the caret after the insertion (end of the text)
};

// With a selection the text replaces it; on a line holding only blanks the
// blanks are replaced; on a line with other text it goes on a new line
// below. `line` is the caret line's text, `caret_line` its index.
Insertion insertion(const std::string& text, const std::string& line, int caret_line, const Pos* sel_from,
                    const Pos* sel_to);

} // namespace ref
