// Opening and saving files, the file chooser exchange (a stand-in portal on
// a private bus, and the in-window path prompt), recovery files and
// per-file state, with real files; the faults mended in them.
#include "app.h"
#include "app_probe.h"
#include "filedialog_portal.h"
#include "files.h"
#include "l10n.h"
#include "paths.h"
#include "portal_bus.h"
#include "sealed_file.h"
#include "testutil.h"
#include "toolchain.h"
#include "xvfb_suite.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <thread>

using namespace testutil;

namespace {

// Hang guard only: far beyond what a working exchange needs.
constexpr int kGuardMs = 60000;

// The configuration directory of this process, fixed before first use.
struct ConfigHome {
    TempDir dir;
    ConfigHome() { setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }
};
ConfigHome g_config;

std::string recover_dir()
{
    return paths::config_dir() + "/recover";
}

std::vector<std::string> recovery_files()
{
    std::vector<std::string> out;
    if (DIR* d = opendir(recover_dir().c_str())) {
        while (dirent* e = readdir(d))
            if (std::string n = e->d_name; n.size() > 4 && n.compare(n.size() - 4, 4, ".rec") == 0)
                out.push_back(recover_dir() + "/" + n);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void clear_recovery()
{
    for (const std::string& f : recovery_files())
        unlink(f.c_str());
}

// Polls the file dialog as the main loop does until it has an answer.
void finish_dialog(App& app)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (AppProbe::file_op(app) != App::FileOp::None && std::chrono::steady_clock::now() < deadline) {
        AppProbe::poll_file_dialog(app);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Doc* add_source(App& app, const std::string& path, const std::string& text)
{
    Doc* d = AppProbe::new_doc(app, false);
    d->path = path;
    d->ed.set_text(text);
    AppProbe::activate(app, d);
    return d;
}

// A binary loaded from a new file whose first byte was then edited to 0xCC.
Doc* edited_binary(App& app, const std::string& path, const std::string& bytes)
{
    write_file(path, bytes);
    if (!AppProbe::load_binary(app, path))
        return nullptr;
    Doc* b = AppProbe::binary(app);
    uint8_t cc = 0xCC;
    return b->img.write_off(0, &cc, 1) ? b : nullptr;
}

bool has_temp_files(const std::string& dir)
{
    auto r = sh("ls -A '" + dir + "' | grep -c tmp");
    return r.out.find('0') != 0;
}

} // namespace

TEST(AppFiles, OpenDecidesSourceOrBinaryByContentAndName)
{
    TempDir t;
    struct Case {
        const char* name;
        std::string bytes;
        bool bin;
    } cases[] = {
        { "nul.asm", std::string(100, 'a') + '\0' + "b", true },
        { "late.asm", std::string(4096, 'a') + '\0', false },
        { "prog.BIN", "mov eax, 1\n", false },
        { "a.com", "mov eax, 1\n", true },
        { "e.asm", "\x7F" "Exxx", true },
        { "mz.txt", "MZ", true },
        { "zero.asm", std::string(1, '\0'), true },
        { "empty.asm", "", false },
    };
    for (const Case& c : cases) {
        App app;
        write_file(t.file(c.name), c.bytes);
        AppProbe::open_any(app, t.file(c.name));
        ASSERT_EQ(AppProbe::docs(app).size(), 1u) << c.name;
        EXPECT_EQ(AppProbe::docs(app)[0]->bin, c.bin) << c.name;
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None) << c.name;
    }
    // An open source comes to front without being read again.
    App app;
    write_file(t.file("x.asm"), "one\n");
    AppProbe::open_any(app, t.file("x.asm"));
    write_file(t.file("x.asm"), "two\n");
    AppProbe::cmd_new(app);
    AppProbe::open_any(app, t.file("x.asm"));
    EXPECT_EQ(AppProbe::docs(app).size(), 2u);
    EXPECT_EQ(AppProbe::front(app)->ed.text(), "one\n");
}

// The caret placed before the editor was first painted is scrolled into
// view with the editor's real height: a new file shows its first lines.
TEST(AppFiles, CaretPlacedBeforeTheFirstFrameIsInView)
{
    struct Case {
        const char* name;
        int lines, go_to;
        int top_max; // the first line shown is at most this
    } cases[] = { { "new file", 0, -1, 0 }, { "far line", 500, 400, 400 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        App app;
        if (c.lines == 0) {
            AppProbe::cmd_new(app);
        } else {
            std::string text;
            for (int i = 0; i < c.lines; ++i)
                text += "nop\n";
            add_source(app, "", text)->ed.goto_line(c.go_to, true);
        }
        AppProbe::paint(app, 1280, 800);
        const Editor& ed = AppProbe::front(app)->ed;
        EXPECT_LE(ed.scroll_line(), c.top_max);
        // The editor of a 1280x800 window shows well over 15 rows.
        EXPECT_LT(ed.caret().line - ed.scroll_line(), 15) << "the caret row is shown";
        if (c.lines == 0)
            EXPECT_EQ(ed.caret().line, 4);
        else
            EXPECT_GT(ed.caret().line - ed.scroll_line(), 2) << "centred, not at the top edge";
    }
}

// Fault mended: a FIFO blocked the window, a device or a multi-GB file was
// read whole. Each is refused with a message naming the reason.
TEST(AppFiles, PipesDevicesAndHugeFilesAreRefused)
{
    TempDir t;
    ASSERT_EQ(mkfifo(t.file("fifo.asm").c_str(), 0600), 0);
    // Sparse: they take no room on the disk.
    write_file(t.file("huge.bin"), "");
    write_file(t.file("huge.asm"), "");
    ASSERT_EQ(truncate(t.file("huge.bin").c_str(), off_t(3) << 30), 0);
    ASSERT_EQ(truncate(t.file("huge.asm").c_str(), off_t(300) << 20), 0);
    struct Case {
        std::string path;
        bool binary_command;
        const char* reason;
    } cases[] = {
        { t.file("fifo.asm"), false, "not a regular file" },
        { "/dev/zero", false, "not a regular file" },
        { t.path(), true, "not a regular file" },
        { t.file("huge.bin"), false, "256 MiB" },
        { t.file("huge.asm"), true, "256 MiB" },
    };
    for (const Case& c : cases) {
        App app;
        if (c.binary_command)
            EXPECT_FALSE(AppProbe::load_binary(app, c.path));
        else
            AppProbe::open_any(app, c.path);
        EXPECT_TRUE(AppProbe::docs(app).empty()) << c.path;
        EXPECT_EQ(AppProbe::modal(app), App::Modal::Message) << c.path;
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.error"));
        EXPECT_NE(AppProbe::dlg_text(app).find(c.reason), std::string::npos) << AppProbe::dlg_text(app);
        EXPECT_NE(AppProbe::dlg_text(app).find(c.path), std::string::npos);
    }
}

// Fault mended: a save replaced the file with a fresh one (mode lost), wrote
// a new file over a symbolic link, and a failed write lost the old text.
TEST(AppFiles, SaveKeepsModeFollowsLinksAndKeepsTheOldFileOnFailure)
{
    TempDir t;
    std::string real = t.file("real.asm"), link = t.file("link.asm");
    write_file(real, "old\n");
    chmod(real.c_str(), 0751);
    ASSERT_EQ(symlink("real.asm", link.c_str()), 0);

    App app;
    AppProbe::open_any(app, link);
    Doc* d = AppProbe::source(app);
    d->ed.set_text("new text\n");
    d->ed.set_modified(true);
    bool then_ran = false;
    AppProbe::cmd_save(app, [&] { then_ran = true; });
    EXPECT_TRUE(then_ran);
    EXPECT_FALSE(d->ed.modified());
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(read_file(real), "new text\n");
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("file.saved", "link.asm"));
    EXPECT_EQ(last_of(AppProbe::msgs(app)).first, L10n::tr("file.saved", link));
    EXPECT_FALSE(has_temp_files(t.path()));

    // A disk that fills up: writes past 64 bytes fail (EFBIG stands in for
    // ENOSPC). The old text stays, the error is shown, nothing goes on.
    d->ed.set_text(std::string(200, 'x') + "\n");
    d->ed.set_modified(true);
    then_ran = false;
    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    AppProbe::cmd_save(app, [&] { then_ran = true; });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(then_ran);
    EXPECT_TRUE(d->ed.modified());
    EXPECT_EQ(read_file(real), "new text\n");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("file.save_failed", link));
    EXPECT_FALSE(has_temp_files(t.path()));
}

// Fault mended: two windows on one file, the second save silently replaced
// the first's work. A file changed or replaced on disk since it was opened
// or saved here is not overwritten unasked: Overwrite, Reload or Cancel
// (the default, as either other answer loses someone's text).
TEST(AppFiles, SavingOverAFileChangedOnDiskAsks)
{
    TempDir t;
    std::string src = t.file("two.asm");
    write_file(src, "first\n");
    App app;
    AppProbe::open_any(app, src);
    Doc* d = AppProbe::source(app);
    ASSERT_EQ(d->path, src);
    struct Case {
        const char* change;
        std::function<void()> make;
        int button; // 0 Overwrite, 1 Reload, 2 Cancel
        const char* disk_after;
        const char* text_after;
    };
    const Case cases[] = {
        { "rewritten in place", [&] { write_file(src, "theirs, longer\n"); }, 2, "theirs, longer\n", "mine\n" },
        { "replaced by a rename", [&] {
              write_file(src + ".new", "renamed\n");
              rename((src + ".new").c_str(), src.c_str());
          }, 1, "renamed\n", "renamed\n" },
        { "touched only", [&] {
              timespec later[2] = { { 0, UTIME_OMIT }, { time(nullptr) + 100, 0 } };
              utimensat(AT_FDCWD, src.c_str(), later, 0);
          }, 0, "mine\n", "mine\n" },
    };
    for (const Case& c : cases) {
        d->ed.set_text("mine\n");
        d->ed.set_modified(true);
        c.make();
        bool then_ran = false;
        AppProbe::cmd_save(app, [&] { then_ran = true; });
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm) << c.change;
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.changed_title"));
        EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("file.changed_text", src));
        EXPECT_EQ(AppProbe::dlg_buttons(app), (std::vector<std::string>{ L10n::tr("btn.overwrite"),
                                                                         L10n::tr("btn.reload"),
                                                                         L10n::tr("btn.cancel") + "*" }));
        ASSERT_TRUE(AppProbe::click(app, "dlg_button", c.button)) << c.change;
        EXPECT_EQ(read_file(src), c.disk_after) << c.change;
        EXPECT_EQ(d->ed.text(), c.text_after) << c.change;
        EXPECT_EQ(d->ed.modified(), c.button == 2) << c.change;
        EXPECT_EQ(then_ran, c.button == 0) << c.change;
    }

    // Building saves first, and asks the same.
    d->ed.set_text("built\n");
    d->ed.set_modified(true);
    write_file(src, "theirs again\n");
    AppProbe::cmd_build(app);
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.changed_title"));
    EXPECT_FALSE(AppProbe::building(app));
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 2));
    EXPECT_EQ(read_file(src), "theirs again\n");
    AppProbe::cmd_save(app);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0));
    EXPECT_EQ(read_file(src), "built\n");

    // Unchanged since this save: no question. A temporary file a killed
    // save left beside it (its writer is gone) is removed by this save.
    pid_t writer = fork();
    if (writer == 0) {
        std::string tmp;
        _exit(files::create_temp(src, &tmp) >= 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(has_temp_files(t.path()));
    d->ed.set_text("again\n");
    d->ed.set_modified(true);
    AppProbe::cmd_save(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    EXPECT_EQ(read_file(src), "again\n");
    EXPECT_FALSE(has_temp_files(t.path()));

    // A FIFO or a device at the name is not replaced: the save fails.
    for (bool fifo : { true, false }) {
        std::string node = t.file(fifo ? "fifo.asm" : "device.asm");
        if (fifo ? mkfifo(node.c_str(), 0600) != 0 : mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            continue; // a device needs root
        struct stat before {}, after {};
        lstat(node.c_str(), &before);
        Doc* n = add_source(app, node, "text\n");
        n->ed.set_modified(true);
        AppProbe::cmd_save(app);
        EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("file.save_failed", node));
        AppProbe::close_modal(app);
        ASSERT_EQ(lstat(node.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
    }
}

// Fault mended: Cancel in "Overwrite file?" overwrote, Discard in "Unsaved
// changes" saved: every button ran the first one's action.
TEST(AppFiles, CancelAndDiscardDoWhatTheySay)
{
    TempDir t;
    std::string bin = t.file("prog.bin");
    App app;
    ASSERT_NE(edited_binary(app, bin, std::string("\x90\x90\xC3", 3)), nullptr);
    AppProbe::cmd_save_binary(app, false, false);
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
    EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("dlg.overwrite_bin", bin));
    EXPECT_EQ(AppProbe::dlg_buttons(app),
              (std::vector<std::string>{ L10n::tr("btn.overwrite") + "*", L10n::tr("btn.cancel") }));
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1));
    EXPECT_EQ(read_file(bin), std::string("\x90\x90\xC3", 3));
    AppProbe::cmd_save_binary(app, false, false);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0));
    EXPECT_EQ(read_file(bin), std::string("\xCC\x90\xC3", 3));

    std::string src = t.file("a.asm");
    write_file(src, "saved\n");
    AppProbe::open_any(app, src);
    Doc* s = AppProbe::source(app);
    s->ed.set_text("edited\n");
    s->ed.set_modified(true);
    int went_on = 0;
    AppProbe::confirm_discard(app, [&] { ++went_on; });
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("dlg.unsaved_title"));
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1)); // Discard
    EXPECT_EQ(went_on, 1);
    EXPECT_EQ(read_file(src), "saved\n");
    AppProbe::confirm_discard(app, [&] { ++went_on; });
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 2)); // Cancel
    EXPECT_EQ(went_on, 1);
    AppProbe::confirm_discard(app, [&] { ++went_on; });
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0)); // Save
    EXPECT_EQ(went_on, 2);
    EXPECT_EQ(read_file(src), "edited\n");
}

