#pragma once

#include <QLocale>
#include <QString>
#include <optional>

// Shown in place of a figure that is not known yet.
inline constexpr QChar missingValueDash = QChar(0x2014);

// A count with the locale's digit grouping and no decimals, e.g. 1,234 or 1.234.
QString countText(qint64 value, const QLocale &locale = QLocale::system());

// As above, or "—" when there is no value.
QString countText(std::optional<qint64> value, const QLocale &locale = QLocale::system());
