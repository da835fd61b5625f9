// The number converter, driven through its field, keys and hits: the rows a
// number gives, the opening rules, copying a row and the hover of one row.
#include "about_probe.h"
#include "app.h"
#include "app_probe.h"
#include "l10n.h"
#include "numconv.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

// The values of the rows as painted (each row's copy hit carries its value).
std::vector<std::string> painted_values(App& app)
{
    AppProbe::paint(app, 1280, 800);
    std::vector<std::string> out;
    for (const Hit& h : AppProbe::hits_of(app, "conv_copy"))
        out.push_back(h.tip);
    return out;
}

void type(App& app, const std::string& text)
{
    AboutProbe::conv(app).set("");
    AppProbe::text_input(app, text.c_str());
}

} // namespace

TEST(AppConvert, RowsOfANumber)
{
    struct Case {
        const char* input;
        std::vector<std::string> values;
        std::vector<int> signed_bits;
    };
    const Case cases[] = {
        { "0x3C", { "0x3C", "60", "60", "60", "60", "60", "0011 1100", "0o74", "'<'", "3C" }, { 8, 16, 32, 64 } },
        // Four hex digits mean two bytes: no 8-bit row.
        { "0x1234", { "0x1234", "4660", "4660", "4660", "4660", "0001 0010 0011 0100", "0o11064", "34 12" }, { 16, 32, 64 } },
        // A negative number means eight bytes: one signed row.
        { "-5",
          { "0xFFFFFFFFFFFFFFFB", "18446744073709551611", "-5",
            "1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1111 1011", "0o1777777777777777777773",
            "FB FF FF FF FF FF FF FF" },
          { 64 } },
        // A low byte that is not printable: no characters row.
        { "0x07", { "0x07", "7", "7", "7", "7", "7", "0000 0111", "0o7", "07" }, { 8, 16, 32, 64 } },
        { "0xFF", { "0xFF", "255", "-1", "255", "255", "255", "1111 1111", "0o377", "FF" }, { 8, 16, 32, 64 } },
    };
    App app;
    AboutProbe::cmd_converter(app);
    for (const Case& c : cases) {
        type(app, c.input);
        EXPECT_EQ(painted_values(app), c.values) << c.input;
        bool valid = false;
        std::vector<int> bits;
        for (const numconv::Row& r : numconv::rows(c.input, &valid))
            for (int b : { 8, 16, 32, 64 })
                if (r.label == L10n::tr("conv.signed") + " " + L10n::tr("conv.bit", b))
                    bits.push_back(b);
        EXPECT_TRUE(valid);
        EXPECT_EQ(bits, c.signed_bits) << c.input;
    }
    // Empty: no rows; not a number: no rows either (a message instead).
    for (const char* text : { "", "zz" }) {
        type(app, text);
        EXPECT_TRUE(painted_values(app).empty()) << text;
    }
}

// Fault mended: " Bit" was English glued into the signed rows' label.
TEST(AppConvert, TheBitWordIsATranslatedText)
{
    EXPECT_NE(L10n::tr("conv.bit", 16), "conv.bit");
    EXPECT_NE(L10n::tr("conv.bit", 16).find("16"), std::string::npos);
    bool valid = false;
    auto rows = numconv::rows("300", &valid);
    ASSERT_TRUE(valid);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[2].label, L10n::tr("conv.signed") + " " + L10n::tr("conv.bit", 16));
}

