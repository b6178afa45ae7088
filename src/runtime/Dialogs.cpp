#include "Dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <limits>

#include "DesignFont.h"

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

// A dialog is a window of its own and would take the desktop's face; it speaks in the windows' one.
void useWindowsFace(QDialog& dialog)
{
    dialog.setFont(designDefaultFont());
}

// Qt wraps a message wider than 500 pixels; each line is kept whole instead, as far as the widest box Qt
// allows on the screen holds it (less the icon and the margins).
void keepLinesWhole(QMessageBox& box, const QString& text)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label == nullptr)
        return;
    int widest = 0;
    const QFontMetrics metrics(label->font());
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int screenWidth = box.screen()->availableGeometry().width();
    const int widestBox = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
    label->setMinimumWidth(std::min(widest + 1, widestBox - 150));
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
    useWindowsFace(box);
    box.setWindowTitle(titleOrApplicationName(title));
    box.setTextFormat(Qt::PlainText); // file names and values are shown as they are, never as markup
    box.setText(shown);
    keepLinesWhole(box, shown);
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
    useWindowsFace(box);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    keepLinesWhole(box, text);
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
    useWindowsFace(dialog);
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
