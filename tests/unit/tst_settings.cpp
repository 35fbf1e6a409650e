// The Controller's settings file, its boxes and prompts, and the application object.
#include "app/lumisweepapplication.h"
#include "tests/common/testkit.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList g_log;
void keepLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log << message;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void freshFolderIsPrivate();
    void storedValues_data();
    void storedValues();
    void accountPrompt_data();
    void accountPrompt();
    void untrustedPlaces_data();
    void untrustedPlaces();
    void boxes_data();
    void boxes();
    void serviceDeletedOnceWhenContextGoesFirst();
    void applicationLogsEveryEvent();
};

void TestSettings::freshFolderIsPrivate()
{
    ControllerFixture ctrl;
    QCOMPARE(ctrl.engine()->rootContext()->contextProperty("ctrl").value<QObject *>(), ctrl.get());
    QCOMPARE(QFile::permissions(ctrl.dataFolder()) & 0x0fff, QFile::Permissions(0x0700));
    QFile file(ctrl.dataFolder() + "/settings.ini");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[General]\nAPP_VERSION_NUMBER=2.7.1\n"));
    QCOMPARE(file.permissions() & 0x0fff, QFile::Permissions(0x0600));
    QCOMPARE(ctrl->getAppTitleName(), QStringLiteral("Lumisweep V2.7.1"));
}

void TestSettings::storedValues_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("true") << QVariant("true") << QVariant(true);
    QTest::newRow("false") << QVariant("false") << QVariant(false);
    QTest::newRow("True stays text") << QVariant("True") << QVariant("True");
    QTest::newRow("1 stays text") << QVariant("1") << QVariant("1");
    QTest::newRow("padded stays text") << QVariant(" true") << QVariant(" true");
    QTest::newRow("never written") << QVariant() << QVariant();
}

void TestSettings::storedValues()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, expected);
    ControllerFixture ctrl;
    if (stored.isValid()) {
        ctrl->setSettingsValue("SOME/KEY", stored);
    }
    // Read through a second store: the value must survive the file.
    QSettings file(ctrl.dataFolder() + "/settings.ini", QSettings::IniFormat);
    QCOMPARE(file.value("SOME/KEY"), stored.isValid() ? QVariant(stored.toString()) : QVariant());
    const QVariant value = ctrl->getSettingsValue("SOME/KEY");
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);
}

void TestSettings::accountPrompt_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accept");
    QTest::newRow("confirmed") << "admin:246813" << true;
    QTest::newRow("confirmed empty") << "" << true;
    QTest::newRow("cancelled") << "admin:1" << false;
}

void TestSettings::accountPrompt()
{
    QFETCH(QString, typed);
    QFETCH(bool, accept);
    ControllerFixture ctrl;
    ModalCloser closer(typed, accept);
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLog);
    const QString result = ctrl->showInputAccount("D0-C8-1A-2B-3C-4D");
    qInstallMessageHandler(previous);
    QCOMPARE(result, accept ? typed : QString());
    QCOMPARE(closer.seen, QStringList { "Input account|Example: admin:246813" });
    QSettings file(ctrl.dataFolder() + "/settings.ini", QSettings::IniFormat);
    QCOMPARE(file.contains("ACCOUNT/D0-C8-1A-2B-3C-4D"), accept);
    QCOMPARE(file.value("ACCOUNT/D0-C8-1A-2B-3C-4D").toString(), accept ? typed : QString());
    // The key is logged, the password never.
    QCOMPARE(g_log.filter("ACCOUNT/D0-C8-1A-2B-3C-4D").filter("<hidden>").size(), accept ? 1 : 0);
    if (!typed.isEmpty()) {
        QVERIFY(g_log.filter(typed).isEmpty());
    }
}

void TestSettings::untrustedPlaces_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("folder of another user, mode 0777") << "folder";
    QTest::newRow("settings.ini a link to a file elsewhere") << "link";
    QTest::newRow("settings.ini of another user") << "file";
}

