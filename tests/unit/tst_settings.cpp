// The Controller's settings store, title, scale and dialogs, on a private data folder.
#include "controller/controller.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <memory>

#include <sys/stat.h>

namespace {

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (stat(QFile::encodeName(path).constData(), &info) != 0) {
        return -1;
    }
    return int(info.st_mode & 0777);
}

struct BoxSeen
{
    QString title;
    QString text;
    QList<QMessageBox::StandardButton> buttons;
    bool seen = false;
};

// Modal boxes run a nested loop; look at the box from a timer, then close it.
void closeNextMessageBox(BoxSeen *seen)
{
    QTimer::singleShot(50, [seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            closeNextMessageBox(seen);
            return;
        }
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        for (QAbstractButton *button : box->buttons()) {
            seen->buttons.append(box->standardButton(button));
        }
        box->done(0);
    });
}

void answerNextInputDialog(const QString &text, bool accept)
{
    QTimer::singleShot(50, [text, accept] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerNextInputDialog(text, accept);
            return;
        }
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Input account"));
        QCOMPARE(dialog->labelText(), QStringLiteral("Example: admin:246813"));
        QCOMPARE(dialog->textEchoMode(), QLineEdit::Normal);
        dialog->setTextValue(text);
        if (accept) {
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void freshFolderAndVersion();
    void versionRewrittenAtEveryStart();
    void booleanConversion_data();
    void booleanConversion();
    void missingKeyIsInvalid();
    void accountPrompt_data();
    void accountPrompt();
    void warningBox_data();
    void warningBox();
    void titleAndScale();
    void serviceDeletedOnceWhenContextGoesFirst();

private:
    Controller *makeController();
    QString settingsFile() const { return m_home->path() + "/data/Lumisweep/settings.ini"; }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QQmlEngine> m_engine;
    Controller *m_controller = nullptr;
};

void TestSettings::initTestCase()
{
    // The data folder is named after the application, as the program names it.
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
}

void TestSettings::init()
{
    m_home.reset(new QTemporaryDir);
    QVERIFY(m_home->isValid());
    // QStandardPaths reads these at every call, so each case gets a fresh data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->path() + "/data"));
    qputenv("HOME", QFile::encodeName(m_home->path()));
    m_engine.reset(new QQmlEngine);
}

void TestSettings::cleanup()
{
    delete m_controller;
    m_controller = nullptr;
    m_engine.reset();
    m_home.reset();
}

Controller *TestSettings::makeController()
{
    return new Controller(m_engine->rootContext());
}

void TestSettings::freshFolderAndVersion()
{
    QVERIFY(!QFileInfo::exists(m_home->path() + "/data/Lumisweep"));
    m_controller = makeController();

    QCOMPARE(m_engine->rootContext()->contextProperty("ctrl").value<QObject *>(), m_controller);
    const QFileInfo folder(m_home->path() + "/data/Lumisweep");
    QVERIFY(folder.isDir());
    QCOMPARE(modeOf(folder.filePath()), 0700);

    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[General]\nAPP_VERSION_NUMBER=2.7.1\n"));
    QCOMPARE(modeOf(settingsFile()), 0600);

    // Accounts are written through the same store and must not widen the mode.
    m_controller->setSettingsValue("ACCOUNT/D0-C8-00-11-22-33", "admin:secret");
    QCOMPARE(modeOf(settingsFile()), 0600);
}

void TestSettings::versionRewrittenAtEveryStart()
{
    QVERIFY(QDir().mkpath(m_home->path() + "/data/Lumisweep"));
    {
        QSettings old(settingsFile(), QSettings::IniFormat);
        old.setValue("APP_VERSION_NUMBER", "1.0.0");
        old.setValue("ACCOUNT/00-11", "kept");
    }
    QFile::setPermissions(settingsFile(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    m_controller = makeController();
    QSettings after(settingsFile(), QSettings::IniFormat);
    QCOMPARE(after.value("APP_VERSION_NUMBER").toString(), QStringLiteral("2.7.1"));
    QCOMPARE(after.value("ACCOUNT/00-11").toString(), QStringLiteral("kept"));
    QCOMPARE(modeOf(settingsFile()), 0600);
}

void TestSettings::booleanConversion_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("true") << QVariant("true") << QVariant(true);
    QTest::newRow("false") << QVariant("false") << QVariant(false);
    QTest::newRow("True stays text") << QVariant("True") << QVariant("True");
    QTest::newRow("1 stays text") << QVariant("1") << QVariant("1");
    QTest::newRow("yes stays text") << QVariant("yes") << QVariant("yes");
    QTest::newRow("padded stays text") << QVariant(" true") << QVariant(" true");
}

void TestSettings::booleanConversion()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, expected);
    m_controller = makeController();
    m_controller->setSettingsValue("SOME/KEY", stored);
    // Through a second store too: the value must survive the round trip through the file.
    delete m_controller;
    m_controller = makeController();
    const QVariant value = m_controller->getSettingsValue("SOME/KEY");
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);
}

