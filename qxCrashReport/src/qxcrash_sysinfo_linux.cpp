// One-line facts about the machine and how the program was installed, read
// from the environment, /proc, /sys, os-release and the package databases
// (the installation once per process). A fact that cannot be read is written
// as such.
#include "qxcrash_detail.h"

#include <dirent.h>
#include <fcntl.h>
#include <gnu/libc-version.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qxcrash::detail {

namespace {

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Directory entries in the order the file system returns them.
std::vector<std::string> dir_entries(const std::string& path, bool* opened)
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    *opened = dir != nullptr;
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir))
        names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

std::string link_target(const std::string& path, size_t max_bytes)
{
    std::string buffer(max_bytes, '\0');
    ssize_t n = readlink(path.c_str(), buffer.data(), max_bytes);
    if (n < 0)
        return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string with_unknown(const std::string& value)
{
    return value.empty() ? "?" : value;
}

std::string deb_version(const std::string& status, const std::string& owner)
{
    std::string name = owner.substr(0, owner.find(':'));
    bool in_block = false;
    for (const std::string& line : split_lines(status)) {
        if (line.empty()) {
            in_block = false;
        } else if (starts_with(line, "Package: ")) {
            in_block = line.substr(9) == name;
        } else if (in_block && starts_with(line, "Version: ")) {
            return line.substr(9);
        }
    }
    return {};
}

std::string deb_owner(const std::string& root, const std::string& exe)
{
    std::string status;
    if (!read_file(root + "/var/lib/dpkg/status", &status))
        return {};
    std::string info = root + "/var/lib/dpkg/info/";
    std::string owner;
    std::string package = app()->package;
    if (!package.empty()) {
        for (const std::string& name : { package, package + ":amd64", package + ":arm64" }) {
            if (list_has(info + name + ".list", exe)) {
                owner = name;
                break;
            }
        }
    }
    if (owner.empty()) {
        bool opened;
        for (const std::string& name : dir_entries(info, &opened)) {
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".list") == 0 && list_has(info + name, exe)) {
                owner = name.substr(0, name.size() - 5);
                break;
            }
        }
    }
    if (owner.empty())
        return {};
    std::string version = deb_version(status, owner);
    return "deb " + owner + (version.empty() ? "" : " " + version);
}

