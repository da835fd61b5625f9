// Attaching the window to running programs the test spawns (real /proc, real
// ptrace), through the attach prompt, and detaching them again; the side
// panel's prompts (a new watch, a register's new value the program then
// uses) and its rows that lead into the binary view.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "set_probe.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>

using namespace testutil;

namespace {

// Stores rbx in `seen` and counts in `counter` each round, sleeping 2 ms.
const char* kLooper = R"(section .data
ts:      dq 0, 2000000
number:  dd 0x11223344
section .bss
counter: resq 1
seen:    resq 1
section .text
global _start
_start:
round:
    mov [rel seen], rbx
    inc qword [rel counter]
    mov eax, 35
    lea rdi, [rel ts]
    xor esi, esi
    syscall
    jmp round
)";

class AppAttach : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        signal(SIGPIPE, SIG_IGN);
        s_dir = new TempDir;
        // A name of this run only; the kernel keeps 15 characters of it.
        s_name = "qxwin" + std::to_string(getpid() % 1000000);
        s_error = nasm_build(kLooper, s_dir->file(s_name), "elf64");
        if (s_error.empty())
            s_syms = symbols(s_dir->file(s_name));
        s_error += nasm_build(read_file(tests_dir() + "/data/attach/vforker.s"), s_dir->file("vforker"), "elf64");
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        ASSERT_TRUE(s_error.empty()) << s_error;
        setenv("XDG_CONFIG_HOME", m_cfg.path().c_str(), 1);
        m_app = std::make_unique<App>();
    }

    void TearDown() override
    {
        if (m_app)
            AppProbe::shutdown_window(*m_app);
        m_app.reset(); // detaches what it attached
        for (int pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child process was left behind";
    }

    App& app() { return *m_app; }
    uint64_t sym(const std::string& name) { return s_syms.at(name); }

    int spawn(const std::string& name)
    {
        std::string path = s_dir->file(name);
        pid_t pid = fork();
        if (pid == 0) {
            execl(path.c_str(), name.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        m_children.push_back(pid);
        return pid;
    }

    // The program's counter moves on within five seconds (while the window
    // keeps turning its loop).
    bool counts_on(int pid)
    {
        uint64_t before = peek_u64(pid, sym("counter"));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            AppProbe::debug_tick(app());
            if (peek_u64(pid, sym("counter")) > before + 2)
                return true;
            usleep(1000);
        }
        return false;
    }

    // Types into the open prompt and presses Enter.
    void answer(const std::string& text)
    {
        ASSERT_EQ(AppProbe::modal(app()), App::Modal::Prompt);
        AppProbe::dlg_field(app()).set(text);
        AppProbe::key(app(), SDLK_RETURN);
    }

    // Loop turns until the attach has ended, one way or the other.
    void settle()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (AppProbe::attach_pending(app()) && std::chrono::steady_clock::now() < until) {
            AppProbe::debug_tick(app());
            usleep(1000);
        }
        EXPECT_FALSE(AppProbe::attach_pending(app()));
    }

    void attach_by(const std::string& text)
    {
        AppProbe::cmd_attach(app());
        ASSERT_EQ(AppProbe::dlg_title(app()), "Attach to a running program");
        ASSERT_EQ(AppProbe::dlg_label(app()), "Process ID or program name:");
        ASSERT_NO_FATAL_FAILURE(answer(text));
        settle();
    }

    // Waits until a running program is noticed stopped again.
    bool stopped()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            AppProbe::debug_tick(app());
            if (AppProbe::proc(app()).state() == dbg::State::Stopped)
                return true;
            usleep(1000);
        }
        return false;
    }

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_error, s_name;
    static inline std::map<std::string, uint64_t> s_syms;

    TempDir m_cfg;
    std::unique_ptr<App> m_app;
    std::vector<int> m_children;
};

