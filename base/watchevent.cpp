#include "watchevent.h"

#include <QCoreApplication>

namespace {

// Known by name wherever an application runs, so that QML's handlers of a signal that carries the
// reason receive it (as a number) rather than undefined.
void registerTypes()
{
    qRegisterMetaType<Watch::End>();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(registerTypes)

namespace Watch {

QString eventName(Event event)
{
    switch (event) {
    case Event::Present:
        return QStringLiteral("present");
    case Event::Appeared:
        return QStringLiteral("appeared");
    case Event::Changed:
        return QStringLiteral("changed");
    case Event::Conflict:
        return QStringLiteral("conflict");
    case Event::Departed:
        return QStringLiteral("departed");
    case Event::Returned:
        return QStringLiteral("returned");
    case Event::InterfaceLost:
        return QStringLiteral("interface-lost");
    case Event::InterfaceBack:
        return QStringLiteral("interface-back");
    case Event::End:
        break;
    }
    return QStringLiteral("end");
}

QString endName(End end)
{
    switch (end) {
    case End::Stopped:
        return QStringLiteral("stopped");
    case End::Readdressed:
        return QStringLiteral("readdressed");
    case End::HelperGone:
        return QStringLiteral("helper-gone");
    case End::Failed:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace Watch
