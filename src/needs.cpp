// Turns the build's "missing:" codes into advice in the user's language.
#include "needs.h"

#include "l10n.h"

#include <algorithm>
#include <cctype>

namespace needs {

namespace {

// The name a package search should use for a library word: "-lSDL2",
// "libSDL2.so.0" and "/opt/x/libSDL2.a" all become "sdl2".
std::string search_term(const std::string& word)
{
    std::string t = word;
    if (t.rfind("-l:", 0) == 0)
        t = t.substr(3);
    else if (t.rfind("-l", 0) == 0)
        t = t.substr(2);
    size_t slash = t.rfind('/');
    if (slash != std::string::npos)
        t = t.substr(slash + 1);
    if (t.size() > 3 && t.rfind("lib", 0) == 0)
        t = t.substr(3);
    size_t so = t.find(".so");
    if (so != std::string::npos)
        t.resize(so);
    if (t.size() >= 2 && t.compare(t.size() - 2, 2, ".a") == 0)
        t.resize(t.size() - 2);
    for (char& c : t)
        c = char(tolower(static_cast<unsigned char>(c)));
    return t;
}

const char* tool_key(const std::string& item)
{
    if (item == "nasm")
        return "need.nasm";
    if (item == "ld")
        return "need.ld";
    if (item == "cc")
        return "need.cc";
    return "need.crt32";
}

} // namespace

std::vector<std::string> from_diags(const std::vector<tc::Diag>& diags)
{
    std::vector<std::string> items;
    for (const auto& d : diags) {
        if (d.msg.rfind("missing:", 0) != 0)
            continue;
        std::string item = d.msg.substr(8);
        if (std::find(items.begin(), items.end(), item) == items.end())
            items.push_back(item);
    }
    return items;
}

std::vector<std::string> explain(const std::vector<std::string>& items, const tc::Distro& distro,
                                 const std::string& snap_root)
{
    std::vector<std::string> lines;
    std::vector<std::string> packages;
    for (const auto& item : items) {
        if (item.rfind("lib:", 0) != 0) {
            lines.push_back(L10n::tr(tool_key(item)));
            for (auto& p : tc::packages_for(item, distro))
                if (std::find(packages.begin(), packages.end(), p) == packages.end())
                    packages.push_back(p);
            continue;
        }
        std::string word = item.substr(4);
        lines.push_back(L10n::tr("need.lib", word));
        if (!snap_root.empty())
            lines.push_back("    " + L10n::tr("snap.lib"));
        else
            lines.push_back("    " + L10n::tr("need.search", tc::search_command(search_term(word), distro)));
    }
    if (!packages.empty())
        lines.push_back("    " + L10n::tr("need.install", tc::install_command(packages, distro)));
    return lines;
}

std::vector<std::string> explain(const std::vector<std::string>& items)
{
    if (items.empty())
        return {};
    return explain(items, tc::distro(), tc::snap_root());
}

std::string explain_line(const std::vector<std::string>& items)
{
    std::string out;
    for (const auto& line : explain(items)) {
        size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        if (!out.empty())
            out += ' ';
        out += line.substr(start);
    }
    return out;
}

} // namespace needs
