// The role-name proxy behind the device table, checked against a real item model and
// Qt's own model tester.
#include "models/sortfilterproxymodel.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <memory>

namespace {
enum Role { IpRole = Qt::UserRole + 1, MacRole, FwRole, NameRole };

QStandardItemModel *makeDevices(QObject *parent)
{
    auto *model = new QStandardItemModel(parent);
    model->setItemRoleNames(
        { { IpRole, "ip" }, { MacRole, "mac" }, { FwRole, "fw" }, { NameRole, "name" } });
    return model;
}

void appendDevice(QStandardItemModel *model, const QString &ip, const QString &mac,
                  const QVariant &fw, const QString &name)
{
    auto *item = new QStandardItem;
    item->setData(ip, IpRole);
    item->setData(mac, MacRole);
    item->setData(fw, FwRole);
    item->setData(name, NameRole);
    model->appendRow(item);
}

QStringList column(const SortFilterProxyModel &proxy, int role)
{
    QStringList values;
    for (int row = 0; row < proxy.rowCount(); ++row) {
        values << proxy.data(proxy.index(row, 0), role).toString();
    }
    return values;
}
} // namespace

class TestSortFilterProxyModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void roleNamesFollowTheSource();
    void countAndCountChanged();
    void sortsAsText();
    void filterRules_data();
    void filterRules();
    void syntaxAndPatternKeepEachOther();
    void getReadsRowsAsStrings();
    void modelTesterThroughChanges();

private:
    QQmlEngine m_engine;
    std::unique_ptr<QObject> m_owner;
    SortFilterProxyModel *m_proxy = nullptr;
    QStandardItemModel *m_devices = nullptr;
};

void TestSortFilterProxyModel::initTestCase()
{
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");
}

void TestSortFilterProxyModel::init()
{
    // Created by the engine, as the window's instance is, so that get() has an engine.
    QQmlComponent component(&m_engine);
    component.setData("import SortFilterProxyModel 1.0\nSortFilterProxyModel {}", QUrl());
    m_owner.reset(component.create());
    QVERIFY2(m_owner, qPrintable(component.errorString()));
    m_proxy = qobject_cast<SortFilterProxyModel *>(m_owner.get());
    QVERIFY(m_proxy);
    m_devices = makeDevices(m_owner.get());
    appendDevice(m_devices, "192.168.1.2", "D0-C8-00-00-00-02", "1.2.3", "Lobby");
    appendDevice(m_devices, "192.168.1.10", "02-06-00-00-00-10", "2.0.0", "Garage");
    appendDevice(m_devices, "192.168.1.9", "08-EA-40-00-00-09", "1.0.0", "lobby annex");
}

void TestSortFilterProxyModel::cleanup()
{
    m_owner.reset();
    m_proxy = nullptr;
    m_devices = nullptr;
}

void TestSortFilterProxyModel::roleNamesFollowTheSource()
{
    QVERIFY(m_proxy->roleNames().isEmpty());
    m_proxy->setProperty("sortRole", QByteArray("mac"));
    QCOMPARE(m_proxy->QSortFilterProxyModel::sortRole(), -1); // no source yet: stored as -1
    QCOMPARE(m_proxy->property("sortRole").toByteArray(), QByteArray());

    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    QCOMPARE(m_proxy->roleNames(), m_devices->roleNames());
    m_proxy->setProperty("sortRole", QByteArray("mac"));
    QCOMPARE(m_proxy->QSortFilterProxyModel::sortRole(), int(MacRole));
    QCOMPARE(m_proxy->property("sortRole").toByteArray(), QByteArray("mac"));
    m_proxy->setProperty("filterRole", QByteArray("nam")); // must match byte for byte
    QCOMPARE(m_proxy->QSortFilterProxyModel::filterRole(), -1);

    // Objects that are not item models leave the proxy without a source.
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(this));
    QCOMPARE(m_proxy->sourceModel(), nullptr);
    QCOMPARE(m_proxy->property("count").toInt(), 0);
}

void TestSortFilterProxyModel::countAndCountChanged()
{
    QSignalSpy changed(m_proxy, SIGNAL(countChanged()));
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    QCOMPARE(m_proxy->property("count").toInt(), 3);
    QCOMPARE(changed.count(), 0); // a reset is no insertion

    appendDevice(m_devices, "192.168.1.3", "D0-C8-00-00-00-03", "1", "Hall");
    QCOMPARE(changed.count(), 1);
    m_devices->removeRow(0);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(m_proxy->property("count").toInt(), 3);

    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(nullptr));
    QCOMPARE(m_proxy->property("count").toInt(), 0);
    QCOMPARE(changed.count(), 2);
}

