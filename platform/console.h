#ifndef CONSOLE_H
#define CONSOLE_H

#include <QObject>

#include <memory>

class QSocketNotifier;

// The terminal the program runs in, when it runs on the command line.
class Console : public QObject
{
    Q_OBJECT
public:
    explicit Console(QObject *parent = nullptr);
    ~Console() override;

    // True when standard error is a terminal: progress lines are for people, not for pipes.
    static bool errorIsTerminal();
    // From now on Ctrl-C (SIGINT) and SIGTERM emit interrupted() in the event loop instead of
    // ending the process, so a scan can stop cooperatively and say what it found.
    void catchInterrupts();

signals:
    void interrupted();

private:
    void onSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

#endif // CONSOLE_H
