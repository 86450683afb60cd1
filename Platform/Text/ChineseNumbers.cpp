#include "Platform/Text/ChineseNumbers.h"

#include "Platform/Foundation/Log.h"

#include <unicode/locid.h>
#include <unicode/rbnf.h>
#include <unicode/unistr.h>

#include <memory>
#include <mutex>

namespace plat {

std::string chineseNumber(std::int64_t n)
{
    static std::mutex mutex;
    static std::unique_ptr<icu::RuleBasedNumberFormat> spellOut;
    static bool tried = false;

    std::lock_guard lock(mutex);
    if (!tried) {
        tried = true;
        UErrorCode status = U_ZERO_ERROR;
        spellOut = std::make_unique<icu::RuleBasedNumberFormat>(icu::URBNF_SPELLOUT, icu::Locale("zh_Hans_CN"), status);
        if (U_FAILURE(status)) {
            log(std::string("Chinese spell-out rules unavailable: ") + u_errorName(status));
            spellOut.reset();
        }
    }
    if (!spellOut)
        return {};
    icu::UnicodeString text;
    spellOut->format(static_cast<int64_t>(n), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string weekdayCharacters(int number)
{
    static const char* const characters[] = {"日", "一", "二", "三", "四", "五", "六"};
    if (number < 1 || number > 7)
        return {};
    return characters[number - 1];
}

} // namespace plat
