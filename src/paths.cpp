#include "paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace paths {

namespace {

const char* kDirName = "qxFerndockAssemblerIDE";

// An environment variable counts only when it exists and is not empty.
const char* env(const char* name)
{
    const char* v = getenv(name);
    return (v && *v) ? v : nullptr;
}

bool is_dir(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The program used to be called qxFerndockAssembler; its directory moves
// over once, leaving behind the files that only the old program used.
void take_over_older(const std::string& dir)
{
    struct stat st {};
    if (dir.size() <= 3 || stat(dir.c_str(), &st) == 0)
        return;
    std::string old_dir = dir.substr(0, dir.size() - 3);
    if (!is_dir(old_dir) || rename(old_dir.c_str(), dir.c_str()) != 0)
        return;
    for (const char* leftover : { ".log", ".log.1", ".lock" })
        unlink((dir + "/qxFerndockAssembler" + leftover).c_str());
}

std::string compute_config_dir()
{
    std::string dir;
    if (const char* xdg = env("XDG_CONFIG_HOME"))
        dir = std::string(xdg) + "/" + kDirName;
    else if (const char* home = env("HOME"))
        dir = std::string(home) + "/.config/" + kDirName;
    else
        dir = std::string(".") + kDirName;
    take_over_older(dir);
    make_dirs(dir);
    return dir;
}

} // namespace

void make_dirs(const std::string& dir)
{
    if (is_dir(dir))
        return;
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/')
            continue;
        std::string prefix = dir.substr(0, i);
        if (prefix.size() > 1)
            mkdir(prefix.c_str(), 0700);
    }
}

std::string config_dir()
{
    static const std::string dir = compute_config_dir();
    return dir;
}

const char* package_kind()
{
    if (env("SNAP"))
        return "snap";
    if (env("FLATPAK_ID"))
        return "flatpak";
    if (env("APPDIR"))
        return "appimage";
    return "plain";
}

std::string exe_dir()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, size_t(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash);
}

bool is_sandboxed()
{
    return env("SNAP") || env("FLATPAK_ID");
}

} // namespace paths
