#pragma once
// The binary view of one document: a list of sections, labels, instructions
// and data lines beside a hex pane, over a binary image or, while the
// program is stopped under the debugger, over its memory. Wired to the
// application only through the callbacks below; events in, pixels out.
//
// The list is built lazily: each part (a code range, a data section, the
// two runs of a live window) is cut into blocks of a few kilobytes, and only
// the blocks around what is shown or asked for are decoded, so a view over
// a 100 MB file costs about the same as one over a small program. A row is
// named by a `Key` (part, offset in the part, kind), which stays valid when
// blocks are decoded again after an edit.
#include "binimage.h"
#include "textfield.h"
#include "debugger_linux.h"
#include "disasm.h"
#include "l10n.h"

#include <SDL_keyboard.h>
#include <cairo.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct Palette;

class BinView {
public:
    struct Row {
        bool header = false;
        std::string label;
        dis::Insn insn;
        bool data = false;
    };

    struct Undo {
        bool live = false;
        uint64_t pos = 0; // address; an image write by file offset has bit 63 set
        std::vector<uint8_t> old;
    };

    // One list row: its part, its offset in the part (0 for the header) and
    // its kind. Rows are ordered by part, offset, then kind.
    struct Key {
        enum Kind : int { Header = 0, Label = 1, Insn = 2 };
        int part = -1; // -1: no row
        uint64_t off = 0;
        int kind = Header;
        bool valid() const { return part >= 0; }
        bool operator==(const Key& o) const { return part == o.part && off == o.off && kind == o.kind; }
        bool operator!=(const Key& o) const { return !(*this == o); }
        bool operator<(const Key& o) const;
    };

    struct VisRow {
        double y = 0;
        Key key;
        double text_x = 0;
    };

    // What the assembler line asks before it overwrites more bytes than the
    // instruction had: Ask waits for confirm_overwrite, Always writes.
    enum class Overwrite { Ask = 0, Always = 1 };

    // Progress of a search that runs in slices (find_begin / find_poll).
    enum class Search { Idle = 0, Running = 1, Found = 2, Missing = 3 };

    BinView();

    double split_frac = 0;
    double split1_frac = 0;

    std::function<void(uint64_t)> on_toggle_bp;
    std::function<bool(uint64_t)> has_bp;
    // Gets a maker rather than the text, so the status line can make it
    // again when the language changes.
    std::function<void(std::function<std::string()>, bool)> on_status;
    std::function<std::string(uint64_t)> symbol_at;
    std::function<void()> on_edited;
    std::function<bool(uint64_t)> live_changed;
    std::function<std::string(uint64_t, int*)> note;
    // Asked by commit_edit when the new code is longer than the old
    // instruction (bytes it would overwrite, the text); the application shows
    // a confirmation and calls confirm_overwrite with the answer. Without
    // it the longer code is refused.
    std::function<void(int, const std::string&)> ask_overwrite;

    bool m_target = true;
    BinImage* m_img = nullptr;
    dbg::Process* m_proc = nullptr;

    // ---- state and byte access (binview_model.cpp) ----
    bool live() const;
    int bits() const;
    std::string addr_text(uint64_t a) const;
    bool mem_read(uint64_t addr, uint8_t* buf, size_t n) const;
    bool mem_write(uint64_t addr, const uint8_t* buf, size_t n);
    bool hex_read(uint64_t pos, uint8_t* b) const;
    bool hex_write(uint64_t pos, uint8_t b);
    // Bytes [pos, pos + n) of the hex pane in one go: live, one process read
    // per mapped stretch; `ok` gets 1 for each byte that could be read.
    void hex_read_range(uint64_t pos, size_t n, uint8_t* out, uint8_t* ok) const;
    uint64_t hex_limit_lo() const;
    uint64_t hex_limit_hi() const;
    bool mapped(uint64_t addr) const;
    void set_dump(uint64_t a);
    // The process's memory map, read at most once per stop.
    const std::vector<dbg::Region>& regions() const;

