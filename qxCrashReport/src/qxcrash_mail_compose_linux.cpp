// The first way to a composed mail: the default mail program's own compose
// command line (Thunderbird's "-compose"), with the body in a file that is
// removed once the mail program has read it.
#include "qxcrash_detail.h"
#include "qxcrash_mail.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace qxcrash::detail {

namespace {

struct Handler {
    std::vector<std::string> argv;
    bool sandboxed = false;
};

// The default mailto: handler when it is Thunderbird, as a command without
// its field codes.
bool thunderbird_handler(Handler* out)
{
    GAppInfo* info = g_app_info_get_default_for_uri_scheme("mailto");
    if (!info)
        return false;
    const char* id = g_app_info_get_id(info);
    const char* command = g_app_info_get_commandline(info);
    std::string text = std::string(id ? id : "") + " " + (command ? command : "");
    std::string line = command ? command : "";
    g_object_unref(info);
    gchar* lower = g_ascii_strdown(text.c_str(), -1);
    text = lower;
    g_free(lower);
    if (line.empty() || text.find("thunderbird") == std::string::npos)
        return false;
    gchar** words = nullptr;
    if (!g_shell_parse_argv(line.c_str(), nullptr, &words, nullptr))
        return false;
    for (gchar** word = words; *word; ++word) {
        std::string arg = *word;
        if (arg[0] != '%' && arg.compare(0, 2, "@@") != 0)
            out->argv.push_back(arg);
    }
    g_strfreev(words);
    if (out->argv.empty())
        return false;
    out->sandboxed = out->argv[0].compare(0, 6, "/snap/") == 0 || text.find("flatpak") != std::string::npos;
    return true;
}

// A file only this user can read, created afresh: never through a link.
bool write_new(const std::string& path, const std::string& text)
{
    int fd = open_fresh(path.c_str());
    if (fd < 0)
        return false;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t done = write(fd, p, left);
        if (done <= 0) {
            close(fd);
            return false;
        }
        p += done;
        left -= static_cast<size_t>(done);
    }
    return close(fd) == 0;
}

bool copy_new(const std::string& from, const std::string& to)
{
    std::string text;
    return file_read(from, &text, SIZE_MAX) && write_new(to, text);
}

std::string base_name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A sandboxed mail program reads only the user's own folders: the files go
// to "<Downloads>/<name> crash report".
std::string copy_folder()
{
    const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    std::string dir = downloads ? downloads : std::string(g_get_home_dir()) + "/Downloads";
    dir += std::string("/") + app()->name + " crash report";
    return g_mkdir_with_parents(dir.c_str(), 0700) == 0 ? dir : std::string();
}

// A fresh folder of this user's own in the runtime directory.
std::string private_folder()
{
    std::string runtime = env("XDG_RUNTIME_DIR");
    if (runtime.empty())
        runtime = env("TMPDIR");
    if (runtime.empty())
        runtime = "/tmp";
    std::string name = app()->name;
    std::replace(name.begin(), name.end(), '/', '_');
    std::string pattern = runtime + "/" + name + "-mail-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Waits until the file was opened and closed again without writing (the
// mail program read it), the time is up or mailing is being finished.
void await_read(int watch_fd)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_body_wait_ms);
    while (!mail_closing() && std::chrono::steady_clock::now() < deadline) {
        pollfd p { watch_fd, POLLIN, 0 };
        if (poll(&p, 1, 100) <= 0)
            continue;
        alignas(inotify_event) char events[4096];
        ssize_t got = read(watch_fd, events, sizeof events);
        for (ssize_t at = 0; at < got;) {
            auto* event = reinterpret_cast<inotify_event*>(events + at);
            if (event->mask & (IN_CLOSE_NOWRITE | IN_DELETE_SELF | IN_IGNORED))
                return;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void child_setup(gpointer)
{
    signal(SIGPIPE, SIG_DFL);
}

} // namespace

std::string compose_argument(const std::string& to, const std::string& subject, const std::string& body_file,
    const std::vector<std::string>& files)
{
    std::string uris;
    for (const std::string& file : files) {
        std::string uri = file_uri(file);
        if (uri.empty())
            continue;
        // The list is split at commas after decoding, so a comma (and, for
        // good measure, a quote) inside a URI stays encoded.
        std::string safe;
        for (char c : uri) {
            if (c == ',')
                safe += "%2C";
            else if (c == '\'')
                safe += "%27";
            else
                safe += c;
        }
        uris += (uris.empty() ? "" : ",") + safe;
    }
    std::string arg = "to=" + url_encode(to) + ",subject=" + url_encode(subject) + ",message=" + url_encode(body_file);
    if (!uris.empty())
        arg += ",attachment=" + url_encode(uris);
    return arg;
}

bool via_thunderbird(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files)
{
    if (!env("SNAP").empty() || !env("FLATPAK_ID").empty())
        return false;
    Handler handler;
    if (!thunderbird_handler(&handler))
        return false;

    std::vector<std::string> attached = files;
    std::string copies;
    if (handler.sandboxed) {
        copies = copy_folder();
        attached.clear();
        for (const std::string& file : files) {
            std::string copy = copies + "/" + base_name(file);
            if (!copies.empty() && copy_new(file, copy))
                attached.push_back(copy);
        }
    }
    // The body holds the whole report and log: it lives in a folder of the
    // user's own and goes once the mail program has read it.
    std::string folder = copies.empty() ? private_folder() : std::string();
    std::string body_dir = copies.empty() ? folder : copies;
    std::string body_file = body_dir + "/mail-body.txt";
    if (body_dir.empty() || !write_new(body_file, body)) {
        if (!folder.empty())
            rmdir(folder.c_str());
        return false;
    }
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch >= 0 && inotify_add_watch(watch, body_file.c_str(), IN_CLOSE_NOWRITE | IN_DELETE_SELF) < 0) {
        close(watch);
        watch = -1;
    }

    handler.argv.push_back("-compose");
    handler.argv.push_back(compose_argument(to, subject, body_file, attached));
    std::vector<char*> argv;
    for (std::string& arg : handler.argv)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    GError* error = nullptr;
    bool started = g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, child_setup, nullptr,
        nullptr, &error);
    std::string message = "Thunderbird -compose";
    if (handler.sandboxed)
        message += " (files copied to " + copies + ")";
    if (!started)
        message += std::string(": ") + (error && error->message ? error->message : "?");
    if (error)
        g_error_free(error);
    mail_log(started ? "INFO" : "WARN", message);

    // Without a watch there is no knowing when the file was read: it then
    // stays in its private folder.
    if (started && watch < 0)
        return true;
    if (started)
        await_read(watch);
    if (watch >= 0)
        close(watch);
    unlink(body_file.c_str());
    if (!folder.empty())
        rmdir(folder.c_str());
    return started;
}

} // namespace qxcrash::detail
