// New, open and save: the commands, the file chooser exchange with its
// in-window path prompt, safe writing of sources, and the quit request that
// walks the documents with unsaved changes.
#include "app.h"

#include "filedialog_portal.h"
#include "files.h"
#include "l10n.h"
#include "logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>

namespace {

// Larger files are refused before they are read: neither the editor nor
// the binary view is made for them.
constexpr off_t kMaxOpen = off_t(256) << 20;

std::string folder_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save to `path` lands in: a link's target (its target's name
// when it dangles), else the path itself.
std::string save_target(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string out = real;
        free(real);
        return out;
    }
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return path;
    std::string to(buf, size_t(n));
    if (to[0] != '/')
        to = folder_of(path) + "/" + to;
    return to;
}

// Stores text so that a failure at any point leaves the old file whole:
// a fresh file beside it with the old one's mode and owner, synced, then
// renamed over it. A save through a link replaces the link's target.
bool write_text(const std::string& path, const std::string& text)
{
    std::string target = save_target(path);
    // What a save killed halfway left here goes now.
    files::remove_stale_temps(target);
    mode_t mode = 0644;
    struct stat st {};
    bool existed = stat(target.c_str(), &st) == 0;
    if (existed) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 07777;
    }
    std::string tmp;
    int fd = files::create_temp(target, &tmp);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0;
    if (ok && existed && (st.st_uid != geteuid() || st.st_gid != getegid()))
        (void)!fchown(fd, st.st_uid, st.st_gid); // best effort: only root may
    ok = ok && files::write_all(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || !files::replace(tmp, target)) {
        unlink(tmp.c_str());
        return false;
    }
    int dir = open(folder_of(target).empty() ? "." : folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

std::vector<platform::FileFilter> filters(App::FileOp op)
{
    platform::FileFilter all{ L10n::tr("file.filter_all"), { "*" } };
    platform::FileFilter src{ L10n::tr("file.filter_asm"), { "*.asm", "*.s", "*.inc", "*.nasm" } };
    platform::FileFilter bin{ L10n::tr("file.filter_bin"), { "*.com", "*.bin", "*.exe", "*.o" } };
    switch (op) {
    case App::FileOp::OpenSrc: return { all, src, bin };
    case App::FileOp::OpenBin: return { all, bin };
    case App::FileOp::SaveSrcAs: return { { L10n::tr("file.filter_asm"), { "*.asm" } } };
    default: return { all };
    }
}

} // namespace

uint64_t doc_serial()
{
    static std::atomic<uint64_t> next{ 0 };
    return ++next;
}

Doc* App::doc_by_id(uint64_t id) const
{
    for (const auto& d : m_docs)
        if (d->id == id)
            return d.get();
    return nullptr;
}

bool App::file_busy()
{
    bool busy = m_file_op != FileOp::None || (m_modal == Modal::Prompt && m_path_prompt);
    for (const PendingDlg& p : m_dlg_queue)
        busy = busy || p.path;
    if (busy)
        status_tr(true, "file.dialog_busy");
    return busy;
}

bool App::refuse_open(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false; // the reader reports it
    std::string why;
    if (!S_ISREG(st.st_mode))
        why = L10n::tr("file.not_regular", path);
    else if (st.st_size > kMaxOpen)
        why = L10n::tr("file.too_large", path, "256 MiB");
    if (why.empty())
        return false;
    show_message(L10n::tr("dlg.error"), why);
    return true;
}

bool App::write_source(Doc* d, const std::string& path)
{
    // The user's own file is saved as Save does; an untitled document's
    // copy in the work folder needs no sync.
    if (!d->path.empty() && path == d->path) {
        if (!write_text(path, d->ed.text()))
            return false;
        d->disk = files::stamp_of(path);
        return true;
    }
    return files::write_file(path, d->ed.text(), 0644) == files::Fail::None;
}

void App::cmd_new()
{
    Doc* d = new_doc(false);
    d->ed.set_text("section .text\nglobal _start\n\n_start:\n    \n");
    d->ed.goto_line(4, true);
    activate(d);
}

void App::start_file_dialog(FileOp op, bool started)
{
    // The chooser refuses a second dialog; the one open keeps its answer.
    if (!started) {
        status_tr(true, "file.dialog_busy");
        return;
    }
    m_file_op = op;
    m_dirty = true;
}

