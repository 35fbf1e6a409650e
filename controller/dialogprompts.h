#ifndef DIALOGPROMPTS_H
#define DIALOGPROMPTS_H

#include "controller/userprompts.h"

// The window's way: modal message boxes and an input dialog, without a parent window.
class DialogPrompts : public UserPrompts
{
public:
    void showMessage(const Message &message) override;
    std::optional<QString> askText(const QString &title, const QString &label) override;
};

#endif // DIALOGPROMPTS_H
