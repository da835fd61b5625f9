// Putting a running program of the user's under the debugger from the
// window. The executable's document is made ready first and the engine
// attaches last, so nothing the loading does can end the fresh attachment;
// the engine's wait for the stop is taken in loop turns, never in one block.
#include "app.h"

#include "attach.h"
#include "l10n.h"
#include "logger.h"

void App::cmd_attach()
{
    if (m_proc.alive() || attach_pending())
        return;
    show_prompt(L10n::tr("attach.title"), L10n::tr("attach.label"), "",
                [this](const std::string& text) { attach_entered(text); });
}

void App::attach_refused(const attach::Result& r)
{
    logger::warn("attach to " + std::to_string(r.pid) + " failed: " + r.err);
    if (r.outcome == attach::Outcome::SnapDenied) {
        show_snap_hint(attach::message(r), "", true);
        return;
    }
    show_message(L10n::tr("attach.title"), attach::message(r));
}

void App::attach_entered(const std::string& text)
{
    // Something may have started while the prompt was open.
    if (m_proc.alive() || attach_pending())
        return;
    int pid = -1;
    switch (attach::find_process(text, &pid)) {
    case attach::Find::Empty: return;
    case attach::Find::NotFound: show_message(L10n::tr("attach.title"), attach::not_found_message(text)); return;
    case attach::Find::Found: break;
    }
    std::string exe, err;
    if (!attach::executable(pid, &exe, &err)) {
        attach_refused(attach::result_of(pid, false, "", err));
        return;
    }
    // The document first. A document of that file with byte edits keeps
    // them; any other is read afresh, quietly: an opened program would
    // otherwise start a second copy under the debugger.
    if (refuse_open(exe))
        return;
    Doc* d = find_doc(exe, true);
    bool fresh = d == nullptr;
    if (!d || !d->img.m_dirty) {
        if (!load_binary(exe, true, false) || !(d = find_doc(exe, true))) {
            attach_refused(attach::result_of(pid, false, "", L10n::tr("file.open_failed", exe)));
            return;
        }
    }
    d->hidden = false;
    activate(d);

    std::string run_exe;
    if (!m_proc.attach_begin(pid, &run_exe, &err)) {
        if (fresh)
            close_doc(d, true);
        attach_refused(attach::result_of(pid, false, "", err));
        return;
    }
    m_attach_fresh = fresh;
    m_attach_doc = d->id;
    m_attach_pid = pid;
    m_attach_exe = exe;
    poll_attach();
}

bool App::attach_pending() const
{
    return m_attach_doc != 0;
}

void App::poll_attach()
{
    if (!attach_pending()) {
        // A stop that came too late is let go by the engine's poll, which
        // the front end calls only while a program exists.
        if (m_proc.state() == dbg::State::Idle) {
            std::vector<dbg::Event> ev;
            m_proc.poll(&ev);
        }
        return;
    }
    if (!m_proc.attaching()) {
        // Given up by a start or stop meanwhile.
        m_attach_doc = 0;
        return;
    }
    std::string err;
    dbg::Process::AttachWait w = m_proc.attach_poll(&err);
    if (w == dbg::Process::AttachWait::Pending)
        return;
    uint64_t id = m_attach_doc;
    int pid = m_attach_pid;
    m_attach_doc = 0;
    Doc* d = doc_by_id(id);
    if (w == dbg::Process::AttachWait::Failed) {
        // A failed attach leaves the documents as they were.
        if (d && m_attach_fresh)
            close_doc(d, true);
        attach_refused(attach::result_of(pid, false, "", err));
        return;
    }
    if (!d) {
        // Its document was closed during the wait: the program runs on.
        m_proc.kill();
        attach_refused(attach::result_of(pid, false, "", L10n::tr("file.open_failed", m_attach_exe)));
        return;
    }
    attached(d);
}

void App::attached(Doc* d)
{
    m_dbin = d;
    m_debug_src = false;
    m_dsrc = nullptr;
    set_live_target(d);

    reset_session_views();

    sync_bps();
    m_con.reset_state();
    snapshot_regs();
    snapshot_memory();
    panel_on_stop(false);
    d->bv.program_stopped();

    activate(d);
    m_focus = Focus::Bin;
    m_settings.bottom_tab = 2;
    m_con.show_state();
    m_con_follow = true;
    std::string exe = d->img.m_path;
    logger::info("attached to " + std::to_string(m_proc.pid()) + " " + exe);
    status([r = attach::result_of(m_proc.pid(), true, exe, "")] { return attach::message(r); }, false);
    m_dirty = true;
}