void App::cmd_open()
{
    if (file_busy())
        return;
    bool ok = false;
    with_parent_window([&] {
        ok = platform::startOpenDialog(L10n::tr("file.open"), filters(FileOp::OpenSrc), folder_of(m_s->path), false);
    });
    start_file_dialog(FileOp::OpenSrc, ok);
}

void App::cmd_open_binary()
{
    if (file_busy())
        return;
    bool ok = false;
    with_parent_window([&] {
        ok = platform::startOpenDialog(L10n::tr("file.open_binary"), filters(FileOp::OpenBin),
                                       folder_of(m_b->img.m_path), false);
    });
    start_file_dialog(FileOp::OpenBin, ok);
}

void App::cmd_save(Then then)
{
    Doc* d = m_s;
    if (is_placeholder(d))
        return;
    if (d->path.empty()) {
        cmd_save_as(std::move(then));
        return;
    }
    if (changed_on_disk(d)) {
        ask_changed(d, std::move(then));
        return;
    }
    save_in_place(d, then);
}

void App::save_in_place(Doc* d, const Then& then)
{
    if (!write_text(d->path, d->ed.text())) {
        if (!snap_file_hint(d->path))
            show_message(L10n::tr("dlg.error"), L10n::tr("file.save_failed", d->path));
        return;
    }
    d->disk = files::stamp_of(d->path);
    d->ed.set_modified(false);
    saved(d->path);
    if (then)
        then();
}

bool App::changed_on_disk(const Doc* d) const
{
    if (d->bin || d->path.empty() || !d->disk.known)
        return false;
    // A file removed meanwhile is simply written again.
    files::Stamp now = files::stamp_of(d->path);
    return now.known && !(now == d->disk);
}

void App::ask_changed(Doc* d, Then then)
{
    uint64_t id = d->id;
    // Either answer but Cancel loses someone's text, so Enter cancels.
    show_confirm(L10n::tr("file.changed_title"), L10n::tr("file.changed_text", d->path),
                 { { L10n::tr("btn.overwrite"),
                     [this, id, then] {
                         if (Doc* x = doc_by_id(id))
                             save_in_place(x, then);
                     },
                     false },
                   { L10n::tr("btn.reload"),
                     [this, id] {
                         if (Doc* x = doc_by_id(id))
                             reload_source(x);
                     },
                     false },
                   { L10n::tr("btn.cancel"), nullptr, true } });
}

void App::reload_source(Doc* d)
{
    files::Stamp stamp = files::stamp_of(d->path);
    std::string text;
    if (!files::read_blocks(d->path, [&](std::string_view block) { text += block; }, nullptr)) {
        show_message(L10n::tr("dlg.error"), L10n::tr("file.open_failed", d->path));
        return;
    }
    d->ed.set_text(text);
    d->disk = stamp;
    d->have_build = false;
    d->build_gen = -1;
    activate(d);
    status_tr(false, "file.opened", base_name(d->path));
}

void App::cmd_save_as(Then then)
{
    Doc* d = m_s;
    if (is_placeholder(d) || file_busy())
        return;
    std::string name = !d->path.empty() ? base_name(d->path) : !d->name_hint.empty() ? d->name_hint : "program.asm";
    bool ok = false;
    with_parent_window([&] {
        ok = platform::startSaveDialog(L10n::tr("file.save_as"), filters(FileOp::SaveSrcAs), folder_of(d->path), name);
    });
    if (ok) {
        m_save_doc = d->id;
        m_after_save = std::move(then);
    }
    start_file_dialog(FileOp::SaveSrcAs, ok);
}

void App::cmd_save_binary(bool as, bool confirmed)
{
    Doc* d = m_b;
    if (is_placeholder(d) || d->img.m_data.empty())
        return;
    const std::string& path = d->img.m_path;
    if (as || path.empty()) {
        if (file_busy())
            return;
        std::string name = as && !path.empty() ? base_name(path) : "program.bin";
        bool ok = false;
        with_parent_window([&] {
            ok = platform::startSaveDialog(L10n::tr("file.save_binary_as"), filters(FileOp::SaveBinAs),
                                           folder_of(path), name);
        });
        if (ok)
            m_save_doc = d->id;
        start_file_dialog(FileOp::SaveBinAs, ok);
        return;
    }
    if (!confirmed) {
        uint64_t id = d->id;
        show_confirm(L10n::tr("dlg.overwrite_title"), L10n::tr("dlg.overwrite_bin", path),
                     { { L10n::tr("btn.overwrite"),
                         [this, id] {
                             if (Doc* again = doc_by_id(id)) {
                                 m_b = again;
                                 cmd_save_binary(false, true);
                             }
                         },
                         true },
                       { L10n::tr("btn.cancel"), nullptr, false } });
        return;
    }
    std::string where = path;
    if (d->img.save(where))
        saved(where);
    else if (!snap_file_hint(where))
        show_message(L10n::tr("dlg.error"), L10n::tr("file.save_failed", where));
    m_dirty = true;
}

