// Mailing a crash report: every way runs against stand-ins that record what
// they were given: a fake mail program as the mailto: handler, the portal
// stand-in on a private session bus, fake xdg-email and xdg-open on PATH.
// Each mailing runs in a forked child with a fresh environment, because GIO
// reads the desktop's handler configuration once per process.
#include "portal_bus.h"
#include "qxcrash.h"
#include "qxcrash_detail.h"
#include "qxcrash_mail.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

using testutil::read_file;
using testutil::write_file;
namespace qd = qxcrash::detail;

namespace {

constexpr const char* k_contact = "crash@example.org";
constexpr const char* k_subject = "qxTest 9.8.7 (Build 42) crash report";
constexpr const char* k_greeting = "Attached: crash report and log files. The same follows as text.\n\n";

// ---- what the mail program does with its "-compose" argument -------------

std::string percent_decoded(const std::string& text)
{
    gchar* plain = g_uri_unescape_string(text.c_str(), nullptr);
    std::string result = plain ? plain : "<undecodable>";
    g_free(plain);
    return result;
}

// Thunderbird's reading of the argument: values split at commas outside
// quotes; a value in quotes is taken as it stands, any other is
// percent-decoded.
std::map<std::string, std::string> compose_values(const std::string& arg)
{
    std::vector<std::string> pairs(1);
    char quote = 0;
    for (size_t i = 0; i < arg.size(); ++i) {
        char c = arg[i];
        char next = i + 1 < arg.size() ? arg[i + 1] : ',';
        if (quote && c == quote && next == ',') {
            quote = 0;
            pairs.back() += c;
        } else if ((c == '\'' || c == '"') && i > 0 && arg[i - 1] == '=') {
            if (!quote)
                quote = c;
            pairs.back() += c;
        } else if (c == ',' && !quote) {
            pairs.emplace_back();
        } else {
            pairs.back() += c;
        }
    }
    std::map<std::string, std::string> values;
    for (const std::string& pair : pairs) {
        size_t eq = pair.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value = pair.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            values[pair.substr(0, eq)] = value.substr(1, value.size() - 2);
        else
            values[pair.substr(0, eq)] = percent_decoded(value);
    }
    return values;
}

std::vector<std::string> attached_paths(const std::string& attachment)
{
    std::vector<std::string> paths;
    gchar** uris = g_strsplit(attachment.c_str(), ",", -1);
    for (gchar** uri = uris; *uri; ++uri) {
        gchar* path = g_filename_from_uri(*uri, nullptr, nullptr);
        paths.push_back(path ? path : std::string("<bad uri> ") + *uri);
        g_free(path);
    }
    g_strfreev(uris);
    return paths;
}

// ---- the recording stand-ins ----------------------------------------------

struct Record {
    unsigned long ignored = 0; // the SigIgn mask the program started with
    std::vector<std::string> args;
};

// Each call leaves one file: its ignored-signal mask, a line feed, then its
// arguments, each ended by a NUL byte.
const char* k_recorder = R"(#!/bin/sh
f=$(mktemp "$QX_RECORD/.NAME.XXXXXX")
{ grep '^SigIgn:' /proc/$$/status | cut -f2; printf '%s\0' "$0" "$@"; } > "$f"
mv "$f" "$QX_RECORD/NAME.${f##*.}"
exit ${EXIT:-0}
)";

