#include "shell/zkSplashForm.h"

#include "zkTestDesktop.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {

const QRgb White = qRgb(255, 255, 255);
const QRgb Green = qRgb(0, 255, 0);
const QRgb Red = qRgb(255, 0, 0);
const QRgb Ink = qRgb(20, 40, 60);

// A picture from rows of characters: '.' white, 'g' green, 'r' red, '#' ink.
QImage picture(const QStringList& rows) {
    QImage image(int(rows.first().size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QChar c = rows[y][x];
            image.setPixel(x, y, c == '.' ? White : c == 'g' ? Green : c == 'r' ? Red : Ink);
        }
    return image;
}

QByteArray bmpBytes(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return data;
}

// Every pixel of the picture is inside the region exactly when it is not of the cut-out colour.
void verifyShape(const QRegion& region, const QImage& image, QRgb cutOut) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const bool kept = (image.pixel(x, y) & RGB_MASK) != (cutOut & RGB_MASK);
            if (region.contains(QPoint(x, y)) != kept)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 should be %3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(kept ? "kept" : "cut out")));
        }
    QVERIFY(!region.contains(QPoint(-1, 0)));
    QVERIFY(!region.contains(QPoint(image.width(), 0)));
}

// What the window painted: the picture's colours, with the cut-out pixels left clear.
void verifyPainted(const QImage& painted, const QImage& image, std::optional<QRgb> cutOut) {
    QCOMPARE(painted.size(), image.size());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb want = image.pixel(x, y);
            const QRgb got = painted.pixel(x, y);
            const bool cut = cutOut && (want & RGB_MASK) == (*cutOut & RGB_MASK);
            if (cut ? qAlpha(got) != 0 : got != (want | 0xFF000000u))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 painted as %3")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got, 8, 16, QLatin1Char('0'))));
        }
}

} // namespace

class TSplashTest : public QObject {
    Q_OBJECT

private:
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir;

    void writeInstall(const QImage& image, const QByteArray& settings) {
        QFile::remove(Install.filePath("splash.bmp"));
        QFile::remove(Install.filePath("Settings.ini"));
        if (!image.isNull())
            WriteTextFile(Install.filePath("splash.bmp"), bmpBytes(image));
        if (!settings.isNull())
            WriteTextFile(Install.filePath("Settings.ini"), settings);
    }

private slots:
    void initTestCase() {
        OldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Install.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(OldDir); }

