#include "editor_lines.h"

#include <algorithm>
#include <cassert>

namespace edlines {

namespace {

struct LineNode : LineOwner {
    std::string s;
};

struct LineBlock : LineOwner {
    std::vector<std::string> lines;
};

LinePtr make_line(std::string s)
{
    auto* n = new LineNode;
    n->s = std::move(s);
    return LinePtr(&n->s, n);
}

} // namespace

Lines::Lines() { assign(std::string()); }

void Lines::assign(const std::string& text)
{
    // The strings of each chunk live in one block that the lines alias, so
    // loading costs one allocation per long line instead of two per line.
    auto list = std::make_shared<std::vector<ChunkRef>>();
    auto* block = new LineBlock;
    block->lines.reserve(kChunk);
    auto flush = [&] {
        ChunkRef c(new Chunk);
        c->lines.reserve(block->lines.size());
        for (auto& s : block->lines)
            c->lines.emplace_back(&s, block);
        list->push_back(std::move(c));
        block = new LineBlock;
        block->lines.reserve(kChunk);
    };
    size_t i = 0;
    const size_t n = text.size();
    size_t cr = text.find('\r');  // the next carriage return, searched once per hit
    for (;;) {
        size_t lf = text.find('\n', i);
        size_t end = lf == std::string::npos ? n : lf;
        if (cr != std::string::npos && cr < i)
            cr = text.find('\r', i);
        if (int(block->lines.size()) == kChunk)
            flush();
        if (cr == std::string::npos || cr >= end) {
            block->lines.emplace_back(text, i, end - i);
        } else {
            std::string& cur = block->lines.emplace_back();
            cur.reserve(end - i);
            for (size_t j = i; j < end; ++j)
                if (text[j] != '\r')
                    cur.push_back(text[j]);
        }
        if (lf == std::string::npos)
            break;
        i = lf + 1;
    }
    flush();
    delete block;  // the spare one the last flush made
    m_chunks = std::move(list);
    reindex(0);
}

void Lines::thaw(Frozen f)
{
    m_chunks = std::const_pointer_cast<std::vector<ChunkRef>>(std::move(f));
    reindex(0);
}

int Lines::chunk_size(int k) const { return int((*m_chunks)[size_t(k)]->lines.size()); }

const std::shared_ptr<const void>& Lines::memo(int k) const { return (*m_chunks)[size_t(k)]->memo; }

void Lines::set_memo(int k, std::shared_ptr<const void> m) const
{
    (*m_chunks)[size_t(k)]->memo = std::move(m);
}

int Lines::locate(int i, int* off) const
{
    const int nc = int(m_first.size());
    int k = m_hint;
    if (k >= nc || i < m_first[size_t(k)] || (k + 1 < nc && i >= m_first[size_t(k) + 1])) {
        k = int(std::upper_bound(m_first.begin(), m_first.end(), i) - m_first.begin()) - 1;
        if (k < 0)
            k = 0;
        m_hint = k;
    }
    *off = i - m_first[size_t(k)];
    return k;
}

const std::string& Lines::operator[](int i) const
{
    assert(i >= 0 && i < m_size);
    int off = 0;
    int k = locate(i, &off);
    return *(*m_chunks)[size_t(k)]->lines[size_t(off)];
}

std::vector<ChunkRef>& Lines::own_list()
{
    // A frozen snapshot still holds this list: edit a copy of it.
    if (m_chunks.use_count() > 1)
        m_chunks = std::make_shared<std::vector<ChunkRef>>(*m_chunks);
    return *m_chunks;
}

Chunk& Lines::own_chunk(int k)
{
    auto& list = own_list();
    ChunkRef& c = list[size_t(k)];
    if (c.shared()) {
        auto copy = ChunkRef(new Chunk);
        // A little room, so the insertion that follows does not double it.
        copy->lines.reserve(c->lines.size() + 8);
        copy->lines.assign(c->lines.begin(), c->lines.end());
        c = std::move(copy);
    }
    c->memo.reset();
    return *c;
}

void Lines::reindex(int from)
{
    const auto& list = *m_chunks;
    m_first.resize(list.size());
    int at = from > 0 ? m_first[size_t(from) - 1] + int(list[size_t(from) - 1]->lines.size()) : 0;
    for (size_t k = size_t(from); k < list.size(); ++k) {
        m_first[k] = at;
        at += int(list[k]->lines.size());
    }
    m_size = at;
    if (m_hint >= int(list.size()))
        m_hint = 0;
}

void Lines::set(int i, std::string s)
{
    int off = 0;
    int k = locate(i, &off);
    own_chunk(k).lines[size_t(off)] = make_line(std::move(s));
}

void Lines::insert(int at, std::string line)
{
    std::vector<std::string> one;
    one.push_back(std::move(line));
    insert(at, std::move(one));
}

void Lines::insert(int at, std::vector<std::string> lines)
{
    if (lines.empty())
        return;
    int off = 0;
    int k = 0;
    if (at >= m_size && !m_chunks->empty()) {
        k = int(m_chunks->size()) - 1;
        off = chunk_size(k);
    } else if (m_chunks->empty()) {
        own_list().push_back(ChunkRef(new Chunk));
        m_first.assign(1, 0);
    } else {
        k = locate(at, &off);
    }
    Chunk& c = own_chunk(k);
    std::vector<LinePtr> add;
    add.reserve(lines.size());
    for (auto& s : lines)
        add.push_back(make_line(std::move(s)));
    c.lines.insert(c.lines.begin() + off, std::make_move_iterator(add.begin()),
                   std::make_move_iterator(add.end()));
    if (int(c.lines.size()) > 2 * kChunk)
        split(k);
    reindex(k);
}

void Lines::split(int k)
{
    auto& list = own_list();
    auto& big = list[size_t(k)]->lines;
    std::vector<ChunkRef> parts;
    for (size_t a = 0; a < big.size(); a += kChunk) {
        auto c = ChunkRef(new Chunk);
        size_t b = std::min(big.size(), a + kChunk);
        c->lines.assign(std::make_move_iterator(big.begin() + long(a)),
                        std::make_move_iterator(big.begin() + long(b)));
        parts.push_back(std::move(c));
    }
    list.erase(list.begin() + k);
    list.insert(list.begin() + k, parts.begin(), parts.end());
}

void Lines::erase(int first, int count)
{
    if (count <= 0)
        return;
    int off = 0;
    int k = locate(first, &off);
    const int start_k = k;
    int left = count;
    auto& list = own_list();
    while (left > 0 && k < int(list.size())) {
        int sz = chunk_size(k);
        int take = std::min(left, sz - off);
        if (off == 0 && take == sz) {
            list.erase(list.begin() + k);
        } else {
            auto& v = own_chunk(k).lines;
            v.erase(v.begin() + off, v.begin() + off + take);
            ++k;
        }
        left -= take;
        off = 0;
    }
    m_first.resize(list.size());
    merge_small(std::min(start_k, int(list.size()) - 1));
    reindex(0);
}

void Lines::merge_small(int k)
{
    // Keeps the chunk count near size / kChunk after many deletions.
    auto& list = *m_chunks;
    if (k < 0 || k + 1 >= int(list.size()))
        return;
    int a = chunk_size(k);
    int b = chunk_size(k + 1);
    if (a + b > kChunk)
        return;
    auto& dst = own_chunk(k).lines;
    const auto& src = list[size_t(k) + 1]->lines;
    dst.insert(dst.end(), src.begin(), src.end());
    list.erase(list.begin() + k + 1);
}

} // namespace edlines
