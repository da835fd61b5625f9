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
#include <set>
#include <sstream>

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
    std::string out_path = dir.file("out"), err_path = dir.file("err");
    pid_t pid = fork();
    if (pid == 0) {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" })
            unsetenv(name);
        for (const auto& e : env) {
            size_t eq = e.find('=');
            setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        std::string out = body();
        write_file(out_path, out);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ChildResult r;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

std::string language_for(const std::vector<std::string>& env)
{
    return in_child(env, [] {
        L10n::init("");
        return L10n::currentLanguage();
    }).out;
}

// The keys of the English text file, which defines the key set.
std::vector<std::string> english_keys()
{
    std::vector<std::string> keys;
    std::istringstream in(read_file(source_dir() + "/i18n/en.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#')
            keys.push_back(line.substr(0, line.find('\t')));
    }
    return keys;
}

std::string gen_i18n_path()
{
    return fs::path(exe_path()).parent_path().string() + "/gen_i18n";
}

} // namespace

TEST(L10nTables, KeysAreSortedAndFound)
{
    // Every key the program's components rely on is present.
    for (const char* key : { "note.call", "note.ud2", "dis.head", "dis.why.format", "need.nasm", "need.install",
             "snap.lib", "con.help", "con.written", "con.err.register", "con.welcome", "menu.undo" })
        EXPECT_GE(L10n::keyIndex(key), 0) << key;
    EXPECT_EQ(L10n::keyIndex(""), -1);
    EXPECT_EQ(L10n::keyIndex("note"), -1);
    EXPECT_EQ(L10n::keyIndex("note.cal"), -1);
    EXPECT_EQ(L10n::keyIndex("note.calls"), -1);
    EXPECT_EQ(L10n::keyIndex("zzz.last"), -1);
    EXPECT_EQ(L10n::keyIndex("aaa.first"), -1);
    EXPECT_LT(L10n::keyIndex("con.bp_set"), L10n::keyIndex("con.err.value"));
    EXPECT_LT(L10n::keyIndex("dis.db"), L10n::keyIndex("dis.head"));
    EXPECT_LT(L10n::keyIndex("note.int"), L10n::keyIndex("note.int3"));
}

TEST(L10nTables, LanguageTable)
{
    auto langs = L10n::available();
    ASSERT_EQ(langs.size(), 83u);
    EXPECT_EQ(langs[0].code, "af");
    EXPECT_EQ(langs[13].code, "en");
    EXPECT_EQ(langs[13].native_name, "English");
    EXPECT_EQ(langs[11].native_name, "Deutsch");
    EXPECT_EQ(langs[32].native_name, "日本語");
    EXPECT_EQ(langs[80].code, "zh");
    EXPECT_EQ(langs[81].code, "zh_TW");
    EXPECT_EQ(langs[81].native_name, "繁體中文");
    EXPECT_EQ(langs[82].code, "zu");
    std::set<std::string> rtl, codes;
    for (size_t i = 0; i < langs.size(); ++i) {
        codes.insert(langs[i].code);
        if (langs[i].rtl)
            rtl.insert(langs[i].code);
        EXPECT_FALSE(langs[i].native_name.empty());
        if (i > 0 && langs[i].code != "zh_TW") {
            EXPECT_LT(langs[i - 1].code, langs[i].code);
        }
    }
    EXPECT_EQ(codes.size(), 83u);
    EXPECT_EQ(rtl, (std::set<std::string> { "ar", "fa", "he", "ps", "ur" }));
}

TEST(L10nTables, EveryLanguageHasEveryTextWithEnglishConversions)
{
    std::vector<std::string> keys = english_keys();
    ASSERT_GT(keys.size(), 60u);
    std::string r = in_child({}, [&] {
        L10n::init("");
        std::string problems;
        for (const auto& key : keys) {
            if (L10n::keyIndex(key) < 0)
                problems += key + " not in the table\n";
        }
        for (const auto& lang : L10n::available()) {
            L10n::setLanguage(lang.code);
            if (L10n::currentLanguage() != lang.code)
                problems += "cannot select " + lang.code + "\n";
            for (const auto& key : keys) {
                std::string text = L10n::tr(key), want, got;
                L10n::setLanguage("en");
                std::string english = L10n::tr(key);
                L10n::setLanguage(lang.code);
                if (text.empty() || text == key)
                    problems += lang.code + " " + key + " missing\n";
                L10n::conversions(text, &got);
                L10n::conversions(english, &want);
                if (got != want)
                    problems += lang.code + " " + key + " conversions differ\n";
            }
        }
        return problems;
    }).out;
    EXPECT_EQ(r, "");
}

TEST(L10nLookup, PlainTexts)
{
    EXPECT_EQ(L10n::tr("note.nop"), "do nothing");
    EXPECT_EQ(L10n::tr("con.err.live"), "Only while a program is stopped in the debugger (F5).");
    EXPECT_EQ(L10n::tr("need.lib", "SDL2"), "The library \"SDL2\" is missing.");
    EXPECT_EQ(L10n::tr("no.such.key"), "no.such.key");
    EXPECT_EQ(L10n::tr("no.such.key", "x"), "no.such.key");
    EXPECT_EQ(L10n::tr("no.such.key", 3), "no.such.key");

    std::string help = L10n::tr("con.help");
    EXPECT_EQ(help.rfind("Debug console — commands", 0), 0u);
    EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 17);
    EXPECT_NE(help.find("\n  bp adr / bc adr|* / bl   set / clear / list breakpoints\n"), std::string::npos);
    EXPECT_NE(help.back(), '\n');
}

TEST(L10nLookup, FormattingChecksTheArguments)
{
    EXPECT_EQ(L10n::tr("note.call", "main"), "call main");
    EXPECT_EQ(L10n::tr("note.call", std::string("exit")), "call exit");
    EXPECT_EQ(L10n::tr("note.jcc", "==", "done"), "if ==: jump to done");
    EXPECT_EQ(L10n::tr("note.test", std::string("rax"), std::string("rbx")), "rax & rbx (flags only)");
    // A null text argument stands for the empty text.
    EXPECT_EQ(L10n::tr("note.call", nullptr), "call ");
    EXPECT_EQ(L10n::tr("note.jcc", nullptr, "x"), "if : jump to x");
    // Arguments that do not fit the text give the key itself.
    EXPECT_EQ(L10n::tr("note.nop", "x"), "note.nop");
    EXPECT_EQ(L10n::tr("note.call", 5), "note.call");
    EXPECT_EQ(L10n::tr("note.call", "a", "b"), "note.call");
    EXPECT_EQ(L10n::tr("note.jcc", "a"), "note.jcc");
    EXPECT_EQ(L10n::tr("note.jcc", "a", 1), "note.jcc");
    EXPECT_EQ(L10n::tr("note.jcc", "a", "b", "c"), "note.jcc");
    // Conversions inside arguments are copied, not interpreted.
    EXPECT_EQ(L10n::tr("note.call", "%s%d%n"), "call %s%d%n");
    std::string big(100000, 'x');
    EXPECT_EQ(L10n::tr("dis.head", big).size(), big.size() + strlen("Disassembled from "));
}

TEST(L10nLookup, ConversionSignatures)
{
    std::string sig;
    EXPECT_TRUE(L10n::conversions("plain", &sig));
    EXPECT_EQ(sig, "");
    EXPECT_TRUE(L10n::conversions("%s and %d, 100%% sure %s", &sig));
    EXPECT_EQ(sig, "sds");
    EXPECT_TRUE(L10n::conversions("%%s", &sig));
    EXPECT_EQ(sig, "");
    EXPECT_FALSE(L10n::conversions("%5s", &sig));
    EXPECT_FALSE(L10n::conversions("%x", &sig));
    EXPECT_FALSE(L10n::conversions("%llu", &sig));
    EXPECT_FALSE(L10n::conversions("ends in %", &sig));
}

TEST(L10nSelection, FromTheDesktopLanguageList)
{
    EXPECT_EQ(language_for({ "LANGUAGE=pt_BR:de" }), "pt");
    EXPECT_EQ(language_for({ "LANG=zh_TW.UTF-8" }), "zh_TW");
    EXPECT_EQ(language_for({ "LANG=zh_CN.UTF-8" }), "zh");
    EXPECT_EQ(language_for({ "LANGUAGE=xx_YY:de_AT@euro" }), "de");
    EXPECT_EQ(language_for({ "LC_ALL=sr_RS@latin" }), "sr");
    EXPECT_EQ(language_for({ "LANGUAGE=tlh:qq" }), "en");
    EXPECT_EQ(language_for({ "LANG=C" }), "en");
    EXPECT_EQ(language_for({}), "en");
}

TEST(L10nSelection, ByCode)
{
    ChildResult r = in_child({ "LANGUAGE=de" }, [] {
        L10n::init("");
        std::string out = L10n::currentLanguage();
        // Each step selects first and then asks, in its own statement.
        auto facts = [](const std::string& code) {
            L10n::setLanguage(code);
            return " " + L10n::currentLanguage() + " " + L10n::uiFontFamily() + " " + L10n::decimalSeparator()
                + (L10n::isRTL() ? " rtl" : " ltr");
        };
        for (const char* code : { "xx", "ja", "de", "en", "ar", "zh_TW", "", "ku" })
            out += facts(code);
        // Texts missing in a language fall back to English.
        out += " [" + L10n::tr("note.push", "rbp") + "]";
        return out;
    });
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(r.out,
        "de en monospace . ltr ja sans-serif . ltr de monospace , ltr en monospace . ltr ar sans-serif . rtl"
        " zh_TW sans-serif . ltr de monospace , ltr ku monospace , ltr [push rbp onto the stack]");
}

TEST(L10nGuard, ArmedBySelectionAndDisarmedByConfirmation)
{
    TempDir dir;
    std::string cfg = dir.file("cfg/sub"), guard = cfg + "/language-guard";
    ChildResult r = in_child({ "LANGUAGE=de" }, [&] {
        std::string log;
        L10n::init(cfg);
        // The first selection never consults or writes the guard.
        log += L10n::currentLanguage() + (file_exists(guard) ? " armed" : " clear") + "|";
        L10n::setLanguage("de");
        log += read_file(guard) + "|";
        L10n::startupSucceeded();
        log += std::string(file_exists(guard) ? "armed" : "clear") + "|";
        L10n::onCrash();
        log += read_file(guard) + "|";
        L10n::cleanExit();
        log += std::string(file_exists(guard) ? "armed" : "clear") + "|";
        L10n::setLanguage("de"); // the same language again arms the guard again
        log += read_file(guard) + "|";
        L10n::setLanguage("fr");
        log += read_file(guard) + "|";
        L10n::setLanguage("en");
        log += std::string(file_exists(guard) ? "armed" : "clear") + "|";
        L10n::onCrash(); // nothing is held after English
        log += std::string(file_exists(guard) ? "armed" : "clear");
        return log;
    });
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(r.out, "de clear|de 1069\n|clear|de 1069\n|clear|de 1069\n|fr 1069\n|clear|clear");
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(r.err, "");
}

TEST(L10nGuard, CrashedLanguageFallsBackToEnglish)
{
    TempDir dir;
    std::string guard = dir.file("language-guard");
    ASSERT_TRUE(write_file(guard, "de 1069\n"));
    ChildResult r = in_child({}, [&] {
        L10n::init(dir.path());
        L10n::setLanguage("de");
        std::string log = L10n::currentLanguage() + (L10n::fallbackActive() ? " fallback " : " normal ") + read_file(guard);
        L10n::startupSucceeded(); // holds no line, so the file stays
        log += std::string(file_exists(guard) ? "kept" : "gone") + "|";
        L10n::clearFallback();
        log += L10n::currentLanguage() + (L10n::fallbackActive() ? " fallback " : " normal ")
            + (file_exists(guard) ? "kept" : "gone");
        return log;
    });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, "en fallback de 1069\nkept|en normal gone");
    EXPECT_EQ(r.err, "qxFerndockAssemblerIDE: language 'de' did not start cleanly last time — running in English\n");
}

