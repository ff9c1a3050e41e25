// The command line: parsing, the token commands, and the binary's messages.
#include "ServerFixture.h"

#include <QProcess>
#include <QtTest>
#include <sys/resource.h>

namespace {

CommandLine::Command parsed(const QStringList &arguments)
{
    return CommandLine::parse(arguments, QStringLiteral("/default"));
}

QString mistakeOf(const QStringList &arguments)
{
    const auto command = parsed(arguments);
    const auto *mistake = std::get_if<CommandLine::Mistake>(&command);
    return mistake ? mistake->text : QString();
}

// The binary's exit status and what it wrote to stderr.
std::pair<int, QString> runBinary(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(ORVELA_SERVER_BINARY), arguments);
    process.waitForFinished(10000);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError())};
}

}  // namespace

class ServerCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void serveOptionsAndMistakes()
    {
        const auto serve = std::get<CommandLine::Serve>(parsed({"serve", "--listen", "[::1]:9000", "--data", "/srv/o",
                                                                "--trust-proxy", "--geoip", "/x.mmdb", "--retain-days", "7"}));
        QCOMPARE(serve.host, std::string("::1"));
        QCOMPARE(serve.port, 9000);
        QCOMPARE(serve.dataFolder, QStringLiteral("/srv/o"));
        QVERIFY(serve.trustProxy);
        QCOMPARE(serve.geoIpFile, QStringLiteral("/x.mmdb"));
        QCOMPARE(serve.retainDays, 7);
        const auto defaults = std::get<CommandLine::Serve>(parsed({"serve"}));
        QCOMPARE(defaults.host, std::string("127.0.0.1"));  // not reachable from elsewhere unless asked
        QCOMPARE(defaults.port, 8787);
        QCOMPARE(defaults.dataFolder, QStringLiteral("/default"));
        for (const QStringList &help : {QStringList{"serve", "--help"}, QStringList{"token", "revoke", "--help"}, QStringList{"--help"}})
            QVERIFY(std::holds_alternative<CommandLine::Help>(parsed(help)));

        const std::pair<QStringList, const char *> mistakes[] = {
            {{}, "a command is needed"},
            {{"serve", "--port", "80"}, "unknown option for serve: --port"},
            {{"serve", "--bogus"}, "Try 'orvela-server serve --help'"},
            {{"serve", "--listen", "8787"}, "--listen needs HOST:PORT"},
            {{"serve", "--listen", "::1:8787"}, "--listen needs HOST:PORT"},
            {{"serve", "--listen", "127.0.0.1:99999"}, "--listen needs HOST:PORT"},
            {{"serve", "--retain-days", "0"}, "--retain-days"}, {{"serve", "--data"}, "--data needs a folder"},
            {{"token"}, "create, list or revoke"}, {{"token", "revoke"}, "one hash prefix"},
            {{"token", "revoke", "xyz1"}, "hexadecimal"}, {{"token", "make"}, "unknown token action: make"},
            {{"stats"}, "unknown command: stats"}};
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

        QCOMPARE(runTokenCommand({Action::revoke, "ffff" + hex.left(4), folder.path()}, storage, 0).status, 1);
        QCOMPARE(runTokenCommand({Action::revoke, hex.left(8), folder.path()}, storage, 0).status, 0);
        QCOMPARE(storage.accounts().size(), 1);
        QVERIFY(!storage.hasAccount(Tokens::hash(token)));
    }

    void theBinarySaysWhatIsWrong()
    {
        QTemporaryDir folder;
        // A port that is taken.
        RunningServer other(0);
        const auto taken =
            runBinary({"serve", "--data", folder.path(), "--listen", QStringLiteral("127.0.0.1:%1").arg(other.port)});
        QCOMPARE(taken.first, 1);
        QVERIFY2(taken.second.contains("is already in use"), qPrintable(taken.second));

        // A data folder that cannot be made: its parent is a file.
        QVERIFY(QFile(folder.filePath("plain-file")).open(QIODevice::WriteOnly));
        const auto unwritable = runBinary({"token", "list", "--data", folder.filePath("plain-file/data")});
        QCOMPARE(unwritable.first, 1);
        QVERIFY2(unwritable.second.contains("cannot use the data folder"), qPrintable(unwritable.second));
        QCOMPARE(runBinary({"serve", "--listen"}).first, 2);

        // And it serves, and stops on SIGTERM. Started with a low soft limit on open files, it
        // raises it to the hard limit, since every connection holds one.
        QProcess serving;
        serving.setChildProcessModifier([] {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = std::min<rlim_t>(256, limit.rlim_max);
            setrlimit(RLIMIT_NOFILE, &limit);
        });
        serving.start(QStringLiteral(ORVELA_SERVER_BINARY), {"serve", "--data", folder.filePath("data"), "--listen", "127.0.0.1:0"});
        QVERIFY(serving.waitForReadyRead(5000));
        QFile limits(QStringLiteral("/proc/%1/limits").arg(serving.processId()));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        const QByteArray table = limits.readAll();
        const qsizetype row = table.indexOf("Max open files");
        const QList<QByteArray> openFiles = table.mid(row + 14, table.indexOf('\n', row) - row - 14).simplified().split(' ');
        QVERIFY2(row >= 0 && openFiles.size() == 3 && openFiles[0] == openFiles[1], table.constData());
        const QString banner = QString::fromLocal8Bit(serving.readLine());
        const int port = banner.section(u':', 3).section(u'/', 0, 0).toInt();
        QVERIFY2(port > 0, qPrintable(banner));
        httplib::Client client("127.0.0.1", port);
        QCOMPARE(statusOf(client.Get("/healthz")), 200);
        serving.terminate();
        QVERIFY(serving.waitForFinished(5000));
        QCOMPARE(serving.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(ServerCommandTest)
#include "ServerCommandTest.moc"
