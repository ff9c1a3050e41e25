#include "IcuLocale.h"

icu::Locale toIcuLocale(const QLocale &locale)
{
    // The BCP 47 tag keeps the script (sr-Latn), which QLocale::name() drops.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale converted = icu::Locale::forLanguageTag(locale.bcp47Name().toStdString(), status);
    if (U_FAILURE(status) || converted.isBogus())
        return icu::Locale::getEnglish();
    return converted;
}

void useSystemLocaleForIcu()
{
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(toIcuLocale(QLocale::system()), status);
}
