// The lazily built list of the binary view: parts cut into blocks, blocks
// decoded on first use and kept in a small cache, rows named by keys.
#include "binview.h"

#include <algorithm>

namespace {

// Code blocks start where a short sweep from just before the boundary
// lands; x86 code re-synchronises within a few instructions, so the rows
// match a sweep from the part's start except in rare cases, where the bytes
// before the boundary show as shorter rows. Data rows are 15 bytes long
// from the last label, so their blocks start exactly on a row.
constexpr uint64_t kCodeBlock = 4096;
constexpr uint64_t kDataBlock = 4095;
constexpr uint64_t kLookback = 64;
constexpr size_t kMaxBlocks = 64;
constexpr size_t kDataRow = 15;

uint64_t block_size(bool data) { return data ? kDataBlock : kCodeBlock; }

bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7E && c != '\''; }

// "db 'Hi', 0x0A, 0x00" for the bytes of a data row.
std::string data_text(const uint8_t* b, size_t n)
{
    std::string t = "db ";
    size_t i = 0;
    bool first = true;
    while (i < n) {
        if (!first)
            t += ", ";
        first = false;
        if (printable(b[i])) {
            t += '\'';
            while (i < n && printable(b[i]))
                t += char(b[i++]);
            t += '\'';
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "0x%02X", b[i++]);
            t += hex;
        }
    }
    return t;
}

} // namespace

bool BinView::Key::operator<(const Key& o) const
{
    if (part != o.part)
        return part < o.part;
    if (off != o.off)
        return off < o.off;
    return kind < o.kind;
}

void BinView::clear_rows()
{
    m_parts.clear();
    m_blocks.clear();
    m_syncs.clear();
}

void BinView::add_part(const Part& p) { m_parts.push_back(p); }

const uint8_t* BinView::part_bytes(const Part& p) const
{
    if (m_rows_live)
        return m_live_buf.data() + p.off;
    return m_img ? m_img->m_data.data() + p.off : nullptr;
}

uint64_t BinView::block_count(int part) const
{
    const Part& p = m_parts[size_t(part)];
    uint64_t bs = block_size(p.data);
    return (p.size + bs - 1) / bs;
}

// Offset in the part where the rows of block b begin (not yet clamped).
uint64_t BinView::sync_point(int part, uint64_t b) const
{
    const Part& p = m_parts[size_t(part)];
    uint64_t boundary = b * block_size(p.data);
    auto it = m_syncs.find({ part, b });
    if (it != m_syncs.end())
        return it->second;
    uint64_t at = boundary;
    if (p.data) {
        // The last label at or before the boundary restarts the rows.
        uint64_t base = 0;
        if (m_img && !m_img->m_symbols.empty()) {
            const auto& syms = m_img->m_symbols;
            auto hi = std::upper_bound(syms.begin(), syms.end(), p.addr + boundary,
                [](uint64_t a, const BinImage::Symbol& s) { return a < s.addr; });
            if (hi != syms.begin() && (hi - 1)->addr >= p.addr)
                base = (hi - 1)->addr - p.addr;
            uint64_t rows = (boundary - base + kDataRow - 1) / kDataRow;
            at = base + rows * kDataRow;
            // A label between the boundary and that row start begins a row.
            if (hi != syms.end() && hi->addr - p.addr < at)
                at = hi->addr - p.addr;
        } else {
            at = (boundary + kDataRow - 1) / kDataRow * kDataRow;
        }
    } else {
        const uint8_t* bytes = part_bytes(p);
        uint64_t pos = boundary > kLookback ? boundary - kLookback : 0;
        dis::Insn insn;
        int bits = this->bits();
        while (pos < boundary) {
            dis::decode(bytes + pos, size_t(p.size - pos), p.addr + pos, bits, &insn, false);
            if (insn.len == 0)
                break;
            pos += insn.len;
        }
        at = pos;
    }
    at = std::min(at, p.size);
    m_syncs[{ part, b }] = at;
    return at;
}

uint64_t BinView::block_start(int part, uint64_t b) const
{
    if (b == 0)
        return 0;
    if (b >= block_count(part))
        return m_parts[size_t(part)].size;
    return sync_point(part, b);
}

uint64_t BinView::block_of(int part, uint64_t off) const
{
    uint64_t n = block_count(part);
    if (n == 0)
        return 0;
    uint64_t b = std::min(off / block_size(m_parts[size_t(part)].data), n - 1);
    while (b > 0 && off < block_start(part, b))
        --b;
    return b;
}

