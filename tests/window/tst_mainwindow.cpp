// The real window with the real Controller, driven by mouse events. Nothing here may start a
// sweep: rows and scan ends arrive as the Controller's own signals, and every Scan press uses an
// address that the Controller refuses before any packet is sent.
#include "windowharness.h"

#include "controller/controller.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
const QString kImages = QStringLiteral("qrc:/desktop/img/");

// Closes the next modal box and remembers its title, since the Controller's boxes block.
class ModalCloser
{
public:
    ModalCloser()
    {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                titles.append(modal->windowTitle());
                modal->close();
            }
        });
        m_timer.start();
    }
    QStringList titles;

private:
    QTimer m_timer;
};

QList<QQuickItem *> textItemsShowing(QQuickItem *root, const QString &text)
{
    QList<QQuickItem *> found;
    if (root->inherits("QQuickText") && root->property("text").toString() == text) {
        found.append(root);
    }
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        found.append(textItemsShowing(child, text));
    }
    return found;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowFrame();
    void statusLine_data();
    void statusLine();
    void actionsThatChangeNothing_data();
    void actionsThatChangeNothing();
    void radiosChooseScanType_data();
    void radiosChooseScanType();
    void typedAddressStaysWithHttpDownload();
    void headerClickSorts();
    void rowClickAndDoubleClick();
    void deviceValuesShowAsText_data();
    void deviceValuesShowAsText();
    void titleBar();

private:
    void addDevice(const QString &ip, const QString &name = QStringLiteral("Cam"));

    QTemporaryDir m_dataHome;
    std::unique_ptr<WindowHarness> m_harness;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    // The Controller writes settings.ini there: never into the real user's folder.
    qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
    qputenv("AVAHI_COMPAT_NOWARN", "1");
}

void TestMainWindow::init()
{
    m_harness.reset(new WindowHarness);
    QVERIFY(m_harness->isLoaded());
}

void TestMainWindow::cleanup()
{
    m_harness.reset();
}

void TestMainWindow::addDevice(const QString &ip, const QString &name)
{
    emit m_harness->controller()->deviceFound(ip, QStringLiteral("02-06-00-00-00-01"),
                                              QStringLiteral("1.0.3"), name);
}

void TestMainWindow::windowFrame()
{
    // The standard look: a fixed-size frameless window; the branded buttons stay hidden.
    QQuickWindow *window = m_harness->window();
    QCOMPARE(window->size(), QSize(960, 560));
    QCOMPARE(window->minimumSize(), QSize(960, 560));
    QCOMPARE(window->maximumSize(), QSize(960, 560));
    QVERIFY(window->flags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window->flags().testFlag(Qt::NoDropShadowWindowHint));
    QCOMPARE(window->title(), QStringLiteral("Lumisweep V2.7.1"));
    QCOMPARE(m_harness->status(), QStringLiteral("Info: "));
    QVERIFY(!m_harness->item(QStringLiteral("btnBrowse"))->isVisible());
    QVERIFY(!m_harness->item(QStringLiteral("btnIdentify"))->isVisible());
}

void TestMainWindow::statusLine_data()
{
    // Events: "found IP", "done", or "info TEXT", in order.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("rows");

    QTest::newRow("one device") << QStringList { "found 198.18.0.10" } << "Info: 1 Devices Found!"
                                << 1;
    QTest::newRow("the same device twice counts twice")
        << QStringList { "found 198.18.0.10", "found 198.18.0.10" } << "Info: 2 Devices Found!"
        << 2;
    QTest::newRow("scan end without devices")
        << QStringList { "done" } << "Info: 0 Devices Found!" << 0;
    QTest::newRow("message replaces the count")
        << QStringList { "found 198.18.0.10", "info The interface is not available!" }
        << "The interface is not available!" << 1;
    QTest::newRow("count replaces the message")
        << QStringList { "info The interface is not available!", "found 198.18.0.11", "done" }
        << "Info: 1 Devices Found!" << 1;
}

void TestMainWindow::statusLine()
{
    QFETCH(QStringList, events);
    QFETCH(QString, status);
    QFETCH(int, rows);

    Controller *controller = m_harness->controller();
    for (const QString &event : events) {
        const QString argument = event.section(QLatin1Char(' '), 1);
        if (event.startsWith(QLatin1String("found"))) {
            addDevice(argument);
        } else if (event == QLatin1String("done")) {
            emit controller->arpScanDone();
        } else {
            emit controller->infoMessage(argument);
        }
    }
    QCOMPARE(m_harness->status(), status);
    QTRY_COMPARE(m_harness->tableRowCount(), rows);
    QCOMPARE(m_harness->scanStatus(), 0);
}

