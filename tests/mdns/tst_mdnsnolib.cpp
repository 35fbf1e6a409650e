// Without the DNS-SD library: run through without-dnssd.sh. The program must start as usual and
// only an mDNS scan may tell the user that the service is missing.
#include "discovery/bonjourwinservice.h"
#include "discovery/dnssdbinding.h"
#include "servicereports.h"

#include <QtTest>

#include <mutex>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// std::mutex rather than QMutex: a thread sanitizer sees the former.
std::mutex s_logMutex;
QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard<std::mutex> locker(s_logMutex);
        s_log.append(message);
    }
    s_previousHandler(type, context, message);
}

QStringList log()
{
    std::lock_guard<std::mutex> locker(s_logMutex);
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
    ServiceReports reports(&service);
    QTest::qWait(100);
    QVERIFY(reports.warnings.empty());

    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(reports.warnings.size(), size_t(1), 2000);
    const QString message = reports.warnings.at(0).first;
    QCOMPARE(reports.warnings.at(0).second, 0);
    QVERIFY2(message.startsWith("Please check bonjour service status or download <a href=\"http"),
             qPrintable(message));
    QVERIFY2(message.endsWith("\">Bonjour Service</a>"), qPrintable(message));
    QVERIFY(log().contains("Start failed to run DNSServiceBrowse: -65563"));

    // The failed browse ends right after its warning; the next scan tries again and warns again.
    QTest::qWait(50);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(reports.warnings.size(), size_t(2), 2000);
    service.stopDiscover();
    QVERIFY(reports.found.empty());
    QCOMPARE(log().count("Start successfully to run DNSServiceBrowse"), 0);
}

QTEST_GUILESS_MAIN(TestMdnsWithoutLibrary)
#include "tst_mdnsnolib.moc"
