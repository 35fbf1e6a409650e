#include "app/commandline.h"
#include "app/lumisweepapplication.h"
#include "controller/controller.h"
#include "models/sortfilterproxymodel.h"
#include "platform/processlimits.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QUrl>

int main(int argc, char **argv)
{
    ProcessLimits::raiseDescriptorLimit();
    // Options of its own mean the command line: no window, no display needed.
    if (CommandLine::isWanted(argc, argv)) {
        return CommandLine::run(argc, argv);
    }
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL, true);
    QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1"));

    Lumisweepapplication app(argc, argv);
    // Qt falls back to its default adaptation where Direct3D 12 does not exist. An explicit
    // request would also override Qt's own QT_QUICK_BACKEND, which machines without OpenGL
    // (offscreen, remote X) need for the software renderer, so that choice wins.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Direct3D12);
    }

    QQmlApplicationEngine engine;
    qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1, 0, "SortFilterProxyModel");

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
