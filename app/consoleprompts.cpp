#include "consoleprompts.h"

#include <QRegularExpression>
#include <QTextStream>

void ConsolePrompts::showMessage(const Message &message)
{
    QString text = message.text;
    if (message.richText) {
        // A terminal shows no links: keep the address beside the link's text.
        static const QRegularExpression link(
            QStringLiteral("<a\\s+href=\"([^\"]*)\"\\s*>([^<]*)</a>"));
        static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
        text.replace(link, QStringLiteral("\\2 (\\1)")).remove(tag);
    }
    // The box's title has no place on a line that names the program.
    QTextStream(stderr) << "lumisweep: " << text << '\n';
}

std::optional<QString> ConsolePrompts::askText(const QString &, const QString &)
{
    return std::nullopt;
}

std::optional<QString> ConsolePrompts::askSaveFile(const QString &, const QString &,
                                                   const QString &)
{
    // The command line writes to standard output, which the user redirects where they want.
    return std::nullopt;
}
