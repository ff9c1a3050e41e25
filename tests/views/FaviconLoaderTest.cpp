// The favicon loader against real HTTPS sites on loopback: what it asks for, in which order,
// what it accepts, and when it gives up.
#include "FaviconLoader.h"

#include <QBuffer>
#include <QImage>
#include <QMap>
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
const std::string keyPath = ORVELA_TEST_TLS_DIR "/loopback.key";

QByteArray png(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::red);
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
        QByteArray accept, host;
    };

    explicit IconSite(const QMap<QString, Page> &pages = {})
        : m_pages(pages)
        , m_server(certificatePath.toStdString().c_str(), keyPath.c_str())
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
    const QMap<QString, Page> m_pages;
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QList<Seen> m_seen;
};

IconSite::Page home(const QByteArray &html, int status = 200, std::chrono::milliseconds delay = {})
{
    return {status, html, "text/html", delay};
}

// Loads the domain's icon and waits for the result: the icon's size, or an invalid size for none.
QSize loadIcon(const QString &domain)
{
    FaviconLoader loader;
    QSignalSpy finished(&loader, &FaviconLoader::loadFinished);
    loader.setDomain(domain);
    if (finished.isEmpty() && !finished.wait(20000))
        qFatal("the favicon load never finished");
    return loader.hasImage() ? loader.image().size() : QSize();
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
        QCOMPARE(Favicon::origin("  HTTPS://Shop.Example.ORG/blog/post?x=1 "), QUrl("https://shop.example.org"));
        QCOMPARE(Favicon::origin("http://example.org:8443/path"), QUrl("https://example.org:8443"));
        QCOMPARE(Favicon::origin("example.org:"), QUrl("https://example.org"));
        // Not a port: the whole text is taken as the host, which is no host at all.
        for (const char *noHost : {"example.org:web", "example.org:99999", "my site.org", " https:// ", ""})
            QCOMPARE(Favicon::origin(noHost), std::nullopt);
    }

    void declaredIconsInTheirOrder()
    {
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
        QCOMPARE(Favicon::declaredIcons(page, QUrl("https://example.org:8443")),
                 (QList<QUrl>{QUrl("https://example.org:8443/img/icon.png"), QUrl("https://cdn.example.net/a.ico"),
                              QUrl("https://other.example/b.png"), QUrl("https://example.org:8443/touch.png")}));
    }

    void declaredIconsComeBeforeTheUsualPaths()
    {
        IconSite site({{"/", home(R"(<link rel="apple-touch-icon" href="/touch.png"><link rel="icon" href="/static/site.png">)")},
                       {"/static/site.png", {200, png(32)}},
                       {"/touch.png", {200, png(180)}},
                       {"/favicon.ico", {200, png(16)}}});
        QCOMPARE(loadIcon(site.domain()), QSize(32, 32));
        QCOMPARE(site.paths(), (QStringList{"/", "/static/site.png"}));
        // The page is asked for as HTML, and every request keeps the site's port.
        QCOMPARE(site.seen().first().accept, "text/html");
        for (const IconSite::Seen &request : site.seen())
            QCOMPARE(request.host, site.domain().toLatin1());
    }

    void plainIconsBeforeTouchIconsAndMasksSkipped()
    {
        IconSite site({{"/", home(R"(<link rel="mask-icon" href="/mask.svg"><link rel="apple-touch-icon" href="/touch.png">
                                     <link rel="icon" href="/broken.png"><link rel="icon" href="/broken.png">)")},
                       {"/mask.svg", {200, png(64)}},
                       {"/broken.png", {500, png(64)}},
                       {"/touch.png", {200, png(180)}}});
        QCOMPARE(loadIcon(site.domain()), QSize(180, 180));
        QCOMPARE(site.paths(), (QStringList{"/", "/broken.png", "/touch.png"}));
    }

    void unusableBodiesAreSkipped()
    {
        const QByteArray onePixel = png(1);
        QVERIFY(onePixel.size() > 32);
        IconSite site({{"/", home(R"(<link rel="icon" href="/one.png"><link rel="icon" href="/empty.ico">
                                     <link rel="icon" href="/error.png"><link rel="icon" href="/huge.png">
                                     <link rel="icon" href="/tiny.png"><link rel="icon" href="favicon.ico">)")},
                       {"/one.png", {200, onePixel}},
                       {"/empty.ico", {200, {}}},
                       {"/error.png", home("<html><body><h1>Page not found</h1></body></html>")},
                       // A real image, padded to the first size that is refused.
                       {"/huge.png", {200, png(48).leftJustified(1'000'000, '\0')}},
                       // 32 bytes of a real image are too few to hold one.
                       {"/tiny.png", {200, png(2).left(32)}},
                       {"/favicon.ico", {200, png(24).leftJustified(999'999, '\0')}}});
        QCOMPARE(loadIcon(site.domain()), QSize(24, 24));
        // favicon.ico was declared, so it is not asked for a second time.
        QCOMPARE(site.paths(),
                 (QStringList{"/", "/one.png", "/empty.ico", "/error.png", "/huge.png", "/tiny.png", "/favicon.ico"}));
    }

    // A failed home page leaves only the usual paths; with nothing there either, no image.
    void fallbacks()
    {
        IconSite site({{"/", home(R"(<link rel="icon" href="/declared.png">)", 503)},
                       {"/declared.png", {200, png(32)}},
                       {"/favicon.png", {200, png(20)}}});
        QCOMPARE(loadIcon(site.domain()), QSize(20, 20));
        QCOMPARE(site.paths(), (QStringList{"/", "/favicon.ico", "/apple-touch-icon.png", "/favicon.png"}));
        IconSite empty;
        QCOMPARE(loadIcon(empty.domain()), QSize());
        QCOMPARE(empty.paths().size(), 4);

        // No host at all: finished at once.
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
        QByteArray page = "<html><head><title>Caf\xe9</title><link rel=\"icon\" href=\"/latin1.png\">";
        // "é" in UTF-8 is two bytes: start it on the very last byte kept.
        page = page.leftJustified(199'999, ' ') + "\xc3\xa9" + "<link rel=\"icon\" href=\"/late.png\"></head></html>";
        IconSite site({{"/", home(page)}, {"/late.png", {200, png(64)}}, {"/latin1.png", {200, png(40)}}});
        QCOMPARE(loadIcon(site.domain()), QSize(40, 40));
        QVERIFY(!site.paths().contains(QStringLiteral("/late.png")));
    }

    // A new domain cancels the load for the old one, and so does destroying the loader.
    void cancelledLoadsGoNoFurther()
    {
        using namespace std::chrono_literals;
        IconSite slow({{"/", home(R"(<link rel="icon" href="/old.png">)", 200, 1500ms)}, {"/old.png", {200, png(50)}}});
        IconSite fast({{"/favicon.ico", {200, png(30)}}});

        auto destroyed = std::make_unique<FaviconLoader>();
        destroyed->setDomain(slow.domain());
        FaviconLoader loader;
        QSignalSpy finished(&loader, &FaviconLoader::loadFinished);
        QSignalSpy changed(&loader, &FaviconLoader::imageChanged);
        loader.setDomain(slow.domain());
        QTRY_COMPARE_WITH_TIMEOUT(slow.paths().size(), 2, 5000);
        destroyed.reset();
        loader.setDomain(fast.domain());
        QVERIFY(finished.wait(10000));
        QCOMPARE(loader.image().size(), QSize(30, 30));
        QCOMPARE(changed.size(), 1);

        // The old site's page arrives too late to lead anywhere.
        QTest::qWait(2000);
        QCOMPARE(slow.paths(), (QStringList{"/", "/"}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(loader.image().size(), QSize(30, 30));
    }
};

QTEST_MAIN(FaviconLoaderTest)
#include "FaviconLoaderTest.moc"
