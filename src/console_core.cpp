// The console object: output lines, prompt, address text, remembered
// positions and the expression evaluator.
#include "console.h"

#include "l10n.h"
#include "numfmt.h"
#include "toolchain.h"
#include "textutil.h"

#include <cstdio>

using textutil::lower;

namespace {

bool all_hex(const std::string& s, size_t from, size_t to)
{
    if (from >= to)
        return false;
    for (size_t i = from; i < to; ++i)
        if (numfmt::hex_digit(s[i]) < 0)
            return false;
    return true;
}

// Digits in the given base; a value beyond 64 bits saturates.
uint64_t read_digits(const std::string& s, size_t from, size_t to, unsigned base)
{
    uint64_t v = 0;
    for (size_t i = from; i < to; ++i) {
        unsigned d = base == 10 ? unsigned(s[i] - '0') : unsigned(numfmt::hex_digit(s[i]));
        if (v > (UINT64_MAX - d) / base)
            return UINT64_MAX;
        v = v * base + d;
    }
    return v;
}

} // namespace

Console::Console(Host* host)
    : m_host(host)
{
}

void Console::print(const std::string& text, int kind)
{
    size_t from = 0;
    for (;;) {
        size_t nl = text.find('\n', from);
        Line line;
        line.text = text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
        line.kind = kind;
        m_lines.push_back(std::move(line));
        if (nl == std::string::npos)
            break;
        from = nl + 1;
    }
    added();
}

void Console::print_spans(const std::string& text, std::vector<Span> spans, int kind)
{
    m_lines.push_back({ text, kind, std::move(spans) });
    added();
}

void Console::added()
{
    while (m_lines.size() > kMaxLines)
        m_lines.pop_front();
    // The painter only compares the counter, so it may wrap.
    m_gen = static_cast<int32_t>(static_cast<uint32_t>(m_gen) + 1u);
}

void Console::error(const std::string& key) { print(L10n::tr(key), kError); }

void Console::need_live() { error("con.err.live"); }

std::string Console::prompt() const { return m_asm ? addr_str(m_asm_at) + " " : "-"; }

std::string Console::addr_str(uint64_t addr) const
{
    char buf[32];
    const char* form = "%016llX";
    if (m_host->bits() == 16 && addr <= 0xFFFF)
        form = "%04llX";
    else if (addr <= 0xFFFFFFFFull)
        form = "%08llX";
    snprintf(buf, sizeof buf, form, static_cast<unsigned long long>(addr));
    return buf;
}

void Console::reset_positions()
{
    m_asm = false;
    m_dump_set = false;
    m_unasm_set = false;
}

void Console::reset_state()
{
    reset_positions();
    m_last.clear();
}

bool Console::eval(const std::string& expr, uint64_t* out, std::string* err) const
{
    auto fail = [&] {
        if (err)
            *err = "con.err.value";
        return false;
    };
    const std::string text = tc::trim(expr);
    if (text.empty())
        return fail();
    uint64_t sum = 0;
    bool minus = false;
    size_t from = 0;
    for (;;) {
        size_t sign = text.find_first_of("+-", from);
        const std::string typed = tc::trim(text.substr(from, sign == std::string::npos ? std::string::npos : sign - from));
        if (typed.empty())
            return fail();
        const std::string t = lower(typed);
        uint64_t v = 0;
        bool found = true;
        if (t == "$") {
            v = m_host->here();
        } else if (t[0] == '#') {
            if (t.size() < 2 || t.find_first_not_of("0123456789", 1) != std::string::npos)
                return fail();
            v = read_digits(t, 1, t.size(), 10);
        } else if (t.size() > 2 && t.compare(0, 2, "0x") == 0 && all_hex(t, 2, t.size())) {
            v = read_digits(t, 2, t.size(), 16);
        } else if (m_host->live() && m_host->reg(t, &v)) {
            // a register of the stopped program wins over a symbol of the same name
        } else if (t.size() <= 16 && all_hex(t, 0, t.size())) {
            v = read_digits(t, 0, t.size(), 16);
        } else if (t.size() >= 2 && t.back() == 'h' && all_hex(t, 0, t.size() - 1)) {
            v = read_digits(t, 0, t.size() - 1, 16);
        } else {
            found = m_host->symbol(typed, &v);
        }
        if (!found)
            return fail();
        sum = minus ? sum - v : sum + v;
        if (sign == std::string::npos)
            break;
        minus = text[sign] == '-';
        from = sign + 1;
    }
    *out = sum;
    return true;
}
