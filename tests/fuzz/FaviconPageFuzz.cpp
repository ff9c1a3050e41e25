// A website's home page, as any site may serve it, and the domain as the user may type it.
#include "FaviconRules.h"
#include "FuzzCheck.h"

#include <QSet>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    static const QUrl site(QStringLiteral("https://shop.example.org:8443"));
    const QList<QUrl> declared = Favicon::declaredIcons(bytes, site);
    for (const QUrl &icon : declared)
        FUZZ_CHECK(Favicon::isWebAddress(icon));
    const QList<QUrl> candidates = Favicon::candidates(declared, site);
    FUZZ_CHECK(candidates.size() >= 3);
    QSet<QString> distinct;
    for (const QUrl &candidate : candidates)
        distinct.insert(candidate.toString(QUrl::FullyEncoded));
    FUZZ_CHECK(distinct.size() == candidates.size());

    if (const auto origin = Favicon::origin(QString::fromUtf8(bytes)))
        FUZZ_CHECK(origin->scheme() == u"https" && !origin->host().isEmpty() && origin->path().isEmpty());
    return 0;
}
