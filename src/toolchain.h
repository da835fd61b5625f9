#pragma once
// The toolchain driver: finds and runs nasm, ld and cc/gcc, parses what
// they print and turns a NASM source file into a program or a flat binary
// together with a table from source lines to code addresses.
#include "textutil.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tc {

// Output format of a build; the values are persisted through format_key.
enum class Format {
    Auto = 0,
    Elf64 = 1,
    Elf32 = 2,
    Bin = 3,
};

// Link options of one source file.
struct LinkOpts {
    std::string libs;  // "c m SDL2", file names or paths
    std::string dirs;  // library folders, blank or colon separated
    std::string extra; // further linker arguments
    bool crt = false;  // link through the C compiler with the C runtime
    std::string incs;  // include folders for %include
    std::string srcs;  // further sources of the same program

    bool empty() const;
};

struct Diag {
    int line = 0;      // 1-based source line, 0 when there is none
    bool error = true; // false for a warning
    std::string file;
    std::string msg;   // message text, or a machine code such as "missing:nasm"
};

// Sixteen bytes: a large program has millions.
struct LineAddr {
    int line = 0;
    uint32_t len = 0;
    uint64_t addr = 0;
};

struct BuildResult {
    bool ok = false;
    Format fmt = Format::Elf64;
    std::string output;
    std::string log;
    std::vector<Diag> diags;
    std::vector<LineAddr> lines; // sorted by addr
    uint64_t org = 0;
};

struct ProcResult {
    bool started = false;
    int status = -1;
    std::string out; // standard output and error, merged
};

// One run of bytes in a NASM listing.
struct ListEntry {
    int line = 0;
    std::string section;
    uint64_t offset = 0;
    uint32_t len = 0;
};

// Facts about the running Linux distribution, from "/etc/os-release".
struct Distro {
    std::string id;
    std::string id_like;
    std::string pretty_name;
    std::string name;
};

// ---- formats and text utilities ------------------------------------------

const char* format_key(Format fmt);
Format format_from_key(const std::string& key);

// The line before its comment, with quoted strings blanked out.
std::string code_part(const std::string& line);
using textutil::trim;
// Splits at commas and white space, and also at ':' when `colon` is true.
std::vector<std::string> words(const std::string& s, bool colon);
// A list of folders: split at blanks, commas and ':', except inside double
// or single quotes, which keep a folder with blanks whole and are dropped.
std::vector<std::string> folders(const std::string& s);

// ---- processes and tools ---------------------------------------------------

// Runs argv (argv[0] a full path) with merged output, stdin from /dev/null
// and a time limit. An empty cwd keeps the current directory.
ProcResult run(const std::vector<std::string>& argv, const std::string& cwd, int limit_ms);
// The time limit of each tool run of a build, by the size of its source.
int tool_limit_ms(uint64_t source_bytes);

// Undoes, in a freshly forked child, what the program set up for itself
// that a child must not inherit (the ignored SIGPIPE). Async-signal-safe.
void child_defaults();

// Ends the process groups of every tool running now. Async-signal-safe: the
// program's fatal-signal handling calls it, and the first tool run installs
// it for SIGINT, SIGTERM, SIGHUP and SIGQUIT, so no tool outlives the program.
void kill_running_tools();

std::string find_tool(const std::string& name);
void set_tool_path(const std::string& name, const std::string& path);
// A copy of the override paths, for a worker that must not see them change.
std::map<std::string, std::string> tool_paths();
// Makes find_tool on the calling thread use `paths` (kept alive by the
// caller) instead of the shared overrides; null goes back to those.
void use_tool_paths(const std::map<std::string, std::string>* paths);
// While `*flag` is set, run on the calling thread starts no tool and ends
// a running one within about 100 ms; null removes the flag.
void set_cancel_flag(const std::atomic<bool>* flag);
std::string find_tool_auto(const std::string& name);
bool is_executable(const std::string& path);
std::string tool_version(const std::string& path);
bool has_crt32();
// The same question for a given compiler, for a worker that must not look
// up tools itself.
bool has_crt32(const std::string& compiler);
// This process's work directory, inside the per-user one; made on first use
// and removed when the process exits.
std::string temp_dir();
// The per-user directory that temp_dir settles on for a given
// XDG_RUNTIME_DIR value; creates it when needed.
std::string choose_temp_dir(const std::string& runtime_dir);
// A directory of this process inside `user_dir` ("run-<pid>-" and six random
// characters, mode 0700), locked as long as `lock_fd` (the directory opened)
// stays open. Directories left by processes that have ended are removed
// first. Empty when none can be made.
std::string make_process_dir(const std::string& user_dir, int* lock_fd);
// Removes a directory and everything in it, following no link.
void remove_process_dir(const std::string& dir);
std::string snap_root();
std::string quote_cmd(const std::vector<std::string>& argv);
// A path as a tool's argument: a relative one gets "./" in front, so a name
// that starts with '-' or '@' is never read as an option or an options file.
std::string arg_path(const std::string& path);

// ---- parsers ---------------------------------------------------------------

std::vector<ListEntry> parse_listing(const std::string& text);
// The same for a listing file, read in blocks; each entry goes to fn as
// soon as it is complete. False when the file cannot be read.
bool read_listing(const std::string& path, const std::function<void(const ListEntry&)>& fn);
std::vector<Diag> parse_diags(const std::string& output);
// From a linker map ("-Map"): the address at which each section of
// `object` (named exactly as on the link command) was placed, keyed by the
// lower-cased section name.
std::map<std::string, uint64_t> object_sections(const std::string& map_text, const std::string& object);

// ---- link command ------------------------------------------------------------

std::vector<std::string> link_command(const std::string& tool, Format fmt, const LinkOpts& opts,
                                      const std::string& object, const std::string& output);
std::vector<std::string> extra_objects(const LinkOpts& opts, const std::string& object_dir);
std::vector<std::string> lib_dirs(const LinkOpts& opts, Format fmt);
std::string resolve_lib(const std::string& word, const std::vector<std::string>& dirs, bool* found);
std::vector<std::string> missing_libs(const LinkOpts& opts, Format fmt);

// ---- distribution facts ------------------------------------------------------

// Reads "/etc/os-release" on every call.
Distro distro();
Distro distro_from_text(const std::string& os_release);

std::string os_name();
std::string search_command(const std::string& term);
std::vector<std::string> packages_for(const std::string& item);
std::string install_command(const std::vector<std::string>& packages);

std::string os_name(const Distro& d);
std::string search_command(const std::string& term, const Distro& d);
std::vector<std::string> packages_for(const std::string& item, const Distro& d);
std::string install_command(const std::vector<std::string>& packages, const Distro& d);

// ---- building ----------------------------------------------------------------

Format detect_format(const std::string& text);
// The same for a file, read in blocks; an unreadable file is an empty text.
Format detect_file_format(const std::string& path);
// What a build gives besides the program: the line table (from NASM's
// listing) and debug data, or neither when only the program is wanted.
enum class Detail { LinesAndDebug, Plain };
BuildResult build(const std::string& source, Format fmt, const std::string& output, const LinkOpts& link,
                  Detail detail = Detail::LinesAndDebug);
bool assemble_line(const std::string& text, int bits, uint64_t addr, std::vector<uint8_t>* out,
                   std::string* err = nullptr);

} // namespace tc
