// The two right-click menus: the source editor's and the binary view's.
// Their rows hold the document by id and copies of what was under the
// pointer, so a row acts on the state of the moment the menu opened and
// does nothing once its document has gone.
#include "app.h"

#include "app_menu_rows.h"
#include "l10n.h"
#include "numfmt.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

using namespace menu_rows;

namespace {

std::string hex_text(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%" PRIX64, v);
    return buf;
}

} // namespace

void App::open_context(std::vector<MenuItem> rows, double x, double y)
{
    m_menu = 100;
    m_menu_list = std::move(rows);
    m_menu_hover = -1;
    m_menu_scroll = 0;
    m_tip.clear();
    m_ctx_x = x;
    m_ctx_y = y;
    m_dirty = true;
}

void App::ed_context(double x, double y)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    Doc* d = m_s;
    Editor& ed = d->ed;
    std::vector<MenuItem> rows = edit_rows(true);
    rows.push_back(separator());
    rows.push_back(row("ed.dup_line", "Ctrl+D", editor_act(d, [](Editor& e) { e.duplicate_lines(); })));
    rows.push_back(row("ed.del_line", "Ctrl+Shift+K", editor_act(d, [](Editor& e) { e.delete_lines(); })));
    rows.push_back(row("ed.line_up", "Alt+\xE2\x86\x91", editor_act(d, [](Editor& e) { e.move_lines(-1); })));
    rows.push_back(row("ed.line_down", "Alt+\xE2\x86\x93", editor_act(d, [](Editor& e) { e.move_lines(1); })));
    rows.push_back(row("menu.comment", "Ctrl+/", editor_act(d, [](Editor& e) {
                           SDL_Keysym k{};
                           k.sym = SDLK_SLASH;
                           k.scancode = SDL_SCANCODE_SLASH;
                           k.mod = KMOD_LCTRL;
                           e.key(k);
                       })));
    rows.push_back(row("ed.indent", "Tab", editor_act(d, [](Editor& e) { e.indent(false); })));
    rows.push_back(row("ed.outdent", "Shift+Tab", editor_act(d, [](Editor& e) { e.indent(true); })));
    rows.push_back(separator());
    // Breakpoints and running to a line go through the commands, which act
    // on the front document: the row first makes sure it is still this one.
    const uint64_t id = d->id;
    auto in_front = [this, id](void (App::*cmd)()) {
        return [this, id, cmd] {
            Doc* x = doc_by_id(id);
            if (x && x == m_s && m_settings.main_tab == 0)
                (this->*cmd)();
        };
    };
    rows.push_back(row("menu.toggle_bp", "F9", in_front(&App::cmd_toggle_bp)));
    if (live() && (shown_doc() == m_dsrc || shown_doc() == m_dbin))
        rows.push_back(row("menu.run_to_cursor", "F4", in_front(&App::cmd_run_to_cursor)));

    // The word under the pointer, not the one at the caret.
    const std::string word = ed.word_at(x, y);
    const int line = ed.line_at_y(y);
    auto with_doc = [this, id](std::function<void()> fn) {
        return [this, id, fn = std::move(fn)] {
            if (doc_by_id(id))
                fn();
        };
    };
    if (!word.empty() && ed.is_label(word, line)) {
        rows.push_back(separator());
        rows.push_back(row("ed.goto_def", "F12", with_doc([this, word, line] { cmd_goto_definition(word, line); })));
        rows.push_back(row("ed.refs", "Shift+F12", with_doc([this, word, line] { cmd_references(word, line); })));
        rows.push_back(item(L10n::tr("ed.rename") + "   " + word, "F2",
                            with_doc([this, word, line] { cmd_rename(word, line); })));
    }
    uint64_t value = 0;
    int bytes = 0;
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0])) && numfmt::parse(word, &value, &bytes))
        rows.push_back(item(L10n::tr("menu.converter") + "   " + word, "Ctrl+K", [this, word] {
            cmd_converter();
            m_conv.set(word);
            m_conv.select_all();
        }));
    open_context(std::move(rows), x, y);
}

void App::bin_context(double x, double y)
{
    if (is_placeholder(m_b) || !m_b->bin)
        return;
    const dis::Insn* sel = m_b->bv.selected_insn();
    if (!sel)
        return;
    const dis::Insn insn = *sel;
    const uint64_t id = m_b->id;
    // Each row finds the document again; a closed one is left alone.
    auto on_view = [this, id](std::function<void(Doc&)> fn) {
        return [this, id, fn = std::move(fn)] {
            if (Doc* d = doc_by_id(id); d && d->bin) {
                fn(*d);
                m_dirty = true;
            }
        };
    };
    std::vector<MenuItem> rows;
    if (insn.has_target || insn.has_mem) {
        const uint64_t addr = insn.has_target ? insn.target : insn.mem;
        std::string name = symbol_at(addr);
        if (name.empty())
            name = hex_text(addr);
        rows.push_back(item(L10n::tr("ctx.follow") + "   " + name, "\xE2\x86\x92",
                            on_view([](Doc& d) { d.bv.follow(); })));
        if (insn.has_mem)
            rows.push_back(row("ctx.show_hex", "", on_view([this, addr](Doc& d) {
                                   d.bv.show_in_hex(addr);
                                   m_focus = Focus::Bin;
                               })));
    }
    rows.push_back(row("ctx.back", "Alt+\xE2\x86\x90", on_view([](Doc& d) { d.bv.back(); })));
    rows.push_back(separator());
    rows.push_back(row("menu.toggle_bp", "F9", on_view([a = insn.addr](Doc& d) {
                           if (d.bv.on_toggle_bp)
                               d.bv.on_toggle_bp(a);
                       })));
    if (live() && m_b == m_dbin)
        rows.push_back(row("ctx.run_to", "F4", on_view([this, a = insn.addr](Doc& d) { run_to_bin_row(d, a); })));
    rows.push_back(row("ctx.edit", "Enter", on_view([this](Doc& d) {
                           d.bv.start_edit();
                           m_focus = Focus::Bin;
                       })));
    rows.push_back(separator());
    rows.push_back(row("ctx.copy_addr", "", on_view([this, a = insn.addr](Doc&) { copy(hex_text(a)); })));
    rows.push_back(row("ctx.copy_insn", "", on_view([this, t = insn.text](Doc&) { copy(t); })));
    rows.push_back(row("ctx.copy_bytes", "", on_view([this, b = dis::hex_bytes(insn, 15)](Doc&) { copy(b); })));
    open_context(std::move(rows), x, y);
}
