#include "filedialog_portal.h"

#include "logger.h"

#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

namespace {

constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kChooser = "org.freedesktop.portal.FileChooser";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kRequestPrefix = "/org/freedesktop/portal/desktop/request/";
constexpr int kCallTimeoutMs = 10000;
// A bus that accepts the connection but never answers must not leave the
// dialog open for good.
constexpr unsigned kConnectTimeoutMs = 5000;
constexpr unsigned kWaitSeconds = 180;
// Closing a dialog nobody waits for any more is a courtesy; exit waits for it.
constexpr int kCloseTimeoutMs = 1000;
constexpr unsigned kBusCheckMs = 250;

void note(const std::string& text) { logger::info("Dateidialog: " + text); }

// What the job and one worker share. A dialog the job gave up (a forced
// result, or exit) is cancelled, and its answer is dropped.
struct Dialog {
    GCancellable* cancel = g_cancellable_new();
    bool abandoned = false;            // guarded by the job's mutex
    std::atomic<bool> finished{false}; // the worker is returning
    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    ~Dialog() { g_object_unref(cancel); }
};

// A given-up worker still winding down; joined once it has finished.
struct Retired {
    std::thread thread;
    std::shared_ptr<Dialog> dialog;
};

struct Job {
    std::thread thread;                // worker of the current or last dialog
    std::atomic<bool> running{false};  // started, worker not finished
    std::atomic<bool> done{false};     // worker finished, result not collected
    std::atomic<bool> unavailable{false};
    std::vector<std::string> result;   // guarded by mutex
    std::mutex mutex;
    std::shared_ptr<Dialog> current;   // the dialog `thread` runs
    std::vector<Retired> retired;
    bool closed = false;               // the process is exiting
    pid_t owner = getpid();
};

std::vector<std::string> g_forced; // guarded by the job's mutex
bool g_forcedSet = false;          // an empty forced list is an answer too
std::atomic<bool> g_usedPortal{false};

void shut_down(Job& j);

struct ExitGuard {
    Job* j;
    ~ExitGuard() { shut_down(*j); }
};

Job& job()
{
    // Never destroyed: a joinable std::thread must not reach its destructor,
    // and a forked child that exits cannot join its parent's threads. The
    // guard stops and joins the workers at exit in the owning process.
    static Job* j = new Job;
    static ExitGuard guard { j };
    return *j;
}

// With the job's mutex held: give the open dialog up without waiting for it.
void retire_current(Job& j)
{
    if (j.current) {
        j.current->abandoned = true;
        g_cancellable_cancel(j.current->cancel);
    }
    if (j.thread.joinable())
        j.retired.push_back({ std::move(j.thread), j.current });
    j.current.reset();
    j.running = false;
    j.done = false;
}

// With the job's mutex held: join the given-up workers that have finished.
void reap(Job& j)
{
    for (auto it = j.retired.begin(); it != j.retired.end();) {
        if (it->dialog && !it->dialog->finished) {
            ++it;
            continue;
        }
        it->thread.join();
        it = j.retired.erase(it);
    }
}

void shut_down(Job& j)
{
    std::vector<Retired> workers;
    {
        std::lock_guard lock(j.mutex);
        if (j.owner != getpid() || j.closed)
            return;
        j.closed = true;
        retire_current(j);
        workers = std::move(j.retired);
    }
    // Cancelling ends the connect, the call and the wait at once, so each
    // join is short.
    for (auto& w : workers) {
        if (w.dialog)
            g_cancellable_cancel(w.dialog->cancel);
        w.thread.join();
    }
}

struct Request {
    std::string method {}; // "OpenFile" or "SaveFile"
    std::string title {};
    std::vector<FileFilter> filters {};
    std::string start_dir {};
    std::string suggested_name {};
    bool multiple = false;
    std::string parent {};  // read on the calling thread when the dialog started
    bool no_portal = false; // likewise
};

struct Outcome {
    std::vector<std::string> paths;
    bool unavailable = false;
    bool aborted = false; // given up by the job: nothing to report
};

// Texts on the bus must be UTF-8; file names and the environment need not be.
std::string utf8(const std::string& s)
{
    if (g_utf8_validate(s.data(), gssize(s.size()), nullptr))
        return s;
    gchar* valid = g_utf8_make_valid(s.data(), gssize(s.size()));
    std::string r(valid);
    g_free(valid);
    return r;
}

GVariant* filters_variant(const std::vector<FileFilter>& filters)
{
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa(us))"));
    for (const auto& f : filters) {
        GVariantBuilder globs;
        g_variant_builder_init(&globs, G_VARIANT_TYPE("a(us)"));
        for (const auto& g : f.globs)
            g_variant_builder_add(&globs, "(us)", 0u, utf8(g).c_str()); // 0: a glob pattern
        g_variant_builder_add(&list, "(s@a(us))", utf8(f.name).c_str(), g_variant_builder_end(&globs));
    }
    return g_variant_builder_end(&list);
}