TEST_F(AppAttach, ByNumberAndByNameThroughThePromptThenDetachAndItRunsOn)
{
    int child = spawn(s_name);
    ASSERT_TRUE(counts_on(child));
    std::string exe = s_dir->file(s_name);
    // Opening a program normally starts it under the debugger: attaching
    // must not start a second copy.
    ASSERT_TRUE(AppProbe::settings(app()).auto_debug);

    for (const std::string& text : { std::to_string(child), "  " + s_name + " " }) {
        SCOPED_TRACE(text);
        ASSERT_NO_FATAL_FAILURE(attach_by(text));
        dbg::Process& p = AppProbe::proc(app());
        ASSERT_TRUE(p.attached());
        EXPECT_EQ(p.pid(), child);
        EXPECT_EQ(p.state(), dbg::State::Stopped);
        EXPECT_EQ(status_field(child, "TracerPid"), std::to_string(getpid()));
        EXPECT_EQ(AppProbe::status(app()),
                  "Attached to process " + std::to_string(child) + " (" + exe + ") \u2013 stopped");
        EXPECT_FALSE(AppProbe::status_err(app()));
        // The result is said again in a language picked after it.
        ASSERT_TRUE(SetProbe::pick_language(app(), "fr"));
        EXPECT_EQ(AppProbe::status(app()), attach::message(attach::result_of(child, true, exe, "")));
        EXPECT_EQ(AppProbe::status(app()).find("Attached"), std::string::npos);
        ASSERT_TRUE(SetProbe::pick_language(app(), "en"));

        // Its executable is the visible binary document in front, live.
        Doc* bin = AppProbe::debugged_binary(app());
        ASSERT_NE(bin, nullptr);
        EXPECT_EQ(bin->img.m_path, exe);
        EXPECT_FALSE(bin->hidden);
        EXPECT_EQ(AppProbe::front(app()), bin);
        EXPECT_EQ(AppProbe::main_tab(app()), 1);
        EXPECT_TRUE(bin->bv.live());
        EXPECT_EQ(AppProbe::settings(app()).bottom_tab, 2);
        std::string shown;
        for (const auto& l : AppProbe::console(app()).lines())
            shown += l.text + "\n";
        EXPECT_NE(shown.find("RIP="), std::string::npos) << "the console shows the stopped state: " << shown;
        int docs = 0;
        for (const auto& d : AppProbe::docs(app()))
            docs += d->img.m_path == exe;
        EXPECT_EQ(docs, 1) << "one document for the executable, reused at the second attach";

        // The panel shows the stopped program's registers.
        AppProbe::paint(app(), 1280, 800);
        EXPECT_FALSE(AppProbe::hits_of(app(), "reg").empty());

        // While a program is attached the command asks nothing.
        AppProbe::cmd_attach(app());
        EXPECT_EQ(AppProbe::modal(app()), App::Modal::None);

        // Stop detaches: the program runs on, untraced.
        ASSERT_TRUE(AppProbe::click(app(), "tb_stop"));
        EXPECT_FALSE(p.alive());
        EXPECT_EQ(AppProbe::status(app()), "Detached \u2013 the program runs on.");
        EXPECT_EQ(status_field(child, "TracerPid"), "0");
        EXPECT_TRUE(counts_on(child));
    }
}

