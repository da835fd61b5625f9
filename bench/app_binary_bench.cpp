// A binary document in the window over a large raw file: opening it with
// the first full frame, a frame at the start and near the end of the file
// (equal work), and typing one character of a missing pattern into the
// find field: what the keystroke costs the main loop against what the
// whole search costs, spread over the loop's turns.
//
// Usage: app_binary_bench [megabytes]   (default 100)
#include "../tests/support/app_probe.h"
#include "bench_util.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

bool report(const char* what, double value, double limit, const char* unit)
{
    bool ok = value <= limit;
    printf("  %-52s %9.2f %s  (target <= %.0f %s) %s\n", what, value, unit, limit, unit, ok ? "ok" : "MISSED");
    return ok;
}

double frame_ms(App& app)
{
    std::vector<double> t;
    for (int i = 0; i < 15; ++i) {
        double a = bench::now_ms();
        AppProbe::paint(app, 1920, 1080);
        t.push_back(bench::now_ms() - a);
    }
    return bench::median(t);
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t mb = argc > 1 ? strtoull(argv[1], nullptr, 10) : 100;
    char tmpl[] = "/tmp/app_binary_bench_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0)
        return 1;
    {
        std::vector<uint8_t> buf(mb << 20);
        std::mt19937 rng(11);
        for (auto& b : buf)
            b = uint8_t(rng() % 200); // never the bytes of the missing pattern below
        bool ok = write(fd, buf.data(), buf.size()) == ssize_t(buf.size());
        close(fd);
        if (!ok)
            return 1;
    }
    std::string path = std::string(tmpl) + ".bin";
    if (rename(tmpl, path.c_str()) != 0)
        return 1;

    bool all = true;
    printf("binary document in the window, %llu MB raw file, frames of 1920x1080:\n",
           static_cast<unsigned long long>(mb));
    {
        App app;
        double t0 = bench::now_ms();
        if (!AppProbe::load_binary(app, path))
            return 1;
        AppProbe::paint(app, 1920, 1080);
        all &= report("open (load, rows, first frame)", bench::now_ms() - t0, 1000, "ms");
        Doc* d = AppProbe::binary(app);

        double start = frame_ms(app);
        d->bv.goto_offset(d->img.m_data.size() - 4096);
        double end = frame_ms(app);
        printf("  frame at the start %.2f ms, near the end %.2f ms\n", start, end);
        all &= report("frame, worst of start and end", std::max(start, end), 16, "ms");

        // The find field's keystroke starts the search and runs one slice;
        // the rest goes one slice per loop turn.
        AppProbe::paint(app, 1920, 1080);
        AppProbe::show_find_for_binary(app);
        double k0 = bench::now_ms();
        AppProbe::text_input(app, "\xF0\xF1\xF2\xF3");
        double key = bench::now_ms() - k0;
        int turns = 1;
        double longest = key;
        while (AppProbe::searching(app)) {
            double a = bench::now_ms();
            AppProbe::poll_binary(app);
            longest = std::max(longest, bench::now_ms() - a);
            ++turns;
        }
        double total = bench::now_ms() - k0;
        printf("  missing pattern: whole search %.1f ms over %d loop turns\n", total, turns);
        all &= report("keystroke in the find field (main thread)", key, 16, "ms");
        all &= report("longest loop turn of the search", longest, 16, "ms");
        all &= report("whole search for a missing pattern", total, 300, "ms");
        // The peer on equal work: the same search in one blocking call, what
        // each keystroke would cost without slices.
        double b0 = bench::now_ms();
        d->bv.find("\xF0\xF1\xF2\xF3", true, false);
        printf("  the same search in one blocking call: %.1f ms\n", bench::now_ms() - b0);
    }
    unlink(path.c_str());
    return all ? 0 : 1;
}
