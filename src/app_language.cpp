// The Language dialog: the 83 languages and the system's choice in a grid,
// filtered by code, native name or English name as the user types.
#include "app.h"

#include "l10n.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

struct English {
    const char* code;
    const char* name;
};

const English kEnglish[] = {
    { "af", "Afrikaans" }, { "am", "Amharic" }, { "ar", "Arabic" }, { "az", "Azerbaijani" },
    { "be", "Belarusian" }, { "bg", "Bulgarian" }, { "bn", "Bengali" }, { "bs", "Bosnian" },
    { "ca", "Catalan" }, { "cs", "Czech" }, { "da", "Danish" }, { "de", "German" },
    { "el", "Greek" }, { "en", "English" }, { "es", "Spanish" }, { "et", "Estonian" },
    { "eu", "Basque" }, { "fa", "Persian Farsi" }, { "fi", "Finnish" }, { "fr", "French" },
    { "gl", "Galician" }, { "gu", "Gujarati" }, { "ha", "Hausa" }, { "he", "Hebrew" },
    { "hi", "Hindi" }, { "hr", "Croatian" }, { "hu", "Hungarian" }, { "hy", "Armenian" },
    { "id", "Indonesian" }, { "ig", "Igbo" }, { "is", "Icelandic" }, { "it", "Italian" },
    { "ja", "Japanese" }, { "ka", "Georgian" }, { "kk", "Kazakh" }, { "km", "Khmer" },
    { "kn", "Kannada" }, { "ko", "Korean" }, { "ku", "Kurdish" }, { "ky", "Kyrgyz" },
    { "lo", "Lao" }, { "lt", "Lithuanian" }, { "lv", "Latvian" }, { "mg", "Malagasy" },
    { "mk", "Macedonian" }, { "ml", "Malayalam" }, { "mn", "Mongolian" }, { "mr", "Marathi" },
    { "ms", "Malay" }, { "my", "Burmese" }, { "nb", "Norwegian Bokmal" }, { "ne", "Nepali" },
    { "nl", "Dutch" }, { "pa", "Punjabi" }, { "pl", "Polish" }, { "ps", "Pashto" },
    { "pt", "Portuguese" }, { "ro", "Romanian" }, { "ru", "Russian" }, { "rw", "Kinyarwanda" },
    { "si", "Sinhala" }, { "sk", "Slovak" }, { "sl", "Slovenian" }, { "so", "Somali" },
    { "sq", "Albanian" }, { "sr", "Serbian" }, { "sv", "Swedish" }, { "sw", "Swahili" },
    { "ta", "Tamil" }, { "te", "Telugu" }, { "tg", "Tajik" }, { "th", "Thai" },
    { "tk", "Turkmen" }, { "tl", "Tagalog Filipino" }, { "tr", "Turkish" }, { "uk", "Ukrainian" },
    { "ur", "Urdu" }, { "uz", "Uzbek" }, { "vi", "Vietnamese" }, { "yo", "Yoruba" },
    { "zh", "Chinese Simplified" }, { "zh_TW", "Chinese Traditional Taiwan" }, { "zu", "Zulu" },
};

std::string english_name(const std::string& code)
{
    for (const English& e : kEnglish)
        if (code == e.code)
            return e.name;
    return "";
}

// Case is folded for ASCII letters only: the bytes of other characters are
// compared as they are, whatever the locale thinks of them.
std::string fold(std::string s)
{
    for (char& c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z')
            c = char(u - 'A' + 'a');
    }
    return s;
}

bool begins(const std::string& s, const std::string& q)
{
    return s.compare(0, q.size(), q) == 0;
}

bool word_begins(const std::string& s, const std::string& q)
{
    return s.find(" " + q) != std::string::npos;
}

bool contains(const std::string& s, const std::string& q)
{
    return s.find(q) != std::string::npos;
}

} // namespace

void App::cmd_language()
{
    if (m_modal == Modal::Language)
        return;
    show_modal(Modal::Language);
}

void App::lang_opened()
{
    m_lang_scroll = 0;
    m_lang_filter.set("");
    m_lang_filter.mono = false;
    m_lang_sel = 0;
    std::vector<int> list = lang_filtered();
    std::vector<L10n::LanguageInfo> langs = L10n::available();
    for (size_t k = 0; k < list.size(); ++k) {
        int i = list[k];
        bool current = i < 0 ? m_settings.language == "auto" : langs[size_t(i)].code == m_settings.language;
        if (current) {
            m_lang_sel = int(k);
            break;
        }
    }
    m_lang_center = true;
    m_dirty = true;
}

