#pragma once
#include "Platform/Foundation/Utf8.h" // isValidUtf8

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// What became of reading or decoding a text file.
enum class TextFileStatus {
    Ok,
    Missing,            // no regular file at the path
    Unreadable,         // it could not be read
    TooLarge,           // larger than the caller's limit; nothing was read
    Undecodable,        // not text in an encoding that could be determined
    UnsupportedEncoding // text in another language's encoding (Japanese, Korean)
};

struct TextFile {
    TextFileStatus status = TextFileStatus::Undecodable;
    std::string text;      // UTF-8, only when ok
    std::string encoding;  // the encoding the bytes were taken as, or were found to be
};

// Decodes bytes to UTF-8. Order of decisions:
//   1. a byte-order mark (UTF-8, UTF-16 LE/BE, UTF-32 LE/BE) decides; the mark is dropped;
//   2. bytes that are valid UTF-8 are taken as they are;
//   3. otherwise the encoding is judged on the whole text: UTF-16 without a mark, or
//      GB18030 (GB2312, GBK) or Big5, whichever converts without a single invalid
//      sequence and reads more like Chinese. Private-use characters are accepted (user
//      fonts and some table symbols map there) but count against an encoding.
//      Text that the detector and its own characters show to be Japanese (kana) or
//      Korean (Hangul) is refused as UnsupportedEncoding.
// The text never holds a NUL character.
TextFile decodeTextFile(std::string_view bytes);

// Reads and decodes a whole file; a file larger than maxBytes is refused by its size,
// before it is read.
TextFile readTextFile(const std::filesystem::path& path, std::uintmax_t maxBytes);

// The text of decodeTextFile, or none.
std::optional<std::string> decodeText(std::string_view bytes);
// The text of readTextFile without a size limit, or none.
std::optional<std::string> readTextFile(const std::filesystem::path& path);

// Splits UTF-8 text into lines. LF, CR, CR LF (one terminator), VT, FF, NEL, LS and PS
// end a line; the terminators are dropped. Empty lines count; a terminator at the very
// end adds no line; empty text has no lines. A UTF-8 byte-order mark at the start is
// skipped so it never reaches the first line. The views point into the text.
std::vector<std::string_view> splitLines(std::string_view text);

// Splits one line at every occurrence of the separator; empty fields are kept, so
// "a\t" gives {"a", ""} and "" gives {""}.
std::vector<std::string_view> splitFields(std::string_view line, char separator = '\t');

} // namespace plat
