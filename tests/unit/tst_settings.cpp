// The Controller's settings file, its boxes and prompts, and the application object.
#include "app/lumisweepapplication.h"
#include "tests/common/testkit.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void storedValues_data();
    void storedValues();
    void accountPrompt_data();
    void accountPrompt();
    void untrustedPlaces_data();
    void untrustedPlaces();
    void withoutWindowOnlyReads_data();
    void withoutWindowOnlyReads();
    void boxes_data();
    void boxes();
    void applicationLogsEveryEvent();
};

void TestSettings::storedValues_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QVariant>("readBack");
    QTest::newRow("true") << "true" << QVariant(true);
    QTest::newRow("false") << "false" << QVariant(false);
    QTest::newRow("True stays text") << "True" << QVariant("True");
    QTest::newRow("1 stays text") << "1" << QVariant("1");
}

void TestSettings::storedValues()
{
    QFETCH(QString, stored);
    QFETCH(QVariant, readBack);
    ControllerFixture ctrl;
    QVERIFY(!ctrl->getSettingsValue("SOME/KEY").isValid());
    ctrl->setSettingsValue("SOME/KEY", stored);
    const QVariant value = ctrl->getSettingsValue("SOME/KEY");
    QCOMPARE(value, readBack);
    QCOMPARE(value.type(), readBack.type());
    // The first start makes the folder and the file, the user's alone.
    QCOMPARE(QFile::permissions(ctrl.dataFolder()) & 0x0fff, QFile::Permissions(0x0700));
    QFile file(ctrl.dataFolder() + "/settings.ini");
    QCOMPARE(file.permissions() & 0x0fff, QFile::Permissions(0x0600));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("[General]\nAPP_VERSION_NUMBER=" LUMISWEEP_VERSION "\n"));
    QCOMPARE(QSettings(file.fileName(), QSettings::IniFormat).value("SOME/KEY").toString(), stored);
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
    LogCapture log;
    QCOMPARE(ctrl->showInputAccount("D0-C8-1A-2B-3C-4D"), accept ? typed : QString());
    QCOMPARE(closer.seen, QStringList { "Input account|Example: admin:246813" });
    QSettings file(ctrl.dataFolder() + "/settings.ini", QSettings::IniFormat);
    QCOMPARE(file.contains("ACCOUNT/D0-C8-1A-2B-3C-4D"), accept);
    QCOMPARE(file.value("ACCOUNT/D0-C8-1A-2B-3C-4D").toString(), accept ? typed : QString());
    // The key is logged, the password never.
    QCOMPARE(log.lines().filter("ACCOUNT/D0-C8-1A-2B-3C-4D, value = <hidden>").size(), int(accept));
    QVERIFY(typed.isEmpty() || log.lines().filter(typed).isEmpty());
}

void TestSettings::untrustedPlaces_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("accepted"); // whether the settings go there
    QTest::newRow("folder of another user, mode 0777") << "folder" << false;
    QTest::newRow("settings.ini of another user") << "file" << false;
    QTest::newRow("settings.ini a link to another user's file") << "file link" << false;
    QTest::newRow("the folder a link in a folder others can write") << "shared link" << false;
    QTest::newRow("the folder a link of the user's to the user's folder") << "own link" << true;
}

void TestSettings::untrustedPlaces()
{
    QFETCH(QString, place);
    QFETCH(bool, accepted);
    if (geteuid() != 0) {
        QSKIP("needs root to make files of another user");
    }
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    QTemporaryDir home;
    const QString folder = home.path() + "/Lumisweep";
    const QString elsewhere = home.path() + "/elsewhere";
    const auto own = [nobody](const QString &path, bool theirs, int mode) {
        const QByteArray name = QFile::encodeName(path);
        return chown(name.constData(), theirs ? nobody : 0, theirs ? nobody : 0) == 0
            && chmod(name.constData(), mode) == 0;
    };
    QVERIFY(QDir().mkpath(elsewhere));
    if (place == "own link" || place == "shared link") {
        // A dotfile manager's link: the settings folder lives elsewhere.
        QVERIFY(QFile::link(elsewhere, folder));
        QVERIFY(own(home.path(), false, place == "own link" ? 0755 : 0777));
    } else {
        QVERIFY(QDir().mkpath(folder));
    }
    if (place == "folder") {
        QVERIFY(own(folder, true, 0777));
    } else if (place == "file") {
        QVERIFY(QFile(folder + "/settings.ini").open(QIODevice::WriteOnly));
        QVERIFY(own(folder + "/settings.ini", true, 0644));
    } else if (place == "file link") {
        QVERIFY(QFile(elsewhere + "/theirs").open(QIODevice::WriteOnly));
        QVERIFY(own(elsewhere + "/theirs", true, 0644));
        QVERIFY(QFile::link(elsewhere + "/theirs", folder + "/settings.ini"));
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QQmlEngine engine;
    ModalCloser closer;
    auto *controller = new Controller(engine.rootContext());
    controller->setSettingsValue("SOME/KEY", "true");
    QCOMPARE(controller->getSettingsValue("SOME/KEY"), QVariant(true));
    controller->showInputAccount("D0-C8-1A-2B-3C-4D");
    QTRY_COMPARE(closer.seen.size(), accepted ? 1 : 3);
    if (accepted) {
        // Written through the link, into a folder that is the user's alone.
        QCOMPARE(QSettings(elsewhere + "/settings.ini", QSettings::IniFormat).value("SOME/KEY"),
                 QVariant("true"));
        QCOMPARE(QFile::permissions(elsewhere) & 0x0fff, QFile::Permissions(0x0700));
        delete controller;
        return;
    }
    // Nothing goes through it: values stay in memory, and the user hears why, and when an
    // account was not saved.
    QVERIFY2(closer.seen[0].startsWith("Warning|The settings "), qPrintable(closer.seen[0]));
    QVERIFY(closer.seen[2].startsWith("Warning|The account for D0-C8-1A-2B-3C-4D was not saved."));
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files),
             place == "file link" ? QStringList { "theirs" } : QStringList());
    QCOMPARE(QFileInfo(elsewhere + "/theirs").size(), 0);
    delete controller;
}

