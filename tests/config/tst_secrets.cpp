// The secrets' way between the per-user store and a keyring: moved once, never lost, the store
// kept when the keyring will not take them.
#include "config/zkBrokerSettings.h"
#include "config/zkInboxSettings.h"
#include "config/zkSecrets.h"
#include "config/zkUserStore.h"
#include "desktop/zkSecretService.h"

#include <QtTest>

#include <map>

namespace {

// A keyring in memory whose every answer but Done/Missing can be forced.
class TFakeKeyring final : public ISecretStore {
public:
    std::map<QString, QString> Items; // "kind|store" -> secret
    TSecretAnswer Forced = TSecretAnswer::Done;
    int Calls = 0;

    static QString Key(const TSecretId& id) { return id.Kind + u'|' + id.Store; }
    TSecretAnswer Lookup(const TSecretId& id, QString& secret) override {
        ++Calls;
        if (Forced != TSecretAnswer::Done)
            return Forced;
        const auto at = Items.find(Key(id));
        if (at == Items.end())
            return TSecretAnswer::Missing;
        secret = at->second;
        return TSecretAnswer::Done;
    }
    TSecretAnswer Store(const TSecretId& id, const QString& secret) override {
        ++Calls;
        if (Forced != TSecretAnswer::Done)
            return Forced;
        if (id.Label.isEmpty())
            return TSecretAnswer::Failed; // every item is named for the keyring's manager
        Items[Key(id)] = secret;
        return TSecretAnswer::Done;
    }
    TSecretAnswer Remove(const TSecretId& id) override {
        ++Calls;
        if (Forced != TSecretAnswer::Done)
            return Forced;
        return Items.erase(Key(id)) ? TSecretAnswer::Done : TSecretAnswer::Missing;
    }
    QString Problem() const override { return QStringLiteral("forced"); }
};

const QString Key = QStringLiteral("\\Software\\Velquist Client\\Settings");
const QString Name = QStringLiteral("Password");

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Dir;
    std::unique_ptr<TUserStore> User;
    TFakeKeyring Keyring;

    TSettingsStore store() { return TSettingsStore::Registry(*User); }
    QString itemOf(TSecretKind kind) {
        const auto at = Keyring.Items.find(SecretKindName(kind) + u'|' + User->fileName());
        return at == Keyring.Items.end() ? QStringLiteral("<none>") : at->second;
    }
    QString stored(const QString& key = Key, const QString& name = Name) {
        TStoreValue value;
        return User->GetValue(key, name, value) ? value.Text : QStringLiteral("<none>");
    }
    QString read(TSecretKind kind = TSecretKind::LoginPassword) {
        return ReadSecret(store(), Key, Name, kind);
    }

private slots:
    void init() {
        User = std::make_unique<TUserStore>(Dir.filePath(QStringLiteral("store.sqlite3")));
        Keyring = TFakeKeyring();
        SetSecretStore(&Keyring);
    }
    void cleanup() {
        SetSecretStore(nullptr);
        User.reset();
        QFile::remove(Dir.filePath(QStringLiteral("store.sqlite3")));
    }

