// The panel's colours, light and dark, measured as WCAG contrast ratios.
#include "Theme.h"
#include "Contrast.h"
#include "StoreFakes.h"

#include <QGuiApplication>
#include <QTest>

class ThemeTest : public QObject
{
    Q_OBJECT

    StoreFixture fixture;
    std::unique_ptr<AppStore> store;
    std::unique_ptr<Theme> theme;

    void useScheme(bool dark)
    {
        store->setPanelAppearance(dark ? PanelAppearance::dark : PanelAppearance::light);
        QCOMPARE(theme->dark(), dark);
    }
    QColor colour(const QString &name) const { return theme->property(name.toLatin1()).value<QColor>(); }
    // Surfaces laid over each other, the topmost first: what a colour drawn on them meets.
    QColor surface(const QStringList &stack) const
    {
        QColor result = colour(stack.last());
        for (qsizetype i = stack.size() - 2; i >= 0; --i)
            result = over(colour(stack[i]), result);
        return result;
    }

private slots:
    void initTestCase()
    {
        store = fixture.makeStore();
        theme = std::make_unique<Theme>(*store);
    }

    // Text reaches 4.5:1 on every surface it is drawn on; focus rings, symbols and the labels of
    // disabled controls 3:1.
    void contrast_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("foreground");
        QTest::addColumn<QStringList>("surfaces");
        QTest::addColumn<double>("minimum");
        const struct {
            const char *foreground;
            QStringList surfaces;
            double minimum;
        } pairs[] = {
            {"text", {"window"}, 4.5},
            {"secondaryText", {"window"}, 4.5},
            {"text", {"menuBackground"}, 4.5},
            {"text", {"fieldBackground", "window"}, 4.5},
            {"placeholderText", {"fieldBackground", "window"}, 4.5},
            {"text", {"segmentSelected", "segmentTrack", "window"}, 4.5},
            {"text", {"segmentTrack", "window"}, 4.5},
            {"onAccent", {"accent"}, 4.5},
            {"onAccent", {"accentPressed"}, 4.5},
            {"secondaryText", {"hover", "window"}, 3},
            {"focusRing", {"window"}, 3},
            {"focusRing", {"fieldBackground", "window"}, 3},
            {"disabledText", {"disabledFill"}, 3},
            {"disabledText", {"window"}, 3},
        };
        for (const bool dark : {false, true})
            for (const auto &pair : pairs)
                QTest::addRow("%s: %s on %s", dark ? "dark" : "light", pair.foreground,
                              qPrintable(pair.surfaces.join(u" over ")))
                    << dark << QString::fromLatin1(pair.foreground) << pair.surfaces << pair.minimum;
    }
    void contrast()
    {
        QFETCH(bool, dark);
        QFETCH(QString, foreground);
        QFETCH(QStringList, surfaces);
        QFETCH(double, minimum);
        useScheme(dark);
        for (const QString &name : surfaces + QStringList{foreground})
            QVERIFY2(colour(name).isValid(), qPrintable(name));
        const QColor below = surface(surfaces);
        const double ratio = contrastRatio(over(colour(foreground), below), below);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1:1").arg(ratio, 0, 'f', 2)));
    }

    // A disabled control still looks disabled: a button's fill is grey and stands out from the
    // page less than an enabled one's, its label less than an enabled label, and disabled text
    // less than secondary text.
    void disabledLooksDisabled_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void disabledLooksDisabled()
    {
        QFETCH(bool, dark);
        useScheme(dark);
        QVERIFY(colour("disabledFill").isValid() && colour("disabledText").isValid());
        const QColor window = colour("window");
        QVERIFY(contrastRatio(colour("disabledFill"), window) < contrastRatio(colour("accent"), window));
        QVERIFY(contrastRatio(colour("disabledText"), colour("disabledFill")) <
                contrastRatio(colour("onAccent"), colour("accent")));
        QVERIFY(colour("disabledFill").hsvSaturationF() < 0.1);
        QVERIFY(contrastRatio(colour("disabledText"), window) <
                contrastRatio(over(colour("secondaryText"), window), window));
    }
};

QTEST_MAIN(ThemeTest)
#include "ThemeTest.moc"
