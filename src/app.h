#pragma once
// The application object of the window mode: the window, the main loop, the
// open documents and everything painted each frame. Its methods are spread
// over the app_*.cpp files, one concern each.
#include "attach.h"
#include "binimage.h"
#include "binview.h"
#include "disjob.h"
#include "console.h"
#include "debugger_linux.h"
#include "editor.h"
#include "files.h"
#include "gfx.h"
#include "l10n.h"
#include "palette.h"
#include "ref.h"
#include "settings.h"
#include "stepfx.h"
#include "textfield.h"
#include "toolchain.h"

#include <SDL.h>
#include <cairo.h>

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A number no other document of this process had (app_files.cpp).
uint64_t doc_serial();

// One open file, source or binary. Never copied or moved once created: the
// application keeps plain pointers into it.
struct Doc {
    bool bin = false;
    Editor ed;
    std::string path;
    std::string name_hint;
    tc::LinkOpts link;
    tc::BuildResult build;
    bool have_build = false;
    int build_gen = -1;
    std::string build_src;
    BinImage img;
    BinView bv; // over img; wired by new_doc
    std::set<uint64_t> bps;
    bool hidden = false;
    int rec_gen = -1;
    std::string rec_file;
    // The file as this document last read or wrote it, to notice another
    // writer before saving over its work.
    files::Stamp disk;
    // Names the document in continuations that may outlive it.
    uint64_t id = doc_serial();
};

// A clickable rectangle of the last painted frame, in logical pixels.
struct Hit {
    double x = 0, y = 0, w = 0, h = 0;
    std::string id;
    int n = 0;
    std::string tip;
};

// The desktop's colour-scheme answer, fetched off the main thread.
struct ThemeQuery;

// A command-line path made absolute once, without resolving links, so that
// "./a.asm" and "a.asm" name one document in any later directory.
std::string absolute_path(const std::string& path);
// The text after the last '/', or the whole path.
std::string base_name(const std::string& path);
// A file inside the work directory of this or an earlier run (an untitled
// build's source or output): never a recent file or a remembered tab.
bool is_work_file(const std::string& path);
// Key names of a shortcut ("Ctrl+S") in the user's language.
std::string key_names(std::string s);
// The width a text-only button needs to show its whole label.
double button_width(cairo_t* cr, const std::string& label);
// The text before the last '/' (empty when there is none), and the same
// with a leading $HOME shown as "~" (app_links.cpp).
std::string dir_name(const std::string& path);
std::string short_dir(const std::string& path);

class App : public Console::Host {
public:
    enum class Modal : int { None, Message, Prompt, Confirm, Language, About, Reference, Crash, Settings, License, Convert, Link };
    enum class Focus : int { Editor, Bin, ProgIn, ConIn, Find, Replace };
    enum class Drag : int { None, Bottom, Right, Editor, Bin, Tab };
    enum class FileOp : int { None, OpenSrc, SaveSrcAs, OpenBin, SaveBinAs, PickNasm, PickLd };

    App();
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // The whole window run; 0 after a normal end, 1 when no window opened.
    int run(const std::vector<std::string>& files);

    std::string force_theme;
    int force_w = 0;
    int force_h = 0;
    std::string screenshot;
    std::string script;
    std::string reference;

private:
    friend struct AppProbe; // the tests' view of the inside

    // The console's target (app_console.cpp). Until the debugger front end
    // is in the window there is no target to act on.
    bool has_target() override;
    bool live() override;
    int bits() override;
    size_t read(uint64_t addr, uint8_t* out, size_t n) override;
    bool write(uint64_t addr, const uint8_t* in, size_t n) override;
    bool reg(const std::string& name, uint64_t* out) override;
    bool set_reg(const std::string& name, uint64_t value) override;
    std::vector<std::string> reg_names() override;
    bool symbol(const std::string& name, uint64_t* out) override;
    std::string symbol_at(uint64_t addr) override;
    uint64_t here() override;
    bool go(bool to, uint64_t addr) override;
    bool trace(int n) override;
    bool proceed(int n) override;
    bool toggle_bp(uint64_t addr, bool on) override;
    std::vector<uint64_t> bps() override;
    void clear_bps() override;
    bool write_file(const std::string& path, std::string* msg) override;
    void stop() override;
    void changed() override;
    void run_script(const std::string& commands);

    // ---- reference ----
    // The Reference dialog and the editor's hover help (app_reference.cpp,
    // app_reference_paint.cpp).
    friend struct RefProbe; // the dialog's tests
    using RefRow = ref::Row;
    void cmd_reference(const std::string& word, const std::string& topic);
    void ref_refresh(bool keep_selection);
    void ref_select(int row, bool center);
    void ref_show(const ref::Entry& e);
    bool ref_key(const SDL_Keysym& k);
    bool ref_click(const Hit& h);
    void ref_wheel(double x, double y, double dy);
    void ref_insert();
    void paint_reference(cairo_t* cr, double x, double y, double w, double h);
    double paint_ref_detail(cairo_t* cr, double x, double y, double w);
    std::string editor_tip(const std::string& word, double x, double y);
    // Hooks of the window's input and painting while the dialog is open or
    // the pointer rests on the editor; true when the event was taken.
    bool ref_modal_key(const SDL_Keysym& k); // Escape, then ref_key
    void ref_text(const char* utf8);
    bool ref_mouse_down(const Hit& h, double x, double y);
    void ref_hover(double x, double y, std::string* hover, std::string* tip);
    void ref_f1();
    // The bit width of the live program, the output format or the source.
    int ref_guess_bits();

