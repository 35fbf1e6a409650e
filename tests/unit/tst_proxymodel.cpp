// The role-name proxy behind the device table, against a real item model and Qt's model tester.
#include "models/sortfilterproxymodel.h"
#include "tests/common/testkit.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QSignalSpy>
#include <QStandardItemModel>

namespace {
enum Role { IpRole = Qt::UserRole + 1, MacRole, FwRole, NameRole };
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
    void makeProxy();
    void append(const QString &ip, const QString &mac, const QVariant &fw, const QString &name);
    QStringList ips() const;

    QQmlEngine m_engine;
    std::unique_ptr<QObject> m_owner;
    SortFilterProxyModel *m_proxy = nullptr;
    QStandardItemModel *m_devices = nullptr;
};

void TestProxyModel::append(const QString &ip, const QString &mac, const QVariant &fw,
                            const QString &name)
{
    auto *item = new QStandardItem;
    item->setData(ip, IpRole);
    item->setData(mac, MacRole);
    item->setData(fw, FwRole);
    item->setData(name, NameRole);
    m_devices->appendRow(item);
}

QStringList TestProxyModel::ips() const
{
    QStringList values;
    for (int row = 0; row < m_proxy->rowCount(); ++row) {
        values << m_proxy->data(m_proxy->index(row, 0), IpRole).toString();
    }
    return values;
}

void TestProxyModel::init()
{
    // A locale whose order differs from the characters' codes (É sorts as E); that of the
    // machine may be C. A row may ask for another before it makes its own proxy.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");
    makeProxy();
}

void TestProxyModel::makeProxy()
{
    // Made by the engine, as the window's instance is, so that get() has an engine.
    QQmlComponent component(&m_engine);
    component.setData("import SortFilterProxyModel 1.0\nSortFilterProxyModel {}", QUrl());
    m_owner.reset(component.create());
    m_proxy = qobject_cast<SortFilterProxyModel *>(m_owner.get());
    QVERIFY(m_proxy);
    m_devices = new QStandardItemModel(m_owner.get());
    m_devices->setItemRoleNames(
        { { IpRole, "ip" }, { MacRole, "mac" }, { FwRole, "fw" }, { NameRole, "name" } });
    append("192.168.1.2", "0c-8c-24-00-00-02", "2.10.0", "Lobby");
    append("192.168.1.10", "02-06-00-00-00-10", "10.0.1", "Garage");
    append("192.168.1.9", "08-EA-40-00-00-09", "2.9.0", "lobby annex");
    append("192.168.1.100", "D0-C8-00-00-01-00", "2.10.0-beta", "Écluse");
}

void TestProxyModel::sortAndFilter_data()
{
    QTest::addColumn<QByteArray>("sortRole");
    QTest::addColumn<int>("order");
    QTest::addColumn<QByteArray>("filterRole");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("syntax");
    QTest::addColumn<QString>("shown"); // the last groups of the addresses shown, in order
    QTest::addColumn<QString>("locale");
    const auto add = [](const char *name, const QByteArray &sortRole, int order,
                        const QByteArray &filterRole, const QString &pattern, int syntax,
                        const QString &shown, const QString &locale = "en_US") {
        QTest::newRow(name) << sortRole << order << filterRole << pattern << syntax << shown
                            << locale;
    };
    add("ip by numbers where the locale is C", "ip", 0, "", "", 1, "2 9 10 100", "C");
    add("name by the locale, any case", "name", 0, "", "", 1, "100 10 2 9");
    add("mac as hexadecimal text, any case", "mac", 0, "", "", 1, "10 9 2 100");
    add("unknown sort role keeps source order", "nope", 0, "", "", 1, "2 10 9 100");
    add("empty pattern, unknown role", "ip", 0, "nope", "", 0, "2 9 10 100");
    add("any role matches", "ip", 0, "", "lobby", 2, "2 9");
    add("named role only", "ip", 0, "fw", "2.1*", 1, "2 100");
    add("named role ignores others", "ip", 0, "fw", "Garage", 2, "");
    add("regexp", "ip", 0, "ip", "\\.1?9$", 0, "9");
    add("role naming nothing searches all", "ip", 0, "nope", "garage", 2, "10");
}

void TestProxyModel::sortAndFilter()
{
    QFETCH(QByteArray, sortRole);
    QFETCH(int, order);
    QFETCH(QByteArray, filterRole);
    QFETCH(QString, pattern);
    QFETCH(int, syntax);
    QFETCH(QString, shown);
    QFETCH(QString, locale);
    QLocale::setDefault(QLocale(locale));
    makeProxy();
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
    QCOMPARE(ips().join(' ').remove("192.168.1."), shown);
    // Each of pattern and syntax keeps the other, and the case sensitivity.
    QCOMPARE(m_proxy->property("filterString").toString(), pattern);
    QCOMPARE(m_proxy->property("filterSyntax").toInt(), syntax);
    QCOMPARE(m_proxy->filterRegExp().caseSensitivity(), Qt::CaseInsensitive);
    QCOMPARE(m_proxy->property("sortRole").toByteArray(),
             sortRole == "nope" ? QByteArray() : sortRole);
    // Changes of the source, under the model tester's eye.
    append("10.0.0.1", "02-06-00-00-00-01", "1", "First");
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
    QCOMPARE(m_proxy->property("count").toInt(), 4);
    QCOMPARE(changed.count(), 0); // a reset is no insertion
    append("192.168.1.5", "02-06-00-00-00-05", QVariant(42), "Numeric");
    m_devices->removeRow(0);
    QCOMPARE(changed.count(), 2);
    m_proxy->setProperty("filterRole", QByteArray("nam")); // names match byte for byte
    QCOMPARE(m_proxy->QSortFilterProxyModel::filterRole(), -1);
    m_proxy->setProperty("sortRole", QByteArray("ip"));
    m_proxy->setProperty("sortOrder", int(Qt::AscendingOrder));
    QCOMPARE(m_proxy->get(0).property("name").toString(), QStringLiteral("Numeric"));
    QVERIFY(m_proxy->get(0).property("fw").isString()); // 42, as a string
    for (int outside : { -1, 4 }) {
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
