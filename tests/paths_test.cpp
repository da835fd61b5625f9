#include "paths.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace testutil;

namespace {

// config_dir is decided once per process, so each case runs in a child
// with its own environment and working directory.
std::string config_dir_in_child(const std::vector<std::pair<const char*, const char*>>& env,
                                const std::string& cwd)
{
    return run_in_child(env, [&] { return chdir(cwd.c_str()) == 0 ? paths::config_dir() : std::string("no chdir"); });
}

int mode_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

TEST(Paths, ConfigDirFromXdgOrHome)
{
    TempDir tmp;
    std::string xdg = tmp.file("xdg/deeper");
    EXPECT_EQ(config_dir_in_child({ { "XDG_CONFIG_HOME", xdg.c_str() } }, tmp.path()),
              xdg + "/qxFerndockAssemblerIDE");
    EXPECT_EQ(mode_of(xdg + "/qxFerndockAssemblerIDE"), 0700);

    std::string home = tmp.file("home");
    EXPECT_EQ(config_dir_in_child({ { "XDG_CONFIG_HOME", "" }, { "HOME", home.c_str() } }, tmp.path()),
              home + "/.config/qxFerndockAssemblerIDE");
    EXPECT_TRUE(file_exists(home + "/.config/qxFerndockAssemblerIDE"));
}

TEST(Paths, NoHomeUsesWorkingDirectoryAndTakesOverOlderDirectory)
{
    TempDir tmp;
    ASSERT_EQ(mkdir(tmp.file(".qxFerndockAssembler").c_str(), 0755), 0);
    write_file(tmp.file(".qxFerndockAssembler/settings.dat"), "sealed");
    write_file(tmp.file(".qxFerndockAssembler/qxFerndockAssembler.log"), "old log");
    write_file(tmp.file(".qxFerndockAssembler/qxFerndockAssembler.log.1"), "older log");
    write_file(tmp.file(".qxFerndockAssembler/qxFerndockAssembler.lock"), "1");

    EXPECT_EQ(config_dir_in_child({ { "XDG_CONFIG_HOME", nullptr }, { "HOME", nullptr } }, tmp.path()),
              ".qxFerndockAssemblerIDE");
    EXPECT_EQ(read_file(tmp.file(".qxFerndockAssemblerIDE/settings.dat")), "sealed");
    EXPECT_FALSE(file_exists(tmp.file(".qxFerndockAssemblerIDE/qxFerndockAssembler.log")));
    EXPECT_FALSE(file_exists(tmp.file(".qxFerndockAssemblerIDE/qxFerndockAssembler.log.1")));
    EXPECT_FALSE(file_exists(tmp.file(".qxFerndockAssemblerIDE/qxFerndockAssembler.lock")));
    EXPECT_FALSE(file_exists(tmp.file(".qxFerndockAssembler")));
}

TEST(Paths, BothDirectoriesExistNothingMoves)
{
    TempDir tmp;
    std::string base = tmp.file("cfg");
    mkdir(base.c_str(), 0700);
    mkdir((base + "/qxFerndockAssembler").c_str(), 0700);
    mkdir((base + "/qxFerndockAssemblerIDE").c_str(), 0700);
    write_file(base + "/qxFerndockAssembler/qxFerndockAssembler.log", "old");
    write_file(base + "/qxFerndockAssemblerIDE/settings.dat", "new");
    config_dir_in_child({ { "XDG_CONFIG_HOME", base.c_str() } }, tmp.path());
    EXPECT_EQ(read_file(base + "/qxFerndockAssembler/qxFerndockAssembler.log"), "old");
    EXPECT_EQ(read_file(base + "/qxFerndockAssemblerIDE/settings.dat"), "new");
}

TEST(Paths, PackageKindAndSandbox)
{
    struct Case {
        const char* snap;
        const char* flatpak;
        const char* appdir;
        const char* kind;
        bool sandboxed;
    };
    const Case cases[] = {
        { "/snap/x", nullptr, "/app", "snap", true },
        { nullptr, "org.x", nullptr, "flatpak", true },
        { nullptr, nullptr, "/tmp/.mount", "appimage", false },
        { "", "", "", "plain", false },
        { nullptr, nullptr, nullptr, "plain", false },
    };
    for (const auto& c : cases) {
        auto set = [](const char* name, const char* v) { v ? setenv(name, v, 1) : unsetenv(name); };
        set("SNAP", c.snap);
        set("FLATPAK_ID", c.flatpak);
        set("APPDIR", c.appdir);
        EXPECT_STREQ(paths::package_kind(), c.kind);
        EXPECT_EQ(paths::is_sandboxed(), c.sandboxed) << c.kind;
    }
    unsetenv("SNAP");
    unsetenv("FLATPAK_ID");
    unsetenv("APPDIR");
}

TEST(Paths, ExeDirIsTheDirectoryOfThisBinary)
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    ASSERT_GT(n, 0);
    std::string self(buf, size_t(n));
    EXPECT_EQ(paths::exe_dir(), self.substr(0, self.rfind('/')));
}
