#pragma once

#include <QByteArray>
#include <QString>

// Sync tokens: random text handed out once; the service keeps only its SHA-256.
namespace Tokens {

QString generate();
QByteArray hash(const QString &token);
// The bearer token of an Authorization header, trimmed; empty when there is none.
QString fromAuthorization(const QString &header);

}  // namespace Tokens
