// The desktop's keyring as the client speaks to it, against a real gnome-keyring-daemon on a
// private session bus: secrets go in, come back, are replaced and removed under their own
// attributes; a locked keyring and a service that stops answering leave every secret as it was.
#include "desktop/zkSecretService.h"
#include "zkHarness.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

namespace {
TSecretId Id(const QString& kind, const QString& store) {
    return {kind, store, QStringLiteral("Velquist test secret")};
}
} // namespace

class TSecretServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        Desk = std::make_unique<TWholeProcessHarness>();
        HARNESS_NEED(Desk->needKeyring());
        // The service connects once per process, to this bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", Desk->bus().Address.toLocal8Bit());
    }
    void cleanupTestCase() { Desk.reset(); }

    void storesReadsReplacesAndRemoves();
    void aLockedKeyringChangesNothing();
    // Last: the service is not asked again by this process once it ran out of time.
    void aServiceThatStopsAnsweringIsLeftAlone();

private:
    std::unique_ptr<TWholeProcessHarness> Desk;
};

void TSecretServiceTest::storesReadsReplacesAndRemoves() {
    ISecretStore& secrets = DesktopSecretService();
    TTestKeyring& keyring = Desk->keyring();
    const TSecretId login = Id(QStringLiteral("login"), QStringLiteral("one.ini"));
    const TSecretId token = Id(QStringLiteral("inbox-token"), QStringLiteral("one.ini"));
    const TSecretId otherStore = Id(QStringLiteral("login"), QStringLiteral("two.ini"));

    QString read = QStringLiteral("untouched");
    QCOMPARE(secrets.Lookup(login, read), TSecretAnswer::Missing);
    QCOMPARE(read, QStringLiteral("untouched"));
    QCOMPARE(secrets.Remove(login), TSecretAnswer::Missing);

    const QString password = QStringLiteral("pässwörd ✓ \"quoted\"");
    QCOMPARE(secrets.Store(login, password), TSecretAnswer::Done);
    QCOMPARE(secrets.Store(token, QStringLiteral("tok")), TSecretAnswer::Done);
    QCOMPARE(secrets.Store(otherStore, QStringLiteral("other")), TSecretAnswer::Done);
    QCOMPARE(keyring.Lookup(QStringLiteral("login"), QStringLiteral("one.ini")), password);
    // Under the schema's name as well, as earlier versions kept their items.
    QCOMPARE(
        keyring.LookupWith({QStringLiteral("xdg:schema"), QString::fromLatin1(SecretSchemaName),
                            QStringLiteral("application"), QStringLiteral("velquist"),
                            QStringLiteral("store"), QStringLiteral("one.ini"),
                            QStringLiteral("kind"), QStringLiteral("login")}),
        password);
    QCOMPARE(secrets.Lookup(login, read), TSecretAnswer::Done);
    QCOMPARE(read, password);

    // A new value replaces the item; the others keep theirs.
    QCOMPARE(secrets.Store(login, QStringLiteral("second")), TSecretAnswer::Done);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(secrets.Lookup(login, read), TSecretAnswer::Done);
        QCOMPARE(read, QStringLiteral("second"));
    }
    QCOMPARE(secrets.Lookup(token, read), TSecretAnswer::Done);
    QCOMPARE(read, QStringLiteral("tok"));
    QCOMPARE(secrets.Lookup(otherStore, read), TSecretAnswer::Done);
    QCOMPARE(read, QStringLiteral("other"));

    QCOMPARE(secrets.Remove(login), TSecretAnswer::Done);
    QCOMPARE(keyring.Lookup(QStringLiteral("login"), QStringLiteral("one.ini")),
             QStringLiteral("<none>"));
    read = QStringLiteral("untouched");
    QCOMPARE(secrets.Lookup(login, read), TSecretAnswer::Missing);
    QCOMPARE(read, QStringLiteral("untouched"));
    QCOMPARE(secrets.Lookup(otherStore, read), TSecretAnswer::Done);
    QCOMPARE(read, QStringLiteral("other"));

    // An item too long to be one of ours is not read in.
    QCOMPARE(secrets.Store(login, QString(70 * 1024, u'x')), TSecretAnswer::Done);
    read = QStringLiteral("untouched");
    QCOMPARE(secrets.Lookup(login, read), TSecretAnswer::Missing);
    QCOMPARE(read, QStringLiteral("untouched"));
}

void TSecretServiceTest::aLockedKeyringChangesNothing() {
    ISecretStore& secrets = DesktopSecretService();
    TTestKeyring& keyring = Desk->keyring();
    const TSecretId kept = Id(QStringLiteral("broker-password"), QStringLiteral("locked.ini"));
    const TSecretId fresh = Id(QStringLiteral("inbox-token"), QStringLiteral("locked.ini"));
    QCOMPARE(secrets.Store(kept, QStringLiteral("kept")), TSecretAnswer::Done);

    QCOMPARE(keyring.Lock(), QString());
    QString read = QStringLiteral("untouched");
    QCOMPARE(secrets.Lookup(kept, read), TSecretAnswer::Locked);
    QCOMPARE(read, QStringLiteral("untouched"));
    QVERIFY2(secrets.Problem().contains(QStringLiteral("locked")), qPrintable(secrets.Problem()));
    QCOMPARE(secrets.Store(kept, QStringLiteral("replaced")), TSecretAnswer::Locked);
    QCOMPARE(secrets.Remove(kept), TSecretAnswer::Locked);
    QCOMPARE(secrets.Store(fresh, QStringLiteral("new")), TSecretAnswer::Locked);
    // Still nothing to read for an id the keyring never had.
    QCOMPARE(secrets.Lookup(fresh, read), TSecretAnswer::Missing);

    QCOMPARE(keyring.Unlock(), QString());
    QCOMPARE(keyring.Lookup(QStringLiteral("broker-password"), QStringLiteral("locked.ini")),
             QStringLiteral("kept"));
    QCOMPARE(keyring.Lookup(QStringLiteral("inbox-token"), QStringLiteral("locked.ini")),
             QStringLiteral("<none>"));
    QCOMPARE(secrets.Lookup(kept, read), TSecretAnswer::Done);
    QCOMPARE(read, QStringLiteral("kept"));
}

void TSecretServiceTest::aServiceThatStopsAnsweringIsLeftAlone() {
    ISecretStore& secrets = DesktopSecretService();
    TTestKeyring& keyring = Desk->keyring();
    const TSecretId id = Id(QStringLiteral("login"), QStringLiteral("hung.ini"));
    QCOMPARE(secrets.Store(id, QStringLiteral("kept")), TSecretAnswer::Done);

    keyring.Pause();
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(secrets.Store(id, QStringLiteral("replaced")), TSecretAnswer::Failed);
    QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
    // Not asked again: the next call answers at once.
    waited.restart();
    QString read = QStringLiteral("untouched");
    QCOMPARE(secrets.Lookup(id, read), TSecretAnswer::Unavailable);
    QCOMPARE(read, QStringLiteral("untouched"));
    QVERIFY2(waited.elapsed() < 500, qPrintable(QString::number(waited.elapsed())));
    QVERIFY2(secrets.Problem().contains(QStringLiteral("does not answer")),
             qPrintable(secrets.Problem()));
    QCOMPARE(secrets.Remove(id), TSecretAnswer::Unavailable);
    keyring.Resume();
    QCOMPARE(keyring.Lookup(QStringLiteral("login"), QStringLiteral("hung.ini")),
             QStringLiteral("kept"));
}

QTEST_GUILESS_MAIN(TSecretServiceTest)
#include "tst_secret_service.moc"
