#include "settings.h"

#include "numfmt.h"
#include "sealed_file.h"

#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <sstream>
#include <tuple>

namespace {

constexpr char kUnit = 0x1F;   // between list items
constexpr char kRecord = 0x1E; // between the sub-fields of one item
constexpr size_t kRecentMax = 8;

// Files written since values are escaped carry this line; older files hold
// every value verbatim and are read that way.
constexpr const char* kEscapedKey = "escaped";

// Escaping keeps a value on its own line and inside its own list item: a
// file name with a line break could otherwise add lines of its own (and a
// later line wins), or split into several items.
std::string escape(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case kUnit: out += "\\x1F"; break;
        case kRecord: out += "\\x1E"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string unescape(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out.push_back(s[i]);
            continue;
        }
        char next = s[i + 1];
        if (next == '\\' || next == 'n' || next == 'r') {
            out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : '\\');
            ++i;
        } else if (next == 'x' && i + 3 < s.size() && numfmt::hex_digit(s[i + 2]) >= 0 && numfmt::hex_digit(s[i + 3]) >= 0) {
            out.push_back(char(numfmt::hex_digit(s[i + 2]) * 16 + numfmt::hex_digit(s[i + 3])));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string join(const std::vector<std::string>& items)
{
    std::string out;
    for (const auto& item : items) {
        if (!out.empty())
            out.push_back(kUnit);
        out += item;
    }
    return out;
}

std::vector<std::string> split(const std::string& s)
{
    std::vector<std::string> out;
    std::string piece;
    for (char c : s) {
        if (c != kUnit) {
            piece.push_back(c);
        } else if (!piece.empty()) {
            out.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        out.push_back(piece);
    return out;
}

// Every piece between separators, empty ones included.
std::vector<std::string> cut(const std::string& s, char sep)
{
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

std::string number(double v)
{
    std::ostringstream os;
    os.imbue(std::locale::classic());
    os << v;
    return os.str();
}

// Numbers are always in the "C" notation, whatever the process locale.
double to_double(const std::string& s, double fallback)
{
    static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    double v = c_locale ? strtod_l(s.c_str(), nullptr, c_locale) : strtod(s.c_str(), nullptr);
    // "nan" and "inf" would slip through every clamp below.
    return std::isfinite(v) ? v : fallback;
}

int32_t to_int(const std::string& s)
{
    return int32_t(uint32_t(strtol(s.c_str(), nullptr, 10)));
}

double clamp(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// 0 (or below) means "not set" for the split fractions.
double clamp_optional(double v, double lo, double hi)
{
    return v <= 0 ? 0 : clamp(v, lo, hi);
}

bool link_opts_set(const tc::LinkOpts& o)
{
    return o.crt || !o.libs.empty() || !o.dirs.empty() || !o.extra.empty() || !o.incs.empty() || !o.srcs.empty();
}

struct Reader {
    std::map<std::string, std::string> values;
    bool escaped = false;

    const std::string* find(const char* key) const
    {
        auto it = values.find(key);
        return it == values.end() ? nullptr : &it->second;
    }
    std::string atom(const std::string& raw) const { return escaped ? unescape(raw) : raw; }
    std::vector<std::string> list(const std::string& raw) const
    {
        std::vector<std::string> items = split(raw);
        for (auto& item : items)
            item = atom(item);
        return items;
    }
};

} // namespace

void Settings::add_recent(const std::string& path, bool bin)
{
    std::vector<std::string>& list = bin ? recent_bin : recent;
    std::erase(list, path);
    list.insert(list.begin(), path);
    if (list.size() > kRecentMax)
        list.resize(kRecentMax);
}

bool Settings::save() const
{
    if (m_path.empty())
        return false;

    auto list = [](const std::vector<std::string>& items) {
        std::vector<std::string> escaped;
        for (const auto& item : items)
            escaped.push_back(escape(item));
        return join(escaped);
    };
    auto flag = [](bool b) { return std::string(b ? "1" : "0"); };

    std::vector<std::string> link_records;
    for (const auto& [path, o] : links) {
        if (path.empty() || !link_opts_set(o))
            continue;
        std::string r = escape(path);
        for (const std::string* field : { &o.libs, &o.dirs, &o.extra })
            r += kRecord + escape(*field);
        r += kRecord + flag(o.crt);
        r += kRecord + escape(o.incs);
        r += kRecord + escape(o.srcs);
        link_records.push_back(r);
    }
    std::vector<std::string> states;
    for (const auto& [path, state] : fstate) {
        if (!path.empty() && !state.empty())
            states.push_back(escape(path) + kRecord + escape(state));
    }
    std::ostringstream geometry;
    geometry << win.x << ' ' << win.y << ' ' << win.w << ' ' << win.h << ' ' << (win.has_pos ? 1 : 0) << ' '
             << (win.maximized ? 1 : 0);

    const std::pair<const char*, std::string> lines[] = {
        { "language", escape(language) },
        { "theme", escape(theme) },
        { "font", number(font) },
        { "format", escape(format) },
        { "source", escape(source) },
        { "binary", escape(binary) },
        { "recent", list(recent) },
        { "recent_bin", list(recent_bin) },
        { "main_tab", std::to_string(main_tab) },
        { "bottom_tab", std::to_string(bottom_tab) },
        { "bottom_frac", number(bottom_frac) },
        { "right_w", number(right_w) },
        { "right_frac", number(right_frac) },
        { "bin_split2", number(bin_split) },
        { "bin_split1", number(bin_split1) },
        { "side_left", flag(side_left) },
        { "show_side", flag(show_side) },
        { "show_bottom", flag(show_bottom) },
        { "folded", escape(folded) },
        { "auto_debug", flag(auto_debug) },
        { "raw_bits", std::to_string(raw_bits) },
        { "args", escape(args) },
        { "nasm_path", escape(nasm_path) },
        { "open_tabs", list(open_tabs) },
        { "watches", list(watches) },
        { "find_text", escape(find_text) },
        { "replace_text", escape(replace_text) },
        { "active_tab", std::to_string(active_tab) },
        { "reg_width", std::to_string(reg_width) },
        { "ld_path", escape(ld_path) },
        { "win", geometry.str() },
        { "links", join(link_records) },
        { "fstate", join(states) },
        { kEscapedKey, "1" },
    };
    std::string text;
    for (const auto& [key, value] : lines)
        text += std::string(key) + "=" + value + "\n";
    return sealed::write(m_path, text);
}

void Settings::load(const std::string& path)
{
    m_path = path;
    std::string text;
    if (sealed::read(path, &text) != sealed::Result::Ok)
        return;

    Reader in;
    for (const std::string& line : cut(text, '\n')) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            in.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    const std::string* marker = in.find(kEscapedKey);
    in.escaped = marker && *marker == "1";

    const std::pair<const char*, std::string*> strings[] = {
        { "language", &language }, { "theme", &theme }, { "format", &format }, { "source", &source },
        { "binary", &binary }, { "folded", &folded }, { "args", &args }, { "nasm_path", &nasm_path },
        { "find_text", &find_text }, { "replace_text", &replace_text }, { "ld_path", &ld_path },
    };
    for (const auto& [key, field] : strings) {
        if (const std::string* v = in.find(key))
            *field = in.atom(*v);
    }

    // A value that is not a finite number falls back to the field's default.
    const std::tuple<const char*, double*, double> doubles[] = {
        { "font", &font, 14 }, { "bottom_frac", &bottom_frac, 0.3 }, { "right_w", &right_w, 300 },
        { "right_frac", &right_frac, 0 }, { "bin_split2", &bin_split, 0 }, { "bin_split1", &bin_split1, 0 },
    };
    for (const auto& [key, field, fallback] : doubles) {
        if (const std::string* v = in.find(key))
            *field = to_double(*v, fallback);
    }

    const std::pair<const char*, int32_t*> ints[] = {
        { "main_tab", &main_tab }, { "bottom_tab", &bottom_tab }, { "raw_bits", &raw_bits },
        { "active_tab", &active_tab }, { "reg_width", &reg_width },
    };
    for (const auto& [key, field] : ints) {
        if (const std::string* v = in.find(key))
            *field = to_int(*v);
    }
    if (reg_width != 8 && reg_width != 16 && reg_width != 32)
        reg_width = 64;

    const std::pair<const char*, std::vector<std::string>*> lists[] = {
        { "recent", &recent }, { "recent_bin", &recent_bin }, { "open_tabs", &open_tabs }, { "watches", &watches },
    };
    for (const auto& [key, field] : lists) {
        const std::string* v = in.find(key);
        *field = v ? in.list(*v) : std::vector<std::string> {};
    }

    const std::string* v = in.find("side_left");
    side_left = v && *v == "1";
    const std::pair<const char*, bool*> flags[] = {
        { "show_side", &show_side }, { "show_bottom", &show_bottom }, { "auto_debug", &auto_debug },
    };
    for (const auto& [key, field] : flags) {
        if (const std::string* f = in.find(key); f && !f->empty())
            *field = *f == "1";
    }

    if (const std::string* f = in.find("fstate")) {
        for (const std::string& item : split(*f)) {
            size_t sep = item.find(kRecord);
            if (sep == std::string::npos || sep == 0)
                continue;
            fstate[in.atom(item.substr(0, sep))] = in.atom(item.substr(sep + 1));
        }
    }

    {
        const std::string* g = in.find("win");
        std::istringstream is(g ? *g : std::string());
        int f1 = 0, f2 = 0;
        is >> win.x >> win.y >> win.w >> win.h >> f1 >> f2;
        win.has_pos = f1 == 1;
        win.maximized = f2 == 1;
        if (win.w < 0 || win.w > 20000 || win.h < 0 || win.h > 20000)
            win = Geometry {};
    }

    if (const std::string* l = in.find("links")) {
        for (const std::string& record : cut(*l, kUnit)) {
            std::vector<std::string> f = cut(record, kRecord);
            if (f.size() < 5 || f[0].empty())
                continue;
            tc::LinkOpts o;
            o.libs = in.atom(f[1]);
            o.dirs = in.atom(f[2]);
            o.extra = in.atom(f[3]);
            o.crt = f[4] == "1";
            if (f.size() >= 7) {
                o.incs = in.atom(f[5]);
                o.srcs = in.atom(f[6]);
            }
            if (link_opts_set(o))
                links[in.atom(f[0])] = o;
        }
    }

    font = clamp(font, 9, 32);
    bottom_frac = clamp(bottom_frac, 0.1, 0.8);
    right_w = clamp(right_w, 200, 900);
    bin_split = clamp_optional(bin_split, 0.1, 0.95);
    bin_split1 = clamp_optional(bin_split1, 0.05, 0.9);
    right_frac = clamp_optional(right_frac, 0.1, 0.7);
    if (raw_bits != 16 && raw_bits != 32 && raw_bits != 64)
        raw_bits = 16;
    main_tab = int32_t(clamp(main_tab, 0, 1));
    bottom_tab = int32_t(clamp(bottom_tab, 0, 2));
}
