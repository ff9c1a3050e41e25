#include "CountryNames.h"

#include "IcuLocale.h"
#include "Website.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace {

QString normalizedCode(const QString &code)
{
    return trimmedText(code).toUpper();
}

// What a reader counts as characters: a letter with a combining mark, or an emoji, is one.
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool isAsciiAlphanumeric(const QString &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'); });
}

}  // namespace

QString countryName(const QString &code, const QLocale &language)
{
    const QString region = normalizedCode(code);
    if (characterCount(region) != 2)
        return QStringLiteral("Unknown");
    // ICU reads region codes as ASCII; anything else has no name.
    if (!isAsciiAlphanumeric(region))
        return region;
    icu::UnicodeString name;
    icu::Locale("", region.toLatin1().constData()).getDisplayCountry(toIcuLocale(language), name);
    if (name.isEmpty())
        return region;
    return QString(reinterpret_cast<const QChar *>(name.getBuffer()), name.length());
}

QString countryFlag(const QString &code)
{
    const QString region = normalizedCode(code);
    if (region.size() != 2 ||
        !std::all_of(region.begin(), region.end(), [](QChar c) { return c >= u'A' && c <= u'Z'; }))
        return {};
    // Regional indicator symbol letter A is U+1F1E6.
    constexpr char32_t offset = 0x1F1E6 - U'A';
    const char32_t symbols[2] = {region[0].unicode() + offset, region[1].unicode() + offset};
    return QString::fromUcs4(symbols, 2);
}

QString countryLabel(const QString &code, const QLocale &language)
{
    const QString flag = countryFlag(code);
    const QString name = countryName(code, language);
    return flag.isEmpty() ? name : flag + QStringLiteral("  ") + name;
}
