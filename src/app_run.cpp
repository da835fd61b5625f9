// Run control: starting a program plainly or under the debugger, continue,
// stop, steps by instruction or by source line, run to the caret and
// breakpoints; and the turn of the main loop that takes the debugger's
// events into the program pane, the editor, the console and the status.
#include "app.h"

#include "l10n.h"
#include "logger.h"
#include "paths.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <glib.h>

namespace {

// How long one loop turn may go on stepping before the window paints and
// takes input again.
constexpr int kStepBudgetMs = 30;
// Output lines the program pane keeps, and how many go when it is full.
constexpr size_t kMaxProgLines = 20000;
constexpr size_t kDropProgLines = 5000;
// A line of output longer than this is cut into rows of this many bytes.
constexpr size_t kMaxLineBytes = 2000;

std::string hexs(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

// The program's arguments as the shell would split one line: blanks and
// tabs separate, quotes group and are removed, a quoted empty word counts.
std::vector<std::string> split_args(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    bool have = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                cur += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            have = true;
        } else if (c == ' ' || c == '\t') {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

} // namespace

// Valid UTF-8 passes; every other byte and every control character but the
// tab is shown as \xNN.
std::string App::printable(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t') {
                char buf[8];
                snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else if (c == 0x7F) {
                out += "\\x7F";
            } else {
                out += char(c);
            }
            ++p;
            continue;
        }
        int len = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (len > 0 && end - p >= len && g_utf8_validate(p, len, nullptr)) {
            out.append(p, size_t(len));
            p += len;
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
            ++p;
        }
    }
    return out;
}

