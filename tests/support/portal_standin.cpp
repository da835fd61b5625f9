// A stand-in for the desktop portal's file chooser and Email portal, for the
// tests. It owns org.freedesktop.portal.Desktop on the session bus it is
// started on (the tests give it a private one), answers OpenFile, SaveFile
// and ComposeEmail, and reports.
//
// Standard output, one tab-separated line each:
//   ready   <bus address>
//   request <method> <sender> <returned handle> <parent> <title> <options>
//           (ComposeEmail has no title: that field is empty)
//   fd      <file the passed descriptor is open on>   (after a ComposeEmail
//           request line, one for each attachment descriptor)
//   close   <object path>
//   ok | none                       (acknowledges a command)
// Standard input, one command per line (end of input ends the stand-in):
//   plan <how> <code> [uri...]      how the next request is answered:
//        early  Response on the request path before the reply
//        other  a different handle path; Response there after the reply
//        hold   no Response until "release"
//        error  the call fails
//   release <code> [uri...]         answers the held request
// Without a plan a request is answered "early" with code 1 (cancelled).
// With the argument --without-portal the name is not taken; with
// --email-version=N the Email portal says it is version N (default 4).
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <gio/gunixfdlist.h>
#include <unistd.h>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Plan {
    std::string how = "early";
    guint32 code = 1;
    std::vector<std::string> uris;
};

struct Held {
    std::string sender;
    std::string path;
};

struct Repeat {
    std::string sender;
    std::string path;
    Plan plan;
    int left = 100;
};

GDBusConnection* g_conn = nullptr;
GMainLoop* g_loop = nullptr;
GDBusNodeInfo* g_info = nullptr;
std::deque<Plan> g_plans;
Held g_held;

void say(const std::string& line)
{
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

Plan parse_plan(std::istringstream& in, const std::string& how)
{
    Plan p;
    p.how = how;
    in >> p.code;
    std::string uri;
    while (in >> uri)
        p.uris.push_back(uri);
    return p;
}

void respond(const std::string& sender, const std::string& path, const Plan& plan)
{
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    if (!plan.uris.empty()) {
        std::vector<const char*> list;
        for (const auto& u : plan.uris)
            list.push_back(u.c_str());
        g_variant_builder_add(&results, "{sv}", "uris", g_variant_new_strv(list.data(), gssize(list.size())));
    }
    g_dbus_connection_emit_signal(g_conn, sender.c_str(), path.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(u@a{sv})", plan.code, g_variant_builder_end(&results)),
                                  nullptr);
    g_dbus_connection_flush_sync(g_conn, nullptr, nullptr);
}

// A client that follows the returned handle subscribes only after the reply;
// the answer repeats until it has surely been seen (the client takes the first).
gboolean repeat_response(gpointer data)
{
    auto* r = static_cast<Repeat*>(data);
    respond(r->sender, r->path, r->plan);
    if (--r->left > 0)
        return G_SOURCE_CONTINUE;
    delete r;
    return G_SOURCE_REMOVE;
}

void on_request_call(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar* method,
                     GVariant*, GDBusMethodInvocation* inv, gpointer)
{
    if (g_strcmp0(method, "Close") == 0) {
        say(std::string("close\t") + path);
        if (g_held.path == path)
            g_held = Held();
    }
    g_dbus_method_invocation_return_value(inv, nullptr);
}

const GDBusInterfaceVTable kRequestVtable = { on_request_call, nullptr, nullptr, {} };

void export_request(const std::string& path)
{
    GDBusInterfaceInfo* iface = g_dbus_node_info_lookup_interface(g_info, "org.freedesktop.portal.Request");
    g_dbus_connection_register_object(g_conn, path.c_str(), iface, &kRequestVtable, nullptr, nullptr, nullptr);
}

// Answers one request by the next plan; `after` lines are reported after
// the request line.
void answer_request(const gchar* sender, const std::string& method, const std::string& parent,
                    const std::string& title, GVariant* options, GDBusMethodInvocation* inv,
                    const std::vector<std::string>& after)
{
    const gchar* token = "none";
    g_variant_lookup(options, "handle_token", "&s", &token);
    std::string unique = sender + 1;
    for (auto& c : unique)
        if (c == '.')
            c = '_';
    Plan plan;
    if (!g_plans.empty()) {
        plan = g_plans.front();
        g_plans.pop_front();
    }
    std::string path = "/org/freedesktop/portal/desktop/request/" + unique + "/" + token;
    if (plan.how == "other")
        path = std::string("/org/freedesktop/portal/desktop/request/elsewhere/") + token;
    gchar* printed = g_variant_print(options, FALSE);
    std::string record = "request\t" + method + "\t" + sender + "\t" + path + "\t" + parent + "\t" + title +
                         "\t" + printed;
    g_free(printed);

    // Reported once answered, so a test that reacts to the report finds
    // the reply already on its way.
    if (plan.how == "error") {
        g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.portal.Error.Failed",
                                                   "the stand-in refuses");
        g_dbus_connection_flush_sync(g_conn, nullptr, nullptr);
        say(record);
        for (const auto& line : after)
            say(line);
        return;
    }
    export_request(path);
    if (plan.how == "early")
        respond(sender, path, plan);
    g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", path.c_str()));
    g_dbus_connection_flush_sync(g_conn, nullptr, nullptr);
    say(record);
    for (const auto& line : after)
        say(line);
    if (plan.how == "hold")
        g_held = Held { sender, path };
    if (plan.how == "other")
        g_timeout_add(50, repeat_response, new Repeat { sender, path, plan });
}

