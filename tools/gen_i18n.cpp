// Turns the translation files in i18n/ into the compiled-in tables of the
// program (namespace i18n_data): the sorted key list, one text array per
// language and the language rows.
//
//   gen_i18n <i18n dir> <output dir>
//
// Inputs: languages.tsv (code, own name, "rtl" or "ltr"), families.tsv
// (key prefix and its largest key count), plain.tsv (key prefixes whose
// texts are shown as written, never formatted), en.tsv and one <code>.tsv per
// language (key, tab, text with \n, \t and \\ escapes; '#' starts a comment
// line). Any wrong key, empty text or translation whose %s/%d conversions
// differ from the English text stops the build with a message naming the
// file and line. Keys a language does not translate take the English text.
//
// Coverage: a language translates the whole user interface (every key
// outside "ref.") and the whole reference ("ref.") unless it is listed for
// that part in pending.tsv, while its texts are being written. A text equal to the English one
// must be listed in same.tsv (a name or a command that stays as it is), and
// such texts stay a small share of each part.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Language {
    std::string code;
    std::string native_name;
    bool rtl = false;
};

struct Entry {
    std::string text;
    int line = 0;
};

int g_errors = 0;

void fail(const std::string& file, int line, const std::string& message)
{
    fprintf(stderr, "%s:%d: error: %s\n", file.c_str(), line, message.c_str());
    ++g_errors;
}

bool read_lines(const std::string& path, std::vector<std::string>* lines)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines->push_back(line);
    }
    return true;
}

std::vector<std::string> split_tabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

std::string dir_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool skip_line(const std::string& line)
{
    return line.empty() || line[0] == '#';
}

bool unescape(const std::string& raw, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out->push_back(raw[i]);
            continue;
        }
        if (++i == raw.size())
            return false;
        switch (raw[i]) {
        case 'n': out->push_back('\n'); break;
        case 't': out->push_back('\t'); break;
        case '\\': out->push_back('\\'); break;
        default: return false;
        }
    }
    return true;
}

// The same rule the program applies at run time: only %s, %d and %% are
// allowed; the signature is the sequence of s and d letters.
bool conversions(const std::string& format, std::string* sig)
{
    sig->clear();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (next == 's' || next == 'd')
            sig->push_back(next);
        else if (next != '%')
            return false;
        ++i;
    }
    return true;
}

