// The real window (main.qml from the program's resources) with the real Controller in the
// simulated LAN: a scan from a click to the sorted table, selection and opening of a device's
// page, a watch from the keyboard while a device arrives and leaves, and the branded look with a
// stand-in controller. Runs on a session bus of its own (dbus-run-session).
#include "base/ipv4text.h"
#include "controller/devicestore.h"
#include "controller/devicetablewriter.h"
#include "discovery/bonjourwinservice.h"
#include "models/sortfilterproxymodel.h"
#include "tests/common/testkit.h"

#include <QClipboard>
#include <QDBusConnection>
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

// What the branded look talks to: a title with the brand word, an identify that answers, and a
// device store of its own.
// The desktop's notification service, where a desktop would have one: what it was asked to show,
// "summary|body".
class NotificationCatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown;
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        shown << summary + '|' + body;
        return uint(shown.size());
    }
};

class StandInController : public QObject
{
    Q_OBJECT
public:
    QStringList identified;
    DeviceStore devices { this }; // a child: QML must not take it for its own
    // A device found, as the Controller reports it.
    void found(const QString &ip, const QString &mac, const QString &fw, const QString &name)
    {
        DeviceStore::Report report { *Ipv4Text::parse(ip), mac, fw, name };
        report.announced = true;
        devices.admit(report);
        emit deviceFound(ip, mac, fw, name);
    }
    Q_INVOKABLE QObject *getDeviceModel() { return &devices; }
    Q_INVOKABLE int getConflictCount() { return devices.conflictCount(); }
    Q_INVOKABLE int getGoneDeviceCount() { return 0; }
    Q_INVOKABLE QString getAppTitleName() { return "Brivella Lumisweep"; }
    Q_INVOKABLE float getDpiScale() { return 1; }
    Q_INVOKABLE QStringList getNetworkList() { return { "198.18.0.1" }; }
    Q_INVOKABLE QString getInterfaceName(QString) { return "eth0"; }
    Q_INVOKABLE bool indicateDevice(QString ip)
    {
        identified << ip;
        return ip == "198.18.0.10";
    }
signals:
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    void deviceRemoved(QString ipString, QString macString);
    void arpScanDone();
    void infoMessage(QString message);
    void scanFailed(int reason);
};

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void scanSortSelectOpen();
    void watchFromTheKeyboard();
    void brandedLook();

private:
    void load(QObject *standIn);
    QQuickItem *item(const QString &name) const;
    QVariant property(const QString &name, const char *property) const
    {
        return item(name)->property(property);
    }
    QString status() const { return property("textInfo", "text").toString(); }
    void click(const QString &name, QPointF at = QPointF(-1, -1), bool twice = false,
               Qt::MouseButton button = Qt::LeftButton);
    // Steps of scanSortSelectOpen, on the scanned table.
    void sortEachWay();
    void hoverHints();
    void selectAndOpen();
    // The Controller's rows' addresses, in its order.
    QStringList kept() const;
    // The rows whose drawn address is marked or muted: "ip marked", "ip muted", sorted.
    QStringList drawnMarks() const;
    // The table's values of the roles named, "|"-separated, row by row.
    QStringList column(const QString &roles) const;
    int rowAt(qreal y) const;
    // Tabs to the named control and presses key on it.
    void press(const QString &name, Qt::Key key);
    // The simulated LAN's control (tools/simlan/simlan.sh) on this LAN: "add %1 ...".
    // The window of a menu that has popped up, if any.
    QQuickWindow *popup() const;
    // Every item of the window's scene; delegates are not QObject children of their view.
    static QList<QQuickItem *> drawnItems(QQuickWindow *window);

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

void TestWindow::click(const QString &name, QPointF at, bool twice, Qt::MouseButton button)
{
    QQuickItem *target = item(name);
    QVERIFY2(target && target->isVisible(), qPrintable(name));
    if (at.x() < 0) {
        at = QPointF(target->width() / 2, target->height() / 2);
    }
    const QPoint point = target->mapToScene(at).toPoint();
    twice ? QTest::mouseDClick(m_window, button, {}, point)
          : QTest::mouseClick(m_window, button, {}, point);
}

