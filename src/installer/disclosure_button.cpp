#include "installer/disclosure_button.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace installer {

namespace {

class AccessibleDisclosure final : public QAccessibleWidget {
public:
    explicit AccessibleDisclosure(QToolButton* button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool expanded = static_cast<QToolButton*>(widget())->isChecked();
        state.expandable = true;
        state.expanded = expanded;
        state.collapsed = !expanded;
        return state;
    }

    QStringList actionNames() const override { return { pressAction() }; }

    void doAction(const QString& action) override
    {
        if (action == pressAction())
            static_cast<QToolButton*>(widget())->click();
    }
};

QAccessibleInterface* accessibleDisclosure(const QString& className, QObject* object)
{
    if (className == QLatin1String(DisclosureButton::staticMetaObject.className()))
        return new AccessibleDisclosure(static_cast<DisclosureButton*>(object));
    return nullptr;
}

void installAccessibleDisclosureOnce()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleDisclosure);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

DisclosureButton::DisclosureButton(const QString& title, QWidget* parent)
    : QToolButton(parent)
{
    installAccessibleDisclosureOnce();
    setText(title);
    setCheckable(true);
    setChecked(false);
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setArrowType(Qt::RightArrow);
    setFocusPolicy(Qt::StrongFocus);
    // The arrow tells the state; a pressed-in frame around it would make
    // the control look like a toggle switch.
    setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    connect(this, &QToolButton::toggled, this, &DisclosureButton::showState);
}

void DisclosureButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QToolButton::keyPressEvent(event);
}

void DisclosureButton::showState(bool expanded)
{
    setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace installer
