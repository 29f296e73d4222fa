#include "ui/ReturnPressesButtons.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace tamsin::ui {

ReturnPressesButtons::ReturnPressesButtons(QObject* parent) : QObject(parent)
{
    if (qApp)
        qApp->installEventFilter(this);
}

bool ReturnPressesButtons::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !(qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button)))
        return false;
    if (!button->isEnabled() || !button->isVisible())
        return false;
    button->click();
    return true;
}

} // namespace tamsin::ui
