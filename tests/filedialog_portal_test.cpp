// The portal file chooser against a stand-in portal on a private session bus
// (dbus-run-session), and against buses that are missing, dead or silent.
#include "filedialog_portal.h"
#include "logger.h"
#include "portal_bus.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using platform::DialogState;
using testutil::last_of;

namespace {

// Hang guards only: far beyond what a working exchange needs, they turn a
// hang into a failure instead of a stalled run.
constexpr int kGuardMs = 60000;

const char* kRequestPrefix = "/org/freedesktop/portal/desktop/request/";

using StandIn = testutil::PortalBus;

struct Recorded {
    std::string method, sender, handle, parent, title, options;
};

// Polls until the dialog is no longer running (or the guard runs out).
DialogState finish(std::vector<std::string>* out)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    DialogState s = DialogState::Running;
    while ((s = platform::pollDialog(out)) == DialogState::Running &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return s;
}

// Log lines (without time and level) written since the last mark.
int g_mark = 0;
void mark_log() { logger::info("test mark " + std::to_string(++g_mark)); }
std::vector<std::string> log_since_mark()
{
    std::vector<std::string> lines;
    for (const auto& l : logger::tail(500)) {
        std::string msg = l.size() > 15 ? l.substr(15) : std::string();
        if (msg == "test mark " + std::to_string(g_mark))
            lines.clear();
        else
            lines.push_back(msg);
    }
    return lines;
}
bool logged(const std::string& message)
{
    for (const auto& l : log_since_mark())
        if (l == message)
            return true;
    return false;
}

std::string expected_path(const std::string& sender, const std::string& token)
{
    std::string s = sender.substr(1);
    for (auto& c : s)
        if (c == '.')
            c = '_';
    return kRequestPrefix + s + "/" + token;
}

std::string token_of(const Recorded& r) { return r.handle.substr(r.handle.rfind('/') + 1); }

class Portal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access("/usr/bin/dbus-run-session", X_OK) != 0)
            GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
        unsetenv("QXASM_NO_PORTAL");
        setenv("QXASM_PARENT_WINDOW", "", 1);
        mark_log();
    }

    void serve(bool with_portal = true)
    {
        ASSERT_TRUE(m_bus.start(m_dir.path(), with_portal))
            << "dbus-run-session with the stand-in did not start: " << m_bus.errors();
        setenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().c_str(), 1);
    }

    // The next request the stand-in saw.
    Recorded request()
    {
        std::vector<std::string> f;
        Recorded r;
        EXPECT_TRUE(m_bus.next(&f)) << "no request reached the portal";
        if (f.size() == 7 && f[0] == "request")
            r = Recorded { f[1], f[2], f[3], f[4], f[5], f[6] };
        else
            ADD_FAILURE() << "expected a request, got: " << (f.empty() ? "" : f[0]);
        return r;
    }

    testutil::TempDir m_dir;
    StandIn m_bus;
};

// ---------------------------------------------------------------------------

struct EncodingCase {
    const char* what;
    bool save;
    std::vector<platform::FileFilter> filters;
    std::string start_dir;
    bool multiple;
    std::string suggested;
    std::string options; // as the stand-in prints them; TOKEN stands for the token
};

