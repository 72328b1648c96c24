#include "zkAccessibility.h"

#include "platform/zkLinkLabel.h"

#include <QAccessibleWidget>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLabel>
#include <QLatin1StringView>
#include <QWidget>

namespace {

const char RoleProperty[] = "zkAccessibleRole";

// A plain widget: the role given with SetRole, a window when it is one, else what Qt says.
// Read each time, so a role given after Qt first asked still counts.
class TPlainWidgetAccessible : public QAccessibleWidget {
public:
    explicit TPlainWidgetAccessible(QWidget* widget) : QAccessibleWidget(widget) {}
    QAccessible::Role role() const override {
        const QVariant role = widget()->property(RoleProperty);
        if (role.isValid())
            return QAccessible::Role(role.toInt());
        return widget()->isWindow() ? QAccessible::Window : QAccessibleWidget::role();
    }
};

// A link label reads as a link with its text, and can be pressed.
class TLinkAccessible : public QAccessibleWidget {
public:
    explicit TLinkAccessible(TLinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}
    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = static_cast<const TLinkLabel*>(widget())->text();
        return text;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& name) override {
        if (name == pressAction())
            emit static_cast<TLinkLabel*>(widget())->Activated();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // Asked class by class from the most derived one up: "QWidget" is reached only for widgets
    // that no more specific accessible took.
    if (className == QLatin1StringView("QWidget"))
        return new TPlainWidgetAccessible(widget);
    if (className == QLatin1StringView(TLinkLabel::staticMetaObject.className()))
        return new TLinkAccessible(static_cast<TLinkLabel*>(widget));
    return nullptr;
}

} // namespace

namespace zkAccessibility {

void Install() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(Factory);
}

void SetRole(QWidget* widget, QAccessible::Role role) {
    widget->setProperty(RoleProperty, int(role));
}

void SetText(QWidget* widget, const QString& text) {
    // QWidget tells screen readers of every new name, the same one too.
    if (widget->accessibleName() != text)
        widget->setAccessibleName(text);
}

void SetLabel(QWidget* control, const QString& text) {
    auto* label = new QLabel(text, control->parentWidget());
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(control);
    label->hide();
}

bool Announce(QWidget* widget, const QString& text, TPoliteness politeness) {
    if (!QAccessible::isActive())
        return false;
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(widget);
    // Qt's bridge names its connection to the accessibility bus "a11y"; an event from any other
    // would come from no application a screen reader knows.
    const QDBusConnection bus(QStringLiteral("a11y"));
    if (!access || !bus.isConnected())
        return false;
    // Where the bridge puts each object, by its accessible's id.
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/") +
                         QString::number(QAccessible::uniqueId(access));
    QDBusMessage event = QDBusMessage::createSignal(
        path, QStringLiteral("org.a11y.atspi.Event.Object"), QStringLiteral("Announcement"));
    // Kind (none), politeness, unused, the text, no properties.
    event << QString() << int(politeness) << 0 << QVariant::fromValue(QDBusVariant(text))
          << QVariantMap();
    return bus.send(event);
}

} // namespace zkAccessibility