    void rebuild();
    void rebuild_live();
    void memory_changed();
    void image_changed();
    void program_stopped();
    void program_ended();

    // Rows: the row of a key (null for none; valid until the next row
    // lookup), the neighbours of a key, the first and last row.
    const Row* row(const Key& k) const;
    Key next_row(const Key& k) const;
    Key prev_row(const Key& k) const;
    Key first_row() const;
    Key last_row() const;
    Key step_rows(Key k, int n) const;
    bool has_rows() const { return !m_parts.empty(); }
    // Address of a row (a header: its part's start).
    uint64_t row_addr(const Key& k) const;

    // For the binary bar: whether it shows anything (the image holds
    // bytes), the base button (raw images) and the bit chips (raw, .COM,
    // MZ); the decoding width, the load address and the info text
    // ("ELF64 · entry 401000 · 4232 B").
    bool bar_shown() const;
    bool bar_base() const;
    bool bar_bits() const;
    int image_bits() const;
    uint64_t image_base() const;
    std::string info_text() const;

    // ---- navigation and search (binview_nav.cpp) ----
    Key row_of_addr(uint64_t a) const;
    uint64_t selected_addr() const;
    const dis::Insn* selected_insn() const;
    int row_at(double x, double y) const;
    void select_row(const Key& k, bool scroll);
    void ensure_row_visible();
    void ensure_hex_visible();
    void goto_addr(uint64_t a);
    void follow();
    bool back();
    bool goto_offset(uint64_t off);
    void show_in_hex(uint64_t a);
    bool find(const std::string& q, bool forward, bool next);
    // The same search in slices of at most `budget_ms`, for typing into the
    // find field: begin, then poll each loop turn until it is not Running.
    void find_begin(const std::string& q, bool forward, bool next);
    Search find_poll(double budget_ms);
    void find_cancel();

    // ---- editing (binview_edit.cpp) ----
    void hex_type(int nibble);
    void ascii_type(unsigned char ch);
    void text_input(const char* utf8);
    void start_edit();
    void commit_edit();
    void cancel_edit();
    void finish_edit();
    void confirm_overwrite(bool yes);
    bool undo();
    bool redo();

    // ---- painting and input (binview_paint.cpp, binview_input.cpp) ----
    void paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font, bool focus,
               bool caret_on);
    bool key(const SDL_Keysym& k);
    void mouse_down(double x, double y, int clicks, bool right);
    void mouse_drag(double x, double y);
    void mouse_up();
    void wheel(double x, double y, double dy);
    std::string hover_tip(double x, double y) const;
    std::string status_line() const;

    // ---- state (public for the application's painter and tests) ----
    bool m_rows_live = false;
    uint64_t m_live_lo = 0, m_live_hi = 0;
    Key m_sel;
    Key m_top;
    bool m_hex_focus = false;
    bool m_ascii = false;
    uint64_t m_cur = 0;
    int m_nib = 0;
    uint64_t m_hex_top = 0;
    uint64_t m_dump_lo = 0, m_dump_hi = 0;
    uint64_t m_hit = 0;
    size_t m_hit_len = 0;
    bool m_hit_live = false; // m_hit is an address (else a file offset)
    // Hex-pane positions written through this view, of one kind only:
    // `m_changed_live` says whether they are addresses or file offsets.
    std::set<uint64_t> m_changed;
    bool m_changed_live = false;
    std::vector<Undo> m_undo;
    std::vector<Undo> m_redo;
    std::vector<uint64_t> m_back;
    std::vector<VisRow> m_vis;
    bool m_edit_active = false;
    TextField m_edit;
    uint64_t m_edit_addr = 0;
    int m_edit_len = 0;
    std::string m_edit_orig;
    bool m_overwrite_pending = false;
    bool m_drag_split = false;
    bool m_split_hover = false, m_split1_hover = false;
    int m_drag_which = 0;
    int m_bpr = 16;
    double m_s1 = 0, m_hex0 = 0;
    double m_x = 0, m_y = 0, m_w = 0, m_h = 0;
    double m_lh = 18, m_adv = 8;
    double m_split = 0;
    double m_hex_x = 0, m_asc_x = 0, m_dis_x = 0;
    double m_head = 0;

