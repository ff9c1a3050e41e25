// The real store with the real clients, a real HTTP server on loopback and the real keyring.
#include "AppStore.h"
#include "BaseURL.h"
#include "BootTimer.h"
#include "Json.h"
#include "KeychainStore.h"
#include "OrvelaAnalyticsProvider.h"
#include "PersistedState.h"
#include "ScriptedServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <ctime>

namespace {

// The timers this process holds on the boot clock, which counts on through suspend: only a
// timerfd's description names a clock.
int bootClockTimers()
{
    int timers = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fdinfo")).entryList(QDir::Files)) {
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (info.open(QIODevice::ReadOnly) &&
            info.readAll().contains("\nclockid: " + QByteArray::number(CLOCK_BOOTTIME) + '\n'))
            ++timers;
    }
    return timers;
}

}  // namespace

class StoreIntegrationTest : public QObject
{
    Q_OBJECT

private slots:
    void startUpAdoptsTheAccountAndFetchesTheSelection()
    {
        if (qEnvironmentVariableIsEmpty("_ORVELA_IN_KEYRING"))
            QSKIP("needs the throw-away keyring of scripts/lib/with-keyring");
        ScriptedServer server;
        // The address from the environment is remembered in the user's settings: keep that in a
        // folder of this test's own, or the other tests of the run would inherit it.
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        qputenv("ORVELA_BASE_URL", server.url().toString().toUtf8());

        const QUuid one = QUuid::createUuid(), two = QUuid::createUuid();
        const QByteArray account =
            QStringLiteral(R"({"websites":[{"id":"%1","displayName":"One","domain":"one.example.org"},
                                           {"id":"%2","displayName":"Two","domain":"two.example.org"}],
                               "selectedWebsiteID":"%2","refreshInterval":120,"updatedAt":"2026-01-02T03:04:05Z"})")
                .arg(Json::uuidText(one), Json::uuidText(two).toLower())
                .toUtf8();
        server.enqueue(ScriptedServer::Reply::json(200, account));
        server.enqueue(ScriptedServer::Reply::json(200, R"({"liveVisitors":12,"visitorsToday":34,"pageViewsToday":56,
            "liveWindowDescription":"last 5 minutes","hourly":[{"start":"2026-01-02T03:00:00Z","visitors":7}]})"));
        server.enqueue(ScriptedServer::Reply::json(200, R"({"websites":[],"refreshInterval":120,
            "updatedAt":"2026-01-02T03:04:06Z"})"));

        auto keychain = std::make_shared<KeychainStore>();
        keychain->saveSyncToken(QStringLiteral("integration-token"));
        auto provider = std::make_shared<OrvelaAnalyticsProvider>([keychain] { return keychain->loadSyncToken(); },
                                                                  &defaultBaseURL);
        QTemporaryDir dir;
        auto defaults = std::make_shared<QSettings>(dir.filePath("orvela.conf"), QSettings::IniFormat);

        AppStore store(provider, keychain, nullptr, defaults, true);
        QTRY_COMPARE(store.cloudSyncStatus(), QStringLiteral("Loaded from your account."));
        QCOMPARE(store.websites().size(), 3);
        QCOMPARE(store.websites()[0].id, one);
        QCOMPARE(store.websites()[2].domain, QStringLiteral("example.com"));
        QCOMPARE(store.selectedWebsiteID(), two);
        QCOMPARE(store.refreshInterval(), RefreshInterval::oneTwenty);
        QTRY_COMPARE(store.selectedSnapshot().value_or(AnalyticsSnapshot{}).liveVisitors, 12);
        QTRY_COMPARE(store.cloudSyncStatus(), QStringLiteral("Saved to your account."));

        // The clients' own tests check each request's form; here, their order and purpose.
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].path, QStringLiteral("/v1/state"));
        QCOMPARE(requests[1].query.queryItemValue("website"), two.toString(QUuid::WithoutBraces));
        QCOMPARE(requests[2].method, QByteArray("PUT"));
        QVERIFY(requests[2].body.contains("example.com"));

        const auto stored = PersistedState::decode(defaults->value("orvela.state.v1").toByteArray());
        QVERIFY(stored);
        QCOMPARE(stored->websites, store.websites());
        QCOMPARE(stored->selectedWebsiteID, two);
        QCOMPARE(stored->cloudUpdatedAt, Instant::fromIso8601("2026-01-02T03:04:06Z"));
        QCOMPARE(stored->snapshots.size(), 1);
        store.stop();
        keychain->saveSyncToken(QString());
    }

    void bootTimerArithmeticAndARealWait()
    {
        QCOMPARE(BootTimer::split(0.4), (std::pair<long long, long>{0, 400000000}));
        QCOMPARE(BootTimer::split(30), (std::pair<long long, long>{30, 0}));
        QCOMPARE(BootTimer::split(1.9999999999), (std::pair<long long, long>{2, 0}));
        // Zero would disarm a timerfd: a wait of nothing still fires.
        QCOMPARE(BootTimer::split(0), (std::pair<long long, long>{0, 1}));
        QCOMPARE(BootTimer::split(-5), (std::pair<long long, long>{0, 1}));

        const int timersBefore = bootClockTimers();
        BootTimer timer;
        QCOMPARE(bootClockTimers(), timersBefore + 1);
        QSignalSpy fired(&timer, &BootTimer::fired);
        QElapsedTimer elapsed;
        elapsed.start();
        timer.start(0.05);
        QVERIFY(fired.wait(10000));
        QVERIFY(elapsed.elapsed() >= 45);
        QCOMPARE(fired.count(), 1);
        timer.start(10);
        timer.fireNow();  // a cancellation ends the wait at once, once
        timer.fireNow();
        QCOMPARE(fired.count(), 2);
    }
};

QTEST_GUILESS_MAIN(StoreIntegrationTest)
#include "StoreIntegrationTest.moc"
