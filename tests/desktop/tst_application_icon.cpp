// The program's icon names only its small sizes to the window system while the client starts,
// and draws every picture from all its sizes; on a real X server the windows' icon property
// holds the small sizes, then every size once the whole icon is set.
#include "desktop/zkApplicationIcon.h"

#include "zkTestDesktop.h"

#include <QApplication>
#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QWidget>
#include <QtTest>

#include <functional>

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

// An icon file of bitmap entries as icon editors write them: the header, the colours bottom
// row first (blue, green, red, alpha), then the transparency mask, one bit a pixel, rows
// padded to four bytes.
QByteArray BitmapEntry(int size, const std::function<QRgb(int x, int y)>& pixel,
                       const std::function<bool(int x, int y)>& masked) {
    QByteArray dib;
    QDataStream out(&dib, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(size) << qint32(2 * size) << quint16(1) << quint16(32)
        << quint32(0) << quint32(0) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x)
            out << quint32(pixel(x, y));
    const int maskRow = (size + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskRow, '\0');
        for (int x = 0; x < size; ++x)
            if (masked(x, y))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out.writeRawData(row.constData(), int(row.size()));
    }
    return dib;
}

// The entries, of sizes given, in one icon file.
QByteArray IconFile(const QList<QPair<int, QByteArray>>& entries) {
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(entries.size());
    quint32 at = 6 + 16 * quint32(entries.size());
    for (const auto& [size, data] : entries) {
        out << quint8(size % 256) << quint8(size % 256) << quint8(0) << quint8(0) << quint16(1)
            << quint16(32) << quint32(data.size()) << at;
        at += quint32(data.size());
    }
    for (const auto& entry : entries)
        out.writeRawData(entry.second.constData(), int(entry.second.size()));
    return file;
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
    // The program's own icon reads as Qt's image plugin reads it, pixel for pixel; the large
    // size (a PNG) is left to Qt.
    void readsTheProgramsSmallSizesAsQtDoes() {
        QFile file(QStringLiteral(VELQUIST_BIN_DIR "/velquist.ico"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QImage> small = zkApplicationIcon::SmallBitmapImages(file.readAll());
        QCOMPARE(small.size(), 3);
        QImageReader reader(file.fileName(), "ico");
        QList<QImage> qt;
        do
            qt << reader.read();
        while (reader.jumpToNextImage());
        for (const QImage& image : small) {
            const auto same = std::find_if(qt.begin(), qt.end(), [&](const QImage& q) {
                // Qt's reader premultiplies; back again, half-transparent pixels round off.
                return q.size() == image.size() &&
                       q.convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
                           image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            });
            QVERIFY2(same != qt.end(),
                     qPrintable(QStringLiteral("%1 pixels differ from Qt's").arg(image.width())));
        }
    }

    // Rows run bottom up; an icon whose alpha is all zero takes its transparency from the
    // mask, one with alpha ignores the mask; entries over the limit are not read.
    void readsBitmapsTheRightWayUpWithTheirTransparency() {
        const auto pixel = [](int x, int y) { return qRgb(10 * x, 20 * y, 7); };
        const auto corner = [](int x, int y) { return x == 0 && y == 0; };
        const QByteArray noAlpha = BitmapEntry(
            3, [&](int x, int y) { return pixel(x, y) & 0xffffff; }, corner);
        const QByteArray withAlpha = BitmapEntry(
            2, [](int x, int) { return qRgba(1, 2, 3, x ? 255 : 128); }, corner);
        const QByteArray large = BitmapEntry(64, pixel, corner);
        const QList<QImage> images = zkApplicationIcon::SmallBitmapImages(
            IconFile({{3, noAlpha}, {64, large}, {2, withAlpha}}), 48);
        QCOMPARE(images.size(), 2);
        const QImage& three = images[0];
        QCOMPARE(three.size(), QSize(3, 3));
        QCOMPARE(three.pixel(0, 0), 0u); // masked
        QCOMPARE(three.pixel(2, 1), pixel(2, 1));
        QCOMPARE(three.pixel(1, 2), pixel(1, 2));
        const QImage& two = images[1];
        QCOMPARE(qAlpha(two.pixel(0, 0)), 128);
        QCOMPARE(two.pixel(1, 1), qRgba(1, 2, 3, 255));
    }

    // A small entry that is not a plain 32-bit bitmap, or a file that lies about its sizes,
    // gives nothing: the caller reads the file with Qt instead, never a part of it.
    void leavesWhatItCannotReadToQt_data() {
        QTest::addColumn<QByteArray>("file");
        const auto plain = [](int, int) { return qRgba(1, 2, 3, 255); };
        const auto none = [](int, int) { return false; };
        const QByteArray good = BitmapEntry(16, plain, none);
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        QImage(16, 16, QImage::Format_ARGB32).save(&png, "PNG");
        QByteArray palette = good;
        palette[14] = 8; // 8 bits a pixel
        QTest::newRow("png entry") << IconFile({{32, good}, {16, png.data()}});
        QTest::newRow("palette entry") << IconFile({{16, palette}});
        QTest::newRow("truncated") << IconFile({{16, good}}).left(6 + 16 + 40 + 100);
        QByteArray beyond = IconFile({{16, good}});
        beyond[6 + 12 + 3] = char(0x7f); // the entry's offset far past the end
        QTest::newRow("offset past the end") << beyond;
        QByteArray wrongSize = IconFile({{16, good}});
        wrongSize[6] = 17; // the directory's width disagrees with the bitmap's
        QTest::newRow("sizes disagree") << wrongSize;
        QTest::newRow("no entries") << IconFile({});
        QTest::newRow("not an icon") << QByteArray("\x89PNG\r\n\x1a\n");
        QTest::newRow("empty") << QByteArray();
    }
    void leavesWhatItCannotReadToQt() {
        QFETCH(QByteArray, file);
        QVERIFY(zkApplicationIcon::SmallBitmapImages(file).isEmpty());
    }

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