void BinView::decode_block(int part, uint64_t b, Block* out) const
{
    ++m_blocks_decoded;
    const Part& p = m_parts[size_t(part)];
    const uint8_t* bytes = part_bytes(p);
    uint64_t s = block_start(part, b), e = block_start(part, b + 1);
    bool last = b + 1 >= block_count(part);
    int bits = this->bits();
    const auto& syms = m_img ? m_img->m_symbols : std::vector<BinImage::Symbol>();
    auto label_at = [&](uint64_t a) -> std::string {
        if (m_rows_live) {
            if (!symbol_at)
                return {};
            std::string name = symbol_at(a);
            return name.find('+') == std::string::npos ? name : std::string();
        }
        return m_img ? m_img->symbol_at(a, true) : std::string();
    };
    uint64_t off = s;
    while (off < e) {
        uint64_t a = p.addr + off;
        std::string name = label_at(a);
        Row r;
        if (!name.empty()) {
            r.label = std::move(name);
            r.insn.addr = a;
            r.insn.len = 0;
            out->rows.push_back(std::move(r));
            r = Row();
        }
        if (p.data) {
            // The next label ends the row.
            uint64_t stop = std::min<uint64_t>(e - off, kDataRow);
            auto next = std::upper_bound(syms.begin(), syms.end(), a,
                [](uint64_t v, const BinImage::Symbol& sy) { return v < sy.addr; });
            if (next != syms.end() && next->addr - a < stop)
                stop = next->addr - a;
            size_t n = size_t(std::max<uint64_t>(stop, 1));
            r.insn.addr = a;
            r.insn.len = uint8_t(n);
            std::copy(bytes + off, bytes + off + n, r.insn.bytes);
            r.insn.valid = false;
            r.insn.text = data_text(bytes + off, n);
            r.data = true;
        } else {
            uint64_t lim = (last && p.drop_crossing) ? p.avail - off : e - off;
            dis::decode(bytes + off, size_t(lim), a, bits, &r.insn, false);
            if (r.insn.len == 0 || (p.drop_crossing && off + r.insn.len > e))
                break;
        }
        off += r.insn.len;
        out->rows.push_back(std::move(r));
    }
}

const BinView::Block* BinView::block(int part, uint64_t b) const
{
    auto key = std::make_pair(part, b);
    auto it = m_blocks.find(key);
    if (it == m_blocks.end()) {
        if (m_blocks.size() >= kMaxBlocks) {
            auto oldest = m_blocks.begin();
            for (auto i = m_blocks.begin(); i != m_blocks.end(); ++i) {
                if (i->second.stamp < oldest->second.stamp)
                    oldest = i;
            }
            m_blocks.erase(oldest);
        }
        Block fresh;
        decode_block(part, b, &fresh);
        it = m_blocks.emplace(key, std::move(fresh)).first;
    }
    it->second.stamp = ++m_stamp;
    return &it->second;
}

BinView::Key BinView::key_of(int part, uint64_t b, size_t i) const
{
    const Block* blk = block(part, b);
    const Row& r = blk->rows[i];
    return Key { part, r.insn.addr - m_parts[size_t(part)].addr, r.insn.len ? Key::Insn : Key::Label };
}

// The block and index of the row of k, or of the last row before it in its
// block (the first row of the block when none is before it).
bool BinView::locate(const Key& k, int* part, uint64_t* b, size_t* i) const
{
    if (k.part < 0 || size_t(k.part) >= m_parts.size() || k.kind == Key::Header)
        return false;
    uint64_t n = block_count(k.part);
    if (n == 0)
        return false;
    uint64_t bi = block_of(k.part, k.off);
    for (;;) {
        const Block* blk = block(k.part, bi);
        if (!blk->rows.empty()) {
            uint64_t base = m_parts[size_t(k.part)].addr;
            auto it = std::upper_bound(blk->rows.begin(), blk->rows.end(), k, [&](const Key& key, const Row& r) {
                Key rk { key.part, r.insn.addr - base, r.insn.len ? Key::Insn : Key::Label };
                return key < rk;
            });
            size_t idx = it == blk->rows.begin() ? 0 : size_t(it - blk->rows.begin()) - 1;
            *part = k.part;
            *b = bi;
            *i = idx;
            return true;
        }
        if (bi == 0)
            return false;
        --bi;
    }
}

BinView::Key BinView::fix_key(const Key& k) const
{
    if (m_parts.empty())
        return Key();
    if (k.part < 0)
        return first_row();
    if (size_t(k.part) >= m_parts.size())
        return last_row();
    int p = 0;
    uint64_t b = 0;
    size_t i = 0;
    if (k.kind != Key::Header && locate(k, &p, &b, &i))
        return key_of(p, b, i);
    if (m_parts[size_t(k.part)].header)
        return Key { k.part, 0, Key::Header };
    Key first = next_row(Key { k.part, 0, Key::Header });
    return first.valid() ? first : first_row();
}

