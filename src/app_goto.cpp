// Go to a line of a source or a place in a binary, and the small prompts of
// the raw-image view (decoding width, load address) and the program's
// arguments. Every prompt names its document by id: its answer may come
// after the tabs changed, and it belongs to the document it was asked for.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

std::string upper_hex(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%" PRIX64, v);
    return buf;
}

} // namespace

void App::cmd_goto()
{
    if (m_settings.main_tab != 0) {
        if (is_placeholder(m_b))
            return;
        uint64_t id = m_b->id;
        show_prompt(L10n::tr("dlg.goto_addr"), L10n::tr("dlg.goto_hint"), "", [this, id](const std::string& text) {
            m_focus = Focus::Bin;
            if (Doc* d = doc_by_id(id))
                goto_in_binary(d, text);
        });
        return;
    }
    if (is_placeholder(m_s) || m_s->bin)
        return;
    uint64_t id = m_s->id;
    std::string line = std::to_string(m_s->ed.caret().line + 1);
    show_prompt(L10n::tr("dlg.goto_line"), L10n::tr("dlg.line"), line, [this, id](const std::string& text) {
        m_focus = Focus::Editor;
        Doc* d = doc_by_id(id);
        // Leading digits count; anything else reads as 0 and moves nothing.
        long v = strtol(text.c_str(), nullptr, 10);
        if (!d || v <= 0)
            return;
        if (d != m_s || m_settings.main_tab != 0)
            activate(d);
        d->ed.goto_line(int(std::min<long>(v, INT_MAX)) - 1, true);
    });
}

bool App::goto_in_binary(Doc* d, const std::string& text)
{
    if (d != m_b || !bin_shown())
        activate(d);
    m_focus = Focus::Bin;
    m_dirty = true;
    if (text.empty())
        return false;
    BinView& v = d->bv;
    char q = text[0];
    if (text.size() >= 2 && (q == '\'' || q == '"') && text.back() == q) {
        m_find.set(text.substr(1, text.size() - 2));
        find_step(true, true);
        return true;
    }
    uint64_t a = 0;
    if (m_con.eval(text, &a, nullptr)) {
        if (v.mapped(a)) {
            v.goto_addr(a);
            return true;
        }
        if (!v.live() && v.goto_offset(a))
            return true;
    }
    // Neither an address nor a file offset: the words are searched for.
    m_find.set(text);
    find_step(true, true);
    return true;
}

void App::set_raw_bits(int bits)
{
    set_raw_bits(is_placeholder(m_b) ? 0 : m_b->id, bits);
}

void App::set_raw_bits(uint64_t doc, int bits)
{
    if (bits != 16 && bits != 32 && bits != 64)
        return;
    m_settings.raw_bits = bits;
    if (Doc* d = doc_by_id(doc); d && d->bin) {
        d->img.set_raw_view(bits, d->img.m_base);
        d->bv.image_changed();
    }
    m_dirty = true;
    queue_save();
}

void App::cmd_raw_base()
{
    if (is_placeholder(m_b) || m_b->img.m_kind != BinImage::Raw)
        return;
    uint64_t id = m_b->id;
    show_prompt(L10n::tr("bin.base_title"), L10n::tr("bin.base_label"), upper_hex(m_b->img.m_base),
                [this, id](const std::string& text) {
                    m_focus = Focus::Bin;
                    Doc* d = doc_by_id(id);
                    if (!d)
                        return;
                    uint64_t base = 0;
                    std::string err;
                    if (!m_con.eval(text, &base, &err)) {
                        status_tr(true, err.empty() ? "con.err.value" : err);
                        return;
                    }
                    rebase_raw(d, base);
                });
}

void App::rebase_raw(Doc* d, uint64_t base)
{
    BinImage& img = d->img;
    uint64_t old = img.m_base, size = img.m_data.size();
    img.set_raw_view(img.m_bits, base);
    if (img.m_base == old)
        return;
    // A breakpoint marks a byte of the file: it moves with the image.
    std::set<uint64_t> moved;
    for (uint64_t a : d->bps)
        moved.insert(a - old < size ? a - old + base : a);
    d->bps = std::move(moved);
    d->bv.image_changed();
    m_dirty = true;
}

void App::cmd_args()
{
    show_prompt(L10n::tr("dlg.args_title"), L10n::tr("dlg.args_label"), m_settings.args,
                [this](const std::string& text) {
                    m_settings.args = text;
                    queue_save();
                });
}
