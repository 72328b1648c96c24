#include "zkOutsideText.h"

#include <QTextDocument>

namespace zkOutsideText {

QString ToolTip(const QString& text) {
    // Plain text is shown plain, so ordinary tooltips stay as they were (and a tray host that
    // takes the tooltip as plain text shows no tags).
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString MarkupEscaped(const QString& text) {
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            escaped += QLatin1String("&amp;");
            break;
        case u'<':
            escaped += QLatin1String("&lt;");
            break;
        case u'>':
            escaped += QLatin1String("&gt;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString Shortened(const QString& text, int maxChars) {
    if (text.size() <= maxChars)
        return text;
    if (maxChars <= 0)
        return QString();
    qsizetype cut = maxChars - 1;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}

} // namespace zkOutsideText