// Like popen(command, "r") with reading up to `limit` bytes and pclose(),
// except that the child gets SIGPIPE back at its default (see spawn).
bool shell_output(const std::string& command, size_t limit, std::string* out, int* status)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid_t pid = spawn({ "/bin/sh", "-c", command }, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    char buffer[256];
    out->clear();
    while (out->size() < limit) {
        ssize_t got = read(fds[0], buffer, std::min(sizeof buffer, limit - out->size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out->append(buffer, static_cast<size_t>(got));
    }
    close(fds[0]);
    while (waitpid(pid, status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

std::string rpm_owner(const std::string& root, const std::string& exe)
{
    std::string rpm = root + "/usr/bin/rpm";
    // The path goes into a shell command inside single quotes.
    if (access(rpm.c_str(), X_OK) != 0 || exe.find('\'') != std::string::npos
        || rpm.find('\'') != std::string::npos)
        return {};
    std::string command = "'" + rpm + "' -qf --qf '%{NAME} %{VERSION}-%{RELEASE}' '" + exe + "' 2>/dev/null";
    std::string output;
    int status = -1;
    if (!shell_output(command, 255, &output, &status))
        return {};
    output = trim(output);
    if (status != 0 || output.empty() || output.find("not owned") != std::string::npos)
        return {};
    return "rpm " + output;
}

std::string pacman_owner(const std::string& root, const std::string& exe)
{
    if (exe.empty())
        return {};
    std::string local = root + "/var/lib/pacman/local/";
    bool opened;
    std::vector<std::string> entries = dir_entries(local, &opened);
    std::string relative = exe[0] == '/' ? exe.substr(1) : exe;
    for (const std::string& entry : entries) {
        if (!entry.empty() && entry[0] != '.' && list_has(local + entry + "/files", relative))
            return "arch " + entry;
    }
    return {};
}

std::string session_line()
{
    std::string line = "Session: desktop " + with_unknown(env("XDG_CURRENT_DESKTOP"))
        + ", type " + with_unknown(env("XDG_SESSION_TYPE"));
    if (!env("DISPLAY").empty())
        line += ", X " + env("DISPLAY");
    if (!env("WAYLAND_DISPLAY").empty())
        line += ", Wayland " + env("WAYLAND_DISPLAY");
    return line + ", lang " + with_unknown(env("LANG"));
}

} // namespace

const char* package_kind()
{
    if (!env("SNAP").empty())
        return "snap";
    if (!env("FLATPAK_ID").empty())
        return "flatpak";
    if (!env("APPDIR").empty())
        return "appimage";
    return "plain";
}

std::string env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

std::string trim(const std::string& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\n'))
        --end;
    size_t start = 0;
    while (start < end && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    return text.substr(start, end - start);
}

bool read_file(const std::string& path, std::string* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return true;
}

std::string os_value(const std::string& os_release, const std::string& key)
{
    for (const std::string& line : split_lines(os_release)) {
        if (!starts_with(line, key + "="))
            continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() > 1 && (value[0] == '"' || value[0] == '\''))
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

bool list_has(const std::string& list_file, const std::string& path)
{
    std::ifstream in(list_file, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line == path)
            return true;
    }
    return false;
}

std::string os_line(const std::string& root)
{
    std::string kind = package_kind();
    std::vector<std::string> candidates;
    if (kind == "snap")
        candidates = { "/var/lib/snapd/hostfs/etc/os-release", "/var/lib/snapd/hostfs/usr/lib/os-release" };
    else if (kind == "flatpak")
        candidates = { "/run/host/os-release", "/run/host/usr/lib/os-release" };
    else
        candidates = { "/etc/os-release", "/usr/lib/os-release" };
    std::string text;
    for (const std::string& path : candidates) {
        if (!read_file(root + path, &text))
            continue;
        std::string line = os_value(text, "PRETTY_NAME") + " (" + os_value(text, "ID");
        std::string version = os_value(text, "VERSION_ID");
        if (!version.empty())
            line += " " + version;
        std::string like = os_value(text, "ID_LIKE");
        if (!like.empty())
            line += ", like " + like;
        return line + ")";
    }
    if (kind != "plain"
        && (read_file(root + "/etc/os-release", &text) || read_file(root + "/usr/lib/os-release", &text)))
        return "host not readable from the sandbox; sandbox: " + os_value(text, "PRETTY_NAME");
    return "unknown";
}

std::string cpu_line(const std::string& root)
{
    std::string text;
    if (!read_file(root + "/proc/cpuinfo", &text))
        return "unknown";
    std::string model;
    long counted = 0;
    for (const std::string& line : split_lines(text)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = trim(line.substr(0, colon));
        if (key == "processor")
            ++counted;
        else if (key == "model name" && model.empty())
            model = trim(line.substr(colon + 1));
    }
    if (model.empty())
        return "unknown";
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return model + ", " + std::to_string(online > 0 ? online : counted) + " threads";
}

std::string ram_line(const std::string& root)
{
    std::string text;
    if (!read_file(root + "/proc/meminfo", &text))
        return "RAM: unknown";
    long long total = -1;
    long long available = -1;
    for (const std::string& line : split_lines(text)) {
        if (starts_with(line, "MemTotal:"))
            total = atoll(line.c_str() + 9);
        else if (starts_with(line, "MemAvailable:"))
            available = atoll(line.c_str() + 13);
    }
    std::string result = "RAM: ";
    result += total > 0 ? std::to_string(total / 1024) + " MB" : "unknown";
    if (available >= 0)
        result += ", available " + std::to_string(available / 1024) + " MB";
    return result;
}

std::vector<std::string> sound_lines(const std::string& root)
{
    std::string text;
    if (!read_file(root + "/proc/asound/cards", &text))
        return { "ALSA cards: not readable" };
    std::vector<std::string> lines;
    for (const std::string& line : split_lines(text)) {
        std::string card = trim(line);
        if (!card.empty() && isdigit(static_cast<unsigned char>(card[0])))
            lines.push_back("ALSA card " + card);
    }
    if (lines.empty())
        lines.push_back("ALSA cards: none");
    return lines;
}

std::vector<std::string> gpu_lines_in(const std::string& drm_dir)
{
    bool opened;
    std::vector<std::string> entries = dir_entries(drm_dir, &opened);
    if (!opened)
        return { "GPUs: " + drm_dir + " not readable" };
    std::vector<std::string> cards;
    for (const std::string& name : entries) {
        if (starts_with(name, "card") && name.find('-') == std::string::npos)
            cards.push_back(name);
    }
    std::sort(cards.begin(), cards.end());
    std::vector<std::string> lines;
    for (const std::string& card : cards) {
        std::string device = drm_dir + "/" + card + "/device/";
        auto fact = [&](const char* name) {
            std::string text;
            read_file(device + name, &text);
            return trim(text);
        };
        std::string line = "GPU " + card + ": PCI " + fact("vendor") + ":" + fact("device");
        std::string sub_vendor = fact("subsystem_vendor");
        if (!sub_vendor.empty())
            line += " (subsystem " + sub_vendor + ":" + fact("subsystem_device") + ")";
        std::string driver = link_target(device + "driver", 511);
        if (driver.empty()) {
            driver = "?";
        } else {
            size_t slash = driver.rfind('/');
            if (slash != std::string::npos)
                driver = driver.substr(slash + 1);
        }
        line += ", driver " + driver;
        if (fact("boot_vga") == "1")
            line += ", boot_vga";
        lines.push_back(line);
    }
    if (lines.empty())
        lines.push_back("GPUs: none in " + drm_dir);
    return lines;
}

std::string package_owner(const std::string& root, const std::string& exe)
{
    std::string owner = exe.empty() ? std::string() : deb_owner(root, exe);
    if (owner.empty())
        owner = rpm_owner(root, exe);
    if (owner.empty())
        owner = pacman_owner(root, exe);
    return owner;
}

std::string plain_package_line(const std::string& root, const std::string& exe)
{
    std::string owner = package_owner(root, exe);
    return (owner.empty() ? "unpackaged" : owner) + " (" + exe + ")";
}

} // namespace qxcrash::detail

namespace qxcrash {

using namespace detail;

namespace {

std::string find_package_line()
{
    std::string kind = package_kind();
    if (kind == "snap")
        return "snap " + env("SNAP_INSTANCE_NAME") + " " + env("SNAP_VERSION") + " rev " + env("SNAP_REVISION");
    if (kind == "flatpak") {
        std::string line = "flatpak " + env("FLATPAK_ID");
        std::string info;
        if (read_file("/.flatpak-info", &info)) {
            for (const std::string& entry : split_lines(info)) {
                if (starts_with(entry, "branch="))
                    line += " branch " + entry.substr(7);
                else if (starts_with(entry, "app-commit="))
                    line += " commit " + entry.substr(11);
            }
        }
        return line;
    }
    if (kind == "appimage")
        return "appimage " + env("APPIMAGE");
    return plain_package_line("", link_target("/proc/self/exe", 1023));
}

} // namespace

std::string package_line()
{
    // Start-up wants it for the version line, the report header and the
    // system lines: the databases are searched once.
    static const std::string line = find_package_line();
    return line;
}

std::vector<std::string> system_lines()
{
    std::vector<std::string> lines;
    lines.push_back("OS: " + os_line());
    struct utsname un;
    if (uname(&un) == 0)
        lines.push_back(std::string("Kernel: ") + un.sysname + " " + un.release + " " + un.version);
    lines.push_back(std::string("glibc: ") + gnu_get_libc_version());
    lines.push_back("CPU: " + cpu_line());
    lines.push_back(ram_line());
    lines.push_back(session_line());
    lines.push_back("Package: " + package_line());
    for (std::string& line : sound_lines())
        lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> gpu_lines()
{
    return gpu_lines_in("/sys/class/drm");
}

} // namespace qxcrash