TEST(AppFiles, QuitAsksForEachModifiedDocumentAndCancelKeepsEarlierAnswers)
{
    TempDir t;
    write_file(t.file("a.asm"), "a\n");
    write_file(t.file("b.asm"), "b\n");
    App app;
    Doc* a = add_source(app, t.file("a.asm"), "a2\n");
    Doc* b = add_source(app, t.file("b.asm"), "b2\n");
    a->ed.set_modified(true);
    b->ed.set_modified(true);
    AppProbe::cmd_quit(app);
    EXPECT_NE(AppProbe::dlg_text(app).find("a.asm"), std::string::npos);
    EXPECT_EQ(AppProbe::front(app), a);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0)); // Save a, then ask on
    EXPECT_EQ(read_file(t.file("a.asm")), "a2\n");
    EXPECT_NE(AppProbe::dlg_text(app).find("b.asm"), std::string::npos);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 2)); // Cancel
    EXPECT_FALSE(AppProbe::quitting(app));
    EXPECT_FALSE(a->ed.modified());
    EXPECT_TRUE(b->ed.modified());
    AppProbe::cmd_quit(app);
    EXPECT_NE(AppProbe::dlg_text(app).find("b.asm"), std::string::npos) << "a is not asked again";
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1)); // Discard
    EXPECT_TRUE(AppProbe::quitting(app));
    EXPECT_EQ(read_file(t.file("b.asm")), "b\n");
}