    TextField m_ref_q;
    int m_ref_cat = 0;
    int m_ref_bits = 64;
    std::vector<RefRow> m_ref_rows;
    int m_ref_sel = -1;
    int m_ref_top = 0;
    bool m_ref_center = false;
    ref::Entry m_ref_cur;
    double m_ref_scroll = 0;
    double m_ref_content = 0;
    double m_ref_view_h = 0;
    double m_ref_list_x = 0, m_ref_list_w = 0;
    // ---- end ----

    // Main loop and dispatch (app_main.cpp).
    void handle(const SDL_Event& e);
    void loop();
    // The frame measurement, the repaint after the window manager, the
    // settings save: each when it is due.
    void window_timers(Uint32 now);
    int end_run(int code);
    void open_start_documents(const std::vector<std::string>& files);
    void cmd_quit();
    void queue_save();
    void save_now();
    // A dialog asked for while another is open waits its turn.
    void show_modal(Modal m);
    void close_modal();

    // ---- keys, text and mouse ----
public:
    // One row of an open menu; its action runs after the menu has closed.
    struct MenuItem {
        std::string label;
        std::function<void()> act;
        std::string shortcut;
        bool enabled = true;
        bool checked = false;
        bool separator = false;
        bool radio = false;
    };

private:
    // Keys and typed text, in the fixed order dialog, menu, command key,
    // focused widget (app_keys.cpp).
    void key_down(const SDL_Keysym& k);
    void text_input(const char* utf8);
    void modal_key(const SDL_Keysym& k);
    void menu_key(const SDL_Keysym& k);
    bool command_key(const SDL_Keysym& k);
    bool ctrl_key(const SDL_Keysym& k);
    void focus_key(const SDL_Keysym& k);
    void prog_in_enter();
    void con_in_enter();
    void focus_main_view();
    void next_doc(bool back);
    void close_current();
    // Completion of the word before the caret (app_keys.cpp).
    bool ac_key(const SDL_Keysym& k);
    void ac_update();
    // Searches as the find text is typed, only when it changed.
    void find_typed();

    // The pointer (app_mouse.cpp).
    void mouse_move(double x, double y);
    void mouse_down(double x, double y, int button, int clicks);
    void mouse_up(double x, double y);
    void wheel(double mx, double my, double dy);
    void editor_down(double x, double y, int button, int clicks);
    void drag_tab(double x);
    void hover_at(double x, double y);
    std::string editor_hover(double x, double y, std::string* key_add);
    void set_cursor(const Hit* h);
    // Hits and the one table from Hit id to action (app_input.cpp).
    const Hit* hit_at(double x, double y) const;
    std::vector<const Hit*> hits_under(double x, double y) const;
    void click(const Hit& h);
    bool click_modal_bg();
    Editor* typing_target();
    bool caret_shown();
    bool source_view_editing() const;

    // Commands of the dialogs and menus, reached from keys, hits and rows.
    void cmd_settings();
    void cmd_language();
    void cmd_converter();
    void open_menu(int n);
    void ed_context(double x, double y);
    void bin_context(double x, double y);
    void cmd_about();
    void cmd_link();
    void apply_tool_paths();
    void dialog_escape();
    void dialog_wheel(double mx, double my, double dy);

    std::vector<MenuItem> m_menu_list;

    // Menus and context menus (app_menus.cpp, app_context.cpp) and their
    // painting (app_popup.cpp).
    // Where an open menu lies: its box, and the band the rows scroll in
    // when they do not all fit into the window.
    struct MenuBox {
        double x = 0, top = 0, w = 0, h = 0;
        double view_y = 0, view_h = 0; // the rows' band
        double content = 0;            // all rows stacked
        bool scrolls = false;
    };
    std::vector<MenuItem> menu_items(int n);
    void open_context(std::vector<MenuItem> rows, double x, double y);
    void cmd_help();
    // An action on the editor of a source document, held by its id: a row
    // of a menu that outlived its document does nothing.
    std::function<void()> editor_act(const Doc* d, void (*fn)(Editor&));
    std::vector<MenuItem> edit_rows(bool context);
    MenuBox menu_box(double w) const;
    // Scrolls an open menu that does not fit; true when it moved.
    bool menu_scroll_by(double dy);
    void menu_reveal(int row);
    void paint_menu(cairo_t* cr);
    void paint_completion(cairo_t* cr);
    double m_ctx_x = 0, m_ctx_y = 0;
    double m_menu_scroll = 0; // pixels of rows scrolled out above the band
    double m_menu_w = 0;      // width of the open menu as last painted
    double m_ac_x = 0, m_ac_y = 0, m_ac_w = 0, m_ac_h = 0; // completion box as last painted
    TextField m_conv; // the number converter's input
    std::vector<std::string> m_ac; // at most 8 candidates, shown when not empty
    int m_ac_sel = 0;
    std::string m_find_searched; // the find text the last search looked for
    SDL_Cursor* m_cur_set = nullptr;
    int m_cursor_kind = 0; // 0 arrow, 1 I-beam, 2 north-south, 3 west-east
    // The tabs measured when a tab drag began: document and width, in the
    // order painted, and the left edge of the first.
    std::vector<std::pair<const Doc*, double>> m_drag_geo;
    double m_drag_geo_x = 0;
    Uint32 m_fmt_at = 0; // when the format was detected, or the long source last changed
    // ---- end ----

