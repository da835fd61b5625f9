// Editing through the binary view: hex digits and characters typed into
// the hex pane, an instruction replaced by an assembled line, undo and redo.
// The same operations act on the image or on the stopped program.
#include "binview.h"

#include "l10n.h"
#include "needs.h"
#include "numfmt.h"
#include "toolchain.h"

#include <SDL_keyboard.h>

namespace {

constexpr uint64_t kOffsetBit = 1ULL << 63;

} // namespace

// After a byte at the cursor was written (old: its value before): the
// undo record when asked for, the changed mark, the cursor moved on when
// asked for, and the rows and the application told.
void BinView::byte_typed(uint8_t old, bool record, bool advance)
{
    bool lv = live();
    if (record)
        push_undo(lv, lv ? m_cur : (m_cur | kOffsetBit), { old });
    note_changed(m_cur);
    if (advance && m_cur + 1 < hex_limit_hi())
        ++m_cur;
    ensure_hex_visible();
    memory_changed();
    if (on_edited)
        on_edited();
}

void BinView::hex_type(int nibble)
{
    uint8_t b = 0;
    if (!hex_read(m_cur, &b))
        return;
    uint8_t nb = m_nib == 0 ? uint8_t((nibble << 4) | (b & 0x0F)) : uint8_t((b & 0xF0) | nibble);
    if (!hex_write(m_cur, nb))
        return;
    // One record per byte, holding it as it was before its first digit.
    bool first = m_nib == 0;
    m_nib = first ? 1 : 0;
    byte_typed(b, first, !first);
}

void BinView::ascii_type(unsigned char ch)
{
    uint8_t b = 0;
    if (!hex_read(m_cur, &b) || !hex_write(m_cur, ch))
        return;
    m_nib = 0;
    byte_typed(b, true, true);
}

void BinView::text_input(const char* utf8)
{
    if (!utf8)
        return;
    if (m_edit_active) {
        if (!m_overwrite_pending)
            m_edit.input(utf8);
        return;
    }
    if (!m_hex_focus)
        return;
    std::string s = utf8;
    if (!m_ascii) {
        for (char c : s) {
            int d = numfmt::hex_digit(c);
            if (d >= 0)
                hex_type(d);
        }
    } else if (s.size() == 1 && uint8_t(s[0]) >= 0x20 && uint8_t(s[0]) <= 0x7E) {
        ascii_type(uint8_t(s[0]));
    }
}

void BinView::start_edit()
{
    if (m_sel.kind != Key::Insn)
        return;
    const Row* r = row(m_sel);
    if (!r || r->header || r->insn.len == 0)
        return;
    m_edit_active = true;
    m_overwrite_pending = false;
    m_edit_addr = r->insn.addr;
    m_edit_len = r->insn.len;
    m_edit_orig = r->insn.text;
    m_edit.set(m_edit_orig);
    m_edit.anchor = 0;
    m_edit.caret = int(m_edit.text.size());
    SDL_StartTextInput();
}

void BinView::cancel_edit()
{
    m_edit_active = false;
    m_overwrite_pending = false;
    m_pending_bytes.clear();
}

void BinView::commit_edit()
{
    if (!m_edit_active)
        return;
    int b = live() ? m_proc->bits() : (m_img ? m_img->m_bits : 64);
    std::vector<uint8_t> bytes;
    std::string err;
    if (!tc::assemble_line(m_edit.text, b, m_edit_addr, &bytes, &err)) {
        m_edit_active = false;
        if (err != "missing:nasm")
            say(true, "bin.asm_error", err);
        else if (on_status)
            on_status([] { return needs::explain_line({ "nasm" }); }, true);
        return;
    }
    // Longer code would overwrite the instructions after this one: the
    // user decides first. The line stays open until the answer.
    if (int(bytes.size()) > m_edit_len) {
        if (!ask_overwrite) {
            m_edit_active = false;
            say(true, "bin.too_long", int(bytes.size()) - m_edit_len);
            return;
        }
        m_pending_bytes = bytes;
        m_overwrite_pending = true;
        ask_overwrite(int(bytes.size()) - m_edit_len, m_edit.text);
        return;
    }
    m_edit_active = false;
    write_assembled(bytes);
}