TEST(AppFiles, ClosingAModifiedDocumentAsksFirst)
{
    TempDir t;
    write_file(t.file("a.asm"), "a\n");
    App app;
    Doc* a = add_source(app, t.file("a.asm"), "a2\n");
    Doc* other = add_source(app, t.file("b.asm"), "b\n");
    a->ed.set_modified(true);
    AppProbe::close_doc(app, a, false);
    EXPECT_EQ(AppProbe::front(app), a);
    EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("dlg.unsaved_text", "a.asm"));
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 2)); // Cancel
    EXPECT_EQ(AppProbe::docs(app).size(), 2u);
    AppProbe::close_doc(app, a, false);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0)); // Save, then close
    EXPECT_EQ(read_file(t.file("a.asm")), "a2\n");
    ASSERT_EQ(AppProbe::docs(app).size(), 1u);
    other->ed.set_modified(true);
    AppProbe::close_doc(app, other, false);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1)); // Discard
    EXPECT_TRUE(AppProbe::docs(app).empty());
    EXPECT_FALSE(file_exists(t.file("b.asm")));
}

// Fault mended: a file command while a file dialog was open handed that
// dialog's answer to the other command (Save As over the file picked to
// open); and a document closed during its Save As left a dangling pointer.
TEST(AppFiles, FileCommandsWaitForThePendingDialogAndClosedDocumentsAreNotSaved)
{
    TempDir t;
    std::string picked = t.file("picked.asm");
    write_file(picked, "keep me\n");
    App app;
    Doc* s = add_source(app, "", "unsaved work\n");
    s->ed.set_modified(true);
    platform::setForcedDialogResult(picked);
    AppProbe::cmd_open(app);
    ASSERT_EQ(AppProbe::file_op(app), App::FileOp::OpenSrc);
    AppProbe::cmd_save_as(app);
    EXPECT_EQ(AppProbe::file_op(app), App::FileOp::OpenSrc);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("file.dialog_busy"));
    AppProbe::cmd_open_binary(app);
    EXPECT_EQ(AppProbe::file_op(app), App::FileOp::OpenSrc);
    finish_dialog(app);
    EXPECT_EQ(read_file(picked), "keep me\n");
    ASSERT_NE(AppProbe::find_doc(app, picked, false), nullptr);
    EXPECT_EQ(AppProbe::front(app)->ed.text(), "keep me\n");

    // Save As for a document that closes before the answer arrives.
    std::string target = t.file("target.asm");
    AppProbe::activate(app, s);
    platform::setForcedDialogResult(target);
    int after = 0;
    AppProbe::cmd_save_as(app, [&] { ++after; });
    ASSERT_EQ(AppProbe::file_op(app), App::FileOp::SaveSrcAs);
    AppProbe::close_doc(app, s, true);
    finish_dialog(app);
    EXPECT_FALSE(file_exists(target));
    EXPECT_EQ(after, 0);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
}

