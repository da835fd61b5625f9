// The side panel and the live values beside it, against a real program built
// with nasm and ld and stopped under real ptrace: the hits the panel records,
// folding, the breakpoint list and its scrolling, watches and their
// hardware watchpoints, operand notes, pointees and tooltips, and a
// screenshot of the panel in both themes.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cinttypes>

using namespace testutil;

namespace {

const char* kProgram = R"(bits 64
section .data
msg:     db "Hello, World!", 10, 0
long_s:  db "abcdefghijklmnopqrstuvwxyz0123", 0
bytes12: db 1, 2, 0
number:  dd 0x11223344
align 8
counter: dq 5
section .text
global _start
_start:
    mov rcx, 0x10
    mov cl, 0x20
    mov rax, 0x6f6c6c6568
at_lea:
    lea rsi, [rel msg]
    mov dword [rel number], 7
    push rax
    mov eax, 1
    mov edi, 1
    mov edx, 14
at_write:
    syscall
    add qword [rel counter], 1
    mov eax, 60
    xor edi, edi
    syscall
)";

// The console target for the panel's tests: the program and its image,
// as the debugger front end gives them to the window.
class PanelApp : public App {
public:
    int symbol_calls = 0; // symbol and symbol_at, to see what a paint asks

    dbg::Process& p() { return AppProbe::proc(*this); }
    const BinImage& img() { return AppProbe::docs(*this).back()->img; }

    bool has_target() override { return true; }
    bool live() override { return p().state() == dbg::State::Stopped; }
    int bits() override { return p().bits(); }
    size_t read(uint64_t a, uint8_t* out, size_t n) override { return p().read(a, out, n); }
    bool reg(const std::string& name, uint64_t* out) override { return p().reg(name, out); }
    std::vector<uint64_t> bps() override { return { p().bps().begin(), p().bps().end() }; }
    bool toggle_bp(uint64_t a, bool on) override
    {
        on ? p().set_bp(a) : p().clear_bp(a);
        return true;
    }
    bool symbol(const std::string& name, uint64_t* out) override
    {
        ++symbol_calls;
        for (const auto& s : img().m_symbols)
            if (s.name == name) {
                *out = s.addr + p().load_bias();
                return true;
            }
        return false;
    }
    std::string symbol_at(uint64_t a) override
    {
        ++symbol_calls;
        const BinImage::Symbol* best = nullptr;
        for (const auto& s : img().m_symbols)
            if (s.addr <= a && (!best || s.addr > best->addr))
                best = &s;
        if (!best || a - best->addr > 0x1000)
            return {};
        char off[24];
        snprintf(off, sizeof off, "+0x%" PRIx64, a - best->addr);
        return best->name + (a == best->addr ? std::string() : off);
    }
};

