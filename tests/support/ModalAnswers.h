#pragma once

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <deque>
#include <functional>

// Types text key by key; characters beyond ASCII arrive as a keyboard layout would send them.
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// Answers the modal dialogs the program opens, in order, while the real dialogs run their own event
// loops. Each answer is given the dialog; it may read it and then must close it as a person would.
class ModalAnswers {
public:
    using Answer = std::function<void(QWidget*)>;

    ModalAnswers()
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this] { answerIfOpen(); });
        m_poll.start(5);
    }

    ModalAnswers& then(Answer answer)
    {
        m_answers.push_back(std::move(answer));
        return *this;
    }

    bool allAnswered() const { return m_answers.empty(); }
    int answeredCount() const { return m_answered; }

    // Types text into the prompt's entry field and presses Enter.
    static Answer typeAndAccept(const QString& text)
    {
        return [text](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>();
            QVERIFY(edit != nullptr);
            typeText(edit, text);
            QTest::keyClick(edit, Qt::Key_Return);
        };
    }

    // Clicks the dialog's button of the given role (Cancel, Retry, OK...).
    static Answer click(QDialogButtonBox::StandardButton which)
    {
        return [which](QWidget* dialog) {
            auto* box = dialog->findChild<QDialogButtonBox*>();
            QVERIFY(box != nullptr);
            QAbstractButton* button = box->button(which);
            QVERIFY(button != nullptr);
            QTest::mouseClick(button, Qt::LeftButton);
        };
    }

    // Clicks the dialog's button that reads text, as a person choosing it by its label.
    static Answer press(const QString& text)
    {
        return [text](QWidget* dialog) {
            for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
                if (button->text().remove(QLatin1Char('&')) == text) {
                    QTest::mouseClick(button, Qt::LeftButton);
                    return;
                }
            }
            QFAIL(qPrintable(QStringLiteral("no button \"%1\" in the dialog").arg(text)));
        };
    }

    // Reads what a dialog shows before the next answer closes it.
    struct Seen {
        QString title;
        QString text;
        QString entry;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        QFont font;              // the face the text is shown in
        bool linesWhole = false; // each line of the text fits, unwrapped, in the width it is shown in
    };
    static Answer look(Seen* seen, Answer then)
    {
        return [seen, then](QWidget* dialog) {
            *seen = Seen{};
            seen->title = dialog->windowTitle();
            const auto* box = qobject_cast<QMessageBox*>(dialog);
            const QLabel* label = box != nullptr ? dialog->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))
                                                 : dialog->findChild<QLabel*>();
            if (box != nullptr) {
                seen->text = box->text();
                seen->icon = box->icon();
            } else if (label != nullptr) {
                seen->text = label->text();
            }
            if (label != nullptr) {
                seen->font = label->font();
                const QFontMetrics metrics(label->font());
                const QStringList lines = label->text().split(QLatin1Char('\n'));
                seen->linesWhole = std::all_of(lines.begin(), lines.end(), [&](const QString& line) {
                    return metrics.horizontalAdvance(line) <= label->contentsRect().width();
                });
            }
            if (auto* edit = dialog->findChild<QLineEdit*>())
                seen->entry = edit->text();
            if (auto* buttons = dialog->findChild<QDialogButtonBox*>()) {
                for (QAbstractButton* button : buttons->buttons())
                    seen->buttons << button->text().remove(QLatin1Char('&'));
            }
            then(dialog);
        };
    }

private:
    void answerIfOpen()
    {
        QWidget* dialog = QApplication::activeModalWidget();
        if (m_answers.empty() || dialog == nullptr || !dialog->isVisible() || dialog->property("answered").toBool())
            return;
        dialog->setProperty("answered", true);
        Answer answer = std::move(m_answers.front());
        m_answers.pop_front();
        ++m_answered;
        answer(dialog);
    }

    QTimer m_poll;
    std::deque<Answer> m_answers;
    int m_answered = 0;
};
