#include "Dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <limits>

namespace tesselby {

namespace {

QString titleOrApplicationName(const QString& title)
{
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

QWidget* ownerOrActiveWindow(QWidget* parent)
{
    return parent != nullptr && parent->isVisible() ? parent : QApplication::activeWindow();
}

// Gives the keyboard back to the window the dialog belonged to, also where no window manager does.
void returnFocusTo(QWidget* owner)
{
    if (owner != nullptr && owner->isVisible())
        owner->activateWindow();
}

} // namespace

bool messageBox(QWidget* parent, const QString& text, MessageStyle style, const QString& title)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QWidget* owner = ownerOrActiveWindow(parent);
    QMessageBox box(owner);
    box.setWindowTitle(titleOrApplicationName(title));
    box.setTextFormat(Qt::PlainText); // file names and values are shown as they are, never as markup
    box.setText(shown);
    if (style == MessageStyle::Information) {
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
    } else if (style == MessageStyle::Critical) {
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
    } else if (style == MessageStyle::CriticalRetry) {
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
    } else {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    }
    const int pressed = box.exec();
    returnFocusTo(owner);
    return pressed == QMessageBox::Ok || pressed == QMessageBox::Retry || pressed == QMessageBox::Yes;
}

int choose(QWidget* parent, const QString& text, const QStringList& buttons)
{
    QWidget* owner = ownerOrActiveWindow(parent);
    QMessageBox box(owner);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(QMessageBox::Question);
    QList<QAbstractButton*> added;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        added << box.addButton(buttons[i], i + 1 == buttons.size() ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    box.setEscapeButton(added.isEmpty() ? nullptr : added.last());
    box.exec();
    returnFocusTo(owner);
    const qsizetype pressed = added.indexOf(box.clickedButton());
    return static_cast<int>(pressed < 0 ? buttons.size() - 1 : pressed);
}

QString inputBox(QWidget* parent, const QString& prompt, const QString& title)
{
    QWidget* owner = ownerOrActiveWindow(parent);
    QInputDialog dialog(owner);
    dialog.setWindowTitle(titleOrApplicationName(title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(QString());
    dialog.setInputMode(QInputDialog::TextInput);
    // The entry's default limit of 32767 characters would cut a long pasted answer without a word.
    if (auto* entry = dialog.findChild<QLineEdit*>())
        entry->setMaxLength(std::numeric_limits<int>::max());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    returnFocusTo(owner);
    return accepted ? dialog.textValue() : QString();
}

bool reportFileFailure(QWidget* parent, const QString& what, const std::string& path, const std::string& reason,
                       MessageStyle style, const QString& advice)
{
    QString text = QStringLiteral("%1 %2.\n\nThe reason: %3.")
                       .arg(what, QString::fromStdString(path), QString::fromStdString(reason));
    if (!advice.isEmpty())
        text += QStringLiteral("\n\n") + advice;
    return messageBox(parent, text, style);
}

} // namespace tesselby