    // ---- editing and navigation commands ----
    // The find bar and the font size (app_find.cpp).
    void cmd_find(bool open);
    void cmd_replace(bool all);
    // One search of the find text; true when it found a match. from_caret
    // is false while the text is typed, so the match may stay where it is.
    bool find_step(bool forward, bool from_caret);
    void cmd_font(double step);
    // Go to, the raw-image prompts and the program arguments (app_goto.cpp).
    void cmd_goto();
    // An address, register or symbol, else a file offset, else a search.
    bool goto_in_binary(Doc* d, const std::string& text);
    void cmd_args();
    void set_raw_bits(int bits);            // the current binary image
    void set_raw_bits(uint64_t doc, int bits); // the image of that document
    void cmd_raw_base();
    void rebase_raw(Doc* d, uint64_t base);
    // Labels of the current source (app_labels.cpp).
    void cmd_goto_definition(const std::string& word, int line);
    void cmd_references(const std::string& word, int line);
    void cmd_rename(const std::string& word, int line);
    void rename_to(uint64_t doc, const std::string& old, const std::string& name, int line);
    // ---- end ----

    // Window, scale, theme and geometry (app_window.cpp).
    bool init_window();
    void shutdown_window();
    void update_scale();
    // The user's own choice of theme: saved, and it ends a theme the
    // command line gave for this run, which would otherwise hide it.
    void choose_theme(const std::string& name);
    void update_theme();
    void start_theme_query();
    // Takes the answer when it came; waits up to wait_ms for it.
    void poll_theme_query(int wait_ms = 0);
    SDL_Rect work_area(int x, int y, bool* found) const;
    void apply_geometry();
    void measure_frame();
    void keep_in_work_area();
    void remember_geometry();
    void set_parent_window_env();
    // Runs fn with QXASM_PARENT_WINDOW set, for the start of a file dialog.
    void with_parent_window(const std::function<void()>& fn);
    bool write_screenshot();

    // Documents and tabs (app_docs.cpp).
    Doc* new_doc(bool bin);
    void activate(Doc* d);
    Doc* find_doc(const std::string& path, bool bin) const;
    void close_doc(Doc* d, bool confirmed);
    void remember_tabs();
    bool is_placeholder(const Doc* d) const { return d == m_blank_s.get() || d == m_blank_b.get(); }
    Doc* shown_doc() const;
    std::string display_name(const Doc* d, bool for_tab) const;
    bool doc_modified(const Doc* d) const;

    // Opening files (app_open.cpp).
    void open_any(const std::string& path);
    bool load_source(const std::string& path);
    bool load_binary(const std::string& path, bool quiet, bool hidden);
    void cmd_open_example();
    // Adds a file to the recent lists unless it is a work file.
    void add_recent(const std::string& path, bool bin);
    // A status text as it is; after a change of language it stays as it was.
    void status(const std::string& text, bool error);
    // A status text made again in the new language when the language changes.
    void status(std::function<std::string()> make, bool error);
    // The status of one translated text; its arguments are kept as values.
    template<typename... A>
    void status_tr(bool error, const std::string& key, const A&... args)
    {
        status([key, ... a = status_arg(args)] { return L10n::tr(key, a...); }, error);
    }
    static std::string status_arg(const char* s) { return s ? s : ""; }
    static std::string status_arg(const std::string& s) { return s; }
    static int status_arg(int n) { return n; }

    // Frame painting and the hit list (app_paint.cpp).
    void paint();
    void paint_all(cairo_t* cr, double W, double H);
    // The frame into the image surface (made or remade at the renderer's
    // size); false when the window has no area.
    bool paint_surface();
    // A frame where only the caret blinked (app_blink.cpp): painted whole
    // into the spare surface, and only the box that changed is uploaded
    // and, when the renderer still holds the last frame, drawn.
    void paint_blink();
    bool back_buffer_holds(const SDL_Rect& r, cairo_surface_t* shown);
    void paint_tooltip(cairo_t* cr, double W, double H);
    bool tip_target_under_pointer() const;
    void hit(double x, double y, double w, double h, const std::string& id, int n, const std::string& tip);
    void button(cairo_t* cr, double x, double y, double w, double h, const std::string& label, const std::string& id,
                bool enabled, bool primary, const gfx::Icon* icon, const std::string& tip, int n = 0);
    double chip(cairo_t* cr, double x, double y, const std::string& label, bool on, const std::string& id, int n,
                bool changed, const std::string& tip);
    double wrapped_text(cairo_t* cr, const std::string& text, double x, double y, double w, const Rgba& c,
                        const gfx::Font& f);