std::vector<int> App::lang_filtered() const
{
    std::string q = fold(m_lang_filter.text);
    std::vector<int> out;
    if (q.empty() || contains(fold(L10n::tr("lang.auto")), q))
        out.push_back(-1);
    std::vector<L10n::LanguageInfo> langs = L10n::available();
    std::vector<std::pair<int, int>> ranked; // rank, index
    for (size_t i = 0; i < langs.size(); ++i) {
        std::string c = fold(langs[i].code), n = fold(langs[i].native_name), e = fold(english_name(langs[i].code));
        int rank = 0;
        if (q.empty())
            rank = 0;
        else if (c == q)
            rank = 1;
        else if (begins(n, q) || begins(e, q) || begins(c, q))
            rank = 2;
        else if (word_begins(e, q) || word_begins(n, q))
            rank = 3;
        else if (contains(n, q) || contains(e, q))
            rank = 4;
        else
            continue;
        ranked.emplace_back(rank, int(i));
    }
    std::stable_sort(ranked.begin(), ranked.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return strcmp(english_name(langs[size_t(a.second)].code).c_str(),
                      english_name(langs[size_t(b.second)].code).c_str()) < 0;
    });
    for (const auto& r : ranked)
        out.push_back(r.second);
    return out;
}

bool App::lang_key(const SDL_Keysym& k)
{
    int cols = std::max(1, m_lang_cols);
    int count = int(lang_filtered().size());
    int last = std::max(0, count - 1);
    bool has_text = !m_lang_filter.text.empty();
    switch (k.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (m_lang_sel >= 0 && m_lang_sel < count) {
            bool back = m_lang_back;
            pick_language(lang_filtered()[size_t(m_lang_sel)]);
            if (back)
                cmd_settings();
        }
        return true;
    case SDLK_UP: m_lang_sel = std::max(0, m_lang_sel - cols); break;
    case SDLK_DOWN: m_lang_sel = std::min(last, m_lang_sel + cols); break;
    case SDLK_LEFT:
        if (has_text && m_lang_filter.caret > 0)
            m_lang_filter.key(k, false);
        else
            m_lang_sel = std::max(0, m_lang_sel - 1);
        break;
    case SDLK_RIGHT:
        if (has_text && m_lang_filter.caret < int(m_lang_filter.text.size()))
            m_lang_filter.key(k, false);
        else
            m_lang_sel = std::min(last, m_lang_sel + 1);
        break;
    case SDLK_PAGEUP: m_lang_sel = std::max(0, m_lang_sel - 6 * cols); break;
    case SDLK_PAGEDOWN: m_lang_sel = std::min(last, m_lang_sel + 6 * cols); break;
    default: {
        // A key that leaves the filter as it was (Shift, Ctrl, Home) keeps
        // the highlight where it is.
        std::string before = m_lang_filter.text;
        m_lang_filter.key(k, false);
        if (m_lang_filter.text != before) {
            m_lang_sel = 0;
            m_lang_scroll = 0;
        }
        return true;
    }
    }
    m_lang_center = true;
    return true;
}

bool App::lang_text(const char* utf8)
{
    std::string before = m_lang_filter.text;
    m_lang_filter.input(utf8);
    if (m_lang_filter.text != before) {
        m_lang_sel = 0;
        m_lang_scroll = 0;
    }
    return true;
}

bool App::lang_click(const Hit& h)
{
    bool back = m_lang_back;
    if (h.id == "lang") {
        pick_language(h.n);
    } else if (h.id == "dlg_cancel") {
        close_modal();
    } else {
        return h.id == "lang_filter";
    }
    if (back)
        cmd_settings();
    return true;
}

void App::lang_escape()
{
    if (!m_lang_filter.text.empty()) {
        m_lang_filter.set("");
        m_dirty = true;
        return;
    }
    bool back = m_lang_back;
    close_modal();
    if (back)
        cmd_settings();
}

void App::lang_wheel(double dy)
{
    m_lang_scroll = std::max(0, m_lang_scroll - int(std::lround(dy)));
}

void App::pick_language(int i)
{
    std::vector<L10n::LanguageInfo> langs = L10n::available();
    if (i < 0) {
        m_settings.language = "auto";
        L10n::setLanguage("auto");
    } else if (size_t(i) < langs.size()) {
        m_settings.language = langs[size_t(i)].code;
        L10n::setLanguage(m_settings.language);
    }
    L10n::clearFallback();
    if (m_status_again)
        m_status = m_status_again();
    queue_save();
    close_modal();
}

