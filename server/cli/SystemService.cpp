#include "SystemService.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace SystemService {

Defaults parseDefaults(const QByteArray &text)
{
    static const QRegularExpression key(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    Defaults defaults;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        const auto mistake = [&](const QString &what) {
            defaults.mistake = QStringLiteral("line %1: %2").arg(i + 1).arg(what);
            return defaults;
        };
        const qsizetype equals = line.indexOf(u'=');
        const QString name = line.left(equals).trimmed();
        if (equals < 0 || !key.match(name).hasMatch())
            return mistake(QStringLiteral("not a KEY=value line"));
        QString value = line.mid(equals + 1).trimmed();
        if (value.contains(u'\\'))
            return mistake(QStringLiteral("backslashes are not supported"));
        if (value.startsWith(u'"') || value.startsWith(u'\'')) {
            const QChar quote = value.front();
            if (value.size() < 2 || !value.endsWith(quote) || value.mid(1, value.size() - 2).contains(quote))
                return mistake(QStringLiteral("quotes must enclose the whole value"));
            value = value.mid(1, value.size() - 2);
        }
        defaults.values.insert(name, value);
    }
    return defaults;
}

QString dataFolder(const QHash<QString, QString> &values)
{
    const QString folder = values.value(dataVariable);
    return folder.isEmpty() ? defaultDataFolder : folder;
}

QStringList storageOptions(const QHash<QString, QString> &values)
{
    const QString database = values.value(databaseVariable);
    if (!database.isEmpty())
        return {QStringLiteral("--database"), database};
    return {QStringLiteral("--data"), dataFolder(values)};
}

std::optional<QStringList> onServiceData(const QStringList &arguments, const QStringList &storage)
{
    if (arguments.value(0) != u"token" || arguments.contains(QStringLiteral("--data")) ||
        arguments.contains(QStringLiteral("--database")))
        return std::nullopt;
    return arguments + storage;
}

Adopted adoptServiceUser(const QStringList &arguments, const QString &file)
{
    if (geteuid() != 0 || !onServiceData(arguments, {}) || !QFile::exists(file))
        return {arguments, {}};
    const auto failure = [&](const QString &what) {
        return Adopted{{}, QStringLiteral("orvela-server: %1\n").arg(what)};
    };

    QFile defaultsFile(file);
    if (!defaultsFile.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot read %1: %2").arg(file, defaultsFile.errorString()));
    const Defaults defaults = parseDefaults(defaultsFile.readAll());
    if (!defaults.mistake.isEmpty())
        return failure(QStringLiteral("%1, %2").arg(file, defaults.mistake));
    const QString folder = dataFolder(defaults.values);
    if (defaults.values.value(databaseVariable).isEmpty() && !QDir::isAbsolutePath(folder))
        return failure(QStringLiteral("%1 in %2 must be an absolute folder, not '%3'").arg(dataVariable, file, folder));

    const passwd *user = getpwnam(userName);
    if (!user) {
        return failure(QStringLiteral("%1 is there but the user %2 is not; give --data to work on a folder as root")
                           .arg(file, QLatin1String(userName)));
    }
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    if (initgroups(userName, gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        return failure(QStringLiteral("cannot become the user %1: %2")
                           .arg(QLatin1String(userName), QString::fromLocal8Bit(std::strerror(errno))));
    return {*onServiceData(arguments, storageOptions(defaults.values)), {}};
}

}  // namespace SystemService
