#include "NumberText.h"

QString countText(qint64 value, const QLocale &locale)
{
    return locale.toString(value);
}

QString countText(std::optional<qint64> value, const QLocale &locale)
{
    return value ? countText(*value, locale) : QString(missingValueDash);
}
