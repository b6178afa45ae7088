#include "ControlArray.h"

#include <QLineEdit>

namespace tesselby {

QLineEdit* loadTextBoxElement(QLineEdit* element0, int index)
{
    auto* element = new QLineEdit(element0->parentWidget());
    element->setObjectName(QStringLiteral("%1(%2)").arg(element0->objectName()).arg(index));
    element->setGeometry(element0->geometry());
    element->setFont(element0->font());
    element->setMaxLength(element0->maxLength());
    element->setText(element0->text());
    element->hide();
    return element;
}

} // namespace tesselby
