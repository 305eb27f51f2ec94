// Finds the user-interface library (libquillon-ui) on demand, so that a host that never opens
// the feedback screens never maps it (nor Cairo, Pango, SDL2, giflib or libjpeg).
#pragma once

#pragma GCC visibility push(default)

namespace platform::ui {

// The UI library's file name as the loader opens it.
inline constexpr const char* kToolkitLibraryName = "libquillon-ui.so.2";

// The address of `name` (an extern "C" symbol of the UI library). When the library is
// already in the process (linked by the host, or linked statically) it is found there;
// otherwise the library is opened from the directory libquillon was loaded from, then from
// the normal search path. Null, with one console line, when it cannot be found or opened.
// A host that carries libquillon statically must link the UI library statically too: opening
// the shared one would bring a second copy of libquillon (and of its main run loop), so the
// loader refuses that.
void* loadToolkitSymbol(const char* name);

}  // namespace platform::ui

#pragma GCC visibility pop
