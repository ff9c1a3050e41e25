#include "Tokens.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace Tokens {

QString generate()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    return QStringLiteral("orv_") +
        QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray hash(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
}

QString fromAuthorization(const QString &header)
{
    const QString text = header.trimmed();
    if (!text.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
        return {};
    return text.mid(7).trimmed();
}

}  // namespace Tokens
