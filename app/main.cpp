#include "app/commandline.h"
#include "app/lumisweepapplication.h"
#include "controller/controller.h"
#include "models/sortfilterproxymodel.h"

#include <QIcon>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTextStream>
#include <QUrl>

#include <cstdlib>

namespace {

QtMessageHandler s_qtHandler = nullptr;
QStringList s_heldBack;

// Qt ends a program whose display cannot be opened with warnings, a fatal message and an abort;
// the user of a remote shell gets one line that says what to do instead. What Qt says while it
// opens the display is held back until it is known which of the two it is.
void noDisplayHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        QTextStream(stderr) << "lumisweep: no display can be opened for the window; scan without "
                               "one with --scan (see --help)\n";
        std::_Exit(CommandLine::Failed);
    }
    if (type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) {
        s_heldBack << qFormatLogMessage(type, context, message);
        return;
    }
    s_qtHandler(type, context, message);
}

// The desktop entry's name and icon: docks and task switchers find the entry by it (the window's
// class is the application name, as the entry's StartupWMClass says), and the window shows the
// icon also where the entry is not installed.
void showDesktopIdentity(QGuiApplication &app)
{
    QGuiApplication::setDesktopFileName(QStringLiteral("org.lumisweep.Lumisweep"));
    QIcon icon;
    for (const int size : { 16, 24, 32, 48, 64, 128 }) {
        icon.addFile(
            QStringLiteral(":/icons/hicolor/%1x%1/apps/org.lumisweep.Lumisweep.png").arg(size),
            QSize(size, size));
    }
    app.setWindowIcon(icon);
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    if (!parsed.request) {
        return CommandLine::usageError(parsed.error);
    }
    if (parsed.request->command != CommandLine::Request::Command::Window) {
        return CommandLine::run(argc, argv, *parsed.request);
    }
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL, true);
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QCoreApplication::setApplicationVersion(Controller::versionNumber());
    // The debug log is for the developers; --verbose or QT_LOGGING_RULES turns it on.
    if (!parsed.request->verbose) {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }

    s_qtHandler = qInstallMessageHandler(noDisplayHandler);
    Lumisweepapplication app(argc, argv);
    qInstallMessageHandler(s_qtHandler);
    for (const QString &message : qAsConst(s_heldBack)) {
        QTextStream(stderr) << message << '\n';
    }
    showDesktopIdentity(app);
#ifdef Q_OS_WIN
    // Only Windows has this adaptation; elsewhere the request would only draw a warning.
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Direct3D12);
#endif

    QQmlApplicationEngine engine;
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");
    // The Controller's enumerations, known to QML as those of the type Controller.
    qmlRegisterUncreatableType<Controller>("Lumisweep", 1, 0, "Controller",
                                           QStringLiteral("the window's controller is ctrl"));

    // Never deleted: it outlives the engine, whose root context parents the discovery service.
    // Held in a static so that it stays reachable until the process ends.
    static Controller *controller = nullptr;
    controller = new Controller(engine.rootContext());

    const QString address
        = QStringLiteral("qrc:/") + QStringLiteral("desktop") + QStringLiteral("/qml/main.qml");
    engine.load(QUrl(QString::fromLatin1(address.toLatin1()), QUrl::TolerantMode));

    const int result = app.exec();
    // Worker threads use the service that the engine's root context owns: end the scan first.
    controller->shutdown();
    return result;
}
