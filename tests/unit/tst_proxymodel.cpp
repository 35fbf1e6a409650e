// The role-name proxy behind the device table, against a real item model and Qt's model tester.
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

void appendDevice(QStandardItemModel *model, const QString &ip, const QVariant &fw,
                  const QString &name)
{
    auto *item = new QStandardItem;
    item->setData(ip, IpRole);
    item->setData(QStringLiteral("D0-C8-00-00-00-") + ip.section('.', 3), MacRole);
    item->setData(fw, FwRole);
    item->setData(name, NameRole);
    model->appendRow(item);
}

QStringList ips(const QAbstractItemModel &proxy)
{
    QStringList values;
    for (int row = 0; row < proxy.rowCount(); ++row) {
        values << proxy.data(proxy.index(row, 0), IpRole).toString();
    }
    return values;
}
} // namespace

class TestProxyModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void sortAndFilter_data();
    void sortAndFilter();
    void countRolesAndGet();

private:
    QQmlEngine m_engine;
    std::unique_ptr<QObject> m_owner;
    SortFilterProxyModel *m_proxy = nullptr;
    QStandardItemModel *m_devices = nullptr;
};

void TestProxyModel::init()
{
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");
    // Made by the engine, as the window's instance is, so that get() has an engine.
    QQmlComponent component(&m_engine);
    component.setData("import SortFilterProxyModel 1.0\nSortFilterProxyModel {}", QUrl());
    m_owner.reset(component.create());
    m_proxy = qobject_cast<SortFilterProxyModel *>(m_owner.get());
    QVERIFY(m_proxy);
    m_devices = new QStandardItemModel(m_owner.get());
    m_devices->setItemRoleNames(
        { { IpRole, "ip" }, { MacRole, "mac" }, { FwRole, "fw" }, { NameRole, "name" } });
    appendDevice(m_devices, "192.168.1.2", "1.2.3", "Lobby");
    appendDevice(m_devices, "192.168.1.10", "2.0.0", "Garage");
    appendDevice(m_devices, "192.168.1.9", "1.0.0", "lobby annex");
}

void TestProxyModel::sortAndFilter_data()
{
    QTest::addColumn<QByteArray>("sortRole");
    QTest::addColumn<int>("order");
    QTest::addColumn<QByteArray>("filterRole");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<QStringList>("shown");
    const QString a = "192.168.1.2", b = "192.168.1.10", c = "192.168.1.9";
    QTest::newRow("ip as text") << QByteArray("ip") << 0 << QByteArray() << "" << 1
                                << QStringList { b, a, c };
    QTest::newRow("ip descending")
        << QByteArray("ip") << 1 << QByteArray() << "" << 1 << QStringList { c, a, b };
    QTest::newRow("name, any case")
        << QByteArray("name") << 0 << QByteArray() << "" << 1 << QStringList { b, a, c };
    QTest::newRow("unknown sort role keeps source order")
        << QByteArray("nope") << 0 << QByteArray() << "" << 1 << QStringList { a, b, c };
    QTest::newRow("empty pattern, unknown role")
        << QByteArray("ip") << 0 << QByteArray("nope") << "" << 0 << QStringList { b, a, c };
    QTest::newRow("any role matches")
        << QByteArray("ip") << 0 << QByteArray() << "lobby" << 2 << QStringList { a, c };
    QTest::newRow("named role only")
        << QByteArray("ip") << 0 << QByteArray("fw") << "1.*" << 1 << QStringList { a, c };
    QTest::newRow("named role ignores others")
        << QByteArray("ip") << 0 << QByteArray("fw") << "Garage" << 2 << QStringList();
    QTest::newRow("regexp") << QByteArray("ip") << 0 << QByteArray("ip") << "\\.1?9$" << 0
                            << QStringList { c };
    QTest::newRow("role naming nothing searches all")
        << QByteArray("ip") << 0 << QByteArray("nope") << "garage" << 2 << QStringList { b };
}

void TestProxyModel::sortAndFilter()
{
    QFETCH(QByteArray, sortRole);
    QFETCH(int, order);
    QFETCH(QByteArray, filterRole);
    QFETCH(QString, pattern);
    QFETCH(int, syntax);
    QFETCH(QStringList, shown);
    QAbstractItemModelTester tester(m_proxy,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    m_proxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->sort(2); // writing the order must sort column 0 whatever was sorted before
    m_proxy->setProperty("sortRole", sortRole);
    m_proxy->setProperty("sortOrder", order);
    m_proxy->setProperty("filterRole", filterRole);
    m_proxy->setProperty("filterString", pattern);
    m_proxy->setProperty("filterSyntax", syntax);
    QCOMPARE(m_proxy->sortColumn(), 0);
    QCOMPARE(ips(*m_proxy), shown);
    // Each of pattern and syntax keeps the other, and the case sensitivity.
    QCOMPARE(m_proxy->property("filterString").toString(), pattern);
    QCOMPARE(m_proxy->property("filterSyntax").toInt(), syntax);
    QCOMPARE(m_proxy->filterRegExp().caseSensitivity(), Qt::CaseInsensitive);
    QCOMPARE(m_proxy->property("sortRole").toByteArray(), sortRole == "nope" ? "" : sortRole);
    // Rows keep their place through changes of the source.
    appendDevice(m_devices, "10.0.0.1", "1", "First");
    m_devices->removeRows(0, 1);
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(nullptr));
    QCOMPARE(m_proxy->rowCount(), 0);
}

void TestProxyModel::countRolesAndGet()
{
    QSignalSpy changed(m_proxy, SIGNAL(countChanged()));
    // Without a source: no roles, names stored as -1, empty objects.
    QVERIFY(m_proxy->roleNames().isEmpty());
    m_proxy->setProperty("sortRole", QByteArray("mac"));
    QCOMPARE(m_proxy->QSortFilterProxyModel::sortRole(), -1);
    QVERIFY(m_proxy->get(0).property("ip").isUndefined());

    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(m_devices));
    QCOMPARE(m_proxy->property("count").toInt(), 3);
    QCOMPARE(changed.count(), 0); // a reset is no insertion
    appendDevice(m_devices, "192.168.1.5", QVariant(42), "Numeric");
    m_devices->removeRow(0);
    QCOMPARE(changed.count(), 2);
    m_proxy->setProperty("filterRole", QByteArray("nam")); // names match byte for byte
    QCOMPARE(m_proxy->QSortFilterProxyModel::filterRole(), -1);
    m_proxy->setProperty("sortRole", QByteArray("ip"));
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));

    QCOMPARE(m_proxy->get(0).property("name").toString(), QStringLiteral("Garage"));
    const QJSValue numeric = m_proxy->get(1);
    QVERIFY(numeric.property("fw").isString());
    QCOMPARE(numeric.property("fw").toString(), QStringLiteral("42"));
    for (int outside : { -1, 3 }) {
        QVERIFY(m_proxy->get(outside).isObject());
        QVERIFY(m_proxy->get(outside).property("ip").isUndefined());
    }
    // An object that is no item model leaves the proxy without a source.
    m_proxy->setProperty("source", QVariant::fromValue<QObject *>(this));
    QCOMPARE(m_proxy->sourceModel(), nullptr);
    QCOMPARE(m_proxy->property("count").toInt(), 0);
}

QTEST_MAIN(TestProxyModel)
#include "tst_proxymodel.moc"
