// The disassembly job polled to completion on real programs, its names
// and memory check, refusing the empty placeholder, its own copy of the
// tool paths, and leaving a running worker when the job goes away.
#include "disjob.h"
#include "testutil.h"
#include "toolchain.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace testutil;

namespace {

bool have(const char* tool) { return run({ tool, "--version" }).code == 0 || run({ tool, "-v" }).code == 0; }

// Polls like the main loop: a zero-time look each turn.
DisJob::Outcome poll_to_end(DisJob& job)
{
    while (!job.ready())
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    return job.take();
}

// A NASM program of the disassembly cases, built and loaded.
bool hello(const TempDir& dir, BinImage* img)
{
    std::string exe = dir.file("hello");
    std::string src = read_file(tests_dir() + "/cases/disasm-source/hello64.asm");
    return !src.empty() && nasm_build(src, exe, "elf64").empty() && img->load(exe);
}

TEST(DisJobNames, SourceNamesSizesAndMemory)
{
    struct Case {
        std::string path, name;
    };
    for (const Case& c : std::vector<Case> { { "/x/.hidden", ".hidden.asm" }, { "/x/a.out", "a.asm" },
             { "", "program.asm" }, { "/x/prog", "prog.asm" }, { "/x/v1.2.bin", "v1.2.asm" } })
        EXPECT_EQ(DisJob::source_name(c.path), c.name) << c.path;
    EXPECT_EQ(DisJob::human_bytes(500ULL << 20), "500 MB");
    EXPECT_EQ(DisJob::human_bytes(3ULL << 29), "1.5 GB");
    EXPECT_EQ(DisJob::memory_needed(20ULL << 20), 1164ULL << 20);
    EXPECT_FALSE(DisJob::memory_ok(20ULL << 20, uint64_t(1.4 * double(1ULL << 30))));
    EXPECT_TRUE(DisJob::memory_ok(20ULL << 20, 2ULL << 30));
    EXPECT_FALSE(DisJob::memory_ok(1, 1));
    EXPECT_TRUE(DisJob::memory_ok(1ULL << 40, 0));

    setenv("QXASM_TEST_MEMAVAIL", "1", 1);
    EXPECT_EQ(DisJob::memory_available(), 1u);
    setenv("QXASM_TEST_MEMAVAIL", "lots", 1);
    EXPECT_EQ(DisJob::memory_available(), 0u);
    unsetenv("QXASM_TEST_MEMAVAIL");
    EXPECT_GT(DisJob::memory_available(), 0u);
}

// The placeholder document has an empty image: nothing to convert.
TEST(DisJobStart, RefusesAnEmptyImage)
{
    BinImage empty;
    std::string err;
    EXPECT_EQ(DisJob::start(empty, &err), nullptr);
    EXPECT_EQ(err, "empty");
}

TEST(DisJobRun, NasmProgramVerifies)
{
    if (!have("nasm") || !have("ld"))
        GTEST_SKIP() << "nasm and ld are needed";
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(hello(dir, &img));
    std::string err;
    auto job = DisJob::start(img, &err);
    ASSERT_NE(job, nullptr) << err;
    EXPECT_EQ(job->name(), "hello.asm");
    // The job has its own copy: the document may change meanwhile.
    img.m_data.assign(img.m_data.size(), 0);
    DisJob::Outcome out = poll_to_end(*job);
    EXPECT_FALSE(out.no_memory);
    EXPECT_EQ(out.error, "");
    EXPECT_TRUE(out.result.verified) << out.result.why;
    EXPECT_NE(out.result.source.find("syscall"), std::string::npos);
}

TEST(DisJobRun, CProgramConverts)
{
    if (!have("nasm") || !have("cc"))
        GTEST_SKIP() << "nasm and cc are needed";
    TempDir dir;
    std::string src = dir.file("p.c"), exe = dir.file("p");
    ASSERT_TRUE(write_file(src, "#include <stdio.h>\nint main(void) { puts(\"hi\"); return 3; }\n"));
    RunResult cc = run({ "cc", "-O1", "-o", exe, src });
    ASSERT_EQ(cc.code, 0) << cc.err;
    BinImage img;
    ASSERT_TRUE(img.load(exe));
    std::string err;
    auto job = DisJob::start(img, &err);
    ASSERT_NE(job, nullptr) << err;
    DisJob::Outcome out = poll_to_end(*job);
    EXPECT_EQ(out.error, "");
    EXPECT_TRUE(out.result.buildable) << out.result.why;
    EXPECT_TRUE(out.result.link.crt);
    EXPECT_NE(out.result.source.find("main"), std::string::npos);
}

// The settings dialog may rewrite the tool paths while a job runs: the job
// keeps the paths it started with.
TEST(DisJobRun, KeepsTheToolPathsItStartedWith)
{
    if (!have("nasm") || !have("ld"))
        GTEST_SKIP() << "nasm and ld are needed";
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(hello(dir, &img));
    tc::set_tool_path("nasm", dir.file("no-such-nasm"));
    std::string err;
    auto job = DisJob::start(img, &err);
    tc::set_tool_path("nasm", "");
    ASSERT_NE(job, nullptr) << err;
    DisJob::Outcome out = poll_to_end(*job);
    EXPECT_FALSE(out.result.verified);
    EXPECT_EQ(out.result.why.rfind("missing:", 0), 0u) << out.result.why;
    // And the other way round: a job started with working paths is not
    // disturbed by a broken override set after it started.
    auto good = DisJob::start(img, &err);
    tc::set_tool_path("nasm", dir.file("no-such-nasm"));
    DisJob::Outcome ok = poll_to_end(*good);
    tc::set_tool_path("nasm", "");
    EXPECT_TRUE(ok.result.verified) << ok.result.why;
}

// Quitting while a job runs: the job is destroyed at once (no wait for the
// whole conversion) and the worker finishes on its own data.
TEST(DisJobRun, GoingAwayWhileRunning)
{
    if (!have("nasm") || !have("ld"))
        GTEST_SKIP() << "nasm and ld are needed";
    TempDir dir;
    BinImage img;
    ASSERT_TRUE(hello(dir, &img));
    for (int i = 0; i < 5; ++i) {
        std::string err;
        auto job = DisJob::start(img, &err);
        ASSERT_NE(job, nullptr) << err;
        job.reset();
    }
    // A cancelled job still delivers an outcome, marked as cancelled.
    std::string err;
    auto job = DisJob::start(img, &err);
    ASSERT_NE(job, nullptr);
    job->cancel();
    DisJob::Outcome out = poll_to_end(*job);
    EXPECT_TRUE(out.error == "cancelled" || out.result.verified) << out.error;
    EXPECT_EQ(job->take().error, "taken");
    // Give the abandoned workers time to end before the process does.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

} // namespace
