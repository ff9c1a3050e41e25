#pragma once

#include "Choices.h"

#include <QColor>
#include <QObject>
#include <QQmlEngine>

class AppStore;

// The panel's colours: light or dark as the user chose, or following the desktop. Qt 6.4 does
// not say whether the desktop is dark, so "system" judges the system palette's window colour.
class Theme : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY changed)
    Q_PROPERTY(QColor window READ window NOTIFY changed)
    Q_PROPERTY(QColor foreground READ foreground NOTIFY changed)
    Q_PROPERTY(QColor text READ text NOTIFY changed)
    Q_PROPERTY(QColor secondaryText READ secondaryText NOTIFY changed)
    Q_PROPERTY(QColor placeholderText READ placeholderText NOTIFY changed)
    Q_PROPERTY(QColor separator READ separator NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    Q_PROPERTY(QColor accentPressed READ accentPressed NOTIFY changed)
    Q_PROPERTY(QColor onAccent READ onAccent NOTIFY changed)
    Q_PROPERTY(QColor disabledFill READ disabledFill NOTIFY changed)
    Q_PROPERTY(QColor disabledText READ disabledText NOTIFY changed)
    Q_PROPERTY(QColor fieldBackground READ fieldBackground NOTIFY changed)
    Q_PROPERTY(QColor fieldBorder READ fieldBorder NOTIFY changed)
    Q_PROPERTY(QColor controlBackground READ controlBackground NOTIFY changed)
    Q_PROPERTY(QColor controlPressed READ controlPressed NOTIFY changed)
    Q_PROPERTY(QColor controlBorder READ controlBorder NOTIFY changed)
    Q_PROPERTY(QColor segmentTrack READ segmentTrack NOTIFY changed)
    Q_PROPERTY(QColor segmentSelected READ segmentSelected NOTIFY changed)
    Q_PROPERTY(QColor menuBackground READ menuBackground NOTIFY changed)
    Q_PROPERTY(QColor hover READ hover NOTIFY changed)
    Q_PROPERTY(QColor focusRing READ focusRing NOTIFY changed)
    Q_PROPERTY(QString monospaceFamily READ monospaceFamily CONSTANT)

public:
    explicit Theme(AppStore &store, QObject *parent = nullptr);
    // The engine's own, over the store prepareViewEngine gave it.
    static Theme *create(QQmlEngine *engine, QJSEngine *);

    // Whether a window of this colour belongs to a dark desktop.
    static bool isDarkWindowColor(const QColor &window);

    bool dark() const { return m_dark; }
    // Text reaches 4.5:1 against every surface it is drawn on, focus rings and disabled controls
    // 3:1, in both schemes.
    QColor window() const { return pick(QColor(0xec, 0xec, 0xec), QColor(0x32, 0x32, 0x32)); }
    QColor foreground() const { return pick(Qt::black, Qt::white); }
    QColor text() const { return pick(QColor(0, 0, 0, 217), QColor(255, 255, 255, 217)); }
    QColor secondaryText() const { return pick(QColor(0, 0, 0, 153), QColor(255, 255, 255, 145)); }
    QColor placeholderText() const { return pick(QColor(0, 0, 0, 140), QColor(255, 255, 255, 143)); }
    QColor separator() const { return pick(QColor(0, 0, 0, 26), QColor(255, 255, 255, 26)); }
    QColor accent() const { return pick(QColor(0x00, 0x64, 0xd2), QColor(0x0a, 0x64, 0xd4)); }
    QColor accentPressed() const { return pick(QColor(0x00, 0x50, 0xa8), QColor(0x08, 0x52, 0xae)); }
    QColor onAccent() const { return Qt::white; }
    // A disabled control is grey where an enabled one is coloured, and its label quieter.
    QColor disabledFill() const { return pick(QColor(0xdc, 0xdc, 0xdc), QColor(0x46, 0x46, 0x46)); }
    QColor disabledText() const { return pick(QColor(0x77, 0x77, 0x77), QColor(0x95, 0x95, 0x95)); }
    QColor fieldBackground() const { return pick(Qt::white, QColor(255, 255, 255, 13)); }
    QColor fieldBorder() const { return pick(QColor(0, 0, 0, 46), QColor(255, 255, 255, 46)); }
    QColor controlBackground() const { return pick(Qt::white, QColor(255, 255, 255, 64)); }
    QColor controlPressed() const { return pick(QColor(0xe0, 0xe0, 0xe0), QColor(255, 255, 255, 96)); }
    QColor controlBorder() const { return pick(QColor(0, 0, 0, 38), QColor(255, 255, 255, 20)); }
    QColor segmentTrack() const { return pick(QColor(0, 0, 0, 20), QColor(255, 255, 255, 20)); }
    QColor segmentSelected() const { return pick(Qt::white, QColor(0x63, 0x63, 0x66)); }
    QColor menuBackground() const { return pick(QColor(0xf6, 0xf6, 0xf6), QColor(0x2a, 0x2a, 0x2a)); }
    QColor hover() const { return pick(QColor(0, 0, 0, 15), QColor(255, 255, 255, 20)); }
    QColor focusRing() const { return pick(QColor(0x00, 0x64, 0xd2), QColor(0x4d, 0xa3, 0xff)); }
    QString monospaceFamily() const;

signals:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QColor pick(const QColor &light, const QColor &dark) const { return m_dark ? dark : light; }
    bool wantsDark() const;
    void update();

    AppStore &m_store;
    bool m_dark = false;
};
