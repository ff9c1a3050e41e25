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

using namespace std::chrono_literals;

namespace {

const QString certificatePath = QStringLiteral(ORVELA_TEST_TLS_DIR "/loopback.crt");

QByteArray png(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");  // opens the buffer itself
    return bytes;
}

struct Page {
    int status = 200;
    QByteArray body;
    std::string contentType = "image/png";
    std::chrono::milliseconds delay = 0ms;
};

Page home(const QByteArray &html, int status = 200, std::chrono::milliseconds delay = 0ms)
{
    return {status, html, "text/html", delay};
}

// A website on 127.0.0.1 over HTTPS that answers each path from a table and notes each path
// asked for. Like a strict server it answers only requests for its own host and port, and its
// home page only to those asking for HTML.
class IconSite
{
public:
    explicit IconSite(const QMap<QString, Page> &pages = {})
        : m_server(certificatePath.toStdString().c_str(), ORVELA_TEST_TLS_DIR "/loopback.key")
    {
        m_server.set_tcp_nodelay(true);
        // One request per connection: a kept-alive one would hold the server open at the end.
        m_server.set_keep_alive_max_count(1);
        m_server.Get(".*", [this, pages](const httplib::Request &request, httplib::Response &response) {
            const QString path = QString::fromStdString(request.path);
            Page page = pages.value(path, {404, "<html><body>Not found</body></html>", "text/html"});
            if (request.get_header_value("Host") != domain().toStdString() ||
                (path == u"/" && request.get_header_value("Accept") != "text/html"))
                page = {400, "Bad request", "text/plain"};
            {
                std::lock_guard lock(m_mutex);
                m_paths.append(path);
            }
            std::this_thread::sleep_for(page.delay);
            response.status = page.status;
            response.set_content(page.body.constData(), size_t(page.body.size()), page.contentType);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~IconSite()
    {
        m_server.stop();
        m_thread.join();
    }

    // What the user would type: host and port.
    QString domain() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QStringList paths() const
    {
        std::lock_guard lock(m_mutex);
        return m_paths;
    }

private:
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QStringList m_paths;
};

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

    // Declared plain icons first, then touch icons, then the usual paths; each is fetched once
    // and the first usable image wins. Masks are no icons. Of the home page only the first
    // 200,000 bytes count, and neither a foreign encoding nor a character cut there hides a link.
    void firstUsableIconWins()
    {
        const QByteArray onePixel = png(1);
        QVERIFY(onePixel.size() > 32);
        QByteArray page = "<title>Caf\xe9</title>"
                          R"(<link rel="mask-icon" href="/mask.svg">
            <link rel="apple-touch-icon" href="/touch.png"><link rel="icon" href="/one.png">
            <link rel="icon" href="/empty.ico"><link rel="icon" href="/error.png"><link rel="icon" href="/broken.png">
            <link rel="icon" href="/huge.png"><link rel="icon" href="/tiny.png"><link rel="icon" href="/broken.png">)";
        // "é" in UTF-8 is two bytes: start it on the very last byte kept.
        page = page.leftJustified(199'999, ' ') + "\xc3\xa9" + R"(<link rel="icon" href="/late.png">)";
        IconSite site({{"/", home(page)},
                       {"/mask.svg", {200, png(64)}},
                       {"/one.png", {200, onePixel}},
                       {"/empty.ico", {200, {}}},
                       {"/error.png", home("<html><body><h1>Page not found</h1></body></html>")},
                       {"/broken.png", {500, png(64)}},
                       // Real images, padded to the first size that is refused and the last one taken.
                       {"/huge.png", {200, png(48).leftJustified(1'000'000, '\0')}},
                       {"/touch.png", {200, png(180).leftJustified(999'999, '\0')}},
                       // 32 bytes of a real image are too few to hold one.
                       {"/tiny.png", {200, png(2).left(32)}},
                       {"/late.png", {200, png(64)}},
                       {"/favicon.ico", {200, png(16)}}});
        QCOMPARE(loadIcon(site.domain()), QSize(180, 180));
        QCOMPARE(site.paths(),
                 (QStringList{"/", "/one.png", "/empty.ico", "/error.png", "/broken.png", "/huge.png", "/tiny.png",
                              "/touch.png"}));
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
        loader.setDomain("no host here/");
        QCOMPARE(finished.size(), 1);
        QVERIFY(!loader.hasImage());
    }

    // A new domain cancels the load for the old one, and so does destroying the loader.
    void cancelledLoadsGoNoFurther()
    {
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
