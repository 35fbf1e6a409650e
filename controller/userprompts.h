#ifndef USERPROMPTS_H
#define USERPROMPTS_H

#include <QString>

#include <optional>

// Where the Controller tells the user something that needs an answer or must not go unseen:
// message boxes in the window, standard error on the command line.
class UserPrompts
{
public:
    enum class Button { Ok, Close, Yes };
    struct Message
    {
        QString title;
        QString text;
        Button button = Button::Ok;
        bool richText = false; // the text may hold a link
        bool warningIcon = false;
    };

    virtual ~UserPrompts() = default;
    // Returns once the user has seen it.
    virtual void showMessage(const Message &message) = 0;
    // A warning with nothing to choose but closing it.
    void warn(const QString &text)
    {
        showMessage({ QStringLiteral("Warning"), text, Button::Close });
    }
    // The text the user confirmed, possibly empty; nothing when cancelled.
    virtual std::optional<QString> askText(const QString &title, const QString &label) = 0;
    // A file to write, chosen by the user starting from suggestedPath; nothing when cancelled.
    virtual std::optional<QString> askSaveFile(const QString &title, const QString &suggestedPath,
                                               const QString &nameFilter)
        = 0;
};

#endif // USERPROMPTS_H