class Panel : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        s_dir = new TempDir;
        s_error = nasm_build(kProgram, s_dir->file("prog"), "elf64");
        s_syms = symbols(s_dir->file("prog"));
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        ASSERT_TRUE(s_error.empty()) << s_error;
        m_src = AppProbe::new_doc(m_app, false);
        m_src->path = s_dir->file("prog.asm");
        m_src->ed.set_text(kProgram);
        m_bin = AppProbe::new_doc(m_app, true);
        std::string err;
        ASSERT_TRUE(m_bin->img.load(s_dir->file("prog"), &err)) << err;
        AppProbe::activate(m_app, m_src);
        AppProbe::set_debugged(m_app, m_src, m_bin);
    }

    void TearDown() override
    {
        // A window-less App keeps its painted surface until the window is shut.
        AppProbe::shutdown_window(m_app);
        m_app.p().kill();
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    uint64_t sym(const std::string& name) { return s_syms.at(name); }

    testing::AssertionResult wait_stop()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            std::vector<dbg::Event> ev;
            m_app.p().wait(&ev, 100);
            for (const auto& e : ev) {
                if (e.kind == dbg::Event::Stopped)
                    return testing::AssertionSuccess();
                if (e.kind == dbg::Event::Exited)
                    return testing::AssertionFailure() << "exited " << e.code;
            }
        }
        return testing::AssertionFailure() << "no stop within ten seconds";
    }

    // Starts the program stopped at its entry and shows that stop.
    void start()
    {
        std::string err;
        ASSERT_TRUE(m_app.p().start(s_dir->file("prog"), {}, "", true, &err)) << err;
        ASSERT_TRUE(wait_stop());
        AppProbe::panel_on_stop(m_app);
    }

    void step(int n)
    {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(m_app.p().step());
            ASSERT_TRUE(wait_stop());
            AppProbe::panel_on_stop(m_app);
        }
    }

    void run_to(uint64_t addr)
    {
        ASSERT_TRUE(m_app.p().run_to(addr));
        ASSERT_TRUE(wait_stop());
        AppProbe::panel_on_stop(m_app);
    }

    std::vector<Hit> hits_of(const std::string& id)
    {
        std::vector<Hit> out;
        for (const Hit& h : AppProbe::hits(m_app))
            if (h.id == id)
                out.push_back(h);
        return out;
    }

    const Hit* hit_n(const std::string& id, int n)
    {
        for (const Hit& h : AppProbe::hits(m_app))
            if (h.id == id && h.n == n)
                return &h;
        return nullptr;
    }

    void paint(double W = 1280, double H = 800) { AppProbe::paint(m_app, W, H); }

    static TempDir* s_dir;
    static std::string s_error;
    static std::map<std::string, uint64_t> s_syms;

    PanelApp m_app;
    Doc* m_src = nullptr;
    Doc* m_bin = nullptr;
};

TempDir* Panel::s_dir = nullptr;
std::string Panel::s_error;
std::map<std::string, uint64_t> Panel::s_syms;

TEST_F(Panel, StoppedProgramShowsRegistersFlagsVariablesAndStack)
{
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(step(2)); // mov rcx, 0x10; mov cl, 0x20
    paint(1280, 1600);

    // Width chips 8, 16, 32, 64 for a 64-bit program.
    std::vector<int> widths;
    for (const Hit& h : hits_of("reg_width"))
        widths.push_back(h.n);
    EXPECT_EQ(widths, (std::vector<int>{ 8, 16, 32, 64 }));

    // One "reg" hit per name, in order, the tooltip of that register.
    auto regs = hits_of("reg");
    const auto& names = AppProbe::reg_hit_names(m_app);
    ASSERT_EQ(regs.size(), names.size());
    ASSERT_GE(names.size(), 17u);
    EXPECT_EQ(names[0], "rax");
    for (const std::string& n : names)
        EXPECT_TRUE(n != "eflags" && n != "fs_base" && n != "gs_base" && n != "cs") << n;
    for (size_t i = 0; i < regs.size(); ++i)
        EXPECT_EQ(regs[i].n, int(i));
    size_t rcx = std::find(names.begin(), names.end(), "rcx") - names.begin();
    ASSERT_LT(rcx, names.size());
    EXPECT_EQ(regs[rcx].tip, "RCX = 0x20  \u00b7  decimal 32  \u00b7  ' '  \u00b7  before: 0x10");

    // Nine flag chips by bit number, with their tooltips.
    std::vector<int> bits;
    for (const Hit& h : hits_of("flag"))
        bits.push_back(h.n);
    EXPECT_EQ(bits, (std::vector<int>{ 0, 2, 4, 6, 7, 8, 9, 10, 11 }));
    EXPECT_EQ(hit_n("flag", 6)->tip.rfind("ZF  Zero Flag = ", 0), 0u);

    // The data labels with their run-time addresses.
    const auto& vars = AppProbe::var_addrs(m_app);
    ASSERT_EQ(hits_of("var").size(), vars.size());
    ASSERT_GE(vars.size(), 3u);
    EXPECT_EQ(vars[0], sym("msg"));
    EXPECT_EQ(first_of(hits_of("var")).tip.rfind("msg @ " + upper_hex(sym("msg")) + ": 48 65 6C 6C 6F", 0), 0u);

    // Ten stack slots, 8 bytes apart; the first is argc (1).
    auto stack = hits_of("stack");
    ASSERT_EQ(stack.size(), 10u);
    for (size_t i = 0; i < stack.size(); ++i)
        EXPECT_EQ(stack[i].n, int(i) * 8);
    EXPECT_EQ(stack[0].tip, "0000000000000001");

    // The whole panel comes first so that rows and buttons win.
    const auto& all = AppProbe::hits(m_app);
    auto pane = std::find_if(all.begin(), all.end(), [](const Hit& h) { return h.id == "pane_right"; });
    ASSERT_NE(pane, all.end());
    auto first_reg = std::find_if(all.begin(), all.end(), [](const Hit& h) { return h.id == "reg"; });
    EXPECT_LT(pane, first_reg);
    const Hit* under = AppProbe::hit_at(m_app, regs[0].x + 2, regs[0].y + 2);
    ASSERT_NE(under, nullptr);
    EXPECT_EQ(under->id, "reg");
}

