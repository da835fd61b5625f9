// "Disassemble to source" in the window: the job starts on the binary in
// front, the main loop asks each turn whether it is done, and its source
// opens as a new untitled document with the options that link it again.
#include "app.h"

#include "l10n.h"

void App::cmd_disassemble()
{
    if (m_dis) {
        status_tr(true, "dis.busy");
        return;
    }
    Doc* d = m_b;
    if (is_placeholder(d) || d->img.m_data.empty()) {
        status_tr(true, "dis.nothing");
        return;
    }
    std::string name = DisJob::source_name(d->img.m_path);
    uint64_t avail = DisJob::memory_available();
    if (!DisJob::memory_ok(d->img.m_data.size(), avail)) {
        show_message(L10n::tr("dlg.error"),
                     L10n::tr("dis.too_big", name, DisJob::human_bytes(DisJob::memory_needed(d->img.m_data.size())),
                              DisJob::human_bytes(avail)));
        return;
    }
    std::string err;
    m_dis = DisJob::start(d->img, &err);
    if (!m_dis) {
        status_tr(true, "dis.failed", name, err);
        return;
    }
    status_tr(false, "dis.working", name);
}

void App::poll_disassemble()
{
    if (!m_dis || !m_dis->ready())
        return;
    std::string name = m_dis->name();
    DisJob::Outcome out = m_dis->take();
    m_dis.reset();
    m_dirty = true;
    if (out.no_memory) {
        show_message(L10n::tr("dlg.error"), L10n::tr("dis.no_memory", name));
        return;
    }
    if (!out.error.empty()) {
        status_tr(true, "dis.failed", name, out.error);
        return;
    }
    Doc* d = new_doc(false);
    try {
        d->ed.set_text(out.result.source);
    } catch (const std::bad_alloc&) {
        close_doc(d, true);
        show_message(L10n::tr("dlg.error"), L10n::tr("dis.no_memory", name));
        return;
    }
    // Its text exists nowhere else: like any untitled source it is asked
    // about at close and quit, and kept in a recovery file.
    d->ed.set_modified(true);
    d->name_hint = name;
    d->link = out.result.link;
    activate(d);
    status_tr(!out.result.verified, "dis.done", name);
}

void App::end_disassemble()
{
    // The worker stops its tools; the job's end waits only briefly for it.
    if (m_dis)
        m_dis->cancel();
    m_dis.reset();
}
