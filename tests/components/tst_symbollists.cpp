// The account's symbol lists on the simulated server.

#include "components/zkComponents.h"
#include "components/zkSimService.h"
#include "components/zkSimSymbolLists.h"
#include "platform/zkAtomicFile.h"
#include "platform/zkErrors.h"
#include "platform/zkPaths.h"
#include "zkComponentsTestUtil.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TSymbolListsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHome> Home;
    std::unique_ptr<IConnectionControl> Connection;

    void Connect(const QString& user) {
        FreshService();
        Connection = CoConnectionControl::Create();
        if (user != QLatin1String("DEMO")) {
            const QString accounts = Home->path() + QStringLiteral("/accounts.json");
            WriteTextFile(accounts, QStringLiteral(R"({"accounts": [{"user": "%1",
                                                       "password": "pw"}]})")
                                        .arg(user)
                                        .toUtf8());
            Connection->SetPropertyByName(QStringLiteral("SimAccountsFile"), accounts);
        }
        Connection->SetUserName(user);
        Connection->SetPassword(QStringLiteral("pw"));
        QTRY_COMPARE(Connection->ConnectionStatus(), 1);
    }

    // Requests, waits for completion and reads every list with its symbols, as the client's
    // provider does.
    QList<TSimList> ReadAll() {
        std::shared_ptr<IListOfLists> lists = Connection->ListOfLists();
        lists->SetComplete(false);
        lists->RequestLists();
        if (!QTest::qWaitFor([&] { return lists->Complete(); }, 3000))
            return {};
        QList<TSimList> result;
        lists->RestartEnumeration();
        while (std::shared_ptr<ISymbolListControl> list = lists->NextList()) {
            TSimList item{list->ServerListId(), list->ListName(), {}};
            list->FetchSymbols();
            if (!QTest::qWaitFor([&] { return !list->Fetching(); }, 3000))
                return {};
            if (list->SymbolsValid())
                for (int32_t i = 0; i < list->SymbolCount(); ++i)
                    item.Symbols.append(list->SymbolAt(i));
            result.append(item);
        }
        return result;
    }

    static QString Describe(const QList<TSimList>& lists) {
        QStringList parts;
        for (const TSimList& l : lists)
            parts << QStringLiteral("%1:%2[%3]").arg(l.Id).arg(l.Name, l.Symbols.join(','));
        return parts.join(QLatin1Char(' '));
    }

