#pragma once
#include "Platform/Foundation/Utf8.h" // isValidUtf8

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// Reads a whole text file and returns it as UTF-8, or none when the file cannot
// be read or its encoding cannot be determined. Order of decisions:
//   1. a byte-order mark (UTF-8, UTF-16 LE/BE, UTF-32 LE/BE) decides; the mark is dropped;
//   2. bytes that are valid UTF-8 are taken as they are;
//   3. otherwise the encoding is detected: UTF-16 without a mark, GB18030 (GB2312, GBK)
//      or Big5; the bytes must convert without a single invalid sequence.
// The result never holds a NUL character.
std::optional<std::string> readTextFile(const std::filesystem::path& path);

// The decoding step of readTextFile on bytes already in memory.
std::optional<std::string> decodeText(std::string_view bytes);

// Splits UTF-8 text into lines. LF, CR, CR LF (one terminator), VT, FF, NEL, LS and PS
// end a line; the terminators are dropped. Empty lines count; a terminator at the very
// end adds no line; empty text has no lines. A UTF-8 byte-order mark at the start is
// skipped so it never reaches the first line. The views point into the text.
std::vector<std::string_view> splitLines(std::string_view text);

// Splits one line at every occurrence of the separator; empty fields are kept, so
// "a\t" gives {"a", ""} and "" gives {""}.
std::vector<std::string_view> splitFields(std::string_view line, char separator = '\t');

} // namespace plat