void BinView::confirm_overwrite(bool yes)
{
    if (!m_overwrite_pending)
        return;
    m_overwrite_pending = false;
    m_edit_active = false;
    std::vector<uint8_t> bytes;
    bytes.swap(m_pending_bytes);
    if (yes)
        write_assembled(bytes);
}

bool BinView::write_assembled(const std::vector<uint8_t>& code)
{
    std::vector<uint8_t> bytes = code;
    int m = m_edit_len;
    bool padded = int(bytes.size()) < m;
    if (padded)
        bytes.resize(size_t(m), 0x90);
    size_t n = bytes.size();
    std::vector<uint8_t> old(n);
    if (!mem_read(m_edit_addr, old.data(), n) || !mem_write(m_edit_addr, bytes.data(), n)) {
        say(true, "bin.not_mapped");
        return false;
    }
    bool lv = live();
    push_undo(lv, m_edit_addr, old);
    for (size_t i = 0; i < n; ++i) {
        uint64_t pos = m_edit_addr + i;
        if (!lv) {
            uint64_t off = 0;
            if (!m_img->addr_to_off(pos, &off))
                continue;
            pos = off;
        }
        note_changed(pos);
    }
    Key top = m_top;
    memory_changed();
    m_top = fix_key(top);
    Key k = row_of_addr(m_edit_addr + n);
    if (k.valid())
        select_row(k, true);
    if (int(n) > m)
        say(false, "bin.overwrote", int(n) - m);
    else if (padded)
        say(false, "bin.padded");
    else
        say(false, "bin.assembled", int(n));
    if (on_edited)
        on_edited();
    return true;
}

// Focus leaving the view closes the line; only Enter writes.
void BinView::finish_edit()
{
    if (!m_edit_active)
        return;
    bool changed = m_edit.text != m_edit_orig;
    cancel_edit();
    if (changed)
        say(false, "bin.edit_dropped");
}

// Writes a record's bytes back; `inverse` gets the bytes it replaced.
bool BinView::apply_record(const Undo& r, Undo* inverse)
{
    inverse->live = r.live;
    inverse->pos = r.pos;
    inverse->old.assign(r.old.size(), 0);
    if (r.live) {
        if (m_proc->read(r.pos, inverse->old.data(), r.old.size()) != r.old.size())
            return false;
        return m_proc->write(r.pos, r.old.data(), r.old.size());
    }
    if (!m_img)
        return false;
    if (r.pos & kOffsetBit) {
        uint64_t off = r.pos & ~kOffsetBit;
        if (off >= m_img->m_data.size() || r.old.size() > m_img->m_data.size() - off)
            return false;
        std::copy(m_img->m_data.begin() + ptrdiff_t(off), m_img->m_data.begin() + ptrdiff_t(off + r.old.size()),
                  inverse->old.begin());
        return m_img->write_off(off, r.old.data(), r.old.size());
    }
    return m_img->read(r.pos, inverse->old.data(), r.old.size()) && m_img->write(r.pos, r.old.data(), r.old.size());
}

namespace {

// The newest record that fits the view's mode. Records of the other mode
// stay for later (image edits while the program is stopped), except live
// records whose program is gone, which can never apply again.
int usable_record(std::vector<BinView::Undo>& recs, bool lv, bool proc_alive)
{
    for (int i = int(recs.size()) - 1; i >= 0; --i) {
        if (recs[size_t(i)].live == lv)
            return i;
        if (recs[size_t(i)].live && !proc_alive)
            recs.erase(recs.begin() + i);
    }
    return -1;
}

} // namespace

// Takes the newest usable record from one list, applies it, and files
// what it replaced in the other: undo and redo are the same step.
bool BinView::replay(std::vector<Undo>& from, std::vector<Undo>& to)
{
    int i = usable_record(from, live(), m_proc && m_proc->alive());
    if (i < 0)
        return false;
    Undo r = from[size_t(i)];
    from.erase(from.begin() + i);
    Undo inverse;
    if (!apply_record(r, &inverse))
        return false;
    to.push_back(std::move(inverse));
    memory_changed();
    if (on_edited)
        on_edited();
    return true;
}

bool BinView::undo() { return replay(m_undo, m_redo); }

bool BinView::redo() { return replay(m_redo, m_undo); }