    // Bars and tabs (app_bars.cpp).
    void paint_menubar(cairo_t* cr, double W);
    void paint_toolbar(cairo_t* cr, double y, double W);
    void paint_tabs(cairo_t* cr, double x, double y, double w);
    double paint_find(cairo_t* cr, double x, double y, double w);
    void paint_status(cairo_t* cr, double y, double W);
    std::string format_text();
    void poll_format();

    Settings m_settings;
    bool m_dirty = true;
    bool m_quit = false;
    bool m_caret_on = true;
    bool m_blink = false;       // the caret flipped and nothing else changed
    int m_blink_frames[2] = {}; // blink frames drawn in part, in whole
    SDL_Rect m_blink_box{};     // what the last blink changed
    // The frame before the last, painted over by the next blink.
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> m_spare{ nullptr, cairo_surface_destroy };
    Uint32 m_caret_t = 0;
    Uint32 m_save_at = 0;
    uint64_t m_probe_gen = 0; // tool versions seen; a new answer repaints

    SDL_Window* m_win = nullptr;
    SDL_Renderer* m_ren = nullptr;
    SDL_Texture* m_tex = nullptr;
    cairo_surface_t* m_surf = nullptr;
    int m_pw = 0, m_ph = 0;
    double m_k = 1.0;
    double m_ww = 0, m_wh = 0;
    // The desktop's scale where SDL reports none (X11), and the window
    // units (SDL's sizes and pointer positions) per logical pixel.
    double m_desk_k = 1.0;
    double m_in_k = 1.0;
    SDL_BlendMode m_premul = SDL_BLENDMODE_BLEND;
    SDL_Cursor* m_cur_arrow = nullptr;
    SDL_Cursor* m_cur_ibeam = nullptr;
    SDL_Cursor* m_cur_we = nullptr;
    SDL_Cursor* m_cur_ns = nullptr;
    SDL_Cursor* m_cur_hand = nullptr;
    Palette m_pal;
    bool m_system_dark = false;
    std::shared_ptr<ThemeQuery> m_theme_query;
    bool m_no_bus = false;
    std::string m_parent_handle; // "x11:" and the window id, for the portal
    int m_exit = 0;
    bool m_quit_warned = false; // unsaved documents were named once

    Uint32 m_frame_check_at = 0;
    // A whole frame is painted again this long after the window manager last
    // moved, sized, showed or exposed the window.
    static constexpr Uint32 kSettleMs = 120;
    Uint32 m_settle_at = 0;
    int m_frames = 0; // whole frames painted, for the tests
    int m_req_x = 0, m_req_y = 0;
    int m_frame_dx = 0, m_frame_dy = 0;
    bool m_frame_known = false;
    bool m_shown = false;
    Uint32 m_start = 0;
    bool m_painted_once = false;

    std::vector<std::unique_ptr<Doc>> m_docs;
    std::unique_ptr<Doc> m_blank_s;
    std::unique_ptr<Doc> m_blank_b;
    Doc* m_s = nullptr;
    Doc* m_b = nullptr;
    Doc* m_dsrc = nullptr;
    Doc* m_dbin = nullptr;
    dbg::Process m_proc;
    Console m_con{ this };
    // Remembered tabs that this run did not open (a start with files keeps
    // them for the next start).
    std::vector<std::string> m_kept_tabs;
    int m_kept_active = 0;

    Focus m_focus = Focus::Editor;
    bool m_find_open = false;
    TextField m_find;
    bool m_replace_open = false;
    TextField m_replace;
    int m_menu = -1;
    double m_menu_x = 0;
    int m_menu_hover = -1;
    Modal m_modal = Modal::None;
    FileOp m_file_op = FileOp::None;

    std::vector<std::pair<std::string, int>> m_msgs;
    std::string m_status;
    bool m_status_err = false;
    std::function<std::string()> m_status_again;

    std::vector<Hit> m_hits;
    std::string m_hover;
    std::string m_tip;
    double m_mx = 0, m_my = 0;
    int m_drag_tab = -1;
    double m_drag_x0 = 0;
    bool m_drag_moved = false;
    Drag m_drag = Drag::None;
    double m_main_x = 0, m_main_y = 0, m_main_w = 0, m_main_h = 0;
    double m_bottom_y = 0, m_bottom_h = 0;
    double m_right_x = 0;
    // Tab strip scrolling when the tabs do not fit: the offset, the room
    // they need, and the active tab the offset was last fitted to.
    double m_tab_scroll = 0;
    double m_tab_overflow = 0;
    const Doc* m_tab_fitted = nullptr;
    // The status line's format text, kept while the source does not change.
    const Doc* m_fmt_doc = nullptr;
    int m_fmt_gen = -1;
    std::string m_fmt_setting;
    std::string m_fmt_text;
    int m_fmt_runs = 0; // detections made, for the tests
    // A long source's detection on a worker, over a copy of its text.
    std::future<tc::Format> m_fmt_job;
    const Doc* m_fmt_job_doc = nullptr;
    int m_fmt_job_gen = -1;
    int m_fmt_seen_gen = -1; // the generation last painted