TEST(AppFiles, AnOpenedExecutableStartsUnderTheDebugger)
{
    TempDir t;
    std::string exe = t.file("prog");
    std::string err = nasm_build("global _start\n_start:\n    mov eax, 60\n    xor edi, edi\n    syscall\n", exe,
                                 "elf64");
    ASSERT_EQ(err, "");
    {
        App app;
        AppProbe::open_any(app, exe);
        ASSERT_NE(AppProbe::find_doc(app, exe, true), nullptr);
        EXPECT_TRUE(AppProbe::debugging(app));
        // Opened again: the program is stopped first, the document reloaded.
        AppProbe::open_any(app, exe);
        EXPECT_EQ(AppProbe::docs(app).size(), 1u);
    }
    chmod(exe.c_str(), 0644);
    App app;
    AppProbe::open_any(app, exe);
    EXPECT_FALSE(AppProbe::debugging(app)) << "not executable: only shown";
}

// Fault mended: opening a binary again dropped its unsaved byte edits.
TEST(AppFiles, ReopeningAnEditedBinaryAsksFirst)
{
    TempDir t;
    std::string bin = t.file("p.bin");
    App app;
    Doc* b = edited_binary(app, bin, std::string("\x90\xC3", 2));
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(AppProbe::load_binary(app, bin));
    ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
    EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.reload_title"));
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1)); // Cancel
    EXPECT_EQ(b->img.m_data[0], 0xCC);
    EXPECT_TRUE(b->img.m_dirty);
    AppProbe::load_binary(app, bin);
    ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0)); // Reload
    EXPECT_EQ(b->img.m_data[0], 0x90);
    EXPECT_FALSE(b->img.m_dirty);
    EXPECT_EQ(AppProbe::docs(app).size(), 1u);
}

