#include "InputMethod/Core/PhraseTemplate.h"

#include "Platform/Text/ChineseNumbers.h"

#include <chrono>

namespace taviro {

namespace {

constexpr std::string_view kEscape = "{-#-}";

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        out.append(text, start, at - start);
        out.append(to);
        start = at + from.size();
    }
    if (start == 0)
        return;
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

// Placeholders in replacement order: longer ones before their prefixes.
struct Placeholder {
    std::string_view name;
    std::string_view pattern;  // empty for the weekday placeholders
};
constexpr Placeholder kPlaceholders[] = {
    {"#yyyy", "yyyy"}, {"#yy", "yy"}, {"#MM", "MM"}, {"#dd", "dd"}, {"#M", "M"},
    {"#date", "yyyy年M月d日"}, {"#d", "d"}, {"#time", "H:m"},
    {"#hh", "hh"}, {"#HH", "HH"}, {"#mm", "mm"}, {"#ss", "ss"},
    {"#h", "h"}, {"#H", "H"}, {"#m", "m"}, {"#s", "s"},
    {"#E", {}}, {"#e", {}},
};

} // namespace

std::string expandPhraseTemplate(std::string_view text)
{
    return expandPhraseTemplate(text, std::chrono::system_clock::now());
}

std::string expandPhraseTemplate(std::string_view text, plat::DateFormatter::Moment moment,
                                 std::string_view timeZone)
{
    std::string result(text);
    if (result.find('#') == std::string::npos)
        return result;

    const plat::DateFormatter formatter("zh-CN", timeZone);
    const int weekday = formatter.weekday(moment);

    replaceAll(result, "##", kEscape);
    for (const auto& placeholder : kPlaceholders) {
        if (result.find(placeholder.name) == std::string::npos)
            continue;
        std::string value;
        if (placeholder.name == "#E")
            value = plat::weekdayCharacters(weekday);
        else if (placeholder.name == "#e")
            value = weekday > 0 ? std::to_string(weekday) : std::string();
        else
            value = formatter.format(moment, placeholder.pattern);
        replaceAll(result, placeholder.name, value);
    }
    replaceAll(result, kEscape, "#");
    return result;
}

} // namespace taviro
