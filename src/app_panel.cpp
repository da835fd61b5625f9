// The side panel's values taken once at each stop, and what its clicks and
// the wheel do. Painting reads only what is kept here.
#include "app.h"

#include "l10n.h"

#include <algorithm>

void App::panel_reset()
{
    m_snap.regs_now.clear();
    m_snap.prev_regs.clear();
    m_snap.pointees.clear();
    m_snap.vars.clear();
    m_snap.mem_changed.clear();
    m_snap.mem_snap.clear();
    m_snap.mem_spare.clear();
    m_used_regs.clear();
    m_var_tips.clear();
    m_stack_slots.clear();
    m_stack_lo = m_stack_hi = 0;
    m_watch_prev.clear();
    m_watch_now.clear();
    m_watch_ok_prev.clear();
    m_watch_ok_now.clear();
    m_watch_size.clear();
}

void App::panel_on_stop(bool take_snapshots)
{
    if (!panel_live())
        return;
    const Doc* d = panel_image_doc();
    uint64_t bias = m_proc.load_bias();
    const BinImage* img = d ? &d->img : nullptr;
    // The symbol starts change only with another image or load bias.
    if (img != m_sym_img || !img || img->m_symbols.size() != m_sym_count || bias != m_sym_bias) {
        m_sym_starts.clear();
        if (img) {
            m_sym_starts.reserve(img->m_symbols.size());
            for (const auto& s : img->m_symbols)
                m_sym_starts.push_back(s.addr + bias);
            std::sort(m_sym_starts.begin(), m_sym_starts.end());
            m_sym_starts.erase(std::unique(m_sym_starts.begin(), m_sym_starts.end()), m_sym_starts.end());
        }
        m_sym_img = img;
        m_sym_count = img ? img->m_symbols.size() : 0;
        m_sym_bias = bias;
    }

    if (take_snapshots) {
        stepfx::snapshot_regs(m_snap, m_proc, [this](uint64_t v) { return pointee(v); });
        stepfx::snapshot_memory(m_snap, m_proc);
    }
    if (img)
        stepfx::snapshot_vars(m_snap, m_proc, *img);
    else
        m_snap.vars.clear();
    m_var_tips.clear();
    for (const stepfx::Variable& v : m_snap.vars)
        m_var_tips.push_back(symbol_tip(v.name));

    // Registers the instruction at the pc reads or writes.
    m_used_regs.clear();
    uint8_t b[16] = {};
    size_t got = m_proc.read(m_proc.pc(), b, sizeof b);
    dis::Insn in;
    dis::decode(b, got, m_proc.pc(), m_proc.bits(), &in, true);
    for (const dis::Operand& op : in.ops) {
        if (op.kind == dis::Operand::Reg)
            m_used_regs.insert(op.reg64.empty() ? op.reg : op.reg64);
        else if (op.kind == dis::Operand::Mem) {
            if (!op.base.empty())
                m_used_regs.insert(op.base);
            if (!op.index.empty())
                m_used_regs.insert(op.index);
        }
    }
    if (in.text == "syscall")
        for (const char* r : { "rax", "rdi", "rsi", "rdx", "r10", "r8", "r9" })
            m_used_regs.insert(r);

    m_stack_lo = m_stack_hi = 0;
    for (const dbg::Region& r : m_proc.regions())
        if (r.name == "[stack]") {
            m_stack_lo = r.start;
            m_stack_hi = r.end;
        }
    m_stack_slots.clear();
    size_t slot = m_proc.bits() == 64 ? 8 : 4;
    uint64_t sp = m_proc.sp();
    for (size_t i = 0; i < 10; ++i) {
        uint8_t s[8] = {};
        if (m_proc.read(sp + i * slot, s, slot) != slot)
            break;
        StackSlot st;
        for (size_t k = slot; k-- > 0;)
            st.v = (st.v << 8) | s[k];
        st.sym = symbol_at(st.v);
        for (size_t k = 0; k < slot && !st.changed; ++k)
            st.changed = m_snap.mem_changed.count(sp + i * slot + k) != 0;
        m_stack_slots.push_back(std::move(st));
    }
    snapshot_watches();
    m_dirty = true;
}

bool App::panel_wheel(double x, double y, double dy)
{
    // The topmost scrollable area under the pointer takes the wheel.
    for (auto it = m_hits.rbegin(); it != m_hits.rend(); ++it) {
        const Hit& h = *it;
        if (x < h.x || y < h.y || x >= h.x + h.w || y >= h.y + h.h)
            continue;
        if (h.id == "editor" || h.id == "binview")
            return false;
        if (h.id == "pane_right") {
            m_right_scroll = std::max(0.0, m_right_scroll - 40 * dy);
            m_dirty = true;
            return true;
        }
    }
    return false;
}

bool App::panel_click(const Hit& h)
{
    const std::string& id = h.id;
    int n = h.n;
    if (id == "fold") {
        std::string& f = m_settings.folded;
        if (f.empty())
            f = ",";
        std::string key = "," + std::to_string(n) + ",";
        size_t at = f.find(key);
        if (at != std::string::npos)
            f.erase(at, key.size() - 1);
        else
            f += std::to_string(n) + ",";
    } else if (id == "reg_width") {
        m_settings.reg_width = n;
    } else if (id == "flag") {
        if (!panel_live() || n < 0 || n > 63)
            return true;
        m_proc.set_reg("eflags", m_proc.flags() ^ (uint64_t(1) << n));
        changed();
        return true;
    } else if (id == "bp_del") {
        // The address kept beside the hit, never read back from its text.
        if (n >= 0 && size_t(n) < m_bp_addrs.size())
            toggle_bp(m_bp_addrs[size_t(n)], false);
        m_dirty = true;
        return true;
    } else if (id == "watch_del") {
        if (n < 0 || size_t(n) >= m_settings.watches.size())
            return true;
        m_settings.watches.erase(m_settings.watches.begin() + n);
        if (panel_live())
            snapshot_watches();
        m_proc.set_watches(watch_points());
    } else if (id == "watch_stop") {
        if (std::function<std::string()> err = watch_cycle(n)) {
            status(std::move(err), true);
            return true;
        }
        m_proc.set_watches(watch_points());
    } else if (id == "lbl_goto") {
        if (!m_s || is_placeholder(m_s))
            return true;
        m_settings.main_tab = 0;
        activate(m_s);
        m_focus = Focus::Editor;
        m_s->ed.goto_line(n, true);
        m_dirty = true;
        return true;
    } else if (id == "goto_running") {
        Doc* d = m_settings.main_tab == 1 ? (m_dbin ? m_dbin : m_dsrc) : (m_dsrc ? m_dsrc : m_dbin);
        if (d)
            activate(d);
        m_dirty = true;
        return true;
    } else {
        return panel_value_click(h);
    }
    queue_save();
    m_dirty = true;
    return true;
}
