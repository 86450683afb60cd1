#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace taviro {

// Small text helpers of the engine. Texts are UTF-8; a "character" is one
// code point (every key and every Chinese character the engine handles is one).

// The characters of a text, each as its own string.
std::vector<std::string> utf8Characters(std::string_view text);
// Number of characters.
std::size_t characterCount(std::string_view text);
// The first n characters (the whole text when it is shorter).
std::string characterPrefix(std::string_view text, std::size_t n);
// The text without its first n characters ("" when it is shorter).
std::string dropCharacters(std::string_view text, std::size_t n);
// The last character, "" for an empty text.
std::string lastCharacter(std::string_view text);

// True when some character is an upper-case ASCII letter ("[A-Z]").
bool containsUpperAscii(std::string_view text);
// True when the first character is an upper-case ASCII letter ("^[A-Z]").
bool startsWithUpperAscii(std::string_view text);
// Every word's first letter upper-case and the rest lower-case (ASCII letters;
// a word starts after any character that is not a letter or digit).
std::string capitalized(std::string_view text);

// True when `text` occurs in `string`, by a plain literal search.
bool rangeOfText(std::string_view string, std::string_view text);

// Units of tokenizeChinese.
enum class TokenizerUnit { word, sentence, paragraph };

// The tokens of the whole text in locale "zh_Hans_CN", in order. Word units
// leave out runs of white space and punctuation.
std::vector<std::string> tokenizeChinese(TokenizerUnit unit, std::string_view text);

} // namespace taviro
