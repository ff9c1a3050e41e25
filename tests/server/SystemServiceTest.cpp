// The packaged service's defaults file, read the way systemd reads it for the unit, and the
// token commands that root runs on the service's data.
#include "SystemService.h"

#include <QtTest>

using Values = QHash<QString, QString>;

class SystemServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void readsDefaults_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Values>("values");
        QFile packaged(QStringLiteral(ORVELA_DEFAULTS_FILE));
        QVERIFY(packaged.open(QIODevice::ReadOnly));
        QTest::newRow("the file the package installs") << packaged.readAll()
                                                       << Values{{"ORVELA_SERVER_LISTEN", "127.0.0.1:8787"},
                                                                 {"ORVELA_SERVER_DATA", "/var/lib/orvela-server"},
                                                                 {"ORVELA_SERVER_DATABASE", ""},
                                                                 {"ORVELA_SERVER_SALT_SECRET", ""},
                                                                 {"ORVELA_SERVER_OPTIONS", ""}};
        QTest::newRow("spaces and quotes around values")
            << QByteArray("  A = /srv/data  \nB=\"--trust-proxy --geoip /x.mmdb\"\nC=it's\nD='a \"b\"'\r\n")
            << Values{{"A", "/srv/data"}, {"B", "--trust-proxy --geoip /x.mmdb"}, {"C", "it's"}, {"D", "a \"b\""}};
        QTest::newRow("comments, and a later line wins")
            << QByteArray("# A=0\n; A=0\nA=1\n\nA=2") << Values{{"A", "2"}};
    }

    void readsDefaults()
    {
        QFETCH(QByteArray, text);
        QFETCH(Values, values);
        const auto defaults = SystemService::parseDefaults(text);
        QCOMPARE(defaults.mistake, QString());
        QCOMPARE(defaults.values, values);
    }

    void refusesWhatSystemdReadsOtherwise_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("mistake");
        QTest::newRow("shell export") << QByteArray("A=1\nexport B=2") << "line 2: not a KEY=value line";
        QTest::newRow("no equals sign") << QByteArray("\nORVELA_SERVER_DATA") << "line 2: not a KEY=value line";
        QTest::newRow("key starting with a digit") << QByteArray("1A=x") << "line 1: not a KEY=value line";
        QTest::newRow("unclosed quote") << QByteArray("A=\"/srv/data") << "line 1: quotes must enclose the whole value";
        QTest::newRow("quoted word and more")
            << QByteArray("A=\"a\" b") << "line 1: quotes must enclose the whole value";
        QTest::newRow("a lone quote") << QByteArray("A='") << "line 1: quotes must enclose the whole value";
        QTest::newRow("escaped space") << QByteArray("A=/srv/my\\ data") << "line 1: backslashes are not supported";
    }

    void refusesWhatSystemdReadsOtherwise()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, mistake);
        QCOMPARE(SystemService::parseDefaults(text).mistake, mistake);
    }

    void tokenCommandsUseTheServiceData()
    {
        using SystemService::onServiceData;
        QCOMPARE(SystemService::dataFolder({}), QStringLiteral("/var/lib/orvela-server"));
        QCOMPARE(SystemService::dataFolder({{"ORVELA_SERVER_DATA", ""}}), QStringLiteral("/var/lib/orvela-server"));
        QCOMPARE(SystemService::dataFolder({{"ORVELA_SERVER_DATA", "/srv/o"}}), QStringLiteral("/srv/o"));
        const QStringList folder = SystemService::storageOptions({{"ORVELA_SERVER_DATA", "/srv/o"}});
        QCOMPARE(onServiceData({"token", "revoke", "abcd"}, folder),
                 QStringList({"token", "revoke", "abcd", "--data", "/srv/o"}));
        // A database in the settings wins over the data folder, as it does for the service.
        const QStringList database = SystemService::storageOptions(
            {{"ORVELA_SERVER_DATA", "/srv/o"}, {"ORVELA_SERVER_DATABASE", "postgresql:///orvela"}});
        QCOMPARE(onServiceData({"token", "list"}, database),
                 QStringList({"token", "list", "--database", "postgresql:///orvela"}));
        QCOMPARE(onServiceData({"token", "list", "--data", "/mine"}, folder), std::nullopt);
        QCOMPARE(onServiceData({"token", "list", "--database", "postgresql:///mine"}, folder), std::nullopt);
        QCOMPARE(onServiceData({"serve"}, folder), std::nullopt);
        QCOMPARE(onServiceData({}, folder), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(SystemServiceTest)
#include "SystemServiceTest.moc"
