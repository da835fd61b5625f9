// Parsers for what the tools leave behind: NASM listings, the messages of
// nasm, ld and cc, and the linker's map of where it placed each section.
#include "files.h"
#include "numfmt.h"
#include "toolchain.h"
#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <unistd.h>
#include <string_view>

namespace tc {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim_view(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool all_digits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The hexadecimal number at the start of `s` (NASM writes "10h"; the
// suffix simply ends the digits).
uint64_t leading_hex(std::string_view s)
{
    uint64_t v = 0;
    for (char c : s) {
        int d = numfmt::hex_digit(c);
        if (d < 0)
            break;
        v = v * 16 + uint64_t(d);
    }
    return v;
}

using textutil::lower;

bool begins_with_word(const std::string& s, const char* word, std::string* rest)
{
    size_t n = std::char_traits<char>::length(word);
    if (s.compare(0, n, word) != 0 || s.size() == n || !is_blank(s[n]))
        return false;
    *rest = trim(s.substr(n));
    return true;
}

bool starts_with_nocase(std::string_view s, const char* word)
{
    size_t n = std::char_traits<char>::length(word);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(s[i])) != word[i])
            return false;
    return true;
}

// Follows "section" and "segment" directives of one source line.
void track_section(std::string_view source, std::string& section)
{
    // Most lines are instructions: a cheap look at the first word spares
    // them the full reduction below.
    std::string_view head = trim_view(source);
    if (!head.empty() && head.front() == '[')
        head = trim_view(head.substr(1));
    if (!starts_with_nocase(head, "section") && !starts_with_nocase(head, "segment"))
        return;
    std::string code = lower(trim(code_part(std::string(source))));
    if (!code.empty() && code[0] == '[') {
        size_t close = code.find(']');
        code = trim(code.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    }
    std::string rest;
    if (!begins_with_word(code, "section", &rest) && !begins_with_word(code, "segment", &rest))
        return;
    size_t end = rest.find_first_of(" \t");
    section = rest.substr(0, end);
}

bool is_linker_name(std::string_view head)
{
    size_t slash = head.rfind('/');
    std::string_view base = slash == std::string_view::npos ? head : head.substr(slash + 1);
    if (base.empty() || base.find(' ') != std::string_view::npos)
        return false;
    bool suffix_ld = base.size() > 3 && base.substr(base.size() - 3) == "-ld";
    return base == "ld" || base.substr(0, 3) == "ld." || suffix_ld;
}

// The linker names itself by the path it was started with ("/usr/bin/ld: "),
// so its prefix is recognised by the base name. Returns the text after it.
bool strip_linker_prefix(std::string_view line, std::string_view* rest)
{
    size_t colon = line.find(": ");
    if (colon == std::string_view::npos || !is_linker_name(line.substr(0, colon)))
        return false;
    *rest = line.substr(colon + 2);
    return true;
}

bool marker_rule(std::string_view line, Diag* d)
{
    static const struct {
        const char* marker;
        bool error;
    } kMarkers[] = { { ": error: ", true }, { ": fatal: ", true }, { ": warning: ", false } };
    for (const auto& m : kMarkers) {
        size_t at = line.find(m.marker);
        if (at == std::string_view::npos)
            continue;
        std::string_view head = line.substr(0, at);
        d->error = m.error;
        d->msg = std::string(line.substr(at + std::char_traits<char>::length(m.marker)));
        size_t colon = head.rfind(':');
        if (colon == std::string_view::npos) {
            d->file = std::string(head);
            d->line = 0;
        } else {
            d->file = std::string(head.substr(0, colon));
            d->line = atoi(std::string(head.substr(colon + 1)).c_str());
        }
        return true;
    }
    return false;
}

// "<file>:<line>:(<section>+<offset>): <message>" from the linker.
bool position_rule(std::string_view line, Diag* d)
{
    size_t open = line.find(":(");
    if (open == std::string_view::npos || open == 0)
        return false;
    size_t close = line.find("): ", open);
    if (close == std::string_view::npos)
        return false;
    std::string_view before = line.substr(0, open);
    size_t colon = before.rfind(':');
    if (colon == std::string_view::npos || !all_digits(before.substr(colon + 1)))
        return false;
    std::string_view file = before.substr(0, colon);
    size_t tool = file.rfind(": ");
    if (tool != std::string_view::npos)
        file = file.substr(tool + 2);
    d->line = atoi(std::string(before.substr(colon + 1)).c_str());
    d->file = std::string(file);
    d->msg = std::string(line.substr(close + 3));
    d->error = true;
    return true;
}

// With DWARF line information the linker names the source line directly:
// "<file>:<line>: undefined reference to `x'", possibly after its own name.
bool source_line_rule(std::string_view line, Diag* d)
{
    std::string_view text = line;
    strip_linker_prefix(line, &text);
    for (size_t colon = text.find(':'); colon != std::string_view::npos; colon = text.find(':', colon + 1)) {
        size_t end = text.find(": ", colon + 1);
        if (colon == 0 || end == std::string_view::npos || !all_digits(text.substr(colon + 1, end - colon - 1)))
            continue;
        std::string_view msg = text.substr(end + 2);
        if (msg.substr(0, 19) != "undefined reference" && msg.substr(0, 19) != "multiple definition")
            return false;
        d->file = std::string(text.substr(0, colon));
        d->line = atoi(std::string(text.substr(colon + 1, end - colon - 1)).c_str());
        d->msg = std::string(msg);
        d->error = true;
        return true;
    }
    return false;
}

// "<object>: in function `name':" only says where the next message belongs;
// it is no message of its own.
bool is_context_line(std::string_view rest)
{
    size_t at = rest.find("n function `");
    return at != std::string_view::npos && at > 0 && (rest[at - 1] == 'i' || rest[at - 1] == 'I')
        && rest.size() >= 2 && rest.substr(rest.size() - 2) == "':";
}

bool linker_rule(std::string_view line, Diag* d)
{
    std::string_view rest;
    bool from_linker = strip_linker_prefix(line, &rest);
    if (!from_linker && line.find("undefined reference") == std::string_view::npos)
        return false;
    if (from_linker && is_context_line(rest))
        return false;
    d->file.clear();
    d->line = 0;
    d->msg = std::string(line);
    // The linker follows its deprecation warnings with a "NOTE:" line; it
    // is part of the warning, not an error of its own.
    bool note = from_linker && rest.substr(0, 5) == "NOTE:";
    d->error = line.find("warning") == std::string_view::npos && !note;
    return true;
}

} // namespace

namespace {

// The state of reading a listing line by line. Entries of one source line
// that follow each other are merged before they are handed on.
struct ListingState {
    const std::function<void(const ListEntry&)>& emit;
    std::string section = ".text";
    int outer_line = 0;
    // Bytes of the current statement so far, when its listing continues on
    // the next line (the bytes column ends with '-'); a repeat marker on a
    // continuation line repeats the whole statement.
    uint64_t unit_bytes = 0;
    int unit_line = -1;
    bool continues = false;
    ListEntry last;
    bool has_last = false;