// A 32-bit program has no 64-bit width; such programs build here but may
// not execute.
TEST_F(Panel, ThirtyTwoBitProgramOffersThreeWidths)
{
    std::string err = nasm_build("bits 32\nsection .text\nglobal _start\n_start:\n    mov eax, 1\n    xor ebx, ebx\n"
                                 "    int 0x80\n",
                                 s_dir->file("prog32"), "elf32");
    ASSERT_TRUE(err.empty()) << err;
    ASSERT_TRUE(m_bin->img.load(s_dir->file("prog32"), &err)) << err;
    if (!m_app.p().start(s_dir->file("prog32"), {}, "", true, &err) || !wait_stop())
        GTEST_SKIP() << "32-bit programs cannot execute on this machine: " << err;
    AppProbe::panel_on_stop(m_app);
    paint(1280, 1600);
    std::vector<int> widths;
    for (const Hit& h : hits_of("reg_width"))
        widths.push_back(h.n);
    EXPECT_EQ(widths, (std::vector<int>{ 8, 16, 32 }));
    EXPECT_EQ(first_of(AppProbe::reg_hit_names(m_app)), "eax");
}

TEST_F(Panel, WidthChipsFollowTheSettingAndFoldingTakesRowsAway)
{
    ASSERT_NO_FATAL_FAILURE(start());
    paint();
    double vars_title = hit_n("fold", 1)->y;
    EXPECT_FALSE(hits_of("reg").empty());

    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("reg_width", 16)));
    EXPECT_EQ(AppProbe::settings(m_app).reg_width, 16);
    paint();
    EXPECT_FALSE(hits_of("reg").empty());

    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("fold", 0)));
    EXPECT_EQ(AppProbe::settings(m_app).folded, ",0,");
    paint();
    EXPECT_TRUE(hits_of("reg").empty());
    EXPECT_TRUE(hits_of("flag").empty());
    EXPECT_TRUE(hits_of("reg_width").empty());
    ASSERT_NE(hit_n("fold", 1), nullptr);
    EXPECT_LT(hit_n("fold", 1)->y, vars_title - 100);

    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("fold", 0)));
    EXPECT_EQ(AppProbe::settings(m_app).folded, ",");
    paint();
    EXPECT_FALSE(hits_of("reg").empty());
}

// A frame reads what the stop took: no symbol look-ups (pointees, variable
// tips, stack symbols) while painting.
TEST_F(Panel, PaintingAsksNothingOfTheProgram)
{
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(step(4)); // rsi holds msg: a pointee
    m_app.symbol_calls = 0;
    paint();
    paint();
    EXPECT_EQ(m_app.symbol_calls, 0);
    EXPECT_FALSE(hits_of("var").empty());
    // The stop itself did take them.
    AppProbe::panel_on_stop(m_app);
    EXPECT_GT(m_app.symbol_calls, 0);
}