void App::saved(const std::string& path, Shown shown)
{
    std::string where = base_name(path);
    if (shown == Shown::Folder && path.find('/') != std::string::npos)
        where = short_dir(path) + "/" + where;
    status_tr(false, "file.saved", where);
    msg(L10n::tr("file.saved", path), 4, 0);
}

void App::confirm_discard(Then then)
{
    Doc* d = m_s;
    if (is_placeholder(d) || !d->ed.modified()) {
        if (then)
            then();
        return;
    }
    ask_unsaved(d, then, then);
}

std::string App::unsaved_name(const Doc* d) const
{
    if (d->bin)
        return base_name(d->img.m_path);
    return !d->path.empty() ? base_name(d->path) : !d->name_hint.empty() ? d->name_hint : L10n::tr("file.untitled");
}

void App::ask_unsaved(Doc* d, Then next, Then discard)
{
    uint64_t id = d->id;
    // Save goes on with `next` only once the document is clean: a failed or
    // cancelled save stops there.
    auto save = [this, id, next] {
        Doc* x = doc_by_id(id);
        if (!x)
            return;
        if (!x->bin) {
            m_s = x;
            cmd_save(next);
            return;
        }
        m_b = x;
        cmd_save_binary(false, true);
        if (!x->img.m_dirty && next)
            next();
    };
    show_confirm(L10n::tr("dlg.unsaved_title"),
                 L10n::tr(d->bin ? "dlg.unsaved_bin" : "dlg.unsaved_text", unsaved_name(d)),
                 { { L10n::tr("btn.save"), save, true },
                   { L10n::tr("btn.discard"), std::move(discard), false },
                   { L10n::tr("btn.cancel"), nullptr, false } });
}

void App::ask_close(Doc* d)
{
    activate(d);
    uint64_t id = d->id;
    Then close = [this, id] { close_doc(doc_by_id(id), true); };
    ask_unsaved(d, close, close);
}

bool App::ask_reload(Doc* d)
{
    if (m_reload_ok) {
        m_reload_ok = false;
        return false;
    }
    std::string path = d->img.m_path;
    show_confirm(L10n::tr("file.reload_title"), L10n::tr("file.reload_bin", path),
                 { { L10n::tr("btn.reload"),
                     [this, path] {
                         m_reload_ok = true;
                         load_binary(path, false, false);
                         m_reload_ok = false;
                     },
                     true },
                   { L10n::tr("btn.cancel"), nullptr, false } });
    return true;
}

void App::cmd_quit()
{
    // A picture taken on request is no reason to ask.
    if (m_quit_warned) {
        m_quit = true;
        return;
    }
    Doc* d = nullptr;
    for (auto& x : m_docs)
        if (doc_modified(x.get())) {
            d = x.get();
            break;
        }
    if (!d) {
        m_quit = true;
        return;
    }
    // Hidden documents are asked about too; asking brings them to front.
    d->hidden = false;
    activate(d);
    uint64_t id = d->id;
    ask_unsaved(d, [this] { cmd_quit(); },
                [this, id] {
                    if (Doc* x = doc_by_id(id)) {
                        if (x->bin)
                            x->img.m_dirty = false;
                        else
                            x->ed.set_modified(false);
                    }
                    cmd_quit();
                });
}

void App::poll_file_dialog()
{
    if (m_file_op == FileOp::None)
        return;
    std::string path;
    platform::DialogState st = platform::pollDialog(&path);
    if (st == platform::DialogState::Idle || st == platform::DialogState::Running)
        return;
    FileOp op = m_file_op;
    m_file_op = FileOp::None;
    m_dirty = true;
    switch (st) {
    case platform::DialogState::Done:
        chosen_path(op, path);
        break;
    case platform::DialogState::Cancelled:
        if (op == FileOp::SaveSrcAs)
            m_after_save = nullptr;
        m_save_doc = 0;
        break;
    default:
        path_prompt(op);
        break;
    }
}

