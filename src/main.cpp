#include "main.h"

#include "app.h"
#include "cli.h"
#include "con.h"
#include "files.h"
#include "l10n.h"
#include "logger.h"
#include "paths.h"
#include "qxcrash.h"
#include "toolchain.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace cmdline {

namespace {

const char* kName = "qxFerndockAssemblerIDE";
const char* kVersion = "1.0.2";
const char* kBuild = "1069";
const char* kPackage = "qxferndockassembleride";
const char* kContact = "support@qxferndock.dev";

// Window sizes are in points; anything outside this range is a typo.
constexpr int kMaxWindowSide = 16384;

bool is(const char* arg, const char* option) { return strcmp(arg, option) == 0; }

void forward_log(const char* level, const std::string& message)
{
    if (level && level[0] == 'W')
        logger::warn(message);
    else
        logger::info(message);
}

void install_crash_handler()
{
    qxcrash::App app;
    app.name = kName;
    app.version = kVersion;
    app.build = kBuild;
    app.contact = kContact;
    app.package = kPackage;
    app.log = forward_log;
    app.open_uri = nullptr;
    qxcrash::install(app);
    // A crash must not leave nasm or ld running on their own.
    qxcrash::set_fatal_hook(tc::kill_running_tools);
}

// fontconfig is optional; the handle stays open for the whole run.
void init_fontconfig()
{
    void* lib = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_GLOBAL);
    if (!lib)
        return;
    using FcInitFn = int (*)();
    if (auto fc_init = reinterpret_cast<FcInitFn>(dlsym(lib, "FcInit")))
        fc_init();
}

// A count or bit width from the command line; values beyond an int are
// clamped rather than wrapped, so a huge step count stays huge.
int to_int(const char* text)
{
    long v = strtol(text, nullptr, 10);
    return int(std::clamp<long>(v, INT_MIN, INT_MAX));
}

// The single-instance lock. Returns false when another instance holds it.
bool take_lock(const std::string& dir)
{
    std::string path = dir + "/qxFerndockAssemblerIDE.lock";
    int fd = files::open_regular(path, O_RDWR, 0600);
    if (fd < 0)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Only a lock held elsewhere means another instance; a file system
        // without locks must not keep the program from starting.
        bool held = errno == EWOULDBLOCK;
        close(fd);
        return !held;
    }
    if (ftruncate(fd, 0) == 0) {
        char pid[32];
        int n = snprintf(pid, sizeof pid, "%d", int(getpid()));
        if (pwrite(fd, pid, size_t(n), 0) != n)
            logger::warn("cannot write the lock file");
    }
    // The descriptor stays open, and so the lock held, until the process ends.
    return true;
}

int run_window(const WindowOptions& options)
{
    std::string dir = paths::config_dir();
    if (!take_lock(dir)) {
        fprintf(stderr, "qxFerndockAssemblerIDE is already running\n");
        return 0;
    }
    // Fonts are set up only where text is drawn: here and in the icon mode.
    init_fontconfig();
    std::string log_path = dir + "/qxFerndockAssemblerIDE.log";
    qxcrash::rotate_log(log_path);
    logger::init(dir, kName);
    qxcrash::set_log_file(logger::file_path());
    qxcrash::set_report_dir(dir);
    logger::info(std::string("qxFerndockAssemblerIDE 1.0.2 build 1069, package ") + paths::package_kind() + ", "
                 + qxcrash::package_line());
    qxcrash::record_system();
    int code = 0;
    {
        auto app = std::make_unique<App>();
        app->force_theme = options.theme;
        app->force_w = options.width;
        app->force_h = options.height;
        app->screenshot = options.screenshot;
        app->script = options.script;
        app->reference = options.reference;
        code = app->run(options.files);
        // A crash mail still being composed may log only while the log is open.
        qxcrash::finish_mail(2000);
        // The log closes before the object goes; what it logs while it is
        // destroyed stays in the log's memory.
        logger::shutdown();
    }
    return code;
}

