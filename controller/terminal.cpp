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
