#ifndef TESTKIT_H
#define TESTKIT_H
// The kit every test shares: the real Controller on a throw-away data folder, one recorder of
// signals, one closer of modal boxes, a log catcher, and the simulated LAN's facts.

#include "controller/controller.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <mutex>
#include <optional>

// Emissions of any number of signals, in arrival order, as "tag|arg|arg..." lines. Received
// with the automatic connection type, so an emission from a worker thread is appended in the
// test's own thread, where the test reads the list.
class SignalRecorder : public QObject
{
public:
    template<typename Sender, typename... Args>
    void watch(const Sender *sender, void (Sender::*signal)(Args...), const QString &tag)
    {
        connect(sender, signal, this, [this, tag](Args... args) {
            QStringList line { tag };
            (line.append(QVariant::fromValue(args).toString()), ...);
            lines << line.join(QLatin1Char('|'));
        });
    }
    int count(const QString &tag) const
    {
        return lines.filter(QRegularExpression("^" + tag + "(\\||$)")).size();
    }
    // The device table as the user ends up with it: the last row of each address, sorted.
    QStringList table() const
    {
        QMap<QString, QString> last;
        for (const QString &line : lines.filter(QRegularExpression(QStringLiteral("^row\\|")))) {
            last.insert(line.section(QLatin1Char('|'), 1, 1), line);
        }
        QStringList rows = last.values();
        rows.sort();
        return rows;
    }
    QStringList lines;
};

// A Controller built as start-up builds it: its service parented to an engine's root context,
// its settings in a fresh data folder, torn down in the program's order. Its signals to the
// window are recorded in scan as "row|ip|mac|fw|name", "done" and "info|message".
class ControllerFixture
{
public:
    ControllerFixture()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        m_engine.reset(new QQmlEngine);
        m_controller = new Controller(m_engine->rootContext());
        scan.watch(m_controller, &Controller::deviceFound, QStringLiteral("row"));
        scan.watch(m_controller, &Controller::arpScanDone, QStringLiteral("done"));
        scan.watch(m_controller, &Controller::infoMessage, QStringLiteral("info"));
    }
    ~ControllerFixture()
    {
        m_controller->shutdown();
        m_engine.reset();
        delete m_controller;
    }
    Controller *operator->() const { return m_controller; }
    Controller *get() const { return m_controller; }
    // The engine whose root context holds "ctrl" and is the discovery service's parent.
    QQmlEngine *engine() const { return m_engine.get(); }
    QString dataFolder() const { return m_home.path() + QStringLiteral("/Lumisweep"); }
    SignalRecorder scan;

private:
    QTemporaryDir m_home;
    std::unique_ptr<QQmlEngine> m_engine;
    Controller *m_controller = nullptr;
};

// Answers every modal box, input or file dialog that opens while it lives, from the event loop,
// and notes what each one showed: "title|text|buttons|icon" (buttons as QMessageBox's numbers).
// A file dialog is given the typed text as the file's path.
class ModalCloser : public QObject
{
public:
    explicit ModalCloser(const QString &typed = QString(), bool accept = true)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, typed, accept] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                int buttons = 0;
                for (QAbstractButton *button : box->buttons()) {
                    buttons |= box->standardButton(button);
                }
                seen << QStringLiteral("%1|%2|%3|%4")
                            .arg(box->windowTitle(), box->text())
                            .arg(buttons)
                            .arg(box->icon());
                box->done(0);
            } else if (auto *dialog = qobject_cast<QInputDialog *>(modal)) {
                seen << dialog->windowTitle() + QLatin1Char('|') + dialog->labelText();
                dialog->setTextValue(typed);
                accept ? dialog->accept() : dialog->reject();
            } else if (auto *files = qobject_cast<QFileDialog *>(modal)) {
                seen << files->windowTitle();
                // The folder, then the name typed into its field, as a user does it: a path
                // given to selectFile() waits until the dialog has read its folder.
                const QFileInfo path(typed);
                files->setDirectory(path.absolutePath());
                if (auto *name = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
                    name->setText(path.fileName());
                }
                // accept() checks the typed path as a click would; it is protected, a slot.
                QMetaObject::invokeMethod(files, accept ? "accept" : "reject");
            }
        });
        m_timer.start(10);
    }
    QStringList seen;

private:
    QTimer m_timer;
};

// Every message logged while it lives, one entry per message, from whichever thread logs it.
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::keep))
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_lines.clear();
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        return s_lines;
    }

private:
    static void keep(QtMsgType, const QMessageLogContext &, const QString &line)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_lines << line;
    }
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
    const QtMessageHandler m_previous;
};

// A program of the build folder: "lumisweep", "lumisweep-arp".
inline QString buildFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") + name;
}

// A folder another user may enter, for copies of the build's programs: a copy given a capability
// and taken back is no other test's concern.
struct OpenFolder
{
    OpenFolder()
    {
        QFile::setPermissions(dir.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                  | QFile::ReadOther | QFile::ExeOther);
    }
    // The copy of a program of the build folder; empty when it could not be made.
    QString copy(const QString &name) const
    {
        return QFile::copy(buildFile(name), dir.filePath(name)) ? dir.filePath(name) : QString();
    }
    QTemporaryDir dir;
};

// A recorded device row of the simulated LAN, host as the address's last group:
// "row|198.18.0.HOST|mac|fw|name".
inline QString row(int host, const QString &mac, const QString &fw, const QString &name)
{
    return QStringLiteral("row|198.18.0.%1|%2|%3|%4").arg(host).arg(mac, fw, name);
}

// The simulated LAN the test runs in (tools/simlan/simlan.sh); tests skip outside it.
struct Lan
{
    static QString scannerIp() { return qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP"); }
    // How many packets left through the default route, to the LAN's gateway; -1 without one.
    static int gatewayCount()
    {
        const QString command = qEnvironmentVariable("LUMISWEEP_LAN_GATEWAY_COUNT");
        QProcess count;
        count.start(QStringLiteral("sh"), { QStringLiteral("-c"), command });
        const bool ran = !command.isEmpty() && count.waitForFinished(10000);
        bool ok = false;
        const int packets = count.readAllStandardOutput().trimmed().toInt(&ok);
        return ran && ok ? packets : -1;
    }
    // The LAN changed while the test runs (simlan.sh's add, link, move; %1 stands for the LAN's
    // name): what the command printed, or nothing when it failed.
    static std::optional<QString> control(const QString &command)
    {
        QProcess shell;
        shell.start(QStringLiteral("sh"),
                    { QStringLiteral("-c"),
                      QStringLiteral("$LUMISWEEP_LAN_CONTROL ")
                          + command.arg(QStringLiteral("$LUMISWEEP_LAN_NAME")) });
        if (!shell.waitForFinished(60000) || shell.exitCode() != 0) {
            return std::nullopt;
        }
        return QString::fromLatin1(shell.readAllStandardOutput()).trimmed();
    }
    // What a simulator logged, or received on its identify port.
    static QByteArray file(const QString &name)
    {
        QFile file(qEnvironmentVariable("LUMISWEEP_LAN_DIR") + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

#define REQUIRE_LAN() \
    if (Lan::scannerIp().isEmpty()) \
    QSKIP("needs the simulated LAN: run it through tools/simlan/simlan.sh")

#endif // TESTKIT_H
