#include "DateText.h"

#include "IcuLocale.h"

#include <map>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

namespace {

enum class Style { time, dateAndTime, hour };

std::unique_ptr<icu::DateFormat> makeFormat(Style style, const icu::Locale &locale)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateFormat> format;
    switch (style) {
    case Style::time: format.reset(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale)); break;
    case Style::dateAndTime:
        format.reset(
            icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort, locale));
        break;
    case Style::hour: {
        // "j" is the locale's preferred hour field with its day-period marker where it uses one.
        const std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(locale, status));
        if (U_FAILURE(status))
            return nullptr;
        const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString(u"j"), status);
        if (U_FAILURE(status))
            return nullptr;
        format = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
        break;
    }
    }
    if (!format || U_FAILURE(status))
        return nullptr;
    // Callers hand over wall-clock time already shifted into the user's zone.
    format->setTimeZone(*icu::TimeZone::getGMT());
    return format;
}

// Building a formatter costs far more than using one, and the chart asks for 24 hours per render.
const icu::DateFormat *cachedFormat(Style style, const QLocale &locale)
{
    thread_local std::map<std::pair<Style, QString>, std::unique_ptr<icu::DateFormat>> formats;
    auto key = std::make_pair(style, locale.bcp47Name());
    auto found = formats.find(key);
    if (found == formats.end())
        found = formats.emplace(std::move(key), makeFormat(style, toIcuLocale(locale))).first;
    return found->second.get();
}

QString qtFallback(Style style, const QDateTime &local, const QLocale &locale)
{
    switch (style) {
    case Style::time: return locale.toString(local.time(), QLocale::ShortFormat);
    case Style::dateAndTime: return locale.toString(local, QLocale::ShortFormat);
    case Style::hour: return locale.toString(local.time(), QStringLiteral("h AP"));
    }
    return {};
}

QDateTime localDateTime(Instant at, const QTimeZone &zone)
{
    return at.toDateTime().toTimeZone(zone.isValid() ? zone : QTimeZone::utc());
}

QString format(Style style, Instant at, const QLocale &locale, const QTimeZone &zone)
{
    // Qt decides the zone offset, so the "same day" test and the shown time never disagree;
    // ICU only spells out the wall-clock fields.
    const QDateTime local = localDateTime(at, zone);
    const icu::DateFormat *formatter = cachedFormat(style, locale);
    if (!formatter)
        return qtFallback(style, local, locale);
    const UDate wallClock = (at.unixSeconds() + local.offsetFromUtc()) * 1000.0;
    icu::UnicodeString text;
    formatter->format(wallClock, text);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

}  // namespace

QString updatedTimeText(Instant at, Instant now, const QLocale &locale, const QTimeZone &zone)
{
    const bool today = localDateTime(at, zone).date() == localDateTime(now, zone).date();
    return format(today ? Style::time : Style::dateAndTime, at, locale, zone);
}

QString footerStatusText(std::optional<Instant> refreshedAt, bool failureRecorded, Instant now, const QLocale &locale,
                         const QTimeZone &zone)
{
    if (!refreshedAt)
        return failureRecorded ? QString() : QStringLiteral("Not updated yet");
    QString text = QStringLiteral("Updated ") + updatedTimeText(*refreshedAt, now, locale, zone);
    if (failureRecorded)
        text += QStringLiteral(" \u00B7 Out of date");
    return text;
}

QString hourText(Instant at, const QLocale &locale, const QTimeZone &zone)
{
    return format(Style::hour, at, locale, zone);
}
