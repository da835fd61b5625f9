// Translations: the compiled-in tables, lookup and formatting, language
// selection from the environment, the start-up guard, and the generator that
// turns i18n/*.tsv into the tables.
#include "l10n.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

using namespace testutil;
namespace fs = std::filesystem;

namespace {

struct ChildResult {
    std::string out; // what the body returned
    std::string err; // the child's standard error
    bool ok = false; // the child ran to its end
};

// Runs `body` in a forked child with a clean language environment plus
// `env` ("NAME=value"), so that every case starts from fresh process state.
ChildResult in_child(const std::vector<std::string>& env, const std::function<std::string()>& body)
{
    TempDir dir;
    pid_t pid = fork();
    if (pid == 0) {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
            unsetenv(name);
        for (const auto& e : env)
            putenv(strdup(e.c_str()));
        dup2(open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        write_file(dir.file("out"), body());
        _exit(0);
    }
    int status = 0;
    testutil::wait_child(pid, &status);
    return { read_file(dir.file("out")), read_file(dir.file("err")), WIFEXITED(status) && WEXITSTATUS(status) == 0 };
}

// What the guard file holds, or "clear" when there is none.
std::string guard_text(const std::string& path)
{
    return file_exists(path) ? read_file(path) : "clear";
}

std::string language_state()
{
    return L10n::currentLanguage() + (L10n::fallbackActive() ? " fallback" : " normal");
}

std::string gen_i18n_path()
{
    return fs::path(exe_path()).parent_path().string() + "/gen_i18n";
}

} // namespace

TEST(L10nTables, LookupAndLanguageTable)
{
    // Near misses around real keys and beyond both ends of the sorted table.
    for (const char* key : { "", "note", "note.cal", "note.calls", "zzz.last", "aaa.first" })
        EXPECT_EQ(L10n::keyIndex(key), -1) << key;

    auto langs = L10n::available();
    ASSERT_EQ(langs.size(), 83u);
    std::set<std::string> rtl;
    std::map<std::string, std::string> names;
    for (size_t i = 0; i < langs.size(); ++i) {
        names[langs[i].code] = langs[i].native_name;
        if (langs[i].rtl)
            rtl.insert(langs[i].code);
        EXPECT_FALSE(langs[i].native_name.empty());
        EXPECT_TRUE(i == 0 || langs[i].code == "zh_TW" || langs[i - 1].code < langs[i].code) << langs[i].code;
    }
    EXPECT_EQ(names.size(), 83u);
    EXPECT_EQ(langs.front().code + langs[80].code + langs[81].code + langs.back().code, "afzhzh_TWzu");
    EXPECT_EQ(names["en"] + names["de"] + names["ja"] + names["zh_TW"], "EnglishDeutsch日本語繁體中文");
    EXPECT_EQ(rtl, (std::set<std::string> { "ar", "fa", "he", "ps", "ur" }));
}

TEST(L10nTables, EveryLanguageHasEveryTextWithEnglishConversions)
{
    // The English text file defines the key set.
    std::vector<std::string> keys;
    std::istringstream in(read_file(source_dir() + "/i18n/en.tsv"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            keys.push_back(line.substr(0, line.find('\t')));
    ASSERT_GT(keys.size(), 60u);
    // Plain texts are shown as written; a "%" in them is no conversion.
    std::vector<std::string> plain;
    std::istringstream plain_in(read_file(source_dir() + "/i18n/plain.tsv"));
    for (std::string line; std::getline(plain_in, line);)
        if (!line.empty() && line[0] != '#')
            plain.push_back(line);
    ASSERT_FALSE(plain.empty());
    auto is_plain = [&](const std::string& key) {
        for (const auto& p : plain)
            if (key.rfind(p, 0) == 0)
                return true;
        return false;
    };
    std::string r = in_child({}, [&] {
        L10n::init("");
        std::string problems;
        std::map<std::string, std::string> english;
        for (const auto& key : keys) {
            L10n::conversions(L10n::tr(key), &english[key]);
            if (L10n::keyIndex(key) < 0)
                problems += key + " not in the table\n";
        }
        for (const auto& lang : L10n::available()) {
            L10n::setLanguage(lang.code);
            if (L10n::currentLanguage() != lang.code)
                problems += "cannot select " + lang.code + "\n";
            for (const auto& key : keys) {
                std::string text = L10n::tr(key), sig;
                bool conversions_differ = !is_plain(key) && (!L10n::conversions(text, &sig) || sig != english[key]);
                if (text.empty() || text == key || conversions_differ)
                    problems += lang.code + " " + key + " missing or with other conversions\n";
                // Filled in with sample values as the program does; a text
                // the formatter refuses comes back as its key.
                std::string filled = sig == "s"     ? L10n::tr(key, "«A»")
                                     : sig == "d"   ? L10n::tr(key, 42)
                                     : sig == "sd"  ? L10n::tr(key, "«A»", 42)
                                     : sig == "ss"  ? L10n::tr(key, "«A»", "«B»")
                                     : sig == "sss" ? L10n::tr(key, "«A»", "«B»", "«C»")
                                                    : text;
                bool values_in = (sig.find('s') == std::string::npos || filled.find("«A»") != std::string::npos)
                                 && (sig.find('d') == std::string::npos || filled.find("42") != std::string::npos);
                if (is_plain(key) || sig.empty())
                    continue;
                if (filled == key || !values_in)
                    problems += lang.code + " " + key + " does not format with sample values\n";
            }
        }
        return problems;
    }).out;
    EXPECT_EQ(r, "");
}

TEST(L10nLookup, TextsAndArgumentChecks)
{
    const std::pair<std::string, std::string> cases[] = {
        { L10n::tr("note.nop"), "do nothing" }, { L10n::tr("need.lib", "SDL2"), "The library \"SDL2\" is missing." },
        { L10n::tr("note.call", std::string("exit")), "call exit" },
        { L10n::tr("note.jcc", "==", "done"), "if ==: jump to done" },
        { L10n::tr("note.test", std::string("rax"), std::string("rbx")), "rax & rbx (flags only)" },
        // Unknown keys and arguments that do not fit the text give the key itself.
        { L10n::tr("no.such.key"), "no.such.key" }, { L10n::tr("no.such.key", "x"), "no.such.key" },
        { L10n::tr("no.such.key", 3), "no.such.key" }, { L10n::tr("note.nop", "x"), "note.nop" },
        { L10n::tr("note.call", 5), "note.call" }, { L10n::tr("note.call", "a", "b"), "note.call" },
        { L10n::tr("note.jcc", "a"), "note.jcc" }, { L10n::tr("note.jcc", "a", 1), "note.jcc" },
        { L10n::tr("note.jcc", "a", "b", "c"), "note.jcc" },
        // A null text argument stands for the empty text.
        { L10n::tr("note.call", nullptr), "call " }, { L10n::tr("note.jcc", nullptr, "x"), "if : jump to x" },
        // Conversions inside arguments are copied, not interpreted.
        { L10n::tr("note.call", "%s%d%n"), "call %s%d%n" },
    };
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got, want);
    std::string big(100000, 'x');
    EXPECT_EQ(L10n::tr("dis.head", big).size(), big.size() + strlen("Disassembled from "));

    std::string help = L10n::tr("con.help");
    EXPECT_EQ(help.rfind("Debug console — commands", 0), 0u);
    EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 17);
    EXPECT_NE(help.find("\n  bp adr / bc adr|* / bl   set / clear / list breakpoints\n"), std::string::npos);
    EXPECT_NE(last_of(help), '\n');

    // In a right-to-left language each value sits between isolate marks;
    // plain() gives the text for files, the log and the terminal.
    L10n::setLanguage("he");
    const std::string found = L10n::tr("settings.found", "/usr/bin/nasm");
    EXPECT_EQ(found, "נמצא: \u2068/usr/bin/nasm\u2069");
    EXPECT_EQ(L10n::plain(found), "נמצא: /usr/bin/nasm");
    EXPECT_EQ(L10n::tr("build.warnings", 3), "\u20683\u2069 אזהרות");
    EXPECT_EQ(L10n::isolate("2.16"), "\u20682.16\u2069");
    // One that opens with a Latin word starts with a right-to-left mark.
    EXPECT_EQ(L10n::tr("need.nasm"), "\u200FNASM (האסמבלר) חסר.");
    EXPECT_EQ(L10n::plain(L10n::tr("need.nasm")), "NASM (האסמבלר) חסר.");
    L10n::setLanguage("en");
    EXPECT_EQ(L10n::tr("need.nasm").rfind("NASM", 0), 0u);
    EXPECT_EQ(L10n::tr("settings.found", "/usr/bin/nasm"), "Found: /usr/bin/nasm");
    EXPECT_EQ(L10n::isolate("2.16"), "2.16");
    EXPECT_EQ(L10n::plain("a\u2066b\u2067c\u2068d\u2069e \u2065\u206A"), "abcde \u2065\u206A");

    // "!" marks a format that is refused.
    const std::pair<const char*, const char*> signatures[] = { { "plain", "" }, { "%s and %d, 100%% sure %s", "sds" },
        { "%%s", "" }, { "%5s", "!" }, { "%x", "!" }, { "%llu", "!" }, { "ends in %", "!" } };
    for (const auto& [format, want] : signatures) {
        std::string sig;
        EXPECT_EQ(L10n::conversions(format, &sig) ? sig : "!", want) << format;
    }
}

TEST(L10nSelection, FromTheDesktopLanguageList)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = { { { "LANGUAGE=pt_BR:de" }, "pt" },
        { { "LANG=zh_TW.UTF-8" }, "zh_TW" }, { { "LANG=zh_CN.UTF-8" }, "zh" },
        { { "LANGUAGE=xx_YY:de_AT@euro" }, "de" }, { { "LC_ALL=sr_RS@latin" }, "sr" }, { { "LANGUAGE=tlh:qq" }, "en" },
        { { "LANG=C" }, "en" }, { {}, "en" } };
    for (const auto& [env, want] : cases)
        EXPECT_EQ(in_child(env, [] {
            L10n::init("");
            return L10n::currentLanguage();
        }).out, want) << (env.empty() ? "" : env[0]);
}

