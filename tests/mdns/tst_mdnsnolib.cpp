// Without the DNS-SD library: run through without-dnssd.sh. The program must start as usual and
// only an mDNS scan may tell the user that the service is missing.
#include "platform/dnssdbinding.h"
#include "mdnstestsupport.h"

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

class TestMdnsWithoutLibrary : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void programStarts();
    void onlyTheBrowseWarns();
};

void TestMdnsWithoutLibrary::initTestCase()
{
    if (DnsSdBinding::instance().isLoaded()) {
        QFAIL("the DNS-SD library was loaded; run through without-dnssd.sh");
    }
    LogCapture::install();
}

void TestMdnsWithoutLibrary::programStarts()
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_QUICK_BACKEND", "software");
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(LUMISWEEP_PROGRAM, QStringList());
    QVERIFY2(program.waitForStarted(5000), qPrintable(program.errorString()));
    // Still running: a link-time dependency on the library would have stopped the loader.
    QVERIFY2(!program.waitForFinished(2000), program.readAll().constData());
    program.kill();
    program.waitForFinished(3000);
    const QByteArray output = program.readAll();
    QVERIFY2(!output.contains("DNSServiceBrowse"), output.constData());
}

void TestMdnsWithoutLibrary::onlyTheBrowseWarns()
{
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    QTest::qWait(100);
    QVERIFY(reports.warnings.empty());

    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(reports.warnings.size(), size_t(1), 2000);
    const QString message = reports.warnings.at(0).first;
    QCOMPARE(reports.warnings.at(0).second, 0);
    QVERIFY2(message.startsWith("Please check bonjour service status or download <a href=\"http")
                 && message.endsWith("\">Bonjour Service</a>"),
             qPrintable(message));
    QCOMPARE(LogCapture::matching("Start failed to run DNSServiceBrowse: -65563"), 1);

    // The failed browse ends right after its warning; the next scan tries again.
    QTest::qWait(50);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(reports.warnings.size(), size_t(2), 2000);
    service.stopDiscover();
    QVERIFY(reports.found.empty());
}

QTEST_GUILESS_MAIN(TestMdnsWithoutLibrary)
#include "tst_mdnsnolib.moc"
