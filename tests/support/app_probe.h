#pragma once
// The tests' view of the application object's inside. App names this
// struct its friend; nothing in the program uses it.
#include "app.h"

#include <array>

struct AppProbe {
    static Settings& settings(App& a) { return a.m_settings; }
    static const std::vector<Hit>& hits(App& a) { return a.m_hits; }
    // The hits of one id, in painting order.
    static std::vector<Hit> hits_of(App& a, const std::string& id)
    {
        std::vector<Hit> out;
        for (const Hit& h : a.m_hits)
            if (h.id == id)
                out.push_back(h);
        return out;
    }
    static const std::vector<std::unique_ptr<Doc>>& docs(App& a) { return a.m_docs; }
    static bool dirty(App& a) { return a.m_dirty; }
    static SDL_Window* window(App& a) { return a.m_win; }
    static SDL_Texture* texture(App& a) { return a.m_tex; }
    static cairo_surface_t* surface(App& a) { return a.m_surf; }
    static const Palette& palette(App& a) { return a.m_pal; }
    static Doc& blank_source(App& a) { return *a.m_blank_s; }
    static Doc* front(App& a) { return a.shown_doc(); }
    static bool shows_placeholder(App& a) { return a.is_placeholder(a.shown_doc()); }
    static App::Modal modal(App& a) { return a.m_modal; }
    static int format_runs(App& a) { return a.m_fmt_runs; }
    static std::string format_text(App& a) { return a.format_text(); }

    static Doc* new_doc(App& a, bool bin) { return a.new_doc(bin); }
    static void activate(App& a, Doc* d) { a.activate(d); }
    static void close_doc(App& a, Doc* d, bool confirmed) { a.close_doc(d, confirmed); }
    static Doc* find_doc(App& a, const std::string& p, bool bin) { return a.find_doc(p, bin); }
    static void keep_tabs(App& a, std::vector<std::string> t) { a.m_kept_tabs = std::move(t); }
    static void show_modal(App& a, App::Modal m) { a.show_modal(m); }
    static void close_modal(App& a) { a.close_modal(); }
    static void text_input(App& a, const char* s) { a.text_input(s); }
    static void mouse_move(App& a, double x, double y) { a.mouse_move(x, y); }
    static void wheel(App& a, double x, double y, double dy) { a.wheel(x, y, dy); }
    static const Hit* hit_at(App& a, double x, double y) { return a.hit_at(x, y); }
    static bool init_window(App& a) { return a.init_window(); }
    static void shutdown_window(App& a) { a.shutdown_window(); }
    static void drop_texture(App& a)
    {
        SDL_DestroyTexture(a.m_tex);
        a.m_tex = nullptr;
    }
    static const std::string& parent_handle(App& a) { return a.m_parent_handle; }
    static void run_script(App& a, const std::string& s) { a.run_script(s); }
    static const Console& console(App& a) { return a.m_con; }
    static void open_find(App& a)
    {
        a.m_find_open = true;
        a.m_replace_open = true;
        a.m_find.set("mov");
        a.m_focus = App::Focus::Find;
    }
    static void cmd_quit(App& a) { a.cmd_quit(); }
    static bool quitting(App& a) { return a.m_quit; }
    static void key(App& a, SDL_Keycode sym, Uint16 mod = KMOD_NONE)
    {
        SDL_Keysym k{};
        k.sym = sym;
        k.scancode = SDL_GetScancodeFromKey(sym);
        k.mod = mod;
        a.key_down(k);
    }
    static const std::string& status(App& a) { return a.m_status; }
    static void start_theme_query(App& a) { a.start_theme_query(); }
    static void poll_theme_query(App& a, int wait_ms) { a.poll_theme_query(wait_ms); }
    static bool theme_query_open(App& a) { return a.m_theme_query != nullptr; }
    static void set_theme(App& a, bool system_dark) { a.m_system_dark = system_dark; a.update_theme(); }

    // One frame at the logical size W x H. Without a window it is painted
    // into the image surface only.
    static void paint(App& a, double W, double H)
    {
        if (!a.m_win) {
            a.m_ww = W;
            a.m_wh = H;
            a.m_k = 1.0;
        }
        a.paint();
    }
    // ---- binary documents ----
    static bool load_binary(App& a, const std::string& path) { return a.load_binary(path, false, false); }
    static Doc* binary(App& a) { return a.m_b; }
    using BinAsk = App::BinAsk;
    static BinAsk bin_ask(App& a) { return a.m_bin_ask; }
    static bool poll_binary(App& a) { return a.poll_binary(); }
    static void cmd_disassemble(App& a) { a.cmd_disassemble(); }
    static bool disassembling(App& a) { return a.m_dis != nullptr; }
    static bool searching(App& a) { return a.m_bin_search != nullptr; }
    static bool status_err(App& a) { return a.m_status_err; }
    static void show_find_for_binary(App& a)
    {
        a.bin_open_find();
        a.m_find.set("");
    }
    // ---- end ----

