// Text from outside on its way to markup readers. For a notification server: the escaped text
// holds no tag and no entity of its own making, and an XML reader gives back exactly the
// alert's characters. For a tooltip: text Qt would read as rich text comes back escaped in one
// paragraph, and other text as it is.
#include "platform/zkOutsideText.h"
#include "zkFuzzCheck.h"

#include <QTextDocument>
#include <QXmlStreamReader>

#include <cstdint>

namespace {

// What XML 1.0 allows in character data, and no CR (a reader turns it into LF).
bool XmlReadsBack(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if ((u < 0x20 && u != '\t' && u != '\n') || u == 0xFFFE || u == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 == text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(u)) {
            return false;
        }
    }
    return true;
}

// Every "&" starts one of the entities named.
bool OnlyEntities(QStringView text, std::initializer_list<QStringView> entities) {
    for (qsizetype i = text.indexOf(u'&'); i >= 0; i = text.indexOf(u'&', i + 1)) {
        bool known = false;
        for (const QStringView entity : entities)
            known = known || text.mid(i).startsWith(entity);
        if (!known)
            return false;
    }
    return true;
}

QString Unescaped(QString text) {
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16 * 1024)
        return 0;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QString escaped = zkOutsideText::MarkupEscaped(text);
    Check(!escaped.contains(u'<') && !escaped.contains(u'>'));
    Check(OnlyEntities(escaped, {u"&amp;", u"&lt;", u"&gt;"}));
    Check(Unescaped(escaped) == text);
    if (XmlReadsBack(text)) {
        QXmlStreamReader reader(QStringLiteral("<b>") + escaped + QStringLiteral("</b>"));
        Check(reader.readNextStartElement());
        Check(reader.readElementText() == text);
        Check(!reader.hasError());
    }

    const QString tip = zkOutsideText::ToolTip(text);
    if (tip == text) {
        Check(!Qt::mightBeRichText(text));
    } else {
        const QString begin = QStringLiteral("<p style='white-space:pre-wrap'>");
        const QString end = QStringLiteral("</p>");
        Check(tip.startsWith(begin) && tip.endsWith(end) && Qt::mightBeRichText(tip));
        const QStringView inside =
            QStringView(tip).mid(begin.size(), tip.size() - begin.size() - end.size());
        Check(!inside.contains(u'<') && !inside.contains(u'>'));
        Check(OnlyEntities(inside, {u"&amp;", u"&lt;", u"&gt;", u"&quot;"}));
        Check(Unescaped(inside.toString()) == text);
    }
    return 0;
}
