// The real window (main.qml from the program's resources) with the real Controller in the
// simulated LAN: a scan from a click to the sorted table, selection and opening of a device's
// page, and the branded look with a stand-in controller.
#include "models/sortfilterproxymodel.h"
#include "tests/common/testkit.h"

#include <QDesktopServices>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>

// Catches what the window opens in the browser; QDesktopServices calls it by slot name.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QStringList urls;
public slots:
    void open(const QUrl &url) { urls << url.toString(); }
};

// What the branded look talks to: a title with the brand word and an identify that answers.
class StandInController : public QObject
{
    Q_OBJECT
public:
    QStringList identified;
    Q_INVOKABLE QString getAppTitleName() { return "Brivella Lumisweep"; }
    Q_INVOKABLE float getDpiScale() { return 1; }
    Q_INVOKABLE QStringList getNetworkList() { return { "198.18.0.1" }; }
    Q_INVOKABLE bool indicateDevice(QString ip)
    {
        identified << ip;
        return ip == "198.18.0.10";
    }
signals:
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    void arpScanDone();
    void infoMessage(QString message);
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void scanSortSelectOpen();
    void brandedLook();

private:
    void load(QObject *standIn);
    QQuickItem *item(const QString &name) const;
    QVariant property(const QString &name, const char *property) const
    {
        return item(name)->property(property);
    }
    QString status() const { return property("textInfo", "text").toString(); }
    void click(const QString &name, QPointF at = QPointF(-1, -1), bool twice = false);
    QStringList column(const char *role) const;
    int rowAt(qreal y) const;

    UrlCatcher m_urls;
    std::unique_ptr<ControllerFixture> m_ctrl;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
};

void TestWindow::init()
{
    m_urls.urls.clear();
    QDesktopServices::setUrlHandler("http", &m_urls, "open");
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");
}

void TestWindow::cleanup()
{
    // The program's order: the scan ends, then the engine goes, then the Controller.
    if (m_ctrl) {
        (*m_ctrl)->shutdown();
    }
    m_engine.reset();
    m_ctrl.reset();
}