    // ---- side panel and watches
    static dbg::Process& proc(App& a) { return a.m_proc; }
    static void set_debugged(App& a, Doc* src, Doc* bin)
    {
        a.m_dsrc = src;
        a.m_dbin = bin;
        a.m_s = src;
        a.m_b = bin;
    }
    static void panel_on_stop(App& a) { a.panel_on_stop(); }
    static void paint_right(App& a, cairo_t* cr, double x, double y, double w, double h)
    {
        a.m_hits.clear();
        a.paint_right(cr, x, y, w, h);
    }
    static bool panel_click(App& a, const Hit& h) { return a.panel_click(h); }
    static bool panel_wheel(App& a, double x, double y, double dy) { return a.panel_wheel(x, y, dy); }
    static const std::vector<uint64_t>& bp_addrs(App& a) { return a.m_bp_addrs; }
    static const std::vector<std::string>& reg_hit_names(App& a) { return a.m_reg_hit_names; }
    static const std::vector<uint64_t>& var_addrs(App& a) { return a.m_var_addrs; }
    static double right_scroll(App& a) { return a.m_right_scroll; }
    static double right_content(App& a) { return a.m_right_content; }
    static double right_x(App& a) { return a.m_right_x; }
    static bool watch_eval(App& a, const std::string& e, uint64_t* v, uint64_t* addr, int* size, std::string* err)
    {
        return a.watch_eval(e, v, addr, size, err);
    }
    static void snapshot_watches(App& a) { a.snapshot_watches(); }
    static std::string watch_value_text(App& a, size_t i) { return a.watch_value_text(i); }
    static std::string watch_cycle(App& a, int i)
    {
        std::function<std::string()> refused = a.watch_cycle(i);
        return refused ? refused() : std::string();
    }
    static std::vector<dbg::Process::Watch> watch_points(App& a) { return a.watch_points(); }
    static std::string operand_values(App& a, uint64_t addr) { return a.operand_values(addr); }
    static std::string pointee(App& a, uint64_t v) { return a.pointee(v); }
    static std::string flag_tip(App& a, const std::string& f, int now, int prev, bool click)
    {
        return a.flag_tip(f, now, prev, click);
    }
    static std::string reg_tip(App& a, const std::string& name, uint64_t v) { return a.reg_tip(name, v); }
    static std::string symbol_tip(App& a, const std::string& name) { return a.symbol_tip(name); }
    static bool write_png(App& a, const std::string& path, std::string* why) { return gfx::write_png(a.m_surf, path, why); }

