// Sanitizer suppressions for the UI tests and the hosts they start, all for uninstrumented
// libraries under the toolkit:
// - Pango hands font matching to a fontconfig thread of its own and synchronises with it
//   through GLib, which the thread sanitizer does not see, so it reports races in them;
// - fontconfig keeps its configuration and caches for the life of the process, and so do
//   SDL's display and D-Bus connections.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so.1\n"
           "race:libfontconfig.so.1\n"
           "race:libpango-1.0.so.0\n"
           "race:libpangoft2-1.0.so.0\n";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so.1\n"
           "leak:libdbus-1.so.3\n"
           "leak:libSDL2-2.0.so.0\n"
           "leak:libX11.so.6\n"
           "leak:GifMakeSavedImage\n"
           "leak:GifMakeMapObject\n";
}