private slots:
    void init() { Home = std::make_unique<TTestHome>(); }
    void cleanup() {
        Connection.reset();
        TSimService::ResetInstance();
        Home.reset();
    }

    void requestCompletesLaterAndOnlyOnceConnected() {
        FreshService(300);
        Connection = CoConnectionControl::Create();
        std::shared_ptr<IListOfLists> lists = Connection->ListOfLists();
        QVERIFY(lists);
        lists->SetComplete(false);
        lists->RequestLists();
        QVERIFY(!lists->Complete());
        QTest::qWait(400); // nobody logged in: the request waits
        QVERIFY(!lists->Complete());
        Connection->SetUserName(QStringLiteral("DEMO"));
        QTRY_VERIFY(lists->Complete());
        lists->RestartEnumeration();
        int count = 0;
        while (lists->NextList())
            ++count;
        QVERIFY(count >= 2); // DEMO starts with sample lists
        QVERIFY(!lists->NextList());
        lists->RestartEnumeration();
        QVERIFY(lists->NextList());
    }

    void changesReachTheServerInItsOrder() {
        Connect(QStringLiteral("alice"));
        QCOMPARE(ReadAll().size(), 0);
        // A list the server does not hold yet comes to be when it is named.
        std::shared_ptr<ISymbolListControl> five = Connection->GetSymbolList(5);
        five->SetListName(QStringLiteral("Gappers"));
        five->RemoveSymbol(QStringLiteral("~~~~~~~~~~"));
        five->InsertSymbol(QStringLiteral("AAPL"));
        five->InsertSymbol(QStringLiteral("MSFT"));
        five->InsertSymbol(QStringLiteral("AAPL"));
        Connection->GetSymbolList(2)->InsertSymbol(QStringLiteral("XOM")); // adding creates too
        std::shared_ptr<ISymbolListControl> seven = Connection->GetSymbolList(7);
        seven->SetListName(QStringLiteral("Movers"));
        seven->BeginReplace();
        for (const char* s : {"B", "A", "B", "C"})
            seven->AddToReplacement(QString::fromLatin1(s));
        seven->FinishReplace();
        // Removing what is not there and deleting an unknown list change nothing.
        five->RemoveSymbol(QStringLiteral("TSLA"));
        Connection->GetSymbolList(99)->RemoveList();
        QCOMPARE(Describe(ReadAll()),
                 QStringLiteral("5:Gappers[AAPL,MSFT] 2:[XOM] 7:Movers[B,A,C]"));

        five->RemoveSymbol(QStringLiteral("AAPL"));
        Connection->GetSymbolList(2)->RemoveList();
        seven->SetListName(QStringLiteral("Big Movers"));
        QCOMPARE(Describe(ReadAll()), QStringLiteral("5:Gappers[MSFT] 7:Big Movers[B,A,C]"));
    }

    void fetchIsAsynchronousAndUnknownListsAreNotValid() {
        Connect(QStringLiteral("DEMO"));
        std::shared_ptr<ISymbolListControl> known = Connection->GetSymbolList(1);
        known->FetchSymbols();
        QVERIFY(known->Fetching());
        QVERIFY(!known->SymbolsValid());
        QTRY_VERIFY(!known->Fetching());
        QVERIFY(known->SymbolsValid());
        QVERIFY(known->SymbolCount() > 0);
        QVERIFY_THROWS_EXCEPTION(EComponentError, known->SymbolAt(known->SymbolCount()));

        std::shared_ptr<ISymbolListControl> unknown = Connection->GetSymbolList(4711);
        unknown->FetchSymbols();
        QTRY_VERIFY(!unknown->Fetching());
        QVERIFY(!unknown->SymbolsValid());
        QCOMPARE(unknown->SymbolCount(), 0);
    }

    void replacementMustBeBegun() {
        Connect(QStringLiteral("DEMO"));
        std::shared_ptr<ISymbolListControl> list = Connection->GetSymbolList(1);
        const int before = ReadAll().first().Symbols.size();
        QVERIFY_THROWS_EXCEPTION(EComponentError, list->FinishReplace());
        QVERIFY_THROWS_EXCEPTION(EComponentError, list->AddToReplacement(QStringLiteral("X")));
        QCOMPARE(ReadAll().first().Symbols.size(), before); // not emptied
    }

    void writesWithoutAConnectionFail() {
        FreshService();
        Connection = CoConnectionControl::Create();
        std::shared_ptr<ISymbolListControl> list = Connection->GetSymbolList(1);
        QVERIFY(list);
        QVERIFY_THROWS_EXCEPTION(EComponentError, list->SetListName(QStringLiteral("X")));
        QVERIFY_THROWS_EXCEPTION(EComponentError, list->InsertSymbol(QStringLiteral("X")));
        QCOMPARE(list->ListName(), QString());
    }

    void listsPersistPerAccountInAPrivateFile() {
        Connect(QStringLiteral("alice"));
        Connection->GetSymbolList(3)->SetListName(QStringLiteral("Mine"));
        Connection->GetSymbolList(3)->InsertSymbol(QStringLiteral("NVDA"));
        const QString file = zkPaths::DataDir() + QStringLiteral("/service/alice.json");
        QVERIFY(QFileInfo::exists(file));
        const auto mode = [](const QString& path) {
            return QFileInfo(path).permissions() & 0x7077;
        };
        QCOMPARE(mode(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(mode(QFileInfo(file).absolutePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        // A new service reads what the old one wrote; another account sees none of it.
        Connect(QStringLiteral("alice"));
        QCOMPARE(Describe(ReadAll()), QStringLiteral("3:Mine[NVDA]"));
        Connect(QStringLiteral("bob"));
        QCOMPARE(ReadAll().size(), 0);
    }

    void unreadableListsFileIsSetAsideNotOverwritten() {
        const QString file = zkPaths::DataDir() + QStringLiteral("/service/alice.json");
        WriteTextFile(file, "{\"lists\": [ {\"id\": 1, ");
        TStderrCapture capture;
        Connect(QStringLiteral("alice"));
        QCOMPARE(ReadAll().size(), 0);
        capture.Restore();
        QVERIFY2(capture.Text().contains(file), qPrintable(capture.Text()));
        Connection->GetSymbolList(1)->SetListName(QStringLiteral("Fresh"));
        QCOMPARE(ReadWholeFile(file + QStringLiteral(".corrupt")),
                 QByteArray("{\"lists\": [ {\"id\": 1, "));
        QCOMPARE(Describe(ReadAll()), QStringLiteral("1:Fresh[]"));
    }

    // The lists file is written directly, not through a JSON document: byte for byte what the
    // document would write, whatever the names and symbols hold.
    void listsTextIsTheJsonDocumentsText() {
        const std::vector<std::vector<TSimList>> cases = {
            {},
            {{1, QStringLiteral("Tech"), {}}},
            {{1, QStringLiteral("Tech"), {QStringLiteral("AAPL"), QStringLiteral("MSFT")}},
             {-7,
              QStringLiteral("Say \"hi\"\\ \t\x01 Zürich \u2028 \U0001F600 \x7f"),
              {QStringLiteral("A\"B"), QStringLiteral("C\\D"), QStringLiteral("É"),
               QStringLiteral("x\ny"), QStringLiteral(" "), QStringLiteral("~~~~~~~~~~")}},
             {2147483647, QString(), {QStringLiteral("ONE")}}},
        };
        for (const std::vector<TSimList>& lists : cases) {
            QJsonArray array;
            for (const TSimList& list : lists)
                array.append(QJsonObject{
                    {QStringLiteral("id"), list.Id},
                    {QStringLiteral("name"), list.Name},
                    {QStringLiteral("symbols"), QJsonArray::fromStringList(list.Symbols)}});
            const QByteArray expected =
                QJsonDocument(QJsonObject{{QStringLiteral("lists"), array}}).toJson();
            QCOMPARE(SimListsText(lists), expected);
            QString problem;
            const std::vector<TSimList> back = ParseSimLists(expected, &problem);
            QVERIFY(problem.isEmpty());
            QCOMPARE(back.size(), lists.size());
        }
    }

    // A replacement keeps the first of repeated symbols and drops empty ones, in the order
    // sent, whether or not the list comes sorted.
    void replacementDropsRepeatsAndEmptySymbols() {
        Connect(QStringLiteral("alice"));
        std::shared_ptr<ISymbolListControl> list = Connection->GetSymbolList(1);
        auto replace = [&](const QStringList& symbols) {
            list->BeginReplace();
            for (const QString& s : symbols)
                list->AddToReplacement(s);
            list->FinishReplace();
            return ReadAll().first().Symbols;
        };
        QCOMPARE(replace({"AAPL", "IBM", "MSFT"}), QStringList({"AAPL", "IBM", "MSFT"}));
        QCOMPARE(replace({"AAPL", "aapl", "IBM"}), QStringList({"AAPL", "aapl", "IBM"}));
        QCOMPARE(replace({"AAPL", "IBM", "IBM", "", "B"}), QStringList({"AAPL", "IBM", "B"}));
        QCOMPARE(replace({"", "AAPL"}), QStringList({"AAPL"}));
        QCOMPARE(replace({"B", "A", "B"}), QStringList({"B", "A"}));
    }

    // A store of many symbols is written behind, in the order of the changes; one that
    // cannot be written still fails the change at once.
    void bigStoresAreWrittenBehindInOrder() {
        Connect(QStringLiteral("alice"));
        QStringList many;
        for (int i = 0; i < 60000; ++i)
            many << QStringLiteral("S%1").arg(i, 6, 10, QLatin1Char('0'));
        std::shared_ptr<ISymbolListControl> list = Connection->GetSymbolList(1);
        list->BeginReplace();
        for (const QString& s : many)
            list->AddToReplacement(s);
        list->FinishReplace();
        Connection->GetSymbolList(2)->SetListName(QStringLiteral("Later"));
        FlushSimListWrites();
        QVERIFY(!SimListWritesPending());
        const QString file = zkPaths::DataDir() + QStringLiteral("/service/alice.json");
        QString problem;
        const std::vector<TSimList> written = ParseSimLists(ReadWholeFile(file), &problem);
        QVERIFY(problem.isEmpty());
        QCOMPARE(written.size(), size_t(2));
        QCOMPARE(written[0].Symbols, many);
        QCOMPARE(written[1].Name, QStringLiteral("Later"));
        QVERIFY(zkAtomicFile::LeftTemporaries(file).isEmpty());

        Connect(QStringLiteral("alice"));
        QCOMPARE(ReadAll().first().Symbols.size(), many.size());
        const QString dir = zkPaths::DataDir() + QStringLiteral("/service");
        QVERIFY(QDir(dir).removeRecursively());
        WriteTextFile(dir, "in the way");
        QVERIFY_THROWS_EXCEPTION(EComponentError,
                                 Connection->GetSymbolList(1)->InsertSymbol(QStringLiteral("A")));
        QCOMPARE(ReadAll().first().Symbols, many);
    }

    void failedSaveLeavesTheListsAsTheyWere() {
        Connect(QStringLiteral("alice"));
        Connection->GetSymbolList(1)->SetListName(QStringLiteral("Kept"));
        // A plain file where the folder was: no save can succeed, even for root.
        const QString dir = zkPaths::DataDir() + QStringLiteral("/service");
        QVERIFY(QDir(dir).removeRecursively());
        WriteTextFile(dir, "in the way");
        try {
            Connection->GetSymbolList(1)->InsertSymbol(QStringLiteral("A"));
            QFAIL("a failed save was reported as success");
        } catch (const EComponentError& e) {
            QVERIFY2(e.message().startsWith(QLatin1String("Unable to write to ")),
                     qPrintable(e.message()));
        }
        QCOMPARE(Describe(ReadAll()), QStringLiteral("1:Kept[]"));
    }
};

QTEST_MAIN(TSymbolListsTest)
#include "tst_symbollists.moc"
