// The build command: writes the source the tools read, runs them off the
// main thread, then lists their output in the messages pane, marks errors,
// warnings and code lines in the editor and loads the result as the
// document's hidden program. Also the questions later commands ask of the
// last build: is it current, what to start, which line holds an address.
#include "app.h"

#include "l10n.h"
#include "logger.h"
#include "needs.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint64_t now_ms()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The window's output name: the source path without its extension (a '.'
// in a folder name stays), ".com" or ".bin" for flat binaries, ".out" when
// that would be the source itself.
std::string output_name(const std::string& src, tc::Format fmt, const std::string& text)
{
    std::string out = src;
    size_t dot = out.rfind('.');
    size_t slash = out.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        out.resize(dot);
    if (fmt == tc::Format::Bin) {
        std::string low = text;
        for (char& c : low)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        out += low.find("org 100h") != std::string::npos || low.find("org 0x100") != std::string::npos ? ".com"
                                                                                                      : ".bin";
    }
    if (out == src)
        out += ".out";
    return out;
}

void replace_all(std::string& s, const std::string& from, const std::string& to)
{
    if (from.empty())
        return;
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// Whether the diagnostic names a line of the source with this base name:
// line 3 of an included file is not line 3 of the source.
bool in_source(const tc::Diag& g, const std::string& base)
{
    return g.line > 0 && (g.file.empty() || base_name(g.file) == base);
}

} // namespace

std::string App::untitled_source(const Doc* d)
{
    // Each untitled document builds in a folder of its own, so two of them
    // never share a source, a program or a line table.
    auto it = m_untitled_ids.find(d);
    if (it == m_untitled_ids.end())
        it = m_untitled_ids.emplace(d, ++m_untitled_next).first;
    std::string work = tc::temp_dir();
    if (work.empty())
        return {};
    std::string dir = work + "/doc-" + std::to_string(it->second);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return dir + "/untitled.asm";
}

void App::build_msg(const std::string& text, int kind, int line)
{
    m_msgs.emplace_back(printable(text), kind);
    m_msg_line_of.resize(m_msgs.size() - 1, 0);
    m_msg_line_of.push_back(line);
    m_dirty = true;
}

void App::cmd_build(std::function<void()> then)
{
    if (is_placeholder(m_s) || m_s->bin)
        return;
    if (m_build_job) {
        // One build at a time; the one under way reports soon.
        return;
    }
    // Building saves the text first: not over another writer's work unasked.
    if (m_s->ed.modified() && changed_on_disk(m_s)) {
        ask_changed(m_s, [this, then] { cmd_build(then); });
        return;
    }
    if (m_proc.alive())
        m_proc.kill();
    m_msgs.clear();
    m_msg_line_of.clear();
    m_msgs_top = 0;
    m_msgs_follow = true;

    Doc* d = m_s;
    std::string src = d->path;
    if (!src.empty()) {
        if (d->ed.modified()) {
            if (!write_source(d, src)) {
                status_tr(true, "file.save_failed", src);
                return;
            }
            d->ed.set_modified(false);
        }
    } else {
        src = untitled_source(d);
        if (src.empty() || !write_source(d, src)) {
            // Building an older file and calling it a success would lie.
            std::string shown = src.empty() ? tc::temp_dir() + "/untitled.asm" : src;
            build_msg(L10n::tr("file.save_failed", shown), 1, 0);
            status_tr(true, "file.save_failed", shown);
            m_settings.bottom_tab = 0;
            return;
        }
    }

    auto job = std::make_unique<BuildJob>();
    job->doc = d;
    job->then = std::move(then);
    job->source = src;
    job->doc_path = d->path;
    job->text = d->ed.text();
    job->gen = d->ed.generation();
    job->fmt = tc::format_from_key(m_settings.format);
    if (job->fmt == tc::Format::Auto)
        job->fmt = tc::detect_format(job->text);
    std::string output = output_name(src, job->fmt, job->text);
    build_msg(L10n::tr("build.start", src.c_str(), tc::format_key(job->fmt)), 4, 0);
    job->t0_ms = now_ms();
    tc::LinkOpts link = job->fmt == tc::Format::Bin ? tc::LinkOpts{} : d->link;
    tc::Format fmt = job->fmt;
    // The tools may take their full time limits; the window goes on
    // painting and taking input meanwhile.
    job->result = std::async(std::launch::async, [src, fmt, output, link] { return tc::build(src, fmt, output, link); });
    m_build_job = std::move(job);
    status_tr(false, "build.start", base_name(src), tc::format_key(fmt));
    m_dirty = true;
}

