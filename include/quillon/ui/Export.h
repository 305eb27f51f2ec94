// Symbol visibility of the toolkit's public classes and functions.
#pragma once

#if defined(__GNUC__)
#define QUILLON_UI_EXPORT __attribute__((visibility("default")))
#else
#define QUILLON_UI_EXPORT
#endif
