// The shared transfer helper against a real loopback server, in what its clients' tests do not
// reach: size limits on every kind of body, truncation, and stops that come early or from another thread.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "NetworkTransfer.h"
#include "ScriptedServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QtTest>
#include <thread>

using namespace std::chrono_literals;
using Delivery = ScriptedServer::Delivery;

class NetworkTransferTest : public QObject
{
    Q_OBJECT

    QNetworkAccessManager manager;

    Outcome<HttpReply> run(const ScriptedServer &server, TransferLimits limits, std::stop_token stop = {})
    {
        TransferRequest request;
        request.request.setUrl(server.url().resolved(QUrl("/thing")));
        return await(transfer(manager, request, limits, stop));
    }

private slots:
    void bodiesBeyondTheLimit()
    {
        QByteArray body;
        for (int i = 0; i < 6000; ++i)
            body += char('0' + i % 10);
        using Mode = TransferLimits::Oversized;
        const struct {
            const char *name;
            Delivery delivery;
            qint64 size;
            Mode mode;
            qint64 kept;  // -1: rejected
        } rows[] = {
            {"announced length at the limit", Delivery::complete, 4096, Mode::reject, 4096},
            // Half of it arrives before the connection drops: only the announced length tells.
            {"announced length over, cut short", Delivery::dropMidway, 6000, Mode::reject, -1},
            // Chunked, then an endless trickle: only the bytes received can tell.
            {"unannounced, endless", Delivery::stall, 6000, Mode::reject, -1},
            {"announced length over, truncated", Delivery::complete, 6000, Mode::truncate, 4096},
            {"unannounced, endless, truncated", Delivery::stall, 6000, Mode::truncate, 4096},
        };
        for (const auto &row : rows) {
            ScriptedServer server;
            server.enqueue({200, body.left(row.size), 0ms, row.delivery});
            const auto outcome = run(server, {20s, 4096, row.mode});
            if (row.kept < 0) {
                const auto oversized = outcome.errorAs<OversizedReply>();
                QVERIFY2(oversized && oversized->limit == 4096, row.name);
            } else {
                QVERIFY2(outcome.value && outcome.value->status == 200, row.name);
                QVERIFY2(outcome.value->body == body.left(row.kept), row.name);
            }
            if (row.delivery == Delivery::stall)
                QVERIFY2(server.waitForClientToLeave(2s), row.name);
        }
    }

    void stopsEndTheTransfer()
    {
        ScriptedServer server;
        std::stop_source early;
        early.request_stop();
        QVERIFY(run(server, {}, early.get_token()).errorAs<TaskCancelled>());
        QVERIFY(server.requests().isEmpty());

        server.enqueue({200, "{\"partial\":", 0ms, Delivery::stall});
        std::stop_source source;
        std::thread stopper([&source] {
            std::this_thread::sleep_for(100ms);
            source.request_stop();
        });
        QElapsedTimer clock;
        clock.start();
        const auto outcome = run(server, {}, source.get_token());
        stopper.join();
        QVERIFY(outcome.errorAs<TaskCancelled>());
        QVERIFY2(clock.elapsed() < 1000, "the stop must not wait for the server");
        QVERIFY(server.waitForClientToLeave(2s));
    }
};

QTEST_GUILESS_MAIN(NetworkTransferTest)
#include "NetworkTransferTest.moc"