    // ---- prompts, dialogs, files and recovery ----
public:
    // One button of a message or confirmation; its action runs after the
    // dialog has closed, so it may open the next one.
    struct DlgButton {
        std::string label;
        std::function<void()> act;
        bool primary = false;
    };

private:
    // A generic dialog asked for while another one is open: it waits its
    // turn with its continuation instead of replacing the open one.
    struct PendingDlg {
        Modal kind = Modal::None;
        std::string title, text, label, initial;
        std::function<void(const std::string&)> ok;
        std::vector<DlgButton> buttons;
        bool path = false; // the path prompt standing for a file dialog
    };
    using Then = std::function<void()>;

    // Dialogs, status line, messages pane and clipboard (app_prompt.cpp).
    void show_message(const std::string& title, const std::string& text);
    void show_prompt(const std::string& title, const std::string& label, const std::string& initial,
                     std::function<void(const std::string&)> ok);
    void show_confirm(const std::string& title, const std::string& text, std::vector<DlgButton> buttons);
    void open_dialog(PendingDlg p);
    void next_dialog();
    void msg(const std::string& text, int kind, int line);
    void copy(const std::string& text);
    // Keys, typed text and clicks while a dialog is open; true when used.
    bool dialog_key(const SDL_Keysym& k);
    bool dialog_text(const char* utf8);
    bool dialog_click(const Hit& h, double x);
    void run_button(size_t n);
    void prompt_ok();

    // Modal frame, generic dialogs and welcome page (app_dialogs.cpp).
    void paint_raised_box(cairo_t* cr, double x, double y, double w, double h, double radius, double dx,
                          double dy, double shadow_alpha);
    void paint_check_box(cairo_t* cr, double x, double y, bool on);
    void end_scrolled_body(cairo_t* cr, double x, double w, double top, double bottom, size_t first_hit,
                           double scroll, double content, double view);
    void paint_modal(cairo_t* cr, double W, double H);
    void paint_welcome(cairo_t* cr, double x, double y, double w, double h);
    void paint_about(cairo_t* cr, double x, double y, double w, double h);

    // New, open and save (app_files.cpp).
    void cmd_new();
    void cmd_open();
    void cmd_open_binary();
    void cmd_save(Then then);
    // Writes a source to its own path and runs `then` once it is clean.
    void save_in_place(Doc* d, const Then& then);
    // Whether the file was changed or replaced on disk since the document
    // read or wrote it; then the question whether to overwrite or reload.
    bool changed_on_disk(const Doc* d) const;
    void ask_changed(Doc* d, Then then);
    void reload_source(Doc* d);
    void cmd_save_as(Then then);
    void cmd_save_binary(bool as, bool confirmed);
    // The status line names the file, or where it went (a chosen path).
    enum class Shown : int { Name, Folder };
    void saved(const std::string& path, Shown shown = Shown::Name);
    void poll_file_dialog();
    void confirm_discard(Then then);
    // A file command while a file dialog or its path prompt is pending is
    // refused: its answer belongs to the command that asked.
    bool file_busy();
    void start_file_dialog(FileOp op, bool ok);
    void chosen_path(FileOp op, const std::string& path);
    void path_prompt(FileOp op);
    // Refuses what cannot be opened without blocking or flooding memory
    // (a FIFO, a device, a huge file), with a message; true when refused.
    bool refuse_open(const std::string& path);
    // Asks before a document with unsaved changes closes.
    void ask_close(Doc* d);
    // The unsaved-changes question: Save (then `next` once it is clean),
    // Discard (`discard`), Cancel (nothing).
    void ask_unsaved(Doc* d, Then next, Then discard);
    std::string unsaved_name(const Doc* d) const;
    // Asks before a binary with unsaved byte edits is read again; true when
    // the question was put (the reload then waits for its answer).
    bool ask_reload(Doc* d);
    Doc* doc_by_id(uint64_t id) const;
    void save_source_to(Doc* d, const std::string& path);

    // Autosave, recovery and per-file state (app_recover.cpp).
    // One recovery file to write: the document, its generation, the file
    // and the sealed content, and whether the write worked.
    struct RecWrite {
        uint64_t doc = 0;
        int gen = 0;
        std::string file;
        std::string plain;
        bool ok = false;
    };
    void autosave_tick();
    // Takes the recovery writer's answers when it is done (or waits for it).
    void finish_autosave(bool wait);
    void restore_recovered();
    std::string recovery_name(const Doc* d) const;
    void store_file_state(Doc* d);
    void apply_file_state(Doc* d);
    void store_all_file_state();
    // Says a failed write once per run in the status line.
    void write_failed(bool& said, const char* key, const std::string& path);

    std::string m_dlg_title, m_dlg_text, m_dlg_label;
    TextField m_dlg_field;
    std::function<void(const std::string&)> m_dlg_ok;
    std::vector<DlgButton> m_dlg_buttons;
    std::vector<PendingDlg> m_dlg_queue;
    bool m_lang_back = false;
    std::string m_crash_text;
    double m_about_scroll = 0, m_about_content_h = 0, m_about_view_h = 0;
    uint64_t m_save_doc = 0; // id of the document a Save As is for
    Then m_after_save;
    bool m_path_prompt = false; // the open prompt stands for a file dialog
    Uint32 m_autosave_t = 0;
    std::future<std::vector<RecWrite>> m_rec_job;
    bool m_rec_fail_said = false;
    bool m_settings_fail_said = false;
    bool m_reload_ok = false; // a reload over byte edits was agreed to
    // ---- end ----