// The stand-in portal on a private session bus answers open and save.
TEST(AppFiles, OpenAndSaveThroughThePortal)
{
    if (access("/usr/bin/dbus-run-session", X_OK) != 0)
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
    TempDir t;
    PortalBus bus;
    ASSERT_TRUE(bus.start(t.path(), true)) << bus.errors();
    std::string old_bus = getenv("DBUS_SESSION_BUS_ADDRESS") ? getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    unsetenv("QXASM_NO_PORTAL");
    setenv("QXASM_PARENT_WINDOW", "", 1);

    std::string src = t.file("in.asm"), out = t.file("out.asm");
    write_file(src, "mov eax, 1\n");
    App app;
    ASSERT_TRUE(bus.command("plan early 0 file://" + src));
    AppProbe::cmd_open(app);
    ASSERT_EQ(AppProbe::file_op(app), App::FileOp::OpenSrc);
    finish_dialog(app);
    Doc* d = AppProbe::find_doc(app, src, false);
    ASSERT_NE(d, nullptr);
    std::vector<std::string> f;
    ASSERT_TRUE(bus.next(&f));
    ASSERT_GE(f.size(), 6u);
    EXPECT_EQ(f[1], "OpenFile");
    EXPECT_EQ(f[5], L10n::tr("file.open"));

    d->ed.set_text("mov eax, 2\n");
    d->ed.set_modified(true);
    int after = 0;
    ASSERT_TRUE(bus.command("plan early 0 file://" + out));
    AppProbe::cmd_save_as(app, [&] { ++after; });
    finish_dialog(app);
    ASSERT_TRUE(bus.next(&f));
    EXPECT_EQ(f[1], "SaveFile");
    EXPECT_EQ(read_file(out), "mov eax, 2\n");
    EXPECT_EQ(read_file(src), "mov eax, 1\n");
    EXPECT_EQ(d->path, out);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(AppProbe::settings(app).source, out);

    // Cancelled: the continuation is dropped.
    ASSERT_TRUE(bus.command("plan early 1"));
    d->ed.set_modified(true);
    AppProbe::cmd_save_as(app, [&] { ++after; });
    finish_dialog(app);
    EXPECT_EQ(after, 1);
    bus.stop();
    setenv("DBUS_SESSION_BUS_ADDRESS", old_bus.c_str(), 1);
}

// Without a portal the in-window prompt asks for the path.
TEST(AppFiles, PathPromptStandsInForTheFileChooser)
{
    TempDir t;
    setenv("QXASM_NO_PORTAL", "1", 1);
    std::string old_home = getenv("HOME") ? getenv("HOME") : "";
    std::string existing = t.file("there.asm");
    write_file(existing, "there\n");
    {
        App app;
        setenv("HOME", t.path().c_str(), 1);
        Doc* d = add_source(app, "", "text\n");
        d->ed.set_modified(true);
        AppProbe::cmd_save_as(app);
        finish_dialog(app);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Prompt);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.save_as"));
        EXPECT_EQ(AppProbe::dlg_label(app), L10n::tr("dlg.path"));
        EXPECT_EQ(AppProbe::dlg_field(app).text, t.path() + "/");
        // A file command while the prompt stands for the dialog is refused.
        AppProbe::cmd_open(app);
        EXPECT_EQ(AppProbe::file_op(app), App::FileOp::None);
        AppProbe::key(app, SDLK_END);
        AppProbe::text_input(app, "there.asm");
        AppProbe::key(app, SDLK_RETURN);
        ASSERT_EQ(AppProbe::modal(app), App::Modal::Confirm);
        EXPECT_EQ(AppProbe::dlg_text(app), L10n::tr("dlg.overwrite_text", existing));
        ASSERT_TRUE(AppProbe::click(app, "dlg_button", 1)); // Cancel
        EXPECT_EQ(read_file(existing), "there\n");

        // Again: Overwrite, then once more to its own path, asked nothing.
        AppProbe::cmd_save_as(app);
        finish_dialog(app);
        AppProbe::key(app, SDLK_END);
        AppProbe::text_input(app, "there.asm");
        AppProbe::key(app, SDLK_RETURN);
        ASSERT_TRUE(AppProbe::click(app, "dlg_button", 0)); // Overwrite
        EXPECT_EQ(read_file(existing), "text\n");
        d->ed.set_modified(true);
        AppProbe::cmd_save_as(app);
        finish_dialog(app);
        EXPECT_EQ(AppProbe::dlg_field(app).text, existing);
        AppProbe::key(app, SDLK_RETURN);
        EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
        EXPECT_FALSE(d->ed.modified());
    }
    {
        // The prefilled folder is selected: a typed name replaces it and
        // lands in that folder, not in the working directory.
        App app;
        setenv("HOME", t.path().c_str(), 1);
        Doc* d = add_source(app, "", "hi\n");
        AppProbe::cmd_save_as(app);
        finish_dialog(app);
        AppProbe::text_input(app, "hi.asm");
        AppProbe::key(app, SDLK_RETURN);
        EXPECT_EQ(read_file(t.file("hi.asm")), "hi\n");
        EXPECT_EQ(d->path, t.file("hi.asm"));
        EXPECT_EQ(AppProbe::status(app), L10n::tr("file.saved", "~/hi.asm"));
        ASSERT_FALSE(AppProbe::settings(app).recent.empty());
        EXPECT_EQ(AppProbe::settings(app).recent[0], t.file("hi.asm"));
        // The binary prompts say what they are for.
        AppProbe::cmd_open_binary(app);
        finish_dialog(app);
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.open_binary"));
    }
    {
        App app;
        unsetenv("HOME");
        AppProbe::cmd_open(app);
        finish_dialog(app);
        EXPECT_EQ(AppProbe::dlg_field(app).text, "/");
        EXPECT_EQ(AppProbe::dlg_title(app), L10n::tr("file.open"));
    }
    setenv("HOME", old_home.c_str(), 1);
    unsetenv("QXASM_NO_PORTAL");
}

