#include "l10n.h"

#include "files.h"
#include "i18n_data.h"
#include "paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace L10n {

namespace {

using i18n_data::KEY_COUNT;
using i18n_data::LANG_COUNT;
using i18n_data::LANGS;

constexpr const char* kBuild = "1069";
constexpr const char* kFirstStrongIsolate = "\u2068";
constexpr const char* kPopIsolate = "\u2069";

std::string g_setting = "auto";
std::string g_code = "en";
// Rows are read by the disassembly worker while the main thread may change
// the language, so they are atomic; -1 stands for English before init.
std::atomic<int> g_index { -1 };
std::atomic<int> g_en { -1 };
bool g_rtl = false;
// Plain buffers so that onCrash can use them from a signal handler.
char g_guard_path[512] = "";
char g_guard_line[64] = "";
bool g_guarded = false;
bool g_fallback = false;

int find_row(const std::string& code)
{
    for (int i = 0; i < LANG_COUNT; ++i) {
        if (code == LANGS[i].code)
            return i;
    }
    return -1;
}

int english_row()
{
    int en = g_en.load(std::memory_order_relaxed);
    if (en < 0) {
        en = find_row("en");
        g_en.store(en, std::memory_order_relaxed);
    }
    return en;
}

int active_row()
{
    int row = g_index.load(std::memory_order_relaxed);
    return row < 0 ? english_row() : row;
}

bool in_list(const char* code, std::initializer_list<const char*> list)
{
    for (const char* c : list) {
        if (strcmp(code, c) == 0)
            return true;
    }
    return false;
}

// The languages the desktop asks for, in the order of the environment that
// decides them (the first set of LANGUAGE, LC_ALL, LC_MESSAGES and LANG);
// LANGUAGE may list several, separated by colons.
std::vector<std::string> desktop_language_names()
{
    std::vector<std::string> names;
    for (const char* var : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
        const char* value = getenv(var);
        if (!value || !*value)
            continue;
        std::string list = value;
        for (size_t start = 0; start <= list.size();) {
            size_t colon = list.find(':', start);
            if (colon == std::string::npos)
                colon = list.size();
            if (colon > start)
                names.push_back(list.substr(start, colon - start));
            start = colon + 1;
        }
        break;
    }
    return names;
}

// The first of the desktop's language names that names a table language,
// tried whole and then without its territory; English when none does.
std::string desktop_choice()
{
    for (const std::string& whole : desktop_language_names()) {
        std::string name = whole;
        if (name.empty() || name == "C" || name == "POSIX")
            continue;
        name = name.substr(0, name.find('.'));
        name = name.substr(0, name.find('@'));
        if (find_row(name) >= 0)
            return name;
        size_t underscore = name.find('_');
        if (underscore != std::string::npos) {
            name.resize(underscore);
            if (find_row(name) >= 0)
                return name;
        }
    }
    return "en";
}

void write_guard(const char* line)
{
    int fd = files::open_regular(g_guard_path, O_WRONLY | O_TRUNC, 0600);
    if (fd < 0)
        return;
    ssize_t written = write(fd, line, strlen(line));
    (void)written; // a guard that cannot be written only loses its protection
    close(fd);
}

void delete_guard()
{
    if (g_guard_path[0])
        files::remove(g_guard_path);
}

// Calls `each` with the direction of every character outside isolates
// until it returns false.
template <class F>
void outside_isolates(const std::string& s, F each)
{
    int depth = 0;
    for (size_t i = 0; i < s.size();) {
        unsigned char b = uint8_t(s[i]);
        int len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        uint32_t c = len == 1 ? b : b & (0x7F >> len);
        for (int k = 1; k < len && i + size_t(k) < s.size(); ++k)
            c = (c << 6) | (uint8_t(s[i + size_t(k)]) & 0x3F);
        i += size_t(len);
        if (c >= 0x2066 && c <= 0x2068)
            ++depth;
        else if (c == 0x2069)
            depth = depth > 0 ? depth - 1 : 0;
        else if (depth == 0 && !each(c, L10n::letterDirection(c)))
            return;
    }
}

// A right-to-left translation that opens with a Latin word ("NASM …",
// "rax: …") would be laid out left to right by its first letter, its
// sentence read backwards: a right-to-left mark in front sets its direction.
std::string directed(std::string text)
{
    if (!LANGS[active_row()].rtl)
        return text;
    L10n::Direction first = L10n::Direction::Neutral;
    bool rtl_letters = false;
    outside_isolates(text, [&](uint32_t, L10n::Direction d) {
        if (first == L10n::Direction::Neutral)
            first = d;
        rtl_letters = d == L10n::Direction::RightToLeft;
        return !rtl_letters;
    });
    if (first == L10n::Direction::LeftToRight && rtl_letters)
        text.insert(0, "\u200F");
    return text;
}

// The active text when its conversions are `wanted`, else the English one
// when its conversions are, else none.
const char* safe_format(const std::string& key, const char* wanted)
{
    int row = keyIndex(key);
    if (row < 0)
        return nullptr;
    std::string signature;
    const char* active = i18n_data::text(LANGS[active_row()], row);
    if (active && *active && conversions(active, &signature) && signature == wanted)
        return active;
    const char* english = i18n_data::text(LANGS[english_row()], row);
    if (english && *english && conversions(english, &signature) && signature == wanted)
        return english;
    return nullptr;
}

// The signature is checked, so the format holds only %s, %d and %%.
std::string format(const std::string& key, const char* wanted, std::initializer_list<std::string> args)
{
    const char* fmt = safe_format(key, wanted);
    if (!fmt)
        return key;
    // In a right-to-left text a value (a path, a version, a number) keeps
    // its own direction inside first-strong isolates; otherwise
    // "/usr/bin/nasm" would be shown as "usr/bin/nasm/".
    std::string out;
    auto arg = args.begin();
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%')
            out += *p;
        else if (*++p == '%')
            out += '%';
        else
            out += isolate(*arg++);
    }
    return directed(std::move(out));
}

