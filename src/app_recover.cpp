// Unsaved work kept across crashes: sealed recovery files written every two
// seconds and restored at the next start; per-file state (caret, scroll,
// breakpoints, a raw image's load address) kept in the settings by path.
#include "app.h"

#include "files.h"
#include "l10n.h"
#include "logger.h"
#include "paths.h"
#include "sealed_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

std::string recover_dir()
{
    return paths::config_dir() + "/recover";
}

// The recovery folder, made when missing; false when something else has
// its name: a link someone planted there is never written through.
bool recover_dir_ready()
{
    std::string dir = recover_dir();
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The items of a state string: kind letter and its comma-separated fields.
// Items too short or without ':' after the letter are skipped.
template <typename Fn>
void each_item(const std::string& state, Fn fn)
{
    for (size_t at = 0; at <= state.size();) {
        size_t end = state.find(';', at);
        if (end == std::string::npos)
            end = state.size();
        std::string item = state.substr(at, end - at);
        if (item.size() >= 2 && item[1] == ':') {
            std::vector<std::string> fields;
            for (size_t f = 2; f <= item.size();) {
                size_t comma = item.find(',', f);
                if (comma == std::string::npos)
                    comma = item.size();
                fields.push_back(item.substr(f, comma - f));
                f = comma + 1;
            }
            fn(item[0], fields);
        }
        at = end + 1;
    }
}

bool parse_int(const std::string& s, int base, unsigned long long* out)
{
    if (s.empty() || s[0] == '-' || s[0] == '+' || s[0] == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    *out = strtoull(s.c_str(), &end, base);
    return errno == 0 && end && *end == 0;
}

} // namespace

std::string App::recovery_name(const Doc* d) const
{
    std::string key = !d->path.empty() ? d->path : "untitled-" + std::to_string(uintptr_t(d));
    char name[32];
    snprintf(name, sizeof name, "/%016zx.rec", std::hash<std::string>{}(key));
    return recover_dir() + name;
}

void App::write_failed(bool& said, const char* key, const std::string& path)
{
    // Once until a write succeeds again: a full disk would otherwise repeat
    // it every tick. The messages pane keeps it after the status line moved
    // on.
    if (said)
        return;
    said = true;
    status_tr(true, key, path);
    msg(m_status, 2, 0);
}

void App::autosave_tick()
{
    finish_autosave(false);
    Uint32 now = SDL_GetTicks();
    // The last writes still going: the next turn looks again.
    if (now - m_autosave_t < 2000 || m_rec_job.valid())
        return;
    m_autosave_t = now;
    std::vector<RecWrite> writes;
    for (auto& up : m_docs) {
        Doc* d = up.get();
        if (d->bin || d->hidden)
            continue;
        if (d->ed.modified()) {
            if (d->ed.generation() != d->rec_gen)
                writes.push_back({ d->id, d->ed.generation(), recovery_name(d),
                                   d->path + "\n" + d->name_hint + "\n" + d->ed.text(), false });
        } else if (!d->rec_file.empty()) {
            files::remove(d->rec_file);
            d->rec_file.clear();
            d->rec_gen = -1;
        }
    }
    if (writes.empty())
        return;
    // Tried again at the next tick.
    if (!recover_dir_ready()) {
        write_failed(m_rec_fail_said, "rec.write_failed", writes.front().file);
        return;
    }
    // Sealing and syncing a long source takes longer than a frame: the
    // copies are written on a worker, and the answers taken on a later turn.
    m_rec_job = std::async(std::launch::async, [w = std::move(writes)]() mutable {
        for (RecWrite& r : w) {
            r.ok = sealed::write(r.file, r.plain);
            std::string().swap(r.plain);
        }
        return std::move(w);
    });
}

void App::finish_autosave(bool wait)
{
    if (!m_rec_job.valid())
        return;
    if (!wait && m_rec_job.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    for (const RecWrite& w : m_rec_job.get()) {
        Doc* d = doc_by_id(w.doc);
        if (!w.ok) {
            if (d)
                write_failed(m_rec_fail_said, "rec.write_failed", w.file);
            continue;
        }
        m_rec_fail_said = false;
        // Closed, saved or discarded while the copy was written: it is
        // not wanted any more.
        if (!d || !d->ed.modified()) {
            files::remove(w.file);
            if (d && d->rec_file == w.file) {
                d->rec_file.clear();
                d->rec_gen = -1;
            }
            continue;
        }
        // The old file goes only once the new one is written.
        if (!d->rec_file.empty() && d->rec_file != w.file)
            files::remove(d->rec_file);
        d->rec_file = w.file;
        d->rec_gen = w.gen;
    }
}

void App::restore_recovered()
{
    std::string dir = recover_dir();
    // Temporary files of writers killed halfway (settings, recovery) go.
    files::remove_stale_temps(paths::config_dir() + "/settings.dat");
    files::remove_stale_temps(dir + "/");
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    DIR* dp = opendir(dir.c_str());
    if (!dp)
        return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dp)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".rec") == 0)
            names.push_back(n);
    }
    closedir(dp);

    Doc* last = nullptr;
    int count = 0;
    for (const std::string& n : names) {
        std::string file = dir + "/" + n;
        std::string plain;
        size_t a = std::string::npos, b = std::string::npos;
        if (sealed::read(file, &plain) == sealed::Result::Ok) {
            a = plain.find('\n');
            if (a != std::string::npos)
                b = plain.find('\n', a + 1);
        }
        if (b == std::string::npos) {
            files::remove(file);
            continue;
        }
        std::string path = plain.substr(0, a);
        std::string hint = plain.substr(a + 1, b - a - 1);
        std::string text = plain.substr(b + 1);
        Doc* d = path.empty() ? nullptr : find_doc(path, false);
        if (d && d->ed.text() == text) {
            files::remove(file);
            continue;
        }
        if (!d) {
            d = new_doc(false);
            d->path = path;
            d->name_hint = hint;
        }
        d->ed.set_text(text);
        d->ed.set_modified(true);
        // Until the document's own recovery file is written this file is
        // the only copy on disk: the next autosave replaces it.
        if (!d->rec_file.empty() && d->rec_file != file)
            files::remove(d->rec_file);
        d->rec_file = file;
        d->rec_gen = -1;
        ++count;
        last = d;
        std::string name = !path.empty() ? path : !hint.empty() ? hint : L10n::tr("file.untitled");
        msg(L10n::tr("rec.restored", name), 2, 0);
        logger::info("unsaved changes restored: " + name);
    }
    if (count > 0) {
        activate(last);
        status_tr(false, "rec.status", count);
    }
}

