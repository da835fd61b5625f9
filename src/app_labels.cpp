// Label navigation in the current source: go to the definition, list every
// use in the messages pane, and rename a label everywhere after checking
// that the new name can stand as a label.
#include "app.h"

#include "l10n.h"
#include "syntax.h"
#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool ascii_alpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

using textutil::lower;

// Could NASM take this as a label name? A register or a directive in its
// place would be read as that instead.
bool label_name_ok(const std::string& name)
{
    if (name.empty())
        return false;
    char first = name[0];
    if (!ascii_alpha(first) && first != '_' && first != '?' && first != '.')
        return false;
    for (char c : name)
        if (!ascii_alpha(c) && !(c >= '0' && c <= '9') && !std::strchr("_.$#@~?", c))
            return false;
    std::string low = lower(name);
    for (const syntax::Span& s : syntax::highlight(low + " "))
        if (s.start == 0 && (s.kind == syntax::Kind::Register || s.kind == syntax::Kind::Directive))
            return false;
    return !syntax::is_register(low);
}

using textutil::trim;

std::string without_indent(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a);
}

} // namespace

void App::cmd_goto_definition(const std::string& word, int line)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    Editor& ed = m_s->ed;
    for (const Editor::Ref& r : ed.label_refs(word, line)) {
        if (!r.def)
            continue;
        ed.select_range(r.line, r.col, r.len);
        m_settings.main_tab = 0;
        m_focus = Focus::Editor;
        m_dirty = true;
        return;
    }
    status_tr(true, "ed.no_def", word);
}

void App::cmd_references(const std::string& word, int line)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    const Editor& ed = m_s->ed;
    std::vector<Editor::Ref> refs = ed.label_refs(word, line);
    if (refs.empty()) {
        status_tr(true, "ed.no_def", word);
        return;
    }
    const std::string title = L10n::tr("ed.refs_title", word, int(refs.size()));
    msg(title, 4, 0);
    // One entry per line; the definition's line in the label colour.
    for (size_t i = 0; i < refs.size();) {
        int at = refs[i].line;
        bool def = false;
        for (; i < refs.size() && refs[i].line == at; ++i)
            def = def || refs[i].def;
        std::string text = at < ed.line_count() ? without_indent(ed.line(at)) : std::string();
        msg(L10n::tr("ed.ref_line", at + 1) + "   " + text, def ? 7 : 0, at + 1);
    }
    m_settings.bottom_tab = 0;
    m_msgs_top = std::max(0, int(m_msgs.size()) - 8);
    m_msgs_follow = false;
    status_tr(false, "ed.refs_title", word, int(refs.size()));
}

void App::cmd_rename(const std::string& word, int line)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    std::string old = !word.empty() && word[0] == '$' ? word.substr(1) : word;
    if (old.empty())
        return;
    uint64_t id = m_s->id;
    show_prompt(L10n::tr("ed.rename_title", old), L10n::tr("ed.rename_label"), old,
                [this, id, old, line](const std::string& typed) { rename_to(id, old, trim(typed), line); });
}

void App::rename_to(uint64_t doc, const std::string& old, const std::string& name, int line)
{
    Doc* d = doc_by_id(doc);
    if (!d || name.empty() || name == old)
        return;
    if (!label_name_ok(name)) {
        show_message(L10n::tr("ed.rename"), L10n::tr("ed.rename_bad", name));
        return;
    }
    if ((old[0] == '.') != (name[0] == '.')) {
        show_message(L10n::tr("ed.rename"), L10n::tr("ed.rename_local"));
        return;
    }
    if (d->ed.is_label(name, line)) {
        show_message(L10n::tr("ed.rename"), L10n::tr("ed.rename_exists", name));
        return;
    }
    int n = d->ed.rename_label(old, name, line);
    d->have_build = false;
    status_tr(false, "ed.renamed", std::to_string(n), name);
    if (d != m_s || m_settings.main_tab != 0)
        activate(d);
    m_focus = Focus::Editor;
    m_dirty = true;
}