    void finish()
    {
        if (has_last)
            emit(last);
        has_last = false;
    }
};

void listing_line(ListingState& st, std::string_view line)
{
    if (line.size() < 7)
        return;
    std::string_view number = trim_view(line.substr(0, 6));
    if (!all_digits(number))
        return;
    int line_no = 0;
    for (char c : number)
        line_no = line_no * 10 + (c - '0');
    bool macro = false;
    for (size_t lt = line.find('<'); lt != std::string_view::npos && !macro; lt = line.find('<', lt + 1))
        macro = lt + 2 < line.size() && line[lt + 1] >= '1' && line[lt + 1] <= '4' && line[lt + 2] == '>';
    if (!macro) {
        st.outer_line = line_no;
        if (line.size() > 40)
            track_section(line.substr(40), st.section);
    }

    if (line.size() <= 15 || line[6] != ' ')
        return;
    std::string_view offset_text = line.substr(7, 8);
    bool hex = true;
    for (char c : offset_text)
        hex = hex && numfmt::hex_digit(c) >= 0;
    if (!hex)
        return;
    std::string_view bytes = line.size() > 40 ? line.substr(16, 24) : line.substr(16);

    bool continuation = st.continues && st.unit_line == line_no;
    st.continues = trim_view(bytes).size() > 0 && trim_view(bytes).back() == '-';
    uint64_t before = continuation ? st.unit_bytes : 0;

    uint64_t repeat = 1;
    bool has_repeat = false;
    size_t rep = bytes.find("<rep ");
    if (rep != std::string_view::npos) {
        has_repeat = true;
        repeat = leading_hex(bytes.substr(rep + 5));
        if (repeat == 0)
            repeat = 1;
        bytes = bytes.substr(0, rep);
    }

    uint64_t count = 0;
    if (bytes.substr(0, 5) == "<bin ") {
        // incbin lists the size of the included data instead of bytes.
        count = leading_hex(bytes.substr(5));
    } else {
        uint64_t digits = 0;
        for (char c : bytes) {
            if (c == ' ')
                break;
            if (numfmt::hex_digit(c) >= 0)
                ++digits;
        }
        count = digits / 2;
    }
    uint64_t added = has_repeat ? (before + count) * repeat - before : count;

    st.unit_line = line_no;
    st.unit_bytes = st.continues ? before + count : 0;
    if (added == 0)
        return;

    int owner = macro ? st.outer_line : line_no;
    uint64_t offset = leading_hex(offset_text);
    if (st.has_last) {
        ListEntry& last = st.last;
        bool same = last.line == owner && last.section == st.section;
        if (same && (last.offset + last.len == offset || (continuation && has_repeat))) {
            last.len += uint32_t(added);
            return;
        }
        st.emit(last);
    }
    st.last = { owner, st.section, offset, uint32_t(added) };
    st.has_last = true;
}

// Feeds every complete line of text; returns where the unfinished last
// line starts.
size_t listing_lines(ListingState& st, std::string_view text)
{
    size_t pos = 0;
    for (size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n', pos)) {
        listing_line(st, text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return pos;
}

} // namespace

std::vector<ListEntry> parse_listing(const std::string& text)
{
    std::vector<ListEntry> out;
    std::function<void(const ListEntry&)> keep = [&](const ListEntry& e) { out.push_back(e); };
    ListingState st { keep, ".text", 0, 0, -1, false, {}, false };
    size_t rest = listing_lines(st, text);
    listing_line(st, std::string_view(text).substr(rest));
    st.finish();
    return out;
}

bool read_listing(const std::string& path, const std::function<void(const ListEntry&)>& fn)
{
    // The listing of a large program is many times its source: it is read
    // in blocks, never held whole.
    uint64_t size = 0;
    int fd = files::open_read(path, &size);
    if (fd < 0)
        return false;
    ListingState state { fn, ".text", 0, 0, -1, false, {}, false };
    std::string buf;
    // Blocks no larger than the file: each grown buffer is zero-filled
    // first, which for a megabyte cost a small build more than its parse.
    const size_t block = size_t(std::clamp<uint64_t>(size + 1, 4096, uint64_t(1) << 20));
    bool ok = true;
    for (;;) {
        size_t have = buf.size();
        buf.resize(have + block);
        ssize_t n = read(fd, buf.data() + have, block);
        if (n < 0 && errno == EINTR) {
            buf.resize(have);
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            buf.resize(have);
            break;
        }
        buf.resize(have + size_t(n));
        buf.erase(0, listing_lines(state, buf));
    }
    close(fd);
    if (ok) {
        listing_line(state, buf);
        state.finish();
    }
    return ok;
}

std::vector<Diag> parse_diags(const std::string& output)
{
    std::vector<Diag> out;
    size_t pos = 0;
    while (pos < output.size()) {
        size_t nl = output.find('\n', pos);
        if (nl == std::string::npos)
            nl = output.size();
        std::string_view line(output.data() + pos, nl - pos);
        pos = nl + 1;
        if (line.empty())
            continue;
        Diag d;
        if (marker_rule(line, &d) || position_rule(line, &d) || source_line_rule(line, &d) || linker_rule(line, &d))
            out.push_back(std::move(d));
    }
    return out;
}

std::map<std::string, uint64_t> object_sections(const std::string& map_text, const std::string& object)
{
    std::map<std::string, uint64_t> out;
    std::string pending; // an input section whose name filled its own line
    // Sections the linker dropped are listed first, at address 0; they
    // must not place any line.
    bool discarded = false;
    size_t pos = 0;
    while (pos < map_text.size()) {
        size_t nl = map_text.find('\n', pos);
        if (nl == std::string::npos)
            nl = map_text.size();
        std::string_view line(map_text.data() + pos, nl - pos);
        pos = nl + 1;

        // Input sections are indented by one blank; their address, size and
        // file follow on the same line or, for long names, on the next.
        std::string name;
        std::string_view rest;
        if (line.size() > 1 && line[0] == ' ' && line[1] != ' ' && line[1] != '*') {
            std::string_view body = line.substr(1);
            size_t end = body.find_first_of(" \t");
            name = std::string(body.substr(0, end));
            if (end == std::string_view::npos) {
                pending = name;
                continue;
            }
            rest = trim_view(body.substr(end));
        } else if (!pending.empty() && line.size() > 1 && line[0] == ' ' && line[1] == ' ') {
            name = pending;
            rest = trim_view(line);
        } else {
            pending.clear();
            if (!line.empty() && line[0] != ' ')
                discarded = line == "Discarded input sections";
            continue;
        }
        pending.clear();
        if (discarded)
            continue;

        if (rest.substr(0, 2) != "0x")
            continue;
        size_t a_end = rest.find_first_of(" \t");
        if (a_end == std::string_view::npos)
            continue;
        uint64_t addr = leading_hex(rest.substr(2, a_end - 2));
        std::string_view after = trim_view(rest.substr(a_end));
        if (after.substr(0, 2) != "0x")
            continue;
        size_t s_end = after.find_first_of(" \t");
        if (s_end == std::string_view::npos)
            continue;
        std::string_view file = trim_view(after.substr(s_end));
        if (file != object)
            continue;
        out.emplace(lower(name), addr);
    }
    return out;
}

} // namespace tc