TEST(AppConvert, OpeningTakesAOneLineSelectionOrKeepsTheField)
{
    App app;
    AboutProbe::cmd_converter(app);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Convert);
    EXPECT_EQ(AboutProbe::conv(app).text, "0x3C") << "an empty field starts with 0x3C";
    EXPECT_TRUE(AboutProbe::conv(app).mono);
    AppProbe::key(app, SDLK_ESCAPE);
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);

    Doc* d = AppProbe::new_doc(app, false);
    AppProbe::activate(app, d);
    d->ed.set_text("mov eax, 0x10\nret\n");
    d->ed.select_range(0, 9, 4);
    AboutProbe::cmd_converter(app);
    EXPECT_EQ(AboutProbe::conv(app).text, "0x10");
    EXPECT_EQ(AboutProbe::conv(app).anchor, 0);
    EXPECT_EQ(AboutProbe::conv(app).caret, 4);
    AppProbe::key(app, SDLK_ESCAPE);

    // A selection over two lines is dropped: the field keeps its text.
    d->ed.move_caret({ 0, 9 }, false);
    d->ed.move_caret({ 1, 2 }, true);
    ASSERT_NE(d->ed.selected_text().find('\n'), std::string::npos);
    AboutProbe::cmd_converter(app);
    EXPECT_EQ(AboutProbe::conv(app).text, "0x10");
}

TEST(AppConvert, KeysTypeIntoTheFieldAndEnterKeepsHistory)
{
    App app;
    AboutProbe::cmd_converter(app);
    AppProbe::text_input(app, "42"); // replaces the selected 0x3C
    EXPECT_EQ(AboutProbe::conv(app).text, "42");
    AppProbe::key(app, SDLK_RETURN);
    EXPECT_EQ(AboutProbe::conv(app).history, std::vector<std::string>{ "42" });
    AppProbe::key(app, SDLK_BACKSPACE);
    EXPECT_EQ(AboutProbe::conv(app).text, "4");
    AppProbe::key(app, SDLK_UP); // walks the history
    EXPECT_EQ(AboutProbe::conv(app).text, "42");
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Convert);
    // Close, and a click on the field does nothing more.
    ASSERT_TRUE(AppProbe::click(app, "conv_field"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::Convert);
    ASSERT_TRUE(AppProbe::click(app, "dlg_cancel"));
    EXPECT_EQ(AppProbe::modal(app), App::Modal::None);
    AboutProbe::cmd_converter(app);
    EXPECT_EQ(AboutProbe::conv(app).text, "42") << "the field keeps its text";
}

TEST(AppConvert, AClickCopiesItsRow)
{
    App app;
    AboutProbe::cmd_converter(app);
    type(app, "0x41");
    auto hits = (AppProbe::paint(app, 1280, 800), AppProbe::hits_of(app, "conv_copy"));
    ASSERT_GE(hits.size(), 8u);
    // Hexadecimal, Decimal, ..., Characters: each click copies its own value.
    for (size_t i : { size_t(0), size_t(1), hits.size() - 2 }) {
        ASSERT_TRUE(AppProbe::click(app, "conv_copy", hits[i].n));
        EXPECT_EQ(AppProbe::status(app), L10n::tr("conv.copied") + ": " + hits[i].tip);
    }
    EXPECT_EQ(hits[hits.size() - 2].tip, "'A'");
}

// Fault mended: every row shared one hover key and lit up whenever its
// value equalled the hovered one, so 60 lit five rows at once.
TEST(AppConvert, OnlyTheRowUnderThePointerLightsUp)
{
    App app;
    AboutProbe::cmd_converter(app);
    type(app, "60");
    AppProbe::paint(app, 1280, 800);
    auto hits = AppProbe::hits_of(app, "conv_copy");
    ASSERT_EQ(hits.size(), 10u);
    for (size_t i = 1; i < 6; ++i)
        ASSERT_EQ(hits[i].tip, "60");
    const Hit& dec = hits[1];
    AppProbe::mouse_move(app, dec.x + dec.w / 2, dec.y + dec.h / 2);
    AppProbe::paint(app, 1280, 800);
    const Palette& pal = AppProbe::palette(app);
    cairo_surface_t* s = AppProbe::surface(app);
    // The hover colour is a tint over the dialog's panel.
    for (size_t i = 0; i < 6; ++i) {
        uint32_t px = testutil::pixel(s, int(hits[i].x + 4), int(hits[i].y + hits[i].h / 2));
        if (i == 1)
            EXPECT_NE(px, testutil::rgb(pal.panel)) << "the hovered row";
        else
            EXPECT_EQ(px, testutil::rgb(pal.panel)) << "row " << i;
    }
}
