// The QML module as an engine sees it: the Store and Theme singletons of each engine are made
// over the store that engine was prepared with.
#include "ViewEngine.h"
#include "StoreFakes.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QTest>

namespace {

struct Prepared {
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QQmlEngine> engine = std::make_unique<QQmlEngine>();

    Prepared(StoreFixture &fixture, int websites, PanelAppearance appearance)
    {
        PersistedState state;
        for (int i = 0; i < websites; ++i)
            state.websites.append(StoreFixture::site("site"));
        fixture.storeState(state);
        store = fixture.makeStore();
        store->setPanelAppearance(appearance);
        prepareViewEngine(*engine, *store);
    }
    ~Prepared()
    {
        engine.reset();
        settle();  // stopped favicon loads end on the event loop
    }

    // What the module's singletons say in this engine.
    QObject *read()
    {
        QQmlComponent component(engine.get());
        component.setData("import QtQml\nimport Orvela\nQtObject {\n"
                          "    property int websites: Store.websites.count\n"
                          "    property bool dark: Theme.dark\n}\n",
                          QUrl("qrc:/test/Read.qml"));
        QObject *object = component.create();
        if (!object)
            qFatal("%s", qPrintable(component.errorString()));
        object->setParent(engine.get());
        return object;
    }
};

}  // namespace

class ViewEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void eachEngineHasItsOwnStore()
    {
        StoreFixture first, second;
        Prepared light(first, 1, PanelAppearance::light), dark(second, 3, PanelAppearance::dark);
        QObject *lightRead = light.read(), *darkRead = dark.read();
        QCOMPARE(lightRead->property("websites").toInt(), 1);
        QCOMPARE(darkRead->property("websites").toInt(), 3);
        QCOMPARE(lightRead->property("dark").toBool(), false);
        QCOMPARE(darkRead->property("dark").toBool(), true);

        // The singleton follows its own store only.
        dark.store->setPanelAppearance(PanelAppearance::light);
        QCOMPARE(darkRead->property("dark").toBool(), false);
        light.store->removeWebsite(light.store->websites().first().id);
        QCOMPARE(lightRead->property("websites").toInt(), 0);
        QCOMPARE(darkRead->property("websites").toInt(), 3);
    }
};

QTEST_MAIN(ViewEngineTest)
#include "ViewEngineTest.moc"
