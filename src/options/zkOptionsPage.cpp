#include "zkOptionsPage.h"

#include "options/zkOptionsHost.h"
#include "platform/zkErrors.h"

#include <QCoreApplication>
#include <QLabel>

namespace zkOptionsPage {

QLabel* Label(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    if (name)
        label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLabel* Heading(const QString& text, QWidget* parent, const char* name) {
    QLabel* label = Label(text, parent, name);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

IConnectionControl& Connection(IOptionsHost* host) {
    IConnectionControl* connection = host ? host->OptionsConnection() : nullptr;
    if (!connection)
        throw EComponentError(QCoreApplication::translate(
            "TOptionsForm", "The connection component is not available"));
    return *connection;
}

} // namespace zkOptionsPage
