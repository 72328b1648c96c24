#include "account/zkLoginForm.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "urlhandler/zkURLHandler.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
struct TFixture {
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir = QDir::currentPath();
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFixture() {
        QDir::setCurrent(Install.path());
        TUserStore::ResetInstance();
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        // Stored DEMO credentials: no login prompt at start.
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteStringValue(TSettingsStore::Registry(), key, "UserName", "DEMO");
    }
    ~TFixture() {
        QDir::setCurrent(OldDir);
        TUserStore::ResetInstance();
    }
    void post(const QString& url) {
        WriteStringValue(TSettingsStore::Registry(), URLHandlerKey(), QString(), url);
    }
    QString mailbox() {
        return ReadStringValue(TSettingsStore::Registry(), URLHandlerKey(), QString(), "<none>");
    }
};
} // namespace

class TURLHandlerTest : public QObject {
    Q_OBJECT
private slots:
    void parameters();
    void newAlertWindowLinks();
    void malformedAndUnknownLinksDoNothing();
    void loginLinks();
    void mailboxIsTakenOnce();
};

void TURLHandlerTest::parameters() {
    QCOMPARE(ParseURLParameters("a=1&WindowConfig=a=b&junk&=v&b="),
             (TStringMap{{"a", "1"}, {"WindowConfig", "a=b"}, {"", "v"}, {"b", ""}}));
    QCOMPARE(ParseURLParameters(""), TStringMap());
    const TStringMap p = {{"User", "x"}, {"UserName", "first"}, {"UserName", "second"}};
    QCOMPARE(FindMapValue(p, "UserName"), QString("first"));
    QCOMPARE(FindMapValue(p, "username"), QString());
    // No percent-decoding, no plus-to-space.
    QCOMPARE(ParseURLParameters("WN=High%2fLow+Ticker")[0].Value, QString("High%2fLow+Ticker"));
}

void TURLHandlerTest::newAlertWindowLinks() {
    TFixture f;
    TZentrikProMainForm form;
    HandleURL("x://NewAlertWindow/?WindowConfig=abc", {&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().size(), 1);
    TZentrikWindowX* c = form.AlertWindows().last()->ZentrikWindowX;
    QCOMPARE(c->DataConfig(), QString("WindowConfig=abc"));
    QCOMPARE(c->WindowConfig(), QString("abc"));

    // Nothing after the slash: the default record's configuration stays.
    HandleURL("velquist://NewAlertWindow/", {&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().size(), 2);
    QCOMPARE(form.AlertWindows().last()->ZentrikWindowX->DataConfig(),
             DefaultWindowRecord().DataConfig);

    // Without "?" the whole rest is the data configuration.
    HandleURL("velquist://NewAlertWindow/O=3_3D_0&WN=Gappers", {&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().last()->ZentrikWindowX->DataConfig(),
             QString("O=3_3D_0&WN=Gappers"));
    QCOMPARE(form.AlertWindows().last()->ZentrikWindowX->WindowConfig(),
             DefaultWindowRecord().WindowConfig);
}

void TURLHandlerTest::malformedAndUnknownLinksDoNothing() {
    TFixture f;
    TZentrikProMainForm form;
    for (const char* url :
         {"x://NewAlertWindow?WindowConfig=abc", "x://newalertwindow/", "NewAlertWindow/",
          "x:/NewAlertWindow/", "x://Other/?a=1", "", "x://Login"})
        HandleURL(url, {&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().size(), 0);
    QCOMPARE(f.Factory->Connection()->FUserName, QString("DEMO"));
}

void TURLHandlerTest::loginLinks() {
    TFixture f;
    TZentrikProMainForm form;
    TFakeConnectionControl* c = f.Factory->Connection();
    HandleURL("velquist://Login/?Password=only", {&form, form.LoginForm});
    QCOMPARE(c->FUserName, QString("DEMO"));
    QCOMPARE(c->FPassword, QString());

    HandleURL("velquist://Login/?UserName=alice&Password=p%20w", {&form, form.LoginForm});
    QCOMPARE(c->FUserName, QString("alice"));
    QCOMPARE(c->FPassword, QString("p%20w"));
    QVERIFY(!form.LoginForm->isVisible());
    const QString key = SettingsKeyPath() + "\\Settings";
    QCOMPARE(ReadStringValue(TSettingsStore::Registry(), key, "UserName", ""), QString("alice"));

    // An empty password is handed over empty.
    HandleURL("velquist://Login/?UserName=bob", {&form, form.LoginForm});
    QCOMPARE(c->FUserName, QString("bob"));
    QCOMPARE(c->FPassword, QString());
}

void TURLHandlerTest::mailboxIsTakenOnce() {
    TFixture f;
    TZentrikProMainForm form;
    // Two links before one tick: only the later one is carried out.
    f.post("velquist://NewAlertWindow/?WindowConfig=first");
    f.post("velquist://NewAlertWindow/?WindowConfig=second");
    PollURLHandler({&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().size(), 1);
    QCOMPARE(form.AlertWindows()[0]->ZentrikWindowX->WindowConfig(), QString("second"));
    QCOMPARE(f.mailbox(), QString());
    PollURLHandler({&form, form.LoginForm});
    QCOMPARE(form.AlertWindows().size(), 1);

    // A value of another kind counts as empty and is overwritten with an empty string.
    TUserStore::Instance().SetValue(URLHandlerKey(), QString(), TStoreValue::Dword(7));
    PollURLHandler({&form, form.LoginForm});
    TStoreValue v;
    QVERIFY(TUserStore::Instance().GetValue(URLHandlerKey(), QString(), v));
    QCOMPARE(v.Kind, TValueKind::Sz);
    QCOMPARE(v.Text, QString());
    QCOMPARE(form.AlertWindows().size(), 1);
}

QTEST_MAIN(TURLHandlerTest)
#include "tst_url_handler.moc"
