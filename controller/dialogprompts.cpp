#include "dialogprompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

void DialogPrompts::showMessage(const Message &message)
{
    QMessageBox box;
    box.setTextFormat(message.richText ? Qt::RichText : Qt::PlainText);
    box.setIcon(message.warningIcon ? QMessageBox::Warning : QMessageBox::NoIcon);
    box.setWindowTitle(message.title);
    box.setText(message.text);
    switch (message.button) {
    case Button::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::NoButton);
        break;
    case Button::Close:
        box.setStandardButtons(QMessageBox::Close);
        break;
    case Button::Yes:
        box.setStandardButtons(QMessageBox::Yes);
        break;
    }
    box.exec();
}

std::optional<QString> DialogPrompts::askText(const QString &title, const QString &label)
{
    bool ok = false;
    const QString text
        = QInputDialog::getText(nullptr, title, label, QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

std::optional<QString> DialogPrompts::askSaveFile(const QString &title,
                                                  const QString &suggestedPath,
                                                  const QString &nameFilter)
{
    // An instance rather than the static call, so that whoever answers modal dialogs (a test)
    // finds a QFileDialog among them.
    QFileDialog dialog(nullptr, title, suggestedPath, nameFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QFileInfo(suggestedPath).suffix());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}
