// Decoding speed over the .text of a large library, and "--disasm" next to
// objdump on equal work: a file of 24 executable sections that together hold
// the library's whole .text, each section below the listing's limit of
// 20,000 instructions, so both tools list every instruction.
//
// Usage: disasm_bench [library]   (default /usr/lib/x86_64-linux-gnu/libc.so.6)
// Exit code 0 when the targets are met (3 million full records per second on
// one core; "--disasm" at least 3 times faster than objdump on equal work;
// its peak memory at most the file size plus 64 MiB), 1 otherwise.
#include "bench_util.h"
#include "binimage.h"
#include "disasm.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSections = 24;

struct Run {
    double seconds = -1;   // wall time, negative when the program failed
    double cpu = 0;        // user and system time
    long peak_kib = 0;     // maximum resident set size
    size_t insn_lines = 0; // listed instructions counted in the output
};

// Counts lines that list an instruction: ours start with two blanks and an
// address followed by two blanks, objdump's with blanks, an address, ":\t",
// the bytes and a tab before the text (a long instruction's further bytes
// come on a line of their own without that tab).
size_t count_insn_lines(const std::string& path, bool objdump)
{
    std::ifstream in(path);
    std::string line;
    size_t n = 0;
    while (std::getline(in, line)) {
        if (objdump) {
            size_t colon = line.find(":\t");
            if (colon != std::string::npos && colon > 0 && line[0] == ' '
                && line.find_first_not_of(" 0123456789abcdef") == colon && line.find('\t', colon + 2) != std::string::npos)
                ++n;
        } else if (line.size() > 12 && line.compare(0, 2, "  ") == 0 && line.compare(10, 2, "  ") == 0
                   && line.find_first_not_of("0123456789abcdef", 2) == 10) {
            ++n;
        }
    }
    return n;
}

// Runs a program with its output in `out` (or /dev/null) and measures it.
Run measure(const std::vector<std::string>& argv, const std::string& out = "/dev/null")
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Run r;
    double start = bench::now_s();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(fd, 1);
        dup2(null_fd, 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    int st = 0;
    rusage ru {};
    wait4(pid, &st, 0, &ru);
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0)
        r.seconds = bench::now_s() - start;
    r.peak_kib = ru.ru_maxrss;
    r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return r;
}

// Cuts the library's .text into sections at instruction boundaries, as equal
// in instruction count as they come, and links them into one executable.
bool build_sections_file(const BinImage& img, const BinImage::Section& text, const std::string& dir,
                         std::string* exe, size_t* total)
{
    const uint8_t* code = img.m_data.data() + text.offset;
    std::vector<uint64_t> starts; // offset of every instruction
    dis::Insn insn;
    for (uint64_t off = 0; off < text.size; off += insn.len) {
        starts.push_back(off);
        dis::decode(code + off, text.size - off, text.addr + off, img.m_bits, &insn, false);
    }
    *total = starts.size();
    {
        std::ofstream bin(dir + "/text.bin", std::ios::binary);
        bin.write(reinterpret_cast<const char*>(code), std::streamsize(text.size));
    }
    std::ofstream src(dir + "/multi.asm");
    for (int i = 0; i < kSections; ++i) {
        uint64_t from = starts[starts.size() * i / kSections];
        uint64_t to = i + 1 < kSections ? starts[starts.size() * (i + 1) / kSections] : text.size;
        char name[16];
        snprintf(name, sizeof name, "t%02d", i);
        src << "section ." << name << " progbits alloc exec nowrite align=1\n"
            << "global " << name << "\n" << name << ":\n"
            << "    incbin \"text.bin\", " << from << ", " << to - from << "\n";
    }
    src.close();
    *exe = dir + "/multi";
    return bench::run_quiet({ "nasm", "-f", "elf64", "-o", dir + "/multi.o", dir + "/multi.asm" }, dir) == 0
        && bench::run_quiet({ "ld", "-e", "t00", "-o", *exe, dir + "/multi.o" }, dir) == 0;
}

