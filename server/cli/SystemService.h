#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// orvela-server installed as a system service: its settings in /etc/default/orvela-server and
// a user of its own. Root's token commands work on the service's data as that user, so that no
// file of the service ends up owned by root.
namespace SystemService {

inline const QString defaultsFile = QStringLiteral("/etc/default/orvela-server");
inline const QString dataVariable = QStringLiteral("ORVELA_SERVER_DATA");
inline const QString databaseVariable = QStringLiteral("ORVELA_SERVER_DATABASE");
inline const QString defaultDataFolder = QStringLiteral("/var/lib/orvela-server");
inline constexpr char userName[] = "orvela-server";

// The KEY=value lines that systemd's EnvironmentFile= and this program read alike: blank lines
// and lines starting with # or ; are skipped, spaces around the key and the value dropped, and
// one pair of quotes around the whole value removed. Nothing is expanded and backslashes are
// refused, since systemd would read them as escapes. A later line wins over an earlier one.
struct Defaults {
    QHash<QString, QString> values;
    QString mistake;  // "line N: ...", for the first line that is not KEY=value
};
Defaults parseDefaults(const QByteArray &text);

// The service's data folder: ORVELA_SERVER_DATA, or /var/lib/orvela-server when it is unset or empty.
QString dataFolder(const QHash<QString, QString> &values);

// Where the service keeps its data, as options: --database ORVELA_SERVER_DATABASE when that is
// set, otherwise --data and the data folder.
QStringList storageOptions(const QHash<QString, QString> &values);

// `arguments` as a token command on the service's storage; nullopt when they are not a token
// command or name a --data or --database of their own.
std::optional<QStringList> onServiceData(const QStringList &arguments, const QStringList &storage);

struct Adopted {
    QStringList arguments;
    QString error;  // for stderr, exit status 1
};

// When root runs a token command without --data or --database and the defaults file exists:
// reads the file, becomes the service's user and returns the arguments with the service's
// storage.
// Otherwise returns the arguments as they are.
Adopted adoptServiceUser(const QStringList &arguments, const QString &file = defaultsFile);

}  // namespace SystemService