TEST_F(Portal, RequestCarriesTokenPathAndOptions)
{
    serve();
    const std::vector<EncodingCase> cases = {
        { "one filter, two patterns", false, { { "Assembler source", { "*.asm", "*.inc" } } }, "", false, "",
          "{'handle_token': <'TOKEN'>, 'modal': <true>, "
          "'filters': <[('Assembler source', [(uint32 0, '*.asm'), (0, '*.inc')])]>}" },
        { "several filters, multiple, folder", false,
          { { "All files", { "*" } }, { "Programs", { "*.com", "*.bin" } } }, "/tmp/src dir", true, "",
          "{'handle_token': <'TOKEN'>, 'modal': <true>, 'multiple': <true>, "
          "'filters': <[('All files', [(uint32 0, '*')]), ('Programs', [(0, '*.com'), (0, '*.bin')])]>, "
          "'current_folder': <b'/tmp/src dir'>}" },
        { "no filters", false, {}, "", false, "", "{'handle_token': <'TOKEN'>, 'modal': <true>}" },
        { "save with name and folder", true, { { "Assembler source", { "*.asm" } } }, "/home/u", false,
          "prog.asm",
          "{'handle_token': <'TOKEN'>, 'modal': <true>, "
          "'filters': <[('Assembler source', [(uint32 0, '*.asm')])]>, "
          "'current_name': <'prog.asm'>, 'current_folder': <b'/home/u'>}" },
        { "save without name or folder", true, {}, "", false, "", "{'handle_token': <'TOKEN'>, 'modal': <true>}" },
        { "save with a name that is not UTF-8", true, {}, "", false, "a\xff.asm",
          "{'handle_token': <'TOKEN'>, 'modal': <true>, 'current_name': <'a\xef\xbf\xbd.asm'>}" },
    };
    int last_serial = -1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mark_log();
        std::string title = std::string("Title: ") + c.what;
        bool started = c.save ? platform::startSaveDialog(title, c.filters, c.start_dir, c.suggested)
                              : platform::startOpenDialog(title, c.filters, c.start_dir, c.multiple);
        ASSERT_TRUE(started);
        Recorded r = request();
        EXPECT_EQ(r.method, c.save ? "SaveFile" : "OpenFile");
        EXPECT_EQ(r.title, title);
        EXPECT_EQ(r.parent, "");
        std::string token = token_of(r);
        ASSERT_EQ(token.rfind("qxferndockasm", 0), 0u) << token;
        int serial = std::stoi(token.substr(13));
        if (last_serial >= 0) {
            EXPECT_EQ(serial, last_serial + 1);
        }
        last_serial = serial;
        // The stand-in answers on the path it computes; the client waits
        // on its own: an answer arriving proves they agree.
        EXPECT_EQ(r.handle, expected_path(r.sender, token));
        std::string options = c.options;
        options.replace(options.find("TOKEN"), 5, token);
        EXPECT_EQ(r.options, options);
        EXPECT_EQ(finish(nullptr), DialogState::Cancelled);
        EXPECT_EQ(platform::pollDialog(static_cast<std::vector<std::string>*>(nullptr)), DialogState::Idle);
        EXPECT_TRUE(logged(std::string("Dateidialog: ") + r.method + ", Elternfenster (keines)"));
        EXPECT_TRUE(logged("Dateidialog: abgebrochen"));
    }
    EXPECT_TRUE(platform::fileDialogUsesPortal());
}

struct ResponseCase {
    const char* plan;
    DialogState state;
    std::vector<std::string> paths;
    std::string log; // the last line; empty: not checked
};

TEST_F(Portal, ResponseBecomesLocalPaths)
{
    serve();
    const std::vector<ResponseCase> cases = {
        { "early 0 file:///home/u/a.asm https://example.org/b.asm", DialogState::Done, { "/home/u/a.asm" },
          "Dateidialog: gewaehlt: /home/u/a.asm" },
        { "early 0 file:///tmp/a.asm file:///tmp/b%20c.asm", DialogState::Done, { "/tmp/a.asm", "/tmp/b c.asm" },
          "Dateidialog: gewaehlt: /tmp/a.asm · /tmp/b c.asm" },
        { "early 0 file://otherhost/x.asm file://localhost/tmp/y.asm", DialogState::Done, { "/tmp/y.asm" }, "" },
        { "early 0 https://example.org/only.asm", DialogState::Cancelled, {}, "Dateidialog: abgebrochen" },
        { "early 0", DialogState::Cancelled, {}, "Dateidialog: abgebrochen" },
        { "early 1 file:///tmp/a.asm", DialogState::Cancelled, {}, "Dateidialog: abgebrochen" },
        { "early 2 file:///tmp/a.asm", DialogState::Cancelled, {}, "Dateidialog: abgebrochen" },
        { "other 0 file:///tmp/o.asm", DialogState::Done, { "/tmp/o.asm" }, "Dateidialog: gewaehlt: /tmp/o.asm" },
        { "error 0", DialogState::Unavailable, {},
          "Dateidialog: Portal antwortet nicht: "
          "GDBus.Error:org.freedesktop.portal.Error.Failed: the stand-in refuses" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan);
        mark_log();
        ASSERT_TRUE(m_bus.command(std::string("plan ") + c.plan));
        ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", true));
        Recorded r = request();
        std::vector<std::string> paths;
        EXPECT_EQ(finish(&paths), c.state);
        EXPECT_EQ(paths, c.paths);
        EXPECT_EQ(platform::pollDialog(&paths), DialogState::Idle);
        auto lines = log_since_mark();
        ASSERT_FALSE(lines.empty());
        if (!c.log.empty()) {
            EXPECT_EQ(last_of(lines), c.log);
        }
        std::string computed = expected_path(r.sender, token_of(r));
        bool moved = std::string(c.plan).rfind("other", 0) == 0;
        EXPECT_EQ(logged("Dateidialog: Antwortpfad des Portals: " + r.handle + " (berechnet war " + computed + ")"),
                  moved);
    }
}

