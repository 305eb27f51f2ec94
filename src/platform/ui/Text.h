// Pango text layouts shared by drawing and measuring (one font setup for both, so a text
// measured fits where it is drawn).
#pragma once

#include "quillon/ui/GraphicsContext.h"

#include <pango/pangocairo.h>

#include <string>

namespace quillon::ui::text {

// The families tried for the system font, in order (Noto Sans CJK covers Chinese).
inline constexpr const char* kSystemFamilies = "Noto Sans CJK SC,Noto Sans CJK JP,DejaVu Sans,sans-serif";

// A layout of `text` for `context` (null: the measuring context) with the attributes, wrapped
// at `width` (<= 0: no wrapping). The caller unrefs it.
PangoLayout* makeLayout(cairo_t* cr, const std::string& text, const TextAttributes& attributes, double width);
// The layout's logical size in points.
Size layoutSize(PangoLayout* layout);

}  // namespace quillon::ui::text
