// One Orvela per session: a second launch hands off to the first and ends.
#include "SingleInstance.h"

#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <future>

using namespace std::chrono_literals;

namespace {

// The second launch blocks while it waits for the first, so it runs on a thread of its own
// while this one keeps the first's event loop turning.
std::future<SingleInstance::Role> launchAnother(const QString &directory, std::chrono::milliseconds wait)
{
    return std::async(std::launch::async, [directory, wait] { return SingleInstance(directory).claim(wait); });
}

SingleInstance::Role awaitRole(std::future<SingleInstance::Role> &launch)
{
    while (launch.wait_for(10ms) != std::future_status::ready)
        QCoreApplication::processEvents();
    return launch.get();
}

}  // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondLaunchAsksTheFirstToOpenItsPanel()
    {
        QTemporaryDir directory;
        SingleInstance first(directory.path());
        QCOMPARE(first.claim(), SingleInstance::Role::primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        auto second = launchAnother(directory.path(), 3s);
        QCOMPARE(awaitRole(second), SingleInstance::Role::handedOff);
        QCOMPARE(activations.count(), 1);

        // And again: the first keeps listening.
        auto third = launchAnother(directory.path(), 3s);
        QCOMPARE(awaitRole(third), SingleInstance::Role::handedOff);
        QCOMPARE(activations.count(), 2);
    }

    void aSocketLeftByACrashedInstanceDoesNotStopANewOne()
    {
        QTemporaryDir directory;
        {
            QFile stale(SingleInstance(directory.path()).socketPath());
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        SingleInstance first(directory.path());
        QCOMPARE(first.claim(), SingleInstance::Role::primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        auto second = launchAnother(directory.path(), 3s);
        QCOMPARE(awaitRole(second), SingleInstance::Role::handedOff);
        QCOMPARE(activations.count(), 1);
    }

    void theFirstToTakeTheLockWinsEvenBeforeItListens()
    {
        // The lock is held but nobody listens yet: the second waits, then gives up.
        QTemporaryDir directory;
        QLockFile held(directory.filePath(QStringLiteral("orvela.lock")));
        QVERIFY(held.tryLock(0));
        auto second = launchAnother(directory.path(), 300ms);
        QCOMPARE(awaitRole(second), SingleInstance::Role::failed);
    }

    void anUnusableDirectoryDoesNotStopOrvela()
    {
        QTemporaryDir directory;
        QFile blocker(directory.filePath(QStringLiteral("not-a-directory")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        SingleInstance instance(blocker.fileName());
        QCOMPARE(instance.claim(200ms), SingleInstance::Role::primary);
    }

    void aClosedInstanceMakesRoomForTheNext()
    {
        QTemporaryDir directory;
        {
            SingleInstance first(directory.path());
            QCOMPARE(first.claim(), SingleInstance::Role::primary);
        }
        SingleInstance next(directory.path());
        QCOMPARE(next.claim(), SingleInstance::Role::primary);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