int run_headless(const Command& cmd, int argc, char** argv)
{
    int i = cmd.index;
    switch (cmd.action) {
    case Action::Version:
        con::printf("%s %s (build %s)\n", kName, kVersion, kBuild);
        return 0;
    case Action::Help:
        print_usage();
        return 0;
    case Action::Unknown:
        fprintf(stderr, "unknown option: %s\n", argv[i]);
        print_usage();
        return 2;
    case Action::DisasmSource: {
        int bits = i + 2 < argc ? to_int(argv[i + 2]) : 0;
        uint64_t base = i + 3 < argc ? strtoull(argv[i + 3], nullptr, 0) : 0;
        return cli_disasm_source(argv[i + 1], bits, base);
    }
    case Action::Disasm:
        return cli_disasm(argv[i + 1], i + 2 < argc ? to_int(argv[i + 2]) : 0);
    case Action::Build:
        return cli_build_args(argc, argv, i);
    case Action::Trace: {
        int steps = i + 2 < argc ? to_int(argv[i + 2]) : 8;
        return cli_trace(argv[i + 1], steps);
    }
    case Action::RenderIcon:
        // The logo draws text, so the fonts must be found as in the window.
        init_fontconfig();
        return render_icon(to_int(argv[i + 1]), argv[i + 2]);
    case Action::Window:
        break;
    }
    return 1;
}

} // namespace

void parse_size(const char* text, int* width, int* height)
{
    int w = 0, h = 0;
    int got = sscanf(text, "%dx%d", &w, &h);
    auto sane = [](int v) { return v > 0 && v <= kMaxWindowSide; };
    if (got >= 1 && sane(w))
        *width = w;
    if (got >= 2 && sane(h))
        *height = h;
}

Command parse(int argc, char** argv)
{
    Command cmd;
    WindowOptions& win = cmd.window;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool has_value = i + 1 < argc;
        bool has_two = i + 2 < argc;
        Action headless = Action::Window;
        if (is(a, "--version"))
            headless = Action::Version;
        else if (is(a, "--help") || is(a, "-h"))
            headless = Action::Help;
        else if (is(a, "--disasm-source") && has_value)
            headless = Action::DisasmSource;
        else if (is(a, "--disasm") && has_value)
            headless = Action::Disasm;
        else if (is(a, "--build") && has_value)
            headless = Action::Build;
        else if (is(a, "--trace") && has_value)
            headless = Action::Trace;
        else if (is(a, "--render-icon") && has_two)
            headless = Action::RenderIcon;
        if (headless != Action::Window) {
            cmd.action = headless;
            cmd.index = i;
            return cmd;
        }
        if (has_value && is(a, "--theme")) {
            win.theme = argv[++i];
        } else if (has_value && is(a, "--size")) {
            parse_size(argv[++i], &win.width, &win.height);
        } else if (has_value && is(a, "--screenshot")) {
            win.screenshot = argv[++i];
        } else if (has_value && is(a, "--console")) {
            win.script = argv[++i];
        } else if (has_value && is(a, "--reference")) {
            win.reference = argv[++i];
        } else if (strncmp(a, "--", 2) == 0) {
            cmd.action = Action::Unknown;
            cmd.index = i;
            return cmd;
        } else {
            win.files.emplace_back(a);
        }
    }
    return cmd;
}

void print_usage()
{
    con::printf("%s %s (build %s)\n"
                "\n"
                "  qxFerndockAssemblerIDE [file.asm] [program]   open the window\n"
                "  --disasm <file> [bits]        print the disassembly, no window\n"
                "  --disasm-source <file> [bits [base]]  NASM source that builds the same bytes\n"
                "  --build <file.asm> [format] [--libs \"c m\"] [--libdirs dir] [--ldflags \"...\"] [--crt]\n"
                "                                [--incs \"dir \xE2\x80\xA6\"] [--srcs \"more.asm \xE2\x80\xA6\"]\n"
                "                                assemble (auto|elf64|elf32|bin) and link, no window\n"
                "  --theme dark|light            this run only\n"
                "  --size <w>x<h>                window size in points, this run only\n"
                "  --screenshot <file.png>       paint once, write the picture, quit\n"
                "  --console \"<c1>;<c2>\"         run debug console commands after loading\n"
                "  --reference <word|@topic>      open Help > Reference at a word or topic\n"
                "  --trace <program> [steps]     debugger check without a window\n"
                "  --version                     print the version\n"
                "  --render-icon <size> <file.png>   write the app icon\n",
                kName, kVersion, kBuild);
}

int run(int argc, char** argv)
{
    install_crash_handler();
    signal(SIGPIPE, SIG_IGN);
    L10n::init(paths::config_dir());

    Command cmd = parse(argc, argv);
    // A headless run stays in the C locale: what it reads and prints is
    // bytes and ASCII, the same whatever the desktop's settings, and loading
    // a locale took a noticeable part of a run like --build. The window
    // follows the desktop in everything but numbers.
    if (cmd.action != Action::Window)
        return run_headless(cmd, argc, argv);
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    return run_window(cmd.window);
}

} // namespace cmdline