private:
    // A translated status text, its arguments kept as values.
    template <typename... A>
    void say(bool error, const char* key, const A&... args) const
    {
        if (on_status)
            on_status([key, ... a = args] { return L10n::tr(key, a...); }, error);
    }
    struct Part {
        std::string name;
        uint64_t addr = 0;
        uint64_t off = 0;   // file offset (image) or index into the live buffer
        uint64_t size = 0;
        uint64_t avail = 0; // bytes a decode may see from the part's start
        bool data = false;
        bool header = true;
        bool drop_crossing = false; // a row running past the end is dropped, not cut
    };
    struct Block {
        std::vector<Row> rows;
        uint64_t stamp = 0;
    };
    struct Scan; // a search in progress

    // binview_rows.cpp
    void clear_rows();
    void add_part(const Part& p);
    const uint8_t* part_bytes(const Part& p) const;
    uint64_t block_count(int part) const;
    uint64_t block_start(int part, uint64_t b) const;
    uint64_t block_of(int part, uint64_t off) const;
    const Block* block(int part, uint64_t b) const;
    void decode_block(int part, uint64_t b, Block* out) const;
    int part_of_addr(uint64_t a) const;
    Key key_of(int part, uint64_t b, size_t i) const;
    bool locate(const Key& k, int* part, uint64_t* b, size_t* i) const;
    Key fix_key(const Key& k) const;
    double row_fraction(const Key& k) const;
    uint64_t sync_point(int part, uint64_t b) const;

    // binview_model.cpp
    void push_undo(bool live, uint64_t pos, std::vector<uint8_t> old);
    void note_changed(uint64_t pos);
    void invalidate_regions() const;

    // binview_nav.cpp
    int visible_rows() const;
    void show_hex_at_cursor();
    void cursor_to_file_addr(uint64_t a);
    Search scan_slice(double budget_ms);

    // binview_edit.cpp
    bool write_assembled(const std::vector<uint8_t>& bytes);
    void byte_typed(uint8_t old, bool record, bool advance);
    bool apply_record(const Undo& r, Undo* inverse);
    bool replay(std::vector<Undo>& from, std::vector<Undo>& to);

    // binview_paint.cpp
    void paint_hex(cairo_t* cr, const Palette& pal, double font, bool focus, bool caret_on, uint64_t hi, int V);
    void paint_list(cairo_t* cr, const Palette& pal, double font, bool focus, bool caret_on, int V);
    bool hex_column(double x, int* col) const;

    std::vector<Part> m_parts;
    mutable std::map<std::pair<int, uint64_t>, Block> m_blocks;
    mutable std::map<std::pair<int, uint64_t>, uint64_t> m_syncs;
    mutable uint64_t m_stamp = 0;
    std::vector<uint8_t> m_live_buf;
    mutable std::vector<dbg::Region> m_regions;
    mutable int m_regions_pid = 0;
    mutable uint64_t m_regions_pc = 0, m_regions_sp = 0;
    mutable bool m_regions_ok = false;
    std::vector<uint8_t> m_pending_bytes; // assembled code waiting for confirm_overwrite
    std::unique_ptr<Scan> m_scan;

public:
    ~BinView();
    BinView(const BinView&) = delete;
    BinView& operator=(const BinView&) = delete;
    // Counters for tests and benchmarks: blocks decoded and /proc maps reads.
    mutable uint64_t m_blocks_decoded = 0;
    mutable uint64_t m_maps_reads = 0;
};