void App::poll_build()
{
    if (!m_build_job || m_build_job->result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    std::unique_ptr<BuildJob> job = std::move(m_build_job);
    finish_build(*job);
}

void App::finish_build(BuildJob& job)
{
    tc::BuildResult r = job.result.get();
    Doc* d = job.doc;
    bool open = std::any_of(m_docs.begin(), m_docs.end(), [d](const auto& p) { return p.get() == d; });
    if (!open) {
        // The document was closed while its tools ran.
        m_dirty = true;
        return;
    }
    d->build = std::move(r);
    d->have_build = true;
    d->build_gen = job.gen;
    d->build_src = job.doc_path;
    const tc::BuildResult& b = d->build;

    std::string work = tc::temp_dir();
    std::string base = base_name(job.source);
    for (size_t at = 0; at <= b.log.size();) {
        size_t nl = b.log.find('\n', at);
        if (nl == std::string::npos)
            nl = b.log.size();
        std::string raw = b.log.substr(at, nl - at);
        at = nl + 1;
        if (raw.empty() && at > b.log.size())
            break;
        // The line's own diagnostic, parsed from this very line: repeated
        // messages each keep their line, and a message naming the source
        // path matches as well as any other.
        std::vector<tc::Diag> own = tc::parse_diags(raw);
        std::string line = raw;
        if (job.source.find('/') != std::string::npos)
            replace_all(line, job.source, base);
        if (!work.empty())
            replace_all(line, work + "/", "");
        if (!own.empty() && own[0].msg.rfind("missing", 0) != 0)
            build_msg(line, own[0].error ? 1 : 2, in_source(own[0], base) ? own[0].line : 0);
        else
            build_msg(line, line.rfind("$ ", 0) == 0 ? 5 : 0, 0);
    }
    for (const tc::Diag& g : b.diags)
        if (g.msg.rfind("missing-source:", 0) == 0)
            build_msg(L10n::tr("build.missing_src", g.msg.substr(15).c_str()), 1, 0);
    std::vector<std::string> codes = needs::from_diags(b.diags);
    for (const std::string& l : needs::explain(codes))
        build_msg(l, l.rfind("    ", 0) == 0 ? 4 : 1, 0);
    if (!codes.empty())
        status([codes] { return needs::explain_line(codes); }, true);
    size_t first = b.log.find("$ ");
    bool linked = first != std::string::npos && b.log.find("$ ", first + 2) != std::string::npos;
    if (!b.ok && b.fmt != tc::Format::Bin && d->link.libs.empty() && linked
        && (job.text.find("extern ") != std::string::npos || job.text.find("EXTERN ") != std::string::npos))
        build_msg(L10n::tr("build.hint_link"), 2, 0);
    apply_build_marks(d);

    int errors = 0, warnings = 0;
    for (const tc::Diag& g : b.diags)
        (g.error ? errors : warnings)++;
    if (b.ok) {
        build_msg(L10n::tr("build.ok", b.output.c_str(), int(now_ms() - job.t0_ms)), 3, 0);
        if (warnings > 0)
            build_msg(L10n::tr("build.warnings", warnings), 2, 0);
        status_tr(false, "build.ok_short", base_name(b.output));
        load_binary(b.output, true, true);
        // The program belongs to the document that was built, even when
        // another source came to front meanwhile.
        Doc* keep = m_s;
        m_s = d;
        if (job.then)
            job.then();
        else
            m_settings.bottom_tab = 0;
        if (m_s == d)
            m_s = keep;
    } else {
        build_msg(L10n::tr("build.failed", errors), 1, 0);
        status_tr(true, "build.failed", errors);
        m_settings.bottom_tab = 0;
        for (const tc::Diag& g : b.diags)
            if (g.error && in_source(g, base)) {
                if (m_s == d) {
                    m_settings.main_tab = 0;
                    m_focus = Focus::Editor;
                }
                d->ed.goto_line(g.line - 1, true);
                break;
            }
    }
    m_dirty = true;
}

void App::apply_build_marks()
{
    apply_build_marks(m_s);
}

void App::apply_build_marks(Doc* d)
{
    d->ed.marks.clear();
    d->ed.code_lines.clear();
    std::string mine = base_name(d->path.empty() ? std::string("untitled.asm") : d->path);
    for (const tc::Diag& g : d->build.diags) {
        if (!in_source(g, mine))
            continue;
        Editor::Mark m;
        m.error = g.error;
        m.msg = g.msg;
        d->ed.marks[g.line - 1] = m;
    }
    for (const tc::LineAddr& la : d->build.lines)
        d->ed.code_lines.insert(la.line - 1);
}

bool App::build_is_current() const
{
    const Doc* d = m_s;
    return d->have_build && d->build.ok && d->ed.generation() == d->build_gen && d->build_src == d->path
           && access(d->build.output.c_str(), R_OK) == 0;
}

std::string App::target_path(bool* from_source) const
{
    const std::string& out = m_s->build.output;
    const BinImage& img = m_b->img;
    if (m_settings.main_tab == 1 && !img.m_path.empty()
        && (img.m_kind == BinImage::Elf32 || img.m_kind == BinImage::Elf64) && img.m_path != out) {
        *from_source = false;
        return img.m_path;
    }
    *from_source = true;
    return out;
}

uint64_t App::to_file(uint64_t run_addr) const
{
    return m_proc.alive() ? run_addr - m_proc.load_bias() : run_addr;
}

uint64_t App::to_run(uint64_t file_addr) const
{
    return m_proc.alive() ? file_addr + m_proc.load_bias() : file_addr;
}

int App::line_of_addr(uint64_t addr) const
{
    // Addresses are run-time ones while a program exists, file ones
    // otherwise: the same convention as addr_of_line, so the two agree.
    const Doc* d = target_src();
    if (!d || !d->have_build || !m_debug_src)
        return -1;
    uint64_t a = to_file(addr);
    const auto& lines = d->build.lines;
    auto it = std::upper_bound(lines.begin(), lines.end(), a,
                               [](uint64_t v, const tc::LineAddr& la) { return v < la.addr; });
    if (it == lines.begin())
        return -1;
    --it;
    if (a >= it->addr && a < it->addr + it->len)
        return it->line - 1;
    return -1;
}

bool App::addr_of_line(int line, uint64_t* addr) const
{
    const Doc* d = target_src();
    if (!d || !d->have_build)
        return false;
    bool found = false;
    uint64_t best = 0;
    for (const tc::LineAddr& la : d->build.lines)
        if (la.line == line + 1 && (!found || la.addr < best)) {
            best = la.addr;
            found = true;
        }
    if (!found)
        return false;
    *addr = to_run(best);
    return true;
}
