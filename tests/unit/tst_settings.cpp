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
    // value stored | what comes back (b: a boolean)
    rows({ { "true", "true | b true" },
           { "false", "false | b false" },
           { "True stays text", "True | True" },
           { "1 stays text", "1 | 1" } });
}

void TestSettings::storedValues()
{
    QFETCH(QStringList, f);
    ControllerFixture ctrl;
    QVERIFY(!ctrl->getSettingsValue("SOME/KEY").isValid());
    ctrl->setSettingsValue("SOME/KEY", f[0]);
    const QVariant value = ctrl->getSettingsValue("SOME/KEY");
    QCOMPARE(value.type() == QVariant::Bool ? "b " + value.toString() : value.toString(), f[1]);
    // The first start makes the folder and the file, the user's alone.
    QCOMPARE(QFile::permissions(ctrl.dataFolder()) & 0x0fff, QFile::Permissions(0x0700));
    QFile file(ctrl.dataFolder() + "/settings.ini");
    QCOMPARE(file.permissions() & 0x0fff, QFile::Permissions(0x0600));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("[General]\nAPP_VERSION_NUMBER=" LUMISWEEP_VERSION "\n"));
    QCOMPARE(QSettings(file.fileName(), QSettings::IniFormat).value("SOME/KEY").toString(), f[0]);
}

void TestSettings::accountPrompt_data()
{
    // typed | confirmed
    rows({ { "confirmed", "admin:246813 | yes" },
           { "confirmed empty", " | yes" },
           { "cancelled", "admin:1 | no" } });
}

void TestSettings::accountPrompt()
{
    QFETCH(QStringList, f);
    const bool accept = f[1] == "yes";
    ControllerFixture ctrl;
    ModalCloser closer(f[0], accept);
    LogCapture log;
    QCOMPARE(ctrl->showInputAccount("D0-C8-1A-2B-3C-4D"), accept ? f[0] : QString());
    QCOMPARE(closer.seen, QStringList { "Input account|Example: admin:246813" });
    QSettings file(ctrl.dataFolder() + "/settings.ini", QSettings::IniFormat);
    QCOMPARE(file.contains("ACCOUNT/D0-C8-1A-2B-3C-4D"), accept);
    QCOMPARE(file.value("ACCOUNT/D0-C8-1A-2B-3C-4D").toString(), accept ? f[0] : QString());
    // The key is logged, the password never.
    QCOMPARE(log.lines().filter("ACCOUNT/D0-C8-1A-2B-3C-4D, value = <hidden>").size(), int(accept));
    QVERIFY(f[0].isEmpty() || log.lines().filter(f[0]).isEmpty());
}

void TestSettings::untrustedPlaces_data()
{
    // the place | whether the settings go there
    rows({ { "folder of another user, mode 0777", "folder | no" },
           { "settings.ini of another user", "file | no" },
           { "settings.ini a link to another user's file", "file link | no" },
           { "the folder a link in a folder others can write", "shared link | no" },
           { "the folder a link of the user's to the user's folder", "own link | yes" } });
}

void TestSettings::untrustedPlaces()
{
    QFETCH(QStringList, f);
    if (geteuid() != 0) {
        QSKIP("needs root to make files of another user");
    }
    const uid_t nobody = getpwnam("nobody")->pw_uid;
    const bool accepted = f[1] == "yes";
    QTemporaryDir home;
    const QString folder = home.path() + "/Lumisweep";
    const QString elsewhere = home.path() + "/elsewhere";
    const auto own = [nobody](const QString &path, bool theirs, int mode) {
        const QByteArray name = QFile::encodeName(path);
        return chown(name.constData(), theirs ? nobody : 0, theirs ? nobody : 0) == 0
            && chmod(name.constData(), mode) == 0;
    };
    QVERIFY(QDir().mkpath(elsewhere));
    if (f[0].endsWith("own link") || f[0] == "shared link") {
        // A dotfile manager's link: the settings folder lives elsewhere.
        QVERIFY(QFile::link(elsewhere, folder));
        QVERIFY(own(home.path(), false, f[0] == "own link" ? 0755 : 0777));
    } else {
        QVERIFY(QDir().mkpath(folder));
    }
    if (f[0] == "folder") {
        QVERIFY(own(folder, true, 0777));
    } else if (f[0] == "file") {
        QVERIFY(QFile(folder + "/settings.ini").open(QIODevice::WriteOnly));
        QVERIFY(own(folder + "/settings.ini", true, 0644));
    } else if (f[0] == "file link") {
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
             f[0] == "file link" ? QStringList { "theirs" } : QStringList());
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
    // call (check: the address check; a number: that warning type) | argument | result | box
    const QString error = "Error!|IP address format is incorrect|1024|2";
    const QString link = "Please check <a href=\"https://example.invalid/\">link</a>";
    rows({ { "address 192.168.1.1", "check | 192.168.1.1 | yes | " },
           { "address 256.256.256.256", "check | 256.256.256.256 | yes | " },
           { "address with blank", "check | 192.168.1.1  | no | " + error },
           { "address of three parts", "check | 192.168.1 | no | " + error },
           { "empty address", "check |  | no | " + error },
           { "warning type 0", "0 | " + link + " | yes | Warning|" + link + "|2097152|0" },
           { "warning type 1", "1 | " + link + " | yes | Info|" + link + "|16384|0" },
           { "warning type -7", "-7 | " + link + " | yes | Info|" + link + "|16384|0" } });
}

void TestSettings::boxes()
{
    QFETCH(QStringList, f);
    ControllerFixture ctrl;
    ModalCloser closer;
    if (f[0] == "check") {
        QCOMPARE(ctrl->checkStringIPV4(f[1]), f[2] == "yes");
    } else {
        QVERIFY(QMetaObject::invokeMethod(ctrl.get(), "onShowWarningMessageBox",
                                          Q_ARG(QString, f[1]), Q_ARG(int, f[0].toInt())));
    }
    QCOMPARE(closer.seen.join(""), f[3]);
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
