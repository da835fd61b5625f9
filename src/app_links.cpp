// Sandbox hints and links: what the snap forbids, told in a dialog with the
// command that lifts it, and links handed to the desktop's opener, with the
// link shown for copying when nothing could open it.
#include "app.h"

#include "l10n.h"
#include "links.h"
#include "paths.h"

#include <cstdlib>

namespace {

const char* kWebsite = "https://qxferndock.dev";
const char* kRemovableCommand = "sudo snap connect qxferndockassembleride:removable-media";

bool starts_with(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string env_or_empty(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

} // namespace

std::string dir_name(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string short_dir(const std::string& path)
{
    std::string dir = dir_name(path);
    std::string home = env_or_empty("HOME");
    if (!home.empty() && starts_with(dir, home) && (dir.size() == home.size() || dir[home.size()] == '/'))
        return "~" + dir.substr(home.size());
    return dir;
}

void App::show_snap_hint(const std::string& text, const std::string& command, bool website)
{
    std::string body = text;
    if (!command.empty())
        body += "\n\n" + command;
    if (website)
        body += std::string("\n\n") + kWebsite;
    std::vector<DlgButton> buttons;
    if (website)
        buttons.push_back(DlgButton{ L10n::tr("snap.website"), [this] { open_url(kWebsite); }, false });
    if (!command.empty())
        buttons.push_back(DlgButton{ L10n::tr("snap.copy"),
                                     [this, command] {
                                         SDL_SetClipboardText(command.c_str());
                                         status_tr(false, "settings.copied");
                                     },
                                     false });
    buttons.push_back(DlgButton{ L10n::tr("btn.ok"), nullptr, true });
    show_confirm(L10n::tr("snap.title"), body, std::move(buttons));
}

bool App::snap_file_hint(const std::string& path)
{
    if (std::string(paths::package_kind()) != "snap")
        return false;
    for (const char* removable : { "/media/", "/mnt/", "/run/media/" })
        if (starts_with(path, removable)) {
            show_snap_hint(L10n::tr("snap.removable"), kRemovableCommand, false);
            return true;
        }
    std::string home = env_or_empty("SNAP_REAL_HOME");
    if (home.empty())
        home = env_or_empty("HOME");
    if (!home.empty() && starts_with(path, home + "/.")) {
        show_snap_hint(L10n::tr("snap.hidden"), "", true);
        return true;
    }
    return false;
}

bool App::open_url(const char* url)
{
    std::string link = url ? url : "";
    if (links::open(link) == links::Opened::Started)
        return true;
    show_url_to_copy(link);
    return false;
}

void App::show_url_to_copy(const std::string& url)
{
    // A refused text is shown too: the user sees what was asked for and may
    // judge it, but no program is started with it.
    show_confirm(L10n::tr("url.title"), L10n::tr("url.failed") + "\n\n" + url,
                 { { L10n::tr("url.copy"), [this, url] { copy(url); }, false },
                   { L10n::tr("btn.ok"), nullptr, true } });
}

void App::poll_links()
{
    for (const std::string& url : links::take_failed())
        show_url_to_copy(url);
}