off_t file_size(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/libc.so.6";
    BinImage img;
    std::string err;
    if (!img.load(path, &err)) {
        fprintf(stderr, "cannot read %s (%s)\n", path.c_str(), err.c_str());
        return 1;
    }
    const BinImage::Section* text = nullptr;
    for (const auto& s : img.m_sections)
        if (s.name == ".text")
            text = &s;
    if (!text || text->size == 0) {
        fprintf(stderr, "%s has no .text\n", path.c_str());
        return 1;
    }

    // Full records (text, flow facts, RIP-relative addresses), one reused record.
    const uint8_t* code = img.m_data.data() + text->offset;
    dis::Insn insn;
    size_t count = 0;
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        count = 0;
        double start = bench::now_s();
        for (uint64_t off = 0; off < text->size; off += insn.len) {
            dis::decode(code + off, text->size - off, text->addr + off, img.m_bits, &insn, false);
            ++count;
        }
        double rate = count / (bench::now_s() - start);
        if (rate > best)
            best = rate;
    }
    size_t with_ops = 0;
    double start = bench::now_s();
    for (uint64_t off = 0; off < text->size; off += insn.len, ++with_ops)
        dis::decode(code + off, text->size - off, text->addr + off, img.m_bits, &insn, true);
    double ops_rate = with_ops / (bench::now_s() - start);
    printf("decode: %zu instructions, %.2f M/s full records (target 3.00), %.2f M/s with operands\n",
        count, best / 1e6, ops_rate / 1e6);
    const bool decode_ok = best >= 3e6;

    char tmpl[] = "/tmp/qxdisbench.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    std::string exe;
    size_t total = 0;
    if (!build_sections_file(img, *text, dir, &exe, &total)) {
        printf("nasm or ld failed to build the test file\n");
        bench::run_quiet({ "rm", "-rf", dir });
        return 1;
    }

    // Equal work first: both listings hold the same number of instructions.
    measure({ QX_EXE, "--disasm", exe }, dir + "/ours.txt");
    measure({ "objdump", "-d", "-M", "intel", exe }, dir + "/objdump.txt");
    const size_t ours_lines = count_insn_lines(dir + "/ours.txt", false);
    const size_t objdump_lines = count_insn_lines(dir + "/objdump.txt", true);
    printf("file: %d executable sections, %zu instructions of %s's .text, %lld bytes\n", kSections, total,
        path.c_str(), static_cast<long long>(file_size(exe)));
    printf("listed: --disasm %zu instructions, objdump %zu\n", ours_lines,
        objdump_lines);
    const bool equal_work = ours_lines == total;

    // Alternating pairs, the median of their ratios: the machine's load
    // falls on both tools alike.
    Run ours, objdump;
    const bench::Pairs pairs = bench::alternate(
        9,
        [&] {
            Run r = measure({ "objdump", "-d", "-M", "intel", exe });
            objdump.cpu += r.cpu;
            return r.seconds;
        },
        [&] {
            Run r = measure({ QX_EXE, "--disasm", exe });
            ours.cpu += r.cpu;
            ours.peak_kib = std::max(ours.peak_kib, r.peak_kib);
            return r.seconds;
        });
    const double ratio = bench::median(pairs.ratio);
    const bool listing_ok = pairs.ok && ratio >= 3;
    if (pairs.ok) {
        printf("listing: --disasm %.3f s, objdump -d -M intel %.3f s (medians), %.2fx as fast: median of %zu "
               "pair ratios (target 3.0x)\n",
            bench::median(pairs.b), bench::median(pairs.a), ratio, pairs.ratio.size());
        printf("         processor time of all those runs: %.3f s against %.3f s, %.2fx\n", ours.cpu, objdump.cpu,
            ours.cpu > 0 ? objdump.cpu / ours.cpu : 0.0);
    } else {
        printf("listing: could not run both tools\n");
    }
    const long limit_kib = long(file_size(exe) / 1024) + 64 * 1024;
    const bool memory_ok = ours.peak_kib > 0 && ours.peak_kib <= limit_kib;
    printf("memory: --disasm peak %ld KiB, limit %ld KiB (file size + 64 MiB)\n", ours.peak_kib, limit_kib);

    // The limit of 20,000 per range must not make a long range cost memory:
    // the library itself, one range of all its instructions.
    Run lib = measure({ QX_EXE, "--disasm", path });
    const long lib_limit_kib = long(file_size(path) / 1024) + 64 * 1024;
    const bool lib_memory_ok = lib.peak_kib > 0 && lib.peak_kib <= lib_limit_kib;
    printf("memory on %s: peak %ld KiB, limit %ld KiB; %.3f s\n", path.c_str(), lib.peak_kib, lib_limit_kib,
        lib.seconds);

    bench::run_quiet({ "rm", "-rf", dir });
    const bool ok = decode_ok && equal_work && listing_ok && memory_ok && lib_memory_ok;
    printf("%s\n", ok ? "targets met" : "targets NOT met");
    return ok ? 0 : 1;
}