const BinView::Row* BinView::row(const Key& k) const
{
    if (k.part < 0 || size_t(k.part) >= m_parts.size())
        return nullptr;
    if (k.kind == Key::Header) {
        // Header rows are made on request; one at a time is enough.
        static thread_local Row head;
        const Part& p = m_parts[size_t(k.part)];
        if (!p.header)
            return nullptr;
        head = Row();
        head.header = true;
        head.label = p.name;
        head.insn.addr = p.addr;
        return &head;
    }
    int part = 0;
    uint64_t b = 0;
    size_t i = 0;
    if (!locate(k, &part, &b, &i))
        return nullptr;
    const Row& r = block(part, b)->rows[i];
    uint64_t off = r.insn.addr - m_parts[size_t(part)].addr;
    int kind = r.insn.len ? Key::Insn : Key::Label;
    if (off != k.off || kind != k.kind)
        return nullptr;
    return &r;
}

BinView::Key BinView::next_row(const Key& k) const
{
    if (k.part < 0 || size_t(k.part) >= m_parts.size())
        return Key();
    int p = k.part;
    uint64_t b = 0;
    size_t i = 0;
    if (k.kind != Key::Header) {
        if (!locate(k, &p, &b, &i))
            return Key();
        const Block* blk = block(p, b);
        if (i + 1 < blk->rows.size())
            return key_of(p, b, i + 1);
        ++b;
    }
    for (;;) {
        uint64_t n = block_count(p);
        for (; b < n; ++b) {
            if (!block(p, b)->rows.empty())
                return key_of(p, b, 0);
        }
        if (size_t(p + 1) >= m_parts.size())
            return Key();
        ++p;
        b = 0;
        if (m_parts[size_t(p)].header)
            return Key { p, 0, Key::Header };
    }
}

BinView::Key BinView::prev_row(const Key& k) const
{
    if (k.part < 0 || size_t(k.part) >= m_parts.size())
        return Key();
    int p = k.part;
    uint64_t b = 0;
    if (k.kind == Key::Header) {
        if (p == 0)
            return Key();
        --p;
        b = block_count(p);
    } else {
        size_t i = 0;
        if (!locate(k, &p, &b, &i))
            return Key();
        if (i > 0)
            return key_of(p, b, i - 1);
    }
    // Walk back over blocks before b, then the part's header, then earlier parts.
    for (;;) {
        while (b > 0) {
            --b;
            const Block* blk = block(p, b);
            if (!blk->rows.empty())
                return key_of(p, b, blk->rows.size() - 1);
        }
        if (m_parts[size_t(p)].header)
            return Key { p, 0, Key::Header };
        if (p == 0)
            return Key();
        --p;
        b = block_count(p);
    }
}

BinView::Key BinView::first_row() const
{
    if (m_parts.empty())
        return Key();
    if (m_parts[0].header)
        return Key { 0, 0, Key::Header };
    return next_row(Key { 0, 0, Key::Header });
}

BinView::Key BinView::last_row() const
{
    for (int p = int(m_parts.size()) - 1; p >= 0; --p) {
        for (uint64_t b = block_count(p); b > 0; --b) {
            const Block* blk = block(p, b - 1);
            if (!blk->rows.empty())
                return key_of(p, b - 1, blk->rows.size() - 1);
        }
        if (m_parts[size_t(p)].header)
            return Key { p, 0, Key::Header };
    }
    return Key();
}

BinView::Key BinView::step_rows(Key k, int n) const
{
    for (; n > 0; --n) {
        Key nk = next_row(k);
        if (!nk.valid())
            break;
        k = nk;
    }
    for (; n < 0; ++n) {
        Key pk = prev_row(k);
        if (!pk.valid())
            break;
        k = pk;
    }
    return k;
}

uint64_t BinView::row_addr(const Key& k) const
{
    if (k.part < 0 || size_t(k.part) >= m_parts.size())
        return 0;
    return m_parts[size_t(k.part)].addr + k.off;
}

int BinView::part_of_addr(uint64_t a) const
{
    for (size_t p = 0; p < m_parts.size(); ++p) {
        const Part& part = m_parts[p];
        if (a >= part.addr && a - part.addr < part.size)
            return int(p);
    }
    return -1;
}

// Where a row lies in the whole list, 0 to 1, by bytes before it.
double BinView::row_fraction(const Key& k) const
{
    uint64_t total = 0, before = 0;
    for (size_t p = 0; p < m_parts.size(); ++p) {
        if (int(p) < k.part)
            before += m_parts[p].size;
        total += m_parts[p].size;
    }
    if (k.part >= 0)
        before += k.off;
    return total ? double(before) / double(total) : 0.0;
}
