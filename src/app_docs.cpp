// Documents and tabs: creating, bringing to front, finding and closing
// documents, and remembering the open tabs in the settings.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

std::string absolute_path(const std::string& path)
{
    if (path.empty())
        return path;
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec)
        return path;
    std::string out = p.lexically_normal().string();
    // "dir/." normalises to "dir/", which is not a file name.
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string base_name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Doc* App::new_doc(bool bin)
{
    auto d = std::make_unique<Doc>();
    d->bin = bin;
    Doc* raw = d.get();
    if (bin)
        wire_binary(raw);
    else
        wire_source(raw);
    m_docs.push_back(std::move(d));
    return raw;
}

Doc* App::shown_doc() const
{
    return m_settings.main_tab == 1 ? m_b : m_s;
}

bool App::doc_modified(const Doc* d) const
{
    return d->bin ? d->img.m_dirty : d->ed.modified();
}

std::string App::display_name(const Doc* d, bool for_tab) const
{
    std::string name;
    if (d->bin && d->img.m_path.empty()) {
        name = for_tab ? L10n::tr("tab.binary") : "";
    } else {
        name = d->bin             ? base_name(d->img.m_path)
            : !d->path.empty()    ? base_name(d->path)
            : !d->name_hint.empty() ? d->name_hint
                                  : L10n::tr("file.untitled");
        // A file name reads left to right like the path it is part of, so in
        // a right-to-left interface "untitled.asm" does not become
        // "asm.untitled".
        if (!name.empty() && L10n::isRTL())
            name = "\u2066" + name + "\u2069";
    }
    if (!name.empty() && doc_modified(d))
        name += " \xE2\x80\xA2";
    return name;
}

void App::activate(Doc* d)
{
    if (!d)
        return;
    // Rows of an open menu were built for the tab in front.
    if (m_menu >= 0)
        open_menu(-1);
    if (d->bin) {
        m_b = d;
        m_settings.main_tab = 1;
        m_focus = Focus::Bin;
    } else {
        m_s = d;
        m_settings.main_tab = 0;
        m_focus = Focus::Editor;
    }
    m_tab_fitted = nullptr; // the tab strip brings it into view
    remember_tabs();
    m_dirty = true;
}

Doc* App::find_doc(const std::string& path, bool bin) const
{
    if (path.empty())
        return nullptr;
    for (const auto& d : m_docs) {
        if (d->bin != bin)
            continue;
        if ((bin ? d->img.m_path : d->path) == path)
            return d.get();
    }
    return nullptr;
}

void App::close_doc(Doc* d, bool confirmed)
{
    if (!d || is_placeholder(d))
        return;
    if (m_menu >= 0)
        open_menu(-1);
    if (!confirmed && doc_modified(d)) {
        ask_close(d);
        return;
    }
    store_file_state(d);
    if (!d->rec_file.empty())
        files::remove(d->rec_file);
    std::string output = d->bin ? std::string() : d->build.output;

    if ((d == m_dsrc || d == m_dbin) && m_proc.alive())
        m_proc.kill();
    if (m_dsrc == d)
        m_dsrc = nullptr;
    if (m_dbin == d)
        m_dbin = nullptr;

    size_t l = 0;
    while (l < m_docs.size() && m_docs[l].get() != d)
        ++l;
    if (l == m_docs.size())
        return;
    bool was_s = d == m_s, was_b = d == m_b, bin = d->bin;
    bool was_front = m_settings.main_tab == 1 ? was_b : was_s;
    m_docs.erase(m_docs.begin() + long(l));

    // Nearest first: the right neighbour (now at l), then the left one.
    auto nearest = [&](auto accept) -> Doc* {
        for (size_t i = 0; i <= m_docs.size(); ++i) {
            if (l + i < m_docs.size() && accept(m_docs[l + i].get()))
                return m_docs[l + i].get();
            if (l >= i + 1 && accept(m_docs[l - i - 1].get()))
                return m_docs[l - i - 1].get();
        }
        return nullptr;
    };
    if (was_s) {
        Doc* n = nearest([](Doc* x) { return !x->bin; });
        m_s = n ? n : m_blank_s.get();
    }
    if (was_b) {
        Doc* n = nearest([](Doc* x) { return x->bin; });
        m_b = n ? n : m_blank_b.get();
    }
    if (was_front) {
        if (Doc* n = nearest([](Doc* x) { return !x->hidden; }))
            activate(n);
        else
            m_settings.main_tab = 0;
    }
    if (!bin && !output.empty()) {
        Doc* out = find_doc(output, true);
        if (out && out->hidden && !out->img.m_dirty)
            close_doc(out, true);
    }
    m_hover.clear();
    m_tip.clear();
    remember_tabs();
    m_dirty = true;
}

void App::remember_tabs()
{
    std::vector<std::string>& tabs = m_settings.open_tabs;
    tabs.clear();
    std::vector<std::string> mine;
    int front_index = -1;
    const Doc* front = shown_doc();
    for (const auto& d : m_docs) {
        const std::string& p = d->bin ? d->img.m_path : d->path;
        if (d->hidden || p.empty() || is_work_file(p))
            continue;
        if (d.get() == front)
            front_index = int(mine.size());
        mine.push_back((d->bin ? "b:" : "s:") + p);
    }
    // Tabs remembered from before a start with files come first, unless
    // this run has the same file open.
    for (const std::string& t : m_kept_tabs)
        if (std::find(mine.begin(), mine.end(), t) == mine.end())
            tabs.push_back(t);
    int base = int(tabs.size());
    tabs.insert(tabs.end(), mine.begin(), mine.end());
    if (front_index >= 0)
        m_settings.active_tab = base + front_index;
    queue_save();
}
