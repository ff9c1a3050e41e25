// The shared transfer helper against a real loopback server: replies, limits, stops, failures.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "NetworkTransfer.h"
#include "ScriptedServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QtTest>
#include <thread>

using namespace std::chrono_literals;
using Delivery = ScriptedServer::Reply::Delivery;

class NetworkTransferTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;

    TransferRequest get(const QString &path = QStringLiteral("/thing")) const
    {
        TransferRequest request;
        QUrl url = server->url();
        url.setPath(path);
        request.request.setUrl(url);
        return request;
    }

    Outcome<HttpReply> run(TransferRequest request, TransferLimits limits = {}, std::stop_token stop = {})
    {
        return await(transfer(*manager, std::move(request), limits, stop));
    }

private slots:
    void init()
    {
        server = std::make_unique<ScriptedServer>();
        manager = std::make_unique<QNetworkAccessManager>();
    }

    void cleanup()
    {
        manager.reset();
        server.reset();
    }

    void methodsAndBodiesAreSentAsGiven()
    {
        server->enqueue(ScriptedServer::Reply::json(200, "{}"));
        server->enqueue(ScriptedServer::Reply::json(200, "{}"));
        QVERIFY(run(get()).value);

        TransferRequest put = get(QStringLiteral("/state"));
        put.method = "PUT";
        put.body = QByteArray(R"({"a":1})");
        put.request.setRawHeader("Content-Type", "application/json");
        QVERIFY(run(put).value);

        const auto requests = server->requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].method, QByteArray("GET"));
        QVERIFY(requests[0].body.isEmpty());
        QVERIFY(!requests[0].hasHeader("Content-Type"));
        QVERIFY(!requests[0].hasHeader("Content-Length") || requests[0].header("Content-Length") == "0");
        QCOMPARE(requests[1].method, QByteArray("PUT"));
        QCOMPARE(requests[1].path, QStringLiteral("/state"));
        QCOMPARE(requests[1].body, QByteArray(R"({"a":1})"));
    }

    void bodiesBeyondTheLimit_data()
    {
        QTest::addColumn<int>("delivery");
        QTest::addColumn<qint64>("bodySize");
        QTest::addColumn<bool>("rejected");
        QTest::newRow("announced length over") << int(Delivery::complete) << qint64(4097) << true;
        // Half of it arrives before the connection drops: only the announced length tells.
        QTest::newRow("announced length over, cut short") << int(Delivery::dropMidway) << qint64(6000) << true;
        QTest::newRow("announced length at the limit") << int(Delivery::complete) << qint64(4096) << false;
        // Chunked, then an endless trickle: only the bytes received can tell.
        QTest::newRow("unannounced, endless") << int(Delivery::stall) << qint64(6000) << true;
    }

    void bodiesBeyondTheLimit()
    {
        QFETCH(int, delivery);
        QFETCH(qint64, bodySize);
        QFETCH(bool, rejected);
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, QByteArray(bodySize, 'x'));
        reply.delivery = Delivery(delivery);
        server->enqueue(reply);

        TransferLimits limits;
        limits.maxBodyBytes = 4096;
        const auto outcome = run(get(), limits);
        if (!rejected) {
            QVERIFY(outcome.value);
            QCOMPARE(outcome.value->body.size(), bodySize);
            return;
        }
        const auto oversized = outcome.errorAs<OversizedReply>();
        QVERIFY(oversized);
        QCOMPARE(oversized->limit, 4096);
        if (Delivery(delivery) == Delivery::stall)
            QVERIFY(server->waitForClientToLeave(2s));
    }

    void truncatingKeepsTheFirstBytes_data()
    {
        QTest::addColumn<int>("delivery");
        QTest::newRow("announced") << int(Delivery::complete);
        QTest::newRow("endless") << int(Delivery::stall);
    }

    void truncatingKeepsTheFirstBytes()
    {
        QFETCH(int, delivery);
        QByteArray body;
        for (int i = 0; i < 2000; ++i)
            body += QByteArray::number(i % 10);
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, body);
        reply.delivery = Delivery(delivery);
        server->enqueue(reply);

        TransferLimits limits;
        limits.maxBodyBytes = 1500;
        limits.oversized = TransferLimits::Oversized::truncate;
        const auto outcome = run(get(), limits);
        QVERIFY(outcome.value);
        QCOMPARE(outcome.value->status, std::optional(200));
        QCOMPARE(outcome.value->body, body.left(1500));
    }

    void stopsEndTheTransfer_data()
    {
        QTest::addColumn<bool>("fromAnotherThread");
        QTest::newRow("main thread") << false;
        QTest::newRow("another thread") << true;
    }

    void stopsEndTheTransfer()
    {
        QFETCH(bool, fromAnotherThread);
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, "{\"partial\":");
        reply.delivery = Delivery::stall;
        server->enqueue(reply);

        std::stop_source source;
        std::thread stopper;
        if (fromAnotherThread) {
            stopper = std::thread([&source] {
                std::this_thread::sleep_for(100ms);
                source.request_stop();
            });
        } else {
            QTimer::singleShot(100ms, [&source] { source.request_stop(); });
        }
        QElapsedTimer clock;
        clock.start();
        const auto outcome = run(get(), {}, source.get_token());
        if (stopper.joinable())
            stopper.join();

        QVERIFY(outcome.errorAs<TaskCancelled>());
        QVERIFY2(clock.elapsed() < 1000, "the stop must not wait for the server");
        QVERIFY(server->waitForClientToLeave(2s));
    }

    void aStopBeforeTheStartSendsNothing()
    {
        std::stop_source source;
        source.request_stop();
        QVERIFY(run(get(), {}, source.get_token()).errorAs<TaskCancelled>());
        QVERIFY(server->requests().isEmpty());
    }

    void silenceBeyondTheTimeOut()
    {
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, "{}");
        reply.delay = 1500ms;
        server->enqueue(reply);
        TransferLimits limits;
        limits.timeout = 100ms;
        QElapsedTimer clock;
        clock.start();
        const auto error = run(get(), limits).errorAs<TransferError>();
        QVERIFY(error);
        QCOMPARE(error->code, QNetworkReply::OperationCanceledError);
        QVERIFY(!error->stopRequested);
        QVERIFY(clock.elapsed() < 1000);
    }

    void failedConnections()
    {
        TransferRequest refused;
        refused.request.setUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(closedLoopbackPort())));
        const auto refusedError = run(refused).errorAs<TransferError>();
        QVERIFY(refusedError);
        QCOMPARE(refusedError->code, QNetworkReply::ConnectionRefusedError);
        QCOMPARE(refusedError->httpStatus, std::nullopt);

        // The status line arrived, but half the body did not: not a reply.
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, QByteArray(2000, 'x'));
        reply.delivery = Delivery::dropMidway;
        server->enqueue(reply);
        const auto dropped = run(get()).errorAs<TransferError>();
        QVERIFY(dropped);
        QCOMPARE(dropped->code, QNetworkReply::RemoteHostClosedError);
        QCOMPARE(dropped->httpStatus, std::optional(200));
    }
};

QTEST_GUILESS_MAIN(NetworkTransferTest)
#include "NetworkTransferTest.moc"
