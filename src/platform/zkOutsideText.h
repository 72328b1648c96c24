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

// The text with "&", "<" and ">" written as entities, for a desktop notification's body where
// the server reads markup in it.
QString MarkupEscaped(const QString& text);

// The text when it has at most maxChars characters; else its first maxChars - 1 and an
// ellipsis, cut before a character rather than within one (a surrogate pair).
QString Shortened(const QString& text, int maxChars);

// The code point at i (a surrogate pair read as one) and, in units, how many UTF-16 units it
// takes.
char32_t CodePointAt(const QString& text, qsizetype i, qsizetype& units);

// --- names: symbols and strategies ---
// A symbol or a strategy's name is matched and sent on exactly, so what it shows must be all it
// holds: two names that look the same must be the same name.

// Unicode's Default_Ignorable_Code_Point: characters a renderer shows as nothing when it has no
// special use for them (format controls, variation selectors, Hangul fillers, tags...).
bool IsDefaultIgnorable(char32_t code);

// True for a character a name may not hold: it shows as nothing or as a blank that is not a
// space (default ignorables, Braille's blank pattern, the Hangul fillers), or it changes how the
// text around it shows (format controls, line and paragraph separators).
bool IsHiddenInName(char32_t code);

// Why the text cannot be a name, or empty: it holds a control character, a lone surrogate or a
// character IsHiddenInName refuses (named by its code point, never quoted). Length and
// blankness are for the caller.
QString NameProblem(const QString& text);

// A description as a view shows it: format controls dropped (they could reorder or hide what is
// shown), a lone surrogate shown as U+FFFD, line and paragraph separators as a blank. Control
// characters are left for the caller, which turns line breaks into blanks and refuses the rest.
QString ShownDescription(const QString& text);

// The text for a terminal: control characters (an escape sequence's start, C1 controls too),
// format controls, line and paragraph separators, and the backslash written as \xNN, \uNNNN or
// \UNNNNNNNN, so the text cannot drive the terminal or reorder what it shows, and different
// texts stay different. With `names`, every character IsHiddenInName refuses is written so too.
QString TerminalEscaped(const QString& text, bool names);

} // namespace zkOutsideText
