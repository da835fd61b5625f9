// The window in other languages: switching at run time through the Language
// dialog repaints every menu in the new language, and the main screens are
// painted in long, right-to-left and non-Latin languages to look at.
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "paths.h"
#include "ref_probe.h"
#include "set_probe.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

using namespace testutil;

namespace {

int language_index(const std::string& code)
{
    auto langs = L10n::available();
    for (size_t i = 0; i < langs.size(); ++i)
        if (langs[i].code == code)
            return int(i);
    return -1;
}

// Picks a language the way a user does: Settings, Language, a click on it.
void pick(App& app, const std::string& code)
{
    SetProbe::cmd_language(app);
    SetProbe::filter(app).set(code);
    ASSERT_TRUE(AppProbe::click(app, "lang", language_index(code))) << code;
    ASSERT_EQ(AppProbe::modal(app), App::Modal::None);
}

// Every row label of the seven menus, in the language now chosen.
std::vector<std::string> menu_labels(App& app)
{
    std::vector<std::string> labels;
    for (int m = 0; m < 7; ++m) {
        AppProbe::open_menu(app, m);
        for (const auto& row : AppProbe::menu_list(app))
            if (!row.separator)
                labels.push_back(row.label);
        AppProbe::open_menu(app, -1);
    }
    return labels;
}

class AppLanguages : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("HOME", m_home.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_home.file("config").c_str(), 1);
        L10n::setLanguage("en");
    }
    void TearDown() override { L10n::setLanguage("en"); }
    TempDir m_home;
};

} // namespace

TEST_F(AppLanguages, SwitchingAtRunTimeRepaintsEveryMenuInTheNewLanguage)
{
    App app;
    AppProbe::add_source(app, m_home.file("a.asm"), "start:\n  mov eax, 1\n");
    AppProbe::settings(app).recent.clear();
    AppProbe::settings(app).recent_bin.clear();
    AppProbe::paint(app, 1280, 800);
    const std::vector<std::string> english = menu_labels(app);
    ASSERT_GT(english.size(), 50u);
    AppProbe::key(app, SDLK_s, KMOD_CTRL);
    ASSERT_EQ(AppProbe::status(app), L10n::tr("file.saved", "a.asm"));

    const std::regex key_like("^[a-z_]+\\.[a-z0-9_.]+$");
    for (const char* code : { "de", "fi", "ru", "ar", "ja", "hi" }) {
        SCOPED_TRACE(code);
        pick(app, code);
        EXPECT_EQ(L10n::currentLanguage(), code);
        EXPECT_EQ(AppProbe::settings(app).language, code);
        EXPECT_EQ(L10n::isRTL(), std::string(code) == "ar");
        EXPECT_EQ(AppProbe::status(app), L10n::tr("file.saved", "a.asm")) << "the status line follows";
        AppProbe::paint(app, 1280, 800);
        std::vector<std::string> labels = menu_labels(app);
        ASSERT_EQ(labels.size(), english.size()) << "the same rows in every language";
        size_t same = 0;
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_FALSE(labels[i].empty());
            EXPECT_FALSE(std::regex_match(labels[i], key_like)) << "a text is missing: " << labels[i];
            same += labels[i] == english[i];
        }
        // Names (NASM, ELF64, BIN) stay; the rest is in the new language.
        EXPECT_LT(same, labels.size() / 8) << same << " of " << labels.size() << " rows are still English";
    }

    // "System" goes back to the desktop's language, here English.
    SetProbe::cmd_language(app);
    SetProbe::filter(app).set(L10n::tr("lang.auto"));
    ASSERT_TRUE(AppProbe::click(app, "lang", -1));
    setenv("LANGUAGE", "en", 1);
    L10n::setLanguage("auto");
    EXPECT_EQ(AppProbe::settings(app).language, "auto");
    EXPECT_EQ(menu_labels(app), english);
    unsetenv("LANGUAGE");
}

