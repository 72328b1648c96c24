// Text from outside reaches markup readers as the characters it holds: tooltips (Qt's rich
// text), message boxes, and desktop notifications (a server's markup). Names hold only what
// shows, and a terminal is given no character it would obey or hide.
#include "platform/zkOutsideText.h"
#include "platform/zkPrompts.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// What a QLabel in Qt::AutoText (a tooltip) renders for text: its characters, and how many
// images it would load.
QString Rendered(const QString& text, int* images) {
    QTextDocument document;
    if (Qt::mightBeRichText(text))
        document.setHtml(text);
    else
        document.setPlainText(text);
    *images = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            *images += it.fragment().charFormat().isImageFormat();
    return document.toPlainText();
}

} // namespace

class TOutsideTextTest : public QObject {
    Q_OBJECT
private slots:
    void toolTipsShowTheCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("bold") << "AAPL  2026-12-09 10:00:00  Gap <b>up</b>";
        QTest::newRow("image") << "X  <img src='/tmp/x.png'>";
        QTest::newRow("font and link") << "<font size=7>big</font> <a href='http://x'>go</a>";
        QTest::newRow("entities") << "&lt;b&gt; is &amp; stays &nbsp;";
        QTest::newRow("qt tag") << "<qt>Gap</qt>";
        QTest::newRow("blanks kept") << "<i>A</i>    B\tC";
        QTest::newRow("two lines") << "<b>Demo</b>\nexpires soon";
        QTest::newRow("plain") << "NVDA  2026-12-09 10:00:00  1 < 2 & 3 > 2";
    }
    void toolTipsShowTheCharacters() {
        QFETCH(QString, text);
        const QString tip = zkOutsideText::ToolTip(text);
        int images = -1;
        QCOMPARE(Rendered(tip, &images), text);
        QCOMPARE(images, 0);
        // Text Qt reads as plain is left as it was.
        if (!Qt::mightBeRichText(text))
            QCOMPARE(tip, text);
    }

    void notificationTextIsEscaped() {
        QCOMPARE(zkOutsideText::MarkupEscaped("Gap <b>up</b> & <i>run</i>"),
                 QString("Gap &lt;b&gt;up&lt;/b&gt; &amp; &lt;i&gt;run&lt;/i&gt;"));
        QCOMPARE(zkOutsideText::MarkupEscaped("&amp; \"q\" 'a'"), QString("&amp;amp; \"q\" 'a'"));
        QCOMPARE(zkOutsideText::MarkupEscaped("NVDA 912.40 café 📈"), QString("NVDA 912.40 café 📈"));
        // A markup reader gives back the very characters.
        const QString text = "<img src='/tmp/x.png'> &lt; ]]> <![CDATA[x]]>";
        QXmlStreamReader reader("<b>" + zkOutsideText::MarkupEscaped(text) + "</b>");
        QVERIFY(reader.readNextStartElement());
        QCOMPARE(reader.readElementText(), text);
    }

    // Cut to at most the characters asked for, the last an ellipsis, never within a surrogate
    // pair; text that fits is left whole.
    void shortenedKeepsWholeCharacters() {
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QChar dots(0x2026);
        QCOMPARE(zkOutsideText::Shortened("abcd", 4), QString("abcd"));
        QCOMPARE(zkOutsideText::Shortened("abcde", 4), QString("abc") + dots);
        QCOMPARE(zkOutsideText::Shortened("ab" + smile + "cd", 4), QString("ab") + dots);
        QCOMPARE(zkOutsideText::Shortened("a" + smile + "cd", 4), "a" + smile + dots);
        QCOMPARE(zkOutsideText::Shortened(smile + "cd", 2), QString(dots));
        QCOMPARE(zkOutsideText::Shortened("abc", 1), QString(dots));
        QCOMPARE(zkOutsideText::Shortened("abc", 0), QString());
    }

    // Names refused for what does not show, each named by its code point; names in any script,
    // with emoji, punctuation or a space, are taken.
    void namesHoldOnlyWhatShows_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");
        const auto hidden = [](const char* tag, const char32_t* name, const char* code) {
            QTest::newRow(tag) << QString::fromUcs4(name)
                               << QStringLiteral("holds a character that does not show (%1)")
                                      .arg(QLatin1String(code));
        };
        const auto format = [](const char* tag, const char32_t* name, const char* code) {
            QTest::newRow(tag) << QString::fromUcs4(name)
                               << QStringLiteral("holds an invisible formatting character (%1)")
                                      .arg(QLatin1String(code));
        };
        hidden("variation selector 16", U"AAPL\uFE0F", "U+FE0F");
        hidden("variation selector 1", U"AAPL\uFE00", "U+FE00");
        hidden("variation selector 256", U"AAPL\U000E01EF", "U+E01EF");
        hidden("combining grapheme joiner", U"AA\u034FPL", "U+034F");
        hidden("hangul filler", U"AAPL\u3164", "U+3164");
        hidden("halfwidth hangul filler", U"AAPL\uFFA0", "U+FFA0");
        hidden("choseong filler", U"\u115FAAPL", "U+115F");
        hidden("jungseong filler", U"AA\u1160PL", "U+1160");
        hidden("mongolian variation selector", U"AAPL\u180B", "U+180B");
        hidden("mongolian variation selector 4", U"AAPL\u180F", "U+180F");
        hidden("khmer inherent vowel", U"AA\u17B4PL", "U+17B4");
        hidden("braille blank", U"T\u2800", "U+2800");
        hidden("unassigned ignorable", U"AA\u2065PL", "U+2065");
        hidden("unassigned specials", U"AAPL\uFFF0", "U+FFF0");
        hidden("unassigned tag plane", U"AAPL\U000E0FFF", "U+E0FFF");
        format("zero width space", U"AA\u200BPL", "U+200B");
        format("right-to-left override", U"\u202ELPAA", "U+202E");
        format("soft hyphen", U"AA\u00ADPL", "U+00AD");
        format("mongolian vowel separator", U"AAPL\u180E", "U+180E");
        format("tag letter", U"AAPL\U000E0041", "U+E0041");
        format("arabic number sign", U"\u0600AAPL", "U+0600");
        format("paragraph separator", U"AA\u2029PL", "U+2029");
        QTest::newRow("escape") << QStringLiteral("AA\x1b[2JPL")
                                << QStringLiteral("holds a control character");
        QTest::newRow("next line")
            << QString::fromUcs4(U"AA\u0085PL") << QStringLiteral("holds a control character");
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + QStringLiteral("A")
            << QStringLiteral("holds a lone surrogate (not valid Unicode)");
        for (const char32_t* name :
             {U"AAPL", U"BRK.B", U"^GSPC", U"7203.T", U"S&P 500", U"caf\u00E9", U"\u682A\u5F0F",
              U"\u0627\u0644\u0633\u0647\u0645", U"Gap \U0001F4C8", U"\u2764\u2665", U"A\u00A0B"})
            QTest::newRow(QString::fromUcs4(name).toUtf8().constData())
                << QString::fromUcs4(name) << QString();
    }
    void namesHoldOnlyWhatShows() {
        QFETCH(QString, name);
        QFETCH(QString, problem);
        QCOMPARE(zkOutsideText::NameProblem(name), problem);
    }

    // Unicode's own list of the property, where Debian's unicode-data put it, against every
    // code point.
    void defaultIgnorableIsUnicodes() {
        QFile file(QStringLiteral("/usr/share/unicode/DerivedCoreProperties.txt"));
        if (!file.open(QIODevice::ReadOnly))
            QSKIP("no DerivedCoreProperties.txt (scripts/install-deps.sh installs unicode-data)");
        std::vector<bool> listed(0x110000);
        int ranges = 0;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            const QList<QByteArray> fields = line.left(line.indexOf('#')).split(';');
            if (fields.size() != 2 || fields[1].trimmed() != "Default_Ignorable_Code_Point")
                continue;
            const QList<QByteArray> ends = fields[0].trimmed().split('.');
            const uint first = ends.first().toUInt(nullptr, 16);
            const uint last = ends.last().toUInt(nullptr, 16);
            for (uint code = first; code <= last && code < listed.size(); ++code)
                listed[code] = true;
            ++ranges;
        }
        QVERIFY2(ranges > 20, "the file lists no Default_Ignorable_Code_Point");
        QStringList wrong;
        for (char32_t code = 0; code < 0x110000; ++code)
            if (zkOutsideText::IsDefaultIgnorable(code) != listed[code] && wrong.size() < 20)
                wrong << QStringLiteral("U+%1").arg(uint(code), 4, 16, QLatin1Char('0'));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u' ')));
    }

    // What a terminal is given: nothing it obeys (escape sequences, C1 controls) or that hides
    // or reorders text; the backslash escaped too, so the escapes cannot be forged. Names have
    // their look-alikes escaped as well, descriptions keep their emoji's variation selectors.
    void terminalTextIsEscaped_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("names");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char* tag, const char32_t* text, bool names, const char* shown) {
            QTest::newRow(tag) << QString::fromUcs4(text) << names << QString::fromUtf8(shown);
        };
        row("escape sequence",
            U"a\x1b]0;pwned\x07"
            U"b",
            false, R"(a\x1B]0;pwned\x07b)");
        row("c1 control", U"a\u009bb", false, R"(a\x9Bb)");
        row("tab and line break", U"a\tb\nc\r", false, R"(a\x09b\x0Ac\x0D)");
        row("right-to-left override", U"\u202ELPAA", false, R"(\u202ELPAA)");
        row("tag character", U"A\U000E0041", false, R"(A\U000E0041)");
        row("line separator", U"a\u2028b", false, R"(a\u2028b)");
        row("backslash", U"C:\\x1B", false, R"(C:\x5Cx1B)");
        row("plain", U"caf\u00E9 \U0001F4C8 1<2 & \"q\"", false,
            "caf\u00E9 \U0001F4C8 1<2 & \"q\"");
        row("emoji presentation kept", U"\u2764\uFE0F", false, "\u2764\uFE0F");
        row("variation selector in a name", U"AAPL\uFE0F", true, R"(AAPL\uFE0F)");
        row("braille blank in a name", U"T\u2800", true, R"(T\u2800)");
        row("hangul filler in a name", U"AAPL\u3164", true, R"(AAPL\u3164)");
        row("braille blank elsewhere", U"T\u2800", false, "T\u2800");
    }
    void terminalTextIsEscaped() {
        QFETCH(QString, text);
        QFETCH(bool, names);
        QFETCH(QString, shown);
        QCOMPARE(zkOutsideText::TerminalEscaped(text, names), shown);
    }

    void messageBoxesShowPlainText() {
        const bool scripted = zkPrompts::IsScripted();
        zkPrompts::SetScripted(false);
        const QString text = "Unable to write to /tmp/<b>x</b><img src='/tmp/x.png'>";
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, this, [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                    format = box->textFormat();
                    if (auto* label = box->findChild<QLabel*>("qt_msgbox_label"))
                        shown = label->textFormat() == Qt::PlainText ? label->text() : QString();
                    box->accept();
                }
        });
        zkPrompts::MessageBox(text, "Velquist", zkPrompts::TIcon::Error, zkPrompts::TButtons::OK);
        zkPrompts::SetScripted(scripted);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, text);
    }
};

QTEST_MAIN(TOutsideTextTest)
#include "tst_outside_text.moc"
