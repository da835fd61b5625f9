// Advice for missing tools on each kind of distribution.
#include "needs.h"

#include "l10n.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

tc::Distro from(const char* os_release)
{
    return tc::distro_from_text(os_release);
}

const char* kUbuntu = "NAME=\"Ubuntu\"\nID=ubuntu\nID_LIKE=debian\nPRETTY_NAME=\"Ubuntu 24.04 LTS\"\n";
const char* kRocky = "NAME=\"Rocky Linux\"\nID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n";
const char* kArch = "NAME=\"Arch Linux\"\nID=arch\n";
const char* kSuse = "NAME=\"openSUSE Tumbleweed\"\nID=\"opensuse-tumbleweed\"\nID_LIKE=\"opensuse suse\"\n";
const char* kFedora = "ID=fedora\nNAME='Fedora'\n";
const char* kAlpine = "ID=alpine\nNAME=\"Alpine Linux\"\n";

tc::Diag missing(const std::string& what)
{
    return { 0, true, "ld", "missing:" + what };
}

} // namespace

TEST(Distro, ParsesOsRelease)
{
    tc::Distro d = from(kRocky);
    EXPECT_EQ(d.id, "rocky");
    EXPECT_EQ(d.id_like, "rhel centos fedora");
    EXPECT_EQ(tc::os_name(d), "Rocky Linux");
    EXPECT_EQ(tc::os_name(from(kUbuntu)), "Ubuntu 24.04 LTS");
    EXPECT_EQ(tc::os_name(from(kFedora)), "'Fedora'");
    EXPECT_EQ(tc::os_name(from("")), "Linux");
    // ID_LIKE must not be taken for ID.
    EXPECT_EQ(from("ID_LIKE=debian\n").id, "");
}

TEST(Distro, CommandsPerRow)
{
    EXPECT_EQ(tc::search_command("sdl2", from(kArch)), "pacman -Ss sdl2");
    EXPECT_EQ(tc::search_command("sdl2", from(kSuse)), "zypper search sdl2");
    EXPECT_EQ(tc::search_command("sdl2", from(kFedora)), "dnf search sdl2");
    EXPECT_EQ(tc::search_command("sdl2", from(kUbuntu)), "apt search sdl2");
    EXPECT_EQ(tc::search_command("sdl2", from(kAlpine)), "sdl2");
    EXPECT_EQ(tc::install_command({ "nasm", "gcc" }, from(kSuse)), "sudo zypper install nasm gcc");
    EXPECT_EQ(tc::install_command({ "nasm", "gcc" }, from(kAlpine)), "nasm, gcc");
    EXPECT_EQ(tc::packages_for("crt32", from(kArch)), (std::vector<std::string> { "lib32-glibc", "lib32-gcc-libs" }));
    EXPECT_EQ(tc::packages_for("crt32", from(kSuse)), (std::vector<std::string> { "gcc-32bit", "glibc-devel-32bit" }));
    EXPECT_EQ(tc::packages_for("crt32", from(kAlpine)), (std::vector<std::string> { "gcc-multilib" }));
    EXPECT_EQ(tc::packages_for("ld", from(kAlpine)), (std::vector<std::string> { "binutils" }));
    EXPECT_TRUE(tc::packages_for("lib:m", from(kUbuntu)).empty());
}

TEST(Needs, ItemsFromDiagnostics)
{
    std::vector<tc::Diag> diags { missing("nasm"), { 3, true, "a.asm", "missing: not a code" }, missing("nasm"),
                                  missing("lib:m"), { 0, true, "x", "missing-source:/a.asm" } };
    EXPECT_EQ(needs::from_diags(diags), (std::vector<std::string> { "nasm", " not a code", "lib:m" }));
    EXPECT_TRUE(needs::from_diags({}).empty());
}

TEST(Needs, ToolsOnUbuntu)
{
    auto lines = needs::explain({ "nasm", "ld", "nasm" }, from(kUbuntu), "");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L10n::tr("need.nasm"));
    EXPECT_EQ(lines[1], L10n::tr("need.ld"));
    EXPECT_EQ(lines[3], "    " + L10n::tr("need.install", "sudo apt install nasm binutils"));
    EXPECT_NE(lines[3].find("sudo apt install nasm binutils"), std::string::npos);
}

TEST(Needs, Crt32OnRhelLikeAndUnknownDistributions)
{
    auto lines = needs::explain({ "crt32", "cc" }, from(kRocky), "");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L10n::tr("need.crt32"));
    EXPECT_EQ(lines[1], L10n::tr("need.cc"));
    EXPECT_EQ(lines[2], "    " + L10n::tr("need.install", "sudo dnf install glibc-devel.i686 libgcc.i686 gcc"));

    lines = needs::explain({ "crt32" }, from(kAlpine), "");
    EXPECT_EQ(lines.back(), "    " + L10n::tr("need.install", "gcc-multilib"));
}

TEST(Needs, LibrariesGetSearchHintsOrTheSnapNote)
{
    auto lines = needs::explain({ "lib:-lSDL2" }, from(kArch), "");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L10n::tr("need.lib", "-lSDL2"));
    EXPECT_EQ(lines[1], "    " + L10n::tr("need.search", "pacman -Ss sdl2"));

    struct Case {
        const char* word;
        const char* term;
    } cases[] = { { "-l:libFoo.so.3", "foo" }, { "/opt/x/libBar.a", "bar" }, { "libz.so", "z" },
                  { "lib", "lib" }, { "Qt5Core", "qt5core" } };
    for (const auto& c : cases) {
        lines = needs::explain({ std::string("lib:") + c.word }, from(kAlpine), "");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], "    " + L10n::tr("need.search", c.term)) << c.word;
    }

    lines = needs::explain({ "lib:-lSDL2" }, from(kArch), "/snap/qx/current");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "    " + L10n::tr("snap.lib"));
}

TEST(Needs, OneLineForm)
{
    EXPECT_EQ(needs::explain_line({}), "");
    std::string line = needs::explain_line({ "nasm" });
    auto lines = needs::explain({ "nasm" });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(line, lines[0] + " " + lines[1].substr(4));
}