void TestSettings::missingKeyIsInvalid()
{
    m_controller = makeController();
    QVERIFY(!m_controller->getSettingsValue("NEVER/WRITTEN").isValid());
}

void TestSettings::accountPrompt_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<bool>("stored");
    QTest::newRow("confirmed") << "admin:246813" << true << true;
    QTest::newRow("confirmed empty") << "" << true << true;
    QTest::newRow("cancelled") << "admin:1" << false << false;
}

void TestSettings::accountPrompt()
{
    QFETCH(QString, typed);
    QFETCH(bool, accept);
    QFETCH(bool, stored);
    m_controller = makeController();
    answerNextInputDialog(typed, accept);
    const QString result = m_controller->showInputAccount("D0-C8-1A-2B-3C-4D");
    QCOMPARE(result, accept ? typed : QString());

    QSettings file(settingsFile(), QSettings::IniFormat);
    QCOMPARE(file.contains("ACCOUNT/D0-C8-1A-2B-3C-4D"), stored);
    if (stored) {
        QCOMPARE(file.value("ACCOUNT/D0-C8-1A-2B-3C-4D").toString(), typed);
    }
}

void TestSettings::warningBox_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("button");
    QTest::newRow("type 0") << 0 << "Warning" << int(QMessageBox::Close);
    QTest::newRow("type 1") << 1 << "Info" << int(QMessageBox::Yes);
    QTest::newRow("type -7") << -7 << "Info" << int(QMessageBox::Yes);
}

void TestSettings::warningBox()
{
    QFETCH(int, type);
    QFETCH(QString, title);
    QFETCH(int, button);
    m_controller = makeController();
    const QString message = "Please check <a href=\"https://example.invalid/\">link</a>";
    BoxSeen seen;
    closeNextMessageBox(&seen);
    QVERIFY(QMetaObject::invokeMethod(m_controller, "onShowWarningMessageBox",
                                      Q_ARG(QString, message), Q_ARG(int, type)));
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, message);
    QCOMPARE(seen.buttons,
             QList<QMessageBox::StandardButton> { QMessageBox::StandardButton(button) });
}

void TestSettings::titleAndScale()
{
    m_controller = makeController();
    QCOMPARE(m_controller->getAppTitleName(), QStringLiteral("Lumisweep V2.7.1"));
    const float expected = float(QGuiApplication::primaryScreen()->logicalDotsPerInchX()) / 96.0f;
    QCOMPARE(m_controller->getDpiScale(), expected);
}

void TestSettings::serviceDeletedOnceWhenContextGoesFirst()
{
    m_controller = makeController();
    QObject *service = m_engine->rootContext()->findChild<QObject *>();
    QVERIFY(service);
    QCOMPARE(QByteArray(service->metaObject()->className()), QByteArray("BonjourWinService"));
    QPointer<QObject> watch(service);
    m_engine.reset(); // takes the root context and the service with it
    QVERIFY(watch.isNull());
    delete m_controller; // must not delete the service a second time
    m_controller = nullptr;
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
