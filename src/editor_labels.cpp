// Labels with NASM's local scopes: which label a line defines, every label,
// every use of one, and renaming. A name that starts with '.' belongs to the
// last ordinary label above it and may be written out as "global.local".
#include "editor.h"
#include "editor_chars.h"
#include "syntax.h"

namespace {

using Defs = std::vector<std::pair<int, std::string>>;  // (offset in chunk, label)

using edchars::label_char;

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

std::string defined_label(const std::string& line)
{
    return label_of(line, { syntax::label_span(line) });
}

bool starts_with(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }

int first_nonblank(const std::string& s) { return edchars::leading_blanks(s); }

// One line's label tokens outside comments and strings: fn(start, start
// after a '$' prefix, the token without that prefix).
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
            const size_t ta = s[i] == '$' ? i + 1 : i;
            fn(i, ta, s.substr(ta, j - ta));
            i = j;
            continue;
        }
        ++i;
    }
}

// What the scan knows of one line.
struct Scan {
    std::vector<syntax::Span> spans;
    std::string defined;  // the label the line defines
    std::string global;   // the ordinary label in effect, this line's included
};

// Every line in order with its spans and label scope.
template <class F>
void scan_lines(const edlines::Lines& lines, F&& fn)
{
    Scan sc;
    const int n = lines.size();
    for (int i = 0; i < n; ++i) {
        const std::string& s = lines[i];
        sc.spans = syntax::highlight(s);
        sc.defined = label_of(s, sc.spans);
        if (!sc.defined.empty() && sc.defined[0] != '.')
            sc.global = sc.defined;
        fn(i, s, sc);
    }
}

enum class Match { None, Name, WrittenOut, GlobalOfLocal };

// Which tokens name a label: a local one (".x") as itself inside its scope
// or written out as "scope.x" anywhere; a global one as itself or as the
// front of a written-out local ("g.x").
struct Matcher {
    std::string name, scope, written, global_dot;
    bool local;
    Matcher(const std::string& n, const std::string& s)
        : name(n), scope(s), written(s + n), global_dot(n + "."), local(n[0] == '.')
    {
    }
    Match match(const std::string& tok, const std::string& global) const
    {
        if (local) {
            if (tok == name && global == scope)
                return Match::Name;
            if (!scope.empty() && tok == written)
                return Match::WrittenOut;
            return Match::None;
        }
        if (tok == name)
            return Match::Name;
        return starts_with(tok, global_dot) ? Match::GlobalOfLocal : Match::None;
    }
};

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
        // A written-out local is searched as the local label of its global.
        scope = w.substr(0, p);
        w = w.substr(p);
    }
    const Matcher m(w, scope);
    scan_lines(m_lines, [&](int i, const std::string& s, const Scan& sc) {
        const int lead = first_nonblank(s);
        const bool defines = sc.defined == w && (!m.local || sc.global == scope);
        for_each_token(s, sc.spans, [&](size_t a, size_t ta, const std::string& tok) {
            const Match hit = m.match(tok, sc.global);
            if (hit == Match::None)
                return;
            const int len = m.local ? int(tok.size()) : int(w.size());
            out.push_back({ i, int(ta), len, defines && int(a) == lead });
        });
    });
    return out;
}

int Editor::rename_label(const std::string& old_name, const std::string& new_name, int line)
{
    const std::string f = strip_dollar(old_name);
    const std::string t = strip_dollar(new_name);
    if (f.empty() || t.empty() || f == t)
        return 0;
    const std::string scope = f[0] == '.' ? global_at(line) : std::string();
    const Matcher m(f, scope);
    std::vector<std::pair<int, std::string>> changes;
    int count = 0;
    scan_lines(m_lines, [&](int i, const std::string& s, const Scan& sc) {
        std::string out;
        size_t at = 0;
        int here = 0;
        for_each_token(s, sc.spans, [&](size_t, size_t ta, const std::string& tok) {
            const Match hit = m.match(tok, sc.global);
            if (hit == Match::None)
                return;
            out.append(s, at, ta - at);
            if (hit == Match::Name)
                out += t;
            else if (hit == Match::WrittenOut)
                out += scope + t;
            else
                out += t + tok.substr(f.size());
            at = ta + tok.size();
            ++here;
        });
        if (here == 0)
            return;
        out.append(s, at, std::string::npos);
        changes.emplace_back(i, std::move(out));
        count += here;
    });
    if (count > 0)
        replace_lines(std::move(changes));
    return count;
}
