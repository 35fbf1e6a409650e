// The branded look, which this program's own title never selects: a stand-in "ctrl" with the
// brand word in its title brings it up. The stand-in sends nothing anywhere.
#include "windowharness.h"

#include <QColor>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

namespace {
const QString kImages = QStringLiteral("qrc:/desktop/img/");
const QString kLanAddress = QStringLiteral("198.18.0.1");
} // namespace

// Answers the window's calls like the Controller and records the ones that would act.
class StandInController : public QObject
{
    Q_OBJECT
public:
    QStringList started;
    QList<int> stopped;
    QStringList identified;
    bool identifyResult = true;

    Q_INVOKABLE QString getAppTitleName() { return QStringLiteral("Brivella Lumisweep V2.7.1"); }
    Q_INVOKABLE float getDpiScale() { return 1.0f; }
    Q_INVOKABLE QStringList getNetworkList() { return { kLanAddress }; }
    Q_INVOKABLE bool checkStringIPV4(QString) { return true; }
    Q_INVOKABLE bool isInterfaceAvailable(QString) { return true; }
    Q_INVOKABLE void startDiscover(QString ipString, int scanType)
    {
        started.append(QStringLiteral("%1 %2").arg(ipString).arg(scanType));
    }
    Q_INVOKABLE void stopDiscover(int scanType) { stopped.append(scanType); }
    Q_INVOKABLE int getArpProgress() { return 0; }
    Q_INVOKABLE bool indicateDevice(QString ipString)
    {
        identified.append(ipString);
        return identifyResult;
    }

signals:
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    void arpScanDone();
    void infoMessage(QString message);
};

class TestBrandedWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void look();
    void browseAndIdentify_data();
    void browseAndIdentify();

private:
    StandInController m_ctrl;
    std::unique_ptr<WindowHarness> m_harness;
};

void TestBrandedWindow::init()
{
    m_harness.reset(new WindowHarness(&m_ctrl));
    QVERIFY(m_harness->isLoaded());
}

void TestBrandedWindow::cleanup()
{
    m_harness.reset();
}

void TestBrandedWindow::look()
{
    QQuickWindow *window = m_harness->window();
    QVERIFY(!window->flags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(window->title(), QStringLiteral("Brivella Lumisweep V2.7.1"));
    QCOMPARE(window->property("lightGreen1").value<QColor>(), QColor(QStringLiteral("#5f002F87")));

    // Resizable, and every size change is logged.
    QTest::ignoreMessage(QtDebugMsg, "appWindow width changed");
    QTest::ignoreMessage(QtDebugMsg, "appWindow height changed");
    window->resize(1100, 700);
    QTRY_COMPARE(window->size(), QSize(1100, 700));

    QVERIFY(!m_harness->item(QStringLiteral("titleBar"))->isVisible());
    QCOMPARE(m_harness->item(QStringLiteral("functionBar"))->y(), 0.0);
    QCOMPARE(m_harness->item(QStringLiteral("tableView"))->y(), 46.0);
    for (const char *hidden : { "radioHttp", "labelHttp", "radioMdns", "labelMdns" }) {
        QVERIFY2(!m_harness->item(QString::fromLatin1(hidden))->isVisible(), hidden);
    }
    QQuickItem *label = m_harness->item(QStringLiteral("labelArp"));
    QCOMPARE(m_harness->item(QStringLiteral("separator"))->x(), label->x() + label->width() + 10);
    QQuickItem *identify = m_harness->item(QStringLiteral("btnIdentify"));
    QCOMPARE(m_harness->item(QStringLiteral("textStatus"))->x(), identify->x() + 90);
    QQuickItem *status = m_harness->item(QStringLiteral("textStatus"));
    QTRY_COMPARE(status->x() + status->width(), 1090.0);

    QCOMPARE(m_harness->imageOf(QStringLiteral("radioArp")), kImages + "brv_img/Radio.over.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnScan")), kImages + "brv_img/Scan.over.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnStop")), kImages + "Stop.nomal.png");

    QVERIFY(m_harness->clickScan());
    QCOMPARE(m_ctrl.started, QStringList { kLanAddress + " 1" });
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnScan")), kImages + "Scan.nomal.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnStop")), kImages + "brv_img/Stop.over.png");
    m_harness->click(QStringLiteral("btnStop"));
    QCOMPARE(m_ctrl.stopped, QList<int> { 1 });
}

void TestBrandedWindow::browseAndIdentify_data()
{
    QTest::addColumn<QString>("chosen"); // the row's address, or empty: no row clicked
    QTest::addColumn<bool>("identifyResult");
    QTest::addColumn<QString>("face");
    QTest::addColumn<QString>("identifyStatus");

    QTest::newRow("device chosen, identify sent") << "198.18.0.10" << true << "#002f87"
                                                  << "Identify device: 198.18.0.10 successful";
    QTest::newRow("device chosen, identify failed") << "198.18.0.10" << false << "#002f87"
                                                    << "Identify device: 198.18.0.10 failed";
    QTest::newRow("nothing chosen") << "" << false << "#777779"
                                    << "Identify device:  failed";
}

void TestBrandedWindow::browseAndIdentify()
{
    QFETCH(QString, chosen);
    QFETCH(bool, identifyResult);
    QFETCH(QString, face);
    QFETCH(QString, identifyStatus);

    m_ctrl.identified.clear();
    m_ctrl.identifyResult = identifyResult;
    emit m_ctrl.deviceFound(QStringLiteral("198.18.0.10"), QStringLiteral("02-06-00-00-00-10"),
                            QStringLiteral("1.0.3"), QStringLiteral("Cam 10"));
    QTRY_COMPARE(m_harness->tableRowCount(), 1);
    if (!chosen.isEmpty()) {
        m_harness->clickAt(m_harness->rowPoint(0));
    }
    for (const char *button : { "btnBrowse", "btnIdentify" }) {
        QQuickItem *item = m_harness->item(QString::fromLatin1(button));
        QVERIFY(item->isVisible());
        QCOMPARE(item->property("color").value<QColor>().name(), face);
    }

    m_harness->click(QStringLiteral("btnBrowse"));
    QCOMPARE(m_harness->status(), "Browse device: " + chosen);
    const QList<QUrl> expectedUrls
        = chosen.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl("http://" + chosen) };
    QCOMPARE(m_harness->openedUrls(), expectedUrls);

    m_harness->click(QStringLiteral("btnIdentify"));
    QCOMPARE(m_ctrl.identified, QStringList { chosen });
    QCOMPARE(m_harness->status(), identifyStatus);
}

QTEST_MAIN(TestBrandedWindow)
#include "tst_brandedwindow.moc"