void TestMainWindow::actionsThatChangeNothing_data()
{
    QTest::addColumn<QString>("typed"); // empty: no typing
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("Scan with an empty address") << ""
                                                << "btnScan"
                                                << "Info: 1 Devices Found!" << QStringList();
    QTest::newRow("Scan with a malformed address")
        << "198.18.0"
        << "btnScan"
        << "Info: 1 Devices Found!" << QStringList { "Error!" };
    QTest::newRow("Scan from an address that is not this machine's")
        << "198.18.77.1"
        << "btnScan"
        << "The interface is not available!" << QStringList();
    QTest::newRow("Stop while idle") << "198.18.77.1"
                                     << "btnStop"
                                     << "Info: 1 Devices Found!" << QStringList();
}

void TestMainWindow::actionsThatChangeNothing()
{
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QString, status);
    QFETCH(QStringList, boxes);

    if (!typed.isEmpty()) {
        QVERIFY2(!QNetworkInterface::allAddresses().contains(QHostAddress(typed)),
                 "the test address must not be one of this machine's");
    }
    m_harness->click(QStringLiteral("radioHttp"));
    m_harness->typeAddress(typed);
    addDevice(QStringLiteral("198.18.0.10"));
    QTRY_COMPARE(m_harness->tableRowCount(), 1);
    m_harness->clickAt(m_harness->rowPoint(0));
    QCOMPARE(m_harness->openDeviceURL(), QStringLiteral("http://198.18.0.10"));

    ModalCloser closer;
    if (button == QLatin1String("btnScan")) {
        QVERIFY(m_harness->clickScan());
    } else {
        m_harness->click(button);
    }
    QTRY_COMPARE(closer.titles, boxes);

    QCOMPARE(m_harness->status(), status);
    QCOMPARE(m_harness->scanStatus(), 0);
    QCOMPARE(m_harness->scanType(), 2);
    QCOMPARE(m_harness->tableRowCount(), 1);
    QCOMPARE(m_harness->openDeviceURL(), QStringLiteral("http://198.18.0.10"));
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnScan")), kImages + "Scan.over.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnStop")), kImages + "Stop.nomal.png");
}

void TestMainWindow::radiosChooseScanType_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("scanType");

    QTest::newRow("Http Download") << "radioHttp" << 2;
    QTest::newRow("mDNS") << "radioMdns" << 3;
    QTest::newRow("ARP after mDNS") << "radioArp" << 1;
}

void TestMainWindow::radiosChooseScanType()
{
    QFETCH(QString, radio);
    QFETCH(int, scanType);

    if (scanType == 1) {
        m_harness->click(QStringLiteral("radioMdns"));
    }
    m_harness->click(radio);
    QCOMPARE(m_harness->scanType(), scanType);
    const QStringList radios { "radioArp", "radioHttp", "radioMdns" };
    for (const QString &other : radios) {
        QCOMPARE(m_harness->imageOf(other),
                 kImages + (other == radio ? "Radio.over.png" : "Radio.nomal.png"));
    }
    // Only the probe sweep may start from a typed address.
    QObject *combo = m_harness->object(QStringLiteral("ipAddressComboBox"));
    QCOMPARE(combo->property("editable").toBool(), scanType == 2);
}

void TestMainWindow::typedAddressStaysWithHttpDownload()
{
    QObject *combo = m_harness->object(QStringLiteral("ipAddressComboBox"));
    m_harness->click(QStringLiteral("radioHttp"));
    m_harness->typeAddress(QStringLiteral("198.18.77.1"));
    m_harness->click(QStringLiteral("radioArp"));
    // Scan uses the edit text: for ARP it must be a listed interface address again.
    QCOMPARE(m_harness->editText(), combo->property("currentText").toString());
}

