// Step effects and snapshots against real programs built with nasm and ld at
// test time (sources in tests/data/stepfx/), stepped through real ptrace.
#include "stepfx.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>

using namespace testutil;

namespace {

class StepFx : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        s_dir = new TempDir;
        for (std::string name : { "effects", "bigmem" }) {
            std::string err
                = nasm_build(read_file(tests_dir() + "/data/stepfx/" + name + ".s"), s_dir->file(name), "elf64");
            s_error += err.empty() ? "" : name + ": " + err;
            s_syms[name] = symbols(s_dir->file(name));
        }
    }

    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override { ASSERT_TRUE(s_error.empty()) << s_error; }

    void TearDown() override
    {
        m_proc.kill();
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    static uint64_t sym(const std::string& prog, const std::string& name)
    {
        auto it = s_syms[prog].find(name);
        EXPECT_NE(it, s_syms[prog].end()) << name;
        return it == s_syms[prog].end() ? 0 : it->second;
    }

    // The next stop or exit, or a failure after ten seconds.
    testing::AssertionResult wait_stop(const std::string& reason = "")
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            std::vector<dbg::Event> ev;
            m_proc.poll(&ev);
            for (const auto& e : ev) {
                if (e.kind == dbg::Event::Output)
                    continue;
                if (e.kind == dbg::Event::Stopped && (reason.empty() || e.text == reason))
                    return testing::AssertionSuccess();
                return testing::AssertionFailure() << "event " << e.kind << " '" << e.text << "'";
            }
            usleep(200);
        }
        return testing::AssertionFailure() << "no stop within 10 s";
    }

    void start(const std::string& prog)
    {
        std::string err;
        ASSERT_TRUE(m_proc.start(s_dir->file(prog), {}, "", true, &err)) << err;
        ASSERT_TRUE(wait_stop("entry"));
    }

    void run_to(uint64_t addr)
    {
        if (m_proc.pc() == addr)
            return;
        ASSERT_TRUE(m_proc.run_to(addr));
        ASSERT_TRUE(wait_stop());
        ASSERT_EQ(m_proc.pc(), addr);
    }

    // One armed single step with its effect recorded under `line`.
    void step(int line, const stepfx::Pointee& pointee = nullptr)
    {
        stepfx::arm_step(m_fx, m_proc);
        ASSERT_TRUE(m_fx.armed);
        ASSERT_TRUE(m_proc.step());
        ASSERT_TRUE(wait_stop("step"));
        stepfx::record_effect(m_fx, m_proc, line, pointee);
        EXPECT_FALSE(m_fx.armed);
    }

    uint64_t reg(const char* name)
    {
        uint64_t v = 0;
        EXPECT_TRUE(m_proc.reg(name, &v)) << name;
        return v;
    }

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_error;
    static inline std::map<std::string, std::map<std::string, uint64_t>> s_syms;

    dbg::Process m_proc;
    stepfx::StepState m_fx;
    stepfx::Snapshot m_snap;
};

uint64_t fx(const std::string& name)
{
    return StepFx::sym("effects", name);
}

