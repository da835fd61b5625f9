// Writing files without writing through planted links, on real files.
#include "binimage.h"
#include "files.h"
#include "gfx.h"
#include "logger.h"
#include "qxcrash.h"
#include "qxcrash_detail.h"
#include "sealed_file.h"
#include "settings.h"
#include "testutil.h"
#include "toolchain.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace testutil;

namespace {

bool is_regular(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

TEST(Files, OpenRegularReplacesLinksAndRefusesOddFiles)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious"), "keep me"));
    ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere/at/all").c_str(), dir.file("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    ASSERT_TRUE(write_file(dir.file("plain"), "old text"));
    struct Case {
        const char* name;
        bool opens;
    } cases[] = { { "link", true }, { "dangling", true }, { "fifo", false }, { "folder", false },
                  { "plain", true }, { "new", true } };
    for (const auto& c : cases) {
        int fd = files::open_regular(dir.file(c.name), O_WRONLY | O_TRUNC, 0600);
        EXPECT_EQ(fd >= 0, c.opens) << c.name;
        if (fd < 0)
            continue;
        EXPECT_TRUE(files::write_all(fd, "new", 3));
        close(fd);
        EXPECT_TRUE(is_regular(dir.file(c.name))) << c.name;
        EXPECT_EQ(read_file(dir.file(c.name)), "new") << c.name;
    }
    EXPECT_EQ(read_file(dir.file("precious")), "keep me");
}

TEST(Files, ReplaceAndMoveNew)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("precious"), "keep me"));
    ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("out").c_str()), 0);
    ASSERT_TRUE(write_file(dir.file("made"), "result"));
    ASSERT_EQ(chmod(dir.file("made").c_str(), 0751), 0);
    EXPECT_TRUE(files::replace(dir.file("made"), dir.file("out")));
    EXPECT_EQ(read_file(dir.file("out")), "result");
    EXPECT_EQ(read_file(dir.file("precious")), "keep me");

    // Across file systems the bytes and the mode come along, and a link at
    // the target is still replaced.
    struct stat shm {}, here {};
    if (stat("/dev/shm", &shm) == 0 && stat(dir.path().c_str(), &here) == 0 && shm.st_dev != here.st_dev) {
        char tmpl[] = "/dev/shm/qxfiles-XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(files::write_all(fd, "far away", 8));
        fchmod(fd, 0751);
        close(fd);
        ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("far").c_str()), 0);
        EXPECT_TRUE(files::replace(tmpl, dir.file("far")));
        EXPECT_EQ(read_file(dir.file("far")), "far away");
        EXPECT_FALSE(file_exists(tmpl));
        struct stat st {};
        ASSERT_EQ(lstat(dir.file("far").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0751u);
        EXPECT_EQ(read_file(dir.file("precious")), "keep me");
    }
    EXPECT_FALSE(files::replace(dir.file("absent"), dir.file("out")));

    // move_new never replaces anything, not even a link.
    ASSERT_TRUE(write_file(dir.file("a"), "a"));
    EXPECT_FALSE(files::move_new(dir.file("a"), dir.file("out")));
    EXPECT_FALSE(files::move_new(dir.file("a"), dir.file("far").c_str()));
    ASSERT_EQ(symlink("nowhere", dir.file("dangling").c_str()), 0);
    EXPECT_FALSE(files::move_new(dir.file("a"), dir.file("dangling")));
    EXPECT_TRUE(files::move_new(dir.file("a"), dir.file("b")));
    EXPECT_EQ(read_file(dir.file("b")), "a");
    EXPECT_FALSE(file_exists(dir.file("a")));
}

namespace {

// What a test needs to know that a node is still the very same one.
struct Node {
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;
    dev_t rdev = 0;
    bool operator==(const Node&) const = default;
};

Node node_at(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return {};
    return { st.st_dev, st.st_ino, st.st_mode, st.st_rdev };
}

// Makes a FIFO, a character device (the null device's numbers: writing to
// it loses nothing), a socket or a folder at `path`. False when this
// process may not (a device needs root).
bool make_node(char kind, const std::string& path)
{
    switch (kind) {
    case 'p': return mkfifo(path.c_str(), 0600) == 0;
    case 'c': return mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    case 's': return mknod(path.c_str(), S_IFSOCK | 0600, 0) == 0;
    default: return mkdir(path.c_str(), 0700) == 0;
    }
}

} // namespace