TEST(L10nSelection, ByCode)
{
    ChildResult r = in_child({ "LANGUAGE=de" }, [] {
        L10n::init("");
        std::string out = L10n::currentLanguage();
        // Each step selects first and then asks, in its own statement.
        for (const char* code : { "xx", "ja", "de", "en", "ar", "zh_TW", "", "ku" }) {
            L10n::setLanguage(code);
            out += " " + L10n::currentLanguage() + " " + L10n::uiFontFamily() + " " + L10n::decimalSeparator()
                + (L10n::isRTL() ? " rtl" : " ltr");
        }
        // The texts follow the language chosen last.
        std::string kurdish = L10n::tr("note.push", "rbp");
        L10n::setLanguage("en");
        bool follows = kurdish != L10n::tr("note.push", "rbp") && kurdish.find("rbp") != std::string::npos;
        return out + (follows ? " [ku text]" : " [" + kurdish + "]");
    });
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(r.out,
        "de en monospace . ltr ja sans-serif . ltr de monospace , ltr en monospace . ltr ar sans-serif . rtl"
        " zh_TW sans-serif . ltr de monospace , ltr ku monospace , ltr [ku text]");
}

TEST(L10nGuard, ArmedBySelectionAndDisarmedByConfirmation)
{
    TempDir dir;
    std::string cfg = dir.file("cfg/sub"), guard = cfg + "/language-guard";
    ChildResult r = in_child({ "LANGUAGE=de" }, [&] {
        L10n::init(cfg);
        // The first selection never consults or writes the guard.
        std::string log = L10n::currentLanguage() + " " + guard_text(guard);
        for (const std::function<void()>& step : std::initializer_list<std::function<void()>> {
                 [] { L10n::setLanguage("de"); }, L10n::startupSucceeded, L10n::onCrash, L10n::cleanExit,
                 [] { L10n::setLanguage("de"); }, // the same language again arms the guard again
                 [] { L10n::setLanguage("fr"); }, [] { L10n::setLanguage("en"); },
                 L10n::onCrash }) { // nothing is held after English
            step();
            log += "|" + guard_text(guard);
        }
        return log;
    });
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(r.out, "de clear|de 1069\n|clear|de 1069\n|clear|de 1069\n|fr 1069\n|clear|clear");
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(r.err, "");
}

