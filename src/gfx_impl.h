#pragma once
// Internals of the drawing layer shared by its source files and its tests.
#include "gfx.h"

#include <pango/pango.h>

#include <string>

namespace gfx::detail {

// The cached description for a font request; requests whose sizes agree to
// 1/100 pixel share one, built with the size of the first.
PangoFontDescription* desc(const Font& f);

// The font size that makes a text measured at `start` (width `measured`)
// `target` wide. A text that measured next to nothing (no font found) keeps
// the starting size rather than growing without bound.
double fit_size(double start, double measured, double target);

// The direction of a text's first paragraph from its first strong letter,
// ignoring what isolate marks (U+2066 to U+2069) enclose; neutral when it
// has none.
PangoDirection first_strong(const std::string& s);

} // namespace gfx::detail