    void withoutKeyringTheStoreKeepsThem() {
        SetSecretStore(nullptr);
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QStringLiteral("pw"));
        QCOMPARE(stored(), QStringLiteral("pw"));
        QCOMPARE(read(), QStringLiteral("pw"));
        // A desktop without a Secret Service: the same, the keyring asked each time.
        SetSecretStore(&Keyring);
        Keyring.Forced = TSecretAnswer::Unavailable;
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QStringLiteral("pw2"));
        QCOMPARE(stored(), QStringLiteral("pw2"));
        QCOMPARE(read(), QStringLiteral("pw2"));
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QString());
        QCOMPARE(stored(), QString());
        QVERIFY(Keyring.Items.empty());
    }

    void storedValueMovesOnceAndOnlyAfterTheKeyringTookIt() {
        User->SetValue(Key, Name, TStoreValue::Sz(QStringLiteral("old")));
        // Locked, then failing: the value is read from the store and stays there.
        for (const TSecretAnswer answer : {TSecretAnswer::Locked, TSecretAnswer::Failed}) {
            Keyring.Forced = answer;
            QCOMPARE(read(), QStringLiteral("old"));
            QCOMPARE(stored(), QStringLiteral("old"));
            QVERIFY(Keyring.Items.empty());
        }
        Keyring.Forced = TSecretAnswer::Done;
        QCOMPARE(read(), QStringLiteral("old"));
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("old"));
        QCOMPARE(stored(), QStringLiteral("<none>"));
        // From then on from the keyring alone.
        QCOMPARE(read(), QStringLiteral("old"));
        // A value put into the store later (velquist-store, a session without a keyring) is
        // the newer one and replaces the keyring's.
        User->SetValue(Key, Name, TStoreValue::Sz(QStringLiteral("new")));
        QCOMPARE(read(), QStringLiteral("new"));
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("new"));
        QCOMPARE(stored(), QStringLiteral("<none>"));
    }

    void writesGoToTheKeyringOrStayInTheStore() {
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QStringLiteral("a"));
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("a"));
        QCOMPARE(stored(), QStringLiteral("<none>"));
        // Locked: the new value waits in the store, the keyring's is left, and the next read
        // that reaches the keyring moves the new one.
        Keyring.Forced = TSecretAnswer::Locked;
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QStringLiteral("b"));
        QCOMPARE(stored(), QStringLiteral("b"));
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("a"));
        QCOMPARE(read(), QStringLiteral("b"));
        Keyring.Forced = TSecretAnswer::Done;
        QCOMPARE(read(), QStringLiteral("b"));
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("b"));
        QCOMPARE(stored(), QStringLiteral("<none>"));
        // Clearing it while the keyring answers clears both.
        User->SetValue(Key, Name, TStoreValue::Sz(QString()));
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QString());
        QCOMPARE(itemOf(TSecretKind::LoginPassword), QStringLiteral("<none>"));
        QCOMPARE(stored(), QStringLiteral("<none>"));
        QCOMPARE(read(), QString());
    }

    void anEmptyValueSavedWhileLockedDropsNothing() {
        Keyring.Items[SecretKindName(TSecretKind::BrokerPassword) + u'|' + User->fileName()] =
            QStringLiteral("kept");
        const QString broker = Key + QStringLiteral("\\Broker");
        // What an Options page shows while the keyring is locked, then saves back.
        Keyring.Forced = TSecretAnswer::Locked;
        QCOMPARE(ReadSecret(store(), broker, Name, TSecretKind::BrokerPassword), QString());
        WriteSecret(store(), broker, Name, TSecretKind::BrokerPassword, QString());
        QCOMPARE(stored(broker), QString());
        Keyring.Forced = TSecretAnswer::Done;
        QCOMPARE(ReadSecret(store(), broker, Name, TSecretKind::BrokerPassword),
                 QStringLiteral("kept"));
        QCOMPARE(stored(broker), QStringLiteral("<none>"));
    }

    // A secret the keyring holds but will not give is told apart from one there is not.
    void aSecretThatCannotBeReadSaysSo() {
        Keyring.Items[SecretKindName(TSecretKind::LoginPassword) + u'|' + User->fileName()] =
            QStringLiteral("pw");
        QString problem = QStringLiteral("stale");
        for (const TSecretAnswer answer : {TSecretAnswer::Locked, TSecretAnswer::Failed}) {
            Keyring.Forced = answer;
            QCOMPARE(ReadSecret(store(), Key, Name, TSecretKind::LoginPassword, &problem),
                     QString());
            QCOMPARE(problem, QStringLiteral("forced"));
        }
        // The store's own value is read whatever the keyring says, and is no problem.
        User->SetValue(Key, Name, TStoreValue::Sz(QStringLiteral("newer")));
        QCOMPARE(ReadSecret(store(), Key, Name, TSecretKind::LoginPassword, &problem),
                 QStringLiteral("newer"));
        QCOMPARE(problem, QString());
        Keyring.Forced = TSecretAnswer::Done;
        QCOMPARE(ReadSecret(store(), Key, Name, TSecretKind::LoginPassword, &problem),
                 QStringLiteral("newer"));
        Keyring.Items.clear();
        problem = QStringLiteral("stale");
        QCOMPARE(ReadSecret(store(), Key, Name, TSecretKind::LoginPassword, &problem), QString());
        QCOMPARE(problem, QString());
        // No keyring answering at all: the store is the place, nothing is held elsewhere.
        Keyring.Forced = TSecretAnswer::Unavailable;
        problem = QStringLiteral("stale");
        QCOMPARE(ReadSecret(store(), Key, Name, TSecretKind::LoginPassword, &problem), QString());
        QCOMPARE(problem, QString());
    }

    // A locked keyring at a start: the inbox gets no new token and the settings saved then
    // (a client id made, the Options page's Save) leave the token and the broker password
    // as they are, so that they come back whole once it is unlocked.
    void settingsReadWhileLockedKeepTheirSecrets() {
        const TSettingsStore registry = store();
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        WriteInboxSettings(registry, inbox);
        TBrokerSettings broker;
        broker.Enabled = true;
        broker.Host = QStringLiteral("broker.example.com");
        broker.Password = QStringLiteral("brokerPw");
        WriteBrokerSettings(registry, broker);
        QCOMPARE(itemOf(TSecretKind::InboxToken), inbox.Token);
        QCOMPARE(itemOf(TSecretKind::BrokerPassword), broker.Password);

        Keyring.Forced = TSecretAnswer::Locked;
        TInboxSettings readInbox = ReadInboxSettings(registry);
        QCOMPARE(readInbox.Token, QString());
        QCOMPARE(readInbox.TokenProblem, QStringLiteral("forced"));
        QVERIFY(!EnsureInboxToken(readInbox));
        QCOMPARE(readInbox.Token, QString());
        readInbox.Port = 9000;
        WriteInboxSettings(registry, readInbox);
        TBrokerSettings readBroker = ReadBrokerSettings(registry);
        QCOMPARE(readBroker.Password, QString());
        QCOMPARE(readBroker.PasswordProblem, QStringLiteral("forced"));
        readBroker.ClientId = NewBrokerClientId();
        WriteBrokerSettings(registry, readBroker);
        // Nothing in the store to be taken for a newer secret once the keyring opens.
        QCOMPARE(stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
        QCOMPARE(stored(BrokerSettingsPath(), QStringLiteral("Password")),
                 QStringLiteral("<none>"));

        Keyring.Forced = TSecretAnswer::Done;
        readInbox = ReadInboxSettings(registry);
        QCOMPARE(readInbox.Token, inbox.Token);
        QCOMPARE(readInbox.TokenProblem, QString());
        QCOMPARE(readInbox.Port, quint16(9000));
        readBroker = ReadBrokerSettings(registry);
        QCOMPARE(readBroker.Password, QStringLiteral("brokerPw"));
        QCOMPARE(readBroker.PasswordProblem, QString());
        // A password typed while it was locked is the user's newer one, and is kept.
        Keyring.Forced = TSecretAnswer::Locked;
        readBroker = ReadBrokerSettings(registry);
        readBroker.Password = QStringLiteral("typed");
        WriteBrokerSettings(registry, readBroker);
        Keyring.Forced = TSecretAnswer::Done;
        QCOMPARE(ReadBrokerSettings(registry).Password, QStringLiteral("typed"));
        QCOMPARE(itemOf(TSecretKind::BrokerPassword), QStringLiteral("typed"));
    }

    void kindsAndStoresAreKeptApart() {
        const QString inbox = Key + QStringLiteral("\\Inbox");
        WriteSecret(store(), Key, Name, TSecretKind::LoginPassword, QStringLiteral("login"));
        WriteSecret(store(), inbox, QStringLiteral("Token"), TSecretKind::InboxToken,
                    QStringLiteral("token"));
        QCOMPARE(itemOf(TSecretKind::InboxToken), QStringLiteral("token"));
        QCOMPARE(read(), QStringLiteral("login"));
        // Another installation's store has none of them.
        TUserStore other(Dir.filePath(QStringLiteral("other.sqlite3")));
        QCOMPARE(ReadSecret(TSettingsStore::Registry(other), Key, Name, TSecretKind::LoginPassword),
                 QString());
        // An INI store keeps its values itself and never asks the keyring.
        const int calls = Keyring.Calls;
        const TSettingsStore ini = TSettingsStore::IniFile(Dir.filePath(QStringLiteral("a.ini")));
        WriteSecret(ini, QStringLiteral("Section"), Name, TSecretKind::LoginPassword,
                    QStringLiteral("ini"));
        QCOMPARE(ReadSecret(ini, QStringLiteral("Section"), Name, TSecretKind::LoginPassword),
                 QStringLiteral("ini"));
        QCOMPARE(Keyring.Calls, calls);
    }
};

QTEST_GUILESS_MAIN(TestSecrets)
#include "tst_secrets.moc"
