#pragma once
// The DEBUG-style debug console: a line-oriented command interpreter (dump,
// unassemble, assemble, enter, fill, search, compare, move, hex arithmetic,
// registers, go, trace, proceed, breakpoints, write, quit) with styled output
// lines. It never touches a process or a file itself: everything goes through
// the abstract target `Console::Host`, which the application implements over
// the debugger engine and the binary images of its documents.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace dis {
struct Insn;
}

class Console {
public:
    // Colour classes of styled byte ranges; the pane's painter picks colours.
    enum Style : int {
        SNormal = 0,      // no colour of its own
        SChanged = 1,     // a character of a value that changed
        SRegName = 2,     // an unchanged register's name, and "EFLAGS="
        SRegChanged = 3,  // the name of a register that changed
        SFlagOn = 4,      // a set flag that did not change
        SFlagOff = 5,     // a clear flag that did not change
        SFlagChanged = 6, // a flag whose bit changed
        SDim = 7,         // a flag mnemonic that did not change
        SAddr = 8,        // an address
    };

    // What a line is; the painter colours each kind.
    static constexpr int kOutput = 0;  // listings, register rows, messages
    static constexpr int kEcho = 1;    // an entered line with its prompt
    static constexpr int kError = 2;
    static constexpr int kNotice = 3;  // help, welcome, labels, current instruction
    static constexpr int kProgram = 4; // the traced program's output

    static constexpr size_t kMaxLines = 5000;

    struct Span {
        int32_t a = 0; // first byte in the line's text
        int32_t b = 0; // one past the last byte
        Style style = SNormal;
    };

    struct Line {
        std::string text; // UTF-8, no newline
        int32_t kind = kOutput;
        std::vector<Span> spans;
    };

    // The console's target: a stopped debuggee or a loaded binary.
    class Host {
    public:
        virtual ~Host() = default;
        // Anything to inspect: a debuggee, or a binary of at least one byte.
        virtual bool has_target() = 0;
        // A debuggee is stopped under the debugger (registers, g, t, p).
        virtual bool live() = 0;
        virtual int bits() = 0; // 16, 32 or 64
        // Copies up to n bytes; a short count means the next byte is unreadable.
        virtual size_t read(uint64_t addr, uint8_t* out, size_t n) = 0;
        // All n bytes, or false.
        virtual bool write(uint64_t addr, const uint8_t* in, size_t n) = 0;
        // By lower-case name; false for an unknown name or when not live.
        virtual bool reg(const std::string& name, uint64_t* out) = 0;
        virtual bool set_reg(const std::string& name, uint64_t value) = 0;
        // Lower case, in display order.
        virtual std::vector<std::string> reg_names() = 0;
        // Exact, case-sensitive name.
        virtual bool symbol(const std::string& name, uint64_t* out) = 0;
        // The bare name at a symbol's start, a text with "+" inside one, or empty.
        virtual std::string symbol_at(uint64_t addr) = 0;
        // The program counter when live, else the selected address or the entry.
        virtual uint64_t here() = 0;
        virtual bool go(bool to, uint64_t addr) = 0;
        virtual bool trace(int n) = 0;
        virtual bool proceed(int n) = 0;
        virtual bool toggle_bp(uint64_t addr, bool on) = 0;
        virtual std::vector<uint64_t> bps() = 0;
        virtual void clear_bps() = 0;
        // Empty path: the binary's own file. msg is the line to show either way.
        virtual bool write_file(const std::string& path, std::string* msg) = 0;
        virtual void stop() = 0;
        // Memory or registers were changed by a command.
        virtual void changed() = 0;
    };

    explicit Console(Host* host);

    // Runs one entered line: echo, then assembly or a command.
    void exec(const std::string& line);
    // "-", or in assembly mode the next address and a blank.
    std::string prompt() const;
    // Appends the text as lines of the given kind, one per newline-cut piece.
    void print(const std::string& text, int kind);
    const std::deque<Line>& lines() const { return m_lines; }
    // Grows by one with every print; the painter scrolls when it changes.
    int32_t generation() const { return m_gen; }
    // Leaves assembly mode and forgets where d and u continue.
    void reset_positions();
    // The register display of a live target; nothing otherwise.
    void show_state();
    // reset_positions, and the next display marks nothing as changed.
    void reset_state();
    // An address or value expression; on failure `err` (when given) gets the
    // translation key "con.err.value".
    bool eval(const std::string& expr, uint64_t* out, std::string* err = nullptr) const;

private:
    using Args = std::vector<std::string>;

    std::string addr_str(uint64_t addr) const;
    // Address, instruction bytes padded to a column, and the instruction text.
    std::string insn_row(const dis::Insn& insn) const;
    void print_spans(const std::string& text, std::vector<Span> spans, int kind);
    // Drops the oldest lines beyond the cap and counts one more output.
    void added();
    void error(const std::string& key);
    void need_live();

    bool parse_range(const Args& args, size_t first, uint64_t* start, uint64_t* len, uint64_t def_len,
                     bool* start_given, size_t limit);
    bool parse_list(const Args& args, size_t first, std::vector<uint8_t>* out);
    static size_t range_end(const Args& args);
    bool eval_or_report(const std::string& expr, uint64_t* out);
    bool prepare_range(const Args& args, size_t* r, uint64_t* start, uint64_t* len);

    void assemble(const std::string& text);
    void run_command(const Args& args, const std::string& rest);
    void cmd_dump(const Args& args);
    void cmd_unasm(const Args& args);
    void cmd_assemble(const Args& args);
    void cmd_enter(const Args& args);
    void cmd_fill(const Args& args);
    void cmd_search(const Args& args);
    void cmd_compare_move(const Args& args, bool move);
    void cmd_hex(const Args& args);
    void cmd_regs(const Args& args);
    void cmd_go(const Args& args);
    void cmd_step(const Args& args, bool over);
    void cmd_bp(const Args& args);
    void cmd_bc(const Args& args);
    void cmd_bl();
    void cmd_write(const Args& args, const std::string& rest);

    Host* m_host;
    std::map<std::string, uint64_t> m_last;
    std::deque<Line> m_lines;
    int32_t m_gen = 0;
    bool m_asm = false;
    uint64_t m_asm_at = 0;
    uint64_t m_dump_at = 0;
    uint64_t m_unasm_at = 0;
    bool m_dump_set = false;
    bool m_unasm_set = false;
};