TEST(L10nGuard, OnlyAnExactLineMakesTheLanguageFallBackToEnglish)
{
    TempDir dir;
    std::string guard = dir.file("language-guard");
    const std::string warning
        = "qxFerndockAssemblerIDE: language 'de' did not start cleanly last time — running in English\n";
    // A fallback holds no line, so confirming the start keeps the file; the
    // start-up selection itself ignores a guard for its language.
    const std::tuple<const char*, bool, const char*> cases[] = { // guard, chosen at start-up, states
        { "de 1069\n", false, "en fallback de 1069\n|de 1069\n|en normal clear" },
        { "de 1068\n", false, "de normal de 1069\n|clear|de normal clear" },
        { "de 1069", false, "de normal de 1069\n|clear|de normal clear" },
        { "fr 1069\n", false, "de normal de 1069\n|clear|de normal clear" },
        { "", false, "de normal de 1069\n|clear|de normal clear" },
        { "de 1069\n", true, "de normal de 1069\n|de 1069\n|de normal clear" },
    };
    for (const auto& [stale, at_start, want] : cases) {
        ASSERT_TRUE(write_file(guard, stale));
        std::vector<std::string> env;
        if (at_start)
            env.push_back("LANGUAGE=de");
        ChildResult r = in_child(env, [&] {
            L10n::init(dir.path());
            if (!at_start)
                L10n::setLanguage("de");
            std::string log = language_state() + " " + guard_text(guard) + "|";
            L10n::startupSucceeded();
            log += guard_text(guard) + "|";
            L10n::clearFallback();
            return log + language_state() + " " + guard_text(guard);
        });
        ASSERT_TRUE(r.ok) << stale;
        EXPECT_EQ(r.out, want) << stale;
        EXPECT_EQ(r.err, std::string(want).find("fallback") != std::string::npos ? warning : "") << stale;
    }
}

