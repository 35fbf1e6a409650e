#ifndef CONSOLEPROMPTS_H
#define CONSOLEPROMPTS_H

#include "controller/userprompts.h"

// The command line's way: every message goes to standard error as one line; nothing is asked.
class ConsolePrompts : public UserPrompts
{
public:
    void showMessage(const Message &message) override;
    std::optional<QString> askText(const QString &title, const QString &label) override;
    std::optional<QString> askSaveFile(const QString &title, const QString &suggestedPath,
                                       const QString &nameFilter) override;
};

#endif // CONSOLEPROMPTS_H
