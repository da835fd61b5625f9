// The console's line handling and its commands: the echo, assembly mode,
// the command word and arguments, ranges and byte lists, and every command
// except the listings (d, u) and the registers (r).
#include "console.h"

#include "l10n.h"
#include "needs.h"
#include "toolchain.h"
#include "textutil.h"

#include <algorithm>
#include <cstdio>

using textutil::lower;

namespace {

// Search and compare stop after this many lines, so one command never
// floods the output.
constexpr size_t kMaxHits = 1000;
constexpr int kMaxSteps = 100000;

bool is_quote(char c) { return c == '"' || c == '\''; }

bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == ',';
}

// Blanks and commas separate arguments; a quoted argument keeps its quotes
// and everything up to the same quote character.
std::vector<std::string> split_args(const std::string& rest)
{
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    for (char c : rest) {
        if (quote) {
            cur += c;
            if (c == quote) {
                out.push_back(std::move(cur));
                cur.clear();
                quote = 0;
            }
        } else if (is_separator(c)) {
            if (!cur.empty())
                out.push_back(std::move(cur));
            cur.clear();
        } else if (is_quote(c)) {
            if (!cur.empty())
                out.push_back(std::move(cur));
            cur.assign(1, c);
            quote = c;
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        out.push_back(std::move(cur));
    return out;
}

std::string hex_text(uint64_t v)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

} // namespace

void Console::exec(const std::string& line)
{
    const std::string text = tc::trim(line);
    print(prompt() + line, kEcho);
    if (m_asm) {
        if (text.empty())
            m_asm = false;
        else
            assemble(text);
        return;
    }
    if (text.empty())
        return;
    if (!m_host->has_target()) {
        error("con.err.no_target");
        return;
    }
    // Only the command word is case-blind: symbols, quoted bytes and file
    // names in the arguments keep the case they were typed in.
    std::string word = lower(text.substr(0, 2));
    if (word.size() < 2 || word[0] != 'b' || (word[1] != 'p' && word[1] != 'l' && word[1] != 'c'))
        word.resize(1);
    const std::string rest = text.substr(word.size());
    Args args = split_args(rest);
    args.insert(args.begin(), word);
    run_command(args, rest);
}

void Console::assemble(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::string err;
    if (tc::assemble_line(text, m_host->bits(), m_asm_at, &bytes, &err)) {
        if (m_host->write(m_asm_at, bytes.data(), bytes.size())) {
            m_asm_at += bytes.size();
            m_host->changed();
        } else {
            error("con.err.unmapped");
        }
        return;
    }
    print("^ " + (err == "missing:nasm" ? needs::explain_line({ "nasm" }) : err), kError);
}

void Console::run_command(const Args& args, const std::string& rest)
{
    const std::string& w = args[0];
    if (w == "?")
        print(L10n::tr("con.help"), kNotice);
    else if (w == "d")
        cmd_dump(args);
    else if (w == "u")
        cmd_unasm(args);
    else if (w == "a")
        cmd_assemble(args);
    else if (w == "e")
        cmd_enter(args);
    else if (w == "f")
        cmd_fill(args);
    else if (w == "s")
        cmd_search(args);
    else if (w == "c" || w == "m")
        cmd_compare_move(args, w == "m");
    else if (w == "h")
        cmd_hex(args);
    else if (w == "r")
        cmd_regs(args);
    else if (w == "g")
        cmd_go(args);
    else if (w == "t" || w == "p")
        cmd_step(args, w == "p");
    else if (w == "bp")
        cmd_bp(args);
    else if (w == "bc")
        cmd_bc(args);
    else if (w == "bl")
        cmd_bl();
    else if (w == "w")
        cmd_write(args, rest);
    else if (w == "q")
        m_host->stop();
    else
        error("con.err.unknown");
}

bool Console::eval_or_report(const std::string& expr, uint64_t* out)
{
    std::string err;
    if (eval(expr, out, &err))
        return true;
    error(err);
    return false;
}

// ---- arguments ---------------------------------------------------------------

size_t Console::range_end(const Args& args)
{
    return args.size() > 3 && lower(args[2]) == "l" ? 4 : 3;
}

bool Console::parse_range(const Args& args, size_t first, uint64_t* start, uint64_t* len, uint64_t def_len,
                          bool* start_given, size_t limit)
{
    *start_given = false;
    *len = def_len;
    limit = std::min(limit, args.size());
    size_t i = first;
    if (i < limit && lower(args[i]) != "l") {
        if (!eval_or_report(args[i], start))
            return false;
        *start_given = true;
        ++i;
    }
    if (i < limit) {
        const std::string x = lower(args[i]);
        if (x == "l" && i + 1 < limit) {
            if (!eval_or_report(args[i + 1], len))
                return false;
        } else if (x.size() > 1 && x[0] == 'l') {
            if (!eval_or_report(args[i].substr(1), len))
                return false;
        } else {
            uint64_t end = 0;
            if (!eval(args[i], &end) || end < *start) {
                error("con.err.range");
                return false;
            }
            *len = end - *start + 1;
        }
    }
    if (*len == 0 || *len > 0x1000000) {
        error("con.err.range");
        return false;
    }
    return true;
}

bool Console::parse_list(const Args& args, size_t first, std::vector<uint8_t>* out)
{
    out->clear();
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() >= 2 && is_quote(a[0]) && a.back() == a[0]) {
            out->insert(out->end(), a.begin() + 1, a.end() - 1);
            continue;
        }
        uint64_t v = 0;
        if (!eval(a, &v) || v > 0xFF) {
            error("con.err.byte");
            return false;
        }
        out->push_back(static_cast<uint8_t>(v));
    }
    if (out->empty()) {
        error("con.err.list");
        return false;
    }
    return true;
}

