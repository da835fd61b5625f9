#include "logger.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <sstream>
#include <thread>

using namespace testutil;

// The log is process-wide state, so the cases run in one order in one test.
TEST(Logger, TailFileAndLifecycle)
{
    // Before init nothing has a path, lines reach only the tail.
    EXPECT_EQ(logger::file_path(), "");
    logger::info("before init");
    auto t = logger::tail(1);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_TRUE(std::regex_match(t[0], std::regex(R"(\d\d:\d\d:\d\d INFO  before init)"))) << t[0];

    TempDir dir;
    logger::init(dir.path(), "app");
    EXPECT_EQ(logger::file_path(), dir.file("app.log"));
    logger::info("one");
    logger::warn("two");
    logger::error("three\nwith a newline");

    // A second init changes neither the path nor the file.
    TempDir other;
    logger::init(other.path(), "other");
    EXPECT_EQ(logger::file_path(), dir.file("app.log"));
    EXPECT_FALSE(file_exists(other.file("other.log")));
    logger::info("four");

    std::string text = read_file(dir.file("app.log"));
    EXPECT_EQ(text.find("before init"), std::string::npos);
    std::regex line_re(R"(\d\d:\d\d:\d\d (INFO |WARN |ERROR) .*)");
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> got;
    while (std::getline(lines, line))
        got.push_back(line);
    ASSERT_EQ(got.size(), 5u) << text;
    EXPECT_TRUE(std::regex_match(got[0], line_re));
    EXPECT_EQ(got[0].substr(8), " INFO  one");
    EXPECT_EQ(got[1].substr(8), " WARN  two");
    EXPECT_EQ(got[2].substr(8), " ERROR three");
    EXPECT_EQ(got[3], "with a newline");
    EXPECT_EQ(got[4].substr(8), " INFO  four");

    logger::shutdown();
    logger::info("after shutdown");
    EXPECT_EQ(read_file(dir.file("app.log")), text);
    EXPECT_EQ(logger::file_path(), dir.file("app.log"));
    EXPECT_NE(first_of(logger::tail(1)).find("after shutdown"), std::string::npos);

    // The tail keeps the newest 500 lines, oldest first.
    for (int i = 1; i <= 501; ++i)
        logger::info("line " + std::to_string(i));
    auto all = logger::tail(1000);
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(first_of(all).substr(9), "INFO  line 2");
    EXPECT_EQ(last_of(all).substr(9), "INFO  line 501");
    EXPECT_TRUE(logger::tail(0).empty());
}

TEST(Logger, UnwritableDirectoryKeepsTailOnly)
{
    TempDir dir;
    // A file where the directory should be: the open fails even as root.
    write_file(dir.file("notadir"), "x");
    // Another test may already have opened the log; this test then only
    // checks the tail, which always works.
    logger::shutdown();
    logger::init(dir.file("notadir"), "app");
    logger::warn("still kept");
    EXPECT_FALSE(file_exists(dir.file("notadir/app.log")));
    EXPECT_NE(first_of(logger::tail(1)).find("still kept"), std::string::npos);
}

TEST(Logger, LinesFromManyThreadsNeverInterleave)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i)
                logger::info("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads)
        th.join();
    auto lines = logger::tail(500);
    std::regex re(R"(\d\d:\d\d:\d\d INFO  thread \d line \d+)");
    for (const auto& l : lines)
        EXPECT_TRUE(std::regex_match(l, re)) << l;
}

// A link planted at the log's name is replaced by the log, never written
// through; a FIFO there is refused instead of blocking the start.
TEST(Logger, PlantedLinkIsReplacedAndFifoRefused)
{
    TempDir dir;
    write_file(dir.file("precious"), "keep me");
    ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("app.log").c_str()), 0);
    logger::shutdown();
    logger::init(dir.path(), "app");
    logger::info("into the log");
    logger::shutdown();
    EXPECT_EQ(read_file(dir.file("precious")), "keep me");
    struct stat st {};
    ASSERT_EQ(lstat(dir.file("app.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_NE(read_file(dir.file("app.log")).find("into the log"), std::string::npos);

    TempDir fifo_dir;
    ASSERT_EQ(mkfifo(fifo_dir.file("app.log").c_str(), 0600), 0);
    logger::init(fifo_dir.path(), "app");
    logger::info("only in the tail");
    logger::shutdown();
    ASSERT_EQ(lstat(fifo_dir.file("app.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
