// Without the DNS-SD library: run through without-dnssd.sh. The program must start as usual and
// only an mDNS scan may tell the user that the service is missing.
#include "discovery/bonjourwinservice.h"
#include "discovery/dnssdbinding.h"

#include <QtTest>

#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QMutex s_logMutex;
QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker locker(&s_logMutex);
        s_log.append(message);
    }
    s_previousHandler(type, context, message);
}

QStringList log()
{
    QMutexLocker locker(&s_logMutex);
    return s_log;
}

} // namespace

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
    s_previousHandler = qInstallMessageHandler(captureLog);
}

void TestMdnsWithoutLibrary::programStarts()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_QUICK_BACKEND", "software");
    environment.insert("HOME", home.path());
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", home.path());

    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(LUMISWEEP_PROGRAM), QStringList());
    QVERIFY2(program.waitForStarted(5000), qPrintable(program.errorString()));
    // Still running after start-up: a link-time dependency on the library would have stopped
    // the loader, a crash or a fatal error the program itself.
    QVERIFY2(!program.waitForFinished(2000), program.readAll().constData());
    program.terminate();
    if (!program.waitForFinished(3000)) {
        program.kill();
        program.waitForFinished(3000);
    }
    const QByteArray output = program.readAll();
    QVERIFY2(!output.contains("DNSServiceBrowse"), output.constData());
}

void TestMdnsWithoutLibrary::onlyTheBrowseWarns()
{
    BonjourWinService service(nullptr);
    QSignalSpy warned(&service, &BonjourWinService::showWarningMessage);
    QSignalSpy found(&service, &BonjourWinService::deviceMacFound);
    QTest::qWait(100);
    QCOMPARE(warned.count(), 0);

    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(warned.count(), 1, 2000);
    const QString message = warned.at(0).at(0).toString();
    QCOMPARE(warned.at(0).at(1).toInt(), 0);
    QVERIFY2(message.startsWith("Please check bonjour service status or download <a href=\"http"),
             qPrintable(message));
    QVERIFY2(message.endsWith("\">Bonjour Service</a>"), qPrintable(message));
    QVERIFY(log().contains("Start failed to run DNSServiceBrowse: -65563"));

    // The failed browse has ended; the next scan tries again and warns again.
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("Start failed to run DNSServiceBrowse: -65563"), 1000);
    QTest::qWait(50);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(warned.count(), 2, 2000);
    service.stopDiscover();
    QCOMPARE(found.count(), 0);
    QCOMPARE(log().count("Start successfully to run DNSServiceBrowse"), 0);
}

QTEST_GUILESS_MAIN(TestMdnsWithoutLibrary)
#include "tst_mdnsnolib.moc"
