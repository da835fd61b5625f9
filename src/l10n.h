#pragma once
// User-interface texts in many languages, looked up by key, with the
// language choice, its start-up guard and a few facts about its script.
#include <cstdint>
#include <string>
#include <vector>

namespace L10n {

struct LanguageInfo {
    std::string code;
    std::string native_name;
    bool rtl = false;
};

// Called once at start: creates the configuration directory and picks the
// language from the desktop's list, without consulting the guard.
void init(const std::string& config_dir);
// Selects a language by code, or by the desktop for "auto" or "".
void setLanguage(const std::string& code);
std::string currentLanguage();

// The text of `key` in the active language (English when missing), with
// printf-style conversions filled from the arguments. An unknown key, or a
// text whose conversions do not fit the arguments, gives the key itself.
std::string tr(const std::string& key);
std::string tr(const std::string& key, const std::string& a);
std::string tr(const std::string& key, int a);
std::string tr(const std::string& key, const std::string& a, int b);
std::string tr(const std::string& key, const std::string& a, const std::string& b);
std::string tr(const std::string& key, const std::string& a, const std::string& b, const std::string& c);
// C-string forms; a null argument stands for the empty text.
std::string tr(const std::string& key, const char* a);
std::string tr(const std::string& key, const char* a, int b);
std::string tr(const std::string& key, const char* a, const char* b);
std::string tr(const std::string& key, const char* a, const char* b, const char* c);
// In a right-to-left language each value a formatting tr() sets into its
// text is wrapped in isolate marks (U+2068 ... U+2069) so it keeps its own
// direction on screen. Texts that leave the screen (files, the log, the
// terminal, the clipboard) pass through plain(), which drops the marks.
std::string plain(std::string text);
// A value set into a painted text by other means than tr(), isolated the
// same way.
std::string isolate(const std::string& value);

enum class Direction { Neutral, LeftToRight, RightToLeft };
// The direction a character gives its paragraph: letters decide, digits,
// punctuation, symbols and combining marks do not.
Direction letterDirection(uint32_t c);
// The direction of the first letter of the first line outside isolates.
Direction firstStrong(const std::string& s);
bool isRTL();
// The active language as a tag for text shaping and font choice ("ta",
// "zh-tw"), so each script is set in the forms its readers expect.
const char* languageTag();
char decimalSeparator();
// "sans-serif" for scripts that need a proportional family, else "monospace".
const char* uiFontFamily();
std::vector<LanguageInfo> available();

// The start-up guard: a language armed by setLanguage that never confirmed
// its start makes the next start of that language fall back to English.
void startupSucceeded();
void cleanExit();
// Re-arms the guard; only plain system calls, so a crash handler may call it.
void onCrash();
bool fallbackActive();
void clearFallback();

// Row of `key` in the sorted key table, or -1.
int keyIndex(const std::string& key);
// The sequence of 's' and 'd' conversions of a format; false when it holds
// any conversion other than %s, %d and %%.
bool conversions(const std::string& format, std::string* signature);

} // namespace L10n