void App::store_file_state(Doc* d)
{
    if (!d || is_placeholder(d))
        return;
    if (d->bin) {
        const std::string& path = d->img.m_path;
        if (path.empty() || d->hidden)
            return;
        std::string s;
        for (uint64_t a : d->bps) {
            char buf[24];
            snprintf(buf, sizeof buf, "%" PRIx64, a);
            s += (s.empty() ? "a:" : ",") + std::string(buf);
        }
        // Breakpoints are addresses: a raw image's load address (and the
        // width it was read with) goes with them, or they would land
        // elsewhere after a restart.
        if (d->img.m_kind == BinImage::Raw && d->img.m_base != 0) {
            char buf[48];
            snprintf(buf, sizeof buf, "r:%" PRIx64 ",%d", d->img.m_base, d->img.m_bits);
            s += (s.empty() ? "" : ";") + std::string(buf);
        }
        if (s.empty())
            m_settings.fstate.erase(path);
        else
            m_settings.fstate[path] = s;
        return;
    }
    if (d->path.empty())
        return;
    Editor::Pos c = d->ed.caret();
    std::string s = "c:" + std::to_string(c.line) + "," + std::to_string(c.col) + "," +
                    std::to_string(d->ed.scroll_line());
    if (!d->ed.breakpoints.empty()) {
        s += ";b:";
        bool first = true;
        for (int line : d->ed.breakpoints) {
            s += (first ? "" : ",") + std::to_string(line);
            first = false;
        }
    }
    m_settings.fstate[d->path] = s;
}

void App::apply_file_state(Doc* d)
{
    if (!d || is_placeholder(d))
        return;
    auto it = m_settings.fstate.find(d->bin ? d->img.m_path : d->path);
    if (it == m_settings.fstate.end())
        return;
    each_item(it->second, [&](char kind, const std::vector<std::string>& f) {
        unsigned long long v[3];
        if (kind == 'c' && !d->bin && f.size() == 3) {
            if (parse_int(f[0], 10, &v[0]) && parse_int(f[1], 10, &v[1]) && parse_int(f[2], 10, &v[2]) &&
                v[0] <= INT32_MAX && v[1] <= INT32_MAX && v[2] <= INT32_MAX)
                d->ed.set_view(int(v[0]), int(v[1]), int(v[2]));
        } else if (kind == 'b' && !d->bin) {
            for (const std::string& s : f)
                if (parse_int(s, 10, &v[0]) && v[0] < unsigned(d->ed.line_count()))
                    d->ed.breakpoints.insert(int(v[0]));
        } else if (kind == 'a' && d->bin) {
            for (const std::string& s : f)
                if (parse_int(s, 16, &v[0]))
                    d->bps.insert(v[0]);
        } else if (kind == 'r' && d->bin && d->img.m_kind == BinImage::Raw && f.size() == 2) {
            if (parse_int(f[0], 16, &v[0]) && parse_int(f[1], 10, &v[1]) && (v[1] == 16 || v[1] == 32 || v[1] == 64)) {
                d->img.set_raw_view(int(v[1]), v[0]);
                d->bv.image_changed();
            }
        }
    });
}

void App::store_all_file_state()
{
    for (auto& d : m_docs)
        store_file_state(d.get());
    if (m_settings.fstate.size() > 300)
        for (auto it = m_settings.fstate.begin(); it != m_settings.fstate.end();)
            it = access(it->first.c_str(), F_OK) != 0 ? m_settings.fstate.erase(it) : std::next(it);
    m_settings.find_text = m_find.text;
    m_settings.replace_text = m_replace.text;
}
