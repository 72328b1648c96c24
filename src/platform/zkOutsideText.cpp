#include "zkOutsideText.h"

#include <QTextDocument>

#include <iterator>

namespace zkOutsideText {

namespace {

struct TRange {
    char32_t First, Last;
};

bool InRanges(char32_t code, const TRange* begin, const TRange* end) {
    for (const TRange* r = begin; r != end; ++r)
        if (code >= r->First && code <= r->Last)
            return true;
    return false;
}

// Other_Default_Ignorable_Code_Point (PropList.txt): fillers, an inherent vowel, the combining
// grapheme joiner and code points kept free for more of them.
constexpr TRange OtherDefaultIgnorable[] = {
    {0x034F, 0x034F},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x2065, 0x2065},
    {0x3164, 0x3164},   {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFF8},   {0xE0000, 0xE0000},
    {0xE0002, 0xE001F}, {0xE0080, 0xE00FF}, {0xE01F0, 0xE0FFF},
};

// Variation_Selector: the Mongolian free variation selectors and both variation selector blocks.
constexpr TRange VariationSelectors[] = {
    {0x180B, 0x180D}, {0x180F, 0x180F}, {0xFE00, 0xFE0F}, {0xE0100, 0xE01EF}};

// Format controls that show as something: the interlinear annotation characters, the Egyptian
// hieroglyph format controls and the prefixed concatenation marks (signs written over the
// digits that follow them).
constexpr TRange ShownFormatControls[] = {
    {0x0600, 0x0605}, {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},
    {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x13440},
};

// Blanks that are letters or symbols rather than spaces: trimming keeps them and they look like
// nothing, so "T" and "T" with one after it would be two names that look the same.
constexpr TRange BlankLookAlikes[] = {
    {0x115F, 0x1160}, {0x2800, 0x2800}, {0x3164, 0x3164}, {0xFFA0, 0xFFA0}};

bool IsControl(char32_t code) {
    return code < 0x20 || (code >= 0x7f && code <= 0x9f);
}

// Format controls, line and paragraph separators: not shown, but they reorder the text around
// them (bidirectional overrides, isolates, marks), join, split or hide inside a word, or break
// the line and start a new bidirectional paragraph.
bool IsInvisibleFormat(char32_t code) {
    const QChar::Category category = QChar::category(code);
    return category == QChar::Other_Format || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

QString CodePointName(char32_t code) {
    return QStringLiteral("U+%1").arg(QString::number(uint(code), 16).toUpper(), 4,
                                      QLatin1Char('0'));
}

} // namespace

char32_t CodePointAt(const QString& text, qsizetype i, qsizetype& units) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        units = 2;
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    }
    units = 1;
    return c.unicode();
}

bool IsDefaultIgnorable(char32_t code) {
    // Unicode derives the property as Other_Default_Ignorable_Code_Point + format controls +
    // variation selectors - white space - the format controls that show as something. No
    // format control is white space, and Qt knows the category but not the property.
    if (InRanges(code, std::begin(OtherDefaultIgnorable), std::end(OtherDefaultIgnorable)) ||
        InRanges(code, std::begin(VariationSelectors), std::end(VariationSelectors)))
        return true;
    return QChar::category(code) == QChar::Other_Format &&
           !InRanges(code, std::begin(ShownFormatControls), std::end(ShownFormatControls));
}

bool IsHiddenInName(char32_t code) {
    return IsInvisibleFormat(code) || IsDefaultIgnorable(code) ||
           InRanges(code, std::begin(BlankLookAlikes), std::end(BlankLookAlikes));
}

QString NameProblem(const QString& text) {
    for (qsizetype i = 0, units = 0; i < text.size(); i += units)
        if (IsControl(CodePointAt(text, i, units)))
            return QStringLiteral("holds a control character");
    for (qsizetype i = 0, units = 0; i < text.size(); i += units) {
        const char32_t code = CodePointAt(text, i, units);
        if (QChar::isSurrogate(code))
            return QStringLiteral("holds a lone surrogate (not valid Unicode)");
        if (IsInvisibleFormat(code))
            return QStringLiteral("holds an invisible formatting character (%1)")
                .arg(CodePointName(code));
        if (IsHiddenInName(code))
            return QStringLiteral("holds a character that does not show (%1)")
                .arg(CodePointName(code));
    }
    return QString();
}

QString ShownDescription(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0, units = 0; i < text.size(); i += units) {
        const char32_t code = CodePointAt(text, i, units);
        if (QChar::isSurrogate(code))
            shown += QChar(QChar::ReplacementCharacter);
        else if (code == 0x2028 || code == 0x2029)
            shown += QLatin1Char(' ');
        else if (!IsInvisibleFormat(code))
            shown += QStringView(text).mid(i, units);
    }
    return shown;
}

QString TerminalEscaped(const QString& text, bool names) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0, units = 0; i < text.size(); i += units) {
        const char32_t code = CodePointAt(text, i, units);
        const bool escaped = IsControl(code) || IsInvisibleFormat(code) ||
                             QChar::isSurrogate(code) || code == u'\\' ||
                             (names && IsHiddenInName(code));
        const auto hex = [code](int digits) {
            return QString::number(uint(code), 16).toUpper().rightJustified(digits, u'0');
        };
        if (!escaped)
            shown += QStringView(text).mid(i, units);
        else if (code < 0x100)
            shown += QStringLiteral("\\x") + hex(2);
        else if (code < 0x10000)
            shown += QStringLiteral("\\u") + hex(4);
        else
            shown += QStringLiteral("\\U") + hex(8);
    }
    return shown;
}

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
