// The settings file: its exact text, the load rules with their clamps,
// escaping of hostile values and the recent-file lists.
#include "sealed_file.h"
#include "settings.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

const std::string kUnit = "\x1f";
const std::string kRec = "\x1e";

// Loads `text` as the plain content of a sealed settings file into `s`.
void load_text(Settings& s, const std::string& text)
{
    TempDir dir;
    std::string path = dir.file("settings.dat");
    ASSERT_TRUE(sealed::write(path, text));
    s.load(path);
}

Settings loaded(const std::string& text)
{
    Settings s;
    load_text(s, text);
    return s;
}

std::string saved_text(const Settings& s)
{
    std::string text;
    EXPECT_EQ(sealed::read(s.m_path, &text), sealed::Result::Ok);
    return text;
}

} // namespace

TEST(Settings, DefaultsWriteTheDocumentedLines)
{
    TempDir dir;
    Settings s;
    s.m_path = dir.file("settings.dat");
    ASSERT_TRUE(s.save());
    EXPECT_EQ(saved_text(s),
        "language=auto\ntheme=auto\nfont=14\nformat=auto\nsource=\nbinary=\nrecent=\nrecent_bin=\n"
        "main_tab=0\nbottom_tab=0\nbottom_frac=0.3\nright_w=300\nright_frac=0\nbin_split2=0\nbin_split1=0\n"
        "side_left=0\nshow_side=1\nshow_bottom=1\nfolded=\nauto_debug=1\nraw_bits=16\nargs=\nnasm_path=\n"
        "open_tabs=\nwatches=\nfind_text=\nreplace_text=\nactive_tab=0\nreg_width=64\nld_path=\n"
        "win=0 0 0 0 0 0\nlinks=\nfstate=\nescaped=1\n");
    EXPECT_FALSE(file_exists(s.m_path + ".tmp"));

    Settings nowhere;
    EXPECT_FALSE(nowhere.save());
}

TEST(Settings, EveryFieldRoundTrips)
{
    TempDir dir;
    Settings s;
    s.m_path = dir.file("settings.dat");
    s.language = "de";
    s.theme = "dark";
    s.font = 17.5;
    s.format = "elf32";
    s.source = "/home/u/a.asm";
    s.binary = "/bin/true";
    s.recent = { "/a.asm", "/b.asm" };
    s.recent_bin = { "/bin/ls" };
    s.main_tab = 1;
    s.bottom_tab = 2;
    s.bottom_frac = 0.45;
    s.right_w = 412;
    s.right_frac = 0.25;
    s.bin_split = 0.5;
    s.bin_split1 = 0.3;
    s.side_left = true;
    s.show_side = false;
    s.show_bottom = false;
    s.folded = ",1,3,";
    s.raw_bits = 32;
    s.args = "one \"two three\"";
    s.nasm_path = "/opt/nasm";
    s.ld_path = "/opt/ld";
    s.watches = { "wrax", "r[rsp]" };
    s.open_tabs = { "s:/a.asm", "b:/bin/ls" };
    s.active_tab = 7;
    s.reg_width = 16;
    s.auto_debug = false;
    s.win = { -20, 30, 1024, 768, true, true };
    s.links["/a.asm"] = { "c m", "/opt/lib", "-s", true, "/inc", "b.asm" };
    s.links["/b.asm"] = { "", "", "", true, "", "" };
    s.fstate["/a.asm"] = "c:3,4,1";
    s.find_text = "mov";
    s.replace_text = "lea";
    ASSERT_TRUE(s.save());

    // Saving what was loaded must give back the very same text.
    Settings r;
    r.load(s.m_path);
    std::string first = saved_text(s);
    r.m_path = dir.file("again.dat");
    ASSERT_TRUE(r.save());
    EXPECT_EQ(saved_text(r), first);
    EXPECT_NE(first.find("\nwin=-20 30 1024 768 1 1\n"), std::string::npos);
    EXPECT_NE(first.find("\nfont=17.5\n"), std::string::npos);
    EXPECT_EQ(r.links["/a.asm"].srcs, "b.asm");
    EXPECT_TRUE(r.win.maximized);
}