// The family part is lower case; later parts may hold capitals, since some
// keys end in a name that is written in capitals (ref.e.ENOENT).
bool valid_key(const std::string& key)
{
    if (key.empty() || key.front() == '.' || key.back() == '.' || key.find('.') == std::string::npos
        || key.find("..") != std::string::npos)
        return false;
    size_t family_end = key.find('.');
    for (size_t i = 0; i < key.size(); ++i) {
        char c = key[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.'
            || (i > family_end && c >= 'A' && c <= 'Z');
        if (!ok)
            return false;
    }
    return true;
}

bool valid_code(const std::string& code)
{
    if (code.empty())
        return false;
    for (char c : code) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::vector<Language> read_languages(const std::string& dir)
{
    std::string path = dir + "/languages.tsv";
    std::vector<std::string> lines;
    std::vector<Language> langs;
    if (!read_lines(path, &lines)) {
        fail(path, 0, "cannot read");
        return langs;
    }
    std::set<std::string> seen;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (skip_line(lines[i]))
            continue;
        auto f = split_tabs(lines[i]);
        int ln = int(i + 1);
        if (f.size() != 3 || f[1].empty() || (f[2] != "rtl" && f[2] != "ltr")) {
            fail(path, ln, "expected: code, tab, own name, tab, rtl or ltr");
            continue;
        }
        if (!valid_code(f[0]) || !seen.insert(f[0]).second) {
            fail(path, ln, "bad or repeated language code '" + f[0] + "'");
            continue;
        }
        langs.push_back({ f[0], f[1], f[2] == "rtl" });
    }
    if (!seen.count("en"))
        fail(path, 0, "English (en) is missing");
    return langs;
}

// Calls `each` with every line of a file that is neither empty nor a
// comment, and its line number; false when the file cannot be read.
template<typename F>
bool for_each_line(const std::string& path, F&& each)
{
    std::vector<std::string> lines;
    if (!read_lines(path, &lines)) {
        fail(path, 0, "cannot read");
        return false;
    }
    for (size_t i = 0; i < lines.size(); ++i)
        if (!skip_line(lines[i]))
            each(lines[i], int(i + 1));
    return true;
}

std::map<std::string, int> read_families(const std::string& dir)
{
    std::string path = dir + "/families.tsv";
    std::map<std::string, int> families;
    for_each_line(path, [&](const std::string& line, int ln) {
        auto f = split_tabs(line);
        int count = f.size() == 2 ? atoi(f[1].c_str()) : 0;
        if (f.size() != 2 || f[0].size() < 2 || f[0].back() != '.' || count <= 0
            || !families.emplace(f[0], count).second)
            fail(path, ln, "expected: a new key prefix ending in '.', tab, key count");
    });
    return families;
}

// Key prefixes of texts the program shows as they are: a "%" in them is an
// ordinary character (NASM's %define), so they carry no conversions.
std::vector<std::string> read_plain(const std::string& dir)
{
    std::string path = dir + "/plain.tsv";
    std::vector<std::string> prefixes;
    for_each_line(path, [&](const std::string& p, int ln) {
        if (p.find('\t') != std::string::npos || p.find('.') == std::string::npos || p.find(' ') != std::string::npos)
            fail(path, ln, "expected: one key prefix per line");
        else
            prefixes.push_back(p);
    });
    return prefixes;
}

std::vector<std::string> g_plain;

bool plain_key(const std::string& key)
{
    for (const std::string& p : g_plain)
        if (key.compare(0, p.size(), p) == 0)
            return true;
    return false;
}

// Reads one language file; every entry is checked on its own here, against
// English by the caller.
std::map<std::string, Entry> read_texts(const std::string& path)
{
    std::map<std::string, Entry> texts;
    std::vector<std::string> lines;
    if (!read_lines(path, &lines)) {
        fail(path, 0, "cannot read (every language needs its file)");
        return texts;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (skip_line(lines[i]))
            continue;
        int ln = int(i + 1);
        size_t tab = lines[i].find('\t');
        if (tab == std::string::npos) {
            fail(path, ln, "expected: key, tab, text");
            continue;
        }
        std::string key = lines[i].substr(0, tab);
        std::string text, sig;
        if (!valid_key(key)) {
            fail(path, ln, "malformed key '" + key + "'");
            continue;
        }
        if (!unescape(lines[i].substr(tab + 1), &text)) {
            fail(path, ln, "unknown escape in the text of " + key + " (only \\n, \\t and \\\\)");
            continue;
        }
        if (text.empty()) {
            fail(path, ln, "empty text for " + key);
            continue;
        }
        if (!plain_key(key) && !conversions(text, &sig)) {
            fail(path, ln, "the text of " + key + " has a conversion other than %s, %d or %%");
            continue;
        }
        if (!texts.emplace(key, Entry { text, ln }).second)
            fail(path, ln, "key " + key + " appears twice");
    }
    return texts;
}

// "code<TAB>word" lines of a file into code -> words; `check` judges a word.
template<typename F>
std::map<std::string, std::set<std::string>> read_pairs(const std::string& path, const char* what, F&& check)
{
    std::map<std::string, std::set<std::string>> pairs;
    for_each_line(path, [&](const std::string& line, int ln) {
        auto f = split_tabs(line);
        if (f.size() != 2 || !valid_code(f[0]) || !check(f[1]))
            fail(path, ln, std::string("expected: language code, tab, ") + what);
        else if (!pairs[f[0]].insert(f[1]).second)
            fail(path, ln, "listed twice");
    });
    return pairs;
}

bool is_ref_key(const std::string& key)
{
    return key.compare(0, 4, "ref.") == 0;
}

// At most this share of a part's texts may stay as in English.
constexpr double kSameShare = 0.08;

// Checks that `own` covers each part (interface, reference) of the English
// keys completely, or not at all while the part is pending.
void check_coverage(const std::string& path, const std::string& code, const std::map<std::string, Entry>& own,
                    const std::map<std::string, Entry>& english, const std::set<std::string>& pending,
                    const std::set<std::string>& same)
{
    for (const char* part : { "ui", "ref" }) {
        bool ref = std::string(part) == "ref";
        size_t total = 0, have = 0, equal = 0;
        std::string first_missing;
        for (const auto& [key, entry] : english) {
            if (is_ref_key(key) != ref)
                continue;
            ++total;
            auto it = own.find(key);
            if (it == own.end()) {
                if (first_missing.empty())
                    first_missing = key;
                continue;
            }
            ++have;
            if (it->second.text == entry.text) {
                ++equal;
                if (!same.count(key))
                    fail(path, it->second.line, "the text of " + key
                                                    + " is the English one; translate it or list it in same.tsv");
            }
        }
        if (pending.count(part)) {
            if (have == total)
                fail(path, 0, std::string("the ") + part
                                  + " texts are complete but listed as pending in pending.tsv: remove the line");
            continue;
        }
        if (have != total)
            fail(path, 0, std::to_string(total - have) + " of the " + part + " texts are missing (first: "
                              + first_missing + "); list \"" + code + "\t" + part + "\" in pending.tsv until done");
        if (total != 0 && double(equal) > kSameShare * double(total))
            fail(path, 0, std::to_string(equal) + " of " + std::to_string(total) + " " + part
                              + " texts are the English ones; that is more than a translation leaves");
    }
    for (const auto& key : same)
        if (!own.count(key) || !english.count(key) || own.at(key).text != english.at(key).text)
            fail(dir_of(path) + "/same.tsv", 0, code + " " + key + " is listed as equal to English but is not");
}

// What a reference text must carry over unchanged into every language:
// its code lines (indented by four blanks), its number of lines, and the
// technical words of its prose: numbers, register names and names written
// in capitals or with an underscore (ENOENT, SYS_write, NASM).
bool is_register(const std::string& w)
{
    static const std::set<std::string> names = [] {
        std::set<std::string> n;
        for (const char* b : { "ax", "bx", "cx", "dx", "si", "di", "sp", "bp", "ip" }) {
            n.insert(b);
            n.insert(std::string("e") + b);
            n.insert(std::string("r") + b);
        }
        for (const char* b : { "al", "ah", "bl", "bh", "cl", "ch", "dl", "dh", "sil", "dil", "spl", "bpl", "cs", "ds",
                               "ss", "fs", "gs", "rflags", "eflags" })
            n.insert(b);
        for (int i = 8; i <= 15; ++i)
            for (const char* s : { "", "b", "w", "d" })
                n.insert("r" + std::to_string(i) + s);
        for (int i = 0; i <= 15; ++i)
            for (const char* s : { "xmm", "ymm", "zmm" })
                n.insert(s + std::to_string(i));
        return n;
    }();
    return names.count(w) != 0;
}

std::multiset<std::string> technical_words(const std::string& text)
{
    std::multiset<std::string> out;
    size_t i = 0;
    auto word_char = [](unsigned char c) { return isalnum(c) || c == '_'; };
    while (i < text.size()) {
        if (!word_char((unsigned char)text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && word_char((unsigned char)text[i]))
            ++i;
        std::string w = text.substr(start, i - start);
        bool hex = w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X');
        // Numbers count wherever they stand: "32bitový" keeps the 32.
        if (!hex)
            for (size_t d = 0; d < w.size();) {
                if (!isdigit((unsigned char)w[d])) {
                    ++d;
                    continue;
                }
                size_t from = d;
                while (d < w.size() && isdigit((unsigned char)w[d]))
                    ++d;
                if (from > 0 || d < w.size())
                    out.insert(w.substr(from, d - from));
            }
        bool digits = w.find_first_not_of("0123456789") == std::string::npos;
        bool capitals = w.size() >= 2 && w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos
                        && isupper((unsigned char)w[0]) && w != "CPU";
        bool underscore = w.find('_') != std::string::npos && w.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos;
        if (hex || digits || capitals || underscore || is_register(w))
            out.insert(w);
    }
    return out;
}

std::vector<std::string> code_lines(const std::string& text, size_t* line_count)
{
    std::vector<std::string> code;
    std::istringstream in(text);
    *line_count = 0;
    for (std::string line; std::getline(in, line);) {
        ++*line_count;
        if (line.compare(0, 4, "    ") == 0)
            code.push_back(line);
    }
    return code;
}

// The technical content of a translated reference text against English.
void check_reference_text(const std::string& path, int line, const std::string& key, const std::string& text,
                          const std::string& english)
{
    size_t lines = 0, en_lines = 0;
    if (code_lines(text, &lines) != code_lines(english, &en_lines))
        fail(path, line, "the code lines of " + key + " differ from the English ones");
    if (lines != en_lines)
        fail(path, line, key + " has " + std::to_string(lines) + " lines where English has " + std::to_string(en_lines));
    std::multiset<std::string> have = technical_words(text);
    std::string missing;
    for (const std::string& w : technical_words(english))
        if (!have.count(w) && missing.find(" " + w + " ") == std::string::npos)
            missing += " " + w + " ";
    if (!missing.empty())
        fail(path, line, key + " lacks what English writes as it is:" + missing.substr(0, missing.size() - 1));
}

std::string literal(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c >= 0x20 && c < 0x7f) {
            out.push_back(char(c));
        } else {
            // Octal escapes end after three digits, so the next character
            // can never be taken into the escape.
            char buf[8];
            snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        }
    }
    return out + "\"";
}