TEST_F(Panel, WholeBreakpointListScrollsAndKeepsItsAddresses)
{
    ASSERT_NO_FATAL_FAILURE(start());
    std::vector<uint64_t> addrs;
    for (int i = 0; i < 40; ++i) {
        addrs.push_back(0x401000 + uint64_t(i) * 3);
        m_app.p().set_bp(addrs.back());
    }
    paint(1000, 560);
    EXPECT_EQ(AppProbe::bp_addrs(m_app), addrs);
    EXPECT_TRUE(hit_n("bp_go", 39) == nullptr); // below the panel's bottom at first

    // Scroll to the end: the last row is reachable.
    const Hit* pane = nullptr;
    for (const Hit& h : AppProbe::hits(m_app))
        if (h.id == "pane_right")
            pane = &h;
    ASSERT_NE(pane, nullptr);
    double px = pane->x + 30, py = pane->y + 30;
    for (int i = 0; i < 200 && hit_n("bp_go", 39) == nullptr; ++i) {
        ASSERT_TRUE(AppProbe::panel_wheel(m_app, px, py, -1));
        paint(1000, 560);
    }
    const Hit* last = hit_n("bp_go", 39);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->tip, upper_hex(addrs[39]));
    EXPECT_LE(AppProbe::right_scroll(m_app), AppProbe::right_content(m_app));

    // The remove button acts on the address kept beside the hit, whatever
    // its tooltip says.
    const Hit* del = hit_n("bp_del", 39);
    ASSERT_NE(del, nullptr);
    Hit changed = *del;
    changed.tip = "0";
    ASSERT_TRUE(AppProbe::panel_click(m_app, changed));
    EXPECT_FALSE(m_app.p().has_bp(addrs[39]));
    EXPECT_EQ(m_app.p().bps().size(), 39u);
}

TEST_F(Panel, LabelsRowsAreCappedAndGoToTheirLine)
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "l" + std::to_string(i) + ":\n    nop\n";
    m_src->ed.set_text(text);
    paint();
    ASSERT_NE(hit_n("lbl_goto", 0), nullptr);
    EXPECT_EQ(hit_n("lbl_goto", 0)->tip, "l0");
    // Scrolled to the end, the last row is the 2000th label.
    const Hit* first = hit_n("lbl_goto", 0);
    double px = first->x + 20, py = first->y + 2;
    for (int i = 0; i < 3000 && hit_n("lbl_goto", 2 * 1999) == nullptr; ++i) {
        AppProbe::panel_wheel(m_app, px, py, -10);
        paint();
    }
    ASSERT_NE(hit_n("lbl_goto", 2 * 1999), nullptr);
    for (const Hit& h : hits_of("lbl_goto"))
        EXPECT_LT(h.n, 2 * 2000);
    Hit go = *hit_n("lbl_goto", 2 * 1999);
    ASSERT_TRUE(AppProbe::panel_click(m_app, go));
    EXPECT_EQ(m_src->ed.caret().line, 2 * 1999);

    // Without labels one line says so.
    m_src->ed.set_text("nop\n");
    paint();
    EXPECT_TRUE(hits_of("lbl_goto").empty());
}

TEST_F(Panel, WithoutAProgramTheStartButtonShows)
{
    paint();
    EXPECT_NE(hit_n("tb_debug", 0), nullptr);
    EXPECT_TRUE(hits_of("reg").empty());
    EXPECT_TRUE(hits_of("stack").empty());
    EXPECT_NE(hit_n("watch_add", 0), nullptr);
}

