// The settings file: its exact text, the load rules with their clamps,
// escaping of hostile values and the recent-file lists.
#include "sealed_file.h"
#include "settings.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testutil;

// Cases build Settings with designated initializers naming only the fields they need.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const std::string kUnit = "\x1f";
const std::string kRec = "\x1e";

// Loads `text` as the plain content of a sealed settings file into `s`.
Settings loaded(const std::string& text, Settings s = {})
{
    TempDir dir;
    EXPECT_TRUE(sealed::write(dir.file("settings.dat"), text));
    s.load(dir.file("settings.dat"));
    return s;
}

std::string saved_text(const Settings& s)
{
    std::string text;
    EXPECT_TRUE(s.save());
    EXPECT_EQ(sealed::read(s.m_path, &text), sealed::Result::Ok);
    return text;
}

std::string joined(const std::vector<std::string>& items, const std::string& separator)
{
    std::string out;
    for (const auto& item : items)
        out += (&item == &items.front() ? "" : separator) + item;
    return out;
}

std::string geometry(const Geometry& g)
{
    return std::to_string(g.x) + " " + std::to_string(g.y) + " " + std::to_string(g.w) + " " + std::to_string(g.h)
        + (g.has_pos ? " pos" : "") + (g.maximized ? " max" : "");
}

} // namespace

TEST(Settings, DefaultsWriteTheDocumentedLines)
{
    TempDir dir;
    Settings s;
    EXPECT_FALSE(s.save()) << "no path known yet";
    s.m_path = dir.file("settings.dat");
    EXPECT_EQ(saved_text(s),
        "language=auto\ntheme=auto\nfont=14\nformat=auto\nsource=\nbinary=\nrecent=\nrecent_bin=\n"
        "main_tab=0\nbottom_tab=0\nbottom_frac=0.3\nright_w=300\nright_frac=0\nbin_split2=0\nbin_split1=0\n"
        "side_left=0\nshow_side=1\nshow_bottom=1\nfolded=\nauto_debug=1\nraw_bits=16\nargs=\nnasm_path=\n"
        "open_tabs=\nwatches=\nfind_text=\nreplace_text=\nactive_tab=0\nreg_width=64\nld_path=\n"
        "win=0 0 0 0 0 0\nlinks=\nfstate=\nescaped=1\n");
    EXPECT_FALSE(file_exists(s.m_path + ".tmp"));
}

TEST(Settings, EveryFieldRoundTripsAndEmptyEntriesAreDropped)
{
    TempDir dir;
    Settings s { .language = "de", .theme = "dark", .font = 17.5, .format = "elf32", .source = "/home/u/a.asm",
        .binary = "/bin/true", .recent = { "/a.asm", "/b.asm" }, .recent_bin = { "/bin/ls" }, .main_tab = 1,
        .bottom_tab = 2, .bottom_frac = 0.45, .right_w = 412, .right_frac = 0.25, .bin_split = 0.5,
        .bin_split1 = 0.3, .side_left = true, .show_side = false, .show_bottom = false, .folded = ",1,3,",
        .raw_bits = 32, .args = "one \"two three\"", .nasm_path = "/opt/nasm", .ld_path = "/opt/ld",
        .watches = { "wrax", "r[rsp]" }, .open_tabs = { "s:/a.asm", "b:/bin/ls" }, .active_tab = 7,
        .reg_width = 16, .auto_debug = false, .win = { -20, 30, 1024, 768, true, true },
        .links = { { "/a.asm", { "c m", "/opt/lib", "-s", true, "/inc", "b.asm" } }, { "/empty", {} },
            { "", { "c", "", "", false, "", "" } }, { "/x", { "", "", "", false, "", "inc.asm" } } },
        .fstate = { { "/a.asm", "c:3,4,1" }, { "/nostate", "" } }, .find_text = "mov", .replace_text = "lea",
        .m_path = dir.file("settings.dat") };
    std::string first = saved_text(s);
    for (const std::string& line : std::vector<std::string> { "win=-20 30 1024 768 1 1", "font=17.5",
             "recent=/a.asm" + kUnit + "/b.asm",
             "links=" + joined({ "/a.asm", "c m", "/opt/lib", "-s", "1", "/inc", "b.asm" }, kRec) + kUnit
                 + joined({ "/x", "", "", "", "0", "", "inc.asm" }, kRec),
             "fstate=/a.asm" + kRec + "c:3,4,1" })
        EXPECT_NE(first.find("\n" + line + "\n"), std::string::npos) << line;

    // Saving what was loaded must give back the very same text.
    Settings r;
    r.load(s.m_path);
    r.m_path = dir.file("again.dat");
    EXPECT_EQ(saved_text(r), first);
    EXPECT_EQ(r.links["/x"].srcs, "inc.asm");
}

