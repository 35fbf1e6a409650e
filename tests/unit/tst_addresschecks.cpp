// Interface inventory and the two address checks, inside a namespace whose interfaces
// interfaces.topology lists.
#include "controller/controller.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
// Closes the next modal box and remembers what it said.
void closeNextMessageBox(QStringList *seen)
{
    QTimer::singleShot(20, [seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            closeNextMessageBox(seen);
            return;
        }
        QStringList buttons;
        for (QAbstractButton *button : box->buttons()) {
            buttons << QString::number(box->standardButton(button));
        }
        *seen << box->windowTitle() << box->text() << buttons.join(',');
        box->done(0);
    });
}

bool run(const QStringList &command)
{
    return QProcess::execute(command.first(), command.mid(1)) == 0;
}
} // namespace

class TestAddressChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void inventoryInTextOrder();
    void checkStringIPV4_data();
    void checkStringIPV4();
    void availability();
    void removedAddressIsNoticed();

private:
    QTemporaryDir m_home;
    std::unique_ptr<QQmlEngine> m_engine;
    Controller *m_controller = nullptr;
};

void TestAddressChecks::initTestCase()
{
    if (!qEnvironmentVariableIsSet("LUMISWEEP_DUMMY_INTERFACES")) {
        QSKIP("run through simlan.sh with interfaces.topology: the cases expect its interfaces");
    }
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    m_engine.reset(new QQmlEngine);
    m_controller = new Controller(m_engine->rootContext());
}

void TestAddressChecks::cleanupTestCase()
{
    m_engine.reset();
    delete m_controller;
}

void TestAddressChecks::inventoryInTextOrder()
{
    // Text order, not numeric; 127.0.0.1 left out but 127.0.0.2 and a down interface kept;
    // the shared address listed once.
    QCOMPARE(m_controller->getNetworkList(),
             (QStringList { "10.0.0.5", "127.0.0.2", "169.254.7.7", "172.16.0.1", "192.168.1.10",
                            "192.168.1.9" }));
}

void TestAddressChecks::checkStringIPV4_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "192.168.1.1" << true;
    QTest::newRow("range not checked") << "256.256.256.256" << true;
    QTest::newRow("leading zeros") << "010.001.000.001" << true;
    QTest::newRow("trailing space") << "192.168.1.1 " << false;
    QTest::newRow("three groups") << "192.168.1" << false;
    QTest::newRow("five groups") << "192.168.1.1.1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("four digits") << "1921.168.1.1" << false;
    QTest::newRow("host name") << "encoder.local" << false;
    QTest::newRow("markup") << "<b>1.2.3.4</b>" << false;
}

void TestAddressChecks::checkStringIPV4()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QStringList seen;
    if (!valid) {
        closeNextMessageBox(&seen);
    }
    QCOMPARE(m_controller->checkStringIPV4(text), valid);
    if (!valid) {
        QCOMPARE(seen,
                 (QStringList { "Error!", "IP address format is incorrect",
                                QString::number(QMessageBox::Ok) }));
    }
}

void TestAddressChecks::availability()
{
    QSignalSpy info(m_controller, SIGNAL(infoMessage(QString)));
    QVERIFY(m_controller->isInterfaceAvailable("192.168.1.9"));
    QVERIFY(m_controller->isInterfaceAvailable("169.254.7.7"));
    QCOMPARE(info.count(), 0);
    QVERIFY(!m_controller->isInterfaceAvailable("127.0.0.1"));
    QVERIFY(!m_controller->isInterfaceAvailable("192.168.1.99"));
    QCOMPARE(info.count(), 2);
    QCOMPARE(info.at(0).at(0).toString(), QStringLiteral("The interface is not available!"));
}

void TestAddressChecks::removedAddressIsNoticed()
{
    QVERIFY(m_controller->getNetworkList().contains("10.0.0.5"));
    QVERIFY(run({ "ip", "addr", "del", "10.0.0.5/8", "dev", "ethA" }));
    QSignalSpy info(m_controller, SIGNAL(infoMessage(QString)));
    QVERIFY(!m_controller->isInterfaceAvailable("10.0.0.5"));
    QCOMPARE(info.count(), 1);
    QVERIFY(!m_controller->getNetworkList().contains("10.0.0.5"));
}

QTEST_MAIN(TestAddressChecks)
#include "tst_addresschecks.moc"