TEST_F(Portal, StringPollGivesTheFirstPath)
{
    serve();
    ASSERT_TRUE(m_bus.command("plan early 0 file:///tmp/first.asm file:///tmp/second.asm"));
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", true));
    request();
    std::string path = "untouched";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    DialogState s;
    while ((s = platform::pollDialog(&path)) == DialogState::Running && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(s, DialogState::Done);
    EXPECT_EQ(path, "/tmp/first.asm");
}

// The window may change QXASM_PARENT_WINDOW while a dialog's worker runs:
// the dialog keeps the value it was started with.
TEST_F(Portal, ParentWindowIsTakenWhenTheDialogStarts)
{
    serve();
    setenv("QXASM_PARENT_WINDOW", "x11:1a2b3c", 1);
    ASSERT_TRUE(platform::startSaveDialog("Save", {}, "", "a.asm"));
    setenv("QXASM_PARENT_WINDOW", "x11:ffffff", 1);
    Recorded r = request();
    EXPECT_EQ(r.parent, "x11:1a2b3c");
    EXPECT_EQ(finish(nullptr), DialogState::Cancelled);
    EXPECT_TRUE(logged("Dateidialog: SaveFile, Elternfenster x11:1a2b3c"));
    EXPECT_FALSE(logged("Dateidialog: SaveFile, Elternfenster x11:ffffff"));
}

// One dialog at a time, and the caller is told when its start was refused,
// so no answer is handed to the wrong operation.
TEST_F(Portal, SecondStartWhileOpenIsRefused)
{
    serve();
    ASSERT_TRUE(m_bus.command("plan hold 0"));
    ASSERT_TRUE(platform::startOpenDialog("First", {}, "", false));
    Recorded first = request();
    // A start that waited for the open dialog instead of refusing would
    // never return: the portal answers only when told to.
    testutil::within(20, "a start while a dialog is open", [] {
        EXPECT_FALSE(platform::startSaveDialog("Second", {}, "", "b.asm"));
        EXPECT_FALSE(platform::startOpenDialog("Third", {}, "", false));
        EXPECT_EQ(platform::pollDialog(static_cast<std::string*>(nullptr)), DialogState::Running);
    });
    ASSERT_TRUE(m_bus.command("release 0 file:///tmp/first.asm"));
    std::vector<std::string> paths;
    EXPECT_EQ(finish(&paths), DialogState::Done);
    EXPECT_EQ(paths, std::vector<std::string> { "/tmp/first.asm" });

    // The refused starts never reached the portal: the next request is the
    // next one started, with the next token.
    ASSERT_TRUE(platform::startOpenDialog("After", {}, "", false));
    Recorded after = request();
    EXPECT_EQ(after.title, "After");
    EXPECT_EQ(std::stoi(token_of(after).substr(13)), std::stoi(token_of(first).substr(13)) + 1);
    EXPECT_EQ(finish(nullptr), DialogState::Cancelled);
}

TEST_F(Portal, ForcedResultNeedsNoPortal)
{
    serve();
    std::vector<std::string> paths;
    platform::setForcedDialogResult(std::string("/tmp/forced.asm"));
    EXPECT_EQ(platform::pollDialog(&paths), DialogState::Done);
    EXPECT_EQ(paths, std::vector<std::string> { "/tmp/forced.asm" });
    EXPECT_EQ(platform::pollDialog(&paths), DialogState::Idle);

    // Forced before the start: the start opens no real dialog.
    platform::setForcedDialogResult(std::vector<std::string> { "/tmp/a.asm", "/tmp/b.asm" });
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", true));
    std::string first;
    EXPECT_EQ(platform::pollDialog(&first), DialogState::Done);
    EXPECT_EQ(first, "/tmp/a.asm");
    EXPECT_EQ(platform::pollDialog(&first), DialogState::Idle);

    platform::setForcedDialogResult(std::vector<std::string> {});
    EXPECT_EQ(platform::pollDialog(&paths), DialogState::Cancelled);

    // Nothing of the above reached the bus: the next request is this one.
    ASSERT_TRUE(platform::startOpenDialog("Real", {}, "", false));
    EXPECT_EQ(request().title, "Real");
    EXPECT_EQ(finish(nullptr), DialogState::Cancelled);
}

// A forced result while a dialog is open answers the waiting operation; the
// open dialog is closed and its worker kept apart from the next dialog.
TEST_F(Portal, ForcedResultWhileOpenClosesThatDialog)
{
    serve();
    ASSERT_TRUE(m_bus.command("plan hold 0"));
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", false));
    Recorded held = request();
    platform::setForcedDialogResult(std::string("/tmp/forced.asm"));
    std::vector<std::string> paths;
    EXPECT_EQ(platform::pollDialog(&paths), DialogState::Done);
    EXPECT_EQ(paths, std::vector<std::string> { "/tmp/forced.asm" });

    std::vector<std::string> f;
    ASSERT_TRUE(m_bus.next(&f));
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0], "close");
    EXPECT_EQ(f[1], held.handle);
    EXPECT_EQ(platform::pollDialog(&paths), DialogState::Idle);

    ASSERT_TRUE(m_bus.command("plan early 0 file:///tmp/next.asm"));
    ASSERT_TRUE(platform::startOpenDialog("Next", {}, "", false));
    EXPECT_EQ(request().title, "Next");
    paths.clear();
    EXPECT_EQ(finish(&paths), DialogState::Done);
    EXPECT_EQ(paths, std::vector<std::string> { "/tmp/next.asm" });
}

