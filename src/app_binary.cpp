// Binary documents in the window: each document's view wired to the
// application, the binary bar, the strip that asks for a yes, and the
// view painted in the document area with its hits.
#include "app.h"

#include "l10n.h"

#include <algorithm>

namespace {

const gfx::Font kBar{ 12, false, false };

} // namespace

void App::wire_binary(Doc* d)
{
    BinView& v = d->bv;
    v.m_target = false;
    v.m_img = &d->img;
    v.m_proc = &m_proc;
    v.on_toggle_bp = [this, d](uint64_t a) {
        if (!d->bps.erase(a))
            d->bps.insert(a);
        sync_bps();
        m_dirty = true;
    };
    v.has_bp = [this, d](uint64_t a) {
        dbg::State st = m_proc.state();
        if (d == m_dbin && (st == dbg::State::Running || st == dbg::State::Stopped))
            return m_proc.has_bp(a);
        return d->bps.count(a) != 0;
    };
    v.on_status = [this](std::function<std::string()> make, bool error) { status(std::move(make), error); };
    v.symbol_at = [this, d](uint64_t a) { return d == m_dbin ? symbol_at(a) : d->img.symbol_at(a, false); };
    v.on_edited = [this] { m_dirty = true; };
    v.live_changed = [this](uint64_t a) { return m_snap.mem_changed.count(a) != 0; };
    v.note = [this](uint64_t a, int* kind) {
        if (!live())
            return std::string();
        if (a == m_proc.pc()) {
            *kind = 1;
            return operand_values(a);
        }
        auto it = m_fx.effects.find(a);
        if (it == m_fx.effects.end())
            return std::string();
        *kind = 2;
        return it->second;
    };
    v.ask_overwrite = [this, d](int extra, const std::string&) {
        if (d != m_b || m_settings.main_tab != 1)
            activate(d);
        bin_ask(BinAsk::Overwrite, L10n::tr("bin.overwrite_ask", extra));
    };
}

void App::wire_source(Doc* d)
{
    d->ed.note = [this, d](int line, int* kind) {
        dbg::State st = m_proc.state();
        if (d != m_dsrc || (st != dbg::State::Running && st != dbg::State::Stopped))
            return std::string();
        if (line == d->ed.pc_line && live()) {
            *kind = 1;
            return operand_values(m_proc.pc());
        }
        auto it = m_fx.line_effects.find(line);
        if (it == m_fx.line_effects.end())
            return std::string();
        *kind = 2;
        return it->second;
    };
}

void App::set_live_target(Doc* d)
{
    for (auto& doc : m_docs)
        doc->bv.m_target = doc.get() == d;
    m_blank_b->bv.m_target = false;
}

void App::bin_ask(BinAsk kind, const std::string& text)
{
    m_bin_ask = kind;
    m_bin_ask_text = text;
    m_bin_ask_doc = m_b->id;
    m_dirty = true;
}

void App::bin_answer(bool ok)
{
    BinAsk kind = m_bin_ask;
    m_bin_ask = BinAsk::None;
    m_focus = Focus::Bin;
    m_dirty = true;
    // The answer belongs to the document that asked, wherever the tabs went.
    Doc* d = doc_by_id(m_bin_ask_doc);
    if (!d)
        return;
    switch (kind) {
    case BinAsk::Overwrite:
        d->bv.confirm_overwrite(ok);
        break;
    case BinAsk::Save:
        if (ok)
            save_binary_in_place(d);
        break;
    case BinAsk::None:
        break;
    }
}

bool App::save_binary_in_place(Doc* d)
{
    if (!d || is_placeholder(d) || !d->bin || d->img.m_data.empty() || d->img.m_path.empty())
        return false;
    std::string err;
    const std::string path = d->img.m_path;
    if (!d->img.save(path, &err)) {
        status_tr(true, "file.save_failed", path);
        return false;
    }
    d->bv.m_changed.clear();
    status_tr(false, "file.saved", path);
    return true;
}

