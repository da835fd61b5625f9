// Advice for missing tools on each kind of distribution.
#include "needs.h"

#include "l10n.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
using testutil::last_of;

const tc::Distro kUbuntu
    = tc::distro_from_text("NAME=\"Ubuntu\"\nID=ubuntu\nID_LIKE=debian\nPRETTY_NAME=\"Ubuntu 24.04 LTS\"\n");
const tc::Distro kRocky = tc::distro_from_text("NAME=\"Rocky Linux\"\nID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n");
const tc::Distro kArch = tc::distro_from_text("NAME=\"Arch Linux\"\nID=arch\n");
const tc::Distro kSuse
    = tc::distro_from_text("NAME=\"openSUSE Tumbleweed\"\nID=\"opensuse-tumbleweed\"\nID_LIKE=\"opensuse suse\"\n");
const tc::Distro kFedora = tc::distro_from_text("ID=fedora\nNAME='Fedora'\n");
const tc::Distro kAlpine = tc::distro_from_text("ID=alpine\nNAME=\"Alpine Linux\"\n");

std::string command(const std::string& key, const std::string& cmd)
{
    return "    " + L10n::tr(key, cmd);
}

} // namespace

TEST(Distro, ParsesOsReleaseAndPicksCommands)
{
    EXPECT_EQ(kRocky.id, "rocky");
    EXPECT_EQ(kRocky.id_like, "rhel centos fedora");
    EXPECT_EQ(tc::os_name(kRocky), "Rocky Linux");
    EXPECT_EQ(tc::os_name(kUbuntu), "Ubuntu 24.04 LTS");
    EXPECT_EQ(tc::os_name(kFedora), "'Fedora'");
    EXPECT_EQ(tc::os_name(tc::distro_from_text("")), "Linux");
    EXPECT_EQ(tc::distro_from_text("ID_LIKE=debian\n").id, "") << "ID_LIKE must not be taken for ID";

    const std::pair<tc::Distro, const char*> searches[] = { { kArch, "pacman -Ss sdl2" },
        { kSuse, "zypper search sdl2" }, { kFedora, "dnf search sdl2" }, { kUbuntu, "apt search sdl2" },
        { kAlpine, "sdl2" } };
    for (const auto& [d, want] : searches)
        EXPECT_EQ(tc::search_command("sdl2", d), want);
    EXPECT_EQ(tc::install_command({ "nasm", "gcc" }, kSuse), "sudo zypper install nasm gcc");
    EXPECT_EQ(tc::install_command({ "nasm", "gcc" }, kAlpine), "nasm, gcc");
    EXPECT_EQ(tc::packages_for("crt32", kArch), (Lines { "lib32-glibc", "lib32-gcc-libs" }));
    EXPECT_EQ(tc::packages_for("crt32", kSuse), (Lines { "gcc-32bit", "glibc-devel-32bit" }));
    EXPECT_EQ(tc::packages_for("ld", kAlpine), (Lines { "binutils" }));
    EXPECT_TRUE(tc::packages_for("lib:m", kUbuntu).empty());
}

TEST(Needs, ItemsFromDiagnostics)
{
    std::vector<tc::Diag> diags { { 0, true, "ld", "missing:nasm" }, { 3, true, "a.asm", "missing: not a code" },
        { 0, true, "ld", "missing:nasm" }, { 0, true, "ld", "missing:lib:m" },
        { 0, true, "x", "missing-source:/a.asm" } };
    EXPECT_EQ(needs::from_diags(diags), (Lines { "nasm", " not a code", "lib:m" }));
    EXPECT_TRUE(needs::from_diags({}).empty());
}

TEST(Needs, ToolsShareOneInstallCommand)
{
    EXPECT_NE(command("need.install", "sudo apt install nasm").find("sudo apt install nasm"), std::string::npos);
    EXPECT_EQ(needs::explain({ "nasm", "ld", "nasm" }, kUbuntu, ""),
        (Lines { L10n::tr("need.nasm"), L10n::tr("need.ld"), L10n::tr("need.nasm"),
            command("need.install", "sudo apt install nasm binutils") }));
    EXPECT_EQ(needs::explain({ "crt32", "cc" }, kRocky, ""),
        (Lines { L10n::tr("need.crt32"), L10n::tr("need.cc"),
            command("need.install", "sudo dnf install glibc-devel.i686 libgcc.i686 gcc") }));
    EXPECT_EQ(last_of(needs::explain({ "crt32" }, kAlpine, "")), command("need.install", "gcc-multilib"));

    std::string line = needs::explain_line({ "nasm" });
    Lines lines = needs::explain({ "nasm" });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(line, lines[0] + " " + lines[1].substr(4));
    EXPECT_EQ(needs::explain_line({}), "");
}

TEST(Needs, LibrariesGetSearchHintsOrTheSnapNote)
{
    EXPECT_EQ(needs::explain({ "lib:-lSDL2" }, kArch, ""),
        (Lines { L10n::tr("need.lib", "-lSDL2"), command("need.search", "pacman -Ss sdl2") }));
    EXPECT_EQ(needs::explain({ "lib:-lSDL2" }, kArch, "/snap/qx/current"),
        (Lines { L10n::tr("need.lib", "-lSDL2"), "    " + L10n::tr("snap.lib") }));
    const std::pair<const char*, const char*> terms[] = { { "-l:libFoo.so.3", "foo" }, { "/opt/x/libBar.a", "bar" },
        { "libz.so", "z" }, { "lib", "lib" }, { "Qt5Core", "qt5core" } };
    for (const auto& [word, term] : terms)
        EXPECT_EQ(needs::explain({ std::string("lib:") + word }, kAlpine, ""),
            (Lines { L10n::tr("need.lib", word), command("need.search", term) }));
}