    // ---- build, run and debug ----
    friend struct AppDebugProbe; // the debugging tests' view of the inside

    // A build whose tools run off the main thread; the loop finishes it.
    struct BuildJob {
        Doc* doc = nullptr;
        std::function<void()> then;
        std::string source;    // the file the tools read
        std::string doc_path;  // the document's path when the build began
        std::string text;      // the source text that was built
        int gen = 0;           // the editor's generation that was built
        tc::Format fmt = tc::Format::Elf64;
        uint64_t t0_ms = 0;
        std::future<tc::BuildResult> result;
    };
    // One row source of the scrolling line lists: rows are asked for by
    // index, so a long list is never copied to paint the rows that show.
    struct PaneLines {
        size_t count = 0;
        std::function<const std::string&(size_t)> text;
        std::function<int(size_t)> kind;
        std::function<const std::vector<Console::Span>*(size_t)> spans; // null: plain pane
        bool wrap = false;
    };

    // Build command and marks (app_build.cpp).
    void cmd_build(std::function<void()> then);
    void poll_build();
    void finish_build(BuildJob& job);
    void apply_build_marks();
    void apply_build_marks(Doc* d);
    bool build_is_current() const;
    std::string target_path(bool* from_source) const;
    int line_of_addr(uint64_t addr) const;
    bool addr_of_line(int line, uint64_t* addr) const;
    std::string untitled_source(const Doc* d);
    bool write_source(Doc* d, const std::string& path);
    void build_msg(const std::string& text, int kind, int line);
    bool building() const { return m_build_job != nullptr; }

    // Running, stopping and stepping (app_run.cpp).
    void start_program(bool trace);
    void start_step(bool trace);
    void cmd_run();
    void cmd_debug();
    void switch_debug_to_current();
    void cmd_stop();
    void cmd_step(int kind);
    void do_step(int kind);
    void cmd_run_to_cursor();
    // Runs the program to a row of the binary view showing it (F4 there, or
    // the row's "Run to here"); false when the view is not the program's.
    bool run_to_bin_row(Doc& d, uint64_t row_addr);
    void cmd_toggle_bp();
    void sync_bps();
    void poll_process();
    void on_stopped(const dbg::Event& e);
    void on_exited(const dbg::Event& e);
    void add_output(const std::string& bytes);
    // Text the panes can lay out: invalid UTF-8 and control bytes as \xNN.
    static std::string printable(const std::string& s);
    void prog_line(const std::string& text, int kind);
    bool stepping() const { return m_stepping_line || m_steps_left > 0; }
    Doc* target_src() const;
    Doc* target_bin() const;
    uint64_t to_file(uint64_t run_addr) const;
    uint64_t to_run(uint64_t file_addr) const;
    void arm_step() { stepfx::arm_step(m_fx, m_proc); }
    void record_effect() { stepfx::record_effect(m_fx, m_proc, line_of_addr(m_fx.arm_pc), pointee()); }
    void snapshot_regs() { stepfx::snapshot_regs(m_snap, m_proc, pointee()); }
    void snapshot_memory() { stepfx::snapshot_memory(m_snap, m_proc); }
    stepfx::Pointee pointee();
    // Input of the debugging commands and panes (app_run_input.cpp); each
    // answers whether it took the event.
    bool debug_click(const Hit& h);
    bool debug_wheel(const Hit& h, double dy);
    int debug_wait_ms(int normal) const;
    void prepare_script_target();
    void settle_script_step();
    void debug_tick()
    {
        poll_build();
        poll_attach();
        poll_process();
    }

    // Bottom pane (app_bottom.cpp).
    void paint_bottom(cairo_t* cr, double x, double y, double w, double h);
    void paint_lines(cairo_t* cr, double x, double y, double w, double h, const PaneLines& lines, int& top,
                     bool& follow, const std::string& id);

    std::unique_ptr<BuildJob> m_build_job;
    std::map<const Doc*, int> m_untitled_ids; // work folder of each untitled document
    int m_untitled_next = 0;
    std::vector<int> m_msg_line_of;           // source line of each message, 0 for none
    bool m_run_overwrite_ok = false;
    bool m_debug_src = false;
    stepfx::StepState m_fx;
    stepfx::Snapshot m_snap;
    int m_steps_left = 0;
    int m_step_kind = 0;
    int m_step_line = -1;
    bool m_stepping_line = false;
    bool m_restep = false;      // a step was issued while a stop was handled
    bool m_state_shown = false; // the counted steps printed this stop's display
    std::vector<int> m_watch_slot;
    std::vector<std::pair<std::string, int>> m_prog;
    std::string m_prog_partial;
    TextField m_prog_in;
    TextField m_con_in;
    int m_msgs_top = 0, m_prog_top = 0, m_con_top = 0;
    bool m_msgs_follow = true, m_prog_follow = true, m_con_follow = true;
    int m_con_seen = -1;
    // ---- end ----
    // ---- binary documents ----
    // A question or a typed value asked in a strip under the binary bar.
    enum class BinAsk : int { None, Overwrite, Save };
    // Binary documents in the window (app_binary.cpp, app_binary_input.cpp).
    void wire_binary(Doc* d);
    // The source's end-of-line notes: operand values at the pc, step effects.
    void wire_source(Doc* d);
    // Which binary view shows the live process (null: none).
    void set_live_target(Doc* d);
    void paint_binary(cairo_t* cr, Doc* d, double x, double y, double w, double h);
    void paint_bin_bar(cairo_t* cr, double x, double y, double w);
    double paint_bin_ask(cairo_t* cr, double x, double y, double w);
    bool bin_shown() const { return m_settings.main_tab == 1 && !is_placeholder(m_b); }
    bool bin_key(const SDL_Keysym& k);
    bool bin_text(const char* utf8);
    bool bin_mouse_down(const Hit& h, double x, double y, int button, int clicks);
    bool bin_mouse_move(double x, double y);
    bool bin_mouse_up();
    bool bin_wheel(double x, double y, double dy);
    std::string bin_tip(const Hit& h, double x, double y) const;
    void bin_ask(BinAsk kind, const std::string& text);
    void bin_answer(bool ok);
    void bin_open_find();
    // The find field changed or asked for the next hit: a search in slices.
    void bin_find(bool forward, bool next);
    bool save_binary_in_place(Doc* d);
    // One loop turn's share of binary work; true while some is pending.
    bool poll_binary();
    bool binary_busy() const { return m_bin_search != nullptr || m_dis != nullptr; }
    // "Disassemble to source" (app_disjob.cpp).
    void cmd_disassemble();
    void poll_disassemble();
    void end_disassemble();

