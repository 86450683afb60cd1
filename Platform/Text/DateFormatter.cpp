#include "Platform/Text/DateFormatter.h"

#include "Platform/Foundation/Log.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <mutex>

namespace plat {

namespace {

icu::Locale localeFrom(std::string_view name)
{
    if (name.empty())
        return icu::Locale::getDefault();
    const std::string text(name);
    if (text.find('-') != std::string::npos) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale locale = icu::Locale::forLanguageTag(text, status);
        if (U_SUCCESS(status))
            return locale;
    }
    return icu::Locale(text.c_str());
}

icu::TimeZone* timeZoneFrom(std::string_view id)
{
    if (!id.empty()) {
        icu::TimeZone* zone = icu::TimeZone::createTimeZone(
            icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), static_cast<int32_t>(id.size()))));
        if (zone && *zone != icu::TimeZone::getUnknown())
            return zone;
        delete zone;
        log("Unknown time zone " + std::string(id) + ", using the system's");
    }
    return icu::TimeZone::createDefault();
}

UDate udateFrom(DateFormatter::Moment moment)
{
    using namespace std::chrono;
    return static_cast<UDate>(duration_cast<milliseconds>(moment.time_since_epoch()).count());
}

} // namespace

struct DateFormatter::Impl {
    std::mutex mutex;  // ICU formatters and calendars are not safe to share unguarded
    std::unique_ptr<icu::SimpleDateFormat> format;
    std::unique_ptr<icu::Calendar> calendar;
};

DateFormatter::DateFormatter(std::string_view locale, std::string_view timeZone)
    : impl_(std::make_unique<Impl>())
{
    const icu::Locale loc = localeFrom(locale);
    UErrorCode status = U_ZERO_ERROR;
    auto calendar = std::make_unique<icu::GregorianCalendar>(timeZoneFrom(timeZone), loc, status);
    if (U_FAILURE(status)) {
        log(std::string("Gregorian calendar unavailable: ") + u_errorName(status));
        return;
    }
    status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"yyyy"), loc, status);
    if (U_FAILURE(status)) {
        log(std::string("Date formatter unavailable: ") + u_errorName(status));
        return;
    }
    format->setCalendar(*calendar);  // copies it
    impl_->format = std::move(format);
    impl_->calendar = std::move(calendar);
}

DateFormatter::~DateFormatter() = default;

std::string DateFormatter::format(Moment moment, std::string_view pattern) const
{
    std::lock_guard lock(impl_->mutex);
    if (!impl_->format)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    impl_->format->applyPattern(
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size()))));
    icu::UnicodeString text;
    icu::FieldPosition position;
    impl_->format->format(udateFrom(moment), text, position, status);
    if (U_FAILURE(status))
        return {};
    std::string out;
    text.toUTF8String(out);
    return out;
}

int DateFormatter::weekday(Moment moment) const
{
    std::lock_guard lock(impl_->mutex);
    if (!impl_->calendar)
        return 0;
    UErrorCode status = U_ZERO_ERROR;
    impl_->calendar->setTime(udateFrom(moment), status);
    const int32_t day = impl_->calendar->get(UCAL_DAY_OF_WEEK, status);
    return U_SUCCESS(status) ? day : 0;
}

std::string DateFormatter::timeZoneId() const
{
    std::lock_guard lock(impl_->mutex);
    if (!impl_->calendar)
        return {};
    icu::UnicodeString id;
    impl_->calendar->getTimeZone().getID(id);
    std::string out;
    id.toUTF8String(out);
    return out;
}

} // namespace plat
