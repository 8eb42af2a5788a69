#include "Keyboard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

namespace {

class EnterPressesButtons final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        // Only the button that has the focus: a line edit's Enter (a search, a dialog's default
        // button) stays its own.
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button || !button->hasFocus() || !(qobject_cast<QPushButton*>(button) || qobject_cast<QToolButton*>(button)))
            return false;
        if (!button->isEnabled() || !button->isVisible())
            return false;
        // A held key presses once.
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

} // namespace

void InstallKeyboardConventions(QApplication& app)
{
    const QString name = QStringLiteral("EnterPressesButtons");
    if (app.findChild<QObject*>(name, Qt::FindDirectChildrenOnly))
        return;
    auto* filter = new EnterPressesButtons(&app);
    filter->setObjectName(name);
    app.installEventFilter(filter);
}
