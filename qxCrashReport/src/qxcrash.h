#pragma once
// The crash-report library: turns a fatal signal into a plain-text report,
// keeps the previous run's log and lets the next start find the report.
// It depends on nothing in the rest of the program.
#include <string>
#include <vector>

namespace qxcrash {

// The program's identity, handed over once by install(). The text pointers
// must stay valid for the life of the process (string literals in practice).
struct App {
    const char* name = "App";
    const char* version = "?";
    const char* build = "?";
    const char* contact = "";
    const char* package = "";
    // Where the library's own log lines go ("INFO", "WARN"); null drops them.
    void (*log)(const char* level, const std::string& message) = nullptr;
    // How links and folders are opened; null lets the library do it itself.
    void (*open_uri)(const std::string& uri) = nullptr;
};

// Context slots that every crash report carries.
enum class Context : int {
    Graphics = 0,
    Audio = 1,
    System = 2,
};

// First call of the process: keeps the identity and arms the fatal-signal
// handler (SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP).
void install(const App& app);

// A function the fatal-signal handler calls first, before it writes the
// report (the program ends the tools it runs there). It must be
// async-signal-safe. Null removes it.
void set_fatal_hook(void (*hook)());

// Moves an existing log at `path` to `path` + ".1"; returns that name, or ""
// when nothing was moved.
std::string rotate_log(const std::string& path);

// The running log, quoted at the end of a report.
void set_log_file(const std::string& path);

// Reports go to dir/crash_report.txt from now on; an early report left in the
// runtime directory moves there.
void set_report_dir(const std::string& dir);

std::string report_path();
std::string crash_log_path();

// Whether a report waits; its text goes to `text` when given.
bool pending(std::string* text = nullptr);
// Removes the report and its crash-log copy.
void discard();

// Opens a mail to the maker with the waiting report, its crash log and the
// current run's log (`current_log`, may be "") attached, through the mail
// program's compose command line, the desktop's Email portal or xdg-email,
// else a mailto: link and the report's folder. The user's mail program
// composes; nothing is sent from here. Returns at once; the outcome is only
// logged. The files get a "-sent" name once a mail program took them and
// stay offered by pending() when every way failed.
void send(const std::string& current_log);
// At exit, before the log closes: waits up to `wait_ms` for a running send,
// then lets it neither log nor start anything more. True when none was left.
bool finish_mail(int wait_ms);

// Replaces a context slot's text; the signal handler always sees a whole text.
void set_context(Context slot, const std::string& text);

void record_system();
void record_graphics(const std::vector<std::string>& lines);
void record_audio(const std::vector<std::string>& lines);

// How the program is installed, e.g. "deb qxferndockassembleride 1.0.2 (/usr/bin/...)".
std::string package_line();
// Operating system, kernel, C library, processor, memory, session, package, sound.
std::vector<std::string> system_lines();
// One line per graphics card.
std::vector<std::string> gpu_lines();

} // namespace qxcrash
