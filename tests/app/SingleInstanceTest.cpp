// One Orvela per session: a second launch hands off to the first and ends. SIGINT and SIGTERM
// end the event loop the way "Quit Orvela" does, with status 0.
#include "SingleInstance.h"
#include "QuitSignals.h"

#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <future>

using namespace std::chrono_literals;

namespace {

// The second launch blocks while it waits for the first, so it runs on a thread of its own
// while this one keeps the first's event loop turning.
SingleInstance::Role launchAnother(const QString &directory, std::chrono::milliseconds wait = 3s,
                                   const QVariantMap &handOver = {})
{
    auto launch = std::async(std::launch::async,
                             [directory, wait, handOver] { return SingleInstance(directory).claim(wait, handOver); });
    while (launch.wait_for(10ms) != std::future_status::ready)
        QCoreApplication::processEvents();
    return launch.get();
}

}  // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void laterLaunchesAskTheFirstToOpenItsPanel()
    {
        QTemporaryDir directory;
        {
            // A socket left by a crashed instance stops nobody.
            QFile stale(SingleInstance(directory.path()).socketPath());
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        {
            SingleInstance first(directory.path());
            QCOMPARE(first.claim(), SingleInstance::Role::primary);
            QSignalSpy activations(&first, &SingleInstance::activationRequested);
            QCOMPARE(launchAnother(directory.path()), SingleInstance::Role::handedOff);
            QCOMPARE(activations.count(), 1);
            QCOMPARE(activations.last().first().toMap(), QVariantMap());
            // What the later launch was started with reaches the first, whatever the text holds.
            const QVariantMap handOver{{"baseURL", "http://127.0.0.1:8787"},
                                       {"syncToken", "tök\n\"x\" " + QString(3000, u'a')}};
            QCOMPARE(launchAnother(directory.path(), 3s, handOver), SingleInstance::Role::handedOff);
            QCOMPARE(activations.count(), 2);
            QCOMPARE(activations.last().first().toMap(), handOver);
        }
        // A closed instance makes room for the next.
        SingleInstance next(directory.path());
        QCOMPARE(next.claim(), SingleInstance::Role::primary);
    }

    void aHeldLockOrAnUnusableDirectory()
    {
        // Held, but nobody listens yet: the second waits, then gives up.
        QTemporaryDir directory;
        QLockFile held(directory.filePath(QStringLiteral("orvela.lock")));
        QVERIFY(held.tryLock(0));
        QCOMPARE(launchAnother(directory.path(), 300ms), SingleInstance::Role::failed);
        // A directory that cannot hold the lock does not stop Orvela from starting.
        QFile blocker(directory.filePath(QStringLiteral("not-a-directory")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QCOMPARE(SingleInstance(blocker.fileName()).claim(200ms), SingleInstance::Role::primary);
    }

    void terminationSignalsQuitTheEventLoop()
    {
        // Not qApp: with the widgets headers it names a QApplication, which this test has not.
        quitOnTerminationSignals(QCoreApplication::instance());
        // Without the handler either signal would end this test process on the spot.
        for (const int signal : {SIGTERM, SIGINT, SIGTERM}) {
            QTimer::singleShot(0, [signal] { ::raise(signal); });
            QTimer::singleShot(5000, [] { QCoreApplication::exit(2); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
