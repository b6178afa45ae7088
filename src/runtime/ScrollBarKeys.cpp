#include "ScrollBarKeys.h"

#include <QKeyEvent>
#include <QScrollBar>

namespace tesselby {

namespace {

class ArrowKeyFilter : public QObject {
public:
    explicit ArrowKeyFilter(QScrollBar* bar) : QObject(bar), m_bar(bar) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_bar || event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Left && key != Qt::Key_Right)
            return false;
        const bool forward = (key == Qt::Key_Right) != m_bar->isRightToLeft();
        m_bar->triggerAction(forward ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub);
        return true;
    }

private:
    QScrollBar* m_bar;
};

} // namespace

void useReadingOrderArrowKeys(QScrollBar* bar)
{
    bar->installEventFilter(new ArrowKeyFilter(bar));
}

} // namespace tesselby