void App::paint_language(cairo_t* cr, double x, double y, double w, double h)
{
    const gfx::Font name_font{ 13.5, false, false }, detail_font{ 11, false, false };
    gfx::text(cr, L10n::tr("settings.language"), x + 24, y + 20, m_pal.text, gfx::Font{ 16, true, false },
              gfx::Align::Left, w - 48);

    double fy = y + 54;
    gfx::rounded(cr, x + 24, fy, w - 48, 34, 7);
    gfx::set(cr, m_pal.bg);
    cairo_fill_preserve(cr);
    gfx::set(cr, m_pal.accent);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    gfx::icon(cr, gfx::Icon::Search, x + 44, fy + 17, 7, m_pal.dim);
    if (m_lang_filter.text.empty())
        gfx::text(cr, "Deutsch, English, Français, 中文, de, en …", x + 62, fy + 8, m_pal.faint,
                  gfx::Font{ 13, false, false }, gfx::Align::Left, w - 110);
    m_lang_filter.paint(cr, x + 60, fy, w - 100, 34, m_pal, 13.5, true, m_caret_on, "", nullptr);
    hit(x + 24, fy, w - 48, 34, "lang_filter", 0, "");

    std::vector<int> list = lang_filtered();
    std::vector<L10n::LanguageInfo> langs = L10n::available();
    int count = int(list.size());
    double gx = x + 20, gy = fy + 48, gw = w - 40, gh = (y + h - 64) - gy;
    int cols = std::max(1, int(std::floor(gw / 210)));
    m_lang_cols = cols;
    double cell_w = gw / cols, cell_h = 52;
    int rows = (count + cols - 1) / cols;
    int vis = std::max(1, int(std::floor(gh / cell_h)));

    m_lang_sel = std::clamp(m_lang_sel, 0, std::max(0, count - 1));
    if (m_lang_center) {
        m_lang_center = false;
        int r = m_lang_sel / cols;
        if (r < m_lang_scroll)
            m_lang_scroll = r;
        else if (r >= m_lang_scroll + vis)
            m_lang_scroll = r - vis + 1;
    }
    m_lang_scroll = std::clamp(m_lang_scroll, 0, std::max(0, rows - vis));

    cairo_save(cr);
    cairo_rectangle(cr, gx, gy, gw, std::max(0.0, gh));
    cairo_clip(cr);
    size_t first_hit = m_hits.size();
    for (int k = m_lang_scroll * cols; k < count; ++k) {
        int row = k / cols - m_lang_scroll;
        if (row > vis)
            break;
        int i = list[size_t(k)];
        double cx = gx + (k % cols) * cell_w, cy = gy + row * cell_h;
        bool current = i < 0 ? m_settings.language == "auto" : langs[size_t(i)].code == m_settings.language;
        bool selected = k == m_lang_sel;
        bool hovered = m_hover == "lang#" + std::to_string(i);
        if (current || selected || hovered) {
            gfx::rounded(cr, cx + 3, cy + 3, cell_w - 6, 46, 7);
            gfx::set(cr, selected ? m_pal.select : hovered ? m_pal.hover : m_pal.panel2);
            cairo_fill(cr);
            if (current) {
                gfx::rounded(cr, cx + 3.5, cy + 3.5, cell_w - 7, 45, 7);
                gfx::set(cr, m_pal.accent);
                cairo_set_line_width(cr, 1.5);
                cairo_stroke(cr);
            }
        }
        std::string first = i < 0 ? L10n::tr("lang.auto") : langs[size_t(i)].native_name;
        std::string second = i < 0 ? "auto" : english_name(langs[size_t(i)].code) + " · " + langs[size_t(i)].code;
        gfx::text(cr, first, cx + 14, cy + 6, m_pal.text, name_font, gfx::Align::Left, cell_w - 24);
        gfx::text(cr, second, cx + 14, cy + 30, m_pal.faint, detail_font, gfx::Align::Left, cell_w - 24);
        hit(cx + 3, cy + 3, cell_w - 6, 46, "lang", i, "");
    }
    cairo_restore(cr);
    // The partly shown row below the grid is not clickable outside it.
    auto outside = [&](const Hit& t) { return t.y >= gy + gh; };
    m_hits.erase(std::remove_if(m_hits.begin() + long(first_hit), m_hits.end(), outside), m_hits.end());
    if (count == 0)
        gfx::text(cr, L10n::tr("find.none"), gx + 10, gy + 10, m_pal.faint, name_font);

    if (rows > vis) {
        double thumb = std::max(24.0, vis * gh / rows);
        double ty = gy + double(m_lang_scroll) / std::max(1, rows - vis) * (gh - thumb);
        Rgba c = m_pal.faint;
        c.a *= 0.5;
        gfx::rounded(cr, x + w - 14, ty, 5, thumb, 2.5);
        gfx::set(cr, c);
        cairo_fill(cr);
    }
    button(cr, x + w - 124, y + h - 52, 100, 32, L10n::tr("btn.close"), "dlg_cancel", true, false, nullptr, "");
}
