#include "CommandLine.h"

#include <QDir>
#include <QRegularExpression>

namespace CommandLine {

namespace {

const QString mainHelp =
    QStringLiteral("Usage: orvela-server COMMAND [OPTIONS]\n"
                   "\n"
                   "The statistics and account service of Orvela.\n"
                   "\n"
                   "Commands:\n"
                   "  serve           answer HTTP requests (put a TLS reverse proxy in front)\n"
                   "  token create    make a new sync token and print it once\n"
                   "  token list      show each token's hash prefix and creation time\n"
                   "  token rotate P  give the account of the token whose hash starts with P a new token\n"
                   "  token revoke P  end the account of that token, deleting its state and its figures\n"
                   "  salt-secret create FILE\n"
                   "                  make the key file that servers sharing one PostgreSQL database salt with\n"
                   "\n"
                   "'orvela-server COMMAND --help' describes a command's options.\n");

const QString serveHelp =
    QStringLiteral("Usage: orvela-server serve [OPTIONS]\n"
                   "\n"
                   "Options:\n"
                   "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8787; [::1]:8787 for IPv6)\n"
                   "  --data DIR           data folder (default $XDG_DATA_HOME/orvela-server); one server each\n"
                   "  --database URL       keep the data in PostgreSQL instead (postgresql://USER@HOST/DB or\n"
                   "                       libpq's key=value form); several servers may share one database\n"
                   "  --salt-secret FILE   derive the day's salt from this key file (needed with --database: every\n"
                   "                       server gets a copy); the file is moved on to a new key every UTC day\n"
                   "  --runtime-dir DIR    where the day's salt is kept across restarts, outside the data folder\n"
                   "                       (default $RUNTIME_DIRECTORY or $XDG_RUNTIME_DIR; without one, in memory)\n"
                   "  --trust-proxy        take the client's address from the right-most X-Forwarded-For\n"
                   "                       entry and its country from CF-IPCountry or X-Country-Code\n"
                   "  --geoip FILE.mmdb    country database in MaxMind format\n"
                   "  --retain-days N      days to keep raw events (default 30); daily totals stay\n"
                   "\n"
                   "Without --data, --database and --salt-secret, the environment's ORVELA_SERVER_DATA,\n"
                   "ORVELA_SERVER_DATABASE and ORVELA_SERVER_SALT_SECRET are used when set (a database wins\n"
                   "over a data folder): a system service takes them from its settings file.\n");

const QString tokenHelp =
    QStringLiteral("Usage: orvela-server token create [--data DIR | --database URL]\n"
                   "       orvela-server token list [--data DIR | --database URL]\n"
                   "       orvela-server token rotate PREFIX [--data DIR | --database URL]\n"
                   "       orvela-server token revoke PREFIX [--data DIR | --database URL]\n"
                   "\n"
                   "A token opens an account: the app's sync token. Only its SHA-256 hash is stored, so a\n"
                   "new token is printed once and cannot be shown again. PREFIX is the start of the hash\n"
                   "as 'token list' shows it. 'rotate' replaces the token and keeps the account with its\n"
                   "websites and figures; the old token stops working at once. 'revoke' ends the account:\n"
                   "its state is deleted, and so are its websites' figures, which nobody sees again.\n");

const QString saltSecretHelp =
    QStringLiteral("Usage: orvela-server salt-secret create FILE\n"
                   "\n"
                   "Makes a new key for the visitors' daily salts, readable by its owner alone, and never\n"
                   "over an existing file. Copy it to every server that shares the database, before their\n"
                   "first start, and give each '--salt-secret FILE'. Each server moves its copy on to a new key\n"
                   "every UTC day and keeps no earlier one.\n");

Mistake mistake(const QString &what, const QString &command)
{
    return {QStringLiteral("orvela-server: %1\nTry 'orvela-server %2--help'.\n")
                .arg(what, command.isEmpty() ? QString() : command + u' ')};
}

std::optional<std::pair<std::string, int>> hostAndPort(const QString &text)
{
    const int colon = text.lastIndexOf(u':');
    if (colon < 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return std::nullopt;
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (!ok || port < 0 || port > 65535 || host.isEmpty())
        return std::nullopt;
    return std::pair(host.toStdString(), port);
}

}  // namespace

QString defaultDataFolder()
{
    const QString configured = qEnvironmentVariable("ORVELA_SERVER_DATA");
    if (QDir::isAbsolutePath(configured))
        return configured;
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir(base).filePath(QStringLiteral("orvela-server"));
}

QString defaultRuntimeFolder()
{
    // systemd lists one folder per RuntimeDirectory= entry, separated by colons.
    const QString service = qEnvironmentVariable("RUNTIME_DIRECTORY").section(u':', 0, 0);
    if (QDir::isAbsolutePath(service))
        return service;
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return QDir::isAbsolutePath(session) ? session : QString();
}

Defaults defaultsFromEnvironment()
{
    return {defaultDataFolder(), defaultRuntimeFolder(), qEnvironmentVariable("ORVELA_SERVER_DATABASE").trimmed(),
            qEnvironmentVariable("ORVELA_SERVER_SALT_SECRET").trimmed()};
}

Command parse(const QStringList &arguments, const Defaults &defaults)
{
    if (arguments.isEmpty())
        return mistake(QStringLiteral("a command is needed"), {});
    const QString &command = arguments.first();
    if (command == u"--help" || command == u"-h" || command == u"help")
        return Help{mainHelp};

    if (command == u"serve") {
        Serve serve;
        serve.dataFolder = defaults.dataFolder;
        serve.runtimeFolder = defaults.runtimeFolder;
        serve.saltSecret = defaults.saltSecret;
        bool dataGiven = false, databaseGiven = false;
        for (int i = 1; i < arguments.size(); ++i) {
            const QString &option = arguments[i];
            const auto value = [&]() -> std::optional<QString> {
                if (i + 1 >= arguments.size())
                    return std::nullopt;
                return arguments[++i];
            };
            if (option == u"--help" || option == u"-h")
                return Help{serveHelp};
            if (option == u"--trust-proxy") {
                serve.trustProxy = true;
            } else if (option == u"--listen") {
                const auto text = value();
                const auto parsed = text ? hostAndPort(*text) : std::nullopt;
                if (!parsed)
                    return mistake(QStringLiteral("--listen needs HOST:PORT, such as 127.0.0.1:8787"), command);
                std::tie(serve.host, serve.port) = *parsed;
            } else if (option == u"--data") {
                const auto text = value();
                if (!text || text->isEmpty())
                    return mistake(QStringLiteral("--data needs a folder"), command);
                serve.dataFolder = *text;
                dataGiven = true;
            } else if (option == u"--database") {
                const auto text = value();
                if (!text || text->isEmpty())
                    return mistake(QStringLiteral("--database needs a PostgreSQL connection URL"), command);
                serve.database = *text;
                databaseGiven = true;
            } else if (option == u"--salt-secret") {
                const auto text = value();
                if (!text || text->isEmpty())
                    return mistake(QStringLiteral("--salt-secret needs a file"), command);
                serve.saltSecret = *text;
            } else if (option == u"--runtime-dir") {
                const auto text = value();
                if (!text || text->isEmpty())
                    return mistake(QStringLiteral("--runtime-dir needs a folder"), command);
                serve.runtimeFolder = *text;
            } else if (option == u"--geoip") {
                const auto text = value();
                if (!text || text->isEmpty())
                    return mistake(QStringLiteral("--geoip needs a .mmdb file"), command);
                serve.geoIpFile = *text;
            } else if (option == u"--retain-days") {
                const auto text = value();
                bool ok = false;
                const int days = text ? text->toInt(&ok) : 0;
                if (!ok || days < 1 || days > 36500)
                    return mistake(QStringLiteral("--retain-days needs a number of days from 1 on"), command);
                serve.retainDays = days;
            } else {
                return mistake(QStringLiteral("unknown option for serve: %1").arg(option), command);
            }
        }
        if (dataGiven && databaseGiven)
            return mistake(QStringLiteral("--data and --database cannot be used together"), command);
        if (!dataGiven && !databaseGiven)
            serve.database = defaults.database;
        if (!serve.database.isEmpty() && serve.saltSecret.isEmpty()) {
            return mistake(QStringLiteral("--database needs --salt-secret FILE: servers with salts of their own "
                                          "would count every visitor once per server"),
                           command);
        }
        return serve;
    }

    if (command == u"token") {
        Token token;
        token.dataFolder = defaults.dataFolder;
        bool dataGiven = false, databaseGiven = false;
        QStringList words;
        for (int i = 1; i < arguments.size(); ++i) {
            const QString &word = arguments[i];
            if (word == u"--help" || word == u"-h")
                return Help{tokenHelp};
            if (word == u"--data") {
                if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                    return mistake(QStringLiteral("--data needs a folder"), command);
                token.dataFolder = arguments[++i];
                dataGiven = true;
            } else if (word == u"--database") {
                if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                    return mistake(QStringLiteral("--database needs a PostgreSQL connection URL"), command);
                token.database = arguments[++i];
                databaseGiven = true;
            } else if (word.startsWith(u'-')) {
                return mistake(QStringLiteral("unknown option for token: %1").arg(word), command);
            } else {
                words.append(word);
            }
        }
        if (dataGiven && databaseGiven)
            return mistake(QStringLiteral("--data and --database cannot be used together"), command);
        if (!dataGiven && !databaseGiven)
            token.database = defaults.database;
        if (words.isEmpty())
            return mistake(QStringLiteral("token needs create, list, rotate or revoke"), command);
        const QString action = words.takeFirst();
        if (action == u"create" || action == u"list") {
            if (!words.isEmpty())
                return mistake(QStringLiteral("token %1 takes no further words").arg(action), command);
            token.action = action == u"create" ? Token::Action::create : Token::Action::list;
            return token;
        }
        if (action == u"revoke" || action == u"rotate") {
            if (words.size() != 1)
                return mistake(QStringLiteral("token %1 needs one hash prefix").arg(action), command);
            token.action = action == u"revoke" ? Token::Action::revoke : Token::Action::rotate;
            token.prefix = words.first().toLower();
            static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{4,64}$"));
            if (!hex.match(token.prefix).hasMatch())
                return mistake(QStringLiteral("the prefix must be 4 to 64 hexadecimal digits"), command);
            return token;
        }
        return mistake(QStringLiteral("unknown token action: %1").arg(action), command);
    }

    if (command == u"salt-secret") {
        const QStringList words = arguments.mid(1);
        if (words.contains(u"--help") || words.contains(u"-h"))
            return Help{saltSecretHelp};
        if (words.size() != 2 || words[0] != u"create" || words[1].isEmpty() || words[1].startsWith(u'-'))
            return mistake(QStringLiteral("salt-secret needs: create FILE"), command);
        return SaltSecret{words[1]};
    }

    return mistake(QStringLiteral("unknown command: %1").arg(command), {});
}

}  // namespace CommandLine
