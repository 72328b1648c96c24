// Text from outside reaches markup readers as the characters it holds: tooltips (Qt's rich
// text), message boxes, and desktop notifications (a server's markup).
#include "platform/zkOutsideText.h"
#include "platform/zkPrompts.h"

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