TEST_F(Portal, NoPortalVariableMakesItUnavailable)
{
    serve();
    setenv("QXASM_NO_PORTAL", "", 1);
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", false));
    std::vector<DialogState> seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    DialogState s;
    while ((s = platform::pollDialog(static_cast<std::string*>(nullptr))) == DialogState::Running &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(s, DialogState::Unavailable);
    EXPECT_EQ(platform::pollDialog(static_cast<std::string*>(nullptr)), DialogState::Idle);
    EXPECT_TRUE(logged("Dateidialog: QXASM_NO_PORTAL gesetzt — kein Dialog"));

    unsetenv("QXASM_NO_PORTAL");
    ASSERT_TRUE(platform::startOpenDialog("Real", {}, "", false));
    EXPECT_EQ(request().title, "Real");
    EXPECT_EQ(finish(nullptr), DialogState::Cancelled);
}

TEST_F(Portal, NoPortalOnTheBusIsUnavailable)
{
    serve(false);
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", false));
    EXPECT_EQ(finish(nullptr), DialogState::Unavailable);
    auto lines = log_since_mark();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(last_of(lines).rfind("Dateidialog: Portal antwortet nicht: ", 0), 0u) << last_of(lines);
    EXPECT_NE(last_of(lines).find("ServiceUnknown"), std::string::npos) << last_of(lines);
}

TEST_F(Portal, BusGoingAwayWhileOpenEndsTheDialog)
{
    serve();
    ASSERT_TRUE(m_bus.command("plan hold 0"));
    ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", false));
    request();
    m_bus.stop();
    EXPECT_EQ(finish(nullptr), DialogState::Unavailable);
    // Usually the reply is through and the wait notices the lost bus; when
    // the bus dies first, the call fails instead.
    auto lines = log_since_mark();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(last_of(lines).rfind("Dateidialog: Portal antwortet nicht: ", 0), 0u) << last_of(lines);
}

// ---------------------------------------------------------------------------

// Unix sockets standing for a bus that is gone or never answers.
struct Sockets {
    explicit Sockets(const std::string& dir)
    {
        refused_path = dir + "/refused";
        silent_path = dir + "/silent";
        refused = bound(refused_path);
        close(refused); // the file stays; nobody listens
        silent = bound(silent_path);
        listen(silent, 4); // connections queue; nobody answers
    }
    ~Sockets() { close(silent); }
    static int bound(const std::string& path)
    {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a {};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return fd;
    }
    std::string refused_path, silent_path;
    int refused = -1, silent = -1;
};

TEST(PortalBus, MissingDeadOrSilentBusIsUnavailable)
{
    testutil::TempDir dir;
    Sockets sockets(dir.path());
    std::string runtime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    struct Case {
        const char* what;
        const char* address; // null: unset
        std::string message; // after "kein Sitzungsbus: "; empty: any
    };
    const std::vector<Case> cases = {
        { "socket file missing", nullptr, "" },
        { "nobody listens", nullptr, "" },
        { "listens but never answers", nullptr, "keine Antwort nach 5000 ms" },
        { "malformed address", "no-such-transport:", "" },
        { "no address, no runtime bus, no display", nullptr, "" },
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        std::string address = i == 0 ? "unix:path=" + dir.file("missing")
                            : i == 1 ? "unix:path=" + sockets.refused_path
                            : i == 2 ? "unix:path=" + sockets.silent_path
                            : c.address ? c.address : "";
        if (address.empty()) {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
            unsetenv("DISPLAY");
            setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        } else {
            setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        }
        mark_log();
        ASSERT_TRUE(platform::startOpenDialog("Open", {}, "", false));
        EXPECT_EQ(finish(nullptr), DialogState::Unavailable);
        EXPECT_EQ(platform::pollDialog(static_cast<std::string*>(nullptr)), DialogState::Idle);
        auto lines = log_since_mark();
        ASSERT_EQ(lines.size(), 1u);
        const std::string prefix = "Dateidialog: kein Sitzungsbus: ";
        EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        if (!c.message.empty()) {
            EXPECT_EQ(lines[0].substr(prefix.size()), c.message);
        }
    }
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (!display.empty())
        setenv("DISPLAY", display.c_str(), 1);
}

// ---------------------------------------------------------------------------

// Waits until the log shows `message` (the worker writes it).
bool wait_logged(const std::string& message)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (!logged(message))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

// Leaving the process must never abort, whatever state the dialog is in.
TEST_F(Portal, ExitNeverAbortsWhateverTheDialogsState)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    serve();
    const char* states[] = { "open", "answered, not polled", "no portal, not polled", "given up, not polled" };
    for (const char* state : states) {
        SCOPED_TRACE(state);
        std::string s = state;
        EXPECT_EXIT(
            {
                if (s == "open" || s == "given up, not polled") {
                    m_bus.command("plan hold 0");
                    (void)platform::startOpenDialog("Open", {}, "", false);
                    request();
                    if (s != "open")
                        platform::setForcedDialogResult(std::string("/tmp/x.asm"));
                } else if (s == "answered, not polled") {
                    m_bus.command("plan early 0 file:///tmp/x.asm");
                    (void)platform::startOpenDialog("Open", {}, "", false);
                    wait_logged("Dateidialog: gewaehlt: /tmp/x.asm");
                } else {
                    setenv("QXASM_NO_PORTAL", "1", 1);
                    (void)platform::startOpenDialog("Open", {}, "", false);
                    wait_logged("Dateidialog: QXASM_NO_PORTAL gesetzt — kein Dialog");
                }
                exit(0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

} // namespace