TEST_F(Panel, FlagClicksAndTheOtherDocumentInFront)
{
    ASSERT_NO_FATAL_FAILURE(start());
    paint(1280, 1600);
    uint64_t before = m_app.p().flags();
    ASSERT_NE(hit_n("flag", 0), nullptr);
    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("flag", 0)));
    EXPECT_EQ(m_app.p().flags(), before ^ 1);
    paint(1280, 1600);
    EXPECT_NE(hit_n("flag", 0)->tip.find("CF  Carry Flag = " + std::string(before & 1 ? "0" : "1")), std::string::npos);

    // Another source in front: the start button, and a way back to the
    // program being debugged.
    Doc* other = AppProbe::new_doc(m_app, false);
    other->path = s_dir->file("other.asm");
    other->ed.set_text("other:\n    nop\n");
    AppProbe::activate(m_app, other);
    paint(1280, 1600);
    EXPECT_TRUE(hits_of("reg").empty());
    EXPECT_NE(hit_n("tb_debug", 0), nullptr);
    ASSERT_NE(hit_n("goto_running", 0), nullptr);
    EXPECT_EQ(hit_n("lbl_goto", 0)->tip, "other");
    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("goto_running", 0)));
    EXPECT_EQ(AppProbe::front(m_app), m_src);
    paint(1280, 1600);
    EXPECT_FALSE(hits_of("reg").empty());
}

TEST_F(Panel, FlagTooltips)
{
    struct {
        const char* abbr;
        int now, prev;
        bool click;
        const char* want; // the text before the meaning, or "" for none
        const char* tail; // what follows the meaning
    } cases[] = {
        { "cy", -1, -1, false, "CY = CF 1  \u00b7  Carry Flag\n", "" },
        { "NZ", -1, -1, false, "NZ = ZF 0  \u00b7  Zero Flag\n", "" },
        { "zf", 1, 0, true, "ZF  Zero Flag = 1\n", "\nbefore: 0\nClick to toggle." },
        { "TF", 0, -1, false, "TF  Trap Flag = 0\n", "" },
        // The trap flag has no DEBUG-style names: nothing matches "none".
        { "none", -1, -1, false, "", "" },
        { "", -1, -1, false, "", "" },
        { "XX", -1, -1, false, "", "" },
    };
    for (const auto& c : cases) {
        std::string tip = AppProbe::flag_tip(m_app, c.abbr, c.now, c.prev, c.click);
        if (!*c.want) {
            EXPECT_EQ(tip, "") << c.abbr;
            continue;
        }
        EXPECT_EQ(tip.rfind(c.want, 0), 0u) << c.abbr << ": " << tip;
        EXPECT_GT(tip.size(), std::string(c.want).size() + 20) << "meaning missing: " << tip;
        EXPECT_EQ(tip.substr(tip.size() - std::string(c.tail).size()), c.tail) << tip;
    }
}

