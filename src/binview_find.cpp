// Searching the binary view: bytes as text (letters folded), as UTF-16 and
// as hex, over the file in place or over the program's readable memory,
// then the list's texts. It runs in slices so typing never waits for it.
#include "binview.h"

#include "numfmt.h"
#include "textutil.h"

#include <time.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kDumpMax = 0x4000000;
constexpr size_t kWindow = size_t(4) << 20; // positions per step between clock checks
constexpr size_t kNone = size_t(-1);
// The list's texts exist only where rows are decoded (about half a
// microsecond a row), so the text search looks at this many rows from the
// selection on, about a megabyte of code; a whole 100 MB file would take
// seconds.
constexpr uint64_t kTextRowsMax = 250000;

double now_ms()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

using textutil::lower;
using textutil::upper;

struct Pat {
    std::vector<uint8_t> b;
    bool fold = false;

    bool at(const uint8_t* p) const
    {
        if (!fold)
            return memcmp(p, b.data(), b.size()) == 0;
        for (size_t i = 0; i < b.size(); ++i) {
            if (lower(p[i]) != lower(b[i]))
                return false;
        }
        return true;
    }
};

// First (or last) start in [s, e) where the pattern matches and fits in the chunk.
size_t scan(const uint8_t* base, size_t clen, size_t s, size_t e, const Pat& pat, bool forward)
{
    size_t m = pat.b.size();
    if (m == 0 || m > clen)
        return kNone;
    e = std::min(e, clen - m + 1);
    if (s >= e)
        return kNone;
    uint8_t v[2] = { pat.b[0], pat.b[0] };
    int nv = 1;
    if (pat.fold && lower(pat.b[0]) != upper(pat.b[0])) {
        v[0] = lower(pat.b[0]);
        v[1] = upper(pat.b[0]);
        nv = 2;
    }
    size_t best = kNone;
    for (int k = 0; k < nv; ++k) {
        // [lo, hi) still to look at; a candidate of an earlier variant
        // narrows it, since only a nearer hit can win.
        size_t lo = s, hi = e;
        if (best != kNone && forward)
            hi = best;
        else if (best != kNone)
            lo = best + 1;
        while (lo < hi) {
            const void* q = forward ? memchr(base + lo, v[k], hi - lo) : memrchr(base + lo, v[k], hi - lo);
            if (!q)
                break;
            size_t at = size_t(static_cast<const uint8_t*>(q) - base);
            if (pat.at(base + at)) {
                best = at;
                break;
            }
            if (forward)
                lo = at + 1;
            else
                hi = at;
        }
    }
    return best;
}

// Whether the text holds `want` (already lower case), letters folded.
bool holds(const std::string& text, const std::string& want)
{
    if (want.size() > text.size())
        return false;
    for (size_t i = 0; i + want.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < want.size() && lower(uint8_t(text[i + j])) == uint8_t(want[j]))
            ++j;
        if (j == want.size())
            return true;
    }
    return false;
}

} // namespace

struct BinView::Scan {
    struct Chunk {
        uint64_t base = 0;
        const uint8_t* p = nullptr;
        size_t n = 0;
        uint64_t at = 0; // index of its first byte in the whole sequence
    };
    std::vector<uint8_t> window; // the bytes of a live window being searched
    size_t longest = 0;
    std::vector<Pat> pats;
    std::vector<Chunk> chunks;
    uint64_t total = 0;
    bool forward = true;
    bool next = false;
    bool live = false;
    std::string q;
    // Byte phase: positions left to visit, the next one to visit.
    uint64_t left = 0;
    uint64_t pos = 0;
    bool bytes_done = false;
    // Text phase.
    Key row;
    uint64_t rows_seen = 0;
    bool started_text = false;
    Search state = Search::Running;
};

// Here, where the search state is a complete type.
BinView::BinView()
{
    m_edit.mono = true;
}

BinView::~BinView() = default;

void BinView::find_cancel() { m_scan.reset(); }

