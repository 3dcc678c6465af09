#include "windows/GroupButton.h"

#include <QAccessibleWidget>

namespace kavelo {
namespace {

class GroupButtonAccessible : public QAccessibleWidget {
public:
    explicit GroupButtonAccessible(GroupButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && !widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        if (t == QAccessible::Name)
            return button()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }

    QStringList actionNames() const override
    {
        return widget()->isEnabled() ? QStringList{toggleAction(), pressAction()} : QStringList{};
    }

    void doAction(const QString& actionName) override
    {
        if (widget()->isEnabled() && (actionName == toggleAction() || actionName == pressAction()))
            button()->click();
    }

private:
    GroupButton* button() const { return static_cast<GroupButton*>(widget()); }
};

QAccessibleInterface* groupButtonAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("kavelo::GroupButton") && object->isWidgetType())
        return new GroupButtonAccessible(static_cast<GroupButton*>(object));
    return nullptr;
}

} // namespace

GroupButton::GroupButton(QWidget* parent) : QToolButton(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(groupButtonAccessible);
        return true;
    }();
    (void)installed;
}

} // namespace kavelo
