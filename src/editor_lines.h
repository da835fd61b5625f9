#pragma once
// The editor's text as a persistent sequence of lines. Lines are immutable
// shared strings held in chunks of a few hundred; a frozen copy (an undo
// snapshot) shares every chunk and line with the live text, and an edit
// copies only the chunk list and the one chunk it touches. Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace edlines {

struct Chunk;

// A counted reference to a chunk. The count is not atomic: the editor lives
// on the main thread, and half the size of a shared_ptr keeps the chunk list
// that every undo step copies small.
class ChunkRef {
public:
    ChunkRef() = default;
    explicit ChunkRef(Chunk* c);
    ChunkRef(const ChunkRef& o);
    ChunkRef(ChunkRef&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    ChunkRef& operator=(ChunkRef o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~ChunkRef();
    Chunk* operator->() const { return m_p; }
    Chunk& operator*() const { return *m_p; }
    bool shared() const;

private:
    Chunk* m_p = nullptr;
};

// Owner of line strings: one block holding the lines of a loaded chunk, or
// one edited line. Counted without atomics like the chunks.
struct LineOwner {
    uint32_t refs = 0;
    virtual ~LineOwner() = default;
};

// One immutable line: its string and the owner that keeps it alive.
class LinePtr {
public:
    LinePtr(const std::string* s, LineOwner* o) : m_s(s), m_o(o) { ++m_o->refs; }
    LinePtr(const LinePtr& x) : m_s(x.m_s), m_o(x.m_o) { ++m_o->refs; }
    LinePtr(LinePtr&& x) noexcept : m_s(x.m_s), m_o(x.m_o) { x.m_o = nullptr; }
    LinePtr& operator=(LinePtr x) noexcept
    {
        std::swap(m_s, x.m_s);
        std::swap(m_o, x.m_o);
        return *this;
    }
    ~LinePtr()
    {
        if (m_o && --m_o->refs == 0)
            delete m_o;
    }
    const std::string& operator*() const { return *m_s; }

private:
    const std::string* m_s;
    LineOwner* m_o;
};

struct Chunk {
    uint32_t refs = 0;
    std::vector<LinePtr> lines;
    mutable std::shared_ptr<const void> memo;
};

inline ChunkRef::ChunkRef(Chunk* c) : m_p(c) { ++m_p->refs; }
inline ChunkRef::ChunkRef(const ChunkRef& o) : m_p(o.m_p)
{
    if (m_p)
        ++m_p->refs;
}
inline ChunkRef::~ChunkRef()
{
    if (m_p && --m_p->refs == 0)
        delete m_p;
}
inline bool ChunkRef::shared() const { return m_p->refs > 1; }

class Lines {
public:
    // What a snapshot keeps: the chunk list, shared until someone edits.
    using Frozen = std::shared_ptr<const std::vector<ChunkRef>>;

    Lines();  // one empty line

    // Splits at line feeds, drops carriage returns; "" gives one empty line.
    void assign(const std::string& text);
    Frozen freeze() const { return m_chunks; }
    void thaw(Frozen f);

    int size() const { return m_size; }
    const std::string& operator[](int i) const;

    void set(int i, std::string s);
    void insert(int at, std::vector<std::string> lines);
    void insert(int at, std::string line);
    void erase(int first, int count);

    // Chunk view, for caches that follow the chunks' identity: a chunk that
    // has not changed keeps its memo.
    int chunk_count() const { return int(m_chunks->size()); }
    int chunk_first(int k) const { return m_first[size_t(k)]; }
    int chunk_size(int k) const;
    const std::shared_ptr<const void>& memo(int k) const;
    void set_memo(int k, std::shared_ptr<const void> m) const;

    static constexpr int kChunk = 256;

private:
    std::shared_ptr<std::vector<ChunkRef>> m_chunks;
    std::vector<int> m_first;  // first line index of each chunk
    int m_size = 0;
    mutable int m_hint = 0;    // chunk of the last lookup

    int locate(int i, int* off) const;
    std::vector<ChunkRef>& own_list();
    Chunk& own_chunk(int k);
    void reindex(int from);
    void split(int k);
    void merge_small(int k);
};

} // namespace edlines
