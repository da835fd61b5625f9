// Find and replace, go to line, the word and prefix at the caret, completion.
#include "editor.h"
#include "editor_chars.h"

#include <algorithm>
#include <array>

namespace {

const std::array<unsigned char, 256>& fold_table()
{
    static const std::array<unsigned char, 256> t = [] {
        std::array<unsigned char, 256> a {};
        for (int i = 0; i < 256; ++i)
            a[size_t(i)] = (i >= 'A' && i <= 'Z') ? (unsigned char)(i - 'A' + 'a') : (unsigned char)i;
        return a;
    }();
    return t;
}

std::string fold(const std::string& s)
{
    const auto& f = fold_table();
    std::string out(s);
    for (char& c : out)
        c = char(f[(unsigned char)c]);
    return out;
}

bool match_at(const std::string& hay, size_t p, const std::string& folded)
{
    const auto& f = fold_table();
    for (size_t k = 0; k < folded.size(); ++k)
        if (f[(unsigned char)hay[p + k]] != (unsigned char)folded[k])
            return false;
    return true;
}

// First case-folded occurrence of folded at or after from; npos for none.
size_t find_fold(const std::string& hay, const std::string& folded, size_t from)
{
    const size_t m = folded.size();
    if (hay.size() < m)
        return std::string::npos;
    const auto& f = fold_table();
    const unsigned char first = (unsigned char)folded[0];
    const size_t last = hay.size() - m;
    for (size_t p = from; p <= last; ++p)
        if (f[(unsigned char)hay[p]] == first && match_at(hay, p, folded))
            return p;
    return std::string::npos;
}

// Last occurrence that starts at or before limit.
size_t rfind_fold(const std::string& hay, const std::string& folded, size_t limit)
{
    const size_t m = folded.size();
    if (hay.size() < m)
        return std::string::npos;
    size_t p = std::min(limit, hay.size() - m);
    for (;; --p) {
        if (match_at(hay, p, folded))
            return p;
        if (p == 0)
            return std::string::npos;
    }
}

bool caret_word_char(unsigned char c)
{
    return edchars::is_alnum(c) || c == '$' || c == '%' || c == '.' || c == '_';
}

using edchars::label_char;
using edchars::leading_blanks;

} // namespace

bool Editor::find(const std::string& needle, bool forward, bool from_caret)
{
    if (needle.empty())
        return false;
    const std::string folded = fold(needle);
    Pos start {};
    if (from_caret)
        start = forward ? sel_end() : sel_start();
    const int n = m_lines.size();
    const size_t m = needle.size();
    for (int i = 0; i <= n; ++i) {
        size_t p = std::string::npos;
        int L = 0;
        if (forward) {
            L = (start.line + i) % n;
            const std::string& s = m_lines[L];
            const size_t from = i == 0 ? size_t(std::min(start.col, int(s.size()))) : 0;
            p = find_fold(s, folded, from);
        } else {
            L = ((start.line - i) % n + n) % n;
            const std::string& s = m_lines[L];
            if (i > 0)
                p = rfind_fold(s, folded, s.size());
            else if (start.col >= int(m))  // must end at or before the start column
                p = rfind_fold(s, folded, size_t(start.col) - m);
        }
        if (p != std::string::npos) {
            m_anchor = { L, int(p) };
            m_caret = { L, int(p + m) };
            ensure_caret_visible();
            return true;
        }
    }
    return false;
}

int Editor::replace_next(const std::string& needle, const std::string& replacement)
{
    if (needle.empty())
        return 0;
    int done = 0;
    if (has_selection() && m_caret.line == m_anchor.line && !m_block
        && fold(selected_text()) == fold(needle)) {
        push_undo(0);
        const Pos s = sel_start();
        const Pos e = sel_end();
        std::string t = m_lines[s.line];
        t.replace(size_t(s.col), size_t(e.col - s.col), replacement);
        m_lines.set(s.line, std::move(t));
        m_caret = m_anchor = { s.line, s.col + int(replacement.size()) };
        changed();
        done = 1;
    }
    find(needle, true, true);
    return done;
}

int Editor::replace_all(const std::string& needle, const std::string& replacement)
{
    if (needle.empty())
        return 0;
    const std::string folded = fold(needle);
    std::vector<std::pair<int, std::string>> changes;
    int hits = 0;
    const int n = m_lines.size();
    for (int i = 0; i < n; ++i) {
        const std::string& s = m_lines[i];
        size_t p = find_fold(s, folded, 0);
        if (p == std::string::npos)
            continue;
        std::string out;
        size_t at = 0;
        while (p != std::string::npos) {
            out.append(s, at, p - at);
            out += replacement;
            at = p + needle.size();
            ++hits;
            p = find_fold(s, folded, at);
        }
        out.append(s, at, std::string::npos);
        changes.emplace_back(i, std::move(out));
    }
    if (hits > 0)
        replace_lines(std::move(changes));
    return hits;
}

void Editor::goto_line(int line, bool center)
{
    const int L = std::clamp(line, 0, m_lines.size() - 1);
    m_caret = m_anchor = { L, leading_blanks(m_lines[L]) };
    if (m_h <= 0) {
        m_reveal = center ? 2 : std::max(m_reveal, 1);
        return;
    }
    const int v = visible_lines();
    if (center && (L < m_top || L >= m_top + v))
        m_top = std::max(L - v / 3, 0);
    ensure_caret_visible();
}

void Editor::select_range(int line, int col, int len)
{
    const int L = std::clamp(line, 0, m_lines.size() - 1);
    m_anchor = clamp({ L, col });
    m_caret = clamp({ L, col + len });
    m_block = false;
    if (m_h <= 0) {
        m_reveal = 2;
        return;
    }
    const int v = visible_lines();
    if (L < m_top || L >= m_top + v)
        m_top = std::max(L - v / 3, 0);
    ensure_caret_visible();
}

std::string Editor::word_at_caret() const
{
    const std::string& s = m_lines[m_caret.line];
    const size_t c = std::min(size_t(m_caret.col), s.size());
    size_t a = c;
    while (a > 0 && caret_word_char((unsigned char)s[a - 1]))
        --a;
    size_t b = c;
    while (b < s.size() && caret_word_char((unsigned char)s[b]))
        ++b;
    return s.substr(a, b - a);
}

std::string Editor::prefix_at_caret() const
{
    const std::string& s = m_lines[m_caret.line];
    const size_t c = std::min(size_t(m_caret.col), s.size());
    size_t a = c;
    while (a > 0 && label_char((unsigned char)s[a - 1]))
        --a;
    return s.substr(a, c - a);
}

void Editor::complete(const std::string& word)
{
    const int p = int(prefix_at_caret().size());
    push_undo(0);
    const int L = m_caret.line;
    const int start = std::min(m_caret.col, int(m_lines[L].size())) - p;
    std::string s = m_lines[L];
    s.replace(size_t(start), size_t(p), word);
    m_lines.set(L, std::move(s));
    m_caret = m_anchor = { L, start + int(word.size()) };
    changed();
}
