#pragma once

#include <QLocale>
#include <QString>

// The region's name in the user's language ("Germany" for " de "); "Unknown" unless the trimmed,
// upper-cased code is exactly two characters; the code itself when no name is known for it.
QString countryName(const QString &code, const QLocale &language = QLocale::system());

// The regional-indicator pair that renders as the flag; empty unless the code is two letters A–Z.
QString countryFlag(const QString &code);

// The flag, two spaces and the name, or the name alone without a flag.
QString countryLabel(const QString &code, const QLocale &language = QLocale::system());
