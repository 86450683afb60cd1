// Under LeakSanitizer: fontconfig keeps its font cache, and libdbus (Qt's
// accessibility bridge on X11) its connection data, to the end of the
// process by design; what they hold then is no leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