// Files in the work folder (an untitled build's output) are never recent
// files, nor is one an earlier run left in the lists.
TEST(AppFiles, WorkFilesAreNotRecentFiles)
{
    std::string work = tc::temp_dir();
    ASSERT_FALSE(work.empty());
    std::string dir = work + "/doc-1";
    mkdir(dir.c_str(), 0700);
    write_file(dir + "/untitled.asm", "nop\n");
    write_file(dir + "/untitled", std::string(64, '\0'));
    App app;
    AppProbe::open_any(app, dir + "/untitled.asm");
    AppProbe::open_any(app, dir + "/untitled");
    ASSERT_EQ(AppProbe::docs(app).size(), 2u);
    EXPECT_TRUE(AppProbe::settings(app).recent.empty());
    EXPECT_TRUE(AppProbe::settings(app).recent_bin.empty());

    std::string earlier = dir_name(work) + "/run-1-abcdef/doc-1/untitled";
    AppProbe::settings(app).recent_bin = { earlier };
    for (const App::MenuItem& row : AppProbe::menu_items(app, 0))
        EXPECT_EQ(row.label.find("run-1-abcdef"), std::string::npos) << row.label;
}

TEST(AppFiles, FileStateStringsAreWrittenReadAndPruned)
{
    TempDir t;
    std::string lines;
    for (int i = 0; i < 30; ++i)
        lines += "line " + std::to_string(i) + "\n";
    App app;
    Doc* s = add_source(app, t.file("s.asm"), lines);
    s->ed.set_view(12, 4, 3);
    s->ed.breakpoints = { 7, 20 };
    AppProbe::store_file_state(app, s);
    EXPECT_EQ(AppProbe::settings(app).fstate[t.file("s.asm")], "c:12,4,3;b:7,20");
    Doc* b = AppProbe::new_doc(app, true);
    b->img.m_path = t.file("p.bin");
    b->bps = { 0x10, 0x1A };
    AppProbe::store_file_state(app, b);
    EXPECT_EQ(AppProbe::settings(app).fstate[t.file("p.bin")], "a:10,1a");
    b->bps.clear();
    AppProbe::store_file_state(app, b);
    EXPECT_EQ(AppProbe::settings(app).fstate.count(t.file("p.bin")), 0u);

    // Read back: malformed items are skipped, lines past the end dropped.
    App other;
    AppProbe::settings(other).fstate[t.file("s.asm")] = "x;c:5,2,1;zz:1;b:3,abc,99,-1,4,30,31;q:1";
    AppProbe::settings(other).fstate[t.file("p.bin")] = "a:10,zz,ff;c:1,2";
    Doc* s2 = add_source(other, t.file("s.asm"), lines);
    AppProbe::apply_file_state(other, s2);
    EXPECT_EQ(s2->ed.caret().line, 5);
    EXPECT_EQ(s2->ed.caret().col, 2);
    EXPECT_EQ(s2->ed.line_count(), 31);
    EXPECT_EQ(s2->ed.breakpoints, (std::set<int>{ 3, 4, 30 }));
    Doc* b2 = AppProbe::new_doc(other, true);
    b2->img.m_path = t.file("p.bin");
    AppProbe::apply_file_state(other, b2);
    EXPECT_EQ(b2->bps, (std::set<uint64_t>{ 0x10, 0xff }));

    // Pruning starts above 300 entries and drops only vanished files.
    App many;
    for (int i = 0; i < 301; ++i) {
        std::string f = t.file("f" + std::to_string(i));
        write_file(f, "");
        AppProbe::settings(many).fstate[f] = "c:0,0,0";
    }
    AppProbe::store_all_file_state(many);
    EXPECT_EQ(AppProbe::settings(many).fstate.size(), 301u) << "all exist: nothing pruned";
    AppProbe::settings(many).fstate["/nonexistent/gone.asm"] = "c:0,0,0";
    AppProbe::store_all_file_state(many);
    EXPECT_EQ(AppProbe::settings(many).fstate.count("/nonexistent/gone.asm"), 0u);
    EXPECT_EQ(AppProbe::settings(many).fstate.size(), 301u);
}