namespace {

uint64_t now_ms()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

Doc* App::target_src() const
{
    return m_proc.alive() && m_dsrc ? m_dsrc : m_s;
}

Doc* App::target_bin() const
{
    return m_proc.alive() && m_dbin ? m_dbin : m_b;
}

stepfx::Pointee App::pointee()
{
    return [this](uint64_t v) { return pointee(v); };
}

void App::prog_line(const std::string& text, int kind)
{
    m_prog.emplace_back(printable(text), kind);
    if (m_prog.size() > kMaxProgLines) {
        m_prog.erase(m_prog.begin(), m_prog.begin() + long(kDropProgLines));
        m_prog_top = std::max(0, m_prog_top - int(kDropProgLines));
    }
    m_dirty = true;
}

void App::add_output(const std::string& bytes)
{
    m_prog_partial += bytes;
    size_t at = 0;
    for (;;) {
        size_t nl = m_prog_partial.find('\n', at);
        if (nl == std::string::npos)
            break;
        std::string line = m_prog_partial.substr(at, nl - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        prog_line(line, 0);
        if (m_proc.traced())
            m_con.print(printable(line), Console::kProgram);
        at = nl + 1;
    }
    m_prog_partial.erase(0, at);
    // Output without line breaks is cut into rows of a bounded length, at
    // a character boundary.
    while (m_prog_partial.size() > kMaxLineBytes) {
        size_t cut = kMaxLineBytes;
        while (cut > 0 && (static_cast<unsigned char>(m_prog_partial[cut]) & 0xC0) == 0x80)
            --cut;
        if (cut == 0)
            cut = kMaxLineBytes;
        prog_line(m_prog_partial.substr(0, cut), 0);
        m_prog_partial.erase(0, cut);
    }
    if (!m_proc.traced())
        m_settings.bottom_tab = 1;
}

void App::start_program(bool trace)
{
    if (trace && std::string(paths::package_kind()) == "snap") {
        // Too long for the status line; the dialog links the other packages.
        show_snap_hint(L10n::tr("snap.debugger"), "", true);
        return;
    }
    if (m_settings.main_tab == 1 && !m_b->img.m_path.empty() && m_b->img.m_kind != BinImage::Elf32
        && m_b->img.m_kind != BinImage::Elf64) {
        BinImage::Kind k = m_b->img.m_kind;
        bool flat = k == BinImage::Raw || k == BinImage::Com;
        show_message(L10n::tr("run.bin_title"), L10n::tr(flat ? "run.bin_text" : "run.foreign_text"));
        return;
    }
    bool from_source = false;
    std::string path = target_path(&from_source);
    if (from_source) {
        if (is_placeholder(m_s))
            return;
        if (build_is_current())
            start_step(trace);
        else
            cmd_build([this, trace] { start_step(trace); });
        return;
    }
    if (!path.empty())
        start_step(trace);
}

void App::start_step(bool trace)
{
    bool from_source = false;
    std::string path = target_path(&from_source);
    if (path.empty())
        return;
    if (from_source && m_s->have_build && m_s->build.fmt == tc::Format::Bin) {
        show_message(L10n::tr("run.bin_title"), L10n::tr("run.bin_text"));
        return;
    }
    bool patched = false;
    if (m_b->img.m_dirty && m_b->img.m_path == path) {
        if (!m_run_overwrite_ok) {
            show_confirm(L10n::tr("dlg.overwrite_title"), L10n::tr("dlg.run_save_bin", path.c_str()),
                         { { L10n::tr("btn.save_run"),
                             [this, trace] {
                                 m_run_overwrite_ok = true;
                                 start_program(trace);
                             },
                             true },
                           { L10n::tr("btn.cancel"), nullptr, false } });
            return;
        }
        m_run_overwrite_ok = false;
        if (!m_b->img.save(path)) {
            show_message(L10n::tr("dlg.error"), L10n::tr("file.save_failed", path.c_str()));
            return;
        }
        patched = true;
    }
    m_run_overwrite_ok = false;
    m_debug_src = from_source;
    m_dsrc = from_source ? m_s : nullptr;
    m_dbin = find_doc(path, true);
    if (!m_dbin && load_binary(path, true, from_source))
        m_dbin = find_doc(path, true);
    set_live_target(m_dbin);

    reset_session_views();
    // After the pane was emptied for this run, which the line is about.
    if (patched)
        prog_line(L10n::tr("run.saved_patch", path.c_str()), 2);

    if (path[0] != '/') {
        if (char* real = realpath(path.c_str(), nullptr)) {
            path = real;
            free(real);
        }
    }
    std::string cwd = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    if (cwd.empty())
        cwd = "/";
    prog_line("$ " + path + (m_settings.args.empty() ? "" : " " + m_settings.args), 5);
    std::string err;
    if (m_proc.start(path, split_args(m_settings.args), cwd, trace, &err)) {
        logger::info(std::string(trace ? "debug " : "run ") + path + " pid " + std::to_string(m_proc.pid()));
        sync_bps();
        m_con.reset_state();
        if (trace) {
            m_settings.bottom_tab = 2;
            status_tr(false, "dbg.started");
        } else {
            m_settings.bottom_tab = 1;
            m_focus = Focus::ProgIn;
            status_tr(false, "run.started");
        }
    } else {
        prog_line(L10n::tr("run.start_failed", err), 1);
        status_tr(true, "run.start_failed", err);
        m_settings.bottom_tab = 1;
    }
    m_dirty = true;
}

void App::cmd_run()
{
    if (m_proc.alive()) {
        if (!m_proc.traced())
            return;
        cmd_stop();
        if (m_proc.alive())
            return;
    }
    start_program(false);
}

void App::cmd_debug()
{
    Doc* shown = shown_doc();
    bool ours = shown == m_dsrc || shown == m_dbin || is_placeholder(shown);
    if (m_proc.alive() && ours) {
        if (!live())
            return;
        sync_bps();
        stepfx::clear(m_fx); // the notes of the last steps belong to their stops
        m_steps_left = 0;
        m_stepping_line = false;
        m_proc.cont();
        m_settings.bottom_tab = 1;
        m_focus = Focus::ProgIn;
        status_tr(false, "dbg.running");
        m_dirty = true;
        return;
    }
    if (m_proc.alive()) {
        cmd_stop();
        m_dbin = m_dsrc = nullptr;
    }
    start_program(true);
}

void App::switch_debug_to_current()
{
    if (m_proc.alive())
        cmd_stop();
    m_dbin = m_dsrc = nullptr;
    start_program(true);
}

void App::cmd_stop()
{
    if (!m_proc.alive())
        return;
    if (stepping()) {
        // The first Stop ends a long step where it is; the program stays.
        m_stepping_line = false;
        m_steps_left = 0;
        status_tr(false, "dbg.stop_step");
        return;
    }
    bool attached = m_proc.attached();
    m_proc.kill();
    const char* key = attached ? "attach.detached" : "run.killed";
    std::string text = L10n::tr(key);
    prog_line(text, 2);
    if (m_dsrc)
        m_dsrc->ed.pc_line = -1;
    if (m_dbin)
        m_dbin->bv.program_ended();
    status_tr(false, key);
    m_dirty = true;
}

void App::cmd_step(int kind)
{
    if (!m_proc.alive()) {
        start_program(true);
        return;
    }
    Doc* shown = shown_doc();
    if (!(shown == m_dsrc || shown == m_dbin || is_placeholder(shown))) {
        cmd_stop();
        m_dbin = m_dsrc = nullptr;
        start_program(true);
        return;
    }
    if (!live())
        return;
    sync_bps();
    m_step_kind = kind;
    m_steps_left = 0;
    int line = m_settings.main_tab == 0 && m_debug_src ? line_of_addr(m_proc.pc()) : -1;
    if (line >= 0) {
        m_step_line = line;
        if (kind == 2) {
            m_stepping_line = false;
            stepfx::clear(m_fx);
            m_proc.step_out();
        } else {
            m_stepping_line = true;
            arm_step();
            if (kind == 0)
                m_proc.step();
            else
                m_proc.step_over();
        }
    } else {
        m_step_line = -1;
        m_stepping_line = false;
        do_step(kind);
    }
    m_dirty = true;
}

void App::do_step(int kind)
{
    if (kind == 2) {
        stepfx::clear(m_fx);
        m_proc.step_out();
    } else {
        arm_step();
        if (kind == 1)
            m_proc.step_over();
        else
            m_proc.step();
    }
}

void App::cmd_run_to_cursor()
{
    if (!live())
        return;
    uint64_t addr = 0;
    bool ok = false;
    if (m_settings.main_tab == 0) {
        ok = !is_placeholder(m_s) && addr_of_line(m_s->ed.caret().line, &addr);
    } else if (const dis::Insn* row = is_placeholder(m_b) ? nullptr : m_b->bv.selected_insn()) {
        if (run_to_bin_row(*m_b, row->addr))
            return;
    }
    if (!ok) {
        // Without an address to stop at the program is not let go.
        status_tr(true, "dbg.no_code_line");
        return;
    }
    sync_bps();
    stepfx::clear(m_fx);
    m_proc.run_to(addr);
    m_dirty = true;
}

bool App::run_to_bin_row(Doc& d, uint64_t row_addr)
{
    if (&d != m_dbin || !live())
        return false;
    sync_bps();
    stepfx::clear(m_fx);
    m_proc.run_to(d.bv.live() ? row_addr : to_run(row_addr));
    m_dirty = true;
    return true;
}

void App::cmd_toggle_bp()
{
    if (m_settings.main_tab == 1)
        return; // the binary view's selection toggles there
    if (is_placeholder(m_s))
        return;
    int line = m_s->ed.caret().line;
    auto& bps = m_s->ed.breakpoints;
    if (!bps.erase(line))
        bps.insert(line);
    queue_save();
    sync_bps();
    m_dirty = true;
}

void App::sync_bps()
{
    if (!m_proc.alive())
        return;
    // Documents keep file addresses; only the engine sees run-time ones.
    m_proc.clear_bps();
    Doc* src = target_src();
    if (m_debug_src && src)
        for (int line : src->ed.breakpoints) {
            uint64_t a = 0;
            if (addr_of_line(line, &a))
                m_proc.set_bp(a);
        }
    if (Doc* bin = target_bin())
        for (uint64_t a : bin->bps)
            m_proc.set_bp(to_run(a));
    m_proc.set_watches(watch_points(&m_watch_slot));
}

void App::poll_process()
{
    if (m_proc.state() == dbg::State::Idle)
        return;
    // Steps that continue a line step or a counted step are taken in a
    // batch, as many as fit in one turn's budget.
    uint64_t t0 = now_ms();
    std::vector<dbg::Event> ev;
    for (;;) {
        ev.clear();
        bool again = m_restep;
        m_restep = false;
        m_proc.wait(&ev, again ? 5 : 0);
        for (const dbg::Event& e : ev) {
            switch (e.kind) {
            case dbg::Event::Stopped: on_stopped(e); break;
            case dbg::Event::Exited: on_exited(e); break;
            case dbg::Event::Output: add_output(e.text); break;
            }
            m_dirty = true;
        }
        if (!m_restep || now_ms() - t0 >= uint64_t(kStepBudgetMs))
            break;
    }
    // A step that goes on past this turn says so; Shift+F5 ends it.
    if (m_restep && stepping() && m_status != L10n::tr("dbg.running")) {
        status_tr(false, "dbg.running");
        m_dirty = true;
    }
}

void App::on_stopped(const dbg::Event& e)
{
    const std::string& why = e.text;
    bool step = why == "step";
    if (m_fx.armed && (step || why == "trap" || why == "breakpoint"))
        record_effect();
    stepfx::disarm(m_fx);

    if (step && m_stepping_line) {
        if (line_of_addr(m_proc.pc()) == m_step_line) {
            do_step(m_step_kind);
            m_restep = true;
            return;
        }
        m_stepping_line = false;
    }
    bool shown_state = false;
    if ((step || why == "trap") && m_steps_left > 0) {
        snapshot_regs();
        snapshot_memory();
        m_con.show_state();
        shown_state = true;
        if (--m_steps_left > 0) {
            do_step(m_step_kind);
            m_restep = true;
            return;
        }
    }
    m_stepping_line = false;
    m_steps_left = 0;
    if (!shown_state) {
        snapshot_regs();
        snapshot_memory();
    }
    panel_on_stop(false);
    if (m_dsrc)
        m_s = m_dsrc;
    if (m_dbin)
        m_b = m_dbin;
    int line = line_of_addr(m_proc.pc());
    if (!is_placeholder(m_s) && m_debug_src) {
        m_s->ed.pc_line = line;
        if (line >= 0 && m_settings.main_tab == 0)
            m_s->ed.goto_line(line, true);
    }
    if (line < 0 && m_debug_src && m_settings.main_tab == 0 && why != "entry" && !is_placeholder(m_b)) {
        m_settings.main_tab = 1;
        m_focus = Focus::Bin;
    }
    m_b->bv.program_stopped();
    m_con.reset_positions();

    std::function<std::string()> again;
    bool err = false;
    if (why == "entry")
        again = [] { return L10n::tr("dbg.stop_entry"); };
    else if (why == "breakpoint")
        again = [] { return L10n::tr("dbg.stop_bp"); };
    else if (step || why == "trap")
        again = [] { return L10n::tr("dbg.stop_step"); };
    else if (why.rfind("signal:", 0) == 0) {
        again = [name = why.substr(7)] { return L10n::tr("dbg.stop_signal", name); };
        err = true;
        m_con.print(again(), Console::kError);
    } else if (why.rfind("watch:", 0) == 0) {
        int n = atoi(why.c_str() + 6);
        std::string expr = "?";
        if (n >= 0 && size_t(n) < m_watch_slot.size()) {
            int i = m_watch_slot[size_t(n)];
            if (i >= 0 && size_t(i) < m_settings.watches.size() && !m_settings.watches[size_t(i)].empty())
                expr = m_settings.watches[size_t(i)].substr(1);
        }
        again = [expr] { return L10n::tr("dbg.stop_watch", expr); };
        m_con.print(again(), Console::kError);
    } else {
        again = [why] { return why; };
    }
    status([again, at = hexs(m_proc.pc())] { return again() + " \xE2\x80\x94 " + at; }, err);
    if (!shown_state)
        m_con.show_state();
    m_con_follow = true;
    m_settings.bottom_tab = 2;
    if (m_focus == Focus::ProgIn)
        m_focus = m_settings.main_tab == 1 ? Focus::Bin : Focus::Editor;
    m_dirty = true;
}

void App::on_exited(const dbg::Event& e)
{
    if (!m_prog_partial.empty()) {
        prog_line(m_prog_partial, 0);
        m_prog_partial.clear();
    }
    bool by_signal = e.text.rfind("signal:", 0) == 0;
    auto again = [by_signal, name = by_signal ? e.text.substr(7) : std::string(), code = e.code] {
        return by_signal ? L10n::tr("run.exited_signal", name) : L10n::tr("run.exited", code);
    };
    std::string text = again();
    prog_line(text, e.code == 0 ? 3 : 1);
    if (m_proc.traced())
        m_con.print(text, e.code == 0 ? Console::kNotice : Console::kError);
    m_settings.bottom_tab = 1;
    status(again, e.code != 0);
    // The marker belongs to the debugged source, wherever the tabs are now.
    if (m_dsrc)
        m_dsrc->ed.pc_line = -1;
    m_steps_left = 0;
    m_stepping_line = false;
    m_restep = false;
    m_snap.mem_snap.clear();
    m_snap.mem_changed.clear();
    if (Doc* b = m_dbin ? m_dbin : m_b)
        b->bv.program_ended();
    m_prog_follow = true;
    m_dirty = true;
}

// A new debugging session starts with empty program output, no pending
// steps and no effects or panel state of the one before.
void App::reset_session_views()
{
    m_prog.clear();
    m_prog_partial.clear();
    m_prog_follow = true;
    m_prog_top = 0;
    m_steps_left = 0;
    m_stepping_line = false;
    m_snap = stepfx::Snapshot{};
    panel_reset();
    stepfx::clear(m_fx);
}