// Fault mended: every writer deleted a device, FIFO or socket found at its
// output name and put a regular file there (as root, "--render-icon 64
// /dev/null" deleted the system's null device). Now the node stays as it
// was, the same inode and device numbers, and the write fails. The headless
// modes run as real processes.
TEST(Files, WritersLeaveDevicesFifosSocketsAndFoldersAlone)
{
    TempDir dir;
    const std::string bin_src = dir.file("t.asm"), elf_src = dir.file("p.asm");
    ASSERT_TRUE(write_file(bin_src, "org 0x100\nmov ax, 1\n"));
    ASSERT_TRUE(write_file(elf_src, "global _start\n_start:\n    mov eax, 60\n    xor edi, edi\n    syscall\n"));
    ASSERT_TRUE(write_file(dir.file("image"), "\x90\xC3"));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    const bool have_nasm = !tc::find_tool("nasm").empty();
    const bool have_ld = !tc::find_tool("ld").empty();
    std::string config = dir.file("config");
    mkdir(config.c_str(), 0700);
    // Fontconfig and SDL leave blocks behind that a sanitizer build counts.
    const std::vector<std::string> env { "XDG_CONFIG_HOME=" + config, "SDL_VIDEODRIVER=dummy", "ASAN_OPTIONS=detect_leaks=0" };

    struct Case {
        const char* writer;
        const char* name; // where the node goes, in the folder
        std::function<bool(const std::string&)> write;
        bool process; // a headless mode: a FIFO and a device are enough
    };
    const Case cases[] = {
        { "file helper", "out", [](const std::string& p) { return files::write_file(p, "x", 0644) == files::Fail::None; }, false },
        { "picture", "pic.png", [&](const std::string& p) { return gfx::write_png(surface, p, nullptr); }, false },
        { "binary save", "img", [&](const std::string& p) {
              BinImage img;
              return img.load(dir.file("image")) && img.save(p);
          }, false },
        { "settings", "settings.dat", [](const std::string& p) {
              Settings s;
              s.m_path = p;
              return s.save();
          }, false },
        { "recovery", "x.rec", [](const std::string& p) { return sealed::write(p, "text"); }, false },
        { "log", "app.log", [](const std::string& p) {
              logger::init(p.substr(0, p.rfind('/')), "app");
              logger::info("written");
              logger::shutdown();
              struct stat st {};
              return lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
          }, false },
        { "log rotation", "old.log.1", [&](const std::string& p) {
              std::string log = p.substr(0, p.size() - 2);
              return write_file(log, "log") && !qxcrash::rotate_log(log).empty();
          }, false },
        { "crash report", "crash_report.txt", [](const std::string& p) {
              int fd = qxcrash::detail::open_fresh(p.c_str());
              if (fd >= 0)
                  close(fd);
              return fd >= 0;
          }, false },
        { "crash log copy", "crash_log.txt", [&](const std::string& p) { return qxcrash::detail::file_copy(bin_src, p); }, false },
        { "build bin", "t.bin", [&](const std::string& p) {
              return have_nasm && tc::build(bin_src, tc::Format::Bin, p, {}).ok;
          }, false },
        { "--build bin", "t.bin", [&](const std::string&) { return run_exe({ "--build", bin_src, "bin" }, env).code == 0; }, true },
        { "--build elf64", "p", [&](const std::string&) { return run_exe({ "--build", elf_src, "elf64" }, env).code == 0; }, true },
        { "--render-icon", "icon.png", [&](const std::string& p) { return run_exe({ "--render-icon", "16", p }, env).code == 0; }, true },
        { "--screenshot", "shot.png", [&](const std::string& p) { return run_exe({ "--screenshot", p }, env).code == 0; }, true },
    };
    for (const Case& c : cases) {
        if ((std::string(c.writer).find("build") != std::string::npos && !have_nasm)
            || (std::string(c.writer) == "--build elf64" && !have_ld))
            continue;
        for (char kind : { 'p', 'c', 's', 'd' }) {
            if (c.process && (kind == 's' || kind == 'd'))
                continue;
            std::string path = dir.file(c.name);
            if (!make_node(kind, path)) {
                ASSERT_EQ(kind, 'c') << c.writer;
                continue; // no devices without root
            }
            Node before = node_at(path);
            EXPECT_FALSE(c.write(path)) << c.writer << " over kind " << kind;
            EXPECT_EQ(node_at(path), before) << c.writer << " replaced kind " << kind;
            if (kind == 'd')
                rmdir(path.c_str());
            else
                unlink(path.c_str());
        }
        // The same writer puts a file where nothing was: the refusal is
        // the node's, not the writer's.
        std::string path = dir.file(c.name);
        EXPECT_TRUE(c.write(path)) << c.writer;
        struct stat st {};
        EXPECT_TRUE(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) << c.writer;
        unlink(path.c_str());
    }
    cairo_surface_destroy(surface);
}

// Fault mended: killing the window while it saved a large file left
// "big.asm.tmp-…" beside the file for good. Temporary files whose writer
// is gone are removed; a live writer's, one of other naming and a FIFO
// named like one stay.
TEST(Files, TemporaryFilesOfKilledWritersAreRemoved)
{
    TempDir dir;
    const std::string target = dir.file("big.asm");
    // A writer that made its temporary file and waits to be killed.
    auto start_writer = [&](std::string* name) {
        int fds[2];
        if (pipe(fds) != 0)
            return pid_t(-1);
        pid_t pid = fork();
        if (pid == 0) {
            std::string tmp;
            if (files::create_temp(target, &tmp) < 0)
                _exit(1);
            tmp += '\n';
            files::write_all(fds[1], tmp.data(), tmp.size());
            pause();
            _exit(0);
        }
        close(fds[1]);
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        close(fds[0]);
        if (n > 0)
            name->assign(buf, size_t(n) - 1);
        return pid;
    };
    auto end = [](pid_t pid) {
        int status = 0;
        kill(pid, SIGKILL);
        return waitpid(pid, &status, 0) == pid;
    };
    std::string killed, alive;
    pid_t first = start_writer(&killed);
    pid_t second = start_writer(&alive);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ASSERT_TRUE(file_exists(killed));
    ASSERT_TRUE(file_exists(alive));
    ASSERT_TRUE(end(first));
    const std::string other = target + ".tmp-Ab3dEf";
    const std::string fifo = target + ".tmp-" + std::to_string(first) + "-fifo00";
    ASSERT_TRUE(write_file(other, "not ours to judge"));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    EXPECT_EQ(files::remove_stale_temps(target), 1);
    EXPECT_FALSE(file_exists(killed));
    EXPECT_TRUE(file_exists(alive)) << "its writer still works on it";
    EXPECT_TRUE(file_exists(other));
    EXPECT_TRUE(file_exists(fifo));

    ASSERT_TRUE(end(second));
    EXPECT_EQ(files::remove_stale_temps(target), 1);
    EXPECT_FALSE(file_exists(alive));
}