TEST(L10nGuard, OnlyAnExactLineTriggersTheFallback)
{
    TempDir dir;
    std::string guard = dir.file("language-guard");
    for (const char* stale : { "de 1068\n", "de 1069", "fr 1069\n", "" }) {
        ASSERT_TRUE(write_file(guard, stale));
        ChildResult r = in_child({}, [&] {
            L10n::init(dir.path());
            L10n::setLanguage("de");
            return L10n::currentLanguage() + (L10n::fallbackActive() ? " fallback " : " normal ") + read_file(guard);
        });
        EXPECT_EQ(r.out, "de normal de 1069\n") << stale;
        EXPECT_EQ(r.err, "");
    }

    // The start-up selection itself ignores a guard for its language.
    ASSERT_TRUE(write_file(guard, "de 1069\n"));
    ChildResult r = in_child({ "LANGUAGE=de" }, [&] {
        L10n::init(dir.path());
        return L10n::currentLanguage() + (L10n::fallbackActive() ? " fallback " : " normal ") + read_file(guard);
    });
    EXPECT_EQ(r.out, "de normal de 1069\n");
}

TEST(L10nGuard, TooLongConfigurationPathDisablesTheGuard)
{
    TempDir dir;
    std::string cfg = dir.path() + "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c');
    std::string full = cfg + "/language-guard";
    std::string cut = full.substr(0, 511);
    ChildResult r = in_child({}, [&] {
        L10n::init(cfg);
        L10n::setLanguage("de");
        L10n::onCrash();
        return L10n::currentLanguage();
    });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, "de");
    EXPECT_TRUE(fs::is_directory(cfg));
    EXPECT_FALSE(file_exists(full));
    EXPECT_FALSE(file_exists(cut));

    ChildResult none = in_child({}, [&] {
        L10n::init("");
        L10n::setLanguage("de");
        L10n::onCrash();
        L10n::clearFallback();
        return L10n::currentLanguage();
    });
    EXPECT_EQ(none.out, "de");
}

