// The second way to a composed mail: the desktop's Email portal on the
// session bus, with the attachments handed over as open files. It runs on
// the mail worker with a main context of its own.
#include "qxcrash_detail.h"
#include "qxcrash_mail.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace qxcrash::detail {

namespace {

constexpr const char* k_portal = "org.freedesktop.portal.Desktop";
constexpr const char* k_object = "/org/freedesktop/portal/desktop";
constexpr const char* k_email = "org.freedesktop.portal.Email";

struct Wait {
    GMainLoop* loop = nullptr;
    guint32 response = 99;
    bool answered = false;
};

void on_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
    gpointer data)
{
    auto* wait = static_cast<Wait*>(data);
    guint32 code = 2;
    GVariant* results = nullptr;
    if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
        g_variant_get(parameters, "(u@a{sv})", &code, &results);
        g_variant_unref(results);
    }
    wait->response = code;
    wait->answered = true;
    g_main_loop_quit(wait->loop);
}

gboolean on_timeout(gpointer data)
{
    g_main_loop_quit(static_cast<Wait*>(data)->loop);
    return G_SOURCE_REMOVE;
}

// Ends the wait early when the program is finishing its mail work.
gboolean on_tick(gpointer data)
{
    if (!mail_closing())
        return G_SOURCE_CONTINUE;
    g_main_loop_quit(static_cast<Wait*>(data)->loop);
    return G_SOURCE_REMOVE;
}

guint32 portal_version(GDBusConnection* bus)
{
    GVariant* reply = g_dbus_connection_call_sync(bus, k_portal, k_object, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", k_email, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr,
        nullptr);
    if (!reply)
        return 0;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    guint32 version = g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value) : 0;
    g_variant_unref(value);
    g_variant_unref(reply);
    return version;
}

std::string request_path(GDBusConnection* bus, const std::string& token)
{
    std::string sender = g_dbus_connection_get_unique_name(bus);
    sender.erase(0, 1);
    for (char& c : sender) {
        if (c == '.')
            c = '_';
    }
    return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
}

std::string error_text(GError* error)
{
    return error && error->message ? error->message : "?";
}

// Asks the portal and waits for its answer; the portal's response code, or
// no answer.
bool ask(GDBusConnection* bus, guint32 version, const std::string& to, const std::string& subject,
    const std::string& body, const std::vector<std::string>& files, Wait* wait)
{
    std::string token = "qxcrash" + std::to_string(getpid());
    std::string path = request_path(bus, token);
    guint subscription = g_dbus_connection_signal_subscribe(bus, k_portal, "org.freedesktop.portal.Request",
        "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NO_MATCH_RULE, on_response, wait, nullptr);

    GUnixFDList* fds = g_unix_fd_list_new();
    GVariantBuilder handles;
    g_variant_builder_init(&handles, G_VARIANT_TYPE("ah"));
    for (const std::string& file : files) {
        int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        int index = g_unix_fd_list_append(fds, fd, nullptr);
        close(fd);
        if (index >= 0)
            g_variant_builder_add(&handles, "h", index);
    }
    // The bus takes only valid UTF-8; a stray byte in a report must not cost
    // the whole mail.
    std::string recipient = utf8_escaped(to);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    if (version >= 3) {
        const char* list[] = { recipient.c_str(), nullptr };
        g_variant_builder_add(&options, "{sv}", "addresses", g_variant_new_strv(list, 1));
    } else {
        g_variant_builder_add(&options, "{sv}", "address", g_variant_new_string(recipient.c_str()));
    }
    g_variant_builder_add(&options, "{sv}", "subject", g_variant_new_string(utf8_escaped(subject).c_str()));
    g_variant_builder_add(&options, "{sv}", "body", g_variant_new_string(utf8_escaped(body).c_str()));
    g_variant_builder_add(&options, "{sv}", "attachment_fds", g_variant_builder_end(&handles));

    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(bus, k_portal, k_object, k_email,
        "ComposeEmail", g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        10000, fds, nullptr, nullptr, &error);
    g_object_unref(fds);
    bool asked = reply != nullptr;
    if (reply) {
        g_variant_unref(reply);
        if (!wait->answered) {
            GSource* timeout = g_timeout_source_new(static_cast<guint>(g_portal_wait_ms));
            g_source_set_callback(timeout, on_timeout, wait, nullptr);
            g_source_attach(timeout, g_main_loop_get_context(wait->loop));
            GSource* tick = g_timeout_source_new(100);
            g_source_set_callback(tick, on_tick, wait, nullptr);
            g_source_attach(tick, g_main_loop_get_context(wait->loop));
            g_main_loop_run(wait->loop);
            g_source_destroy(tick);
            g_source_unref(tick);
            g_source_destroy(timeout);
            g_source_unref(timeout);
        }
    } else {
        mail_log("WARN", "Mail portal: " + error_text(error));
        g_error_free(error);
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    return asked;
}

} // namespace

bool via_portal(const std::string& to, const std::string& subject, const std::string& body,
    const std::vector<std::string>& files)
{
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    bool composed = false;
    if (!bus) {
        mail_log("WARN", "Mail portal: no session bus (" + error_text(error) + ")");
        g_clear_error(&error);
    } else {
        Wait wait;
        wait.loop = g_main_loop_new(context, FALSE);
        guint32 version = portal_version(bus);
        if (ask(bus, version, to, subject, body, files, &wait)) {
            std::string answer = wait.answered ? std::to_string(wait.response)
                                               : "none (" + std::to_string(g_portal_wait_ms / 1000) + " s)";
            composed = wait.answered && wait.response == 0;
            mail_log(composed ? "INFO" : "WARN", "Mail portal v" + std::to_string(version) + ": response " + answer);
        }
        g_main_loop_unref(wait.loop);
        g_object_unref(bus);
    }
    // Signals already queued for this context are dropped with it.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return composed;
}

} // namespace qxcrash::detail
