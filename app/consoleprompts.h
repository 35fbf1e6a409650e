#ifndef CONSOLEPROMPTS_H
#define CONSOLEPROMPTS_H

#include "controller/userprompts.h"

#include <functional>

// The command line's way: every message goes to standard error as one line; nothing is asked.
class ConsolePrompts : public UserPrompts
{
public:
    void showMessage(const Message &message) override;
    std::optional<QString> askText(const QString &title, const QString &label) override;

    // Called after each message: a scan that cannot run says so through one.
    std::function<void(const Message &)> onShown;
};

#endif // CONSOLEPROMPTS_H
