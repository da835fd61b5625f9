// What the running distribution calls its packages and package commands.
#include "toolchain.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace tc {

namespace {

struct Row {
    const char* words[3];
    const char* search;  // prefix of the search command
    const char* install; // prefix of the install command
    const char* crt32[2];
};

// Rows are tested in order; a distribution belongs to the first row one of
// whose words occurs in its ID and ID_LIKE values.
const Row* distro_row(const Distro& d)
{
    static const Row kRows[] = {
        { { "arch", "manjaro", nullptr }, "pacman -Ss ", "sudo pacman -S ", { "lib32-glibc", "lib32-gcc-libs" } },
        { { "suse", nullptr, nullptr }, "zypper search ", "sudo zypper install ", { "gcc-32bit", "glibc-devel-32bit" } },
        { { "fedora", "rhel", "centos" }, "dnf search ", "sudo dnf install ", { "glibc-devel.i686", "libgcc.i686" } },
        { { "debian", "ubuntu", nullptr }, "apt search ", "sudo apt install ", { "gcc-multilib", nullptr } },
    };
    std::string ids = d.id + " " + d.id_like;
    for (char& c : ids)
        c = char(tolower(static_cast<unsigned char>(c)));
    for (const Row& row : kRows)
        for (const char* w : row.words)
            if (w && ids.find(w) != std::string::npos)
                return &row;
    return nullptr;
}

std::string value_of(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0)
            continue;
        std::string value;
        for (size_t i = key.size() + 1; i < line.size(); ++i)
            if (line[i] != '"')
                value += line[i];
        return value;
    }
    return {};
}

std::string join(const std::vector<std::string>& items, const char* sep)
{
    std::string out;
    for (const auto& s : items) {
        if (!out.empty())
            out += sep;
        out += s;
    }
    return out;
}

} // namespace

Distro distro_from_text(const std::string& os_release)
{
    Distro d;
    d.id = value_of(os_release, "ID");
    d.id_like = value_of(os_release, "ID_LIKE");
    d.pretty_name = value_of(os_release, "PRETTY_NAME");
    d.name = value_of(os_release, "NAME");
    return d;
}

Distro distro()
{
    std::ifstream in("/etc/os-release", std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return distro_from_text(text.str());
}

std::string os_name(const Distro& d)
{
    if (!d.pretty_name.empty())
        return d.pretty_name;
    if (!d.name.empty())
        return d.name;
    return "Linux";
}

std::string search_command(const std::string& term, const Distro& d)
{
    const Row* row = distro_row(d);
    return row ? row->search + term : term;
}

std::vector<std::string> packages_for(const std::string& item, const Distro& d)
{
    if (item == "nasm")
        return { "nasm" };
    if (item == "ld")
        return { "binutils" };
    if (item == "cc")
        return { "gcc" };
    if (item == "crt32") {
        const Row* row = distro_row(d);
        if (!row)
            return { "gcc-multilib" };
        std::vector<std::string> out;
        for (const char* p : row->crt32)
            if (p)
                out.push_back(p);
        return out;
    }
    return {};
}

std::string install_command(const std::vector<std::string>& packages, const Distro& d)
{
    const Row* row = distro_row(d);
    return row ? row->install + join(packages, " ") : join(packages, ", ");
}

std::string os_name()
{
    return os_name(distro());
}

std::string search_command(const std::string& term)
{
    return search_command(term, distro());
}

std::vector<std::string> packages_for(const std::string& item)
{
    return packages_for(item, distro());
}

std::string install_command(const std::vector<std::string>& packages)
{
    return install_command(packages, distro());
}

} // namespace tc
