// The program's icon names only its small sizes to the window system while the client starts,
// and draws every picture from all its sizes; on a real X server the windows' icon property
// holds the small sizes, then every size once the whole icon is set.
#include "desktop/zkApplicationIcon.h"

#include "zkTestDesktop.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QWidget>
#include <QtTest>

namespace {

// One size per image, each of its own colour, so a picture tells which image it came from.
QIcon IconOf(const QList<int>& sizes) {
    QIcon icon;
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(QColor::fromHsv(size % 360, 255, 255));
        icon.addPixmap(pixmap);
    }
    return icon;
}

QRgb ColourOf(int size) {
    return QColor::fromHsv(size % 360, 255, 255).rgb();
}

QList<QSize> Squares(const QList<int>& sizes) {
    QList<QSize> squares;
    for (const int size : sizes)
        squares << QSize(size, size);
    return squares;
}

} // namespace

class TApplicationIconTest : public QObject {
    Q_OBJECT

private slots:
    void namesSmallSizesAndDrawsFromAll() {
        const QIcon all = IconOf({16, 32, 48, 256});
        const QIcon shown = zkApplicationIcon::NamingSmallSizes(all);
        QCOMPARE(shown.availableSizes(), Squares({16, 32, 48}));
        QCOMPARE(all.availableSizes(), Squares({16, 32, 48, 256}));
        // A large picture comes from the large image, not from the 48-pixel one scaled up.
        const QPixmap large = shown.pixmap(QSize(256, 256), 1.0);
        QCOMPARE(large.size(), QSize(256, 256));
        QCOMPARE(large.toImage().pixel(100, 100), ColourOf(256));
        QCOMPARE(shown.pixmap(QSize(32, 32), 1.0).toImage().pixel(5, 5), ColourOf(32));
        // At twice the pixels, as on a screen at 200 %.
        const QPixmap sharp = shown.pixmap(QSize(64, 64), 2.0);
        QCOMPARE(sharp.toImage().pixel(100, 100), ColourOf(256));
        QCOMPARE(shown.actualSize(QSize(512, 512)), QSize(256, 256));
        QImage painted(200, 200, QImage::Format_ARGB32_Premultiplied);
        painted.fill(Qt::transparent);
        {
            QPainter painter(&painted);
            shown.paint(&painter, painted.rect());
        }
        QCOMPARE(painted.pixel(100, 100), ColourOf(256));
        // Copies keep what they name.
        const QIcon copy = shown;
        QCOMPARE(copy.availableSizes(), Squares({16, 32, 48}));
    }

    void namesEverySizeWhenNoneIsSmall() {
        QCOMPARE(zkApplicationIcon::NamingSmallSizes(IconOf({64, 256})).availableSizes(),
                 Squares({64, 256}));
        QVERIFY(zkApplicationIcon::NamingSmallSizes(QIcon()).isNull());
    }
};

// What the window system holds: the sizes in a window's _NET_WM_ICON.
class TApplicationIconOnXTest : public QObject {
    Q_OBJECT

    static QList<QSize> IconSizesOf(const QWidget& window) {
        QProcess xprop;
        // Read whole: the 256-pixel image alone is 256 KiB.
        xprop.start(QStringLiteral("xprop"),
                    {QStringLiteral("-len"), QStringLiteral("1000000"), QStringLiteral("-id"),
                     QString::number(window.winId()), QStringLiteral("_NET_WM_ICON")});
        xprop.waitForFinished(10000);
        static const QRegularExpression size(QStringLiteral("Icon \\((\\d+) x (\\d+)\\)"));
        QList<QSize> sizes;
        auto found = size.globalMatch(QString::fromUtf8(xprop.readAllStandardOutput()));
        while (found.hasNext()) {
            const QRegularExpressionMatch m = found.next();
            sizes << QSize(m.captured(1).toInt(), m.captured(2).toInt());
        }
        std::sort(sizes.begin(), sizes.end(),
                  [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
        return sizes;
    }

private slots:
    void windowsHoldTheSmallSizesThenEverySize() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const QIcon all = IconOf({16, 32, 48, 256});
        QApplication::setWindowIcon(zkApplicationIcon::NamingSmallSizes(all));
        QWidget window;
        window.resize(120, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(IconSizesOf(window), Squares({16, 32, 48}));
        QApplication::setWindowIcon(all);
        QTRY_COMPARE(IconSizesOf(window), Squares({16, 32, 48, 256}));
    }
};

int main(int argc, char** argv) {
    return RunWithCasesOnX<TApplicationIconOnXTest, TApplicationIconTest>(argc, argv);
}

#include "tst_application_icon.moc"
