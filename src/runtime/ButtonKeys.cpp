#include "ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace tesselby {

namespace {

class EnterKeyFilter : public QObject {
public:
    explicit EnterKeyFilter(QAbstractButton* button) : QObject(button), m_button(button) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_button || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        // Held down, it presses once, as Space does.
        if (!key->isAutoRepeat() && m_button->isEnabled())
            m_button->click();
        return true;
    }

private:
    QAbstractButton* m_button;
};

} // namespace

void pressOnEnter(QAbstractButton* button)
{
    button->installEventFilter(new EnterKeyFilter(button));
}

} // namespace tesselby
