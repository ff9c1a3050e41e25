#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <chrono>
#include <optional>
#include <stop_token>

class QNetworkAccessManager;

// Finding a website's icon: its home page's declared icons first, then the usual paths.
namespace Favicon {

inline constexpr qint64 pageByteLimit = 200'000;
inline constexpr qint64 smallestIconBytes = 33;
inline constexpr qint64 largestIconBytes = 999'999;
inline constexpr std::chrono::seconds requestTimeout{8};

// https://host[:port] of what the user typed as a domain; no value when no host is left.
std::optional<QUrl> origin(const QString &domain);

// The icons the page's <link> elements declare: plain icons before touch icons, each in
// document order, resolved against the origin. The page is decoded leniently, so a character
// cut at the size limit or a page in another encoding still yields the links it holds.
QList<QUrl> declaredIcons(const QByteArray &page, const QUrl &origin);

// What to download, in order and without repeats: the declared icons, then the usual paths.
QList<QUrl> candidates(const QList<QUrl> &declared, const QUrl &origin);

// The image a downloaded body holds, when it is one worth showing.
std::optional<QImage> usableImage(const QByteArray &body);

// Reads the home page, then downloads the candidates one at a time until one is usable.
// Every failure ends in no image; a requested stop throws TaskCancelled.
QCoro::Task<std::optional<QImage>> fetch(QNetworkAccessManager &manager, QString domain, std::stop_token stop);

}  // namespace Favicon

// Keeps the icon of one domain: a new domain cancels the load still running for the old one,
// and the old icon stays until the new result arrives. Destroying the loader cancels its load.
class FaviconLoader : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString domain READ domain WRITE setDomain NOTIFY domainChanged)
    // QML of Qt 6.4 has no image type: the image travels as a variant, for ImageItem.
    Q_PROPERTY(QVariant image READ imageValue NOTIFY imageChanged)
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY imageChanged)

public:
    explicit FaviconLoader(QObject *parent = nullptr);
    ~FaviconLoader() override;

    QString domain() const { return m_domain; }
    void setDomain(const QString &domain);
    QImage image() const { return m_image; }
    QVariant imageValue() const { return m_image; }
    bool hasImage() const { return !m_image.isNull(); }

signals:
    void domainChanged();
    void imageChanged();
    // A load ran to its end (with or without an image); cancelled loads never finish.
    void loadFinished();

private:
    static QCoro::Task<> load(QPointer<FaviconLoader> self, QString domain, std::stop_token stop);
    void finish(const std::optional<QImage> &image);

    QString m_domain;
    QImage m_image;
    std::stop_source m_stop;
};