    void colourText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<quint32>("color");
        QTest::newRow("decimal") << "65280" << true << 0x00FF00u;
        QTest::newRow("leading blanks") << "  255" << true << 0xFFu;
        QTest::newRow("dollar hex") << "$FF00" << true << 0xFF00u;
        QTest::newRow("x hex") << "x00ff00" << true << 0xFF00u;
        QTest::newRow("X hex") << "X00FF00" << true << 0xFF00u;
        QTest::newRow("0x hex") << "0xff0000" << true << 0xFF0000u;
        QTest::newRow("0X hex") << "0XFF" << true << 0xFFu;
        QTest::newRow("system colour in hex") << "$FF00000F" << true << 0xFF00000Fu;
        QTest::newRow("system colour negative") << "-16777201" << true << 0xFF00000Fu;
        QTest::newRow("all bits") << "0xFFFFFFFF" << true << 0xFFFFFFFFu;
        QTest::newRow("nine hex digits") << "$1FFFFFFFF" << false << 0u;
        QTest::newRow("name") << "clGreen" << false << 0u;
        QTest::newRow("bare prefix") << "$" << false << 0u;
        QTest::newRow("digits then junk") << "12ab" << false << 0u;
        QTest::newRow("empty") << "" << false << 0u;
    }
    void colourText() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(quint32, color);
        TColor parsed = 0x12345678;
        QCOMPARE(TryParseColorText(text, parsed), ok);
        if (ok)
            QCOMPARE(parsed, color);
    }

    void resolvesColours() {
        QCOMPARE(ResolveColor(0x00FF00), Green);
        QCOMPARE(ResolveColor(0x0000FF), Red);
        QCOMPARE(ResolveColor(0x123456), qRgb(0x56, 0x34, 0x12));
        // The top byte only matters when it is 0xFF.
        QCOMPARE(ResolveColor(0x0100FF00), Green);

        const QPalette old = QApplication::palette();
        QPalette palette = old;
        palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
        palette.setColor(QPalette::Active, QPalette::Highlight, QColor(4, 5, 6));
        QApplication::setPalette(palette);
        QCOMPARE(ResolveColor(0xFF00000F), qRgb(1, 2, 3)); // button face
        QCOMPARE(ResolveColor(0xFF00000D), qRgb(4, 5, 6)); // highlight
        QCOMPARE(ResolveColor(0xFF0000F0), White);         // no such system colour
        QApplication::setPalette(old);
    }

    void rowRunsAreExact() {
        const QImage image = picture({
            "..##.#", // two runs, the second touching the right edge
            "######", // no cut-out pixel: one run of the whole row
            "......", // only cut-out pixels: nothing
            "#....#", // runs at both edges
            ".#.#.#", // single pixels
        });
        const QList<QRect> runs = BitmapRowRuns(image, White, 10, 20);
        const QList<QRect> expected = {
            QRect(12, 20, 2, 1), QRect(15, 20, 1, 1), QRect(10, 21, 6, 1), QRect(10, 23, 1, 1),
            QRect(15, 23, 1, 1), QRect(11, 24, 1, 1), QRect(13, 24, 1, 1), QRect(15, 24, 1, 1),
        };
        QCOMPARE(runs, expected);

        // The colour is taken from the setting, not fixed to white.
        const QList<QRect> green = BitmapRowRuns(picture({"g..g", "gggg"}), Green, 0, 0);
        QCOMPARE(green, QList<QRect>({QRect(1, 0, 2, 1)}));
    }

    void alphaIsIgnoredAndFormatsConverted() {
        QImage image(3, 1, QImage::Format_ARGB32);
        image.setPixel(0, 0, qRgba(255, 255, 255, 0));   // see-through white: still white
        image.setPixel(1, 0, qRgba(255, 255, 255, 128)); // half white: still white
        image.setPixel(2, 0, qRgba(10, 20, 30, 0));
        QCOMPARE(BitmapRowRuns(image, White, 0, 0), QList<QRect>({QRect(2, 0, 1, 1)}));

        // A palette picture (as 8-bit BMP files load) is converted before scanning.
        const QImage source = picture({".#..##", "#....."});
        const QImage indexed = source.convertToFormat(QImage::Format_Indexed8);
        QCOMPARE(indexed.format(), QImage::Format_Indexed8);
        QCOMPARE(BitmapRowRuns(indexed, White, 0, 0), BitmapRowRuns(source, White, 0, 0));
        verifyShape(RegionFromBitmap(indexed, clWhite, 0, 0), source, White);
    }

    void cutOutPictureClearsOnlyTheColour() {
        QImage image = picture({".g#r", "gg.."}).convertToFormat(QImage::Format_ARGB32);
        image.setPixel(2, 0, qRgba(20, 40, 60, 0)); // alpha ignored: stays, and opaque
        const QImage cut = CutOutPicture(image, Green);
        verifyPainted(cut, picture({".g#r", "gg.."}), Green);
        verifyPainted(CutOutPicture(image, std::nullopt), picture({".g#r", "gg.."}), std::nullopt);
        QVERIFY(CutOutPicture(QImage(), White).isNull());
    }

    void regionMatchesPixels() {
        const QImage image = picture({
            "..rr..#.",
            "########",
            "........",
            "r#....#.",
        });
        verifyShape(RegionFromBitmap(image, clWhite, 0, 0), image, White);
        verifyShape(RegionFromBitmap(image, 0x0000FF, 0, 0), image, Red);
        QCOMPARE(RegionFromBitmap(image, clWhite, 5, 7).boundingRect(),
                 RegionFromBitmap(image, clWhite, 0, 0).boundingRect().translated(5, 7));

        QCOMPARE(RegionFromBitmap(picture({"....", "...."}), clWhite, 0, 0), QRegion());
        QCOMPARE(RegionFromBitmap(QImage(), clWhite, 0, 0), QRegion());
        const QImage solid = picture({"###", "###", "###"});
        QCOMPARE(RegionFromBitmap(solid, clWhite, 0, 0).boundingRect(), solid.rect());
        verifyShape(RegionFromBitmap(solid, clWhite, 0, 0), solid, White);
    }

    void regionAcrossBatches_data() {
        QTest::addColumn<int>("runsPerRow");
        QTest::addColumn<int>("rows");
        // Exactly one batch, two full batches, and batches with a remainder, including a
        // batch boundary in the middle of a row.
        QTest::newRow("one batch") << 100 << 20;
        QTest::newRow("two batches") << 100 << 40;
        QTest::newRow("remainder") << 100 << 41;
        QTest::newRow("boundary inside rows") << 75 << 61;
    }
    void regionAcrossBatches() {
        QFETCH(int, runsPerRow);
        QFETCH(int, rows);
        // Alternating ink and white, shifted on odd rows so no two rows have the same runs.
        QImage image(2 * runsPerRow + 1, rows, QImage::Format_RGB32);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, (x + y) % 2 == 0 ? Ink : White);
        int count = 0;
        for (int y = 0; y < rows; ++y)
            count += y % 2 == 0 ? runsPerRow + 1 : runsPerRow;
        QCOMPARE(int(BitmapRowRuns(image, White, 0, 0).size()), count);
        QVERIFY(count >= RegionBatchSize);
        verifyShape(RegionFromBitmap(image, clWhite, 0, 0), image, White);
    }

    void decodesTwentyFourBitPicturesAsTheReaderDoes() {
        // Odd widths (padded rows), one row, one column; stored bottom up as Qt writes them and
        // top down (negative height), and in other depths, which the reader handles.
        const QString file = Install.filePath("same.bmp");
        for (const QSize size : {QSize(5, 3), QSize(1, 1), QSize(7, 1), QSize(1, 6), QSize(64, 9)})
            for (const bool topDown : {false, true})
                for (const QImage::Format format :
                     {QImage::Format_RGB888, QImage::Format_Indexed8}) {
                    QImage image(size, QImage::Format_RGB32);
                    for (int y = 0; y < size.height(); ++y)
                        for (int x = 0; x < size.width(); ++x)
                            image.setPixel(x, y,
                                           qRgb(x * 37 % 256, y * 91 % 256, (x ^ y) * 13 % 256));
                    QByteArray bytes = bmpBytes(image.convertToFormat(format));
                    if (topDown) {
                        // The same pixels with the rows reversed and the height negated.
                        const qint32 height = -size.height();
                        std::memcpy(bytes.data() + 22, &height, 4);
                        const int offset = int(qFromLittleEndian<quint32>(bytes.constData() + 10));
                        const int bits = qFromLittleEndian<quint16>(bytes.constData() + 28);
                        const int row = (size.width() * bits + 31) / 32 * 4;
                        QByteArray rows = bytes.mid(offset);
                        for (int y = 0; y < size.height(); ++y)
                            bytes.replace(offset + y * row, row,
                                          rows.mid((size.height() - 1 - y) * row, row));
                    }
                    WriteTextFile(file, bytes);
                    QBuffer buffer(&bytes);
                    buffer.open(QIODevice::ReadOnly);
                    const QImage expected = QImageReader(&buffer, "bmp").read();
                    const QImage loaded = LoadSplashBitmap(file);
                    QVERIFY(!expected.isNull());
                    QCOMPARE(loaded.format(), expected.format());
                    QCOMPARE(loaded, expected);
                    if (format == QImage::Format_RGB888)
                        QCOMPARE(loaded, image);
                }
    }

    void loadsOnlyCompleteBitmaps() {
        const QImage image = picture({"#.#", ".#.", "###"}); // rows padded to 12 bytes
        const QByteArray good = bmpBytes(image);
        const QString file = Install.filePath("probe.bmp");

        WriteTextFile(file, good);
        const QImage loaded = LoadSplashBitmap(file);
        QCOMPARE(loaded.size(), image.size());
        QCOMPARE(loaded.pixel(1, 0), White);
        QCOMPARE(loaded.pixel(1, 1), Ink);

        QVERIFY(LoadSplashBitmap(Install.filePath("missing.bmp")).isNull());
        WriteTextFile(file, good.left(good.size() - 1));
        QVERIFY(LoadSplashBitmap(file).isNull());
        WriteTextFile(file, good.left(54));
        QVERIFY(LoadSplashBitmap(file).isNull());
        WriteTextFile(file, good.left(20));
        QVERIFY(LoadSplashBitmap(file).isNull());
        WriteTextFile(file, QByteArray());
        QVERIFY(LoadSplashBitmap(file).isNull());
        WriteTextFile(file, "this is not a picture at all, only some text in a file");
        QVERIFY(LoadSplashBitmap(file).isNull());

        // Headers that promise far more pixels than the file holds.
        QByteArray huge = good;
        const qint32 width = 40000;
        std::memcpy(huge.data() + 18, &width, 4);
        WriteTextFile(file, huge);
        QVERIFY(LoadSplashBitmap(file).isNull());

        // Another format under the expected name is not a splash bitmap.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        WriteTextFile(file, png);
        QVERIFY(LoadSplashBitmap(file).isNull());
    }

    void paintCutsTheConfiguredColour_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("cutOut"); // 0 none, 1 white, 2 green, 3 red
        QTest::newRow("no Settings.ini") << QByteArray() << 1;
        QTest::newRow("no key") << QByteArray("[Settings]\nApplicationTitle=X\n") << 1;
        QTest::newRow("NONE") << QByteArray("[Settings]\nSplashTransparentColor=NONE\n") << 0;
        QTest::newRow("none is not NONE")
            << QByteArray("[Settings]\nSplashTransparentColor=none\n") << 1;
        QTest::newRow("decimal green")
            << QByteArray("[Settings]\nSplashTransparentColor=65280\n") << 2;
        QTest::newRow("hex red") << QByteArray("[Settings]\nSplashTransparentColor=$0000FF\n") << 3;
        QTest::newRow("0x green") << QByteArray("[Settings]\nSplashTransparentColor=0x00FF00\n")
                                  << 2;
        QTest::newRow("not a number")
            << QByteArray("[Settings]\nSplashTransparentColor=green\n") << 1;
        QTest::newRow("other section")
            << QByteArray("[ActiveX]\nSplashTransparentColor=65280\n") << 1;
    }
    void paintCutsTheConfiguredColour() {
        QFETCH(QByteArray, settings);
        QFETCH(int, cutOut);
        const QImage image = picture({"..gg##", "rr##gg", "#..rr#"});
        writeInstall(image, settings);

        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(60000);
        QVERIFY(splash);
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->size(), image.size());
        splash->repaint();
        const QImage painted = splash->grab().toImage();
        if (cutOut == 0) {
            QCOMPARE(splash->mask(), QRegion());
            verifyPainted(painted, image, std::nullopt);
        } else {
            const QRgb colour = cutOut == 1 ? White : cutOut == 2 ? Green : Red;
            verifyShape(splash->mask(), image, colour);
            verifyPainted(painted, image, colour);
        }
        splash->close();
        QTRY_VERIFY(splash.isNull());
    }

    void shapeIsAppliedOnEveryPaint() {
        const QImage image = picture({"..##", "#..#"});
        writeInstall(image, QByteArray("[Settings]\nSplashTransparentColor=16777215\n"));
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(60000);
        QVERIFY(splash);
        verifyShape(splash->mask(), image, White); // shaped before it first appears
        splash->clearMask();
        splash->repaint();
        verifyShape(splash->mask(), image, White);
        QCOMPARE(splash->transparentColor(), clWhite);
        splash->close();
        QTRY_VERIFY(splash.isNull());
    }

    void windowLooksLikeASplash() {
        const QImage image = picture({"##", "##"}).scaled(120, 80);
        writeInstall(image, QByteArray());
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(60000);
        QVERIFY(splash);
        QCOMPARE(splash->windowTitle(), QStringLiteral("Splash Form"));
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(splash->size(), image.size());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(splash->geometry().center(), screen.center());
        splash->close();
        QTRY_VERIFY(splash.isNull());
    }

    void closesWhenItsTimeIsUp() {
        writeInstall(picture({"#.#"}), QByteArray());
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(50);
        QVERIFY(splash && splash->isVisible());
        QVERIFY(splash->splashTimer()->isActive());
        QCOMPARE(splash->splashTimer()->interval(), 50);
        QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    }

    void closesAtOnceOnClick() {
        writeInstall(picture({"###", "###"}).scaled(60, 40), QByteArray());
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(60000);
        QVERIFY(splash && splash->isVisible());
        QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(splash); // released once control returns to the event loop
        QVERIFY(!splash->isVisible());
        QVERIFY(!splash->splashTimer()->isActive());
        QTRY_VERIFY(splash.isNull());
    }

    void badPictureShowsNothingButStillGoesAway_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("present");
        const QByteArray good = bmpBytes(picture({"#.#", "###"}).scaled(30, 20));
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("truncated") << good.left(good.size() / 2) << true;
        QTest::newRow("not a picture") << QByteArray("[Settings]\nnot a bitmap\n") << true;
    }
    void badPictureShowsNothingButStillGoesAway() {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        writeInstall(QImage(), QByteArray());
        if (present)
            WriteTextFile(Install.filePath("splash.bmp"), content);
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(50);
        QVERIFY(splash);
        QVERIFY(splash->splashBitmap().isNull());
        QVERIFY(!splash->isVisible());
        QVERIFY(splash->splashTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    }

    void pictureOfOnlyTheCutOutColourIsNotShown() {
        writeInstall(picture({"....", "...."}), QByteArray());
        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(50);
        QVERIFY(splash);
        QVERIFY(!splash->splashBitmap().isNull());
        QVERIFY(!splash->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    }
};

// On a real X server the window's shape keeps the cut-out pixels off the screen, whatever the
// window painted there: the screen shows the picture and, where the colour was cut out, what
// lies under the splash.
class TSplashOnXTest : public QObject {
    Q_OBJECT

private:
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        OldDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Install.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(OldDir); }

    void screenShowsThePictureAndWhatLiesUnderTheCutOut_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("cutOut"); // 0 none, 1 white, 2 green
        QTest::newRow("white, by default") << QByteArray() << 1;
        QTest::newRow("green") << QByteArray("[Settings]\nSplashTransparentColor=65280\n") << 2;
        QTest::newRow("NONE") << QByteArray("[Settings]\nSplashTransparentColor=NONE\n") << 0;
    }
    void screenShowsThePictureAndWhatLiesUnderTheCutOut() {
        QFETCH(QByteArray, settings);
        QFETCH(int, cutOut);
        const QImage image = picture({"..gg##", "rr##gg", "#..rr#"}).scaled(240, 120);
        QFile::remove(Install.filePath("Settings.ini"));
        WriteTextFile(Install.filePath("splash.bmp"), bmpBytes(image));
        if (!settings.isEmpty())
            WriteTextFile(Install.filePath("Settings.ini"), settings);

        // A backdrop of a colour the picture has not, over the whole screen.
        const QRgb backdropColour = qRgb(30, 60, 200);
        QWidget backdrop(nullptr, Qt::FramelessWindowHint);
        QPalette palette = backdrop.palette();
        palette.setColor(QPalette::Window, QColor(backdropColour));
        backdrop.setPalette(palette);
        backdrop.setAutoFillBackground(true);
        backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));

        QPointer<TSplashForm> splash = TSplashForm::ShowSplash(60000);
        QVERIFY(splash);
        QVERIFY(QTest::qWaitForWindowExposed(splash));
        const QRgb key = cutOut == 1 ? White : Green;
        const auto mismatch = [&]() -> QString {
            const QImage shown =
                QGuiApplication::primaryScreen()
                    ->grabWindow(0, splash->x(), splash->y(), image.width(), image.height())
                    .toImage();
            if (shown.size() != image.size())
                return QStringLiteral("grabbed %1x%2").arg(shown.width()).arg(shown.height());
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb want = image.pixel(x, y) & RGB_MASK;
                    const QRgb expected =
                        cutOut && want == (key & RGB_MASK) ? (backdropColour & RGB_MASK) : want;
                    if ((shown.pixel(x, y) & RGB_MASK) != expected)
                        return QStringLiteral("pixel %1,%2 shows %3, not %4")
                            .arg(x)
                            .arg(y)
                            .arg(shown.pixel(x, y) & RGB_MASK, 6, 16, QLatin1Char('0'))
                            .arg(expected, 6, 16, QLatin1Char('0'));
                }
            return QString();
        };
        QTRY_COMPARE(mismatch(), QString());
        splash->close();
        QTRY_VERIFY(splash.isNull());
    }
};

int main(int argc, char** argv) {
    return RunWithCasesOnX<TSplashOnXTest, TSplashTest>(argc, argv);
}

#include "tst_splash.moc"