GVariant* options_variant(const Request& req, const std::string& token)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&b, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&b, "{sv}", "modal", g_variant_new_boolean(TRUE));
    if (req.multiple)
        g_variant_builder_add(&b, "{sv}", "multiple", g_variant_new_boolean(TRUE));
    if (!req.filters.empty())
        g_variant_builder_add(&b, "{sv}", "filters", filters_variant(req.filters));
    if (!req.suggested_name.empty())
        g_variant_builder_add(&b, "{sv}", "current_name",
                              g_variant_new_string(utf8(req.suggested_name).c_str()));
    if (!req.start_dir.empty())
        g_variant_builder_add(&b, "{sv}", "current_folder", g_variant_new_bytestring(req.start_dir.c_str()));
    return g_variant_builder_end(&b);
}

// Where the portal puts the request object: the unique name without its
// ':' and with '_' for '.', then the token.
std::string request_path(const char* unique_name, const std::string& token)
{
    std::string sender = unique_name && *unique_name ? unique_name + 1 : "";
    std::replace(sender.begin(), sender.end(), '.', '_');
    return kRequestPrefix + sender + "/" + token;
}

// ---- connecting, bounded ----

struct Connecting {
    GCancellable* cancel = g_cancellable_new(); // this attempt only
    GDBusConnection* conn = nullptr;
    GError* error = nullptr;
    bool finished = false;
    bool timed_out = false;
};

void on_bus(GObject*, GAsyncResult* res, gpointer data)
{
    auto* c = static_cast<Connecting*>(data);
    c->conn = g_bus_get_finish(res, &c->error);
    c->finished = true;
}

gboolean on_connect_timeout(gpointer data)
{
    auto* c = static_cast<Connecting*>(data);
    c->timed_out = true;
    g_cancellable_cancel(c->cancel);
    return G_SOURCE_REMOVE;
}

void on_dialog_cancelled(GCancellable*, gpointer attempt)
{
    g_cancellable_cancel(static_cast<GCancellable*>(attempt));
}

// The session bus, or null with `why` set (empty when the dialog was given up).
GDBusConnection* connect_session_bus(GMainContext* ctx, GCancellable* dialog_cancel, std::string* why)
{
    Connecting c;
    gulong link = g_cancellable_connect(dialog_cancel, G_CALLBACK(on_dialog_cancelled), c.cancel, nullptr);
    GSource* timer = g_timeout_source_new(kConnectTimeoutMs);
    g_source_set_callback(timer, on_connect_timeout, &c, nullptr);
    g_source_attach(timer, ctx);
    g_bus_get(G_BUS_TYPE_SESSION, c.cancel, on_bus, &c);
    while (!c.finished)
        g_main_context_iteration(ctx, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_cancellable_disconnect(dialog_cancel, link);
    g_object_unref(c.cancel);

    if (c.conn) {
        // The shared bus connection would otherwise end the whole process
        // when the bus goes away.
        g_dbus_connection_set_exit_on_close(c.conn, FALSE);
        return c.conn;
    }
    if (g_cancellable_is_cancelled(dialog_cancel))
        why->clear();
    else if (c.timed_out)
        *why = "keine Antwort nach " + std::to_string(kConnectTimeoutMs) + " ms";
    else
        *why = c.error && c.error->message ? c.error->message : "?";
    g_clear_error(&c.error);
    return nullptr;
}

// ---- the request and its answer ----

// The wait of one dialog: the worker iterates its context until `over`.
struct Waiter {
    bool over = false;
    std::vector<std::string> result;
    bool answered = false;
    GDBusConnection* conn = nullptr;
    bool bus_lost = false;
};

std::vector<std::string> local_paths(GVariant* results)
{
    std::vector<std::string> paths;
    GVariant* uris = g_variant_lookup_value(results, "uris", G_VARIANT_TYPE_STRING_ARRAY);
    if (!uris)
        return paths;
    gsize n = 0;
    const gchar** list = g_variant_get_strv(uris, &n);
    for (gsize i = 0; i < n; ++i) {
        gchar* host = nullptr;
        gchar* file = g_filename_from_uri(list[i], &host, nullptr);
        // Not a file URI, or a file on another host: nothing we can open.
        if (file && (!host || g_ascii_strcasecmp(host, "localhost") == 0))
            paths.emplace_back(file);
        g_free(file);
        g_free(host);
    }
    g_free(list);
    g_variant_unref(uris);
    return paths;
}

void on_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* params, gpointer data)
{
    auto* w = static_cast<Waiter*>(data);
    if (w->answered) // subscribed on two paths: the first answer counts
        return;
    w->answered = true;
    guint32 code = 2;
    GVariant* results = nullptr;
    if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})")))
        g_variant_get(params, "(u@a{sv})", &code, &results);
    // 1: cancelled by the user, 2: ended otherwise.
    if (code == 0 && results)
        w->result = local_paths(results);
    if (results)
        g_variant_unref(results);
    w->over = true;
}

