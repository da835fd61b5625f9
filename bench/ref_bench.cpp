// The reference's search as the dialog runs it on every keystroke (the
// ranked search plus the list with its headings), and the detail pages the
// dialog rebuilds on every paint.
//
// Usage: ref_bench
// Exit code 0 when every keystroke query takes at most 2 ms (median of many
// runs), 1 otherwise. As a floor, the same queries are timed against a bare
// scan that only lower-cases and searches every English reference text once.
#include "bench_util.h"
#include "l10n.h"
#include "ref.h"
#include "refdata.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

template<typename F>
double median_ms(int rounds, F&& f)
{
    std::vector<double> t;
    for (int i = 0; i < rounds; ++i) {
        double start = bench::now_ms();
        f();
        t.push_back(bench::now_ms() - start);
    }
    return bench::median(t);
}

// Every text a description search may read, in the active language.
std::vector<std::string> all_texts()
{
    std::vector<std::string> out;
    for (int k = 0; k <= 4; ++k)
        for (const ref::Entry& e : ref::list(ref::Kind(k))) {
            out.push_back(ref::title(e));
            for (const auto& b : ref::detail(e, 64))
                if (b.type == ref::Block::Type::Text)
                    out.push_back(b.text);
        }
    return out;
}

size_t bare_scan(const std::vector<std::string>& texts, const std::string& q)
{
    size_t hits = 0;
    for (const auto& t : texts) {
        std::string low = t;
        for (char& c : low)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        hits += low.find(q) != std::string::npos;
    }
    return hits;
}

} // namespace

int main()
{
    bool ok = true;
    std::vector<std::string> texts = all_texts();
    printf("query   results  rows+search ms  bare scan ms  (target <= 2 ms)\n");
    for (const char* q : { "e", "abc", "1", "mov", "file", "0x3c" }) {
        size_t results = ref::search(q, -1).size();
        double ms = median_ms(200, [&] { (void)ref::rows(q, 0); });
        double floor = median_ms(200, [&] { (void)bare_scan(texts, q); });
        printf("%-7s %7zu  %14.3f  %12.3f\n", q, results, ms, floor);
        if (ms > 2.0)
            ok = false;
    }
    // The largest detail page, rebuilt on every paint of the dialog.
    double worst = 0;
    std::string worst_title;
    for (int k = 0; k <= 4; ++k)
        for (const ref::Entry& e : ref::list(ref::Kind(k))) {
            double ms = median_ms(20, [&] { (void)ref::detail(e, 64); });
            if (ms > worst) {
                worst = ms;
                worst_title = ref::title(e);
            }
        }
    printf("slowest detail page: %s, %.4f ms\n", worst_title.c_str(), worst);
    double tip = median_ms(2000, [] { (void)ref::tooltip("mov", 64); });
    printf("tooltip of mov: %.4f ms\n", tip);
    printf(ok ? "search targets met\n" : "search targets MISSED\n");
    return ok ? 0 : 1;
}
