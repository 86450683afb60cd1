#pragma once
// Double-pinyin key layouts as published (every two-key code with the
// syllable it types) and the scheme files made from them.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::resgen {

// One layout: (code, syllable code) in the order the source lists them.
struct DoublePinyinLayout {
    std::vector<std::pair<std::string, int>> codes;
};

// A Rime ".prism.txt" file: "code<TAB>spelling<TAB>...". Spellings outside the
// pinyin model (biang ...) are skipped. std::nullopt when nothing is left.
std::optional<DoublePinyinLayout> layoutFromPrism(std::string_view text);

// One section of an fcitx "sp.dat" file (its "方案名称" value): initials and
// finals not listed are typed by their own letter; zero-initial syllables by
// the zero-initial key followed by the final's key. Every syllable of the
// model whose final has a key gets its code. std::nullopt for no such section.
std::optional<DoublePinyinLayout> layoutFromSpDat(std::string_view text, std::string_view schemeName);

// The three sections of a scheme file, and for every syllable the code that
// the layout's rules give it first.
struct DoublePinyinScheme {
    std::map<std::string, std::string> special;
    std::map<std::string, std::string> sheng;
    std::map<std::string, std::string> yun;
    std::map<int, std::string> codeOf;
};

// "Sheng" gets for each initial the key most of its syllables use, "Yun" for
// each final likewise (all keys that tie); every code of the layout that these
// two do not reach (zero-initial syllables, alternative spellings) goes into
// "Special" with all the syllables the layout gives that code.
DoublePinyinScheme schemeFromLayout(const DoublePinyinLayout& layout);

// The syllables a two-key code gives through the scheme's tables, the way the
// input method reads them: "Special" first, else every initial of the first
// key with every final of the second.
std::vector<int> syllablesForCode(const DoublePinyinScheme& scheme, std::string_view code);

// The scheme file's dictionary: "Version" "2.0" and the three sections.
std::map<std::string, std::map<std::string, std::string>> schemeSections(const DoublePinyinScheme& scheme);

} // namespace taviro::resgen
