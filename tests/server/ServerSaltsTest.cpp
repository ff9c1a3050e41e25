// The salt secret that servers sharing one database derive their salts from: copies agree,
// the file keeps only the current day's key, and the previous day's salt lives in memory alone.
#include "KeyFileSalts.h"
#include "VisitCounter.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const qint64 day = 19850;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray mac(const QByteArray &key, const char *message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

bool ownerOnly(const QString &path)
{
    return (QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser)) == (QFile::ReadOwner | QFile::WriteOwner);
}

QByteArray keyIn(const QString &path)
{
    return QByteArray::fromHex(readAll(path).split('\n').value(2).mid(4));
}

}  // namespace

class ServerSaltsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    // Two servers with copies of one file give a visitor the same salt on the same day, however
    // long either was down; a copy of the file taken later gives no earlier day's salt.
    void copiesAgreeAndOnlyTheCurrentKeyIsKept()
    {
        const QString first = folder.filePath("first"), second = folder.filePath("second");
        KeyFileSalts::create(first, day);
        QVERIFY(QFile::copy(first, second));
        const QByteArray original = keyIn(first);
        QCOMPARE(original.size(), 32);
        QVERIFY(ownerOnly(first));

        KeyFileSalts running(first, day);
        QList<QByteArray> salts;
        for (qint64 d = day; d <= day + 2; ++d)
            salts << *running.salt(d);
        KeyFileSalts late(second, day + 2);  // down for two days
        QCOMPARE(late.salt(day + 2), salts[2]);
        QCOMPARE(late.keptSalt(day + 1), salts[1]);  // the day before, for the grace period
        QCOMPARE(late.salt(day), std::nullopt);

        // The documented chain, so that servers of other versions agree.
        const QByteArray next = mac(mac(original, "next"), "next");
        QCOMPARE(salts[2], mac(next, "salt"));
        QCOMPARE(readAll(first),
                 "orvela-server salt secret\nday " + QByteArray::number(day + 2) + "\nkey " + next.toHex() + '\n');
        QVERIFY(ownerOnly(first));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);  // no temporary file left
    }

    // After midnight the day before's salt goes on for open visits, from memory only.
    void thePreviousSaltForTheGracePeriod()
    {
        const QString path = folder.filePath("grace");
        KeyFileSalts::create(path, day);
        const QByteArray before = *KeyFileSalts(QString(path), day).salt(day);

        // A server down across midnight still has it if the file had not moved on.
        QByteArray copy = readAll(path);
        {
            KeyFileSalts restarted(path, day + 1);
            QCOMPARE(restarted.keptSalt(day), before);
            QCOMPARE(restarted.keyDay(), day + 1);
        }
        // Restarted again within the grace period: the file has moved on, the salt is gone.
        QCOMPARE(KeyFileSalts(path, day + 1).keptSalt(day), std::nullopt);

        // A running server keeps it until the grace period is over. The counter moves the key
        // on at midnight even when no visitor comes.
        QFile rewind(path);
        QVERIFY(rewind.open(QIODevice::WriteOnly) && rewind.write(copy) == copy.size());
        rewind.close();
        KeyFileSalts running(path, day);
        VisitCounter counter(running);
        counter.maintain(day * secondsPerDay + 3600);
        counter.maintain((day + 1) * secondsPerDay + 1);
        QCOMPARE(readAll(path).split('\n').value(1), "day " + QByteArray::number(day + 1));
        QCOMPARE(running.keptSalt(day), before);
        counter.maintain((day + 1) * secondsPerDay + Counting::saltGrace);
        QCOMPARE(running.keptSalt(day), std::nullopt);
        QCOMPARE(running.salt(day), std::nullopt);
    }

    void badFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("reason");
        const QByteArray key = QByteArray(32, 'k').toHex();
        const QString notOne =
            QStringLiteral("it is not a salt secret ('orvela-server salt-secret create FILE' makes one)");
        QTest::newRow("empty") << QByteArray() << notOne;
        QTest::newRow("another heading") << "salts\nday 1\nkey " + key + '\n' << notOne;
        QTest::newRow("no day") << "orvela-server salt secret\nday x\nkey " + key + '\n' << notOne;
        QTest::newRow("short key") << "orvela-server salt secret\nday 1\nkey " + key.left(62) + '\n' << notOne;
        QTest::newRow("not hex") << "orvela-server salt secret\nday 1\nkey " + QByteArray(64, 'z') + '\n' << notOne;
        QTest::newRow("a runtime salt file") << "19850 " + key + '\n' << notOne;
    }

    void badFilesAreRefused()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, reason);
        const QString path = folder.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        try {
            KeyFileSalts salts(path, day);
            QFAIL("a file that is no salt secret was taken");
        } catch (const SaltSecretError &error) {
            QCOMPARE(QString::fromUtf8(error.what()), reason);
        }
        QCOMPARE(readAll(path), contents);
    }

    void aSecretIsNeverOverwritten()
    {
        const QString path = folder.filePath("kept");
        KeyFileSalts::create(path, day);
        const QByteArray before = readAll(path);
        QVERIFY_THROWS_EXCEPTION(SaltSecretError, KeyFileSalts::create(path, day + 1));
        QCOMPARE(readAll(path), before);
        QVERIFY_THROWS_EXCEPTION(SaltSecretError, KeyFileSalts(folder.filePath("missing"), day));
    }
};

QTEST_GUILESS_MAIN(ServerSaltsTest)
#include "ServerSaltsTest.moc"