// One of the marks U+2066 to U+2069 starts at i, or the right-to-left
// mark U+200F.
bool isolate_mark(const std::string& s, size_t i)
{
    if (i + 2 >= s.size() || uint8_t(s[i]) != 0xE2)
        return false;
    return (uint8_t(s[i + 1]) == 0x81 && uint8_t(s[i + 2]) >= 0xA6 && uint8_t(s[i + 2]) <= 0xA9)
        || (uint8_t(s[i + 1]) == 0x80 && uint8_t(s[i + 2]) == 0x8F);
}

const char* text_or_empty(const char* s)
{
    return s ? s : "";
}

} // namespace

int keyIndex(const std::string& key)
{
    int lo = 0, hi = KEY_COUNT;
    const char* k = key.c_str();
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (strcmp(i18n_data::KEYS[mid], k) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return (lo < KEY_COUNT && strcmp(i18n_data::KEYS[lo], k) == 0) ? lo : -1;
}

bool conversions(const std::string& format, std::string* signature)
{
    signature->clear();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (next == 's' || next == 'd')
            signature->push_back(next);
        else if (next != '%')
            return false;
        ++i;
    }
    return true;
}

void init(const std::string& config_dir)
{
    g_guarded = false;
    g_en.store(find_row("en"), std::memory_order_relaxed);
    g_guard_path[0] = '\0';
    if (!config_dir.empty()) {
        paths::make_dirs(config_dir);
        // A path that does not fit disables the guard: a cut path would
        // write or delete some other file.
        int n = snprintf(g_guard_path, sizeof g_guard_path, "%s/language-guard", config_dir.c_str());
        if (n < 0 || size_t(n) >= sizeof g_guard_path)
            g_guard_path[0] = '\0';
    }
    setLanguage(g_setting);
    g_guarded = true;
}

void setLanguage(const std::string& code)
{
    g_setting = code.empty() ? "auto" : code;
    std::string candidate = g_setting == "auto" ? desktop_choice() : g_setting;
    int en = english_row();
    int row = find_row(candidate);
    if (row < 0)
        row = en;

    std::string previous = g_guard_line;
    g_fallback = false;
    g_guard_line[0] = '\0';

    if (row != en && g_guarded) {
        char line[64];
        snprintf(line, sizeof line, "%s %s\n", LANGS[row].code, kBuild);
        bool crashed_before = false;
        if (previous != line && g_guard_path[0]) {
            uint64_t size = 0;
            int fd = files::open_read(g_guard_path, &size);
            std::string content;
            if (fd >= 0 && size < 256 && files::read_all(fd, &content))
                crashed_before = content == line;
            if (fd >= 0)
                close(fd);
        }
        if (crashed_before) {
            fprintf(stderr, "qxFerndockAssemblerIDE: language '%s' did not start cleanly last time — running in English\n",
                LANGS[row].code);
            row = en;
            g_fallback = true;
        } else {
            snprintf(g_guard_line, sizeof g_guard_line, "%s", line);
            if (g_guard_path[0])
                write_guard(g_guard_line);
        }
    } else if (!previous.empty()) {
        delete_guard();
    }

    g_index.store(row, std::memory_order_relaxed);
    g_code = LANGS[row].code;
    g_rtl = LANGS[row].rtl;
}

std::string currentLanguage()
{
    return g_code;
}

std::string tr(const std::string& key)
{
    int row = keyIndex(key);
    if (row < 0)
        return key;
    const char* text = i18n_data::text(LANGS[active_row()], row);
    if (!text || !*text)
        text = i18n_data::text(LANGS[english_row()], row);
    if (!text || !*text)
        return key;
    return directed(text);
}

std::string tr(const std::string& key, const std::string& a)
{
    return format(key, "s", { a });
}

std::string tr(const std::string& key, int a)
{
    return format(key, "d", { std::to_string(a) });
}