void TestMainWindow::headerClickSorts()
{
    // The first device also gives the proxy its source and sort role: it must sort the next one.
    addDevice(QStringLiteral("198.18.0.2"), QStringLiteral("b"));
    addDevice(QStringLiteral("198.18.0.10"), QStringLiteral("C"));
    addDevice(QStringLiteral("198.18.0.3"), QStringLiteral("a"));
    const QStringList textOrder { "198.18.0.10", "198.18.0.2", "198.18.0.3" };
    QCOMPARE(m_harness->column("ip"), textOrder);

    m_harness->clickAt(m_harness->headerPoint(0));
    QCOMPARE(m_harness->column("ip"), (QStringList { "198.18.0.3", "198.18.0.2", "198.18.0.10" }));
    m_harness->clickAt(m_harness->headerPoint(0));
    QCOMPARE(m_harness->column("ip"), textOrder);

    m_harness->clickAt(m_harness->headerPoint(3));
    QCOMPARE(m_harness->column("name"), (QStringList { "a", "b", "C" }));
    m_harness->clickAt(m_harness->headerPoint(3));
    QCOMPARE(m_harness->column("name"), (QStringList { "C", "b", "a" }));

    // A device arriving later takes its sorted place.
    addDevice(QStringLiteral("198.18.0.4"), QStringLiteral("B2"));
    QCOMPARE(m_harness->column("name"), (QStringList { "C", "B2", "b", "a" }));
}

void TestMainWindow::rowClickAndDoubleClick()
{
    addDevice(QStringLiteral("198.18.0.2"));
    addDevice(QStringLiteral("198.18.0.10"));
    QTRY_COMPARE(m_harness->tableRowCount(), 2);

    m_harness->clickAt(m_harness->rowPoint(1));
    QCOMPARE(m_harness->openDeviceURL(), QStringLiteral("http://198.18.0.2"));
    QVERIFY(m_harness->openedUrls().isEmpty());

    m_harness->doubleClickAt(m_harness->rowPoint(0));
    QCOMPARE(m_harness->openedUrls(), (QList<QUrl> { QUrl(QStringLiteral("http://198.18.0.10")) }));
    QCOMPARE(m_harness->openDeviceURL(), QStringLiteral("http://198.18.0.10"));

    // Below the last device there is nothing to open.
    m_harness->doubleClickAt(m_harness->rowPoint(5));
    QCOMPARE(m_harness->openedUrls().size(), 1);
}

void TestMainWindow::deviceValuesShowAsText_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("bold") << "<b>x</b>";
    QTest::newRow("image") << "<img src=\"http://198.18.0.99/x.png\" width=\"1\">";
    QTest::newRow("link") << "<a href=\"http://198.18.0.99/\">x</a>";
}

void TestMainWindow::deviceValuesShowAsText()
{
    QFETCH(QString, value);

    emit m_harness->controller()->deviceFound(QStringLiteral("198.18.0.10"), value, value, value);
    emit m_harness->controller()->infoMessage(value);
    QCOMPARE(m_harness->status(), value);
    QTest::qWait(50);

    // Three cells and the status line; rendered as markup, each would be a few pixels wide.
    const QList<QQuickItem *> texts = textItemsShowing(m_harness->window()->contentItem(), value);
    QCOMPARE(texts.size(), 4);
    for (QQuickItem *text : texts) {
        const QFontMetricsF metrics(text->property("font").value<QFont>());
        QVERIFY2(text->implicitWidth() > 0.8 * metrics.horizontalAdvance(value),
                 qPrintable(QStringLiteral("rendered %1 px wide").arg(text->implicitWidth())));
    }
}

void TestMainWindow::titleBar()
{
    QQuickWindow *window = m_harness->window();
    const QPoint start = window->position();
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    QTest::mouseMove(window, QPoint(330, 35));
    // The window moved under the pointer: the same screen point is where the press was.
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, QPoint(300, 20));
    QTRY_COMPARE(window->position(), start + QPoint(30, 15));

    QCOMPARE(m_harness->imageOf(QStringLiteral("btnClose")), kImages + "Close.nomal.png");
    m_harness->hover(QStringLiteral("btnClose"));
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnClose")), kImages + "Close.over.png");

    const QPoint beforeClose = window->position();
    QSignalSpy quit(m_harness->engine(), &QQmlEngine::quit);
    m_harness->click(QStringLiteral("btnClose"));
    QCOMPARE(quit.count(), 1);
    // The button lies above the drag area: pressing it must not move the window.
    QCOMPARE(window->position(), beforeClose);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
