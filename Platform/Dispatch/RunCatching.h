#pragma once
#include <cstdio>
#include <exception>

namespace plat {

// Runs one block or task of a queue. An exception it throws stops here and is
// logged on stderr as "<source>[ <label>]: a <noun> threw[: <what>]".
template <typename Fn>
void runCatching(Fn& fn, const char* source, const char* noun, const char* label = nullptr) {
    const char* gap = label ? " " : "";
    if (!label) label = "";
    try {
        fn();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s%s%s: a %s threw: %s\n", source, gap, label, noun, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s%s%s: a %s threw\n", source, gap, label, noun);
    }
}

} // namespace plat