TEST_F(AppAttach, FailuresAreSaidAndChangeNothing)
{
    // A name nobody runs.
    AppProbe::cmd_attach(app());
    ASSERT_NO_FATAL_FAILURE(answer("no_such_prog"));
    EXPECT_EQ(AppProbe::modal(app()), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_title(app()), "Attach to a running program");
    EXPECT_EQ(AppProbe::dlg_text(app()), "None of your running programs is called \"no_such_prog\".");
    AppProbe::close_modal(app());

    // Blanks only: nothing at all.
    AppProbe::cmd_attach(app());
    ASSERT_NO_FATAL_FAILURE(answer("   "));
    EXPECT_EQ(AppProbe::modal(app()), App::Modal::None);

    // A process that is gone, and init: by number as by name, only the
    // user's own running programs are found.
    int gone = spawn(s_name);
    kill(gone, SIGKILL);
    waitpid(gone, nullptr, 0);
    m_children.clear();
    for (const std::string& number : { std::to_string(gone), std::string("1") }) {
        AppProbe::cmd_attach(app());
        ASSERT_NO_FATAL_FAILURE(answer(number));
        settle();
        EXPECT_EQ(AppProbe::modal(app()), App::Modal::Message);
        EXPECT_EQ(AppProbe::dlg_text(app()), "None of your running programs is called \"" + number + "\".");
        AppProbe::close_modal(app());
    }
    EXPECT_FALSE(AppProbe::proc(app()).alive());
    EXPECT_TRUE(AppProbe::docs(app()).empty()) << "no document opened for a failed attach";

    // A program whose file was deleted while it runs: its document cannot
    // be read, so it is not attached (and nothing reads a missing document).
    std::string copy = s_dir->file("gone_exe");
    std::filesystem::copy_file(s_dir->file(s_name), copy);
    std::string copy_name = "gone_exe";
    int orphan = spawn(copy_name);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (status_field(orphan, "Name") != copy_name && std::chrono::steady_clock::now() < until)
        usleep(1000);
    ASSERT_EQ(unlink(copy.c_str()), 0);
    AppProbe::cmd_attach(app());
    ASSERT_NO_FATAL_FAILURE(answer(std::to_string(orphan)));
    settle();
    EXPECT_EQ(AppProbe::modal(app()), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_text(app()), "Attaching to process " + std::to_string(orphan)
                                             + " failed: Cannot open " + copy + " (deleted)");
    EXPECT_FALSE(AppProbe::proc(app()).alive());
    EXPECT_EQ(status_field(orphan, "TracerPid"), "0");
    EXPECT_TRUE(AppProbe::docs(app()).empty());
}

// The executable's document open with byte edits: attaching keeps them and
// uses that document.
TEST_F(AppAttach, AnOpenDocumentWithByteEditsKeepsThem)
{
    int child = spawn(s_name);
    ASSERT_TRUE(counts_on(child));
    std::string exe = s_dir->file(s_name);
    AppProbe::settings(app()).auto_debug = false; // opening it starts nothing
    ASSERT_TRUE(AppProbe::load_binary(app(), exe));
    Doc* d = AppProbe::find_doc(app(), exe, true);
    ASSERT_NE(d, nullptr);
    uint8_t nop = 0x90;
    ASSERT_TRUE(d->img.write(d->img.m_entry, &nop, 1));
    ASSERT_TRUE(d->img.m_dirty);
    ASSERT_NO_FATAL_FAILURE(attach_by(std::to_string(child)));
    ASSERT_TRUE(AppProbe::proc(app()).attached());
    EXPECT_EQ(AppProbe::debugged_binary(app()), d);
    EXPECT_TRUE(d->img.m_dirty);
    uint8_t b = 0;
    ASSERT_TRUE(d->img.read(d->img.m_entry, &b, 1));
    EXPECT_EQ(b, 0x90);
    EXPECT_EQ(AppProbe::docs(app()).size(), 1u);
}

// A vfork parent cannot stop until its child has left: the prompt's answer
// returns at once, the loop keeps turning while the attach waits, and the
// wait ends with an honest failure; the program is let go and runs on.
TEST_F(AppAttach, AStopThatDoesNotComeNeverHoldsTheWindow)
{
    int parent = spawn("vforker");
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (status_field(parent, "State").rfind("D", 0) != 0 && std::chrono::steady_clock::now() < until)
        usleep(1000);
    ASSERT_EQ(status_field(parent, "State").substr(0, 1), "D") << "the parent waits for its vfork child";

    AppProbe::cmd_attach(app());
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(answer(std::to_string(parent)));
    auto answered = std::chrono::steady_clock::now() - t0;
    EXPECT_TRUE(AppProbe::attach_pending(app())) << "the wait goes on in loop turns";
    // Bounded by what the test allows at all, not a speed figure: the
    // engine's own wait is half a second.
    EXPECT_LT(answered, std::chrono::milliseconds(dbg::Process::kAttachWaitMs));
    int turns = 0;
    while (AppProbe::attach_pending(app()) && turns < 100000) {
        AppProbe::debug_tick(app());
        AppProbe::paint(app(), 1280, 800);
        ++turns;
        usleep(1000);
    }
    EXPECT_GT(turns, 1) << "the window painted while the attach waited";
    EXPECT_EQ(AppProbe::modal(app()), App::Modal::Message);
    EXPECT_EQ(AppProbe::dlg_text(app()), "Attaching to process " + std::to_string(parent) + " failed: wait");
    EXPECT_FALSE(AppProbe::proc(app()).alive());
    EXPECT_TRUE(AppProbe::docs(app()).empty()) << "the document opened for it is closed again";

    until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (status_field(parent, "TracerPid") != "0" && std::chrono::steady_clock::now() < until) {
        AppProbe::debug_tick(app());
        usleep(1000);
    }
    EXPECT_EQ(status_field(parent, "TracerPid"), "0") << "the late stop let it go";
}