std::string tr(const std::string& key, const std::string& a, int b)
{
    return format(key, "sd", { a, std::to_string(b) });
}

std::string tr(const std::string& key, const std::string& a, const std::string& b)
{
    return format(key, "ss", { a, b });
}

std::string tr(const std::string& key, const std::string& a, const std::string& b, const std::string& c)
{
    return format(key, "sss", { a, b, c });
}

std::string tr(const std::string& key, const char* a)
{
    return format(key, "s", { text_or_empty(a) });
}

std::string tr(const std::string& key, const char* a, int b)
{
    return format(key, "sd", { text_or_empty(a), std::to_string(b) });
}

std::string tr(const std::string& key, const char* a, const char* b)
{
    return format(key, "ss", { text_or_empty(a), text_or_empty(b) });
}

std::string tr(const std::string& key, const char* a, const char* b, const char* c)
{
    return format(key, "sss", { text_or_empty(a), text_or_empty(b), text_or_empty(c) });
}

std::string isolate(const std::string& value)
{
    if (!LANGS[active_row()].rtl)
        return value;
    return kFirstStrongIsolate + value + kPopIsolate;
}

std::string plain(std::string text)
{
    size_t to = 0;
    for (size_t from = 0; from < text.size(); ++from) {
        if (isolate_mark(text, from)) {
            from += 2;
            continue;
        }
        text[to++] = text[from];
    }
    text.resize(to);
    return text;
}

Direction letterDirection(uint32_t c)
{
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFC)
        || (c >= 0x10800 && c <= 0x10FFF) || (c >= 0x1E800 && c <= 0x1EFFF) || c == 0x200F || c == 0x061C)
        return Direction::RightToLeft;
    bool latin = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    // Letters of every other script; digits, punctuation, symbols and
    // combining marks decide nothing.
    bool other = c >= 0xC0 && c != 0xD7 && c != 0xF7 && !(c >= 0x0300 && c <= 0x036F)
        && !(c >= 0x2000 && c <= 0x2BFF) && !(c >= 0x2E00 && c <= 0x2E7F) && !(c >= 0x3000 && c <= 0x303F)
        && !(c >= 0xFE00 && c <= 0xFE6F) && !(c >= 0xFF00 && c <= 0xFF20) && !(c >= 0xFF3B && c <= 0xFF40)
        && !(c >= 0xFF5B && c <= 0xFF65) && c < 0xFFF0;
    return latin || other || c == 0x200E ? Direction::LeftToRight : Direction::Neutral;
}

Direction firstStrong(const std::string& s)
{
    Direction first = Direction::Neutral;
    outside_isolates(s, [&](uint32_t c, Direction d) {
        if (c == '\n')
            return false;
        first = d;
        return d == Direction::Neutral;
    });
    return first;
}

bool isRTL()
{
    return g_rtl;
}

const char* languageTag()
{
    const char* code = LANGS[active_row()].code;
    // Chinese alone would leave the choice between simplified and
    // traditional forms to the font.
    if (strcmp(code, "zh") == 0)
        return "zh-cn";
    if (strcmp(code, "zh_TW") == 0)
        return "zh-tw";
    return code;
}

char decimalSeparator()
{
    return in_list(g_code.c_str(),
               { "af", "az", "be", "bg", "bs", "ca", "cs", "da", "de", "el", "es", "et", "eu", "fi", "fr", "gl",
                   "hr", "hu", "hy", "id", "is", "it", "ka", "kk", "ky", "lt", "lv", "mk", "mn", "nb", "nl", "pl",
                   "pt", "ro", "ru", "rw", "sk", "sl", "sq", "sr", "sv", "tg", "tk", "tr", "uk", "uz", "vi", "ku" })
        ? ','
        : '.';
}

const char* uiFontFamily()
{
    return in_list(g_code.c_str(),
               { "zh", "zh_TW", "ja", "ko", "ar", "fa", "ur", "ps", "he", "hi", "ne", "mr", "bn", "th", "gu", "pa",
                   "ta", "te", "kn", "ml", "si", "am", "my", "km", "lo" })
        ? "sans-serif"
        : "monospace";
}

std::vector<LanguageInfo> available()
{
    std::vector<LanguageInfo> out;
    out.reserve(LANG_COUNT);
    for (int i = 0; i < LANG_COUNT; ++i)
        out.push_back({ LANGS[i].code, LANGS[i].native_name, LANGS[i].rtl });
    return out;
}

void startupSucceeded()
{
    if (g_guard_line[0] && g_guard_path[0])
        files::remove(g_guard_path);
}

void cleanExit()
{
    startupSucceeded();
}

void onCrash()
{
    if (g_guard_line[0] && g_guard_path[0])
        write_guard(g_guard_line);
}

bool fallbackActive()
{
    return g_fallback;
}

void clearFallback()
{
    delete_guard();
    g_fallback = false;
}

} // namespace L10n