TEST_F(Panel, RegisterTooltips)
{
    struct {
        const char* name;
        uint64_t v;
        const char* want;
    } cases[] = {
        { "eax", 0xFFFFFFFF, "EAX = 0xFFFFFFFF  \u00b7  decimal 4294967295 (-1)" },
        { "rax", 0xFFFFFFFF, "RAX = 0xFFFFFFFF  \u00b7  decimal 4294967295" },
        { "rax", 0x6f6c6c6568, "RAX = 0x6F6C6C6568  \u00b7  decimal 478560413032  \u00b7  'hello'" },
        { "rbx", 0x0102, "RBX = 0x102  \u00b7  decimal 258" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppProbe::reg_tip(m_app, c.name, c.v), c.want);
}

TEST_F(Panel, PointeesAndOperandNotes)
{
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(AppProbe::pointee(m_app, sym("msg")), "msg 'Hello, World!\\n'");
    EXPECT_EQ(AppProbe::pointee(m_app, sym("long_s")), "long_s 'abcdefghijklmnopqrstuvwx\u2026'");
    EXPECT_EQ(AppProbe::pointee(m_app, sym("bytes12")), "bytes12");
    EXPECT_EQ(AppProbe::pointee(m_app, 100), "");

    // lea: the computed address and what it points to.
    uint64_t lea = sym("at_lea");
    ASSERT_NO_FATAL_FAILURE(run_to(lea));
    EXPECT_EQ(AppProbe::operand_values(m_app, lea),
              "&" + upper_hex(sym("msg")) + " \u2192 msg 'Hello, World!\\n'");

    ASSERT_NO_FATAL_FAILURE(run_to(sym("at_write")));
    std::string note = AppProbe::operand_values(m_app, sym("at_write"));
    EXPECT_EQ(note, "write(fd=1, buf=" + upper_hex(sym("msg")) + " msg 'Hello, World!\\n', count=E)");
    ASSERT_TRUE(m_app.p().set_reg("rax", 999));
    EXPECT_EQ(AppProbe::operand_values(m_app, sym("at_write")),
              "syscall 999(1, " + upper_hex(sym("msg")) + " msg 'Hello, World!\\n', E)");
    // The used registers of a syscall are marked: rax among them.
    AppProbe::panel_on_stop(m_app);
    EXPECT_EQ(AppProbe::operand_values(m_app, 0), "");
}

TEST_F(Panel, WatchExpressions)
{
    ASSERT_NO_FATAL_FAILURE(start());
    uint64_t sp = m_app.p().sp();
    struct {
        const char* expr;
        bool ok;
        uint64_t value;
        uint64_t addr;
        int size;
        const char* err;
    } cases[] = {
        { "dword[msg]", true, 0x6c6c6548, sym("msg"), 4, "" },
        { "dword [msg]", true, 0x6c6c6548, sym("msg"), 4, "" },
        { "  DWORD [msg] ", true, 0x6c6c6548, sym("msg"), 4, "" },
        { "byte [msg]", true, 0x48, sym("msg"), 1, "" },
        { "[msg]", true, 0x57202c6f6c6c6548, sym("msg"), 8, "" },
        { "dword msg", false, 0, 0, 0, "watch.need_mem" },
        { "rsp+8", true, sp + 8, 0, 0, "" },
        { "[0]", false, 0, 0, 8, "bin.not_mapped" },
    };
    for (const auto& c : cases) {
        uint64_t v = 0, a = 0;
        int size = 0;
        std::string err;
        EXPECT_EQ(AppProbe::watch_eval(m_app, c.expr, &v, &a, &size, &err), c.ok) << c.expr << " " << err;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.expr;
            EXPECT_EQ(a, c.addr) << c.expr;
            EXPECT_EQ(size, c.size) << c.expr;
        } else {
            EXPECT_EQ(err, c.err) << c.expr;
        }
    }

    // Values at two stops; the panel shows each with a remove button.
    auto& watches = AppProbe::settings(m_app).watches;
    watches = { "0dword [number]", "0rcx", "0", "0[counter]" };
    AppProbe::snapshot_watches(m_app);
    ASSERT_NO_FATAL_FAILURE(run_to(sym("at_write")));
    paint(1280, 1600);
    EXPECT_EQ(hits_of("watch_del").size(), 3u);
    EXPECT_EQ(hits_of("watch_stop").size(), 3u);
    EXPECT_EQ(hit_n("watch_stop", 0)->tip, L10n::tr("watch.stop_tip"));
    ASSERT_NE(hit_n("watch_del", 3), nullptr);
    // Each memory place with all its bytes; a plain value by its size.
    EXPECT_EQ(AppProbe::watch_value_text(m_app, 0).size(), 8u);
    EXPECT_EQ(AppProbe::watch_value_text(m_app, 3).size(), 16u) << "a qword of small value";
    EXPECT_EQ(AppProbe::watch_value_text(m_app, 1).size(), 8u);

    // Cycling the mode: only memory may stop, and at most four places.
    EXPECT_EQ(AppProbe::watch_cycle(m_app, 1), L10n::tr("watch.need_mem"));
    EXPECT_EQ(watches[1][0], '0');
    EXPECT_EQ(AppProbe::watch_cycle(m_app, 0), "");
    EXPECT_EQ(watches[0][0], '1');
    EXPECT_EQ(AppProbe::watch_cycle(m_app, 0), "");
    EXPECT_EQ(watches[0][0], '2');
    auto points = AppProbe::watch_points(m_app);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].addr, sym("number"));
    EXPECT_EQ(points[0].len, 4);
    EXPECT_TRUE(points[0].any_access);
    watches.insert(watches.end(), { "1[msg]", "1[counter]", "1byte [msg]", "0[long_s]" });
    EXPECT_EQ(AppProbe::watch_cycle(m_app, 7), L10n::tr("watch.too_many", 4));
    EXPECT_EQ(AppProbe::watch_points(m_app).size(), 4u);

    // Removing one through its button.
    paint(1280, 1600);
    ASSERT_TRUE(AppProbe::panel_click(m_app, *hit_n("watch_del", 1)));
    EXPECT_EQ(watches[1], "0");
}