void on_chooser_call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* inv, gpointer)
{
    const gchar* parent = nullptr;
    const gchar* title = nullptr;
    GVariant* options = nullptr;
    g_variant_get(params, "(&s&s@a{sv})", &parent, &title, &options);
    answer_request(sender, method, parent, title, options, inv, {});
    g_variant_unref(options);
}

// The files behind the passed descriptors, as the portal would attach them.
std::vector<std::string> passed_files(GDBusMethodInvocation* inv)
{
    std::vector<std::string> lines;
    GUnixFDList* list = g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(inv));
    int count = list ? g_unix_fd_list_get_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        int fd = g_unix_fd_list_get(list, i, nullptr);
        char target[4096] = "";
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = fd >= 0 ? readlink(link.c_str(), target, sizeof target - 1) : -1;
        target[n > 0 ? n : 0] = '\0';
        lines.push_back(std::string("fd\t") + target);
        if (fd >= 0)
            close(fd);
    }
    return lines;
}

void on_email_call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                   GVariant* params, GDBusMethodInvocation* inv, gpointer)
{
    const gchar* parent = nullptr;
    GVariant* options = nullptr;
    g_variant_get(params, "(&s@a{sv})", &parent, &options);
    answer_request(sender, method, parent, "", options, inv, passed_files(inv));
    g_variant_unref(options);
}

guint32 g_email_version = 4;

GVariant* on_email_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                            GError** error, gpointer)
{
    if (g_strcmp0(name, "version") == 0)
        return g_variant_new_uint32(g_email_version);
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
    return nullptr;
}

const GDBusInterfaceVTable kEmailVtable = { on_email_call, on_email_property, nullptr, {} };

const GDBusInterfaceVTable kChooserVtable = { on_chooser_call, nullptr, nullptr, {} };

gboolean on_stdin(GIOChannel* ch, GIOCondition, gpointer)
{
    gchar* text = nullptr;
    gsize len = 0;
    GIOStatus st = g_io_channel_read_line(ch, &text, &len, nullptr, nullptr);
    if (st == G_IO_STATUS_AGAIN)
        return G_SOURCE_CONTINUE;
    if (st != G_IO_STATUS_NORMAL || !text) {
        g_main_loop_quit(g_loop);
        return G_SOURCE_REMOVE;
    }
    std::istringstream in(text);
    g_free(text);
    std::string cmd, how;
    in >> cmd;
    if (cmd == "plan" && in >> how) {
        g_plans.push_back(parse_plan(in, how));
        say("ok");
    } else if (cmd == "release" && !g_held.path.empty()) {
        Plan p = parse_plan(in, "early");
        respond(g_held.sender, g_held.path, p);
        g_held = Held();
        say("ok");
    } else {
        say("none");
    }
    return G_SOURCE_CONTINUE;
}

const char* kIntrospection = R"(<node>
  <interface name='org.freedesktop.portal.FileChooser'>
    <method name='OpenFile'>
      <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='a{sv}' direction='in'/>
      <arg type='o' direction='out'/>
    </method>
    <method name='SaveFile'>
      <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='a{sv}' direction='in'/>
      <arg type='o' direction='out'/>
    </method>
  </interface>
  <interface name='org.freedesktop.portal.Email'>
    <method name='ComposeEmail'>
      <arg type='s' direction='in'/><arg type='a{sv}' direction='in'/>
      <arg type='o' direction='out'/>
    </method>
    <property name='version' type='u' access='read'/>
  </interface>
  <interface name='org.freedesktop.portal.Request'>
    <method name='Close'/>
  </interface>
</node>)";

} // namespace

int main(int argc, char** argv)
{
    bool without_portal = false;
    for (int i = 1; i < argc; ++i) {
        if (g_strcmp0(argv[i], "--without-portal") == 0)
            without_portal = true;
        else if (g_str_has_prefix(argv[i], "--email-version="))
            g_email_version = guint32(strtoul(argv[i] + 16, nullptr, 10));
    }
    GError* error = nullptr;
    g_conn = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!g_conn) {
        fprintf(stderr, "portal stand-in: %s\n", error ? error->message : "no bus");
        return 1;
    }
    g_info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    GDBusInterfaceInfo* chooser = g_dbus_node_info_lookup_interface(g_info, "org.freedesktop.portal.FileChooser");
    g_dbus_connection_register_object(g_conn, "/org/freedesktop/portal/desktop", chooser, &kChooserVtable,
                                      nullptr, nullptr, nullptr);
    GDBusInterfaceInfo* email = g_dbus_node_info_lookup_interface(g_info, "org.freedesktop.portal.Email");
    g_dbus_connection_register_object(g_conn, "/org/freedesktop/portal/desktop", email, &kEmailVtable, nullptr,
                                      nullptr, nullptr);
    if (!without_portal) {
        GVariant* r = g_dbus_connection_call_sync(
            g_conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        guint32 answer = 0;
        if (r) {
            g_variant_get(r, "(u)", &answer);
            g_variant_unref(r);
        }
        if (answer != 1) { // primary owner
            fprintf(stderr, "portal stand-in: cannot own the name\n");
            return 1;
        }
    }
    g_loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel* in = g_io_channel_unix_new(0);
    g_io_add_watch(in, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), on_stdin, nullptr);
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    say(std::string("ready\t") + (address ? address : ""));
    g_main_loop_run(g_loop);
    g_io_channel_unref(in);
    g_main_loop_unref(g_loop);
    g_dbus_node_info_unref(g_info);
    g_object_unref(g_conn);
    return 0;
}
