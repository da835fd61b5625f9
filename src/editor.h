#pragma once
// The multi-line source editor of one document: text as lines, caret and
// selection, block (column) selection, grouped undo and redo, breakpoints
// that follow line edits, editing commands, search, labels and completion.
// It knows nothing of files, builds or the debugger. Main thread only.
#include "editor_lines.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

// ---- begin: keys, mouse, view and painting (forward declarations) ----
struct Palette;
struct SDL_Keysym;
typedef struct _cairo cairo_t;
typedef struct _PangoLayout PangoLayout;
// ---- end: keys, mouse, view and painting (forward declarations) ----

class Editor {
public:
    struct Pos {
        int line = 0;
        int col = 0;  // byte offset, always on a UTF-8 character boundary
        bool operator==(const Pos&) const = default;
    };
    struct Mark {
        bool error = false;  // false: warning
        std::string msg;
    };
    // One occurrence of a label.
    struct Ref {
        int line = 0;
        int col = 0;  // after a '$' prefix
        int len = 0;
        bool def = false;
    };
    // One undo or redo state: the whole text (shared with the live text
    // wherever lines did not change), caret and anchor.
    struct Snapshot {
        edlines::Lines::Frozen lines;
        Pos caret;
        Pos anchor;
    };
    // Horizontal text geometry in layout pixels. The window installs one
    // that measures with its fonts; until then monospace cells of 0.6 × the
    // font size are counted (a tab reaches the next multiple of 8 cells).
    struct Metrics {
        std::function<double(const std::string& line, int col, double font)> x_of;
        std::function<int(const std::string& line, double x, double font)> index_at_x;
    };
    using Clock = std::function<uint32_t()>;

    // Decorations owned by other subsystems.
    std::set<int> breakpoints;  // moved by the editor on line edits
    int pc_line = -1;
    std::map<int, Mark> marks;
    std::set<int> code_lines;
    std::function<std::string(int line, int* kind)> note;

    Editor();
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    // Text model.
    void set_text(const std::string& text);
    std::string text() const;
    bool modified() const { return m_modified; }
    void set_modified(bool m) { m_modified = m; }
    int generation() const { return m_gen; }
    int line_count() const { return m_lines.size(); }
    const std::string& line(int i) const { return m_lines[i]; }
    Pos caret() const { return m_caret; }
    Pos anchor() const { return m_anchor; }
    bool has_selection() const { return !(m_caret == m_anchor); }
    bool has_block() const { return m_block; }
    void undo();
    void redo();
    int undo_depth() const { return int(m_undo.size()); }
    int redo_depth() const { return int(m_redo.size()); }

    // View state recorded by painting and kept for scrolling.
    double caret_x() const { return m_caret_px; }
    double caret_y() const { return m_caret_py; }
    double line_h() const { return m_lh_px; }
    int scroll_line() const { return m_top; }
    double gutter_width() const { return m_gutter; }
    void set_view(int line, int col, int top);
    void ensure_caret_visible();

    // Seams: the undo grouping clock (milliseconds, SDL_GetTicks by
    // default) and text measurement.
    void set_clock(Clock c);
    void set_metrics(Metrics m);

    // Selection and editing.
    std::string selected_text() const;
    void select_all();
    void move_caret(Pos p, bool select);
    void insert(const std::string& text);
    void newline();
    void backspace();
    void del();
    void erase();
    void copy();
    void cut();
    void paste();
    void text_input(const char* utf8);
    void indent(bool outdent);
    void toggle_comment();
    void duplicate_lines();
    void delete_lines();
    void move_lines(int dir);
    // Block selection from (row0, x0) to the moving corner (row1, x1); x in
    // layout pixels from the start of the text.
    void select_block(int row0, double x0, int row1, double x1);
    std::string block_text() const;

    // Search, labels and completion.
    bool find(const std::string& needle, bool forward, bool from_caret);
    int replace_next(const std::string& needle, const std::string& replacement);
    int replace_all(const std::string& needle, const std::string& replacement);
    void goto_line(int line, bool center);
    void select_range(int line, int col, int len);
    std::string word_at_caret() const;
    std::string prefix_at_caret() const;
    void complete(const std::string& word);
    // Labels in line order, local ones written out ("main.loop"); cached
    // until the text changes.
    const std::vector<std::pair<std::string, int>>& labels() const;
    bool is_label(const std::string& word, int line) const;
    std::vector<Ref> label_refs(const std::string& name, int line) const;
    int rename_label(const std::string& old_name, const std::string& new_name, int line);

private:
    // Text model and undo (editor_text.cpp).
    Pos clamp(Pos p) const;
    void changed();
    void push_undo(int kind);
    void restore(Snapshot s);
    void clamp_block();
    // One undo step that replaces the given lines and drops the selection.
    void replace_lines(std::vector<std::pair<int, std::string>> changes);
    Snapshot snapshot() const { return { m_lines.freeze(), m_caret, m_anchor }; }
    void shift_breakpoints(int from, int delta);  // b >= from moves by delta
    void drop_breakpoints(int first, int last);   // removes first..last
    int visible_lines() const;
    double x_of(Pos p) const;
    int index_at_x(int line, double x) const;

