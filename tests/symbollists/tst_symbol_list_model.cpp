// The symbol list model, its rules and the symbol list text file.
#include "platform/zkErrors.h"
#include "symbollists/zkSymbolListFile.h"
#include "symbollists/zkSymbolListModel.h"

#include <QCollator>
#include <QTemporaryDir>
#include <QtTest>

namespace {
std::unique_ptr<TSymbolList> List(int32_t id, const QString& name, const QStringList& symbols) {
    auto list = std::make_unique<TSymbolList>();
    list->ListId = id;
    list->Name = name;
    list->Symbols.Assign(symbols);
    return list;
}
} // namespace

class TSymbolListModelTest : public QObject {
    Q_OBJECT
private slots:
    void idsAndPositions() {
        TSymbolLists lists;
        QCOMPARE(NextListId(nullptr), 1);
        QCOMPARE(NextListId(&lists), 1);
        lists.push_back(List(-5, "a", {}));
        QCOMPARE(NextListId(&lists), 1);
        lists.push_back(List(3, "b", {}));
        lists.push_back(List(7, "c", {}));
        lists.push_back(List(3, "d", {}));
        QCOMPARE(NextListId(&lists), 8);
        QCOMPARE(IndexOfListId(lists, 3), 1); // the first of two
        QCOMPARE(IndexOfListId(lists, 4), -1);
    }

    void symbolSetIgnoresCaseAndKeepsTheFirst() {
        TSymbolSet set;
        QVERIFY(set.Add("MSFT"));
        QVERIFY(!set.Add("msft"));
        QCOMPARE(set.Strings(), QStringList{"MSFT"});
        set.Assign(QStringList{"IBM", "AAPL", "IBM"});
        QCOMPARE(set.Strings(), QStringList({"AAPL", "IBM"}));
        set.Assign(QStringList{"b", "A", "a", "", "B"});
        QCOMPARE(set.Strings(), QStringList({"", "A", "b"}));
        // Adding one by one and assigning at once agree.
        TSymbolSet one;
        const QStringList mixed{"zz", "Y", "x", "[", "y", "ZZ", "a1", "_a", "A10", "a2", "~", "A_"};
        for (const QString& s : mixed)
            one.Add(s);
        TSymbolSet all;
        all.Assign(mixed);
        QCOMPARE(one.Strings(), all.Strings());
        qsizetype at = -1;
        QVERIFY(all.Find("X", at));
        QCOMPARE(all.At(at), QString("x"));
        QVERIFY(all.Remove("zZ"));
        QVERIFY(!all.Contains("zz"));
    }

    // The comparison agrees with the platform's case-insensitive collation, also across the
    // ASCII and non-ASCII parts of a string.
    void comparisonFollowsTheCollation() {
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const QStringList samples = {"",
                                     "a",
                                     "A",
                                     "ab",
                                     "aB_",
                                     "a_",
                                     "a-b",
                                     "ab1",
                                     "AB10",
                                     "b",
                                     "Z",
                                     "_",
                                     "~",
                                     "0",
                                     QString::fromUtf8("\xc3\xa9"),
                                     QString::fromUtf8("\xc3\x89t\xc3\xa9"),
                                     QString::fromUtf8("e\xcc\x81"),
                                     QString::fromUtf8("a\xc3\x9f"),
                                     "ASS",
                                     QString::fromUtf8("\xf0\x9f\x98\x80")};
        auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
        for (const QString& a : samples)
            for (const QString& b : samples)
                QVERIFY2(sign(CompareSymbols(a, b)) == sign(collator.compare(a, b)),
                         qPrintable(a + " / " + b));
    }

    void namesSymbolsAndDisplayLines() {
        QCOMPARE(ApplyNameRule("   ", 4), QString("(unnamed list #4)"));
        QCOMPARE(ApplyNameRule(QString("\t\x01\n"), 9), QString("(unnamed list #9)"));
        QCOMPARE(ApplyNameRule(" Tech ", 4), QString(" Tech "));
        QCOMPARE(ApplySymbolRule(" ibm\t"), QString("IBM"));
        QCOMPARE(ApplySymbolRule("ibm msft"), QString("IBM MSFT"));
        QCOMPARE(ApplySymbolRule(QString::fromUtf8("brk.b \xc3\xa9")),
                 QString::fromUtf8("BRK.B \xc3\xa9")); // only a to z change
        QCOMPARE(ApplySymbolRule("  "), QString());
        auto empty = List(1, "New", {});
        QCOMPARE(SymbolListDisplayLine(*empty), QString("New   [Empty]"));
        QStringList twelve;
        for (int i = 0; i < 12; ++i)
            twelve << QString("S%1").arg(i);
        auto full = List(2, "New", twelve);
        QCOMPARE(SymbolListDisplayLine(*full), QString("New   [12]"));
        TSymbolLists lists;
        lists.push_back(std::move(empty));
        lists.push_back(std::move(full));
        QStringList items{"stale"};
        FillSymbolListItems(lists, items);
        QCOMPARE(items, QStringList({"New   [Empty]", "New   [12]"}));
    }