bool write_if_changed(const std::string& path, const std::string& content)
{
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream old;
        old << in.rdbuf();
        if (in && old.str() == content)
            return true;
    }
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) {
            fail(tmp, 0, "cannot write");
            return false;
        }
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        fail(path, 0, "cannot replace");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: gen_i18n <i18n dir> <output dir>\n");
        return 2;
    }
    std::string dir = argv[1], out_dir = argv[2];

    std::vector<Language> langs = read_languages(dir);
    std::map<std::string, int> families = read_families(dir);
    g_plain = read_plain(dir);
    std::string en_path = dir + "/en.tsv";
    std::map<std::string, Entry> english = read_texts(en_path);

    std::map<std::string, int> per_family;
    for (const auto& [key, entry] : english) {
        std::string family = key.substr(0, key.find('.') + 1);
        auto it = families.find(family);
        if (it == families.end())
            fail(en_path, entry.line, "key " + key + " belongs to no known family");
        else if (++per_family[family] > it->second)
            fail(en_path, entry.line, "family " + family + " has more than " + std::to_string(it->second) + " keys");
    }
    if (english.empty())
        fail(en_path, 0, "no English texts");

    // The English map is ordered by std::string's byte-wise comparison,
    // which is the strcmp order the run-time binary search relies on.
    std::vector<std::string> keys;
    for (const auto& [key, entry] : english)
        keys.push_back(key);

    auto pending = read_pairs(dir + "/pending.tsv", "ui or ref", [](const std::string& w) {
        return w == "ui" || w == "ref";
    });
    auto same = read_pairs(dir + "/same.tsv", "key", [&](const std::string& w) { return english.count(w) != 0; });

    std::vector<std::vector<std::string>> values(langs.size());
    for (size_t li = 0; li < langs.size(); ++li) {
        const Language& lang = langs[li];
        std::string path = dir + "/" + lang.code + ".tsv";
        std::map<std::string, Entry> own = lang.code == "en" ? english : read_texts(path);
        for (const auto& [key, entry] : own) {
            auto en = english.find(key);
            if (en == english.end()) {
                fail(path, entry.line, "key " + key + " is not an English key");
                continue;
            }
            if (is_ref_key(key))
                check_reference_text(path, entry.line, key, entry.text, en->second.text);
            if (plain_key(key))
                continue;
            std::string sig, en_sig;
            conversions(entry.text, &sig);
            conversions(en->second.text, &en_sig);
            if (sig != en_sig)
                fail(path, entry.line, "the conversions of " + key + " differ from the English text");
        }
        if (lang.code != "en")
            check_coverage(path, lang.code, own, english, pending[lang.code], same[lang.code]);
        for (const auto& key : keys) {
            auto it = own.find(key);
            values[li].push_back(it != own.end() ? it->second.text : english[key].text);
        }
    }

    if (g_errors) {
        fprintf(stderr, "gen_i18n: %d error(s) in the translation files\n", g_errors);
        return 1;
    }

    std::string h;
    h += "#pragma once\n// Generated by gen_i18n from the files in i18n/; do not edit.\n#include <cstddef>\n\n";
    h += "namespace i18n_data {\n\n";
    h += "constexpr int KEY_COUNT = " + std::to_string(keys.size()) + ";\n";
    h += "constexpr int LANG_COUNT = " + std::to_string(langs.size()) + ";\n\n";
    // A language's texts lie in one block, found by their offsets: a table
    // of pointers would cost the program a relocation per text at every
    // start, tens of thousands of them.
    h += "struct LangEntry {\n    const char* code;\n    const char* native_name;\n    bool rtl;\n"
         "    const char* texts;\n    const unsigned* offsets;\n};\n\n";
    h += "// Sorted in strcmp order.\nextern const char* const KEYS[KEY_COUNT];\n";
    h += "extern const LangEntry LANGS[LANG_COUNT];\n\n";
    h += "inline const char* text(const LangEntry& lang, int key)\n{\n    return lang.texts + lang.offsets[key];\n}\n";
    h += "\n} // namespace i18n_data\n";

    std::string c;
    c += "// Generated by gen_i18n from the files in i18n/; do not edit.\n#include \"i18n_data.h\"\n\n";
    c += "namespace i18n_data {\n\nconst char* const KEYS[KEY_COUNT] = {\n";
    for (const auto& key : keys)
        c += "    " + literal(key) + ",\n";
    c += "};\n";
    c += "\nnamespace {\n";
    for (size_t li = 0; li < langs.size(); ++li) {
        // Each text once, ended by a zero byte; equal texts share a place.
        std::map<std::string, size_t> placed;
        std::string block, offsets;
        size_t size = 0;
        for (const auto& text : values[li]) {
            auto [it, fresh] = placed.emplace(text, size);
            if (fresh) {
                block += "    " + literal(text) + " \"\\000\"\n";
                size += text.size() + 1;
            }
            offsets += "    " + std::to_string(it->second) + ",\n";
        }
        c += "\nconst char TEXTS_" + langs[li].code + "[] =\n" + block + "    \"\";\n";
        c += "const unsigned OFFSETS_" + langs[li].code + "[KEY_COUNT] = {\n" + offsets + "};\n";
    }
    c += "\n} // namespace\n";
    c += "\nconst LangEntry LANGS[LANG_COUNT] = {\n";
    for (const auto& lang : langs)
        c += "    { " + literal(lang.code) + ", " + literal(lang.native_name) + ", " + (lang.rtl ? "true" : "false")
            + ", TEXTS_" + lang.code + ", OFFSETS_" + lang.code + " },\n";
    c += "};\n\n} // namespace i18n_data\n";

    if (!write_if_changed(out_dir + "/i18n_data.h", h) || !write_if_changed(out_dir + "/i18n_data.cpp", c))
        return 1;
    return 0;
}
