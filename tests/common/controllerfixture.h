#ifndef CONTROLLERFIXTURE_H
#define CONTROLLERFIXTURE_H

#include "controller/controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>

#include <memory>

// A real Controller built as start-up builds it (its service parented to an engine's root
// context), with its settings in a throw-away data folder, torn down in the program's order.
class ControllerFixture
{
public:
    ControllerFixture()
    {
        // The data folder is named after the application, as the program names it.
        QCoreApplication::setApplicationName(QStringLiteral("Lumisweep"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        m_engine.reset(new QQmlEngine);
        m_controller = new Controller(m_engine->rootContext());
    }
    ~ControllerFixture()
    {
        m_controller->shutdown();
        m_engine.reset();
        delete m_controller;
    }
    ControllerFixture(const ControllerFixture &) = delete;
    ControllerFixture &operator=(const ControllerFixture &) = delete;

    Controller *controller() const { return m_controller; }

    // The scanner's address inside the simulated LAN; empty anywhere else.
    static QString lanScannerIp() { return qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP"); }

private:
    QTemporaryDir m_home;
    std::unique_ptr<QQmlEngine> m_engine;
    Controller *m_controller = nullptr;
};

#endif // CONTROLLERFIXTURE_H
