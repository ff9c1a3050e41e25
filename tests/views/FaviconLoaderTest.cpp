// The favicon loader against real HTTPS sites on loopback: what it asks for, in which order,
// what it accepts, and when it gives up.
#include "FaviconLoader.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>
#include <chrono>
#include <httplib.h>
#include <mutex>
#include <thread>

namespace {

const QString certificatePath = QStringLiteral(ORVELA_TEST_TLS_DIR "/loopback.crt");
const QString keyPath = QStringLiteral(ORVELA_TEST_TLS_DIR "/loopback.key");

QByteArray png(int width, int height, QColor color = Qt::red)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A website on 127.0.0.1 over HTTPS that answers each path from a table and notes each request.
class IconSite
{
public:
    struct Page {
        int status = 200;
        QByteArray body;
        std::string contentType = "image/png";
        std::chrono::milliseconds delay{0};
    };
    struct Seen {
        QString path;
        QByteArray accept;
        QByteArray host;
    };

    IconSite()
        : m_server(certificatePath.toLocal8Bit().constData(), keyPath.toLocal8Bit().constData())
    {
        m_server.set_tcp_nodelay(true);
        // One request per connection: a kept-alive one would hold the server open at the end.
        m_server.set_keep_alive_max_count(1);
        m_server.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
            Page page{404, "<html><body>Not found</body></html>", "text/html"};
            {
                std::lock_guard lock(m_mutex);
                m_seen.append({QString::fromStdString(request.path),
                               QByteArray::fromStdString(request.get_header_value("Accept")),
                               QByteArray::fromStdString(request.get_header_value("Host"))});
                page = m_pages.value(QString::fromStdString(request.path), page);
            }
            std::this_thread::sleep_for(page.delay);
            response.status = page.status;
            response.set_content(page.body.constData(), size_t(page.body.size()), page.contentType);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~IconSite()
    {
        m_server.stop();
        m_thread.join();
    }

    // What the user would type: host and port.
    QString domain() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    int port() const { return m_port; }

    void serve(const QString &path, const Page &page)
    {
        std::lock_guard lock(m_mutex);
        m_pages.insert(path, page);
    }
    void serveHome(const QByteArray &html) { serve(QStringLiteral("/"), {200, html, "text/html"}); }

    QList<Seen> seen() const
    {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }
    QStringList paths() const
    {
        QStringList paths;
        for (const Seen &request : seen())
            paths.append(request.path);
        return paths;
    }

private:
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QMap<QString, Page> m_pages;
    QList<Seen> m_seen;
};

// Loads the domain's icon and waits for the result.
std::optional<QImage> loadIcon(const QString &domain)
{
    FaviconLoader loader;
    QSignalSpy finished(&loader, &FaviconLoader::loadFinished);
    loader.setDomain(domain);
    if (finished.isEmpty() && !finished.wait(20000))
        qFatal("the favicon load never finished");
    return loader.hasImage() ? std::optional(loader.image()) : std::nullopt;
}

}  // namespace

class FaviconLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The loader trusts what the system trusts; the loopback site's certificate joins that.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(QSslCertificate::fromPath(certificatePath));
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    void originFromWhatWasTyped()
    {
        QCOMPARE(Favicon::origin(QStringLiteral("  HTTPS://Shop.Example.ORG/blog/post?x=1 ")),
                 QUrl(QStringLiteral("https://shop.example.org")));
        QCOMPARE(Favicon::origin(QStringLiteral("http://example.org:8443/path")),
                 QUrl(QStringLiteral("https://example.org:8443")));
        QCOMPARE(Favicon::origin(QStringLiteral("example.org:")), QUrl(QStringLiteral("https://example.org")));
        // Not a port: the whole text is taken as the host, which is no host at all.
        QCOMPARE(Favicon::origin(QStringLiteral("example.org:web")), std::nullopt);
        QCOMPARE(Favicon::origin(QStringLiteral("example.org:99999")), std::nullopt);
        QCOMPARE(Favicon::origin(QStringLiteral("my site.org")), std::nullopt);
        QCOMPARE(Favicon::origin(QStringLiteral(" https:// ")), std::nullopt);
        QCOMPARE(Favicon::origin(QString()), std::nullopt);
    }