// The shared start of f, s, c and m: a range from element 1 that leaves
// room for at least one argument after it at *r. False when the command
// stops (an error is already printed, or no start was given).
bool Console::prepare_range(const Args& args, size_t* r, uint64_t* start, uint64_t* len)
{
    *r = range_end(args);
    if (args.size() <= *r) {
        error("con.err.syntax");
        return false;
    }
    bool given = false;
    *start = 0;
    return parse_range(args, 1, start, len, 0, &given, *r) && given;
}

// ---- memory --------------------------------------------------------------------

void Console::cmd_assemble(const Args& args)
{
    uint64_t at = m_unasm_set ? m_unasm_at : m_host->here();
    if (args.size() > 1 && !eval_or_report(args[1], &at))
        return;
    m_asm = true;
    m_asm_at = at;
}

void Console::cmd_enter(const Args& args)
{
    if (args.size() < 2) {
        error("con.err.address");
        return;
    }
    uint64_t at = 0;
    std::vector<uint8_t> bytes;
    if (!eval_or_report(args[1], &at) || !parse_list(args, 2, &bytes))
        return;
    if (m_host->write(at, bytes.data(), bytes.size()))
        m_host->changed();
    else
        error("con.err.unmapped");
}

void Console::cmd_fill(const Args& args)
{
    size_t r = 0;
    uint64_t start = 0, len = 0;
    std::vector<uint8_t> list;
    if (!prepare_range(args, &r, &start, &len) || !parse_list(args, r, &list))
        return;
    std::vector<uint8_t> bytes(len);
    for (size_t i = 0; i < len; ++i)
        bytes[i] = list[i % list.size()];
    if (!m_host->write(start, bytes.data(), bytes.size()))
        error("con.err.unmapped");
    m_host->changed();
}

void Console::cmd_search(const Args& args)
{
    size_t r = 0;
    uint64_t start = 0, len = 0;
    std::vector<uint8_t> list;
    if (!prepare_range(args, &r, &start, &len) || !parse_list(args, r, &list))
        return;
    std::vector<uint8_t> bytes(len);
    size_t got = m_host->read(start, bytes.data(), bytes.size());
    size_t hits = 0;
    for (size_t i = 0; i + list.size() <= got && hits < kMaxHits; ++i) {
        if (std::equal(list.begin(), list.end(), bytes.begin() + i)) {
            print(addr_str(start + i), kOutput);
            ++hits;
        }
    }
    if (hits == 0)
        print(L10n::tr("con.not_found"), kOutput);
}