gboolean end_wait(gpointer data)
{
    static_cast<Waiter*>(data)->over = true;
    return G_SOURCE_REMOVE;
}

// Runs on the thread that gives the dialog up.
void wake(GCancellable*, gpointer ctx) { g_main_context_wakeup(static_cast<GMainContext*>(ctx)); }

guint subscribe(GDBusConnection* conn, const std::string& path, Waiter* w)
{
    return g_dbus_connection_signal_subscribe(conn, nullptr, kRequest, "Response", path.c_str(), nullptr,
                                              G_DBUS_SIGNAL_FLAGS_NONE, on_response, w, nullptr);
}

// Dismisses a dialog whose answer nobody will read.
void close_request(GDBusConnection* conn, const std::string& path)
{
    GVariant* reply = g_dbus_connection_call_sync(conn, kBusName, path.c_str(), kRequest, "Close", nullptr,
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, kCloseTimeoutMs, nullptr,
                                                  nullptr);
    if (reply)
        g_variant_unref(reply);
}

gboolean check_bus(gpointer data)
{
    auto* w = static_cast<Waiter*>(data);
    if (!g_dbus_connection_is_closed(w->conn))
        return G_SOURCE_CONTINUE;
    w->bus_lost = true;
    w->over = true;
    return G_SOURCE_REMOVE;
}

GSource* attach(GSource* source, GSourceFunc fn, Waiter* w, GMainContext* ctx)
{
    g_source_set_callback(source, fn, w, nullptr);
    g_source_attach(source, ctx);
    return source;
}

// Runs the context until the answer, the time-out, the job gives up or the
// bus goes away (no answer can come then). Giving up only wakes the context:
// a cancellable source, cancelled on another thread while it is destroyed
// here, can be left behind by GLib.
void wait_for_answer(GMainContext* ctx, Waiter* w, GCancellable* cancel)
{
    GSource* sources[] = {
        attach(g_timeout_source_new_seconds(kWaitSeconds), end_wait, w, ctx),
        attach(g_timeout_source_new(kBusCheckMs), check_bus, w, ctx),
    };
    gulong link = g_cancellable_connect(cancel, G_CALLBACK(wake), ctx, nullptr);
    while (!w->over && !g_cancellable_is_cancelled(cancel))
        g_main_context_iteration(ctx, TRUE);
    g_cancellable_disconnect(cancel, link);
    for (GSource* s : sources) {
        g_source_destroy(s);
        g_source_unref(s);
    }
}

std::string joined(const std::vector<std::string>& paths)
{
    std::string s;
    for (const auto& p : paths)
        s += (s.empty() ? "" : " · ") + p;
    return s;
}

Outcome converse(const Request& req, GDBusConnection* conn, GMainContext* ctx, GCancellable* cancel)
{
    static std::atomic<int> serial { 0 };
    Outcome out;
    std::string token = "qxferndockasm" + std::to_string(++serial);
    GVariant* options = options_variant(req, token);
    std::string path = request_path(g_dbus_connection_get_unique_name(conn), token);

    Waiter w;
    w.conn = conn;
    // Before the call: the answer may come before the call returns.
    guint sub = subscribe(conn, path, &w);
    guint sub2 = 0;
    note(req.method + ", Elternfenster " + (req.parent.empty() ? "(keines)" : req.parent));

    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        conn, kBusName, kObjectPath, kChooser, req.method.c_str(),
        g_variant_new("(ss@a{sv})", utf8(req.parent).c_str(), utf8(req.title).c_str(), options),
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancel, &error);
    std::string handle = path;
    if (!reply) {
        if (g_cancellable_is_cancelled(cancel)) {
            out.aborted = true;
            close_request(conn, path); // the portal may have opened it meanwhile
        } else {
            note(std::string("Portal antwortet nicht: ") + (error && error->message ? error->message : "?"));
        }
        g_clear_error(&error);
        out.unavailable = true;
    } else {
        const gchar* h = nullptr;
        g_variant_get(reply, "(&o)", &h);
        handle = h;
        if (handle != path) {
            note("Antwortpfad des Portals: " + handle + " (berechnet war " + path + ")");
            sub2 = subscribe(conn, handle, &w);
        }
        g_variant_unref(reply);
        g_usedPortal = true;

        wait_for_answer(ctx, &w, cancel);
        if (w.bus_lost && !w.answered) {
            note("Portal antwortet nicht: Verbindung zum Sitzungsbus verloren");
            out.unavailable = true;
        } else if (!w.answered) {
            close_request(conn, handle);
            out.aborted = g_cancellable_is_cancelled(cancel);
        }
    }
    g_dbus_connection_signal_unsubscribe(conn, sub);
    if (sub2)
        g_dbus_connection_signal_unsubscribe(conn, sub2);
    if (out.unavailable || out.aborted)
        return out;

    out.paths = std::move(w.result);
    note(out.paths.empty() ? std::string("abgebrochen") : "gewaehlt: " + joined(out.paths));
    return out;
}