TEST_F(StepFx, EachInstructionKindWritesItsEffect)
{
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    // Each case: the labelled instruction and the text its step must leave,
    // built from the registers seen just before the step.
    struct Case {
        const char* label;
        std::function<std::string(StepFx&)> expect;
    };
    const std::string A8 = "4141414141414141";
    const Case cases[] = {
        // The pushed slot lies below the old stack pointer, not at it.
        { "s_push",
          [&](StepFx& t) {
              return "rsp -8  [" + upper_hex(t.reg("rsp") - 8) + "] " + A8 + "\u21921122334455667788";
          } },
        { "s_call",
          [&](StepFx& t) {
              return "rsp -8  [" + upper_hex(t.reg("rsp") - 8) + "] " + A8 + "\u2192" + upper_hex(fx("s_back"));
          } },
        { "s_ret", [](StepFx&) { return std::string("rsp +8"); } },
        // One round of the copy: counters move and the first byte lands.
        { "s_rep",
          [](StepFx& t) {
              uint64_t si = t.reg("rsi"), di = t.reg("rdi");
              return "rcx 5\u21924  rsi " + upper_hex(si) + "\u2192" + upper_hex(si + 1) + "  rdi " + upper_hex(di) + "\u2192" + upper_hex(di + 1)
                  + "  [" + upper_hex(fx("copy")) + "] 0\u219268 'h'";
          } },
        { "s_cmp", [](StepFx&) { return std::string("PF 0\u21921  ZF 0\u21921  SF 1\u21920"); } },
        { "s_jne", [](StepFx&) { return std::string("\u2193"); } },
        { "s_jz", [](StepFx&) { return "\u2192 " + upper_hex(fx("s_taken")); } },
        { "s_enter",
          [&](StepFx& t) {
              uint64_t sp = t.reg("rsp");
              return "rbp -8  rsp -28  [" + upper_hex(sp - 8) + "] " + A8 + "\u2192" + upper_hex(t.reg("rbp"));
          } },
        // The flags as the program has them: without the trap flag the
        // debugger's own single step sets.
        { "s_pushf",
          [&](StepFx& t) {
              return "rsp -8  [" + upper_hex(t.reg("rsp") - 8) + "] " + A8 + "\u2192" + upper_hex(t.reg("eflags"));
          } },
        { "s_store_new", [](StepFx&) { return "[" + upper_hex(fx("lower")) + "] 68\u219248 'h'\u2192'H'"; } },
        { "s_store_same", [](StepFx&) { return "[" + upper_hex(fx("upper")) + "] =48"; } },
        // rcx and r11 take the return address and the flags; the flags are
        // read after the step, the rest is known.
        { "s_write",
          [](StepFx&) { return "rax 1\u21925  rcx 0\u2192" + upper_hex(fx("s_write_done")) + "  r11 0\u2192"; } },
        { "s_close",
          [](StepFx&) {
              return "rax 3\u2192FFFFFFFFFFFFFFF7 = -EBADF (Bad file descriptor)  rcx 0\u2192" + upper_hex(fx("s_close_done"))
                  + "  r11 0\u2192";
          } },
        { "s_mov60", [](StepFx&) { return std::string("rax FFFFFFFFFFFFFFF7\u21923C"); } },
    };
    int line = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_NO_FATAL_FAILURE(run_to(fx(c.label)));
        std::string want = c.expect(*this);
        ASSERT_NO_FATAL_FAILURE(step(line));
        if (want.ends_with("r11 0\u2192"))
            want += upper_hex(reg("r11"));
        EXPECT_EQ(m_fx.effects[fx(c.label)], want);
        EXPECT_EQ(m_fx.line_effects[line], want);
        ++line;
    }
    EXPECT_EQ(m_fx.effects.size(), std::size(cases));
}

TEST_F(StepFx, RegisterChangeCarriesThePointeeAndAnEmptyEffectClearsTheNote)
{
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    // cld with the direction flag already clear changes nothing visible:
    // its step removes the notes an earlier step left there.
    uint64_t cld = fx("s_rep") - 1;
    ASSERT_NO_FATAL_FAILURE(run_to(cld));
    m_fx.effects[cld] = "stale";
    m_fx.line_effects[9] = "stale";
    ASSERT_NO_FATAL_FAILURE(step(9));
    EXPECT_EQ(m_fx.effects.count(cld), 0u);
    EXPECT_EQ(m_fx.line_effects.count(9), 0u);

    // The pointee text follows the new value of a register change.
    uint64_t text = fx("text");
    auto pointee = [&](uint64_t v) { return v == text + 1 ? std::string("text+0x1 'ello'") : std::string(); };
    ASSERT_NO_FATAL_FAILURE(step(10, pointee));
    std::string want = "rcx 5\u21924  rsi " + upper_hex(text) + "\u2192" + upper_hex(text + 1) + " text+0x1 'ello'  rdi ";
    EXPECT_EQ(m_fx.line_effects[10].rfind(want, 0), 0u) << m_fx.line_effects[10];
}

TEST_F(StepFx, ContinuingOffAPushfLeavesNoTrapFlagInTheProgram)
{
    // Leaving a stop at pushf takes one hidden single step; the flags it
    // pushes, popped again by popfq, must not turn on tracing in the program.
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    ASSERT_NO_FATAL_FAILURE(run_to(fx("s_pushf")));
    ASSERT_NO_FATAL_FAILURE(run_to(fx("s_store_new")));
    EXPECT_EQ(reg("eflags") & 0x100, 0u);
    ASSERT_TRUE(m_proc.cont());
    std::string out;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         m_proc.state() != dbg::State::Exited && std::chrono::steady_clock::now() < until;) {
        std::vector<dbg::Event> ev;
        m_proc.poll(&ev);
        for (const auto& e : ev) {
            if (e.kind == dbg::Event::Stopped) {
                ADD_FAILURE() << "stopped: " << e.text << " at " << upper_hex(e.addr);
                m_proc.cont();
            }
        }
        usleep(200);
    }
    EXPECT_EQ(m_proc.state(), dbg::State::Exited);
    EXPECT_EQ(m_proc.exit_code(), 0);
}

