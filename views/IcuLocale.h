#pragma once

#include <QLocale>
#include <unicode/locid.h>

// The ICU locale that formats like the given Qt locale (the C locale maps to English).
icu::Locale toIcuLocale(const QLocale &locale);

// Makes ICU's default locale the user's, so that anything ICU formats without an explicit
// locale agrees with the numbers Qt formats. Called once at start-up.
void useSystemLocaleForIcu();
