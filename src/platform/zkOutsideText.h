#pragma once

// Text from outside the program (an alert's symbol or description, a strategy's name, a line of
// a file, a server's answer) is shown as the characters it holds. Qt and other programs read
// some of the places it goes as markup; these functions make it safe there.

#include <QString>

namespace zkOutsideText {

// The text for a tooltip that shows it exactly as it is. Qt reads a tooltip as rich text when it
// looks like HTML, where "<img src=...>" would read a local file: such text comes back escaped,
// in a paragraph that keeps its blanks and line breaks. Other text comes back as it is.
QString ToolTip(const QString& text);

// The text with "&", "<" and ">" written as entities, for a desktop notification's summary and
// body, which a notification server reads as markup.
QString MarkupEscaped(const QString& text);

// The text when it has at most maxChars characters; else its first maxChars - 1 and an
// ellipsis, cut before a character rather than within one (a surrogate pair).
QString Shortened(const QString& text, int maxChars);

} // namespace zkOutsideText
