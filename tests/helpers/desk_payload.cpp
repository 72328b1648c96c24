// Prints what the desk's "Publish to the broker" sends for one alert, made by the desk's own
// code: the topic on the first line, the payload on the second. The page's browser test
// publishes exactly that.
//   velquist-desk-payload WINDOW SYMBOL PRICE DESCRIPTION
#include "broker/zkBrokerMessages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        QTextStream(stderr) << "usage: velquist-desk-payload WINDOW SYMBOL PRICE DESCRIPTION\n";
        return 2;
    }
    zkBroker::TPublishedAlert alert;
    alert.Symbol = args[2];
    alert.Price = args[3].toDouble();
    alert.Description = args[4];
    alert.Time = QDateTime::currentDateTimeUtc();
    QTextStream out(stdout);
    out << zkBroker::PublishTopic(args[1]) << '\n'
        << QString::fromUtf8(
               zkBroker::PublishPayload(args[1], alert, QStringLiteral("velquist-0123456789ab")))
        << '\n';
    return 0;
}