    // ---- prompts, dialogs, files and recovery ----
    static const std::string& dlg_title(App& a) { return a.m_dlg_title; }
    static const std::string& dlg_text(App& a) { return a.m_dlg_text; }
    static const std::string& dlg_label(App& a) { return a.m_dlg_label; }
    static TextField& dlg_field(App& a) { return a.m_dlg_field; }
    static std::vector<std::string> dlg_buttons(App& a)
    {
        std::vector<std::string> out;
        for (const auto& b : a.m_dlg_buttons)
            out.push_back(b.label + (b.primary ? "*" : ""));
        return out;
    }
    static size_t dlg_queued(App& a) { return a.m_dlg_queue.size(); }
    static double& about_scroll(App& a) { return a.m_about_scroll; }
    static void show_message(App& a, const std::string& t, const std::string& x) { a.show_message(t, x); }
    static void show_prompt(App& a, const std::string& t, const std::string& l, const std::string& i,
                            std::function<void(const std::string&)> ok)
    {
        a.show_prompt(t, l, i, std::move(ok));
    }
    static void show_confirm(App& a, const std::string& t, const std::string& x,
                             std::vector<std::pair<std::string, std::function<void()>>> buttons)
    {
        std::vector<App::DlgButton> b;
        for (auto& [label, act] : buttons)
            b.push_back(App::DlgButton{ label, act, b.empty() });
        a.show_confirm(t, x, std::move(b));
    }
    // Paints a frame and clicks the middle of the hit with this id and n;
    // false when the frame has no such hit.
    static bool click(App& a, const std::string& id, int n = 0, double W = 1280, double H = 800)
    {
        paint(a, W, H);
        for (const Hit& h : a.m_hits)
            if (h.id == id && h.n == n) {
                a.mouse_down(h.x + h.w / 2, h.y + h.h / 2, SDL_BUTTON_LEFT, 1);
                a.mouse_up(h.x + h.w / 2, h.y + h.h / 2);
                return true;
            }
        return false;
    }
    static void msg(App& a, const std::string& t, int kind, int line) { a.msg(t, kind, line); }
    static void copy(App& a, const std::string& t) { a.copy(t); }
    static const std::vector<std::pair<std::string, int>>& msgs(App& a) { return a.m_msgs; }
    static const std::vector<int>& msg_lines(App& a) { return a.m_msg_line_of; }
    static App::FileOp file_op(App& a) { return a.m_file_op; }
    // Ends a file operation's path prompt or dialog without an answer.
    static void cancel_file_op(App& a)
    {
        a.m_file_op = App::FileOp::None;
        while (a.m_modal != App::Modal::None)
            a.close_modal();
    }
    static void cmd_new(App& a) { a.cmd_new(); }
    static void cmd_open(App& a) { a.cmd_open(); }
    static void cmd_open_binary(App& a) { a.cmd_open_binary(); }
    static void cmd_save(App& a, std::function<void()> then = nullptr) { a.cmd_save(std::move(then)); }
    static void cmd_save_as(App& a, std::function<void()> then = nullptr) { a.cmd_save_as(std::move(then)); }
    static void cmd_save_binary(App& a, bool as, bool confirmed) { a.cmd_save_binary(as, confirmed); }
    static void confirm_discard(App& a, std::function<void()> then) { a.confirm_discard(std::move(then)); }
    static void poll_file_dialog(App& a) { a.poll_file_dialog(); }
    static void open_any(App& a, const std::string& p) { a.open_any(p); }
    static Doc* source(App& a) { return a.m_s; }
    static bool debugging(App& a) { return a.m_proc.alive(); }
    // The next loop turn's autosave, as if two seconds had passed.
    static void autosave(App& a)
    {
        a.m_autosave_t = SDL_GetTicks() - 2001;
        a.autosave_tick();
        a.finish_autosave(true);
    }
    static void restore_recovered(App& a) { a.restore_recovered(); }
    static std::string recovery_name(App& a, const Doc* d) { return a.recovery_name(d); }
    static void store_file_state(App& a, Doc* d) { a.store_file_state(d); }
    static void apply_file_state(App& a, Doc* d) { a.apply_file_state(d); }
    static void store_all_file_state(App& a) { a.store_all_file_state(); }
    static void save_now(App& a) { a.save_now(); }
    static void open_start_documents(App& a, const std::vector<std::string>& f) { a.open_start_documents(f); }
    static void window_timers(App& a, Uint32 now) { a.window_timers(now); }
    // Handles the window's waiting events as the main loop does.
    static void pump(App& a)
    {
        SDL_Event e;
        while (SDL_PollEvent(&e))
            a.handle(e);
    }
    // ---- keys, text and mouse ----
    static void key_mod(App& a, SDL_Keycode sym, Uint16 mod) { key(a, sym, mod); }
    static void mouse_down(App& a, double x, double y, int button = SDL_BUTTON_LEFT, int clicks = 1)
    {
        a.mouse_down(x, y, button, clicks);
    }
    static void mouse_up(App& a, double x, double y) { a.mouse_up(x, y); }
    static void set_modal(App& a, App::Modal m) { a.m_modal = m; }
    static void open_menu_rows(App& a, int menu, std::vector<App::MenuItem> rows)
    {
        a.m_menu = menu;
        a.m_menu_list = std::move(rows);
        a.m_menu_hover = -1;
    }
    static int menu_hover(App& a) { return a.m_menu_hover; }
    static App::Focus& focus(App& a) { return a.m_focus; }
    static std::vector<std::string>& completion(App& a) { return a.m_ac; }
    static int completion_sel(App& a) { return a.m_ac_sel; }
    static TextField& find_field(App& a) { return a.m_find; }
    static bool find_open(App& a) { return a.m_find_open; }
    static TextField& prog_in(App& a) { return a.m_prog_in; }
    static dbg::Process& process(App& a) { return a.m_proc; }
    static Doc*& debugged_binary(App& a) { return a.m_dbin; }
    static const std::vector<std::pair<std::string, int>>& prog_lines(App& a) { return a.m_prog; }
    static const std::string& tip(App& a) { return a.m_tip; }
    static const std::string& hover(App& a) { return a.m_hover; }
    static void set_tip(App& a, const std::string& t) { a.m_tip = t; }
    static int cursor_kind(App& a) { return a.m_cursor_kind; }
    static App::Drag drag(App& a) { return a.m_drag; }
    static int menu(App& a) { return a.m_menu; }
    static void handle(App& a, const SDL_Event& e) { a.handle(e); }
    static bool building(App& a) { return a.building(); }
    static void cmd_build(App& a) { a.cmd_build({}); }
    static void debug_tick(App& a) { a.debug_tick(); }
    static void attach_refused(App& a, const attach::Result& r) { a.attach_refused(r); }
    // ---- end ----
    // ---- menus ----
    static const std::vector<App::MenuItem>& menu_list(App& a) { return a.m_menu_list; }
    static std::vector<App::MenuItem> menu_items(App& a, int n) { return a.menu_items(n); }
    static void open_menu(App& a, int n) { a.open_menu(n); }
    static void ed_context(App& a, double x, double y) { a.ed_context(x, y); }
    static void bin_context(App& a, double x, double y) { a.bin_context(x, y); }
    static void open_context(App& a, std::vector<App::MenuItem> rows, double x, double y)
    {
        a.open_context(std::move(rows), x, y);
    }
    static double menu_scroll(App& a) { return a.m_menu_scroll; }
    static bool replace_open(App& a) { return a.m_replace_open; }
    static TextField& converter_field(App& a) { return a.m_conv; }
    // The completion list as last painted: x, y, width, height.
    static std::array<double, 4> completion_box(App& a) { return { a.m_ac_x, a.m_ac_y, a.m_ac_w, a.m_ac_h }; }
    // ---- end ----
    // ---- editing and navigation commands ----
    static void cmd_find(App& a, bool open) { a.cmd_find(open); }
    static bool find_step(App& a, bool forward, bool from_caret) { return a.find_step(forward, from_caret); }
    static void cmd_replace(App& a, bool all) { a.cmd_replace(all); }
    static TextField& replace_field(App& a) { return a.m_replace; }
    static void cmd_font(App& a, double step) { a.cmd_font(step); }
    static Uint32 save_at(App& a) { return a.m_save_at; }
    static void cmd_goto(App& a) { a.cmd_goto(); }
    static void cmd_goto_definition(App& a, const std::string& w, int line) { a.cmd_goto_definition(w, line); }
    static void cmd_references(App& a, const std::string& w, int line) { a.cmd_references(w, line); }
    static void cmd_rename(App& a, const std::string& w, int line) { a.cmd_rename(w, line); }
    static int msgs_top(App& a) { return a.m_msgs_top; }
    static void cmd_args(App& a) { a.cmd_args(); }
    static void set_raw_bits(App& a, int bits) { a.set_raw_bits(bits); }
    static void cmd_raw_base(App& a) { a.cmd_raw_base(); }
    static void set_status(App& a, const std::string& t, bool err)
    {
        a.m_status = t;
        a.m_status_err = err;
    }
    static void prompt_ok(App& a) { a.prompt_ok(); }
    // A source document with a path and text, in front.
    static Doc* add_source(App& a, const std::string& path, const std::string& text)
    {
        Doc* d = a.new_doc(false);
        d->path = path;
        d->ed.set_text(text);
        a.activate(d);
        return d;
    }
    // ---- end ----
    // ---- attaching and the panel's prompts ----
    static void cmd_attach(App& a) { a.cmd_attach(); }
    static bool attach_pending(App& a) { return a.attach_pending(); }
    static int main_tab(App& a) { return a.m_settings.main_tab; }
    static const std::vector<uint64_t>& watch_now(App& a) { return a.m_watch_now; }
    static const std::vector<bool>& watch_ok_now(App& a) { return a.m_watch_ok_now; }
    static void paint_blink(App& a) { a.paint_blink(); }
    static void set_caret_on(App& a, bool on) { a.m_caret_on = on; }
    static const int* blink_frames(App& a) { return a.m_blink_frames; }
    static SDL_Rect blink_box(App& a) { return a.m_blink_box; }
    // A frame without a window at a device scale.
    static void paint_scaled(App& a, double W, double H, double k)
    {
        a.m_ww = W;
        a.m_wh = H;
        a.m_k = k;
        a.paint();
    }
    static SDL_Renderer* renderer(App& a) { return a.m_ren; }
    // ---- end ----
};
