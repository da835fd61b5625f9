#pragma once
// Helpers shared by the test suites: temporary directories, running
// commands and the built executable, reading and writing files.
#include "gfx.h"

#include <cstdint>
#include <functional>
#include <map>
#include <sys/types.h>
#include <string>
#include <vector>

namespace testutil {

struct RunResult {
    int code = -1;        // exit code, or 128 + signal when killed by one
    std::string out;      // standard output
    std::string err;      // standard error
};

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs argv[0] (searched in PATH) with the given arguments and environment
// additions ("NAME=value"; "NAME=" alone unsets NAME). Standard input is
// /dev/null. Output is captured separately.
RunResult run(const std::vector<std::string>& argv,
              const std::vector<std::string>& env = {},
              const std::string& cwd = {});

// Runs a shell command line through /bin/sh -c.
RunResult sh(const std::string& command, const std::string& cwd = {});

// Runs `body` in a forked child after the environment changes (a null
// value unsets the variable) and returns the text the body returned; a
// child that ends badly adds " [child ended badly]".
std::string run_in_child(const std::vector<std::pair<const char*, const char*>>& env,
                     const std::function<std::string()>& body);

// Runs the program under test.
RunResult run_exe(const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {},
                  const std::string& cwd = {});

std::string exe_path();
std::string source_dir();
std::string tests_dir();

bool write_file(const std::string& path, const std::string& data);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Assembles NASM source text into `out` with the given nasm format
// ("bin", "elf64", "elf32") and, for ELF formats, links it with ld.
// Returns an empty string on success, otherwise the tools' output.
std::string nasm_build(const std::string& source, const std::string& out,
                       const std::string& format);

// The symbols of a built program by name, as nm lists them.
std::map<std::string, uint64_t> symbols(const std::string& path);

// Eight bytes of another process's memory (0 when unreadable), and one
// field of its /proc status ("TracerPid", "State"), for watching a program
// the test runs without tracing it.
uint64_t peek_u64(int pid, uint64_t addr);
std::string status_field(int pid, const std::string& key);

// A pixel of an image surface and a colour, both as 0xRRGGBB.
uint32_t pixel(cairo_surface_t* s, int x, int y);
uint32_t rgb(const Rgba& c);

// "%llX" of the value.
std::string upper_hex(uint64_t v);

// Runs fn in a forked child and answers whether it ended without a failed
// check; the child's failures are printed where they occur. For window
// code whose X11 layer leaves blocks behind that this process's leak
// check would count.
bool passes_in_child(const std::function<void()>& fn);

// waitpid for one child, bounded: a child still running after `seconds` is
// killed and reaped, and -1 returned, so a hung child fails its test
// instead of stalling the run.
pid_t wait_child(pid_t pid, int* status, int seconds = 180);

// The first and the last element, or a value-initialised one when there is
// none: a check on what a run reported then fails instead of reading past
// the end.
template <typename List>
typename List::value_type first_of(const List& list)
{
    return list.empty() ? typename List::value_type {} : list.front();
}
template <typename List>
typename List::value_type last_of(const List& list)
{
    return list.empty() ? typename List::value_type {} : list.back();
}

// Runs fn on this thread. When it has not returned within `seconds`, says
// what hung and ends the test program with a failure: a call that deadlocks
// fails at once instead of stalling the run until its time limit.
void within(int seconds, const std::string& what, const std::function<void()>& fn);

// Writes the surface as a PNG, and a copy into the folder named by
// QX_TEST_SHOTS when it is set, to look at.
bool write_picture(cairo_surface_t* s, const std::string& path, std::string* why);

} // namespace testutil