TEST_F(StepFx, ArmingNeedsAStoppedTracedProcess)
{
    stepfx::arm_step(m_fx, m_proc);
    EXPECT_FALSE(m_fx.armed);
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    stepfx::arm_step(m_fx, m_proc);
    EXPECT_TRUE(m_fx.armed);
    EXPECT_EQ(m_fx.arm_pc, fx("_start"));
    EXPECT_EQ(m_fx.arm_next, fx("_start") + 10); // mov rax, imm64
    EXPECT_FALSE(m_fx.arm_jump);
    EXPECT_EQ(m_fx.arm_regs.count("rip"), 1u);
    stepfx::disarm(m_fx);
    EXPECT_FALSE(m_fx.armed);
}

TEST_F(StepFx, EffectsAboveTheLimitAreEmptiedWhole)
{
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    for (uint64_t i = 0; i <= stepfx::kMaxEffects; ++i)
        m_fx.effects[0x100000 + i] = "x";
    m_fx.line_effects[3] = "kept";
    ASSERT_NO_FATAL_FAILURE(step(0));
    ASSERT_EQ(m_fx.effects.size(), 1u);
    EXPECT_EQ(m_fx.effects.begin()->first, fx("_start"));
    EXPECT_EQ(m_fx.effects.begin()->second, "rax 0\u21924141414141414141");
    EXPECT_EQ(m_fx.line_effects[3], "kept");
}

TEST(StepFxNames, ErrorNamesComeFromTheReference)
{
    struct {
        int err;
        const char* name;
        const char* text;
    } cases[] = { { 9, "EBADF", "Bad file descriptor" },
                  { 2, "ENOENT", "No such file or directory" },
                  { 13, "EACCES", "Permission denied" } };
    for (const auto& c : cases) {
        std::string name, text;
        ASSERT_TRUE(stepfx::errno_name(c.err, &name, &text)) << c.err;
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(text, c.text);
    }
    std::string name, text;
    EXPECT_FALSE(stepfx::errno_name(4000, &name, &text));
}

// ---- memory snapshots -----------------------------------------------------------------

dbg::Region rw(uint64_t start, uint64_t size, const std::string& name = "")
{
    return dbg::Region { start, start + size, true, true, false, name };
}

TEST(StepFxPlan, TheStackIsKeptAndLargeRegionsAreSkippedNotTheRest)
{
    const uint64_t M = 1024 * 1024;
    std::vector<dbg::Region> regions;
    regions.push_back({ 0x400000, 0x401000, true, false, true, "/prog" }); // code: not writable
    regions.push_back(rw(0x402000, 0x1000, "/prog"));
    for (int i = 0; i < 10; ++i)
        regions.push_back(rw(0x10000000 + uint64_t(i) * 2 * M, 4 * M));
    regions.push_back(rw(0x7f0000000000, 0x3000)); // small, after the budget ran short
    regions.push_back(rw(0x7ff000000000, 8 * M, "[stack]"));
    regions.push_back(rw(0x7ff100000000, 0x2000, "[vvar]"));
    regions.push_back(rw(0x7ff100002000, 0x2000, "[vdso]"));

    auto plan = stepfx::snapshot_plan(regions);
    uint64_t total = 0;
    std::map<uint64_t, uint64_t> parts;
    for (auto [start, len] : plan) {
        total += len;
        parts[start] = len;
    }
    EXPECT_LE(total, stepfx::kMemBudget);
    EXPECT_TRUE(std::is_sorted(plan.begin(), plan.end()));
    EXPECT_EQ(parts[0x7ff000000000 + 8 * M - 65536], 65536u) << "the stack's top 64 KiB";
    EXPECT_EQ(parts[0x402000], 0x1000u);
    EXPECT_EQ(parts[0x10000000], M) << "the first 1 MiB of a large region";
    EXPECT_EQ(parts.count(0x10000000 + 6 * 2 * M), 1u);
    EXPECT_EQ(parts.count(0x10000000 + 7 * 2 * M), 0u) << "no room left for a full part";
    EXPECT_EQ(parts[0x7f0000000000], 0x3000u) << "a later small region still fits";
    EXPECT_EQ(parts.count(0x400000), 0u);
    EXPECT_EQ(parts.count(0x7ff100000000), 0u);
    EXPECT_EQ(parts.count(0x7ff100002000), 0u);
}

