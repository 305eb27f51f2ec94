// Thread-sanitizer suppressions for the UI tests and the hosts they start: Pango hands font
// matching to a fontconfig thread of its own and synchronises with it through GLib, which the
// sanitizer does not see, so it reports races inside those uninstrumented libraries.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so.1\n"
           "race:libfontconfig.so.1\n"
           "race:libpango-1.0.so.0\n"
           "race:libpangoft2-1.0.so.0\n";
}
