// velquist-alert: posts alerts to the inbox of the running Velquist client.
//
//   velquist-alert [--socket PATH] [--strategy NAME] [--price P] [--skip] SYMBOL [DESCRIPTION...]
//   velquist-alert [--socket PATH] --json       one alert object (or array) per line of stdin
//   ... --dry-run    sends nothing to the windows: prints which windows would take each alert
//                    and which window's rule would refuse it
//
// All input is checked before anything is sent, with the client's own reader, so a bad line
// sends nothing. Exit status: 0 every alert taken; 1 bad input (the message names the line);
// 2 no client to reach; 3 the client was busy or closing (the message says how many lines it
// took before that).

#include "inbox/zkInboxAlert.h"
#include "inbox/zkInboxSocket.h"
#include "platform/zkLocalPeers.h"
#include "platform/zkPaths.h"
#include "platform/zkVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <cstdio>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitBadInput = 1;
constexpr int ExitNoClient = 2;
constexpr int ExitRefused = 3;
constexpr int AnswerWaitMs = 30000;

void PrintError(const QString& text) {
    std::fprintf(stderr, "velquist-alert: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// The client's answer to a dry run, as lines for the user.
void PrintDryRun(const QByteArray& json) {
    const QJsonArray alerts = QJsonDocument::fromJson(json).array();
    for (const QJsonValue& value : alerts) {
        const QJsonObject alert = value.toObject();
        const QString symbol = alert.value(QStringLiteral("symbol")).toString();
        const QJsonArray windows = alert.value(QStringLiteral("windows")).toArray();
        if (windows.isEmpty())
            std::printf("%s: no window takes it (kept in the history only)\n", qPrintable(symbol));
        for (const QJsonValue& w : windows) {
            const QJsonObject window = w.toObject();
            const QString name = window.value(QStringLiteral("window")).toString();
            const QString refused = window.value(QStringLiteral("refused")).toString();
            const bool opens = window.value(QStringLiteral("opens")).toBool();
            const QString where = opens ? QStringLiteral("new window \"%1\"").arg(name)
                                        : QStringLiteral("window \"%1\"").arg(name);
            if (refused.isEmpty())
                std::printf("%s: %s shows it\n", qPrintable(symbol), qPrintable(where));
            else
                std::printf("%s: %s refuses it: %s\n", qPrintable(symbol), qPrintable(where),
                            qPrintable(refused));
        }
    }
    std::fflush(stdout);
}

// One line of the client's answer; empty when the connection ended first.
QByteArray ReadAnswer(QLocalSocket& socket) {
    while (!socket.canReadLine()) {
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            return QByteArray();
        if (!socket.waitForReadyRead(AnswerWaitMs))
            return socket.canReadLine() ? socket.readLine().trimmed() : QByteArray();
    }
    return socket.readLine().trimmed();
}

} // namespace

int main(int argc, char** argv) {
    if (zkVersion::AnswerInfoOption(argc, argv, "velquist-alert", ""))
        return 0;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velquist-alert"));
    // Arguments reach Qt decoded, a broken byte as U+FFFD; the client refuses broken text, so
    // this does too, before anything is read into an alert.
    for (int i = 1; i < argc; ++i)
        if (zkInbox::InvalidUtf8At(QByteArray(argv[i])) >= 0) {
            PrintError(QStringLiteral("argument %1 is not valid UTF-8; nothing was sent").arg(i));
            return ExitBadInput;
        }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Posts an alert to the inbox of the running Velquist client.\n"
        "Exit status: 0 taken, 1 bad input (nothing sent), 2 no client to reach, 3 the client "
        "was busy or closing."));
    parser.addHelpOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("The client's inbox socket (default: the one running client's)."),
        QStringLiteral("PATH"));
    const QCommandLineOption strategyOption(
        QStringLiteral("strategy"),
        QStringLiteral("The inbox window to show it in (default \"Inbox\"; \"*\": every one)."),
        QStringLiteral("NAME"));
    const QCommandLineOption priceOption(
        QStringLiteral("price"), QStringLiteral("The price of the alert."), QStringLiteral("P"));
    const QCommandLineOption skipOption(QStringLiteral("skip"),
                                        QStringLiteral("Mark the alert as one to skip."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Read alerts from standard input instead: one JSON object (or array of "
                       "objects) a line, with \"symbol\", \"price\", \"description\", "
                       "\"strategy\" and \"skip\"."));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"),
        QStringLiteral("Take nothing: print which windows would take each alert, and which "
                       "window's rule would refuse it."));
    parser.addOptions(
        {socketOption, strategyOption, priceOption, skipOption, jsonOption, dryRunOption});
    parser.addPositionalArgument(QStringLiteral("SYMBOL"), QStringLiteral("The symbol."));
    parser.addPositionalArgument(QStringLiteral("DESCRIPTION"),
                                 QStringLiteral("Words of the description."),
                                 QStringLiteral("[DESCRIPTION...]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        PrintError(parser.errorText());
        return ExitBadInput;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return ExitOk;
    }

    // Every line to send, each checked as the client will check it.
    QList<QByteArray> lines;
    QList<int> lineNumbers;
    if (parser.isSet(jsonOption)) {
        if (!parser.positionalArguments().isEmpty() || parser.isSet(strategyOption) ||
            parser.isSet(priceOption) || parser.isSet(skipOption)) {
            PrintError(QStringLiteral("--json takes its alerts from standard input only"));
            return ExitBadInput;
        }
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly)) {
            PrintError(QStringLiteral("cannot read standard input"));
            return ExitBadInput;
        }
        int number = 0;
        while (!input.atEnd()) {
            QByteArray line = input.readLine(TInboxSocket::MaxLineBytes + 2);
            ++number;
            const bool whole = line.endsWith('\n') || input.atEnd();
            if (line.endsWith('\n'))
                line.chop(1);
            if (line.endsWith('\r'))
                line.chop(1);
            if (!whole || line.size() > TInboxSocket::MaxLineBytes) {
                PrintError(QStringLiteral("line %1: longer than %2 bytes; nothing was sent")
                               .arg(number)
                               .arg(TInboxSocket::MaxLineBytes));
                return ExitBadInput;
            }
            if (line.trimmed().isEmpty())
                continue;
            const TInboxParseResult parsed =
                zkInbox::ParseInboxBody(line, QByteArrayLiteral("application/json"), QByteArray());
            if (!parsed.Ok()) {
                PrintError(QStringLiteral("line %1: %2; nothing was sent")
                               .arg(number)
                               .arg(parsed.Error.Message));
                return ExitBadInput;
            }
            lines << line;
            lineNumbers << number;
        }
        if (lines.isEmpty()) {
            PrintError(QStringLiteral("no alert on standard input"));
            return ExitBadInput;
        }
    } else {
        QStringList words = parser.positionalArguments();
        if (words.isEmpty()) {
            PrintError(QStringLiteral("name a symbol (or use --json); see --help"));
            return ExitBadInput;
        }
        QJsonObject alert{{QStringLiteral("symbol"), words.takeFirst()}};
        if (!words.isEmpty())
            alert.insert(QStringLiteral("description"), words.join(QLatin1Char(' ')));
        if (parser.isSet(priceOption))
            alert.insert(QStringLiteral("price"), parser.value(priceOption));
        if (parser.isSet(strategyOption))
            alert.insert(QStringLiteral("strategy"), parser.value(strategyOption));
        if (parser.isSet(skipOption))
            alert.insert(QStringLiteral("skip"), true);
        const QByteArray line = QJsonDocument(alert).toJson(QJsonDocument::Compact);
        const TInboxParseResult parsed =
            zkInbox::ParseInboxBody(line, QByteArrayLiteral("application/json"), QByteArray());
        if (!parsed.Ok()) {
            PrintError(parsed.Error.Message + QStringLiteral("; nothing was sent"));
            return ExitBadInput;
        }
        if (line.size() > TInboxSocket::MaxLineBytes) {
            PrintError(QStringLiteral("the alert is too long; nothing was sent"));
            return ExitBadInput;
        }
        lines << line;
        lineNumbers << 1;
    }

    QString path = parser.value(socketOption);
    if (path.isEmpty()) {
        const QStringList live = zkLocalPeers::LiveSockets(QStringLiteral(".inbox"));
        if (live.isEmpty()) {
            PrintError(QStringLiteral("no running Velquist client found (no inbox socket in %1); "
                                      "nothing was sent")
                           .arg(zkPaths::RuntimeDir()));
            return ExitNoClient;
        }
        if (live.size() > 1) {
            PrintError(QStringLiteral("several Velquist clients are running; choose one with "
                                      "--socket:\n  %1")
                           .arg(live.join(QStringLiteral("\n  "))));
            return ExitNoClient;
        }
        path = live.first();
    }
    // Alerts handed to a socket another user made would be theirs to read.
    const QString refused = zkLocalPeers::SocketFileProblem(path);
    if (!refused.isEmpty()) {
        PrintError(QStringLiteral("will not send to %1: %2").arg(path, refused));
        return ExitNoClient;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(3000)) {
        PrintError(QStringLiteral("cannot connect to %1: %2; nothing was sent")
                       .arg(path, socket.errorString()));
        return ExitNoClient;
    }
    if (!zkLocalPeers::PeerIsUser(socket.socketDescriptor())) {
        PrintError(QStringLiteral("will not send to %1: it is served by another user's program")
                       .arg(path));
        return ExitNoClient;
    }

    const bool dryRun = parser.isSet(dryRunOption);
    // A line at a time, so that a busy client leaves a clear count of what it took.
    qsizetype taken = 0;
    qint64 unrouted = 0, filtered = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        socket.write((dryRun ? "DRYRUN " + lines[i] : lines[i]) + '\n');
        socket.flush();
        const QByteArray answer = ReadAnswer(socket);
        const QString sent =
            QStringLiteral("%1 of %2 lines were taken").arg(taken).arg(lines.size());
        if (dryRun && answer.startsWith("DRYRUN ")) {
            PrintDryRun(answer.mid(7));
            continue;
        }
        if (!dryRun && answer.startsWith("OK ")) {
            ++taken;
            // "OK <n> [unrouted <m>] [filtered <f>]": m went to no window, f every window
            // they went to refused.
            const QList<QByteArray> words = answer.split(' ');
            for (qsizetype w = 2; w + 1 < words.size(); w += 2) {
                if (words[w] == "unrouted")
                    unrouted += words[w + 1].toLongLong();
                else if (words[w] == "filtered")
                    filtered += words[w + 1].toLongLong();
            }
            continue;
        }
        if (answer == "BUSY" || answer == "CLOSING") {
            PrintError(QStringLiteral("the client is %1; %2")
                           .arg(answer == "BUSY" ? QStringLiteral("busy, try again shortly")
                                                 : QStringLiteral("closing"),
                                sent));
            return ExitRefused;
        }
        if (answer.startsWith("ERROR ")) {
            // A client from before dry runs reads the request as a bad alert line.
            if (dryRun)
                PrintError(QStringLiteral("line %1: the client refused the dry run: %2 (a client "
                                          "older than this tool answers so)")
                               .arg(lineNumbers[i])
                               .arg(QString::fromUtf8(answer.mid(6))));
            else
                PrintError(QStringLiteral("line %1: the client refused it: %2; %3")
                               .arg(lineNumbers[i])
                               .arg(QString::fromUtf8(answer.mid(6)), sent));
            return ExitBadInput;
        }
        if (dryRun && answer.startsWith("OK ")) {
            PrintError(QStringLiteral("the client took the alert instead of a dry run"));
            return ExitBadInput;
        }
        PrintError(QStringLiteral("the client closed the connection; %1").arg(sent));
        return ExitNoClient;
    }
    if (unrouted > 0)
        PrintError(QStringLiteral("%1 of the alerts went to no window (no inbox window shows their "
                                  "strategy and the client opens none); they are in the alert "
                                  "history")
                       .arg(unrouted));
    if (filtered > 0)
        PrintError(QStringLiteral("%1 of the alerts were filtered: every window they went to "
                                  "refused them by its rules; they are in the alert history")
                       .arg(filtered));
    return ExitOk;
}