TEST(L10nGuard, TooLongConfigurationPathDisablesTheGuard)
{
    TempDir dir;
    std::string cfg = dir.file(std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c'));
    std::string full = cfg + "/language-guard";
    for (std::string config : { cfg, std::string() }) {
        ChildResult r = in_child({}, [&] {
            L10n::init(config);
            L10n::setLanguage("de");
            L10n::onCrash(); // would write the guard a second time
            if (config.empty())
                L10n::clearFallback(); // without a guard there is nothing to delete
            return L10n::currentLanguage();
        });
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out, "de");
    }
    EXPECT_TRUE(fs::is_directory(cfg));
    EXPECT_FALSE(file_exists(full));
    EXPECT_FALSE(file_exists(full.substr(0, 511)));
}

// The generator that builds the tables from i18n/*.tsv, on a copy that
// keeps a few of the languages (each run reads every language's file; the
// shipped ones are read once, below). German is made complete in the copy
// (every English text with "DE " before it), except for the keys the cases
// write themselves.
const std::set<std::string> kCaseKeys = { "note.nop", "note.call", "con.bp_none", "ref.e.ENOENT", "ref.d.define" };
const std::set<std::string> kFixtureLanguages = { "ar", "de", "el", "en", "sw" };

class GenI18n : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string from = source_dir() + "/i18n/";
        fs::create_directory(m_dir.file("i18n"));
        fs::create_directory(m_dir.file("out"));
        for (const char* name : { "families.tsv", "plain.tsv", "en.tsv", "ar.tsv", "el.tsv", "sw.tsv" })
            fs::copy(from + name, m_dir.file(std::string("i18n/") + name));
        // The lists by language keep the fixture's languages; German's are
        // the cases' own.
        for (const std::string name : { "languages.tsv", "pending.tsv", "same.tsv" }) {
            const bool cases_own = name != "languages.tsv";
            std::istringstream in(read_file(from + name));
            std::string kept;
            for (std::string line; std::getline(in, line);) {
                std::string code = line.substr(0, line.find('\t'));
                if (line.empty() || line[0] == '#' || (kFixtureLanguages.count(code) && !(cases_own && code == "de")))
                    kept += line + "\n";
            }
            ASSERT_TRUE(write_file(m_dir.file("i18n/" + name), kept));
        }
        std::string de = "# Deutsch\n";
        std::istringstream en(read_file(from + "en.tsv"));
        for (std::string line; std::getline(en, line);) {
            size_t tab = line.find('\t');
            if (line.empty() || line[0] == '#' || kCaseKeys.count(line.substr(0, tab)))
                continue;
            m_keys.push_back(line.substr(0, tab));
            de += line.substr(0, tab) + "\tDE " + line.substr(tab + 1) + "\n";
        }
        ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), de));
    }
    RunResult generate() { return run({ gen_i18n_path(), m_dir.file("i18n"), m_dir.file("out") }); }
    void append(const std::string& name, const std::string& line)
    {
        std::string path = m_dir.file("i18n/" + name);
        ASSERT_TRUE(write_file(path, read_file(path) + line));
    }
    // The five keys the cases leave out, translated.
    static constexpr const char* kCaseLines = "note.nop\tnichts tun\nnote.call\t%s aufrufen\n"
                                              "con.bp_none\tKeine\\tHalte\\\\punkte\\n\n"
                                              "ref.e.ENOENT\tDatei fehlt.\nref.d.define\t%define und %undef.\n";
    TempDir m_dir;
    std::vector<std::string> m_keys; // the German keys written by SetUp
};