void TestSettings::withoutWindowOnlyReads_data()
{
    QTest::addColumn<QString>("place"); // what the data folder's parent is before the run
    QTest::addColumn<QVariant>("read"); // what SOME/KEY reads as
    QTest::newRow("no folder yet") << "empty" << QVariant();
    QTest::newRow("a settings file") << "file" << QVariant(true);
    QTest::newRow("a home that cannot hold a folder") << "unusable" << QVariant();
}

void TestSettings::withoutWindowOnlyReads()
{
    QFETCH(QString, place);
    QFETCH(QVariant, read);
    QTemporaryDir home;
    const QByteArray stored = "[General]\nAPP_VERSION_NUMBER=1.0\n\n[SOME]\nKEY=true\n";
    const QString file = home.path() + "/Lumisweep/settings.ini";
    if (place == "file") {
        QVERIFY(QDir().mkpath(home.path() + "/Lumisweep"));
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(stored) == stored.size());
    } else if (place == "unusable") {
        // A plain file where the data folder's parent should be: not even root makes a folder.
        QVERIFY(QFile(home.path() + "/home").open(QIODevice::WriteOnly));
    }
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + (place == "unusable" ? "/home" : "")));
    const QStringList before = QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ModalCloser closer;
    {
        Controller controller(nullptr);
        QCOMPARE(controller.getSettingsValue("SOME/KEY"), read);
        controller.setSettingsValue("OTHER/KEY", "x");
        QCOMPARE(controller.getSettingsValue("OTHER/KEY"), QVariant("x"));
        QCoreApplication::processEvents(); // where a warning would open its box
    }
    QCOMPARE(closer.seen, QStringList());
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QFile ini(file);
    QCOMPARE(ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray(),
             place == "file" ? stored : QByteArray());
    QCOMPARE(QDir(home.path() + "/Lumisweep").entryList(QDir::Files | QDir::Hidden),
             place == "file" ? QStringList { "settings.ini" } : QStringList());
}

void TestSettings::boxes_data()
{
    QTest::addColumn<bool>("check"); // the address check, or else the warning box
    QTest::addColumn<QString>("text"); // the address checked, or the warning
    QTest::addColumn<int>("type"); // of the warning
    QTest::addColumn<bool>("passes"); // the address check's result
    QTest::addColumn<QString>("box"); // "title|text|buttons|icon", or empty: none
    const QString error = "Error!|IP address format is incorrect|1024|2";
    const QString link = "Please check <a href=\"https://example.invalid/\">link</a>";
    QTest::newRow("address 192.168.1.1") << true << "192.168.1.1" << 0 << true << "";
    QTest::newRow("address 256.256.256.256") << true << "256.256.256.256" << 0 << true << "";
    QTest::newRow("address with blank") << true << "192.168.1.1 " << 0 << false << error;
    QTest::newRow("address of three parts") << true << "192.168.1" << 0 << false << error;
    QTest::newRow("empty address") << true << "" << 0 << false << error;
    QTest::newRow("warning type 0")
        << false << link << 0 << true << "Warning|" + link + "|2097152|0";
    QTest::newRow("warning type 1") << false << link << 1 << true << "Info|" + link + "|16384|0";
    QTest::newRow("warning type -7") << false << link << -7 << true << "Info|" + link + "|16384|0";
}

void TestSettings::boxes()
{
    QFETCH(bool, check);
    QFETCH(QString, text);
    QFETCH(int, type);
    QFETCH(bool, passes);
    QFETCH(QString, box);
    ControllerFixture ctrl;
    ModalCloser closer;
    if (check) {
        QCOMPARE(ctrl->checkStringIPV4(text), passes);
    } else {
        QVERIFY(QMetaObject::invokeMethod(ctrl.get(), "onShowWarningMessageBox",
                                          Q_ARG(QString, text), Q_ARG(int, type)));
    }
    QCOMPARE(closer.seen.join(""), box);
}

void TestSettings::applicationLogsEveryEvent()
{
    LogCapture log;
    QEvent user(QEvent::User);
    QEvent none(QEvent::None);
    // The base's answers, whatever the type: a custom event is taken, an unknown one is not.
    QCOMPARE(QCoreApplication::sendEvent(qApp, &user), true);
    QCOMPARE(QCoreApplication::sendEvent(qApp, &none), false);
    QCOMPARE(log.lines(),
             QStringList({ "Lumisweepapplication::event", "Lumisweepapplication::event" }));
}

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    Lumisweepapplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