// Messages from other parts of the window change language with it too, and
// keep the values they name.
TEST_F(AppLanguages, StatusMessagesAreMadeAgainInTheNewLanguage)
{
    const std::string raw = m_home.file("boot.bin");
    ASSERT_TRUE(write_file(raw, std::string(64, '\x90')));
    // Recovery cannot be written where a plain file stands in its folder's way.
    const std::string config = paths::config_dir();
    const bool had_config = std::filesystem::exists(config);
    std::string named; // the value a message names, set when it is said
    struct Case {
        const char* source;
        std::function<void(App&)> say;
        std::function<std::string()> text; // in the language now chosen
    };
    const Case cases[] = {
        { "binary view",
          [&](App& app) {
              ASSERT_TRUE(AppProbe::load_binary(app, raw));
              AppProbe::binary(app)->bv.goto_addr(0xdead0000);
          },
          [] { return L10n::tr("bin.not_mapped"); } },
        { "recovery failure",
          [&](App& app) {
              std::filesystem::create_directories(config);
              ASSERT_TRUE(write_file(config + "/recover", "in the way"));
              Doc* d = AppProbe::add_source(app, "", "x\n");
              d->ed.set_modified(true);
              named = AppProbe::recovery_name(app, d);
              AppProbe::autosave(app);
          },
          [&] { return L10n::tr("rec.write_failed", named); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        App app;
        pick(app, "en");
        c.say(app);
        const std::string english = AppProbe::status(app);
        ASSERT_EQ(english, c.text());
        pick(app, "de");
        EXPECT_EQ(AppProbe::status(app), c.text());
        EXPECT_NE(AppProbe::status(app), english);
        pick(app, "en");
    }
    std::filesystem::remove(config + "/recover");
    if (!had_config)
        std::filesystem::remove_all(config);
}

// Pictures of the main window with a menu open, the Settings dialog and the
// crash dialog in languages with long words, right-to-left text and other
// scripts, to look at (QX_TEST_SHOTS keeps them); each must paint and
// record its buttons.
TEST_F(AppLanguages, MainScreensPaintInLongRightToLeftAndOtherScripts)
{
    for (const char* code : { "de", "fi", "ru", "ar", "ja", "hi" }) {
        SCOPED_TRACE(code);
        L10n::setLanguage(code);
        App app;
        AppProbe::add_source(app, m_home.file("a.asm"), "; example\nstart:\n  mov eax, 1\n  ret\n");
        AppProbe::settings(app).recent.clear();
        AppProbe::settings(app).recent_bin.clear();
        std::string why;

        AppProbe::open_menu(app, 3);
        AppProbe::paint(app, 1280, 800);
        EXPECT_FALSE(AppProbe::hits_of(app, "menu_item").empty());
        EXPECT_TRUE(write_picture(AppProbe::surface(app), m_home.file(std::string("main-") + code + ".png"), &why))
            << why;
        AppProbe::open_menu(app, -1);

        SetProbe::cmd_settings(app);
        AppProbe::paint(app, 1280, 800);
        EXPECT_FALSE(AppProbe::hits_of(app, "set_lang").empty());
        EXPECT_TRUE(write_picture(AppProbe::surface(app), m_home.file(std::string("settings-") + code + ".png"), &why))
            << why;
        AppProbe::close_modal(app);

        AppProbe::show_modal(app, App::Modal::Crash);
        AppProbe::paint(app, 1280, 800);
        EXPECT_FALSE(AppProbe::hits_of(app, "crash_send").empty());
        EXPECT_TRUE(write_picture(AppProbe::surface(app), m_home.file(std::string("crash-") + code + ".png"), &why))
            << why;
    }
}

// The reference in a translated language, a right-to-left one and a CJK one:
// the detail page of an instruction and a topic with code lines, painted with
// its rows and chips, to look at.
TEST_F(AppLanguages, ReferencePaintsInTranslatedRightToLeftAndCjkLanguages)
{
    for (const char* code : { "de", "ar", "ja" }) {
        SCOPED_TRACE(code);
        L10n::setLanguage(code);
        App app;
        AppProbe::add_source(app, m_home.file("a.asm"), "mov eax, 1\n");
        std::string why;
        for (const char* topic : { "stack", "" }) {
            RefProbe::open(app, *topic ? "" : "mov", topic);
            AppProbe::paint(app, 1280, 800);
            EXPECT_EQ(AppProbe::modal(app), App::Modal::Reference);
            EXPECT_FALSE(AppProbe::hits_of(app, "ref_cat").empty());
            EXPECT_FALSE(AppProbe::hits_of(app, "ref_row").empty());
            std::string name = std::string("reference-") + code + (*topic ? "-topic" : "-mov") + ".png";
            EXPECT_TRUE(write_picture(AppProbe::surface(app), m_home.file(name), &why)) << why;
            AppProbe::close_modal(app);
        }
    }
}