class Mail : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* dir : { "bin", "rec", "home", "run", "data/applications", "config", "empty", "it's, a folder" })
            std::filesystem::create_directories(m_root.file(dir));
        chmod(m_root.file("run").c_str(), 0700);
        recorder("thunderbird", "");
        recorder("flatpak-thunderbird", "");
        recorder("evolution", "");
        recorder("xdg-email", "$QX_XDG_EMAIL_EXIT");
        recorder("xdg-open", "");
        m_conf = m_root.file("it's, a folder");
        write_file(m_conf + "/crash_report.txt", report_text(2000));
        write_file(m_conf + "/crash_log.txt", "the crashed run's log\n");
        write_file(m_conf + "/app.log", "this run's log\n");
        m_env = {
            { "PATH", m_root.file("bin") + ":/usr/bin:/bin" },
            { "HOME", m_root.file("home") },
            { "XDG_RUNTIME_DIR", m_root.file("run") },
            { "TMPDIR", m_root.file("run") },
            { "XDG_DATA_HOME", m_root.file("data") },
            { "XDG_CONFIG_HOME", m_root.file("config") },
            { "XDG_DATA_DIRS", m_root.file("empty") },
            { "XDG_CONFIG_DIRS", m_root.file("empty") },
            { "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_root.file("no-bus") },
            { "QX_RECORD", m_root.file("rec") },
            { "GIO_USE_VFS", "local" },
            { "GSETTINGS_BACKEND", "memory" },
            { "SNAP", "" },
            { "FLATPAK_ID", "" },
            { "QX_XDG_EMAIL_EXIT", "0" },
        };
    }

    void recorder(const std::string& name, const std::string& exit_code)
    {
        std::string script = k_recorder;
        for (size_t at; (at = script.find("NAME")) != std::string::npos;)
            script.replace(at, 4, name);
        script.replace(script.find("${EXIT:-0}"), 10, exit_code.empty() ? "0" : exit_code);
        std::string path = m_root.file("bin/" + name);
        write_file(path, script);
        chmod(path.c_str(), 0755);
    }

    // The default mailto: handler: a desktop file and mimeapps.list.
    void handler(const std::string& id, const std::string& exec)
    {
        write_file(m_root.file("data/applications/" + id + ".desktop"),
            "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec
                + "\nMimeType=x-scheme-handler/mailto;\n");
        write_file(m_root.file("config/mimeapps.list"),
            "[Default Applications]\nx-scheme-handler/mailto=" + id + ".desktop\n");
    }

    bool serve_portal(const std::string& version = "4")
    {
        if (access("/usr/bin/dbus-run-session", X_OK) != 0)
            return false;
        EXPECT_TRUE(m_bus.start(m_root.path(), true, { "--email-version=" + version })) << m_bus.errors();
        m_env["DBUS_SESSION_BUS_ADDRESS"] = m_bus.address();
        return true;
    }

    static std::string report_text(size_t log_bytes)
    {
        std::string log;
        for (int line = 0; log.size() < log_bytes; ++line)
            log += "log line " + std::to_string(line) + "\n";
        return "=== qxTest crash report ===\nSignal: SIGSEGV (Segmentation fault)\n\nBacktrace:\nframe\n"
               "\nLog (last lines before the crash):\n"
            + log + "\n=== end of report ===\n";
    }

    // Runs send() in a child with the environment; `before_finish` runs in
    // the child after send() and before finish_mail(). Returns the child.
    pid_t start_send(std::function<void()> before_finish = {})
    {
        fflush(nullptr);
        pid_t pid = fork();
        if (pid != 0)
            return pid;
        alarm(120);
        for (const auto& [name, value] : m_env)
            setenv(name.c_str(), value.c_str(), 1);
        // As in the program.
        signal(SIGPIPE, SIG_IGN);
        qxcrash::App app { "qxTest", "9.8.7", "42", k_contact };
        app.log = [](const char* level, const std::string& message) {
            std::string line = std::string(level) + " " + message + "\n";
            int fd = open((std::string(getenv("QX_RECORD")) + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0 && write(fd, line.data(), line.size()) < 0)
                line.clear();
            close(fd);
        };
        qd::set_app(app);
        qxcrash::set_report_dir(m_conf);
        qd::g_portal_wait_ms = m_portal_wait_ms;
        qxcrash::send(m_conf + "/app.log");
        if (before_finish)
            before_finish();
        bool done = qxcrash::finish_mail(60000);
        _exit(done ? 0 : 3);
    }

    // send() in a child that, once told to go, calls finish_mail(0), which
    // must find the worker still busy (else the child exits with 5).
    pid_t start_send_finishing_on_go()
    {
        if (pipe(m_go) != 0)
            return -1;
        return start_send([this] {
            char byte;
            if (read(m_go[0], &byte, 1) != 1)
                _exit(4);
            if (qxcrash::finish_mail(0))
                _exit(5);
        });
    }

    int go_and_finish(pid_t pid)
    {
        if (write(m_go[1], "g", 1) != 1)
            kill(pid, SIGKILL);
        int code = finish(pid);
        close(m_go[0]);
        close(m_go[1]);
        return code;
    }

    int finish(pid_t pid)
    {
        int status = -1;
        testutil::wait_child(pid, &status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The records of one stand-in, once `count` of them exist (a detached
    // opener may still be writing when the mailing child has ended).
    std::vector<Record> records(const std::string& name, size_t count = 0)
    {
        std::vector<Record> found;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        do {
            found.clear();
            DIR* dir = opendir(m_root.file("rec").c_str());
            while (dirent* entry = dir ? readdir(dir) : nullptr) {
                std::string file = entry->d_name;
                if (file.rfind(name + ".", 0) != 0)
                    continue;
                std::string text = read_file(m_root.file("rec/" + file));
                Record r;
                size_t nl = text.find('\n');
                r.ignored = strtoul(text.substr(0, nl).c_str(), nullptr, 16);
                for (size_t at = nl + 1; at < text.size();) {
                    size_t end = text.find('\0', at);
                    r.args.push_back(text.substr(at, end - at));
                    at = end + 1;
                }
                found.push_back(r);
            }
            if (dir)
                closedir(dir);
            if (found.size() >= count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return found;
    }

    std::vector<std::string> logged()
    {
        std::vector<std::string> lines;
        std::string text = read_file(m_root.file("rec/log"));
        for (size_t at = 0; at < text.size();) {
            size_t nl = text.find('\n', at);
            lines.push_back(text.substr(at, nl - at));
            at = nl + 1;
        }
        return lines;
    }

    bool exists(const std::string& name) { return testutil::file_exists(m_conf + "/" + name); }

    // The three files as a mail program gets them after renaming.
    std::vector<std::string> sent_files()
    {
        return { m_conf + "/crash_report-sent.txt", m_conf + "/crash_log-sent.txt", m_conf + "/app.log" };
    }

    testutil::TempDir m_root;
    std::string m_conf;
    std::map<std::string, std::string> m_env;
    testutil::PortalBus m_bus;
    int m_portal_wait_ms = 30000;
    int m_go[2] = { -1, -1 };
};

constexpr unsigned long k_sigpipe_bit = 1ul << (SIGPIPE - 1);

} // namespace

TEST(MailText, EncodingShorteningAndNames)
{
    EXPECT_EQ(qd::url_encode("a b/\xC3\xBC~-._Z9"), "a%20b%2F%C3%BC~-._Z9");
    EXPECT_EQ(qd::sent_name("/c/crash_report.txt"), "/c/crash_report-sent.txt");
    EXPECT_EQ(qd::sent_name("/c/report"), "/c/report-sent");
    EXPECT_EQ(qd::utf8_escaped("ok \xC3\xBC \xFF\xC3"), "ok \xC3\xBC \\xFF\\xC3");
    qd::set_app(qxcrash::App { "qxTest", "9.8.7", "42" });
    EXPECT_EQ(qd::subject(), k_subject);

    // A log section starting at byte 2000 of a 10000-byte report, cut to 6000.
    const std::string marker = "Log (last lines before the crash):\n";
    std::string text = std::string(2000, 'h') + marker;
    for (int i = 0; text.size() < 10000; ++i)
        text += "line " + std::to_string(i) + "\n";
    text.resize(10000);
    size_t cut = text.find('\n', 2000 + 35 + 4008);
    EXPECT_EQ(qd::mail_body(text, 6000), text.substr(0, 2035) + "[...]" + text.substr(cut));
    EXPECT_EQ(qd::mail_body(std::string(7000, 'x'), 6000), std::string(6000, 'x') + "\n[...]");
    EXPECT_EQ(qd::mail_body("short", 6000), "short");
}

TEST(MailText, ComposeArgumentSurvivesQuotesAndCommasInEveryValue)
{
    const std::vector<std::string> files = { "/tmp/it's, here/crash_report-sent.txt", "/tmp/a,b'c/%41 x.log" };
    std::string body_file = "/run/user/0/it's,mail/mail-body.txt";
    std::string subject = "qx 'quoted', with=signs";
    std::string arg = qd::compose_argument("a'b,c@example.org", subject, body_file, files);
    auto values = compose_values(arg);
    EXPECT_EQ(values.size(), 4u) << arg;
    EXPECT_EQ(values["to"], "a'b,c@example.org");
    EXPECT_EQ(values["subject"], subject);
    EXPECT_EQ(values["message"], body_file);
    EXPECT_EQ(attached_paths(values["attachment"]), files);
    EXPECT_EQ(compose_values(qd::compose_argument("x@y", "s", "/b", {})).count("attachment"), 0u);
}

struct HandlerCase {
    const char* id;
    const char* program;
    bool sandboxed;
};

class MailHandler : public Mail, public testing::WithParamInterface<HandlerCase> {};

TEST_P(MailHandler, ComposeCommandGetsTheFilesAndTheBodyGoesOnceRead)
{
    const HandlerCase& c = GetParam();
    handler(c.id, m_root.file(std::string("bin/") + c.program) + " -safe-mode %u @@u %U @@");
    pid_t child = start_send();

    auto calls = records(c.program, 1);
    ASSERT_EQ(calls.size(), 1u);
    const Record& call = calls[0];
    ASSERT_EQ(call.args.size(), 4u);
    EXPECT_EQ(call.args[0], m_root.file(std::string("bin/") + c.program));
    EXPECT_EQ(call.args[1], "-safe-mode");
    EXPECT_EQ(call.args[2], "-compose");
    EXPECT_EQ(call.ignored & k_sigpipe_bit, 0u) << "SIGPIPE stays ignored in the mail program";
    auto values = compose_values(call.args[3]);
    EXPECT_EQ(values["to"], k_contact);
    EXPECT_EQ(values["subject"], k_subject);
    std::vector<std::string> expected = sent_files();
    std::string copies = m_root.file("home/Downloads/qxTest crash report");
    if (c.sandboxed) {
        for (std::string& file : expected)
            file = copies + file.substr(file.rfind('/'));
    }
    EXPECT_EQ(attached_paths(values["attachment"]), expected);
    for (const std::string& file : expected)
        EXPECT_TRUE(testutil::file_exists(file)) << file;

    // The body waits in a folder of the user's own until the mail program
    // has read it, then goes.
    std::string body = values["message"];
    std::string folder = body.substr(0, body.rfind('/'));
    EXPECT_EQ(body.substr(body.rfind('/')), "/mail-body.txt");
    if (c.sandboxed)
        EXPECT_EQ(folder, copies);
    else
        EXPECT_EQ(folder.rfind(m_root.file("run/qxTest-mail-"), 0), 0u) << folder;
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Read once: our own reading counts as the mail program's, and the
    // body may go right after it.
    const std::string text = read_file(body);
    EXPECT_TRUE(text.starts_with(std::string(k_greeting) + "=== qxTest crash report ===\n"));
    EXPECT_NE(text.find("\n=== crash_log.txt (log of the crashed run) ===\nthe crashed run's log\n"), std::string::npos);
    EXPECT_EQ(finish(child), 0);
    EXPECT_FALSE(testutil::file_exists(body));
    EXPECT_EQ(testutil::file_exists(folder), c.sandboxed);

    EXPECT_FALSE(exists("crash_report.txt"));
    EXPECT_TRUE(exists("crash_report-sent.txt"));
    EXPECT_TRUE(exists("crash_log-sent.txt"));
    std::string copied = c.sandboxed ? " (files copied to " + copies + ")" : "";
    EXPECT_EQ(logged(), (std::vector<std::string> { "INFO Thunderbird -compose" + copied,
                            "INFO Crash report: mail composed with 3 attachments" }));
    EXPECT_TRUE(records("xdg-email").empty());
    EXPECT_TRUE(records("xdg-open").empty());
}

INSTANTIATE_TEST_SUITE_P(Handlers, MailHandler,
    testing::Values(HandlerCase { "thunderbird", "thunderbird", false },
        HandlerCase { "org.mozilla.Thunderbird", "flatpak-thunderbird", true }),
    [](const testing::TestParamInfo<HandlerCase>& info) { return info.param.sandboxed ? "Sandboxed" : "Plain"; });

TEST_F(Mail, PortalGetsDescriptorsValidTextAndTheRecipientByItsVersion)
{
    // A byte that is no UTF-8 would make the whole request invalid.
    write_file(m_conf + "/crash_report.txt", "=== qxTest crash report ===\nbad byte \xFF here\n");
    for (const char* version : { "2", "4" }) {
        SCOPED_TRACE(version);
        handler("evolution", m_root.file("bin/evolution") + " %u");
        if (!serve_portal(version))
            GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
        ASSERT_TRUE(m_bus.command("plan early 0"));
        EXPECT_EQ(finish(start_send()), 0);

        std::vector<std::string> f;
        ASSERT_TRUE(m_bus.next(&f));
        ASSERT_EQ(f.size(), 7u);
        EXPECT_EQ(f[1], "ComposeEmail");
        EXPECT_EQ(f[4], "");
        const std::string& options = f[6];
        if (std::string(version) == "4")
            EXPECT_NE(options.find("'addresses': <['crash@example.org']>"), std::string::npos) << options;
        else
            EXPECT_NE(options.find("'address': <'crash@example.org'>"), std::string::npos) << options;
        EXPECT_NE(options.find("'subject': <'qxTest 9.8.7 (Build 42) crash report'>"), std::string::npos);
        EXPECT_NE(options.find("bad byte \\\\xFF here"), std::string::npos) << options;
        EXPECT_NE(options.find("'attachment_fds': <[handle 0, 1, 2]>"), std::string::npos) << options;
        for (const std::string& file : sent_files()) {
            ASSERT_TRUE(m_bus.next(&f));
            EXPECT_EQ(f, (std::vector<std::string> { "fd", file }));
        }
        EXPECT_EQ(logged(), (std::vector<std::string> { "INFO Mail portal v" + std::string(version) + ": response 0",
                                "INFO Crash report: mail composed with 3 attachments" }));
        EXPECT_TRUE(records("evolution").empty()) << "only Thunderbird's command line is known";
        EXPECT_TRUE(records("xdg-email").empty());

        // The next round starts from the same unsent files.
        m_bus.stop();
        std::filesystem::rename(m_conf + "/crash_report-sent.txt", m_conf + "/crash_report.txt");
        std::filesystem::rename(m_conf + "/crash_log-sent.txt", m_conf + "/crash_log.txt");
        std::filesystem::remove(m_root.file("rec/log"));
    }
}

TEST_F(Mail, XdgEmailGetsEveryFileAndABodyCutLikeTheMailtoLink)
{
    write_file(m_conf + "/crash_report.txt", report_text(200000));
    if (!serve_portal())
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
    ASSERT_TRUE(m_bus.command("plan early 1"));
    EXPECT_EQ(finish(start_send()), 0);
    std::vector<std::string> request;
    ASSERT_TRUE(m_bus.next(&request));
    EXPECT_EQ(request.at(1), "ComposeEmail");
    EXPECT_NE(request.at(6).find("log line 1000\\n"), std::string::npos) << "the portal gets the whole text";

    auto calls = records("xdg-email", 1);
    ASSERT_EQ(calls.size(), 1u);
    std::vector<std::string> args = calls[0].args;
    ASSERT_EQ(args.size(), 13u);
    std::string body = args[5];
    EXPECT_LE(body.size(), 6000u + 6u);
    EXPECT_TRUE(body.starts_with(k_greeting)) << body.substr(0, 100);
    EXPECT_NE(body.find("Log (last lines before the crash):\n[...]\n"), std::string::npos);
    args[5] = "<body>";
    std::vector<std::string> expected = { m_root.file("bin/xdg-email"), "--utf8", "--subject", k_subject, "--body",
        "<body>" };
    for (const std::string& file : sent_files()) {
        expected.push_back("--attach");
        expected.push_back(file);
    }
    expected.push_back(k_contact);
    EXPECT_EQ(args, expected);
    EXPECT_EQ(calls[0].ignored & k_sigpipe_bit, 0u);
    EXPECT_EQ(logged(), (std::vector<std::string> { "WARN Mail portal v4: response 1", "INFO xdg-email: exit 0",
                            "INFO Crash report: mail composed with 3 attachments" }));
    EXPECT_TRUE(exists("crash_report-sent.txt"));
}

TEST_F(Mail, WhenNothingTakesTheMailTheFilesStayOfferedAndTheFolderOpens)
{
    // A mail program that cannot start: its interpreter is missing.
    write_file(m_root.file("bin/broken-thunderbird"), "#!/nonexistent/interpreter\n");
    chmod(m_root.file("bin/broken-thunderbird").c_str(), 0755);
    handler("thunderbird", m_root.file("bin/broken-thunderbird") + " %u");
    if (!serve_portal())
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
    ASSERT_TRUE(m_bus.command("plan error 0"));
    m_env["QX_XDG_EMAIL_EXIT"] = "3";
    EXPECT_EQ(finish(start_send()), 0);

    std::vector<std::string> lines = logged();
    ASSERT_EQ(lines.size(), 5u) << testing::PrintToString(lines);
    EXPECT_TRUE(lines[0].starts_with("WARN Thunderbird -compose: ")) << lines[0];
    EXPECT_EQ(lines[1], "WARN Mail portal: GDBus.Error:org.freedesktop.portal.Error.Failed: the stand-in refuses");
    EXPECT_EQ(lines[2], "WARN xdg-email: exit 3");
    EXPECT_EQ(lines[3], "WARN Crash report: no way to attach files - opened mailto and the folder");
    EXPECT_EQ(lines[4], "WARN Crash report: the files stay in " + m_conf + " and are offered again at the next start");

    auto opened = records("xdg-open", 2);
    ASSERT_EQ(opened.size(), 2u);
    std::vector<std::string> uris = { opened[0].args.at(1), opened[1].args.at(1) };
    std::sort(uris.begin(), uris.end());
    gchar* folder = g_filename_from_uri(uris[0].c_str(), nullptr, nullptr);
    EXPECT_EQ(std::string(folder ? folder : uris[0].c_str()), m_conf);
    g_free(folder);
    std::string mailto = "mailto:crash@example.org?subject=" + qd::url_encode(k_subject) + "&body=";
    ASSERT_TRUE(uris[1].starts_with(mailto)) << uris[1];
    EXPECT_EQ(percent_decoded(uris[1].substr(mailto.size())), report_text(2000));
    for (const Record& r : opened)
        EXPECT_EQ(r.ignored & k_sigpipe_bit, 0u);

    // Nothing was renamed for good: the report is offered again.
    EXPECT_TRUE(exists("crash_report.txt"));
    EXPECT_TRUE(exists("crash_log.txt"));
    EXPECT_FALSE(exists("crash_report-sent.txt"));
    EXPECT_FALSE(exists("crash_log-sent.txt"));
    EXPECT_EQ(read_file(m_conf + "/crash_report.txt"), report_text(2000));
}

TEST_F(Mail, InsideASnapOnlyThePortalIsTriedBeforeTheMailtoLink)
{
    handler("thunderbird", m_root.file("bin/thunderbird") + " %u");
    m_env["SNAP"] = "/snap/qx/1";
    EXPECT_EQ(finish(start_send()), 0);
    std::vector<std::string> lines = logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("WARN Mail portal: no session bus (")) << lines[0];
    EXPECT_EQ(records("xdg-open", 2).size(), 2u);
    EXPECT_TRUE(records("thunderbird").empty());
    EXPECT_TRUE(records("xdg-email").empty());
    EXPECT_TRUE(exists("crash_report.txt"));
}

TEST_F(Mail, FinishingEndsAPortalWaitWithoutALogLineAndKeepsTheReportOffered)
{
    if (!serve_portal())
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
    ASSERT_TRUE(m_bus.command("plan hold 0"));
    pid_t child = start_send_finishing_on_go();
    std::vector<std::string> f;
    ASSERT_TRUE(m_bus.next(&f));
    EXPECT_EQ(f.at(1), "ComposeEmail");
    // The worker waits for the portal now: it cannot be done at once.
    EXPECT_EQ(go_and_finish(child), 0) << "4: no go, 5: the wait had ended already, 3: the worker did not end";
    EXPECT_EQ(logged(), std::vector<std::string> {});
    EXPECT_TRUE(records("xdg-email").empty());
    EXPECT_TRUE(exists("crash_report.txt"));
    EXPECT_TRUE(exists("crash_log.txt"));
}

TEST_F(Mail, AnUnansweredPortalCountsAsFailureAfterItsWait)
{
    if (!serve_portal())
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
    ASSERT_TRUE(m_bus.command("plan hold 0"));
    m_portal_wait_ms = 200;
    EXPECT_EQ(finish(start_send()), 0);
    std::vector<std::string> lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "WARN Mail portal v4: response none (0 s)");
    EXPECT_EQ(lines[1], "INFO xdg-email: exit 0");
}

TEST_F(Mail, FinishingWhileTheBodyWaitsToBeReadRemovesItAndLogsNoMore)
{
    handler("thunderbird", m_root.file("bin/thunderbird") + " %u");
    pid_t child = start_send_finishing_on_go();
    auto calls = records("thunderbird", 1);
    ASSERT_EQ(calls.size(), 1u);
    std::string body = compose_values(calls[0].args.at(2))["message"];
    EXPECT_TRUE(testutil::file_exists(body)) << body;
    EXPECT_EQ(go_and_finish(child), 0) << "4: no go, 5: the worker had ended already, 3: the worker did not end";
    EXPECT_FALSE(testutil::file_exists(body));
    EXPECT_FALSE(testutil::file_exists(body.substr(0, body.rfind('/'))));
    // The mail program has the files: they keep their new names.
    EXPECT_EQ(logged(), std::vector<std::string> { "INFO Thunderbird -compose" });
    EXPECT_TRUE(exists("crash_report-sent.txt"));
}
