// Opening files into documents: sources and binaries by their content and
// name, and the example program for a start with nothing to open.
#include "app.h"

#include "l10n.h"
#include "logger.h"
#include "paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>

#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace {

// The example program, line by line; the German text differs only in its
// comments and its greeting.
const char* const kExample[] = {
    "; Hello world - a Linux program in x86-64 assembler (NASM)",
    ";",
    "; F7 builds, Ctrl+F5 runs, F5 starts the debugger,",
    "; F10/F11 step through it, F9 sets a breakpoint.",
    "",
    "section .data",
    "msg     db  \"Hello, world!\", 10",
    "len     equ $ - msg",
    "",
    "section .text",
    "global _start",
    "",
    "_start:",
    "    mov     eax, 1          ; write",
    "    mov     edi, 1          ; stdout",
    "    lea     rsi, [rel msg]  ; text",
    "    mov     edx, len        ; length",
    "    syscall",
    "",
    "    mov     ecx, 5          ; a small loop",
    ".loop:",
    "    dec     ecx",
    "    jnz     .loop",
    "",
    "    mov     eax, 60         ; exit",
    "    xor     edi, edi        ; exit code 0",
    "    syscall",
};

const std::pair<int, const char*> kExampleGerman[] = {
    { 0, "; Hallo Welt - ein Linux-Programm in x86-64-Assembler (NASM)" },
    { 2, "; F7 baut, Strg+F5 startet, F5 startet im Debugger," },
    { 3, "; F10/F11 gehen Schritt f\xC3\xBCr Schritt, F9 setzt einen Haltepunkt." },
    { 6, "msg     db  \"Hallo, Welt!\", 10" },
    { 15, "    lea     rsi, [rel msg]  ; Text" },
    { 16, "    mov     edx, len        ; L\xC3\xA4nge" },
    { 19, "    mov     ecx, 5          ; eine kleine Schleife" },
    { 25, "    xor     edi, edi        ; R\xC3\xBC" "ckgabewert 0" },
};

std::string example_text(bool german)
{
    std::vector<std::string> lines(std::begin(kExample), std::end(kExample));
    if (german)
        for (const auto& [at, text] : kExampleGerman)
            lines[size_t(at)] = text;
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

bool ends_with(const std::string& s, const char* tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Binary by its first bytes: an ELF or MZ header, or any zero byte.
bool looks_binary(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n <= 0)
        return false;
    if (n == 1)
        return buf[0] == 0;
    if ((buf[0] == 0x7F && buf[1] == 'E') || (buf[0] == 'M' && buf[1] == 'Z'))
        return true;
    for (ssize_t i = 0; i < n; ++i)
        if (buf[i] == 0)
            return true;
    return false;
}

} // namespace

bool is_work_file(const std::string& path)
{
    std::string work = tc::temp_dir();
    if (work.empty() || work == ".")
        return false;
    // Every run's folder lies in one per-user folder; a recent list may
    // still hold a path of an earlier run.
    if (base_name(work).rfind("run-", 0) == 0)
        work = dir_name(work);
    return path.size() > work.size() && path.compare(0, work.size(), work) == 0 && path[work.size()] == '/';
}

void App::add_recent(const std::string& path, bool bin)
{
    if (!is_work_file(path))
        m_settings.add_recent(path, bin);
}

void App::status(const std::string& text, bool error)
{
    m_status_again = nullptr;
    m_status = text;
    m_status_err = error;
    if (error)
        logger::warn(text);
    m_dirty = true;
}

void App::status(std::function<std::string()> make, bool error)
{
    status(make(), error);
    m_status_again = std::move(make);
}

void App::open_any(const std::string& path)
{
    if (refuse_open(path))
        return;
    bool by_name = path.size() >= 5 && (ends_with(path, ".com") || ends_with(path, ".bin") || ends_with(path, ".exe"));
    if (by_name || looks_binary(path))
        load_binary(path, false, false);
    else
        load_source(path);
}

bool App::load_source(const std::string& path)
{
    if (Doc* d = find_doc(path, false)) {
        activate(d);
        return true;
    }
    if (refuse_open(path))
        return false;
    // Taken before the read: a change meanwhile is asked about at the save.
    files::Stamp stamp = files::stamp_of(path);
    gchar* bytes = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &bytes, &length, nullptr)) {
        if (!snap_file_hint(path))
            show_message(L10n::tr("dlg.error"), L10n::tr("file.open_failed", path));
        return false;
    }
    std::string text(bytes, length);
    g_free(bytes);
    Doc* d = m_s;
    bool reuse = !is_placeholder(d) && d->path.empty() && !d->ed.modified() && m_settings.main_tab == 0;
    if (!reuse)
        d = new_doc(false);
    d->ed.set_text(text);
    d->path = path;
    d->disk = stamp;
    d->have_build = false;
    d->build_gen = -1;
    apply_file_state(d);
    m_settings.source = path;
    add_recent(path, false);
    activate(d);
    status_tr(false, "file.opened", base_name(path));
    // What a save killed halfway left beside it goes now.
    files::remove_stale_temps(path);
    return true;
}

bool App::load_binary(const std::string& path, bool quiet, bool hidden)
{
    if (refuse_open(path))
        return false;
    Doc* d = find_doc(path, true);
    if (d && d->img.m_dirty && !quiet && ask_reload(d))
        return false;
    bool fresh = d == nullptr;
    if (!fresh && d == m_dbin && m_proc.alive())
        cmd_stop();
    if (fresh)
        d = new_doc(true);
    // A raw image read again keeps the view its breakpoints were set in.
    bool keep_view = !fresh && d->img.m_kind == BinImage::Raw;
    int bits = keep_view ? d->img.m_bits : m_settings.raw_bits;
    uint64_t base = keep_view ? d->img.m_base : 0;
    std::string err;
    if (!d->img.load(path, &err)) {
        if (fresh)
            close_doc(d, true);
        if (!quiet && !snap_file_hint(path))
            show_message(L10n::tr("dlg.error"), err == "size" ? L10n::tr("file.too_large", path, "256 MiB")
                                                              : L10n::tr("file.open_failed", path));
        return false;
    }
    if (d->img.m_kind == BinImage::Raw)
        d->img.set_raw_view(bits, base);
    d->bv.image_changed();
    if (fresh) {
        d->hidden = hidden;
        if (!hidden)
            apply_file_state(d);
    } else if (!hidden)
        d->hidden = false;
    m_b = d;
    m_con.reset_positions();
    m_settings.binary = path;
    add_recent(path, true);
    if (quiet) {
        remember_tabs();
        m_dirty = true;
        return true;
    }
    activate(d);
    status_tr(false, "file.opened", base_name(path));
    // An opened program starts under the debugger, stopped at its entry.
    bool elf = d->img.m_kind == BinImage::Elf32 || d->img.m_kind == BinImage::Elf64;
    if (elf && m_settings.auto_debug && d->img.m_entry != 0 && !m_proc.alive()
        && access(path.c_str(), X_OK) == 0 && std::string(paths::package_kind()) != "snap")
        start_program(true);
    return true;
}

void App::cmd_open_example()
{
    Doc* d = new_doc(false);
    d->ed.set_text(example_text(L10n::currentLanguage() == "de"));
    activate(d);
}
