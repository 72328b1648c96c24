// velquist-link: links the shell to link lists of the running Velquist client.
//
//   velquist-link [--socket PATH] LIST...                 prints each symbol on its own line
//   velquist-link [--socket PATH] --exec 'CMD {}' LIST...  runs CMD for each symbol
//
// The command is split into words as a POSIX shell would split them, but no shell runs it: "{}" in
// a word is replaced by the symbol, which always stays inside that one word (the symbol becomes a
// last word of its own when no word holds "{}"). Commands run one at a time, in order.

#include "platform/zkLocalPeers.h"
#include "platform/zkOutsideText.h"
#include "platform/zkPaths.h"
#include "platform/zkVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace {

constexpr qsizetype MaxLineBytes = 64 * 1024;
// Symbols waiting for their command; beyond this the command cannot keep up and they are
// dropped rather than held without end.
constexpr size_t MaxQueuedCommands = 10000;

void PrintError(const QString& text) {
    std::fprintf(stderr, "velquist-link: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// A symbol as it may reach a terminal: a control character (an escape sequence's start, a
// bell, C1 controls too), a character that is not shown but reorders or hides text (format
// controls, line and paragraph separators, variation selectors, fillers and other default
// ignorables, blank look-alikes) and the backslash are written as \xNN, \uNNNN or \UNNNNNNNN,
// so no sender can drive the terminal or make one symbol look like another, and the output
// still tells every symbol apart.
QByteArray PrintableSymbol(const QByteArray& utf8) {
    return zkOutsideText::TerminalEscaped(QString::fromUtf8(utf8), true).toUtf8();
}

// Splits a command into words the way a POSIX shell splits them: blanks separate, '...' is
// taken literally, "..." keeps blanks and honours \\, \", \$ and \`, a backslash elsewhere
// takes the next character as it is. Nothing is expanded. False when a quote is not closed.
bool SplitWords(const QString& command, QStringList& words) {
    words.clear();
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (c == QLatin1Char('\'')) {
            const qsizetype end = command.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return false;
            word += command.mid(i + 1, end - i - 1);
            inWord = true;
            i = end;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            for (++i;; ++i) {
                if (i >= command.size())
                    return false;
                const QChar d = command[i];
                if (d == QLatin1Char('"'))
                    break;
                if (d == QLatin1Char('\\') && i + 1 < command.size() &&
                    QStringLiteral("\\\"$`").contains(command[i + 1]))
                    word += command[++i];
                else
                    word += d;
            }
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 < command.size())
                word += command[++i];
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return true;
}

class TCommandRunner : public QObject {
public:
    explicit TCommandRunner(QStringList words) : Words(std::move(words)) {
        for (const QString& word : Words)
            HasPlaceholder = HasPlaceholder || word.contains(QStringLiteral("{}"));
    }

    void Add(const QString& symbol) {
        if (Queue.size() >= MaxQueuedCommands) {
            if (!Warned)
                PrintError(QStringLiteral("the command falls behind; symbols are dropped"));
            Warned = true;
            return;
        }
        Queue.push_back(symbol);
        RunNext();
    }
    bool Idle() const { return !Running && Queue.empty(); }
    std::function<void()> OnIdle;

private:
    void RunNext() {
        if (Running || Queue.empty())
            return;
        const QString symbol = Queue.front();
        Queue.pop_front();
        QStringList arguments;
        for (const QString& word : Words)
            arguments << QString(word).replace(QStringLiteral("{}"), symbol);
        if (!HasPlaceholder)
            arguments << symbol;
        const QString program = arguments.takeFirst();
        auto* process = new QProcess(this);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->setInputChannelMode(QProcess::ForwardedInputChannel);
        Running = true;
        connect(process, &QProcess::finished, this, [this, process] { Done(process); });
        connect(process, &QProcess::errorOccurred, this,
                [this, process, program](QProcess::ProcessError error) {
                    if (error != QProcess::FailedToStart)
                        return;
                    PrintError(
                        QStringLiteral("cannot run %1: %2").arg(program, process->errorString()));
                    Done(process);
                });
        process->start(program, arguments);
    }
    void Done(QProcess* process) {
        process->deleteLater();
        Running = false;
        RunNext();
        if (Idle() && OnIdle)
            OnIdle();
    }

    QStringList Words;
    bool HasPlaceholder = false;
    std::deque<QString> Queue;
    bool Running = false;
    bool Warned = false;
};

} // namespace

int main(int argc, char** argv) {
    if (zkVersion::AnswerInfoOption(argc, argv, "velquist-link", ""))
        return 0;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velquist-link"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Links to link lists of the running Velquist client and prints each "
                       "symbol sent to them on its own line."));
    parser.addHelpOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("The client's link socket (default: the one running client's)."),
        QStringLiteral("PATH"));
    const QCommandLineOption execOption(
        QStringLiteral("exec"),
        QStringLiteral("Run CMD for each symbol instead of printing it; {} in CMD stands for "
                       "the symbol. No shell is involved."),
        QStringLiteral("CMD"));
    parser.addOption(socketOption);
    parser.addOption(execOption);
    parser.addPositionalArgument(QStringLiteral("LIST"),
                                 QStringLiteral("Name of a link list, exactly as in the client."),
                                 QStringLiteral("LIST..."));
    parser.process(app);

    const QStringList lists = parser.positionalArguments();
    if (lists.isEmpty()) {
        PrintError(QStringLiteral("name at least one link list (\"MAIN LIST\" is always there)"));
        return 2;
    }
    for (const QString& list : lists) {
        if (list.isEmpty() || list.contains(QLatin1Char('\n')) ||
            list.contains(QLatin1Char('\r'))) {
            PrintError(QStringLiteral("a list name cannot be empty or hold a line break"));
            return 2;
        }
    }

    std::unique_ptr<TCommandRunner> runner;
    if (parser.isSet(execOption)) {
        QStringList words;
        if (!SplitWords(parser.value(execOption), words)) {
            PrintError(QStringLiteral("--exec: a quote in the command is not closed"));
            return 2;
        }
        if (words.isEmpty()) {
            PrintError(QStringLiteral("--exec needs a command"));
            return 2;
        }
        runner = std::make_unique<TCommandRunner>(words);
    }

    QString path = parser.value(socketOption);
    if (path.isEmpty()) {
        const QStringList live = zkLocalPeers::LiveSockets(QStringLiteral(".links"));
        if (live.isEmpty()) {
            PrintError(QStringLiteral("no running Velquist client found (no link socket in %1)")
                           .arg(zkPaths::RuntimeDir()));
            return 2;
        }
        if (live.size() > 1) {
            PrintError(QStringLiteral("several Velquist clients are running; choose one with "
                                      "--socket:\n  %1")
                           .arg(live.join(QStringLiteral("\n  "))));
            return 2;
        }
        path = live.first();
    }

    // Symbols from a socket another user made would be theirs to choose: check the file, and
    // once connected the process that serves it.
    const QString refused = zkLocalPeers::SocketFileProblem(path);
    if (!refused.isEmpty()) {
        PrintError(QStringLiteral("will not link to %1: %2").arg(path, refused));
        return 2;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(3000)) {
        PrintError(QStringLiteral("cannot connect to %1: %2").arg(path, socket.errorString()));
        return 2;
    }
    if (!zkLocalPeers::PeerIsUser(socket.socketDescriptor())) {
        PrintError(QStringLiteral("will not link to %1: it is served by another user's program")
                       .arg(path));
        return 2;
    }

    QByteArray partial;
    bool discarding = false;
    bool closedByClient = false;
    const auto handleLine = [&](const QByteArray& line) {
        if (line == "CLOSING")
            closedByClient = true;
        if (!line.startsWith("SYMBOL "))
            return;
        const QByteArray symbol = line.mid(7);
        if (runner) {
            runner->Add(QString::fromUtf8(symbol));
        } else {
            const QByteArray shown = PrintableSymbol(symbol);
            std::fwrite(shown.constData(), 1, size_t(shown.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    };
    const auto readLines = [&] {
        while (socket.bytesAvailable() > 0) {
            const QByteArray chunk = socket.read(64 * 1024);
            qsizetype start = 0;
            while (start < chunk.size()) {
                const qsizetype newline = chunk.indexOf('\n', start);
                const qsizetype end = newline < 0 ? chunk.size() : newline;
                if (discarding || partial.size() + (end - start) > MaxLineBytes) {
                    discarding = true;
                    partial.clear();
                } else {
                    partial.append(chunk.constData() + start, end - start);
                }
                if (newline < 0)
                    break;
                start = newline + 1;
                if (discarding) {
                    discarding = false;
                    continue;
                }
                handleLine(std::exchange(partial, QByteArray()));
            }
        }
    };
    QObject::connect(&socket, &QLocalSocket::readyRead, readLines);
    int exitCode = 0;
    // Queued: a client that ends at once ends the connection inside the writes below, before
    // the event loop that the handler's exit needs is running.
    QObject::connect(
        &socket, &QLocalSocket::disconnected, &socket,
        [&] {
            readLines(); // what came just before the end
            // A client that closed on purpose said so first: that end is a normal one.
            if (closedByClient) {
                PrintError(QStringLiteral("the client has ended"));
            } else {
                PrintError(QStringLiteral("the link was lost (the client ended without closing it, "
                                          "or dropped this program)"));
                exitCode = 1;
            }
            if (!runner || runner->Idle())
                QCoreApplication::exit(exitCode);
            else
                runner->OnIdle = [&] { QCoreApplication::exit(exitCode); };
        },
        Qt::QueuedConnection);
    for (const QString& list : lists)
        socket.write("LINK " + list.toUtf8() + '\n');
    socket.flush();
    return app.exec();
}
