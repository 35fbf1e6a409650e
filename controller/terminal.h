#ifndef TERMINAL_H
#define TERMINAL_H

#include <QObject>

#include <memory>

class QSocketNotifier;

// The terminal a command-line front end runs in: whether standard error is one, and Ctrl-C or
// SIGTERM delivered as a signal in the event loop rather than as the end of the process.
class Terminal : public QObject
{
    Q_OBJECT
public:
    Terminal();
    ~Terminal() override;

    static bool errorIsTerminal();
    // From now on SIGINT and SIGTERM emit interrupted() instead of ending the process, so that a
    // scan can stop and say what it found.
    void catchInterrupts();
    // From now on outputGone() comes when the reader of standard output (a pipe's) goes away,
    // whether or not anything is being written.
    void followOutput();

signals:
    void interrupted();
    void outputGone();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QSocketNotifier> m_output;
};

#endif // TERMINAL_H
