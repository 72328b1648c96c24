#include "zkSymbolListFile.h"

#include "platform/zkErrors.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

QStringList SplitSymbolText(QStringView text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start).toString());
        if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.mid(start).toString());
    return lines;
}

QString DecodeSymbolFile(const QByteArray& bytes) {
    const qsizetype zero = bytes.indexOf('\0');
    const QByteArrayView data =
        zero < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(zero);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        return QString::fromLatin1(data);
    return text;
}

QStringList ReadSymbolFileLines(const QByteArray& bytes) {
    return SplitSymbolText(DecodeSymbolFile(bytes));
}

QByteArray EncodeSymbolFile(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

QStringList LoadSymbolFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    return ReadSymbolFileLines(file.readAll());
}

void SaveSymbolFile(const QString& fileName, const QStringList& lines) {
    // Written beside and renamed over, so a failed write never leaves half a list.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(EncodeSymbolFile(lines)) < 0 ||
        !file.commit())
        throw EInOutError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
}