    BinAsk m_bin_ask = BinAsk::None;
    std::string m_bin_ask_text;
    uint64_t m_bin_ask_doc = 0; // the document whose question is shown
    Doc* m_bin_search = nullptr; // the document whose view searches
    uint64_t m_bar_doc = 0;      // the document whose binary bar was painted last
    std::unique_ptr<DisJob> m_dis;
    // ---- end ----
    // ---- about, number converter, link options ----
    // The About dialog's component table and the licence viewer
    // (app_about.cpp), the number converter (app_convert.cpp) and the link
    // options dialog (app_link.cpp).
    friend struct AboutProbe; // their tests
    void read_component_versions();
    double paint_components(cairo_t* cr, double x, double y, double w);
    void paint_license(cairo_t* cr, double x, double y, double w, double h);
    static std::string snap_sources_path();
    void show_license(int comp);
    bool license_key(const SDL_Keysym& k);
    void license_wheel(double dy);
    // Clicks on the hits of these dialogs; false when the hit is not theirs.
    bool about_click(const Hit& h);
    bool conv_click(const Hit& h);
    bool link_click(const Hit& h, double x);
    // Opens a web or mail link with the desktop's opener.
    void open_link(const std::string& url);
    // The maker's web page, or a "mailto:" link to its support address.
    static std::string about_address(bool mail);
    void paint_converter(cairo_t* cr, double x, double y, double w, double h);
    bool conv_key(const SDL_Keysym& k);
    tc::LinkOpts& link_opts(Doc* d);
    void link_apply();
    bool link_key(const SDL_Keysym& k);
    void paint_link(cairo_t* cr, double x, double y, double w, double h);
    // The source's output format for the link dialog, detected once per
    // text generation; and the linker call it previews, made once per change.
    tc::Format link_format();
    const std::string& link_preview(const std::string& name, tc::Format fmt);

    std::vector<std::string> m_comp_ver;
    bool m_comp_waiting = false; // a tool's version was still being found
    uint64_t m_comp_gen = 0;     // toolprobe answers seen when last read
    int m_lic_comp = 0;
    int m_lic_scroll = 0;
    std::string m_lic_text; // the text shown, read when the page opened
    TextField m_link_field[5]; // libs, dirs, extra, incs, srcs
    bool m_link_crt = false;
    int m_link_focus = 0;
    std::string m_link_error; // why the last OK was refused
    const Doc* m_link_fmt_doc = nullptr;
    int m_link_fmt_gen = -1;
    std::string m_link_fmt_setting;
    tc::Format m_link_fmt = tc::Format::Elf64;
    int m_link_fmt_runs = 0; // detections made, for the tests
    std::string m_link_preview_key, m_link_preview;
    std::string m_link_opened; // the link last handed to the opener
    // ---- end ----
    // ---- side panel and watches ----
    // Painting (app_panel_paint.cpp) and clicks, wheel and the per-stop
    // values (app_panel.cpp), watches and value texts (app_watch.cpp).
    void paint_right(cairo_t* cr, double x, double y, double w, double h);
    // The front end calls this at every stop it shows: registers, memory,
    // variables, used registers, pointees and watches are taken once here,
    // so painting never reads the program.
    void panel_on_stop(bool take_snapshots = true);
    // A new start forgets the values of the last run.
    void panel_reset();
    // A press on one of the panel's hits; false when the hit is not the panel's.
    bool panel_click(const Hit& h);
    // Prompts and jumps of the panel (app_panel_edit.cpp): "var", "stack",
    // "bp_go" lead into the binary view, "reg" asks for a new value.
    bool panel_value_click(const Hit& h);
    void panel_goto(uint64_t run_addr);
    void reg_edit(const std::string& name);
    void cmd_watch_add();
    // The wheel over the panel; false when it was not over it.
    bool panel_wheel(double x, double y, double dy);
    bool panel_live() const;
    Doc* panel_image_doc() const;
    bool watch_eval(const std::string& expr, uint64_t* value, uint64_t* addr, int* size, std::string* err);
    void snapshot_watches();
    // The hardware watchpoints the stopping watches ask for (at most four).
    // `index`, when given, receives the watch list's index of each one.
    std::vector<dbg::Process::Watch> watch_points(std::vector<int>* index = nullptr);
    // Cycles the mode of watch i; an empty text when it changed, else the error.
    std::function<std::string()> watch_cycle(int i);
    uint64_t operand_address(const dis::Operand& op);
    bool operand_value(const dis::Operand& op, uint64_t* value, uint64_t* addr);
    std::string operand_values(uint64_t addr);
    std::string pointee(uint64_t v);
    std::string flag_tip(const std::string& abbr, int now, int prev, bool clickable);
    std::string reg_tip(const std::string& name, uint64_t v);
    std::string symbol_tip(const std::string& name);

