// Toolchain records and the small text helpers the parsers and the build share.
#include "toolchain.h"

#include <cstring>

namespace tc {

bool LinkOpts::empty() const
{
    return !crt && libs.empty() && dirs.empty() && extra.empty() && incs.empty() && srcs.empty();
}

const char* format_key(Format fmt)
{
    switch (fmt) {
    case Format::Elf64:
        return "elf64";
    case Format::Elf32:
        return "elf32";
    case Format::Bin:
        return "bin";
    default:
        return "auto";
    }
}

Format format_from_key(const std::string& key)
{
    if (key == "elf64")
        return Format::Elf64;
    if (key == "elf32")
        return Format::Elf32;
    if (key == "bin")
        return Format::Bin;
    return Format::Auto;
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string code_part(const std::string& line)
{
    std::string out;
    out.reserve(line.size());
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
            out += ' ';
            continue;
        }
        if (c == ';')
            break;
        if (c == '"' || c == '\'' || c == '`') {
            quote = c;
            out += ' ';
            continue;
        }
        out += c;
    }
    return out;
}

namespace {

// Splits at commas and white space, at ':' when `colon` is set, and keeps
// text inside double or single quotes whole (the quotes dropped) when
// `quotes` is set.
std::vector<std::string> split_list(const std::string& s, bool colon, bool quotes)
{
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    for (char c : s) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                cur += c;
        } else if (quotes && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == ',' || is_space(c) || (colon && c == ':')) {
            if (!cur.empty())
                out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        out.push_back(std::move(cur));
    return out;
}

} // namespace

std::vector<std::string> words(const std::string& s, bool colon)
{
    return split_list(s, colon, false);
}

std::vector<std::string> folders(const std::string& s)
{
    return split_list(s, true, true);
}

} // namespace tc
