// The link step's command line and the search for the libraries it names.
#include "toolchain.h"

#include <dirent.h>
#include <sys/stat.h>

namespace tc {

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool starts_with(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool ends_with(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> split_blanks(const std::string& s)
{
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
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

bool in_any_dir(const std::string& file, const std::vector<std::string>& dirs)
{
    for (const auto& d : dirs)
        if (exists(d + "/" + file))
            return true;
    return false;
}

// The shortest "lib<name>.so.<version>" in the first folder that has one.
std::string versioned_shared(const std::string& name, const std::vector<std::string>& dirs)
{
    std::string prefix = "lib" + name + ".so.";
    for (const auto& d : dirs) {
        DIR* dir = opendir(d.c_str());
        if (!dir)
            continue;
        std::string best;
        while (dirent* e = readdir(dir)) {
            std::string entry = e->d_name;
            if (starts_with(entry, prefix.c_str()) && (best.empty() || entry.size() < best.size()))
                best = entry;
        }
        closedir(dir);
        if (!best.empty())
            return best;
    }
    return {};
}

} // namespace

std::vector<std::string> extra_objects(const LinkOpts& opts, const std::string& object_dir)
{
    std::vector<std::string> out;
    for (const auto& w : words(opts.srcs, false)) {
        size_t slash = w.rfind('/');
        std::string base = slash == std::string::npos ? w : w.substr(slash + 1);
        size_t dot = base.rfind('.');
        if (dot != std::string::npos && dot != 0)
            base.resize(dot);
        out.push_back(object_dir + "/x-" + base + ".o");
    }
    return out;
}

std::vector<std::string> lib_dirs(const LinkOpts& opts, Format fmt)
{
    std::vector<std::string> out = folders(opts.dirs);
    static const char* const k32[] = { "/usr/local/lib32", "/usr/lib/i386-linux-gnu", "/lib/i386-linux-gnu",
                                       "/usr/lib32", "/lib32", "/usr/lib", "/lib" };
    static const char* const k64[] = { "/usr/local/lib", "/usr/local/lib64", "/usr/lib/x86_64-linux-gnu",
                                       "/lib/x86_64-linux-gnu", "/usr/lib64", "/lib64", "/usr/lib", "/lib" };
    std::string root = snap_root();
    if (fmt == Format::Elf32) {
        for (const char* d : k32)
            out.push_back(root + d);
    } else {
        for (const char* d : k64)
            out.push_back(root + d);
    }
    return out;
}

std::string resolve_lib(const std::string& word, const std::vector<std::string>& dirs, bool* found)
{
    bool dummy;
    bool& ok = found ? *found : dummy;
    ok = true;
    if (word.find('/') != std::string::npos) {
        ok = exists(word);
        return arg_path(word);
    }
    if (starts_with(word, "-l:")) {
        ok = in_any_dir(word.substr(3), dirs);
        return word;
    }
    if (starts_with(word, "-") && !starts_with(word, "-l"))
        return word;

    std::string name = starts_with(word, "-l") ? word.substr(2) : word;
    if (starts_with(name, "lib") && name.size() > 3) {
        size_t so = name.find(".so");
        if (so != std::string::npos && so + 3 < name.size()) {
            ok = in_any_dir(name, dirs);
            return "-l:" + name;
        }
        if (ends_with(name, ".so"))
            name = name.substr(3, name.size() - 6);
        else if (ends_with(name, ".a"))
            name = name.substr(3, name.size() - 5);
    }
    for (const auto& d : dirs) {
        if (exists(d + "/lib" + name + ".so") || exists(d + "/lib" + name + ".a"))
            return "-l" + name;
    }
    std::string versioned = versioned_shared(name, dirs);
    if (!versioned.empty())
        return "-l:" + versioned;
    ok = false;
    return "-l" + name;
}

std::vector<std::string> missing_libs(const LinkOpts& opts, Format fmt)
{
    std::vector<std::string> out;
    std::vector<std::string> dirs = lib_dirs(opts, fmt);
    for (const auto& w : split_blanks(opts.libs)) {
        bool found = true;
        resolve_lib(w, dirs, &found);
        if (!found)
            out.push_back(w);
    }
    return out;
}

std::vector<std::string> link_command(const std::string& tool, Format fmt, const LinkOpts& opts,
                                      const std::string& object, const std::string& output)
{
    std::vector<std::string> cmd { tool };
    std::string root = snap_root();
    if (opts.crt) {
        cmd.push_back("-no-pie");
        if (!root.empty())
            cmd.push_back("--sysroot=" + root);
        if (fmt == Format::Elf32)
            cmd.push_back("-m32");
    } else {
        if (fmt == Format::Elf32) {
            cmd.push_back("-m");
            cmd.push_back("elf_i386");
        }
        if (!root.empty())
            cmd.push_back("--sysroot=" + root);
    }
    cmd.push_back("-o");
    cmd.push_back(output);
    cmd.push_back(object);

    size_t slash = object.rfind('/');
    std::string object_dir = slash == std::string::npos ? "." : object.substr(0, slash);
    for (auto& extra : extra_objects(opts, object_dir))
        cmd.push_back(slash == std::string::npos ? extra.substr(2) : extra);

    for (const auto& d : folders(opts.dirs)) {
        cmd.push_back("-L" + d);
        if (opts.crt) {
            cmd.push_back("-Wl,-rpath," + d);
        } else {
            cmd.push_back("-rpath");
            cmd.push_back(d);
        }
    }
    std::vector<std::string> dirs = lib_dirs(opts, fmt);
    std::vector<std::string> libs = words(opts.libs, false);
    for (const auto& w : libs)
        cmd.push_back(resolve_lib(w, dirs, nullptr));
    if (!opts.crt && !libs.empty()) {
        cmd.push_back("-dynamic-linker");
        cmd.push_back(fmt == Format::Elf32 ? "/lib/ld-linux.so.2" : "/lib64/ld-linux-x86-64.so.2");
    }
    for (const auto& w : words(opts.extra, false))
        cmd.push_back(w);
    return cmd;
}

} // namespace tc
