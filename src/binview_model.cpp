// The binary view's state and byte access: live or file mode, reading and
// writing through the image or the stopped program, the dump window, the
// parts the list is made of, and the application's events.
#include "binview.h"

#include "l10n.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t kDumpMax = 0x4000000; // 64 MiB
constexpr uint64_t kLiveMax = 0x100000;  // 1 MiB
constexpr uint64_t kLiveHalf = 0x80000;

std::string last_path_part(const std::string& name)
{
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

} // namespace

bool BinView::live() const
{
    return m_target && m_proc && m_proc->traced() && m_proc->state() == dbg::State::Stopped;
}

int BinView::bits() const
{
    if (live())
        return m_proc->bits();
    return m_img ? m_img->m_bits : 64;
}

bool BinView::bar_shown() const { return m_img && !m_img->m_data.empty(); }

bool BinView::bar_base() const { return bar_shown() && m_img->m_kind == BinImage::Raw; }

bool BinView::bar_bits() const
{
    return bar_shown()
        && (m_img->m_kind == BinImage::Raw || m_img->m_kind == BinImage::Com || m_img->m_kind == BinImage::Mz);
}

int BinView::image_bits() const { return m_img ? m_img->m_bits : 64; }

uint64_t BinView::image_base() const { return m_img ? m_img->m_base : 0; }

std::string BinView::info_text() const
{
    if (!m_img)
        return {};
    char buf[160];
    snprintf(buf, sizeof buf, "%s · %s %llX · %zu B", m_img->kind_name(), L10n::tr("bin.entry").c_str(),
             static_cast<unsigned long long>(m_img->m_entry), m_img->m_data.size());
    return buf;
}

std::string BinView::addr_text(uint64_t a) const
{
    char buf[32];
    if (!live() && m_img && m_img->m_bits == 16 && a <= 0xFFFF)
        snprintf(buf, sizeof buf, "%04llX", static_cast<unsigned long long>(a));
    else if (a < (1ULL << 32))
        snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(a));
    else
        snprintf(buf, sizeof buf, "%012llX", static_cast<unsigned long long>(a));
    return buf;
}

bool BinView::mem_read(uint64_t addr, uint8_t* buf, size_t n) const
{
    if (live())
        return m_proc->read(addr, buf, n) == n;
    return m_img && m_img->read(addr, buf, n);
}

bool BinView::mem_write(uint64_t addr, const uint8_t* buf, size_t n)
{
    if (live())
        return m_proc->write(addr, buf, n);
    return m_img && m_img->write(addr, buf, n);
}

bool BinView::hex_read(uint64_t pos, uint8_t* b) const
{
    if (live())
        return m_proc->read(pos, b, 1) == 1;
    if (!m_img || pos >= m_img->m_data.size())
        return false;
    *b = m_img->m_data[size_t(pos)];
    return true;
}

bool BinView::hex_write(uint64_t pos, uint8_t b)
{
    if (live())
        return m_proc->write(pos, &b, 1);
    return m_img && pos < m_img->m_data.size() && m_img->write_off(pos, &b, 1);
}

void BinView::hex_read_range(uint64_t pos, size_t n, uint8_t* out, uint8_t* ok) const
{
    memset(out, 0, n);
    memset(ok, 0, n);
    if (!live()) {
        if (!m_img)
            return;
        uint64_t size = m_img->m_data.size();
        for (size_t i = 0; i < n && pos + i < size; ++i) {
            out[i] = m_img->m_data[size_t(pos + i)];
            ok[i] = 1;
        }
        return;
    }
    // One read per mapped stretch of the range; gaps stay unreadable.
    uint64_t end = pos + n < pos ? ~0ULL : pos + n;
    for (const dbg::Region& r : regions()) {
        if (r.end <= pos || r.start >= end)
            continue;
        uint64_t lo = std::max(r.start, pos), hi = std::min(r.end, end);
        size_t got = m_proc->read(lo, out + (lo - pos), size_t(hi - lo));
        memset(ok + (lo - pos), 1, got);
    }
}