TEST(Settings, LineRulesAndMissingKeys)
{
    Settings s = loaded("args=a=b\nno equals sign here\ntheme=light\ntheme=dark\nfind_text= x\r\n=orphan\nrecent="
        + kUnit + "a" + kUnit + kUnit + "b\n");
    EXPECT_EQ(s.recent, (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(s.args, "a=b");
    EXPECT_EQ(s.theme, "dark");
    EXPECT_EQ(s.find_text, " x\r");

    // Missing lists and side_left reset, missing or empty flags stay, a lone line is clamped.
    Settings old { .theme = "dark", .recent = { "/old" }, .recent_bin = { "/old" }, .side_left = true,
        .show_side = false, .watches = { "wx" }, .open_tabs = { "s:/old" }, .auto_debug = false };
    s = loaded("font=100\nshow_side=\nshow_bottom=yes\n", old);
    EXPECT_EQ(s.font, 32);
    EXPECT_TRUE(s.recent.empty() && s.recent_bin.empty() && s.open_tabs.empty() && s.watches.empty());
    EXPECT_FALSE(s.side_left || s.show_side || s.show_bottom || s.auto_debug);
    EXPECT_TRUE(loaded("auto_debug=1\n", old).auto_debug);
    EXPECT_EQ(s.theme, "dark");
    EXPECT_EQ(s.bottom_frac, 0.3);
}

TEST(Settings, NumbersAndClamps)
{
    struct DoubleCase {
        const char* line;
        double Settings::*field;
        double want;
    } doubles[] = {
        { "font=3", &Settings::font, 9 }, { "font=abc", &Settings::font, 9 }, { "font=20.5", &Settings::font, 20.5 },
        { "bottom_frac=0.05", &Settings::bottom_frac, 0.1 }, { "bottom_frac=0.95", &Settings::bottom_frac, 0.8 },
        { "right_w=100", &Settings::right_w, 200 }, { "right_w=5000", &Settings::right_w, 900 },
        { "right_frac=-1", &Settings::right_frac, 0 }, { "right_frac=0.05", &Settings::right_frac, 0.1 },
        { "right_frac=0.9", &Settings::right_frac, 0.7 }, { "bin_split2=0", &Settings::bin_split, 0 },
        { "bin_split2=0.01", &Settings::bin_split, 0.1 }, { "bin_split2=2", &Settings::bin_split, 0.95 },
        { "bin_split1=0.99", &Settings::bin_split1, 0.9 }, { "bin_split1=0.01", &Settings::bin_split1, 0.05 },
        { "bin_split1=-0.5", &Settings::bin_split1, 0 },
        // Non-finite values take the default instead of passing the clamps.
        { "font=nan", &Settings::font, 14 }, { "font=inf", &Settings::font, 14 },
        { "bottom_frac=inf", &Settings::bottom_frac, 0.3 }, { "right_w=-inf", &Settings::right_w, 300 },
        { "right_frac=nan", &Settings::right_frac, 0 }, { "bin_split2=infinity", &Settings::bin_split, 0 },
        { "bin_split1=NAN", &Settings::bin_split1, 0 },
    };
    for (const auto& c : doubles)
        EXPECT_EQ(loaded(std::string(c.line) + "\n").*c.field, c.want) << c.line;

    struct IntCase {
        const char* line;
        int32_t Settings::*field;
        int32_t want;
    } ints[] = {
        { "reg_width=12", &Settings::reg_width, 64 }, { "reg_width=8", &Settings::reg_width, 8 },
        { "reg_width= 32", &Settings::reg_width, 32 }, { "raw_bits=8", &Settings::raw_bits, 16 },
        { "raw_bits=64", &Settings::raw_bits, 64 }, { "main_tab=5", &Settings::main_tab, 1 },
        { "main_tab=-3", &Settings::main_tab, 0 }, { "bottom_tab=7", &Settings::bottom_tab, 2 },
        { "bottom_tab=1x", &Settings::bottom_tab, 1 }, { "active_tab=99", &Settings::active_tab, 99 },
        { "active_tab=-4", &Settings::active_tab, -4 }, { "active_tab=4294967297", &Settings::active_tab, 1 },
        { "active_tab=zz", &Settings::active_tab, 0 },
        { "theme=x", &Settings::reg_width, 64 }, // an odd width in memory is mended on every load
    };
    for (const auto& c : ints)
        EXPECT_EQ(loaded(std::string(c.line) + "\n", Settings { .reg_width = 12 }).*c.field, c.want) << c.line;
}

TEST(Settings, WindowGeometry)
{
    const Geometry before { 5, 6, 700, 500, true, true };
    // A token that is not a number reads as 0 and ends the reading.
    const std::pair<const char*, const char*> cases[] = { { "10 20 -5 300 1 1", "0 0 0 0" },
        { "10 20 800 600 1 0", "10 20 800 600 pos" }, { "1 2 3 20001 0 0", "0 0 0 0" },
        { "1 2 3 4 2 1", "1 2 3 4 max" }, { "1 x 9 9 1 1", "1 0 700 500" }, { "1 2", "1 2 700 500" } };
    for (const auto& [line, want] : cases)
        EXPECT_EQ(geometry(loaded("win=" + std::string(line) + "\n", Settings { .win = before }).win), want) << line;
}

TEST(Settings, LinkAndStateRecords)
{
    // Records of five fields, of seven (and more), too short, without a path, or with nothing set.
    std::string links = joined({ joined({ "/five", "", "", "", "1" }, kRec), joined({ "/off", "", "", "", "0" }, kRec),
                                 joined({ "/short", "m", "", "" }, kRec), joined({ "", "c", "", "", "1" }, kRec),
                                 joined({ "/eight", "x", "d", "e", "0", "i", "s", "ignored" }, kRec),
                                 joined({ "/kept", "m", "", "", "0" }, kRec) },
                               kUnit);
    std::string states = joined({ kRec + "nokey", "/noseparator", joined({ "/a", "c:2", "x" }, kRec) }, kUnit);
    Settings s = loaded("links=" + links + "\nfstate=" + states + "\n",
        Settings { .links = { { "/kept", { "c", "", "", false, "", "" } } }, .fstate = { { "/kept", "c:1,1,0" } } });
    ASSERT_EQ(s.links.size(), 3u);
    EXPECT_TRUE(s.links["/five"].crt);
    EXPECT_EQ(s.links["/five"].incs + s.links["/five"].srcs, "");
    const tc::LinkOpts& e = s.links["/eight"];
    EXPECT_EQ(e.libs + e.dirs + e.extra + e.incs + e.srcs + (e.crt ? "1" : "0"), "xdeis0");
    EXPECT_EQ(s.links["/kept"].libs, "m");
    EXPECT_EQ(s.fstate, (std::map<std::string, std::string> { { "/kept", "c:1,1,0" }, { "/a", "c:2" + kRec + "x" } }));
}

TEST(Settings, HostileValuesCannotInjectLines)
{
    TempDir dir;
    Settings s { .source = "/tmp/x\nnasm_path=/tmp/evil\nld_path=/tmp/evil", .binary = "C:\\new\\table",
        .recent = { "/a" + kUnit + "b", "/c\\x1F" }, .args = "\\", .open_tabs = { "s:/tab\r\nreg_width=8" },
        .links = { { "/l\nx", { "c" + kRec, "", "", false, "", "" } } },
        .fstate = { { "/p" + kRec + "q", "c:1" + kUnit + "2" } },
        .m_path = dir.file("settings.dat") };
    std::string text = saved_text(s);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 34);

    Settings r;
    r.load(s.m_path);
    EXPECT_EQ(r.nasm_path + r.ld_path, "");
    EXPECT_EQ(r.reg_width, 64);
    for (auto field : { &Settings::source, &Settings::binary, &Settings::args })
        EXPECT_EQ(r.*field, s.*field);
    EXPECT_EQ(r.recent, s.recent);
    EXPECT_EQ(r.open_tabs, s.open_tabs);
    EXPECT_EQ(r.fstate, s.fstate);
    ASSERT_EQ(r.links.count("/l\nx"), 1u);
    EXPECT_EQ(r.links["/l\nx"].libs, "c" + kRec);

    // Files from before escaping was introduced are read verbatim.
    r = loaded("source=C:\\new\\x1F\nrecent=/a\\n" + kUnit + "/b\n");
    EXPECT_EQ(r.source, "C:\\new\\x1F");
    EXPECT_EQ(r.recent, (std::vector<std::string> { "/a\\n", "/b" }));
}

TEST(Settings, BrokenOrMissingFileKeepsDefaults)
{
    TempDir dir;
    std::string path = dir.file("settings.dat");
    ASSERT_TRUE(write_file(path, "font=20\nlanguage=de\n"));
    Settings s;
    s.load(path);
    EXPECT_EQ(s.m_path, path);
    EXPECT_EQ(s.font, 14);
    EXPECT_EQ(s.language, "auto");

    // No clamp runs when nothing was read.
    Settings odd { .font = 100 };
    odd.load(dir.file("absent.dat"));
    EXPECT_EQ(odd.font, 100);
    EXPECT_TRUE(odd.save());
    EXPECT_TRUE(file_exists(dir.file("absent.dat")));
}

TEST(Settings, RecentLists)
{
    Settings s;
    for (int i = 9; i >= 1; --i)
        s.add_recent("/f" + std::to_string(i), false);
    s.add_recent("/f3", false);
    EXPECT_EQ(s.recent, (std::vector<std::string> { "/f3", "/f1", "/f2", "/f4", "/f5", "/f6", "/f7", "/f8" }));
    s.add_recent("/f9", false);
    EXPECT_EQ(s.recent, (std::vector<std::string> { "/f9", "/f3", "/f1", "/f2", "/f4", "/f5", "/f6", "/f7" }));
    EXPECT_TRUE(s.recent_bin.empty());

    s.recent_bin = { "/x", "/y", "/x" };
    s.add_recent("/x", true);
    EXPECT_EQ(s.recent_bin, (std::vector<std::string> { "/x", "/y" }));
    s.add_recent("", true);
    EXPECT_EQ(first_of(s.recent_bin), "");
}