    void copiesShareNothing() {
        TSymbolLists source;
        source.push_back(List(1, "Tech", {"AAPL", "MSFT"}));
        source.push_back(nullptr); // an empty slot is skipped
        source.push_back(List(2, "Banks", {"JPM"}));
        TSymbolLists target;
        target.push_back(List(9, "old", {"X"}));
        CopySymbolLists(&target, &source);
        QCOMPARE(target.size(), size_t(2));
        QCOMPARE(target[1]->Name, QString("Banks"));
        target[0]->Symbols.Add("NVDA");
        target[0]->Name = "Changed";
        QCOMPARE(source[0]->Symbols.Strings(), QStringList({"AAPL", "MSFT"}));
        QCOMPARE(source[0]->Name, QString("Tech"));
        CopySymbolLists(nullptr, &source);
        CopySymbolLists(&target, nullptr);
        QCOMPARE(target.size(), size_t(2));
        ClearSymbolLists(&target);
        ClearSymbolLists(nullptr);
        QVERIFY(target.empty());
    }

    void normalisation() {
        QCOMPARE(NormalizeSymbolLines({" ibm ", "IBM", "", "aapl"}), QStringList({"AAPL", "IBM"}));
        QCOMPARE(NormalizeSymbolLines({"IBM MSFT", "ibm, msft"}),
                 QStringList({"IBM MSFT", "IBM, MSFT"}));
        QVERIFY(NormalizeSymbolLines({"", " \t "}).isEmpty());
    }

    void fileLineBreaks() {
        QCOMPARE(ReadSymbolFileLines("A\r\nB\nC\rD"), QStringList({"A", "B", "C", "D"}));
        QCOMPARE(ReadSymbolFileLines("A\nB\n"), ReadSymbolFileLines("A\r\nB\r\n"));
        QCOMPARE(ReadSymbolFileLines("A\n\nB\r\r\n"), QStringList({"A", "", "B", ""}));
        QCOMPARE(ReadSymbolFileLines("\n"), QStringList{""});
        QVERIFY(ReadSymbolFileLines("").isEmpty());
        QCOMPARE(ReadSymbolFileLines(QByteArray("A\nB\0C\nD", 7)), QStringList({"A", "B"}));
        QCOMPARE(ReadSymbolFileLines("IBM, MSFT\tX"), QStringList{"IBM, MSFT\tX"});
        QCOMPARE(ReadSymbolFileLines("caf\xc3\xa9"), QStringList{QString::fromUtf8("caf\xc3\xa9")});
        // Not UTF-8: read as Latin-1 rather than lost.
        QCOMPARE(ReadSymbolFileLines("caf\xe9\n"), QStringList{QString::fromLatin1("caf\xe9")});
        QCOMPARE(EncodeSymbolFile({"A", "", "B C"}), QByteArray("A\r\n\r\nB C\r\n"));
    }

    void hugeAndBinaryFiles() {
        QByteArray many;
        many.reserve(3000000);
        for (int i = 0; i < 1000000; ++i)
            many += "AB\n";
        QCOMPARE(ReadSymbolFileLines(many).size(), 1000000);
        const QByteArray longLine(1 << 20, 'x');
        QCOMPARE(ReadSymbolFileLines(longLine + "\r\ny").value(0).size(), 1 << 20);
        QByteArray binary;
        for (int i = 1; i < 256; ++i)
            binary += char(i);
        const QStringList lines = ReadSymbolFileLines(binary);
        QCOMPARE(lines.size(), 3); // 1-9, 11-12, 14-255: LF and CR break, nothing is lost
        QCOMPARE(lines.join("").size(), 253);
    }

    void filesAndTheirErrors() {
        QTemporaryDir dir;
        const QString name = dir.filePath("Tech.txt");
        SaveSymbolFile(name, {"AAPL", "MSFT", "NVDA"});
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("AAPL\r\nMSFT\r\nNVDA\r\n"));
        QCOMPARE(LoadSymbolFile(name), QStringList({"AAPL", "MSFT", "NVDA"}));
        try {
            LoadSymbolFile(dir.filePath("missing.txt"));
            QFAIL("no error");
        } catch (const EInOutError& e) {
            QVERIFY2(e.message().startsWith(
                         QString("Cannot open file \"%1\". ").arg(dir.filePath("missing.txt"))),
                     qPrintable(e.message()));
        }
        const QString bad = dir.filePath("no/such/dir/x.txt");
        QVERIFY_THROWS_EXCEPTION(EInOutError, SaveSymbolFile(bad, {"A"}));
    }
};

QTEST_GUILESS_MAIN(TSymbolListModelTest)
#include "tst_symbol_list_model.moc"
