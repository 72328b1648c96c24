#include "zkLoginForm.h"

#include "components/zkComponents.h"
#include "config/zkSettings.h"

TLoginForm::TLoginForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("LoginForm"));
    setWindowTitle(tr("Login"));
}

void TLoginForm::LoadStoredCredentials(IConnectionControl& connection) {
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = SettingsKeyPath() + QStringLiteral("\\Settings");
    connection.SetUserName(ReadStringValue(store, key, QStringLiteral("UserName"), QString()));
    connection.SetPassword(ReadStringValue(store, key, QStringLiteral("Password"), QString()));
}