    void declaredIconsInTheirOrder()
    {
        const QUrl origin(QStringLiteral("https://example.org:8443"));
        const QByteArray page = "<html><head>\n"
                                "<LINK REL=\"apple-touch-icon\" HREF=\"/touch.png\">\n"
                                "<link rel='mask-icon' href='/mask.svg' color='#000'>\n"
                                "<link href=\"img/icon.png\" rel=\"Shortcut Icon\">\n"
                                "<link rel=icon href=/unquoted.png>\n"
                                "<link rel=\"icon\">\n"
                                "<link rel=\"stylesheet\" href=\"/site.css\">\n"
                                "<link rel=\"icon\" href=\"//cdn.example.net/a.ico\">\n"
                                "<link rel=\"icon\" href=\"javascript:alert(1)\">\n"
                                "<link rel=\"icon\" href='https://other.example/b.png'></head>";
        QCOMPARE(Favicon::declaredIcons(page, origin),
                 (QList<QUrl>{QUrl(QStringLiteral("https://example.org:8443/img/icon.png")),
                              QUrl(QStringLiteral("https://cdn.example.net/a.ico")),
                              QUrl(QStringLiteral("https://other.example/b.png")),
                              QUrl(QStringLiteral("https://example.org:8443/touch.png"))}));
    }

    void candidatesWithoutRepeats()
    {
        const QUrl origin(QStringLiteral("https://example.org"));
        const QList<QUrl> declared{QUrl(QStringLiteral("https://example.org/favicon.ico")),
                                   QUrl(QStringLiteral("https://example.org/a.png")),
                                   QUrl(QStringLiteral("https://example.org/a.png"))};
        QCOMPARE(Favicon::candidates(declared, origin),
                 (QList<QUrl>{QUrl(QStringLiteral("https://example.org/favicon.ico")),
                              QUrl(QStringLiteral("https://example.org/a.png")),
                              QUrl(QStringLiteral("https://example.org/apple-touch-icon.png")),
                              QUrl(QStringLiteral("https://example.org/favicon.png"))}));
    }