void App::path_prompt(FileOp op)
{
    bool save = op == FileOp::SaveSrcAs || op == FileOp::SaveBinAs;
    bool bin = op == FileOp::OpenBin || op == FileOp::SaveBinAs;
    Doc* cur = bin ? m_b : m_s;
    if (save)
        if (Doc* d = doc_by_id(m_save_doc))
            cur = d;
    std::string current = bin ? cur->img.m_path : cur->path;
    std::string initial = current;
    bool tool = op == FileOp::PickNasm || op == FileOp::PickLd;
    if (tool) {
        // The prompt stands in for the chooser over the Settings dialog,
        // which comes back with the answer.
        current.clear();
        initial = "/usr/bin/";
        if (m_modal == Modal::Settings) {
            apply_tool_paths();
            m_modal = Modal::None;
        }
    }
    if (initial.empty()) {
        const char* home = getenv("HOME");
        initial = std::string(home ? home : "") + "/";
    }
    PendingDlg p;
    p.kind = Modal::Prompt;
    p.title = L10n::tr(op == FileOp::OpenBin     ? "file.open_binary"
                       : op == FileOp::SaveBinAs ? "file.save_binary_as"
                       : save                    ? "file.save_as"
                                                 : "file.open");
    p.label = L10n::tr("dlg.path");
    p.initial = initial;
    p.path = true;
    // The prefilled folder is selected whole, so a typed name replaces it:
    // a path without a leading '/' is taken inside that folder, not in the
    // working directory nobody sees.
    std::string folder = initial.substr(0, initial.rfind('/') + 1);
    p.ok = [this, op, save, current, folder](const std::string& entered) {
        m_path_prompt = false;
        std::string typed = entered;
        if (!typed.empty() && typed[0] != '/' && !folder.empty())
            typed = folder + typed;
        struct stat st {};
        if (save && !typed.empty() && typed != current && stat(typed.c_str(), &st) == 0) {
            show_confirm(L10n::tr("dlg.overwrite_title"), L10n::tr("dlg.overwrite_text", typed),
                         { { L10n::tr("btn.overwrite"), [this, op, typed] { chosen_path(op, typed); }, true },
                           { L10n::tr("btn.cancel"), [this] { m_after_save = nullptr; }, false } });
            return;
        }
        chosen_path(op, typed);
    };
    open_dialog(std::move(p));
}

void App::chosen_path(FileOp op, const std::string& path)
{
    if (path.empty())
        return;
    switch (op) {
    case FileOp::OpenSrc:
        open_any(path);
        break;
    case FileOp::OpenBin:
        load_binary(path, false, false);
        break;
    case FileOp::SaveSrcAs: {
        Doc* d = m_save_doc ? doc_by_id(m_save_doc) : m_s;
        m_save_doc = 0;
        // The document closed while its dialog was open: nothing to save.
        if (!d || d->bin || is_placeholder(d)) {
            m_after_save = nullptr;
            break;
        }
        save_source_to(d, path);
        break;
    }
    case FileOp::SaveBinAs: {
        Doc* d = m_save_doc ? doc_by_id(m_save_doc) : m_b;
        m_save_doc = 0;
        if (!d || !d->bin || is_placeholder(d))
            break;
        if (d->img.save(path)) {
            m_settings.binary = path;
            add_recent(path, true);
            remember_tabs();
            saved(path, Shown::Folder);
        } else if (!snap_file_hint(path)) {
            show_message(L10n::tr("dlg.error"), L10n::tr("file.save_failed", path));
        }
        break;
    }
    case FileOp::PickNasm:
    case FileOp::PickLd:
        settings_picked(op == FileOp::PickLd ? 1 : 0, path);
        break;
    default:
        break;
    }
    m_dirty = true;
}

void App::save_source_to(Doc* d, const std::string& path)
{
    if (!write_text(path, d->ed.text())) {
        m_after_save = nullptr;
        if (!snap_file_hint(path))
            show_message(L10n::tr("dlg.error"), L10n::tr("file.save_failed", path));
        return;
    }
    tc::LinkOpts opts = d->link;
    if (opts.empty() && !d->path.empty()) {
        auto it = m_settings.links.find(d->path);
        if (it != m_settings.links.end())
            opts = it->second;
    }
    if (!opts.empty())
        m_settings.links[path] = opts;
    d->path = path;
    d->disk = files::stamp_of(path);
    d->ed.set_modified(false);
    remember_tabs();
    m_settings.source = path;
    add_recent(path, false);
    queue_save();
    saved(path, Shown::Folder);
    Then then = std::move(m_after_save);
    m_after_save = nullptr;
    if (then)
        then();
}
