// The lists the pages show, as item models: each change reaches the views as the rows it
// concerns, and QAbstractItemModelTester checks every signal against the model's contents.
#include "CountryListModel.h"
#include "StoreBridge.h"
#include "StoreFakes.h"
#include "VisitorListModel.h"
#include "WebsiteListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {

const QList<Website> sites{StoreFixture::site("a"), StoreFixture::site("b"), StoreFixture::site("c"),
                           StoreFixture::site("d")};

// What reached a view of the model, in order: "+1-2" rows inserted, "-1-1" removed, "~2-2"
// changed, "reset".
class Changes : public QObject
{
public:
    explicit Changes(QAbstractItemModel &model)
    {
        const auto range = [this](const char *kind) {
            return [this, kind](const QModelIndex &, int first, int last) {
                seen.append(QStringLiteral("%1%2-%3").arg(kind).arg(first).arg(last));
            };
        };
        connect(&model, &QAbstractItemModel::rowsInserted, this, range("+"));
        connect(&model, &QAbstractItemModel::rowsRemoved, this, range("-"));
        connect(&model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
            seen.append(QStringLiteral("~%1-%2").arg(from.row()).arg(to.row()));
        });
        connect(&model, &QAbstractItemModel::modelReset, this, [this] { seen.append(QStringLiteral("reset")); });
    }
    QStringList seen;
};

QStringList column(const QAbstractItemModel &model, const QByteArray &role)
{
    const int key = model.roleNames().key(role, -1);
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.data(model.index(row, 0), key).toString());
    return values;
}

}  // namespace

class ListModelsTest : public QObject
{
    Q_OBJECT

private slots:
    void websitesChangeInPlace_data()
    {
        Website renamed = sites[1];
        renamed.displayName = QStringLiteral("Renamed");
        QTest::addColumn<QList<Website>>("before");
        QTest::addColumn<QList<Website>>("after");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("first website") << QList<Website>{} << QList<Website>{sites[0]} << QStringList{"+0-0"};
        QTest::newRow("added at the end") << sites.first(2) << sites.first(3) << QStringList{"+2-2"};
        QTest::newRow("added between") << QList<Website>{sites[0], sites[2]} << sites.first(3) << QStringList{"+1-1"};
        QTest::newRow("removed") << sites << QList<Website>{sites[0], sites[2], sites[3]} << QStringList{"-1-1"};
        QTest::newRow("the last removed") << QList<Website>{sites[0]} << QList<Website>{} << QStringList{"-0-0"};
        QTest::newRow("renamed") << sites.first(3) << QList<Website>{sites[0], renamed, sites[2]}
                                 << QStringList{"~1-1"};
        QTest::newRow("one removed, one added")
            << sites.first(3) << QList<Website>{sites[0], sites[2], sites[3]} << QStringList{"-1-1", "+2-2"};
        QTest::newRow("reordered") << sites.first(3) << QList<Website>{sites[2], sites[0], sites[1]}
                                   << QStringList{"reset"};
        QTest::newRow("unchanged") << sites << sites << QStringList{};
    }
    void websitesChangeInPlace()
    {
        QFETCH(QList<Website>, before);
        QFETCH(QList<Website>, after);
        QFETCH(QStringList, changes);
        WebsiteListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setWebsites(before);
        Changes seen(model);
        QSignalSpy count(&model, &CountedListModel::countChanged);
        model.setWebsites(after);
        QCOMPARE(seen.seen, changes);
        QCOMPARE(model.websites(), after);
        QCOMPARE(model.count(), after.size());
        // Once for every change of the rows' number.
        QCOMPARE(count.size(), changes.size() - changes.filter("~").size());
        QStringList domains;
        for (const Website &website : after)
            domains.append(website.domain);
        QCOMPARE(column(model, "domain"), domains);
    }

    // The roles the pages bind to, as the pages read them.
    void websiteRoles()
    {
        WebsiteListModel model;
        const Website shop{QUuid::createUuid(), "Shop", "shop.example.org", "https://stats.example.org/shop"};
        model.setWebsites({shop, {QUuid::createUuid(), "", "example.com", std::nullopt}});
        QCOMPARE(column(model, "websiteID").first(), shop.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(column(model, "displayName"), (QStringList{"Shop", ""}));
        QCOMPARE(column(model, "dashboardURLString"), (QStringList{"https://stats.example.org/shop", ""}));
        QCOMPARE(column(model, "dashboardURL"), (QStringList{"https://stats.example.org/shop", ""}));
        QCOMPARE(column(model, "isExample"), (QStringList{"false", "true"}));
    }

    // New figures replace the shown countries and visitors whole; the same ones change nothing.
    void figuresReplaceTheirLists()
    {
        CountryListModel countries;
        VisitorListModel visitors;
        QAbstractItemModelTester countriesTester(&countries, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester visitorsTester(&visitors, QAbstractItemModelTester::FailureReportingMode::QtTest);
        Changes countryChanges(countries), visitorChanges(visitors);
        const QList<CountryVisitors> delivered{{"DE", 1200}, {"GB", 0}, {"FR", 41}};
        QList<RecentVisitor> recent;
        for (int i = 0; i < 9; ++i)
            recent.append({QString::number(i), "FR", "", {"/"}, {}, 61, {}});

        for (int round = 0; round < 2; ++round) {
            countries.setCountries(delivered);
            visitors.setVisitors(recent);
        }
        QCOMPARE(countryChanges.seen, QStringList{"reset"});
        QCOMPARE(visitorChanges.seen, QStringList{"reset"});
        QCOMPARE(column(countries, "code"), (QStringList{"DE", "FR"}));
        QCOMPARE(column(countries, "visitors"), (QStringList{"1,200", "41"}));
        // The texts of each row are read through the pages in the dashboard's test.
        QCOMPARE(visitors.count(), 8);
        QCOMPARE(column(visitors, "visitorID").last(), "7");

        countries.setCountries({});
        visitors.setVisitors({});
        QCOMPARE(countries.count() + visitors.count(), 0);
        QCOMPARE(countryChanges.seen.size() + visitorChanges.seen.size(), 4);
    }

    // The store's own changes reach the bridge's lists as the rows they touch.
    void theBridgeFollowsTheStore()
    {
        StoreFixture fixture;
        fixture.storeState({.websites = sites.first(3),
                            .selectedWebsiteID = sites[0].id,
                            .snapshots = {{sites[0].id, {.countries = {{"DE", 3}}}}}});
        const std::unique_ptr<AppStore> store = fixture.makeStore();
        StoreBridge bridge(*store);
        QAbstractItemModelTester tester(bridge.websites(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        Changes websites(*bridge.websites()), countries(*bridge.selectedCountries());
        QCOMPARE(column(*bridge.selectedCountries(), "code"), QStringList{"DE"});

        store->removeWebsite(sites[1].id);
        QCOMPARE(websites.seen, QStringList{"-1-1"});
        store->selectWebsite(sites[2].id);
        QCOMPARE(countries.seen, QStringList{"reset"});
        QCOMPARE(bridge.selectedCountries()->count(), 0);
    }
};

QTEST_GUILESS_MAIN(ListModelsTest)
#include "ListModelsTest.moc"
