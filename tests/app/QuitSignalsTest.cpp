// SIGINT and SIGTERM end the event loop the way "Quit Orvela" does, with status 0.
#include "QuitSignals.h"

#include <QTest>
#include <QTimer>
#include <csignal>

class QuitSignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void signalsQuitTheEventLoop()
    {
        quitOnTerminationSignals(qApp);
        // Without the handler either signal would end this test process on the spot.
        for (const int signal : {SIGTERM, SIGINT, SIGTERM}) {
            QTimer::singleShot(0, [signal] { ::raise(signal); });
            QTimer::singleShot(5000, [] { QCoreApplication::exit(2); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(QuitSignalsTest)
#include "QuitSignalsTest.moc"