void TestSettings::untrustedPlaces()
{
    QFETCH(QString, setup);
    if (geteuid() != 0) {
        QSKIP("needs root to make files of another user");
    }
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    QTemporaryDir home;
    const QString folder = home.path() + "/Lumisweep";
    const QString target = home.path() + "/elsewhere";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    if (setup == "folder") {
        QVERIFY(chown(QFile::encodeName(folder).constData(), nobody, nobody) == 0);
        QVERIFY(chmod(QFile::encodeName(folder).constData(), 0777) == 0);
    } else if (setup == "link") {
        QVERIFY(QFile::link(target, folder + "/settings.ini"));
    } else {
        QVERIFY(QFile(folder + "/settings.ini").open(QIODevice::WriteOnly));
        QVERIFY(chown(QFile::encodeName(folder + "/settings.ini").constData(), nobody, nobody)
                == 0);
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QQmlEngine engine;
    ModalCloser closer;
    auto *controller = new Controller(engine.rootContext());
    QTRY_COMPARE(closer.seen.size(), 1);
    QVERIFY2(closer.seen.first().startsWith("Warning|The settings "),
             qPrintable(closer.seen.first()));
    // Nothing goes through it: values stay in memory, and the user hears when an account
    // was not saved.
    controller->setSettingsValue("SOME/KEY", "true");
    QCOMPARE(controller->getSettingsValue("SOME/KEY"), QVariant(true));
    controller->showInputAccount("D0-C8-1A-2B-3C-4D");
    QCOMPARE(closer.seen.size(), 3);
    QVERIFY(
        closer.seen.at(2).startsWith("Warning|The account for D0-C8-1A-2B-3C-4D was not saved."));
    QCOMPARE(QFileInfo(target).size(), 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).size(),
             setup == "folder" ? 0 : 1);
    QCOMPARE(QFileInfo(folder).ownerId(), setup == "folder" ? nobody : 0u);
    controller->shutdown();
    delete controller;
}

void TestSettings::boxes_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("seen");
    const QString error = "Error!|IP address format is incorrect|1024|2";
    const QString link = "Please check <a href=\"https://example.invalid/\">link</a>";
    QTest::newRow("address 192.168.1.1") << "check"
                                         << "192.168.1.1" << true << "";
    QTest::newRow("address 256.256.256.256") << "check"
                                             << "256.256.256.256" << true << "";
    QTest::newRow("address with blank") << "check"
                                        << "192.168.1.1 " << false << error;
    QTest::newRow("address of three parts") << "check"
                                            << "192.168.1" << false << error;
    QTest::newRow("address of five parts") << "check"
                                           << "192.168.1.1.1" << false << error;
    QTest::newRow("empty address") << "check"
                                   << "" << false << error;
    QTest::newRow("warning type 0") << "0" << link << true << "Warning|" + link + "|2097152|0";
    QTest::newRow("warning type 1") << "1" << link << true << "Info|" + link + "|16384|0";
    QTest::newRow("warning type -7") << "-7" << link << true << "Info|" + link + "|16384|0";
}

void TestSettings::boxes()
{
    QFETCH(QString, call);
    QFETCH(QString, argument);
    QFETCH(bool, result);
    QFETCH(QString, seen);
    ControllerFixture ctrl;
    ModalCloser closer;
    if (call == "check") {
        QCOMPARE(ctrl->checkStringIPV4(argument), result);
    } else {
        QVERIFY(QMetaObject::invokeMethod(ctrl.get(), "onShowWarningMessageBox",
                                          Q_ARG(QString, argument), Q_ARG(int, call.toInt())));
    }
    QCOMPARE(closer.seen, seen.isEmpty() ? QStringList() : QStringList { seen });
}

void TestSettings::serviceDeletedOnceWhenContextGoesFirst()
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    auto engine = std::make_unique<QQmlEngine>();
    auto *controller = new Controller(engine->rootContext());
    QPointer<QObject> service = engine->rootContext()->findChild<QObject *>();
    QCOMPARE(QByteArray(service->metaObject()->className()), QByteArray("BonjourWinService"));
    engine.reset(); // takes the root context and the service with it
    QVERIFY(service.isNull());
    delete controller; // must not delete the service a second time
}

void TestSettings::applicationLogsEveryEvent()
{
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLog);
    QEvent user(QEvent::User);
    QEvent none(QEvent::None);
    // The base's answers, whatever the type: a custom event is taken, an unknown one is not.
    QCOMPARE(QCoreApplication::sendEvent(qApp, &user), true);
    QCOMPARE(QCoreApplication::sendEvent(qApp, &none), false);
    qInstallMessageHandler(previous);
    QCOMPARE(g_log.count("Lumisweepapplication::event"), 2);
}

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    Lumisweepapplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