TEST_F(AppAttach, PanelPromptsAddAWatchAndChangeARegisterTheProgramUses)
{
    int child = spawn(s_name);
    ASSERT_TRUE(counts_on(child));
    ASSERT_NO_FATAL_FAILURE(attach_by(std::to_string(child)));

    // A watch through the add button's prompt, valued at once.
    ASSERT_TRUE(AppProbe::click(app(), "watch_add", 0, 1280, 1600));
    EXPECT_EQ(AppProbe::dlg_title(app()), "Watch an expression");
    ASSERT_NO_FATAL_FAILURE(answer("  dword [number] "));
    auto& watches = AppProbe::settings(app()).watches;
    ASSERT_EQ(watches, (std::vector<std::string>{ "0dword [number]" }));
    ASSERT_EQ(AppProbe::watch_ok_now(app()).size(), 1u);
    EXPECT_TRUE(first_of(AppProbe::watch_ok_now(app())));
    EXPECT_EQ(first_of(AppProbe::watch_now(app())), 0x11223344u);
    // An empty answer adds nothing.
    ASSERT_TRUE(AppProbe::click(app(), "watch_add", 0, 1280, 1600));
    ASSERT_NO_FATAL_FAILURE(answer(" "));
    EXPECT_EQ(watches.size(), 1u);

    // The window with the attached program and its panel, in both themes,
    // and with the register prompt open (written where QXASM_TEST_SHOTS says).
    if (const char* dir = getenv("QXASM_TEST_SHOTS")) {
        for (bool dark : { false, true }) {
            AppProbe::set_theme(app(), dark);
            AppProbe::paint(app(), 1280, 900);
            std::string why;
            std::string path = std::string(dir) + (dark ? "/attached_dark.png" : "/attached_light.png");
            EXPECT_TRUE(AppProbe::write_png(app(), path, &why)) << why;
        }
    }

    // The register row's prompt offers the value in hex; the answer is an
    // expression of the console.
    AppProbe::paint(app(), 1280, 1600);
    const auto& names = AppProbe::reg_hit_names(app());
    auto rbx = std::find(names.begin(), names.end(), "rbx");
    ASSERT_NE(rbx, names.end());
    int row = int(rbx - names.begin());
    dbg::Process& p = AppProbe::proc(app());
    uint64_t before = 0;
    ASSERT_TRUE(p.reg("rbx", &before));
    ASSERT_TRUE(AppProbe::click(app(), "reg", row, 1280, 1600));
    EXPECT_EQ(AppProbe::dlg_title(app()), "Change RBX");
    EXPECT_EQ(AppProbe::dlg_label(app()), "New value (hex):");
    EXPECT_EQ(AppProbe::dlg_field(app()).text, upper_hex(before));
    if (const char* dir = getenv("QXASM_TEST_SHOTS")) {
        AppProbe::paint(app(), 1280, 900);
        std::string why;
        EXPECT_TRUE(AppProbe::write_png(app(), std::string(dir) + "/reg_prompt.png", &why)) << why;
    }
    ASSERT_NO_FATAL_FAILURE(answer("1234ABC0 + 0D"));
    uint64_t now = 0;
    ASSERT_TRUE(p.reg("rbx", &now));
    EXPECT_EQ(now, 0x1234ABCDu);
    // Set by the user, not by the program: the row is not marked changed.
    AppProbe::paint(app(), 1280, 1600);
    EXPECT_EQ(AppProbe::hits_of(app(), "reg")[size_t(row)].tip.find("before:"), std::string::npos);

    // A value the console cannot read leaves the register and says why.
    ASSERT_TRUE(AppProbe::click(app(), "reg", row, 1280, 1600));
    ASSERT_NO_FATAL_FAILURE(answer("no such thing"));
    ASSERT_TRUE(p.reg("rbx", &now));
    EXPECT_EQ(now, 0x1234ABCDu);
    EXPECT_TRUE(AppProbe::status_err(app()));
    EXPECT_EQ(AppProbe::status(app()), L10n::tr("con.err.value"));

    // The program goes on with the new value: it stores rbx every round.
    AppProbe::key(app(), SDLK_F5);
    EXPECT_EQ(p.state(), dbg::State::Running);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (peek_u64(child, sym("seen")) != 0x1234ABCDu && std::chrono::steady_clock::now() < until) {
        AppProbe::debug_tick(app());
        usleep(1000);
    }
    EXPECT_EQ(peek_u64(child, sym("seen")), 0x1234ABCDu);
    ASSERT_TRUE(AppProbe::click(app(), "tb_stop"));
    EXPECT_TRUE(counts_on(child));
}