void BinView::find_begin(const std::string& q, bool forward, bool next)
{
    m_scan.reset();
    if (q.empty()) {
        m_hit_len = 0;
        return;
    }
    auto s = std::make_unique<Scan>();
    s->q = q;
    s->forward = forward;
    s->next = next;
    s->live = live();

    Pat text { std::vector<uint8_t>(q.begin(), q.end()), true };
    s->pats.push_back(text);
    if (std::none_of(q.begin(), q.end(), [](char c) { return uint8_t(c) >= 0x80; })) {
        Pat wide;
        wide.fold = true;
        for (char c : q) {
            wide.b.push_back(uint8_t(c));
            wide.b.push_back(0);
        }
        s->pats.push_back(wide);
    }
    std::string digits;
    bool hex = true;
    for (size_t i = 0; i < q.size() && hex; ++i) {
        char c = q[i];
        if (c == ' ' || c == ',')
            continue;
        if (c == '0' && i + 1 < q.size() && (q[i + 1] == 'x' || q[i + 1] == 'X')) {
            ++i;
            continue;
        }
        if (numfmt::hex_digit(c) >= 0)
            digits += c;
        else
            hex = false;
    }
    if (hex && !digits.empty() && digits.size() % 2 == 0) {
        Pat h;
        for (size_t i = 0; i < digits.size(); i += 2)
            h.b.push_back(uint8_t(numfmt::hex_digit(digits[i]) * 16 + numfmt::hex_digit(digits[i + 1])));
        s->pats.push_back(h);
    }

    if (s->live) {
        // Regions are read a window at a time while the search runs, so
        // starting one costs nothing however large the program is.
        for (const dbg::Region& r : regions()) {
            uint64_t len = r.end - r.start;
            if (!r.r || len == 0 || len > kDumpMax || r.name == "[vvar]" || r.name == "[vsyscall]")
                continue;
            Scan::Chunk c;
            c.base = r.start;
            c.n = size_t(len);
            s->chunks.push_back(std::move(c));
        }
    } else if (m_img && !m_img->m_data.empty()) {
        // The file is searched where it lies, never copied.
        Scan::Chunk c;
        c.p = m_img->m_data.data();
        c.n = m_img->m_data.size();
        s->chunks.push_back(std::move(c));
    }
    for (const Pat& p : s->pats)
        s->longest = std::max(s->longest, p.b.size());
    for (Scan::Chunk& c : s->chunks) {
        c.at = s->total;
        s->total += c.n;
    }
    auto index_of = [&](uint64_t v, uint64_t* idx) {
        for (const Scan::Chunk& c : s->chunks) {
            if (v >= c.base && v - c.base < c.n) {
                *idx = c.at + (v - c.base);
                return true;
            }
        }
        return false;
    };
    uint64_t start = 0, idx = 0;
    if (s->total > 0) {
        if (m_hit_len && m_hit_live == s->live && index_of(m_hit, &idx)) {
            start = idx;
            if (next)
                start = forward ? (idx + 1) % s->total : (idx + s->total - 1) % s->total;
        } else if (index_of(m_cur, &idx)) {
            start = idx;
        }
    }
    s->pos = start;
    s->left = s->total;
    m_scan = std::move(s);
}