TEST_F(GenI18n, AcceptsTheShippedFilesAndTranslations)
{
    RunResult r = run({ gen_i18n_path(), source_dir() + "/i18n", m_dir.file("out") });
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(read_file(m_dir.file("out/i18n_data.h")).find("constexpr int LANG_COUNT = 83;"), std::string::npos);

    // Escapes, keys ending in a capitalised name, and plain texts with NASM's "%".
    append("de.tsv", kCaseLines);
    r = generate();
    ASSERT_EQ(r.code, 0) << r.err;
    std::string cpp = read_file(m_dir.file("out/i18n_data.cpp"));
    EXPECT_NE(read_file(m_dir.file("out/i18n_data.h")).find("constexpr int LANG_COUNT = 5;"), std::string::npos);
    size_t de = cpp.find("TEXTS_de[] =");
    ASSERT_NE(de, std::string::npos);
    std::string de_table = cpp.substr(de, cpp.find("TEXTS_el[] =") - de);
    for (const char* text : { "\"nichts tun\"", "\"%s aufrufen\"", "\"Datei fehlt.\"", "\"%define und %undef.\"",
                              "\"Keine\\011Halte\\\\punkte\\012\"", "\"DE jump target marker\"" })
        EXPECT_NE(de_table.find(text), std::string::npos) << text;
    EXPECT_NE(cpp.find("{ \"ar\", "), std::string::npos);

    // While a language's reference is pending, a text it lacks is English.
    std::string text = read_file(m_dir.file("i18n/de.tsv"));
    size_t at = text.find("\nref.cc.e\t") + 1;
    text.erase(at, text.find('\n', at) + 1 - at);
    ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), text));
    append("pending.tsv", "de\tref\n");
    r = generate();
    ASSERT_EQ(r.code, 0) << r.err;
    cpp = read_file(m_dir.file("out/i18n_data.cpp"));
    de = cpp.find("TEXTS_de[] =");
    de_table = cpp.substr(de, cpp.find("TEXTS_el[] =") - de);
    EXPECT_NE(de_table.find("\"equal, or a result of zero (ZF = 1)\""), std::string::npos);
}

