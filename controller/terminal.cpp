#include "terminal.h"

#include "platform/console.h"

#include <QSocketNotifier>

Terminal::Terminal() = default;

Terminal::~Terminal() = default;

bool Terminal::errorIsTerminal()
{
    return Console::errorIsTerminal();
}

void Terminal::catchInterrupts()
{
    const int descriptor = Console::catchInterrupts();
    if (m_notifier || descriptor < 0) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        Console::drainInterrupts();
        emit interrupted();
    });
}

void Terminal::followOutput()
{
    const int descriptor = Console::outputPipe();
    if (m_output || descriptor < 0) {
        return;
    }
    m_output = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(m_output.get(), &QSocketNotifier::activated, this, [this] {
        // Said once; anything else that wakes it is not worth following.
        m_output->setEnabled(false);
        if (Console::outputGone()) {
            emit outputGone();
        }
    });
}
