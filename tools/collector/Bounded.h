// Text made from what clients sent, bounded before it reaches a page, a log line or a
// terminal: clipped values, a size-limited JSON preview that walks the value without
// recursion, and control characters written as escapes.
#pragma once

#include "Store.h"

#include <cstddef>
#include <string>

namespace collector {

// s cut to at most n bytes on a UTF-8 character boundary, with "…" when cut.
std::string clipText(const std::string& s, std::size_t n);

// JSON text of the value, at most about `limit` bytes ("…" marks the cut); pretty indents
// by depth (the indent stops growing after 32 levels). Iterative, so any depth is safe.
std::string previewJson(const Json& value, std::size_t limit, bool pretty = false);

// A string as it is, anything else as its JSON text; clipped to n bytes either way.
std::string valueText(const Json& value, std::size_t n);

// Control characters (C0, DEL, C1) as "\n", "\t" or "\xNN", so that a line stays one line and
// no escape sequence reaches a terminal.
std::string escapeControl(const std::string& s);

}  // namespace collector
