// GET /script.js from a real orvela-server: the two forms, caching, and agreement with the
// snippet the app shows.
#include "../server/ServerFixture.h"
#include "TrackingScript.h"
#include "TrackingSnippet.h"

#include <QRegularExpression>
#include <QTest>

namespace {

QByteArray bytes(std::string_view view)
{
    return QByteArray(view.data(), qsizetype(view.size()));
}

httplib::Result get(const RunningServer &server, httplib::Headers headers, bool decompress = false)
{
    auto client = server.client();
    client->set_decompress(decompress);
    return client->Get("/script.js", headers);
}

}  // namespace

class ScriptServingTest : public QObject
{
    Q_OBJECT

private slots:
    void servesPlainOrGzipAsTheClientAccepts()
    {
        RunningServer server(utc("2030-03-01T12:00:00Z"));

        const auto plain = get(server, {});
        QCOMPARE(statusOf(plain), 200);
        QCOMPARE(bodyOf(plain), bytes(TrackingScript::minified()));
        QVERIFY(!plain->has_header("Content-Encoding"));
        QCOMPARE(plain->get_header_value("Content-Type"), "application/javascript; charset=utf-8");
        QCOMPARE(plain->get_header_value("Cache-Control"), "public, max-age=3600");
        QCOMPARE(plain->get_header_value("Vary"), "Accept-Encoding");

        // What a browser sends: one gzip layer, the bytes made at build time.
        const auto gzip = get(server, {{"Accept-Encoding", "gzip, deflate, br, zstd"}});
        QCOMPARE(statusOf(gzip), 200);
        QCOMPARE(gzip->get_header_value("Content-Encoding"), "gzip");
        QCOMPARE(bodyOf(gzip), bytes(TrackingScript::gzipped()));
        QVERIFY(TrackingScript::gzipped().size() < TrackingScript::minified().size());
        const auto unpacked = get(server, {{"Accept-Encoding", "gzip"}}, true);
        QCOMPARE(bodyOf(unpacked), bytes(TrackingScript::minified()));

        QVERIFY(gzip->get_header_value("ETag") != plain->get_header_value("ETag"));
        QCOMPARE(gzip->get_header_value("Cache-Control"), "public, max-age=3600");

        for (const char *refused : {"gzip;q=0", "identity", "br", "GZIP; q=0.0, deflate"}) {
            const auto result = get(server, {{"Accept-Encoding", refused}});
            QVERIFY2(!result->has_header("Content-Encoding"), refused);
            QCOMPARE(bodyOf(result), bytes(TrackingScript::minified()));
        }
        QCOMPARE(get(server, {{"Accept-Encoding", "*"}})->get_header_value("Content-Encoding"), "gzip");

        auto client = server.client();
        const auto head = client->Head("/script.js");
        QCOMPARE(statusOf(head), 200);
        QVERIFY(head->body.empty());
    }

    void answersARevalidationWithNotModified()
    {
        RunningServer server(utc("2030-03-01T12:00:00Z"));
        const std::string plainTag = get(server, {})->get_header_value("ETag");
        const std::string gzipTag = get(server, {{"Accept-Encoding", "gzip"}})->get_header_value("ETag");
        QVERIFY(plainTag.starts_with('"') && plainTag.ends_with('"'));

        const auto same = get(server, {{"If-None-Match", plainTag}});
        QCOMPARE(statusOf(same), 304);
        QVERIFY(same->body.empty());
        QCOMPARE(same->get_header_value("ETag"), plainTag);
        QCOMPARE(statusOf(get(server, {{"If-None-Match", "\"other\", W/" + gzipTag}, {"Accept-Encoding", "gzip"}})),
                 304);
        // A cached plain copy does not stand for the gzip form, nor the other way round.
        QCOMPARE(statusOf(get(server, {{"If-None-Match", plainTag}, {"Accept-Encoding", "gzip"}})), 200);
        QCOMPARE(statusOf(get(server, {{"If-None-Match", gzipTag}})), 200);
        QCOMPARE(statusOf(get(server, {{"If-None-Match", "\"stale\""}})), 200);
    }

    void theAppsSnippetLoadsThisScript()
    {
        RunningServer server(utc("2030-03-01T12:00:00Z"));
        const QUuid site = QUuid::fromString(QStringLiteral("{6F1C2E4A-0B3D-4E5F-8A9B-C0D1E2F3A4B5}"));
        const QString snippet = trackingSnippet(site, server.url());
        const QRegularExpression form(
            QStringLiteral("^<script defer src=\"([^\"]+)\" data-site=\"([^\"]+)\"></script>$"));
        const auto match = form.match(snippet);
        QVERIFY2(match.hasMatch(), qPrintable(snippet));
        const QUrl src(match.captured(1));
        QCOMPARE(src.port(), server.port);
        QCOMPARE(statusOf(server.client()->Get(src.path().toStdString())), 200);
        QCOMPARE(match.captured(2), QStringLiteral("6f1c2e4a-0b3d-4e5f-8a9b-c0d1e2f3a4b5"));
        // The attribute the snippet sets is the one the script reads, and it posts where the
        // collector listens.
        const QByteArray script = bytes(TrackingScript::minified());
        QVERIFY(script.contains("\"data-site\""));
        QVERIFY(script.contains("\"/v1/event\""));
    }
};

QTEST_GUILESS_MAIN(ScriptServingTest)
#include "ScriptServingTest.moc"
