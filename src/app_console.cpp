// The application as the debug console's target: the program stopped under
// the debugger when there is one ("live"), otherwise the image of the
// binary document, so dump, unassemble, enter and write work on a file too.
// Breakpoints are kept as file addresses; the load bias of a running
// position-independent program is added and taken off only here and at the
// engine.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>

bool App::has_target()
{
    return m_proc.alive() || target_bin()->img.m_data.empty() == false;
}

bool App::live()
{
    return m_proc.traced() && m_proc.state() == dbg::State::Stopped;
}

int App::bits()
{
    return m_proc.alive() ? m_proc.bits() : m_b->img.m_bits;
}

size_t App::read(uint64_t addr, uint8_t* out, size_t n)
{
    if (live())
        return m_proc.read(addr, out, n);
    const BinImage& img = target_bin()->img;
    size_t i = 0;
    for (; i < n; ++i)
        if (!img.read(addr + i, out + i, 1))
            break;
    return i;
}

bool App::write(uint64_t addr, const uint8_t* in, size_t n)
{
    if (live())
        return m_proc.write(addr, in, n);
    return target_bin()->img.write(addr, in, n);
}

bool App::reg(const std::string& name, uint64_t* out)
{
    return live() && m_proc.reg(name, out);
}

bool App::set_reg(const std::string& name, uint64_t value)
{
    return live() && m_proc.set_reg(name, value);
}

std::vector<std::string> App::reg_names()
{
    std::vector<std::string> out;
    for (const auto& r : m_proc.reg_list())
        out.emplace_back(r.name);
    return out;
}

bool App::symbol(const std::string& name, uint64_t* out)
{
    uint64_t a = 0;
    if (!target_bin()->img.find_symbol(name, &a))
        return false;
    *out = to_run(a);
    return true;
}

std::string App::symbol_at(uint64_t addr)
{
    if (m_proc.alive() && addr < m_proc.load_bias())
        return {};
    return target_bin()->img.symbol_at(to_file(addr), false);
}

uint64_t App::here()
{
    if (live())
        return m_proc.pc();
    return target_bin()->img.m_entry;
}

bool App::go(bool to, uint64_t addr)
{
    if (!live())
        return false;
    sync_bps();
    stepfx::clear(m_fx);
    m_steps_left = 0;
    return to ? m_proc.run_to(addr) : m_proc.cont();
}

bool App::trace(int n)
{
    if (!live())
        return false;
    m_steps_left = n;
    m_step_kind = 0;
    m_stepping_line = false;
    arm_step();
    return m_proc.step();
}

bool App::proceed(int n)
{
    if (!live())
        return false;
    sync_bps();
    m_steps_left = n;
    m_step_kind = 1;
    m_stepping_line = false;
    arm_step();
    return m_proc.step_over();
}

bool App::toggle_bp(uint64_t addr, bool on)
{
    // The console speaks run-time addresses; documents keep file ones.
    Doc* bin = target_bin();
    uint64_t file = to_file(addr);
    if (on) {
        bin->bps.insert(file);
    } else {
        bin->bps.erase(file);
        int line = m_debug_src ? line_of_addr(addr) : -1;
        if (line >= 0)
            target_src()->ed.breakpoints.erase(line);
    }
    sync_bps();
    if (!on && m_proc.alive())
        m_proc.clear_bp(addr);
    m_dirty = true;
    return true;
}

std::vector<uint64_t> App::bps()
{
    std::vector<uint64_t> out;
    for (uint64_t a : target_bin()->bps)
        out.push_back(to_run(a));
    if (m_proc.alive()) {
        out.insert(out.end(), m_proc.bps().begin(), m_proc.bps().end());
    } else if (!is_placeholder(m_s)) {
        for (int line : m_s->ed.breakpoints) {
            uint64_t a = 0;
            if (addr_of_line(line, &a))
                out.push_back(a);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void App::clear_bps()
{
    target_bin()->bps.clear();
    target_src()->ed.breakpoints.clear();
    if (m_proc.alive())
        m_proc.clear_bps();
    m_dirty = true;
}

bool App::write_file(const std::string& path, std::string* msg)
{
    BinImage& img = target_bin()->img;
    if (img.m_data.empty()) {
        *msg = L10n::tr("con.err.no_target");
        return false;
    }
    std::string to = path.empty() ? img.m_path : path;
    if (!img.save(to)) {
        *msg = L10n::tr("file.save_failed", to.c_str());
        return false;
    }
    char what[160];
    snprintf(what, sizeof what, "%s (%llu bytes)", to.c_str(), static_cast<unsigned long long>(img.m_data.size()));
    *msg = L10n::tr("con.written", what);
    m_dirty = true;
    return true;
}

void App::stop()
{
    cmd_stop();
}

void App::changed()
{
    // A console edit is not a change the program made: nothing shows as
    // changed afterwards.
    snapshot_regs();
    m_snap.prev_regs = m_snap.regs_now;
    if (Doc* b = target_bin())
        b->bv.memory_changed();
    m_dirty = true;
}

void App::run_script(const std::string& commands)
{
    // Read like lines ended by ";": an empty piece between two ";" is a
    // command too, nothing follows a final ";".
    prepare_script_target();
    size_t at = 0;
    while (at < commands.size()) {
        size_t semi = commands.find(';', at);
        std::string piece = commands.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
        m_con.exec(piece);
        settle_script_step();
        if (semi == std::string::npos)
            break;
        at = semi + 1;
    }
    m_settings.bottom_tab = 2;
}

void App::prepare_script_target()
{
    // Console commands given at start act on the shown source's program,
    // stopped at its entry, when there is nothing else to act on. The wait
    // for its build and start is bounded; the script runs either way.
    if (m_proc.alive() || is_placeholder(m_s) || m_s->bin || m_settings.main_tab != 0)
        return;
    start_program(true);
    auto t0 = std::chrono::steady_clock::now();
    while (building() && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        poll_build();
    }
    settle_script_step();
}

void App::settle_script_step()
{
    // A go or trace of a script lets the program run; the next command
    // reads the state it stopped in. Bounded: a program that does not stop
    // soon is left running and the script goes on.
    for (int turn = 0; turn < 200 && m_proc.state() == dbg::State::Running; ++turn) {
        std::vector<dbg::Event> ev;
        m_proc.wait(&ev, 10);
        for (const dbg::Event& e : ev) {
            if (e.kind == dbg::Event::Stopped)
                on_stopped(e);
            else if (e.kind == dbg::Event::Exited)
                on_exited(e);
            else
                add_output(e.text);
        }
        m_restep = false;
    }
}