void TestWindow::load(QObject *standIn)
{
    if (!standIn) {
        m_ctrl.reset(new ControllerFixture);
    }
    m_engine.reset(new QQmlApplicationEngine);
    // Qt.quit() would end whatever event loop the test waits in.
    disconnect(m_engine.get(), &QQmlEngine::quit, nullptr, nullptr);
    m_engine->rootContext()->setContextProperty("ctrl", standIn ? standIn : m_ctrl->get());
    m_engine->load(QUrl("qrc:/desktop/qml/main.qml"));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

QQuickItem *TestWindow::item(const QString &name) const
{
    QQuickItem *found = m_window->contentItem()->findChild<QQuickItem *>(name);
    return found ? found : m_window->findChild<QQuickItem *>(name);
}

void TestWindow::click(const QString &name, QPointF at, bool twice)
{
    QQuickItem *target = item(name);
    QVERIFY2(target && target->isVisible(), qPrintable(name));
    if (at.x() < 0) {
        at = QPointF(target->width() / 2, target->height() / 2);
    }
    const QPoint point = target->mapToScene(at).toPoint();
    twice ? QTest::mouseDClick(m_window, Qt::LeftButton, {}, point)
          : QTest::mouseClick(m_window, Qt::LeftButton, {}, point);
}

QStringList TestWindow::column(const char *role) const
{
    auto *proxy = m_window->findChild<SortFilterProxyModel *>("proxyModel");
    QStringList values;
    for (int row = 0; row < proxy->rowCount(); ++row) {
        values << proxy->get(row).property(role).toString();
    }
    return values;
}

int TestWindow::rowAt(qreal y) const
{
    QVariant row;
    QMetaObject::invokeMethod(item("tableView"), "rowAt", Q_RETURN_ARG(QVariant, row),
                              Q_ARG(QVariant, 75), Q_ARG(QVariant, y));
    return row.toInt();
}

void TestWindow::scanSortSelectOpen()
{
    REQUIRE_LAN();
    load(nullptr);
    QCOMPARE(status(), QString("Info: "));
    QCOMPARE(property("ipAddressComboBox", "editText").toString(), Lan::scannerIp());
    click("btnStop"); // idle: nothing happens
    QCOMPARE(status(), QString("Info: "));
    click("radioHttp");
    QCOMPARE(property("functionBar", "scanType").toInt(), 2);
    click("radioArp");

    QSignalSpy texts(item("textInfo"), SIGNAL(textChanged(QString)));
    click("btnScan");
    QCOMPARE(property("functionBar", "scanStatus").toInt(), 1);
    QCOMPARE(status(), QString("Info: ARP Scanning..."));
    click("radioMdns"); // ignored while scanning
    QCOMPARE(property("functionBar", "scanType").toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(property("functionBar", "scanStatus").toInt(), 0, 20000);
    // The first tick's text lasts until the next row comes: look at every text shown.
    QStringList statuses;
    for (const QList<QVariant> &text : texts) {
        statuses << text.first().toString();
    }
    QVERIFY2(!statuses.filter(QRegularExpression("^Info: Scanning 1 Sec \\.{4} \\d+%$")).isEmpty(),
             qPrintable(statuses.join('\n')));
    QCOMPARE(status(), QString("Info: 4 Devices Found!"));
    QCOMPARE(column("ip"),
             (QStringList { "198.18.0.9", "198.18.0.10", "198.18.0.11", "198.18.0.12" }));
    QCOMPARE(column("name"), (QStringList { "Zulu", "Alpha", "<b>Mike</b>", "echo" }));

    const qreal cell = property("tableView", "cellHeight").toReal();
    click("tableView", QPointF(75, cell / 2)); // the IP header again: descending
    QCOMPARE(column("ip"),
             (QStringList { "198.18.0.12", "198.18.0.11", "198.18.0.10", "198.18.0.9" }));
    click("tableView", QPointF(525, cell / 2)); // Device Name, still descending, any case
    QCOMPARE(column("name"), (QStringList { "Zulu", "echo", "Alpha", "<b>Mike</b>" }));

    click("tableView", QPointF(75, cell * 2.5)); // the second row
    QCOMPARE(m_window->property("openDeviceURL").toString(), QString("http://198.18.0.12"));
    click("tableView", QPointF(75, cell * 3.5), true);
    QTRY_COMPARE(m_urls.urls, QStringList { "http://198.18.0.10" });

    // A new scan empties the table and forgets the selection; a stop before the sweep starts
    // ends it at once.
    click("btnScan");
    QCOMPARE(column("ip"), QStringList());
    QCOMPARE(m_window->property("openDeviceURL").toString(), QString());
    click("btnStop");
    QCOMPARE(status(), QString("Info: 0 Devices Found!"));
    QCOMPARE(property("functionBar", "scanStatus").toInt(), 0);
}

void TestWindow::brandedLook()
{
    StandInController standIn;
    load(&standIn);
    QVERIFY(!item("radioHttp")->isVisible());
    QVERIFY(!item("radioMdns")->isVisible());
    QVERIFY(!item("titleBar")->isVisible());
    click("btnIdentify"); // nothing chosen: an empty address
    QCOMPARE(status(), QString("Identify device:  failed"));
    emit standIn.deviceFound("198.18.0.10", "D0-C8-00-00-00-10", "1.0", "Cam");
    emit standIn.deviceFound("198.18.0.9", "D0-C8-00-00-00-09", "1.0", "Cam");
    QCOMPARE(status(), QString("Info: 2 Devices Found!"));
    const qreal cell = property("tableView", "cellHeight").toReal();
    QTRY_COMPARE(rowAt(cell * 2.5), 1); // laid out
    click("tableView", QPointF(75, cell * 2.5));
    click("btnIdentify");
    QCOMPARE(standIn.identified, (QStringList { "", "198.18.0.10" }));
    QCOMPARE(status(), QString("Identify device: 198.18.0.10 successful"));
    click("btnBrowse");
    QCOMPARE(status(), QString("Browse device: 198.18.0.10"));
    QTRY_COMPARE(m_urls.urls, QStringList { "http://198.18.0.10" });
    m_engine.reset(); // before the stand-in goes
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
