#pragma once
// The editor's text as a persistent sequence of lines. Lines are immutable
// shared strings held in chunks of a few hundred; a frozen copy (an undo
// snapshot) shares every chunk and line with the live text, and an edit
// copies only the chunk list and the one chunk it touches. Main thread only.
#include <memory>
#include <string>
#include <vector>

namespace edlines {

class Lines {
public:
    // What a snapshot keeps: the chunk list, shared until someone edits.
    struct Chunk;
    using Frozen = std::shared_ptr<const std::vector<std::shared_ptr<Chunk>>>;

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

    // Bytes held by the lines themselves (for the caller's accounting).
    static constexpr int kChunk = 256;

private:
    using ChunkPtr = std::shared_ptr<Chunk>;
    std::shared_ptr<std::vector<ChunkPtr>> m_chunks;
    std::vector<int> m_first;  // first line index of each chunk
    int m_size = 0;
    mutable int m_hint = 0;    // chunk of the last lookup

    int locate(int i, int* off) const;
    std::vector<ChunkPtr>& own_list();
    Chunk& own_chunk(int k);
    void reindex(int from);
    void split(int k);
    void merge_small(int k);
};

struct Lines::Chunk {
    std::vector<std::shared_ptr<const std::string>> lines;
    mutable std::shared_ptr<const void> memo;
};

} // namespace edlines