uint64_t BinView::hex_limit_lo() const { return live() ? m_dump_lo : 0; }

uint64_t BinView::hex_limit_hi() const
{
    if (live())
        return m_dump_hi;
    return m_img ? m_img->m_data.size() : 0;
}

void BinView::invalidate_regions() const { m_regions_ok = false; }

const std::vector<dbg::Region>& BinView::regions() const
{
    if (!m_proc || !m_proc->alive()) {
        m_regions.clear();
        m_regions_ok = false;
        return m_regions;
    }
    // The map only changes while the program runs, so one read per stop.
    if (!m_regions_ok || m_regions_pid != m_proc->pid() || m_regions_pc != m_proc->pc()
        || m_regions_sp != m_proc->sp()) {
        m_regions = m_proc->regions();
        ++m_maps_reads;
        m_regions_ok = true;
        m_regions_pid = m_proc->pid();
        m_regions_pc = m_proc->pc();
        m_regions_sp = m_proc->sp();
    }
    return m_regions;
}

bool BinView::mapped(uint64_t addr) const
{
    if (live()) {
        for (const dbg::Region& r : regions()) {
            if (addr >= r.start && addr < r.end)
                return true;
        }
        return false;
    }
    uint64_t off = 0;
    return m_img && m_img->addr_to_off(addr, &off);
}

void BinView::set_dump(uint64_t a)
{
    if (!live())
        return;
    m_dump_lo = a & ~15ULL;
    m_dump_hi = m_dump_lo + 4096;
    for (const dbg::Region& r : regions()) {
        if (a < r.start || a >= r.end)
            continue;
        m_dump_lo = r.start;
        m_dump_hi = r.end;
        // A region over 64 MiB shows the 64 MiB around the address, so the
        // address is always inside the window.
        if (r.end - r.start > kDumpMax) {
            uint64_t lo = a - r.start > kDumpMax / 2 ? (a - kDumpMax / 2) & ~15ULL : r.start;
            lo = std::max(lo, r.start);
            uint64_t hi = std::min(r.end, lo + kDumpMax);
            if (hi - lo < kDumpMax)
                lo = hi - kDumpMax;
            m_dump_lo = lo;
            m_dump_hi = hi;
        }
        break;
    }
    m_cur = a;
    m_nib = 0;
    m_hex_top = a / uint64_t(m_bpr) * uint64_t(m_bpr);
}

void BinView::rebuild()
{
    clear_rows();
    m_rows_live = false;
    if (!m_img || m_img->m_data.empty()) {
        m_sel = m_top = Key();
        return;
    }
    uint64_t fsize = m_img->m_data.size();
    std::vector<Part> parts;
    for (const BinImage::CodeRange& c : m_img->code_ranges()) {
        Part p;
        p.name = c.name;
        p.addr = c.addr;
        p.off = c.off;
        p.size = std::min(c.size, c.off < fsize ? fsize - c.off : 0);
        p.avail = p.size;
        parts.push_back(p);
    }
    if (m_img->m_kind != BinImage::Raw && m_img->m_kind != BinImage::Mz) {
        for (const BinImage::Section& s : m_img->m_sections) {
            if (s.exec || !s.in_file || s.size == 0 || s.addr == 0 || s.offset > fsize || s.size > fsize - s.offset)
                continue;
            Part p;
            p.name = s.name;
            p.addr = s.addr;
            p.off = s.offset;
            p.size = s.size;
            p.avail = s.size;
            p.data = true;
            parts.push_back(p);
        }
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.addr < b.addr; });
    for (const Part& p : parts)
        add_part(p);
    m_sel = fix_key(m_sel);
    m_top = fix_key(m_top);
}

