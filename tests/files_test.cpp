// Writing files without writing through planted links, on real files.
#include "files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
