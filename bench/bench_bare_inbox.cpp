// Baseline for bench_row_pixels: the least a Qt Widgets program does to show a posted alert.
// One thread: an HTTP listener on 127.0.0.1:PORT that answers every whole request "202", then
// puts each alert of its JSON body (an object or an array) at the foot of the window named by
// its "strategy" (W0..W<n-1>): a plain widget that draws its newest rows, one line of text
// each. No item view, store, history, sounds or checks: the row's way from the socket to the
// screen on this stack, and nothing else. (A QListWidget is no floor: it lays out every row
// again on each insertion, 8 ms a row here.)
//   bench_bare_inbox PORT [WINDOWS (10)]
#include "inbox/zkInboxHttp.h"

#include <QApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPaintEvent>
#include <QPainter>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int MaxRows = 200; // more than a window shows

// The newest rows, drawn from the foot up.
class TRows : public QWidget {
public:
    void Add(QString row) {
        Rows.push_back(std::move(row));
        if (Rows.size() > MaxRows)
            Rows.pop_front();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().base());
        const int line = fontMetrics().height();
        int y = height() - line;
        for (auto it = Rows.crbegin(); it != Rows.crend() && y > -line; ++it, y -= line)
            painter.drawText(4, y + fontMetrics().ascent(), *it);
    }

private:
    std::deque<QString> Rows;
};

// Takes whole requests from the front of buffer, heads read as the client's inbox reads them;
// their bodies in order.
std::vector<QByteArray> TakeRequests(QByteArray& buffer) {
    std::vector<QByteArray> bodies;
    for (;;) {
        qsizetype scanFrom = 0, headBytes = 0;
        THttpRequestHead head;
        const char* problem = nullptr;
        if (zkInboxHttp::ParseRequestHead(buffer, 64 * 1024, scanFrom, head, headBytes, &problem) !=
            zkInboxHttp::THeadStatus::Complete)
            return bodies; // incomplete (a bad request never comes from the probe)
        const qsizetype length = std::max<qint64>(head.ContentLength, 0);
        if (buffer.size() < headBytes + length)
            return bodies;
        bodies.push_back(buffer.mid(headBytes, length));
        buffer.remove(0, headBytes + length);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_bare_inbox PORT [WINDOWS]\n");
        return 2;
    }
    const int windows = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    std::map<QString, std::unique_ptr<TRows>> lists;
    for (int i = 0; i < windows; ++i) {
        auto list = std::make_unique<TRows>();
        list->setWindowTitle(QStringLiteral("W%1").arg(i));
        list->resize(400, 300);
        list->show();
        lists[list->windowTitle()] = std::move(list);
    }
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(atoi(argv[1])))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, buffer, &lists] {
                buffer->append(socket->readAll());
                for (const QByteArray& body : TakeRequests(*buffer)) {
                    socket->write("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n");
                    socket->flush();
                    const QJsonDocument doc = QJsonDocument::fromJson(body);
                    const QJsonArray alerts =
                        doc.isArray() ? doc.array() : QJsonArray{doc.object()};
                    for (const QJsonValue& v : alerts) {
                        const QJsonObject alert = v.toObject();
                        const auto it =
                            lists.find(alert.value(QLatin1String("strategy")).toString());
                        if (it == lists.end())
                            continue;
                        it->second->Add(alert.value(QLatin1String("symbol")).toString() +
                                        QLatin1Char(' ') +
                                        alert.value(QLatin1String("description")).toString());
                    }
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return app.exec();
}