void BinView::rebuild_live()
{
    clear_rows();
    m_rows_live = true;
    m_live_buf.clear();
    if (!live()) {
        m_sel = m_top = Key();
        return;
    }
    uint64_t pc = m_proc->pc();
    uint64_t start = pc, end = pc + 4096;
    std::string name;
    for (const dbg::Region& r : regions()) {
        if (pc >= r.start && pc < r.end) {
            start = r.start;
            end = r.end;
            name = r.name;
            break;
        }
    }
    if (m_img && !m_img->m_data.empty()) {
        uint64_t bias = m_proc->load_bias();
        for (const BinImage::CodeRange& c : m_img->code_ranges()) {
            if (pc >= c.addr + bias && pc < c.addr + bias + c.size) {
                start = c.addr + bias;
                end = start + c.size;
                name = c.name;
                break;
            }
        }
    }
    name = last_path_part(name);
    if (end - start > kLiveMax) {
        start = std::max(start, pc > kLiveHalf ? pc - kLiveHalf : 0);
        end = std::min(end, start + kLiveMax);
    }
    m_live_buf.assign(size_t(end - start), 0);
    size_t n = m_proc->read(start, m_live_buf.data(), m_live_buf.size());
    m_live_lo = start;
    m_live_hi = start + n;
    m_live_buf.resize(n);

    // Run 1 up to the program counter (rows running past it are dropped),
    // run 2 from it, so one row starts exactly at the program counter.
    Part run1;
    run1.name = name;
    run1.addr = start;
    run1.off = 0;
    run1.size = std::min<uint64_t>(pc - start, n);
    run1.avail = n;
    run1.drop_crossing = true;
    add_part(run1);
    if (pc - start < n) {
        Part run2;
        run2.addr = pc;
        run2.off = pc - start;
        run2.size = n - (pc - start);
        run2.avail = run2.size;
        run2.header = false;
        add_part(run2);
    }
    m_sel = fix_key(m_sel);
    m_top = fix_key(m_top);
}

void BinView::memory_changed()
{
    if (live())
        rebuild_live();
    else
        rebuild();
}

void BinView::image_changed()
{
    m_hit_len = 0;
    m_changed.clear();
    m_undo.clear();
    m_redo.clear();
    m_cur = 0;
    m_nib = 0;
    m_hex_top = 0;
    m_sel = m_top = Key();
    m_edit_active = false;
    m_overwrite_pending = false;
    find_cancel();
    rebuild();
    m_sel = m_top = first_row();
    if (m_img && !live()) {
        Key k = row_of_addr(m_img->m_entry);
        if (k.valid())
            select_row(k, true);
    }
}

void BinView::program_stopped()
{
    invalidate_regions();
    if (!live())
        return;
    uint64_t pc = m_proc->pc();
    Key k;
    if (m_rows_live && pc >= m_live_lo && pc < m_live_hi)
        k = row_of_addr(pc);
    if (!k.valid()) {
        rebuild_live();
        k = row_of_addr(pc);
    }
    // The hex pane stays where it is (the stack after the first stop).
    if (k.valid()) {
        m_sel = k;
        ensure_row_visible();
    }
    if (m_dump_hi == 0)
        set_dump(m_proc->sp());
}

void BinView::program_ended()
{
    invalidate_regions();
    m_rows_live = false;
    m_dump_lo = m_dump_hi = 0;
    m_edit_active = false;
    m_overwrite_pending = false;
    // Addresses of the ended program mean nothing in the file.
    if (m_changed_live)
        m_changed.clear();
    if (m_hit_live)
        m_hit_len = 0;
    rebuild();
    m_hex_top = 0;
    m_cur = 0;
}

void BinView::note_changed(uint64_t pos)
{
    bool lv = live();
    if (lv != m_changed_live) {
        m_changed.clear();
        m_changed_live = lv;
    }
    m_changed.insert(pos);
}

void BinView::push_undo(bool lv, uint64_t pos, std::vector<uint8_t> old)
{
    m_undo.push_back(Undo { lv, pos, std::move(old) });
    m_redo.clear();
}
