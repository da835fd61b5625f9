#include "palette.h"

#include "syntax.h"

Palette Palette::make(bool dark)
{
    Palette p;
    p.dark = dark;
    // Each pair: dark theme first, light second.
    auto pick = [dark](const char* d, double da, const char* l, double la) {
        return dark ? hex(d, da) : hex(l, la);
    };
    p.bg = pick("1e1f24", 1, "f5f6f8", 1);
    p.panel = pick("25272d", 1, "ffffff", 1);
    p.panel2 = pick("2c2f36", 1, "eef0f3", 1);
    p.header = pick("30333b", 1, "e6e9ee", 1);
    p.border = pick("3c4049", 1, "d3d7de", 1);
    p.text = pick("e3e5ea", 1, "1f2329", 1);
    p.dim = pick("a2a7b2", 1, "5d6470", 1);
    p.faint = pick("6c717c", 1, "98a0ac", 1);
    p.accent = pick("6aa8ff", 1, "2463d6", 1);
    p.accent_text = pick("0e1420", 1, "ffffff", 1);
    p.select = pick("3a5f96", 0.85, "b9d2fb", 0.95);
    p.select_dim = pick("3a5f96", 0.4, "b9d2fb", 0.55);
    p.hover = pick("ffffff", 0.06, "000000", 0.05);
    p.caret = pick("f0f0f0", 1, "111111", 1);
    p.line_hl = pick("ffffff", 0.04, "2463d6", 0.05);
    p.err = pick("ff6b6b", 1, "d0312d", 1);
    p.warn = pick("e8b04a", 1, "b7791f", 1);
    p.ok = pick("6fcf8a", 1, "2f8f4e", 1);
    p.pc_bg = pick("e8c547", 0.22, "f2d34b", 0.4);
    p.bp = pick("e5484d", 1, "d33a3f", 1);
    p.s_comment = pick("7f8794", 1, "7c8591", 1);
    p.s_string = pick("c3e88d", 1, "2f8a3a", 1);
    p.s_number = pick("f78c6c", 1, "b65a1c", 1);
    p.s_register = pick("82aaff", 1, "1d5fbf", 1);
    p.s_mnemonic = pick("c792ea", 1, "7b2fbd", 1);
    p.s_directive = pick("89ddff", 1, "0f7f8f", 1);
    p.s_label = pick("ffcb6b", 1, "9a6a00", 1);
    p.s_macro = pick("ff9cac", 1, "c0306a", 1);
    p.changed = pick("ff9e64", 1, "d2560a", 1);
    p.zero = pick("5d626d", 1, "a9b0ba", 1);
    p.addr = pick("8a90a0", 1, "6f7785", 1);
    return p;
}

const Rgba& Palette::syntax_colour(syntax::Kind k) const
{
    switch (k) {
    case syntax::Kind::Comment: return s_comment;
    case syntax::Kind::String: return s_string;
    case syntax::Kind::Number: return s_number;
    case syntax::Kind::Register: return s_register;
    case syntax::Kind::Mnemonic: return s_mnemonic;
    case syntax::Kind::Directive: return s_directive;
    case syntax::Kind::Label: return s_label;
    case syntax::Kind::Macro: return s_macro;
    case syntax::Kind::Plain: break;
    }
    return text;
}
