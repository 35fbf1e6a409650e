#ifndef DIALOGPROMPTS_H
#define DIALOGPROMPTS_H

#include "controller/userprompts.h"

// The window's way: modal message boxes, an input dialog and a file dialog, without a parent
// window.
class DialogPrompts : public UserPrompts
{
public:
    void showMessage(const Message &message) override;
    std::optional<QString> askText(const QString &title, const QString &label) override;
    std::optional<QString> askSaveFile(const QString &title, const QString &suggestedPath,
                                       const QString &nameFilter) override;
};

#endif // DIALOGPROMPTS_H