BinView::Search BinView::scan_slice(double budget_ms)
{
    Scan& s = *m_scan;
    double t0 = now_ms();
    while (!s.bytes_done) {
        if (s.left == 0) {
            s.bytes_done = true;
            break;
        }
        // One window of positions in the visiting order, inside one chunk.
        const Scan::Chunk* c = nullptr;
        for (const Scan::Chunk& ch : s.chunks) {
            if (s.pos >= ch.at && s.pos < ch.at + ch.n)
                c = &ch;
        }
        size_t local = size_t(s.pos - c->at);
        // Start positions [wlo, whi) of this window, in the chunk.
        uint64_t span = s.forward ? std::min<uint64_t>({ s.left, kWindow, c->n - local })
                                  : std::min<uint64_t>({ s.left, kWindow, uint64_t(local) + 1 });
        size_t wlo = s.forward ? local : local + 1 - size_t(span);
        size_t whi = wlo + size_t(span);
        const uint8_t* buf = c->p;
        size_t blen = c->n, from = 0;
        if (!buf) {
            // Live: this window's bytes and what a match starting in it may
            // reach; an unreadable tail simply matches nothing.
            size_t want = std::min(c->n, whi + s.longest - 1) - wlo;
            s.window.resize(want);
            blen = m_proc->read(c->base + wlo, s.window.data(), want);
            buf = s.window.data();
            from = wlo;
        }
        size_t hit = kNone;
        size_t hit_len = 0;
        bool hit_fold = false;
        for (const Pat& p : s.pats) {
            size_t h = scan(buf, blen, wlo - from, whi - from, p, s.forward);
            if (h != kNone && (hit == kNone || (s.forward ? h < hit : h > hit))) {
                hit = h;
                hit_len = p.b.size();
                hit_fold = p.fold;
            }
        }
        if (hit != kNone)
            hit += from;
        if (hit != kNone) {
            uint64_t h = c->base + hit;
            if (s.live && (h < m_dump_lo || h >= m_dump_hi))
                set_dump(h);
            m_hit = h;
            m_hit_len = hit_len;
            m_hit_live = s.live;
            m_cur = h;
            m_nib = 0;
            m_ascii = hit_fold;
            m_hex_focus = true;
            ensure_hex_visible();
            uint64_t a = h;
            bool loaded = s.live || (m_img && m_img->off_to_addr(h, &a));
            if (loaded) {
                Key k = row_of_addr(a);
                if (k.valid()) {
                    m_sel = k;
                    ensure_row_visible();
                }
            }
            return Search::Found;
        }
        s.left -= span;
        if (s.forward)
            s.pos = (s.pos + span) % s.total;
        else
            s.pos = (s.pos + s.total - span) % s.total;
        if (now_ms() - t0 > budget_ms)
            return Search::Running;
    }

    // No bytes matched: the texts of the rows.
    if (m_parts.empty()) {
        m_hit_len = 0;
        return Search::Missing;
    }
    std::string want = lower(s.q);
    if (!s.started_text) {
        s.started_text = true;
        s.row = m_sel.valid() ? fix_key(m_sel) : first_row();
        s.rows_seen = 0;
        if (!s.next && s.row.valid()) {
            const Row* r = row(s.row);
            if (r && (holds(r->insn.text, want) || holds(r->label, want))) {
                m_hit_len = 0;
                select_row(s.row, true);
                m_hex_focus = false;
                return Search::Found;
            }
        }
    }
    Key origin = m_sel.valid() ? fix_key(m_sel) : first_row();
    for (;;) {
        Key k = s.forward ? next_row(s.row) : prev_row(s.row);
        if (!k.valid())
            k = s.forward ? first_row() : last_row();
        s.row = k;
        ++s.rows_seen;
        const Row* r = row(k);
        if (r && (holds(r->insn.text, want) || holds(r->label, want))) {
            m_hit_len = 0;
            select_row(k, true);
            m_hex_focus = false;
            return Search::Found;
        }
        if (k == origin || s.rows_seen >= kTextRowsMax) {
            m_hit_len = 0;
            return Search::Missing;
        }
        if ((s.rows_seen & 255) == 0 && now_ms() - t0 > budget_ms)
            return Search::Running;
    }
}

BinView::Search BinView::find_poll(double budget_ms)
{
    if (!m_scan)
        return Search::Idle;
    Search r = scan_slice(budget_ms);
    if (r != Search::Running)
        m_scan.reset();
    return r;
}

bool BinView::find(const std::string& q, bool forward, bool next)
{
    find_begin(q, forward, next);
    if (!m_scan)
        return false;
    return find_poll(1e300) == Search::Found;
}
