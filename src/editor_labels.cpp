// Labels with NASM's local scopes: which label a line defines, every label,
// every use of one, and renaming. A name that starts with '.' belongs to the
// last ordinary label above it and may be written out as "global.local".
#include "editor.h"
#include "syntax.h"

namespace {

using Defs = std::vector<std::pair<int, std::string>>;  // (offset in chunk, label)

bool is_alnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool lbl_char(unsigned char c)
{
    return c == '@' || c == '#' || c == '$' || c == '.' || c == '?' || c == '_' || c == '~';
}

bool label_char(unsigned char c) { return is_alnum(c) || lbl_char(c); }

std::string strip_dollar(const std::string& s) { return !s.empty() && s[0] == '$' ? s.substr(1) : s; }

std::string label_of(const std::string& line, const std::vector<syntax::Span>& spans)
{
    for (const auto& sp : spans) {
        if (sp.kind != syntax::Kind::Label)
            continue;
        std::string d = line.substr(size_t(sp.start), size_t(sp.end - sp.start));
        if (!d.empty() && d.back() == ':')
            d.pop_back();
        return strip_dollar(d);
    }
    return {};
}

std::string defined_label(const std::string& line) { return label_of(line, syntax::highlight(line)); }

bool starts_with(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

int first_nonblank(const std::string& s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return int(i);
}

// One line's label tokens outside comments and strings: start (at a '$'
// prefix when there is one) and end.
template <class F>
void for_each_token(const std::string& s, const std::vector<syntax::Span>& spans, F&& fn)
{
    size_t sp = 0;
    size_t i = 0;
    while (i < s.size()) {
        while (sp < spans.size() && size_t(spans[sp].end) <= i)
            ++sp;
        if (sp < spans.size() && size_t(spans[sp].start) <= i
            && (spans[sp].kind == syntax::Kind::Comment || spans[sp].kind == syntax::Kind::String)) {
            i = size_t(spans[sp].end);
            continue;
        }
        if (label_char((unsigned char)s[i]) && (i == 0 || !label_char((unsigned char)s[i - 1]))) {
            size_t j = i;
            while (j < s.size() && label_char((unsigned char)s[j]))
                ++j;
            fn(i, j);
            i = j;
            continue;
        }
        ++i;
    }
}

} // namespace

const Defs& Editor::chunk_defs(int k) const
{
    // Chunks are immutable while shared, so a chunk's labels stay valid for
    // as long as the chunk lives; an edit gives the chunk a fresh memo.
    const auto& memo = m_lines.memo(k);
    if (memo)
        return *std::static_pointer_cast<const Defs>(memo);
    auto defs = std::make_shared<Defs>();
    const int first = m_lines.chunk_first(k);
    const int n = m_lines.chunk_size(k);
    for (int off = 0; off < n; ++off) {
        std::string d = defined_label(m_lines[first + off]);
        if (!d.empty())
            defs->emplace_back(off, std::move(d));
    }
    m_lines.set_memo(k, defs);
    return *defs;
}

const std::vector<std::pair<std::string, int>>& Editor::labels() const
{
    if (m_labels_gen == m_gen)
        return m_labels;
    m_labels.clear();
    std::string global;
    for (int k = 0; k < m_lines.chunk_count(); ++k) {
        const int first = m_lines.chunk_first(k);
        for (const auto& [off, d] : chunk_defs(k)) {
            if (d[0] == '.') {
                m_labels.emplace_back(global + d, first + off);
            } else {
                global = d;
                m_labels.emplace_back(d, first + off);
            }
        }
    }
    m_labels_gen = m_gen;
    return m_labels;
}

std::string Editor::global_at(int line) const
{
    std::string global;
    for (int k = 0; k < m_lines.chunk_count() && m_lines.chunk_first(k) <= line; ++k) {
        const int first = m_lines.chunk_first(k);
        for (const auto& [off, d] : chunk_defs(k)) {
            if (first + off > line)
                break;
            if (d[0] != '.')
                global = d;
        }
    }
    return global;
}

bool Editor::is_label(const std::string& word, int) const
{
    const std::string w = strip_dollar(word);
    if (w.empty())
        return false;
    for (int k = 0; k < m_lines.chunk_count(); ++k)
        for (const auto& [off, d] : chunk_defs(k)) {
            if (d == w)
                return true;
            if (d[0] != '.' && w.size() > d.size() + 1 && starts_with(w, d) && w[d.size()] == '.')
                return true;
        }
    return false;
}

std::vector<Editor::Ref> Editor::label_refs(const std::string& name, int line) const
{
    std::vector<Ref> out;
    std::string w = strip_dollar(name);
    if (w.empty())
        return out;
    std::string scope;
    if (w[0] == '.') {
        scope = global_at(line);
    } else if (size_t p = w.find('.', 1); p != std::string::npos) {
        scope = w.substr(0, p);
        w = w.substr(p);
    }
    const bool local = w[0] == '.';
    const std::string written = scope + w;
    const std::string global_dot = w + ".";
    std::string g;
    const int n = m_lines.size();
    for (int i = 0; i < n; ++i) {
        const std::string& s = m_lines[i];
        const auto spans = syntax::highlight(s);
        const std::string d = label_of(s, spans);
        if (!d.empty() && d[0] != '.')
            g = d;
        const int lead = first_nonblank(s);
        const bool defines = d == w && (!local || g == scope);
        for_each_token(s, spans, [&](size_t a, size_t b) {
            const size_t ta = s[a] == '$' ? a + 1 : a;
            const std::string t = s.substr(ta, b - ta);
            int len = 0;
            if (local) {
                if ((t == w && g == scope) || (!scope.empty() && t == written))
                    len = int(t.size());
            } else if (t == w || starts_with(t, global_dot)) {
                len = int(w.size());
            }
            if (len > 0)
                out.push_back({ i, int(ta), len, defines && int(a) == lead });
        });
    }
    return out;
}

int Editor::rename_label(const std::string& old_name, const std::string& new_name, int line)
{
    const std::string f = strip_dollar(old_name);
    const std::string t = strip_dollar(new_name);
    if (f.empty() || t.empty() || f == t)
        return 0;
    const bool local = f[0] == '.';
    const std::string scope = local ? global_at(line) : std::string();
    const std::string written = scope + f;
    const std::string global_dot = f + ".";
    std::vector<std::pair<int, std::string>> changes;
    int count = 0;
    std::string g;
    const int n = m_lines.size();
    for (int i = 0; i < n; ++i) {
        const std::string& s = m_lines[i];
        const auto spans = syntax::highlight(s);
        const std::string d = label_of(s, spans);
        if (!d.empty() && d[0] != '.')
            g = d;
        std::string out;
        size_t at = 0;
        int here = 0;
        for_each_token(s, spans, [&](size_t a, size_t b) {
            const size_t ta = s[a] == '$' ? a + 1 : a;
            const std::string tok = s.substr(ta, b - ta);
            std::string repl;
            bool hit = false;
            if (local) {
                if (tok == f && g == scope) {
                    repl = t;
                    hit = true;
                } else if (!scope.empty() && tok == written) {
                    repl = scope + t;
                    hit = true;
                }
            } else if (tok == f) {
                repl = t;
                hit = true;
            } else if (starts_with(tok, global_dot)) {
                repl = t + tok.substr(f.size());
                hit = true;
            }
            if (!hit)
                return;
            out.append(s, at, ta - at);
            out += repl;
            at = b;
            ++here;
        });
        if (here == 0)
            continue;
        out.append(s, at, std::string::npos);
        changes.emplace_back(i, std::move(out));
        count += here;
    }
    if (count == 0)
        return 0;
    push_undo(0);
    for (auto& [i, s] : changes)
        m_lines.set(i, std::move(s));
    m_caret = m_anchor = clamp(m_caret);
    changed();
    return count;
}