// The generator that builds the tables from i18n/*.tsv.
class GenI18n : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::copy(source_dir() + "/i18n", m_dir.file("i18n"));
        fs::create_directory(m_dir.file("out"));
    }
    RunResult generate() { return run({ gen_i18n_path(), m_dir.file("i18n"), m_dir.file("out") }); }
    void append(const std::string& name, const std::string& line)
    {
        std::string path = m_dir.file("i18n/" + name);
        ASSERT_TRUE(write_file(path, read_file(path) + line));
    }
    TempDir m_dir;
};

TEST_F(GenI18n, AcceptsTheShippedFilesAndTranslations)
{
    append("de.tsv", "note.nop\tnichts tun\nnote.call\t%s aufrufen\ncon.bp_none\tKeine\\tHalte\\\\punkte\\n\n");
    RunResult r = generate();
    ASSERT_EQ(r.code, 0) << r.err;
    std::string cpp = read_file(m_dir.file("out/i18n_data.cpp"));
    std::string h = read_file(m_dir.file("out/i18n_data.h"));
    EXPECT_NE(h.find("constexpr int LANG_COUNT = 83;"), std::string::npos);
    size_t de = cpp.find("VALUES_de[KEY_COUNT] = {");
    size_t el = cpp.find("VALUES_el[KEY_COUNT] = {");
    ASSERT_NE(de, std::string::npos);
    std::string de_table = cpp.substr(de, el - de);
    EXPECT_NE(de_table.find("\"nichts tun\""), std::string::npos);
    EXPECT_NE(de_table.find("\"%s aufrufen\""), std::string::npos);
    EXPECT_NE(de_table.find("\"Keine\\011Halte\\\\punkte\\012\""), std::string::npos);
    // Untranslated keys carry the English text.
    EXPECT_NE(de_table.find("\"jump target marker\""), std::string::npos);
    EXPECT_NE(cpp.find("{ \"ar\", "), std::string::npos);
}