void Console::cmd_compare_move(const Args& args, bool move)
{
    size_t r = 0;
    uint64_t start = 0, len = 0, other = 0;
    if (!prepare_range(args, &r, &start, &len) || !eval_or_report(args[r], &other))
        return;
    std::vector<uint8_t> first(len);
    if (m_host->read(start, first.data(), len) < len) {
        error("con.err.unmapped");
        return;
    }
    if (move) {
        // The bytes are all read before any is written, so overlapping
        // ranges copy correctly.
        if (m_host->write(other, first.data(), len))
            m_host->changed();
        else
            error("con.err.unmapped");
        return;
    }
    std::vector<uint8_t> second(len);
    if (m_host->read(other, second.data(), len) < len) {
        error("con.err.unmapped");
        return;
    }
    size_t shown = 0;
    for (size_t i = 0; i < len && shown < kMaxHits; ++i) {
        if (first[i] == second[i])
            continue;
        char mid[16];
        snprintf(mid, sizeof mid, "  %02X  %02X  ", first[i], second[i]);
        print(addr_str(start + i) + mid + addr_str(other + i), kOutput);
        ++shown;
    }
    if (shown == 0)
        print(L10n::tr("con.equal"), kOutput);
}

void Console::cmd_hex(const Args& args)
{
    uint64_t a = 0, b = 0;
    if (args.size() < 3 || !eval(args[1], &a) || !eval(args[2], &b)) {
        error("con.err.syntax");
        return;
    }
    print(hex_text(a + b) + "  " + hex_text(a - b), kOutput);
}

// ---- running -------------------------------------------------------------------

void Console::cmd_go(const Args& args)
{
    if (!m_host->live()) {
        need_live();
        return;
    }
    bool to = false;
    uint64_t stop_at = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        uint64_t v = 0;
        if (args[i][0] == '=') {
            if (!eval_or_report(args[i].substr(1), &v))
                return;
            m_host->set_reg(m_host->bits() == 32 ? "eip" : "rip", v);
        } else {
            if (!eval_or_report(args[i], &v))
                return;
            to = true;
            stop_at = v;
        }
    }
    m_host->go(to, stop_at);
}

void Console::cmd_step(const Args& args, bool over)
{
    if (!m_host->live()) {
        need_live();
        return;
    }
    uint64_t count = 1;
    if (args.size() > 1 && !eval_or_report(args[1], &count))
        return;
    count = std::min<uint64_t>(count, kMaxSteps);
    if (count == 0)
        count = 1;
    if (over)
        m_host->proceed(static_cast<int>(count));
    else
        m_host->trace(static_cast<int>(count));
}

// ---- breakpoints and file ----------------------------------------------------

void Console::cmd_bp(const Args& args)
{
    if (args.size() < 2) {
        error("con.err.address");
        return;
    }
    uint64_t at = 0;
    if (!eval_or_report(args[1], &at))
        return;
    m_host->toggle_bp(at, true);
    print(L10n::tr("con.bp_set", addr_str(at)), kOutput);
}

void Console::cmd_bc(const Args& args)
{
    if (args.size() < 2 || args[1] == "*") {
        m_host->clear_bps();
        print(L10n::tr("con.bp_cleared_all"), kOutput);
        return;
    }
    uint64_t at = 0;
    if (eval_or_report(args[1], &at))
        m_host->toggle_bp(at, false);
}

void Console::cmd_bl()
{
    std::vector<uint64_t> list = m_host->bps();
    if (list.empty())
        print(L10n::tr("con.bp_none"), kOutput);
    for (uint64_t at : list) {
        std::string name = m_host->symbol_at(at);
        print(name.empty() ? addr_str(at) : addr_str(at) + "  " + name, kOutput);
    }
}

void Console::cmd_write(const Args& args, const std::string& rest)
{
    // The name is the rest of the line as typed, blanks and case included.
    std::string name = args.size() > 1 ? tc::trim(rest) : std::string();
    std::string msg;
    bool ok = m_host->write_file(name, &msg);
    print(msg, ok ? kOutput : kError);
}