TEST_F(StepFx, PushMarksTheStackBytesEvenBehindMuchWritableMemory)
{
    // Room for the program's 8 MiB stack; the child takes the limit along.
    struct rlimit old {};
    getrlimit(RLIMIT_STACK, &old);
    struct rlimit big = old;
    if (big.rlim_cur != RLIM_INFINITY && big.rlim_cur < (64u << 20))
        big.rlim_cur = big.rlim_max == RLIM_INFINITY ? (64u << 20) : std::min<rlim_t>(big.rlim_max, 64u << 20);
    setrlimit(RLIMIT_STACK, &big);
    start("bigmem");
    setrlimit(RLIMIT_STACK, &old);
    if (HasFatalFailure())
        return;
    ASSERT_NO_FATAL_FAILURE(run_to(sym("bigmem", "s_loop")));

    uint64_t writable = 0;
    for (const auto& r : m_proc.regions()) {
        if (r.w && r.name != "[stack]" && r.end < m_proc.sp())
            writable += std::min<uint64_t>(r.end - r.start, stepfx::kRegionTake);
        if (r.name == "[stack]") {
            EXPECT_GE(r.end - r.start, 8u << 20) << "the program grows its stack to 8 MiB";
        }
    }
    ASSERT_GT(writable, stepfx::kMemBudget) << "the regions below the stack alone exceed the budget";

    stepfx::snapshot_regs(m_snap, m_proc);
    stepfx::snapshot_memory(m_snap, m_proc);
    EXPECT_TRUE(m_snap.mem_changed.empty());
    ASSERT_NO_FATAL_FAILURE(run_to(sym("bigmem", "s_push")));
    ASSERT_NO_FATAL_FAILURE(step(0));
    stepfx::snapshot_regs(m_snap, m_proc);
    stepfx::snapshot_memory(m_snap, m_proc);

    uint64_t total = 0;
    for (const auto& [start, bytes] : m_snap.mem_snap)
        total += bytes.size();
    EXPECT_LE(total, stepfx::kMemBudget);
    // r13 is 1 at the first push; the slot below the old stack pointer
    // held 0, so its lowest byte is the one change.
    uint64_t slot = m_proc.sp();
    EXPECT_EQ(m_snap.regs_now["rsp"] + 8, m_snap.prev_regs["rsp"]);
    EXPECT_EQ(m_snap.mem_changed, std::set<uint64_t> { slot });
}

TEST_F(StepFx, RegisterSnapshotKeepsThePreviousStopAndItsPointees)
{
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    uint64_t text = fx("text");
    int calls = 0;
    auto pointee = [&](uint64_t v) {
        ++calls;
        return v == text ? std::string("'hello'") : std::string();
    };
    stepfx::snapshot_regs(m_snap, m_proc, pointee);
    int per_stop = calls;
    EXPECT_EQ(per_stop, int(m_proc.reg_list().size()));
    ASSERT_NO_FATAL_FAILURE(run_to(fx("s_rep")));
    stepfx::snapshot_regs(m_snap, m_proc, pointee);
    EXPECT_EQ(m_snap.regs_now["rsi"], text);
    EXPECT_EQ(m_snap.prev_regs["rsi"], 0u);
    EXPECT_EQ(m_snap.pointees["rsi"], "'hello'");
    EXPECT_EQ(m_snap.pointees.count("rdi"), 0u);
    EXPECT_EQ(calls, 2 * per_stop);
}

} // namespace

namespace {

TEST_F(StepFx, DataLabelsAndChangedBytesAtAStop)
{
    BinImage img;
    std::string err;
    ASSERT_TRUE(img.load(s_dir->file("effects"), &err)) << err;
    ASSERT_NO_FATAL_FAILURE(start("effects"));
    stepfx::snapshot_vars(m_snap, m_proc, img);
    stepfx::snapshot_memory(m_snap, m_proc);

    auto text_of = [](const stepfx::Variable& v) { return std::string(v.bytes.begin(), v.bytes.end()); };
    auto check = [&](const std::vector<std::string>& want) {
        ASSERT_EQ(m_snap.vars.size(), 4u);
        const char* names[] = { "text", "copy", "lower", "upper" };
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(m_snap.vars[i].name, names[i]);
            EXPECT_EQ(m_snap.vars[i].addr, fx(names[i]));
            EXPECT_EQ(text_of(m_snap.vars[i]), want[i]) << names[i];
        }
    };
    // Code labels are not variables; each variable is cut at the next label.
    check({ std::string("hello\0", 6), std::string(6, '\0'), "h", "H" });

    ASSERT_NO_FATAL_FAILURE(run_to(fx("s_write")));
    stepfx::snapshot_vars(m_snap, m_proc, img);
    stepfx::snapshot_memory(m_snap, m_proc);
    check({ std::string("hello\0", 6), std::string("hello\0", 6), "H", "H" });
    std::set<uint64_t> in_data;
    for (uint64_t a : m_snap.mem_changed) {
        if (a >= fx("text") && a < fx("upper") + 1)
            in_data.insert(a);
    }
    std::set<uint64_t> want;
    for (uint64_t i = 0; i < 5; ++i)
        want.insert(fx("copy") + i);
    want.insert(fx("lower"));
    EXPECT_EQ(in_data, want);
}

} // namespace
