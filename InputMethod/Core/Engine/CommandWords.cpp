// Command words and the date, time, weekday and repeat texts they offer.
#include "InputMethod/Core/Database/Database.h"
#include "InputMethod/Core/Engine/DateTimeTexts.h"
#include "InputMethod/Core/Engine/LastCommittedText.h"
#include "InputMethod/Core/Engine/TaviroIMEngine.h"
#include "InputMethod/Core/Settings.h"

namespace taviro {

std::set<std::string> TaviroIMEngine::commandWords() const {
    const auto s = settings();
    std::set<std::string> words;
    if (s->sjrqxq) words.insert({"sj", "rq", "xq"});
    if (s->zRepeat) words.insert("z");
    return words;
}

std::vector<CodeTable> TaviroIMEngine::dateTimeCandidates(const std::string& buffer) const {
    std::vector<CodeTable> out;
    if (buffer == "z") {
        const std::string last = lastCommittedText();
        if (!last.empty()) out.emplace_back("", last);
        return out;
    }
    if (buffer != "sj" && buffer != "rq" && buffer != "xq") return out;
    const auto now = options_.clock ? options_.clock() : std::chrono::system_clock::now();
    for (auto& text : dateTimeTexts(buffer, now, options_.dateLocale, options_.dateTimeZone))
        out.emplace_back("", std::move(text));
    return out;
}

} // namespace taviro