TEST_F(GenI18n, RejectsWrongKeysTextsAndMissingFiles)
{
    // More keys in a family than it may hold.
    std::string extra;
    for (int i = 0; i < 30; ++i)
        extra += "need.extra" + std::to_string(i) + "\tText.\n";
    // File, added lines, and the file the error names. German lacks the
    // case keys, so an error at a line number (not the file's coverage)
    // shows that the line itself was refused.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        { "de.tsv", "note.call\t%d aufrufen\n", "de.tsv:" }, { "de.tsv", "note.unknown\tetwas\n", "de.tsv:" },
        { "de.tsv", "note.nop\t\n", "de.tsv:" }, { "de.tsv", "note.nop\teins\nnote.nop\tzwei\n", "de.tsv:" },
        { "de.tsv", "note.nop nichts\n", "de.tsv:" }, { "de.tsv", "note.nop\tnichts\\q\n", "de.tsv:" },
        { "de.tsv", "note.call\t%s %s\n", "de.tsv:" }, { "en.tsv", "zz.key\tA text.\n", "en.tsv:" },
        { "en.tsv", "Note.Upper\tA text.\n", "en.tsv:" }, { "en.tsv", "note.width\t%5s wide\n", "en.tsv:" },
        { "en.tsv", "note.empty\t\n", "en.tsv:" }, { "en.tsv", "note.nop\tagain\n", "en.tsv:" },
        { "en.tsv", extra, "en.tsv:" }, { "languages.tsv", "xx\tNowhere\tltr\n", "xx.tsv:" },
        { "languages.tsv", "de\tDeutsch\tltr\n", "languages.tsv:" },
        { "languages.tsv", "yy\tSomewhere\tup\n", "languages.tsv:" },
        { "plain.tsv", "ref d\n", "plain.tsv:" }, { "de.tsv", "Ref.e.ENOENT\tDatei\n", "de.tsv:" },
        { "en.tsv", "note.x%\t%define\n", "en.tsv:" }, { "de.tsv", "note.call\t%define\n", "de.tsv:" },
        { "pending.tsv", "de\tmenus\n", "pending.tsv:" }, { "same.tsv", "de\tnote.none_such\n", "same.tsv:" },
    };
    for (const auto& [file, line, where] : cases) {
        std::string path = m_dir.file("i18n/" + file), original = read_file(path);
        append(file, line);
        RunResult r = generate();
        EXPECT_NE(r.code, 0) << file << ": " << line;
        size_t at = r.err.find(where);
        ASSERT_NE(at, std::string::npos) << r.err;
        char line_digit = r.err[at + where.size()];
        EXPECT_TRUE((isdigit((unsigned char)line_digit) && line_digit != '0') || file == "languages.tsv")
            << line << " -> " << r.err;
        EXPECT_NE(r.err.find("error"), std::string::npos) << line;
        EXPECT_FALSE(file_exists(m_dir.file("out/i18n_data.cpp")));
        ASSERT_TRUE(write_file(path, original));
    }
    fs::remove(m_dir.file("i18n/sw.tsv")); // every language needs its file
    RunResult r = generate();
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("sw.tsv"), std::string::npos) << r.err;
}