// A stopping watch on memory the program writes: the processor's debug
// registers stop it there, on machines where they fire.
TEST_F(Panel, WatchpointStopsTheProgramWhereTheProcessorAllows)
{
    ASSERT_NO_FATAL_FAILURE(start());
    AppProbe::settings(m_app).watches = { "1[counter]" };
    auto points = AppProbe::watch_points(m_app);
    ASSERT_EQ(points.size(), 1u);
    m_app.p().set_watches(points);
    ASSERT_TRUE(m_app.p().cont());
    bool stopped = false;
    std::string reason;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until && !stopped) {
        std::vector<dbg::Event> ev;
        m_app.p().wait(&ev, 100);
        bool ended = false;
        for (const auto& e : ev) {
            if (e.kind == dbg::Event::Stopped)
                reason = e.text;
            stopped |= e.kind == dbg::Event::Stopped;
            ended |= e.kind == dbg::Event::Exited;
        }
        if (ended)
            break;
    }
    if (!stopped)
        GTEST_SKIP() << "the hardware watchpoint did not fire: debug registers do not stop programs on this machine";
    EXPECT_EQ(reason, "watch:0");
    AppProbe::panel_on_stop(m_app);
    uint64_t counter = 0;
    ASSERT_EQ(m_app.p().read(sym("counter"), reinterpret_cast<uint8_t*>(&counter), 8), 8u);
    EXPECT_EQ(counter, 6u);
}

TEST_F(Panel, ScreenshotDuringADebugSession)
{
    ASSERT_NO_FATAL_FAILURE(start());
    m_app.p().set_bp(sym("at_write"));
    AppProbe::settings(m_app).watches = { "0dword [number]", "1[counter]", "0rsi" };
    AppProbe::snapshot_watches(m_app);
    ASSERT_NO_FATAL_FAILURE(step(5));
    const char* dir = getenv("QXASM_TEST_SHOTS");
    TempDir tmp;
    for (bool dark : { false, true }) {
        AppProbe::set_theme(m_app, dark);
        paint(1280, 900);
        std::string path
            = std::string(dir ? dir : tmp.path().c_str()) + (dark ? "/panel_dark.png" : "/panel_light.png");
        std::string why;
        ASSERT_TRUE(AppProbe::write_png(m_app, path, &why)) << why;
        EXPECT_TRUE(file_exists(path));
        // And scrolled down to the stack, breakpoints and watches.
        double px = AppProbe::right_x(m_app) + 40;
        ASSERT_TRUE(AppProbe::panel_wheel(m_app, px, 300, -10));
        paint(1280, 900);
        path = path.substr(0, path.size() - 4) + "_scrolled.png";
        ASSERT_TRUE(AppProbe::write_png(m_app, path, &why)) << why;
        ASSERT_TRUE(AppProbe::panel_wheel(m_app, px, 300, 10));
    }
}

} // namespace
