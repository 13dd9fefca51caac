#include "platform/message_boxes.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QTextDocument>

namespace pelloran::platform {

MessageAnswer QtMessageBoxes::show(const QString& text, const QString& title, MessageIcon icon,
                                   MessageButtons buttons)
{
    QMessageBox box(parent_);
    box.setWindowTitle(title);
    box.setIcon(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::Information);
    // Our texts separate lines by a carriage return alone, which a label would
    // not break on; leading blanks are part of the text and must stay.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    box.setTextFormat(Qt::RichText);
    box.setText(Qt::convertFromPlainText(lines, Qt::WhiteSpacePre));
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<int> QtMessageBoxes::askNumber(const QString& text, const QString& title, int value,
                                             int first, int last)
{
    bool accepted = false;
    const int number = QInputDialog::getInt(parent_, title, text, value, first, last, 1, &accepted);
    if (!accepted) return std::nullopt;
    return number;
}

}  // namespace pelloran::platform
