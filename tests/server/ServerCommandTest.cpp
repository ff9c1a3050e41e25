// The command line: parsing, the token commands, and the binary's messages.
#include "ServerFixture.h"

#include <QDir>
#include <QtTest>
#include <sys/resource.h>

namespace {

CommandLine::Command parsed(const QStringList &arguments)
{
    return CommandLine::parse(arguments, {QStringLiteral("/default"), QStringLiteral("/run/default")});
}

QString mistakeOf(const QStringList &arguments)
{
    const auto command = parsed(arguments);
    const auto *mistake = std::get_if<CommandLine::Mistake>(&command);
    return mistake ? mistake->text : QString();
}

}  // namespace

class ServerCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void serveOptionsAndMistakes()
    {
        // Every setting of `serve`: host|port|data|database|salt secret|runtime|proxy|GeoIP|days kept.
        const auto serve = [](const QStringList &arguments,
                              const CommandLine::Defaults &defaults = {"/default", "/run/default"}) {
            const auto s = std::get<CommandLine::Serve>(CommandLine::parse(arguments, defaults));
            return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                .arg(QString::fromStdString(s.host), QString::number(s.port), s.dataFolder, s.database, s.saltSecret,
                     s.runtimeFolder, s.trustProxy ? "proxy" : "", s.geoIpFile, QString::number(s.retainDays));
        };
        QCOMPARE(serve({"serve", "--listen", "[::1]:9000", "--data", "/srv/o", "--trust-proxy", "--geoip", "/x.mmdb",
                        "--retain-days", "7", "--runtime-dir", "/run/o"}),
                 "::1|9000|/srv/o|||/run/o|proxy|/x.mmdb|7");
        // Not reachable from elsewhere unless asked.
        QCOMPARE(serve({"serve"}), "127.0.0.1|8787|/default|||/run/default|||30");
        QCOMPARE(serve({"serve", "--database", "postgresql://orvela@db/stats", "--salt-secret", "/etc/orvela/salt"}),
                 "127.0.0.1|8787|/default|postgresql://orvela@db/stats|/etc/orvela/salt|/run/default|||30");
        QCOMPARE(std::get<CommandLine::Token>(parsed({"token", "list", "--database", "dbname=stats"})).database,
                 QStringLiteral("dbname=stats"));
        QCOMPARE(std::get<CommandLine::SaltSecret>(parsed({"salt-secret", "create", "/k"})).file, QStringLiteral("/k"));
        // A service's settings may name a database and its salt secret; options still win.
        const CommandLine::Defaults service{"/default", "/run/default", "postgresql:///stats", "/var/lib/o/salt"};
        QCOMPARE(serve({"serve"}, service),
                 "127.0.0.1|8787|/default|postgresql:///stats|/var/lib/o/salt|/run/default|||30");
        QCOMPARE(serve({"serve", "--data", "/d"}, service), "127.0.0.1|8787|/d||/var/lib/o/salt|/run/default|||30");
        QCOMPARE(std::get<CommandLine::Token>(CommandLine::parse({"token", "list"}, service)).database,
                 QStringLiteral("postgresql:///stats"));
        QCOMPARE(std::get<CommandLine::Token>(CommandLine::parse({"token", "list", "--data", "/d"}, service)).database,
                 QString());
        const auto rotate = std::get<CommandLine::Token>(parsed({"token", "rotate", "ABCD12"}));
        QCOMPARE(rotate.action, CommandLine::Token::Action::rotate);
        QCOMPARE(rotate.prefix, QStringLiteral("abcd12"));
        for (const QStringList &help :
             {QStringList{"serve", "--help"}, QStringList{"token", "revoke", "--help"}, QStringList{"--help"}})
            QVERIFY(std::holds_alternative<CommandLine::Help>(parsed(help)));

        const std::pair<QStringList, const char *> mistakes[] = {
            {{}, "a command is needed"},
            {{"serve", "--port", "80"}, "unknown option for serve: --port"},
            {{"serve", "--bogus"}, "Try 'orvela-server serve --help'"},
            {{"serve", "--listen", "8787"}, "--listen needs HOST:PORT"},
            {{"serve", "--listen", "::1:8787"}, "--listen needs HOST:PORT"},
            {{"serve", "--listen", "127.0.0.1:99999"}, "--listen needs HOST:PORT"},
            {{"serve", "--retain-days", "0"}, "--retain-days"},
            {{"serve", "--data"}, "--data needs a folder"},
            {{"serve", "--runtime-dir"}, "--runtime-dir needs a folder"},
            {{"token"}, "create, list, rotate or revoke"},
            {{"token", "revoke"}, "one hash prefix"},
            {{"token", "rotate", "ab12", "cd34"}, "token rotate needs one hash prefix"},
            {{"token", "revoke", "xyz1"}, "hexadecimal"},
            {{"token", "make"}, "unknown token action: make"},
            {{"stats"}, "unknown command: stats"},
            {{"serve", "--database", "dbname=x"}, "--database needs --salt-secret FILE"},
            {{"serve", "--data", "/d", "--database", "dbname=x", "--salt-secret", "/k"}, "cannot be used together"},
            {{"serve", "--salt-secret"}, "--salt-secret needs a file"},
            {{"token", "list", "--database"}, "--database needs a PostgreSQL connection URL"},
            {{"token", "create", "--data", "/d", "--database", "dbname=x"}, "cannot be used together"},
            {{"salt-secret", "create"}, "salt-secret needs: create FILE"},
            {{"salt-secret", "make", "/k"}, "salt-secret needs: create FILE"}};
        for (const auto &[arguments, text] : mistakes)
            QVERIFY2(mistakeOf(arguments).contains(QLatin1String(text)), qPrintable(arguments.join(u' ')));
    }

    void tokenCommands()
    {
        QTemporaryDir folder;
        SqliteStorage storage(folder.path());
        using Action = CommandLine::Token::Action;
        const auto created = runTokenCommand({Action::create, {}, folder.path()}, storage, utc("2024-05-07T10:00:00Z"));
        const QString token = created.out.trimmed();
        QVERIFY(token.startsWith("orv_") && token.size() > 40);
        const QString hex = QString::fromLatin1(Tokens::hash(token).toHex());
        runTokenCommand({Action::create, {}, folder.path()}, storage, utc("2024-05-07T11:00:00Z"));

        const auto listed = runTokenCommand({Action::list, {}, folder.path()}, storage, 0);
        QVERIFY(listed.out.startsWith(hex.left(12) + "  created 2024-05-07T10:00:00Z\n"));
        QCOMPARE(listed.out.count(u'\n'), 2);
        QVERIFY(!listed.out.contains(token));

        // A new token for the same account: the old one no longer opens it.
        QVERIFY(storage.replaceState(Tokens::hash(token), "{}", {}, 0));
        const qint64 account = storage.accounts().first().id;
        const auto rotated = runTokenCommand({Action::rotate, hex.left(8), folder.path()}, storage, 0);
        QCOMPARE(rotated.status, 0);
        const QString newToken = rotated.out.trimmed();
        QVERIFY(newToken.startsWith("orv_") && newToken != token);
        QVERIFY2(rotated.err.contains(hex.left(12) + " no longer works"), qPrintable(rotated.err));
        QVERIFY(!storage.hasAccount(Tokens::hash(token)));
        QCOMPARE(storage.accounts().first().id, account);
        QCOMPARE(storage.accounts().first().createdAt, utc("2024-05-07T10:00:00Z"));
        QCOMPARE(storage.state(Tokens::hash(newToken))->document, QByteArray("{}"));
        QCOMPARE(runTokenCommand({Action::rotate, hex.left(8), folder.path()}, storage, 0).status, 1);

        const QString newHex = QString::fromLatin1(Tokens::hash(newToken).toHex());
        QCOMPARE(runTokenCommand({Action::revoke, "ffff" + newHex.left(4), folder.path()}, storage, 0).status, 1);
        QCOMPARE(runTokenCommand({Action::revoke, newHex.left(8), folder.path()}, storage, 0).status, 0);
        QCOMPARE(storage.accounts().size(), 1);
        QVERIFY(!storage.hasAccount(Tokens::hash(newToken)));
    }

    void theBinarySaysWhatIsWrong()
    {
        QTemporaryDir folder;
        // A port that is taken.
        RunningServer other(0);
        const auto taken =
            runBinary({"serve", "--data", folder.path(), "--listen", QStringLiteral("127.0.0.1:%1").arg(other.port)});
        QCOMPARE(taken.status, 1);
        QVERIFY2(taken.err.contains("is already in use"), qPrintable(taken.err));

        // A data folder that cannot be made: its parent is a file.
        QVERIFY(QFile(folder.filePath("plain-file")).open(QIODevice::WriteOnly));
        const auto unwritable = runBinary({"token", "list", "--data", folder.filePath("plain-file/data")});
        QCOMPARE(unwritable.status, 1);
        QVERIFY2(unwritable.err.contains("cannot use the data folder"), qPrintable(unwritable.err));
        QCOMPARE(runBinary({"serve", "--listen"}).status, 2);

        // A runtime folder inside the data folder would put the salt into its backups.
        const auto inside = runBinary({"serve", "--data", folder.filePath("data"), "--runtime-dir",
                                       folder.filePath("data/run"), "--listen", "127.0.0.1:0"});
        QCOMPARE(inside.status, 1);
        QVERIFY2(inside.err.contains("is inside the data folder"), qPrintable(inside.err));

        // It serves, and stops on SIGTERM. Without a runtime folder it says where the salt is.
        // Started with a low soft limit on open files, it raises it to the hard limit, since
        // every connection holds one.
        QProcess serving;
        serving.setChildProcessModifier([] {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = std::min<rlim_t>(256, limit.rlim_max);
            setrlimit(RLIMIT_NOFILE, &limit);
        });
        const int port = startServing(serving, {"--data", folder.filePath("data")});
        QVERIFY(port > 0);
        QFile limits(QStringLiteral("/proc/%1/limits").arg(serving.processId()));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        const QByteArray table = limits.readAll();
        const qsizetype row = table.indexOf("Max open files");
        const QList<QByteArray> openFiles =
            table.mid(row + 14, table.indexOf('\n', row) - row - 14).simplified().split(' ');
        QVERIFY2(row >= 0 && openFiles.size() == 3 && openFiles[0] == openFiles[1], table.constData());
        httplib::Client client("127.0.0.1", port);
        QCOMPARE(statusOf(client.Get("/healthz")), 200);
        serving.terminate();
        QVERIFY(serving.waitForFinished(5000));
        QCOMPARE(serving.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(serving.readAllStandardError()).contains("salt is kept in memory only"));
    }

    void oneServerPerDataFolder()
    {
        QTemporaryDir folder, runtime;
        QProcess first;
        const int port = startServing(first, {"--data", folder.path()}, runtime.path());
        QVERIFY(port > 0);

        const auto second = runBinary({"serve", "--data", folder.path(), "--listen", "127.0.0.1:0"});
        QCOMPARE(second.status, 1);
        QVERIFY2(second.err.contains(QStringLiteral("another orvela-server (PID %1) is serving the data folder %2")
                                         .arg(first.processId())
                                         .arg(QDir(folder.path()).absolutePath())),
                 qPrintable(second.err));
        // The token commands still work, and the running server takes the new token.
        const Ran create = runBinary({"token", "create", "--data", folder.path()});
        QCOMPARE(create.status, 0);
        const auto client = clientFor(port);
        QCOMPARE(
            statusOf(client->Put("/v1/state", bearer(create.out.trimmed()), stateWith(siteId), "application/json")),
            200);
        // A visit's salt goes into the runtime folder, none into the data folder.
        client->Post("/v1/event", {{"User-Agent", "Mozilla/5.0 Firefox/125.0"}}, eventBody("pageview", "/"),
                     "text/plain");
        QTRY_COMPARE_WITH_TIMEOUT(QDir(runtime.path()).entryList({"orvela-server-*.salts"}, QDir::Files).size(), 1,
                                  20000);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"orvela-server.lock", "orvela.db", "orvela.db-shm", "orvela.db-wal"}));
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
        QCOMPARE(runBinary({"serve", "--data", folder.path(), "--listen", "127.0.0.1:99999"}).status, 2);
    }
};

QTEST_GUILESS_MAIN(ServerCommandTest)
#include "ServerCommandTest.moc"