// Fault mended: restoring deleted the recovery file at once, so until the
// next autosave the only copy of unsaved text was in memory.
TEST(AppFiles, RecoveryKeepsTheOldFileUntilTheNewOneIsWritten)
{
    clear_recovery();
    TempDir t;
    std::string path = t.file("r.asm");
    write_file(path, "on disk\n");
    std::string untitled_file;
    {
        App app;
        Doc* a = add_source(app, path, "on disk\nedited\n");
        a->ed.set_modified(true);
        Doc* u = add_source(app, "", "scratch\n");
        u->name_hint = "hint.asm";
        u->ed.set_modified(true);
        Doc* clean = add_source(app, t.file("clean.asm"), "clean\n");
        (void)clean;
        AppProbe::autosave(app);
        EXPECT_EQ(recovery_files().size(), 2u);
        untitled_file = u->rec_file;
        std::string plain;
        ASSERT_EQ(sealed::read(a->rec_file, &plain), sealed::Result::Ok);
        EXPECT_EQ(plain, path + "\n\non disk\nedited\n");
        // The run ends without a save: the files stay (as after a crash).
    }
    App app;
    AppProbe::open_any(app, path);
    AppProbe::restore_recovered(app);
    ASSERT_EQ(AppProbe::docs(app).size(), 2u);
    Doc* a = AppProbe::find_doc(app, path, false);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->ed.text(), "on disk\nedited\n");
    EXPECT_TRUE(a->ed.modified());
    Doc* u = AppProbe::docs(app)[1].get();
    EXPECT_EQ(u->name_hint, "hint.asm");
    EXPECT_EQ(u->ed.text(), "scratch\n");
    EXPECT_EQ(AppProbe::status(app), L10n::tr("rec.status", 2));
    EXPECT_EQ(AppProbe::msgs(app).size(), 2u);
    EXPECT_EQ(first_of(AppProbe::msgs(app)).second, 2);
    // Both files are still on disk until this run writes its own.
    EXPECT_EQ(recovery_files().size(), 2u);
    EXPECT_TRUE(file_exists(untitled_file));
    AppProbe::autosave(app);
    // Replaced by this run's file (the same name when the new document
    // happens to live at the old one's address).
    EXPECT_EQ(u->rec_file, AppProbe::recovery_name(app, u));
    EXPECT_EQ(file_exists(untitled_file), untitled_file == u->rec_file);
    EXPECT_EQ(recovery_files().size(), 2u);

    // Documents saved since: their recovery files go, or older unsaved text
    // would be restored over the saved files after a crash.
    a->ed.set_text("on disk\n");
    a->ed.set_modified(false);
    u->ed.set_modified(false);
    AppProbe::autosave(app);
    EXPECT_TRUE(recovery_files().empty());

    // A recovery file equal to the open text is deleted, nothing restored.
    write_file(path, "on disk\n");
    App third;
    AppProbe::open_any(third, path);
    clear_recovery();
    mkdir(recover_dir().c_str(), 0700);
    ASSERT_TRUE(sealed::write(AppProbe::recovery_name(third, AppProbe::source(third)), path + "\n\non disk\n"));
    write_file(recover_dir() + "/broken.rec", "not sealed");
    AppProbe::restore_recovered(third);
    EXPECT_FALSE(AppProbe::source(third)->ed.modified());
    EXPECT_TRUE(AppProbe::msgs(third).empty());
    EXPECT_TRUE(recovery_files().empty());
}

// Fault mended: autosave was silently off when its folder could not be
// written, or wrote through a link planted in its place. The failure shows
// once in the status line and the messages pane, the next tick tries
// again, and after a success a new failure is shown again.
TEST(AppFiles, RecoveryThatCannotBeWrittenIsSaidOnceAndRetried)
{
    TempDir elsewhere;
    struct Case {
        const char* blocker;
        std::function<void()> plant;
    };
    const Case cases[] = {
        { "a file", [] { write_file(recover_dir(), "in the way"); } },
        { "a link", [&] { symlink(elsewhere.path().c_str(), recover_dir().c_str()); } },
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(recover_dir());
        c.plant();
        App app;
        Doc* d = add_source(app, "", "x\n");
        d->ed.set_modified(true);
        std::string said = L10n::tr("rec.write_failed", AppProbe::recovery_name(app, d));
        auto count_said = [&] {
            return std::count_if(AppProbe::msgs(app).begin(), AppProbe::msgs(app).end(),
                                 [&](const auto& m) { return m.first == said; });
        };
        AppProbe::autosave(app);
        EXPECT_EQ(AppProbe::status(app), said) << c.blocker;
        EXPECT_EQ(count_said(), 1) << c.blocker;
        d->ed.insert("y");
        AppProbe::autosave(app);
        EXPECT_EQ(count_said(), 1) << c.blocker << ": said once";
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path())) << "written through the link";

        unlink(recover_dir().c_str());
        AppProbe::autosave(app);
        EXPECT_EQ(recovery_files().size(), 1u) << c.blocker << ": the next tick writes it";

        std::filesystem::remove_all(recover_dir());
        c.plant();
        d->ed.insert("z");
        AppProbe::autosave(app);
        EXPECT_EQ(count_said(), 2) << c.blocker << ": a new failure after a success is said again";
    }
    unlink(recover_dir().c_str());
}

// Fault mended: failures to write recovery files or the settings were only
// logged. They show in the status line, once.
TEST(AppFiles, WriteFailuresShowOnceInTheStatusLine)
{
    std::filesystem::remove_all(recover_dir());
    ASSERT_TRUE(write_file(recover_dir(), "a file where the folder belongs"));
    App app;
    Doc* d = add_source(app, "", "x\n");
    d->ed.set_modified(true);
    AppProbe::autosave(app);
    EXPECT_TRUE(AppProbe::status_err(app));
    EXPECT_NE(AppProbe::status(app).find(recover_dir()), std::string::npos) << AppProbe::status(app);
    d->ed.insert("y");
    AppProbe::copy(app, "z");
    AppProbe::autosave(app);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("conv.copied") + ": z") << "said once";
    unlink(recover_dir().c_str());

    TempDir t;
    write_file(t.file("plain"), "");
    AppProbe::settings(app).m_path = t.file("plain") + "/settings.dat";
    AppProbe::save_now(app);
    EXPECT_EQ(AppProbe::status(app), L10n::tr("settings.write_failed", t.file("plain") + "/settings.dat"));
}

// ---------------------------------------------------------------------------
// The real program under a private Xvfb.

namespace {

class RealWindow : public testutil::XvfbSuite {
protected:
    std::vector<std::string> env() const
    {
        return { "DISPLAY=" + server().display(), "XDG_CONFIG_HOME=" + m_home.path(), "SDL_VIDEODRIVER=",
                 "DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=", "QXASM_NO_PORTAL=1",
                 // SDL's X11 layer leaves blocks behind in the libraries it
                 // unloads: the sanitizer build checks all but leaks here.
                 "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1" };
    }
    std::string config(const std::string& name) const { return m_home.file("qxFerndockAssemblerIDE/" + name); }

