// The application object logs every event delivered to it and changes none of them.
#include "app/lumisweepapplication.h"

#include <QTest>
#include <QTimer>

namespace {
int g_eventLines = 0;

void countEventLines(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message == QLatin1String("Lumisweepapplication::event")) {
        ++g_eventLines;
    }
}

// The base behaviour to compare with: a plain QApplication is not available at the same time,
// so the subclass's own base call is reached through a derived test type.
class ProbeApplication : public Lumisweepapplication
{
public:
    using Lumisweepapplication::Lumisweepapplication;
    bool logged(QEvent *e) { return event(e); }
    bool base(QEvent *e) { return QApplication::event(e); }
};
} // namespace

int main(int argc, char **argv)
{
    ProbeApplication app(argc, argv);
    qInstallMessageHandler(countEventLines);
    int failures = 0;
    const QEvent::Type types[] = { QEvent::User, QEvent::Timer, QEvent::LanguageChange,
                                   QEvent::ApplicationStateChange, QEvent::None };
    for (QEvent::Type type : types) {
        QEvent first(type);
        QEvent second(type);
        const int before = g_eventLines;
        const bool result = app.logged(&first);
        if (g_eventLines != before + 1 || result != app.base(&second)) {
            ++failures;
        }
    }
    // Events that arrive through the loop count once each too.
    const int before = g_eventLines;
    QCoreApplication::postEvent(&app, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&app, new QEvent(QEvent::User));
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();
    if (g_eventLines - before < 2) {
        ++failures;
    }
    qInstallMessageHandler(nullptr);
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