QStringList TestWindow::column(const QString &roles) const
{
    auto *proxy = m_window->findChild<SortFilterProxyModel *>("proxyModel");
    QStringList values;
    for (int row = 0; row < proxy->rowCount(); ++row) {
        QStringList fields;
        for (const QString &role : roles.split(' ')) {
            fields << proxy->get(row).property(role).toString();
        }
        values << fields.join('|');
    }
    return values;
}

QQuickWindow *TestWindow::popup() const
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window != m_window && window->isVisible()) {
            return qobject_cast<QQuickWindow *>(window);
        }
    }
    return nullptr;
}

QList<QQuickItem *> TestWindow::drawnItems(QQuickWindow *window)
{
    QList<QQuickItem *> items { window->contentItem() };
    for (int i = 0; i < items.size(); ++i) {
        items += items[i]->childItems();
    }
    return items;
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
    // Through the ARP helper, which alone hears two devices on one address.
    (*m_ctrl)->setArpHelper(true, buildFile("lumisweep-arp"));
    QCOMPARE(status(), QString("Info: "));
    QCOMPARE(property("ipAddressComboBox", "editText").toString(),
             Lan::scannerIp() + " (" + qEnvironmentVariable("LUMISWEEP_LAN_IFACE") + ")");
    click("btnStop"); // idle: nothing happens
    QCOMPARE(status(), QString("Info: "));
    // A typed address is checked as typed: nothing after it is dropped.
    click("radioHttp");
    QCOMPARE(property("functionBar", "scanType").toInt(), 2);
    item("ipAddressComboBox")->setProperty("editText", Lan::scannerIp() + " x");
    {
        ModalCloser closer;
        click("btnScan");
        QCOMPARE(closer.seen, QStringList { "Error!|IP address format is incorrect|1024|2" });
    }
    // The box took the window's activation, and with it its shortcuts.
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(property("functionBar", "scanStatus").toInt(), 0);
    click("radioArp");
    // Enter starts, Esc stops before the sweep has begun; the end the stop brings keeps the
    // stopped state's text.
    QTest::keyClick(m_window, Qt::Key_Return);
    QCOMPARE(status(), QString("Info: ARP Scanning..."));
    QTest::keyClick(m_window, Qt::Key_Escape);
    QCOMPARE(property("functionBar", "scanStatus").toInt(), 0);
    QCOMPARE(status(), QString("Info: 0 Devices Found! Scan stopped."));

    QSignalSpy texts(item("textInfo"), SIGNAL(textChanged(QString)));
    click("btnScan");
    QCOMPARE(property("functionBar", "scanStatus").toInt(), 1);
    QCOMPARE(status(), QString("Info: ARP Scanning..."));
    click("radioMdns"); // ignored while scanning
    QCOMPARE(property("functionBar", "scanType").toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(property("functionBar", "scanStatus").toInt(), 0, 20000);
    // Rows that arrive during the sweep leave its progress in place.
    QStringList statuses;
    for (const QList<QVariant> &text : texts) {
        statuses << text.first().toString();
    }
    const QRegularExpression progress(
        "^Info: (ARP Scanning\\.{3}|Scanning \\d+ Sec \\.{4} \\d+%)$");
    QVERIFY2(statuses.filter(progress).size() == statuses.size() - 1
                 && !statuses.filter("Info: Scanning 1 Sec").isEmpty(),
             qPrintable(statuses.join('\n')));
    // One row per device, as the Controller keeps them, once the late device has answered and
    // the silent one has been given up.
    QTRY_COMPARE_WITH_TIMEOUT((*m_ctrl)->pendingDeviceQueries(), 0, 20000);
    QTRY_COMPARE(column("answered").count("false"), 1);
    QCOMPARE(column("ip"), kept());
    QCOMPARE(kept().size(), 8);
    QCOMPARE(status(),
             QString("Info: 8 Devices Found! 1 address is used by more than one device!"));
    for (void (TestWindow::*step)() :
         { &TestWindow::sortEachWay, &TestWindow::hoverHints, &TestWindow::selectAndOpen }) {
        (this->*step)();
        if (QTest::currentTestFailed()) {
            return;
        }
    }

    // A row that goes takes its own marks along; the others keep theirs.
    emit m_ctrl->engine()->rootContext()->findChild<BonjourWinService *>()->deviceWithdrawn(
        "198.18.0.11", "08-EA-40-00-00-11");
    QCOMPARE(column("ip").join(' ').remove("198.18.0."), QString("9 10 12 40 40 100 101"));
    QCOMPARE(status(),
             QString("Info: 7 Devices Found! 1 address is used by more than one device!"));
    QCOMPARE(drawnMarks(),
             (QStringList { "198.18.0.101 muted", "198.18.0.40 marked", "198.18.0.40 marked" }));

    // A new scan empties the table and forgets the selection.
    click("btnScan");
    QCOMPARE(column("ip"), QStringList());
    QCOMPARE(m_window->property("openDeviceURL").toString(), QString());
    click("btnStop");
    QCOMPARE(status(), QString("Info: 0 Devices Found! Scan stopped."));
}

QStringList TestWindow::kept() const
{
    QStringList rows;
    for (const DeviceRow &device : (*m_ctrl)->deviceRows()) {
        rows << device.ip;
    }
    return rows;
}

QStringList TestWindow::drawnMarks() const
{
    // What the delegates draw: a mark before the address, a muted address, a watch's new and
    // departed rows ("ip new", "ip gone"), a departed device's note. Each cell's mark and text
    // are drawn from the same row.
    QStringList marks;
    for (QQuickItem *drawn : drawnItems(m_window)) {
        if (!drawn->isVisible()) {
            continue;
        }
        if (drawn->objectName() == "addressMark") {
            QQuickItem *text = drawn->parentItem()->findChild<QQuickItem *>("cellText");
            marks << text->property("text").toString() + " marked";
        } else if (drawn->objectName() == "cellText") {
            const QString text = drawn->property("text").toString();
            const QString mark = drawn->parentItem()->property("mark").toString();
            if (text.startsWith("198.18.0.") && drawn->property("font").value<QFont>().italic()) {
                marks << text + " muted";
            }
            if (text.startsWith("198.18.0.") && !mark.isEmpty()) {
                marks << text + ' ' + mark;
            }
            if (text.startsWith("gone ")) {
                marks << text;
            }
        }
    }
    marks.sort();
    return marks;
}

void TestWindow::sortEachWay()
{
    // By each column both ways, a new column starting ascending: the natural order (MAC
    // addresses as hexadecimal text), and the marks drawn on the rows of their devices. Twins
    // and the mute device tie on firmware and name, in any order among themselves.
    const qreal cell = property("tableView", "cellHeight").toReal();
    const QStringList marks { "198.18.0.101 muted", "198.18.0.40 marked", "198.18.0.40 marked" };
    QStringList macs = column("mac");
    std::sort(macs.begin(), macs.end());
    const struct
    {
        qreal x;
        QString role;
        QStringList ascending;
    } columns[] = { { 225, "mac", macs },
                    { 375, "fw", { "", "", "", "1.2", "2.9.0", "2.10.0", "2.10.1", "10.0.1" } },
                    { 525, "name", { "", "", "", "<b>Mike</b>", "Alpha", "echo", "Late", "Zulu" } },
                    { 75, "ip", kept() } };
    for (const auto &sorted : columns) {
        QStringList expected = sorted.ascending;
        for (int direction = 0; direction < 2; ++direction) {
            click("tableView", QPointF(sorted.x, cell / 2));
            QCOMPARE(column(sorted.role), expected);
            QCOMPARE(drawnMarks(), marks);
            std::reverse(expected.begin(), expected.end());
        }
    }
    // Back to addresses, ascending.
    click("tableView", QPointF(75, cell / 2));
    QCOMPARE(column("ip"), kept());
}

void TestWindow::hoverHints()
{
    // Resting on a mark's row tells what it means, in full.
    const qreal cell = property("tableView", "cellHeight").toReal();
    QTest::mouseMove(m_window, item("tableView")->mapToScene({ 75, cell * 5.5 }).toPoint());
    QTRY_VERIFY(property("toolTipText", "text")
                    .toString()
                    .startsWith("Conflict: another device answers for 198.18.0.40;"));
    QTest::mouseMove(m_window, item("tableView")->mapToScene({ 375, cell * 8.5 }).toPoint());
    QTRY_VERIFY(property("toolTipText", "text")
                    .toString()
                    .startsWith("The device did not answer as an encoder"));
    QTest::mouseMove(m_window, item("tableView")->mapToScene({ 375, cell * 1.5 }).toPoint());
    QTRY_VERIFY(!property("toolTip", "visible").toBool());
}

void TestWindow::selectAndOpen()
{
    // Choosing and opening: click, arrow key, Enter, double-click.
    const qreal cell = property("tableView", "cellHeight").toReal();
    QTRY_COMPARE(rowAt(cell * 8.5), 7); // laid out
    click("tableView", QPointF(75, cell * 2.5));
    QCOMPARE(m_window->property("openDeviceURL").toString(), QString("http://198.18.0.10"));
    QTest::keyClick(m_window, Qt::Key_Down);
    QCOMPARE(m_window->property("openDeviceURL").toString(), QString("http://198.18.0.11"));
    QTest::keyClick(m_window, Qt::Key_Return);
    click("tableView", QPointF(75, cell * 4.5), true);
    QTRY_COMPARE(m_urls.urls, (QStringList { "http://198.18.0.11", "http://198.18.0.12" }));
    QCOMPARE(status(), QString("Browse device: 198.18.0.12"));

    // A name in markup is drawn as its characters, as wide as all of them.
    int drawn = 0;
    for (QQuickItem *text : drawnItems(m_window)) {
        if (text->inherits("QQuickText") && text->property("text") == "<b>Mike</b>") {
            const QFontMetricsF metrics(text->property("font").value<QFont>());
            QVERIFY(text->property("contentWidth").toReal()
                    > 0.9 * metrics.horizontalAdvance("<b>Mike</b>"));
            ++drawn;
        }
    }
    QCOMPARE(drawn, 1);

    // The context menu of the seventh row copies it, tab-separated.
    click("tableView", QPointF(75, cell * 7.5), false, Qt::RightButton);
    QQuickWindow *menu = nullptr;
    QTRY_VERIFY((menu = popup()));
    QQuickItem *copyRow = nullptr;
    for (QQuickItem *label : drawnItems(menu)) {
        copyRow = label->property("text") == "Copy row" ? label : copyRow;
    }
    QVERIFY(copyRow);
    QTest::mouseClick(menu, Qt::LeftButton, {}, copyRow->mapToScene({ 5, 5 }).toPoint());
    QTRY_COMPARE(QGuiApplication::clipboard()->text(),
                 QString("198.18.0.100\t02-06-00-00-01-00\t1.2\tLate"));

    // Ctrl+S saves the Controller's rows with the command line's writer.
    QTemporaryDir folder;
    const QString path = folder.filePath("devices.csv");
    ModalCloser closer(path);
    QTest::keyClick(m_window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(status(), "Info: Saved to " + path);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(),
             DeviceTableWriter::write(DeviceTableWriter::Format::Csv,
                                      DeviceTableWriter::devices((*m_ctrl)->deviceRows())));
}

void TestWindow::press(const QString &name, Qt::Key key)
{
    for (int tab = 0; tab < 20 && !item(name)->hasActiveFocus(); ++tab) {
        QTest::keyClick(m_window, Qt::Key_Tab);
    }
    QVERIFY2(item(name)->hasActiveFocus(), qPrintable(name));
    QTest::keyClick(m_window, key);
}

void TestWindow::watchFromTheKeyboard()
{
    REQUIRE_LAN();
    NotificationCatcher catcher;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "catcher");
    QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &catcher,
                               QDBusConnection::ExportAllSlots));
    QVERIFY2(bus.registerService("org.freedesktop.Notifications"), "run in dbus-run-session");
    load(nullptr);
    (*m_ctrl)->setArpHelper(true, QCoreApplication::applicationDirPath() + "/../lumisweep-arp");
    press("btnWatch", Qt::Key_Space);
    QCOMPARE(property("btnWatch", "text").toString(), QString("Unwatch"));
    QVERIFY(!property("btnScan", "usable").toBool());
    QTRY_COMPARE_WITH_TIMEOUT(status(), QString("Watching 198.18.0.0/24: 8 devices, 0 new, 0 gone"),
                              60000);
    QTRY_COMPARE(
        drawnMarks(),
        (QStringList { "198.18.0.101 muted", "198.18.0.40 marked", "198.18.0.40 marked" }));

    // Devices boot, the second while the user looks at another window: highlighted, then not;
    // only that one told to the desktop, its markup as text.
    QVERIFY(Lan::control("add %1 device 198.18.0.31/24 08:ea:40:00:00:31 --name Seen --fw 1"));
    QTRY_VERIFY_WITH_TIMEOUT(drawnMarks().contains("198.18.0.31 new"), 60000);
    QWindow elsewhere;
    elsewhere.show();
    elsewhere.requestActivate();
    QTRY_VERIFY(!m_window->isActive());
    QVERIFY(
        Lan::control("add %1 device 198.18.0.30/24 d0:c8:00:00:00:30 --name '<i>New</i>' --fw 1"));
    QTRY_VERIFY_WITH_TIMEOUT(drawnMarks().contains("198.18.0.30 new"), 60000);
    QCOMPARE(status(), QString("Watching 198.18.0.0/24: 10 devices, 2 new, 0 gone"));
    QTRY_COMPARE(
        catcher.shown,
        QStringList { "New encoder: <i>New</i>|&lt;i&gt;New&lt;/i&gt; answers at 198.18.0.30" });
    QTRY_VERIFY_WITH_TIMEOUT(!drawnMarks().contains("198.18.0.30 new"), 30000);
    elsewhere.close();
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));

    // It loses its cable: greyed, with the time it left, until the user clears it.
    QVERIFY(Lan::control("link %1 198.18.0.30 down"));
    QTRY_VERIFY_WITH_TIMEOUT(drawnMarks().contains("198.18.0.30 gone"), 60000);
    QCOMPARE(status(), QString("Watching 198.18.0.0/24: 9 devices, 1 new, 1 gone"));
    auto *store = qobject_cast<DeviceStore *>((*m_ctrl)->getDeviceModel());
    const QModelIndex gone
        = store->match(store->index(0), DeviceStore::IpRole, "198.18.0.30").value(0);
    const QDateTime left = gone.data(DeviceStore::DepartedAtRole).toDateTime();
    QVERIFY(drawnMarks().contains("gone " + left.toLocalTime().toString("hh:mm:ss")));
    press("btnClearDeparted", Qt::Key_Return);
    QVERIFY(!column("ip").contains("198.18.0.30"));
    QVERIFY(!item("btnClearDeparted")->isVisible());
    QTest::keyClick(m_window, Qt::Key_Escape);
    QCOMPARE(status(), QString("Watch ended: 9 devices, 1 new, 0 gone"));
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
    standIn.found("198.18.0.10", "D0-C8-00-00-00-10", "1.0", "Cam");
    standIn.found("198.18.0.9", "D0-C8-00-00-00-09", "1.0", "Cam");
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
