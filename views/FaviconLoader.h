#pragma once

#include "FaviconRules.h"

#include <QCoroTask>
#include <QImage>
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

inline constexpr std::chrono::seconds requestTimeout{8};

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