Outcome exchange(const Request& req, GCancellable* cancel)
{
    Outcome out;
    if (req.no_portal) {
        note("QXASM_NO_PORTAL gesetzt — kein Dialog");
        out.unavailable = true;
        return out;
    }
    // The worker's own context: the portal's signal arrives here, and the
    // window's thread needs no GLib loop.
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    std::string why;
    GDBusConnection* conn = connect_session_bus(ctx, cancel, &why);
    if (conn) {
        out = converse(req, conn, ctx, cancel);
        g_object_unref(conn);
    } else {
        if (why.empty())
            out.aborted = true;
        else
            note("kein Sitzungsbus: " + why);
        out.unavailable = true;
    }
    g_main_context_pop_thread_default(ctx);
    g_main_context_unref(ctx);
    return out;
}

void worker(Request req, std::shared_ptr<Dialog> d)
{
    Outcome out = exchange(req, d->cancel);
    Job& j = job();
    {
        std::lock_guard lock(j.mutex);
        if (!d->abandoned) {
            j.result = out.unavailable ? std::vector<std::string>() : std::move(out.paths);
            j.unavailable = out.unavailable;
            j.done = true;
            j.running = false;
        }
    }
    d->finished = true;
}

bool start(Request req)
{
    // Read here, not on the worker: the window may change them meanwhile.
    const char* parent = getenv("QXASM_PARENT_WINDOW");
    req.parent = parent ? parent : "";
    req.no_portal = getenv("QXASM_NO_PORTAL") != nullptr;

    Job& j = job();
    std::lock_guard lock(j.mutex);
    reap(j);
    if (j.closed || j.running)
        return false;
    if (g_forcedSet) // the forced answer stands in for the dialog
        return true;
    if (j.thread.joinable()) // finished; its result was never collected
        j.thread.join();
    j.current.reset();
    j.done = false;
    j.unavailable = false;
    j.result.clear();
    j.running = true;
    auto d = std::make_shared<Dialog>();
    try {
        j.thread = std::thread(worker, std::move(req), d);
    } catch (const std::system_error&) {
        // No thread: the caller falls back as if there were no portal.
        j.running = false;
        j.unavailable = true;
        j.done = true;
        return true;
    }
    j.current = std::move(d);
    return true;
}

} // namespace

bool startOpenDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& start_dir, bool multiple)
{
    return start({ .method = "OpenFile", .title = title, .filters = filters, .start_dir = start_dir,
                   .multiple = multiple });
}

bool startSaveDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& start_dir, const std::string& suggested_name)
{
    return start({ .method = "SaveFile", .title = title, .filters = filters, .start_dir = start_dir,
                   .suggested_name = suggested_name });
}

DialogState pollDialog(std::vector<std::string>* out)
{
    Job& j = job();
    std::lock_guard lock(j.mutex);
    reap(j);
    if (g_forcedSet) {
        g_forcedSet = false;
        std::vector<std::string> paths = std::move(g_forced);
        g_forced.clear();
        j.done = false; // a finished worker's result is superseded
        if (paths.empty())
            return j.unavailable ? DialogState::Unavailable : DialogState::Cancelled;
        if (out)
            *out = std::move(paths);
        return DialogState::Done;
    }
    if (j.running)
        return DialogState::Running;
    if (!j.done)
        return DialogState::Idle;
    // done is set by the worker's last step, so this join is short.
    if (j.thread.joinable())
        j.thread.join();
    j.current.reset();
    j.done = false;
    if (j.result.empty())
        return j.unavailable ? DialogState::Unavailable : DialogState::Cancelled;
    if (out)
        *out = j.result;
    return DialogState::Done;
}

DialogState pollDialog(std::string* out)
{
    std::vector<std::string> paths;
    DialogState state = pollDialog(&paths);
    if (state == DialogState::Done && !paths.empty() && out)
        *out = paths.front();
    return state;
}

void setForcedDialogResult(const std::vector<std::string>& paths)
{
    Job& j = job();
    std::lock_guard lock(j.mutex);
    g_forced = paths;
    g_forcedSet = true;
    // The open dialog's answer could only reach a later operation: drop it.
    if (j.running)
        retire_current(j);
}

void setForcedDialogResult(const std::string& path) { setForcedDialogResult(std::vector<std::string> { path }); }

bool fileDialogUsesPortal() { return g_usedPortal; }

} // namespace platform
