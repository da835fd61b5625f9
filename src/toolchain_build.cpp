// Building one NASM source into a program or a flat binary, choosing the
// output format, and assembling single lines.
#include "binimage.h"
#include "files.h"
#include "numfmt.h"
#include "toolchain.h"
#include "textutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include <algorithm>
#include <cctype>
#include <string_view>
#include <cstdio>

namespace tc {

namespace {

constexpr int kToolLimitMs = 30000;

bool read_file(const std::string& path, std::string* out)
{
    uint64_t size = 0;
    int fd = files::open_read(path, &size);
    if (fd < 0)
        return false;
    std::string text;
    // Room for the whole file at once: grown by doubling, a large source
    // would take up to twice its size.
    if (size < (uint64_t(1) << 32))
        text.reserve(size_t(size));
    bool ok = files::read_all(fd, &text);
    close(fd);
    if (ok)
        *out = std::move(text);
    return ok;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

using textutil::lower;

// "word" alone, or "word" and white space; `rest` gets the trimmed remainder.
bool is_directive(const std::string& line, const char* word, std::string* rest)
{
    size_t n = std::char_traits<char>::length(word);
    if (line.compare(0, n, word) != 0)
        return false;
    if (line.size() == n) {
        rest->clear();
        return true;
    }
    if (!is_blank(line[n]))
        return false;
    *rest = trim(line.substr(n));
    return true;
}

template<typename Fn>
void for_each_line(std::string_view text, Fn fn)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = text.size();
        fn(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
}

// The lines of a file, read in blocks: a source many times the memory a
// build should take is never held whole.
template<typename Fn>
bool for_each_file_line(const std::string& path, uint64_t* size, Fn fn)
{
    std::string partial;
    bool ok = files::read_blocks(path, [&](std::string_view chunk) {
        size_t first_nl = chunk.find('\n');
        if (first_nl == std::string_view::npos) {
            partial.append(chunk);
            return;
        }
        // The line begun in the block before ends here.
        partial.append(chunk.substr(0, first_nl));
        fn(std::string_view(partial));
        partial.clear();
        chunk.remove_prefix(first_nl + 1);
        size_t last_nl = chunk.rfind('\n');
        if (last_nl != std::string_view::npos) {
            for_each_line(chunk.substr(0, last_nl + 1), fn);
            chunk.remove_prefix(last_nl + 1);
        }
        partial.assign(chunk);
    }, size);
    if (ok && !partial.empty())
        fn(std::string_view(partial));
    return ok;
}

// The code of a line, lower-cased, with a bracketed directive unwrapped.
std::string directive_text(const std::string& line, bool need_close)
{
    std::string code = lower(trim(code_part(line)));
    if (code.empty() || code[0] != '[')
        return code;
    size_t close = code.find(']');
    if (need_close) {
        if (code.back() != ']')
            return code;
        return trim(code.substr(1, code.size() - 2));
    }
    return trim(code.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Whether the line holds the word in any case: most lines of a large
// source hold no directive, and those need no closer look.
bool mentions(std::string_view line, std::string_view word)
{
    if (line.size() < word.size())
        return false;
    // The words are lower-case ASCII letters: setting the 0x20 bit folds an
    // upper-case letter onto them and no other byte, without a call per byte
    // (a long source is scanned whole).
    for (size_t i = 0; i + word.size() <= line.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && char(line[i + k] | 0x20) == word[k])
            ++k;
        if (k == word.size())
            return true;
    }
    return false;
}

// The output format a source asks for by its directives, and the value of
// its last "org" line; any blank may follow a keyword.
struct SourceScan {
    bool is32 = false;
    Format found = Format::Auto;
    uint64_t org = 0;

    void line(std::string_view text)
    {
        bool org_line = mentions(text, "org");
        if (found == Format::Auto && (org_line || mentions(text, "use") || mentions(text, "bits")))
            format_line(std::string(text));
        if (org_line)
            org_of_line(std::string(text));
    }
    Format format() const
    {
        if (found != Format::Auto)
            return found;
        return is32 ? Format::Elf32 : Format::Elf64;
    }

private:
    void format_line(const std::string& line)
    {
        std::string code = directive_text(line, true);
        if (code.empty())
            return;
        std::string rest;
        if (is_directive(code, "org", &rest) || is_directive(code, "use16", &rest)) {
            found = Format::Bin;
        } else if (is_directive(code, "bits", &rest)) {
            if (rest == "16")
                found = Format::Bin;
            else if (rest == "32")
                is32 = true;
        } else if (is_directive(code, "use32", &rest)) {
            is32 = true;
        }
    }
    void org_of_line(const std::string& line)
    {
        std::string code = directive_text(line, false);
        std::string rest;
        if (code.size() <= 3 || !is_directive(code, "org", &rest))
            return;
        uint64_t value = 0;
        int bytes = 0;
        if (numfmt::parse(rest, &value, &bytes))
            org = value;
    }
};

void missing(BuildResult& r, const std::string& code, const std::string& file)
{
    r.diags.push_back({ 0, true, file, code });
}

void cannot_write(BuildResult& r, const std::string& output)
{
    missing(r, "cannot write", output);
    if (!files::may_replace(output))
        r.log += "! " + output + ": " + files::kNotRegular + "\n";
}

// Runs one tool, logs its command and output, and collects its messages.
ProcResult run_logged(BuildResult& r, const std::vector<std::string>& cmd, int limit_ms = kToolLimitMs)
{
    r.log += "$ " + quote_cmd(cmd) + "\n";
    ProcResult p = run(cmd, {}, limit_ms);
    r.log += p.out;
    for (auto& d : parse_diags(p.out))
        r.diags.push_back(std::move(d));
    return p;
}

// Where the linker put each section of the main object. Without the C
// runtime the object comes first in the link, so its sections start their
// output sections; with it the runtime's code comes first and only the
// linker's map tells where the object landed.
std::map<std::string, uint64_t> section_bases(const std::string& map_path, const std::string& object,
                                              const std::string& output, bool crt)
{
    std::map<std::string, uint64_t> bases;
    if (crt) {
        std::string map_text;
        if (read_file(map_path, &map_text))
            bases = object_sections(map_text, object);
        return bases;
    }
    BinImage img;
    if (!img.load(output))
        return bases;
    for (const auto& s : img.m_sections)
        bases.emplace(lower(s.name), s.addr);
    return bases;
}

} // namespace

Format detect_format(const std::string& text)
{
    SourceScan scan;
    for_each_line(text, [&](std::string_view line) { scan.line(line); });
    return scan.format();
}

Format detect_file_format(const std::string& path)
{
    SourceScan scan;
    uint64_t size = 0;
    for_each_file_line(path, &size, [&](std::string_view line) { scan.line(line); });
    return scan.format();
}

int tool_limit_ms(uint64_t source_bytes)
{
    // NASM needs about a second per 5 MB of source on a quiet machine;
    // allow a second per 512 KiB on top of the fixed limit, so that a large
    // source is never cut off only for its size.
    uint64_t extra = source_bytes / (512 * 1024) * 1000;
    return int(std::min<uint64_t>(kToolLimitMs + extra, 24 * 3600 * 1000));
}

BuildResult build(const std::string& source_path, Format fmt, const std::string& output, const LinkOpts& link,
                  Detail detail)
{
    BuildResult r;
    // Every path handed to a tool derives from this one.
    const std::string source = arg_path(source_path);
    // The text is searched only for what the caller left open: the format,
    // or a flat file's origin.
    SourceScan scan;
    uint64_t source_size = 0;
    bool readable = false;
    if (fmt == Format::Auto || fmt == Format::Bin) {
        readable = for_each_file_line(source, &source_size, [&](std::string_view line) { scan.line(line); });
    } else {
        int fd = files::open_read(source, &source_size);
        readable = fd >= 0;
        if (readable)
            close(fd);
    }
    if (!readable) {
        missing(r, "cannot read", source_path);
        return r;
    }
    if (fmt == Format::Auto)
        fmt = scan.format();
    r.fmt = fmt;
    r.output = output;
    // Checked before any tool runs: a device, FIFO or folder at the output
    // name is never replaced by the result.
    if (!files::may_replace(output)) {
        cannot_write(r, output);
        return r;
    }
    const int limit = tool_limit_ms(source_size);
    const uint64_t org = fmt == Format::Bin ? scan.org : 0;

    std::string nasm = find_tool("nasm");
    if (nasm.empty()) {
        missing(r, "missing:nasm", "nasm");
        return r;
    }

    std::string dir = temp_dir();
    size_t out_slash = output.rfind('/');
    std::string out_base = out_slash == std::string::npos ? output : output.substr(out_slash + 1);
    std::string stem = dir + "/" + (out_base.rfind("reasm", 0) == 0 ? "reasm" : "build");
    std::string listing = stem + ".lst";
    std::string object = stem + ".o";
    std::string map = stem + ".map";
    // The tools write into the private work directory; the result is then
    // renamed over the requested output, so a link planted there is
    // replaced rather than written through.
    std::string product = stem + ".out";
    for (const std::string* f : { &listing, &object, &map, &product })
        files::remove(*f);

    size_t src_slash = source.rfind('/');
    std::string folder = src_slash == std::string::npos ? "." : source.substr(0, src_slash);
    std::vector<std::string> includes { "-I", folder + "/" };
    for (const auto& w : folders(link.incs)) {
        std::string path = w[0] == '/' ? w : folder + "/" + w;
        if (path.back() != '/')
            path += '/';
        includes.push_back("-I");
        includes.push_back(path);
    }

    const bool elf = fmt != Format::Bin;
    const char* elf_kind = fmt == Format::Elf32 ? "elf32" : "elf64";
    std::vector<std::string> cmd { nasm };
    cmd.insert(cmd.end(), includes.begin(), includes.end());
    const bool lines = detail == Detail::LinesAndDebug;
    cmd.insert(cmd.end(), { "-f", elf ? elf_kind : "bin" });
    if (elf && lines)
        cmd.insert(cmd.end(), { "-g", "-F", "dwarf" });
    if (lines)
        cmd.insert(cmd.end(), { "-l", listing });
    cmd.insert(cmd.end(), { "-o", elf ? object : product, source });
    ProcResult p = run_logged(r, cmd, limit);
    if (!p.started) {
        missing(r, "missing:nasm", "nasm");
        return r;
    }
    if (p.status != 0)
        return r;

    if (elf) {
        std::vector<std::string> srcs = words(link.srcs, false);
        std::vector<std::string> objects = extra_objects(link, dir);
        for (size_t i = 0; i < srcs.size(); ++i) {
            std::string path = srcs[i][0] == '/' ? srcs[i] : folder + "/" + srcs[i];
            if (access(path.c_str(), R_OK) != 0) {
                missing(r, "missing-source:" + path, path);
                r.log += "! " + path + "\n";
                return r;
            }
            std::vector<std::string> extra { nasm };
            extra.insert(extra.end(), includes.begin(), includes.end());
            extra.insert(extra.end(), { "-f", elf_kind });
            if (lines)
                extra.insert(extra.end(), { "-g", "-F", "dwarf" });
            extra.insert(extra.end(), { "-o", objects[i], path });
            ProcResult e = run_logged(r, extra, limit);
            if (!e.started || e.status != 0)
                return r;
        }

        std::string tool = link.crt ? find_tool("cc") : find_tool("ld");
        if (link.crt && tool.empty())
            tool = find_tool("gcc");
        const char* tool_code = link.crt ? "missing:cc" : "missing:ld";
        if (tool.empty()) {
            missing(r, tool_code, "ld");
            return r;
        }
        if (link.crt && fmt == Format::Elf32 && !has_crt32()) {
            missing(r, "missing:crt32", "ld");
            return r;
        }
        std::vector<std::string> lost = missing_libs(link, fmt);
        for (const auto& w : lost)
            missing(r, "missing:lib:" + w, "ld");
        if (!lost.empty())
            return r;

        std::vector<std::string> link_cmd = link_command(tool, fmt, link, object, product);
        // Writing the map costs the linker about a tenth of its time, so it
        // is asked for only where the output's sections are not enough.
        if (link.crt && lines)
            link_cmd.push_back("-Wl,-Map," + map);
        ProcResult l = run_logged(r, link_cmd, limit);
        if (!l.started) {
            missing(r, tool_code, "ld");
            return r;
        }
        if (l.status != 0)
            return r;
        chmod(product.c_str(), 0755);
    }

    r.ok = true;
    if (!elf)
        r.org = org;
    // The listing goes straight into the line table: a large program's
    // listing is never held whole.
    std::map<std::string, uint64_t> bases;
    if (elf && lines)
        bases = section_bases(map, object, product, link.crt);
    bool listed = lines && read_listing(listing, [&](const ListEntry& e) {
        if (!elf) {
            r.lines.push_back({ .line = e.line, .len = e.len, .addr = r.org + e.offset });
            return;
        }
        auto it = bases.find(e.section);
        if (it != bases.end())
            r.lines.push_back({ .line = e.line, .len = e.len, .addr = it->second + e.offset });
    });
    // A build whose listing is lost still succeeded, with no line table.
    if (!listed)
        r.lines.clear();
    std::stable_sort(r.lines.begin(), r.lines.end(),
                     [](const LineAddr& a, const LineAddr& b) { return a.addr < b.addr; });
    // Removing the old output first spares some file systems (ext4) the
    // flush they force when a rename replaces a file; nothing is written at
    // the name in between, so a link planted meanwhile is still replaced.
    if (output != product)
        files::remove(output);
    if (output != product && !files::replace(product, output)) {
        r.ok = false;
        r.lines.clear();
        cannot_write(r, output);
    }
    return r;
}

bool assemble_line(const std::string& text, int bits, uint64_t addr, std::vector<uint8_t>* out, std::string* err)
{
    std::string dummy;
    std::string& why = err ? *err : dummy;
    out->clear();
    std::string nasm = find_tool("nasm");
    if (nasm.empty()) {
        why = "missing:nasm";
        return false;
    }
    std::string dir = temp_dir();
    std::string source = dir + "/line.asm";
    std::string binary = dir + "/line.bin";
    {
        char head[64];
        snprintf(head, sizeof head, "bits %d\norg 0x%llx\n", bits, static_cast<unsigned long long>(addr));
        std::string body = head + text + "\n";
        int fd = files::open_regular(source, O_WRONLY | O_TRUNC, 0600);
        bool written = fd >= 0 && files::write_all(fd, body.data(), body.size());
        if (fd >= 0)
            close(fd);
        if (!written) {
            why = "write";
            return false;
        }
    }
    unlink(binary.c_str());
    ProcResult p = run({ nasm, "-f", "bin", "-o", binary, source }, {}, kToolLimitMs);
    if (!p.started) {
        why = "missing:nasm";
        return false;
    }
    if (p.status != 0) {
        std::vector<Diag> diags = parse_diags(p.out);
        why = diags.empty() ? trim(p.out) : diags.front().msg;
        return false;
    }
    std::string bytes;
    read_file(binary, &bytes);
    out->assign(bytes.begin(), bytes.end());
    if (out->empty()) {
        why = "empty";
        return false;
    }
    return true;
}

} // namespace tc
