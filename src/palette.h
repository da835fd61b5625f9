#pragma once
// The theme: 31 named colours for the dark and the light look. Every painter
// takes the palette by const reference and picks colours by name.
#include "gfx.h"

namespace syntax {
enum class Kind;
}

struct Palette {
    bool dark = false;
    Rgba bg, panel, panel2, header, border;
    Rgba text, dim, faint;
    Rgba accent, accent_text;
    Rgba select, select_dim, hover, caret, line_hl;
    Rgba err, warn, ok, pc_bg, bp;
    Rgba s_comment, s_string, s_number, s_register, s_mnemonic, s_directive, s_label, s_macro;
    Rgba changed, zero, addr;

    // The dark or the light theme, every colour set.
    static Palette make(bool dark);
    // The colour of a token class of the NASM colouring; plain text is text.
    const Rgba& syntax_colour(syntax::Kind k) const;
};