TEST(Settings, EmptyEntriesAreNotWritten)
{
    TempDir dir;
    Settings s;
    s.m_path = dir.file("settings.dat");
    s.recent = { "", "a", "", "b" };
    s.links["/empty"] = tc::LinkOpts {};
    s.links[""] = { "c", "", "", false, "", "" };
    s.links["/x"] = { "", "", "", false, "", "inc.asm" };
    s.fstate["/nostate"] = "";
    s.fstate["/f"] = "a:401000";
    ASSERT_TRUE(s.save());
    std::string text = saved_text(s);
    EXPECT_NE(text.find("\nrecent=a" + kUnit + kUnit + "b\n"), std::string::npos);
    EXPECT_NE(text.find("\nlinks=/x" + kRec + kRec + kRec + kRec + "0" + kRec + kRec + "inc.asm\n"), std::string::npos);
    EXPECT_NE(text.find("\nfstate=/f" + kRec + "a:401000\n"), std::string::npos);

    Settings r;
    r.load(s.m_path);
    EXPECT_EQ(r.recent, (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(r.links.size(), 1u);
    EXPECT_EQ(r.fstate.size(), 1u);
}

TEST(Settings, LoneFontLineClampsAndResetsLists)
{
    Settings s;
    s.recent = { "/old" };
    s.recent_bin = { "/old" };
    s.open_tabs = { "s:/old" };
    s.watches = { "wx" };
    s.side_left = true;
    s.show_side = false;
    s.theme = "dark";
    load_text(s, "font=100\n");
    EXPECT_EQ(s.font, 32);
    EXPECT_TRUE(s.recent.empty());
    EXPECT_TRUE(s.recent_bin.empty());
    EXPECT_TRUE(s.open_tabs.empty());
    EXPECT_TRUE(s.watches.empty());
    EXPECT_FALSE(s.side_left);
    EXPECT_FALSE(s.show_side); // a missing key leaves the flag alone
    EXPECT_EQ(s.theme, "dark");
    EXPECT_EQ(s.bottom_frac, 0.3);
    EXPECT_EQ(s.reg_width, 64);
}

TEST(Settings, LineRules)
{
    Settings s = loaded("args=a=b\nno equals sign here\ntheme=light\ntheme=dark\nfind_text= x\r\n=orphan\n");
    EXPECT_EQ(s.args, "a=b");
    EXPECT_EQ(s.theme, "dark");
    EXPECT_EQ(s.find_text, " x\r");

    Settings empty_flag;
    empty_flag.show_side = false;
    load_text(empty_flag, "show_side=\nshow_bottom=yes\nauto_debug=1\n");
    EXPECT_FALSE(empty_flag.show_side);
    EXPECT_FALSE(empty_flag.show_bottom);
    EXPECT_TRUE(empty_flag.auto_debug);
}

TEST(Settings, NumbersAndClamps)
{
    struct DoubleCase {
        const char* line;
        double Settings::*field;
        double want;
    };
    const DoubleCase doubles[] = {
        { "font=3", &Settings::font, 9 },
        { "font=abc", &Settings::font, 9 },
        { "font=20.5", &Settings::font, 20.5 },
        { "bottom_frac=0.05", &Settings::bottom_frac, 0.1 },
        { "bottom_frac=0.95", &Settings::bottom_frac, 0.8 },
        { "right_w=100", &Settings::right_w, 200 },
        { "right_w=5000", &Settings::right_w, 900 },
        { "right_frac=-1", &Settings::right_frac, 0 },
        { "right_frac=0.05", &Settings::right_frac, 0.1 },
        { "right_frac=0.9", &Settings::right_frac, 0.7 },
        { "bin_split2=0", &Settings::bin_split, 0 },
        { "bin_split2=0.01", &Settings::bin_split, 0.1 },
        { "bin_split2=2", &Settings::bin_split, 0.95 },
        { "bin_split1=0.99", &Settings::bin_split1, 0.9 },
        { "bin_split1=0.01", &Settings::bin_split1, 0.05 },
        { "bin_split1=-0.5", &Settings::bin_split1, 0 },
        // Non-finite values take the default instead of passing the clamps.
        { "font=nan", &Settings::font, 14 },
        { "font=inf", &Settings::font, 14 },
        { "bottom_frac=inf", &Settings::bottom_frac, 0.3 },
        { "right_w=-inf", &Settings::right_w, 300 },
        { "right_frac=nan", &Settings::right_frac, 0 },
        { "bin_split2=infinity", &Settings::bin_split, 0 },
        { "bin_split1=NAN", &Settings::bin_split1, 0 },
    };
    for (const auto& c : doubles)
        EXPECT_EQ(loaded(std::string(c.line) + "\n").*c.field, c.want) << c.line;

    struct IntCase {
        const char* line;
        int32_t Settings::*field;
        int32_t want;
    };
    const IntCase ints[] = {
        { "reg_width=12", &Settings::reg_width, 64 },
        { "reg_width=8", &Settings::reg_width, 8 },
        { "reg_width= 32", &Settings::reg_width, 32 },
        { "raw_bits=8", &Settings::raw_bits, 16 },
        { "raw_bits=64", &Settings::raw_bits, 64 },
        { "main_tab=5", &Settings::main_tab, 1 },
        { "main_tab=-3", &Settings::main_tab, 0 },
        { "bottom_tab=7", &Settings::bottom_tab, 2 },
        { "bottom_tab=1x", &Settings::bottom_tab, 1 },
        { "active_tab=99", &Settings::active_tab, 99 },
        { "active_tab=-4", &Settings::active_tab, -4 },
        { "active_tab=4294967297", &Settings::active_tab, 1 },
        { "active_tab=zz", &Settings::active_tab, 0 },
    };
    for (const auto& c : ints)
        EXPECT_EQ(loaded(std::string(c.line) + "\n").*c.field, c.want) << c.line;

    Settings odd;
    odd.reg_width = 12;
    load_text(odd, "theme=x\n");
    EXPECT_EQ(odd.reg_width, 64);
}

TEST(Settings, WindowGeometry)
{
    Settings bad = loaded("win=10 20 -5 300 1 1\n");
    EXPECT_EQ(bad.win.x, 0);
    EXPECT_EQ(bad.win.y, 0);
    EXPECT_EQ(bad.win.w, 0);
    EXPECT_EQ(bad.win.h, 0);
    EXPECT_FALSE(bad.win.has_pos);
    EXPECT_FALSE(bad.win.maximized);

    Settings good = loaded("win=10 20 800 600 1 0\n");
    EXPECT_EQ(good.win.x, 10);
    EXPECT_EQ(good.win.w, 800);
    EXPECT_EQ(good.win.h, 600);
    EXPECT_TRUE(good.win.has_pos);
    EXPECT_FALSE(good.win.maximized);

    EXPECT_EQ(loaded("win=1 2 3 20001 0 0\n").win.w, 0);
    EXPECT_FALSE(loaded("win=1 2 3 4 2 1\n").win.has_pos);

    // A token that is not a number reads as 0 and ends the reading.
    Settings partial;
    partial.win = { 5, 6, 700, 500, true, true };
    load_text(partial, "win=1 x 9 9 1 1\n");
    EXPECT_EQ(partial.win.x, 1);
    EXPECT_EQ(partial.win.y, 0);
    EXPECT_EQ(partial.win.w, 700);
    EXPECT_EQ(partial.win.h, 500);
    EXPECT_FALSE(partial.win.has_pos);

    Settings shorter;
    shorter.win = { 5, 6, 700, 500, true, false };
    load_text(shorter, "win=1 2\n");
    EXPECT_EQ(shorter.win.x, 1);
    EXPECT_EQ(shorter.win.y, 2);
    EXPECT_EQ(shorter.win.w, 700);
    EXPECT_FALSE(shorter.win.has_pos);
}

TEST(Settings, LinkAndStateRecords)
{
    Settings s;
    s.links["/kept"] = { "c", "", "", false, "", "" };
    s.fstate["/kept"] = "c:1,1,0";
    load_text(s,
        "links=/five" + kRec + kRec + kRec + kRec + "1" + kUnit + "/off" + kRec + kRec + kRec + kRec + "0" + kUnit
            + "/short" + kRec + "m" + kRec + kRec + kUnit + kRec + "c" + kRec + kRec + kRec + "1" + kUnit + "/eight"
            + kRec + "x" + kRec + "d" + kRec + "e" + kRec + "0" + kRec + "i" + kRec + "s" + kRec + "ignored" + kUnit
            + "/kept" + kRec + "m" + kRec + kRec + kRec + "0\n"
            + "fstate=" + kRec + "nokey" + kUnit + "/noseparator" + kUnit + "/a" + kRec + "c:2" + kRec + "x\n");
    ASSERT_EQ(s.links.count("/five"), 1u);
    EXPECT_TRUE(s.links["/five"].crt);
    EXPECT_EQ(s.links["/five"].incs, "");
    EXPECT_EQ(s.links["/five"].srcs, "");
    EXPECT_EQ(s.links.count("/off"), 0u);
    EXPECT_EQ(s.links.count("/short"), 0u);
    EXPECT_EQ(s.links.count(""), 0u);
    EXPECT_EQ(s.links["/eight"].libs, "x");
    EXPECT_EQ(s.links["/eight"].dirs, "d");
    EXPECT_EQ(s.links["/eight"].extra, "e");
    EXPECT_EQ(s.links["/eight"].incs, "i");
    EXPECT_EQ(s.links["/eight"].srcs, "s");
    EXPECT_EQ(s.links["/kept"].libs, "m");
    EXPECT_EQ(s.links.size(), 3u);

    EXPECT_EQ(s.fstate.size(), 2u);
    EXPECT_EQ(s.fstate["/kept"], "c:1,1,0");
    EXPECT_EQ(s.fstate["/a"], "c:2" + kRec + "x");
}

TEST(Settings, HostileValuesCannotInjectLines)
{
    TempDir dir;
    Settings s;
    s.m_path = dir.file("settings.dat");
    s.source = "/tmp/x\nnasm_path=/tmp/evil\nld_path=/tmp/evil";
    s.binary = "C:\\new\\table";
    s.recent = { "/a" + kUnit + "b", "/c\\x1F" };
    s.open_tabs = { "s:/tab\r\nreg_width=8" };
    s.fstate["/p" + kRec + "q"] = "c:1" + kUnit + "2";
    s.links["/l\nx"] = { "c" + kRec, "", "", false, "", "" };
    s.args = "\\";
    ASSERT_TRUE(s.save());

    std::string text = saved_text(s);
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lines, 34u);

    Settings r;
    r.load(s.m_path);
    EXPECT_EQ(r.source, s.source);
    EXPECT_EQ(r.nasm_path, "");
    EXPECT_EQ(r.ld_path, "");
    EXPECT_EQ(r.reg_width, 64);
    EXPECT_EQ(r.binary, s.binary);
    EXPECT_EQ(r.recent, s.recent);
    EXPECT_EQ(r.open_tabs, s.open_tabs);
    EXPECT_EQ(r.fstate, s.fstate);
    ASSERT_EQ(r.links.count("/l\nx"), 1u);
    EXPECT_EQ(r.links["/l\nx"].libs, "c" + kRec);
    EXPECT_EQ(r.args, "\\");
}

TEST(Settings, PlainFilesFromEarlierVersionsReadVerbatim)
{
    Settings s = loaded("source=C:\\new\\x1F\nrecent=/a\\n" + kUnit + "/b\n");
    EXPECT_EQ(s.source, "C:\\new\\x1F");
    EXPECT_EQ(s.recent, (std::vector<std::string> { "/a\\n", "/b" }));
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
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(read_file(path + ".manipuliert"), "font=20\nlanguage=de\n");

    // No clamp runs when nothing was read.
    Settings odd;
    odd.font = 100;
    odd.load(dir.file("absent.dat"));
    EXPECT_EQ(odd.font, 100);
    EXPECT_TRUE(odd.save());
    EXPECT_TRUE(file_exists(dir.file("absent.dat")));
}

TEST(Settings, RecentLists)
{
    Settings s;
    for (int i = 8; i >= 1; --i)
        s.add_recent("/f" + std::to_string(i), false);
    ASSERT_EQ(s.recent.size(), 8u);
    EXPECT_EQ(s.recent[0], "/f1");
    EXPECT_EQ(s.recent[2], "/f3");

    s.add_recent("/f3", false);
    EXPECT_EQ(s.recent, (std::vector<std::string> { "/f3", "/f1", "/f2", "/f4", "/f5", "/f6", "/f7", "/f8" }));

    s.add_recent("/f9", false);
    EXPECT_EQ(s.recent.size(), 8u);
    EXPECT_EQ(s.recent.front(), "/f9");
    EXPECT_EQ(s.recent.back(), "/f7");
    EXPECT_TRUE(s.recent_bin.empty());

    s.recent_bin = { "/x", "/y", "/x" };
    s.add_recent("/x", true);
    EXPECT_EQ(s.recent_bin, (std::vector<std::string> { "/x", "/y" }));
    s.add_recent("", true);
    EXPECT_EQ(s.recent_bin.front(), "");
}