    std::vector<uint64_t> m_watch_prev, m_watch_now;
    std::vector<bool> m_watch_ok_prev, m_watch_ok_now;
    std::vector<int> m_watch_size; // bytes of each watched memory place now, 0 for a plain value
    // Watch i's value as the panel shows it: every byte of a memory place.
    std::string watch_value_text(size_t i) const;
    std::set<std::string> m_used_regs;  // registers the instruction at the pc uses
    std::vector<uint64_t> m_sym_starts; // run-time symbol addresses, sorted, for pointee
    double m_right_scroll = 0;
    double m_right_content = 0;
    std::vector<std::string> m_reg_hit_names; // n-th "reg" hit
    std::vector<uint64_t> m_var_addrs;        // n-th "var" hit
    std::vector<std::string> m_var_tips;      // by variable, taken at the stop
    std::vector<uint64_t> m_bp_addrs;         // n-th "bp_go" / "bp_del" hit
    struct StackSlot {
        uint64_t v = 0;
        std::string sym;
        bool changed = false;
    };
    std::vector<StackSlot> m_stack_slots; // from the stack pointer, taken at the stop
    uint64_t m_stack_lo = 0, m_stack_hi = 0;
    const BinImage* m_sym_img = nullptr; // what m_sym_starts was built from
    size_t m_sym_count = 0;
    uint64_t m_sym_bias = 0;
    // ---- end ----
    // ---- attaching ----
    // Attaching to a running program from the window (app_attach.cpp).
    void cmd_attach();
    void attach_entered(const std::string& text);
    bool attach_pending() const;
    // One loop turn's look at an attach that waits for its stop.
    void poll_attach();
    void reset_session_views();
    void attached(Doc* d);
    void attach_refused(const attach::Result& r);

    uint64_t m_attach_doc = 0; // id of the document an attach waits for; 0: none
    int m_attach_pid = -1;
    std::string m_attach_exe;
    bool m_attach_fresh = false; // its document was opened for the attach
    // ---- settings, language, sandbox hints and links ----
    friend struct SetProbe; // the tests of these dialogs
    // The Settings dialog (app_settings.cpp, app_settings_paint.cpp).
    void settings_opened();
    // Takes the background probes' answers for the found tools.
    void settings_take_answers();
    bool settings_key(const SDL_Keysym& k);
    bool settings_text(const char* utf8);
    bool settings_click(const Hit& h, double x);
    void settings_wheel(double dy);
    void settings_picked(int field, const std::string& path);
    std::string tools_install_command() const;
    void paint_settings(cairo_t* cr, double x, double y, double w, double h);
    void paint_path_field(cairo_t* cr, int i, double fx, double fy, double fw);
    double paint_tool_row(cairo_t* cr, int i, double cx, double ry, double cw);

    TextField m_set_field[3];
    int m_set_focus = -1;
    double m_set_scroll = 0, m_set_content_h = 0, m_set_view_h = 0;
    std::string m_tool_found[3];
    std::string m_tool_ver[3];
    bool m_tool_waiting[3] = { false, false, false }; // version still being probed
    bool m_crt32 = false;
    bool m_crt32_waiting = false;
    std::string m_tool_auto[2]; // what automatic search finds for nasm and ld, for the placeholders

    // The Language dialog (app_language.cpp).
    void lang_opened();
    std::vector<int> lang_filtered() const;
    bool lang_key(const SDL_Keysym& k);
    bool lang_text(const char* utf8);
    bool lang_click(const Hit& h);
    void lang_escape();
    void lang_wheel(double dy);
    void pick_language(int i);
    void paint_language(cairo_t* cr, double x, double y, double w, double h);

    TextField m_lang_filter;
    int m_lang_sel = 0;
    int m_lang_scroll = 0;
    int m_lang_cols = 1;
    bool m_lang_center = false;

    // Sandbox hints and links (app_links.cpp).
    void show_snap_hint(const std::string& text, const std::string& command, bool website);
    bool snap_file_hint(const std::string& path);
    // Opens a web or mail link with the desktop's opener; when nothing can
    // open it, a dialog shows it for copying. True when an opener started.
    bool open_url(const char* url);
    void show_url_to_copy(const std::string& url);
    // Links whose opener ended in failure since the last turn.
    void poll_links();
    // ---- end ----
};
