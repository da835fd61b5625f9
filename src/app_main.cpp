// The application object: its defaults, the start and end of a window run,
// the main loop and the dispatch of window events.
#include "app.h"

#include "con.h"
#include "l10n.h"
#include "logger.h"
#include "needs.h"
#include "paths.h"
#include "qxcrash.h"
#include "toolprobe.h"
#include "x11_title.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM end the loop; the run then ends as after a quit.
volatile sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int sig)
{
    g_stop_signal = sig;
}

struct StopSignals {
    struct sigaction old_int {}, old_term {};
    StopSignals()
    {
        g_stop_signal = 0;
        struct sigaction sa {};
        sa.sa_handler = on_stop_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &old_int);
        sigaction(SIGTERM, &sa, &old_term);
    }
    ~StopSignals()
    {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGTERM, &old_term, nullptr);
    }
};

// Taken when the program is loaded, for the start-up time in the log.
const auto g_loaded = std::chrono::steady_clock::now();

// Events handled before the next frame is painted, so that a flood of
// input never starves the screen, nor painting the input.
constexpr int kEventBatch = 64;

} // namespace

App::App()
{
    m_blank_s = std::make_unique<Doc>();
    m_blank_b = std::make_unique<Doc>();
    m_blank_b->bin = true;
    wire_binary(m_blank_b.get());
    m_s = m_blank_s.get();
    m_b = m_blank_b.get();
    m_pal = Palette::make(false);
    m_replace.mono = true;
}

App::~App()
{
    // A frame painted without a window (tests, benchmarks) leaves its image
    // behind; a window's end has taken it already.
    if (m_surf)
        cairo_surface_destroy(m_surf);
}

int App::run(const std::vector<std::string>& files)
{
    m_settings.load(paths::config_dir() + "/settings.dat");
    m_find.set(m_settings.find_text);
    m_replace.set(m_settings.replace_text);
    if (m_settings.language != "auto")
        L10n::setLanguage(m_settings.language);

    StopSignals signals;
    if (!init_window()) {
        fprintf(stderr, "qxFerndockAssemblerIDE: cannot open the window: %s\n", SDL_GetError());
        // The same clean end as a quit, so the next start keeps its language;
        // the settings stay as they were.
        shutdown_window();
        L10n::cleanExit();
        return 1;
    }
    start_theme_query();
    update_theme();

    open_start_documents(files);
    restore_recovered();
    // A desktop that answers at once decides the first frame's theme; a
    // slow one is waited for only this briefly and may switch it later.
    poll_theme_query(150);

    apply_geometry();
    SDL_ShowWindow(m_win);
    x11_plain_title(m_win, "qxFerndockAssemblerIDE");
    m_shown = true;
    SDL_StartTextInput();
    update_scale();

    tc::set_tool_path("nasm", m_settings.nasm_path);
    tc::set_tool_path("ld", m_settings.ld_path);
    if (!tc::find_tool("nasm").empty()) {
        msg(L10n::tr("msg.ready"), 5, 0);
    } else {
        // Commands to type are lines that begin with four blanks.
        for (const std::string& line : needs::explain({ "nasm" }))
            msg(line, line.compare(0, 4, "    ") == 0 ? 4 : 1, 0);
        cmd_settings();
    }
    if (qxcrash::pending(nullptr))
        show_modal(Modal::Crash);
    m_con.print(L10n::tr("con.welcome"), Console::kNotice);
    if (!reference.empty())
        cmd_reference(reference[0] == '@' ? "" : reference, reference[0] == '@' ? reference.substr(1) : "");
    if (!script.empty())
        run_script(script);

    m_start = SDL_GetTicks();
    if (!m_quit)
        loop();
    return end_run(m_exit);
}

void App::open_start_documents(const std::vector<std::string>& files)
{
    std::vector<std::string> tabs = m_settings.open_tabs;
    int active = m_settings.active_tab;
    if (tabs.empty()) {
        if (!m_settings.source.empty())
            tabs.push_back("s:" + m_settings.source);
        if (!m_settings.binary.empty())
            tabs.push_back("b:" + m_settings.binary);
        active = 0;
    }
    if (!files.empty()) {
        // The remembered tabs stay remembered for the next start; the files
        // of this start are added to them.
        m_kept_tabs = tabs;
        m_kept_active = active;
        for (const std::string& f : files)
            open_any(absolute_path(f));
        return;
    }
    auto cut_ext = [](const std::string& p) {
        size_t dot = p.rfind('.');
        size_t slash = p.rfind('/');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
            return p;
        return p.substr(0, dot);
    };
    Doc* front = nullptr;
    for (size_t i = 0; i < tabs.size(); ++i) {
        const std::string& entry = tabs[i];
        if (entry.size() <= 2)
            continue;
        std::string path = entry.substr(2);
        if (access(path.c_str(), R_OK) != 0)
            continue;
        if (entry[0] == 'b') {
            bool hidden = false;
            for (const std::string& other : tabs)
                if (other.size() > 2 && other[0] == 's' && cut_ext(other.substr(2)) == path)
                    hidden = true;
            load_binary(path, true, hidden);
        } else {
            open_any(path);
        }
        if (int(i) == active && !m_docs.empty())
            front = m_docs.back().get();
    }
    if (m_docs.empty())
        cmd_open_example();
    else
        activate(front ? front : m_docs.front().get());
}