TEST_F(AppAttach, PanelRowsLeadIntoTheBinaryView)
{
    int child = spawn(s_name);
    ASSERT_TRUE(counts_on(child));
    ASSERT_NO_FATAL_FAILURE(attach_by(std::to_string(child)));
    dbg::Process& p = AppProbe::proc(app());
    Doc* bin = AppProbe::debugged_binary(app());
    ASSERT_NE(bin, nullptr);
    ASSERT_TRUE(bin->bv.live());
    // A breakpoint at the loop's head, for its row.
    uint64_t round = sym("round") + p.load_bias();
    bin->bps.insert(sym("round"));

    // Each row brings the live view of the program forward at its address.
    // Code selects its row; data and the stack move the hex cursor.
    auto at = [&](const BinView& v) { return v.m_cur != p.pc() ? v.m_cur : v.selected_addr(); };
    AppProbe::paint(app(), 1280, 2000);
    const auto& vars = AppProbe::var_addrs(app());
    auto seen = std::find(vars.begin(), vars.end(), sym("seen") + p.load_bias());
    ASSERT_NE(seen, vars.end());
    struct {
        const char* id;
        int n;
        uint64_t addr;
    } rows[] = {
        { "var", int(seen - vars.begin()), *seen },
        { "stack", 16, p.sp() + 16 },
        { "bp_go", 0, round },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        bin->bv.goto_addr(p.pc());
        ASSERT_NE(at(bin->bv), r.addr);
        AppProbe::focus(app()) = App::Focus::ConIn;
        ASSERT_TRUE(AppProbe::click(app(), r.id, r.n, 1280, 2000));
        EXPECT_EQ(AppProbe::front(app()), bin);
        EXPECT_EQ(AppProbe::focus(app()), App::Focus::Bin);
        EXPECT_EQ(at(bin->bv), r.addr);
    }

    // Without the program the breakpoint row leads to the image's address.
    ASSERT_TRUE(AppProbe::click(app(), "tb_stop"));
    EXPECT_FALSE(bin->bv.live());
    bin->bv.goto_addr(0);
    Doc* other = AppProbe::new_doc(app(), false);
    other->ed.set_text("other:\n    nop\n");
    AppProbe::activate(app(), other);
    ASSERT_TRUE(AppProbe::click(app(), "bp_go", 0, 1280, 2000));
    EXPECT_EQ(AppProbe::front(app()), bin);
    EXPECT_EQ(bin->bv.selected_addr(), sym("round"));
}

} // namespace