    void declaredIconsComeBeforeTheUsualPaths()
    {
        IconSite site;
        site.serveHome(R"html(<link rel="apple-touch-icon" href="/touch.png"><link rel="icon" href="/static/site.png">)html");
        site.serve(QStringLiteral("/static/site.png"), {200, png(32, 32)});
        site.serve(QStringLiteral("/touch.png"), {200, png(180, 180)});
        site.serve(QStringLiteral("/favicon.ico"), {200, png(16, 16)});

        const std::optional<QImage> icon = loadIcon(site.domain());
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(32, 32));
        QCOMPARE(site.paths(), (QStringList{"/", "/static/site.png"}));
        // The page is asked for as HTML, and every request keeps the site's port.
        QCOMPARE(site.seen().first().accept, QByteArray("text/html"));
        for (const IconSite::Seen &request : site.seen())
            QCOMPARE(request.host, QStringLiteral("127.0.0.1:%1").arg(site.port()).toLatin1());
    }

    void plainIconsBeforeTouchIconsAndMasksSkipped()
    {
        IconSite site;
        site.serveHome(R"html(<link rel="mask-icon" href="/mask.svg"><link rel="apple-touch-icon" href="/touch.png">
                          <link rel="icon" href="/broken.png"><link rel="icon" href="/broken.png">)html");
        site.serve(QStringLiteral("/mask.svg"), {200, png(64, 64)});
        site.serve(QStringLiteral("/broken.png"), {500, png(64, 64)});
        site.serve(QStringLiteral("/touch.png"), {200, png(180, 180)});

        const std::optional<QImage> icon = loadIcon(site.domain());
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(180, 180));
        QCOMPARE(site.paths(), (QStringList{"/", "/broken.png", "/touch.png"}));
    }

    void unusableBodiesAreSkipped()
    {
        IconSite site;
        site.serveHome(R"html(<link rel="icon" href="/one.png"><link rel="icon" href="/empty.ico">
                          <link rel="icon" href="/error.png"><link rel="icon" href="/huge.png">
                          <link rel="icon" href="/tiny.png"><link rel="icon" href="favicon.ico">)html");
        const QByteArray onePixel = png(1, 1);
        QVERIFY(onePixel.size() > 32);
        site.serve(QStringLiteral("/one.png"), {200, onePixel});
        site.serve(QStringLiteral("/empty.ico"), {200, {}});
        site.serve(QStringLiteral("/error.png"), {200, "<html><body><h1>Page not found</h1></body></html>", "text/html"});
        // A real image, padded to the first size that is refused.
        site.serve(QStringLiteral("/huge.png"), {200, png(48, 48).leftJustified(1'000'000, '\0')});
        // 32 bytes of a real image are too few to hold one.
        site.serve(QStringLiteral("/tiny.png"), {200, png(2, 2).left(32)});
        site.serve(QStringLiteral("/favicon.ico"), {200, png(24, 24).leftJustified(999'999, '\0')});

        const std::optional<QImage> icon = loadIcon(site.domain());
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(24, 24));
        // favicon.ico was declared, so it is not asked for a second time.
        QCOMPARE(site.paths(), (QStringList{"/", "/one.png", "/empty.ico", "/error.png", "/huge.png", "/tiny.png",
                                           "/favicon.ico"}));
    }

    void homePageFailureFallsBackToTheUsualPaths()
    {
        IconSite site;
        site.serve(QStringLiteral("/"), {503, R"html(<link rel="icon" href="/declared.png">)html", "text/html"});
        site.serve(QStringLiteral("/declared.png"), {200, png(32, 32)});
        site.serve(QStringLiteral("/favicon.png"), {200, png(20, 20)});

        const std::optional<QImage> icon = loadIcon(site.domain());
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(20, 20));
        QCOMPARE(site.paths(), (QStringList{"/", "/favicon.ico", "/apple-touch-icon.png", "/favicon.png"}));
    }

    void nothingUsableLeavesNoImage()
    {
        IconSite site;
        QCOMPARE(loadIcon(site.domain()), std::nullopt);
        QCOMPARE(site.paths(), (QStringList{"/", "/favicon.ico", "/apple-touch-icon.png", "/favicon.png"}));

        FaviconLoader loader;
        QSignalSpy finished(&loader, &FaviconLoader::loadFinished);
        loader.setDomain(QStringLiteral("no host here/"));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!loader.hasImage());
    }

    // Links cut at the size limit or written in another encoding still count; links beyond
    // the first 200,000 bytes do not.
    void onlyTheStartOfTheHomePageIsRead()
    {
        IconSite site;
        QByteArray page = "<html><head><title>Caf\xe9</title><link rel=\"icon\" href=\"/latin1.png\">";
        // "é" in UTF-8 is two bytes: start it on the very last byte kept.
        page = page.leftJustified(199'999, ' ') + QByteArray("\xc3\xa9");
        page += "<link rel=\"icon\" href=\"/late.png\"></head></html>";
        site.serveHome(page);
        site.serve(QStringLiteral("/late.png"), {200, png(64, 64)});
        site.serve(QStringLiteral("/latin1.png"), {200, png(40, 40)});

        const std::optional<QImage> icon = loadIcon(site.domain());
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSize(40, 40));
        QVERIFY(!site.paths().contains(QStringLiteral("/late.png")));
    }

    void aNewDomainCancelsTheLoadOfTheOldOne()
    {
        IconSite slow;
        slow.serve(QStringLiteral("/"), {200, R"html(<link rel="icon" href="/old.png">)html", "text/html",
                                         std::chrono::milliseconds(1500)});
        slow.serve(QStringLiteral("/old.png"), {200, png(50, 50)});
        IconSite fast;
        fast.serve(QStringLiteral("/favicon.ico"), {200, png(30, 30)});

        FaviconLoader loader;
        QSignalSpy finished(&loader, &FaviconLoader::loadFinished);
        QSignalSpy changed(&loader, &FaviconLoader::imageChanged);
        loader.setDomain(slow.domain());
        QTRY_COMPARE_WITH_TIMEOUT(slow.paths().size(), 1, 5000);
        loader.setDomain(fast.domain());
        QVERIFY(finished.wait(10000));
        QCOMPARE(loader.image().size(), QSize(30, 30));
        QCOMPARE(changed.size(), 1);

        // The old site's page arrives too late to lead anywhere.
        QTest::qWait(2000);
        QCOMPARE(slow.paths(), QStringList{"/"});
        QCOMPARE(finished.size(), 1);
        QCOMPARE(loader.image().size(), QSize(30, 30));
    }

    void destroyingTheLoaderCancelsItsLoad()
    {
        IconSite slow;
        slow.serve(QStringLiteral("/"), {200, R"html(<link rel="icon" href="/icon.png">)html", "text/html",
                                         std::chrono::milliseconds(800)});
        slow.serve(QStringLiteral("/icon.png"), {200, png(50, 50)});
        {
            FaviconLoader loader;
            loader.setDomain(slow.domain());
            QTRY_COMPARE_WITH_TIMEOUT(slow.paths().size(), 1, 5000);
        }
        QTest::qWait(1500);
        QCOMPARE(slow.paths(), QStringList{"/"});
    }
};

QTEST_MAIN(FaviconLoaderTest)
#include "FaviconLoaderTest.moc"
