#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <utility>

// Cuts what a local socket brings into lines ending in "\n". A line longer than the limit is
// not kept: it is reported once, as too long, when its end comes, so a peer cannot make us hold
// more than the limit per connection.
class TLineReader {
public:
    explicit TLineReader(qsizetype maxLineBytes) : MaxLineBytes(maxLineBytes) {}

    // Calls onLine(line, tooLong) for every line the chunk completes (line empty when too long;
    // the "\n" is not part of it). Stops, returning false, as soon as onLine returns false.
    template <typename F> bool Feed(QByteArrayView chunk, F&& onLine) {
        qsizetype start = 0;
        while (start < chunk.size()) {
            const qsizetype newline = chunk.indexOf('\n', start);
            const qsizetype end = newline < 0 ? chunk.size() : newline;
            const qsizetype length = end - start;
            if (Discarding || Partial.size() + length > MaxLineBytes) {
                Discarding = true;
                Partial.clear();
            } else {
                Partial.append(chunk.data() + start, length);
            }
            if (newline < 0)
                break;
            start = newline + 1;
            const bool tooLong = std::exchange(Discarding, false);
            if (!onLine(std::exchange(Partial, QByteArray()), tooLong))
                return false;
        }
        return true;
    }

private:
    qsizetype MaxLineBytes;
    QByteArray Partial;
    bool Discarding = false; // inside a line that is too long
};
