// "--build": assembles and links one source file without a window and
// prints the log, the diagnostics, advice and the line table.
#include "cli.h"

#include "con.h"
#include "needs.h"
#include "toolchain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Sources beyond this are not NASM programs anyone wrote; reading them would
// only fill the memory.
constexpr off_t kMaxSourceBytes = off_t(256) << 20;

// The source without its extension; a dot before the last '/' is part of
// a folder name, not an extension.
std::string output_base(const std::string& source)
{
    size_t dot = source.rfind('.');
    size_t slash = source.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return source.substr(0, dot);
    return source;
}

// Refuses, after saying why, what must not be built: anything but a
// regular file (a FIFO would block, /dev/zero never ends) and files beyond
// the size limit. A file that cannot be opened is left to the build, which
// says it cannot read it.
bool buildable(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (!regular)
        con::printf("cannot build %s: not a regular file\n", con::printable(path).c_str());
    else if (st.st_size > kMaxSourceBytes)
        con::printf("cannot build %s: %lld bytes, more than the %lld MiB a source may have\n",
                    con::printable(path).c_str(), static_cast<long long>(st.st_size),
                    static_cast<long long>(kMaxSourceBytes >> 20));
    return regular && st.st_size <= kMaxSourceBytes;
}

int cli_build(const std::string& source, const std::string& key, const tc::LinkOpts& link)
{
    if (!buildable(source))
        return 1;
    std::string output = output_base(source);
    tc::Format fmt = tc::format_from_key(key);
    if (fmt == tc::Format::Auto)
        fmt = tc::detect_file_format(source);
    if (fmt == tc::Format::Bin)
        output += ".bin";
    if (output == source)
        output += ".out";

    // Names and the tools' messages reach the terminal: no control byte in
    // them is let through.
    tc::BuildResult r = tc::build(source, fmt, output, link);
    con::print_lines(r.log);
    for (const auto& d : r.diags)
        con::printf("%s line %d: %s\n", d.error ? "error" : "warning", d.line, con::printable(d.msg).c_str());
    for (const auto& line : needs::explain(needs::from_diags(r.diags)))
        con::printf("%s\n", con::printable(line).c_str());
    con::printf("%s -> %s (%s)\n", r.ok ? "OK" : "FAILED", con::printable(output).c_str(), tc::format_key(r.fmt));
    for (const auto& l : r.lines)
        con::printf("  line %-4d %08llx %u\n", l.line, static_cast<unsigned long long>(l.addr), l.len);
    return r.ok ? 0 : 1;
}

} // namespace

int cli_build_args(int argc, char** argv, int i)
{
    std::string source = argv[i + 1];
    // nasm would read a file name that starts with '-' as an option.
    if (!source.empty() && source[0] == '-')
        source = "./" + source;
    std::string key = "auto";
    tc::LinkOpts link;
    for (int j = i + 2; j < argc; ++j) {
        const char* a = argv[j];
        bool has_value = j + 1 < argc;
        if (has_value && strcmp(a, "--libs") == 0)
            link.libs = argv[++j];
        else if (has_value && strcmp(a, "--libdirs") == 0)
            link.dirs = argv[++j];
        else if (has_value && strcmp(a, "--ldflags") == 0)
            link.extra = argv[++j];
        else if (strcmp(a, "--crt") == 0)
            link.crt = true;
        else if (has_value && strcmp(a, "--incs") == 0)
            link.incs = argv[++j];
        else if (has_value && strcmp(a, "--srcs") == 0)
            link.srcs = argv[++j];
        else if (j == i + 2)
            key = a;
    }
    try {
        return cli_build(source, key, link);
    } catch (const std::bad_alloc&) {
        con::printf("cannot build %s: not enough memory\n", con::printable(source).c_str());
        return 1;
    }
}