void TestSortFilterProxyModel::sortsAsText()
{
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    m_proxy->setProperty("sortRole", QByteArray("ip"));
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));
    QCOMPARE(column(*m_proxy, IpRole),
             (QStringList { "192.168.1.10", "192.168.1.2", "192.168.1.9" }));
    m_proxy->setProperty("sortOrder", int(Qt::DescendingOrder));
    QCOMPARE(column(*m_proxy, IpRole),
             (QStringList { "192.168.1.9", "192.168.1.2", "192.168.1.10" }));
    QCOMPARE(m_proxy->property("sortOrder").toInt(), int(Qt::DescendingOrder));

    // Writing the order always sorts column 0 by the current role.
    m_proxy->sort(1, Qt::AscendingOrder);
    m_proxy->setProperty("sortRole", QByteArray("name"));
    m_proxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));
    QCOMPARE(m_proxy->sortColumn(), 0);
    QCOMPARE(column(*m_proxy, NameRole), (QStringList { "Garage", "Lobby", "lobby annex" }));
}

void TestSortFilterProxyModel::filterRules_data()
{
    QTest::addColumn<QByteArray>("role");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<QStringList>("shown");
    const QStringList all { "192.168.1.2", "192.168.1.10", "192.168.1.9" };
    QTest::newRow("empty pattern shows all") << QByteArray("name") << "" << 0 << all;
    QTest::newRow("empty pattern, unknown role") << QByteArray("nope") << "" << 1 << all;
    QTest::newRow("any role matches")
        << QByteArray() << "lobby" << 2 << QStringList { "192.168.1.2", "192.168.1.9" };
    QTest::newRow("any role, mac text")
        << QByteArray() << "02-06" << 2 << QStringList { "192.168.1.10" };
    QTest::newRow("named role only")
        << QByteArray("fw") << "1.*" << 1 << QStringList { "192.168.1.2", "192.168.1.9" };
    QTest::newRow("named role ignores others")
        << QByteArray("fw") << "Garage" << 2 << QStringList();
    QTest::newRow("regexp") << QByteArray("ip") << "\\.1?9$" << 0 << QStringList { "192.168.1.9" };
    QTest::newRow("role naming nothing searches all")
        << QByteArray("nope") << "garage" << 2 << QStringList { "192.168.1.10" };
}

void TestSortFilterProxyModel::filterRules()
{
    QFETCH(QByteArray, role);
    QFETCH(QString, pattern);
    QFETCH(int, syntax);
    QFETCH(QStringList, shown);
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setProperty("filterRole", role);
    m_proxy->setProperty("filterSyntax", syntax);
    m_proxy->setProperty("filterString", pattern);
    QCOMPARE(column(*m_proxy, IpRole), shown);
}

void TestSortFilterProxyModel::syntaxAndPatternKeepEachOther()
{
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setProperty("filterString", QStringLiteral("lob*"));
    m_proxy->setProperty("filterSyntax", int(SortFilterProxyModel::Wildcard));
    QCOMPARE(m_proxy->filterRegExp().pattern(), QStringLiteral("lob*"));
    QCOMPARE(m_proxy->filterRegExp().caseSensitivity(), Qt::CaseInsensitive);
    m_proxy->setProperty("filterString", QStringLiteral("gar*"));
    QCOMPARE(m_proxy->filterRegExp().patternSyntax(), QRegExp::Wildcard);
    QCOMPARE(m_proxy->property("filterSyntax").toInt(), int(SortFilterProxyModel::Wildcard));
    QCOMPARE(m_proxy->property("filterString").toString(), QStringLiteral("gar*"));
}

void TestSortFilterProxyModel::getReadsRowsAsStrings()
{
    appendDevice(m_devices, "192.168.1.5", "0C-8C-24-00-00-05", QVariant(42), "Numeric");
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    m_proxy->setProperty("sortRole", QByteArray("ip"));
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));

    const QJSValue first = m_proxy->get(0);
    QCOMPARE(first.property("ip").toString(), QStringLiteral("192.168.1.10"));
    QCOMPARE(first.property("name").toString(), QStringLiteral("Garage"));
    const QJSValue numeric = m_proxy->get(2);
    QVERIFY(numeric.property("fw").isString());
    QCOMPARE(numeric.property("fw").toString(), QStringLiteral("42"));

    for (int outside : { -1, 4, 1000 }) {
        const QJSValue empty = m_proxy->get(outside);
        QVERIFY2(empty.isObject(), "an out-of-range row must still be an object");
        QVERIFY(empty.property("ip").isUndefined());
    }
}

void TestSortFilterProxyModel::modelTesterThroughChanges()
{
    QAbstractItemModelTester tester(m_proxy,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    m_proxy->setProperty("sortRole", QByteArray("ip"));
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));
    appendDevice(m_devices, "10.0.0.1", "D0-C8-00-00-00-01", "1", "First");
    m_devices->removeRows(1, 2);
    m_proxy->setProperty("filterString", QStringLiteral("first"));
    m_proxy->setProperty("filterString", QString());
    m_proxy->setProperty("sortOrder", int(Qt::DescendingOrder));

    QStandardItemModel *other = makeDevices(m_owner.get());
    appendDevice(other, "172.16.0.1", "02-06-00-00-00-01", "9", "Other");
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(other));
    QCOMPARE(m_proxy->rowCount(), 1);
    other->clear();
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(nullptr));
    QCOMPARE(m_proxy->rowCount(), 0);
}

QTEST_MAIN(TestSortFilterProxyModel)
#include "tst_sortfilterproxymodel.moc"
