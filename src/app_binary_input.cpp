// Keys, typed text, clicks, drags and the wheel of the binary tab: the
// view itself, its bar, the ask strip and the find field while the binary
// view is in front. A search while typing runs in slices, one per loop turn.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cmath>

namespace {

// Time one loop turn may spend on a running search.
constexpr double kSearchSliceMs = 8;

// Is the document still one of the open ones? Asked without touching it.
bool still_open(const std::vector<std::unique_ptr<Doc>>& docs, const Doc* d)
{
    return std::any_of(docs.begin(), docs.end(), [&](const auto& x) { return x.get() == d; });
}

} // namespace

void App::bin_open_find()
{
    m_find_open = true;
    m_replace_open = false;
    m_find.select_all();
    m_focus = Focus::Find;
    m_dirty = true;
}

void App::bin_find(bool forward, bool next)
{
    if (is_placeholder(m_b))
        return;
    BinView& v = m_b->bv;
    // The search under way may belong to a document closed since.
    if (m_bin_search && m_bin_search != m_b && still_open(m_docs, m_bin_search))
        m_bin_search->bv.find_cancel();
    m_bin_search = nullptr;
    if (m_find.text.empty()) {
        v.find_cancel();
        v.m_hit_len = 0;
        m_dirty = true;
        return;
    }
    v.find_begin(m_find.text, forward, next);
    m_bin_search = m_b;
    poll_binary();
}

bool App::poll_binary()
{
    if (m_bin_search) {
        // The searching document may have been closed meanwhile.
        BinView::Search r = still_open(m_docs, m_bin_search) ? m_bin_search->bv.find_poll(kSearchSliceMs)
                                                             : BinView::Search::Idle;
        if (r != BinView::Search::Running) {
            m_bin_search = nullptr;
            if (r == BinView::Search::Found)
                status("", false);
            else if (r == BinView::Search::Missing)
                status_tr(true, "find.none");
            m_dirty = true;
        }
    }
    poll_disassemble();
    return binary_busy();
}

bool App::bin_key(const SDL_Keysym& k)
{
    if (m_modal != Modal::None || m_menu >= 0 || !bin_shown())
        return false;
    bool ctrl = k.mod & KMOD_CTRL, shift = k.mod & KMOD_SHIFT;
    bool enter = k.sym == SDLK_RETURN || k.sym == SDLK_KP_ENTER;
    bool used = true;
    BinView& v = m_b->bv;
    if (m_bin_ask != BinAsk::None) {
        // The question holds the keys until it is answered.
        if (enter || k.sym == SDLK_ESCAPE)
            bin_answer(enter);
    } else if (m_focus == Focus::Find && m_find_open) {
        if (enter || k.sym == SDLK_F3) {
            bin_find(!shift, true);
        } else if (k.sym == SDLK_ESCAPE) {
            cmd_find(false);
        } else {
            std::string before = m_find.text;
            used = m_find.key(k, false);
            if (m_find.text != before)
                bin_find(true, false);
        }
    } else if (m_focus == Focus::Bin) {
        if (k.sym == SDLK_ESCAPE && !v.m_edit_active && m_find_open) {
            cmd_find(false);
        } else if (ctrl && k.sym == SDLK_g) {
            cmd_goto();
        } else if (ctrl && k.sym == SDLK_f) {
            cmd_find(true);
        } else if (k.sym == SDLK_F3 && !m_find.text.empty()) {
            bin_find(!shift, true);
        } else {
            used = v.key(k);
        }
    } else {
        return false;
    }
    if (used) {
        m_caret_on = true;
        m_caret_t = SDL_GetTicks();
        m_dirty = true;
    }
    return used;
}

bool App::bin_text(const char* utf8)
{
    if (m_modal != Modal::None || m_menu >= 0 || !bin_shown())
        return false;
    if (m_bin_ask != BinAsk::None) {
        return true; // a yes or no is not typed
    } else if (m_focus == Focus::Find && m_find_open) {
        m_find.input(utf8);
        bin_find(true, false);
    } else if (m_focus == Focus::Bin) {
        m_b->bv.text_input(utf8);
    } else {
        return false;
    }
    m_caret_on = true;
    m_caret_t = SDL_GetTicks();
    m_dirty = true;
    return true;
}

bool App::bin_mouse_down(const Hit& h, double x, double y, int button, int clicks)
{
    if (m_modal != Modal::None || !bin_shown())
        return false;
    BinView& v = m_b->bv;
    const std::string& id = h.id;
    bool left = button == SDL_BUTTON_LEFT;
    if (id == "binview") {
        m_focus = Focus::Bin;
        v.mouse_down(x, y, clicks, button == SDL_BUTTON_RIGHT);
        if (button == SDL_BUTTON_RIGHT)
            bin_context(x, y);
        if (left && (SDL_GetModState() & KMOD_CTRL) && v.row_at(x, y) >= 0)
            v.follow();
        else if (left)
            m_drag = Drag::Bin;
    } else if ((id == "binsplit" || id == "binsplit1") && left) {
        m_focus = Focus::Bin;
        v.mouse_down(id == "binsplit" ? v.m_split : v.m_s1, y, 1, false);
        m_drag = Drag::Bin;
    } else if (!left) {
        return false;
    } else if (id == "bin_save") {
        if (!v.bar_shown())
            return true;
        if (m_b->img.m_path.empty())
            status_tr(true, "file.save_failed", display_name(m_b, true));
        else
            bin_ask(BinAsk::Save, L10n::tr("dlg.overwrite_bin", m_b->img.m_path));
    } else if (id == "bin_goto") {
        cmd_goto();
    } else if (id == "bin_find") {
        cmd_find(true);
    } else if (id == "raw_base") {
        cmd_raw_base();
    } else if (id == "bits") {
        set_raw_bits(m_bar_doc, h.n);
    } else if (id == "bin_ask_ok" || id == "bin_ask_cancel") {
        bin_answer(id == "bin_ask_ok");
    } else if (id == "find_prev" || id == "find_next") {
        bin_find(id == "find_next", true);
    } else if (id == "find_close") {
        cmd_find(false);
    } else {
        return false;
    }
    m_dirty = true;
    return true;
}

bool App::bin_mouse_move(double x, double y)
{
    if (m_drag != Drag::Bin)
        return false;
    m_b->bv.mouse_drag(x, y);
    m_dirty = true;
    return true;
}

bool App::bin_mouse_up()
{
    if (m_drag != Drag::Bin)
        return false;
    BinView& v = m_b->bv;
    v.mouse_up();
    m_drag = Drag::None;
    if (std::fabs(v.split_frac - m_settings.bin_split) > 1e-6 || std::fabs(v.split1_frac - m_settings.bin_split1) > 1e-6) {
        m_settings.bin_split = v.split_frac;
        m_settings.bin_split1 = v.split1_frac;
        queue_save();
    }
    m_dirty = true;
    return true;
}

bool App::bin_wheel(double x, double y, double dy)
{
    const Hit* h = hit_at(x, y);
    if (!h || h->id != "binview" || !bin_shown())
        return false;
    m_b->bv.wheel(x, y, dy);
    m_dirty = true;
    return true;
}

std::string App::bin_tip(const Hit& h, double x, double y) const
{
    if (h.id == "binview" && bin_shown())
        return m_b->bv.hover_tip(x, y);
    return h.tip;
}