    // Editing (editor_edit.cpp, editor_block.cpp).
    Pos sel_start() const;
    Pos sel_end() const;
    void erase_selection();
    bool delete_selected(bool before);  // block or selection; false when neither
    void lines_of_selection(int* first, int* last) const;
    void erase_block();
    void block_insert(const std::string& text);
    void block_delete_char(bool before);
    void block_rows(int* lo, int* hi) const;

    // Labels (editor_labels.cpp).
    std::string global_at(int line) const;
    const std::vector<std::pair<int, std::string>>& chunk_defs(int k) const;

    double m_caret_px = 0, m_caret_py = 0, m_lh_px = 18;
    edlines::Lines m_lines;
    Pos m_caret, m_anchor;
    double m_want_x = -1;
    int m_top = 0;
    double m_left = 0;
    bool m_modified = false;
    int m_gen = 0;
    std::vector<Snapshot> m_undo, m_redo;
    int m_last_kind = 0;
    uint32_t m_last_time = 0;
    bool m_dragging = false;
    bool m_line_drag = false;
    int m_line_anchor = 0;
    bool m_block = false;
    int m_bl0 = 0, m_bl1 = 0;
    double m_bx0 = 0, m_bx1 = 0;
    double m_x = 0, m_y = 0, m_w = 0, m_h = 0;
    // The caret was to be shown (1) or centred (2) before the editor had a
    // height; the first paint does it.
    int m_reveal = 0;
    double m_gutter = 50;
    double m_lh = 18;
    double m_font = 14;
    Clock m_clock;
    Metrics m_metrics;
    mutable int m_labels_gen = -1;
    mutable std::vector<std::pair<std::string, int>> m_labels;

    // ---- begin: keys, mouse, view and painting ----
    // (editor_keys.cpp, editor_view.cpp, editor_paint.cpp, editor_measure.cpp)
public:
    // One word of an end-of-line note as painted, for hover and clicks.
    struct NoteWord {
        double x0 = 0, x1 = 0;  // left and right edge, window pixels
        double y0 = 0, y1 = 0;  // top and bottom of the row
        std::string w;
        std::string next;       // the following word of the same note
    };

    // A key press that the window's own shortcuts did not take; true when
    // the editor used it. Printable keys without Ctrl return false: their
    // characters arrive through text_input.
    bool key(const SDL_Keysym& k);
    // Ctrl+Shift+K (with or without Alt) deletes lines. A window that binds
    // Ctrl+K itself must test this first so the editor's binding stays
    // reachable.
    static bool is_delete_lines_key(const SDL_Keysym& k);

    // Mouse in window pixels, using the geometry of the last paint. A press
    // in the breakpoint strip returns its line (the caller toggles it) and
    // changes nothing; otherwise -1.
    int mouse_down(double x, double y, bool shift, int clicks, bool alt);
    void mouse_drag(double x, double y);
    void mouse_up();
    bool dragging() const { return m_dragging || m_line_drag; }
    // Positive steps scroll towards the start, three lines a step.
    void wheel(double steps);
    bool selection_contains(double x, double y);
    int line_at_y(double y) const;
    // The word under a window point for hover help; empty over the gutter
    // or in a comment.
    std::string word_at(double x, double y);
    // The note word under a window point; *next gets the word after it.
    std::string note_word_at(double x, double y, std::string* next) const;
    const std::vector<NoteWord>& note_words() const { return m_note_words; }

    // Paints into the rectangle of cr and records the geometry the mouse
    // and scrolling use. The first paint switches text measuring to the
    // Pango layouts the text is drawn with.
    void paint(cairo_t* cr, double x, double y, double w, double h, const Palette& pal, double font,
               bool focus, bool caret_on);
    double line_height_px() const { return m_lh; }
    double scroll_x() const { return m_left; }

    struct Measure;  // Pango measuring on a private surface
    struct MeasureFree {
        void operator()(Measure* m) const;
    };

private:
    Pos pos_at(double x, double y);
    void vertical_move(int n, bool shift);
    void jump_to(Pos p, bool shift);
    void block_key(int dir_x, int dir_y);
    bool ctrl_key(int sym, bool shift);
    void tab_key(bool shift);
    Pos word_right(Pos p) const;
    Pos word_left(Pos p) const;
    Measure& measure();
    struct PaintFrame;  // values of one paint shared by the row painters
    void paint_row(cairo_t* cr, const PaintFrame& fr, int i, double Y, bool caret_on);
    void paint_note(cairo_t* cr, const PaintFrame& fr, int i, double Y, double lw);
    void paint_gutter_row(cairo_t* cr, const PaintFrame& fr, int i, double Y);

    std::unique_ptr<Measure, MeasureFree> m_meas;
    std::vector<NoteWord> m_note_words;
    bool m_pango_metrics = false;  // measuring switched to Pango by paint
    // ---- end: keys, mouse, view and painting ----
};