void App::paint_bin_bar(cairo_t* cr, double x, double y, double w)
{
    gfx::fill_rect(cr, x, y, w, 32, m_pal.panel);
    gfx::hline(cr, x, y + 31, w, m_pal.border);
    if (m_settings.main_tab != 1 || !m_b->bv.bar_shown())
        return;
    // A press on the bar acts on the image it was painted for.
    m_bar_doc = m_b->id;
    const BinView& v = m_b->bv;
    struct Button {
        const char* id;
        std::string label, tip;
    };
    std::vector<Button> buttons = {
        { "bin_save", L10n::tr("bin.save"), L10n::tr("menu.save_binary") },
        { "bin_goto", L10n::tr("bin.goto"), L10n::tr("dlg.goto_addr") + "  (Ctrl+G)" },
        { "bin_find", L10n::tr("menu.find"), L10n::tr("dlg.find_bin") + "  (Ctrl+F)" },
    };
    if (v.bar_base())
        buttons.push_back({ "raw_base", L10n::tr("bin.base"), L10n::tr("bin.base_title") });
    double right = x + w - 8;
    for (const Button& b : buttons) {
        double bw = gfx::text_width(cr, b.label, kBar) + 18;
        button(cr, right - bw, y + 4, bw, 24, b.label, b.id, true, false, nullptr, b.tip);
        right -= bw + 4;
    }
    if (v.bar_bits()) {
        for (int bits : { 64, 32, 16 }) {
            bool on = v.image_bits() == bits;
            std::string label = std::to_string(bits) + " Bit";
            double cw = gfx::text_width(cr, label, gfx::Font{ 12, on, false }) + 18;
            chip(cr, right - cw, y + 5, label, on, "bits", bits, false, "");
            right -= cw + 4;
        }
        right -= 8;
    }
    double space = right - (x + 10);
    if (space > 80)
        gfx::text(cr, v.info_text(), x + 10, y + (32 - gfx::line_height(cr, kBar)) / 2, m_pal.dim, kBar,
                  gfx::Align::Left, space - 20);
}

double App::paint_bin_ask(cairo_t* cr, double x, double y, double w)
{
    const double h = 34;
    gfx::fill_rect(cr, x, y, w, h, m_pal.panel2);
    gfx::hline(cr, x, y + h - 1, w, m_pal.border);
    std::string ok = L10n::tr("btn.overwrite"), cancel = L10n::tr("btn.cancel");
    double okw = gfx::text_width(cr, ok, kBar) + 20, cw = gfx::text_width(cr, cancel, kBar) + 20;
    double bx = x + w - 8 - cw;
    button(cr, bx, y + 5, cw, 24, cancel, "bin_ask_cancel", true, false, nullptr, cancel + "  (Esc)");
    bx -= okw + 6;
    button(cr, bx, y + 5, okw, 24, ok, "bin_ask_ok", true, true, nullptr, ok + "  (Enter)");
    gfx::Font f{ 13, false, false };
    double ty = y + (h - gfx::line_height(cr, f)) / 2;
    double room = bx - 8 - (x + 12);
    gfx::text(cr, m_bin_ask_text, x + 12, ty, m_pal.warn, f, gfx::Align::Left, std::max(0.0, room));
    return h;
}

void App::paint_binary(cairo_t* cr, Doc* d, double x, double y, double w, double h)
{
    paint_bin_bar(cr, x, y, w);
    y += 32;
    h -= 32;
    if (m_bin_ask != BinAsk::None) {
        double ah = paint_bin_ask(cr, x, y, w);
        y += ah;
        h -= ah;
    }
    if (m_find_open) {
        double fh = paint_find(cr, x, y, w);
        y += fh;
        h -= fh;
    }
    h = std::max(0.0, h);
    BinView& v = d->bv;
    if (m_drag != Drag::Bin) {
        v.split_frac = m_settings.bin_split;
        v.split1_frac = m_settings.bin_split1;
    }
    v.m_split_hover = m_hover == "binsplit#0";
    v.m_split1_hover = m_hover == "binsplit1#0";
    bool focus = m_focus == Focus::Bin && m_modal == Modal::None && m_bin_ask == BinAsk::None;
    v.paint(cr, x, y, w, h, m_pal, m_settings.font, focus, m_caret_on);
    hit(x, y, w, h, "binview", 0, "");
    hit(v.m_split - 5, y, 10, h, "binsplit", 0, "");
    hit(v.m_s1 - 5, y + 30, 10, std::max(0.0, h - 30), "binsplit1", 0, "");
}
