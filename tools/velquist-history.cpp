// velquist-history: the Velquist client's alert history as CSV, also while the client runs.
//
//   velquist-history export [--from TIME] [--to TIME] [--symbol S] [--window NAME]
//
// Prints "time,window,symbol,price,description,source" and one line per alert, oldest first
// (RFC 4180, UTF-8). TIME is an ISO 8601 date or date and time, UTC unless it carries an
// offset: 2026-12-09, 2026-12-09T14:30, 2026-12-09T14:30:05.123Z, 2026-12-09T14:30+01:00. A
// date alone as --to means the end of that day. --symbol is a prefix of the symbol, in any
// case; --window a window's exact name.
//
// Written to a terminal, control and formatting characters in the text are shown escaped
// (\x1B, \u202E, a backslash as \x5C); to a file or a pipe the CSV is exact.
//
// Exit status: 0 done (also when nothing matches), 1 no history or it cannot be read, 2 usage
// error.
#include "history/zkHistoryStore.h"
#include "platform/zkErrors.h"
#include "platform/zkOutsideText.h"
#include "platform/zkVersion.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTime>

#include <cstdio>

#include <unistd.h>

namespace {

const char* const UsageText =
    "Usage: velquist-history export [--from TIME] [--to TIME] [--symbol S] [--window NAME]\n"
    "Prints the alert history as CSV, oldest first. TIME is an ISO 8601 date or date and\n"
    "time, UTC unless it carries an offset (2026-12-09, 2026-12-09T14:30,\n"
    "2026-12-09T14:30:05.123Z, 2026-12-09T14:30+01:00); a date alone as --to means the end\n"
    "of that day. --symbol matches symbols beginning with S in any case, --window one\n"
    "window's exact name.\n";

struct TExit {
    int Status;
    QString Message;
};

[[noreturn]] void Usage(const QString& problem) {
    throw TExit{2, problem};
}

// Milliseconds since 1970 (UTC) for an ISO 8601 text; a date alone is the start of the day,
// or the last millisecond of it when `endOfDay`.
qint64 ParseTime(const QString& option, const QString& text, bool endOfDay) {
    static const QRegularExpression Pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,3}))?)?(Z|[+-]\d{2}:\d{2})?)?$)"));
    const QRegularExpressionMatch m = Pattern.match(text);
    const auto bad = [&] {
        Usage(QStringLiteral("%1: \"%2\" is not a date or time such as 2026-12-09 or "
                             "2026-12-09T14:30:05Z")
                  .arg(option, text));
    };
    if (!m.hasMatch())
        bad();
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        bad();
    if (m.captured(4).isEmpty()) {
        const QDateTime start(date, QTime(0, 0), Qt::UTC);
        return endOfDay ? start.addDays(1).toMSecsSinceEpoch() - 1 : start.toMSecsSinceEpoch();
    }
    const QString fraction = m.captured(7);
    const int ms = fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms);
    if (!time.isValid())
        bad();
    qint64 offsetMs = 0;
    const QString zone = m.captured(8);
    if (zone.size() == 6) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59)
            bad();
        offsetMs = (hours * 60 + minutes) * 60000LL * (zone[0] == u'-' ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch() - offsetMs;
}

THistoryFilter ParseFilter(const QStringList& args) {
    THistoryFilter filter;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args[i];
        QString value;
        bool hasValue = false;
        const qsizetype equals = option.indexOf(u'=');
        if (option.startsWith(QLatin1String("--")) && equals > 0) {
            value = option.mid(equals + 1);
            option.truncate(equals);
            hasValue = true;
        }
        static const QStringList Known = {QStringLiteral("--from"), QStringLiteral("--to"),
                                          QStringLiteral("--symbol"), QStringLiteral("--window")};
        if (!Known.contains(option))
            Usage(QStringLiteral("unknown argument \"%1\"").arg(args[i]));
        if (!hasValue) {
            if (i + 1 >= args.size())
                Usage(QStringLiteral("%1 needs a value").arg(option));
            value = args[++i];
        }
        if (option == QLatin1String("--from"))
            filter.FromMs = ParseTime(option, value, false);
        else if (option == QLatin1String("--to"))
            filter.ToMs = ParseTime(option, value, true);
        else if (option == QLatin1String("--symbol"))
            filter.SymbolPrefix = value;
        else
            filter.Window = value;
    }
    return filter;
}

int Run(const QStringList& args) {
    if (args.isEmpty())
        Usage(QStringLiteral("no command given"));
    if (args.front() != QLatin1String("export"))
        Usage(QStringLiteral("unknown command \"%1\"").arg(args.front()));
    const THistoryFilter filter = ParseFilter(args.mid(1));

    const QString path = THistoryStore::DefaultPath();
    if (!QFileInfo::exists(path))
        throw TExit{1, QStringLiteral("there is no alert history (%1)").arg(path)};
    THistoryStore store(path, THistoryStore::TMode::ReadOnly);
    QByteArray out = HistoryCsvHeader();
    bool written = true;
    const auto flush = [&] {
        if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()))
            written = false;
        out.clear();
    };
    // A description or name may hold an escape sequence or a right-to-left override: a file or
    // a pipe takes the CSV byte for byte, a terminal reads them as commands, so there they are
    // written out as \x1B, \u202E and the like, one record a line.
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    store.ForEach(filter, [&](const THistoryAlert& alert) {
        if (terminal) {
            QByteArray line = HistoryCsvLine(alert);
            if (line.endsWith("\r\n"))
                line.chop(2);
            out += zkOutsideText::TerminalEscaped(QString::fromUtf8(line), false).toUtf8();
            out += "\r\n";
        } else {
            out += HistoryCsvLine(alert);
        }
        if (out.size() >= 1 << 16)
            flush();
        return written;
    });
    flush();
    if (std::fflush(stdout) != 0 || !written)
        throw TExit{1, QStringLiteral("the output could not be written")};
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (zkVersion::AnswerInfoOption(argc, argv, "velquist-history", UsageText))
        return 0;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        return Run(args);
    } catch (const TExit& exit) {
        std::fflush(stdout);
        std::fprintf(stderr, "velquist-history: %s\n", exit.Message.toLocal8Bit().constData());
        if (exit.Status == 2)
            std::fputs(UsageText, stderr);
        return exit.Status;
    } catch (const EZkError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "velquist-history: %s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
}
