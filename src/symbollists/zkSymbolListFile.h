#pragma once

// Symbol list text files: plain text, one symbol per line, no header. Lines end at CR, LF or
// CR LF; a last line without a break counts; a break at the very end adds no empty line; a zero
// byte ends the text. Written with CR LF after every line. Text is UTF-8, and a file that is not
// valid UTF-8 is read as Latin-1, so files brought from other systems still load.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

// The lines of a text by the rules above (also used for the editor's own text).
QStringList SplitSymbolText(QStringView text);
// The text of a file's bytes: cut at the first zero byte, then decoded.
QString DecodeSymbolFile(const QByteArray& bytes);
QStringList ReadSymbolFileLines(const QByteArray& bytes);
// Every line followed by CR LF.
QByteArray EncodeSymbolFile(const QStringList& lines);

// Read or write a file; a failure raises EInOutError with "Cannot open file "<name>". <reason>"
// or "Cannot create file "<name>". <reason>".
QStringList LoadSymbolFile(const QString& fileName);
void SaveSymbolFile(const QString& fileName, const QStringList& lines);