    // Starts the program without waiting for it.
    pid_t spawn(const std::vector<std::string>& args) const
    {
        std::vector<std::string> strings;
        for (char** e = environ; *e; ++e)
            strings.push_back(*e);
        for (const std::string& kv : env()) {
            std::string key = kv.substr(0, kv.find('=') + 1);
            strings.erase(std::remove_if(strings.begin(), strings.end(),
                                         [&](const std::string& s) { return s.compare(0, key.size(), key) == 0; }),
                          strings.end());
            if (kv.size() > key.size())
                strings.push_back(kv);
        }
        std::vector<std::string> argv_s = { exe_path() };
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& a : argv_s)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : strings)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }

    // Waits until fn holds or the guard runs out.
    template <typename Fn>
    bool wait_for(Fn fn) const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
        while (!fn()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    void kill_hard(pid_t pid) const
    {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }

    std::string log() const { return read_file(config("qxFerndockAssemblerIDE.log")); }

    std::vector<std::string> recovery() const
    {
        std::vector<std::string> out;
        if (DIR* d = opendir(config("recover").c_str())) {
            while (dirent* e = readdir(d))
                if (std::string n = e->d_name; n.size() > 4 && n.compare(n.size() - 4, 4, ".rec") == 0)
                    out.push_back(config("recover/" + n));
            closedir(d);
        }
        return out;
    }

    TempDir m_home;
};

} // namespace

// Typed text survives a SIGKILL, is restored at the next start, and
// survives a second SIGKILL within that start's first second.
TEST_F(RealWindow, RecoveryAfterKillsEndToEnd)
{
    TempDir t;
    std::string src = t.file("work.asm");
    write_file(src, "section .text\n");
    pid_t pid = spawn({ src });
    std::string win;
    ASSERT_TRUE(wait_for([&] {
        auto r = run({ "xdotool", "search", "--pid", std::to_string(pid) }, { "DISPLAY=" + server().display() });
        win = r.out.substr(0, r.out.find('\n'));
        return r.code == 0 && !win.empty() && log().find("first frame") != std::string::npos;
    })) << log();
    run({ "xdotool", "windowfocus", "--sync", win }, { "DISPLAY=" + server().display() });
    auto typed = run({ "xdotool", "type", "--delay", "20", "; kept" }, { "DISPLAY=" + server().display() });
    ASSERT_EQ(typed.code, 0) << typed.err;
    std::string plain;
    ASSERT_TRUE(wait_for([&] {
        auto files = recovery();
        return files.size() == 1 && sealed::read(files[0], &plain) == sealed::Result::Ok &&
               plain.find("; kept") != std::string::npos;
    })) << "no recovery file with the typed text";
    EXPECT_EQ(plain.substr(0, src.size() + 2), src + "\n\n");
    kill_hard(pid);
    EXPECT_EQ(read_file(src), "section .text\n") << "the file itself is untouched";

    // Second start: the remembered tab opens and the text comes back; killed
    // as soon as its first frame is shown, before any autosave.
    unlink(config("qxFerndockAssemblerIDE.log").c_str());
    pid = spawn({});
    ASSERT_TRUE(wait_for([&] { return log().find("first frame") != std::string::npos; }));
    kill_hard(pid);
    EXPECT_NE(log().find("unsaved changes restored: " + src), std::string::npos) << log();
    auto files = recovery();
    ASSERT_EQ(files.size(), 1u) << "the recovery file outlives a crash right after the restore";
    ASSERT_EQ(sealed::read(files[0], &plain), sealed::Result::Ok);
    EXPECT_NE(plain.find("; kept"), std::string::npos);

    // Third start, ended normally: restored again and still unsaved, so the
    // file stays for the next start.
    std::string shot = t.file("restored.png");
    unlink(config("qxFerndockAssemblerIDE.log").c_str());
    auto r = run_exe({ "--screenshot", shot }, env());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(log().find("unsaved changes restored: " + src), std::string::npos);
    EXPECT_EQ(recovery().size(), 1u);
    if (const char* keep = getenv("QX_TEST_SHOTS"))
        sh(std::string("cp '") + shot + "' '" + keep + "/'");
}

// Fault mended: paths stored in the settings are escaped, so a file name
// with a line break and the record separators comes back as it was.
TEST_F(RealWindow, OddFileNamesSurviveTheSettingsFile)
{
    TempDir t;
    std::string src = t.file(std::string("we\nird\x1e\x1f;b:1.asm"));
    write_file(src, "one\ntwo\nthree\n");
    Settings s;
    mkdir(config("").c_str(), 0700);
    s.load(config("settings.dat"));
    s.open_tabs = { "s:" + src };
    s.fstate[src] = "c:2,1,0;b:1";
    ASSERT_TRUE(s.save());
    auto r = run_exe({ "--screenshot", t.file("odd.png") }, env());
    ASSERT_EQ(r.code, 0) << r.err;
    Settings after;
    after.load(config("settings.dat"));
    EXPECT_EQ(after.open_tabs, std::vector<std::string>{ "s:" + src }) << "the tab was opened and remembered";
    EXPECT_EQ(after.fstate[src], "c:2,1,0;b:1") << "its state was applied and stored again";
    ASSERT_FALSE(after.recent.empty());
    EXPECT_EQ(after.recent[0], src);
}
