// Tool versions found in the background: asking never runs the tool on the
// caller's thread, each program file is asked once, a replaced one again.
#include "toolprobe.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace testutil;

namespace {

// A stand-in tool: counts its runs in `count` and answers after `pause`.
void write_tool(const std::string& path, const std::string& count, const std::string& reply,
                const char* pause = "0.3")
{
    std::string script = "#!/bin/sh\necho run >> '" + count + "'\nsleep " + pause + "\necho '" + reply + "'\n";
    std::string tmp = path + ".new";
    ASSERT_TRUE(write_file(tmp, script));
    ASSERT_EQ(chmod(tmp.c_str(), 0755), 0);
    ASSERT_EQ(rename(tmp.c_str(), path.c_str()), 0);
}

// Waits for the answer the way a painter sees it: asking again each turn.
std::optional<std::string> await_version(const std::string& path)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        if (auto v = toolprobe::version(path))
            return v;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

size_t runs(const std::string& count)
{
    std::string text = read_file(count);
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(ToolProbe, AnswersLaterOncePerProgramFileAndAgainWhenItChanges)
{
    TempDir dir;
    std::string tool = dir.file("nasm"), count = dir.file("count");
    write_tool(tool, count, "NASM version 9.1.2 compiled on Jan  1 2030");

    uint64_t before = toolprobe::generation();
    // The tool sleeps, so an answer now would mean the caller waited for it.
    EXPECT_FALSE(toolprobe::version(tool).has_value());
    EXPECT_TRUE(toolprobe::busy());
    EXPECT_FALSE(toolprobe::version(tool).has_value());

    EXPECT_EQ(await_version(tool), std::optional<std::string>("NASM version 9.1.2"));
    EXPECT_GT(toolprobe::generation(), before);
    EXPECT_EQ(toolprobe::version(tool), std::optional<std::string>("NASM version 9.1.2"));
    EXPECT_EQ(runs(count), 1u) << "asked three times, probed once";

    // An update in place (a new file under the same name) is probed again.
    write_tool(tool, count, "NASM version 9.2.0");
    EXPECT_FALSE(toolprobe::version(tool).has_value());
    EXPECT_EQ(await_version(tool), std::optional<std::string>("NASM version 9.2.0"));
    EXPECT_EQ(runs(count), 2u);
}

TEST(ToolProbe, MissingOrSilentProgramsAndThe32BitRuntime)
{
    TempDir dir;
    // Nothing there, or not executable: answered at once, nothing started.
    EXPECT_EQ(toolprobe::version(dir.file("absent")), std::optional<std::string>(""));
    ASSERT_TRUE(write_file(dir.file("plain"), "#!/bin/sh\necho 1\n"));
    EXPECT_EQ(toolprobe::version(dir.file("plain")), std::optional<std::string>(""));
    EXPECT_EQ(toolprobe::crt32(dir.file("absent")), std::optional<bool>(false));

    // A compiler that names an existing crt1.o links 32-bit programs; one that
    // names nothing does not. Both are asked in the background.
    ASSERT_TRUE(write_file(dir.file("crt1.o"), ""));
    std::string yes = dir.file("cc-yes"), no = dir.file("cc-no");
    ASSERT_TRUE(write_file(yes, "#!/bin/sh\nsleep 0.3\necho '" + dir.file("crt1.o") + "'\n"));
    ASSERT_TRUE(write_file(no, "#!/bin/sh\nsleep 0.3\necho crt1.o\n"));
    ASSERT_EQ(chmod(yes.c_str(), 0755), 0);
    ASSERT_EQ(chmod(no.c_str(), 0755), 0);
    EXPECT_FALSE(toolprobe::crt32(yes).has_value());
    EXPECT_FALSE(toolprobe::crt32(no).has_value());
    std::optional<bool> a, b;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!a || !b) && std::chrono::steady_clock::now() < until) {
        a = toolprobe::crt32(yes);
        b = toolprobe::crt32(no);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(a, std::optional<bool>(true));
    EXPECT_EQ(b, std::optional<bool>(false));
}
