// Ranked search over every kind of entry, and the list the Reference
// dialog shows for a query or a category.
#include "ref_impl.h"

#include "l10n.h"
#include "numfmt.h"

#include <algorithm>
#include <cstdint>

using L10n::tr;

namespace ref {

using namespace impl;

namespace {

constexpr int kNoMatch = 99;

// Lower ranks are better: equal, begins with, contains elsewhere.
int rank_text(const std::string& hay, const std::string& q, int base)
{
    std::string h = lower(hay);
    if (h == q)
        return base;
    size_t at = h.find(q);
    if (at == 0)
        return base + 1;
    return at == std::string::npos ? kNoMatch : base + 3;
}

int rank_names(const char* names, const std::string& q)
{
    int best = kNoMatch;
    for (const std::string& n : split(names, ','))
        best = std::min(best, rank_text(n, q, 0));
    return best;
}

std::string trim_blanks(const std::string& s)
{
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

struct Candidate {
    int rank;
    Entry e;
};

} // namespace

std::vector<Entry> search(const std::string& query, int kind)
{
    std::string q = lower(trim_blanks(query));
    if (q.empty())
        return {};
    bool has_number = false;
    uint64_t number = 0;
    if (q[0] >= '0' && q[0] <= '9') {
        int bytes = 0;
        has_number = numfmt::parse(q, &number, &bytes);
    }
    const bool long_query = q.size() >= 3;
    auto wanted = [&](Kind k) { return kind < 0 || kind == static_cast<int>(k); };
    auto is_number = [&](int n) { return has_number && n >= 0 && number == uint64_t(n); };

    std::vector<Candidate> found;
    auto keep = [&](int rank, Kind k, size_t i) {
        if (rank <= 98)
            found.push_back({ rank, { k, int(i) } });
    };

    if (wanted(Kind::Topic))
        for (int i = 0; i < kTopicCount; ++i) {
            int r = rank_text(title({ Kind::Topic, i }), q, 10);
            if (r == kNoMatch && long_query && lower(tr(kTopics[i].body)).find(q) != std::string::npos)
                r = 40;
            keep(r, Kind::Topic, i);
        }
    if (wanted(Kind::Insn))
        for (size_t i = 0; i < refdata::kInsnCount; ++i) {
            int r = rank_names(refdata::kInsns[i].names, q);
            if (r == kNoMatch && long_query)
                r = rank_text(insn_desc(refdata::kInsns[i]), q, 30);
            keep(r, Kind::Insn, i);
        }
    if (wanted(Kind::Directive))
        for (size_t i = 0; i < refdata::kDirectiveCount; ++i) {
            int r = rank_names(refdata::kDirectives[i].names, q);
            if (r == kNoMatch && long_query)
                r = rank_text(tr(std::string("ref.d.") + refdata::kDirectives[i].id), q, 30);
            keep(r, Kind::Directive, i);
        }
    if (wanted(Kind::Syscall))
        for (size_t i = 0; i < refdata::kSyscallCount; ++i) {
            const refdata::Syscall& row = refdata::kSyscalls[i];
            int r = rank_text(row.name, q, 2);
            bool by_number = true;
            if (is_number(row.nr64))
                r = std::min(r, 5);
            else if (is_number(row.nr32))
                r = std::min(r, 6);
            else
                by_number = false;
            if (r == kNoMatch && !by_number && long_query && sys_has_text(row))
                r = rank_text(sys_desc(row), q, 32);
            keep(r, Kind::Syscall, i);
        }
    if (wanted(Kind::Errno))
        for (size_t i = 0; i < refdata::kErrnoCount; ++i) {
            const refdata::Errno& row = refdata::kErrnos[i];
            if (*row.alias)
                continue;
            int r = rank_text(row.name, q, 2);
            if (is_number(row.nr))
                r = std::min(r, 7);
            else if (r == kNoMatch && long_query)
                r = rank_text(errno_text(row.nr), q, 34);
            keep(r, Kind::Errno, i);
        }

    std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    std::vector<Entry> out;
    out.reserve(found.size());
    for (const Candidate& c : found)
        out.push_back(c.e);
    return out;
}

std::vector<Row> rows(const std::string& query, int category)
{
    std::vector<Row> out;
    if (!query.empty()) {
        std::vector<Entry> hits = search(query, -1);
        if (hits.size() > size_t(kMaxResults))
            hits.resize(kMaxResults);
        for (size_t i = 0; i < hits.size(); ++i) {
            if (i == 0 || hits[i].kind != hits[i - 1].kind)
                out.push_back({ true, kind_label(hits[i].kind), {} });
            out.push_back({ false, {}, hits[i] });
        }
        return out;
    }
    if (category < 0 || category > 4)
        return out;
    std::string last_group;
    for (const Entry& e : list(static_cast<Kind>(category))) {
        std::string group = group_label(e);
        if (!group.empty() && group != last_group) {
            out.push_back({ true, group, {} });
            last_group = group;
        }
        out.push_back({ false, {}, e });
    }
    return out;
}

Opening opening(const std::string& word, const std::string& topic_id)
{
    Opening o;
    if (!topic_id.empty()) {
        o.entry = topic(topic_id);
        return o;
    }
    if (word.empty())
        return o;
    o.entry = lookup(word);
    if (!o.entry.valid())
        o.query = word;
    return o;
}

int row_of(const std::vector<Row>& rows, const Entry& e)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (!rows[i].header && rows[i].e == e)
            return int(i);
    return -1;
}

int first_entry_row(const std::vector<Row>& rows)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (!rows[i].header)
            return int(i);
    return -1;
}

int step_row(const std::vector<Row>& rows, int from, int count)
{
    if (from < 0 || size_t(from) >= rows.size() || rows[from].header)
        return first_entry_row(rows);
    int dir = count < 0 ? -1 : 1;
    int left = count < 0 ? -count : count;
    int cur = from;
    for (int i = from + dir; left > 0 && i >= 0 && size_t(i) < rows.size(); i += dir)
        if (!rows[i].header) {
            cur = i;
            --left;
        }
    return cur;
}

} // namespace ref