TEST_F(GenI18n, EachPartIsTranslatedWholeOrPendingAndEnglishTextsAreListed)
{
    append("de.tsv", kCaseLines);
    ASSERT_EQ(generate().code, 0);
    std::string de = read_file(m_dir.file("i18n/de.tsv")), pending = read_file(m_dir.file("i18n/pending.tsv")),
                same = read_file(m_dir.file("i18n/same.tsv"));
    auto expect_refused = [&](const std::string& what, const std::string& message) {
        RunResult r = generate();
        EXPECT_NE(r.code, 0) << what;
        EXPECT_NE(r.err.find(message), std::string::npos) << what << ": " << r.err;
        ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), de));
        ASSERT_TRUE(write_file(m_dir.file("i18n/pending.tsv"), pending));
        ASSERT_TRUE(write_file(m_dir.file("i18n/same.tsv"), same));
    };
    auto replace_line = [&](const std::string& key, const std::string& text) {
        size_t at = de.find("\n" + key + "\t") + 1;
        std::string changed = de;
        changed.replace(at, de.find('\n', at) - at, key + "\t" + text);
        ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), changed));
    };
    auto drop_line = [&](const std::string& key) {
        size_t at = de.find("\n" + key + "\t") + 1;
        std::string changed = de;
        changed.erase(at, de.find('\n', at) + 1 - at);
        ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), changed));
    };

    // One interface text and one reference text left out.
    drop_line("con.bp_none");
    expect_refused("a missing interface text", "1 of the ui texts are missing (first: con.bp_none)");
    drop_line("ref.e.ENOENT");
    expect_refused("a missing reference text", "ref texts are missing (first: ref.e.ENOENT)");
    // A part listed as pending may lack texts, but once complete the
    // listing goes.
    drop_line("con.bp_none");
    ASSERT_TRUE(write_file(m_dir.file("i18n/pending.tsv"), pending + "de\tui\n"));
    EXPECT_EQ(generate().code, 0) << "a pending part with a missing text";
    ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), de));
    expect_refused("a complete part listed as pending", "complete but listed as pending");

    // A text left in English is refused unless listed, and listing it is
    // only right while it is equal.
    replace_line("menu.file", "File");
    expect_refused("an unlisted English text", "menu.file is the English one");
    replace_line("menu.file", "File");
    ASSERT_TRUE(write_file(m_dir.file("i18n/same.tsv"), same + "de\tmenu.file\n"));
    EXPECT_EQ(generate().code, 0) << generate().err;
    ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), de));
    expect_refused("a listed text that is translated", "menu.file is listed as equal to English");

    // A reference text keeps its code lines, its lines and the words that
    // are written as they are in every language.
    const std::string stack = [] {
        std::istringstream en(read_file(source_dir() + "/i18n/en.tsv"));
        for (std::string line; std::getline(en, line);)
            if (line.rfind("ref.t.stack.body\t", 0) == 0)
                return line.substr(line.find('\t') + 1);
        return std::string();
    }();
    ASSERT_NE(stack.find("\\n    push rbx"), std::string::npos);
    const std::pair<std::string, std::string> ref_cases[] = {
        { "push rbx", "push rcx" },               // a changed code line
        { "\\n\\n# Functions", " # Functions" }, // a line fewer
        { "r12 to r15", "r12 bis r16" },          // a register and a number
        { "multiple of 16", "Vielfaches von sechzehn" },
    };
    for (const auto& [from, to] : ref_cases) {
        std::string changed = stack;
        changed.replace(changed.find(from), from.size(), to);
        replace_line("ref.t.stack.body", "DE " + changed);
        expect_refused(from, "ref.t.stack.body");
    }
    // Numbers joined to a word ("32bitový", "1er") still count.
    std::string joined = "Der Stapel " + stack.substr(stack.find(" is memory"));
    joined.replace(joined.find("the 8 bytes"), strlen("the 8 bytes"), "den 8Bytes");
    replace_line("ref.t.stack.body", joined);
    EXPECT_EQ(generate().code, 0) << generate().err;
    ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), de));

    // Many texts left in English are more than a translation leaves.
    std::string lazy = "# Deutsch\n", listed;
    std::istringstream en(read_file(source_dir() + "/i18n/en.tsv"));
    int n = 0;
    for (std::string line; std::getline(en, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::string key = line.substr(0, line.find('\t'));
        bool keep = key.rfind("ref.", 0) != 0 && n++ % 5 == 0;
        lazy += keep ? line + "\n" : key + "\tDE " + line.substr(line.find('\t') + 1) + "\n";
        if (keep)
            listed += "de\t" + key + "\n";
    }
    ASSERT_TRUE(write_file(m_dir.file("i18n/de.tsv"), lazy));
    ASSERT_TRUE(write_file(m_dir.file("i18n/same.tsv"), same + listed));
    expect_refused("a fifth left in English", "more than a translation leaves");
}
