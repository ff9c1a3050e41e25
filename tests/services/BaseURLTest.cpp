// Which service address the app talks to: the environment's, the remembered one or the built-in one.
#include "BaseURL.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class BaseURLTest : public QObject
{
    Q_OBJECT

private slots:
    void rules()
    {
        const char *builtIn = "https://orvela.invalid";
        const char *self = "https://self.example.org";
        const char *stats = "https://stats.example.net";
        // nullptr: not set, nothing to remember.
        const struct {
            const char *environment, *remembered, *expected, *toRemember;
            bool warns;
        } rows[] = {
            {nullptr, nullptr, builtIn, nullptr, false},
            {"  HTTPS://Stats.Example.net:8443/ \n", nullptr, "https://stats.example.net:8443",
             "https://stats.example.net:8443", false},
            {stats, stats, stats, nullptr, false},
            {nullptr, self, self, nullptr, false},
            {"", self, self, nullptr, false},
            {"http://localhost:8787", nullptr, "http://localhost:8787", "http://localhost:8787", false},
            {"http://[::1]:8080", nullptr, "http://[::1]:8080", "http://[::1]:8080", false},
            {"http://stats.example.net", self, self, nullptr, true},
            {"http://127.0.0.1.example.net", nullptr, builtIn, nullptr, true},
            {"https://stats.example.net/api", nullptr, builtIn, nullptr, true},
            {"https://stats.example.net/?a=1", nullptr, builtIn, nullptr, true},
            {"https://me@stats.example.net", nullptr, builtIn, nullptr, true},
            {"stats.example.net", nullptr, builtIn, nullptr, true},
            {"ftp://stats.example.net", nullptr, builtIn, nullptr, true},
            {nullptr, "http://stats.example.net", builtIn, nullptr, false},
        };
        const auto given = [](const char *text) {
            return text ? std::optional(QString::fromLatin1(text)) : std::nullopt;
        };
        for (const auto &row : rows) {
            const QByteArray name = QByteArray(row.environment) + " / " + row.remembered;
            const auto resolution = resolveBaseURL(given(row.environment), given(row.remembered));
            QVERIFY2(resolution.url == QUrl(row.expected) && resolution.toRemember == given(row.toRemember), name);
            QVERIFY2(resolution.warning.has_value() == row.warns, name);
            if (row.warns)
                QVERIFY2(resolution.warning->contains(QLatin1String("ORVELA_BASE_URL=\"") + row.environment + '"'),
                         qPrintable(*resolution.warning));
        }
    }

    void theProcessWideAddressIsRemembered()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        qputenv("ORVELA_BASE_URL", "http://localhost:8787/");
        QCOMPARE(defaultBaseURL(), QUrl("http://localhost:8787"));

        QSettings stored(home.filePath(QStringLiteral("orvela/orvela.conf")), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("orvela.baseURL")).toString(), QStringLiteral("http://localhost:8787"));
        // Made once per process.
        qputenv("ORVELA_BASE_URL", "https://other.example.net");
        QCOMPARE(defaultBaseURL(), QUrl("http://localhost:8787"));
    }
};

QTEST_GUILESS_MAIN(BaseURLTest)
#include "BaseURLTest.moc"