TEST_F(GenI18n, RejectsMismatchedConversions)
{
    append("de.tsv", "note.call\t%d aufrufen\n");
    RunResult r = generate();
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("de.tsv"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("note.call"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(m_dir.file("out/i18n_data.cpp")));
}

TEST_F(GenI18n, RejectsWrongKeysAndTexts)
{
    struct Case {
        const char* file;
        const char* line;
    };
    const Case cases[] = {
        { "de.tsv", "note.unknown\tetwas\n" },
        { "de.tsv", "note.nop\t\n" },
        { "de.tsv", "note.nop\teins\nnote.nop\tzwei\n" },
        { "de.tsv", "note.nop nichts\n" },
        { "de.tsv", "note.nop\tnichts\\q\n" },
        { "de.tsv", "note.call\t%s %s\n" },
        { "en.tsv", "zz.key\tA text.\n" },
        { "en.tsv", "Note.Upper\tA text.\n" },
        { "en.tsv", "note.width\t%5s wide\n" },
        { "en.tsv", "note.empty\t\n" },
        { "en.tsv", "note.nop\tagain\n" },
        { "languages.tsv", "xx\tNowhere\tltr\n" },
        { "languages.tsv", "de\tDeutsch\tltr\n" },
        { "languages.tsv", "yy\tSomewhere\tup\n" },
    };
    for (const auto& c : cases) {
        std::string path = m_dir.file(std::string("i18n/") + c.file);
        std::string original = read_file(path);
        append(c.file, c.line);
        RunResult r = generate();
        EXPECT_NE(r.code, 0) << c.file << ": " << c.line;
        EXPECT_NE(r.err.find("error"), std::string::npos) << c.line;
        ASSERT_TRUE(write_file(path, original));
    }
    // More keys in a family than it may hold.
    std::string extra;
    for (int i = 0; i < 30; ++i)
        extra += "need.extra" + std::to_string(i) + "\tText.\n";
    append("en.tsv", extra);
    EXPECT_NE(generate().code, 0);
}

TEST_F(GenI18n, EveryLanguageNeedsItsFile)
{
    fs::remove(m_dir.file("i18n/sw.tsv"));
    RunResult r = generate();
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("sw.tsv"), std::string::npos) << r.err;
}