void App::loop()
{
    bool said_started = false;
    for (;;) {
        bool fast = m_proc.state() == dbg::State::Running || m_file_op != FileOp::None
                    || m_theme_query != nullptr || binary_busy() || toolprobe::busy();
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, debug_wait_ms(fast ? 15 : 100))) {
            handle(e);
            for (int n = 1; n < kEventBatch && SDL_PollEvent(&e); ++n)
                handle(e);
        }
        if (g_stop_signal) {
            logger::info(g_stop_signal == SIGINT ? "interrupted" : "terminated");
            m_quit = true;
        }
        poll_theme_query();
        poll_file_dialog();
        autosave_tick();
        debug_tick();
        poll_binary();
        poll_format();
        poll_links();
        if (toolprobe::generation() != m_probe_gen) {
            m_probe_gen = toolprobe::generation();
            m_dirty = true;
        }

        Uint32 now = SDL_GetTicks();
        if (now - m_caret_t > 530) {
            // Only a caret on screen needs the blink's frames.
            m_caret_t = now;
            if (caret_shown()) {
                m_caret_on = !m_caret_on;
                m_blink = true;
            } else {
                m_caret_on = true;
            }
        }
        window_timers(now);
        if (!said_started && now - m_start > 4000) {
            said_started = true;
            L10n::startupSucceeded();
        }
        if (!m_dirty && m_blink)
            paint_blink();
        if (m_dirty) {
            paint();
            if (!m_painted_once) {
                m_painted_once = true;
                auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                                - g_loaded);
                logger::info("first frame after " + std::to_string(ms.count()) + " ms");
            }
        }
        if (!screenshot.empty() && !m_quit && now - m_start > 600) {
            paint();
            if (!write_screenshot())
                m_exit = 1;
            screenshot.clear();
            m_quit_warned = true; // a picture is not a reason to ask
            cmd_quit();
        }
        if (m_quit)
            break;
    }
}

void App::window_timers(Uint32 now)
{
    if (m_frame_check_at != 0 && now >= m_frame_check_at)
        measure_frame();
    if (m_settle_at != 0 && now >= m_settle_at) {
        // A graphics driver may draw the first frame after the window
        // manager placed or sized the window into a buffer of the old size;
        // one more whole frame once it is quiet puts it right.
        m_settle_at = 0;
        m_dirty = true;
    }
    if (m_save_at != 0 && now >= m_save_at && m_frame_known)
        save_now();
}

int App::end_run(int code)
{
    m_proc.kill();
    finish_autosave(true);
    for (auto& d : m_docs)
        if (!d->ed.modified() && !d->rec_file.empty())
            files::remove(d->rec_file);
    save_now();
    L10n::cleanExit();
    shutdown_window();
    end_disassemble();
    return code;
}

void App::queue_save()
{
    m_save_at = SDL_GetTicks() + 600;
}

void App::save_now()
{
    m_save_at = 0;
    remember_geometry();
    store_all_file_state();
    if (!m_settings.save()) {
        logger::warn("settings could not be written");
        write_failed(m_settings_fail_said, "settings.write_failed", m_settings.m_path);
    } else {
        m_settings_fail_said = false;
    }
}

void App::show_modal(Modal m)
{
    PendingDlg p;
    p.kind = m;
    open_dialog(std::move(p));
}

void App::close_modal()
{
    m_lang_back = false;
    m_modal = Modal::None;
    m_dlg_ok = nullptr;
    m_dirty = true;
    next_dialog();
}

void App::handle(const SDL_Event& e)
{
    Uint32 now = SDL_GetTicks();
    switch (e.type) {
    case SDL_QUIT:
        cmd_quit();
        break;
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_MAXIMIZED:
        case SDL_WINDOWEVENT_RESTORED:
            m_save_at = now + 600;
            m_settle_at = now + kSettleMs;
            break;
        case SDL_WINDOWEVENT_RESIZED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            update_scale();
            m_save_at = now + 600;
            m_settle_at = now + kSettleMs;
            break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED:
            m_settle_at = now + kSettleMs;
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            start_theme_query();
            break;
        default:
            break;
        }
        m_dirty = true;
        break;
    case SDL_KEYDOWN:
        key_down(e.key.keysym);
        break;
    case SDL_TEXTINPUT:
        text_input(e.text.text);
        break;
    case SDL_MOUSEMOTION:
        mouse_move(e.motion.x / m_in_k, e.motion.y / m_in_k);
        break;
    case SDL_MOUSEBUTTONDOWN:
        mouse_down(e.button.x / m_in_k, e.button.y / m_in_k, e.button.button, e.button.clicks);
        break;
    case SDL_MOUSEBUTTONUP:
        mouse_up(e.button.x / m_in_k, e.button.y / m_in_k);
        break;
    case SDL_MOUSEWHEEL: {
        int mx = 0, my = 0;
        SDL_GetMouseState(&mx, &my);
        double dy = e.wheel.preciseY != 0 ? e.wheel.preciseY : e.wheel.y;
        wheel(mx / m_in_k, my / m_in_k, dy);
        break;
    }
    default:
        break;
    }
}
